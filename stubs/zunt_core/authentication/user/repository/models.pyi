"""User models."""

from typing import ClassVar
from uuid import UUID as UUID

from pydantic import BaseModel as BaseModel
from pydantic import ConfigDict as ConfigDict

from zunt_core.authentication.plugin.repository.models import (
    ThirdPartyIntegrationAuthBasic as ThirdPartyIntegrationAuthBasic,
)

class UserBasic(BaseModel):
    """What a user key carries."""

    id: UUID
    identifier: str
    secret: str

class User(BaseModel):
    """A user as shown to callers, without any secret."""

    model_config: ClassVar[ConfigDict]
    id: UUID | None = None
    identifier: str
    secret_preview: str
    is_active: bool
    client_id: UUID

class UserModel(User):
    """A user as stored, with its stored secret."""

    secret: str

class UserComplete(User):
    """A user with its third-party integrations."""

    integrations: list[ThirdPartyIntegrationAuthBasic]
