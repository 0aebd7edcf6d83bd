"""Token repository interface."""

from abc import ABC, abstractmethod
from abc import abstractmethod as abstractmethod
from uuid import UUID as UUID

from zunt_core.authentication.token.repository.models import Token as Token

class BaseRepository(ABC):
    """Token repository interface."""

    @abstractmethod
    def get_token(self, client_id: UUID, user_id: UUID, token_id: UUID) -> Token | None: ...
    @abstractmethod
    def create_token(self, token: Token) -> None: ...
    @abstractmethod
    def revoke_token(self, client_id: UUID, user_id: UUID, token_id: UUID) -> bool: ...
