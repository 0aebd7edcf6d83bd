import datetime
import logging
import os
import subprocess
import sys
import textwrap
import uuid

import pytest
import sqlalchemy
from sqlalchemy import exc, text

from zunt_core.authentication.database import (
    SQLAlchemySQLDataStore,
    _create_versioning_table,
    initialize_authentication_db,
)
from zunt_core.authentication.database_migration.base_migration import DbMigration
from zunt_core.authentication.database_migration.migration import run_migrations
from zunt_core.authentication.database_migration.migration_versions.V1_init_table_auth import V1initTableAuth
from zunt_core.authentication.database_migration.migration_versions.V2_multi_account_integration import (
    V2multiAccountIntegration,
)
from zunt_core.authentication.database_migration.migration_versions.V3_add_integration_indexes import (
    V3AddIntegrationIndexes,
)

V3_DESCRIPTION = "Add composite indexes for authentication queries optimization"
VARCHAR, UUID, BOOL, TS = "character varying", "uuid", "boolean", "timestamp without time zone"

# The schema at version 3, as the catalog reports it. No column has a default.
COLUMNS = {
    "clients": [("id", UUID, False, None), ("name", VARCHAR, True, None), ("secret", VARCHAR, True, None),
                ("is_active", BOOL, True, None), ("created_at", TS, True, None)],
    "users": [("id", UUID, False, None), ("identifier", VARCHAR, True, None), ("secret", VARCHAR, True, None),
              ("secret_preview", VARCHAR, True, None), ("is_active", BOOL, True, None),
              ("client_id", UUID, True, None)],
    "tokens": [("id", UUID, False, None), ("user_id", UUID, True, None), ("client_id", UUID, True, None),
               ("is_revoked", BOOL, True, None)],
    "third_party_integration_auths": [
        ("id", UUID, False, None), ("user_id", UUID, True, None), ("client_id", UUID, True, None),
        ("connector", VARCHAR, False, None), ("user_identifier", VARCHAR, False, None),
        ("auth_string", VARCHAR, False, None), ("auth_scopes", VARCHAR + "[]", False, None),
        ("selected", BOOL, False, None), ("created_at", TS, False, None)],
}
INDEXES = {  # name: (unique, columns), primary keys aside
    "clients": {"ix_clients_id": (False, ["id"]), "ix_clients_name": (True, ["name"]),
                "ix_clients_secret": (True, ["secret"])},
    "users": {"ix_users_id": (False, ["id"]), "ix_users_identifier": (True, ["identifier"]),
              "uix_identifier_client": (True, ["identifier", "client_id"]),
              "idx_client_id_identifier": (False, ["client_id", "identifier"])},
    "tokens": {"ix_tokens_id": (False, ["id"]), "idx_tokens_user_id_client_id": (False, ["id", "user_id", "client_id"])},
    "third_party_integration_auths": {
        "ix_third_party_integration_auths_id": (False, ["id"]),
        "uix_client_user_connector_user_identifier": (True, ["client_id", "user_id", "connector", "user_identifier"]),
        "idx_client_id_user_id_connector": (False, ["client_id", "user_id", "connector"])},
}
FOREIGN_KEYS = {
    "clients": [], "users": [(["client_id"], "clients")],
    "tokens": [(["user_id"], "users"), (["client_id"], "clients")],
    "third_party_integration_auths": [(["user_id"], "users"), (["client_id"], "clients")],
}
UNIQUE_CONSTRAINTS = {
    "clients": {}, "tokens": {}, "users": {"uix_identifier_client": ["identifier", "client_id"]},
    "third_party_integration_auths": {
        "uix_client_user_connector_user_identifier": ["client_id", "user_id", "connector", "user_identifier"]},
}


def assert_current_schema(cat):
    assert cat.tables() == set(COLUMNS) | {"zunt_auth_database_versions"}
    for table in COLUMNS:
        assert cat.columns(table) == COLUMNS[table], table
        indexes = cat.indexes(table)
        assert indexes.pop(f"{table}_pkey") == (True, True, ["id"])
        assert {n: (u, cols) for n, (u, p, cols) in indexes.items()} == INDEXES[table], table
        constraints = cat.constraints(table)
        assert sorted((cols, ref) for kind, cols, ref in constraints.values() if kind == "f") == sorted(
            FOREIGN_KEYS[table]), table
        assert {n: cols for n, (kind, cols, ref) in constraints.items() if kind == "u"} == UNIQUE_CONSTRAINTS[table]
    assert cat.columns("zunt_auth_database_versions") == [
        ("id", "integer", False, "nextval('zunt_auth_database_versions_id_seq'::regclass)"),
        ("version", "integer", False, None), ("description", VARCHAR, True, None), ("applied_at", TS, True, None)]


def root_messages(caplog):
    return [r.getMessage() for r in caplog.records if r.name == "root"]


@pytest.fixture
def store(new_database):
    made = []

    def make(url=None):
        s = SQLAlchemySQLDataStore(url or new_database())
        made.append(s)
        return s

    yield make
    for s in made:
        s.engine.dispose()


def url_of(s):
    return s.engine.url.render_as_string(hide_password=False)


def sql(s, statement, **params):
    with s.engine.begin() as conn:
        return conn.execute(text(statement), params)


def seed_rows(s):
    """One client, one user, two integrations of that user; answers their ids."""
    client, user = uuid.uuid4(), uuid.uuid4()
    sql(s, "INSERT INTO clients (id, name, secret, is_active) VALUES (:id, 'c', 's', true)", id=client)
    sql(s, "INSERT INTO users (id, identifier, client_id) VALUES (:id, 'u', :c)", id=user, c=client)
    for ident in ("a", "b"):
        sql(s, "INSERT INTO third_party_integration_auths (id, user_id, client_id, connector, user_identifier, "
               "auth_string, auth_scopes) VALUES (:id, :u, :c, 'mail', :i, 'secret', '{read}')",
            id=uuid.uuid4(), u=user, c=client, i=ident)
    return client, user


def at_version_1(s):
    _create_versioning_table(s.engine)
    V1initTableAuth().migrate(s.engine)


def test_empty_database_reaches_version_3(store, catalog, caplog):
    caplog.set_level(logging.DEBUG)
    s = store()
    before = datetime.datetime.now()
    initialize_authentication_db(s)
    cat = catalog(url_of(s))
    assert_current_schema(cat)
    [(row_id, version, description, applied_at)] = cat.versions()
    assert (row_id, version, description) == (1, 3, V3_DESCRIPTION)
    assert before <= applied_at <= datetime.datetime.now()
    assert root_messages(caplog) == [
        "Creating database_versions table", "Created database_versions table",
        "Running migration: V1initTableAuth", "doing database migration",
        "Created clients table", "Created users table", "Created tokens table",
        "Created third_party_integration_auths table",
        "Recorded migration v1 in database_versions table.", "Migration 1 applied.",
        "Running migration: V2multiAccountIntegration", "Applying migration 2: Multi Account Integration",
        "Constraint 'uix_client_user_connector' does not exist",
        "Recorded migration v2 in database_versions table.", "Migration 2 applied.",
        "Running migration: V3AddIntegrationIndexes", f"Applying migration 3: {V3_DESCRIPTION}",
        "Created index 'idx_client_id_user_id_connector'", "Created index 'idx_tokens_user_id_client_id'",
        "Created index 'idx_client_id_identifier'",
        "Recorded migration v3 in database_versions table.", "Migration 3 applied.",
    ]


def test_current_database_is_left_alone(store, catalog, caplog):
    s = store()
    initialize_authentication_db(s)
    cat = catalog(url_of(s))
    rows = cat.versions()
    caplog.set_level(logging.DEBUG)
    initialize_authentication_db(s)
    assert cat.versions() == rows
    assert root_messages(caplog) == ["Table 'database_versions' already exists"] + [
        f"Skipping migration {v} (current version: 3)" for v in (1, 2, 3)]


def test_version_above_3_is_never_lowered(store, catalog, caplog):
    s = store()
    initialize_authentication_db(s)
    sql(s, "UPDATE zunt_auth_database_versions SET version = 7, description = 'later'")
    caplog.set_level(logging.DEBUG)
    initialize_authentication_db(s)
    assert [(v, d) for _, v, d, _ in catalog(url_of(s)).versions()] == [(7, "later")]
    assert root_messages(caplog)[1:] == [f"Skipping migration {v} (current version: 7)" for v in (1, 2, 3)]


@pytest.mark.parametrize("present", [["clients"], ["clients", "users", "tokens", "third_party_integration_auths"]])
def test_version_0_with_tables_present(store, catalog, caplog, present):
    s = store()
    _create_versioning_table(s.engine)
    V1initTableAuth().migrate(s.engine)  # tables made by migration 1 itself, then forgotten
    sql(s, "UPDATE zunt_auth_database_versions SET version = 0")
    for table in reversed(["clients", "users", "tokens", "third_party_integration_auths"]):
        if table not in present:
            sql(s, f"DROP TABLE {table}")
    caplog.set_level(logging.DEBUG)
    initialize_authentication_db(s)
    assert_current_schema(catalog(url_of(s)))
    messages = root_messages(caplog)
    for table in ("clients", "users", "tokens", "third_party_integration_auths"):
        expected = f"Table '{table}' already exists" if table in present else f"Created {table} table"
        assert expected in messages


def test_version_1_with_rows(store, catalog):
    s = store()
    at_version_1(s)
    seed_rows(s)
    initialize_authentication_db(s)
    cat = catalog(url_of(s))
    assert_current_schema(cat)
    rows = cat.query("SELECT selected, created_at FROM third_party_integration_auths")
    assert len(rows) == 2 and all(selected is True for selected, _ in rows)
    assert rows[0][1] == rows[1][1] is not None
    assert cat.versions()[0][1] == 3


def test_legacy_unique_constraint_is_dropped(store, catalog):
    s = store()
    at_version_1(s)
    sql(s, "ALTER TABLE third_party_integration_auths ADD CONSTRAINT uix_client_user_connector "
           "UNIQUE (client_id, user_id, connector)")
    initialize_authentication_db(s)
    cat = catalog(url_of(s))
    assert "uix_client_user_connector" not in cat.constraints("third_party_integration_auths")
    assert_current_schema(cat)
    # Two credentials of one user for one connector, told apart by user_identifier.
    client, user = uuid.uuid4(), uuid.uuid4()
    sql(s, "INSERT INTO clients (id) VALUES (:id)", id=client)
    sql(s, "INSERT INTO users (id, client_id) VALUES (:id, :c)", id=user, c=client)
    insert = ("INSERT INTO third_party_integration_auths VALUES (:id, :u, :c, 'mail', :i, 'x', '{}', false, now())")
    for ident in ("a", "b"):
        sql(s, insert, id=uuid.uuid4(), u=user, c=client, i=ident)
    with pytest.raises(exc.IntegrityError):
        sql(s, insert, id=uuid.uuid4(), u=user, c=client, i="a")


def test_pre_existing_uix_identifier_client_is_kept_whatever_its_columns(store, catalog, caplog):
    s = store()
    at_version_1(s)
    sql(s, "ALTER TABLE users ADD CONSTRAINT uix_identifier_client UNIQUE (identifier)")
    caplog.set_level(logging.DEBUG)
    initialize_authentication_db(s)
    cat = catalog(url_of(s))
    assert cat.constraints("users")["uix_identifier_client"] == ("u", ["identifier"], None)
    assert "Constraint 'uix_identifier_client' already exists" in root_messages(caplog)


def test_duplicates_roll_migration_2_back(store, catalog):
    s = store()
    at_version_1(s)
    client, user = seed_rows(s)
    sql(s, "INSERT INTO third_party_integration_auths (id, user_id, client_id, connector, user_identifier, "
           "auth_string, auth_scopes) VALUES (:id, :u, :c, 'mail', 'a', 'other', '{}')",
        id=uuid.uuid4(), u=user, c=client)
    with pytest.raises(exc.IntegrityError):
        initialize_authentication_db(s)
    cat = catalog(url_of(s))
    assert cat.versions()[0][1] == 1
    assert [c[0] for c in cat.columns("third_party_integration_auths")][-1] == "auth_scopes"
    assert "uix_identifier_client" not in cat.constraints("users")


def test_version_2_with_some_indexes(store, catalog, caplog):
    s = store()
    at_version_1(s)
    V2multiAccountIntegration().migrate(s.engine)
    sql(s, "CREATE INDEX idx_tokens_user_id_client_id ON tokens (id, user_id, client_id)")
    caplog.set_level(logging.DEBUG)
    initialize_authentication_db(s)
    assert_current_schema(catalog(url_of(s)))
    messages = root_messages(caplog)
    assert "Index 'idx_tokens_user_id_client_id' already exists" in messages
    assert "Created index 'idx_client_id_user_id_connector'" in messages
    assert "Created index 'idx_client_id_identifier'" in messages


def test_migration_3_applied_again_changes_nothing(store, catalog, caplog):
    s = store()
    initialize_authentication_db(s)
    caplog.set_level(logging.DEBUG)
    V3AddIntegrationIndexes().migrate(s.engine)
    assert [m for m in root_messages(caplog) if m.startswith("Index")] == [
        "Index 'idx_client_id_user_id_connector' already exists", "Index 'idx_tokens_user_id_client_id' already exists",
        "Index 'idx_client_id_identifier' already exists"]
    assert_current_schema(catalog(url_of(s)))


def test_several_version_rows(store, catalog):
    s = store()
    initialize_authentication_db(s)
    sql(s, "INSERT INTO zunt_auth_database_versions (id, version, description) VALUES (2, 0, 'second')")
    # The version comes from the first row the database returns: current.
    initialize_authentication_db(s)
    cat = catalog(url_of(s))
    assert [(i, v) for i, v, _, _ in cat.versions()] == [(1, 3), (2, 0)]
    # Recording a version writes every row, which the unique version column
    # refuses once there are two: the start-up fails with the database's
    # error and the pending migration is rolled back with its record.
    sql(s, "UPDATE zunt_auth_database_versions SET version = version - 1")  # (1, 2), (2, -1)
    sql(s, "DROP INDEX idx_client_id_identifier")
    with pytest.raises(exc.IntegrityError):
        initialize_authentication_db(s)
    assert "idx_client_id_identifier" not in cat.indexes("users")
    assert [(i, v) for i, v, _, _ in cat.versions()] == [(1, 2), (2, -1)]


def test_empty_version_table_is_seeded(store, catalog):
    s = store()
    _create_versioning_table(s.engine)
    sql(s, "DELETE FROM zunt_auth_database_versions")
    initialize_authentication_db(s)
    cat = catalog(url_of(s))
    assert_current_schema(cat)
    assert [(i, v) for i, v, _, _ in cat.versions()] == [(1, 3)]


def test_failure_recording_version_2_rolls_migration_2_back(store, catalog, monkeypatch):
    s = store()
    at_version_1(s)
    client, user = seed_rows(s)

    def failing(self, target):
        raise RuntimeError("connection lost while recording")

    monkeypatch.setattr(V2multiAccountIntegration, "record_version", failing)
    with pytest.raises(RuntimeError, match="connection lost"):
        initialize_authentication_db(s)
    cat = catalog(url_of(s))
    assert cat.versions()[0][1] == 1
    assert "selected" not in [c[0] for c in cat.columns("third_party_integration_auths")]
    assert "uix_identifier_client" not in cat.constraints("users")

    monkeypatch.undo()
    initialize_authentication_db(s)
    assert_current_schema(cat)
    assert cat.versions()[0][1] == 3


def test_migration_2_over_a_migrated_schema_keeps_rows(store, catalog):
    s = store()
    initialize_authentication_db(s)
    client, user = uuid.uuid4(), uuid.uuid4()
    sql(s, "INSERT INTO clients (id, name, secret) VALUES (:id, 'c', 's')", id=client)
    sql(s, "INSERT INTO users (id, identifier, client_id) VALUES (:id, 'u', :c)", id=user, c=client)
    stamp = datetime.datetime(2001, 2, 3, 4, 5, 6)
    sql(s, "INSERT INTO third_party_integration_auths VALUES (:id, :u, :c, 'mail', 'a', 'x', '{}', false, :t)",
        id=uuid.uuid4(), u=user, c=client, t=stamp)
    sql(s, "UPDATE zunt_auth_database_versions SET version = 1")
    initialize_authentication_db(s)
    cat = catalog(url_of(s))
    assert cat.query("SELECT selected, created_at FROM third_party_integration_auths") == [(False, stamp)]
    assert_current_schema(cat)
    assert cat.versions()[0][1] == 3


def test_run_migrations_defaults_to_every_migration(store, catalog):
    s = store()
    _create_versioning_table(s.engine)
    run_migrations(s.engine)
    assert_current_schema(catalog(url_of(s)))


def test_record_version_without_description(store, catalog, caplog):
    class Later(DbMigration):
        version = 9

        def migrate(self, engine):
            pass

    s = store()
    _create_versioning_table(s.engine)
    caplog.set_level(logging.DEBUG)
    Later().record_version(s.engine)
    assert catalog(url_of(s)).versions()[0][1:3] == (9, "Migration for 9")
    assert root_messages(caplog) == ["Recorded migration v9 in database_versions table."]
    with pytest.raises(TypeError):
        DbMigration()


def test_migration_classes():
    for cls, version in ((V1initTableAuth, 1), (V2multiAccountIntegration, 2), (V3AddIntegrationIndexes, 3)):
        assert cls.version == version and issubclass(cls, DbMigration)
    assert DbMigration.description == "" and "version" not in DbMigration.__dict__
    assert DbMigration.__abstractmethods__ == frozenset({"migrate"})


def test_unreachable_database_passes_the_error(store):
    s = SQLAlchemySQLDataStore("postgresql+psycopg://nobody@127.0.0.1:9/none")
    with pytest.raises(exc.OperationalError):
        initialize_authentication_db(s)


def test_two_processes_start_on_one_empty_database_at_once(new_database, catalog):
    url = new_database()
    code = textwrap.dedent(f"""
        import logging, sys, time
        from zunt_core.authentication.database import SQLAlchemySQLDataStore, initialize_authentication_db
        logging.basicConfig(level=logging.DEBUG, format="%(name)s %(message)s", stream=sys.stdout)
        store = SQLAlchemySQLDataStore({url!r})
        while time.time() < float(sys.argv[1]):
            time.sleep(0.001)
        initialize_authentication_db(store)
    """)
    import time

    start_at = str(time.time() + 1.5)
    procs = [subprocess.Popen([sys.executable, "-c", code, start_at], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True) for _ in range(3)]
    results = [p.communicate(timeout=120) for p in procs]
    assert [p.returncode for p in procs] == [0, 0, 0], results
    # One process did the work; the others waited for it and found the
    # schema current.
    logs = [[line[5:] for line in out.splitlines() if line.startswith("root ")] for out, _ in results]
    assert sorted("Creating database_versions table" in log for log in logs) == [False, False, True]
    for log in logs:
        if "Creating database_versions table" not in log:
            assert log == ["Table 'database_versions' already exists"] + [
                f"Skipping migration {v} (current version: 3)" for v in (1, 2, 3)]
    cat = catalog(url)
    assert_current_schema(cat)
    assert [(i, v) for i, v, _, _ in cat.versions()] == [(1, 3)]


def test_module_import_order():
    probe = textwrap.dedent("""
        import json, sys
        class Recorder:
            seen = []
            @classmethod
            def find_spec(cls, name, path=None, target=None):
                if name not in cls.seen:
                    cls.seen.append(name)
        import zunt_core
        sys.meta_path.insert(0, Recorder)
        import zunt_core.authentication.database
        print(json.dumps(Recorder.seen))
    """)
    seen = __import__("json").loads(subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True,
                                                   check=True).stdout)
    # The package loads the whole component first; within it, the settings
    # and hashing come before the database module, which loads the runner and
    # through it the three migrations.
    storage = [n for n in seen if n.startswith(("zunt_core.authentication.config",
                                                "zunt_core.authentication.security",
                                                "zunt_core.authentication.database"))]
    assert storage == [
        "zunt_core.authentication.config", "zunt_core.authentication.security",
        "zunt_core.authentication.security.argon2", "zunt_core.authentication.security.hash",
        "zunt_core.authentication.database", "zunt_core.authentication.database_migration",
        "zunt_core.authentication.database_migration.migration",
        "zunt_core.authentication.database_migration.migration_versions",
        "zunt_core.authentication.database_migration.migration_versions.V1_init_table_auth",
        "zunt_core.authentication.database_migration.base_migration",
        "zunt_core.authentication.database_migration.migration_versions.V2_multi_account_integration",
        "zunt_core.authentication.database_migration.migration_versions.V3_add_integration_indexes",
    ]
