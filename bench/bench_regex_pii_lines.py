"""Times the regex masking on long lines, many of them full of personal data,
against the plain-Python handler of tests/zunt_core/logger/regex_pii_reference.py.

Run by hand: .venv/bin/python bench/bench_regex_pii_lines.py [--counts 1000,10000,100000]
    [--sizes 100000,1000000,10000000] [--repeat N] [--python-limit SECONDS]

Each line is one call of process_message_using_regex. The lines of --counts
are that many items joined by spaces, of each kind below; the lines of
--sizes are log text of that many bytes with a match every ~30 bytes. For
each line it prints the native time (best of --repeat), the plain-Python
time (one run), their ratio and whether both gave the same text. The
plain-Python masker replaces each found text over the whole line, so its time
grows with the square of the matches; a line on which it would take longer
than --python-limit seconds (estimated from the kind's shorter lines) is
timed natively only; with --python-limit 0 every line is.
"""

import argparse
import gc
import os
import random
import sys
import time

# The plain-Python reference lives beside the handler's tests.
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "zunt_core", "logger"))
import regex_pii_reference as py  # noqa: E402

from zunt_core.logger import regex_pii_logger_handler as native  # noqa: E402


def digits(r, k):
    return "".join(r.choice("0123456789") for _ in range(k))


def random_address(r, i):
    name = r.choice(["budi", "siti", "agus", "dewi", "rahma", "john.doe", "a", "info"])
    domain = r.choice(["gmail.com", "example.co.id", "mail.yahoo.com", "kantor.go.id", "x.io"])
    return f"{name}{r.choice(['', '.', '_', '-'])}{r.randrange(10 ** r.randrange(1, 6))}@{domain}"


# (name, item of index i); a line of count n is " ".join(item(r, i) for i in range(n)).
KINDS = [
    ("distinct addresses", lambda r, i: f"user{i}@mail{i}.com"),
    ("repeated addresses", lambda r, i: "john.doe@example.com"),
    ("random addresses", random_address),
    ("distinct phone numbers", lambda r, i: f"0812{i:08d}"),
    ("repeated phone numbers", lambda r, i: "081234567890"),
    ("grouped phone numbers", lambda r, i: f"+62 812-{i // 10000 % 10000:04d}-{i % 10000:04d}"),
    ("identity-card numbers", lambda r, i: f"32{i % 100:02d}{i // 100 % 10000:04d}{i % 28 + 1:02d}"
                                           f"{i % 12 + 1:02d}{i // 7 % 10000:04d}"),
    ("tax numbers", lambda r, i: f"{i % 100:02d}.{i // 100 % 1000:03d}.{i % 1000:03d}.{i % 10}-"
                                 f"{i // 10 % 1000:03d}.{i % 997:03d}"),
    ("all kinds, mixed", lambda r, i: KINDS[i % 8][1](r, i)),
    ("phone numbers in addresses", lambda r, i: f"0812{i:08d}@mail.com"),
    ("digit runs of 200", lambda r, i: digits(r, 200)),
    ("no match: many '@'", lambda r, i: f"u{i}@@h{i}@"),
    ("no match: log payload", lambda r, i: f"user_name=budi.santoso-{i} status=200"),
]


def log_text(size, seed=11):
    """Log text of `size` bytes with a match every ~30 bytes."""
    r = random.Random(seed)
    items, length, i = [], 0, 0
    while length < size:
        item = r.choice([
            lambda: f"id={i} user{i}@mail{i}.com",
            lambda: f"to {random_address(r, i)} ok",
            lambda: f"hp 0812{i % 10**8:08d} sent",
            lambda: f"cb +62 813-{i % 10000:04d}-{i // 10000 % 10000:04d}",
            lambda: f"path=/v1/u/{i} 200",
        ])()
        items.append(item)
        length += len(item) + 1
        i += 1
    return " ".join(items)[:size]


def timed(fn, arg):
    gc.collect()
    t0 = time.perf_counter()
    result = fn(arg)
    return time.perf_counter() - t0, result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--counts", default="1000,10000,100000")
    parser.add_argument("--sizes", default="100000,1000000,10000000")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--python-limit", type=float, default=20.0)
    args = parser.parse_args()
    counts = [int(c) for c in args.counts.split(",") if c]
    sizes = [int(s) for s in args.sizes.split(",") if s]

    h_py, h_nat = py.RegexLoggerHandler(True), native.RegexLoggerHandler(True)
    print(f"process_message_using_regex, one line per call; native best of {args.repeat}, python one run; "
          f"Python {sys.version.split()[0]}")
    print(f"{'line':34} {'items':>7} {'MB':>6} {'matches':>8} {'native ms':>10} {'python ms':>10} "
          f"{'ratio':>8}  same")

    def row(name, count, line, estimate):
        t_nat = min(timed(h_nat.process_message_using_regex, line)[0] for _ in range(args.repeat))
        masked = h_nat.process_message_using_regex(line)
        matches = sum(len(p.findall(line)) for p in [h_py.REGEX_KTP, h_py.REGEX_NPWP, *h_py.REGEX_PHONE_NUMBER,
                                                     h_py.REGEX_EMAIL_ADDRESS])
        if args.python_limit <= 0 or (estimate is not None and estimate > args.python_limit):
            py_text, ratio, same = f"~{estimate:.0f} s" if estimate else "-", "", "-"
            t_py = None
        else:
            t_py, expected = timed(h_py.process_message_using_regex, line)
            py_text, ratio = f"{t_py * 1e3:10.1f}", f"{t_py / t_nat:7.1f}x"
            same = "yes" if masked == expected else "NO"
        print(f"{name:34} {count or "-":>7} {len(line) / 1e6:6.2f} {matches:8} {t_nat * 1e3:10.2f} {py_text:>10} "
              f"{ratio:>8}  {same}", flush=True)
        return t_py

    for name, item in KINDS:
        last = None  # (count, python seconds) of the kind's last line timed with both
        for count in counts:
            r = random.Random(count)
            line = " ".join(item(r, i) for i in range(count))
            estimate = last[1] * (count / last[0]) ** 2 if last else None
            t_py = row(name, count, line, estimate)
            if t_py is not None:
                last = (count, t_py)

    last = None
    for size in sizes:
        line = log_text(size)
        estimate = last[1] * (size / last[0]) ** 2 if last else None
        t_py = row("log text, a match every ~30 bytes", 0, line, estimate)
        if t_py is not None:
            last = (size, t_py)


if __name__ == "__main__":
    main()
