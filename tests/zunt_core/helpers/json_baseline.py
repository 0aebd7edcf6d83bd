"""Straightforward pure-Python versions of the JSON tree helpers: the reference
that the tests compare the native ones with (json_reference.py), and the
yardstick of bench/bench_json.py."""

import re
from datetime import datetime
from typing import Any, List

from pydantic import BaseModel


def filter_json(data: Any, fields: List[str]) -> Any:
    if not fields:
        return data
    if isinstance(data, list):
        return [filter_json(item, fields) for item in data]
    if not isinstance(data, dict) and not hasattr(data, "__dict__"):
        return data
    result = {}
    bases = {}
    for field in fields:
        bases[field.split(".")[0]] = None
    for base in bases:
        if base in fields:
            value = get_value(data, base)
            if value is not None or has_value(data, base):
                result[base] = value
            continue
        related = [f for f in fields if f.startswith(base + ".")]
        value = get_value(data, base)
        if value is None and not has_value(data, base):
            continue
        if isinstance(value, list):
            items = [r for r in (_record(item, related) for item in value) if r]
            if items:
                result[base] = items
        else:
            record = _record(value, related)
            if record:
                result[base] = record
    return result


def _record(source, related):
    record = {}
    for field in related:
        keys = field.split(".")[1:]
        current = source
        found = True
        for key in keys[:-1]:
            if not has_value(current, key):
                found = False
                break
            current = get_value(current, key)
        if found and has_value(current, keys[-1]):
            target = record
            for key in keys[:-1]:
                if key not in target:
                    target[key] = {}
                target = target[key]
            target[keys[-1]] = get_value(current, keys[-1])
    return record


def convert_keys_to_snake_case(data: Any) -> Any:
    if isinstance(data, dict):
        return {camel_to_snake_case(k): convert_keys_to_snake_case(v) for k, v in data.copy().items()}
    if isinstance(data, list):
        return [convert_keys_to_snake_case(item) for item in data.copy()]
    return data


def get_value(obj: Any, key: str) -> Any:
    if isinstance(obj, dict):
        return obj.get(key)
    return getattr(obj, key, None)


def has_value(obj: Any, key: str) -> bool:
    if isinstance(obj, dict):
        return key in obj
    return hasattr(obj, key)


def merge_dicts(d1: dict, d2: dict) -> dict:
    result = d1.copy()
    for k, v in d2.items():
        if k in result and isinstance(result[k], dict) and isinstance(v, dict):
            result[k] = merge_dicts(result[k], v)
        else:
            result[k] = v
    return result


def get_value_by_path(data: Any, path: List[str]) -> Any:
    current = data
    for part in path:
        if isinstance(current, dict):
            if part not in current:
                return None
            current = current[part]
        elif isinstance(current, list):
            current = [item[part] for item in current if isinstance(item, dict) and part in item] or None
        else:
            return None
    return current


def set_value_by_path(target: dict, path: List[str], value: Any) -> None:
    current = target
    for part in path[:-1]:
        if part not in current:
            current[part] = {}
        current = current[part]
    current[path[-1]] = value


def to_dict(obj: Any) -> Any:
    if obj is None:
        return None
    if isinstance(obj, (str, int, float, bool)):
        return obj
    if isinstance(obj, (list, tuple)):
        return [to_dict(item) for item in obj]
    if isinstance(obj, dict):
        return {k: to_dict(v) for k, v in obj.items()}
    if isinstance(obj, datetime):
        return obj.isoformat()
    if isinstance(obj, BaseModel):
        return to_dict(obj.model_dump())
    if hasattr(obj, "__dict__") and obj.__dict__:
        return to_dict(obj.__dict__)
    return str(obj)


def camel_to_snake_case(text: str) -> str:
    text = re.sub("(.)([A-Z][a-z]+)", r"\1_\2", text)
    return re.sub("([a-z0-9])([A-Z])", r"\1_\2", text).lower()
