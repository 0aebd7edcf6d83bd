import logging
import types
import uuid

import pytest
from sqlalchemy.exc import IntegrityError

import zunt_core.authentication.client.service as service_package
from zunt_core.authentication.client.helper.helper import ClientHelper
from zunt_core.authentication.client.repository.models import Client, ClientBasic, ClientModel
from zunt_core.authentication.client.repository.sqlalchemy.repository import SqlAlchemyClientRepository
from zunt_core.authentication.client.service import ClientAwareService, CreateClientService, VerifyClientService
from zunt_core.authentication.common.base64_helper import encode_base64
from zunt_core.authentication.database import DatabaseAdapter, SQLAlchemySQLDataStore
from zunt_core.exception import InvalidClientException


def test_package_exports():
    assert service_package.__doc__ == "Services for Client Related"
    assert service_package.__all__ == ["ClientAwareService", "CreateClientService", "VerifyClientService"]


def test_constructors_keep_their_argument_then_make_their_own(auth):
    repository = auth.create_client_service.client_repository
    assert list(vars(auth.create_client_service)) == ["client_repository", "client_helper"]
    assert list(vars(auth.verify_client_service)) == ["client_repository", "client_helper"]
    assert list(vars(auth.client_aware_service)) == ["client_repository", "verify_client_service", "client_helper"]
    inner = auth.client_aware_service.verify_client_service
    assert type(inner) is VerifyClientService and inner.client_repository is repository
    assert inner is not auth.verify_client_service
    for service in (auth.create_client_service, auth.verify_client_service, auth.client_aware_service, inner):
        assert type(service.client_helper) is ClientHelper
    assert auth.create_client_service.client_helper is not auth.verify_client_service.client_helper
    for cls in (ClientAwareService, CreateClientService, VerifyClientService):
        assert cls.__bases__ == (object,)


def test_create_client(auth):
    client = auth.create_client_service.create_client("Ünïcode client.name")
    assert type(client) is Client and client.is_active is True and client.created_at is not None
    assert client.name == "Ünïcode client.name" and client.id.version == 4
    read = ClientHelper().to_client(client.api_key)
    stored = auth.sql("SELECT id, name, secret, is_active FROM clients WHERE id = %s", (client.id,))
    assert stored == [(read.id, read.name, read.secret, True)]
    auth.verify_client_service.verify_api_key(client.api_key)
    assert auth.client_aware_service.get_client_id_by_api_key(client.api_key) == client.id
    found = auth.client_aware_service.get_client_by_api_key(client.api_key)
    assert type(found) is ClientModel and found.id == client.id and found.secret == read.secret


def test_two_clients_differ_and_a_stored_name_is_refused(auth):
    first, second = auth.new_client(), auth.new_client()
    assert first.id != second.id and first.api_key != second.api_key
    assert ClientHelper().to_client(first.api_key).secret != ClientHelper().to_client(second.api_key).secret
    count = auth.sql("SELECT count(*) FROM clients")[0][0]
    with pytest.raises(IntegrityError) as info:
        auth.create_client_service.create_client(first.name)
    assert auth.sql("SELECT count(*) FROM clients")[0][0] == count
    # The refused client's generated secret is among the statement's
    # parameters; the error's text does not show them.
    params = info.value.params
    secrets = [v for v in (params.values() if isinstance(params, dict) else params) if isinstance(v, str)]
    assert secrets and all(secret not in str(info.value) for secret in secrets if secret != first.name)


def key_with(client, **segments):
    read = ClientHelper().to_client(client.api_key)
    parts = {"prefix": "sk-client-", "id": encode_base64(str(read.id)), "name": encode_base64(read.name),
             "secret": read.secret, **segments}
    return parts["prefix"] + ".".join((parts["id"], parts["name"], parts["secret"]))


@pytest.fixture(scope="module")
def client(auth):
    return auth.new_client()


@pytest.mark.parametrize(
    "change",
    [
        {"name": encode_base64("some other name")},
        {"name": ""},
        {"prefix": "XX-XXXXXX-"},
        {"secret": lambda s: s + ".trailing.segments"},
        {"id": lambda s: encode_base64(s.upper())},
    ],
    ids=["other-name", "empty-name", "other-prefix", "appended-segments", "upper-case-id"],
)
def test_keys_that_still_name_and_prove_the_client(auth, client, change):
    read = ClientHelper().to_client(client.api_key)
    if callable(change.get("secret")):
        change = {"secret": change["secret"](read.secret)}
    if callable(change.get("id")):
        change = {"id": change["id"](str(read.id))}
    key = key_with(client, **change)
    assert auth.verify_client_service.is_api_key_valid(key) is True
    assert auth.client_aware_service.get_client_by_api_key(key).id == client.id


WRONG_SECRETS = {
    "another-secret": lambda s: ClientHelper().generate_secret(),
    "one-character-changed": lambda s: s[:-1] + ("A" if s[-1] != "A" else "B"),
    "prefix-of-it": lambda s: s[:-1],
    "longer": lambda s: s + "x",
    "empty": lambda s: "",
    "case-changed": lambda s: s.swapcase(),
    "non-ascii": lambda s: s[:-1] + "é",
    "lone-surrogate": lambda s: s[:-1] + "\udcff",
}


@pytest.mark.parametrize("case", WRONG_SECRETS)
def test_a_wrong_secret_is_refused_everywhere(auth, client, case):
    key = key_with(client, secret=WRONG_SECRETS[case](ClientHelper().to_client(client.api_key).secret))
    assert auth.verify_client_service.is_api_key_valid(key) is False
    for call in (auth.verify_client_service.verify_api_key, auth.client_aware_service.get_client_id_by_api_key,
                 auth.client_aware_service.get_client_by_api_key):
        with pytest.raises(InvalidClientException) as info:
            call(key)
        assert str(info.value) == "Invalid API Key." and info.value.__cause__ is None


def test_non_ascii_secrets_compare_over_their_utf8_bytes(auth):
    # A stored secret outside ASCII (not one generate_secret makes, but one the repository stores).
    repository = auth.create_client_service.client_repository
    record = ClientBasic(id=uuid.uuid4(), name=auth.unique("non-ascii"), secret="sécret-Ω-✓-😀")
    repository.create_client(record)
    helper = ClientHelper()
    assert auth.verify_client_service.is_api_key_valid(helper.build_api_key(record)) is True
    for other in ("sécret-Ω-✓-😁", "secret-Ω-✓-😀", "sécret-Ω-✓-", "sécret-Ω-✓-😀-", "sécret-Ω-✓-\ud83d\ude00",
                  "sécret-Ω-✓-\udcf0\udc9f\udc98\udc80"):
        key = helper.build_api_key(record.model_copy(update={"secret": other}))
        assert auth.verify_client_service.is_api_key_valid(key) is False, other


def test_a_deactivated_client_is_refused(auth):
    client = auth.new_client()
    auth.sql("UPDATE clients SET is_active = false WHERE id = %s", (client.id,))
    assert auth.verify_client_service.is_api_key_valid(client.api_key) is False
    with pytest.raises(InvalidClientException, match=r"^Invalid API Key\.$"):
        auth.client_aware_service.get_client_id_by_api_key(client.api_key)
    with pytest.raises(InvalidClientException, match=r"^Client not found\.$"):
        auth.client_aware_service.get_client_by_id(client.id)


def test_unknown_client_ids(auth, client):
    other = ClientBasic(id=uuid.uuid4(), name="ghost", secret=ClientHelper().generate_secret())
    assert auth.verify_client_service.is_api_key_valid(ClientHelper().build_api_key(other)) is False
    with pytest.raises(InvalidClientException) as info:
        auth.client_aware_service.get_client_by_id(other.id)
    assert str(info.value) == "Client not found." and info.value.status_code == 404


@pytest.mark.parametrize("key, message", [
    ("sk-client-a.b", "Invalid API Key."),
    ("sk-client-" + encode_base64("nope") + ".YQ.s", "badly formed hexadecimal UUID string"),
    (None, "'NoneType' object is not subscriptable"),
])
def test_an_unreadable_key_raises_rather_than_answering_false(auth, key, message):
    for call in (auth.verify_client_service.is_api_key_valid, auth.verify_client_service.verify_api_key,
                 auth.client_aware_service.get_client_id_by_api_key, auth.client_aware_service.get_client_by_api_key):
        with pytest.raises(InvalidClientException) as info:
            call(key)
        assert str(info.value) == message


def test_a_client_gone_between_the_two_lookups_is_not_found(auth):
    client = auth.new_client()

    class DeactivatingAfterFirstLookup(SqlAlchemyClientRepository):
        lookups = 0

        def get_client_by_id(self, client_id):
            found = super().get_client_by_id(client_id)
            type(self).lookups += 1
            if type(self).lookups == 1:
                auth.sql("UPDATE clients SET is_active = false WHERE id = %s", (client_id,))
            return found

    repository = DeactivatingAfterFirstLookup(types.SimpleNamespace(db=auth.create_client_service.client_repository.db))
    with pytest.raises(InvalidClientException) as info:
        ClientAwareService(repository).get_client_by_api_key(client.api_key)
    assert str(info.value) == "Client not found." and DeactivatingAfterFirstLookup.lookups == 2


@pytest.fixture
def unreachable_store():
    saved = DatabaseAdapter.engine, DatabaseAdapter.db
    store = SQLAlchemySQLDataStore("postgresql+psycopg://nobody@127.0.0.1:9/none?connect_timeout=2")
    yield store
    store.engine.dispose()
    DatabaseAdapter.engine, DatabaseAdapter.db = saved


def test_an_unreachable_database_refuses_every_key_and_logs_each_lookup(auth, client, unreachable_store, caplog):
    service = VerifyClientService(SqlAlchemyClientRepository(unreachable_store))
    aware = ClientAwareService(SqlAlchemyClientRepository(unreachable_store))
    caplog.set_level(logging.ERROR)
    assert service.is_api_key_valid(client.api_key) is False
    with pytest.raises(InvalidClientException, match=r"^Invalid API Key\.$"):
        aware.get_client_by_api_key(client.api_key)
    with pytest.raises(InvalidClientException, match=r"^Client not found\.$"):
        aware.get_client_by_id(client.id)
    errors = [r for r in caplog.records if r.levelno == logging.ERROR]
    assert len(errors) == 3
    assert all(r.name == "root" and r.getMessage().startswith("An error occurred: ") for r in errors)
