import inspect
import pickle
import subprocess
import sys

import pytest

from zunt_core.exception.base import (
    InvalidClientException,
    NotFoundException,
    UnauthorizedException,
    UninitializedException,
    UserAlreadyExistsException,
    ZuntException,
)

SUBCLASSES = [
    (UninitializedException, 500, "Database adapter is not initialized.",
     "Exception raised when database adapter is not initialized."),
    (UnauthorizedException, 401, "Unauthorized", "Exception raised when user is unauthorized."),
    (InvalidClientException, 404, "Client not found", "Exception raised when client is invalid."),
    (UserAlreadyExistsException, 409, "User already exists", "Exception raised when user already exists."),
    (NotFoundException, 404, "Not found", "Exception raised when a resource is not found."),
]


@pytest.mark.parametrize("cls, status, message, doc", SUBCLASSES)
def test_subclass_defaults(cls, status, message, doc):
    err = cls()
    assert str(err) == message
    assert err.args == (message,)
    assert err.status_code == status
    assert err.extra_info is None
    assert isinstance(err, ZuntException) and isinstance(err, Exception)
    assert cls.__doc__ == doc
    assert cls.__mro__[1] is ZuntException
    assert str(inspect.signature(cls)) == f"(message: str = {message!r})"
    with pytest.raises(AttributeError):
        err.message


@pytest.mark.parametrize("cls, status, message, doc", SUBCLASSES)
def test_subclass_message_and_refused_arguments(cls, status, message, doc):
    assert str(cls(message="custom")) == "custom"
    assert cls("custom").status_code == status
    for kwargs in ({"status_code": 403}, {"extra_info": {}}):
        with pytest.raises(TypeError):
            cls("m", **kwargs)
    with pytest.raises(TypeError):
        cls("m", 2)


def test_root_constructor():
    assert ZuntException.__doc__ == "Base exception."
    assert ZuntException.__bases__ == (Exception,)
    sig = inspect.signature(ZuntException)
    assert str(sig) == "(message: str, *, status_code: int, extra_info: dict = None)"

    err = ZuntException("teapot", status_code=418)
    assert (err.args, err.status_code, err.extra_info) == (("teapot",), 418, None)
    extra = {"a": 1}
    err = ZuntException("m", status_code=400, extra_info=extra)
    assert err.extra_info is extra
    extra["b"] = 2
    assert err.extra_info == {"a": 1, "b": 2}
    # Values are stored as given, never validated.
    err = ZuntException(5, status_code="x", extra_info=[1])
    assert (err.args, err.status_code, err.extra_info) == ((5,), "x", [1])


@pytest.mark.parametrize(
    "args, kwargs, text",
    [
        (("m",), {}, "ZuntException.__init__() missing 1 required keyword-only argument: 'status_code'"),
        (("m", 404), {}, "ZuntException.__init__() takes 2 positional arguments but 3 were given"),
        (("m",), {"status_code": 1, "code": 2},
         "ZuntException.__init__() got an unexpected keyword argument 'code'"),
    ],
)
def test_root_constructor_misuse(args, kwargs, text):
    with pytest.raises(TypeError) as info:
        ZuntException(*args, **kwargs)
    assert str(info.value) == text


class AppUnauthorized(UnauthorizedException):
    def __init__(self, message="app says no"):
        self.seen = True
        super().__init__(message)


def test_application_subclass_behaves_like_its_base():
    err = AppUnauthorized()
    assert (str(err), err.status_code, err.extra_info, err.seen) == ("app says no", 401, None, True)
    with pytest.raises(UnauthorizedException):
        raise err


class Mixin(Exception):
    def __init__(self, *args, **kwargs):
        self.mixin_ran = True
        super().__init__(*args, **kwargs)


class Cooperative(NotFoundException, Mixin):
    pass


def test_constructors_use_the_cooperative_super_call():
    err = Cooperative()
    # NotFoundException -> ZuntException -> Mixin -> Exception
    assert err.mixin_ran is True
    assert err.args == ("Not found",)
    assert err.status_code == 404


@pytest.mark.parametrize("err", [AppUnauthorized("x"), NotFoundException("gone"), InvalidClientException()])
def test_pickling_round_trips(err):
    copy = pickle.loads(pickle.dumps(err))
    assert type(copy) is type(err)
    assert copy.args == err.args
    assert copy.status_code == err.status_code
    assert copy.extra_info is None


def run_python(code):
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout


def test_exception_package_surface():
    out = run_python(
        "import sys\n"
        "import zunt_core.exception as e\n"
        "print(e.__doc__)\n"
        "print(e.__all__)\n"
        "before = set(dir())\n"
        "from zunt_core.exception import *\n"
        "print(sorted(set(dir()) - before - {'before'}))\n"
        "print(sorted(m for m in sys.modules if m.startswith('zunt_core')))\n"
        "print(e.ZuntException is __import__('zunt_core.exception.base').exception.base.ZuntException)\n"
        "print(sys.modules['zunt_core.exception.base'].__doc__)\n"
        "try:\n"
        "    from zunt_core.exception import NotFoundException\n"
        "except ImportError as exc:\n"
        "    print('ImportError')\n"
    )
    lines = out.splitlines()
    assert lines[0] == "Exception modules."
    assert lines[1] == "['ZuntException', 'UnauthorizedException', 'InvalidClientException']"
    assert lines[2] == "['InvalidClientException', 'UnauthorizedException', 'ZuntException']"
    loaded = eval(lines[3])
    for name in ("zunt_core.authentication", "zunt_core.telemetry", "zunt_core.logger", "zunt_core.helpers",
                 "zunt_core.helpers.json"):
        assert name not in loaded
    assert "zunt_core.exception.base" in loaded
    assert lines[4] == "True"
    assert lines[5] == "Base exception."
    assert lines[6] == "ImportError"


def test_base_module_names():
    import zunt_core.exception.base as base

    public = sorted(k for k in vars(base) if not k.startswith("__"))
    assert public == sorted(cls.__name__ for cls, *_ in SUBCLASSES + [(ZuntException,)])
    assert not hasattr(base, "__all__")
