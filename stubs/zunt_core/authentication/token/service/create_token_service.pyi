"""Create token service."""

import uuid as uuid
from datetime import datetime as datetime
from datetime import timedelta as timedelta
from datetime import timezone as timezone
from typing import Any as Any
from typing import Optional as Optional

from jose import jwt as jwt

from zunt_core.authentication.config import AuthenticationDbSettings as AuthenticationDbSettings
from zunt_core.authentication.token.repository.base_repository import BaseRepository as BaseRepository
from zunt_core.authentication.token.repository.models import Token as Token
from zunt_core.authentication.token.repository.models import TokenComplete as TokenComplete
from zunt_core.authentication.user.repository.models import User as User

class CreateTokenService:
    """Issues access tokens."""

    token_repository: BaseRepository
    def __init__(self, token_repository: BaseRepository) -> None: ...
    def create_token(self, user: User) -> TokenComplete: ...
    def _create_access_token(
        self, data: dict[str, Any], expires_delta: Optional[timedelta] = None
    ) -> tuple[str, datetime]: ...
