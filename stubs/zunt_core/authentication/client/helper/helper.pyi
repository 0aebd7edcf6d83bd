"""Client API keys."""

import secrets as secrets
from typing import ClassVar
from uuid import UUID as UUID

from zunt_core.authentication.client.repository.models import ClientBasic as ClientBasic
from zunt_core.authentication.common.base64_helper import decode_base64 as decode_base64
from zunt_core.authentication.common.base64_helper import encode_base64 as encode_base64
from zunt_core.exception import InvalidClientException as InvalidClientException

class ClientHelper:
    """Makes and reads client API keys."""

    API_KEY_PREFIX: ClassVar[str]
    API_KEY_LENGTH: ClassVar[int]
    DELIMITER: ClassVar[str]
    def generate_secret(self) -> str: ...
    def build_api_key(self, client: ClientBasic) -> str: ...
    def to_client(self, api_key: str) -> ClientBasic: ...
    def _segmentize(self, api_key: str) -> list[str]: ...
