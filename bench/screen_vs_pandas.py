"""Screening many files with tidemark-scan against reading them with pandas.

Writes 1,000 CSV files of 2,500 daily bars each (once; a random walk with a
fixed seed), then, side by side in one run and ROUNDS times, measures

  - tidemark-scan --json FOLDER: the whole screen (start-up, loading the
    library, reading, analysing on all cores, the JSON), wall clock;
  - pandas.read_csv on every file, just reading them, in this process after
    pandas is imported;

and prints the ratio of each round and of the medians, with the CPU seconds
each used (on a machine shared with other work the wall clock of a
many-core screen suffers more than a one-core loop), and the load average
of each round. The goal: the screen takes at most 0.08 of the time pandas
takes to read. Beside it, the screen
of the same bars as gzip files (FOLDER-gz, written once), for what the
decompression costs.

usage: screen_vs_pandas.py TIDEMARK_SCAN FOLDER [ROUNDS]
"""

import datetime
import gzip
import os
import resource
import statistics
import subprocess
import sys
import time

import numpy
import pandas

FILES = 1000
BARS = 2500
GOAL = 0.08


def write_files(folder):
    """The files, unless a complete set is already there."""
    stamp = os.path.join(folder, ".complete")
    if os.path.exists(stamp):
        return
    os.makedirs(folder, exist_ok=True)
    rng = numpy.random.default_rng(20260101)
    days = []
    day = datetime.date(2010, 1, 4)
    while len(days) < BARS:
        if day.weekday() < 5:
            days.append(day.isoformat())
        day += datetime.timedelta(days=1)
    for k in range(FILES):
        start = 10 + 190 * rng.random()
        closes = start * numpy.exp(numpy.cumsum(rng.normal(0, 0.015, BARS)))
        opens = numpy.concatenate(([start], closes[:-1])) * (1 + rng.normal(0, 0.003, BARS))
        highs = numpy.maximum(opens, closes) * (1 + numpy.abs(rng.normal(0, 0.008, BARS)))
        lows = numpy.minimum(opens, closes) * (1 - numpy.abs(rng.normal(0, 0.008, BARS)))
        volumes = rng.integers(10_000, 5_000_000, BARS)
        with open(os.path.join(folder, "s%04d.csv" % k), "w") as f:
            f.write("Date,Open,High,Low,Close,Volume\n")
            for i in range(BARS):
                # Rounded outward so that open and close stay within [low, high].
                f.write("%s,%.2f,%.2f,%.2f,%.2f,%d\n" % (
                    days[i], opens[i], numpy.ceil(highs[i] * 100) / 100,
                    numpy.floor(lows[i] * 100) / 100, closes[i], volumes[i]))
    with open(stamp, "w") as f:
        f.write("%d files of %d bars\n" % (FILES, BARS))


def write_gzip_copies(folder, paths):
    """The same files compressed, unless a complete set is already there."""
    gz_folder = folder.rstrip("/") + "-gz"
    stamp = os.path.join(gz_folder, ".complete")
    if not os.path.exists(stamp):
        os.makedirs(gz_folder, exist_ok=True)
        for path in paths:
            with open(path, "rb") as plain, gzip.open(
                    os.path.join(gz_folder, os.path.basename(path) + ".gz"), "wb") as packed:
                packed.write(plain.read())
        with open(stamp, "w") as f:
            f.write("%d files\n" % len(paths))
    return gz_folder


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def time_screen(scan, folder):
    """Wall and CPU seconds of the whole tidemark-scan process."""
    cpu = children_cpu()
    start = time.perf_counter()
    result = subprocess.run([scan, "--json", folder], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    seconds = time.perf_counter() - start
    if result.returncode != 0:
        sys.exit("tidemark-scan failed: " + result.stderr.decode(errors="replace"))
    return seconds, children_cpu() - cpu


def time_pandas(paths):
    """Wall and CPU seconds of reading every file."""
    cpu = time.process_time()
    start = time.perf_counter()
    for path in paths:
        pandas.read_csv(path)
    return time.perf_counter() - start, time.process_time() - cpu


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    scan, folder = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    write_files(folder)
    paths = sorted(os.path.join(folder, name) for name in os.listdir(folder) if name.endswith(".csv"))
    # Both read from a warm page cache.
    time_pandas(paths[:50])
    time_screen(scan, folder)

    print("Screen of %d files of %d daily bars (%s) against pandas %s read_csv, %d cores:"
          % (len(paths), BARS, folder, pandas.__version__, os.cpu_count()))
    screens, reads = [], []
    for r in range(rounds):
        s, s_cpu = time_screen(scan, folder)
        p, p_cpu = time_pandas(paths)
        screens.append(s)
        reads.append(p)
        print("  round %d: tidemark-scan %.3f s (%.3f s CPU), pandas.read_csv %.3f s (%.3f s CPU), ratio %.3f"
              " (CPU %.3f), load average %.2f" % (r + 1, s, s_cpu, p, p_cpu, s / p, s_cpu / p_cpu, os.getloadavg()[0]))
    ratio = statistics.median(screens) / statistics.median(reads)
    print("  median: tidemark-scan %.3f s, pandas.read_csv %.3f s, ratio %.3f   goal <= %g: %s"
          % (statistics.median(screens), statistics.median(reads), ratio, GOAL,
             "met" if ratio <= GOAL else "MISSED"))
    gz_folder = write_gzip_copies(folder, paths)
    time_screen(scan, gz_folder)
    gz = [time_screen(scan, gz_folder) for _ in range(rounds)]
    gz_median = statistics.median(g[0] for g in gz)
    print("  the same bars as .csv.gz: tidemark-scan %.3f s (%.3f s CPU), %.2f x the plain screen"
          % (gz_median, statistics.median(g[1] for g in gz), gz_median / statistics.median(screens)))
    print("  load average while measuring: %.2f on %d cores" % (os.getloadavg()[0], os.cpu_count()))


if __name__ == "__main__":
    main()
