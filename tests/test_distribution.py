"""What the installed distribution holds."""

import importlib
import importlib.metadata


def test_package_ships_no_python_source():
    files = [str(f) for f in importlib.metadata.files("zunt_core") if str(f).startswith("zunt_core/")]
    assert any(f.endswith(".abi3.so") for f in files)
    assert "zunt_core/py.typed" in files
    assert not [f for f in files if f.endswith((".py", ".pyc"))]
    assert all(f.endswith((".so", ".pyi", "py.typed")) for f in files)


def test_every_module_has_its_stub():
    import pathlib
    import pkgutil

    import zunt_core

    installed = pathlib.Path(zunt_core.__file__).parent
    missing = []
    for module in pkgutil.walk_packages(zunt_core.__path__, "zunt_core."):
        path = installed.joinpath(*module.name.split(".")[1:])
        namespace = module.ispkg and getattr(importlib.import_module(module.name), "__file__", None) is None
        if namespace:
            found = path.is_dir() and not (path / "__init__.pyi").exists()
        else:
            found = (path / "__init__.pyi" if module.ispkg else path.with_suffix(".pyi")).is_file()
        if not found:
            missing.append(module.name)
    assert missing == []
