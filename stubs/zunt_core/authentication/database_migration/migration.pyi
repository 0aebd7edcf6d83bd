"""Database migration."""

import logging as logging

from sqlalchemy.engine import Engine

from zunt_core.authentication.database_migration.migration_versions.V1_init_table_auth import (
    V1initTableAuth as V1initTableAuth,
)
from zunt_core.authentication.database_migration.migration_versions.V2_multi_account_integration import (
    V2multiAccountIntegration as V2multiAccountIntegration,
)
from zunt_core.authentication.database_migration.migration_versions.V3_add_integration_indexes import (
    V3AddIntegrationIndexes as V3AddIntegrationIndexes,
)

def run_migrations(engine: Engine, current_version: int = 0) -> None: ...
