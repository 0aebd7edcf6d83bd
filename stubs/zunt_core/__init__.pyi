"""ZUNT Core Library Module."""

from zunt_core.plugin.handler import PluginHandler as PluginHandler
from zunt_core.plugin.manager import PluginManager as PluginManager
from zunt_core.plugin.plugin import Plugin as Plugin
from zunt_core.services.config import ConfigService as ConfigService

__all__ = ["PluginManager", "PluginHandler", "Plugin", "ConfigService"]
