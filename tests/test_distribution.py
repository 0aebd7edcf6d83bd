"""What the installed distribution holds."""

import importlib.metadata


def test_package_ships_no_python_source():
    files = [str(f) for f in importlib.metadata.files("zunt_core") if str(f).startswith("zunt_core/")]
    assert any(f.endswith(".abi3.so") for f in files)
    assert "zunt_core/py.typed" in files
    assert not [f for f in files if f.endswith((".py", ".pyc"))]
    assert all(f.endswith((".so", ".pyi", "py.typed")) for f in files)
