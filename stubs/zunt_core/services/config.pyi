"""Configuration service for accessing environment variables."""

import os as os
from typing import Optional, Type, TypeVar, overload
from typing import cast as cast

U = TypeVar("U")

# Each getter with a default answers that default's type when one is given,
# and an optional value when it is not.
class ConfigService:
    """Service for accessing environment variables with type conversion."""

    @overload
    @staticmethod
    def get_string(key: str, default: None = None) -> Optional[str]: ...
    @overload
    @staticmethod
    def get_string(key: str, default: str) -> str: ...
    @overload
    @staticmethod
    def get_int(key: str, default: None = None) -> Optional[int]: ...
    @overload
    @staticmethod
    def get_int(key: str, default: int) -> int: ...
    @overload
    @staticmethod
    def get_float(key: str, default: None = None) -> Optional[float]: ...
    @overload
    @staticmethod
    def get_float(key: str, default: float) -> float: ...
    @overload
    @staticmethod
    def get_bool(key: str, default: None = None) -> Optional[bool]: ...
    @overload
    @staticmethod
    def get_bool(key: str, default: bool) -> bool: ...
    @overload
    @staticmethod
    def get_list(key: str, separator: str = ",", default: None = None) -> Optional[list[str]]: ...
    @overload
    @staticmethod
    def get_list(key: str, separator: str, default: list[str]) -> list[str]: ...
    @overload
    @staticmethod
    def get_list(key: str, separator: str = ",", *, default: list[str]) -> list[str]: ...
    @staticmethod
    def require(key: str) -> str: ...
    @staticmethod
    def require_as(key: str, type_: Type[U]) -> U: ...
