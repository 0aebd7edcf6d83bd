"""The assembly of the authentication component and its ten service slots.

What a process sees from its start (the import, the empty slots, a failed
and a repeated initialisation) runs in a fresh interpreter; the shape of one
assembly and set_services are looked at in this one.
"""

import json
import pathlib
import subprocess
import sys
import types

import pytest
from import_probe import import_probe

import zunt_core.authentication as package
from zunt_core.authentication import service
from zunt_core.authentication.client.service import ClientAwareService, CreateClientService, VerifyClientService
from zunt_core.authentication.database import DatabaseAdapter
from zunt_core.authentication.plugin.service import ThirdPartyIntegrationService
from zunt_core.authentication.provider import init_auth_services
from zunt_core.authentication.token.service import CreateTokenService, RevokeTokenService, VerifyTokenService
from zunt_core.authentication.user.service import AuthenticateUserService, CreateUserService, GetUserService

ROOT = pathlib.Path(__file__).resolve().parents[3]
SLOT_CLASSES = {
    "create_client_service": CreateClientService,
    "client_aware_service": ClientAwareService,
    "verify_client_service": VerifyClientService,
    "create_user_service": CreateUserService,
    "get_user_service": GetUserService,
    "authenticate_user_service": AuthenticateUserService,
    "create_token_service": CreateTokenService,
    "verify_token_service": VerifyTokenService,
    "revoke_token_service": RevokeTokenService,
    "third_party_integration_service": ThirdPartyIntegrationService,
}
SLOTS = list(SLOT_CLASSES)
UNREACHABLE = "postgresql+psycopg://nobody@127.0.0.1:9/none?connect_timeout=2"


def run(code, **env):
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env={**__import__("os").environ, **env})
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


_IMPORT_PROBE = import_probe(r"""
import json
import zunt_core.authentication
from zunt_core.authentication import service
from zunt_core.authentication.service import create_client_service as taken_early
before = set(globals())
from zunt_core.authentication import *
star = sorted(set(globals()) - before - {"before"})
print(json.dumps({
    "order": Recorder.seen,
    "loaded": sorted(m for m in sys.modules if m == "zunt_core" or m.startswith("zunt_core.")),
    "star": star,
    "names": [k for k in vars(service) if not k.startswith("__") and k not in ("Any", "Mapping", "set_services")],
    "values": {k: repr(v) for k, v in vars(service).items() if not k.startswith("__") and k not in ("Any", "Mapping", "set_services")},
    "taken_early": repr(taken_early),
}))
""")


def stub_modules(package_dir):
    root = ROOT / "stubs"
    for path in sorted((root / package_dir).rglob("*.pyi")):
        parts = path.relative_to(root).with_suffix("").parts
        parts = parts[:-1] if parts[-1] == "__init__" else parts
        for end in range(2, len(parts) + 1):  # with the namespace packages above it
            yield ".".join(parts[:end])


def test_importing_the_package_loads_the_whole_component_and_nothing_else():
    result = run(_IMPORT_PROBE)
    expected = {"zunt_core", "zunt_core.plugin", "zunt_core.plugin.handler", "zunt_core.plugin.manager",
                "zunt_core.plugin.plugin", "zunt_core.plugin.registry", "zunt_core.services",
                "zunt_core.services.config", "zunt_core.exception", "zunt_core.exception.base",
                *stub_modules("zunt_core/authentication")}
    assert set(result["loaded"]) == expected
    order = result["order"]
    # the provider first, then the settings: the package's own two imports, in this order
    assert order.index("zunt_core.authentication") + 1 == order.index("zunt_core.authentication.provider")
    assert result["star"] == ["AuthenticationDbSettings", "init_auth_services"]


def test_the_slots_are_empty_after_the_import():
    result = run(_IMPORT_PROBE)
    assert result["names"] == ["_initialized", *SLOTS]
    assert result["values"] == {"_initialized": "False", **{name: "None" for name in SLOTS}}
    assert result["taken_early"] == "None"


def test_package_surface():
    assert package.__doc__ == "Authentication modules."
    assert package.__all__ == ["init_auth_services", "AuthenticationDbSettings"]
    assert package.init_auth_services is init_auth_services


_LIFECYCLE = r"""
import json, os, sys
import sqlalchemy.exc
from zunt_core.authentication import AuthenticationDbSettings, init_auth_services
from zunt_core.authentication import service
from zunt_core.authentication.database import DatabaseAdapter

SLOTS = %(slots)r
slots = lambda: [getattr(service, name) for name in SLOTS]
out = {}
settings = AuthenticationDbSettings(database_authentication_url=%(unreachable)r, auth_secret_key="k")
for url in (%(unreachable)r, "not a url"):
    settings.database_authentication_url = url
    try:
        init_auth_services(settings)
        out.setdefault("failed", []).append("nothing raised")
    except Exception as e:
        out.setdefault("failed", []).append(type(e).__module__ + "." + type(e).__name__)
out["after_failures"] = [repr(s) for s in slots()] + [service._initialized]

settings.database_authentication_url = %(url)r
init_auth_services(settings)
first, first_engine = slots(), DatabaseAdapter.engine
out["first"] = [type(s).__name__ for s in first] + [service._initialized]
client = first[0].create_client("first")
init_auth_services(settings)
second = slots()
out["replaced"] = [a is not b for a, b in zip(first, second)]
out["new_engine"] = DatabaseAdapter.engine is not first_engine
# services taken before keep working on the earlier engine
user = first[3].create_user(client.api_key, "ada")
token = second[5].authenticate_user(client.api_key, "ada", user.secret)
out["old_and_new_agree"] = str(first[7].verify_token_and_get_user_id(client.api_key, token.token)) == str(user.id)

settings.database_authentication_url = %(unreachable)r
try:
    init_auth_services(settings)
except sqlalchemy.exc.OperationalError:
    pass
out["kept_after_a_failure"] = all(a is b for a, b in zip(second, slots())) and service._initialized is True
print(json.dumps(out))
"""


def test_lifecycle_in_a_fresh_interpreter(new_database, catalog):
    url = new_database()
    out = run(_LIFECYCLE % {"slots": SLOTS, "unreachable": UNREACHABLE, "url": url})
    assert out["failed"] == ["sqlalchemy.exc.OperationalError", "sqlalchemy.exc.ArgumentError"]
    assert out["after_failures"] == ["None"] * 10 + [False]
    assert out["first"] == [cls.__name__ for cls in SLOT_CLASSES.values()] + [True]
    assert out["replaced"] == [True] * 10 and out["new_engine"]
    assert out["old_and_new_agree"] and out["kept_after_a_failure"]
    assert [v[1] for v in catalog(url).versions()] == [3]  # current after the first start; nothing to do again


def test_one_shared_service_graph(auth):
    s = {name: getattr(auth, name) for name in SLOTS}
    for name, cls in SLOT_CLASSES.items():
        assert type(s[name]) is cls
    aware = s["client_aware_service"]
    for name in ("verify_token_service", "revoke_token_service", "get_user_service", "create_user_service"):
        assert s[name].client_aware_service is aware
    assert s["authenticate_user_service"].create_token_service is s["create_token_service"]
    assert s["authenticate_user_service"].user_service is s["get_user_service"]
    assert s["get_user_service"].third_party_integration_service is s["third_party_integration_service"]
    assert aware.verify_client_service is not s["verify_client_service"]
    clients = s["create_client_service"].client_repository
    assert aware.client_repository is clients and s["verify_client_service"].client_repository is clients
    assert aware.verify_client_service.client_repository is clients
    users = s["get_user_service"].user_repository
    assert s["create_user_service"].user_repository is users
    tokens = s["create_token_service"].token_repository
    assert s["verify_token_service"].token_repository is tokens and s["revoke_token_service"].token_repository is tokens
    integrations = s["third_party_integration_service"].third_party_integration_repository
    repositories = [clients, users, tokens, integrations]
    assert [type(r).__name__ for r in repositories] == [
        "SqlAlchemyClientRepository", "SqlAlchemyUserRepository", "SqlAlchemyTokenRepository",
        "SqlAlchemyThirdPartyIntegrationRepository"]
    assert all(r.db is clients.db for r in repositories)  # one data store's session registry


@pytest.fixture
def slots_kept():
    saved = {name: getattr(service, name) for name in [*SLOTS, "_initialized"]}
    yield
    for name, value in saved.items():
        setattr(service, name, value)


def test_init_reads_only_the_url_of_what_it_is_given(auth, slots_kept, new_database):
    saved = DatabaseAdapter.engine, DatabaseAdapter.db
    try:
        init_auth_services(types.SimpleNamespace(database_authentication_url=new_database()))
        client = service.create_client_service.create_client("made through the slot")
        assert service.verify_client_service.is_api_key_valid(client.api_key) is True
        assert service._initialized is True
    finally:
        DatabaseAdapter.engine.dispose()
        DatabaseAdapter.engine, DatabaseAdapter.db = saved


def marked(name):
    return types.SimpleNamespace(slot=name)


def test_set_services_publishes_in_order_and_stops_at_a_missing_key(slots_kept):
    service.set_services({name: marked(name) for name in SLOTS})
    before = {name: getattr(service, name) for name in SLOTS}
    service._initialized = "untouched"
    partial = {name: marked(name + "-new") for name in SLOTS if name != "get_user_service"}
    with pytest.raises(KeyError) as info:
        service.set_services(partial)
    assert info.value.args == ("get_user_service",)
    for index, name in enumerate(SLOTS):
        expected = partial[name] if index < 4 else before[name]
        assert getattr(service, name) is expected, name
    assert service._initialized == "untouched"


def test_set_services_flag_extra_keys_and_values_as_given(slots_kept):
    services = {name: None for name in SLOTS} | {"extra_service": object()}
    service.set_services(services, initialized=False)
    assert all(getattr(service, name) is None for name in SLOTS) and service._initialized is False
    assert not hasattr(service, "extra_service")
    values = {name: marked(name) for name in reversed(SLOTS)}  # any mapping, any insertion order
    service.set_services(types.MappingProxyType(values))
    assert all(getattr(service, name) is values[name] for name in SLOTS) and service._initialized is True


def test_a_slot_is_read_when_used(slots_kept):
    from zunt_core.authentication.service import verify_token_service as taken_before

    replacement = marked("verify")
    service.set_services({name: replacement if name == "verify_token_service" else None for name in SLOTS})
    assert service.verify_token_service is replacement and taken_before is not replacement
