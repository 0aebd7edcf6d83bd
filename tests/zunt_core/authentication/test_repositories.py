"""The four SQL repositories together on one data store: bound SQL, and many
threads at once (their interfaces side by side: test_repository_interfaces.py)."""

import threading
import uuid

from sqlalchemy import event, exc, text

from zunt_core.authentication.client.repository.models import ClientBasic
from zunt_core.authentication.client.repository.sqlalchemy.repository import SqlAlchemyClientRepository
from zunt_core.authentication.database import SQLAlchemySQLDataStore, initialize_authentication_db
from zunt_core.authentication.plugin.repository.models import ThirdPartyIntegrationAuth
from zunt_core.authentication.plugin.repository.sqlalchemy.repository import SqlAlchemyThirdPartyIntegrationRepository
from zunt_core.authentication.token.repository.models import Token
from zunt_core.authentication.token.repository.sqlalchemy.repository import SqlAlchemyTokenRepository
from zunt_core.authentication.user.repository.models import UserModel
from zunt_core.authentication.user.repository.sqlalchemy.repository import SqlAlchemyUserRepository


class Repositories:
    def __init__(self, store):
        self.clients = SqlAlchemyClientRepository(store)
        self.users = SqlAlchemyUserRepository(store)
        self.tokens = SqlAlchemyTokenRepository(store)
        self.integrations = SqlAlchemyThirdPartyIntegrationRepository(store)


def client_record(text=""):
    client_id = uuid.uuid4()
    return ClientBasic(id=client_id, name=f"{text}name-{client_id}", secret=f"{text}secret-{client_id}")


def user_record(client_id, text=""):
    user_id = uuid.uuid4()
    return UserModel(id=user_id, identifier=f"{text}user-{user_id}", secret=f"{text}hash",
                     secret_preview=f"{text}preview", is_active=True, client_id=client_id)


def integration_record(client_id, user_id, connector, user_identifier, text=""):
    return ThirdPartyIntegrationAuth(client_id=client_id, user_id=user_id, connector=connector,
                                     user_identifier=user_identifier, auth_string=f"{text}credential",
                                     auth_scopes=[f"{text}scope"])


def test_values_reach_the_database_as_parameters(data_store):
    """Texts and ids go to the database bound, never pasted into the SQL."""
    statements = []

    def record(conn, cursor, statement, *rest):
        statements.append(statement)

    event.listen(data_store.engine, "before_cursor_execute", record)
    try:
        repos = Repositories(data_store)
        text = "it's \"quoted\"; -- "
        client = repos.clients.create_client(client_record(text))
        repos.clients.get_client_by_id(client.id)
        user = repos.users.create_user(user_record(client.id, text))
        repos.users.get_user(client.id, user.id)
        repos.users.get_user_by_identifier(client.id, user.identifier)
        token = Token(id=uuid.uuid4(), user_id=user.id, client_id=client.id, is_revoked=False)
        repos.tokens.create_token(token)
        repos.tokens.get_token(client_id=client.id, user_id=user.id, token_id=token.id)
        repos.tokens.revoke_token(client_id=client.id, user_id=user.id, token_id=token.id)
        integrations = repos.integrations
        made = integrations.create_integration(integration_record(client.id, user.id, text + "c", text + "u", text))
        assert integrations.has_integration(client.id, user.id, text + "c") is True
        assert integrations.get_integration(client.id, user.id, text + "c", text + "u") == made
        integrations.get_selected_integration(client.id, user.id, text + "c")
        integrations.get_latest_created_integration(client.id, user.id, text + "c")
        integrations.get_integrations(client.id, user.id)
        assert integrations.update_integration(made) == made
        assert integrations.get_integrations_by_connector(text + "c") == [made]
        integrations.delete_integration(client.id, user.id, text + "c", text + "u")
        integrations.delete_integrations([made.id])
    finally:
        event.remove(data_store.engine, "before_cursor_execute", record)
    pasted = [s for s in statements if "quoted" in s or str(client.id) in s or str(user.id) in s]
    assert statements and pasted == []


THREADS, CYCLES = 8, 10  # 23 operations a cycle: 230 a thread


def run_cycles(repos, stored, failures_seen):
    """One thread's work: every step is one repository operation; three of
    them fail on a duplicate, and the step after each must succeed."""
    for _ in range(CYCLES):
        client = repos.clients.create_client(client_record())
        assert repos.clients.get_client_by_id(client.id) == client
        user = repos.users.create_user(user_record(client.id))
        assert repos.users.get_user_by_identifier(client.id, user.identifier) == user
        tokens = [Token(id=uuid.uuid4(), user_id=user.id, client_id=client.id, is_revoked=False) for _ in range(2)]
        for token in tokens:
            repos.tokens.create_token(token)
        assert repos.tokens.revoke_token(client_id=client.id, user_id=user.id, token_id=tokens[0].id) is True
        assert repos.tokens.get_token(client_id=client.id, user_id=user.id, token_id=tokens[0].id).is_revoked is True
        mail_a, mail_b, chat_a = (
            repos.integrations.create_integration(integration_record(client.id, user.id, connector, identifier))
            for connector, identifier in (("mail", "a"), ("mail", "b"), ("chat", "a")))
        assert repos.integrations.has_integration(client.id, user.id, "chat") is True
        assert len(repos.integrations.get_integrations(client.id, user.id)) == 3
        repos.integrations.delete_integration(client.id, user.id, "mail", "b")
        repos.integrations.delete_integrations([chat_a.id])
        mail_a.selected = True
        assert repos.integrations.update_integration(mail_a) == mail_a
        assert repos.integrations.get_selected_integration(client.id, user.id, "") == mail_a
        for duplicate in (lambda: repos.clients.create_client(client_record().model_copy(update={"name": client.name})),
                          lambda: repos.users.create_user(user_record(client.id).model_copy(
                              update={"identifier": user.identifier})),
                          lambda: repos.tokens.create_token(tokens[1])):
            try:
                duplicate()
            except exc.IntegrityError:
                failures_seen.append(1)
            assert repos.users.get_user(client.id, user.id) == user  # the session is usable at once
        stored.append((client, user, tokens, mail_a))


def test_eight_threads_on_one_data_store(new_database):
    store = SQLAlchemySQLDataStore(new_database())
    initialize_authentication_db(store)
    repos = Repositories(store)
    lock = threading.Lock()
    pool = {"out": 0, "most": 0}
    owners = {}  # session -> threads that began a transaction on it

    def checkout(*args):
        with lock:
            pool["out"] += 1
            pool["most"] = max(pool["most"], pool["out"])

    def checkin(*args):
        with lock:
            pool["out"] -= 1

    def began(session, transaction, connection):
        with lock:
            owners.setdefault(session, set()).add(threading.get_ident())

    event.listen(store.engine, "checkout", checkout)
    event.listen(store.engine, "checkin", checkin)
    event.listen(store.db.session_factory, "after_begin", began)
    stored, failures_seen, errors = [], [], []
    start = threading.Barrier(THREADS)

    def work():
        start.wait()
        try:
            run_cycles(repos, stored, failures_seen)
        except BaseException as e:  # reported below, with the thread's own traceback
            errors.append(e)

    threads = [threading.Thread(target=work) for _ in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    if errors:
        raise errors[0]

    assert len(failures_seen) == THREADS * CYCLES * 3
    assert 1 <= pool["most"] <= THREADS <= 20  # one connection per thread at most, inside the pool's 20
    assert pool["out"] == 0 and store.engine.pool.checkedout() == 0
    workers = {t.ident for t in threads}
    worker_sessions = {s: o for s, o in owners.items() if o & workers}
    assert len(worker_sessions) == THREADS and all(len(o) == 1 for o in worker_sessions.values())

    # Nothing lost: every row written is found afterwards, and nothing else.
    total = THREADS * CYCLES
    assert len(stored) == total
    with store.engine.connect() as conn:
        counts = conn.execute(text(
            "SELECT (SELECT count(*) FROM clients), (SELECT count(*) FROM users), (SELECT count(*) FROM tokens), "
            "(SELECT count(*) FROM tokens WHERE is_revoked), "
            "(SELECT count(*) FROM third_party_integration_auths)")).one()
    assert tuple(counts) == (total, total, 2 * total, total, total)  # one token of two revoked
    for client, user, tokens, integration in stored:
        assert repos.clients.get_client_by_id(client.id) == client
        assert repos.users.get_user(client.id, user.id) == user
        assert [repos.tokens.get_token(client_id=client.id, user_id=user.id, token_id=t.id).is_revoked
                for t in tokens] == [True, False]
        assert repos.integrations.get_integrations(client.id, user.id) == [integration]
    store.engine.dispose()
