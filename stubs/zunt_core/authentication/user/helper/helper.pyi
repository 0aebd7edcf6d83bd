"""User keys."""

import secrets as secrets
from typing import ClassVar
from uuid import UUID as UUID

from zunt_core.authentication.common.base64_helper import decode_base64 as decode_base64
from zunt_core.authentication.common.base64_helper import encode_base64 as encode_base64
from zunt_core.authentication.user.repository.models import UserBasic as UserBasic
from zunt_core.authentication.user.repository.models import UserModel as UserModel
from zunt_core.exception import UnauthorizedException as UnauthorizedException

class UserHelper:
    """Makes and reads user keys."""

    SECRET_PREFIX: ClassVar[str]
    SECRET_LENGTH: ClassVar[int]
    DELIMITER: ClassVar[str]
    def generate_secret(self) -> str: ...
    def build_api_key(self, user: UserModel) -> str: ...
    def to_user(self, secret_key: str) -> UserBasic: ...
    def _segmentize(self, api_key: str) -> list[str]: ...
