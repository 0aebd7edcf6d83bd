"""SQLAlchemy user repository."""

from uuid import UUID as UUID

from sqlalchemy import orm

from zunt_core.authentication.database import SQLAlchemySQLDataStore as SQLAlchemySQLDataStore
from zunt_core.authentication.user.repository.base_repository import BaseRepository as BaseRepository
from zunt_core.authentication.user.repository.models import UserModel as UserModel
from zunt_core.authentication.user.repository.sqlalchemy.models import DBUser as DBUser

class SqlAlchemyUserRepository(BaseRepository):
    """SQLAlchemy user repository."""

    db: orm.scoped_session[orm.Session]
    def __init__(self, data_store: SQLAlchemySQLDataStore) -> None: ...
    def get_user(self, client_id: UUID, user_id: UUID) -> UserModel | None: ...
    def get_user_by_identifier(self, client_id: UUID, identifier: str) -> UserModel | None: ...
    def create_user(self, user: UserModel) -> UserModel: ...
