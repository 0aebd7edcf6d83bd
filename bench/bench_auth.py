"""Times the authentication services against the floors of bench/auth_baseline.py.

Run by hand: .venv/bin/python bench/bench_auth.py [--repeat N] [--verifications N]
The database is the server that ZUNT_BENCH_DATABASE_URL names (a URL to a
database of it, for a role that may create databases), else a throwaway
PostgreSQL cluster (scripts/pgcluster.py) made and removed here. Prints:

- login (authenticate_user) and its floor, the same stored hash, claims and insert;
- token verification and its floor (and the floor with one session per look-up);
- verifications on 1 and on 8 threads sharing one started component;
- the schema start-up of a process on a current database, and init_auth_services whole;
- Argon2PasswordHashService.hash and verify against argon2-cffi's PasswordHasher.
Runs of the service and of its floor are interleaved; each figure is the best run.
"""

import argparse
import gc
import logging
import os
import shutil
import sys
import tempfile
import threading
import time
import uuid

import psycopg
from argon2 import PasswordHasher
from sqlalchemy.engine import make_url

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "scripts"))
import auth_baseline as floor  # noqa: E402
import pgcluster  # noqa: E402

from zunt_core.authentication import AuthenticationDbSettings, init_auth_services  # noqa: E402
from zunt_core.authentication import service as auth  # noqa: E402
from zunt_core.authentication.database import DatabaseAdapter, initialize_authentication_db  # noqa: E402
from zunt_core.authentication.security.argon2 import Argon2PasswordHashService  # noqa: E402

KEY = "bench-signing-key-" + uuid.uuid4().hex


def timed(fn, number=1):
    gc.collect()
    t0 = time.perf_counter()
    for _ in range(number):
        fn()
    return (time.perf_counter() - t0) / number


def best_pair(fn_a, fn_b, repeat, number):
    """Best seconds per call of two functions, their runs interleaved."""
    a, b = [], []
    for _ in range(repeat):
        a.append(timed(fn_a, number))
        b.append(timed(fn_b, number))
    return min(a), min(b)


def line(name, ours, base, unit="ms", scale=1e3):
    print(f"{name:44} {ours * scale:10.3f} {base * scale:10.3f} {unit}  {ours / base:6.3f}x")


class Database:
    """A database for the run, on the named server or on a cluster of our own."""

    def __enter__(self):
        named = os.environ.get("ZUNT_BENCH_DATABASE_URL")
        self.directory = None
        if named:
            server = make_url(named)
        else:
            self.directory = tempfile.mkdtemp(prefix="zunt-pg-bench-")
            server = make_url(pgcluster.start(self.directory))
        self.admin = dict(host=server.host, port=server.port, user=server.username, password=server.password,
                          dbname=server.database or "postgres", autocommit=True)
        self.name = f"zunt_bench_{uuid.uuid4().hex[:10]}"
        with psycopg.connect(**self.admin) as conn:
            conn.execute(f'CREATE DATABASE "{self.name}"')
        return server.set(database=self.name).render_as_string(hide_password=False)

    def __exit__(self, *exc):
        if DatabaseAdapter.engine is not None:
            DatabaseAdapter.engine.dispose()
        with psycopg.connect(**self.admin) as conn:
            conn.execute(f'DROP DATABASE IF EXISTS "{self.name}" WITH (FORCE)')
        if self.directory is not None:
            pgcluster.stop(self.directory)
            shutil.rmtree(self.directory, ignore_errors=True)


def login(args, scene):
    client, user, secret = scene["client"], scene["user"], scene["secret"]
    service = auth.authenticate_user_service
    engine = DatabaseAdapter.engine

    def ours():
        service.authenticate_user(client.api_key, user.identifier, user.secret)

    def base():
        floor.login_floor(engine, client.id, user.id, user.identifier, secret, KEY)

    ours(), base()
    t_ours, t_base = best_pair(ours, base, args.repeat, 3)
    line("login: authenticate_user vs floor", t_ours, t_base)


def verification(args, scene):
    client, user = scene["client"], scene["user"]
    token = auth.authenticate_user_service.authenticate_user(client.api_key, user.identifier, user.secret).token
    service = auth.verify_token_service
    engine = DatabaseAdapter.engine
    assert service.verify_token_and_get_user_id(client.api_key, token) == user.id
    assert floor.verify_floor(engine, client.id, token, KEY) == user.id

    def ours():
        service.verify_token_and_get_user_id(client.api_key, token)

    def base():
        floor.verify_floor(engine, client.id, token, KEY)

    def base_two():
        floor.verify_floor_two_sessions(engine, client.id, token, KEY)

    t_ours, t_base = best_pair(ours, base, args.repeat, 200)
    line("verify: verify_token_and_get_user_id vs floor", t_ours, t_base)
    t_ours2, t_two = best_pair(ours, base_two, args.repeat, 200)
    line("  vs floor, one session per look-up", t_ours2, t_two)
    scene["token"] = token


def threads(args, scene):
    client, token = scene["client"], scene["token"]
    service = auth.verify_token_service
    user_id = scene["user"].id
    n = args.verifications

    def run(count, errors):
        try:
            for _ in range(count):
                if service.verify_token_and_get_user_id(client.api_key, token) != user_id:
                    raise AssertionError("another user")
        except Exception as e:  # noqa: BLE001 - counted below
            errors.append(e)

    for workers in (1, 8):
        errors = []
        pool = [threading.Thread(target=run, args=(n, errors)) for _ in range(workers)]
        t0 = time.perf_counter()
        for t in pool:
            t.start()
        for t in pool:
            t.join()
        elapsed = time.perf_counter() - t0
        print(f"{workers} thread(s) x {n} verifications: {elapsed:6.2f} s, {workers * n / elapsed:7.0f} per second, "
              f"{len(errors)} errors" + (f" ({errors[0]!r})" if errors else ""))


def startup(args, scene):
    url = scene["url"]
    store = type("Store", (), {})()
    store.engine = DatabaseAdapter.engine

    def ours():
        initialize_authentication_db(store)

    def base():
        floor.schema_startup_floor(store.engine)

    ours(), base()
    t_ours, t_base = best_pair(ours, base, args.repeat, 20)
    line("schema start-up on a current database", t_ours, t_base)

    engines = []

    def whole():
        init_auth_services(scene["settings"])
        engines.append(DatabaseAdapter.engine)

    times = []
    for _ in range(args.repeat):
        times.append(timed(whole, 1))
        for engine in engines[:-1]:
            engine.dispose()
        del engines[:-1]
    print(f"{'init_auth_services on a current database':44} {min(times) * 1e3:10.3f} ms "
          f"(a new engine and pool each time; url {make_url(url).database})")


def hashing(args):
    service = Argon2PasswordHashService()
    direct = PasswordHasher()
    password = "correct horse battery staple"
    stored = direct.hash(password)
    t_ours, t_base = best_pair(lambda: service.hash(password), lambda: direct.hash(password), args.repeat, 3)
    line("Argon2PasswordHashService.hash vs PasswordHasher", t_ours, t_base)
    t_ours, t_base = best_pair(lambda: service.verify(password, stored), lambda: direct.verify(stored, password),
                               args.repeat, 3)
    line("Argon2PasswordHashService.verify vs PasswordHasher", t_ours, t_base)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--verifications", type=int, default=1000)
    args = parser.parse_args()
    logging.disable(logging.CRITICAL)  # the migrations' debug lines cost the same to both

    with Database() as url:
        AuthenticationDbSettings._instance = None
        settings = AuthenticationDbSettings(database_authentication_url=url, auth_secret_key=KEY,
                                            auth_algorithm="HS256", auth_access_token_expire_minutes=43200)
        init_auth_services(settings)
        client = auth.create_client_service.create_client("bench")
        user = auth.create_user_service.create_user(client.api_key, "bench-user")
        scene = {"url": url, "settings": settings, "client": client, "user": user,
                 "secret": user.secret.rsplit(".", 1)[1]}
        print(f"best of {args.repeat} interleaved runs; Python {sys.version.split()[0]}; PostgreSQL on "
              f"{make_url(url).host}:{make_url(url).port}")
        print(f"{'':44} {'service':>10} {'floor':>10}     ratio")
        login(args, scene)
        verification(args, scene)
        hashing(args)
        startup(args, scene)
        threads(args, scene)


if __name__ == "__main__":
    main()
