"""tidemark: fractal strengths, merged price levels and a stopwatch, for Python.

The library's own routines, compiled into this package (the same sources as
tidemark.dll and libtidemark.so), with numpy arrays in and out. Every result
equals the library's bit for bit; the exact rules are in
docs/exports.md, linked from the project's README.

Functions for one call of an export: check_level, hlop, resize, up_fractal,
down_fractal, and the Stopwatch context manager. For whole series and many
symbols: fractal_strength, levels (what ``tidemark-scan --json`` finds),
screen (one row per symbol, locally or on a dask.distributed cluster), and
read_bars / bar_records to get bars into the shapes these take.

Bad input (a wrong dtype, shape, stride or index) raises TypeError, ValueError
or IndexError before the library reads or writes anything.
"""
from __future__ import annotations

import concurrent.futures
import numbers
import operator
import os
from collections.abc import Callable, Mapping
from typing import Any, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt
import pandas as pd

from . import _native

__version__: str = _native.__version__

__all__ = [
    "BAR_RECORD",
    "Stopwatch",
    "bar_records",
    "check_level",
    "down_fractal",
    "fractal_strength",
    "hlop",
    "levels",
    "read_bars",
    "resize",
    "screen",
    "up_fractal",
]

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

_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1
_Frame = pd.DataFrame
_Path = Union[str, "os.PathLike[str]"]
BarsLike = Union[pd.DataFrame, _Path]


# --- checking and converting arguments ----------------------------------------


def _real(function: str, name: str, value: Any) -> float:
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real):
        raise TypeError(f"{function}: {name} must be a real number, got {type(value).__name__}")
    return float(value)


def _int32(function: str, name: str, value: Any, low: int = _INT32_MIN, high: int = _INT32_MAX) -> int:
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{function}: {name} must be an integer, got bool")
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{function}: {name} must be an integer, got {type(value).__name__}") from None
    if not low <= number <= high:
        raise ValueError(f"{function}: {name} must be from {low} to {high}, got {number}")
    return number


def _vector(function: str, name: str, values: Any) -> np.ndarray:
    array = np.asarray(values)
    if array.ndim != 1:
        raise ValueError(f"{function}: {name} must be one-dimensional, got {array.ndim} dimensions")
    return array


def _floats(function: str, name: str, values: Any) -> np.ndarray:
    """values as a contiguous float64 vector, refusing anything that would
    not convert exactly (a copy only when the input is not one already)."""
    array = _vector(function, name, values)
    kind = array.dtype.kind
    if kind == "f" and array.dtype.itemsize <= 8:
        return np.ascontiguousarray(array, dtype=np.float64)
    if kind in "iu" or (array.size == 0 and kind in "fb"):
        converted = np.ascontiguousarray(array, dtype=np.float64)
        if kind in "iu" and not np.array_equal(converted.astype(array.dtype), array):
            raise ValueError(f"{function}: {name} holds integers that a float64 cannot represent exactly")
        return converted
    raise TypeError(f"{function}: {name} must be real numbers (float64), got {array.dtype}")


def _ints(function: str, name: str, values: Any) -> np.ndarray:
    """values as a contiguous int32 vector; integers outside int32 raise."""
    array = _vector(function, name, values)
    kind = array.dtype.kind
    if array.size == 0 and kind in "fiub":
        return np.empty(0, dtype=np.int32)
    if kind not in "iu":
        raise TypeError(f"{function}: {name} must be integers (int32), got {array.dtype}")
    if array.dtype.itemsize > 4 or array.dtype == np.uint32:
        if array.min() < _INT32_MIN or array.max() > _INT32_MAX:
            raise ValueError(f"{function}: {name} holds values outside int32")
    return np.ascontiguousarray(array, dtype=np.int32)


def _in_place(function: str, name: str, values: Any, dtype: type) -> np.ndarray:
    if not isinstance(values, np.ndarray):
        raise TypeError(f"{function}: in place, {name} must be a numpy array, got {type(values).__name__}")
    if values.dtype != np.dtype(dtype):
        raise TypeError(f"{function}: in place, {name} must be a {np.dtype(dtype)} array, got {values.dtype}")
    return values


# --- the exports ----------------------------------------------------------------


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


def hlop(
    prices: npt.ArrayLike,
    weights: npt.ArrayLike,
    tolerance: float,
    mode: int = 1,
    tags: Optional[npt.ArrayLike] = None,
    *,
    inplace: bool = False,
) -> Tuple[np.ndarray, np.ndarray]:
    """Merge close price levels; returns ``(prices, weights)``.

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
    returned. The exact rules: docs/exports.md, "Hlop" (linked from the
    project's README).
    """
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
    return prices, weights


def resize(span: int, weights: npt.ArrayLike, *, inplace: bool = False) -> np.ndarray:
    """Rescale integer weights by ``|span - 1| / |max - min // 10 - min|``.

    ``min // 10`` truncates toward zero; each product is truncated toward zero
    and held to the int32 limits; a zero denominator leaves the weights as
    they were. So with a smallest weight of 0 the largest becomes
    ``|span - 1|`` (or one less where the factor rounds short). Returns new
    weights, or rewrites ``weights`` (a writable contiguous int32 numpy array)
    with ``inplace=True``.
    """
    span = _int32("resize", "span", span)
    if inplace:
        weights = _in_place("resize", "weights", weights, np.int32)
    else:
        weights = _ints("resize", "weights", weights).copy()
    _native.resize(span, weights)
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


def fractal_strength(high: npt.ArrayLike, low: npt.ArrayLike, depth: int = 2) -> Tuple[np.ndarray, np.ndarray]:
    """Up and down fractal strengths of every bar, as two int32 arrays.

    Bar i gets what ``up_fractal`` and ``down_fractal`` give for it (0 where it
    lacks ``depth`` neighbours on either side), computed in one call by the
    library. The order of the series does not matter: oldest or newest first,
    each bar gets the same strength. The two results are rows of one array.
    """
    high = _floats("fractal_strength", "high", high)
    low = _floats("fractal_strength", "low", low)
    depth = _int32("fractal_strength", "depth", depth, low=0)
    return _native.fractal_strength(high, low, depth)


class Stopwatch:
    """The library's high-resolution stopwatch, as a context manager.

    >>> with Stopwatch() as watch:
    ...     work()
    >>> watch.elapsed          # seconds, the final reading

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


# --- bars from DataFrames and files -----------------------------------------------

_DATE_COLUMNS = ("date", "datetime", "time", "timestamp")
_PRICE_COLUMNS = ("open", "high", "low", "close")


def read_bars(path: _Path) -> pd.DataFrame:
    """The bars of a CSV file, read exactly as ``tidemark-scan`` reads them.

    Returns a DataFrame with a DatetimeIndex ``date`` (UTC, naive) and float64
    columns open, high, low, close and volume (0 without a volume column),
    oldest first. A bad file raises ValueError naming the file and line.
    """
    bars = _native.read_bars(os.fspath(path))
    frame = pd.DataFrame(
        {name: bars[name] for name in ("open", "high", "low", "close", "volume")},
        index=pd.DatetimeIndex(pd.to_datetime(bars["time"], unit="s"), name="date"),
    )
    return frame


def _frame_dates(function: str, frame: pd.DataFrame) -> Optional[pd.DatetimeIndex]:
    dates: Any = None
    if isinstance(frame.index, pd.DatetimeIndex):
        dates = frame.index
    else:
        for column in frame.columns:
            if str(column).lower() in _DATE_COLUMNS:
                values = frame[column]
                # Numbers are seconds since 1970, as the command reads them
                # (pandas would take them for nanoseconds).
                unit = "s" if values.dtype.kind in "iuf" else None
                try:
                    dates = pd.DatetimeIndex(pd.to_datetime(values, unit=unit))
                except (ValueError, TypeError) as error:
                    raise ValueError(f"{function}: column {column!r} does not hold dates: {error}") from None
                break
    if dates is None:
        return None
    if dates.tz is not None:
        dates = dates.tz_convert("UTC").tz_localize(None)
    if dates.hasnans:
        raise ValueError(f"{function}: a date is missing (row {frame.index[np.flatnonzero(dates.isna())[0]]!r})")
    return dates


def _frame_arrays(function: str, frame: Any) -> dict:
    """The columns of a bars DataFrame as the library's arrays, oldest first."""
    if not isinstance(frame, pd.DataFrame):
        raise TypeError(f"{function}: bars must be a pandas DataFrame or a CSV path, got {type(frame).__name__}")
    if len(frame) == 0:
        raise ValueError(f"{function}: no bars")
    by_name = {str(column).lower(): column for column in frame.columns}
    missing = [name for name in _PRICE_COLUMNS if name not in by_name]
    if missing:
        raise ValueError(f"{function}: bars lack the column(s) {', '.join(missing)}")
    columns = {}
    for name in _PRICE_COLUMNS + ("volume",):
        if name not in by_name:
            columns[name] = np.zeros(len(frame))
            continue
        columns[name] = np.ascontiguousarray(_floats(function, name, frame[by_name[name]].to_numpy()))
    dates = _frame_dates(function, frame)
    time = None if dates is None else np.ascontiguousarray(dates.values.astype("datetime64[s]").astype(np.int64))
    # The command's reader checks every bar and the dates' order, with the
    # same words for the same bars.
    check = _native.check_bars(time, *(columns[name] for name in _PRICE_COLUMNS + ("volume",)))
    if check["fault"] is not None:
        row, what = check["fault"]
        raise ValueError(f"{function}: row {frame.index[row]!r}: {what}")
    newest_first = check["newest_first"]
    if time is None:
        time = np.zeros(len(frame), dtype=np.int64)
    elif newest_first:
        # Newest first, as many exports and hosts have them.
        time = time[::-1]
        columns = {name: values[::-1] for name, values in columns.items()}
        dates = dates[::-1]
    arrays = {name: np.ascontiguousarray(values) for name, values in columns.items()}
    arrays["time"] = np.ascontiguousarray(time)
    arrays["dates"] = dates
    arrays["newest_first"] = newest_first
    return arrays


def bar_records(bars: pd.DataFrame) -> np.ndarray:
    """The bars as a host lays them out for up_fractal and down_fractal: an
    array of BAR_RECORD, index 0 the newest bar (the DataFrame may be oldest
    or newest first; without dates its rows are taken as oldest first)."""
    arrays = _frame_arrays("bar_records", bars)
    records = np.empty(len(arrays["time"]), dtype=BAR_RECORD)
    for name in ("open", "high", "low", "close", "volume"):
        records[name] = arrays[name][::-1]
    records["time"] = arrays["time"][::-1]
    return records


# --- the workflow of tidemark-scan ----------------------------------------------------

_LEVEL_COLUMNS = ("price", "merged_weight", "resized_weight", "fractals")


def _analyse(function: str, bars: Any, depth: int, tolerance: Optional[float], mode: int, span: int,
             count_fractals: bool = True) -> dict:
    # The command's own limits for its options.
    depth = _int32(function, "depth", depth, low=1, high=100000)
    mode = _int32(function, "mode", mode, low=0, high=2)
    span = _int32(function, "span", span, low=1)
    if tolerance is not None:
        tolerance = _real(function, "tolerance", tolerance)
        if not (np.isfinite(tolerance) and tolerance >= 0):
            raise ValueError(f"{function}: tolerance must be a finite price distance, 0 or more, got {tolerance!r}")
    if isinstance(bars, (str, os.PathLike)):
        result = _native.analyse_file(os.fspath(bars), depth, tolerance, mode, span, count_fractals)
        dated = True
    else:
        arrays = _frame_arrays(function, bars)
        result = _native.analyse_arrays(
            arrays["time"], arrays["open"], arrays["high"], arrays["low"], arrays["close"], arrays["volume"],
            depth, tolerance, mode, span, count_fractals,
        )
        dated = arrays["dates"] is not None
        # The order the bars came in, as the command says of a file's.
        result["file_order"] = ("newest first" if arrays["newest_first"] else "oldest first") if dated else None
    first, last = result.pop("first_time"), result.pop("last_time")
    result["first_date"] = pd.Timestamp(first, unit="s") if dated else None
    result["last_date"] = pd.Timestamp(last, unit="s") if dated else None
    close = result["last_close"]
    close["date"] = pd.Timestamp(close.pop("time"), unit="s") if dated else None
    return result


def _levels_frame(result: dict) -> pd.DataFrame:
    frame = pd.DataFrame({name: result["levels"][name] for name in _LEVEL_COLUMNS})
    frame.index.name = "index"
    frame.attrs.update({key: value for key, value in result.items() if key != "levels"})
    return frame


def levels(
    bars: BarsLike,
    depth: int = 2,
    tolerance: Optional[float] = None,
    mode: int = 1,
    span: int = 11,
) -> pd.DataFrame:
    """The levels that ``tidemark-scan --json`` finds in the same bars.

    ``bars`` is a DataFrame with columns open, high, low, close (any case;
    volume optional) and dates in a DatetimeIndex or a date column, oldest or
    newest first; or the path of a CSV file, read by the command's own reader.
    The workflow is the command's own, compiled in: fractals of every bar
    with ``depth`` neighbours, merged by Hlop (``mode``) at ``tolerance``
    (default half the mean bar range), weights rescaled by Resize (``span``).

    Returns one row per level in ascending price, indexed by the level's
    index: price, merged_weight (as Hlop wrote it), resized_weight (after
    Resize) and fractals (how many fed it). ``attrs`` holds the rest of the
    run under the names of the command's JSON: tolerance, mean_bar_range,
    up_fractals, down_fractals, candidates, first_date, last_date, and
    last_close (its price, date, level_index from CheckLevel, below, above,
    distance), among others.
    Read CSVs with ``read_bars`` (or pandas' ``float_precision="round_trip"``)
    to get the command's prices bit for bit.
    """
    return _levels_frame(_analyse("levels", bars, depth, tolerance, mode, span))


_SCREEN_COLUMNS = ("file", "bars", "last_date", "last_close", "on_level", "level", "level_weight",
                   "below", "above", "distance")


def _screen_row(result: dict, file: Optional[str]) -> dict:
    close = result["last_close"]

    def number(value: Optional[float]) -> float:
        return np.nan if value is None else value

    return {
        "file": file,
        "bars": result["bar_count"],
        "last_date": result["last_date"],
        "last_close": close["price"],
        "on_level": close["on_level"],
        "level": number(close["level"]),
        "level_weight": pd.NA if close["level_weight"] is None else close["level_weight"],
        "below": number(close["below"]),
        "above": number(close["above"]),
        "distance": number(close["distance"]),
    }


def _screen_one(symbol: Any, bars: BarsLike, depth: int, tolerance: Optional[float], mode: int, span: int,
                keep_errors: bool) -> dict:
    """One symbol's screen row; runs on a worker of a cluster too."""
    file = os.fspath(bars) if isinstance(bars, (str, os.PathLike)) else None
    try:
        result = _analyse("screen", bars, depth, tolerance, mode, span, count_fractals=False)
    except (TypeError, ValueError) as error:
        if keep_errors:
            return {"file": file, "error": str(error)}
        raise type(error)(f"screen: symbol {symbol!r}: {error}") from None
    row = _screen_row(result, file)
    if keep_errors:
        row["error"] = None
    return row


def screen(
    data: Mapping[Any, BarsLike],
    client: Any = None,
    depth: int = 2,
    tolerance: Optional[float] = None,
    mode: int = 1,
    span: int = 11,
    errors: str = "raise",
) -> pd.DataFrame:
    """One row per symbol with the fields of the command-line screen.

    ``data`` maps each symbol to a bars DataFrame or a CSV path (see
    ``levels``). Without ``client`` the symbols run on the local cores;
    with a ``dask.distributed.Client`` each symbol is one task on that
    cluster (its workers need this package, and paths must be readable
    there). The rows come in the order of ``data``.

    The fields: file (the path, if one was given), bars, last_date,
    last_close, on_level (CheckLevel found a level within the tolerance),
    level and level_weight (that level's price and resized weight), below
    and above (the nearest levels at or below and above the close) and
    distance (from the close to the nearest level, in tolerances).

    A symbol whose bars are bad raises, naming it; with ``errors="keep"``
    it gets a row of its own instead, with the reason in an ``error`` column,
    as the command does.
    """
    if not isinstance(data, Mapping):
        raise TypeError(f"screen: data must map symbols to bars, got {type(data).__name__}")
    if errors not in ("raise", "keep"):
        raise ValueError(f"screen: errors must be 'raise' or 'keep', got {errors!r}")
    symbols = list(data.keys())
    inputs = [data[symbol] for symbol in symbols]
    settings = (depth, tolerance, mode, span, errors == "keep")
    if client is None:
        workers = min(len(symbols), os.cpu_count() or 1) or 1
        with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
            rows = list(pool.map(lambda item: _screen_one(item[0], item[1], *settings), zip(symbols, inputs)))
    else:
        futures = client.map(
            _screen_one, symbols, inputs, *[[value] * len(symbols) for value in settings], pure=False
        )
        rows = client.gather(futures)
    columns = list(_SCREEN_COLUMNS) + (["error"] if errors == "keep" else [])
    # The constructor, not from_records: that fails on an empty universe.
    return pd.DataFrame(rows, columns=columns, index=pd.Index(symbols, name="symbol"))
