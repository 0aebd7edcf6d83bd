import uuid

import pydantic
import pytest
from sqlalchemy import exc

# The client mapping loads all four, as the services do; the token mapping's
# links resolve only then.
import zunt_core.authentication.client.repository.sqlalchemy.models  # noqa: F401
from zunt_core.authentication.token.repository.models import Token
from zunt_core.authentication.token.repository.sqlalchemy.repository import SqlAlchemyTokenRepository


@pytest.fixture
def repo(data_store):
    return SqlAlchemyTokenRepository(data_store)


@pytest.fixture
def owner(sql):
    client_id = sql.client()
    return client_id, sql.user(client_id)


def new_token(owner, **values):
    client_id, user_id = owner
    return Token(**{"id": uuid.uuid4(), "user_id": user_id, "client_id": client_id, "is_revoked": False, **values})


def ids(token, **changes):
    return {"client_id": token.client_id, "user_id": token.user_id, "token_id": token.id, **changes}


def revoked_flag(sql, token_id):
    rows = sql.run("SELECT is_revoked FROM tokens WHERE id = :id", id=token_id)
    return rows[0][0] if rows else "no row"


def test_create_and_get_token(repo, sql, owner, data_store, assert_scope_closed):
    token = new_token(owner, is_revoked=True)
    assert repo.create_token(token) is None
    assert_scope_closed(data_store)
    assert revoked_flag(sql, token.id) is False  # every token starts not revoked
    found = repo.get_token(**ids(token))
    assert_scope_closed(data_store)
    assert type(found) is Token and found == token.model_copy(update={"is_revoked": False})
    assert token.is_revoked is True  # the record given is left as it was


def test_get_token_of_another_client_user_or_id(repo, sql, owner):
    token = new_token(owner)
    repo.create_token(token)
    for mismatch in ({"client_id": sql.client()}, {"user_id": sql.user(owner[0])}, {"token_id": uuid.uuid4()}):
        assert repo.get_token(**ids(token, **mismatch)) is None
        assert repo.revoke_token(**ids(token, **mismatch)) is False
    assert revoked_flag(sql, token.id) is False


def test_revoke_token(repo, sql, owner, data_store, assert_scope_closed):
    token = new_token(owner)
    repo.create_token(token)
    assert repo.revoke_token(**ids(token)) is True
    assert_scope_closed(data_store)
    assert repo.get_token(**ids(token)).is_revoked is True
    assert repo.revoke_token(**ids(token)) is True  # again: still found, stays revoked
    assert revoked_flag(sql, token.id) is True
    # Passed by position too.
    assert repo.revoke_token(token.client_id, token.user_id, token.id) is True


@pytest.mark.parametrize("change", ["same id", "unknown user", "unknown client"])
def test_create_token_refused(repo, sql, owner, data_store, assert_scope_closed, change):
    first = new_token(owner)
    repo.create_token(first)
    repo.revoke_token(**ids(first))
    refused = {"same id": new_token((sql.client(), owner[1]), id=first.id),
               "unknown user": new_token((owner[0], uuid.uuid4())),
               "unknown client": new_token((uuid.uuid4(), owner[1]))}[change]
    with pytest.raises(exc.IntegrityError):
        repo.create_token(refused)
    assert_scope_closed(data_store)
    assert sql.run("SELECT client_id, user_id, is_revoked FROM tokens WHERE user_id = :u OR id = :id",
                   u=owner[1], id=refused.id) == [(first.client_id, first.user_id, True)]
    # The thread's session is usable at once.
    following = new_token(owner)
    repo.create_token(following)
    assert repo.get_token(**ids(following)) == following


def test_row_with_an_empty_flag_fails_validation(repo, sql, owner, data_store, assert_scope_closed):
    token_id = uuid.uuid4()
    sql.run("INSERT INTO tokens (id, user_id, client_id) VALUES (:id, :u, :c)", id=token_id, u=owner[1], c=owner[0])
    with pytest.raises(pydantic.ValidationError, match="is_revoked"):
        repo.get_token(client_id=owner[0], user_id=owner[1], token_id=token_id)
    assert_scope_closed(data_store)
