"""Verify client service."""

from zunt_core.authentication.client.helper.helper import ClientHelper as ClientHelper
from zunt_core.authentication.client.repository.base_repository import BaseRepository as BaseRepository
from zunt_core.exception import InvalidClientException as InvalidClientException

class VerifyClientService:
    """Checks client API keys."""

    client_repository: BaseRepository
    client_helper: ClientHelper
    def __init__(self, client_repository: BaseRepository) -> None: ...
    def verify_api_key(self, client_api_key: str) -> None: ...
    def is_api_key_valid(self, client_api_key: str) -> bool: ...
