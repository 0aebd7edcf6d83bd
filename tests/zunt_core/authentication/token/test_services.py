import base64
import os
import time
import uuid
from datetime import datetime, timedelta, timezone

import pytest
from jose import jwt
from jose.exceptions import ExpiredSignatureError, JWTClaimsError, JWTError
from pydantic import ValidationError

import zunt_core.authentication.token.service as service_package
from zunt_core.authentication.token.repository.models import TokenComplete
from zunt_core.authentication.token.service import CreateTokenService, RevokeTokenService, VerifyTokenService
from zunt_core.authentication.user.repository.models import User
from zunt_core.exception import InvalidClientException, UnauthorizedException

REFUSED_ALGORITHM = "The configured token algorithm is not supported."


def test_package_exports():
    assert service_package.__doc__ == "Token related services."
    assert service_package.__all__ == ["CreateTokenService", "RevokeTokenService", "VerifyTokenService"]


def test_constructors_keep_their_arguments(auth):
    assert list(vars(auth.create_token_service)) == ["token_repository"]
    assert list(vars(auth.verify_token_service)) == ["token_repository", "client_aware_service"]
    assert list(vars(auth.revoke_token_service)) == ["token_repository", "client_aware_service"]
    for cls in (CreateTokenService, RevokeTokenService, VerifyTokenService):
        assert cls.__bases__ == (object,)


@pytest.fixture(scope="module")
def client(auth):
    return auth.new_client()


@pytest.fixture(scope="module")
def user(auth, client):
    return auth.new_user(client)


@pytest.fixture
def token(auth, client, user):
    return auth.login(client, user)


def decoded(auth, token_text, algorithm="HS256"):
    return jwt.decode(token_text, auth.settings.auth_secret_key, algorithms=[algorithm])


def signed(auth, claims, algorithm="HS256", key=None):
    return jwt.encode(claims, key or auth.settings.auth_secret_key, algorithm=algorithm)


def row(auth, token_id):
    return auth.sql("SELECT id, user_id, client_id, is_revoked FROM tokens WHERE id = %s", (token_id,))


def token_count(auth):
    return auth.sql("SELECT count(*) FROM tokens")[0][0]


def test_an_issued_token(auth, client, user):
    before = datetime.now(timezone.utc)
    before_local = datetime.now()
    token = auth.login(client, user)
    after = datetime.now(timezone.utc)
    after_local = datetime.now()
    assert type(token) is TokenComplete
    assert (token.token_type, token.is_revoked, token.user_id, token.client_id) == ("Bearer", False, user.id, client.id)
    assert jwt.get_unverified_header(token.token) == {"alg": "HS256", "typ": "JWT"}
    claims = decoded(auth, token.token)
    assert list(claims) == ["sub", "client_id", "identifier", "jti", "exp"]
    assert claims["sub"] == str(user.id) and claims["client_id"] == str(client.id)
    assert claims["identifier"] == user.identifier and claims["jti"] == str(token.id) and token.id.version == 4
    thirty_days = timedelta(days=30)
    assert type(claims["exp"]) is int
    assert int((before + thirty_days).timestamp()) <= claims["exp"] <= int((after + thirty_days).timestamp())
    assert token.expires_at.tzinfo is None
    assert before_local + thirty_days <= token.expires_at <= after_local + thirty_days
    assert row(auth, token.id) == [(token.id, user.id, client.id, False)]


def test_verification_answers_the_rows_user(auth, client, user, token):
    answer = auth.verify_token_service.verify_token_and_get_user_id(client.api_key, token.token)
    assert answer == user.id and isinstance(answer, uuid.UUID)


def test_revocation(auth, client, user, token):
    assert auth.revoke_token_service.revoke_token(client.api_key, token.token) is True
    assert row(auth, token.id)[0][3] is True
    with pytest.raises(JWTError) as info:
        auth.verify_token_service.verify_token_and_get_user_id(client.api_key, token.token)
    assert type(info.value) is JWTError and str(info.value) == "Token has been revoked."
    assert auth.revoke_token_service.revoke_token(client.api_key, token.token) is True


def test_another_clients_key_finds_no_row(auth, token):
    other = auth.new_client()
    with pytest.raises(UnauthorizedException) as info:
        auth.verify_token_service.verify_token_and_get_user_id(other.api_key, token.token)
    assert str(info.value) == "Token not found." and info.value.status_code == 401
    assert auth.revoke_token_service.revoke_token(other.api_key, token.token) is False
    assert row(auth, token.id)[0][3] is False


def test_the_client_key_is_resolved_before_the_token(auth, client):
    for call in (auth.verify_token_service.verify_token_and_get_user_id, auth.revoke_token_service.revoke_token):
        with pytest.raises(InvalidClientException, match=r"^Invalid API Key\.$"):
            call("sk-client-x.y", "not a token")
        with pytest.raises(InvalidClientException, match=r"^Invalid API Key\.$"):
            call(client.api_key[:-1] + "#", "not a token")


def both(auth, client, token_text):
    """The errors of verifying and of revoking the token."""
    errors = []
    for call in (auth.verify_token_service.verify_token_and_get_user_id, auth.revoke_token_service.revoke_token):
        with pytest.raises(Exception) as info:
            call(client.api_key, token_text)
        errors.append(info.value)
    return errors


def claims_of(token):
    return {"sub": str(token.user_id), "client_id": str(token.client_id), "identifier": "x", "jti": str(token.id),
            "exp": int(time.time()) + 600}


@pytest.mark.parametrize(
    "forge",
    [
        lambda auth, claims: signed(auth, claims, key="another key"),
        lambda auth, claims: signed(auth, claims, algorithm="HS512"),
        lambda auth, claims: signed(auth, claims, algorithm="HS384"),
        lambda auth, claims: "eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0." + base64.urlsafe_b64encode(
            jwt.encode(claims, "k").split(".")[1].encode() + b"==").decode().rstrip("=") + ".",
        lambda auth, claims: signed(auth, claims)[:-3] + "AAA",
        lambda auth, claims: "not.a.token",
        lambda auth, claims: "",
    ],
    ids=["other-key", "HS512", "HS384", "alg-none", "tampered-signature", "garbage", "empty"],
)
def test_tokens_the_configured_key_and_algorithm_did_not_sign(auth, client, token, forge):
    for error in both(auth, client, forge(auth, claims_of(token))):
        assert isinstance(error, JWTError) and not isinstance(error, (ExpiredSignatureError, JWTClaimsError))
    assert row(auth, token.id)[0][3] is False


def test_an_expired_token_can_be_neither_verified_nor_revoked(auth, client, token):
    claims = claims_of(token) | {"exp": int(time.time()) - 5}
    for error in both(auth, client, signed(auth, claims)):
        assert type(error) is ExpiredSignatureError
    assert row(auth, token.id)[0][3] is False


@pytest.mark.parametrize("change", [
    {"jti": None}, {"sub": None}, {"sub": ""}, {"jti": ""},
], ids=["no-jti", "no-sub", "empty-sub", "empty-jti"])
def test_missing_or_empty_sub_or_jti(auth, client, token, change):
    claims = {k: v for k, v in (claims_of(token) | change).items() if v is not None}
    for error in both(auth, client, signed(auth, claims)):
        assert type(error) is JWTClaimsError and str(error) == "Invalid token claims."
    assert row(auth, token.id)[0][3] is False


def test_a_token_without_exp(auth, client, token):
    claims = claims_of(token)
    del claims["exp"]
    with pytest.raises(JWTClaimsError, match=r"^Invalid token claims\.$"):
        auth.verify_token_service.verify_token_and_get_user_id(client.api_key, signed(auth, claims))
    unknown = signed(auth, claims | {"jti": str(uuid.uuid4())})
    assert auth.revoke_token_service.revoke_token(client.api_key, unknown) is False
    assert row(auth, token.id)[0][3] is False
    assert auth.revoke_token_service.revoke_token(client.api_key, signed(auth, claims)) is True
    assert row(auth, token.id)[0][3] is True


@pytest.mark.parametrize("change, kind", [
    ({"sub": "not-a-uuid"}, ValueError), ({"jti": "12345"}, ValueError),
    ({"sub": 12345}, JWTClaimsError), ({"exp": "soon"}, JWTClaimsError),
])
def test_claims_of_the_wrong_form(auth, client, token, change, kind):
    for error in both(auth, client, signed(auth, claims_of(token) | change)):
        assert type(error) is kind
    assert row(auth, token.id)[0][3] is False


def test_upper_case_ids_in_claims_find_the_row(auth, client, user, token):
    claims = claims_of(token) | {"sub": str(token.user_id).upper(), "jti": token.id.hex}
    assert auth.verify_token_service.verify_token_and_get_user_id(client.api_key, signed(auth, claims)) == user.id


# --- the lifetime and the clock


def test_lifetime_from_the_settings_at_each_call(auth, client, user, monkeypatch):
    monkeypatch.setattr(auth.settings, "auth_access_token_expire_minutes", 2)
    start = int(datetime.now(timezone.utc).timestamp())
    claims = decoded(auth, auth.login(client, user).token)
    assert start + 120 <= claims["exp"] <= int(datetime.now(timezone.utc).timestamp()) + 120


def test_a_zero_lifetime_is_fifteen_minutes(auth, client, user, monkeypatch):
    monkeypatch.setattr(auth.settings, "auth_access_token_expire_minutes", 0)
    start = int(time.time())
    token = auth.login(client, user)
    assert start + 900 <= decoded(auth, token.token)["exp"] <= int(time.time()) + 900
    assert abs(token.expires_at - (datetime.now() + timedelta(minutes=15))) < timedelta(seconds=5)


def test_a_negative_lifetime_issues_expired_tokens(auth, client, user, monkeypatch):
    monkeypatch.setattr(auth.settings, "auth_access_token_expire_minutes", -1)
    token = auth.login(client, user)
    assert token.expires_at < datetime.now()
    assert row(auth, token.id) == [(token.id, user.id, client.id, False)]
    for error in both(auth, client, token.token):
        assert type(error) is ExpiredSignatureError


@pytest.mark.parametrize("lifetime, seconds", [
    (None, 900), (timedelta(0), 900), (timedelta(minutes=3), 180), (timedelta(seconds=90.9), 90),
    (timedelta(minutes=-10), -600), (timedelta(days=400), 400 * 86400),
])
def test_create_access_token(auth, lifetime, seconds):
    data = {"sub": "someone", "exp": 1}
    start = datetime.now(timezone.utc)
    if lifetime is None:
        text, expires_at = auth.create_token_service._create_access_token(data)
    else:
        text, expires_at = auth.create_token_service._create_access_token(data, lifetime)
    end = datetime.now(timezone.utc)
    assert data == {"sub": "someone", "exp": 1}  # the caller's map is not changed
    claims = decoded(auth, text, "HS256") if seconds > 0 else jwt.get_unverified_claims(text)
    assert list(claims) == ["sub", "exp"]
    exact = timedelta(seconds=seconds) if lifetime is None or not lifetime else lifetime
    assert int((start + exact).timestamp()) <= claims["exp"] <= int((end + exact).timestamp())
    assert expires_at.tzinfo is None
    # the local wall-clock time of the same instant as "exp", to the second
    assert abs(expires_at - datetime.fromtimestamp(claims["exp"])) < timedelta(seconds=1)


@pytest.fixture
def far_time_zone():
    saved = os.environ.get("TZ")
    os.environ["TZ"] = "America/St_Johns"  # UTC-3:30 or -2:30: never the machine's UTC by chance
    time.tzset()
    yield
    if saved is None:
        del os.environ["TZ"]
    else:
        os.environ["TZ"] = saved
    time.tzset()


def test_expires_at_is_local_wall_clock_time(auth, far_time_zone):
    text, expires_at = auth.create_token_service._create_access_token({"sub": "x"}, timedelta(hours=1))
    exp = jwt.get_unverified_claims(text)["exp"]
    utc_naive = datetime.fromtimestamp(exp, timezone.utc).replace(tzinfo=None)
    assert abs(expires_at - datetime.fromtimestamp(exp)) < timedelta(seconds=1)
    assert abs(expires_at - utc_naive) >= timedelta(hours=2)


def test_the_signing_key_is_read_at_each_call(auth, client, token, monkeypatch):
    monkeypatch.setattr(auth.settings, "auth_secret_key", auth.settings.auth_secret_key + "-rotated")
    for error in both(auth, client, token.token):
        assert isinstance(error, JWTError)


# --- algorithms


@pytest.mark.parametrize("algorithm", ["HS384", "HS512"])
def test_other_configured_hmac_algorithms(auth, client, user, monkeypatch, algorithm):
    monkeypatch.setattr(auth.settings, "auth_algorithm", algorithm)
    token = auth.login(client, user)
    assert jwt.get_unverified_header(token.token)["alg"] == algorithm
    assert auth.verify_token_service.verify_token_and_get_user_id(client.api_key, token.token) == user.id
    monkeypatch.setattr(auth.settings, "auth_algorithm", "HS256")
    for error in both(auth, client, token.token):  # signed with another algorithm than the configured one
        assert isinstance(error, JWTError)


def test_rs256_with_a_key_pair_text(auth, client, user, monkeypatch):
    rsa = pytest.importorskip("rsa")
    _, private = rsa.newkeys(1024)
    monkeypatch.setattr(auth.settings, "auth_algorithm", "RS256")
    monkeypatch.setattr(auth.settings, "auth_secret_key", private.save_pkcs1().decode())
    token = auth.login(client, user)
    assert jwt.get_unverified_header(token.token)["alg"] == "RS256"
    with pytest.warns(UserWarning):  # the JWT library's: verifying with the private half
        assert auth.verify_token_service.verify_token_and_get_user_id(client.api_key, token.token) == user.id


@pytest.mark.parametrize("algorithm", ["none", "None", "NONE", "nOnE", "HS999", "hs256", "RS1024", "", "PS256",
                                       "A256GCM", "dir", "RSA-OAEP"])
def test_refused_algorithms(auth, client, user, token, monkeypatch, algorithm):
    count = token_count(auth)
    monkeypatch.setattr(auth.settings, "auth_algorithm", algorithm)
    with pytest.raises(JWTError) as info:
        auth.login(client, user)
    errors = [info.value, *both(auth, client, token.token)]
    for error in errors:
        assert type(error) is JWTError and str(error) == REFUSED_ALGORITHM and error.__cause__ is None
    assert token_count(auth) == count
    assert row(auth, token.id)[0][3] is False


def test_an_unsigned_token_is_refused_even_when_its_claims_are_right(auth, client, token):
    unsigned = jwt.encode(claims_of(token), "", algorithm="HS256").split(".")
    header = base64.urlsafe_b64encode(b'{"alg":"none","typ":"JWT"}').decode().rstrip("=")
    for text in (f"{header}.{unsigned[1]}.", f"{header}.{unsigned[1]}.{unsigned[2]}"):
        for error in both(auth, client, text):
            assert isinstance(error, JWTError)
    assert row(auth, token.id)[0][3] is False


@pytest.mark.parametrize("key", ['{"kty": "oct", "k": "c2hvcnQ"}', '{"keys": [{"kty": "oct", "k": "c2hvcnQ"}]}',
                                 '{"x": "short"}', '["short", "other"]', '"short"', "12345"])
def test_a_key_text_that_reads_as_json_is_still_the_key(auth, client, user, monkeypatch, key):
    # Tokens are signed with the key's text, so they must be checked with that
    # same text, not with keys the JWT library would find inside it.
    monkeypatch.setattr(auth.settings, "auth_secret_key", key)
    token = auth.login(client, user)
    assert auth.verify_token_service.verify_token_and_get_user_id(client.api_key, token.token) == user.id
    forged = signed(auth, claims_of(token), key="short")
    for error in both(auth, client, forged):
        assert isinstance(error, JWTError)
    assert auth.revoke_token_service.revoke_token(client.api_key, token.token) is True


def test_a_user_record_without_an_id_stores_nothing(auth, client):
    count = token_count(auth)
    with pytest.raises(ValidationError):
        auth.create_token_service.create_token(
            User(identifier="nobody", secret_preview="sk-user-...", is_active=True, client_id=client.id))
    assert token_count(auth) == count
