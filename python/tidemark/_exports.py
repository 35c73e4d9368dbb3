"""The exports, one call each, on numpy arrays (and pandas Series), and
fractal_strength, the library's own routine over whole series."""
from __future__ import annotations

from typing import Any, Literal, Optional, Tuple, Union, overload

import numpy as np
import numpy.typing as npt
import pandas as pd

from ._args import _floats, _in_place, _int32, _ints, _real
from ._library import _native

#: The host's price-bar record: 44 bytes, packed, little-endian fields at
#: offsets 0 (time), 4 (open), 12 (low), 20 (high), 28 (close), 36 (volume).
BAR_RECORD: np.dtype = np.dtype(
    [
        ("time", "<i4"),
        ("open", "<f8"),
        ("low", "<f8"),
        ("high", "<f8"),
        ("close", "<f8"),
        ("volume", "<f8"),
    ]
)
assert BAR_RECORD.itemsize == 44


def check_level(price: float, tolerance: float, prices: npt.ArrayLike) -> int:
    """Index of the first level within ``tolerance`` of ``price``, or -1.

    A level matches unless ``abs(level - price) > tolerance``: a distance equal
    to the tolerance matches, and so does any NaN in the comparison (a NaN
    price or tolerance gives 0 for a non-empty array). The first match wins,
    even when a later level is nearer. ``prices`` is only read.
    """
    return _native.check_level(
        _real("check_level", "price", price),
        _real("check_level", "tolerance", tolerance),
        _floats("check_level", "prices", prices),
    )


# Series come first: a Series is array-like too. Without pandas' stubs a
# Series is Any to mypy, which then finds the later overloads unreachable.
@overload
def hlop(prices: pd.Series, weights: Union[pd.Series, npt.ArrayLike], tolerance: float, mode: int = ...,
         tags: Optional[npt.ArrayLike] = ..., *, inplace: Literal[False] = ...) -> Tuple[pd.Series, pd.Series]: ...
@overload
def hlop(prices: npt.ArrayLike, weights: pd.Series, tolerance: float,  # type: ignore[misc]
         mode: int = ..., tags: Optional[npt.ArrayLike] = ..., *,
         inplace: Literal[False] = ...) -> Tuple[pd.Series, pd.Series]: ...
@overload
def hlop(prices: npt.ArrayLike, weights: npt.ArrayLike, tolerance: float, mode: int = ...,
         tags: Optional[npt.ArrayLike] = ..., *, inplace: bool = ...) -> Tuple[np.ndarray, np.ndarray]: ...


def hlop(
    prices: Any,
    weights: Any,
    tolerance: float,
    mode: int = 1,
    tags: Optional[npt.ArrayLike] = None,
    *,
    inplace: bool = False,
) -> Union[Tuple[np.ndarray, np.ndarray], Tuple[pd.Series, pd.Series]]:
    """Merge close price levels; returns ``(prices, weights)``.

    >>> prices, weights = hlop([1.0, 1.05, 2.0], [2, 1, 1], tolerance=0.1)
    >>> prices, weights    # 1.05 merged into 1.0, the heavier; the rest zeroed
    (array([1., 2., 0.]), array([3, 1, 0], dtype=int32))

    The levels are sorted by price (stably; a NaN price stays in its place
    and the runs between NaNs sort on their own), then the closest adjacent
    pair (the lowest on equal gaps; a NaN gap first) is merged while its gap
    is at most ``tolerance`` (a NaN gap or tolerance always merges), until
    one level is left. The heavier level survives,
    the upper one on equal weights, and by ``mode``:

    * 0 (and any other value): the survivor keeps its weight;
    * 1: the weights add (saturating at the int32 limits);
    * 2: the weights add and the price becomes the weighted mean
      ``(wL*pL + wU*pU) / (wL + wU)`` (a zero sum keeps the survivor's price).

    Survivors come first, in the list's order, and the rest of both arrays is
    zeroed. ``tags`` (int32, optional) ride along and are never written.

    By default new arrays are returned and the inputs are untouched. With
    ``inplace=True``, ``prices`` (float64) and ``weights`` (int32) must be
    writable, contiguous, one-dimensional numpy arrays; they are rewritten and
    returned. Series in (not in place) give two Series out, named as they
    were; their index counts positions, since the merge moves the levels
    (survivors first) and the labels would no longer name them. The exact
    rules: docs/exports.md, "Hlop" (linked from the project's README).

    Raises TypeError for values that are not real numbers (weights and tags:
    integers) or, in place, arrays of another dtype; ValueError for arrays
    that differ in length, values that would not convert exactly, or, in
    place, arrays that are read-only, not contiguous or share memory.
    """
    names = [values.name if isinstance(values, pd.Series) else None for values in (prices, weights)]
    series_in = not inplace and (isinstance(prices, pd.Series) or isinstance(weights, pd.Series))
    tolerance = _real("hlop", "tolerance", tolerance)
    mode = _int32("hlop", "mode", mode)
    if inplace:
        prices = _in_place("hlop", "prices", prices, np.float64)
        weights = _in_place("hlop", "weights", weights, np.int32)
    else:
        prices = _floats("hlop", "prices", prices).copy()
        weights = _ints("hlop", "weights", weights).copy()
    if tags is not None:
        tags = _ints("hlop", "tags", tags)
    _native.hlop(prices, weights, tags, tolerance, mode)
    if series_in:
        return pd.Series(prices, name=names[0]), pd.Series(weights, name=names[1])
    return prices, weights


@overload
def resize(span: int, weights: pd.Series, *, inplace: Literal[False] = ...) -> pd.Series: ...
@overload
def resize(span: int, weights: npt.ArrayLike, *, inplace: bool = ...) -> np.ndarray: ...


def resize(span: int, weights: Any, *, inplace: bool = False) -> Union[np.ndarray, pd.Series]:
    """Rescale integer weights by ``|span - 1| / |max - min // 10 - min|``.

    ``min // 10`` truncates toward zero; each product is truncated toward zero
    and held to the int32 limits; a zero denominator leaves the weights as
    they were. So with a smallest weight of 0 the largest becomes
    ``|span - 1|`` (or one less where the factor rounds short). Returns new
    weights, or rewrites ``weights`` (a writable contiguous int32 numpy array)
    with ``inplace=True``. A Series in (not in place) gives a Series on the
    same index.
    """
    span = _int32("resize", "span", span)
    labels = weights if isinstance(weights, pd.Series) and not inplace else None
    if inplace:
        weights = _in_place("resize", "weights", weights, np.int32)
    else:
        weights = _ints("resize", "weights", weights).copy()
    _native.resize(span, weights)
    if labels is not None:
        return pd.Series(weights, index=labels.index, name=labels.name)
    return weights


def _records(function: str, bars: Any) -> np.ndarray:
    if not isinstance(bars, np.ndarray):
        raise TypeError(f"{function}: bars must be a numpy array of BAR_RECORD, got {type(bars).__name__}")
    if bars.dtype != BAR_RECORD:
        raise TypeError(f"{function}: bars must have dtype tidemark.BAR_RECORD, got {bars.dtype}")
    return bars


def up_fractal(bars: np.ndarray, depth: int, shift: int) -> int:
    """Strength of ``bars[shift]`` as an up fractal, 0 ... ``depth``.

    The shorter of the two runs of neighbours (``shift - 1, shift - 2, ...`` and
    ``shift + 1, ...``, at most ``depth`` each) whose high is at most the
    centre's (``c >= high``; a NaN fails). ``bars`` is a contiguous array of
    ``BAR_RECORD`` (index 0 the newest bar, as a host lays them out; see
    ``bar_records``). ``bars[shift - depth]`` to ``bars[shift + depth]`` must
    exist (IndexError otherwise); depth 0 gives 0.
    """
    return _native.up_fractal(_records("up_fractal", bars), _int32("up_fractal", "depth", depth),
                              _int32("up_fractal", "shift", shift))


def down_fractal(bars: np.ndarray, depth: int, shift: int) -> int:
    """Strength of ``bars[shift]`` as a down fractal, 0 ... ``depth``.

    As ``up_fractal``, with neighbours that qualify unless the centre's low is
    above theirs (``not c > low``: a NaN qualifies).
    """
    return _native.down_fractal(_records("down_fractal", bars), _int32("down_fractal", "depth", depth),
                                _int32("down_fractal", "shift", shift))


#: Where fractal_strength puts a strength: on the fractal's own bar, or on
#: the bar that confirms it, depth bars later.
Align = Literal["bar", "confirmed"]


@overload
def fractal_strength(high: pd.Series, low: Union[pd.Series, npt.ArrayLike], depth: int = ...,
                     align: Align = ...) -> pd.DataFrame: ...
@overload
def fractal_strength(high: npt.ArrayLike, low: pd.Series,  # type: ignore[misc]
                     depth: int = ..., align: Align = ...) -> pd.DataFrame: ...
@overload
def fractal_strength(high: npt.ArrayLike, low: npt.ArrayLike,  # type: ignore[misc]
                     depth: int = ..., align: Align = ...) -> Tuple[np.ndarray, np.ndarray]: ...


def fractal_strength(
    high: Any, low: Any, depth: int = 2, align: Align = "bar"
) -> Union[Tuple[np.ndarray, np.ndarray], pd.DataFrame]:
    """Up and down fractal strengths of every bar.

    >>> high = [10.0, 11.0, 12.5, 11.5, 11.0, 12.0, 12.6, 12.0, 11.2]
    >>> low = [9.0, 9.8, 11.0, 10.2, 9.6, 10.5, 11.4, 10.9, 10.0]
    >>> up, down = fractal_strength(high, low, depth=2)
    >>> up                 # bar 2 tops two bars on each side; bar 6 as well
    array([0, 0, 2, 0, 0, 0, 2, 0, 0], dtype=int32)
    >>> down
    array([0, 0, 0, 0, 2, 0, 0, 0, 0], dtype=int32)
    >>> fractal_strength(pd.Series(high), pd.Series(low), depth=2, align="confirmed")["up"].tolist()
    [<NA>, <NA>, <NA>, <NA>, 2, 0, 0, 0, 2]

    Bar i gets what ``up_fractal`` and ``down_fractal`` give for it (0 where it
    lacks ``depth`` neighbours on either side), computed in one call by the
    library. The order of the series does not matter: oldest or newest first,
    each bar gets the same strength.

    ``align="bar"`` (the default) puts each strength on the fractal's own
    bar, which is known only ``depth`` bars later: as a signal there it
    looks ahead. ``align="confirmed"`` puts it on the bar that confirms it,
    ``depth`` bars after its own (the bars oldest first), where a backtest
    may use it; the last ``depth`` bars' strengths, not yet confirmed, are
    dropped.

    Arrays in, two int32 arrays out (rows of one array), where a bar that
    cannot be judged (too near either end) has the library's 0. A pandas
    Series in (either argument) gives a DataFrame with nullable Int32
    columns ``up`` and ``down`` on the Series' index, where such a bar has
    no value (``<NA>``, as technical-analysis libraries mark them): the first
    and last ``depth`` bars, or with ``align="confirmed"`` the first
    ``2 * depth``. Two Series must have the same index, since the bars are
    taken by position (``fractal_strength(bars["high"], bars["low"])`` gives
    ``up`` and ``down`` on the bars' dates).

    Raises TypeError for values that are not real numbers or a depth that is
    not an integer; ValueError for series of different lengths or indexes, a
    missing value of a nullable dtype, a negative depth or another align.
    """
    if align not in ("bar", "confirmed"):
        raise ValueError(f"fractal_strength: align must be 'bar' or 'confirmed', got {align!r}")
    index = None
    for series in (high, low):
        if isinstance(series, pd.Series):
            if index is not None and not index.equals(series.index):
                raise ValueError("fractal_strength: high and low have different indexes; the bars are taken "
                                 "by position, so align them first")
            index = series.index
    high = _floats("fractal_strength", "high", high)
    low = _floats("fractal_strength", "low", low)
    depth = _int32("fractal_strength", "depth", depth, low=0)
    up, down = _native.fractal_strength(high, low, depth)
    n = len(up)
    # The bars judged: those with depth neighbours on each side, or the bars
    # that confirm them.
    judged = slice(depth, max(n - depth, depth)) if align == "bar" else slice(2 * depth, n)
    if align == "confirmed":
        up, down = (np.concatenate([np.zeros(min(depth, n), np.int32), values[:max(n - depth, 0)]])
                    for values in (up, down))
    if index is None:
        return up, down
    missing = np.ones(n, bool)
    missing[judged] = False
    return pd.DataFrame({"up": pd.arrays.IntegerArray(up, missing.copy()),
                         "down": pd.arrays.IntegerArray(down, missing)}, index=index)


class Stopwatch:
    """The library's high-resolution stopwatch, as a context manager.

    >>> with Stopwatch() as watch:
    ...     total = sum(range(100_000))
    >>> watch.elapsed > 0      # seconds, the final reading
    True

    ``start()`` restarts it, ``read()`` gives the seconds since the last start
    (or creation) without stopping it, ``close()`` takes the final reading and
    frees it (as leaving the ``with`` block does). A stopwatch is not meant
    for two threads at once.
    """

    def __init__(self) -> None:
        self._timer = _native.Timer()
        self._final: Optional[float] = None

    def start(self) -> None:
        """Restart: later readings measure from now."""
        if not self._timer.start():
            raise OSError("the high-resolution counter could not be read")

    def read(self) -> float:
        """Seconds since the last start; the stopwatch keeps running."""
        return self._timer.read()

    def close(self) -> float:
        """Take the final reading, free the stopwatch and return the reading.
        Closing again returns the same reading."""
        if self._final is None:
            self._final = self._timer.release()
        return self._final

    @property
    def closed(self) -> bool:
        """Whether the final reading was taken."""
        return self._final is not None

    @property
    def elapsed(self) -> float:
        """The final reading once closed, else a fresh reading."""
        return self._final if self._final is not None else self.read()

    def __enter__(self) -> "Stopwatch":
        self.start()
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __repr__(self) -> str:
        state = f"closed at {self._final!r} s" if self._final is not None else "running"
        return f"<tidemark.Stopwatch {state}>"

