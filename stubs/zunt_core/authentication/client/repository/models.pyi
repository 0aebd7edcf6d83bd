"""Client models."""

from datetime import datetime as datetime
from typing import ClassVar
from uuid import UUID as UUID

from pydantic import BaseModel as BaseModel
from pydantic import ConfigDict as ConfigDict

class ClientBasic(BaseModel):
    """Client model with only the basic values for validation."""

    model_config: ClassVar[ConfigDict]
    id: UUID
    name: str
    secret: str

class ClientModel(ClientBasic):
    """Client model for internal purposes."""

    is_active: bool
    created_at: datetime | None = None

class Client(BaseModel):
    """Client model for public use."""

    id: UUID
    name: str
    api_key: str
    is_active: bool
    created_at: datetime | None = None
