"""Security Module for Auth."""

from zunt_core.authentication.security import argon2 as argon2
from zunt_core.authentication.security import hash as hash
from zunt_core.authentication.security.argon2 import Argon2PasswordHashService as Argon2PasswordHashService
from zunt_core.authentication.security.hash import PasswordHashService as PasswordHashService

__all__ = ["PasswordHashService", "Argon2PasswordHashService"]
