"""Authenticate user service."""

from zunt_core.authentication.config import AuthenticationDbSettings as AuthenticationDbSettings
from zunt_core.authentication.security.hash import PasswordHashService
from zunt_core.authentication.token.repository.models import TokenComplete as TokenComplete
from zunt_core.authentication.token.service.create_token_service import CreateTokenService as CreateTokenService
from zunt_core.authentication.user.helper.helper import UserHelper as UserHelper
from zunt_core.authentication.user.service.get_user_service import GetUserService as GetUserService
from zunt_core.exception import UnauthorizedException as UnauthorizedException

class AuthenticateUserService:
    """Logs users in."""

    user_service: GetUserService
    create_token_service: CreateTokenService
    user_helper: UserHelper
    hash_service: PasswordHashService
    def __init__(self, create_token_service: CreateTokenService, user_service: GetUserService) -> None: ...
    def authenticate_user(self, api_key: str, identifier: str, secret: str) -> TokenComplete: ...
