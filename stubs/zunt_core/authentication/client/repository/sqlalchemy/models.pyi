"""Client SQLAlchemy model."""

import uuid as uuid
from datetime import datetime as datetime
from typing import Any, ClassVar

from sqlalchemy import UUID as UUID
from sqlalchemy import Boolean as Boolean
from sqlalchemy import Column as Column
from sqlalchemy import DateTime as DateTime
from sqlalchemy import String as String
from sqlalchemy import Table
from sqlalchemy.orm import DeclarativeMeta, Mapped, Mapper, Query
from sqlalchemy.orm import relationship as relationship

from zunt_core.authentication.database import DatabaseAdapter as DatabaseAdapter
from zunt_core.authentication.plugin.repository.sqlalchemy.models import (
    DBThirdPartyIntegrationAuth as DBThirdPartyIntegrationAuth,
)
from zunt_core.authentication.user.repository.sqlalchemy.models import DBUser as DBUser

class DBClient(metaclass=DeclarativeMeta):
    """Client SQLAlchemy model."""

    __tablename__: ClassVar[str]
    __table__: ClassVar[Table]
    __mapper__: ClassVar[Mapper[Any]]
    id: Mapped[uuid.UUID]
    name: Mapped[str | None]
    secret: Mapped[str | None]
    is_active: Mapped[bool | None]
    created_at: Mapped[datetime | None]
    users: Mapped[Query[DBUser]]
    integrations: Mapped[Query[DBThirdPartyIntegrationAuth]]
    def __init__(self, **kwargs: Any) -> None: ...
