"""The road of one request through zunt_core, as far as the library is built.

Reads typed settings from the environment with the configuration service and
turns a failed look-up into the library's own errors, the way an application's
request handler would; then logs a line with personal data through the regex
masking handler.
"""

import logging
import os
import sys

from zunt_core.exception import UnauthorizedException, ZuntException
from zunt_core.exception.base import NotFoundException
from zunt_core.logger.regex_pii_logger_handler import init_regex_pii_logging_handler
from zunt_core.services import ConfigService


def handle_request(user_id: str) -> dict:
    """A tiny request handler: settings from the environment, errors with status codes."""
    known_users = ConfigService.get_list("EXAMPLE_KNOWN_USERS", default=[])
    if not ConfigService.get_bool("EXAMPLE_AUTH_ENABLED", default=True):
        raise UnauthorizedException()
    if user_id not in known_users:
        raise NotFoundException(f"User {user_id} not found")
    return {"user": user_id, "page_size": ConfigService.get_int("EXAMPLE_PAGE_SIZE", default=20)}


# --- Log masking -----------------------------------------------------------

def log_with_personal_data_masked() -> None:
    """A log line whose e-mail address, phone number and identity-card number
    the regex handler masks before the console handler after it prints it."""
    logger = logging.getLogger("example.refunds")
    logger.setLevel(logging.INFO)
    logger.propagate = False
    init_regex_pii_logging_handler("example.refunds", pii_regex_process_enabled=True)
    console = logging.StreamHandler(sys.stdout)
    console.setFormatter(logging.Formatter("log: %(levelname)s %(name)s: %(message)s"))
    logger.addHandler(console)  # after the masking handler: it prints the masked text
    logger.info("refund sent to %s, phone %s, NIK %s", "budi.santoso@example.com", "+62 812-3456-7890",
                "3201019931900001")


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

    log_with_personal_data_masked()


if __name__ == "__main__":
    main()
