"""User repository interface."""

from abc import ABC, abstractmethod
from abc import abstractmethod as abstractmethod
from uuid import UUID as UUID

from zunt_core.authentication.user.repository.models import UserModel as UserModel

class BaseRepository(ABC):
    """User repository interface."""

    @abstractmethod
    def get_user(self, client_id: UUID, user_id: UUID) -> UserModel | None: ...
    @abstractmethod
    def get_user_by_identifier(self, client_id: UUID, identifier: str) -> UserModel | None: ...
    @abstractmethod
    def create_user(self, user: UserModel) -> UserModel: ...
