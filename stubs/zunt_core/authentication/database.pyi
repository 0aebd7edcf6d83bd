"""Database adapter."""

import logging as logging
from datetime import datetime as datetime
from typing import Any, ClassVar, Union

import sqlalchemy as sqlalchemy
from alembic.migration import MigrationContext as MigrationContext
from alembic.operations import Operations as Operations
from sqlalchemy import orm as orm
from sqlalchemy import text as text
from sqlalchemy.engine import Engine as Engine
from sqlalchemy.engine import Row

from zunt_core.authentication.database_migration.migration import run_migrations as run_migrations

class SQLAlchemySQLDataStore:
    """The handle the SQL repositories are built on: the session registry and the engine of the database adapter."""

    db: orm.scoped_session[orm.Session]
    engine: Engine
    def __init__(
        self,
        engine_or_url: Engine | str,
        pool_size: int = 10,
        max_overflow: int = 10,
        autoflush: bool = True,
        **kwargs: Any,
    ) -> None: ...

class DatabaseAdapter:
    """The process-wide database engine, per-thread session registry and declarative base."""

    engine: ClassVar[Engine | None]
    db: ClassVar[orm.scoped_session[orm.Session] | None]
    base: ClassVar[Any]
    @classmethod
    def initialize(
        cls,
        engine_or_url: Union[Engine, str],
        pool_size: int = 10,
        max_overflow: int = 10,
        autocommit: bool = False,
        autoflush: bool = True,
    ) -> None: ...
    @classmethod
    def has_table(cls, table_name: str) -> bool: ...

def initialize_authentication_db(data_store: SQLAlchemySQLDataStore) -> None: ...
def _create_versioning_table(db_engine: Engine) -> None: ...
def _get_versions(db_engine: Engine) -> Row[Any] | None: ...
