import importlib
import uuid
from types import SimpleNamespace

import pydantic
import pytest
import sqlalchemy
from sqlalchemy import exc
from sqlalchemy.dialects import postgresql

from zunt_core.authentication.client.repository.sqlalchemy.models import DBClient
from zunt_core.authentication.database import DatabaseAdapter
from zunt_core.authentication.plugin.repository.models import ThirdPartyIntegrationAuth, ThirdPartyIntegrationAuthBasic
from zunt_core.authentication.plugin.repository.sqlalchemy.models import DBThirdPartyIntegrationAuth

REQUIRED = "required"
BASIC_FIELDS = [("id", uuid.UUID | None, None), ("client_id", uuid.UUID, REQUIRED), ("user_id", uuid.UUID, REQUIRED),
                ("connector", str, REQUIRED), ("user_identifier", str, REQUIRED), ("selected", bool, False)]
ROW = SimpleNamespace(id=uuid.uuid4(), client_id=uuid.uuid4(), user_id=uuid.uuid4(), connector="mail",
                      user_identifier="me@example.org", selected=True, auth_string="token", auth_scopes=["read"],
                      created_at="not a field", client="not a field")


def fields_of(cls):
    return [(name, f.annotation, REQUIRED if f.is_required() else f.default) for name, f in cls.model_fields.items()]


def test_basic_record():
    cls = ThirdPartyIntegrationAuthBasic
    assert type(cls) is type(pydantic.BaseModel) and cls.__bases__ == (pydantic.BaseModel,)
    assert cls.__doc__ == "Third-party integration auth basic model."
    assert fields_of(cls) == BASIC_FIELDS
    assert cls.model_config == {}
    with pytest.raises(pydantic.ValidationError):
        cls.model_validate(ROW)  # not from attributes
    made = cls(client_id=ROW.client_id, user_id=ROW.user_id, connector="mail", user_identifier="me")
    assert (made.id, made.selected) == (None, False)


def test_full_record():
    cls = ThirdPartyIntegrationAuth
    assert cls.__bases__ == (ThirdPartyIntegrationAuthBasic,)
    assert cls.__doc__ == "Third-party integration auth model."
    assert fields_of(cls) == BASIC_FIELDS + [("auth_string", str, REQUIRED), ("auth_scopes", list[str], REQUIRED)]
    # The fields declared again in the subclass's own body; selected only inherited.
    assert list(cls.__annotations__) == ["id", "client_id", "user_id", "connector", "user_identifier", "auth_string",
                                         "auth_scopes"]
    assert cls.model_config == {"from_attributes": True}
    record = cls.model_validate(ROW)
    assert record.model_dump() == {name: getattr(ROW, name) for name, _, _ in fields_of(cls)}
    # Accepted wherever the basic record is expected.
    assert isinstance(record, ThirdPartyIntegrationAuthBasic)
    assert ThirdPartyIntegrationAuthBasic.model_validate(record.model_dump()).selected is True


@pytest.mark.parametrize("values, error", [
    ({"auth_scopes": []}, "auth_string"),
    ({"auth_string": "x"}, "auth_scopes"),
    ({"auth_string": "x", "auth_scopes": [], "client_id": None}, "client_id"),
    ({"auth_string": "x", "auth_scopes": [], "user_id": "not a uuid"}, "user_id"),
    ({"auth_string": "x", "auth_scopes": []}, None),
])
def test_required_fields(values, error):
    given = {"client_id": ROW.client_id, "user_id": ROW.user_id, "connector": "c", "user_identifier": "u", **values}
    if error is None:
        assert ThirdPartyIntegrationAuth(**given).auth_scopes == []
    else:
        with pytest.raises(pydantic.ValidationError, match=error):
            ThirdPartyIntegrationAuth(**given)


def test_assignment_is_not_validated():
    record = ThirdPartyIntegrationAuth.model_validate(ROW)
    record.selected = "yes"
    record.auth_scopes = "not a list"
    assert (record.selected, record.auth_scopes) == ("yes", "not a list")


@pytest.mark.parametrize("module, doc, names", [
    ("models", "Models for third-party integration.",
     ["UUID", "BaseModel", "ConfigDict", "Field", "ThirdPartyIntegrationAuthBasic", "ThirdPartyIntegrationAuth"]),
    ("base_repository", "Third-party integration repository interface.",
     ["ABC", "abstractmethod", "UUID", "ThirdPartyIntegrationAuth", "BaseRepository"]),
    ("sqlalchemy.models", "Third-party integration SQLAlchemy model.",
     ["uuid", "ARRAY", "UUID", "Boolean", "Column", "DateTime", "ForeignKey", "String", "func", "relationship",
      "DatabaseAdapter", "DBThirdPartyIntegrationAuth"]),
    ("sqlalchemy.repository", "SQLAlchemy third-party integration repository.",
     ["Optional", "UUID", "SQLAlchemySQLDataStore", "BaseRepository", "ThirdPartyIntegrationAuth",
      "DBThirdPartyIntegrationAuth", "Query", "Session", "SqlAlchemyThirdPartyIntegrationRepository"]),
])
def test_modules(module, doc, names):
    mod = importlib.import_module(f"zunt_core.authentication.plugin.repository.{module}")
    assert mod.__doc__.startswith(doc)
    assert [n for n in vars(mod) if not n.startswith("__")] == names
    assert not hasattr(mod, "__all__")
    assert mod.UUID is (sqlalchemy.UUID if module == "sqlalchemy.models" else uuid.UUID)


def test_packages():
    plugin = importlib.import_module("zunt_core.authentication.plugin")
    repository = importlib.import_module("zunt_core.authentication.plugin.repository")
    sqlalchemy_package = importlib.import_module("zunt_core.authentication.plugin.repository.sqlalchemy")
    assert plugin.__doc__ == "Plugin Authentication Modules."
    assert sqlalchemy_package.__doc__ == "SQLAlchemy plugin repository module."
    assert repository.__doc__ is None and repository.__file__ is None  # a namespace package
    assert repository.__spec__.origin is None and repository.__spec__.submodule_search_locations


def test_mapping_declaration():
    cls = DBThirdPartyIntegrationAuth
    assert cls.__bases__ == (DatabaseAdapter.base,) and cls.__doc__ == "Third-party integration SQLAlchemy model."
    assert cls.__tablename__ == "third_party_integration_auths"
    table = cls.__table__
    assert [(c.name, c.type.compile(dialect=postgresql.dialect()), c.nullable) for c in table.columns] == [
        ("id", "UUID", False), ("client_id", "UUID", False), ("user_id", "UUID", False),
        ("connector", "VARCHAR", False), ("user_identifier", "VARCHAR", False), ("auth_string", "VARCHAR", False),
        ("auth_scopes", "VARCHAR[]", False), ("selected", "BOOLEAN", False), ("created_at", "TIMESTAMP WITHOUT TIME ZONE",
                                                                               False)]
    assert table.c.id.primary_key and table.c.id.index and table.c.id.type.as_uuid
    assert [(c.name, fk.target_fullname) for c in table.columns for fk in c.foreign_keys] == [
        ("client_id", "clients.id"), ("user_id", "users.id")]
    assert {c.name for c in table.columns if c.default is not None} == {"id", "selected", "created_at"}
    assert table.c.selected.default.arg is False
    assert str(table.c.created_at.default.arg) == "now()"  # written into the INSERT, run by the database
    assert all(c.server_default is None for c in table.columns)
    assert not table.constraints - {table.primary_key} - {fk.constraint for c in table.columns for fk in c.foreign_keys}
    assert [i.name for i in table.indexes] == ["ix_third_party_integration_auths_id"]
    link = cls.client.property
    assert (link.argument, link.mapper.class_, link.back_populates, link.lazy) == (
        "DBClient", DBClient, "integrations", "select")


@pytest.fixture
def owner(sql):
    client_id = sql.client()
    return client_id, sql.user(client_id)


def test_insert_defaults(data_store, sql, owner):
    client_id, user_id = owner
    before = sql.run("SELECT localtimestamp")[0][0]
    with data_store.db() as session:
        row = DBThirdPartyIntegrationAuth(client_id=client_id, user_id=user_id, connector="mail", user_identifier="me",
                                          auth_string="token", auth_scopes=["read"])
        session.add(row)
        session.commit()
        session.refresh(row)
        stored = (row.id, row.selected, row.created_at)
    after = sql.run("SELECT localtimestamp")[0][0]
    assert isinstance(stored[0], uuid.UUID) and stored[0].version == 4
    assert stored[1] is False
    assert before <= stored[2] <= after


def test_database_refuses_a_second_row_of_one_account(data_store, sql, owner):
    client_id, user_id = owner

    def add(user_identifier):
        with data_store.db() as session:
            session.add(DBThirdPartyIntegrationAuth(client_id=client_id, user_id=user_id, connector="mail",
                                                    user_identifier=user_identifier, auth_string="t",
                                                    auth_scopes=[]))
            session.commit()

    add("a")
    add("b")
    with pytest.raises(exc.IntegrityError, match="uix_client_user_connector_user_identifier"):
        add("a")
    assert sql.count("third_party_integration_auths", "user_id = :u", u=user_id) == 2
