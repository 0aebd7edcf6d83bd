import inspect
import re
import subprocess
import sys
from datetime import date, datetime, timedelta, timezone, tzinfo

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis_profiles import examples
from pydantic import BaseModel

from zunt_core.helpers import json as J

from json_reference import both, both_logged, reference, snapshot


class Obj:
    def __init__(self, **kw):
        self.__dict__.update(kw)


class Empty:
    pass


class Model(BaseModel):
    name: str
    when: datetime


# --- module ---------------------------------------------------------------

def test_module_names_and_signatures():
    names = {k for k in vars(J) if not k.startswith("__")}
    assert names == {"re", "datetime", "Any", "List", "BaseModel", "filter_json", "convert_keys_to_snake_case",
                     "get_value", "has_value", "merge_dicts", "get_value_by_path", "set_value_by_path",
                     "to_dict", "camel_to_snake_case"}
    assert not hasattr(J, "__all__")
    assert J.re is re and J.datetime is datetime and J.BaseModel is BaseModel
    assert J.__doc__.startswith("JSON helper functions for filtering and manipulating JSON data.")
    assert str(inspect.signature(J.filter_json)) == "(data: Any, fields: List[str]) -> Any"
    assert str(inspect.signature(J.set_value_by_path)) == "(target: dict, path: List[str], value: Any) -> None"
    assert str(inspect.signature(J.merge_dicts)) == "(d1: dict, d2: dict) -> dict"
    assert str(inspect.signature(J.has_value)) == "(obj: Any, key: str) -> bool"
    assert J.camel_to_snake_case.__doc__.startswith("Convert a camelCase string to snake_case.")
    assert J.get_value(obj={"k": 1}, key="k") == 1


def test_import_behaviour():
    code = (
        "import sys, zunt_core.helpers\n"
        "assert 'zunt_core.helpers.json' not in sys.modules\n"
        "assert 'pydantic' not in sys.modules\n"
        "assert not hasattr(zunt_core.helpers, 'json')\n"
        "import zunt_core.helpers.json\n"
        "assert 'pydantic' in sys.modules\n"
    )
    subprocess.run([sys.executable, "-c", code], check=True)


# --- get_value / has_value -------------------------------------------------

class Prop:
    calls = 0

    @property
    def p(self):
        Prop.calls += 1
        return 1

    @property
    def boom(self):
        raise KeyError("boom")


@pytest.mark.parametrize("obj, key, value, present", [
    ({}, "a", None, False),
    ({"a": None}, "a", None, True),
    ({"a": 1}, "a", 1, True),
    (Obj(), "a", None, False),
    (Obj(a=2), "a", 2, True),
    ("abc", "upper", "abc".upper, True),
])
def test_get_and_has_value(obj, key, value, present):
    assert J.get_value(obj, key) == value
    assert J.has_value(obj, key) is present


def test_get_has_value_errors_and_properties():
    Prop.calls = 0
    assert J.has_value(Prop(), "p") is True and Prop.calls == 1
    with pytest.raises(KeyError):
        J.get_value(Prop(), "boom")
    with pytest.raises(KeyError):
        J.has_value(Prop(), "boom")
    with pytest.raises(TypeError, match="attribute name must be string"):
        J.get_value(Obj(), 1)
    with pytest.raises(TypeError, match="unhashable"):
        J.has_value({}, [])


def test_dict_subclass_uses_its_methods():
    class D(dict):
        def get(self, key, default=None):
            return "via-get"

        def __contains__(self, key):
            return key == "yes"

    assert J.get_value(D(), "x") == "via-get"
    assert J.has_value(D(), "yes") and not J.has_value(D(yes=1, x=1), "x")


# --- merge_dicts -------------------------------------------------------------

def test_merge_dicts_deep_order_and_sharing():
    inner1, inner2 = {"x": 1, "y": 2}, {"y": 3, "z": 4}
    lst1, lst2, kept = [1], [2], {"k": 1}
    d1 = {"a": inner1, "b": 1, "l": lst1, "kept": kept, "n": {"q": 1}}
    d2 = {"a": inner2, "c": 5, "l": lst2, "n": None}
    r = J.merge_dicts(d1, d2)
    assert list(r.items()) == [("a", {"x": 1, "y": 3, "z": 4}), ("b", 1), ("l", [2]), ("kept", {"k": 1}),
                               ("n", None), ("c", 5)]
    assert r["l"] is lst2 and r["kept"] is kept and r["a"] is not inner1
    assert d1 == {"a": {"x": 1, "y": 2}, "b": 1, "l": [1], "kept": {"k": 1}, "n": {"q": 1}}
    assert d2 == {"a": {"y": 3, "z": 4}, "c": 5, "l": [2], "n": None}


def test_merge_dicts_errors():
    with pytest.raises(AttributeError):
        J.merge_dicts(1, {})
    with pytest.raises(AttributeError):
        J.merge_dicts({}, 1)


# --- paths -------------------------------------------------------------------

@pytest.mark.parametrize("data, path, expected", [
    ({"a": [{"b": 1}, {"c": 0}, {"b": 2}]}, ["a", "b"], [1, 2]),
    ({"a": [{"c": 0}, 5, [{"b": 1}]]}, ["a", "b"], None),
    ({"a": [{"b": {"c": 1}}, {"b": {"c": 2}}]}, ["a", "b", "c"], [1, 2]),
    ({"a": Obj(b=1)}, ["a", "b"], None),
    ({"a": ({"b": 1},)}, ["a", "b"], None),
    ({"a": {"b": None}}, ["a", "b"], None),
    ({"a": 1}, ["x"], None),
])
def test_get_value_by_path(data, path, expected):
    assert J.get_value_by_path(data, path) == expected


def test_get_value_by_path_identity_and_errors():
    data = {"a": {"b": [1]}}
    assert J.get_value_by_path(data, []) is data
    assert J.get_value_by_path(data, ["a", "b"]) is data["a"]["b"]
    with pytest.raises(TypeError):
        J.get_value_by_path(data, 5)


def test_set_value_by_path():
    t = {}
    assert J.set_value_by_path(t, ["a", "b", "c"], 1) is None
    assert t == {"a": {"b": {"c": 1}}}
    t = {"a": {"x": 1}}
    J.set_value_by_path(t, ("a", "y"), 2)
    assert t == {"a": {"x": 1, "y": 2}}
    t = {"a": 1}
    with pytest.raises(IndexError):
        J.set_value_by_path(t, [], 1)
    assert t == {"a": 1}
    t = {"a": 5}
    with pytest.raises(TypeError):
        J.set_value_by_path(t, ["a", "b", "c"], 1)
    assert t == {"a": 5}


class Recorder(dict):
    """An intermediate level that changes the path while it is searched."""

    def __init__(self, path, **kw):
        super().__init__(**kw)
        self.path = path

    def __contains__(self, key):
        self.path.append("late")
        return super().__contains__(key)


@pytest.mark.parametrize("path_type", [list, tuple])
def test_set_value_by_path_long_paths(path_type):
    path = path_type(f"k{i}" for i in range(12))
    t, expected = {"k0": {"x": 1}}, {"k0": {"x": 1}}
    J.set_value_by_path(t, path, "leaf")
    reference.set_value_by_path(expected, path, "leaf")
    assert t == expected and t["k0"]["x"] == 1


def test_set_value_by_path_reads_the_parts_before_the_walk_and_the_last_after_it():
    # The parts walked are those of path[:-1] taken first; path[-1] is read
    # once the walk is over, so a part added meanwhile names the leaf.
    results = []
    for setter in (J.set_value_by_path, reference.set_value_by_path):
        path = ["a", "b", "c"]
        t = {"a": Recorder(path)}
        setter(t, path, 1)
        results.append((t, list(path)))
    (ours, our_path), (host, host_path) = results
    assert our_path == host_path == ["a", "b", "c", "late"]
    assert dict(ours["a"]) == dict(host["a"]) == {"b": {"late": 1}}


# --- to_dict -----------------------------------------------------------------

def test_to_dict_rules():
    when = datetime(2024, 5, 6, 7, 8, 9)
    s = "text"
    out = J.to_dict({"t": (1, [2, (3,)]), "when": when, "b": True, "n": None, "s": s, "f": 1.5,
                     "obj": Obj(x=1, inner=Obj(when=when)), "empty": Empty(), "set": {1},
                     "day": date(2024, 1, 2), "model": Model(name="m", when=when)})
    assert out == {"t": [1, [2, [3]]], "when": "2024-05-06T07:08:09", "b": True, "n": None, "s": "text",
                   "f": 1.5, "obj": {"x": 1, "inner": {"when": "2024-05-06T07:08:09"}},
                   "empty": str(out["empty"]) and out["empty"], "set": "{1}", "day": "2024-01-02",
                   "model": {"name": "m", "when": "2024-05-06T07:08:09"}}
    assert out["empty"].startswith("<") and out["b"] is True and out["s"] is s
    assert isinstance(J.to_dict((1,)), list)


class Zone(tzinfo):
    def __init__(self, offset):
        self.offset = offset

    def utcoffset(self, dt):
        return self.offset

    def dst(self, dt):
        return None


naive_datetimes = st.datetimes(min_value=datetime.min, max_value=datetime.max, allow_imaginary=True)


@settings(max_examples=examples(full=2000))
@given(naive_datetimes, st.integers(0, 1))
def test_to_dict_datetime_text_matches_isoformat(when, fold):
    when = when.replace(fold=fold)
    assert J.to_dict(when) == when.isoformat()
    assert J.to_dict({"at": [when]}) == {"at": [when.isoformat()]}


@pytest.mark.parametrize("when", [
    datetime(2024, 1, 1, tzinfo=timezone.utc),
    datetime(2024, 1, 1, 12, 30, 5, 7, tzinfo=timezone(timedelta(hours=-3, minutes=-30))),
    datetime(1, 1, 1, tzinfo=Zone(timedelta(hours=5, seconds=3, microseconds=9))),
    datetime(9999, 12, 31, 23, 59, 59, 999999, tzinfo=Zone(None)),
])
def test_to_dict_aware_datetime_text_is_the_hosts(when):
    assert J.to_dict(when) == when.isoformat()


def test_to_dict_datetime_subclass_and_zone_errors():
    class Stamp(datetime):
        def isoformat(self, *args):
            return "stamp"

    assert J.to_dict(Stamp(2024, 1, 1)) == "stamp"

    class Broken(tzinfo):
        def utcoffset(self, dt):
            raise LookupError("no offset")

    with pytest.raises(LookupError, match="no offset"):
        J.to_dict([datetime(2024, 1, 1, tzinfo=Broken())])


def test_to_dict_errors_pass_through():
    class Bad:
        __slots__ = ()

        def __str__(self):
            raise ValueError("no text")

    with pytest.raises(ValueError, match="no text"):
        J.to_dict([Bad()])


# --- convert_keys_to_snake_case ---------------------------------------------

def test_convert_keys_to_snake_case():
    inner = {"innerKey": 2}
    data = {"userId": 1, "nested": [inner], "keep": ({"tupleKey": 1},), "obj": Obj(someKey=1)}
    out = J.convert_keys_to_snake_case(data)
    assert out == {"user_id": 1, "nested": [{"inner_key": 2}], "keep": data["keep"], "obj": data["obj"]}
    assert out["keep"] is data["keep"] and out["obj"] is data["obj"]
    assert data["nested"][0] == {"innerKey": 2}
    t = ({"aB": 1},)
    assert J.convert_keys_to_snake_case(t) is t
    assert list(J.convert_keys_to_snake_case({"aB": 1, "a_b": 2, "c": 3}).items()) == [("a_b", 2), ("c", 3)]
    with pytest.raises(TypeError, match="expected string or bytes-like object, got 'int'"):
        J.convert_keys_to_snake_case({1: 2})


class CopyHook(dict):
    """A dict whose copy() runs the test's hook first."""

    def __init__(self, hook, *args, **kw):
        super().__init__(*args, **kw)
        self.hook = hook

    def copy(self):
        self.hook()
        return dict(self)


def shortened_outer_list():
    outer = [None, 2]
    outer[0] = CopyHook(outer.clear, aB=1)
    return (outer,)


def changed_outer_dict():
    def hook():
        tree.pop("zZ", None)
        tree["nEw"] = 5

    tree = {"aB": CopyHook(hook, cD=1), "zZ": 2}
    return (tree,)


def changed_levels_above():
    inner, side = [None, 1, 2], {"kK": 1, "mM": [3]}
    outer = [inner, side, 4]

    def hook():
        inner.clear()
        outer.pop()
        side.clear()
        side["nN"] = 0

    inner[0] = {"aA": [CopyHook(hook, bB=1)]}
    return (outer,)


def shared_copy_result():
    # A subclass's copy() that hands out a list other code keeps changing:
    # that list is walked as it is, live.
    shared = []

    class SharesCopy(list):
        def copy(self):
            return shared

    shared.extend([CopyHook(lambda: shared.append("late"), xY=1), 1])
    return (SharesCopy([0]),)


@pytest.mark.parametrize("make, expected", [
    (shortened_outer_list, [{"a_b": 1}, 2]),
    (changed_outer_dict, {"a_b": {"c_d": 1}, "z_z": 2}),
    (changed_levels_above, [[{"a_a": [{"b_b": 1}]}, 1, 2], {"n_n": 0}, 4]),
    (shared_copy_result, [{"x_y": 1}, 1, "late"]),
])
def test_convert_keys_walks_each_level_as_it_was_when_copied(make, expected):
    # Each level is walked as the shallow copy the host takes of it, even
    # when a subclass's copy() (the caller's code) changes the levels above.
    ours, args, host, host_args = both("convert_keys_to_snake_case", make)
    assert ours == host == ("ok", expected)
    assert snapshot(args) == snapshot(host_args)


# --- camel_to_snake_case -----------------------------------------------------

# The two re.sub steps and str.lower, as the host runs them.
host_camel = reference.camel_to_snake_case


@pytest.mark.parametrize("text, expected", [
    ("helloWorld", "hello_world"), ("APIResponse", "api_response"), ("IOStream", "io_stream"),
    ("userID", "user_id"), ("snake_Case", "snake__case"), ("already_snake", "already_snake"), ("", ""),
    ("aBcDe", "a_bc_de"), ("\nAbc", "\nabc"), ("ÉtéAbcDÉf", "été_abc_déf"), ("İAbc", "i̇_abc"),
])
def test_camel_to_snake_case_examples(text, expected):
    assert J.camel_to_snake_case(text) == expected == host_camel(text)


camel_alphabet = st.sampled_from("aAbBzZyY09_\n\r .éÉßİΣ\u0130\ud800😀")


@settings(max_examples=examples(full=3000))
@given(st.text(camel_alphabet) | st.text())
def test_camel_to_snake_case_matches_host_regex(text):
    assert J.camel_to_snake_case(text) == host_camel(text)


def test_camel_to_snake_case_str_subclass_and_errors():
    class S(str):
        pass

    assert J.camel_to_snake_case(S("fooBar")) == "foo_bar"
    with pytest.raises(TypeError, match="expected string or bytes-like object, got 'int'"):
        J.camel_to_snake_case(5)
    with pytest.raises(TypeError):
        J.camel_to_snake_case(b"fooBar")


# --- filter_json -------------------------------------------------------------

@pytest.mark.parametrize("data", ["text", 5, None, (1, 2), {"a": 1}, [1]])
def test_filter_json_pass_through(data):
    assert J.filter_json(data, []) is data
    assert J.filter_json(data, None) is data
    if not isinstance(data, (dict, list)):
        assert J.filter_json(data, ["a"]) is data


@pytest.mark.parametrize("data, fields, expected", [
    ([{"a": 1}, 5, {}], ["a"], [{"a": 1}, 5, {}]),
    ([[{"a": 1, "b": 2}]], ["a"], [[{"a": 1}]]),
    ({"a": 1, "b": 2}, ["a"], {"a": 1}),
    ({"a": 1, "b": 2}, ["c"], {}),
    ({"a": None}, ["a"], {"a": None}),
    ({"a": {"b": 1, "c": 2}}, ["a.b"], {"a": {"b": 1}}),
    ({"a": [{"b": 1, "c": 2}, {"c": 3}, 5]}, ["a.b"], {"a": [{"b": 1}]}),
    ({"a": [{"c": 3}, 5]}, ["a.b"], {}),
    ({"a": {"x": [{"b": 1}]}}, ["a.x.b"], {}),
    ({"a": {"b": {"c": 1, "d": 2}}}, ["a.b.c", "a.b.d"], {"a": {"b": {"c": 1, "d": 2}}}),
    ({"a": {"b": {"c": 1, "d": 2}}}, ["a.b", "a.b.c"], {"a": {"b": {"c": 1, "d": 2}}}),
    ({"a": {"b": {"c": 1, "d": 2}}}, ["a.b.c", "a.b"], {"a": {"b": {"c": 1, "d": 2}}}),
    ({"a": None}, ["a.b"], {}),
    ({"a": 1, "b": {"c": 2}}, ["a", "a.x", "b.c"], {"a": 1, "b": {"c": 2}}),
    (Obj(a=1, b=2), ["a"], {"a": 1}),
    ({"a": Obj(b=Obj(c=3), d=4)}, ["a.b.c"], {"a": {"b": {"c": 3}}}),
])
def test_filter_json(data, fields, expected):
    assert J.filter_json(data, fields) == expected


def test_filter_json_key_order_and_identity():
    data = {"a": {"x": 1, "y": {"q": 2}}, "b": [1]}
    out = J.filter_json(data, ["a.y.q", "a.x", "a.y.q", "b"])
    assert list(out["a"]) == ["y", "x"]
    assert out["b"] is data["b"]
    whole = {"b": [1]}
    out = J.filter_json({"a": whole}, ["a", "a.b"])
    assert out["a"] is whole
    out["a"]["b"].append(2)
    assert whole == {"b": [1, 2]}
    assert type(J.filter_json(Obj(a=1), ["a"])) is dict


def test_filter_json_leaves_data_alone():
    data = {"a": {"b": {"c": 1}, "l": [{"m": 1}]}}
    snapshot = repr(data)
    J.filter_json(data, ["a.b", "a.b.c", "a.b.c.d", "a.l.m", "a.b.x"])
    assert repr(data) == snapshot


def test_filter_json_errors():
    with pytest.raises(AttributeError):
        J.filter_json({"a": 1}, [1])
    with pytest.raises(KeyError):
        J.filter_json(Obj(p=Prop()), ["p.boom"])


class Hook:
    """An object whose attribute `a` runs the test's hook when it is read."""

    def __init__(self, hook, **attrs):
        self.__dict__.update(attrs)
        self._hook = hook

    @property
    def a(self):
        self._hook()
        return 1


def fields_grow_between_records():
    fields = ["a"]

    def hook():
        if "b" not in fields:
            fields.append("b")

    return [Hook(hook, b=2) for _ in range(3)], fields


def fields_change_between_bases():
    # "c"'s related fields are read when its turn comes, after "a" ran.
    fields = ["h.a", "c.x", "c.y"]
    return {"h": Hook(lambda: "c.x" in fields and fields.remove("c.x")), "c": {"x": 1, "y": 2}}, fields


def fields_change_inside_a_record():
    # The related fields of "h" were read before; "z" is read afresh.
    fields = ["h.a", "h.b", "z"]
    return {"h": Hook(lambda: "h.q" in fields or fields.insert(0, "h.q"), b=2, q=3), "z": 1}, fields


def field_replaced_by_a_number():
    fields = ["h.a", "k.x"]
    return {"h": Hook(lambda: fields.__setitem__(1, 5)), "k": {"x": 1}}, fields


def fields_emptied_on_the_way():
    fields = ["a"]
    return [[{"a": 1, "b": 1}], Hook(fields.clear, b=2), [{"a": 1, "b": 1}], {"a": 1, "b": 1}], fields


def field_text_subclass():
    class Path(str):
        def split(self, sep):
            return ["h", "b", "x"] if self == "h.b" else super().split(sep)

    return {"h": {"b": {"x": 1, "y": 2}}}, [Path("h.b")]


class LoggedFields(list):
    def __init__(self, items, log):
        super().__init__(items)
        self.log = log

    def __iter__(self):
        self.log.append("iter")
        return super().__iter__()

    def __contains__(self, item):
        self.log.append(("in", item))
        return super().__contains__(item)


def fields_list_subclass():
    log = []
    return [{"a": 1, "b": {"c": 2}}, {"b": {"c": 3}}], LoggedFields(["a", "b.c"], log)


@pytest.mark.parametrize("make", [
    fields_grow_between_records, fields_change_between_bases, fields_change_inside_a_record,
    field_replaced_by_a_number, fields_emptied_on_the_way, field_text_subclass, fields_list_subclass,
])
def test_filter_json_reads_fields_when_the_host_does(make):
    ours, args, host, host_args = both("filter_json", make)
    assert ours == host
    assert snapshot(args) == snapshot(host_args)
    if isinstance(args[1], LoggedFields):
        assert args[1].log == host_args[1].log


def test_filter_json_sees_fields_added_by_an_earlier_record():
    data, fields = fields_grow_between_records()
    assert J.filter_json(data, fields) == [{"a": 1}, {"a": 1, "b": 2}, {"a": 1, "b": 2}]


# --- the caller's code on the way ---------------------------------------------
# Whatever the caller's code does to the tree while a helper walks it, the
# helper does what the host would: the same reads, in the same order, as often.

class Twin:
    """A key whose hash is that of a text: looking that text up in a dict
    that holds the twin first calls the twin's __eq__, which is logged."""

    def __init__(self, text, log):
        self.text, self.log = text, log

    def __hash__(self):
        return hash(self.text)

    def __eq__(self, other):
        self.log.append(("eq", self.text, other))
        return NotImplemented


class LoggedDict(dict):
    def __init__(self, log, *args, **kw):
        super().__init__(*args, **kw)
        self.log = log

    def __contains__(self, key):
        self.log.append(("in", key))
        return super().__contains__(key)

    def __getitem__(self, key):
        self.log.append(("get", key))
        return super().__getitem__(key)

    def __setitem__(self, key, value):
        self.log.append(("set", key))
        super().__setitem__(key, value)


class CopiesLogged(LoggedDict):
    def copy(self):
        return LoggedDict(self.log, self)


def with_twin(log, **entries):
    d = {Twin(k, log): "twin" for k in entries}
    d.update(entries)
    return d


@pytest.mark.parametrize("name, make", [
    ("get_value_by_path", lambda log: (with_twin(log, a=with_twin(log, b=1)), ["a", "b"])),
    ("get_value_by_path", lambda log: ([with_twin(log, a=1), with_twin(log, b=2)], ["a"])),
    ("set_value_by_path", lambda log: (with_twin(log, a=with_twin(log, b={})), ["a", "b", "c"], 1)),
    ("merge_dicts", lambda log: (with_twin(log, a=with_twin(log, x=1)), {"a": {"x": 2, "y": 3}})),
    ("merge_dicts", lambda log: (CopiesLogged(log, a={"x": 1}, b=2), {"a": {"y": 1}, "b": {}, "c": 3})),
    ("filter_json", lambda log: (with_twin(log, a=with_twin(log, b=with_twin(log, c=1))), ["a.b.c", "a.b", "z"])),
    ("filter_json", lambda log: ({"a": [LoggedDict(log, b={"c": 1}), with_twin(log, b=2)]}, ["a.b.c", "a.b"])),
    ("to_dict", lambda log: ({Twin("k", log): 1, "k": {Twin("j", log): [2]}},)),
])
def test_lookups_are_made_as_the_host_makes_them(name, make):
    (ours, our_log, our_args), (host, host_log, host_args) = both_logged(name, make)
    assert ours == host
    assert our_log == host_log
    assert our_args == host_args


class Attrs:
    """An object whose __dict__ is a property: a new dict at every read."""

    def __init__(self):
        self.reads = 0

    @property
    def __dict__(self):
        object.__setattr__(self, "reads", object.__getattribute__(self, "reads") + 1)
        return {"read": object.__getattribute__(self, "reads")}


def test_to_dict_reads_dict_as_often_as_the_host():
    # hasattr(obj, "__dict__"), its truth, then the one converted.
    assert J.to_dict([Attrs()]) == reference.to_dict([Attrs()]) == [{"read": 3}]


class Stamp(datetime):
    """A date-time whose isoformat() runs the test's hook."""

    hook = None

    def isoformat(self, *args):
        type(self).hook()
        return "stamp"


def stamped(hook):
    return type("S", (Stamp,), {"hook": staticmethod(hook)})(2024, 1, 1)


def dict_keys_replaced():
    # Same size, but a key read before is swapped for a new one: the host's
    # iterator then finds one key more than it started with.
    d = {"a": None, "b": 1}

    def hook():
        del d["a"]
        d["c"] = 2

    d["a"] = stamped(hook)
    return (d,)


def dict_grown():
    d = {"a": None, "b": 1}
    d["a"] = stamped(lambda: d.setdefault("c", 2))
    return ([d],)


def list_grown_and_shortened():
    items = [None, 1, 2, 3]
    items[0] = stamped(lambda: (items.append(4), items.pop(1)))
    return ({"l": items},)


def model_dump_changes_the_list_above():
    class Dumps(BaseModel):
        def model_dump(self, **kw):
            outer.clear()
            outer.append("late")
            return {"dumped": True}

    outer = [Dumps(), 1]
    return (outer,)


@pytest.mark.parametrize("make", [dict_keys_replaced, dict_grown, list_grown_and_shortened,
                                  model_dump_changes_the_list_above])
def test_to_dict_walks_containers_live_like_the_host(make):
    ours, args, host, host_args = both("to_dict", make)
    assert snapshot(ours) == snapshot(host)
    assert snapshot(args) == snapshot(host_args)


def merge_source_changes():
    d2 = {"a": None, "b": 2}

    class Hashes:
        def __hash__(self):
            d2.pop("b", None)
            d2["z"] = 9
            return 1

    d2["a"] = {"k": 1}
    return {"a": {Hashes(): 1}}, d2


def merge_source_keys_replaced():
    d2 = {"a": None, "b": 2}

    class Copies(dict):
        def copy(self):
            del d2["a"]
            d2["c"] = 3
            return dict(self)

    d2["a"] = {"x": 1}
    return {"a": Copies(y=1)}, d2


@pytest.mark.parametrize("make", [merge_source_changes, merge_source_keys_replaced])
def test_merge_dicts_walks_d2_live_like_the_host(make):
    ours, args, host, host_args = both("merge_dicts", make)
    assert snapshot(ours) == snapshot(host)
    assert snapshot(args) == snapshot(host_args)


def test_get_value_by_path_walks_the_path_live():
    def make():
        path = ["a", "b"]

        class Grows(dict):
            def __contains__(self, key):
                if len(path) < 4:
                    path.append("c")
                return super().__contains__(key)

        return {"a": Grows(b={"c": 5})}, path

    ours, args, host, _ = both("get_value_by_path", make)
    assert ours == host == ("ok", 5)


# --- cycles ------------------------------------------------------------------

def cyclic_list():
    lst = []
    lst.append(lst)
    return lst


def cyclic_dict():
    d = {}
    d["self"] = d
    return d


def mutual_lists():
    a, b = [], []
    a.append({"k": b})
    b.append(a)
    return a


@pytest.mark.parametrize("call, make", [
    (J.to_dict, cyclic_list),
    (J.to_dict, cyclic_dict),
    (J.to_dict, mutual_lists),
    (J.convert_keys_to_snake_case, cyclic_list),
    (J.convert_keys_to_snake_case, cyclic_dict),
    (J.convert_keys_to_snake_case, mutual_lists),
    (lambda d: J.merge_dicts(d, d), cyclic_dict),
    (lambda d: J.merge_dicts({"x": {"l": [1]}, "y": d}, {"y": d}), cyclic_dict),
    (lambda d: J.filter_json(d, ["a"]), cyclic_list),
    (lambda d: J.filter_json([[d]], ["a.b"]), cyclic_list),
])
def test_cycles_raise_recursion_error(call, make):
    with pytest.raises(RecursionError):
        call(make())


def test_filter_json_does_not_enter_dicts_that_contain_themselves():
    d = cyclic_dict()
    assert J.filter_json(d, ["self"])["self"] is d
