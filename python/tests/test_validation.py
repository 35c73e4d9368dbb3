"""Bad input raises a clear TypeError, ValueError or IndexError, and nothing is
written: not through the package, and not through the extension module that
it calls (which must be safe on its own)."""
import gzip
import os

import numpy as np
import pandas as pd
import pytest

import tidemark as tm
from tidemark import _native
from conftest import SAMPLE


def arrays():
    """Fresh inputs for every case: prices, weights, tags, bar records."""
    prices = np.array([3.0, 1.0, 2.0, 1.05])
    weights = np.array([1, 2, 3, 4], dtype=np.int32)
    tags = np.array([7, 8, 9, 10], dtype=np.int32)
    records = np.zeros(7, dtype=tm.BAR_RECORD)
    records["high"] = [1, 2, 3, 9, 4, 8, 10]
    records["low"] = [5, 4, 3, 1, 2, 1, 0.5]
    return prices, weights, tags, records


def read_only(a):
    a = a.copy()
    a.flags.writeable = False
    return a


# (what, call(prices, weights, tags, records), exception, words in the message)
CASES = [
    # hlop
    ("hlop in place, float32 prices", lambda p, w, t, r: tm.hlop(p.astype(np.float32), w, 0.1, inplace=True), TypeError, "float64"),
    ("hlop in place, a list", lambda p, w, t, r: tm.hlop(list(p), w, 0.1, inplace=True), TypeError, "numpy array"),
    ("hlop in place, int64 weights", lambda p, w, t, r: tm.hlop(p, w.astype(np.int64), 0.1, inplace=True), TypeError, "int32"),
    ("hlop in place, strided prices", lambda p, w, t, r: tm.hlop(np.repeat(p, 2)[::2], w, 0.1, inplace=True), ValueError, "contiguous"),
    ("hlop in place, 2-D prices", lambda p, w, t, r: tm.hlop(p.reshape(2, 2), w, 0.1, inplace=True), ValueError, "one-dimensional"),
    ("hlop in place, read-only prices", lambda p, w, t, r: tm.hlop(read_only(p), w, 0.1, inplace=True), ValueError, "read-only"),
    ("hlop in place, byte-swapped prices", lambda p, w, t, r: tm.hlop(p.astype(">f8"), w, 0.1, inplace=True), TypeError, "float64"),
    ("hlop, lengths differ", lambda p, w, t, r: tm.hlop(p, w[:3], 0.1, inplace=True), ValueError, "differ in length"),
    ("hlop, tags too short", lambda p, w, t, r: tm.hlop(p, w, 0.1, 1, t[:2], inplace=True), ValueError, "tags and prices"),
    ("hlop, float weights", lambda p, w, t, r: tm.hlop(p, [1.0, 2.0, 3.0, 4.0], 0.1), TypeError, "integers"),
    ("hlop, weights beyond int32", lambda p, w, t, r: tm.hlop(p, [1, 2, 3, 2**31], 0.1), ValueError, "outside int32"),
    ("hlop, string prices", lambda p, w, t, r: tm.hlop(["1", "2", "3", "4"], w, 0.1), TypeError, "real numbers"),
    ("hlop, prices a float64 cannot hold", lambda p, w, t, r: tm.hlop([2**53 + 1, 1, 2, 3], w, 0.1), ValueError, "exactly"),
    ("hlop, mode beyond int32", lambda p, w, t, r: tm.hlop(p, w, 0.1, 2**31, inplace=True), ValueError, "mode"),
    ("hlop, tolerance as text", lambda p, w, t, r: tm.hlop(p, w, "0.1", inplace=True), TypeError, "tolerance"),
    ("hlop, float mode", lambda p, w, t, r: tm.hlop(p, w, 0.1, 1.0, inplace=True), TypeError, "mode"),
    ("hlop, prices and weights overlap", lambda p, w, t, r: _native.hlop(p, p[:2].view(np.int32), None, 0.1, 1), ValueError, "share memory"),
    ("hlop, tags overlap weights", lambda p, w, t, r: tm.hlop(p, w, 0.1, 1, w, inplace=True), ValueError, "share memory"),
    ("hlop, tags too long", lambda p, w, t, r: tm.hlop(p, w, 0.1, 1, np.append(t, 11), inplace=True), ValueError, "tags and prices"),
    ("hlop, uint32 weights above int32", lambda p, w, t, r: tm.hlop(p, np.array([1, 2, 3, 2**31], np.uint32), 0.1), ValueError, "outside int32"),
    # Weights that begin inside prices' third element and end inside the
    # fourth: the arrays overlap without starting at the same byte.
    ("native hlop, weights inside prices", lambda p, w, t, r: _native.hlop(p[:2], p.view(np.int32)[3:5], None, 0.1, 1), ValueError, "share memory"),
    ("native hlop, prices end inside weights", lambda p, w, t, r: _native.hlop(p.view(np.int32)[1:5].view(np.float64), p.view(np.int32)[4:6], None, 0.1, 1), ValueError, "share memory"),
    ("hlop, tags inside prices", lambda p, w, t, r: tm.hlop(p, w, 0.1, 1, p.view(np.int32)[1:5], inplace=True), ValueError, "share memory"),
    # check_level
    ("check_level, 2-D prices", lambda p, w, t, r: tm.check_level(1.0, 0.1, p.reshape(2, 2)), ValueError, "one-dimensional"),
    ("check_level, complex prices", lambda p, w, t, r: tm.check_level(1.0, 0.1, p + 1j), TypeError, "real numbers"),
    ("check_level, a scalar for prices", lambda p, w, t, r: tm.check_level(1.0, 0.1, 3.0), ValueError, "one-dimensional"),
    ("check_level, price None", lambda p, w, t, r: tm.check_level(None, 0.1, p), TypeError, "price"),
    # resize
    ("resize in place, int64 weights", lambda p, w, t, r: tm.resize(11, w.astype(np.int64), inplace=True), TypeError, "int32"),
    ("resize in place, strided weights", lambda p, w, t, r: tm.resize(11, np.repeat(w, 2)[::2], inplace=True), ValueError, "contiguous"),
    ("resize in place, read-only weights", lambda p, w, t, r: tm.resize(11, read_only(w), inplace=True), ValueError, "read-only"),
    ("resize, span beyond int32", lambda p, w, t, r: tm.resize(2**31, w, inplace=True), ValueError, "span"),
    ("resize, bool weights", lambda p, w, t, r: tm.resize(11, w > 1), TypeError, "integers"),
    # up_fractal, down_fractal
    ("up_fractal, shift past the end", lambda p, w, t, r: tm.up_fractal(r, 0, 7), IndexError, "outside"),
    ("up_fractal, negative shift", lambda p, w, t, r: tm.up_fractal(r, 1, -1), IndexError, "outside"),
    ("up_fractal, depth reaching before the start", lambda p, w, t, r: tm.up_fractal(r, 3, 2), IndexError, "needs bars -1 to 5"),
    ("down_fractal, depth reaching past the end", lambda p, w, t, r: tm.down_fractal(r, 4, 3), IndexError, "needs bars"),
    ("down_fractal, negative depth", lambda p, w, t, r: tm.down_fractal(r, -1, 3), ValueError, "negative"),
    ("up_fractal, depth beyond int32", lambda p, w, t, r: tm.up_fractal(r, 2**31, 3), ValueError, "depth"),
    ("up_fractal, float64 bars", lambda p, w, t, r: tm.up_fractal(p, 1, 1), TypeError, "BAR_RECORD"),
    ("up_fractal, other field layout", lambda p, w, t, r: tm.up_fractal(r.astype([(n, "<f8") for n in r.dtype.names])[:6], 1, 1), TypeError, "BAR_RECORD"),
    ("up_fractal, every other record", lambda p, w, t, r: tm.up_fractal(r[::2], 1, 1), ValueError, "contiguous"),
    ("up_fractal, 2-D records", lambda p, w, t, r: tm.up_fractal(r[:6].reshape(2, 3), 1, 1), ValueError, "one-dimensional"),
    ("native up_fractal, 40-byte records", lambda p, w, t, r: _native.up_fractal(np.zeros(9, "V40"), 1, 1), TypeError, "44-byte"),
    ("native up_fractal, big-endian records", lambda p, w, t, r: _native.up_fractal(r.astype(r.dtype.newbyteorder(">")), 1, 1), TypeError, "44-byte"),
    ("native down_fractal, shift + depth past the end", lambda p, w, t, r: _native.down_fractal(r, 2, 5), IndexError, "outside"),
    # fractal_strength
    ("fractal_strength, lengths differ", lambda p, w, t, r: tm.fractal_strength(p, p[:3], 1), ValueError, "differ in length"),
    ("fractal_strength, negative depth", lambda p, w, t, r: tm.fractal_strength(p, p, -1), ValueError, "depth"),
    ("fractal_strength, text", lambda p, w, t, r: tm.fractal_strength(["a"], ["b"], 1), TypeError, "real numbers"),
    ("fractal_strength, Series on different indexes", lambda p, w, t, r: tm.fractal_strength(pd.Series(p), pd.Series(p, index=[4, 3, 2, 1]), 1), ValueError, "different indexes"),
    ("fractal_strength, a missing Float64 value", lambda p, w, t, r: tm.fractal_strength(pd.Series([1.0, None, 2.0], dtype="Float64", index=[7, 8, 9]), p[:3], 1), ValueError, r"high \(Float64\) has no value in row 8"),
    ("native fractal_strength, strided", lambda p, w, t, r: _native.fractal_strength(p[::2], p[::2], 1), ValueError, "contiguous"),
    ("native check_level, float32", lambda p, w, t, r: _native.check_level(1.0, 1.0, p.astype(np.float32)), TypeError, "float64"),
    ("native hlop, a list", lambda p, w, t, r: _native.hlop([1.0], w, None, 0.1, 1), TypeError, ""),
    ("native levels, no bars", lambda p, w, t, r: _native.analyse_arrays(np.empty(0, np.int64), *[np.empty(0)] * 5, 2, None, 1, 11, True), ValueError, "no bars"),
    ("native resize, int16 weights", lambda p, w, t, r: _native.resize(11, w.astype(np.int16)), TypeError, "int32"),
]


@pytest.mark.parametrize("what, call, error, words", CASES, ids=[case[0] for case in CASES])
def test_bad_input_raises_and_writes_nothing(what, call, error, words):
    prices, weights, tags, records = arrays()
    before = [a.copy() for a in (prices, weights, tags, records)]
    with pytest.raises(error, match=words):
        call(prices, weights, tags, records)
    for a, b in zip((prices, weights, tags, records), before):
        assert a.tobytes() == b.tobytes(), what


def good_bars(n=30):
    rng = np.random.default_rng(3)
    close = 100 + np.cumsum(rng.normal(size=n))
    return pd.DataFrame(
        {"open": close, "high": close + 1, "low": close - 1, "close": close},
        index=pd.date_range("2020-01-01", periods=n, freq="D"),
    )


def with_value(column, row, value):
    frame = good_bars()
    frame.iloc[row, frame.columns.get_loc(column)] = value
    return frame


def swapped_dates():
    frame = good_bars()
    index = frame.index.to_list()
    index[5], index[6] = index[6], index[5]
    frame.index = pd.DatetimeIndex(index)
    return frame


BAD_BARS = [
    ("no close column", lambda: good_bars().drop(columns="close"), {}, ValueError, "has no column named close"),
    ("empty", lambda: good_bars().iloc[:0], {}, ValueError, "no bars"),
    ("NaN close", lambda: with_value("close", 4, np.nan), {}, ValueError, 'close "nan" is not a finite'),
    ("infinite high", lambda: with_value("high", 4, np.inf), {}, ValueError, 'high "inf" is not a finite'),
    ("high below low", lambda: with_value("high", 7, 1.0), {}, ValueError, "is below low"),
    ("open above high", lambda: with_value("open", 7, 1e9), {}, ValueError, "open 1000000000 is above high"),
    ("close below low", lambda: with_value("close", 2, -5.0), {}, ValueError, "close -5 is below low"),
    ("negative volume", lambda: good_bars().assign(volume=-1.0), {}, ValueError, "volume -1 is negative"),
    ("a range beyond float64", lambda: good_bars().assign(high=1.7e308, low=-1.7e308, open=0.0, close=0.0), {},
     ValueError, "range high - low"),
    ("dates out of order", swapped_dates, {}, ValueError, "comes before"),
    ("a repeated date", lambda: good_bars().set_axis(pd.DatetimeIndex(["2020-01-01"] * 30)), {}, ValueError, "repeats"),
    ("a date past 2038", lambda: good_bars().set_axis(pd.date_range("2038-01-01", periods=30, freq="D")), {}, ValueError, "2038-01-19"),
    ("text prices", lambda: good_bars().astype({"open": str}), {}, TypeError, "real numbers"),
    ("a list, not a DataFrame", lambda: [1, 2, 3], {}, TypeError, "DataFrame"),
    ("depth 0", good_bars, {"depth": 0}, ValueError, "depth"),
    ("mode 3", good_bars, {"mode": 3}, ValueError, "mode"),
    ("span 0", good_bars, {"span": 0}, ValueError, "span"),
    ("negative tolerance", good_bars, {"tolerance": -1.0}, ValueError, "tolerance"),
    ("NaN tolerance", good_bars, {"tolerance": float("nan")}, ValueError, "tolerance"),
    ("a file that is not there", lambda: "/nonexistent/bars.csv", {}, FileNotFoundError, "No such file"),
]


@pytest.mark.parametrize("what, bars, options, error, words", BAD_BARS, ids=[case[0] for case in BAD_BARS])
def test_bad_bars_raise(what, bars, options, error, words):
    frame = bars()
    before = frame.copy() if isinstance(frame, pd.DataFrame) else None
    with pytest.raises(error, match=words):
        tm.levels(frame, **options)
    with pytest.raises(error, match=words):
        tm.screen({"XYZ": frame}, **options)
    if before is not None:
        pd.testing.assert_frame_equal(frame, before)


def two_symbols_with(second):
    """Bars of symbol A and of `second` (a missing value, say) in a (symbol, date) MultiIndex."""
    return pd.concat({"A": good_bars(), second: good_bars()}, names=["symbol", "date"])


def text_dates(first, name=None):
    """good_bars() with an index of text dates whose first is `first`."""
    frame = good_bars()
    return frame.set_axis(pd.Index([first] + list(frame.index.strftime("%Y-%m-%d"))[1:], name=name))


# Errors as Python and pandas give them: (what, call(folder), exception, words,
# errno of an OSError or None). Each failed before these were mended.
PYTHON_SHAPED = [
    ("levels, a missing file", lambda d: tm.levels(d / "gone.csv"), FileNotFoundError, "No such file", 2),
    ("read_bars, a missing file", lambda d: tm.read_bars(str(d / "gone.csv")), FileNotFoundError, "No such file", 2),
    ("screen, a missing file", lambda d: tm.screen({"G": d / "gone.csv"}), FileNotFoundError, "symbol 'G'", 2),
    ("levels, a folder", lambda d: tm.levels(d), IsADirectoryError, "Is a directory", 21),
    ("read_bars, a folder as bytes", lambda d: tm.read_bars(bytes(d)), IsADirectoryError, "Is a directory", 21),
    # The reader would stop at the NUL and read the file named before it.
    ("levels, a NUL byte in the path", lambda d: tm.levels(f"{SAMPLE}\0.gz"), ValueError, "embedded null byte", None),
    ("read_bars, a NUL byte in bytes", lambda d: tm.read_bars(bytes(SAMPLE) + b"\0"), ValueError, "embedded null byte",
     None),
    ("screen, a missing symbol in the index", lambda d: tm.screen(two_symbols_with(np.nan)), ValueError,
     r"screen: index level 'symbol' has no symbol in row 30 \(\(nan, Timestamp\('2020-01-01", None),
    ("screen keeping errors, a missing symbol", lambda d: tm.screen(two_symbols_with(None), errors="keep"), ValueError,
     "screen: index level 'symbol' has no symbol in row 30", None),
    # A missing symbol is another symbol, never more bars of A.
    ("levels, symbols A and NaN", lambda d: tm.levels(two_symbols_with(np.nan)), ValueError,
     "level 'symbol' of 2 values", None),
    ("levels, tolerance True", lambda d: tm.levels(good_bars(), tolerance=True), TypeError, "got bool", None),
    ("screen, tolerance True", lambda d: tm.screen({"A": good_bars()}, tolerance=True), TypeError, "got bool", None),
    ("hlop, tolerance True", lambda d: tm.hlop([1.0, 1.5], [1, 1], True), TypeError, "got bool", None),
    ("check_level, tolerance True", lambda d: tm.check_level(1.0, True, [1.0]), TypeError, "got bool", None),
    ("native settings, tolerance True", lambda d: _native.check_settings(2, True, 1, 11), TypeError, "got bool", None),
    # A text index with a gap is still dates: the gap is named, not the dates dropped.
    ("levels, text index whose first date is missing", lambda d: tm.levels(text_dates(None)), ValueError,
     r"levels: a date is missing \(row 0\)", None),
    ("levels, text date index whose first is NaN", lambda d: tm.levels(text_dates(np.nan, "date")), ValueError,
     r"a date is missing \(row 0\)", None),
    ("levels, text date column whose first is missing", lambda d: tm.levels(text_dates(None).reset_index()
     .rename(columns={"index": "date"})), ValueError, r"a date is missing \(row 0\)", None),
]


@pytest.mark.parametrize("what, call, error, words, number", PYTHON_SHAPED, ids=[case[0] for case in PYTHON_SHAPED])
def test_errors_are_shaped_as_python_gives_them(tmp_path, what, call, error, words, number):
    with pytest.raises(error, match=words) as raised:
        call(tmp_path)
    assert type(raised.value) is error
    if number is not None:
        assert raised.value.errno == number and os.fsdecode(raised.value.filename).startswith(str(tmp_path))


def not_utf8_field(folder):
    path = folder / "latin1.csv"
    path.write_bytes(b"date,open,high,low,close\n2020-01-01,1,2,0.5,1\n2020-01-02,1,2,0.5,caf\xe9\n")
    return str(path)


def no_memory(monkeypatch):
    def refuse(paths, *args, **kwargs):
        # As the extension tells a file it had no memory for: a row of
        # nothing, and why.
        return {"fields": {}, "fault": [(True, f"{os.fsdecode(path)}: {_native.NO_MEMORY}") for path in paths]}

    monkeypatch.setattr(_native, "screen_files", refuse)
    from conftest import SAMPLE

    return str(SAMPLE)


# (what, the symbol's bars from (folder, monkeypatch), exception in a screen
# that raises, words of the reason in a screen that keeps it)
FAILED_SYMBOLS = [
    ("bad bars", lambda folder, patch: with_value("high", 3, np.nan), ValueError, "high .?nan"),
    ("a file that is not there", lambda folder, patch: "/nonexistent.csv", FileNotFoundError, "No such file"),
    ("text prices (TypeError)", lambda folder, patch: good_bars().astype({"close": str}), TypeError, "real numbers"),
    ("not a DataFrame (TypeError)", lambda folder, patch: [1, 2, 3], TypeError, "DataFrame or a CSV path"),
    ("a field that is not UTF-8", lambda folder, patch: not_utf8_field(folder), ValueError, "latin1.csv:3: close .*caf"),
    # The name's byte that is not UTF-8 kept, escaped as Python shows it.
    ("a missing file whose name is not UTF-8", lambda folder, patch: os.fsdecode(bytes(folder) + b"/gon\xe9.csv"),
     FileNotFoundError, r"No such file or directory: .*gon\\udce9\.csv"),
    ("not enough memory", lambda folder, patch: no_memory(patch), MemoryError, _native.NO_MEMORY),
    ("a symbol level", lambda folder, patch: pd.concat({"A": good_bars(), "B": good_bars()}, names=["symbol"]),
     ValueError, "level 'symbol' of 2 values"),
]


@pytest.mark.parametrize("what, bars, error, words", FAILED_SYMBOLS, ids=[case[0] for case in FAILED_SYMBOLS])
def test_a_failed_symbol_raises_naming_it_or_keeps_its_reason(tmp_path, monkeypatch, what, bars, error, words):
    bad = bars(tmp_path, monkeypatch)
    data = {"GOOD": good_bars(), "BAD": bad, "ALSO": good_bars(40)}
    with pytest.raises(error, match="screen: symbol 'BAD': .*" + words):
        tm.screen(data)
    kept = tm.screen(data, errors="keep")
    assert kept.loc["BAD", "error"] and pd.Series(kept.loc["BAD", "error"]).str.contains(words).all()
    assert kept["error"].isna().tolist() == [True, False, True]
    assert kept["file"].tolist() == [None, bad if isinstance(bad, str) else None, None]
    # The columns keep their kinds, and the failed row has no values.
    assert kept.dtypes["bars"] == "Int64" and kept.dtypes["on_level"] == "boolean"
    assert kept.dtypes["level_weight"] == "Int64" and kept.dtypes["last_date"] == "datetime64[ns]"
    assert kept["bars"].tolist() == [30, pd.NA, 40] and kept.loc["BAD", "on_level"] is pd.NA
    assert kept.loc["BAD", ["last_close", "level", "distance"]].isna().all()
    pd.testing.assert_frame_equal(kept[kept.on_level], kept.loc[[s for s in ("GOOD", "ALSO") if kept.loc[s, "on_level"]]])
    good = tm.screen({"GOOD": good_bars(), "ALSO": good_bars(40)})
    assert good.dtypes["bars"] == "int64" and good.dtypes["on_level"] == "bool"
    pd.testing.assert_frame_equal(kept.drop(index="BAD", columns="error"), good, check_dtype=False)


def test_screen_checks_its_options_once_before_any_work(monkeypatch):
    calls = []
    monkeypatch.setattr(_native, "screen_files", lambda *args: calls.append(args))
    data = {f"S{i}": "/any/file.csv" for i in range(5)}
    for options, error, words in [
        ({"depth": -1}, ValueError, "screen: depth must be a whole number from 1 to 100000, got -1"),
        ({"mode": 3}, ValueError, "mode"),
        ({"tolerance": "0.5"}, TypeError, "tolerance"),
        ({"span": 0}, ValueError, "span"),
        ({"batch_size": 0}, ValueError, "batch_size"),
        ({"errors": "ignore"}, ValueError, "errors"),
        ({"client": "tcp://127.0.0.1:8786"}, TypeError, "client must be a dask.distributed Client, got str"),
        ({"walk": "yes"}, TypeError, "walk must be True or False, got str"),
        ({"walk": True, "window": 0}, ValueError, "window must be from 1"),
        ({"window": 10}, ValueError, "window is the walk's: pass walk=True with it"),
    ]:
        for errors in ("raise", "keep"):
            with pytest.raises(error, match=words):
                tm.screen(data, **{"errors": errors, **options})
    assert calls == []


# Bad bars and bad series, each as rows (date, open, high, low, close,
# volume) with the reader's message: a CSV file of them and a DataFrame of
# them get the same words (the numbers written as the shortest text that reads
# back, as a DataFrame's are shown).
SAME_RULES = [
    ("high below low", [("2020-01-02", 10, 12, 9, 11, 1), ("2020-01-03", 10, 9, 9.5, 9.2, 1)],
     1, "high 9 is below low 9.5"),
    ("open below low", [("2020-01-02", 8.5, 12, 9, 11, 1)], 0, "open 8.5 is below low 9"),
    ("open above high", [("2020-01-02", 12.5, 12, 9, 11, 1)], 0, "open 12.5 is above high 12"),
    ("close below low", [("2020-01-02", 10, 12, 9, -11, 1)], 0, "close -11 is below low 9"),
    ("close above high", [("2020-01-02", 10, 12, 9, 13, 1)], 0, "close 13 is above high 12"),
    ("negative volume", [("2020-01-02", 10, 12, 9, 11, -5)], 0, "volume -5 is negative"),
    ("a range beyond a double", [("2020-01-02", 1, 1e308, -1e308, 1, 0)], 0,
     "the range high - low (1e+308 - -1e+308) is beyond the range of a double"),
    ("NaN open", [("2020-01-02", 10, 12, 9, 11, 1), ("2020-01-03", "nan", 12, 9, 11, 1)], 1,
     'open "nan" is not a finite number'),
    ("infinite low", [("2020-01-02", 10, 12, "-inf", 11, 1)], 0, 'low "-inf" is not a finite number'),
    ("a date past 2038", [("2038-01-18", 10, 12, 9, 11, 1), ("2038-01-20", 10, 12, 9, 11, 1)], 1,
     "date 2038-01-20 is outside 1901-12-13 20:45:52 .. 2038-01-19 03:14:07 UTC, the range of a bar record's "
     "time (int32 seconds since 1970)"),
    ("dates out of order", [("2020-01-03", 10, 12, 9, 11, 1), ("2020-01-02", 10, 12, 9, 11, 1),
                            ("2020-01-06", 10, 12, 9, 11, 1)], 1,
     "date 2020-01-02 comes before 2020-01-03, the bar before it: the bars run oldest first (by their first and "
     "last dates), one bar per date"),
    ("newest first, one out of place", [("2020-01-08", 10, 12, 9, 11, 1), ("2020-01-06", 10, 12, 9, 11, 1),
                                        ("2020-01-07", 10, 12, 9, 11, 1), ("2020-01-02", 10, 12, 9, 11, 1)], 2,
     "date 2020-01-07 comes after 2020-01-06, the bar before it: the bars run newest first (by their first and "
     "last dates), one bar per date"),
    # With the same prices a file's repeat is dropped (two downloads that
    # overlap); with others it is refused, as a frame's repeat always is.
    ("a repeated date", [("2020-01-02", 10, 12, 9, 11, 1), ("2020-01-02", 10, 12, 9, 11.5, 1)], 1,
     "date 2020-01-02 repeats the date of the bar before it: one bar per date"),
    ("times out of order", [("2020-01-02 10:00", 10, 12, 9, 11, 1), ("2020-01-02 09:59:59", 10, 12, 9, 11, 1),
                            ("2020-01-02 11:00", 10, 12, 9, 11, 1)], 1,
     "date 2020-01-02 09:59:59 comes before 2020-01-02 10:00, the bar before it: the bars run oldest first (by "
     "their first and last dates), one bar per date"),
    # A bad bar is told before a bad order, wherever it is.
    ("a bad bar after an order fault", [("2020-01-03", 10, 12, 9, 11, 1), ("2020-01-02", 10, 12, 9, 11, 1),
                                        ("2020-01-06", 10, 12, 13, 11, 1)], 2, "high 12 is below low 13"),
]


@pytest.mark.parametrize("what, rows, row, message", SAME_RULES, ids=[case[0] for case in SAME_RULES])
def test_a_file_and_a_frame_break_the_same_rules_in_the_same_words(tmp_path, what, rows, row, message):
    text = "date,open,high,low,close,volume\n" + "".join(",".join(map(str, r)) + "\n" for r in rows)
    path = tmp_path / "bars.csv"
    path.write_text(text)
    # The same file as a download, compressed.
    zipped = tmp_path / "bars.csv.gz"
    zipped.write_bytes(gzip.compress(text.encode()))
    for read in (tm.read_bars, tm.levels):
        for file in (path, zipped):
            with pytest.raises(ValueError) as error:
                read(file)
            assert str(error.value) == f"{file}:{row + 2}: {message}"
    frame = pd.DataFrame(
        {name: [float(r[k]) for r in rows] for k, name in enumerate(("open", "high", "low", "close", "volume"), 1)},
        index=pd.DatetimeIndex([r[0] for r in rows], name="date"),
    )
    with pytest.raises(ValueError) as error:
        tm.levels(frame)
    assert str(error.value) == f"levels: row {frame.index[row]!r}: {message}"
    # The extension's own check, as the package calls it.
    time = frame.index.values.astype("datetime64[s]").astype(np.int64)
    check = _native.check_bars(time, *(frame[name].to_numpy() for name in ("open", "high", "low", "close", "volume")))
    assert check["fault"] == (row, message)


def test_a_volume_a_file_cannot_read_keeps_its_bar_but_a_frame_must_hold_numbers(tmp_path):
    # The volume is not analysed: a file's "inf", "-" or "n/a" is an unknown
    # volume (0) rather than a lost file; a frame's volume is already a
    # number, and an infinite one is refused.
    path = tmp_path / "bars.csv"
    path.write_text("date,open,high,low,close,volume\n2020-01-02,10,12,9,11,inf\n2020-01-03,10,12,9,11,-\n")
    bars = tm.read_bars(path)
    assert len(bars) == 2 and (bars["volume"] == 0).all()
    frame = good_bars().assign(volume=np.inf)
    with pytest.raises(ValueError, match='volume "inf" is not a finite number'):
        tm.levels(frame)


def test_screen_names_the_bad_symbol_and_wants_a_mapping():
    with pytest.raises(ValueError, match="symbol 'BAD'.*high"):
        tm.screen({"GOOD": good_bars(), "BAD": with_value("high", 3, np.nan)})
    with pytest.raises(TypeError, match="map symbols"):
        tm.screen([good_bars()])


def test_a_file_name_that_is_not_utf8_is_read(tmp_path):
    from conftest import SAMPLE

    name = tmp_path / os.fsdecode(b"soci\xe9t\xe9.csv")
    name.write_bytes(SAMPLE.read_bytes())
    row = tm.screen({"S": name, "T": str(name)})
    assert row["bars"].tolist() == [1047, 1047] and row["file"].tolist() == [str(name)] * 2
    assert len(tm.levels(name)) == len(tm.levels(SAMPLE)) and len(tm.read_bars(os.fsencode(name))) == 1047


# Bars too many for the memory left: the address space is capped a little
# above what the process holds once the DataFrame is built, so that the
# analysis cannot allocate them.
NO_MEMORY_SCRIPT = """
import resource
import numpy as np, pandas as pd
import tidemark as tm
close = np.full(5_000_000, 10.0)
bars = pd.DataFrame({"open": close, "high": close + 1, "low": close - 1, "close": close})
with open("/proc/self/status") as status:
    size = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))
resource.setrlimit(resource.RLIMIT_AS, (size + 150 * 2**20,) * 2)
rows = tm.screen({"BIG": bars, "SMALL": bars.iloc[:100]}, errors="keep")
print(rows.loc["BIG", "error"], "|", rows.loc["SMALL", "bars"], "|", rows.loc["SMALL", "error"])
try:
    tm.levels(bars)
except MemoryError as error:
    print("MemoryError:", error)
"""


def test_bars_too_many_for_memory_are_a_failed_symbol_not_the_end_of_the_screen():
    import subprocess
    import sys

    # One malloc arena, so that the screen's thread does not reserve its own.
    environment = {**os.environ, "MALLOC_ARENA_MAX": "1"}
    done = subprocess.run([sys.executable, "-c", NO_MEMORY_SCRIPT], capture_output=True, text=True, env=environment)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == [
        f"{_native.NO_MEMORY} | 100 | None",
        f"MemoryError: {_native.NO_MEMORY}",
    ]
