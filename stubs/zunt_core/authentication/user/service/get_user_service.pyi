"""Get user service."""

from uuid import UUID as UUID

from zunt_core.authentication.client.service.client_aware_service import ClientAwareService as ClientAwareService
from zunt_core.authentication.plugin.repository.models import (
    ThirdPartyIntegrationAuthBasic as ThirdPartyIntegrationAuthBasic,
)
from zunt_core.authentication.plugin.service.third_party_integration_service import (
    ThirdPartyIntegrationService as ThirdPartyIntegrationService,
)
from zunt_core.authentication.user.repository.base_repository import BaseRepository as BaseRepository
from zunt_core.authentication.user.repository.models import UserComplete as UserComplete
from zunt_core.authentication.user.repository.models import UserModel as UserModel

class GetUserService:
    """Finds users of the calling client."""

    client_aware_service: ClientAwareService
    user_repository: BaseRepository
    third_party_integration_service: ThirdPartyIntegrationService
    def __init__(
        self,
        user_repository: BaseRepository,
        client_aware_service: ClientAwareService,
        third_party_integration_service: ThirdPartyIntegrationService,
    ) -> None: ...
    def get_user(self, api_key: str, user_id: UUID) -> UserModel | None: ...
    def get_user_by_client_id(self, client_id: UUID, user_id: UUID) -> UserModel | None: ...
    def get_user_by_identifier(self, api_key: str, identifier: str) -> UserModel | None: ...
    def get_user_complete(self, api_key: str, user_id: UUID) -> UserComplete | None: ...
