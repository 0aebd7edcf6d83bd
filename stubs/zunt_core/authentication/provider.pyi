"""Authentication service provider."""

from zunt_core.authentication.client.repository.sqlalchemy.repository import (
    SqlAlchemyClientRepository as SqlAlchemyClientRepository,
)
from zunt_core.authentication.client.service import ClientAwareService as ClientAwareService
from zunt_core.authentication.client.service import CreateClientService as CreateClientService
from zunt_core.authentication.client.service import VerifyClientService as VerifyClientService
from zunt_core.authentication.config import AuthenticationDbSettings as AuthenticationDbSettings
from zunt_core.authentication.database import SQLAlchemySQLDataStore as SQLAlchemySQLDataStore
from zunt_core.authentication.database import initialize_authentication_db as initialize_authentication_db
from zunt_core.authentication.plugin.repository.sqlalchemy.repository import (
    SqlAlchemyThirdPartyIntegrationRepository as SqlAlchemyThirdPartyIntegrationRepository,
)
from zunt_core.authentication.plugin.service import ThirdPartyIntegrationService as ThirdPartyIntegrationService
from zunt_core.authentication.service import set_services as set_services
from zunt_core.authentication.token.repository.sqlalchemy.repository import (
    SqlAlchemyTokenRepository as SqlAlchemyTokenRepository,
)
from zunt_core.authentication.token.service import CreateTokenService as CreateTokenService
from zunt_core.authentication.token.service import RevokeTokenService as RevokeTokenService
from zunt_core.authentication.token.service import VerifyTokenService as VerifyTokenService
from zunt_core.authentication.user.repository.sqlalchemy.repository import (
    SqlAlchemyUserRepository as SqlAlchemyUserRepository,
)
from zunt_core.authentication.user.service import AuthenticateUserService as AuthenticateUserService
from zunt_core.authentication.user.service import CreateUserService as CreateUserService
from zunt_core.authentication.user.service import GetUserService as GetUserService

def init_auth_services(settings: AuthenticationDbSettings) -> None: ...
