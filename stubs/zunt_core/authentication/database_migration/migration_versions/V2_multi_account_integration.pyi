"""Multi Account Integration."""

import logging as logging
from typing import ClassVar

import sqlalchemy as sqlalchemy
from alembic.migration import MigrationContext as MigrationContext
from alembic.operations import Operations as Operations

from zunt_core.authentication.database_migration.base_migration import DbMigration as DbMigration

class V2multiAccountIntegration(DbMigration):
    version: ClassVar[int]
    description: ClassVar[str]
    def migrate(self, engine: sqlalchemy.Engine) -> None: ...
    def _table_has_unique_constraint(
        self, inspector: sqlalchemy.Inspector, table_name: str, constraint_name: str
    ) -> bool: ...
