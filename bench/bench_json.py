"""Times each zunt_core.helpers.json function against the plain-Python versions
that the tests compare it with (tests/zunt_core/helpers/json_baseline.py).

Run by hand: .venv/bin/python bench/bench_json.py [--records N] [--repeat N]
Same interpreter, same data. Prints the best time of each and the ratio, with
the collector on and off, then the call floor of the helpers that are timed
one call per record.
"""

import argparse
import gc
import operator
import os
import sys
import time
from datetime import datetime, timedelta

from pydantic import BaseModel

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "zunt_core", "helpers"))
import json_baseline as py  # noqa: E402

from zunt_core.helpers import json as native  # noqa: E402


class Address(BaseModel):
    streetName: str
    postCode: str
    validFrom: datetime


class Profile:
    def __init__(self, i):
        self.displayName = f"user {i}"
        self.loginCount = i % 17


def make_tree(n):
    start = datetime(2024, 1, 1)
    records = []
    for i in range(n):
        records.append({
            "userId": i,
            "userName": f"user{i}",
            "emailAddress": f"user{i}@example.org",
            "isActive": i % 2 == 0,
            "createdAt": start + timedelta(minutes=i),
            "accountInfo": {
                "accountType": "premium" if i % 3 else "basic",
                "balanceAmount": i * 1.5,
                "lastLoginIP": "127.0.0.1",
                "billingAddress": {"streetName": "Main", "houseNumber": i, "postCode": "12345"},
            },
            "orderHistory": [
                {"orderId": i * 10 + k, "totalPrice": k * 2.5, "itemCount": k,
                 "shippingInfo": {"carrierName": "X", "trackingID": f"T{k}"}}
                for k in range(3)
            ],
            "tagList": ["alpha", "beta", "gamma"],
            "homeAddress": Address(streetName="Elm", postCode="99999", validFrom=start) if i % 50 == 0 else None,
            "profileData": Profile(i) if i % 25 == 0 else None,
        })
    return {"responseData": {"userRecords": records, "pageInfo": {"totalCount": n, "pageSize": n}}}


def timed(fn, number=1):
    """Seconds per call of fn, over `number` calls. The collector starts each
    run from the same state, and the results are released only after the
    clock stops: freeing the caller's result is not the function's work."""
    results = []
    gc.collect()
    t0 = time.perf_counter()
    for _ in range(number):
        results.append(fn())
    elapsed = time.perf_counter() - t0
    del results
    return elapsed / number


def calls_per_run(fn):
    """Enough calls for a run of about 50 ms, so short functions are not
    timed on a cache that the collection before the run has just cooled."""
    return max(1, int(0.05 / max(timed(fn), 1e-6)))


def best_pair(fn_a, fn_b, repeat):
    """Best times of two functions, their runs interleaved so that a slow
    phase of the machine falls on both."""
    n_a, n_b = calls_per_run(fn_a), calls_per_run(fn_b)
    a, b = [], []
    for _ in range(repeat):
        a.append(timed(fn_a, n_a))
        b.append(timed(fn_b, n_b))
    return min(a), min(b)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--records", type=int, default=10_000)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()

    tree = make_tree(args.records)
    records = tree["responseData"]["userRecords"]
    other = {"responseData": {"pageInfo": {"pageSize": 50, "nextCursor": "abc"},
                              "userRecords": {str(i): {"userId": i, "seen": True} for i in range(args.records)}}}
    base = {"responseData": {"pageInfo": {"totalCount": 1},
                             "userRecords": {str(i): r for i, r in enumerate(records)}}}
    keys = [k for r in records[:1] for k in r] + ["accountInfo", "lastLoginIP", "HTTPServerError", "already_snake"]
    key_list = keys * (args.records // 2)
    fields = ["userId", "emailAddress", "accountInfo.accountType", "accountInfo.billingAddress.postCode",
              "orderHistory.orderId", "orderHistory.shippingInfo.carrierName", "profileData", "missing.x"]
    paths = [["responseData", "userRecords", "orderHistory", "shippingInfo", "carrierName"],
             ["responseData", "pageInfo", "totalCount"], ["responseData", "nope"]]

    def per_record(mod, name):
        fn = getattr(mod, name)
        if name == "get_value":
            return lambda: [fn(r, k) for r in records for k in ("userId", "accountInfo", "nope")]
        if name == "has_value":
            return lambda: [fn(r, k) for r in records for k in ("userId", "accountInfo", "nope")]
        if name == "set_value_by_path":
            def run():
                for r in records:
                    fn(r, ["accountInfo", "billingAddress", "postCode"], "54321")
                    fn(r, ["extraInfo", "benchMark"], 1)
            return run
        raise KeyError(name)

    cases = [
        ("filter_json", lambda m: (lambda: m.filter_json(records, fields))),
        ("convert_keys_to_snake_case", lambda m: (lambda: m.convert_keys_to_snake_case(tree))),
        ("get_value", lambda m: per_record(m, "get_value")),
        ("has_value", lambda m: per_record(m, "has_value")),
        ("merge_dicts", lambda m: (lambda: m.merge_dicts(base, other))),
        ("get_value_by_path", lambda m: (lambda: [m.get_value_by_path(tree, p) for p in paths])),
        ("set_value_by_path", lambda m: per_record(m, "set_value_by_path")),
        ("to_dict", lambda m: (lambda: m.to_dict(tree))),
        ("camel_to_snake_case", lambda m: (lambda: [m.camel_to_snake_case(k) for k in key_list])),
    ]

    # Both implementations agree on the data before anything is timed.
    assert native.filter_json(records, fields) == py.filter_json(records, fields)
    assert native.convert_keys_to_snake_case(tree) == py.convert_keys_to_snake_case(tree)
    assert native.merge_dicts(base, other) == py.merge_dicts(base, other)
    assert native.to_dict(tree) == py.to_dict(tree)
    assert [native.get_value_by_path(tree, p) for p in paths] == [py.get_value_by_path(tree, p) for p in paths]
    assert [native.camel_to_snake_case(k) for k in keys] == [py.camel_to_snake_case(k) for k in keys]

    # The cheapest call of a C function the host offers (a two-argument
    # builtin the interpreter specialises), in the same loops: no native
    # get_value, has_value or set_value_by_path can take less than this.
    floor = operator.is_not
    floors = {
        "get_value": lambda: [floor(r, k) for r in records for k in ("userId", "accountInfo", "nope")],
        "set_value_by_path": lambda: [(floor(r, ["accountInfo", "billingAddress", "postCode"]),
                                       floor(r, ["extraInfo", "benchMark"])) for r in records],
    }
    floors["has_value"] = floors["get_value"]

    print(f"{args.records} records; best of {args.repeat}; Python {sys.version.split()[0]}")
    print("each run starts after gc.collect(); results are freed after the clock stops")
    print(f"{'':30} {'collector on':^28} {'collector off (as timeit)':^28}")
    print(f"{'function':30} {'python ms':>10} {'native ms':>10} {'ratio':>6} "
          f"{'python ms':>10} {'native ms':>10} {'ratio':>6}")
    results = {}
    for name, make in cases:
        t_py, t_nat = best_pair(make(py), make(native), args.repeat)
        gc.disable()
        try:
            u_py, u_nat = best_pair(make(py), make(native), args.repeat)
        finally:
            gc.enable()
        results[name] = t_py
        print(f"{name:30} {t_py * 1e3:10.2f} {t_nat * 1e3:10.2f} {t_py / t_nat:5.1f}x "
              f"{u_py * 1e3:10.2f} {u_nat * 1e3:10.2f} {u_py / u_nat:5.1f}x")
    print()
    print("call floor: the same loop calling a host builtin (operator.is_not) instead")
    for name, fn in floors.items():
        n = calls_per_run(fn)
        t_floor = min(timed(fn, n) for _ in range(args.repeat))
        print(f"{name:30} floor {t_floor * 1e3:8.2f} ms; best ratio any C function could reach "
              f"{results[name] / t_floor:4.1f}x")


if __name__ == "__main__":
    main()
