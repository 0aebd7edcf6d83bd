"""Revoke token service."""

from uuid import UUID as UUID

from jose import jwt as jwt
from jose.exceptions import JWTClaimsError as JWTClaimsError

from zunt_core.authentication.client.service.client_aware_service import ClientAwareService as ClientAwareService
from zunt_core.authentication.config import AuthenticationDbSettings as AuthenticationDbSettings
from zunt_core.authentication.token.repository.base_repository import BaseRepository as BaseRepository

class RevokeTokenService:
    """Revokes access tokens."""

    token_repository: BaseRepository
    client_aware_service: ClientAwareService
    def __init__(self, token_repository: BaseRepository, client_aware_service: ClientAwareService) -> None: ...
    def revoke_token(self, api_key: str, access_token: str) -> bool: ...
