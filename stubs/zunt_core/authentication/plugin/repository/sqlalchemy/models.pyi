"""Third-party integration SQLAlchemy model."""

import uuid as uuid
from datetime import datetime
from typing import TYPE_CHECKING, Any, ClassVar

from sqlalchemy import ARRAY as ARRAY
from sqlalchemy import UUID as UUID
from sqlalchemy import Boolean as Boolean
from sqlalchemy import Column as Column
from sqlalchemy import DateTime as DateTime
from sqlalchemy import ForeignKey as ForeignKey
from sqlalchemy import String as String
from sqlalchemy.sql.functions import _FunctionGenerator
from sqlalchemy import Table
from sqlalchemy.orm import DeclarativeMeta, Mapped, Mapper
from sqlalchemy.orm import relationship as relationship

from zunt_core.authentication.database import DatabaseAdapter as DatabaseAdapter

func: _FunctionGenerator

if TYPE_CHECKING:
    from zunt_core.authentication.client.repository.sqlalchemy.models import DBClient

class DBThirdPartyIntegrationAuth(metaclass=DeclarativeMeta):
    """Third-party integration SQLAlchemy model."""

    __tablename__: ClassVar[str]
    __table__: ClassVar[Table]
    __mapper__: ClassVar[Mapper[Any]]
    id: Mapped[uuid.UUID]
    client_id: Mapped[uuid.UUID]
    user_id: Mapped[uuid.UUID]
    connector: Mapped[str]
    user_identifier: Mapped[str]
    auth_string: Mapped[str]
    auth_scopes: Mapped[list[str]]
    selected: Mapped[bool]
    created_at: Mapped[datetime]
    client: Mapped[DBClient]
    def __init__(self, **kwargs: Any) -> None: ...
