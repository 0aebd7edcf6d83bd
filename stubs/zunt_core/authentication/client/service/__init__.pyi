"""Services for Client Related"""

from zunt_core.authentication.client.service import client_aware_service as client_aware_service
from zunt_core.authentication.client.service import create_client_service as create_client_service
from zunt_core.authentication.client.service import verify_client_service as verify_client_service
from zunt_core.authentication.client.service.client_aware_service import ClientAwareService as ClientAwareService
from zunt_core.authentication.client.service.create_client_service import CreateClientService as CreateClientService
from zunt_core.authentication.client.service.verify_client_service import VerifyClientService as VerifyClientService

__all__ = ["ClientAwareService", "CreateClientService", "VerifyClientService"]
