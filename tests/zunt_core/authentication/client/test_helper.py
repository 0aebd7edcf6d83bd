import re
import uuid

import pytest

import zunt_core.authentication.client.helper as helper_package
from zunt_core.authentication.client.helper.helper import ClientHelper
from zunt_core.authentication.client.repository.models import ClientBasic
from zunt_core.authentication.common.base64_helper import encode_base64
from zunt_core.exception import InvalidClientException

URL_SAFE = re.compile(r"[A-Za-z0-9_-]+")


def client(name="acme", secret=None, id=None):
    return ClientBasic(id=id or uuid.uuid4(), name=name, secret=secret or ClientHelper().generate_secret())


def test_package_exports_nothing():
    assert helper_package.__doc__ == "Client helpers."
    assert not hasattr(helper_package, "__all__")
    assert {k for k in vars(helper_package) if not k.startswith("__")} <= {"helper"}


def test_class_constants():
    assert (ClientHelper.API_KEY_PREFIX, ClientHelper.API_KEY_LENGTH, ClientHelper.DELIMITER) == ("sk-client-", 32, ".")
    assert ClientHelper.__bases__ == (object,)


def test_secrets_are_43_url_safe_characters_and_differ():
    helper = ClientHelper()
    secrets = {helper.generate_secret() for _ in range(20)}
    assert len(secrets) == 20
    for secret in secrets:
        assert len(secret) == 43 and URL_SAFE.fullmatch(secret)


@pytest.mark.parametrize("name", ["acme", "Zürich Büro ☕", "a.b.c", " spaced name ", "", "x" * 300, "名前"])
def test_key_layout_and_round_trip(name):
    record = client(name)
    key = ClientHelper().build_api_key(record)
    id_segment, name_segment, secret = key[len("sk-client-"):].split(".", 2)
    assert key.startswith("sk-client-")
    assert len(id_segment) == 48 and id_segment == encode_base64(str(record.id))
    assert name_segment == encode_base64(name) and "." not in name_segment and "=" not in key
    assert secret == record.secret
    assert len(key) == 103 + len(name_segment)
    if name == "":
        assert f"{id_segment}..{secret}" in key
    assert ClientHelper().to_client(key) == record


def test_build_writes_whatever_the_record_holds():
    record = ClientBasic(id=uuid.uuid4(), name="n", secret="not.a=secret")
    key = ClientHelper().build_api_key(record)
    assert key.endswith(".not.a=secret")
    # the secret's own "." cuts it short on reading
    assert ClientHelper().to_client(key).secret == "not"


def test_prefix_is_skipped_not_compared():
    record = client()
    key = ClientHelper().build_api_key(record)
    for prefix in ("sk-user-XX", "0123456789", "ÄÖÜ€✓ßàéîõ", "sk.client."):
        assert ClientHelper().to_client(prefix + key[10:]) == record


def test_upper_case_and_unhyphenated_ids_are_read():
    record = client()
    for text in (str(record.id).upper(), record.id.hex):
        key = "sk-client-" + encode_base64(text) + "." + encode_base64("acme") + "." + record.secret
        assert ClientHelper().to_client(key).id == record.id


def test_extra_segments_are_ignored():
    record = client()
    key = ClientHelper().build_api_key(record)
    assert ClientHelper().to_client(key + ".more.and-more") == record
    assert ClientHelper()._segmentize(key + ".x")[3:] == ["x"]


@pytest.mark.parametrize("text", ["", "sk-client", "sk-client-", "sk-client-a.b", "abcdefghij.", "sk-client-.", "sk-client-a."])
def test_fewer_than_three_segments(text):
    with pytest.raises(InvalidClientException) as info:
        ClientHelper().to_client(text)
    error = info.value
    assert str(error) == "Invalid API Key." and error.status_code == 404 and error.extra_info is None
    assert error.__cause__ is None and error.__context__ is None


def test_the_cutting_error_is_raised_again_unchanged():
    own = InvalidClientException("Invalid API Key.")

    class Cutting(ClientHelper):
        def _segmentize(self, api_key):
            raise own

    with pytest.raises(InvalidClientException) as info:
        Cutting().to_client("anything")
    assert info.value is own and own.__cause__ is None


@pytest.mark.parametrize(
    "key, failure",
    [
        ("sk-client-" + encode_base64("not-a-uuid") + ".YQ.s", ValueError("badly formed hexadecimal UUID string")),
        ("sk-client-" + encode_base64(str(uuid.uuid4())) + ".Y.s", None),  # base64 the decoder refuses
        ("sk-client-" + encode_base64(str(uuid.uuid4())) + ".gA.s", None),  # bytes that are not UTF-8
        ("sk-client-" + encode_base64(str(uuid.uuid4())) + ".é.s", None),  # text outside ASCII
        (None, TypeError("'NoneType' object is not subscriptable")),
        (42, TypeError("'int' object is not subscriptable")),
    ],
)
def test_other_failures_carry_their_text_and_cause(key, failure):
    with pytest.raises(InvalidClientException) as info:
        ClientHelper().to_client(key)
    error, cause = info.value, info.value.__cause__
    assert isinstance(cause, Exception) and not isinstance(cause, InvalidClientException)
    assert str(error) == str(cause) and error.__suppress_context__
    if failure is not None:
        assert type(cause) is type(failure) and str(cause) == str(failure)


def test_the_name_is_read_before_the_id_is_parsed():
    # both segments are bad: the name's decoding error comes first
    key = "sk-client-" + encode_base64("not-a-uuid") + ".gA.s"
    with pytest.raises(InvalidClientException) as info:
        ClientHelper().to_client(key)
    assert isinstance(info.value.__cause__, UnicodeDecodeError)


def test_errors_outside_the_ordinary_family_pass_untouched():
    class Interrupting(str):
        def __getitem__(self, index):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        ClientHelper().to_client(Interrupting("sk-client-a.b.c"))


def test_constants_are_read_through_the_instance():
    record = client("acme")
    helper = ClientHelper()
    helper.API_KEY_PREFIX = "ck-"
    helper.DELIMITER = "~"
    key = helper.build_api_key(record)
    assert key == "ck-" + encode_base64(str(record.id)) + "~" + encode_base64("acme") + "~" + record.secret
    assert helper.to_client(key) == record
    helper.API_KEY_LENGTH = 8
    assert len(helper.generate_secret()) == 11
