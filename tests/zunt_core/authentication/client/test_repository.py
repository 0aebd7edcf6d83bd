import datetime
import logging
import uuid

import pytest
from sqlalchemy import exc

from zunt_core.authentication.client.repository.models import ClientBasic, ClientModel
from zunt_core.authentication.client.repository.sqlalchemy.repository import SqlAlchemyClientRepository


@pytest.fixture
def repo(data_store):
    return SqlAlchemyClientRepository(data_store)


def new_client(**values):
    client_id = uuid.uuid4()
    return ClientBasic(**{"id": client_id, "name": f"name-{client_id}", "secret": f"secret-{client_id}", **values})


def problems(caplog):
    return [(r.name, r.levelno, r.getMessage(), r.exc_info) for r in caplog.records if r.levelno >= logging.WARNING]


def test_create_client(repo, data_store, sql, assert_scope_closed):
    given = new_client()
    before = datetime.datetime.now()
    first = repo.create_client(given)
    between = datetime.datetime.now()
    second = repo.create_client(new_client())
    after = datetime.datetime.now()
    assert_scope_closed(data_store)
    assert type(first) is ClientModel
    assert (first.id, first.name, first.secret, first.is_active) == (given.id, given.name, given.secret, True)
    # Each carries the time of its own insert.
    assert before <= first.created_at <= between <= second.created_at <= after
    assert sql.run("SELECT name, secret, is_active, created_at FROM clients WHERE id = :id", id=given.id) == [
        (given.name, given.secret, True, first.created_at)]


@pytest.mark.parametrize("same", ["name", "secret"])
def test_create_client_with_a_taken_name_or_secret(repo, data_store, sql, assert_scope_closed, caplog, same):
    taken = repo.create_client(new_client())
    duplicate = new_client(**{same: getattr(taken, same)})
    with pytest.raises(exc.IntegrityError):
        repo.create_client(duplicate)
    assert_scope_closed(data_store)
    assert sql.count("clients", "id = :id", id=duplicate.id) == 0
    assert problems(caplog) == []
    # The thread's session is usable at once.
    assert repo.create_client(new_client()).is_active is True
    assert repo.get_client_by_id(taken.id) == taken


def test_get_client_by_id(repo, data_store, sql, assert_scope_closed, caplog):
    caplog.set_level(logging.DEBUG)
    active = sql.client()
    found = repo.get_client_by_id(active)
    assert_scope_closed(data_store)
    assert type(found) is ClientModel
    assert (found.id, found.name, found.secret, found.is_active) == (active, f"client-{active}", f"secret-{active}",
                                                                     True)
    assert isinstance(found.created_at, datetime.datetime)
    inactive = sql.client(active=False)
    no_flag = uuid.uuid4()
    sql.run("INSERT INTO clients (id, name, secret) VALUES (:id, 'no flag', 'no flag')", id=no_flag)
    for missing in (inactive, no_flag, uuid.uuid4()):
        assert repo.get_client_by_id(missing) is None
    assert_scope_closed(data_store)
    assert [r for r in caplog.records if r.name == "root"] == []


def test_client_without_creation_time(repo, sql):
    client_id = uuid.uuid4()
    sql.run("INSERT INTO clients (id, name, secret, is_active) VALUES (:id, :id, :id, true)", id=client_id)
    assert repo.get_client_by_id(client_id).created_at is None


def test_failed_query_is_logged_and_answers_none(repo, data_store, sql, assert_scope_closed, caplog):
    client_id = sql.client()
    sql.run("ALTER TABLE clients RENAME TO clients_away")
    try:
        assert repo.get_client_by_id(client_id) is None
    finally:
        sql.run("ALTER TABLE clients_away RENAME TO clients")
    assert_scope_closed(data_store)
    [(name, level, message, exc_info)] = problems(caplog)
    assert (name, level, exc_info) == ("root", logging.ERROR, None)
    assert message.startswith("An error occurred: (psycopg.errors.UndefinedTable) relation \"clients\" does not exist")
    assert repo.get_client_by_id(client_id).id == client_id


def test_failed_conversion_is_logged_and_answers_none(repo, sql, caplog):
    client_id = uuid.uuid4()
    sql.run("INSERT INTO clients (id, secret, is_active) VALUES (:id, :id, true)", id=client_id)  # no name
    assert repo.get_client_by_id(client_id) is None
    [(name, level, message, _)] = problems(caplog)
    assert (name, level) == ("root", logging.ERROR)
    assert message.startswith("An error occurred: 1 validation error for ClientModel\nname\n")


class Unusual(BaseException):
    """Not an ordinary error: never turned into an answer."""


class ScriptedSession:
    """A session whose steps fail on request; records how its scope ended."""

    def __init__(self, fail):
        self.fail, self.exits = fail, []

    def __enter__(self):
        if "enter" in self.fail:
            raise self.fail["enter"]
        return self

    def __exit__(self, kind, value, traceback):
        self.exits.append(kind)
        if "exit" in self.fail:
            raise self.fail["exit"]

    def query(self, *entities):
        raise self.fail["query"]

    def add(self, row):
        raise self.fail["add"]


class ScriptedStore:
    def __init__(self, **fail):
        self.session = ScriptedSession(fail)
        self.fail = fail

    def db(self):
        if "db" in self.fail:
            raise self.fail["db"]
        return self.session


@pytest.mark.parametrize("step, error, exits", [
    ("db", RuntimeError("no session"), []),
    ("enter", RuntimeError("cannot begin"), []),
    ("exit", RuntimeError("cannot close"), [None]),
    ("query", Unusual("stop"), [Unusual]),
])
def test_session_errors_and_unusual_errors_reach_the_caller(step, error, exits):
    fail = {step: error} if step != "exit" else {"exit": error, "query": ValueError("logged")}
    store = ScriptedStore(**fail)
    with pytest.raises(type(error)) as raised:
        SqlAlchemyClientRepository(store).get_client_by_id(uuid.uuid4())
    assert raised.value is error
    assert store.session.exits == exits


def test_ordinary_query_error_leaves_the_scope_normally(caplog):
    store = ScriptedStore(query=LookupError("boom"))
    assert SqlAlchemyClientRepository(store).get_client_by_id(uuid.uuid4()) is None
    assert store.session.exits == [None]
    assert problems(caplog) == [("root", logging.ERROR, "An error occurred: boom", None)]


def test_create_client_catches_nothing(caplog):
    store = ScriptedStore(enter=RuntimeError("cannot begin"))
    with pytest.raises(RuntimeError, match="cannot begin"):
        SqlAlchemyClientRepository(store).create_client(new_client())
    # An error while closing the session after a failed insert is the one
    # that reaches the caller, with the insert's error as its context.
    failed_insert = ValueError("insert failed")
    store = ScriptedStore(add=failed_insert, exit=RuntimeError("cannot close"))
    with pytest.raises(RuntimeError, match="cannot close") as raised:
        SqlAlchemyClientRepository(store).create_client(new_client())
    assert raised.value.__context__ is failed_insert and store.session.exits == [ValueError]
    assert problems(caplog) == []
