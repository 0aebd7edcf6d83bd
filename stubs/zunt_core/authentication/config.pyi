"""Authentication settings."""

import os as os
from typing import Any, ClassVar, Self

from zunt_core.authentication.security.argon2 import Argon2PasswordHashService as Argon2PasswordHashService
from zunt_core.authentication.security.hash import PasswordHashService as PasswordHashService

class AuthenticationDbSettings:
    """Authentication Database Connection Settings."""

    _instance: ClassVar[AuthenticationDbSettings | None]
    database_authentication_url: str
    auth_secret_key: str
    auth_algorithm: str
    auth_access_token_expire_minutes: int
    password_hash_service: PasswordHashService
    def __new__(cls, **kwargs: Any) -> Self: ...
    def __init__(
        self,
        *,
        database_authentication_url: str | None = None,
        auth_secret_key: str | None = None,
        auth_algorithm: str | None = None,
        auth_access_token_expire_minutes: int | None = None,
    ) -> None: ...
