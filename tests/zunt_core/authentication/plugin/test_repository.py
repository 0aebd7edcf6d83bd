import inspect
import typing
import uuid

import pytest
from sqlalchemy import exc
from sqlalchemy.dialects import postgresql
from sqlalchemy.orm import Query, Session

# The client mapping loads all four, as the services do; the integration
# mapping's link to "DBClient" resolves only then.
import zunt_core.authentication.client.repository.sqlalchemy.models  # noqa: F401
from zunt_core.authentication.plugin.repository.models import ThirdPartyIntegrationAuth
from zunt_core.authentication.plugin.repository.sqlalchemy.models import DBThirdPartyIntegrationAuth
from zunt_core.authentication.plugin.repository.sqlalchemy.repository import SqlAlchemyThirdPartyIntegrationRepository

Auth = ThirdPartyIntegrationAuth
UUID = uuid.UUID


@pytest.fixture
def repo(data_store):
    return SqlAlchemyThirdPartyIntegrationRepository(data_store)


@pytest.fixture
def owner(sql):
    """A client and one of its users."""
    client_id = sql.client()
    return client_id, sql.user(client_id)


def record(owner, connector="mail", user_identifier="me@example.org", **values):
    client_id, user_id = owner
    return Auth(**{"client_id": client_id, "user_id": user_id, "connector": connector,
                   "user_identifier": user_identifier, "auth_string": "token", "auth_scopes": ["read"], **values})


def stored(sql, integration_id):
    rows = sql.run("SELECT client_id, user_id, connector, user_identifier, auth_string, auth_scopes, selected "
                   "FROM third_party_integration_auths WHERE id = :id", id=integration_id)
    return rows[0] if rows else None


def test_base_query_signature():
    cls = SqlAlchemyThirdPartyIntegrationRepository
    signature = inspect.signature(cls._get_integration_base_query)
    assert list(signature.parameters) == ["self", "session", "client_id", "user_id", "connector"]
    assert signature.parameters["connector"].default is None
    assert typing.get_type_hints(cls._get_integration_base_query) == {
        "session": Session, "client_id": UUID, "user_id": UUID, "connector": typing.Optional[str],
        "return": Query[DBThirdPartyIntegrationAuth]}


@pytest.mark.parametrize("connector, compared", [(None, False), ("", False), ("mail", True)])
def test_base_query_is_built_not_run(repo, data_store, connector, compared):
    client_id, user_id = uuid.uuid4(), uuid.uuid4()
    with data_store.db() as session:
        args = (session, client_id, user_id) if connector is None else (session, client_id, user_id, connector)
        query = repo._get_integration_base_query(*args)
        assert isinstance(query, Query) and session.get_bind().pool.checkedout() == 0
        sql = str(query.statement.compile(dialect=postgresql.dialect()))
        where = sql.split("WHERE")[1]
        assert "client_id = " in where and "user_id = " in where
        assert ("connector = " in where) is compared
        assert "ORDER BY" not in sql and "LIMIT" not in sql


def test_has_integration(repo, sql, owner, data_store, assert_scope_closed):
    client_id, user_id = owner
    assert [repo.has_integration(client_id, user_id, c) for c in ("mail", "", None)] == [False, False, False]
    repo.create_integration(record(owner, "mail"))
    assert [repo.has_integration(client_id, user_id, c) for c in ("mail", "chat", "", None)] == [True, False, True,
                                                                                               True]
    assert repo.has_integration(sql.client(), user_id, "") is False
    assert repo.has_integration(client_id, sql.user(client_id), "") is False
    assert_scope_closed(data_store)


def test_get_integration(repo, owner, data_store, assert_scope_closed):
    client_id, user_id = owner
    made = repo.create_integration(record(owner, "mail", "a", auth_scopes=["read", "write"]))
    repo.create_integration(record(owner, "chat", "b"))
    found = repo.get_integration(client_id, user_id, "mail", "a")
    assert_scope_closed(data_store)
    assert type(found) is Auth and found == made
    assert found.model_dump() == {"id": made.id, "client_id": client_id, "user_id": user_id, "connector": "mail",
                                  "user_identifier": "a", "selected": False, "auth_string": "token",
                                  "auth_scopes": ["read", "write"]}
    # Without a connector, any connector of the user.
    assert repo.get_integration(client_id, user_id, "", "b").connector == "chat"
    assert repo.get_integration(client_id, user_id, None, "a").connector == "mail"
    assert repo.get_integration(client_id, user_id, "chat", "a") is None
    assert repo.get_integration(client_id, user_id, "mail", "A") is None


def test_get_selected_integration(repo, owner):
    client_id, user_id = owner
    repo.create_integration(record(owner, "mail", "a"))
    assert repo.get_selected_integration(client_id, user_id, "mail") is None
    assert repo.get_selected_integration(client_id, user_id, "") is None
    chat = repo.create_integration(record(owner, "chat", "b", selected=True))
    assert repo.get_selected_integration(client_id, user_id, "mail") is None
    assert repo.get_selected_integration(client_id, user_id, "chat") == chat
    assert repo.get_selected_integration(client_id, user_id, "") == chat
    assert repo.get_selected_integration(client_id, user_id, None) == chat


def test_get_latest_created_integration(repo, owner):
    client_id, user_id = owner
    assert repo.get_latest_created_integration(client_id, user_id, "mail") is None
    first = repo.create_integration(record(owner, "mail", "a"))
    assert repo.get_latest_created_integration(client_id, user_id, "mail") == first
    second = repo.create_integration(record(owner, "mail", "b"))
    other = repo.create_integration(record(owner, "chat", "c"))
    assert repo.get_latest_created_integration(client_id, user_id, "mail") == second
    assert repo.get_latest_created_integration(client_id, user_id, "") == other


def test_get_integrations(repo, sql, owner, data_store, assert_scope_closed):
    client_id, user_id = owner
    assert repo.get_integrations(client_id, user_id) == []
    mine = [repo.create_integration(record(owner, c, i)) for c, i in (("mail", "a"), ("mail", "b"), ("chat", "a"))]
    # Another user of the client, and the same user id filed under another client.
    repo.create_integration(record((client_id, sql.user(client_id))))
    repo.create_integration(record((sql.client(), user_id)))
    found = repo.get_integrations(client_id, user_id)
    assert_scope_closed(data_store)
    assert type(found) is list and all(type(r) is Auth for r in found)
    assert sorted(found, key=lambda r: r.user_identifier + r.connector) == sorted(
        mine, key=lambda r: r.user_identifier + r.connector)


def test_get_integrations_by_connector(repo, sql, owner):
    connector = f"connector-{uuid.uuid4()}"
    assert repo.get_integrations_by_connector(connector) == []
    elsewhere = sql.client()
    made = {repo.create_integration(record(o, connector)).id
            for o in (owner, (owner[0], sql.user(owner[0])), (elsewhere, sql.user(elsewhere)))}
    repo.create_integration(record(owner, "other"))
    found = repo.get_integrations_by_connector(connector)
    assert type(found) is list and {r.id for r in found} == made and all(type(r) is Auth for r in found)
    assert repo.get_integrations_by_connector(None) == []
    assert repo.get_integrations_by_connector("") == []


def test_create_integration(repo, sql, owner, data_store, assert_scope_closed):
    given = record(owner, id=uuid.uuid4(), selected=True, auth_scopes=[])
    snapshot = given.model_dump()
    before = sql.run("SELECT localtimestamp")[0][0]
    made = repo.create_integration(given)
    after = sql.run("SELECT localtimestamp")[0][0]
    assert_scope_closed(data_store)
    assert type(made) is Auth and made is not given and given.model_dump() == snapshot
    assert made.id != given.id and made.id.version == 4
    assert made.model_dump() == {**snapshot, "id": made.id}
    assert stored(sql, given.id) is None
    assert stored(sql, made.id) == (*owner, "mail", "me@example.org", "token", [], True)
    [(created_at,)] = sql.run("SELECT created_at FROM third_party_integration_auths WHERE id = :id", id=made.id)
    assert before <= created_at <= after  # the database's time


@pytest.mark.parametrize("change", ["duplicate", "unknown client", "unknown user"])
def test_create_integration_refused(repo, sql, owner, data_store, assert_scope_closed, change):
    client_id, user_id = owner
    repo.create_integration(record(owner, user_identifier="taken"))
    refused = {"duplicate": record(owner, user_identifier="taken", auth_string="other"),
               "unknown client": record((uuid.uuid4(), user_id)),
               "unknown user": record((client_id, uuid.uuid4()))}[change]
    with pytest.raises(exc.IntegrityError):
        repo.create_integration(refused)
    assert_scope_closed(data_store)
    assert sql.count("third_party_integration_auths", "client_id = :c OR user_id = :u", c=client_id, u=user_id) == 1
    # The thread's session is usable at once.
    assert repo.create_integration(record(owner, user_identifier="next")).user_identifier == "next"


def test_update_integration(repo, sql, owner, data_store, assert_scope_closed):
    made = repo.create_integration(record(owner, "mail", "a"))
    other = record(owner, "mail", "b", auth_string="kept")  # the row of another account, never touched
    other = repo.create_integration(other)
    [(created_at,)] = sql.run("SELECT created_at FROM third_party_integration_auths WHERE id = :id", id=made.id)
    # Found by id alone: client, user, connector and identifier of the record are not compared nor written.
    change = made.model_copy(update={"client_id": uuid.uuid4(), "user_id": uuid.uuid4(), "connector": "chat",
                                     "user_identifier": "z", "auth_string": "new", "auth_scopes": ["x", "y"],
                                     "selected": True})
    updated = repo.update_integration(change)
    assert_scope_closed(data_store)
    assert type(updated) is Auth
    assert updated.model_dump() == {**made.model_dump(), "auth_string": "new", "auth_scopes": ["x", "y"],
                                    "selected": True}
    assert stored(sql, made.id) == (*owner, "mail", "a", "new", ["x", "y"], True)
    assert sql.run("SELECT created_at FROM third_party_integration_auths WHERE id = :id", id=made.id) == [
        (created_at,)]
    assert stored(sql, other.id)[4] == "kept"


def test_update_integration_of_no_row(repo, sql, owner):
    made = repo.create_integration(record(owner))
    for missing in (uuid.uuid4(), None):
        assert repo.update_integration(made.model_copy(update={"id": missing, "auth_string": "new"})) is None
    assert stored(sql, made.id)[4] == "token"


def test_returned_records_are_detached_values(repo, sql, owner):
    made = repo.create_integration(record(owner))
    made.auth_string = "changed"
    made.selected = True
    assert stored(sql, made.id)[4:] == ("token", ["read"], False)
    assert repo.get_integrations(*owner)[0].auth_string == "token"


def test_update_integration_refused_value(repo, sql, owner, data_store, assert_scope_closed):
    made = repo.create_integration(record(owner))
    with pytest.raises(exc.IntegrityError):
        repo.update_integration(made.model_copy(update={"auth_string": None}))
    assert_scope_closed(data_store)
    assert stored(sql, made.id)[4] == "token"


def test_delete_integration(repo, sql, owner, data_store, assert_scope_closed):
    client_id, user_id = owner
    keep = [repo.create_integration(record(owner, "mail", "b")),
            repo.create_integration(record(owner, "chat", "a")),
            repo.create_integration(record((client_id, sql.user(client_id)), "mail", "a"))]
    gone = repo.create_integration(record(owner, "mail", "a"))
    assert repo.delete_integration(client_id, user_id, "mail", "a") is None
    assert_scope_closed(data_store)
    assert stored(sql, gone.id) is None and all(stored(sql, r.id) for r in keep)
    # Nothing to delete: no error.
    assert repo.delete_integration(client_id, user_id, "mail", "a") is None


@pytest.mark.parametrize("connector", ["", None])
def test_delete_integration_always_compares_the_connector(repo, sql, owner, connector):
    client_id, user_id = owner
    mail = repo.create_integration(record(owner, "mail", "a"))
    empty = repo.create_integration(record(owner, "", "a"))
    repo.delete_integration(client_id, user_id, connector, "a")
    assert stored(sql, mail.id) is not None
    assert (stored(sql, empty.id) is None) is (connector == "")


def test_delete_integrations(repo, sql, owner):
    elsewhere = sql.client()
    made = [repo.create_integration(record(owner, "mail", i)) for i in "abc"]
    foreign = repo.create_integration(record((elsewhere, sql.user(elsewhere))))
    # Not scoped by client or user: any ids, of anyone.
    assert repo.delete_integrations([made[0].id, foreign.id, uuid.uuid4()]) is None
    assert [stored(sql, r.id) is None for r in (*made, foreign)] == [True, False, False, True]


class RecordingStore:
    """A data store whose registry records every call."""

    def __init__(self):
        self.calls = 0

    def db(self):
        self.calls += 1
        raise AssertionError("no session may be taken")


@pytest.mark.parametrize("ids", [[], None])
def test_delete_integrations_of_nothing_takes_no_session(ids):
    store = RecordingStore()
    assert SqlAlchemyThirdPartyIntegrationRepository(store).delete_integrations(ids) is None
    assert store.calls == 0


def test_row_without_owner_fails_validation(repo, sql, owner, data_store, assert_scope_closed):
    import pydantic

    connector = f"connector-{uuid.uuid4()}"
    sql.run("INSERT INTO third_party_integration_auths VALUES (:id, NULL, :c, :n, 'a', 'x', '{}', false, now())",
            id=uuid.uuid4(), c=owner[0], n=connector)
    with pytest.raises(pydantic.ValidationError, match="user_id"):
        repo.get_integrations_by_connector(connector)
    assert_scope_closed(data_store)


@pytest.fixture
def statements(data_store):
    """The SQL statements sent while the test runs, with their parameters."""
    from sqlalchemy import event

    sent = []

    def record(conn, cursor, statement, parameters, *rest):
        sent.append((" ".join(statement.split()), parameters))

    event.listen(data_store.engine, "before_cursor_execute", record)
    yield sent
    event.remove(data_store.engine, "before_cursor_execute", record)


def test_single_row_reads_fetch_one_row_and_deletes_load_none(repo, owner, statements):
    client_id, user_id = owner
    made = repo.create_integration(record(owner, "mail", "a"))
    for read in (lambda: repo.has_integration(client_id, user_id, "mail"),
                 lambda: repo.get_integration(client_id, user_id, "mail", "a"),
                 lambda: repo.get_selected_integration(client_id, user_id, "mail"),
                 lambda: repo.get_latest_created_integration(client_id, user_id, "mail")):
        statements.clear()
        read()
        [(select, parameters)] = statements
        assert select.startswith("SELECT") and " LIMIT %(param_1)s" in select and parameters["param_1"] == 1
    for delete in (lambda: repo.delete_integration(client_id, user_id, "mail", "a"),
                   lambda: repo.delete_integrations([made.id, uuid.uuid4()])):
        statements.clear()
        delete()
        [(sent, _)] = statements
        assert sent.startswith("DELETE FROM third_party_integration_auths WHERE")
