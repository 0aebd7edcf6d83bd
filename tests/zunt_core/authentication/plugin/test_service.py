import uuid

import pytest
from sqlalchemy.exc import IntegrityError

import zunt_core.authentication.plugin.service as service_package
from zunt_core.authentication.plugin.repository.models import ThirdPartyIntegrationAuth
from zunt_core.authentication.plugin.service import ThirdPartyIntegrationService
from zunt_core.exception.base import NotFoundException, UserAlreadyExistsException


def test_package_exports():
    assert service_package.__all__ == ["ThirdPartyIntegrationService"]


def test_constructor(auth):
    service = auth.third_party_integration_service
    assert list(vars(service)) == ["third_party_integration_repository"]
    assert ThirdPartyIntegrationService.__bases__ == (object,)


@pytest.fixture(scope="module")
def client(auth):
    return auth.new_client()


@pytest.fixture
def owner(auth, client):
    """A fresh user of the module's client: (client id, user id)."""
    return client.id, auth.new_user(client).id


def record(owner, connector, account, selected=False):
    return ThirdPartyIntegrationAuth(client_id=owner[0], user_id=owner[1], connector=connector, user_identifier=account,
                                     auth_string=f"secret-of-{account}", auth_scopes=["repo"], selected=selected)


def selection(auth, owner):
    """{(connector, account): selected} as stored."""
    rows = auth.sql("SELECT connector, user_identifier, selected FROM third_party_integration_auths "
                    "WHERE client_id = %s AND user_id = %s", owner)
    return {(c, a): s for c, a, s in rows}


def test_the_first_integration_of_a_connector_is_selected(auth, owner):
    service = auth.third_party_integration_service
    given = record(owner, "github", "ada", selected=False)
    stale_id = uuid.uuid4()
    given.id = stale_id
    stored = service.create_integration(given)
    assert given.selected is True  # set on the caller's record
    assert stored is not given and stored.selected is True and stored.id != stale_id
    assert (stored.auth_string, stored.auth_scopes) == ("secret-of-ada", ["repo"])
    second = record(owner, "github", "ada-work", selected=True)
    assert service.create_integration(second).selected is False and second.selected is False
    assert service.create_integration(record(owner, "slack", "ada")).selected is True
    assert selection(auth, owner) == {("github", "ada"): True, ("github", "ada-work"): False, ("slack", "ada"): True}


def test_duplicates(auth, owner, client):
    service = auth.third_party_integration_service
    service.create_integration(record(owner, "github", "ada"))
    again = record(owner, "github", "ada", selected=True)
    with pytest.raises(UserAlreadyExistsException) as info:
        service.create_integration(again)
    assert str(info.value) == "User already exists." and info.value.status_code == 409
    assert again.selected is True  # untouched
    service.create_integration(record(owner, "gitlab", "ada"))
    other_user = (client.id, auth.new_user(client).id)
    service.create_integration(record(other_user, "github", "ada"))
    assert len(service.get_integrations(*owner)) == 2


def test_ids_of_no_user_fail_at_the_insert(auth, owner):
    with pytest.raises(IntegrityError):
        auth.third_party_integration_service.create_integration(record((owner[0], uuid.uuid4()), "github", "x"))


def test_deleting_the_selected_one_selects_the_newest_remaining(auth, owner):
    service = auth.third_party_integration_service
    for account in ("first", "second", "third"):
        service.create_integration(record(owner, "github", account))
    service.create_integration(record(owner, "slack", "other"))
    service.delete_integration(*owner, "github", "first")
    assert selection(auth, owner) == {("github", "second"): False, ("github", "third"): True, ("slack", "other"): True}
    service.delete_integration(*owner, "github", "second")  # not selected: no change
    assert selection(auth, owner) == {("github", "third"): True, ("slack", "other"): True}
    service.delete_integration(*owner, "github", "third")
    assert selection(auth, owner) == {("slack", "other"): True}


def test_unknown_integrations_are_not_found(auth, owner):
    service = auth.third_party_integration_service
    service.create_integration(record(owner, "github", "ada"))
    before = selection(auth, owner)
    for call in (service.delete_integration, service.set_selected_integration):
        for connector, account in (("github", "nobody"), ("gitlab", "ada"), ("github", "")):
            with pytest.raises(NotFoundException) as info:
                call(*owner, connector, account)
            assert str(info.value) == "Integration not found" and info.value.status_code == 404
    assert selection(auth, owner) == before


def test_set_selected_integration(auth, owner):
    service = auth.third_party_integration_service
    for account in ("a", "b", "c"):
        service.create_integration(record(owner, "github", account))
    service.create_integration(record(owner, "slack", "a"))
    service.set_selected_integration(*owner, "github", "c")
    assert selection(auth, owner) == {("github", "a"): False, ("github", "b"): False, ("github", "c"): True,
                                      ("slack", "a"): True}
    service.set_selected_integration(*owner, "github", "c")
    assert selection(auth, owner)[("github", "c")] is True


def test_get_specific_or_default_integration(auth, owner):
    service = auth.third_party_integration_service
    service.create_integration(record(owner, "github", "a"))
    service.create_integration(record(owner, "github", "b"))
    assert service.get_specific_or_default_integration(*owner, "github").user_identifier == "a"
    assert service.get_specific_or_default_integration(*owner, "github", "b").user_identifier == "b"
    assert service.get_specific_or_default_integration(*owner, "github", "nobody") is None
    assert service.get_specific_or_default_integration(*owner, "github", "") is None  # a name like any other
    selected = service.get_integration(*owner, "github", "a")
    service.delete_integrations([selected.id])  # deletes without choosing another
    assert service.get_specific_or_default_integration(*owner, "github") is None
    assert service.get_specific_or_default_integration(*owner, "github", "b").user_identifier == "b"


def test_reads(auth, owner, client):
    service = auth.third_party_integration_service
    service.create_integration(record(owner, "github", "a"))
    service.create_integration(record(owner, "slack", "a"))
    other_user = (client.id, auth.new_user(client).id)
    connector = f"jira-{uuid.uuid4().hex[:6]}"
    service.create_integration(record(other_user, connector, "z"))
    service.create_integration(record(owner, connector, "y"))
    assert service.has_integration(*owner, "github") is True
    assert service.has_integration(*owner, "gitlab") is False
    assert service.has_integration(*other_user, "github") is False
    found = service.get_integration(*owner, "slack", "a")
    assert type(found) is ThirdPartyIntegrationAuth and found.auth_string == "secret-of-a"
    assert service.get_integration(*owner, "slack", "b") is None
    assert {(i.connector, i.user_identifier) for i in service.get_integrations(*owner)} == {
        ("github", "a"), ("slack", "a"), (connector, "y")}
    assert service.get_integrations(owner[0], uuid.uuid4()) == []
    assert {(i.user_id, i.user_identifier) for i in service.get_integrations_by_connector(connector)} == {
        (other_user[1], "z"), (owner[1], "y")}
    service.delete_integrations([])
    service.delete_integrations([uuid.uuid4()])
    assert len(service.get_integrations(*owner)) == 3


# An empty connector text is no filter in the store's look-ups. Reads keep
# that; writes act on the connector given, exactly.


def test_empty_connector_reads_range_over_every_connector(auth, owner):
    service = auth.third_party_integration_service
    service.create_integration(record(owner, "github", "ada"))
    assert service.has_integration(*owner, "") is True
    assert service.get_integration(*owner, "", "ada").connector == "github"
    assert service.get_specific_or_default_integration(*owner, "").connector == "github"


def test_empty_connector_writes_never_touch_another_connector(auth, owner):
    service = auth.third_party_integration_service
    service.create_integration(record(owner, "github", "ada"))
    for call in (service.delete_integration, service.set_selected_integration):
        with pytest.raises(NotFoundException, match="^Integration not found$"):
            call(*owner, "", "ada")
    assert selection(auth, owner) == {("github", "ada"): True}
    # the same account under the empty connector is no duplicate of the github one, and is the
    # first of its connector
    created = service.create_integration(record(owner, "", "ada"))
    assert created.connector == "" and created.selected is True
    assert selection(auth, owner) == {("github", "ada"): True, ("", "ada"): True}
    service.create_integration(record(owner, "", "bob"))
    with pytest.raises(UserAlreadyExistsException):
        service.create_integration(record(owner, "", "ada"))
    service.set_selected_integration(*owner, "", "bob")
    assert selection(auth, owner) == {("github", "ada"): True, ("", "ada"): False, ("", "bob"): True}
    service.delete_integration(*owner, "", "bob")
    assert selection(auth, owner) == {("github", "ada"): True, ("", "ada"): True}
    service.delete_integration(*owner, "", "ada")
    assert selection(auth, owner) == {("github", "ada"): True}


def test_deleting_an_empty_connectors_selection_when_another_connector_is_newer(auth, owner):
    service = auth.third_party_integration_service
    service.create_integration(record(owner, "", "a"))
    service.create_integration(record(owner, "", "b"))
    service.create_integration(record(owner, "github", "newest"))
    service.delete_integration(*owner, "", "a")
    assert selection(auth, owner) == {("", "b"): True, ("github", "newest"): True}
