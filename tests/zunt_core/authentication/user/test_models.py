import uuid
from types import SimpleNamespace

import pydantic
import pytest
from sqlalchemy.dialects import postgresql

# The client mapping loads all four, as the services do; the user mapping's
# link to "DBClient" resolves only then.
from zunt_core.authentication.client.repository.sqlalchemy.models import DBClient
from zunt_core.authentication.database import DatabaseAdapter
from zunt_core.authentication.plugin.repository.models import ThirdPartyIntegrationAuth, ThirdPartyIntegrationAuthBasic
from zunt_core.authentication.token.repository.sqlalchemy.models import DBToken
from zunt_core.authentication.user.repository import models
from zunt_core.authentication.user.repository.models import User, UserBasic, UserComplete, UserModel
from zunt_core.authentication.user.repository.sqlalchemy.models import DBUser

REQUIRED = "required"
USER_FIELDS = [("id", uuid.UUID | None, None), ("identifier", str, REQUIRED), ("secret_preview", str, REQUIRED),
               ("is_active", bool, REQUIRED), ("client_id", uuid.UUID, REQUIRED)]
ROW = SimpleNamespace(id=uuid.uuid4(), identifier="ada", secret="$argon2id$hash", secret_preview="sk-user-...x",
                      is_active=True, client_id=uuid.uuid4(), integrations=[], tokens="not a field")


def fields_of(cls):
    return [(name, f.annotation, REQUIRED if f.is_required() else f.default) for name, f in cls.model_fields.items()]


def test_module_declares_the_records_in_order():
    assert [n for n in vars(models) if n.startswith("User")] == ["UserBasic", "User", "UserModel", "UserComplete"]


@pytest.mark.parametrize("cls, base, from_attributes, fields", [
    (UserBasic, pydantic.BaseModel, False,
     [("id", uuid.UUID, REQUIRED), ("identifier", str, REQUIRED), ("secret", str, REQUIRED)]),
    (User, pydantic.BaseModel, True, USER_FIELDS),
    (UserModel, User, True, USER_FIELDS + [("secret", str, REQUIRED)]),
    (UserComplete, User, True, USER_FIELDS + [("integrations", list[ThirdPartyIntegrationAuthBasic], REQUIRED)]),
])
def test_records(cls, base, from_attributes, fields):
    assert type(cls) is type(pydantic.BaseModel) and cls.__bases__ == (base,)
    assert fields_of(cls) == fields
    assert cls.model_config == ({"from_attributes": True} if from_attributes else {})
    values = {name: getattr(ROW, name) for name, _, _ in fields}
    if from_attributes:
        assert cls.model_validate(ROW).model_dump() == values
    else:
        with pytest.raises(pydantic.ValidationError):
            cls.model_validate(ROW)
    assert cls(**values).model_dump() == values


def test_siblings_and_defaults():
    assert not issubclass(UserModel, UserComplete) and not issubclass(UserComplete, UserModel)
    assert "secret" not in UserComplete.model_fields
    assert User(identifier="a", secret_preview="p", is_active=True, client_id=ROW.client_id).id is None
    with pytest.raises(pydantic.ValidationError, match="id"):
        UserBasic(identifier="a", secret="s")
    with pytest.raises(pydantic.ValidationError, match="integrations"):
        UserComplete(identifier="a", secret_preview="p", is_active=True, client_id=ROW.client_id)


def test_complete_user_lists_integrations_in_their_basic_form():
    full = ThirdPartyIntegrationAuth(client_id=ROW.client_id, user_id=ROW.id, connector="mail", user_identifier="me",
                                     auth_string="credential", auth_scopes=["read"])
    complete = UserComplete.model_validate(
        vars(ROW) | {"integrations": [ThirdPartyIntegrationAuthBasic.model_validate(full.model_dump())]})
    assert type(complete.integrations[0]) is ThirdPartyIntegrationAuthBasic
    assert "auth_string" not in complete.model_dump()["integrations"][0]


def test_assignment_is_not_validated():
    record = UserModel.model_validate(ROW)
    record.secret = b"bytes, not text"
    record.is_active = None
    assert (record.secret, record.is_active) == (b"bytes, not text", None)


def test_mapping_declaration():
    assert DBUser.__bases__ == (DatabaseAdapter.base,) and DBUser.__tablename__ == "users"
    table = DBUser.__table__
    assert [(c.name, c.type.compile(dialect=postgresql.dialect()), c.nullable) for c in table.columns] == [
        ("id", "UUID", False), ("identifier", "VARCHAR", True), ("secret", "VARCHAR", True),
        ("secret_preview", "VARCHAR", True), ("is_active", "BOOLEAN", True), ("client_id", "UUID", True)]
    assert table.c.id.primary_key and table.c.id.index and table.c.id.type.as_uuid and table.c.client_id.type.as_uuid
    assert table.c.identifier.index and not table.c.identifier.unique
    assert [(c.name, fk.target_fullname) for c in table.columns for fk in c.foreign_keys] == [
        ("client_id", "clients.id")]
    assert {c.name for c in table.columns if c.default is not None} == {"id", "is_active"}
    assert table.c.is_active.default.arg is True
    assert all(c.server_default is None for c in table.columns)
    assert sorted(i.name for i in table.indexes) == ["ix_users_id", "ix_users_identifier"]
    client, tokens = DBUser.client.property, DBUser.tokens.property
    assert (client.argument, client.mapper.class_, client.back_populates, client.lazy) == (
        "DBClient", DBClient, "users", "select")
    assert (tokens.argument, tokens.mapper.class_, tokens.back_populates, tokens.lazy) == (
        DBToken, DBToken, "user", "select")


def test_insert_defaults_and_links(data_store, sql):
    client_id = sql.client()
    with data_store.db() as session:
        row = DBUser(identifier=f"defaults-{uuid.uuid4()}", client_id=client_id)
        session.add(row)
        session.commit()
        assert isinstance(row.id, uuid.UUID) and row.id.version == 4 and row.is_active is True
        session.add(DBToken(user_id=row.id, client_id=client_id))
        session.commit()
        assert row.client is session.get(DBClient, client_id)
        assert isinstance(row.tokens, list)  # loaded on access, not a query
        assert [t.user_id for t in row.tokens] == [row.id]
    assert sql.count("users", "client_id = :c AND is_active", c=client_id) == 1
