"""The floors of the authentication services: the parts each one needs,
called directly in Python on a session of the same engine, with nothing of
zunt_core's between them but its table mappings.

- login_floor: one Argon2id verify of the stored hash (argon2-cffi), the two
  ORM look-ups a login needs (the active client by id, the user by client and
  id), python-jose's jwt.encode of the same claims, the token row's insert
  and its commit.
- verify_floor: python-jose's jwt.decode of the token, the active client by
  id and the token row by client, user and token id.
- schema_startup_floor: what a process start does on a current schema: the
  advisory lock on a connection of its own, the version table's existence,
  its stored version, the unlock.
"""

import uuid
from datetime import datetime, timedelta, timezone

import sqlalchemy
from argon2 import PasswordHasher
from jose import jwt
from sqlalchemy.orm import Session

from zunt_core.authentication.client.repository.sqlalchemy.models import DBClient
from zunt_core.authentication.token.repository.sqlalchemy.models import DBToken
from zunt_core.authentication.user.repository.sqlalchemy.models import DBUser

HASHER = PasswordHasher()
LOCK_KEY = 0x7A756E745F617574


def login_floor(engine, client_id, user_id, identifier, secret, key, algorithm="HS256", minutes=43200):
    with Session(engine) as session:
        client = session.query(DBClient).filter(DBClient.id == client_id, DBClient.is_active).first()
        user = session.query(DBUser).filter(DBUser.client_id == client.id, DBUser.id == user_id).first()
        if user.identifier != identifier:
            raise ValueError("identifier")
        HASHER.verify(user.secret, secret)
        token_id = uuid.uuid4()
        expires = datetime.now(timezone.utc) + timedelta(minutes=minutes)
        claims = {"sub": str(user.id), "client_id": str(client.id), "identifier": user.identifier,
                  "jti": str(token_id), "exp": int(expires.timestamp())}
        token = jwt.encode(claims, key, algorithm=algorithm)
        session.add(DBToken(id=token_id, user_id=user.id, client_id=client.id, is_revoked=False))
        session.commit()
        return token


def verify_floor(engine, client_id, token, key, algorithm="HS256"):
    claims = jwt.decode(token, key, algorithms=[algorithm])
    with Session(engine) as session:
        session.query(DBClient).filter(DBClient.id == client_id, DBClient.is_active).first()
        row = session.query(DBToken).filter(
            DBToken.client_id == client_id, DBToken.user_id == uuid.UUID(claims["sub"]),
            DBToken.id == uuid.UUID(claims["jti"])).first()
        return row.user_id


def verify_floor_two_sessions(engine, client_id, token, key, algorithm="HS256"):
    """verify_floor with each look-up in a session of its own, as every repository operation is."""
    claims = jwt.decode(token, key, algorithms=[algorithm])
    with Session(engine) as session:
        session.query(DBClient).filter(DBClient.id == client_id, DBClient.is_active).first()
    with Session(engine) as session:
        row = session.query(DBToken).filter(
            DBToken.client_id == client_id, DBToken.user_id == uuid.UUID(claims["sub"]),
            DBToken.id == uuid.UUID(claims["jti"])).first()
        return row.user_id


def schema_startup_floor(engine):
    text = sqlalchemy.text
    with engine.connect() as lock:
        lock.execute(text("SELECT pg_advisory_lock(:key)"), {"key": LOCK_KEY})
        lock.commit()
        try:
            if not sqlalchemy.inspect(engine).has_table("zunt_auth_database_versions"):
                raise RuntimeError("the schema is not current")
            with engine.begin() as connection:
                version = connection.execute(text("SELECT version FROM zunt_auth_database_versions")).fetchone()[0]
            if version < 3:
                raise RuntimeError("the schema is not current")
        finally:
            lock.execute(text("SELECT pg_advisory_unlock(:key)"), {"key": LOCK_KEY})
            lock.commit()
