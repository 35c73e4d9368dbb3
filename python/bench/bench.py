"""Benchmarks of the Python package, with the ratios of its goals, all from one
run (scripts/bench runs this after the library's own benchmarks):

* fractal_strength over 1,000,000 bars at depth 2 against
  scipy.signal.argrelextrema(high, numpy.greater_equal, order=2), which only
  answers yes or no for the highs (goal: at least 5 times faster);
* hlop from Python on 1,000,000 levels against the same call from C
  (hlop_from_c, loading the library by file name; goal: at most 1.2 times);
* screen of 1,000 symbols (DataFrames) on a LocalCluster of two worker
  processes against the same screen on the local cores, five rounds of each
  in turn (goal: at most 1.5 times);
* screen of 10,000 paths on a LocalCluster of two worker processes, which
  read the files themselves, against the same screen on the local cores,
  five rounds of each in turn (goal: at most 1.5 times);
* screen of a dask DataFrame read from 1,000 of those files
  (dask.dataframe.read_csv, the path as the symbol) on the same cluster
  against screen of the 1,000 paths there (goal: at most 1.5 times), beside
  the time dask takes only to read that DataFrame (len of each partition),
  which screen no longer pays: such a DataFrame's files are read by the
  command's reader, as the paths are.

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


def alternate(first, second, rounds=5):
    """Medians of wall time of two calls, run in turn, so that the load of a
    shared machine falls on both alike."""
    times = ([], [])
    for _ in range(rounds):
        for call, kept in zip((first, second), times):
            kept.append(median_time(call, 1, time.perf_counter))
    return statistics.median(times[0]), statistics.median(times[1])


def bench_screen(rng, build):
    import dask.dataframe as dd
    from distributed import Client

    data = universe(rng)
    files = bar_files(build / "bench-python-screen", rng)
    paths = {path.stem: str(path) for path in files}
    few = {path.stem: str(path) for path in files[:1000]}
    with tempfile.TemporaryDirectory() as folder:
        with local_cluster(folder) as cluster, Client(cluster) as client:
            tm.screen(data, client=client)  # the workers import the package once
            local, on_cluster = alternate(lambda: tm.screen(data), lambda: tm.screen(data, client=client))
            local_paths, paths_on_cluster = alternate(lambda: tm.screen(paths),
                                                      lambda: tm.screen(paths, client=client))
            frame = dd.read_csv(list(few.values()), include_path_column="symbol", blocksize=None)
            tm.screen(frame, client=client)
            by_dask, by_paths = alternate(lambda: tm.screen(frame, client=client),
                                          lambda: tm.screen(few, client=client), rounds=3)
            # A new name each time: a result the scheduler still holds under
            # the same keys would be handed back instead of read again.
            rounds = iter(range(3))
            read_only = median_time(
                lambda: client.compute(frame.map_partitions(len, token=f"bench-read-{next(rounds)}")).result(), 3,
                time.perf_counter)
            same = tm.screen(frame, client=client).rename(index=lambda path: pathlib.Path(path).stem)
            agree = same.drop(columns="file").equals(tm.screen(few).drop(columns="file"))
    print(f"  screen, 1,000 symbols x 1,000 bars, local cores     {local:9.3f} s   ({os.cpu_count()} cores)")
    print(f"  screen, the same, LocalCluster of 2 worker processes{on_cluster:9.3f} s   (packed and scattered)")
    print(f"  screen, 10,000 paths x 250 bars, local cores        {local_paths:9.3f} s")
    print(f"  screen, the same, LocalCluster of 2 worker processes{paths_on_cluster:9.3f} s   (the workers read)")
    print(f"  screen, 1,000 of the paths, the same cluster        {by_paths:9.3f} s")
    print(f"  screen, dask DataFrame of those files (read_csv)    {by_dask:9.3f} s   "
          f"({'same rows' if agree else 'DIFFERENT ROWS'})")
    print(f"  dask only reading that DataFrame (len of each part) {read_only:9.3f} s")
    return on_cluster / local, paths_on_cluster / local_paths, by_dask / by_paths, read_only / by_paths


def main():
    build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build/python").resolve()
    rng = np.random.default_rng(2024)
    print(f"Python package ({tm.__file__}), numpy {np.__version__}, scipy {scipy.__version__}")
    fractal_ratio = bench_fractal_strength(rng)
    hlop_ratio = bench_hlop(rng, build)
    frames_ratio, cluster_ratio, dask_ratio, read_ratio = bench_screen(rng, build)
    print(f"Ratios of the goals, from this run (CPU times; wall times for the screen; load average "
          f"{' '.join(f'{load:.2f}' for load in os.getloadavg())}):")
    print(f"  argrelextrema / fractal_strength   {fractal_ratio:7.2f}   goal >= 5    "
          f"{'met' if fractal_ratio >= 5 else 'NOT MET'}")
    print(f"  hlop from Python / from C          {hlop_ratio:7.2f}   goal <= 1.2  "
          f"{'met' if hlop_ratio <= 1.2 else 'NOT MET'}")
    print(f"  screen of frames, cluster / local  {frames_ratio:7.2f}   goal <= 1.5  "
          f"{'met' if frames_ratio <= 1.5 else 'NOT MET'}")
    print(f"  screen of paths, cluster / local   {cluster_ratio:7.2f}   goal <= 1.5  "
          f"{'met' if cluster_ratio <= 1.5 else 'NOT MET'}")
    print(f"  dask DataFrame / its paths         {dask_ratio:7.2f}   goal <= 1.5  "
          f"{'met' if dask_ratio <= 1.5 else 'NOT MET'}   (dask's reading alone: {read_ratio:.2f})")


if __name__ == "__main__":
    main()
