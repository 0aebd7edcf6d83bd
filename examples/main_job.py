"""The road of one request through zunt_core, as far as the library is built.

Reads typed settings from the environment with the configuration service and
turns a failed look-up into the library's own errors, the way an application's
request handler would. Then starts the authentication storage: the settings
from the environment, a data store on the database they name, and the schema
brought to its current version.
"""

import os
import secrets

from sqlalchemy import text

from zunt_core.authentication import AuthenticationDbSettings
from zunt_core.authentication.database import SQLAlchemySQLDataStore, initialize_authentication_db

from zunt_core.exception import UnauthorizedException, ZuntException
from zunt_core.exception.base import NotFoundException
from zunt_core.services import ConfigService


def handle_request(user_id: str) -> dict[str, object]:
    """A tiny request handler: settings from the environment, errors with status codes."""
    known_users = ConfigService.get_list("EXAMPLE_KNOWN_USERS", default=[])
    if not ConfigService.get_bool("EXAMPLE_AUTH_ENABLED", default=True):
        raise UnauthorizedException()
    if user_id not in known_users:
        raise NotFoundException(f"User {user_id} not found")
    return {"user": user_id, "page_size": ConfigService.get_int("EXAMPLE_PAGE_SIZE", default=20)}


def main() -> None:
    os.environ.setdefault("EXAMPLE_KNOWN_USERS", "ada, grace ,linus")
    os.environ.setdefault("EXAMPLE_PAGE_SIZE", "50")
    os.environ.setdefault("EXAMPLE_AUTH_ENABLED", "yes")

    for user in ("grace", "bob"):
        try:
            print("200", handle_request(user))
        except ZuntException as err:
            print(err.status_code, type(err).__name__, str(err))

    try:
        ConfigService.require_as("EXAMPLE_KNOWN_USERS", int)
    except ValueError as err:
        print("config error:", err, "| caused by:", repr(err.__cause__))


def storage_step() -> None:
    """Settings from the environment, one data store, the schema at its current version."""
    # A signing key of this run's own when none is configured.
    os.environ.setdefault("AUTH_SECRET_KEY", secrets.token_urlsafe(32))
    settings = AuthenticationDbSettings()
    store = SQLAlchemySQLDataStore(settings.database_authentication_url)
    initialize_authentication_db(store)
    with store.engine.connect() as conn:
        version, description = conn.execute(
            text("SELECT version, description FROM zunt_auth_database_versions")
        ).one()
    print(f"authentication schema at version {version}: {description}")


if __name__ == "__main__":
    main()
    storage_step()
