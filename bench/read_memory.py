"""The peak memory of tidemark-scan reading and analysing one large file.

Writes a CSV file of about 50 MB once (minute bars, a random walk with a
fixed seed), runs tidemark-scan --json on it and prints the file's size
beside the process's peak resident memory, and their ratio. The goal: at
most about 1.5 times the file's size (the bars themselves take most of it).

usage: read_memory.py TIDEMARK_SCAN FOLDER
"""

import datetime
import os
import subprocess
import sys

import numpy

BARS = 860_000
GOAL = 1.5


def write_file(path):
    """The file, unless it is already there, complete."""
    if os.path.exists(path + ".complete"):
        return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    rng = numpy.random.default_rng(20260102)
    closes = 100 * numpy.exp(numpy.cumsum(rng.normal(0, 0.001, BARS)))
    opens = numpy.concatenate(([100.0], closes[:-1]))
    highs = numpy.ceil(numpy.maximum(opens, closes) * (1 + numpy.abs(rng.normal(0, 0.0005, BARS))) * 1e4) / 1e4
    lows = numpy.floor(numpy.minimum(opens, closes) * (1 - numpy.abs(rng.normal(0, 0.0005, BARS))) * 1e4) / 1e4
    volumes = rng.integers(100, 100_000, BARS)
    start = datetime.datetime(2015, 1, 2)
    with open(path, "w") as f:
        f.write("Date,Open,High,Low,Close,Volume\n")
        for i in range(BARS):
            stamp = (start + datetime.timedelta(minutes=i)).strftime("%Y-%m-%d %H:%M")
            f.write("%s,%.4f,%.4f,%.4f,%.4f,%d\n" % (stamp, opens[i], highs[i], lows[i], closes[i], volumes[i]))
    with open(path + ".complete", "w") as f:
        f.write("%d bars\n" % BARS)


def peak_bytes(command):
    """The peak resident memory of a child process, in bytes (Linux counts KiB)."""
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit("%s failed: %s" % (command[0], child.stderr.read().decode(errors="replace")))
    return usage.ru_maxrss * 1024


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    scan, folder = sys.argv[1], sys.argv[2]
    path = os.path.join(folder, "minute-bars.csv")
    write_file(path)
    size = os.path.getsize(path)
    peak = peak_bytes([scan, "--json", path])
    ratio = peak / size
    print("Memory: tidemark-scan --json on one file of %d bars (%.1f bytes a line), %.1f MB: peak resident %.1f MB,"
          " %.1f bytes a bar, %.2f x the file   goal <= about %g: %s"
          % (BARS, size / BARS, size / 1e6, peak / 1e6, peak / BARS, ratio, GOAL,
             "met" if ratio <= GOAL * 1.05 else "MISSED"))


if __name__ == "__main__":
    main()
