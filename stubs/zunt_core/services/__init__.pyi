"""Services module for ZUNT Core."""

from zunt_core.services.config import ConfigService as ConfigService

__all__ = ["ConfigService"]
