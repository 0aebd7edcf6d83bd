"""Time and peak memory of one regex masking call per line shape, against the
plain-Python step-by-step masker of tests/zunt_core/logger/regex_pii_reference.py.

Run by hand: .venv/bin/python bench/bench_regex_pii_memory.py [--sizes 1000000,3000000,10000000]
    [--shapes nested,log,digits] [--repeat N] [--python-limit SECONDS]

Each case runs in a fresh interpreter, which builds the line, resets the
kernel's high-water mark of its memory (the one ru_maxrss reports), calls
process_message_using_regex once per repeat and reports the best time and
that mark less the memory in use before the first call: the peak extra memory
of a call. Shapes:
- nested: e-mail addresses a^i@b(.cc)^r for every i, r up to a bound, shuffled:
  local parts suffixes and domains prefixes of one another, each found on its own.
- log: log text with a match every ~30 bytes.
- digits: one run of digits.
The plain-Python masker is run only where its estimated time (from the
shape's smaller sizes) is below --python-limit seconds.
"""

import argparse
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

CHILD = r"""
import gc, json, random, sys, time
sys.path[:0] = [sys.argv[1], sys.argv[2]]
shape, size, which, repeat = sys.argv[3], int(sys.argv[4]), sys.argv[5], int(sys.argv[6])
from bench_regex_pii_lines import log_text


def nested(size):
    bound = 1
    while bound ** 3 * 2 < size:
        bound += 1
    r = random.Random(5)
    cells = [(i, k) for i in range(1, bound + 1) for k in range(1, bound + 1)]
    r.shuffle(cells)
    parts, length = [], 0
    while length < size:
        for i, k in cells:
            item = "a" * i + "@b" + ".cc" * k
            parts.append(item)
            length += len(item) + 1
            if length >= size:
                break
    return " ".join(parts)[:size]


line = {"nested": nested, "log": log_text, "digits": lambda n: "1" * n}[shape](size)
if which == "native":
    from zunt_core.logger.regex_pii_logger_handler import RegexLoggerHandler
else:
    from regex_pii_reference import RegexLoggerHandler
handler = RegexLoggerHandler(True)


def status_kb(field):
    with open("/proc/self/status") as f:
        for row in f:
            if row.startswith(field + ":"):
                return int(row.split()[1])


gc.collect()
# The high-water mark from here on: the line's own building does not count.
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
before = status_kb("VmRSS")
best = None
for _ in range(repeat):
    t0 = time.perf_counter()
    out = handler.process_message_using_regex(line)
    elapsed = time.perf_counter() - t0
    best = elapsed if best is None else min(best, elapsed)
    del out
peak = status_kb("VmHWM") - before
print(json.dumps({"seconds": best, "peak_kb": peak}))
"""


def run(shape, size, which, repeat):
    tests = os.path.join(os.path.dirname(HERE), "tests", "zunt_core", "logger")
    proc = subprocess.run([sys.executable, "-c", CHILD, HERE, tests, shape, str(size), which, str(repeat)],
                          capture_output=True, text=True)
    if proc.returncode != 0:
        return None, proc.stderr.strip().splitlines()[-1] if proc.stderr else f"exit {proc.returncode}"
    return json.loads(proc.stdout), None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", default="1000000,3000000,10000000")
    parser.add_argument("--shapes", default="nested,log,digits")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--python-limit", type=float, default=60.0)
    args = parser.parse_args()
    sizes = [int(s) for s in args.sizes.split(",") if s]
    print(f"one call of process_message_using_regex per line; time best of {args.repeat} (python: one run); "
          f"peak = high-water mark above the memory in use before the call; Python {sys.version.split()[0]}")
    print(f"{'shape':8} {'MB':>6} {'native ms':>10} {'native MB':>10} {'python ms':>10} {'python MB':>10}")
    for shape in args.shapes.split(","):
        last = None  # (size, python seconds)
        for size in sizes:
            nat, err = run(shape, size, "native", args.repeat)
            nat_text = f"{nat['seconds'] * 1e3:10.1f} {nat['peak_kb'] / 1024:10.1f}" if nat else f"{err:>21}"
            estimate = last[1] * (size / last[0]) ** 2 if last else 0.0
            if estimate > args.python_limit:
                py_text = f"{'~%.0f s' % estimate:>10} {'-':>10}"
            else:
                py, err = run(shape, size, "python", 1)
                py_text = f"{py['seconds'] * 1e3:10.1f} {py['peak_kb'] / 1024:10.1f}" if py else f"{err:>21}"
                if py:
                    last = (size, py["seconds"])
            print(f"{shape:8} {size / 1e6:6.2f} {nat_text} {py_text}", flush=True)


if __name__ == "__main__":
    main()
