"""SQLAlchemy token repository."""

from uuid import UUID as UUID

from sqlalchemy import orm

from zunt_core.authentication.database import SQLAlchemySQLDataStore as SQLAlchemySQLDataStore
from zunt_core.authentication.token.repository.base_repository import BaseRepository as BaseRepository
from zunt_core.authentication.token.repository.models import Token as Token
from zunt_core.authentication.token.repository.sqlalchemy.models import DBToken as DBToken

class SqlAlchemyTokenRepository(BaseRepository):
    """SQLAlchemy token repository."""

    db: orm.scoped_session[orm.Session]
    def __init__(self, data_store: SQLAlchemySQLDataStore) -> None: ...
    def get_token(self, client_id: UUID, user_id: UUID, token_id: UUID) -> Token | None: ...
    def create_token(self, token: Token) -> None: ...
    def revoke_token(self, client_id: UUID, user_id: UUID, token_id: UUID) -> bool: ...
