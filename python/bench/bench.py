"""Benchmarks of the Python package, with the ratios of its goals, all from one
run (scripts/bench runs this after the library's own benchmarks):

* fractal_strength over 1,000,000 bars at depth 2 against
  scipy.signal.argrelextrema(high, numpy.greater_equal, order=2), which only
  answers yes or no for the highs (goal: at least 5 times faster);
* hlop from Python on 1,000,000 levels against the same call from C
  (hlop_from_c, loading the library by file name; goal: at most 1.2 times);
* screen of 1,000 symbols (DataFrames) on the local cores and on a
  LocalCluster of two worker processes (reported);
* screen of 10,000 paths on a LocalCluster of two worker processes, which
  read the files themselves, against the same screen on the local cores,
  five rounds of each in turn (goal: at most 1.5 times).

Times are medians of several runs: CPU time of this process for the single
calls (other processes on a shared machine count less), wall time for screen
(which runs on several cores and processes).

Every cluster listens on 127.0.0.1 only.

    PYTHONPATH=build/python /usr/bin/python3 python/bench/bench.py BUILD-DIR
"""
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
import pandas as pd
import scipy.signal

import tidemark as tm


def median_time(call, repeats, clock=time.process_time):
    """Median of `repeats` timings of `call` on `clock` (CPU time unless told)."""
    times = []
    for _ in range(repeats):
        start = clock()
        call()
        times.append(clock() - start)
    return statistics.median(times)


def bench_fractal_strength(rng):
    n = 1_000_000
    walk = 1000 + np.cumsum(rng.normal(size=n))
    high, low = walk + rng.random(n), walk - rng.random(n)
    ours = median_time(lambda: tm.fractal_strength(high, low, 2), 31)
    theirs = median_time(lambda: scipy.signal.argrelextrema(high, np.greater_equal, order=2), 31)
    print(f"  fractal_strength, 1,000,000 bars, depth 2           {ours * 1e3:9.3f} ms  (up and down strengths)")
    print(f"  scipy.signal.argrelextrema(high, greater_equal, 2)  {theirs * 1e3:9.3f} ms  (highs, yes or no)")
    return theirs / ours


def bench_hlop(rng, build):
    # As the library's benchmark: uniform prices, weights 1 to 9, mode 1, a
    # tolerance of 0.9 times the mean gap (about half the levels survive).
    n = 1_000_000
    prices = rng.uniform(0, 1000, n)
    weights = rng.integers(1, 10, n).astype(np.int32)
    tolerance, mode = 0.9 * 1000 / n, 1
    # Alternate rounds of C calls and Python calls, so that the load of a
    # shared machine falls on both alike; medians over all rounds.
    rounds, repeats = 5, 3
    from_c, from_python = [], []
    # Only the latest result is kept, for the comparison with C's: keeping
    # every call's would hold 12 MB per call and fault in fresh pages each time.
    result = [None]

    def merge():
        result[0] = tm.hlop(prices, weights, tolerance, mode)

    with tempfile.TemporaryDirectory() as folder:
        levels, merged = pathlib.Path(folder) / "levels.bin", pathlib.Path(folder) / "merged.bin"
        with open(levels, "wb") as out:
            out.write(np.int32(n).tobytes() + np.float64(tolerance).tobytes() + np.int32(mode).tobytes())
            out.write(prices.tobytes() + weights.tobytes())
        for _ in range(rounds):
            done = subprocess.run(
                [str(build / "hlop_from_c"), str(build / "libtidemark.so"), str(levels), str(repeats), str(merged)],
                capture_output=True, text=True, check=True,
            )
            from_c.append(float(done.stdout))
            from_python.append(median_time(merge, repeats))
        c_result = merged.read_bytes()
    from_c, from_python = statistics.median(from_c), statistics.median(from_python)
    merged_prices, merged_weights = result[0]
    same = "same bits" if c_result == merged_prices.tobytes() + merged_weights.tobytes() else "DIFFERENT RESULT"
    survivors = np.count_nonzero(merged_weights)
    print(f"  hlop from Python, 1,000,000 levels (new arrays)      {from_python * 1e3:9.3f} ms  "
          f"({survivors:,} survive)")
    print(f"  Hlop from C, the same levels (copied, then merged)   {from_c * 1e3:9.3f} ms  ({same})")
    return from_python / from_c


def universe(rng, symbols=1000, bars=1000):
    index = pd.date_range("2015-01-02", periods=bars, freq="B", name="date")
    data = {}
    for i in range(symbols):
        close = 50 + np.abs(np.cumsum(rng.normal(0, 0.5, bars))) + 10
        spread = rng.exponential(0.4, (2, bars))
        data[f"SYM{i:04d}"] = pd.DataFrame(
            {"open": close, "high": close + spread[0], "low": close - spread[1], "close": close}, index=index
        )
    return data


def local_cluster(folder):
    from distributed import LocalCluster

    # Two worker processes on the machine's cores, reachable from it alone.
    return LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                        dashboard_address="127.0.0.1:0", worker_dashboard_address="127.0.0.1:0",
                        local_directory=folder)


def bar_files(folder, rng, count=10_000, bars=250):
    """count CSV files of daily bars in folder, written once and reused."""
    folder.mkdir(parents=True, exist_ok=True)
    paths = [folder / f"SYM{i:05d}.csv" for i in range(count)]
    if all(path.exists() for path in paths):
        return paths
    dates = pd.date_range("2015-01-02", periods=bars, freq="B").strftime("%Y-%m-%d")
    for path in paths:
        close = np.round(50 + np.abs(np.cumsum(rng.normal(0, 0.5, bars))) + 10, 2)
        spread = np.round(rng.exponential(0.4, (2, bars)), 2)
        rows = "".join(f"{d},{c},{c + u:.2f},{c - w:.2f},{c}\n" for d, c, u, w in zip(dates, close, *spread))
        partial = path.with_suffix(".part")
        partial.write_text("date,open,high,low,close\n" + rows)
        partial.rename(path)
    return paths


def bench_screen(rng, build):
    from distributed import Client

    data = universe(rng)
    paths = {path.stem: str(path) for path in bar_files(build / "bench-python-screen", rng)}
    local = median_time(lambda: tm.screen(data), 3, time.perf_counter)
    with tempfile.TemporaryDirectory() as folder:
        with local_cluster(folder) as cluster, Client(cluster) as client:
            tm.screen(data, client=client)  # the workers import the package once
            on_cluster = median_time(lambda: tm.screen(data, client=client), 3, time.perf_counter)
            # Local and cluster screens of the paths alternate, so that the
            # load of a shared machine falls on both alike; medians of all.
            local_times, cluster_times = [], []
            for _ in range(5):
                local_times.append(median_time(lambda: tm.screen(paths), 1, time.perf_counter))
                cluster_times.append(median_time(lambda: tm.screen(paths, client=client), 1, time.perf_counter))
            local_paths, paths_on_cluster = statistics.median(local_times), statistics.median(cluster_times)
    print(f"  screen, 1,000 symbols x 1,000 bars, local cores     {local:9.3f} s   ({os.cpu_count()} cores)")
    print(f"  screen, the same, LocalCluster of 2 worker processes{on_cluster:9.3f} s")
    print(f"  screen, 10,000 paths x 250 bars, local cores        {local_paths:9.3f} s")
    print(f"  screen, the same, LocalCluster of 2 worker processes{paths_on_cluster:9.3f} s   (the workers read)")
    return paths_on_cluster / local_paths


def main():
    build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build/python").resolve()
    rng = np.random.default_rng(2024)
    print(f"Python package ({tm.__file__}), numpy {np.__version__}, scipy {scipy.__version__}")
    fractal_ratio = bench_fractal_strength(rng)
    hlop_ratio = bench_hlop(rng, build)
    cluster_ratio = bench_screen(rng, build)
    print("Ratios of the goals, from this run (CPU times; wall times for the screen):")
    print(f"  argrelextrema / fractal_strength   {fractal_ratio:7.2f}   goal >= 5    "
          f"{'met' if fractal_ratio >= 5 else 'NOT MET'}")
    print(f"  hlop from Python / from C          {hlop_ratio:7.2f}   goal <= 1.2  "
          f"{'met' if hlop_ratio <= 1.2 else 'NOT MET'}")
    print(f"  screen of paths, cluster / local   {cluster_ratio:7.2f}   goal <= 1.5  "
          f"{'met' if cluster_ratio <= 1.5 else 'NOT MET'}")


if __name__ == "__main__":
    main()
