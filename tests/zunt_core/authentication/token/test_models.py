import datetime
import uuid
from types import SimpleNamespace

import pydantic
import pytest
from sqlalchemy.dialects import postgresql

# The client mapping loads all four, as the services do; the token mapping's
# links resolve only then.
import zunt_core.authentication.client.repository.sqlalchemy.models  # noqa: F401
from zunt_core.authentication.database import DatabaseAdapter
from zunt_core.authentication.token.repository import models
from zunt_core.authentication.token.repository.models import Token, TokenComplete
from zunt_core.authentication.token.repository.sqlalchemy.models import DBToken
from zunt_core.authentication.user.repository.sqlalchemy.models import DBUser

TOKEN_FIELDS = {"id": uuid.UUID, "user_id": uuid.UUID, "client_id": uuid.UUID, "is_revoked": bool}
COMPLETE_FIELDS = {"id": uuid.UUID, "token": str, "token_type": str, "expires_at": datetime.datetime,
                   "is_revoked": bool, "user_id": uuid.UUID, "client_id": uuid.UUID}
ROW = SimpleNamespace(id=uuid.uuid4(), token="header.payload.signature", token_type="Bearer",
                      expires_at=datetime.datetime(2030, 1, 2, 3, 4, 5), is_revoked=False, user_id=uuid.uuid4(),
                      client_id=uuid.uuid4(), user="not a field")


def test_module_declares_the_complete_record_first():
    assert [n for n in vars(models) if n in ("Token", "TokenComplete")] == ["TokenComplete", "Token"]


@pytest.mark.parametrize("cls, fields", [(Token, TOKEN_FIELDS), (TokenComplete, COMPLETE_FIELDS)])
def test_records(cls, fields):
    assert type(cls) is type(pydantic.BaseModel) and cls.__bases__ == (pydantic.BaseModel,)
    assert {n: f.annotation for n, f in cls.model_fields.items()} == fields
    assert list(cls.model_fields) == list(fields)
    assert all(f.is_required() for f in cls.model_fields.values())
    assert cls.model_config == {"from_attributes": True}
    assert cls.model_validate(ROW).model_dump() == {n: getattr(ROW, n) for n in fields}
    for missing in fields:
        with pytest.raises(pydantic.ValidationError, match=missing):
            cls(**{n: getattr(ROW, n) for n in fields if n != missing})
    record = cls.model_validate(ROW)
    record.is_revoked = "not validated"
    assert record.is_revoked == "not validated"


def test_records_are_unrelated():
    assert not issubclass(Token, TokenComplete) and not issubclass(TokenComplete, Token)


def test_mapping_declaration():
    assert DBToken.__bases__ == (DatabaseAdapter.base,) and DBToken.__tablename__ == "tokens"
    table = DBToken.__table__
    assert [(c.name, c.type.compile(dialect=postgresql.dialect()), c.nullable) for c in table.columns] == [
        ("id", "UUID", False), ("user_id", "UUID", True), ("client_id", "UUID", True), ("is_revoked", "BOOLEAN", True)]
    assert table.c.id.primary_key and table.c.id.index and table.c.id.type.as_uuid
    assert all(c.type.as_uuid for c in (table.c.user_id, table.c.client_id))
    assert [(c.name, fk.target_fullname) for c in table.columns for fk in c.foreign_keys] == [
        ("user_id", "users.id"), ("client_id", "clients.id")]
    assert {c.name for c in table.columns if c.default is not None} == {"id", "is_revoked"}
    assert table.c.is_revoked.default.arg is False
    assert all(c.server_default is None for c in table.columns)
    assert [i.name for i in table.indexes] == ["ix_tokens_id"]
    link = DBToken.user.property
    assert (link.argument, link.mapper.class_, link.back_populates, link.lazy) == ("DBUser", DBUser, "tokens",
                                                                                   "select")


def test_insert_defaults(data_store, sql):
    client_id = sql.client()
    user_id = sql.user(client_id)
    with data_store.db() as session:
        rows = [DBToken(user_id=user_id, client_id=client_id) for _ in range(2)]
        session.add_all(rows)
        session.commit()
        ids = [r.id for r in rows]
        assert rows[0].user is session.get(DBUser, user_id)  # the link loads the user on access
    assert ids[0] != ids[1] and all(i.version == 4 for i in ids)
    assert sorted(sql.run("SELECT id, is_revoked FROM tokens WHERE user_id = :u", u=user_id)) == sorted(
        (i, False) for i in ids)
