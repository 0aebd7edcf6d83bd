"""Token models."""

from datetime import datetime as datetime
from typing import ClassVar
from uuid import UUID as UUID

from pydantic import BaseModel as BaseModel
from pydantic import ConfigDict as ConfigDict

class TokenComplete(BaseModel):
    """An issued access token, as a login returns it."""

    model_config: ClassVar[ConfigDict]
    id: UUID
    token: str
    token_type: str
    expires_at: datetime
    is_revoked: bool
    user_id: UUID
    client_id: UUID

class Token(BaseModel):
    """The stored part of an issued access token."""

    model_config: ClassVar[ConfigDict]
    id: UUID
    user_id: UUID
    client_id: UUID
    is_revoked: bool
