"""Create client service."""

import uuid as uuid

from zunt_core.authentication.client.helper.helper import ClientHelper as ClientHelper
from zunt_core.authentication.client.repository.base_repository import BaseRepository as BaseRepository
from zunt_core.authentication.client.repository.models import Client as Client
from zunt_core.authentication.client.repository.models import ClientBasic as ClientBasic

class CreateClientService:
    """Registers API clients."""

    client_repository: BaseRepository
    client_helper: ClientHelper
    def __init__(self, client_repository: BaseRepository) -> None: ...
    def create_client(self, client_name: str) -> Client: ...
