"""An application's use of the authentication component, as its type checkers see it.

scripts/test.sh runs mypy --strict and pyright (strict) over this file, and
tests/test_examples.py runs it on a database of its own, named by
DATABASE_AUTHENTICATION_URL. Each assert_type states what a user's checker
must infer; at run time the program checks the values as well.
"""

import secrets
from collections.abc import Mapping
from datetime import datetime, timedelta
from types import MappingProxyType
from typing import Any, TypeVar, assert_type
from uuid import UUID, uuid4

from jose import JWTError
from jose.exceptions import ExpiredSignatureError, JWTClaimsError

from zunt_core.authentication import AuthenticationDbSettings, init_auth_services
from zunt_core.authentication import service as auth
from zunt_core.authentication.client.helper.helper import ClientHelper
from zunt_core.authentication.client.repository.models import Client, ClientBasic, ClientModel
from zunt_core.authentication.client.service import ClientAwareService, CreateClientService, VerifyClientService
from zunt_core.authentication.plugin.repository.models import ThirdPartyIntegrationAuth, ThirdPartyIntegrationAuthBasic
from zunt_core.authentication.plugin.service import ThirdPartyIntegrationService
from zunt_core.authentication.security.hash import PasswordHashService
from zunt_core.authentication.token.repository.models import TokenComplete
from zunt_core.authentication.token.service import CreateTokenService, RevokeTokenService, VerifyTokenService
from zunt_core.authentication.user.helper.helper import UserHelper
from zunt_core.authentication.user.repository.models import UserBasic, UserComplete, UserModel
from zunt_core.authentication.user.service import AuthenticateUserService, CreateUserService, GetUserService
from zunt_core.exception import InvalidClientException, UnauthorizedException, ZuntException
from zunt_core.exception.base import NotFoundException, UserAlreadyExistsException

S = TypeVar("S")


def published(slot: S | None) -> S:
    """A service slot, read when it is used."""
    if slot is None:
        raise RuntimeError("the authentication services are not initialised")
    return slot


def initialized() -> bool:
    # The flag's leading underscore is the module's own name for it; reading it is what it is for.
    flag = auth._initialized  # pyright: ignore[reportPrivateUsage]
    assert_type(flag, bool)
    return flag


def slots_before_start() -> None:
    assert_type(auth.create_client_service, CreateClientService | None)
    assert_type(auth.client_aware_service, ClientAwareService | None)
    assert_type(auth.verify_client_service, VerifyClientService | None)
    assert_type(auth.create_user_service, CreateUserService | None)
    assert_type(auth.get_user_service, GetUserService | None)
    assert_type(auth.authenticate_user_service, AuthenticateUserService | None)
    assert_type(auth.create_token_service, CreateTokenService | None)
    assert_type(auth.verify_token_service, VerifyTokenService | None)
    assert_type(auth.revoke_token_service, RevokeTokenService | None)
    assert_type(auth.third_party_integration_service, ThirdPartyIntegrationService | None)
    assert initialized() is False and auth.create_client_service is None


def start() -> AuthenticationDbSettings:
    # The database URL comes from DATABASE_AUTHENTICATION_URL; the signing key is this run's own.
    settings = AuthenticationDbSettings(auth_secret_key=secrets.token_urlsafe(32))
    assert_type(settings.database_authentication_url, str)
    assert_type(settings.auth_algorithm, str)
    assert_type(settings.auth_access_token_expire_minutes, int)
    hasher = settings.password_hash_service
    assert_type(hasher, PasswordHashService)
    assert_type(hasher.verify("pw", hasher.hash("pw")), bool)
    assert_type(init_auth_services(settings), None)
    assert AuthenticationDbSettings() is settings and initialized() is True
    return settings


def clients() -> tuple[Client, Client]:
    client = published(auth.create_client_service).create_client(f"typed-{uuid4().hex[:8]}")
    assert_type(client, Client)
    assert_type(client.api_key, str)
    assert_type(client.created_at, datetime | None)
    read = ClientHelper().to_client(client.api_key)
    assert_type(read, ClientBasic)
    assert read.id == client.id and ClientHelper().build_api_key(read) == client.api_key

    verifier = published(auth.verify_client_service)
    assert_type(verifier.is_api_key_valid(client.api_key), bool)
    assert_type(verifier.verify_api_key(client.api_key), None)
    resolver = published(auth.client_aware_service)
    assert_type(resolver.get_client_id_by_api_key(client.api_key), UUID)
    found = resolver.get_client_by_api_key(client.api_key)
    assert_type(found, ClientModel)
    assert resolver.get_client_by_id(client.id).id == found.id == client.id
    try:
        verifier.verify_api_key(client.api_key[:-2] + "xx")
        raise AssertionError("a wrong secret was accepted")
    except InvalidClientException as refused:
        assert_type(refused.status_code, int)
        assert (str(refused), refused.status_code) == ("Invalid API Key.", 404)
    return client, published(auth.create_client_service).create_client(f"typed-{uuid4().hex[:8]}")


def users(client: Client, other: Client) -> UserModel:
    user = published(auth.create_user_service).create_user(client.api_key, "ada")
    assert_type(user, UserModel)
    assert_type(user.id, UUID | None)
    assert user.secret.startswith(UserHelper.SECRET_PREFIX)
    key = UserHelper().to_user(user.secret)
    assert_type(key, UserBasic)
    try:
        published(auth.create_user_service).create_user(client.api_key, "ada")
        raise AssertionError("a duplicate identifier was accepted")
    except UserAlreadyExistsException as duplicate:
        assert str(duplicate) == "User already exists."

    getters = published(auth.get_user_service)
    assert user.id is not None
    stored = getters.get_user(client.api_key, user.id)
    assert_type(stored, UserModel | None)
    assert stored is not None and stored.secret.startswith("$argon2id$")
    assert_type(getters.get_user_by_client_id(client.id, user.id), UserModel | None)
    assert getters.get_user_by_identifier(other.api_key, "ada") is None
    complete = getters.get_user_complete(client.api_key, user.id)
    assert_type(complete, UserComplete | None)
    assert complete is not None and complete.integrations == []
    return user


def tokens(client: Client, other: Client, user: UserModel) -> None:
    login = published(auth.authenticate_user_service)
    token = login.authenticate_user(client.api_key, user.identifier, user.secret)
    assert_type(token, TokenComplete)
    assert_type(token.expires_at, datetime)
    assert token.token_type == "Bearer" and token.expires_at > datetime.now() + timedelta(days=29)
    try:
        login.authenticate_user(client.api_key, user.identifier.upper(), user.secret)
        raise AssertionError("another identifier logged in")
    except UnauthorizedException as refused:
        assert str(refused) == "Identifier or password is incorrect." and refused.extra_info is None

    verify = published(auth.verify_token_service)
    revoke = published(auth.revoke_token_service)
    assert_type(verify.verify_token_and_get_user_id(client.api_key, token.token), UUID)
    assert verify.verify_token_and_get_user_id(client.api_key, token.token) == user.id
    assert_type(revoke.revoke_token(other.api_key, token.token), bool)
    assert revoke.revoke_token(client.api_key, token.token) is True
    refusals: list[type[Exception]] = [JWTError, ExpiredSignatureError, JWTClaimsError, ZuntException]
    try:
        verify.verify_token_and_get_user_id(client.api_key, token.token)
        raise AssertionError("a revoked token was accepted")
    except tuple(refusals) as refused:
        assert type(refused) is JWTError and str(refused) == "Token has been revoked."


def integrations(client: Client, user: UserModel) -> None:
    service = published(auth.third_party_integration_service)
    assert user.id is not None
    made = service.create_integration(ThirdPartyIntegrationAuth(
        client_id=client.id, user_id=user.id, connector="github", user_identifier="ada",
        auth_string="gho_example", auth_scopes=["repo"]))
    assert_type(made, ThirdPartyIntegrationAuth)
    assert made.selected is True and made.id is not None
    assert_type(service.has_integration(client.id, user.id, "github"), bool)
    assert_type(service.get_integration(client.id, user.id, "github", "ada"), ThirdPartyIntegrationAuth | None)
    default = service.get_specific_or_default_integration(client.id, user.id, "github")
    assert_type(default, ThirdPartyIntegrationAuth | None)
    assert default is not None and default.id == made.id
    assert_type(service.get_integrations(client.id, user.id), list[ThirdPartyIntegrationAuth])
    assert_type(service.get_integrations_by_connector("github"), list[ThirdPartyIntegrationAuth])
    assert_type(service.set_selected_integration(client.id, user.id, "github", "ada"), None)
    complete = published(auth.get_user_service).get_user_complete(client.api_key, user.id)
    assert complete is not None
    assert_type(complete.integrations, list[ThirdPartyIntegrationAuthBasic])
    assert [i.connector for i in complete.integrations] == ["github"]
    try:
        service.delete_integration(client.id, user.id, "github", "nobody")
        raise AssertionError("an unknown integration was deleted")
    except NotFoundException as missing:
        assert str(missing) == "Integration not found"
    assert_type(service.delete_integration(client.id, user.id, "github", "ada"), None)
    assert_type(service.delete_integrations([made.id]), None)
    assert service.get_integrations(client.id, user.id) == []


def republish() -> None:
    # set_services takes any map looked up by key
    services: Mapping[str, Any] = MappingProxyType({name: getattr(auth, name) for name in (
        "create_client_service", "client_aware_service", "verify_client_service", "create_user_service",
        "get_user_service", "authenticate_user_service", "create_token_service", "verify_token_service",
        "revoke_token_service", "third_party_integration_service")})
    assert_type(auth.set_services(services), None)
    assert initialized() is True


def main() -> None:
    slots_before_start()
    start()
    client, other = clients()
    user = users(client, other)
    tokens(client, other, user)
    integrations(client, user)
    republish()
    print("ok")


if __name__ == "__main__":
    main()
