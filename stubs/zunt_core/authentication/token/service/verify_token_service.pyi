"""Verify token service."""

from datetime import datetime as datetime
from datetime import timezone as timezone
from uuid import UUID as UUID

from jose import ExpiredSignatureError as ExpiredSignatureError
from jose import JWTError as JWTError
from jose import jwt as jwt
from jose.exceptions import JWTClaimsError as JWTClaimsError

from zunt_core.authentication.client.service.client_aware_service import ClientAwareService as ClientAwareService
from zunt_core.authentication.config import AuthenticationDbSettings as AuthenticationDbSettings
from zunt_core.authentication.token.repository.base_repository import BaseRepository as BaseRepository
from zunt_core.exception import UnauthorizedException as UnauthorizedException

class VerifyTokenService:
    """Checks access tokens."""

    token_repository: BaseRepository
    client_aware_service: ClientAwareService
    def __init__(self, token_repository: BaseRepository, client_aware_service: ClientAwareService) -> None: ...
    def verify_token_and_get_user_id(self, api_key: str, access_token: str) -> UUID: ...
