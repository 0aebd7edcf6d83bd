import inspect
import os
import subprocess
import sys

import pytest

import zunt_core.services
import zunt_core.services.config as config_module
from zunt_core.services.config import ConfigService

KEY = "ZUNT_TEST_CONFIG_VALUE"


@pytest.fixture
def env(monkeypatch):
    monkeypatch.delenv(KEY, raising=False)

    def set_value(value):
        monkeypatch.setenv(KEY, value)

    return set_value


def test_module_surface():
    assert config_module.__doc__ == "Configuration service for accessing environment variables."
    assert config_module.U.__name__ == "U"
    assert config_module.U.__bound__ is None and config_module.U.__constraints__ == ()
    assert config_module.os is os
    assert ConfigService.__doc__ == "Service for accessing environment variables with type conversion."
    assert ConfigService.__bases__ == (object,)
    assert zunt_core.services.ConfigService is ConfigService
    assert zunt_core.services.__all__ == ["ConfigService"]
    assert zunt_core.services.__doc__ == "Services module for ZUNT Core."
    names = [k for k, v in vars(ConfigService).items() if isinstance(v, staticmethod)]
    assert names == ["get_string", "get_int", "get_float", "get_bool", "get_list", "require", "require_as"]


@pytest.mark.parametrize(
    "name, signature",
    [
        ("get_string", "(key: str, default: Optional[str] = None) -> Optional[str]"),
        ("get_int", "(key: str, default: Optional[int] = None) -> Optional[int]"),
        ("get_float", "(key: str, default: Optional[float] = None) -> Optional[float]"),
        ("get_bool", "(key: str, default: Optional[bool] = None) -> Optional[bool]"),
        ("get_list",
         "(key: str, separator: str = ',', default: Optional[list[str]] = None) -> Optional[list[str]]"),
        ("require", "(key: str) -> str"),
        ("require_as", "(key: str, type_: Type[~U]) -> ~U"),
    ],
)
def test_signatures(name, signature):
    assert str(inspect.signature(getattr(ConfigService, name))) == signature


@pytest.mark.parametrize("getter", ["get_string", "get_int", "get_float", "get_bool"])
def test_unset_gives_default(env, getter):
    fn = getattr(ConfigService, getter)
    assert fn(KEY) is None
    marker = object()
    assert fn(KEY, marker) is marker
    assert fn(KEY, default=marker) is marker


def test_unset_list_gives_default(env):
    assert ConfigService.get_list(KEY) is None
    assert ConfigService.get_list(KEY, default=["x"]) == ["x"]


@pytest.mark.parametrize("fn", [ConfigService.require, lambda k: ConfigService.require_as(k, int)])
def test_unset_required(env, fn):
    with pytest.raises(ValueError) as info:
        fn(KEY)
    assert str(info.value) == f"Required environment variable {KEY} is not set"
    assert info.value.__cause__ is None


def test_empty_text(env):
    env("")
    assert ConfigService.get_string(KEY, "d") == ""
    assert ConfigService.require(KEY) == ""
    assert ConfigService.get_int(KEY, 3) == 3
    assert ConfigService.get_float(KEY, 1.5) == 1.5
    assert ConfigService.get_bool(KEY, True) is True
    assert ConfigService.get_list(KEY) == [""]
    for type_ in (int, bool):
        with pytest.raises(ValueError, match=f"^Environment variable {KEY} cannot be converted to {type_.__name__}$"):
            ConfigService.require_as(KEY, type_)


@pytest.mark.parametrize(
    "text, default, expected",
    [(" 42 ", None, 42), ("-7", None, -7), ("1_000", None, 1000), ("4.2", 9, 9), ("0x10", None, None),
     ("abc", "d", "d")],
)
def test_get_int(env, text, default, expected):
    env(text)
    assert ConfigService.get_int(KEY, default) == expected


def test_get_int_default_is_not_converted(env):
    assert ConfigService.get_int(KEY, "not an int") == "not an int"


@pytest.mark.parametrize(
    "text, expected", [(" 2.5 ", 2.5), ("1e3", 1000.0), ("inf", float("inf")), ("-Infinity", float("-inf")),
                       ("x", None)]
)
def test_get_float(env, text, expected):
    env(text)
    assert ConfigService.get_float(KEY) == expected


def test_get_float_nan(env):
    env("nan")
    value = ConfigService.get_float(KEY)
    assert value != value


@pytest.mark.parametrize(
    "text, expected",
    [("true", True), ("TRUE", True), ("Yes", True), ("1", True), ("On", True),
     ("false", False), ("OFF", False), ("No", False), ("0", False), ("off", False),
     (" true", "d"), ("true ", "d"), ("y", "d"), ("n", "d"), ("t", "d"), ("f", "d"), ("2", "d"), ("", "d")],
)
def test_get_bool(env, text, expected):
    env(text)
    assert ConfigService.get_bool(KEY, "d") == expected


@pytest.mark.parametrize(
    "text, separator, expected",
    [(" a , b ,c", ",", ["a", "b", "c"]), ("a,,b", ",", ["a", "", "b"]), ("a,", ",", ["a", ""]),
     ("single", ",", ["single"]), ("a,b; c", ";", ["a,b", "c"]), ("a::b:c", "::", ["a", "b:c"]),
     (" a  b ", None, ["a", "b"])],
)
def test_get_list(env, text, separator, expected):
    env(text)
    assert ConfigService.get_list(KEY, separator) == expected


def test_get_list_empty_separator_is_the_hosts_error(env):
    env("a")
    with pytest.raises(ValueError, match="empty separator"):
        ConfigService.get_list(KEY, "")


@pytest.mark.parametrize(
    "text, expected",
    [("true", True), ("YES", True), ("on", True), ("1", True), ("false", False), ("No", False), ("0", False),
     ("OFF", False)],
)
def test_require_as_bool(env, text, expected):
    env(text)
    assert ConfigService.require_as(KEY, bool) is expected


def test_require_as_bool_rejects_other_words(env):
    env("maybe")
    with pytest.raises(ValueError) as info:
        ConfigService.require_as(KEY, bool)
    assert str(info.value) == f"Environment variable {KEY} cannot be converted to bool"
    cause = info.value.__cause__
    assert type(cause) is ValueError and cause.args == ()
    assert info.value.__suppress_context__


def test_require_as_conversions(env):
    env("12x")
    with pytest.raises(ValueError) as info:
        ConfigService.require_as(KEY, int)
    assert str(info.value) == f"Environment variable {KEY} cannot be converted to int"
    assert str(info.value.__cause__) == "invalid literal for int() with base 10: '12x'"
    env(" 12 ")
    assert ConfigService.require_as(KEY, int) == 12
    assert ConfigService.require_as(KEY, float) == 12.0
    assert ConfigService.require_as(KEY, str) == " 12 "


def test_require_as_lets_other_errors_through(env):
    class NeedsTwo:
        def __init__(self, a, b):
            pass

    env("x")
    with pytest.raises(TypeError) as info:
        ConfigService.require_as(KEY, NeedsTwo)
    assert info.value.__cause__ is None


def test_require_as_names_the_modules_own_class(env, monkeypatch):
    class Patched(ConfigService):
        @staticmethod
        def require(key):
            return "patched"

        @staticmethod
        def get_bool(key, default=None):
            return "patched"

    env("yes")
    assert Patched.require_as(KEY, str) == "yes"
    assert Patched.require_as(KEY, bool) is True
    # Replacing the module's name changes what it calls, as for a Python module.
    monkeypatch.setattr(config_module, "ConfigService", Patched)
    assert ConfigService.require_as(KEY, str) == "patched"


def test_reads_the_environment_afresh(env):
    env("1")
    assert ConfigService.get_int(KEY) == 1
    env("2")
    assert ConfigService.get_int(KEY) == 2


def test_non_text_key_is_the_hosts_type_error():
    for fn in (ConfigService.get_string, ConfigService.get_bool, ConfigService.require):
        with pytest.raises(TypeError):
            fn(1)


def test_class_and_instance_agree(env):
    env("on")
    service = ConfigService()
    for name in ("get_string", "get_int", "get_float", "get_bool", "get_list", "require"):
        assert getattr(service, name)(KEY) == getattr(ConfigService, name)(KEY)
    assert service.require_as(KEY, bool) is ConfigService.require_as(KEY, bool)


def test_undecodable_values_compare_without_error(env):
    # os.environ keeps undecodable bytes as lone surrogates.
    os.environb[KEY.encode()] = b"\xff"
    assert ConfigService.get_bool(KEY, "d") == "d"
    assert ConfigService.get_string(KEY) == "\udcff"
