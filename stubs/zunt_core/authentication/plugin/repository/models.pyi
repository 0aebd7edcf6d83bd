"""Models for third-party integration."""

from typing import ClassVar
from uuid import UUID as UUID

from pydantic import BaseModel as BaseModel
from pydantic import ConfigDict as ConfigDict
from pydantic import Field as Field

class ThirdPartyIntegrationAuthBasic(BaseModel):
    """Third-party integration auth basic model."""

    id: UUID | None = None
    client_id: UUID
    user_id: UUID
    connector: str
    user_identifier: str
    selected: bool = False

class ThirdPartyIntegrationAuth(ThirdPartyIntegrationAuthBasic):
    """Third-party integration auth model."""

    model_config: ClassVar[ConfigDict]
    id: UUID | None = None
    client_id: UUID
    user_id: UUID
    connector: str
    user_identifier: str
    auth_string: str
    auth_scopes: list[str]
