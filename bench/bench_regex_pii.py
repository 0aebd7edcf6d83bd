"""Times zunt_core.logger.regex_pii_logger_handler against tests/zunt_core/logger/regex_pii_reference.py.

Run by hand: .venv/bin/python bench/bench_regex_pii.py [--lines N] [--repeat N]
Same interpreter, same log lines: most without personal data, some with each
kind. Prints the best time of each over the lines, through
process_message_using_regex and through emit (formatting included), then the
time of one long line without an e-mail address, which the plain-Python
handler takes seconds over (its e-mail pattern backtracks on long runs of
name characters).
"""

import argparse
import gc
import logging
import os
import random
import sys
import time
import uuid

# The plain-Python reference lives beside the handler's tests.
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "zunt_core", "logger"))
import regex_pii_reference as py  # noqa: E402

from zunt_core.logger import regex_pii_logger_handler as native  # noqa: E402

PLAIN = [
    ("GET /api/v1/orders/%d?page=%d 200 %dms ua=Mozilla/5.0 (X11; Linux x86_64)", lambda r: (
        r.randrange(10**6), r.randrange(50), r.randrange(900))),
    ("Processed batch %d of %d in %.3fs (queue=payments, worker=w-%d)", lambda r: (
        r.randrange(500), 500, r.random() * 3, r.randrange(16))),
    ("cache miss for key session:%s ttl=%d", lambda r: (uuid.UUID(int=r.getrandbits(128)).hex, r.randrange(3600))),
    ("Connected to postgresql://db.internal:5432/app pool_size=%d max_overflow=%d", lambda r: (10, 10)),
    ("request_id=%s status=ok latency_ms=%d retries=%d", lambda r: (
        uuid.UUID(int=r.getrandbits(128)), r.randrange(2000), r.randrange(3))),
    ("Invoice INV-2024-%06d total=%d.%02d IDR due=2024-%02d-%02d", lambda r: (
        r.randrange(10**6), r.randrange(10**7), r.randrange(100), r.randrange(1, 13), r.randrange(1, 29))),
    ("user_name=%s action=login ip=10.%d.%d.%d result=success", lambda r: (
        r.choice(["budi_santoso", "siti.rahma", "agus-w", "dewi"]), r.randrange(256), r.randrange(256),
        r.randrange(256))),
]

PERSONAL = [
    ("verifying identity nik=%s for customer %d", lambda r: (
        "3201%02d%02d%02d%02d%04d" % (r.randrange(100), r.randrange(100), r.choice([12, 31, 45, 71]),
                                      r.randrange(1, 13), r.randrange(10**4)), r.randrange(10**5))),
    ("tax profile npwp %s updated by admin", lambda r: (
        "%02d.%03d.%03d.%d-%03d.%03d" % (r.randrange(100), r.randrange(1000), r.randrange(1000), r.randrange(10),
                                         r.randrange(1000), r.randrange(1000)),)),
    ("sending OTP to %s via sms", lambda r: ("0812%08d" % r.randrange(10**8),)),
    ("callback requested at %s", lambda r: ("+62 813-%04d-%04d" % (r.randrange(10**4), r.randrange(10**4)),)),
    ("password reset mail sent to %s", lambda r: (
        "%s.%s@%s" % (r.choice(["budi", "siti", "agus"]), r.choice(["santoso", "rahma"]),
                      r.choice(["gmail.com", "example.co.id"])),)),
]


def make_lines(n, seed=7):
    """(msg, args) pairs: about 85 % without personal data."""
    r = random.Random(seed)
    out = []
    for _ in range(n):
        msg, args = r.choice(PERSONAL if r.random() < 0.15 else PLAIN)
        out.append((msg, args(r)))
    return out


def timed(fn):
    gc.collect()
    t0 = time.perf_counter()
    fn()
    return time.perf_counter() - t0


def best_pair(make_a, make_b, repeat):
    """Best times of two runs, interleaved. make_x() prepares a run (not
    timed) and returns the function to time."""
    a, b = [], []
    for _ in range(repeat):
        a.append(timed(make_a()))
        b.append(timed(make_b()))
    return min(a), min(b)


def records_of(lines):
    return [logging.LogRecord("bench", logging.INFO, __file__, 1, msg, args, None) for msg, args in lines]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--lines", type=int, default=20_000)
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args()

    lines = make_lines(args.lines)
    texts = [msg % a for msg, a in lines]
    h_py, h_nat = py.RegexLoggerHandler(True), native.RegexLoggerHandler(True)

    # Both agree on the data before anything is timed.
    masked = [h_nat.process_message_using_regex(t) for t in texts]
    assert masked == [h_py.process_message_using_regex(t) for t in texts]
    changed = sum(m != t for m, t in zip(masked, texts))

    print(f"{args.lines} log lines, {changed} with personal data; best of {args.repeat}; "
          f"Python {sys.version.split()[0]}")
    print(f"{'':34} {'python ms':>10} {'native ms':>10} {'ratio':>6}  {'native lines/s':>14}")

    def process(h):
        return lambda: (lambda: [h.process_message_using_regex(t) for t in texts])

    def emit(h):
        def prepare():
            records = records_of(lines)
            return lambda: [h.emit(rec) for rec in records]
        return prepare

    for name, make in [("process_message_using_regex", process), ("emit (record formatted and masked)", emit)]:
        t_py, t_nat = best_pair(make(h_py), make(h_nat), args.repeat)
        print(f"{name:34} {t_py * 1e3:10.2f} {t_nat * 1e3:10.2f} {t_py / t_nat:5.1f}x  "
              f"{args.lines / t_nat:14,.0f}")

    print()
    print("one long line (50 KB), process_message_using_regex")
    long_lines = [
        ("50 KB of name characters, no '@'", "a" * 50_000),
        ("the same with one '@' at its end", "a" * 50_000 + "@"),
        ("50 KB of a log payload, no '@'", ("user_name=budi.santoso-" * 2200)[:50_000]),
    ]
    print(f"{'':40} {'native ms':>10} {'python ms':>10}")
    for name, line in long_lines:
        t_nat = min(timed(lambda: h_nat.process_message_using_regex(line)) for _ in range(args.repeat))
        t_py = timed(lambda: h_py.process_message_using_regex(line))
        assert h_nat.process_message_using_regex(line) == line
        print(f"{name:40} {t_nat * 1e3:10.3f} {t_py * 1e3:10.0f}")


if __name__ == "__main__":
    main()
