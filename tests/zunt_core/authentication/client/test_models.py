import datetime
import uuid
from types import SimpleNamespace

import pydantic
import pytest
from sqlalchemy.orm import Query

from zunt_core.authentication.client.repository.models import Client, ClientBasic, ClientModel
from zunt_core.authentication.client.repository.sqlalchemy.models import DBClient
from zunt_core.authentication.database import DatabaseAdapter
from zunt_core.authentication.plugin.repository.sqlalchemy.models import DBThirdPartyIntegrationAuth
from zunt_core.authentication.user.repository.sqlalchemy.models import DBUser

REQUIRED = "required"
BASIC_FIELDS = [("id", uuid.UUID, REQUIRED), ("name", str, REQUIRED), ("secret", str, REQUIRED)]
SAMPLE = SimpleNamespace(id=uuid.uuid4(), name="acme", secret="s3cret", api_key="sk-client-a.b.c", is_active=False,
                         created_at=datetime.datetime(2024, 5, 6, 7, 8, 9), extra="ignored")


def fields_of(cls):
    return [(name, f.annotation, REQUIRED if f.is_required() else f.default) for name, f in cls.model_fields.items()]


@pytest.mark.parametrize("cls, base, from_attributes, fields, doc", [
    (ClientBasic, pydantic.BaseModel, True, BASIC_FIELDS, "Client model with only the basic values for validation."),
    (ClientModel, ClientBasic, True,
     BASIC_FIELDS + [("is_active", bool, REQUIRED), ("created_at", datetime.datetime | None, None)],
     "Client model for internal purposes."),
    (Client, pydantic.BaseModel, False,
     [("id", uuid.UUID, REQUIRED), ("name", str, REQUIRED), ("api_key", str, REQUIRED), ("is_active", bool, REQUIRED),
      ("created_at", datetime.datetime | None, None)],
     "Client model for public use."),
])
def test_records(cls, base, from_attributes, fields, doc):
    assert type(cls) is type(pydantic.BaseModel) and cls.__bases__ == (base,)
    assert cls.__module__ == "zunt_core.authentication.client.repository.models"
    assert fields_of(cls) == fields
    assert cls.model_config == ({"from_attributes": True} if from_attributes else {})
    assert cls.__doc__ == doc
    values = {name: getattr(SAMPLE, name) for name, _, _ in fields}
    if from_attributes:
        assert cls.model_validate(SAMPLE).model_dump() == values
    else:
        with pytest.raises(pydantic.ValidationError):
            cls.model_validate(SAMPLE)
    assert cls(**values).model_dump() == values


def test_defaults_required_fields_and_unvalidated_assignment():
    assert Client(id=SAMPLE.id, name="n", api_key="k", is_active=True).created_at is None
    assert ClientModel(id=SAMPLE.id, name="n", secret="s", is_active=True).created_at is None
    with pytest.raises(pydantic.ValidationError, match="secret"):
        ClientBasic(id=SAMPLE.id, name="n")
    with pytest.raises(pydantic.ValidationError):
        ClientBasic(id="not a uuid", name="n", secret="s")
    record = ClientModel(id=SAMPLE.id, name="n", secret="s", is_active=True)
    record.is_active = "not a bool"
    record.id = 42
    assert (record.is_active, record.id) == ("not a bool", 42)


def test_mapping_declaration():
    assert DBClient.__bases__ == (DatabaseAdapter.base,) and DBClient.__doc__ == "Client SQLAlchemy model."
    assert DBClient.__tablename__ == "clients" and DBClient.__table__ is DatabaseAdapter.base.metadata.tables["clients"]
    assert [c.name for c in DBClient.__table__.columns] == ["id", "name", "secret", "is_active", "created_at"]
    assert DBClient.__table__.c.id.type.as_uuid is True
    assert {c.name for c in DBClient.__table__.columns if c.default is not None} == {"id", "is_active", "created_at"}
    assert DBClient.__table__.c.is_active.default.arg is True


@pytest.mark.parametrize("attribute, target", [("users", DBUser), ("integrations", DBThirdPartyIntegrationAuth)])
def test_links(attribute, target):
    link = getattr(DBClient, attribute).property
    assert link.argument is target  # the class itself, not its name
    assert link.mapper.class_ is target
    assert (link.back_populates, link.lazy) == ("client", "dynamic")
    other_end = target.client.property
    assert other_end.argument == "DBClient" and other_end.mapper.class_ is DBClient
    assert other_end.back_populates == attribute and other_end.lazy == "select"


def test_insert_defaults_come_from_the_application(data_store, sql):
    before = datetime.datetime.now()
    with data_store.db() as session:
        row = DBClient(name=f"defaults-{uuid.uuid4()}", secret=f"defaults-{uuid.uuid4()}")
        session.add(row)
        session.commit()
        session.refresh(row)
        stored = (row.id, row.is_active, row.created_at)
    after = datetime.datetime.now()
    assert isinstance(stored[0], uuid.UUID) and stored[0].version == 4
    assert stored[1] is True
    assert stored[2].tzinfo is None and before <= stored[2] <= after  # the host's local time, not the server's
    # The database itself has no default.
    bare = uuid.uuid4()
    sql.run("INSERT INTO clients (id) VALUES (:id)", id=bare)
    assert sql.run("SELECT name, secret, is_active, created_at FROM clients WHERE id = :id", id=bare) == [
        (None, None, None, None)]


def test_dynamic_links_give_queries(data_store, sql):
    client_id = sql.client()
    user_id = sql.user(client_id)
    sql.run("INSERT INTO third_party_integration_auths VALUES (:id, :u, :c, 'mail', 'me', 'x', '{}', false, now())",
            id=uuid.uuid4(), u=user_id, c=client_id)
    with data_store.db() as session:
        row = session.get(DBClient, client_id)
        users, integrations = row.users, row.integrations
        assert isinstance(users, Query) and isinstance(integrations, Query)
        assert [u.id for u in users.all()] == [user_id]
        assert [(i.user_id, i.connector) for i in integrations.all()] == [(user_id, "mail")]
        assert users.all()[0].client is row  # the other end loads the client on access
