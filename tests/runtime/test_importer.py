"""The module tree served out of the package binary, as the host's import machinery sees it."""

import importlib
import importlib.util
import os
import pkgutil

import pytest

import zunt_core
from fresh import run_fresh


MODULES = {
    "zunt_core.exception": True,
    "zunt_core.exception.base": False,
    "zunt_core.helpers": True,
    "zunt_core.helpers.json": False,
    "zunt_core.services": True,
    "zunt_core.services.config": False,
    "zunt_core.plugin": True,
    "zunt_core.plugin.registry": False,
    "zunt_core.plugin.handler": False,
    "zunt_core.plugin.plugin": False,
    "zunt_core.plugin.manager": False,
    # Telemetry
    "zunt_core.telemetry": True,
    "zunt_core.telemetry.initializer": False,
    "zunt_core.telemetry.opentelemetry": True,
    "zunt_core.telemetry.opentelemetry.initializer": False,
    "zunt_core.telemetry.opentelemetry.instrument": True,
    "zunt_core.telemetry.opentelemetry.instrument.functions": False,
    "zunt_core.telemetry.sentry": True,
    "zunt_core.telemetry.sentry.initializer": False,
}


def test_root_package_is_the_binary():
    assert zunt_core.__file__.endswith(".abi3.so")
    assert os.path.basename(zunt_core.__file__).startswith("__init__.")
    assert zunt_core.__path__ == [zunt_core.__file__ + "/zunt_core"]


@pytest.mark.parametrize("name, is_package", sorted(MODULES.items()))
def test_find_spec(name, is_package):
    spec = importlib.util.find_spec(name)
    assert spec is not None and spec.name == name
    assert spec.origin == zunt_core.__file__
    assert (spec.submodule_search_locations is not None) == is_package
    if is_package:
        assert spec.submodule_search_locations == [zunt_core.__file__ + "/" + name.replace(".", "/")]
    assert spec.loader.is_package(name) is is_package


def test_unknown_modules():
    assert importlib.util.find_spec("zunt_core.nope") is None
    with pytest.raises(ModuleNotFoundError):
        importlib.import_module("zunt_core.nope")
    with pytest.raises(ModuleNotFoundError):
        importlib.import_module("zunt_core.exception.nope")


def test_walk_packages_lists_the_tree():
    found = {m.name: m.ispkg for m in pkgutil.walk_packages(zunt_core.__path__, "zunt_core.")}
    assert found == MODULES


def test_stub_directories_do_not_shadow_packages():
    import zunt_core.exception

    # A directory of .pyi stubs lies beside the binary; it must not become a
    # namespace package or a second search location.
    assert zunt_core.exception.__spec__.loader is importlib.util.find_spec("zunt_core.services").loader
    assert zunt_core.exception.__path__ == [zunt_core.__file__ + "/zunt_core/exception"]


def test_reload_rebuilds_a_module():
    # In a fresh interpreter: a reload makes new classes, which would leave
    # this process's re-exported names pointing at the old ones.
    code = (
        "import importlib\n"
        "import zunt_core.services.config as config\n"
        "assert importlib.reload(config) is config\n"
        "assert config.ConfigService.get_string('ZUNT_SURELY_UNSET', 'd') == 'd'\n"
        "print('ok')\n"
    )
    run_fresh(code)


def test_reimport_after_removal_from_sys_modules():
    code = (
        "import sys\n"
        "import zunt_core.exception.base as first\n"
        "for name in [m for m in sys.modules if m.startswith('zunt_core')]:\n"
        "    del sys.modules[name]\n"
        "import zunt_core.exception.base as second\n"
        "assert first is not second\n"
        "assert second.NotFoundException().status_code == 404\n"
        "import zunt_core\n"
        "assert zunt_core.__path__[0].endswith('/zunt_core')\n"
        "assert sum(1 for h in sys.path_hooks if getattr(h, '_root_path', None)) == 1\n"
        "print('ok')\n"
    )
    run_fresh(code)
