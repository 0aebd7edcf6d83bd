"""Databases for the authentication tests, on the PostgreSQL server of the
run (`pg_server`, tests/conftest.py): a fresh database per test module,
`new_database()` for tests that need more, and `catalog(url)` to read a
database's schema from PostgreSQL's own catalog. Databases are dropped with
every connection to them closed. `auth` is the component started by
init_auth_services on the module's database, with its ten services.
"""

import sys
import uuid

import psycopg
import pytest
from sqlalchemy.engine import make_url


def _dispose_adapter():
    # The process-wide engine of the adapter, if a test made one.
    db = sys.modules.get("zunt_core.authentication.database")
    if db is not None and db.DatabaseAdapter.engine is not None:
        db.DatabaseAdapter.engine.dispose()


@pytest.fixture(scope="module")
def database_url(pg_server):
    """A fresh database for the test module."""
    name = pg_server.create_database(prefix="zunt_mod")
    yield pg_server.url_for(name)
    _dispose_adapter()
    pg_server.drop_database(name)


@pytest.fixture
def new_database(pg_server):
    """Makes empty databases on demand; each is dropped after the test."""
    made = []

    def make():
        name = pg_server.create_database()
        made.append(name)
        return pg_server.url_for(name)

    yield make
    _dispose_adapter()
    for name in made:
        pg_server.drop_database(name)


class Catalog:
    """The schema of the public tables as PostgreSQL's own catalog reports it."""

    def __init__(self, server, url):
        u = make_url(url)
        self._connect = lambda: psycopg.connect(
            host=u.host, port=u.port, user=u.username, password=u.password, dbname=u.database, autocommit=True)

    def query(self, sql, params=None):
        with self._connect() as conn:
            return conn.execute(sql, params).fetchall()

    def tables(self):
        return {r[0] for r in self.query(
            "SELECT table_name FROM information_schema.tables WHERE table_schema = 'public'")}

    def columns(self, table):
        """[(name, type, nullable, default)] in column order."""
        return [tuple(r) for r in self.query(
            "SELECT column_name, format_type(a.atttypid, a.atttypmod), NOT a.attnotnull, "
            "pg_get_expr(d.adbin, d.adrelid) "
            "FROM information_schema.columns c "
            "JOIN pg_attribute a ON a.attrelid = ('public.' || c.table_name)::regclass AND a.attname = c.column_name "
            "LEFT JOIN pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = a.attnum "
            "WHERE c.table_schema = 'public' AND c.table_name = %s ORDER BY c.ordinal_position", (table,))]

    def indexes(self, table):
        """{name: (unique, primary, [columns])}"""
        rows = self.query(
            "SELECT i.relname, ix.indisunique, ix.indisprimary, "
            "array_agg(a.attname ORDER BY k.ord) "
            "FROM pg_index ix JOIN pg_class i ON i.oid = ix.indexrelid JOIN pg_class t ON t.oid = ix.indrelid "
            "JOIN pg_namespace n ON n.oid = t.relnamespace "
            "JOIN LATERAL unnest(ix.indkey) WITH ORDINALITY AS k(attnum, ord) ON true "
            "JOIN pg_attribute a ON a.attrelid = t.oid AND a.attnum = k.attnum "
            "WHERE n.nspname = 'public' AND t.relname = %s GROUP BY i.relname, ix.indisunique, ix.indisprimary",
            (table,))
        return {r[0]: (r[1], r[2], list(r[3])) for r in rows}

    def constraints(self, table):
        """{name: (kind, [columns], referenced table or None)} for p, u and f constraints."""
        rows = self.query(
            "SELECT c.conname, c.contype, "
            "array(SELECT a.attname FROM unnest(c.conkey) WITH ORDINALITY AS k(attnum, ord) "
            "      JOIN pg_attribute a ON a.attrelid = c.conrelid AND a.attnum = k.attnum ORDER BY k.ord), "
            "CASE WHEN c.confrelid = 0 THEN NULL ELSE c.confrelid::regclass::text END "
            "FROM pg_constraint c JOIN pg_class t ON t.oid = c.conrelid JOIN pg_namespace n ON n.oid = t.relnamespace "
            "WHERE n.nspname = 'public' AND t.relname = %s AND c.contype IN ('p', 'u', 'f')", (table,))
        return {r[0]: (r[1], list(r[2]), r[3]) for r in rows}

    def versions(self):
        return [tuple(r) for r in self.query(
            "SELECT id, version, description, applied_at FROM zunt_auth_database_versions ORDER BY id")]


@pytest.fixture
def catalog(pg_server):
    return lambda url: Catalog(pg_server, url)


@pytest.fixture(scope="module")
def data_store(database_url):
    """A data store on the module's database, brought to the current schema."""
    from zunt_core.authentication.database import SQLAlchemySQLDataStore, initialize_authentication_db

    store = SQLAlchemySQLDataStore(database_url)
    initialize_authentication_db(store)
    yield store
    store.engine.dispose()


class DirectSql:
    """Plain SQL on a data store's database, beside the repositories: seeds
    rows the repositories depend on and reads back what they stored."""

    def __init__(self, engine):
        self.engine = engine

    def run(self, statement, **params):
        from sqlalchemy import text

        with self.engine.begin() as conn:
            result = conn.execute(text(statement), params)
            return result.all() if result.returns_rows else None

    def client(self, active=True):
        client_id = uuid.uuid4()
        self.run("INSERT INTO clients (id, name, secret, is_active, created_at) "
                 "VALUES (:id, :name, :secret, :active, now())",
                 id=client_id, name=f"client-{client_id}", secret=f"secret-{client_id}", active=active)
        return client_id

    def user(self, client_id, identifier=None, active=True):
        user_id = uuid.uuid4()
        self.run("INSERT INTO users (id, identifier, secret, secret_preview, is_active, client_id) "
                 "VALUES (:id, :identifier, 'hash', 'preview', :active, :client_id)",
                 id=user_id, identifier=identifier or f"user-{user_id}", active=active, client_id=client_id)
        return user_id

    def count(self, table, where="true", **params):
        return self.run(f"SELECT count(*) FROM {table} WHERE {where}", **params)[0][0]


@pytest.fixture
def sql(data_store):
    return DirectSql(data_store.engine)


@pytest.fixture
def assert_scope_closed():
    """Checks that the last repository operation on this thread left nothing
    open: no connection checked out of the pool, no transaction on the
    thread's session, no row kept in it."""

    def check(store):
        assert store.engine.pool.checkedout() == 0
        session = store.db()
        assert not session.in_transaction()
        assert len(session.identity_map) == 0 and not session.new and not session.dirty

    return check


@pytest.fixture
def run_fresh():
    """Runs code in a fresh interpreter and answers what it printed as JSON."""
    import json
    import subprocess

    def run(code):
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
        assert done.returncode == 0, done.stderr
        return json.loads(done.stdout)

    return run


# ---------------------------------------------------------------------------
# The authentication component started by init_auth_services on the module's
# database, for the tests of the services. The settings are the process-wide
# instance, made afresh for the module with a signing key that no text of the
# library could hold by chance, and put back afterwards with the slots.

SIGNING_KEY = "zunt-test-signing-key-7f3c9e1b-Qx8"
SLOTS = (
    "create_client_service", "client_aware_service", "verify_client_service", "create_user_service",
    "get_user_service", "authenticate_user_service", "create_token_service", "verify_token_service",
    "revoke_token_service", "third_party_integration_service",
)


class Component:
    """The published services of one initialisation, the settings, and the database under them."""

    def __init__(self, settings, url, services):
        self.settings = settings
        self.url = url
        for name, service in services.items():
            setattr(self, name, service)
        self._made = 0

    def sql(self, statement, params=None):
        """Runs one statement on a connection of its own; the rows, when it answers any."""
        u = make_url(self.url)
        with psycopg.connect(host=u.host, port=u.port, user=u.username, password=u.password, dbname=u.database,
                             autocommit=True) as conn:
            cursor = conn.execute(statement, params)
            return cursor.fetchall() if cursor.description else None

    def unique(self, stem):
        self._made += 1
        return f"{stem}-{self._made}-{uuid.uuid4().hex[:6]}"

    def new_client(self, name=None):
        return self.create_client_service.create_client(name or self.unique("client"))

    def new_user(self, client, identifier=None):
        return self.create_user_service.create_user(client.api_key, identifier or self.unique("user"))

    def login(self, client, user):
        return self.authenticate_user_service.authenticate_user(client.api_key, user.identifier, user.secret)


def start_component(url, **settings_args):
    from zunt_core.authentication import AuthenticationDbSettings, init_auth_services
    from zunt_core.authentication import service

    AuthenticationDbSettings._instance = None
    settings = AuthenticationDbSettings(
        database_authentication_url=url, auth_secret_key=SIGNING_KEY, auth_algorithm="HS256",
        auth_access_token_expire_minutes=43200, **settings_args)
    init_auth_services(settings)
    return Component(settings, url, {name: getattr(service, name) for name in SLOTS})


@pytest.fixture(scope="module")
def auth(database_url):
    """The authentication component on the module's database."""
    from zunt_core.authentication import AuthenticationDbSettings
    from zunt_core.authentication import service
    from zunt_core.authentication.database import DatabaseAdapter

    saved = (AuthenticationDbSettings._instance, {name: getattr(service, name) for name in SLOTS + ("_initialized",)})
    component = start_component(database_url)
    engine = DatabaseAdapter.engine
    yield component
    engine.dispose()
    AuthenticationDbSettings._instance = saved[0]
    for name, value in saved[1].items():
        setattr(service, name, value)
