"""Exception modules."""

from zunt_core.exception.base import (
    InvalidClientException as InvalidClientException,
    UnauthorizedException as UnauthorizedException,
    ZuntException as ZuntException,
)

__all__ = ["ZuntException", "UnauthorizedException", "InvalidClientException"]
