"""levels() against what tidemark-scan --json finds, and screen() locally
against screen() on a dask.distributed LocalCluster of two worker processes."""
import datetime
import errno
import gzip
import json
import os
import subprocess
import sys

import numpy as np
import pandas as pd
import pytest

import tidemark as tm
from conftest import SAMPLE, TOP


def scan_json(command, path, *options):
    done = subprocess.run([str(command), "--json", *options, str(path)], capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


def assert_levels_equal(frame, found):
    """The levels and the run of levels() and of the command's JSON, bit for bit."""
    levels = sorted(found["levels"], key=lambda level: level["index"])
    assert len(frame) == len(levels) == found["level_count"] > 0
    assert [level["index"] for level in levels] == frame.index.tolist()
    for column in ("price", "merged_weight", "resized_weight", "fractals", "touches", "held", "broke"):
        assert [level[column] for level in levels] == frame[column].tolist(), column
    # The track record: the same bars, and no last touch where the command has none.
    assert [level["bars_since_touch"] for level in levels] == [
        None if pd.isna(value) else value for value in frame["bars_since_touch"]]
    if frame.attrs["last_date"] is not None:
        when = "%Y-%m-%d %H:%M" if found["intraday"] else "%Y-%m-%d"
        for column in ("formed_date", "last_fractal_date"):
            assert [level[column] for level in levels] == frame[column].dt.strftime(when).tolist(), column
    for key in ("tolerance", "mean_bar_range", "tolerance_rule", "candidates", "up_fractals", "down_fractals",
                "fractal_counts", "bar_count", "fractal_depth", "merge_mode", "weight_span"):
        assert frame.attrs[key] == found[key], key
    close, their_close = frame.attrs["last_close"], found["last_close"]
    for key in ("price", "level_index", "on_level", "level", "level_weight", "below", "above", "distance"):
        assert close[key] == their_close[key], key
    when = "%Y-%m-%d %H:%M" if found["intraday"] else "%Y-%m-%d"
    if frame.attrs["last_date"] is not None:  # undated bars have neither dates nor times of day
        assert frame.attrs["intraday"] == found["intraday"]
        assert frame.attrs["last_date"].strftime(when) == found["last_date"] == close["date"].strftime(when)
        assert frame.attrs["first_date"].strftime(when) == found["first_date"]


def write_bars(path, frame, newest_first):
    """Bars as a CSV file with minutes, oldest or newest first."""
    rows = frame.iloc[::-1] if newest_first else frame
    with open(path, "w") as out:
        out.write("date,open,high,low,close,volume\n")
        for when, bar in rows.iterrows():
            out.write(f"{when:%Y-%m-%d %H:%M},{bar.open!r},{bar.high!r},{bar.low!r},{bar.close!r},{bar.volume:.0f}\n")


def random_bars(n, seed, start="2021-03-01 09:30", freq="min"):
    rng = np.random.default_rng(seed)
    close = np.round(250 + np.cumsum(rng.normal(0, 0.3, n)), 2)
    open_ = np.round(close + rng.normal(0, 0.2, n), 2)
    high = np.round(np.maximum(open_, close) + rng.exponential(0.2, n), 2)
    low = np.round(np.minimum(open_, close) - rng.exponential(0.2, n), 2)
    return pd.DataFrame(
        {"open": open_, "high": high, "low": low, "close": close, "volume": rng.integers(100, 10000, n).astype(float)},
        index=pd.DatetimeIndex(pd.date_range(start, periods=n, freq=freq), name="date"),
    )


OPTIONS = [
    ({}, []),
    ({"depth": 3, "mode": 2, "span": 5}, ["--depth", "3", "--mode", "2", "--span", "5"]),
    ({"tolerance": 2.5, "mode": 0}, ["--tolerance", "2.5", "--mode", "0"]),
]


@pytest.mark.parametrize("options, arguments", OPTIONS, ids=["defaults", "depth 3 mode 2 span 5", "tolerance 2.5 mode 0"])
def test_levels_equal_the_command_on_the_sample(scan_command, options, arguments):
    found = scan_json(scan_command, SAMPLE, *arguments)
    # The path (the command's reader), the package's reader, and pandas'
    # exact reader all give the same bars, so the same levels.
    by_path = tm.levels(SAMPLE, **options)
    assert_levels_equal(by_path, found)
    assert_levels_equal(tm.levels(tm.read_bars(SAMPLE), **options), found)
    frame = pd.read_csv(SAMPLE, parse_dates=["date"], index_col="date", float_precision="round_trip")
    assert_levels_equal(tm.levels(frame, **options), found)


def test_levels_of_newest_first_bars_equal_the_command(scan_command, tmp_path):
    bars = random_bars(4000, seed=11)
    newest = tmp_path / "newest-first.csv"
    write_bars(newest, bars, newest_first=True)
    found = scan_json(scan_command, newest)
    assert found["file_order"] == "newest first" and found["intraday"]
    newest_frame = pd.read_csv(newest, parse_dates=["date"], float_precision="round_trip")
    assert newest_frame["date"].is_monotonic_decreasing
    by_frame = tm.levels(newest_frame)
    assert_levels_equal(by_frame, found)
    assert by_frame.attrs["file_order"] == "newest first"
    assert_levels_equal(tm.levels(newest), found)
    assert_levels_equal(tm.levels(bars), found)
    # Epoch seconds in a timestamp column, as the command reads them.
    epoch = bars.reset_index()
    epoch["timestamp"] = epoch.pop("date").astype("int64") // 10**9
    assert_levels_equal(tm.levels(epoch.iloc[::-1]), found)
    # Only the bars count: no dates at all, rows oldest first.
    undated = tm.levels(bars.reset_index(drop=True))
    assert undated.attrs["last_date"] is None
    assert_levels_equal(undated, found)


def test_importing_from_the_source_folder_says_what_to_do():
    done = subprocess.run([sys.executable, "-c", "import tidemark"], cwd=TOP / "python", capture_output=True,
                          text=True, env={k: v for k, v in os.environ.items() if k != "PYTHONPATH"})
    assert done.returncode == 1 and "circular" not in done.stderr
    assert "ImportError: tidemark: the compiled part of the package (_native) is not in" in done.stderr
    assert "import tidemark from outside it" in done.stderr


def test_bar_records_lay_out_the_bars_as_the_command_does(native):
    bars = tm.read_bars(SAMPLE)
    records = tm.bar_records(bars.iloc[::-1])
    assert records.dtype == tm.BAR_RECORD and len(records) == len(bars)
    assert records["close"][0] == bars["close"].iloc[-1]
    assert records["time"][0] == pd.Timestamp("2008-10-14").value // 10**9
    up, down = tm.fractal_strength(records["high"], records["low"], 2)
    levels = tm.levels(bars)
    assert (up >= 1).sum() == levels.attrs["up_fractals"]
    assert (down >= 1).sum() == levels.attrs["down_fractals"]
    assert native.up_fractal(records, 2, 7) == up[7]


@pytest.fixture(scope="module")
def cluster_client(tmp_path_factory):
    distributed = pytest.importorskip("distributed")
    # Reachable from this machine alone: dask's default is every interface,
    # and dashboard_address=None does not turn the dashboard off.
    cluster = distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
        dashboard_address="127.0.0.1:0", worker_dashboard_address="127.0.0.1:0",
        local_directory=str(tmp_path_factory.mktemp("dask")),
    )
    client = distributed.Client(cluster)
    yield client
    client.close()
    cluster.close()


def test_screen_on_a_cluster_equals_screen_on_the_local_cores(cluster_client, tmp_path):
    universe = {f"S{i:03d}": random_bars(300 + 37 * i, seed=i, freq="D", start="2015-01-02") for i in range(24)}
    path = tmp_path / "from-a-file.csv"
    write_bars(path, random_bars(500, seed=99), newest_first=False)
    universe["FILE"] = str(path)
    universe["SAMPLE"] = tm.read_bars(SAMPLE)
    local = tm.screen(universe)
    assert list(local.index) == list(universe)
    on_cluster = tm.screen(universe, client=cluster_client)
    pd.testing.assert_frame_equal(local, on_cluster)
    # Batches of any size, one symbol to all of them, give the same rows in
    # the same order; so do failed symbols kept as rows.
    for size in (1, 7, len(universe)):
        pd.testing.assert_frame_equal(local, tm.screen(universe, client=cluster_client, batch_size=size))
    universe["MISSING"] = str(tmp_path / "missing.csv")
    kept = tm.screen(universe, client=cluster_client, errors="keep", batch_size=5)
    pd.testing.assert_frame_equal(kept, tm.screen(universe, errors="keep"))
    assert "No such file or directory" in kept.loc["MISSING", "error"] and kept["error"].notna().sum() == 1
    del universe["MISSING"]
    # A table of the same frames, and a dask DataFrame of it whose partitions
    # split symbols, screen as the mapping does; so does a dask DataFrame
    # that dask reads from files, the path as the symbol.
    frames = {symbol: bars for symbol, bars in universe.items() if isinstance(bars, pd.DataFrame)}
    table = pd.concat(frames, names=["symbol", "date"]).reset_index()
    want = local.loc[list(frames)].assign(file=None)
    pd.testing.assert_frame_equal(tm.screen(table, client=cluster_client), want, check_exact=True)
    dd = pytest.importorskip("dask.dataframe")
    pd.testing.assert_frame_equal(tm.screen(dd.from_pandas(table, npartitions=5), client=cluster_client), want,
                                  check_exact=True)
    files = {}
    for i in range(3):
        files[str(tmp_path / f"D{i}.csv")] = random_bars(200 + 50 * i, seed=70 + i, freq="D", start="2016-01-04")
        write_bars(tmp_path / f"D{i}.csv", files[str(tmp_path / f"D{i}.csv")], newest_first=False)
    read = dd.read_csv(list(files), include_path_column="symbol", float_precision="round_trip")
    pd.testing.assert_frame_equal(tm.screen(read, client=cluster_client).drop(columns="file"),
                                  tm.screen(list_to_paths(files)).drop(columns="file"), check_exact=True)
    # Each row is what levels() says of the same bars.
    sample = tm.levels(SAMPLE)
    row = local.loc["SAMPLE"]
    assert row["bars"] == 1047 and row["last_close"] == 362.71
    assert row["on_level"] and row["level"] == sample["price"][sample.attrs["last_close"]["level_index"]]
    assert row["distance"] == sample.attrs["last_close"]["distance"]
    assert local.loc["FILE", "file"] == str(path)
    # The worker's FileNotFoundError comes back as one, errno and file name set.
    with pytest.raises(FileNotFoundError, match="symbol 'BAD'") as missing:
        tm.screen({"BAD": "/nonexistent.csv"}, client=cluster_client)
    assert missing.value.errno == errno.ENOENT and missing.value.filename == "/nonexistent.csv"
    # No symbols: an empty screen with the same columns, not an error.
    for errors in ("raise", "keep"):
        empty = tm.screen({}, errors=errors)
        assert empty.empty and list(empty.columns) == list(local.columns) + (["error"] if errors == "keep" else [])
        pd.testing.assert_frame_equal(empty, tm.screen({}, client=cluster_client, errors=errors))


def whole_bars(n, seed):
    """Daily bars with whole-number prices, which float32 and int64 hold exactly."""
    rng = np.random.default_rng(seed)
    close = 200 + np.cumsum(rng.integers(-3, 4, n))
    open_ = close + rng.integers(-2, 3, n)
    return pd.DataFrame(
        {"open": open_, "high": np.maximum(open_, close) + rng.integers(0, 3, n),
         "low": np.minimum(open_, close) - rng.integers(0, 3, n), "close": close,
         "volume": rng.integers(100, 10000, n)},
        index=pd.DatetimeIndex(pd.date_range("2016-01-04", periods=n, freq="D"), name="date"),
    ).astype(float)


def read_newest_first(path, **options):
    return pd.read_csv(path, float_precision="round_trip", **options)


def two_symbols(path_a, path_b, names):
    """Both files as one frame of many symbols, indexed by names (of symbol and date)."""
    frames = [read_newest_first(p, parse_dates=["date"]).assign(symbol=s) for s, p in (("A", path_a), ("B", path_b))]
    return pd.concat(frames).set_index(names)


def with_missing_close(frame):
    frame = frame.astype({"close": "Float64"})
    frame.iloc[7, frame.columns.get_loc("close")] = pd.NA
    return frame


# (layout, the bars of file A (and B) in that layout, None when the levels
# must be those of file A read by the command's reader, else (error, words)).
LAYOUTS = [
    ("parsed date index", lambda a, b: read_newest_first(a, index_col="date", parse_dates=True), None),
    ("string date index", lambda a, b: read_newest_first(a, index_col="date"), None),
    ("string date column", lambda a, b: read_newest_first(a), None),
    ("YYYYMMDD date column, int64", lambda a, b: read_newest_first(a).assign(
        date=lambda f: f["date"].str.replace("-", "").astype(np.int64)), None),
    ("epoch seconds index, Int64", lambda a, b: read_newest_first(a, index_col="date", parse_dates=True).pipe(
        lambda f: f.set_axis(pd.Index(f.index.values.astype("datetime64[s]").astype(np.int64), dtype="Int64",
                                      name="timestamp"))), None),
    ("unnamed index of datetime.date", lambda a, b: read_newest_first(a, index_col="date", parse_dates=True)
     .pipe(lambda f: f.set_axis(list(f.index.date))), None),
    ("tz-aware index, New York", lambda a, b: read_newest_first(a, index_col="date", parse_dates=True)
     .tz_localize("UTC").tz_convert("America/New_York"), None),
    ("MultiIndex (symbol, date), one symbol", lambda a, b: two_symbols(a, b, ["symbol", "date"]).loc[["A"]], None),
    ("MultiIndex (date, symbol) of text, one symbol", lambda a, b: read_newest_first(a).assign(ticker="A")
     .set_index(["date", "ticker"]), None),
    ("MultiIndex (symbol, date), two symbols", lambda a, b: two_symbols(a, b, ["symbol", "date"]),
     (ValueError, "level 'symbol' of 2 values")),
    ("MultiIndex (date, symbol), two symbols", lambda a, b: two_symbols(a, b, ["date", "symbol"]),
     (ValueError, "level 'symbol' of 2 values")),
    ("MultiIndex without a date level", lambda a, b: read_newest_first(a).assign(n=1).set_index(["n", "volume"]),
     (ValueError, "none of the index's 2 levels holds dates")),
    ("close and Close", lambda a, b: read_newest_first(a).assign(Close=1.0), (ValueError, "columns 5 and 7 are both named Close")),
    ("nullable Float64 and Int64, no missing value", lambda a, b: read_newest_first(a, parse_dates=["date"])
     .astype({"open": "Float64", "high": "Float64", "low": "Int64", "close": "Int64"}), None),
    ("nullable Float64 close with a missing value", lambda a, b: with_missing_close(read_newest_first(a)),
     (ValueError, "close \\(Float64\\) has no value in row 7")),
    ("float32 prices", lambda a, b: read_newest_first(a, parse_dates=["date"]).astype(
        {name: np.float32 for name in ("open", "high", "low", "close")}), None),
    ("int64 prices", lambda a, b: read_newest_first(a, parse_dates=["date"]).astype(
        {name: np.int64 for name in ("open", "high", "low", "close")}), None),
    ("text index that is not dates", lambda a, b: read_newest_first(a).drop(columns="date")
     .set_axis([f"bar {i}" for i in range(300)]), (ValueError, 'the index, row 0: date "bar 0" is not a date')),
    # Text and numbers go through the reader's own date stage, as a file's do.
    ("DD/MM/YYYY text column, the order settled by the column", lambda a, b: read_newest_first(a).assign(
        date=lambda f: pd.to_datetime(f["date"]).dt.strftime("%d/%m/%Y")), None),
    ("text at local midnight east of UTC", lambda a, b: read_newest_first(a).assign(
        date=lambda f: f["date"] + "T00:00:00+09:00"), None),
    ("tz-aware index at local midnight, Tokyo", lambda a, b: read_newest_first(a, index_col="date", parse_dates=True)
     .tz_localize("Asia/Tokyo"), None),
    # 13 digits are epoch milliseconds, 16 microseconds, 19 nanoseconds, as in a file.
    ("epoch milliseconds", lambda a, b: read_newest_first(a).assign(
        date=lambda f: pd.to_datetime(f["date"]).astype("int64") // 10**6), None),
    ("epoch microseconds, float64 index", lambda a, b: read_newest_first(a, index_col="date", parse_dates=True).pipe(
        lambda f: f.set_axis(pd.Index(f.index.astype("int64") / 10**3, name="timestamp"))), None),
    ("epoch nanoseconds", lambda a, b: read_newest_first(a).assign(
        date=lambda f: pd.to_datetime(f["date"]).astype("int64")), None),
    ("epoch milliseconds of 11 digits, with dates='ms' in the message", lambda a, b: read_newest_first(a).assign(
        date=lambda f: pd.to_datetime(f["date"]).astype("int64") // 10**6 - 1451606400000 + 20000000000),
     (ValueError, "outside 1901-12-13.*epoch milliseconds\\? dates='ms' reads them")),
    # Closes alone: each bar's open, high and low are its close, as in a file.
    ("closes alone", lambda a, b: read_newest_first(a, index_col="date")[["close"]], "closes alone"),
]


@pytest.fixture(scope="module")
def newest_first_files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("layouts")
    paths = []
    for seed, name in ((5, "A.csv"), (6, "B.csv")):
        path = folder / name
        bars = whole_bars(300, seed)
        with open(path, "w") as out:
            out.write("date,open,high,low,close,volume\n")
            for when, bar in bars.iloc[::-1].iterrows():
                out.write(f"{when:%Y-%m-%d},{bar.open:.0f},{bar.high:.0f},{bar.low:.0f},{bar.close:.0f},{bar.volume:.0f}\n")
        paths.append(path)
    return paths


@pytest.mark.parametrize("layout, make, expected", LAYOUTS, ids=[case[0] for case in LAYOUTS])
def test_dataframe_layouts_give_the_levels_of_the_same_bars_read_from_csv(newest_first_files, layout, make, expected):
    path_a, path_b = newest_first_files
    frame = make(path_a, path_b)
    if expected == "closes alone":
        path_a = path_a.parent / "closes-alone.csv"
        path_a.write_text("date,close\n" + "".join(f"{d},{c!r}\n" for d, c in frame["close"].items()))
        assert tm.levels(frame).attrs["close_only"] and tm.levels(path_a).attrs["close_only"]
    elif expected is not None:
        error, words = expected
        with pytest.raises(error, match=words):
            tm.levels(frame)
        return
    want, got = tm.levels(path_a), tm.levels(frame)
    pd.testing.assert_frame_equal(got, want, check_exact=True)
    for key in ("first_date", "last_date", "file_order", "intraday", "tolerance", "bar_count"):
        assert got.attrs[key] == want.attrs[key], key
    assert got.attrs["last_close"] == want.attrs["last_close"]


@pytest.mark.parametrize("names", [["symbol", "date"], ["date", "symbol"]])
def test_screen_takes_a_frame_of_many_symbols_per_symbol(newest_first_files, names):
    path_a, path_b = newest_first_files
    by_path = tm.screen({"A": str(path_a), "B": str(path_b)}).drop(columns="file")
    by_frame = tm.screen(two_symbols(path_a, path_b, names))
    pd.testing.assert_frame_equal(by_frame.drop(columns="file"), by_path, check_exact=True)
    # Groups of such a frame keep their dates.
    groups = dict(list(two_symbols(path_a, path_b, names).groupby(level="symbol")))
    pd.testing.assert_frame_equal(tm.screen(groups).drop(columns="file"), by_path, check_exact=True)
    with pytest.raises(ValueError, match="symbol level"):
        tm.screen(tm.read_bars(path_a))


def daily_universe(count=5):
    return {f"S{i}": random_bars(40 + 9 * i, seed=40 + i, freq="D", start="2019-01-01") for i in range(count)}


def wide_with_a_late_listing(universe):
    """(field, symbol) columns on shared dates: S1 had no bars for its first 20 days."""
    wide = pd.concat(universe, axis=1).swaplevel(axis=1)
    wide.loc[wide.index[:20], [(field, "S1") for field in ("open", "high", "low", "close", "volume")]] = np.nan
    return wide


def dask_frame(frame, **options):
    dd = pytest.importorskip("dask.dataframe")
    return dd.from_pandas(frame, **options)


def long_table(universe):
    return pd.concat(universe, names=["symbol", "date"]).reset_index()


# (layout, the universe as that layout, the universe it must screen as). Each
# screens as the mapping of its symbols' DataFrames does.
MANY_SYMBOLS = [
    ("long table, symbol column", long_table, None),
    ("long table, Ticker column, rows by date", lambda u: long_table(u).rename(columns={"symbol": "Ticker"})
     .sort_values("date", kind="stable"), None),
    ("MultiIndex (date, symbol), nullable Float64", lambda u: long_table(u).astype({"close": "Float64"})
     .set_index(["date", "symbol"]), None),
    ("wide, (field, symbol) columns", lambda u: pd.concat(u, axis=1).swaplevel(axis=1), None),
    ("wide, (symbol, field) columns", lambda u: pd.concat(u, axis=1), None),
    ("wide, a symbol listed later", wide_with_a_late_listing, lambda u: {**u, "S1": u["S1"].iloc[20:]}),
    ("dask, 3 partitions across symbols", lambda u: dask_frame(long_table(u), npartitions=3), None),
    ("dask, partitions by date, symbol index", lambda u: dask_frame(
        long_table(u).sort_values("date", kind="stable").set_index("symbol"), npartitions=4, sort=False), None),
]


@pytest.mark.parametrize("layout, make, expected", MANY_SYMBOLS, ids=[case[0] for case in MANY_SYMBOLS])
def test_tables_of_many_symbols_screen_as_their_symbols_do(layout, make, expected):
    universe = daily_universe()
    want = tm.screen((expected or (lambda u: u))(universe))
    data = make(universe)
    got = tm.screen(data)
    if layout.startswith("wide"):
        # On shared dates a symbol with fewer bars has rows of nothing, skipped and counted.
        assert (got["null_rows_skipped"] == len(data) - got["bars"]).all() and got["null_rows_skipped"].any()
        got = got.assign(null_rows_skipped=0)
    pd.testing.assert_frame_equal(got.loc[want.index], want, check_names=False, check_exact=True)
    assert len(got) == len(want)
    kept = tm.screen(make(universe), errors="keep")
    assert kept["error"].isna().all() and kept.loc[want.index, "bars"].tolist() == want["bars"].tolist()


def with_bad_high(frame, symbol, column="symbol"):
    frame = frame.copy()
    frame.loc[frame.index[frame[column] == symbol][3], "high"] = 1.0
    return frame


# (what, data, exception, words): a table's faults are named, a symbol's alone
# is its own (with errors="keep", a row of its own).
TABLE_FAULTS = [
    ("long table, a row without a symbol", lambda u: long_table(u).assign(
        symbol=lambda f: f["symbol"].where(f.index != 45)), ValueError,
     r"screen: column 'symbol' has no symbol in row 45"),
    ("wide, a symbol without a close", lambda u: pd.concat(u, axis=1).drop(columns=[("S2", "close")]), ValueError,
     "screen: symbol 'S2': no close column"),
    ("long table, a bad bar", lambda u: with_bad_high(long_table(u), "S3"), ValueError,
     r"screen: symbol 'S3': row 150: high 1 is below low"),
    ("dask, no symbol column", lambda u: dask_frame(long_table(u).drop(columns="symbol"), npartitions=2),
     ValueError, "needs a symbol column or index"),
    ("dask, a bad bar in a symbol across partitions", lambda u: dask_frame(with_bad_high(long_table(u), "S4"),
                                                                         npartitions=4),
     ValueError, r"screen: symbol 'S4': row \d+: high 1 is below low"),
]


@pytest.mark.parametrize("what, make, error, words", TABLE_FAULTS, ids=[case[0] for case in TABLE_FAULTS])
def test_faults_of_tables_of_many_symbols(what, make, error, words):
    data = make(daily_universe())
    with pytest.raises(error, match=words):
        tm.screen(data)
    if "symbol '" in words:
        kept = tm.screen(data, errors="keep")
        bad = words.split("symbol '")[1][:2]
        assert kept["error"].notna().tolist() == [symbol == bad for symbol in kept.index]
        assert pd.isna(kept.loc[bad, "bars"]) and kept.loc[bad, "error"] in str(error_of(tm.screen, data))


def error_of(call, *args):
    with pytest.raises(Exception) as raised:
        call(*args)
    return raised.value


def list_to_paths(files):
    return {path: path for path in files}


TWO_SYMBOLS_FILE = (
    "Datum;Kennung;Eroeffnung;Hoch;Tief;Schluss;Umsatz\n"
    + "".join(f"0{d}/02/2016;{s};{10 + d};{12 + d};{9 + d};{11 + d};100\n" for s in ("A", "B") for d in range(1, 10))
)
READER_FILE = (
    "date,open,high,low,adj close,volume\n2016-01-04,10,12,9,11,100\n2016-01-04,10,12,9,11,100\n"
    "2016-01-05,null,null,null,null,null\n2016-01-06,10,13,9,12,n/a\n2016-01-07,11,13,10,12,100\n"
)
GERMAN = {"date": "Datum", "symbol": "Kennung", "open": "Eroeffnung", "high": "Hoch", "low": "Tief",
          "close": "Schluss", "volume": "Umsatz"}


def ambiguous_frame():
    """Bars whose text dates read either way round (01/02/2016 ... 09/02/2016)."""
    return pd.DataFrame({"date": [f"0{d}/02/2016" for d in range(1, 10)], "open": 10.0, "high": 12.0, "low": 9.0,
                         "close": np.arange(10.0, 11.8, 0.2)[:9]})


# (what, call(folder with german.csv and reader.csv), check of the result)
READING = [
    ("read_bars, dates and columns and symbol", lambda d: tm.read_bars(d / "german.csv", dates="dmy", columns=GERMAN,
                                                                     symbol="B"),
     lambda r: r.index[0] == pd.Timestamp("2016-02-01") and len(r) == 9 and r.attrs["other_symbol_rows"] == 9
     and r["close"].iloc[0] == 12),
    ("read_bars, columns as the command's text", lambda d: tm.read_bars(
        d / "german.csv", dates="mdy", symbol="A", columns=",".join(f"{k}={v}" for k, v in GERMAN.items())),
     lambda r: r.index[0] == pd.Timestamp("2016-01-02") and len(r) == 9),
    ("read_bars, what the reader passed over", lambda d: tm.read_bars(d / "reader.csv"),
     lambda r: (r.attrs["duplicates_dropped"], r.attrs["null_rows_skipped"], r.attrs["unknown_volumes"],
                r.attrs["close_column"], r.attrs["bars_in_file"]) == (1, 1, 1, "adj close", 3)),
    ("read_bars, start and end", lambda d: tm.read_bars(d / "german.csv", dates="dmy", columns=GERMAN, symbol="A",
                                                         start="2016-02-03", end=datetime.date(2016, 2, 5)),
     lambda r: list(r.index.day) == [3, 4, 5] and r.attrs["bars_in_file"] == 9),
    ("levels of a path, what the reader passed over", lambda d: tm.levels(d / "reader.csv", depth=1),
     lambda r: r.attrs["duplicates_dropped"] == 1 and r.attrs["close_column"] == "adj close"),
    ("levels of a frame, start and end", lambda d: tm.levels(tm.read_bars(SAMPLE), start="2008-01-01",
                                                            end="2008-06-30"),
     lambda r: r.attrs["bar_count"] == len(tm.read_bars(SAMPLE).loc["2008-01-01":"2008-06-30"])
     and r.attrs["bars_in_file"] == 1047 and r.attrs["last_date"] == pd.Timestamp("2008-06-30")),
    ("levels of a frame, dates dmy", lambda d: tm.levels(ambiguous_frame(), depth=1, dates="dmy"),
     lambda r: r.attrs["first_date"] == pd.Timestamp("2016-02-01")),
    ("levels of a frame, an adjusted close its only one", lambda d: tm.levels(
        tm.read_bars(SAMPLE).rename(columns={"close": "Adj Close"})), lambda r: r.attrs["close_column"] == "Adj Close"),
    ("screen of paths, the reader's columns", lambda d: tm.screen({"R": d / "reader.csv", "G": d / "german.csv"},
                                                                  depth=1, symbol="B", columns=GERMAN, dates="dmy",
                                                                  errors="keep"),
     lambda r: r.loc["G", "other_symbol_rows"] == 9 and r.loc["G", "bars"] == 9 and pd.notna(r.loc["R", "error"])),
    ("screen of a table, one symbol", lambda d: tm.screen(long_table(daily_universe()), symbol="S2"),
     lambda r: list(r.index) == ["S2"]),
    ("screen of frames, a window", lambda d: tm.screen(daily_universe(), start="2019-01-15", end="2019-02-01"),
     lambda r: (r["bars"] == 18).all() and (r["bars_in_file"] > 18).all()),
]


# (what, a call given the folder of READER_FILES, words of the message): the
# reader's messages name the options as Python spells them.
READER_WORDS = [
    ("a file's dates that read both ways", lambda d: tm.levels(d / "ambiguous.csv"),
     "pass dates='mdy' or dates='dmy'"),
    ("a DataFrame's dates that read both ways", lambda d: tm.levels(ambiguous_frame(), depth=1),
     "pass dates='mdy' or dates='dmy'"),
    ("a header without a close", lambda d: tm.read_bars(d / "no-close.csv"),
     "name the columns with columns={'date': NAME, 'open': NAME"),
    ("a file of two symbols", lambda d: tm.screen({"G": d / "german.csv"}, columns=GERMAN, dates="dmy"),
     "choose one with symbol=NAME"),
    ("epoch milliseconds of 11 digits in a file", lambda d: tm.walk(d / "far.csv"),
     "epoch milliseconds\\? dates='ms' reads them"),
    ("a bound that is no date", lambda d: tm.levels(d / "reader.csv", start="someday"), "start: date \"someday\""),
]


@pytest.mark.parametrize("what, call, words", READER_WORDS, ids=[case[0] for case in READER_WORDS])
def test_the_readers_messages_name_the_python_keywords(reader_files, what, call, words):
    (reader_files / "ambiguous.csv").write_text("date,open,high,low,close\n01/02/2016,1,2,0.5,1\n02/03/2016,1,2,0.5,1\n")
    (reader_files / "no-close.csv").write_text("date,open,high,low\n2016-01-01,1,2,0.5\n")
    (reader_files / "far.csv").write_text("date,open,high,low,close\n20000000000,1,2,0.5,1\n")
    with pytest.raises(ValueError, match=words) as raised:
        call(reader_files)
    assert "--" not in str(raised.value)


@pytest.fixture()
def reader_files(tmp_path):
    (tmp_path / "german.csv").write_text(TWO_SYMBOLS_FILE)
    (tmp_path / "reader.csv").write_text(READER_FILE)
    return tmp_path


@pytest.mark.parametrize("what, call, check", READING, ids=[case[0] for case in READING])
def test_the_readers_options_and_what_it_passed_over(reader_files, what, call, check):
    assert check(call(reader_files))


# Options checked before any work, named by their keyword.
BAD_OPTIONS = [
    ({"dates": "myd"}, ValueError, "dates must be 'mdy', 'dmy', 'ymd', 'serial', 'ms', 'us' or 'ns'"),
    ({"dates": 1}, TypeError, "dates must be"),
    ({"start": "someday"}, ValueError, "start: date \"someday\" is not a date"),
    ({"start": "2020-02-01", "end": "2020-01-01"}, ValueError, "start is after end"),
    ({"end": 20200101}, TypeError, "end must be a date"),
    ({"columns": {"closing": "Schluss"}}, ValueError, "ROLE=NAME"),
    ({"columns": ["close"]}, TypeError, "columns must map roles"),
    ({"symbol": 7}, TypeError, "symbol must be a str"),
    ({"symbol": ""}, ValueError, "symbol must name the symbol"),
]


@pytest.mark.parametrize("options, error, words", BAD_OPTIONS, ids=[str(case[0]) for case in BAD_OPTIONS])
def test_bad_reading_options_are_named(monkeypatch, options, error, words):
    calls = []
    for name in ("analyse_file", "screen_files", "walk_file", "read_bars"):
        monkeypatch.setattr(tm._native, name, lambda *args: calls.append(args))
    for call in (tm.read_bars, tm.levels, tm.walk, lambda path, **o: tm.screen({"A": path}, **o)):
        with pytest.raises(error, match=words):
            call(SAMPLE, **options)
    assert calls == []


def scan_walk(command, path, *options):
    done = subprocess.run([str(command), "--walk", "-", "--json", *options, str(path)], capture_output=True,
                          text=True, check=True)
    return json.loads(done.stdout)


def assert_walk_equals_the_commands(rows, walked, intraday=False):
    """walk()'s rows from its first level on, and the command's, bit for bit."""
    started = rows[rows["bars"].notna()]
    assert len(started) == len(walked) and rows["bars"].isna().sum() == len(rows) - len(walked)
    when = "%Y-%m-%d %H:%M" if intraday else "%Y-%m-%d"
    assert started["date"].dt.strftime(when).tolist() == [row["date"] for row in walked]
    for column in rows.columns.drop("date"):
        values = [None if pd.isna(value) else value for value in started[column]]
        assert values == [row[column] for row in walked], column


WALK_OPTIONS = [
    ({}, []),
    ({"window": 40}, ["--window", "40"]),
    ({"window": 250, "depth": 3, "mode": 2, "span": 5}, ["--window", "250", "--depth", "3", "--mode", "2",
                                                        "--span", "5"]),
    ({"tolerance": 2.5, "mode": 0}, ["--tolerance", "2.5", "--mode", "0"]),
]


@pytest.mark.parametrize("options, arguments", WALK_OPTIONS, ids=[" ".join(a) or "defaults" for _, a in WALK_OPTIONS])
def test_walk_equals_the_commands_walk(scan_command, tmp_path, options, arguments):
    rows = tm.walk(SAMPLE, **options)
    assert_walk_equals_the_commands(rows, scan_walk(scan_command, SAMPLE, *arguments))
    # The command's columns, in its order.
    header = subprocess.run([str(scan_command), "--walk", "-", str(SAMPLE)], capture_output=True, text=True,
                            check=True).stdout.splitlines()[0]
    assert list(rows.columns) == header.split(",")
    minutes = tmp_path / "minutes.csv"
    bars = random_bars(1500, seed=len(arguments))
    write_bars(minutes, bars, newest_first=True)
    walked = scan_walk(scan_command, minutes, *arguments)
    # The path, and the same bars as a newest-first DataFrame: rows on its
    # own index, in its order.
    assert_walk_equals_the_commands(tm.walk(minutes, **options), walked, intraday=True)
    newest = tm.walk(bars.iloc[::-1], **options)
    assert newest.index.equals(bars.index[::-1])
    assert_walk_equals_the_commands(newest.iloc[::-1], walked, intraday=True)


def test_each_walk_row_is_the_one_shot_levels_of_the_bars_so_far():
    bars = tm.read_bars(SAMPLE)
    for window in (None, 60):
        rows = tm.walk(bars, window=window, depth=3, mode=1)
        assert rows.index.equals(bars.index) and rows["close"].tolist() == bars["close"].tolist()
        for t in list(range(0, 14)) + list(range(14, len(bars), 97)) + [len(bars) - 1]:
            view = bars.iloc[:t + 1] if window is None else bars.iloc[max(0, t + 1 - window):t + 1]
            row = rows.iloc[t]
            if pd.isna(row["bars"]):
                # No level yet: the one-shot on the same bars has none either.
                assert len(view) < 7 or tm.levels(view, depth=3).empty, t
                continue
            found = tm.levels(view, depth=3)
            close = found.attrs["last_close"]
            assert row["bars"] == len(view) and row["level_count"] == len(found), t
            assert row["tolerance"] == found.attrs["tolerance"] and row["date"] == close["date"], t
            for key in ("on_level", "level", "level_weight", "below", "above", "distance"):
                assert (pd.isna(row[key]) and close[key] is None) or row[key] == close[key], (t, key)
            for side in ("below", "above"):
                at = found.index[found["price"] == row[side]]
                assert pd.isna(row[side]) or row[f"{side}_weight"] == found.loc[at[0], "resized_weight"], (t, side)


def rising_after_a_spike(n=30):
    """One up fractal (bar 2) and one down fractal (bar 4), then bars that only rise: none after them."""
    high = np.array([10.0, 11.0, 14.0, 11.5, 10.5, 11.5] + [12.0 + i for i in range(n - 6)])
    low = np.array([9.0, 10.0, 12.0, 10.0, 9.0, 10.2] + [11.0 + i for i in range(n - 6)])
    return pd.DataFrame({"open": low, "high": high, "low": low, "close": high},
                        index=pd.date_range("2022-03-01", periods=n, name="day"))


# (window, depth, the first bar with a row, bars whose rows have no level)
WINDOWS = [
    (None, 1, 3, []),
    (30, 1, 3, []),                        # the whole series: as without a window
    (2, 1, None, []),                      # shorter than 2 * depth + 1: never a fractal
    (3, 1, 3, [4] + list(range(6, 30))),   # the spike leaves the window, then the dip: no level
    (8, 1, 3, list(range(11, 30))),       # bar 4's neighbour 3 leaves the view at bar 11
    (5, 2, 4, [5] + list(range(7, 30))),   # depth 2: confirmed at 4 and 6, each in view for one bar
]


@pytest.mark.parametrize("window, depth, first, empty", WINDOWS, ids=[f"window {w}, depth {d}" for w, d, *_ in WINDOWS])
def test_walk_window_edges(window, depth, first, empty):
    bars = rising_after_a_spike()
    rows = tm.walk(bars, window=window, depth=depth)
    assert rows.index.equals(bars.index) and rows["date"].tolist() == bars.index.tolist()
    started = rows["bars"].notna()
    assert started.tolist() == [first is not None and t >= first for t in range(len(bars))]
    if first is None:
        assert rows.drop(columns=["date", "close"]).isna().all().all()
        return
    assert rows["level_count"].iloc[first:].eq(0).tolist() == [t in empty for t in range(first, len(bars))]
    for t in empty:
        assert not rows["on_level"].iloc[t] and rows[["level", "below", "above", "distance"]].iloc[t].isna().all()
    assert rows["bars"].iloc[first:].tolist() == [min(t + 1, window or t + 1) for t in range(first, len(bars))]
    # The last row is the one-shot analysis of the last window of bars.
    last = tm.levels(bars.iloc[-(window or len(bars)):], depth=depth)
    assert rows["level_count"].iloc[-1] == len(last) and rows["tolerance"].iloc[-1] == last.attrs["tolerance"]


# (what, walk's arguments, exception, words)
BAD_WALKS = [
    ("window 0", {"window": 0}, ValueError, "window must be from 1"),
    ("window -1", {"window": -1}, ValueError, "window must be from 1"),
    ("window True", {"window": True}, TypeError, "window must be an integer, got bool"),
    ("window 2.5", {"window": 2.5}, TypeError, "window must be an integer, got float"),
    ("no bars in start ... end", {"start": "1999-01-01", "end": "1999-12-31"}, ValueError, "none of its 1047 bars"),
    ("a missing file", {"bars": "/nonexistent.csv"}, FileNotFoundError, "No such file"),
]


@pytest.mark.parametrize("what, arguments, error, words", BAD_WALKS, ids=[case[0] for case in BAD_WALKS])
def test_bad_walks_say_why(what, arguments, error, words):
    arguments = {"bars": SAMPLE, **arguments}
    with pytest.raises(error, match=words):
        tm.walk(**arguments)


def test_walk_of_undated_bars_a_window_of_dates_and_one_symbol_of_a_table():
    sample = tm.read_bars(SAMPLE)
    for bars in (SAMPLE, sample, sample.iloc[::-1]):
        cut = tm.walk(bars, start="2006-01-01", end=datetime.date(2006, 12, 31))
        assert cut.attrs["bars_in_file"] == 1047
        pd.testing.assert_frame_equal(cut.sort_index(), tm.walk(sample.loc["2006"]), check_exact=True)
    bars = rising_after_a_spike()
    undated = tm.walk(bars.reset_index(drop=True), depth=1)
    assert undated.index.equals(pd.RangeIndex(len(bars))) and undated["date"].isna().all()
    pd.testing.assert_frame_equal(undated.drop(columns="date"),
                                  tm.walk(bars, depth=1).drop(columns="date").reset_index(drop=True))
    table = long_table(daily_universe(3))
    rows = tm.walk(table, symbol="S1")
    assert rows.index.equals(table.index[table["symbol"] == "S1"])
    pd.testing.assert_frame_equal(rows.reset_index(drop=True),
                                  tm.walk(daily_universe(3)["S1"]).reset_index(drop=True))


def test_the_screens_walk_row_is_the_walks_last_row(tmp_path):
    universe = daily_universe(4)
    path = tmp_path / "file.csv"
    write_bars(path, random_bars(300, seed=8, freq="D", start="2018-01-01"), newest_first=True)
    data = {**universe, "FILE": str(path)}
    for window in (None, 25):
        rows = tm.screen(data, walk=True, window=window, depth=1)
        for symbol, bars in data.items():
            last = tm.walk(bars, window=window, depth=1).iloc[[-1]] if symbol != "FILE" else \
                tm.walk(bars, window=window, depth=1).iloc[[-1]]
            got = rows.loc[[symbol], list(last.columns)]
            pd.testing.assert_frame_equal(got.reset_index(drop=True), last.reset_index(drop=True), check_exact=True)
        # A table of the same frames, and a dask DataFrame of it, give the same rows.
        frames = rows.loc[list(universe)].assign(file=None)
        table = long_table(universe)
        pd.testing.assert_frame_equal(tm.screen(table, walk=True, window=window, depth=1), frames,
                                      check_names=False, check_exact=True)
        pd.testing.assert_frame_equal(tm.screen(dask_frame(table, npartitions=3), walk=True, window=window, depth=1),
                                      frames, check_names=False, check_exact=True)
    # Without a window, the walk's last row is the screen's own row.
    own = tm.screen(data, depth=1)
    walked = tm.screen(data, walk=True, depth=1)
    for mine, theirs in (("last_date", "date"), ("last_close", "close"), ("bars", "bars"), ("on_level", "on_level"),
                         ("level", "level"), ("level_weight", "level_weight"), ("below", "below"),
                         ("above", "above"), ("distance", "distance")):
        assert own[mine].astype(object).tolist() == walked[theirs].astype(object).tolist(), mine
    with pytest.raises(ValueError, match="window is the walk's"):
        tm.screen(data, window=5)


@pytest.fixture(scope="module")
def daily_files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("daily")
    paths = []
    for i in range(4):
        path = folder / f"D{i}.csv"
        write_bars(path, random_bars(150 + 40 * i, seed=80 + i, freq="D", start="2017-01-02"), newest_first=i == 2)
        paths.append(str(path))
    with open(paths[3], "rb") as plain, gzip.open(folder / "D3.csv.gz", "wb") as packed:
        packed.write(plain.read())
    paths[3] = str(folder / "D3.csv.gz")
    return paths


def read_csv(paths, **options):
    dd = pytest.importorskip("dask.dataframe")
    return dd.read_csv(paths, include_path_column="symbol", **options)


# (what, the paths of the files, the dask DataFrame of them, whether the
# reader reads the files)
DASK_FILES = [
    ("read_csv of whole files", slice(0, 3), lambda p: read_csv(p, blocksize=None), True),
    ("read_csv, blocks of whole files", slice(0, 3), lambda p: read_csv(p), True),
    ("read_csv, round-trip floats", slice(0, 3), lambda p: read_csv(p, blocksize=None, float_precision="round_trip"),
     True),
    ("read_csv of gzip files", slice(3, 4), lambda p: read_csv(p, blocksize=None), True),
    ("read_csv, a file in blocks", slice(0, 3), lambda p: read_csv(p, blocksize=2000), False),
    ("read_csv, dates parsed by pandas", slice(0, 3), lambda p: read_csv(p, blocksize=None, parse_dates=["date"]),
     False),
    ("read_csv, a dtype given", slice(0, 3), lambda p: read_csv(p, blocksize=None, dtype={"volume": "float64"}),
     False),
    ("read_csv, then a column dropped", slice(0, 3), lambda p: read_csv(p, blocksize=None).drop(columns="volume"),
     False),
    ("read_csv, then rows filtered", slice(0, 3), lambda p: read_csv(p, blocksize=None).pipe(lambda f: f[f.close > 0]),
     False),
    ("read_csv of a file twice", slice(0, 3), lambda p: read_csv([*p, p[0]], blocksize=None), False),
]


@pytest.mark.parametrize("what, which, make, by_reader", DASK_FILES, ids=[case[0] for case in DASK_FILES])
def test_a_dask_read_csv_of_files_is_screened_by_the_reader(monkeypatch, daily_files, what, which, make, by_reader):
    paths = daily_files[which]
    data = make(paths)
    read = []
    real = tm._native.screen_files
    monkeypatch.setattr(tm._native, "screen_files", lambda names, *args: read.append(names) or real(names, *args))
    rows = tm.screen(data, errors="keep")
    assert bool(read) == by_reader
    if "twice" in what:
        return
    # Either way, the rows of the paths themselves, and of the same frame
    # screened partition by partition.
    want = tm.screen({path: path for path in paths}, errors="keep").assign(file=None)
    pd.testing.assert_frame_equal(rows, want, check_exact=True, check_names=False)
    if by_reader:
        monkeypatch.setattr(tm._screen, "csv_files", lambda *args: None)
        pd.testing.assert_frame_equal(rows, tm.screen(data, errors="keep"), check_exact=True)
        # The screen's options hold on that route too.
        chosen = tm.screen(data, symbol=paths[-1], walk=True, depth=3)
        walked = tm.screen({paths[-1]: paths[-1]}, walk=True, depth=3).assign(file=None)
        pd.testing.assert_frame_equal(chosen, walked, check_exact=True, check_names=False)


def test_a_file_that_pandas_reads_otherwise_is_read_as_the_reader_reads_it(tmp_path):
    # A day without trading written as nulls: pandas makes NaN prices of it
    # (a bad bar); the reader skips and counts it, as for the path.
    path = tmp_path / "nulls.csv"
    write_bars(path, random_bars(60, seed=3, freq="D", start="2017-01-02"), newest_first=False)
    lines = path.read_text().splitlines(keepends=True)
    path.write_text("".join(lines[:30]) + "2017-01-31,null,null,null,null,null\n" + "".join(lines[31:]))  # bar 29
    rows = tm.screen(read_csv([str(path)], blocksize=None))
    assert rows["null_rows_skipped"].tolist() == [1] and rows["bars"].tolist() == [59]
