"""The four table mappings together: how their modules load one another, and
that they describe the tables the migrations made."""

import textwrap

import pytest
import sqlalchemy
from import_probe import import_probe
from sqlalchemy.dialects import postgresql

from zunt_core.authentication.client.repository.sqlalchemy.models import DBClient
from zunt_core.authentication.database import DatabaseAdapter, SQLAlchemySQLDataStore
from zunt_core.authentication.plugin.repository.sqlalchemy.models import DBThirdPartyIntegrationAuth
from zunt_core.authentication.token.repository.sqlalchemy.models import DBToken
from zunt_core.authentication.user.repository.sqlalchemy.models import DBUser

ENTITIES = ["client", "plugin", "user", "token"]

# Importing any module of the component loads the package first, and the
# package loads the whole component: the order in which the mapping modules
# are first requested shows which loads which.
RECORD_IMPORTS = import_probe("""
    from zunt_core.authentication.database import DatabaseAdapter
    print(json.dumps({"seen": Recorder.seen, "tables": list(DatabaseAdapter.base.metadata.tables)}))
""", before="""
    import json
    import zunt_core
""")


def test_import_order(run_fresh):
    result = run_fresh(RECORD_IMPORTS)
    mappings = [n for n in result["seen"] if n.endswith(".repository.sqlalchemy.models")]
    # The client mapping loads the integration mapping, then the user mapping,
    # which loads the token mapping; each class is defined once its own
    # dependencies are.
    assert mappings == [f"zunt_core.authentication.{entity}.repository.sqlalchemy.models"
                        for entity in ("client", "plugin", "user", "token")]
    assert result["tables"] == ["third_party_integration_auths", "tokens", "users", "clients"]


def test_packages_export_nothing(run_fresh):
    code = textwrap.dedent(f"""
        import importlib, json, sys
        found = {{}}
        for entity in {ENTITIES!r}:
            for name in (f"zunt_core.authentication.{{entity}}", f"zunt_core.authentication.{{entity}}.repository",
                         f"zunt_core.authentication.{{entity}}.repository.sqlalchemy"):
                names = [n for n in vars(importlib.import_module(name)) if not n.startswith("__")]
                found[name] = [n for n in names if f"{{name}}.{{n}}" not in sys.modules]
        print(json.dumps(found))
    """)
    assert all(names == [] for names in run_fresh(code).values())


@pytest.mark.parametrize("entity", ENTITIES)
def test_building_a_mapping_module_again_keeps_its_class(run_fresh, entity):
    # A reload, or an import after removal from sys.modules, while the
    # declarative base lives on: the mapping must stay the one class of its
    # name on the base, or no link naming it resolves any more.
    code = textwrap.dedent(f"""
        import importlib, json, sys, warnings
        import sqlalchemy.orm
        import zunt_core.authentication.client.repository.sqlalchemy.models
        warnings.simplefilter("error")
        name = "zunt_core.authentication.{entity}.repository.sqlalchemy.models"
        first = sys.modules[name]
        [cls] = [v for k, v in vars(first).items() if k.startswith("DB") and v.__module__ == name]
        reloaded = importlib.reload(first)
        del sys.modules[name]
        again = importlib.import_module(name)
        sqlalchemy.orm.configure_mappers()
        print(json.dumps([getattr(reloaded, cls.__name__) is cls, again is not first,
                          getattr(again, cls.__name__) is cls]))
    """)
    assert run_fresh(code) == [True, True, True]


def test_the_base_holds_exactly_the_four_mappings():
    assert set(DatabaseAdapter.base.metadata.tables) == {"clients", "users", "tokens", "third_party_integration_auths"}
    assert {m.class_ for m in DatabaseAdapter.base.registry.mappers} == {DBClient, DBUser, DBToken,
                                                                         DBThirdPartyIntegrationAuth}


def test_mappings_create_nothing(new_database, catalog):
    from zunt_core.authentication.client.repository.sqlalchemy.repository import SqlAlchemyClientRepository
    from zunt_core.authentication.plugin.repository.sqlalchemy.repository import (
        SqlAlchemyThirdPartyIntegrationRepository,
    )
    from zunt_core.authentication.token.repository.sqlalchemy.repository import SqlAlchemyTokenRepository
    from zunt_core.authentication.user.repository.sqlalchemy.repository import SqlAlchemyUserRepository

    url = new_database()
    store = SQLAlchemySQLDataStore(url)
    for cls in (SqlAlchemyClientRepository, SqlAlchemyUserRepository, SqlAlchemyTokenRepository,
                SqlAlchemyThirdPartyIntegrationRepository):
        cls(store)
    sqlalchemy.orm.configure_mappers()
    assert catalog(url).tables() == set()
    store.engine.dispose()


# Where a mapping knowingly differs from its table.
NULLABLE_ONLY_IN_THE_TABLE = {("third_party_integration_auths", "client_id"),
                              ("third_party_integration_auths", "user_id")}
COLUMN_ORDER_DIFFERS = {"third_party_integration_auths"}  # the mapping has client_id before user_id
INDEXES_ONLY_IN_THE_TABLE = {
    "clients": set(),
    "users": {("uix_identifier_client", True, ("identifier", "client_id")),
              ("idx_client_id_identifier", False, ("client_id", "identifier"))},
    "tokens": {("idx_tokens_user_id_client_id", False, ("id", "user_id", "client_id"))},
    "third_party_integration_auths": {
        ("uix_client_user_connector_user_identifier", True, ("client_id", "user_id", "connector", "user_identifier")),
        ("idx_client_id_user_id_connector", False, ("client_id", "user_id", "connector"))},
}
# The mapping declares the identifier index plain; the table's is unique.
INDEXES_UNIQUE_ONLY_IN_THE_TABLE = {"ix_users_identifier"}


def type_name(column_type):
    return column_type.compile(dialect=postgresql.dialect())


@pytest.mark.parametrize("mapping", [DBClient, DBUser, DBToken, DBThirdPartyIntegrationAuth],
                         ids=lambda m: m.__name__)
def test_mapping_describes_the_migrated_table(data_store, mapping):
    table = mapping.__table__
    inspector = sqlalchemy.inspect(data_store.engine)
    migrated = inspector.get_columns(table.name)

    mapped = [(c.name, type_name(c.type),
               c.nullable or (table.name, c.name) in NULLABLE_ONLY_IN_THE_TABLE) for c in table.columns]
    in_table = [(c["name"], type_name(c["type"]), c["nullable"]) for c in migrated]
    if table.name in COLUMN_ORDER_DIFFERS:
        assert [c[0] for c in mapped] != [c[0] for c in in_table]
        mapped, in_table = sorted(mapped), sorted(in_table)
    assert mapped == in_table
    for table_name, name in NULLABLE_ONLY_IN_THE_TABLE:
        if table_name == table.name:
            assert table.c[name].nullable is False

    # Insert defaults live only in the mapping; the table has none.
    assert all(c["default"] is None for c in migrated)
    assert all(c.server_default is None for c in table.columns)

    assert inspector.get_pk_constraint(table.name)["constrained_columns"] == [c.name for c in table.primary_key]
    assert sorted((tuple(fk["constrained_columns"]), f"{fk['referred_table']}.{fk['referred_columns'][0]}")
                  for fk in inspector.get_foreign_keys(table.name)) == sorted(
        ((fk.parent.name,), fk.target_fullname) for fk in table.foreign_keys)

    mapped_indexes = {(i.name, bool(i.unique) or i.name in INDEXES_UNIQUE_ONLY_IN_THE_TABLE,
                       tuple(c.name for c in i.columns)) for i in table.indexes}
    table_indexes = {(i["name"], bool(i["unique"]), tuple(i["column_names"])) for i in inspector.get_indexes(table.name)}
    table_indexes |= {(u["name"], True, tuple(u["column_names"]))
                      for u in inspector.get_unique_constraints(table.name)}
    assert table_indexes == mapped_indexes | INDEXES_ONLY_IN_THE_TABLE[table.name]
    # The mapping itself declares no constraint beyond keys.
    assert {type(c).__name__ for c in table.constraints} <= {"PrimaryKeyConstraint", "ForeignKeyConstraint"}
