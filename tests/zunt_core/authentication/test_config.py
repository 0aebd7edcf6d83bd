import pytest

from zunt_core.authentication import AuthenticationDbSettings
from zunt_core.authentication.security.argon2 import Argon2PasswordHashService

URL_MESSAGE = (
    "database_authentication_url must be provided either through initialization or "
    "DATABASE_AUTHENTICATION_URL environment variable"
)
SECRET_MESSAGE = "auth_secret_key must be provided either through initialization or AUTH_SECRET_KEY environment variable"
KEYS = ("DATABASE_AUTHENTICATION_URL", "AUTH_SECRET_KEY", "AUTH_ALGORITHM", "AUTH_ACCESS_TOKEN_EXPIRE_MINUTES")


@pytest.fixture(autouse=True)
def no_settings(monkeypatch):
    """No instance and none of the settings' variables, for every test."""
    for key in KEYS:
        monkeypatch.delenv(key, raising=False)
    saved = AuthenticationDbSettings._instance
    AuthenticationDbSettings._instance = None
    yield monkeypatch
    AuthenticationDbSettings._instance = saved


def build(**kwargs):
    return AuthenticationDbSettings(**kwargs)


def test_class_state_as_declared():
    assert AuthenticationDbSettings.auth_algorithm == "HS256"
    assert AuthenticationDbSettings.auth_access_token_expire_minutes == 43200
    assert AuthenticationDbSettings._AuthenticationDbSettings__initialized is False
    assert list(AuthenticationDbSettings.__annotations__) == [
        "database_authentication_url", "auth_secret_key", "auth_algorithm", "auth_access_token_expire_minutes",
        "password_hash_service"]


def test_arguments_then_defaults():
    s = build(database_authentication_url="postgresql://db", auth_secret_key="k")
    assert (s.database_authentication_url, s.auth_secret_key, s.auth_algorithm, s.auth_access_token_expire_minutes) == (
        "postgresql://db", "k", "HS256", 43200)
    assert isinstance(s.password_hash_service, Argon2PasswordHashService)


def test_one_instance_read_once(no_settings):
    first = build(database_authentication_url="u1", auth_secret_key="k1", auth_algorithm="HS512")
    hasher = first.password_hash_service
    no_settings.setenv("AUTH_ALGORITHM", "HS384")
    second = build(database_authentication_url="u2", auth_secret_key="k2", auth_algorithm="HS256")
    assert second is first and AuthenticationDbSettings() is first
    assert (second.database_authentication_url, second.auth_secret_key, second.auth_algorithm) == ("u1", "k1", "HS512")
    assert second.password_hash_service is hasher


@pytest.mark.parametrize(
    "env, kwargs, field, expected",
    [
        ({"DATABASE_AUTHENTICATION_URL": "env-url"}, {"database_authentication_url": ""}, "database_authentication_url", "env-url"),
        ({"AUTH_SECRET_KEY": "env-key"}, {"auth_secret_key": None}, "auth_secret_key", "env-key"),
        ({}, {"auth_algorithm": ""}, "auth_algorithm", "HS256"),
        ({"AUTH_ALGORITHM": ""}, {}, "auth_algorithm", "HS256"),
        ({"AUTH_ALGORITHM": "HS512"}, {}, "auth_algorithm", "HS512"),
        ({"AUTH_ALGORITHM": "HS512"}, {"auth_algorithm": "HS384"}, "auth_algorithm", "HS384"),
        ({"AUTH_ACCESS_TOKEN_EXPIRE_MINUTES": "0"}, {}, "auth_access_token_expire_minutes", 43200),
        ({"AUTH_ACCESS_TOKEN_EXPIRE_MINUTES": "15"}, {"auth_access_token_expire_minutes": 0}, "auth_access_token_expire_minutes", 15),
        ({"AUTH_ACCESS_TOKEN_EXPIRE_MINUTES": " 30 "}, {}, "auth_access_token_expire_minutes", 30),
        ({"AUTH_ACCESS_TOKEN_EXPIRE_MINUTES": "-5"}, {}, "auth_access_token_expire_minutes", -5),
        ({"AUTH_ACCESS_TOKEN_EXPIRE_MINUTES": "15"}, {"auth_access_token_expire_minutes": 60}, "auth_access_token_expire_minutes", 60),
        ({}, {"auth_access_token_expire_minutes": -3}, "auth_access_token_expire_minutes", -3),
        ({}, {"auth_access_token_expire_minutes": 2.5}, "auth_access_token_expire_minutes", 2.5),
    ],
)
def test_precedence_field_by_field(no_settings, env, kwargs, field, expected):
    no_settings.setenv("DATABASE_AUTHENTICATION_URL", env.get("DATABASE_AUTHENTICATION_URL", "u"))
    no_settings.setenv("AUTH_SECRET_KEY", env.get("AUTH_SECRET_KEY", "k"))
    for key, value in env.items():
        no_settings.setenv(key, value)
    value = getattr(build(**kwargs), field)
    assert value == expected and type(value) is type(expected)


@pytest.mark.parametrize("text", ["", "abc", "1.5"])
def test_lifetime_text_is_converted_even_when_the_argument_wins(no_settings, text):
    no_settings.setenv("AUTH_ACCESS_TOKEN_EXPIRE_MINUTES", text)
    with pytest.raises(ValueError, match="invalid literal for int"):
        build(database_authentication_url="u", auth_secret_key="k", auth_access_token_expire_minutes=60)
    instance = AuthenticationDbSettings._instance
    assert instance._AuthenticationDbSettings__initialized is False
    # What was set before the failure stays, as the construction left it.
    assert (instance.database_authentication_url, instance.auth_secret_key, instance.auth_algorithm) == ("u", "k", "HS256")


def test_failures_leave_the_instance_uninitialised_until_one_completes(no_settings):
    with pytest.raises(ValueError) as missing_both:
        build()
    assert str(missing_both.value) == URL_MESSAGE
    failed = AuthenticationDbSettings._instance
    assert failed.database_authentication_url is None

    with pytest.raises(ValueError) as missing_secret:
        build(database_authentication_url="u")
    assert str(missing_secret.value) == SECRET_MESSAGE
    assert (failed.database_authentication_url, failed.auth_secret_key) == ("u", None)

    no_settings.setenv("DATABASE_AUTHENTICATION_URL", "env-url")
    no_settings.setenv("AUTH_SECRET_KEY", "env-key")
    done = build()
    assert done is failed
    assert (done.database_authentication_url, done.auth_secret_key) == ("env-url", "env-key")
    assert done._AuthenticationDbSettings__initialized is True


def test_misuse_is_refused_by_the_host():
    with pytest.raises(TypeError):
        AuthenticationDbSettings("postgresql://db")
    assert AuthenticationDbSettings._instance is None
    with pytest.raises(TypeError, match="unexpected keyword argument 'echo'"):
        AuthenticationDbSettings(database_authentication_url="u", auth_secret_key="k", echo=True)
    assert AuthenticationDbSettings._instance._AuthenticationDbSettings__initialized is False


def test_subclass_of_the_settings_class_keeps_its_own_instance():
    class Mine(AuthenticationDbSettings):
        pass

    mine = Mine(database_authentication_url="u", auth_secret_key="k")
    assert Mine._instance is mine and type(mine) is Mine
    assert AuthenticationDbSettings._instance is None
