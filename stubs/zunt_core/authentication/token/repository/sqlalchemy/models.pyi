"""Token SQLAlchemy model."""

import uuid as uuid
from typing import TYPE_CHECKING, Any, ClassVar

from sqlalchemy import UUID as UUID
from sqlalchemy import Boolean as Boolean
from sqlalchemy import Column as Column
from sqlalchemy import ForeignKey as ForeignKey
from sqlalchemy import Table
from sqlalchemy.orm import DeclarativeMeta, Mapped, Mapper
from sqlalchemy.orm import relationship as relationship

from zunt_core.authentication.database import DatabaseAdapter as DatabaseAdapter

if TYPE_CHECKING:
    from zunt_core.authentication.user.repository.sqlalchemy.models import DBUser

class DBToken(metaclass=DeclarativeMeta):
    """Token SQLAlchemy model."""

    __tablename__: ClassVar[str]
    __table__: ClassVar[Table]
    __mapper__: ClassVar[Mapper[Any]]
    id: Mapped[uuid.UUID]
    user_id: Mapped[uuid.UUID | None]
    client_id: Mapped[uuid.UUID | None]
    is_revoked: Mapped[bool | None]
    user: Mapped[DBUser]
    def __init__(self, **kwargs: Any) -> None: ...
