"""Third-party integration services."""

from zunt_core.authentication.plugin.service import (
    third_party_integration_service as third_party_integration_service,
)
from zunt_core.authentication.plugin.service.third_party_integration_service import (
    ThirdPartyIntegrationService as ThirdPartyIntegrationService,
)

__all__ = ["ThirdPartyIntegrationService"]
