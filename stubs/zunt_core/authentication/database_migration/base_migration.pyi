"""base class DB migration."""

import logging as logging
from abc import ABC, abstractmethod
from abc import abstractmethod as abstractmethod
from typing import Any, ClassVar

from sqlalchemy import text as text

class DbMigration(ABC):
    """Base class for database migrations."""

    version: ClassVar[int]
    description: ClassVar[str]
    @abstractmethod
    def migrate(self, engine: Any) -> None:
        """Apply the migration."""

    def record_version(self, engine: Any) -> None: ...
