import subprocess
import sys
import threading

import pytest
import sqlalchemy
from sqlalchemy import exc, orm

from zunt_core.authentication.database import DatabaseAdapter, SQLAlchemySQLDataStore


@pytest.fixture(autouse=True)
def restore_adapter():
    saved = (DatabaseAdapter.engine, DatabaseAdapter.db, DatabaseAdapter.base.__dict__.get("query"))
    yield
    DatabaseAdapter.engine, DatabaseAdapter.db = saved[0], saved[1]
    if saved[2] is None:
        DatabaseAdapter.base.__dict__.get("query") and delattr(DatabaseAdapter.base, "query")
    else:
        DatabaseAdapter.base.query = saved[2]


def test_base_has_no_query_until_a_store_is_built(database_url):
    code = (
        "from zunt_core.authentication.database import DatabaseAdapter, SQLAlchemySQLDataStore\n"
        "assert DatabaseAdapter.engine is None and DatabaseAdapter.db is None\n"
        "assert 'query' not in DatabaseAdapter.base.__dict__\n"
        f"SQLAlchemySQLDataStore({database_url!r})\n"
        "assert 'query' in DatabaseAdapter.base.__dict__\n"
        "print('ok')\n"
    )
    assert subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout == "ok\n"


def test_store_from_url(database_url):
    store = SQLAlchemySQLDataStore(database_url)
    assert store.engine is DatabaseAdapter.engine and store.db is DatabaseAdapter.db
    assert store.engine.pool.size() == 10 and store.engine.pool._max_overflow == 10
    assert isinstance(store.db, orm.scoped_session)
    assert "query" in DatabaseAdapter.base.__dict__  # the registry's query property
    with store.db() as session:
        assert session.execute(sqlalchemy.text("SELECT 1")).scalar() == 1
    store.engine.dispose()


def test_store_from_engine_takes_that_engine(database_url):
    engine = sqlalchemy.create_engine(database_url, pool_size=2, max_overflow=0)
    store = SQLAlchemySQLDataStore(engine, pool_size=50, max_overflow=50)
    assert store.engine is engine and engine.pool.size() == 2
    engine.dispose()


def test_sessions_are_per_thread(database_url):
    store = SQLAlchemySQLDataStore(database_url)
    mine = store.db()
    assert store.db() is mine
    seen = []
    t = threading.Thread(target=lambda: seen.append(store.db()))
    t.start()
    t.join()
    assert seen[0] is not mine
    store.engine.dispose()


def test_session_scope_closes_and_rolls_back(database_url):
    store = SQLAlchemySQLDataStore(database_url)
    with store.engine.begin() as conn:
        conn.execute(sqlalchemy.text("CREATE TABLE scratch (n integer)"))
    with pytest.raises(ZeroDivisionError):
        with store.db() as session:
            session.execute(sqlalchemy.text("INSERT INTO scratch VALUES (1)"))
            1 / 0
    with store.db() as session:
        assert session.execute(sqlalchemy.text("SELECT count(*) FROM scratch")).scalar() == 0
    assert store.engine.pool.checkedout() == 0
    store.engine.dispose()


def test_second_store_replaces_the_class_state(database_url, new_database):
    first = SQLAlchemySQLDataStore(database_url)
    second = SQLAlchemySQLDataStore(new_database())
    assert DatabaseAdapter.engine is second.engine and DatabaseAdapter.db is second.db
    assert first.engine is not second.engine and first.db is not second.db
    first.engine.dispose()
    second.engine.dispose()


def test_unknown_keyword_changes_nothing(database_url):
    before = (DatabaseAdapter.engine, DatabaseAdapter.db)
    with pytest.raises(TypeError, match="unexpected keyword argument 'echo'"):
        SQLAlchemySQLDataStore(database_url, echo=True)
    assert (DatabaseAdapter.engine, DatabaseAdapter.db) == before


def test_autocommit_reaches_the_session_factory(database_url):
    store = SQLAlchemySQLDataStore(database_url, autocommit=True)
    with pytest.raises(exc.ArgumentError, match="autocommit=True is no longer supported"):
        store.db()
    store.engine.dispose()


def test_bad_url_passes_the_toolkits_error_and_changes_nothing():
    before = (DatabaseAdapter.engine, DatabaseAdapter.db)
    with pytest.raises(exc.ArgumentError):
        SQLAlchemySQLDataStore("not a url")
    assert (DatabaseAdapter.engine, DatabaseAdapter.db) == before


def test_initialize_and_has_table(database_url):
    DatabaseAdapter.initialize(database_url, 3, 4, False, False)
    assert DatabaseAdapter.engine.pool.size() == 3 and DatabaseAdapter.engine.pool._max_overflow == 4
    assert DatabaseAdapter.db().autoflush is False
    assert DatabaseAdapter.has_table("nowhere") is False
    with DatabaseAdapter.engine.begin() as conn:
        conn.execute(sqlalchemy.text("CREATE TABLE somewhere (n integer)"))
    assert DatabaseAdapter.has_table("somewhere") is True
    DatabaseAdapter.engine.dispose()


def test_has_table_before_any_engine():
    DatabaseAdapter.engine = None
    with pytest.raises(exc.NoInspectionAvailable):
        DatabaseAdapter.has_table("clients")
