import pytest

from zunt_core import PluginManager


@pytest.fixture(autouse=True)
def fresh_manager_state():
    """Every test starts without manager instances."""
    PluginManager._instance = None
    PluginManager._multi_instance = {}
    PluginManager._initialized = False
    PluginManager._multi_initialized = {}
    yield
    PluginManager._instance = None
    PluginManager._multi_instance = {}
    PluginManager._initialized = False
    PluginManager._multi_initialized = {}
