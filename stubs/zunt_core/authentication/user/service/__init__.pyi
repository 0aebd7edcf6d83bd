"""User related services."""

from zunt_core.authentication.user.service import authentication_service as authentication_service
from zunt_core.authentication.user.service import create_user_service as create_user_service
from zunt_core.authentication.user.service import get_user_service as get_user_service
from zunt_core.authentication.user.service.authentication_service import (
    AuthenticateUserService as AuthenticateUserService,
)
from zunt_core.authentication.user.service.create_user_service import CreateUserService as CreateUserService
from zunt_core.authentication.user.service.get_user_service import GetUserService as GetUserService

__all__ = ["AuthenticateUserService", "CreateUserService", "GetUserService"]
