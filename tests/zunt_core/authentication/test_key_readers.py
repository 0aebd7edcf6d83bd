"""The two key readers against a plain-Python reading of the same steps.

The reference cuts the key with str slicing and str.split, decodes with the
host's base64.urlsafe_b64decode and UTF-8 codec and parses the id with
uuid.UUID; the readers must answer the same record or raise the same error
class with the same message and a cause of the same kind, for any input:
random text, mutated valid keys, huge keys and objects that are not text.
"""

import base64
import uuid

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from hypothesis_profiles import examples

from zunt_core.authentication.client.helper.helper import ClientHelper
from zunt_core.authentication.client.repository.models import ClientBasic
from zunt_core.authentication.user.helper.helper import UserHelper
from zunt_core.authentication.user.repository.models import UserBasic
from zunt_core.exception import InvalidClientException, UnauthorizedException


def reference_decode(text):
    return base64.urlsafe_b64decode(text + "=" * (4 - len(text) % 4)).decode("utf-8")


def reference_fields(text, prefix, error, message):
    pieces = text[len(prefix):].split(".")
    if len(pieces) < 3:
        raise error(message)
    id_text = reference_decode(pieces[0])
    name = reference_decode(pieces[1])
    return uuid.UUID(id_text), name, pieces[2]


def reference_to_client(text):
    try:
        id, name, secret = reference_fields(text, "sk-client-", InvalidClientException, "Invalid API Key.")
        return ClientBasic(id=id, name=name, secret=secret)
    except InvalidClientException:
        raise
    except Exception as e:
        raise InvalidClientException(str(e)) from e


def reference_to_user(text):
    try:
        id, identifier, secret = reference_fields(text, "sk-user-", UnauthorizedException, "Invalid token.")
        return UserBasic(id=id, identifier=identifier, secret=secret)
    except Exception as e:
        raise UnauthorizedException(str(e)) from e


def outcome(read, text):
    """What a reader does with the text: the record's fields, or the error, its message and its cause."""
    try:
        record = read(text)
    except (InvalidClientException, UnauthorizedException) as e:
        cause = e.__cause__
        return ("raised", type(e), str(e), type(cause), None if cause is None else str(cause),
                None if cause is None else type(cause.__cause__))
    return ("read", type(record), tuple(record.model_dump().values()))


READERS = {
    "client": (ClientHelper().to_client, reference_to_client, "sk-client-"),
    "user": (UserHelper().to_user, reference_to_user, "sk-user-"),
}


def same_outcome(kind, text):
    ours, reference, _ = READERS[kind]
    assert outcome(ours, text) == outcome(reference, text)


def b64(data):
    return base64.urlsafe_b64encode(data).decode().rstrip("=")


any_text = st.text(st.characters(codec=None), max_size=120)  # lone surrogates included
segment_text = st.text(st.characters(codec=None), max_size=40)


@st.composite
def keys(draw, prefix):
    """Valid keys, then cut, padded, garbled or swapped piece by piece."""
    id_text = draw(st.one_of(
        st.uuids().map(str), st.uuids().map(lambda u: u.hex), st.uuids().map(lambda u: str(u).upper()),
        st.uuids().map(lambda u: "{" + str(u) + "}"), st.uuids().map(lambda u: "urn:uuid:" + str(u)),
        segment_text))
    encoded_id = st.just(b64(id_text.encode("utf-8", "surrogatepass")))
    id_segment = draw(st.one_of(
        encoded_id, encoded_id, encoded_id, st.binary(max_size=48).map(b64), segment_text,
        st.text("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_=+/ ", max_size=60)))
    name_segment = draw(st.one_of(
        segment_text.map(lambda s: b64(s.encode("utf-8", "surrogatepass"))), st.binary(max_size=30).map(b64),
        segment_text))
    secret = draw(st.one_of(st.just(ClientHelper().generate_secret()), segment_text))
    pieces = [id_segment, name_segment, secret]
    pieces = draw(st.one_of(st.just(pieces), st.just(pieces), st.just(pieces), st.just(pieces[:2]),
                            st.just(pieces[:1]), st.lists(segment_text, max_size=3).map(lambda extra: pieces + extra)))
    head = draw(st.one_of(st.just(prefix), st.just(prefix),
                          st.text(st.characters(codec=None), max_size=len(prefix) + 3)))
    key = head + ".".join(pieces)
    if draw(st.integers(0, 3)) == 0:
        at = draw(st.integers(0, len(key)))
        key = key[:at] + draw(st.text(st.characters(codec=None), max_size=4)) + key[at:]
    return key


@pytest.mark.parametrize("kind", READERS)
@settings(max_examples=examples(full=400), deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(data=st.data())
def test_mutated_keys_read_as_the_reference_reads_them(kind, data):
    same_outcome(kind, data.draw(keys(READERS[kind][2])))


@pytest.mark.parametrize("kind", READERS)
@settings(max_examples=examples(full=300), deadline=None)
@given(text=any_text)
def test_random_text_reads_as_the_reference_reads_it(kind, text):
    same_outcome(kind, text)


@pytest.mark.parametrize("kind", READERS)
@settings(max_examples=examples(full=100), deadline=None)
@given(value=st.one_of(st.none(), st.integers(), st.floats(), st.binary(max_size=40), st.booleans(),
                       st.lists(st.text(max_size=5), max_size=4), st.tuples(st.text(max_size=5)),
                       st.dictionaries(st.text(max_size=3), st.integers(), max_size=2)))
def test_objects_that_are_not_text(kind, value):
    same_outcome(kind, value)


@pytest.mark.parametrize("kind", READERS)
def test_huge_keys(kind):
    _, _, prefix = READERS[kind]
    good_id = b64(str(uuid.uuid4()).encode())
    for text in (
        prefix + good_id + "." + b64(b"n" * 3_000_000) + ".s",  # a 4 MB name
        prefix + good_id + "." + "A" * 4_000_001 + ".s",  # a name segment one past a multiple of four
        prefix + "." * 1_000_000,  # a million empty segments
        prefix + good_id + ".bmFtZQ." + "s" * 5_000_000,  # a 5 MB secret
        "x" * 10_000_000,
    ):
        same_outcome(kind, text)


class Text(str):
    """Text of a subclass: read the host's way, with the same results."""


@pytest.mark.parametrize("kind", READERS)
def test_text_of_a_subclass(kind):
    _, _, prefix = READERS[kind]
    key = prefix + b64(str(uuid.uuid4()).encode()) + ".bmFtZQ.secret"
    for text in (key, key[:-7], prefix + "bad.bad.bad"):
        same_outcome(kind, Text(text))
