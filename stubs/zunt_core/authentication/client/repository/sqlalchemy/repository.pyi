"""SQLAlchemy client repository."""

import logging as logging
from uuid import UUID as UUID

from sqlalchemy import orm

from zunt_core.authentication.client.repository.base_repository import BaseRepository as BaseRepository
from zunt_core.authentication.client.repository.models import ClientBasic as ClientBasic
from zunt_core.authentication.client.repository.models import ClientModel as ClientModel
from zunt_core.authentication.client.repository.sqlalchemy.models import DBClient as DBClient
from zunt_core.authentication.database import SQLAlchemySQLDataStore as SQLAlchemySQLDataStore

class SqlAlchemyClientRepository(BaseRepository):
    """SQLAlchemy client repository."""

    db: orm.scoped_session[orm.Session]
    def __init__(self, data_store: SQLAlchemySQLDataStore) -> None: ...
    def create_client(self, client: ClientBasic) -> ClientModel: ...
    def get_client_by_id(self, client_id: UUID) -> ClientModel | None: ...
