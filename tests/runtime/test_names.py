"""Tables of fixed objects: made in their slots' order, and read only from an
exact tuple of the right length."""

import pytest

import _zunt_runtime_test as rt


class Tuple(tuple):
    pass


def test_a_table_reads_its_entries_by_slot():
    table = rt.make_table()
    assert table == ("a", "b")
    assert rt.read_table(table) == ("a", "b")


def test_entries_given_out_of_their_slots_order_are_refused():
    with pytest.raises(SystemError, match="out of its slot's order"):
        rt.make_table(misordered=True)


@pytest.mark.parametrize(
    ("table", "message"),
    [
        (None, "the test table must be a tuple of 2 entries, not NoneType$"),
        (["a", "b"], "the test table must be a tuple of 2 entries, not list$"),
        (("a",), "the test table must be a tuple of 2 entries, not tuple of 1$"),
        (("a", "b", "c"), "the test table must be a tuple of 2 entries, not tuple of 3$"),
        (Tuple(("a", "b")), "the test table must be a tuple of 2 entries, not Tuple of 2$"),
    ],
)
def test_a_table_of_the_wrong_shape_is_a_type_error(table, message):
    with pytest.raises(TypeError, match=message):
        rt.read_table(table)
