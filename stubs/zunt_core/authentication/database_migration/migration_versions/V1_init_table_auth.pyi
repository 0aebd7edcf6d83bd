"""Create initial tables for authentication."""

import logging as logging
import uuid as uuid
from datetime import datetime as datetime
from typing import Any, ClassVar

import sqlalchemy as sqlalchemy
from alembic.migration import MigrationContext as MigrationContext
from alembic.operations import Operations as Operations

from zunt_core.authentication.database_migration.base_migration import DbMigration as DbMigration

class V1initTableAuth(DbMigration):
    version: ClassVar[int]
    description: ClassVar[str]
    def migrate(self, engine: Any) -> None: ...
