"""SQLAlchemy third-party integration repository."""

from typing import Optional as Optional
from uuid import UUID as UUID

from sqlalchemy import orm
from sqlalchemy.orm import Query as Query
from sqlalchemy.orm import Session as Session

from zunt_core.authentication.database import SQLAlchemySQLDataStore as SQLAlchemySQLDataStore
from zunt_core.authentication.plugin.repository.base_repository import BaseRepository as BaseRepository
from zunt_core.authentication.plugin.repository.models import ThirdPartyIntegrationAuth as ThirdPartyIntegrationAuth
from zunt_core.authentication.plugin.repository.sqlalchemy.models import (
    DBThirdPartyIntegrationAuth as DBThirdPartyIntegrationAuth,
)

class SqlAlchemyThirdPartyIntegrationRepository(BaseRepository):
    """SQLAlchemy third-party integration repository."""

    db: orm.scoped_session[orm.Session]
    def __init__(self, data_store: SQLAlchemySQLDataStore) -> None: ...
    def has_integration(self, client_id: UUID, user_id: UUID, connector: str) -> bool: ...
    def get_integration(
        self, client_id: UUID, user_id: UUID, connector: str, user_identifier: str
    ) -> ThirdPartyIntegrationAuth | None: ...
    def get_selected_integration(
        self, client_id: UUID, user_id: UUID, connector: str
    ) -> ThirdPartyIntegrationAuth | None: ...
    def get_latest_created_integration(
        self, client_id: UUID, user_id: UUID, connector: str
    ) -> ThirdPartyIntegrationAuth | None: ...
    def get_integrations(self, client_id: UUID, user_id: UUID) -> list[ThirdPartyIntegrationAuth]: ...
    def create_integration(self, integration: ThirdPartyIntegrationAuth) -> ThirdPartyIntegrationAuth: ...
    def update_integration(self, integration: ThirdPartyIntegrationAuth) -> ThirdPartyIntegrationAuth | None: ...
    def delete_integration(self, client_id: UUID, user_id: UUID, connector: str, user_identifier: str) -> None: ...
    def get_integrations_by_connector(self, connector: str) -> list[ThirdPartyIntegrationAuth]: ...
    def delete_integrations(self, integration_ids: list[UUID]) -> None: ...
    def _get_integration_base_query(
        self, session: Session, client_id: UUID, user_id: UUID, connector: Optional[str] = None
    ) -> Query[DBThirdPartyIntegrationAuth]: ...
