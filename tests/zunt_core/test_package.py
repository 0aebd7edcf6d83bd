import json
import subprocess
import sys

from import_probe import import_probe

import zunt_core
import zunt_core.services
import zunt_core.services.config

_PROBE = import_probe(r"""
import json
import zunt_core
loaded = [m for m in sys.modules if m == "zunt_core" or m.startswith("zunt_core.")]
before = set(globals())
from zunt_core import *
star = set(globals()) - before - {"before"}
print(json.dumps({
    "order": Recorder.seen,
    "loaded": sorted(loaded),
    "star": sorted(star),
}))
""")

EXPECTED_ORDER = [
    "zunt_core",
    "zunt_core.plugin",
    "zunt_core.plugin.handler",
    "zunt_core.plugin.manager",
    "zunt_core.plugin.plugin",
    "zunt_core.plugin.registry",
    "zunt_core.services",
    "zunt_core.services.config",
]


def test_import_loads_exactly_the_plugin_framework_and_config_service():
    out = subprocess.run([sys.executable, "-c", _PROBE], check=True, capture_output=True, text=True).stdout
    result = json.loads(out)
    assert result["order"] == EXPECTED_ORDER
    assert result["loaded"] == sorted(EXPECTED_ORDER)
    for absent in ("exception", "helpers", "logger", "authentication", "telemetry"):
        assert f"zunt_core.{absent}" not in result["loaded"]
    assert result["star"] == sorted(["PluginManager", "PluginHandler", "Plugin", "ConfigService"])


def test_public_names():
    assert zunt_core.__doc__ == "ZUNT Core Library Module."
    assert zunt_core.__all__ == ["PluginManager", "PluginHandler", "Plugin", "ConfigService"]
    from zunt_core.plugin.handler import PluginHandler
    from zunt_core.plugin.manager import PluginManager
    from zunt_core.plugin.plugin import Plugin

    assert zunt_core.PluginHandler is PluginHandler
    assert zunt_core.PluginManager is PluginManager
    assert zunt_core.Plugin is Plugin
    assert zunt_core.ConfigService is zunt_core.services.ConfigService is zunt_core.services.config.ConfigService


def test_plugin_package_holds_only_its_docstring():
    import zunt_core.plugin as package

    assert package.__doc__ == "Plugin Modules."
    assert not hasattr(package, "__all__")
    public = {k for k in vars(package) if not k.startswith("__")}
    # submodules already imported are attributes of their package, as usual
    assert public <= {"handler", "manager", "plugin", "registry"}
