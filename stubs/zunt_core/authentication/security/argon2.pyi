"""Argon2 Password Hash Service."""

from argon2 import PasswordHasher as PasswordHasher
from argon2 import Type as Type

from zunt_core.authentication.security.hash import PasswordHashService

class Argon2PasswordHashService(PasswordHashService):
    """Argon2 Password Hash Service."""

    def hash(self, password: str) -> str: ...
    def verify(self, password: str, hashed_password: str) -> bool: ...
