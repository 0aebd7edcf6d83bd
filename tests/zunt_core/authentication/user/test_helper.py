import re
import uuid

import pytest

import zunt_core.authentication.user.helper as helper_package
from zunt_core.authentication.common.base64_helper import encode_base64
from zunt_core.authentication.user.helper.helper import UserHelper
from zunt_core.authentication.user.repository.models import UserBasic, UserModel
from zunt_core.exception import UnauthorizedException

URL_SAFE = re.compile(r"[A-Za-z0-9_-]+")


def user(identifier="ada@example.com", secret=None):
    return UserModel(id=uuid.uuid4(), identifier=identifier, secret=secret or UserHelper().generate_secret(),
                     secret_preview="sk-user-...", is_active=True, client_id=uuid.uuid4())


def test_package_exports_nothing():
    assert helper_package.__doc__ == "User-specific helpers."
    assert not hasattr(helper_package, "__all__")
    assert {k for k in vars(helper_package) if not k.startswith("__")} <= {"helper"}


def test_class_constants():
    assert (UserHelper.SECRET_PREFIX, UserHelper.SECRET_LENGTH, UserHelper.DELIMITER) == ("sk-user-", 32, ".")
    assert UserHelper.__bases__ == (object,)


def test_secrets_are_43_url_safe_characters_and_differ():
    secrets = {UserHelper().generate_secret() for _ in range(20)}
    assert len(secrets) == 20 and all(len(s) == 43 and URL_SAFE.fullmatch(s) for s in secrets)


@pytest.mark.parametrize("identifier", ["ada@example.com", "Ada Lovelace", "dots.in.it", "", "ユーザー"])
def test_key_layout_and_round_trip(identifier):
    record = user(identifier)
    key = UserHelper().build_api_key(record)
    id_segment, identifier_segment, secret = key[len("sk-user-"):].split(".", 2)
    assert key.startswith("sk-user-") and len(id_segment) == 48
    assert identifier_segment == encode_base64(identifier) and secret == record.secret
    assert len(key) == 101 + len(identifier_segment)
    read = UserHelper().to_user(key)
    assert type(read) is UserBasic
    assert (read.id, read.identifier, read.secret) == (record.id, identifier, record.secret)


def test_prefix_is_skipped_and_extra_segments_ignored():
    record = user()
    key = UserHelper().build_api_key(record)
    for text in ("sk-clie" + key[7:], "12345678" + key[8:], key + ".extra", key + "..."):
        assert UserHelper().to_user(text) == UserHelper().to_user(key)


@pytest.mark.parametrize("text", ["", "sk-user", "sk-user-", "sk-user-a.b", "sk-user-.", "sk-client-a.b"])
def test_fewer_than_three_segments_is_invalid_token_chained_to_invalid_token(text):
    with pytest.raises(UnauthorizedException) as info:
        UserHelper().to_user(text)
    error, cause = info.value, info.value.__cause__
    assert str(error) == "Invalid token." and error.status_code == 401 and error.extra_info is None
    assert type(cause) is UnauthorizedException and str(cause) == "Invalid token." and cause is not error
    assert cause.__cause__ is None


def test_every_failure_is_wrapped_even_its_own():
    own = UnauthorizedException("Invalid token.")

    class Cutting(UserHelper):
        def _segmentize(self, api_key):
            raise own

    with pytest.raises(UnauthorizedException) as info:
        Cutting().to_user("anything")
    assert info.value is not own and info.value.__cause__ is own and info.value.__suppress_context__


@pytest.mark.parametrize(
    "key, cause_type",
    [
        ("sk-user-" + encode_base64("12345") + ".YQ.s", ValueError),
        ("sk-user-" + encode_base64(str(uuid.uuid4())) + ".Y.s", ValueError),
        ("sk-user-" + encode_base64(str(uuid.uuid4())) + ".gA.s", UnicodeDecodeError),
        (None, TypeError),
        (b"sk-user-a.b.c", TypeError),
    ],
)
def test_other_failures_carry_their_text_and_cause(key, cause_type):
    with pytest.raises(UnauthorizedException) as info:
        UserHelper().to_user(key)
    assert isinstance(info.value.__cause__, cause_type) and str(info.value) == str(info.value.__cause__)


def test_a_non_uuid_id_carries_the_parsers_message():
    with pytest.raises(ValueError) as parser:
        uuid.UUID("12345")
    with pytest.raises(UnauthorizedException, match=re.escape(str(parser.value))):
        UserHelper().to_user("sk-user-" + encode_base64("12345") + ".YQ.s")
