"""Create user service."""

from typing import ClassVar
from uuid import uuid4 as uuid4

from zunt_core.authentication.client.service.client_aware_service import ClientAwareService as ClientAwareService
from zunt_core.authentication.config import AuthenticationDbSettings as AuthenticationDbSettings
from zunt_core.authentication.security.hash import PasswordHashService
from zunt_core.authentication.user.helper.helper import UserHelper as UserHelper
from zunt_core.authentication.user.repository.base_repository import BaseRepository as BaseRepository
from zunt_core.authentication.user.repository.models import UserModel as UserModel
from zunt_core.exception.base import UserAlreadyExistsException as UserAlreadyExistsException

class CreateUserService:
    """Creates users of the calling client."""

    USER_SECRET_PREVIEW_LENGTH: ClassVar[int]
    client_aware_service: ClientAwareService
    user_repository: BaseRepository
    user_helper: UserHelper
    hash_service: PasswordHashService
    def __init__(self, user_repository: BaseRepository, client_aware_service: ClientAwareService) -> None: ...
    def create_user(self, api_key: str, identifier: str) -> UserModel: ...
