"""The component under concurrent use, and with its database restarted under it."""

import logging
import os
import shutil
import sys
import tempfile
import threading
import types

import psycopg
import pytest
import sqlalchemy.exc
from jose.exceptions import JWTError
from sqlalchemy.engine import make_url

from zunt_core.authentication import service
from zunt_core.authentication.database import DatabaseAdapter
from zunt_core.authentication.provider import init_auth_services
from zunt_core.exception import InvalidClientException

THREADS = 8
LOGINS = 3
SLOTS = ("create_client_service", "create_user_service", "authenticate_user_service", "verify_token_service",
         "revoke_token_service")


def test_threads_log_in_verify_and_revoke_at_once(auth):
    client = auth.new_client()
    users = [auth.new_user(client) for _ in range(THREADS)]
    start = threading.Barrier(THREADS)
    errors, results = [], {}

    def work(user):
        try:
            start.wait()
            issued, revoked = [], []
            for round in range(LOGINS):
                token = auth.login(client, user)
                issued.append(token)
                for earlier in issued:
                    if earlier not in revoked:
                        assert auth.verify_token_service.verify_token_and_get_user_id(
                            client.api_key, earlier.token) == user.id
                if round % 2 == 0:
                    assert auth.revoke_token_service.revoke_token(client.api_key, token.token) is True
                    revoked.append(token)
                for gone in revoked:
                    with pytest.raises(JWTError, match=r"^Token has been revoked\.$"):
                        auth.verify_token_service.verify_token_and_get_user_id(client.api_key, gone.token)
            results[user.id] = (issued, revoked)
        except BaseException as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=work, args=(user,)) for user in users]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    assert len(results) == THREADS
    for user_id, (issued, revoked) in results.items():
        rows = dict(auth.sql("SELECT id, is_revoked FROM tokens WHERE user_id = %s", (user_id,)))
        assert rows == {t.id: t in revoked for t in issued}


# --- a restart of the database server under the running component, on a cluster of its own


sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "..", "scripts"))
import pgcluster  # noqa: E402


@pytest.fixture
def own_cluster():
    directory = tempfile.mkdtemp(prefix="zunt-pg-restart-")
    try:
        url = pgcluster.start(directory)
        with psycopg.connect(make_url(url).set(drivername="postgresql").render_as_string(hide_password=False),
                             autocommit=True) as conn:
            conn.execute('CREATE DATABASE "restart"')
        yield directory, make_url(url).set(database="restart").render_as_string(hide_password=False)
    finally:
        pgcluster.stop(directory)
        shutil.rmtree(directory, ignore_errors=True)


@pytest.fixture
def component_on(auth):
    """Starts the component on a URL with the module's settings; everything put back afterwards."""
    saved = {name: getattr(service, name) for name in (*SLOTS, "_initialized")}, DatabaseAdapter.engine, \
        DatabaseAdapter.db
    engines = []

    def start(url):
        init_auth_services(types.SimpleNamespace(database_authentication_url=url))
        engines.append(DatabaseAdapter.engine)
        return types.SimpleNamespace(**{name: getattr(service, name) for name in SLOTS})

    yield start
    for engine in engines:
        engine.dispose()
    for name, value in saved[0].items():
        setattr(service, name, value)
    DatabaseAdapter.engine, DatabaseAdapter.db = saved[1], saved[2]


def test_a_restarted_database(own_cluster, component_on, caplog):
    directory, url = own_cluster
    c = component_on(url)
    client = c.create_client_service.create_client("before")
    user = c.create_user_service.create_user(client.api_key, "ada")
    login = lambda: c.authenticate_user_service.authenticate_user(client.api_key, "ada", user.secret)  # noqa: E731
    token = login()
    assert c.verify_token_service.verify_token_and_get_user_id(client.api_key, token.token) == user.id

    pgcluster.restart(directory)
    # The operation that meets a connection the restart broke fails with the toolkit's error ...
    with pytest.raises(sqlalchemy.exc.OperationalError) as info:
        c.create_client_service.create_client("during")
    assert info.value.connection_invalidated
    # ... and the next ones run on new connections; what was committed before is there.
    assert c.verify_token_service.verify_token_and_get_user_id(client.api_key, token.token) == user.id
    second = login()
    assert c.revoke_token_service.revoke_token(client.api_key, token.token) is True
    assert c.create_client_service.create_client("after").name == "after"

    # A key check that meets a broken connection answers as for no client (the look-up logs the
    # failure and answers no record); the one after it succeeds.
    pgcluster.restart(directory)
    caplog.set_level(logging.ERROR)
    with pytest.raises(InvalidClientException, match=r"^Invalid API Key\.$"):
        c.verify_token_service.verify_token_and_get_user_id(client.api_key, second.token)
    assert [r.getMessage()[:19] for r in caplog.records if r.name == "root"] == ["An error occurred: "]
    assert c.verify_token_service.verify_token_and_get_user_id(client.api_key, second.token) == user.id
    with psycopg.connect(make_url(url).set(drivername="postgresql").render_as_string(hide_password=False)) as conn:
        names = sorted(r[0] for r in conn.execute("SELECT name FROM clients"))
        tokens = dict(conn.execute("SELECT id, is_revoked FROM tokens").fetchall())
    assert names == ["after", "before"]
    assert tokens == {token.id: True, second.id: False}
