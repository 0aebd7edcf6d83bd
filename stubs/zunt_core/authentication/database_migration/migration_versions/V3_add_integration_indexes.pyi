"""Add composite indexes for authentication queries optimization."""

import logging as logging
from typing import ClassVar

import sqlalchemy as sqlalchemy
from alembic.migration import MigrationContext as MigrationContext
from alembic.operations import Operations as Operations

from zunt_core.authentication.database_migration.base_migration import DbMigration as DbMigration

class V3AddIntegrationIndexes(DbMigration):
    version: ClassVar[int]
    description: ClassVar[str]
    def migrate(self, engine: sqlalchemy.Engine) -> None: ...
    def _add_integration_auth_indexes(self, ops: Operations, inspector: sqlalchemy.Inspector) -> None: ...
    def _add_token_indexes(self, ops: Operations, inspector: sqlalchemy.Inspector) -> None: ...
    def _add_user_indexes(self, ops: Operations, inspector: sqlalchemy.Inspector) -> None: ...
    def _get_table_indexes(self, inspector: sqlalchemy.Inspector, table_name: str) -> set[str]: ...
