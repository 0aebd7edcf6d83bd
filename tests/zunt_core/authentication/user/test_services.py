import uuid

import pytest
from sqlalchemy.exc import IntegrityError

import zunt_core.authentication.user.service as service_package
from zunt_core.authentication.common.base64_helper import encode_base64
from zunt_core.authentication.plugin.repository.models import ThirdPartyIntegrationAuth, ThirdPartyIntegrationAuthBasic
from zunt_core.authentication.security.argon2 import Argon2PasswordHashService
from zunt_core.authentication.token.repository.models import TokenComplete
from zunt_core.authentication.user.helper.helper import UserHelper
from zunt_core.authentication.user.repository.models import UserComplete, UserModel
from zunt_core.authentication.user.service import AuthenticateUserService, CreateUserService, GetUserService
from zunt_core.exception import InvalidClientException, UnauthorizedException
from zunt_core.exception.base import UserAlreadyExistsException

INCORRECT = "Identifier or password is incorrect."


def test_package_exports():
    assert service_package.__doc__ == "User related services."
    assert service_package.__all__ == ["AuthenticateUserService", "CreateUserService", "GetUserService"]


def test_constructors(auth):
    assert list(vars(auth.create_user_service)) == ["client_aware_service", "user_repository", "user_helper",
                                                    "hash_service"]
    assert list(vars(auth.get_user_service)) == ["client_aware_service", "user_repository",
                                                 "third_party_integration_service"]
    assert list(vars(auth.authenticate_user_service)) == ["user_service", "create_token_service", "user_helper",
                                                          "hash_service"]
    hasher = auth.settings.password_hash_service
    assert isinstance(hasher, Argon2PasswordHashService)
    assert auth.create_user_service.hash_service is hasher and auth.authenticate_user_service.hash_service is hasher
    assert type(auth.create_user_service.user_helper) is UserHelper
    assert auth.create_user_service.user_helper is not auth.authenticate_user_service.user_helper
    assert CreateUserService.USER_SECRET_PREVIEW_LENGTH == 8
    for cls in (AuthenticateUserService, CreateUserService, GetUserService):
        assert cls.__bases__ == (object,)


@pytest.fixture(scope="module")
def client(auth):
    return auth.new_client()


@pytest.fixture(scope="module")
def user(auth, client):
    return auth.new_user(client, auth.unique("ada@example.com"))


def test_create_user(auth, client, user):
    assert type(user) is UserModel
    key = user.secret
    secret = key.rsplit(".", 1)[1]
    assert key.startswith("sk-user-") and len(secret) == 43
    assert key == UserHelper().build_api_key(user.model_copy(update={"secret": secret}))
    assert (user.is_active, user.client_id, user.id.version) == (True, client.id, 4)
    assert user.secret_preview == "sk-user-..." + key[-8:] and len(user.secret_preview) == 19
    stored = auth.get_user_service.get_user(client.api_key, user.id)
    assert stored.secret_preview == user.secret_preview and stored.secret.startswith("$argon2id$")
    assert auth.settings.password_hash_service.verify(secret, stored.secret)
    rows = auth.sql("SELECT identifier, secret, secret_preview, is_active, client_id FROM users WHERE id = %s",
                    (user.id,))
    assert rows == [(user.identifier, stored.secret, user.secret_preview, True, client.id)]


def test_two_users_differ(auth, client, user):
    second = auth.new_user(client)
    assert second.id != user.id and second.secret != user.secret
    assert second.secret.rsplit(".", 1)[1] != user.secret.rsplit(".", 1)[1]


def test_a_duplicate_identifier(auth, client, user):
    count = auth.sql("SELECT count(*) FROM users")[0][0]
    with pytest.raises(UserAlreadyExistsException) as info:
        auth.create_user_service.create_user(client.api_key, user.identifier)
    assert str(info.value) == "User already exists." and info.value.status_code == 409
    # unique over the whole table: another client's insert is refused by the database
    with pytest.raises(IntegrityError):
        auth.create_user_service.create_user(auth.new_client().api_key, user.identifier)
    assert auth.sql("SELECT count(*) FROM users")[0][0] == count


def test_create_user_resolves_the_client_first(auth):
    with pytest.raises(InvalidClientException, match=r"^Invalid API Key\.$"):
        auth.create_user_service.create_user("sk-client-a.b", "someone")


def test_login(auth, client, user):
    token = auth.login(client, user)
    assert type(token) is TokenComplete and token.user_id == user.id and token.client_id == client.id
    assert auth.verify_token_service.verify_token_and_get_user_id(client.api_key, token.token) == user.id


def test_the_keys_identifier_segment_is_never_compared(auth, client, user):
    head, _, secret = user.secret.rsplit(".", 2)
    key = f"{head}.{encode_base64('someone else')}.{secret}"
    token = auth.authenticate_user_service.authenticate_user(client.api_key, user.identifier, key)
    assert token.user_id == user.id


@pytest.mark.parametrize("identifier", [
    lambda i: i.upper(), lambda i: i + " ", lambda i: " " + i, lambda i: i[:-1], lambda i: "",
], ids=["upper-case", "trailing-space", "leading-space", "shorter", "empty"])
def test_another_identifier_is_refused(auth, client, user, identifier):
    with pytest.raises(UnauthorizedException) as info:
        auth.authenticate_user_service.authenticate_user(client.api_key, identifier(user.identifier), user.secret)
    assert str(info.value) == INCORRECT and info.value.status_code == 401 and info.value.__cause__ is None


class EqualToAnything(str):
    def __eq__(self, other):
        return True

    __hash__ = str.__hash__


def test_an_identifier_that_claims_equality_is_refused(auth, client, user):
    with pytest.raises(UnauthorizedException, match=f"^{INCORRECT}$"):
        auth.authenticate_user_service.authenticate_user(client.api_key, EqualToAnything("someone"), user.secret)
    # the stored text's own comparison still accepts the right identifier in a subclass
    token = auth.authenticate_user_service.authenticate_user(client.api_key, EqualToAnything(user.identifier),
                                                             user.secret)
    assert token.user_id == user.id


def test_refused_logins(auth, client, user):
    head, secret = user.secret.rsplit(".", 1)
    other_client = auth.new_client()
    other_user = auth.new_user(other_client)
    unknown = UserHelper().build_api_key(user.model_copy(update={"id": uuid.uuid4(), "secret": secret}))
    cases = [
        (client.api_key, user.identifier, f"{head}.{UserHelper().generate_secret()}"),  # wrong secret
        (client.api_key, user.identifier, f"{head}.{secret[:-1]}"),
        (client.api_key, user.identifier, f"{head}."),
        (client.api_key, user.identifier, unknown),  # no such user id
        (client.api_key, other_user.identifier, other_user.secret),  # a user of another client
        (other_client.api_key, user.identifier, user.secret),
    ]
    for api_key, identifier, key in cases:
        with pytest.raises(UnauthorizedException, match=f"^{INCORRECT}$"):
            auth.authenticate_user_service.authenticate_user(api_key, identifier, key)


def test_an_unreadable_stored_hash_refuses_the_login(auth, client):
    user = auth.new_user(client)
    auth.sql("UPDATE users SET secret = 'not a hash' WHERE id = %s", (user.id,))
    with pytest.raises(UnauthorizedException, match=f"^{INCORRECT}$"):
        auth.login(client, user)


def test_the_user_key_is_read_before_the_client_key(auth, client, user):
    with pytest.raises(UnauthorizedException) as info:
        auth.authenticate_user_service.authenticate_user("sk-client-bad", user.identifier, "sk-user-a.b")
    assert str(info.value) == "Invalid token." and str(info.value.__cause__) == "Invalid token."
    with pytest.raises(InvalidClientException, match=r"^Invalid API Key\.$"):
        auth.authenticate_user_service.authenticate_user("sk-client-bad", user.identifier, user.secret)
    with pytest.raises(UnauthorizedException, match="badly formed hexadecimal UUID string"):
        auth.authenticate_user_service.authenticate_user(
            client.api_key, user.identifier, "sk-user-" + encode_base64("no-uuid") + ".YQ.s")


class CountingHasher:
    def __init__(self, real):
        self.real, self.verified = real, 0

    def verify(self, password, hashed_password):
        self.verified += 1
        return self.real.verify(password, hashed_password)


def test_no_verification_for_an_unknown_user_or_another_identifier(auth, client, user):
    login = AuthenticateUserService(auth.create_token_service, auth.get_user_service)
    login.hash_service = counting = CountingHasher(login.hash_service)
    unknown = UserHelper().build_api_key(user.model_copy(update={"id": uuid.uuid4(), "secret": "x"}))
    for identifier, key in ((user.identifier, unknown), (user.identifier + "!", user.secret)):
        with pytest.raises(UnauthorizedException):
            login.authenticate_user(client.api_key, identifier, key)
    assert counting.verified == 0
    login.authenticate_user(client.api_key, user.identifier, user.secret)
    assert counting.verified == 1


def test_an_inactive_user_is_found_and_logs_in(auth, client):
    user = auth.new_user(client)
    auth.sql("UPDATE users SET is_active = false WHERE id = %s", (user.id,))
    assert auth.get_user_service.get_user(client.api_key, user.id).is_active is False
    assert auth.get_user_service.get_user_by_identifier(client.api_key, user.identifier).id == user.id
    assert auth.login(client, user).user_id == user.id


def test_getters(auth, client, user):
    other = auth.new_client()
    getters = auth.get_user_service
    assert getters.get_user(client.api_key, user.id).id == user.id
    assert getters.get_user(client.api_key, uuid.uuid4()) is None
    assert getters.get_user(other.api_key, user.id) is None
    assert getters.get_user_by_identifier(client.api_key, user.identifier).id == user.id
    assert getters.get_user_by_identifier(client.api_key, user.identifier.upper()) is None
    assert getters.get_user_by_identifier(other.api_key, user.identifier) is None
    assert getters.get_user_by_client_id(client.id, user.id).id == user.id
    assert getters.get_user_by_client_id(other.id, user.id) is None
    assert getters.get_user_by_client_id(uuid.uuid4(), user.id) is None
    for call in (getters.get_user, getters.get_user_by_identifier, getters.get_user_complete):
        with pytest.raises(InvalidClientException):
            call("sk-client-x.y.z", user.id)


def integration(client_id, user_id, connector, account):
    return ThirdPartyIntegrationAuth(client_id=client_id, user_id=user_id, connector=connector,
                                     user_identifier=account, auth_string=f"token-of-{account}",
                                     auth_scopes=["read", "write"])


def test_get_user_complete(auth, client):
    user = auth.new_user(client)
    bare = auth.get_user_service.get_user_complete(client.api_key, user.id)
    assert type(bare) is UserComplete and bare.integrations == []
    assert (bare.id, bare.identifier, bare.secret_preview, bare.is_active, bare.client_id) == (
        user.id, user.identifier, user.secret_preview, True, client.id)
    service = auth.third_party_integration_service
    made = [service.create_integration(integration(client.id, user.id, connector, account))
            for connector, account in (("github", "ada"), ("github", "ada-work"), ("slack", "ada"))]
    complete = auth.get_user_service.get_user_complete(client.api_key, user.id)
    assert sorted(i.id for i in complete.integrations) == sorted(i.id for i in made)
    # the records themselves, under the basic type: a dump shows the six basic fields only
    assert all(isinstance(i, ThirdPartyIntegrationAuth) for i in complete.integrations)
    assert all(i.auth_string.startswith("token-of-") for i in complete.integrations)
    for dumped in complete.model_dump()["integrations"]:
        assert list(dumped) == ["id", "client_id", "user_id", "connector", "user_identifier", "selected"]
    assert "auth_string" not in complete.model_dump_json() and "secret" not in complete.model_dump()
    assert ThirdPartyIntegrationAuthBasic.model_fields.keys() == complete.model_dump()["integrations"][0].keys()


def test_get_user_complete_for_a_user_the_client_does_not_have(auth, client):
    other = auth.new_client()
    stranger = auth.new_user(other)
    auth.third_party_integration_service.create_integration(integration(other.id, stranger.id, "github", "s"))
    assert auth.get_user_service.get_user_complete(client.api_key, stranger.id) is None
    assert auth.get_user_service.get_user_complete(client.api_key, uuid.uuid4()) is None
