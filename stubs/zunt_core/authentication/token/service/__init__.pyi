"""Token related services."""

from zunt_core.authentication.token.service import create_token_service as create_token_service
from zunt_core.authentication.token.service import revoke_token_service as revoke_token_service
from zunt_core.authentication.token.service import verify_token_service as verify_token_service
from zunt_core.authentication.token.service.create_token_service import CreateTokenService as CreateTokenService
from zunt_core.authentication.token.service.revoke_token_service import RevokeTokenService as RevokeTokenService
from zunt_core.authentication.token.service.verify_token_service import VerifyTokenService as VerifyTokenService

__all__ = ["CreateTokenService", "RevokeTokenService", "VerifyTokenService"]
