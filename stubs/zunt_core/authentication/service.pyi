"""Authentication services, published by init_auth_services."""

from collections.abc import Mapping as Mapping
from typing import Any as Any

from zunt_core.authentication.client.service import ClientAwareService, CreateClientService, VerifyClientService
from zunt_core.authentication.plugin.service import ThirdPartyIntegrationService
from zunt_core.authentication.token.service import CreateTokenService, RevokeTokenService, VerifyTokenService
from zunt_core.authentication.user.service import AuthenticateUserService, CreateUserService, GetUserService

_initialized: bool
create_client_service: CreateClientService | None
client_aware_service: ClientAwareService | None
verify_client_service: VerifyClientService | None
create_user_service: CreateUserService | None
get_user_service: GetUserService | None
authenticate_user_service: AuthenticateUserService | None
create_token_service: CreateTokenService | None
verify_token_service: VerifyTokenService | None
revoke_token_service: RevokeTokenService | None
third_party_integration_service: ThirdPartyIntegrationService | None

def set_services(services_dict: Mapping[str, Any], initialized: bool = True) -> None: ...
