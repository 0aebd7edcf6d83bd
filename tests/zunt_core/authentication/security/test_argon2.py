import subprocess
import sys

import pytest
from argon2 import PasswordHasher, Type

from zunt_core.authentication.security import Argon2PasswordHashService, PasswordHashService
from zunt_core.authentication.security.hash import PasswordHashService as HashInterface


@pytest.fixture(scope="module")
def service():
    return Argon2PasswordHashService()


@pytest.fixture(scope="module")
def stored(service):
    return service.hash("correct horse")


def test_hash_is_argon2id_with_the_librarys_defaults(service, stored):
    defaults = PasswordHasher(type=Type.ID)
    assert stored.startswith("$argon2id$")
    assert f"m={defaults.memory_cost},t={defaults.time_cost},p={defaults.parallelism}" in stored
    assert defaults.verify(stored, "correct horse")


def test_each_hash_has_its_own_salt(service, stored):
    again = service.hash("correct horse")
    assert again != stored
    assert service.verify("correct horse", again) and service.verify("correct horse", stored)


def test_empty_password(service):
    assert service.verify("", service.hash(""))


@pytest.mark.parametrize(
    "password, hashed",
    [
        ("wrong", None),  # None: the stored hash of "correct horse"
        ("correct horse", ""),
        ("correct horse", "not a hash"),
        ("correct horse", "$argon2id$v=19$m=65536,t=3,p=4$broken"),
        ("correct horse", "$2b$12$abcdefghijklmnopqrstuuQ8bDN0T8zWbu4MT0g0yMBnGE0AZ7Q6a"),
        (None, None),
        (12, None),
    ],
)
def test_verify_answers_false_for_every_failure(service, stored, password, hashed):
    assert service.verify(password, stored if hashed is None else hashed) is False


def test_verify_with_arguments_swapped_is_false(service, stored):
    assert service.verify(stored, "correct horse") is False
    assert service.verify("correct horse", None) is False


def test_hash_errors_pass_through(service):
    with pytest.raises(AttributeError):  # argon2-cffi's own error for a non-text password
        service.hash(None)


def test_interruptions_pass_through_verify(service, stored, monkeypatch):
    import zunt_core.authentication.security.argon2 as module

    class Interrupting:
        def __init__(self, **kwargs):
            pass

        def verify(self, hashed, password):
            raise KeyboardInterrupt

    monkeypatch.setattr(module, "PasswordHasher", Interrupting)
    with pytest.raises(KeyboardInterrupt):
        service.verify("x", stored)


def test_interface():
    assert PasswordHashService is HashInterface
    assert issubclass(Argon2PasswordHashService, PasswordHashService)
    with pytest.raises(TypeError):
        PasswordHashService()

    class HalfDone(PasswordHashService):
        def hash(self, password):
            return password

    with pytest.raises(TypeError):
        HalfDone()
    assert list(PasswordHashService.__abstractmethods__) and set(PasswordHashService.__abstractmethods__) == {
        "hash", "verify"}


def test_package_surface():
    out = subprocess.run(
        [sys.executable, "-c", "from zunt_core.authentication.security import *; print(sorted(k for k in dir() if not k.startswith('_')))"],
        check=True, capture_output=True, text=True,
    ).stdout
    assert out.strip() == "['Argon2PasswordHashService', 'PasswordHashService']"
    import zunt_core.authentication.security as package

    assert package.__all__ == ["PasswordHashService", "Argon2PasswordHashService"]
    assert package.__doc__ == "Security Module for Auth."
