"""Base exception."""

from typing import Any

class ZuntException(Exception):
    """Base exception."""

    status_code: int
    extra_info: dict[Any, Any] | None
    def __init__(self, message: str, *, status_code: int, extra_info: dict[Any, Any] | None = None) -> None: ...

class UninitializedException(ZuntException):
    """Exception raised when database adapter is not initialized."""

    def __init__(self, message: str = ...) -> None: ...

class UnauthorizedException(ZuntException):
    """Exception raised when user is unauthorized."""

    def __init__(self, message: str = ...) -> None: ...

class InvalidClientException(ZuntException):
    """Exception raised when client is invalid."""

    def __init__(self, message: str = ...) -> None: ...

class UserAlreadyExistsException(ZuntException):
    """Exception raised when user already exists."""

    def __init__(self, message: str = ...) -> None: ...

class NotFoundException(ZuntException):
    """Exception raised when a resource is not found."""

    def __init__(self, message: str = ...) -> None: ...
