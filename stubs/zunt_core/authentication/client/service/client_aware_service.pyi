"""Client aware service."""

from uuid import UUID as UUID

from zunt_core.authentication.client.helper.helper import ClientHelper as ClientHelper
from zunt_core.authentication.client.repository.base_repository import BaseRepository as BaseRepository
from zunt_core.authentication.client.repository.models import ClientModel as ClientModel
from zunt_core.authentication.client.service.verify_client_service import VerifyClientService as VerifyClientService
from zunt_core.exception import InvalidClientException as InvalidClientException

class ClientAwareService:
    """Resolves the calling client from its API key."""

    client_repository: BaseRepository
    verify_client_service: VerifyClientService
    client_helper: ClientHelper
    def __init__(self, client_repository: BaseRepository) -> None: ...
    def get_client_by_api_key(self, api_key: str) -> ClientModel: ...
    def get_client_id_by_api_key(self, api_key: str) -> UUID: ...
    def get_client_by_id(self, client_id: UUID) -> ClientModel: ...
