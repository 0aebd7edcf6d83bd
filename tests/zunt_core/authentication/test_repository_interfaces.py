"""The four repository interfaces and their SQL implementations as one table:
the operations each declares, their signatures, and what building an
implementation keeps. Nothing here touches a database."""

import abc
import inspect
import typing
import uuid
from dataclasses import dataclass

import pytest

# The client mapping loads all four, as the services do; the links of the
# other mappings resolve only then.
import zunt_core.authentication.client.repository.sqlalchemy.models  # noqa: F401
from zunt_core.authentication.client.repository.base_repository import BaseRepository as ClientBase
from zunt_core.authentication.client.repository.models import ClientBasic, ClientModel
from zunt_core.authentication.client.repository.sqlalchemy.repository import SqlAlchemyClientRepository
from zunt_core.authentication.database import SQLAlchemySQLDataStore
from zunt_core.authentication.plugin.repository.base_repository import BaseRepository as IntegrationBase
from zunt_core.authentication.plugin.repository.models import ThirdPartyIntegrationAuth as Auth
from zunt_core.authentication.plugin.repository.sqlalchemy.repository import SqlAlchemyThirdPartyIntegrationRepository
from zunt_core.authentication.token.repository.base_repository import BaseRepository as TokenBase
from zunt_core.authentication.token.repository.models import Token
from zunt_core.authentication.token.repository.sqlalchemy.repository import SqlAlchemyTokenRepository
from zunt_core.authentication.user.repository.base_repository import BaseRepository as UserBase
from zunt_core.authentication.user.repository.models import UserModel
from zunt_core.authentication.user.repository.sqlalchemy.repository import SqlAlchemyUserRepository

UUID = uuid.UUID
UNREACHABLE = "postgresql+psycopg://nobody@127.0.0.1:9/none"


@dataclass(frozen=True)
class Operation:
    name: str
    parameters: dict  # after self, in order: name -> type
    result: object
    doc: str | None = None  # checked where the interface documents it


@dataclass(frozen=True)
class Repository:
    entity: str
    base: type
    implementation: type
    operations: list
    base_doc: str | None = None
    implementation_doc: str | None = None
    helpers: tuple = ()  # the implementation's own members after the operations

    @property
    def names(self):
        return [operation.name for operation in self.operations]


ACCOUNT = {"client_id": UUID, "user_id": UUID, "connector": str}
TOKEN_IDS = {"client_id": UUID, "user_id": UUID, "token_id": UUID}
REPOSITORIES = [
    Repository("client", ClientBase, SqlAlchemyClientRepository, [
        Operation("create_client", {"client": ClientBasic}, ClientModel, "Create client."),
        Operation("get_client_by_id", {"client_id": UUID}, ClientModel | None, "Get client by id."),
    ], base_doc="Base repository interface.", implementation_doc="SQLAlchemy client repository."),
    Repository("user", UserBase, SqlAlchemyUserRepository, [
        Operation("get_user", {"client_id": UUID, "user_id": UUID}, UserModel | None),
        Operation("get_user_by_identifier", {"client_id": UUID, "identifier": str}, UserModel | None),
        Operation("create_user", {"user": UserModel}, UserModel),
    ]),
    Repository("token", TokenBase, SqlAlchemyTokenRepository, [
        Operation("get_token", TOKEN_IDS, Token | None),
        Operation("create_token", {"token": Token}, type(None)),
        Operation("revoke_token", TOKEN_IDS, bool),
    ]),
    Repository("integration", IntegrationBase, SqlAlchemyThirdPartyIntegrationRepository, [
        Operation("has_integration", ACCOUNT, bool),
        Operation("get_integration", {**ACCOUNT, "user_identifier": str}, Auth | None),
        Operation("get_selected_integration", ACCOUNT, Auth | None),
        Operation("get_latest_created_integration", ACCOUNT, Auth | None),
        Operation("get_integrations", {"client_id": UUID, "user_id": UUID}, list[Auth]),
        Operation("create_integration", {"integration": Auth}, Auth),
        Operation("update_integration", {"integration": Auth}, Auth | None),
        Operation("delete_integration", {**ACCOUNT, "user_identifier": str}, type(None)),
        Operation("get_integrations_by_connector", {"connector": str}, list[Auth]),
        Operation("delete_integrations", {"integration_ids": list[UUID]}, type(None)),
    ], base_doc="Third-party integration repository interface.",
        implementation_doc="SQLAlchemy third-party integration repository.",
        helpers=("_get_integration_base_query",)),
]

each_repository = pytest.mark.parametrize("repository", REPOSITORIES, ids=lambda r: r.entity)


def check_doc(thing, doc):
    """The documentation text of a class or method, where the table gives one."""
    if doc is not None:
        assert thing.__doc__ == doc


def test_four_distinct_interfaces_of_one_name():
    bases = [r.base for r in REPOSITORIES]
    assert len(set(bases)) == 4 and {b.__name__ for b in bases} == {"BaseRepository"}
    assert len({b.__module__ for b in bases}) == 4
    for r in REPOSITORIES:
        assert [b for b in bases if issubclass(r.implementation, b)] == [r.base]


@each_repository
def test_interface(repository):
    base = repository.base
    assert base.__bases__ == (abc.ABC,)
    check_doc(base, repository.base_doc)
    abstract = [n for n, v in vars(base).items() if getattr(v, "__isabstractmethod__", False)]
    assert abstract == repository.names
    for operation in repository.operations:
        check_doc(getattr(base, operation.name), operation.doc)
    with pytest.raises(TypeError, match="abstract"):
        base()
    # Each operation left out on its own keeps a derived class abstract.
    every = {name: (lambda self, *args, **kwargs: None) for name in repository.names}
    for left_out in repository.names:
        partial = type("Partial", (base,), {k: v for k, v in every.items() if k != left_out})
        with pytest.raises(TypeError, match=left_out):
            partial()
    type("Complete", (base,), every)()


@pytest.mark.parametrize("cls, operation", [
    pytest.param(cls, operation, id=f"{r.entity}-{cls.__name__}-{operation.name}")
    for r in REPOSITORIES for cls in (r.base, r.implementation) for operation in r.operations
])
def test_signatures(cls, operation):
    method = getattr(cls, operation.name)
    signature = inspect.signature(method)
    assert list(signature.parameters) == ["self", *operation.parameters]
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD and p.default is p.empty for p in signature.parameters.values())
    assert typing.get_type_hints(method) == {**operation.parameters, "return": operation.result}


@each_repository
def test_construction_keeps_only_the_registry_and_touches_no_database(repository):
    cls = repository.implementation
    assert cls.__bases__ == (repository.base,)
    check_doc(cls, repository.implementation_doc)
    members = [n for n in vars(cls) if n not in ("_abc_impl",) and (not n.startswith("__") or n == "__init__")]
    assert members == ["__init__", *repository.names, *repository.helpers]
    assert typing.get_type_hints(cls.__init__)["data_store"].__name__ == "SQLAlchemySQLDataStore"
    store = SQLAlchemySQLDataStore(UNREACHABLE)
    try:
        assert vars(cls(store)) == {"db": store.db}
        with pytest.raises(AttributeError):
            cls(object())
    finally:
        store.engine.dispose()
