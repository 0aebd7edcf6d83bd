"""Authentication modules."""

from zunt_core.authentication.config import AuthenticationDbSettings as AuthenticationDbSettings
from zunt_core.authentication.provider import init_auth_services as init_auth_services

__all__ = ["init_auth_services", "AuthenticationDbSettings"]
