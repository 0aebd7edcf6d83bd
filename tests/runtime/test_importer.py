"""The module tree served out of the package binary, as the host's import machinery sees it."""

import importlib
import importlib.machinery
import importlib.util
import os
import pkgutil

import pytest

import zunt_core
from fresh import run_fresh


def _stubbed_modules():
    """{dotted name: is package} of every module whose stub is installed beside
    the binary, and the names of the namespace packages (folders of stubs
    without an __init__.pyi)."""
    root = os.path.dirname(zunt_core.__file__)
    found, namespaces = {}, set()
    for folder, _, files in os.walk(root):
        stubs = [name for name in files if name.endswith(".pyi")]
        rel = os.path.relpath(folder, root)
        parts = [] if rel == "." else rel.split(os.sep)
        if parts and stubs:
            found[".".join(["zunt_core", *parts])] = True
            if "__init__.pyi" not in stubs:
                namespaces.add(".".join(["zunt_core", *parts]))
        for name in stubs:
            if name != "__init__.pyi":
                found[".".join(["zunt_core", *parts, name[: -len(".pyi")]])] = False
    return found, namespaces


# The tree as the stubs describe it: every stubbed module must be served,
# and nothing else.
MODULES, NAMESPACES = _stubbed_modules()


def test_root_package_is_the_binary():
    assert zunt_core.__file__.endswith(".abi3.so")
    assert os.path.basename(zunt_core.__file__).startswith("__init__.")
    assert zunt_core.__path__ == [zunt_core.__file__ + "/zunt_core"]


@pytest.mark.parametrize("name, is_package", sorted(MODULES.items()))
def test_find_spec(name, is_package):
    spec = importlib.util.find_spec(name)
    assert spec is not None and spec.name == name
    if name in NAMESPACES:
        # Made by the host's machinery, as for a folder without __init__.py.
        assert spec.origin is None and list(spec.submodule_search_locations) == [
            zunt_core.__file__ + "/" + name.replace(".", "/")]
        # Once the package is imported (test modules import it when they are
        # collected), find_spec answers the module's own spec, whose loader the
        # import has set; the path finder's answer is the one before any import.
        parent = importlib.import_module(name.rpartition(".")[0])
        assert importlib.machinery.PathFinder.find_spec(name, parent.__path__).loader is None
        module = importlib.import_module(name)
        assert module.__doc__ is None and type(module.__loader__).__name__ == "NamespaceLoader"
        return
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


PACKAGES = ["zunt_core", *sorted(name for name, is_package in MODULES.items() if is_package)]


@pytest.fixture(scope="module")
def source_tree(tmp_path_factory):
    """The same tree as Python source on disk, where the host's own file
    finder answers: a folder with an __init__.py per package, a .py file per
    module. A namespace package gets an __init__.py too: the host's finder
    leaves out a folder without one, ours lists it so that walk_packages
    reaches its modules."""
    root = tmp_path_factory.mktemp("tree")
    for name in PACKAGES:
        folder = root.joinpath(*name.split("."))
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "__init__.py").touch()
    for name, is_package in MODULES.items():
        if not is_package:
            root.joinpath(*name.split(".")).with_suffix(".py").touch()
    return root


@pytest.mark.parametrize("package", PACKAGES)
def test_iter_modules_in_the_host_order(package, source_tree):
    # The host's file finder lists a folder's modules sorted by file name
    # (the order of the module list in the binary is not that one).
    location = zunt_core.__file__ + "/" + package.replace(".", "/")
    ours = [(m.name, m.ispkg) for m in pkgutil.iter_modules([location], package + ".")]
    host = [(m.name, m.ispkg) for m in pkgutil.iter_modules([str(source_tree.joinpath(*package.split(".")))],
                                                             package + ".")]
    assert host and ours == host


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
