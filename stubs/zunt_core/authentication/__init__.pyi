"""Authentication modules."""

from zunt_core.authentication.config import AuthenticationDbSettings as AuthenticationDbSettings

__all__ = ["AuthenticationDbSettings"]
