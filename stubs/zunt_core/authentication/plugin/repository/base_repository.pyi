"""Third-party integration repository interface."""

from abc import ABC, abstractmethod
from abc import abstractmethod as abstractmethod
from uuid import UUID as UUID

from zunt_core.authentication.plugin.repository.models import ThirdPartyIntegrationAuth as ThirdPartyIntegrationAuth

class BaseRepository(ABC):
    """Third-party integration repository interface."""

    @abstractmethod
    def has_integration(self, client_id: UUID, user_id: UUID, connector: str) -> bool: ...
    @abstractmethod
    def get_integration(
        self, client_id: UUID, user_id: UUID, connector: str, user_identifier: str
    ) -> ThirdPartyIntegrationAuth | None: ...
    @abstractmethod
    def get_selected_integration(
        self, client_id: UUID, user_id: UUID, connector: str
    ) -> ThirdPartyIntegrationAuth | None: ...
    @abstractmethod
    def get_latest_created_integration(
        self, client_id: UUID, user_id: UUID, connector: str
    ) -> ThirdPartyIntegrationAuth | None: ...
    @abstractmethod
    def get_integrations(self, client_id: UUID, user_id: UUID) -> list[ThirdPartyIntegrationAuth]: ...
    @abstractmethod
    def create_integration(self, integration: ThirdPartyIntegrationAuth) -> ThirdPartyIntegrationAuth: ...
    @abstractmethod
    def update_integration(self, integration: ThirdPartyIntegrationAuth) -> ThirdPartyIntegrationAuth | None: ...
    @abstractmethod
    def delete_integration(self, client_id: UUID, user_id: UUID, connector: str, user_identifier: str) -> None: ...
    @abstractmethod
    def get_integrations_by_connector(self, connector: str) -> list[ThirdPartyIntegrationAuth]: ...
    @abstractmethod
    def delete_integrations(self, integration_ids: list[UUID]) -> None: ...
