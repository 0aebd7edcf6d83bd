import inspect
import logging
import re
import subprocess
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

# The plain-Python handler that the benchmarks time against: the host's `re`
# and `str.replace` running the same steps.
import regex_pii_reference
from hypothesis_profiles import examples

from zunt_core.logger import regex_pii_logger_handler as M
from zunt_core.logger.regex_pii_logger_handler import RegexLoggerHandler, init_regex_pii_logging_handler


reference = regex_pii_reference.RegexLoggerHandler(True)
handler = RegexLoggerHandler(True)

KTP = r"(\d{8}([04][1-9]|[1256][0-9]|[37][01])\d{2}\d{4})(?![a-zA-Z0-9])"
NPWP = r"([\d]{2}[.][\d]{3}[.][\d]{3}[.][\d][-][\d]{3}[.][\d]{3}\b)"
PHONE = [
    r"(?<!\w)(?:\+62|0|62)(?:8[1-9]|2[1-9]|3[1-468]|5[1-9]|7[0-8]|9[0-8])[0-9]{7,10}\b",
    r"(?<!\w)(?:\+62|0|62)\s?(?:8[1-9]|2[1-9]|3[1-468]|5[1-9]|7[0-8]|9[0-8])\d{0,2}[-\s]\d{3,4}[-\s]\d{3,4}\b",
]
EMAIL = r"([a-zA-Z0-9._%+-]+@[a-zA-Z0-9.-]+\.[a-zA-Z]{2,})"
MASKERS = ["mask_ktp_number", "mask_npwp_number", "mask_phone_number", "mask_email_address"]


# --- module and class -------------------------------------------------------

def test_module_names_and_signatures():
    assert {k for k in vars(M) if not k.startswith("__")} == {
        "logging", "re", "RegexLoggerHandler", "init_regex_pii_logging_handler"}
    assert not hasattr(M, "__all__")
    assert M.logging is logging and M.re is re
    assert str(inspect.signature(init_regex_pii_logging_handler)) == (
        "(logger_name: str, pii_regex_process_enabled: bool = False) -> None")
    assert str(inspect.signature(RegexLoggerHandler)) == "(pii_regex_process_enabled: bool = False) -> None"
    assert str(inspect.signature(RegexLoggerHandler.emit)) == "(self, record: logging.LogRecord) -> None"
    assert str(inspect.signature(RegexLoggerHandler.process_message_using_regex)) == "(self, message: str) -> str"
    for name, param in zip(MASKERS, ["ktp_number", "npwp_number", "phone_number", "email_address"]):
        assert str(inspect.signature(getattr(RegexLoggerHandler, name))) == f"(self, {param}: str) -> str"


def test_handler_is_a_plain_logging_handler():
    assert type(RegexLoggerHandler) is type
    assert RegexLoggerHandler.__mro__[1:] == logging.Handler.__mro__
    assert RegexLoggerHandler.__module__ == "zunt_core.logger.regex_pii_logger_handler"
    h = RegexLoggerHandler()
    assert h.pii_regex_process_enabled is False
    assert (h.level, h.formatter, h.filters) == (logging.NOTSET, None, [])
    flag = object()
    assert RegexLoggerHandler(flag).pii_regex_process_enabled is flag


def test_patterns_are_the_host_patterns_shared_by_all_handlers():
    assert [p.pattern for p in RegexLoggerHandler.REGEX_PHONE_NUMBER] == PHONE
    assert isinstance(RegexLoggerHandler.REGEX_PHONE_NUMBER, list)
    pairs = [(RegexLoggerHandler.REGEX_KTP, KTP), (RegexLoggerHandler.REGEX_NPWP, NPWP),
             (RegexLoggerHandler.REGEX_EMAIL_ADDRESS, EMAIL)]
    for compiled, source in pairs + list(zip(RegexLoggerHandler.REGEX_PHONE_NUMBER, PHONE)):
        assert isinstance(compiled, re.Pattern)
        assert compiled.pattern == source and compiled.flags == re.UNICODE
    assert RegexLoggerHandler().REGEX_KTP is RegexLoggerHandler(True).REGEX_KTP
    assert RegexLoggerHandler.REGEX_KTP.groups == 2 and RegexLoggerHandler.REGEX_EMAIL_ADDRESS.groups == 1


IMPORTS = r"""
import logging, re, sys
import zunt_core.logger
assert not [m for m in sys.modules if m.startswith("zunt_core.logger.")]
assert {k for k in vars(zunt_core.logger) if not k.startswith("__")} == set()
assert not hasattr(zunt_core.logger, "__all__")
assert zunt_core.logger.__doc__ == "Logger Modules."
before = set(sys.modules)
import zunt_core.logger.regex_pii_logger_handler
assert set(sys.modules) - before == {"zunt_core.logger.regex_pii_logger_handler"}, set(sys.modules) - before
"""


def test_import_behaviour():
    subprocess.run([sys.executable, "-c", IMPORTS], check=True)


# --- masking: the cases of the handler's description -------------------------

@pytest.mark.parametrize("message, expected", [
    # identity-card numbers: the ninth and tenth digits are the day (plus 40)
    ("ktp 3201019931900001", "ktp 32******01"),
    ("ktp 3201019971900001", "ktp 32******01"),
    ("ktp 3201019932900001", "ktp 3201019932900001"),
    ("ktp 3201019972900001", "ktp 3201019972900001"),
    ("ktp 3201019900900001", "ktp 3201019900900001"),
    ("3201019931900001a", "3201019931900001a"),
    ("3201019931900001_", "32******01_"),
    ("3201019931900001.", "32******01."),
    ("3201019931900001 x", "32******01 x"),
    ("nik3201019931900001", "nik32******01"),
    ("13201019931900001", "132******01"),
    ("\u0663\u0662\u0660\u0661\u0660\u0661\u0669\u066931\u0669\u0660\u0660\u0660\u0660\u0661",
     "\u0663\u0662******\u0660\u0661"),
    # tax numbers
    ("npwp 01.234.567.8-901.234", "npwp 01.***.***.34"),
    ("npwp 01.234.567.8-901.2345", "npwp 01.234.567.8-901.2345"),
    # phone numbers
    ("hp 081234567890", "hp 0812******7890"),
    ("hp +6281234567890", "hp +628******7890"),
    ("hp +62 812-3456-7890", "hp +62 ******7890"),
    ("hp 0812 3456 789", "hp 0812****** 789"),
    ("hp 0812-\u0663\u0664\u0665-\u0666\u0667\u0668", "hp 0812******-\u0666\u0667\u0668"),
    ("x081234567890", "x081234567890"),
    ("x081234567890 and 081234567890", "x0812******7890 and 0812******7890"),
    # e-mail addresses
    ("mail john.doe@example.com.", "mail jo******om."),
    ("081234567890@mail.com", "0812******78******om"),
    # a found text inside a later one masks it there; the later one is gone
    ("0812345678 62810812345678", "0812******5678 62810812******5678"),
    ("nothing personal here, 100% sure", "nothing personal here, 100% sure"),
])
def test_masking(message, expected):
    assert handler.process_message_using_regex(message) == expected
    assert reference.process_message_using_regex(message) == expected


def test_maskers_each_mask_their_own_kind():
    text = "3201019931900001 01.234.567.8-901.234 081234567890 a.b@c.de"
    assert handler.mask_ktp_number(text) == "32******01 01.234.567.8-901.234 081234567890 a.b@c.de"
    assert handler.mask_npwp_number(text) == "3201019931900001 01.***.***.34 081234567890 a.b@c.de"
    assert handler.mask_phone_number(text) == "3201019931900001 01.234.567.8-901.234 0812******7890 a.b@c.de"
    assert handler.mask_email_address(text) == "3201019931900001 01.234.567.8-901.234 081234567890 a.******de"
    # a disabled handler masks as well when asked directly
    assert RegexLoggerHandler().mask_ktp_number(text) == handler.mask_ktp_number(text)


def test_masked_forms_match_no_pattern():
    text = "3201019931900001 01.234.567.8-901.234 +62 812-3456-7890 081234567890 john.doe@example.com"
    once = handler.process_message_using_regex(text)
    assert handler.process_message_using_regex(once) == once


def test_long_lines_without_an_address():
    # A backtracking matcher takes seconds on these; the results are known.
    for line in ["a" * 50_000, "a" * 50_000 + "@", "x.y_z-" * 8_000 + "@"]:
        assert handler.process_message_using_regex(line) == line
    line = "a" * 50_000 + "@b.cc"
    assert handler.process_message_using_regex(line) == "aa******cc"


def test_text_that_is_no_exact_str_goes_through_the_host():
    class Text(str):
        pass

    message = Text("hp 081234567890")
    for name in MASKERS + ["process_message_using_regex"]:
        assert getattr(handler, name)(message) == getattr(reference, name)(message)
    with pytest.raises(TypeError, match="expected string or bytes-like object"):
        handler.mask_ktp_number(12)
    assert handler.mask_ktp_number(Text("none")) == "none"


# --- the host's re is the truth -----------------------------------------------

unicode_digits = "\u0660\u0661\u0669\u06f0\u06f9\u0966\u096f\uff10\uff19"
# Near-misses and hits of the phone and e-mail patterns: prefix, code, then
# digits and separators; local part, "@", domain.
phone_like = st.builds(
    lambda lead, prefix, code, groups, end: lead + prefix + code + "".join(s + d for s, d in groups) + end,
    st.sampled_from(["", " ", ":", "x", "_"]),
    st.sampled_from(["+62", "62", "0", "+62 ", "0\u2003", "62\u00a0", "6", "+6"]),
    st.sampled_from(["81", "21", "31", "36", "38", "35", "70", "79", "98", "99", "11"]),
    st.lists(st.tuples(st.sampled_from(["", "", "-", " ", "\u00a0", "--", "a", "\u0661"]),
                       st.text(alphabet="0123456789", max_size=11)), max_size=3),
    st.sampled_from(["", " ", ".", "@", "a"]),
)
unbroken_phone_like = st.builds(
    lambda lead, prefix, code, digits, end: lead + prefix + code + digits + end,
    st.sampled_from(["", " ", "a"]),
    st.sampled_from(["+62", "62", "0", "6"]),
    st.sampled_from(["81", "21", "36", "35", "70", "79", "98", "99"]),
    st.text(alphabet="0123456789", min_size=5, max_size=12),
    st.sampled_from(["", " ", "_", "\u0661", "@"]),
)
npwp_digits = "0123456789\u0661\uff19"


def npwp_group(size):
    exact = st.text(alphabet=npwp_digits, min_size=size, max_size=size)
    return st.one_of(exact, exact, exact, st.text(alphabet=npwp_digits, max_size=size + 2))


npwp_like = st.builds(
    lambda g, end: g[0] + "." + g[1] + "." + g[2] + "." + g[3] + "-" + g[4] + "." + g[5] + end,
    st.tuples(*[npwp_group(size) for size in (2, 3, 3, 1, 3, 3)]),
    st.sampled_from(["", " ", "_", ".", "a", "\u0661"]),
)
email_like = st.builds(
    lambda local, domain: local + "@" + domain,
    st.text(alphabet="ab9.-_%+", max_size=6),
    st.text(alphabet="ab9.-xyz", max_size=9),
)
pieces = st.one_of(
    phone_like,
    unbroken_phone_like,
    npwp_like,
    email_like,
    st.text(alphabet="0123456789", min_size=1, max_size=18),
    st.text(alphabet="0123456789" + unicode_digits, min_size=1, max_size=18),
    st.sampled_from(["+62", "62", "0", "08", "0812", "021", "031", "31", "71", "41", "00", "32", ".com", ".co.id",
                     "@mail.com", "john.doe", "01.234.567.8-901.234", "3201019931900001", "+62 812-3456-7890",
                     "0812 3456 789", "0812-345-6789"]),
    st.sampled_from(list(".-@_%+ \t\n\u00a0\u2003\u3000*/:=,")),
    st.text(alphabet="abcxyzABCZ", min_size=1, max_size=6),
    st.sampled_from(list(unicode_digits + "\u00e9\u00df\u0130\u03a3\u00b2\u00bd\u2167\ud800\U0001f600")),
)
texts = st.lists(pieces, max_size=40).map("".join)


def assert_same_as_host(text):
    for name in MASKERS + ["process_message_using_regex"]:
        assert getattr(handler, name)(text) == getattr(reference, name)(text), (name, text)


@settings(max_examples=examples(full=3000), deadline=None)
@given(texts)
def test_same_results_as_the_host_re(text):
    assert_same_as_host(text)


# Texts of some thousands of characters: random texts, each repeated.
long_texts = st.lists(st.tuples(texts, st.integers(1, 80)), min_size=1, max_size=8).map(
    lambda parts: "".join(text * times for text, times in parts))


@settings(max_examples=examples(full=150), deadline=None)
@given(long_texts)
def test_same_results_as_the_host_re_on_long_texts(text):
    assert_same_as_host(text)


@settings(max_examples=examples(full=300), deadline=None)
@given(st.text())
def test_same_results_as_the_host_re_on_any_text(text):
    assert_same_as_host(text)


# Dense lines: a few pieces, at least one of them a found text, drawn again
# and again, often with nothing between them, so that found texts repeat,
# overlap, sit inside one another and next to each other: addresses sharing
# local parts or domains, phone numbers in local parts, digit runs against
# addresses and numbers.
found_texts = st.sampled_from([
    "ab@cd.ab", "x@y.cc", "cc@z.dd", "a@b.cc", "a@b.cc.dd", "john.doe@example.com", "doe@example.com",
    "john.doe@example.co.id", "081234567890@mail.com", "081234567890", "0812345678", "+6281234567890",
    "3201019931900001", "32010199319000013201019971900001", "01.234.567.8-901.234", "+62 812-3456-7890",
    "0812 3456 789", "0812-345-678", "0812\u00a03456\u20037890",
    "\u0663\u0662\u0660\u0661\u0660\u0661\u0669\u066931\u0669\u0660\u0660\u0660\u0660\u0661"])
dense_pieces = st.one_of(
    found_texts,
    st.sampled_from(["b.cc", "62", "+62", "0", "01.234.567.8-", "@mail.com", "john", "812-3456"]),
    email_like,
    phone_like,
    unbroken_phone_like,
    npwp_like,
    st.text(alphabet="0123456789", min_size=1, max_size=20),
)
glue = st.sampled_from(["", "", "", " ", "@", ".", "-", "_", "x", "*", "\u00a0"])


@st.composite
def dense_lines(draw):
    pool = [draw(found_texts)] + draw(st.lists(dense_pieces, max_size=5))
    parts = draw(st.lists(st.tuples(st.sampled_from(pool), glue), min_size=4, max_size=80))
    return "".join(piece + between for piece, between in parts)


@settings(max_examples=examples(full=2000), deadline=None)
@given(dense_lines())
def test_same_results_as_the_host_re_on_dense_lines(text):
    assert_same_as_host(text)


@settings(max_examples=examples(full=60), deadline=None)
@given(st.lists(st.tuples(dense_lines(), st.integers(1, 200)), min_size=1, max_size=4).map(
    lambda parts: "".join(text * times for text, times in parts)))
def test_same_results_as_the_host_re_on_long_dense_lines(text):
    assert_same_as_host(text)


# Nested addresses a^i@b(.cc)^r: local parts suffixes and domains prefixes of
# one another, each also found on its own, so that every found text occurs
# inside many others.
nested_addresses = st.lists(
    st.tuples(st.sampled_from(["a", "b", "ab"]), st.integers(1, 12), st.integers(1, 8),
              st.sampled_from([" ", " ", "", ".", "-", "@", "x"])),
    min_size=1, max_size=40,
).map(lambda items: "".join(local * i + "@b" + ".cc" * r + glue for local, i, r, glue in items))


@settings(max_examples=examples(full=300), deadline=None)
@given(nested_addresses)
def test_same_results_as_the_host_re_on_nested_addresses(text):
    assert_same_as_host(text)


def thue_morse(letters, order=11):
    """2**order letters whose polynomial hashes modulo 2**64 equal those of the
    same with the letters swapped, for every odd multiplier."""
    word = letters[0]
    for _ in range(order):
        word += word.translate(str.maketrans(letters, letters[::-1]))
    return word


# Left and right parts that differ but have equal hashes under any odd
# multiplier (and so equal index keys): only comparing the texts tells apart
# the found texts built from them and their occurrences elsewhere in the line.
colliding = [thue_morse("ab"), thue_morse("ba"), thue_morse("01"), thue_morse("10")]
colliding_lines = st.lists(
    st.tuples(st.sampled_from(["", "x", "ab"]), st.sampled_from(colliding), st.sampled_from(["@", "@b", "@b.cc."]),
              st.sampled_from(colliding), st.sampled_from([".cc", ".cc.dd", ".c"]), st.sampled_from([" ", "", "_"])),
    min_size=1, max_size=6,
).map(lambda items: "".join("".join(item) for item in items))


@settings(max_examples=examples(full=100), deadline=None)
@given(colliding_lines)
def test_same_results_as_the_host_re_on_lines_whose_parts_collide(text):
    assert_same_as_host(text)


def nested_line(bound):
    """Every a^i@b(.cc)^r for i, r up to `bound`, in a fixed shuffled order."""
    import random
    cells = [(i, r) for i in range(1, bound + 1) for r in range(1, bound + 1)]
    random.Random(5).shuffle(cells)
    return " ".join("a" * i + "@b" + ".cc" * r for i, r in cells)


def test_nested_addresses_past_the_memory_budget():
    # About 100 KB whose found texts occur millions of times inside one
    # another: more than the one-pass masking keeps, so each found text is
    # looked for anew.
    line = nested_line(36)
    assert handler.mask_email_address(line) == reference.mask_email_address(line)
    wide = line.replace(" ", "\u00a0")
    assert handler.mask_email_address(wide) == reference.mask_email_address(wide)


def test_same_results_as_the_host_re_on_a_long_log():
    line = ("user 3201019931900001 npwp 01.234.567.8-901.234 called +62 812-3456-7890 from "
            "john.doe@example.com \u0663\u0662\u0660\u0661\u0660\u0661\u0669\u066931\u0669\u0660\u0660\u0660\u0660\u0661 "
            "status=200 path=/api/v1/users?page=3 ")
    assert_same_as_host(line * 300)


# --- replaced patterns and maskers --------------------------------------------

def test_replaced_patterns_are_matched_by_the_host():
    class Custom(RegexLoggerHandler):
        REGEX_EMAIL_ADDRESS = re.compile(r"\b[a-z]+@[a-z]+\b")
        REGEX_PHONE_NUMBER = RegexLoggerHandler.REGEX_PHONE_NUMBER + [re.compile(r"\b1\d{9}\b")]
        REGEX_KTP = re.compile(KTP, re.ASCII)

    h = Custom(True)
    assert h.mask_email_address("to bob@home now") == "to bo******me now"
    assert h.mask_phone_number("x 1234567890 081234567890") == "x 1234******7890 0812******7890"
    # \d is ASCII only under re.ASCII: Arabic-Indic digits are no longer found
    arabic = "\u0663\u0662\u0660\u0661\u0660\u0661\u0669\u066931\u0669\u0660\u0660\u0660\u0660\u0661"
    assert h.mask_ktp_number(arabic) == arabic
    assert handler.mask_ktp_number(arabic) != arabic
    # the same source compiled anew is still the same pattern
    h.REGEX_NPWP = re.compile(NPWP)
    assert h.mask_npwp_number("01.234.567.8-901.234") == "01.***.***.34"


def test_empty_found_texts_mask_nothing():
    patterns = {"REGEX_KTP": re.compile(r"x*"), "REGEX_EMAIL_ADDRESS": re.compile(r"(x*)")}
    h = type("Empty", (RegexLoggerHandler,), patterns)(True)
    ref = type("Empty", (regex_pii_reference.RegexLoggerHandler,), patterns)(True)  # its e-mail step
    line = "user 3201019931900001 sent a note to the desk about the order 77 " * 2 + "at noon ok"
    assert len(line) == 140
    # Replacing the empty text would put a mask between every two characters,
    # again and again: gigabytes. Skipped, it masks nothing.
    assert h.mask_ktp_number(line) == line
    assert h.mask_email_address(line) == line
    assert h.process_message_using_regex(line) == line
    # Non-empty ones among them are masked.
    assert h.mask_ktp_number("axxb") == "axx******xxb"
    for text in ["axxb xxxx", "xxxxx", "x", ""]:
        assert h.mask_email_address(text) == ref.mask_email_address(text), text


@pytest.mark.parametrize("text", [
    "\u00e9t\u00e9 0812345678901 a.b@c.de " * 40_000,
    "\U0001f600 3201019931900001 " * 40_000,
    "plain ascii 081234567890 " * 40_000,
])
def test_the_callers_string_is_left_as_it_was(text):
    size = sys.getsizeof(text)
    for name in MASKERS + ["process_message_using_regex"]:
        getattr(handler, name)(text)
        assert sys.getsizeof(text) == size, name


def test_replaced_maskers_are_called():
    calls = []

    class Custom(RegexLoggerHandler):
        def mask_npwp_number(self, npwp_number):
            calls.append(npwp_number)
            return npwp_number.replace("secret", "[hidden]")

    h = Custom(True)
    assert h.process_message_using_regex("secret 3201019931900001 a.b@c.de") == "[hidden] 32******01 a.******de"
    assert calls == ["secret 32******01 a.b@c.de"]
    h.mask_email_address = lambda text: text.upper()
    assert h.process_message_using_regex("a.b@c.de 081234567890") == "A.B@C.DE 0812******7890"


# --- emit ---------------------------------------------------------------------

def test_enabled_handler_rewrites_the_record_for_later_handlers(make_logger, make_capture):
    parent = make_logger()
    child = make_logger(parent.name + ".child", propagate=True)
    before, after, child_capture = make_capture(), make_capture(), make_capture()
    parent.addHandler(before)
    init_regex_pii_logging_handler(parent.name, True)
    parent.addHandler(after)
    child.addHandler(child_capture)
    assert isinstance(parent.handlers[1], RegexLoggerHandler)

    child.info("user %s paid %d%%", "john.doe@example.com", 5)

    for capture in (before, child_capture):
        assert capture.seen[0]["msg"] == "user %s paid %d%%"
        assert capture.seen[0]["args"] == ("john.doe@example.com", 5)
    assert after.seen[0]["msg"] == "user jo******om paid 5%"
    assert after.seen[0]["args"] == ()
    assert after.seen[0]["text"] == "user jo******om paid 5%"


def test_disabled_handler_leaves_the_record_alone(make_logger, make_capture):
    logger = make_logger()
    init_regex_pii_logging_handler(logger.name)
    capture = make_capture()
    logger.addHandler(capture)
    logger.info("mail %s", "john.doe@example.com")
    assert (capture.seen[0]["msg"], capture.seen[0]["args"]) == ("mail %s", ("john.doe@example.com",))
    # the flag is read on every record
    logger.handlers[0].pii_regex_process_enabled = 1
    logger.info("mail %s", "john.doe@example.com")
    assert (capture.seen[1]["msg"], capture.seen[1]["args"]) == ("mail jo******om", ())


def test_exception_information_is_left_alone(make_logger, make_capture):
    logger = make_logger()
    init_regex_pii_logging_handler(logger.name, True)
    capture = make_capture()
    logger.addHandler(capture)
    try:
        raise ValueError("john.doe@example.com")
    except ValueError:
        logger.exception("failed for %s", "081234567890", stack_info=True)
    record = capture.seen[0]["record"]
    assert capture.seen[0]["msg"] == "failed for 0812******7890"
    assert str(record.exc_info[1]) == "john.doe@example.com"
    assert record.stack_info.startswith("Stack (most recent call last)")


def test_installed_twice_runs_twice(make_logger, make_capture):
    logger = make_logger()
    init_regex_pii_logging_handler(logger.name, True)
    init_regex_pii_logging_handler(logger.name, True)
    capture = make_capture()
    logger.addHandler(capture)
    logger.warning("%s", "hp 081234567890")
    assert [type(h) for h in logger.handlers] == [RegexLoggerHandler, RegexLoggerHandler, make_capture]
    assert capture.seen[0]["msg"] == "hp 0812******7890"


def test_message_objects_are_formatted_to_text(make_logger, make_capture):
    logger = make_logger()
    init_regex_pii_logging_handler(logger.name, True)
    capture = make_capture()
    logger.addHandler(capture)
    logger.info({"email": "john.doe@example.com"})
    assert capture.seen[0]["msg"] == "{'email': 'jo******om'}"


class Reporting(RegexLoggerHandler):
    def handleError(self, record):
        self.reported = (record, sys.exc_info()[0])


def test_unformattable_message_does_not_reach_the_application(make_logger, make_capture, capsys):
    logger = make_logger()
    masking = Reporting(True)
    later = make_capture()
    logger.addHandler(masking)
    logger.addHandler(later)

    logger.error("value %d", "not a number")  # returns normally

    record, error = masking.reported
    assert error is TypeError
    assert (later.seen[0]["record"], later.seen[0]["msg"], later.seen[0]["args"]) == (
        record, "value %d", ("not a number",))

    # the host's own handleError reports it on stderr
    logger.handlers[0] = RegexLoggerHandler(True)
    logger.error("value %d", "not a number")
    assert "--- Logging error ---" in capsys.readouterr().err
    assert len(later.seen) == 2


def test_errors_that_are_no_exception_pass(make_logger):
    class Interrupted(RegexLoggerHandler):
        def process_message_using_regex(self, message):
            raise KeyboardInterrupt

    logger = make_logger()
    logger.addHandler(Interrupted(True))
    with pytest.raises(KeyboardInterrupt):
        logger.info("x")
