import base64
import binascii
import uuid

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis_profiles import examples

from zunt_core.authentication.common.base64_helper import decode_base64, encode_base64


def reference_encode(value):
    return base64.urlsafe_b64encode(str(value).encode("utf-8")).decode("utf-8").strip("=")


def reference_decode(text):
    padded = text + "=" * (4 - len(text) % 4)
    return base64.urlsafe_b64decode(padded).decode("utf-8")


def outcome(fn, arg):
    try:
        return ("ok", fn(arg))
    except Exception as e:  # compared by type and text
        return (type(e), str(e))


@pytest.mark.parametrize(
    "value, encoded",
    [
        ("abc", "YWJj"),
        ("a", "YQ"),
        ("", ""),
        ("a?b>c~", "YT9iPmN-"),
        ("zürich ✓", "esO8cmljaCDinJM"),
        (42, "NDI"),
        (None, "Tm9uZQ"),
        (uuid.UUID("12345678-1234-5678-1234-567812345678"), reference_encode("12345678-1234-5678-1234-567812345678")),
    ],
)
def test_encode(value, encoded):
    assert encode_base64(value) == encoded


@pytest.mark.parametrize(
    "text, decoded",
    [("YWJj", "abc"), ("YQ", "a"), ("YQ==", "a"), ("", ""), ("YT9iPmN-", "a?b>c~"), ("YT9iPmN+", "a?b>c~"),
     ("Y W.J*j", "abc"), ("YQ==YWJj", "a")],
)
def test_decode(text, decoded):
    assert decode_base64(text) == decoded


@pytest.mark.parametrize(
    "text, error, message",
    [
        ("Y", binascii.Error,
         "Invalid base64-encoded string: number of data characters (1) cannot be 1 more than a multiple of 4"),
        ("YWJjY", binascii.Error,
         "Invalid base64-encoded string: number of data characters (5) cannot be 1 more than a multiple of 4"),
        ("YW.", binascii.Error, "Incorrect padding"),
        ("_w", UnicodeDecodeError, "'utf-8' codec can't decode byte 0xff in position 0: invalid start byte"),
        ("YWJj€", ValueError, "string argument should contain only ASCII characters"),
        ("YW\ud800", ValueError, "string argument should contain only ASCII characters"),
    ],
)
def test_decode_errors_are_the_hosts(text, error, message):
    with pytest.raises(error) as caught:
        decode_base64(text)
    assert str(caught.value) == message
    assert isinstance(caught.value, ValueError)


@pytest.mark.parametrize("arg", [b"YWJj", 12, ["Y"], None])
def test_decode_non_text_fails_like_the_host(arg):
    assert outcome(decode_base64, arg) == outcome(reference_decode, arg)
    assert outcome(decode_base64, arg)[0] is TypeError


def test_encode_lone_surrogate_fails_like_the_host():
    assert outcome(encode_base64, "a\udc80") == outcome(reference_encode, "a\udc80")


def test_values_with_their_own_text_form():
    class Weird:
        def __str__(self):
            return "wéird"

    class Broken:
        def __str__(self):
            raise RuntimeError("no text")

    assert encode_base64(Weird()) == reference_encode(Weird())
    with pytest.raises(RuntimeError, match="no text"):
        encode_base64(Broken())


def test_text_subclass_goes_the_hosts_way():
    class Text(str):
        def __len__(self):
            return 2

    assert outcome(decode_base64, Text("YWJj")) == outcome(reference_decode, Text("YWJj"))


# Text made of the alphabet, the other base64 digits, "=", blanks and a few
# characters outside ASCII: every kind of input the decoder treats apart.
_noisy = st.text(alphabet=st.sampled_from(list("AQgw_-+/=Yz09 .\n\x00é€")) | st.characters(), max_size=40)


@settings(max_examples=examples(full=3000), deadline=None)
@given(st.text())
def test_round_trip_and_encode_match_the_host(text):
    assert outcome(encode_base64, text) == outcome(reference_encode, text)
    if outcome(encode_base64, text)[0] == "ok":
        assert decode_base64(encode_base64(text)) == text


@settings(max_examples=examples(full=5000), deadline=None)
@given(_noisy)
def test_decode_matches_the_host(text):
    assert outcome(decode_base64, text) == outcome(reference_decode, text)


@settings(max_examples=examples(full=2000), deadline=None)
@given(st.binary(max_size=64))
def test_decode_of_any_bytes_matches_the_host(raw):
    # Valid base64 of arbitrary (often invalid UTF-8) bytes, with and
    # without its padding.
    text = base64.urlsafe_b64encode(raw).decode("ascii")
    for candidate in (text, text.rstrip("=")):
        assert outcome(decode_base64, candidate) == outcome(reference_decode, candidate)
