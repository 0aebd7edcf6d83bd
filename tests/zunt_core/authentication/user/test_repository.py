import uuid

import pydantic
import pytest
from sqlalchemy import exc

# The client mapping loads all four, as the services do.
import zunt_core.authentication.client.repository.sqlalchemy.models  # noqa: F401
from zunt_core.authentication.user.repository.models import UserModel
from zunt_core.authentication.user.repository.sqlalchemy.repository import SqlAlchemyUserRepository

UUID = uuid.UUID


@pytest.fixture
def repo(data_store):
    return SqlAlchemyUserRepository(data_store)


def new_user(client_id, **values):
    identifier = f"user-{uuid.uuid4()}"
    return UserModel(**{"id": uuid.uuid4(), "identifier": identifier, "secret": "$argon2id$stored",
                        "secret_preview": "sk-user-...abcd", "is_active": True, "client_id": client_id, **values})


def test_create_user(repo, sql, data_store, assert_scope_closed):
    given = new_user(sql.client(), secret="plain text, not hashed here")
    snapshot = given.model_dump()
    made = repo.create_user(given)
    assert_scope_closed(data_store)
    assert type(made) is UserModel and made is not given
    assert made.model_dump() == snapshot and given.model_dump() == snapshot
    assert sql.run("SELECT identifier, secret, secret_preview, is_active, client_id FROM users WHERE id = :id",
                   id=given.id) == [(given.identifier, "plain text, not hashed here", given.secret_preview, True,
                                     given.client_id)]


def test_create_user_without_id_gets_a_new_one(repo, sql):
    made = repo.create_user(new_user(sql.client(), id=None))
    assert isinstance(made.id, UUID) and made.id.version == 4
    assert sql.count("users", "id = :id", id=made.id) == 1


def test_inactive_users_are_found(repo, sql):
    client_id = sql.client()
    made = repo.create_user(new_user(client_id, is_active=False))
    assert sql.run("SELECT is_active FROM users WHERE id = :id", id=made.id) == [(False,)]
    assert repo.get_user(client_id, made.id) == made
    assert repo.get_user_by_identifier(client_id, made.identifier) == made


def test_look_ups(repo, sql, data_store, assert_scope_closed):
    client_id = sql.client()
    made = repo.create_user(new_user(client_id, identifier="Ada Lovelace"))
    found = repo.get_user(client_id, made.id)
    assert_scope_closed(data_store)
    assert type(found) is UserModel and found == made
    by_identifier = repo.get_user_by_identifier(client_id, "Ada Lovelace")
    assert_scope_closed(data_store)
    assert by_identifier == made
    other_client = sql.client()
    assert repo.get_user(other_client, made.id) is None
    assert repo.get_user(client_id, uuid.uuid4()) is None
    for near in ("ada lovelace", " Ada Lovelace", "Ada Lovelace ", "Ada"):
        assert repo.get_user_by_identifier(client_id, near) is None
    assert repo.get_user_by_identifier(other_client, "Ada Lovelace") is None


@pytest.mark.parametrize("conflict", ["identifier of another client", "same identifier and client", "unknown client",
                                      "same id"])
def test_create_user_refused(repo, sql, data_store, assert_scope_closed, conflict):
    client_id = sql.client()
    first = repo.create_user(new_user(client_id))
    other_client = sql.client()
    refused = {"identifier of another client": new_user(other_client, identifier=first.identifier),
               "same identifier and client": new_user(client_id, identifier=first.identifier),
               "unknown client": new_user(uuid.uuid4()),
               "same id": new_user(other_client, id=first.id)}[conflict]
    if conflict == "identifier of another client":
        assert repo.get_user_by_identifier(other_client, first.identifier) is None
    with pytest.raises(exc.IntegrityError):
        repo.create_user(refused)
    assert_scope_closed(data_store)
    assert sql.count("users", "identifier IN (:a, :b) OR id = :id", a=first.identifier, b=refused.identifier,
                     id=refused.id) == 1
    # The thread's session is usable at once.
    following = repo.create_user(new_user(client_id))
    assert repo.get_user(client_id, following.id) == following


def test_row_with_empty_columns_fails_validation(repo, sql, data_store, assert_scope_closed):
    client_id = sql.client()
    user_id = uuid.uuid4()
    sql.run("INSERT INTO users (id, identifier, client_id) VALUES (:id, :id, :c)", id=user_id, c=client_id)
    with pytest.raises(pydantic.ValidationError, match="secret"):
        repo.get_user(client_id, user_id)
    assert_scope_closed(data_store)
