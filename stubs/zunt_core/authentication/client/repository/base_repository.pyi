"""Base repository interface."""

from abc import ABC, abstractmethod
from abc import abstractmethod as abstractmethod
from uuid import UUID as UUID

from zunt_core.authentication.client.repository.models import ClientBasic as ClientBasic
from zunt_core.authentication.client.repository.models import ClientModel as ClientModel

class BaseRepository(ABC):
    """Base repository interface."""

    @abstractmethod
    def create_client(self, client: ClientBasic) -> ClientModel:
        """Create client."""

    @abstractmethod
    def get_client_by_id(self, client_id: UUID) -> ClientModel | None:
        """Get client by id."""
