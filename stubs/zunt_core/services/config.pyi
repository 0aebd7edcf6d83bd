"""Configuration service for accessing environment variables."""

import os as os
from typing import Optional, Type, TypeVar
from typing import cast as cast

U = TypeVar("U")

class ConfigService:
    """Service for accessing environment variables with type conversion."""

    @staticmethod
    def get_string(key: str, default: Optional[str] = None) -> Optional[str]: ...
    @staticmethod
    def get_int(key: str, default: Optional[int] = None) -> Optional[int]: ...
    @staticmethod
    def get_float(key: str, default: Optional[float] = None) -> Optional[float]: ...
    @staticmethod
    def get_bool(key: str, default: Optional[bool] = None) -> Optional[bool]: ...
    @staticmethod
    def get_list(key: str, separator: str = ",", default: Optional[list[str]] = None) -> Optional[list[str]]: ...
    @staticmethod
    def require(key: str) -> str: ...
    @staticmethod
    def require_as(key: str, type_: Type[U]) -> U: ...
