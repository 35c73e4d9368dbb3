"""Every public function against the native library called through ctypes, on
random inputs, bit for bit (NaN and infinities included)."""
import math
import time

import numpy as np
import pandas as pd
import pytest
from hypothesis import given, strategies as st

import tidemark as tm
from conftest import same_bits

INT32 = st.integers(-(2**31), 2**31 - 1)
SPECIAL = [0.0, -0.0, math.nan, math.inf, -math.inf, 5e-324, 1.7976931348623157e308]
# Prices from a small pool repeat, so ties and equal gaps are common; any
# double (NaN and infinities included) turns up as well.
PRICE = st.one_of(
    st.sampled_from([1.0, 1.5, 2.0, 2.5, 3.0, 1.25, 100.0]),
    st.sampled_from(SPECIAL),
    st.floats(-1e6, 1e6),
    st.floats(allow_nan=True, allow_infinity=True),
)
TOLERANCE = st.one_of(st.sampled_from([0.0, -0.0, 0.5, 1.0, -1.0] + SPECIAL), st.floats())
WEIGHT = st.one_of(st.integers(-3, 9), st.sampled_from([0, 2**31 - 1, -(2**31)]), INT32)
MODE = st.one_of(st.integers(0, 2), st.sampled_from([-1, 3, 7, 256, 2**31 - 1, -(2**31)]))


@st.composite
def level_sets(draw, max_size=60):
    n = draw(st.integers(0, max_size))
    prices = np.array(draw(st.lists(PRICE, min_size=n, max_size=n)), dtype=np.float64)
    weights = np.array(draw(st.lists(WEIGHT, min_size=n, max_size=n)), dtype=np.int32)
    tags = np.array(draw(st.lists(INT32, min_size=n, max_size=n)), dtype=np.int32)
    return prices, weights, tags


@given(level_sets(), PRICE, TOLERANCE)
def test_check_level_matches_library(native, levels, price, tolerance):
    prices = levels[0]
    before = prices.copy()
    assert tm.check_level(price, tolerance, prices) == native.check_level(price, tolerance, prices)
    assert same_bits(prices, before)


@given(level_sets(), TOLERANCE, MODE, st.booleans(), st.booleans())
def test_hlop_matches_library(native, levels, tolerance, mode, inplace, with_tags):
    prices, weights, tags = levels
    want_p, want_w, want_t = prices.copy(), weights.copy(), tags.copy()
    native.hlop(want_p, want_w, want_t, tolerance, mode)
    given_p, given_w = prices.copy(), weights.copy()
    # Mode 1 through the default, so that a wrong default cannot pass.
    modes = () if mode == 1 else (mode,)
    got_p, got_w = tm.hlop(given_p, given_w, tolerance, *modes, tags=tags if with_tags else None, inplace=inplace)
    assert same_bits(got_p, want_p) and same_bits(got_w, want_w)
    assert same_bits(tags, want_t)
    if inplace:
        assert got_p is given_p and got_w is given_w
    else:
        assert same_bits(given_p, prices) and same_bits(given_w, weights)
        # Series in, Series out, with the same bits.
        series_p, series_w = tm.hlop(pd.Series(prices, name="p", index=np.arange(len(prices))[::-1]),
                                     pd.Series(weights), tolerance, mode, tags if with_tags else None)
        assert series_p.name == "p" and series_p.index.equals(pd.RangeIndex(len(prices)))
        assert same_bits(series_p.to_numpy(), want_p) and same_bits(series_w.to_numpy(), want_w)


@given(st.lists(WEIGHT, max_size=60), st.one_of(st.integers(-20, 20), INT32), st.booleans())
def test_resize_matches_library(native, weights, span, inplace):
    weights = np.array(weights, dtype=np.int32)
    want = weights.copy()
    native.resize(span, want)
    given_w = weights.copy()
    got = tm.resize(span, given_w, inplace=inplace)
    assert same_bits(got, want)
    assert (got is given_w) == inplace
    labelled = pd.Series(weights, index=[f"L{i}" for i in range(len(weights))], name="w")
    got_series = tm.resize(span, labelled)
    assert got_series.index.equals(labelled.index) and got_series.name == "w"
    assert same_bits(got_series.to_numpy(), want)


@st.composite
def bar_series(draw, max_size=40):
    n = draw(st.integers(1, max_size))
    value = st.one_of(st.sampled_from([1.0, 2.0, 3.0, -0.0, 0.0, math.nan, math.inf, -math.inf]), st.floats())
    high = np.array(draw(st.lists(value, min_size=n, max_size=n)), dtype=np.float64)
    low = np.array(draw(st.lists(value, min_size=n, max_size=n)), dtype=np.float64)
    return high, low


def records_of(high, low, time_=0):
    records = np.zeros(len(high), dtype=tm.BAR_RECORD)
    records["high"], records["low"], records["time"] = high, low, time_
    return records


@given(bar_series(), st.data())
def test_fractal_exports_match_library(native, series, data):
    high, low = series
    records = records_of(high, low, data.draw(INT32))
    depth = data.draw(st.integers(0, (len(high) - 1) // 2))
    shift = data.draw(st.integers(depth, len(high) - 1 - depth))
    before = records.tobytes()
    assert tm.up_fractal(records, depth, shift) == native.up_fractal(records, depth, shift)
    assert tm.down_fractal(records, depth, shift) == native.down_fractal(records, depth, shift)
    assert records.tobytes() == before


@given(bar_series(max_size=120), st.integers(0, 70))
def test_fractal_strength_equals_a_loop_over_the_exports(native, series, depth):
    high, low = series
    records = records_of(high, low)
    n = len(high)
    want_up = np.zeros(n, dtype=np.int32)
    want_down = np.zeros(n, dtype=np.int32)
    for shift in range(depth, n - depth):
        want_up[shift] = native.up_fractal(records, depth, shift)
        want_down[shift] = native.down_fractal(records, depth, shift)
    up, down = tm.fractal_strength(high, low, depth)
    assert same_bits(up, want_up) and same_bits(down, want_down)
    # Reversing the series (newest first) gives every bar the same strength.
    up_r, down_r = tm.fractal_strength(high[::-1], low[::-1], depth)
    assert same_bits(up_r[::-1].copy(), want_up) and same_bits(down_r[::-1].copy(), want_down)


def test_fractal_strength_gives_pandas_for_pandas():
    rng = np.random.default_rng(3)
    walk = np.cumsum(rng.normal(size=200))
    dates = pd.date_range("2020-01-01", periods=200, freq="D")[::-1]  # newest first
    high, low = pd.Series(walk + 1, index=dates), pd.Series(walk - 1, index=dates)
    up, down = tm.fractal_strength(high.to_numpy(), low.to_numpy(), 3)
    for h, l in ((high, low), (high, low.to_numpy()), (high.to_numpy(), low), (high.astype(np.float32), low)):
        frame = tm.fractal_strength(h, l, 3)
        assert isinstance(frame, pd.DataFrame) and list(frame.columns) == ["up", "down"]
        assert frame.index.equals(dates) and (frame.dtypes == "Int32").all()
        # The bars too near either end have no value; the rest, the arrays' bits.
        assert frame.isna().to_numpy().tolist() == [[i < 3 or i >= 197] * 2 for i in range(200)]
        for column, values in (("up", up), ("down", down)):
            assert same_bits(frame[column].to_numpy(dtype=np.int32, na_value=0), values)


@given(bar_series(max_size=60), st.integers(0, 30))
def test_confirmed_strengths_are_what_the_bars_so_far_tell(series, depth):
    # Each bar's confirmed strength is the one its bar - depth gets, and the
    # same when the later bars do not exist yet: no look-ahead.
    high, low = series
    up, down = tm.fractal_strength(high, low, depth)
    confirmed = tm.fractal_strength(high, low, depth, align="confirmed")
    for t in range(len(high)):
        so_far = tm.fractal_strength(high[:t + 1], low[:t + 1], depth, align="confirmed")
        for values, now, centred in zip(confirmed, so_far, (up, down)):
            assert values[t] == now[t] == (centred[t - depth] if t >= depth else 0), t
    assert all(values.dtype == np.int32 and len(values) == len(high) for values in confirmed)


# (bars, depth, align, the rows of a pandas result without a value)
UNJUDGED = [
    (9, 2, "bar", [0, 1, 7, 8]),
    (9, 2, "confirmed", [0, 1, 2, 3]),
    (5, 2, "bar", [0, 1, 3, 4]),
    (5, 2, "confirmed", [0, 1, 2, 3]),
    (4, 2, "bar", [0, 1, 2, 3]),
    (4, 2, "confirmed", [0, 1, 2, 3]),
    (1, 3, "confirmed", [0]),
    (3, 0, "bar", []),
    (3, 0, "confirmed", []),
    (0, 2, "confirmed", []),
]


@pytest.mark.parametrize("n, depth, align, missing", UNJUDGED, ids=[f"{n} bars, depth {d}, {a}" for n, d, a, _ in UNJUDGED])
def test_pandas_strengths_mark_the_bars_that_cannot_be_judged(n, depth, align, missing):
    high = pd.Series(np.arange(n, dtype=float) % 3 + 2, index=pd.date_range("2021-01-01", periods=n))
    frame = tm.fractal_strength(high, high - 1, depth, align=align)
    arrays = tm.fractal_strength(high.to_numpy(), high.to_numpy() - 1, depth, align=align)
    assert [i for i in range(n) if frame["up"].isna().iloc[i]] == missing
    assert frame["down"].isna().tolist() == frame["up"].isna().tolist()
    for column, values in zip(("up", "down"), arrays):
        # numpy keeps the library's 0 where pandas has no value.
        assert not values[missing].any()
        assert frame[column].fillna(0).astype(np.int32).tolist() == values.tolist()


def test_fractal_strength_refuses_another_alignment():
    with pytest.raises(ValueError, match="align must be 'bar' or 'confirmed'"):
        tm.fractal_strength([1.0, 2.0, 1.0], [0.0, 1.0, 0.0], 1, align="centre")  # type: ignore[arg-type]


def test_fractal_strength_on_long_random_walks(native):
    # Long enough for the two-bars-at-a-time path and every depth it
    # specialises, with runs far longer than the early-exit step.
    rng = np.random.default_rng(7)
    walk = np.cumsum(rng.normal(size=5001))
    high, low = walk + rng.random(walk.size), walk - rng.random(walk.size)
    high[rng.integers(0, walk.size, 20)] = np.nan
    low[rng.integers(0, walk.size, 20)] = np.nan
    records = records_of(high, low)
    for depth in (1, 2, 3, 4, 5, 9, 40):
        up, down = tm.fractal_strength(high, low, depth)
        for shift in range(depth, walk.size - depth):
            assert up[shift] == native.up_fractal(records, depth, shift), (depth, shift)
            assert down[shift] == native.down_fractal(records, depth, shift), (depth, shift)
        assert not up[:depth].any() and not up[walk.size - depth:].any()
        assert up.max() == depth or depth > 9


def test_documented_examples():
    # The README's examples, through the package.
    prices, weights = tm.hlop([3.0, 1.0, 2.0], [1, 2, 3], 0.0, 1, tags=[7, 8, 9])
    assert prices.tolist() == [1.0, 2.0, 3.0] and weights.tolist() == [2, 3, 1]
    prices, weights = tm.hlop([1.0, 1.5, 2.0, 9.0], [1, 2, 5, 1], 0.5, 1)
    assert prices.tolist() == [2.0, 9.0, 0.0, 0.0] and weights.tolist() == [8, 1, 0, 0]
    assert tm.resize(5, [-25, 5, 15]).tolist() == [-2, 0, 1]
    assert tm.check_level(1.0012, 0.0020, [1.0, 1.001]) == 0
    records = records_of(np.array([1, 2, 3, 9, 4, 8, 10.0]), np.array([5, 4, 3, 1, 2, 1, 0.5]))
    assert tm.up_fractal(records, 3, 3) == 2 and tm.down_fractal(records, 3, 3) == 2
    assert tm.up_fractal(records, 1, 3) == 1 and tm.up_fractal(records, 0, 3) == 0


def test_stopwatch():
    with tm.Stopwatch() as watch:
        first = watch.read()
        time.sleep(0.01)
        second = watch.elapsed
        assert not watch.closed
    assert 0 <= first <= second and second >= 0.009
    final = watch.elapsed
    assert watch.closed and final >= second and watch.close() == final
    with pytest.raises(ValueError, match="closed"):
        watch.read()
    with pytest.raises(ValueError, match="closed"):
        watch.start()
    # Unstarted, it measures from creation; dropped unclosed, it is freed.
    assert tm.Stopwatch().read() >= 0
    watch = tm.Stopwatch()
    watch.start()
    assert "running" in repr(watch)
