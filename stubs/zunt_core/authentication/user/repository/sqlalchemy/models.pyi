"""User SQLAlchemy model."""

import uuid as uuid
from typing import TYPE_CHECKING, Any, ClassVar

from sqlalchemy import UUID as UUID
from sqlalchemy import Boolean as Boolean
from sqlalchemy import Column as Column
from sqlalchemy import ForeignKey as ForeignKey
from sqlalchemy import String as String
from sqlalchemy import Table
from sqlalchemy.orm import DeclarativeMeta, Mapped, Mapper
from sqlalchemy.orm import relationship as relationship

from zunt_core.authentication.database import DatabaseAdapter as DatabaseAdapter
from zunt_core.authentication.token.repository.sqlalchemy.models import DBToken as DBToken

if TYPE_CHECKING:
    from zunt_core.authentication.client.repository.sqlalchemy.models import DBClient

class DBUser(metaclass=DeclarativeMeta):
    """User SQLAlchemy model."""

    __tablename__: ClassVar[str]
    __table__: ClassVar[Table]
    __mapper__: ClassVar[Mapper[Any]]
    id: Mapped[uuid.UUID]
    identifier: Mapped[str | None]
    secret: Mapped[str | None]
    secret_preview: Mapped[str | None]
    is_active: Mapped[bool | None]
    client_id: Mapped[uuid.UUID | None]
    client: Mapped[DBClient]
    tokens: Mapped[list[DBToken]]
    def __init__(self, **kwargs: Any) -> None: ...
