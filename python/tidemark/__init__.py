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
import datetime
import numbers
import operator
import os
from collections.abc import Callable, Mapping
from typing import Any, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt
import pandas as pd

try:
    from . import _native
except ImportError as error:
    # The source folder python/tidemark holds the Python files but not the
    # compiled module, and Python looks in the current folder first.
    _here = os.path.dirname(os.path.abspath(__file__))
    if not any(name.startswith("_native") for name in os.listdir(_here)):
        raise ImportError(
            f"tidemark: the compiled part of the package (_native) is not in {_here}, which looks like the source "
            f"folder: import tidemark from outside it (python/ comes first on sys.path when Python runs there), "
            f"after installing the package (pip install dist/tidemark-*.whl, made by scripts/package python) or "
            f"building it (cmake -S . -B build/python -DTIDEMARK_PYTHON=ON && cmake --build build/python, then "
            f"PYTHONPATH=build/python)"
        ) from None  # Python's own words here blame a circular import
    raise

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
    # pandas' nullable dtypes (Int64, Float64, boolean) hold their values
    # beside a mask: without a missing value they are their numpy dtype;
    # with one there is nothing the library could be given for it.
    dtype = getattr(values, "dtype", None)
    numpy_dtype = getattr(dtype, "numpy_dtype", None)
    if isinstance(dtype, pd.api.extensions.ExtensionDtype) and numpy_dtype is not None:
        missing = np.flatnonzero(np.asarray(pd.isna(values)))
        if missing.size:
            row = values.index[missing[0]] if isinstance(values, pd.Series) else int(missing[0])
            raise ValueError(f"{function}: {name} ({dtype}) has no value in row {row!r}")
        values = values.to_numpy(dtype=numpy_dtype)
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
) -> Union[Tuple[np.ndarray, np.ndarray], Tuple[pd.Series, pd.Series]]:
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
    returned. Series in (not in place) give two Series out, named as they
    were; their index counts positions, since the merge moves the levels
    (survivors first) and the labels would no longer name them. The exact
    rules: docs/exports.md, "Hlop" (linked from the project's README).
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


def resize(span: int, weights: npt.ArrayLike, *, inplace: bool = False) -> Union[np.ndarray, pd.Series]:
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


def fractal_strength(
    high: Union[npt.ArrayLike, pd.Series], low: Union[npt.ArrayLike, pd.Series], depth: int = 2
) -> Union[Tuple[np.ndarray, np.ndarray], pd.DataFrame]:
    """Up and down fractal strengths of every bar.

    Bar i gets what ``up_fractal`` and ``down_fractal`` give for it (0 where it
    lacks ``depth`` neighbours on either side), computed in one call by the
    library. The order of the series does not matter: oldest or newest first,
    each bar gets the same strength.

    Arrays in, two int32 arrays out (rows of one array). A pandas Series in
    (either argument) gives a DataFrame with int32 columns ``up`` and ``down``
    on the Series' index; two Series must have the same index, since the bars
    are taken by position.
    """
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
    if index is None:
        return up, down
    return pd.DataFrame({"up": up, "down": down}, index=index)


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


def _file(bars: Any) -> Optional[bytes]:
    """The name of a file of bars as the reader takes it, or None when bars
    are not a path. Bytes: a name that is not UTF-8 opens as any other."""
    return os.fsencode(bars) if isinstance(bars, (str, bytes, os.PathLike)) else None


def read_bars(path: _Path) -> pd.DataFrame:
    """The bars of a CSV file, read exactly as ``tidemark-scan`` reads them.

    Returns a DataFrame with a DatetimeIndex ``date`` (UTC, naive) and float64
    columns open, high, low, close and volume (0 without a volume column),
    oldest first. A bad file raises ValueError naming the file and line; one
    too large for memory, MemoryError.
    """
    bars = _native.read_bars(os.fsencode(path))
    frame = pd.DataFrame(
        {name: bars[name] for name in ("open", "high", "low", "close", "volume")},
        index=pd.DatetimeIndex(pd.to_datetime(bars["time"], unit="s"), name="date"),
    )
    return frame


def _is_date_name(name: Any) -> bool:
    return str(name).lower() in _DATE_COLUMNS


def _first_kind(values: Any, kinds: tuple) -> bool:
    """Whether the first value present of an object or text array is one of kinds."""
    if values.dtype.kind not in "OSU":
        return False
    first = next((value for value in values if value is not None and value == value), None)
    return isinstance(first, kinds)


def _is_text(values: Any) -> bool:
    return _first_kind(values, (str,))


def _dates(function: str, values: Any, where: str, rows: Any) -> pd.DatetimeIndex:
    """Dates from an index, an index level or a column: datetimes as they
    are; text and numbers by the reader's own rules, as the command reads the
    same characters in a file (so 20200102 is a date, YYYYMMDD, and
    1577923200 seconds since 1970). rows names the rows in messages."""
    if values.dtype.kind == "M" or isinstance(values.dtype, pd.DatetimeTZDtype):
        return pd.DatetimeIndex(values)
    if values.dtype.kind in "iuf":
        missing = np.flatnonzero(np.asarray(pd.isna(values)))
        if missing.size:
            raise ValueError(f"{function}: a date is missing (row {rows[missing[0]]!r})")
        whole = values.dtype.kind in "iu"
        texts = [str(v) if whole else np.format_float_positional(v, trim="-") for v in np.asarray(values)]
    elif _is_text(values):
        texts = list(values)
    else:
        try:
            return pd.DatetimeIndex(pd.to_datetime(values))
        except (ValueError, TypeError, OverflowError) as error:
            raise ValueError(f"{function}: {where} does not hold dates: {error}") from None
    seconds, bad = _native.parse_timestamps(texts)
    if bad >= 0:
        raise ValueError(f"{function}: {where}, row {rows[bad]!r}: {texts[bad]!r} is not a date "
                         f"(YYYY-MM-DD, optionally with a time, or epoch seconds)")
    return pd.DatetimeIndex(seconds.astype("datetime64[s]").astype("datetime64[ns]"))


def _level_name(index: pd.MultiIndex, level: int) -> Any:
    return index.names[level] if index.names[level] is not None else level


def _date_level(index: pd.MultiIndex) -> Optional[int]:
    """The level of a MultiIndex that holds the dates: datetimes, or a level
    named as a date column is. Text alone does not tell: a ticker of digits
    reads as epoch seconds."""
    for level in range(index.nlevels):
        dtype = index.levels[level].dtype
        if dtype.kind == "M" or isinstance(dtype, pd.DatetimeTZDtype):
            return level
    return next((level for level, name in enumerate(index.names) if _is_date_name(name)), None)


def _symbol_levels(index: pd.MultiIndex) -> list:
    """The levels of a MultiIndex besides its date level."""
    dates = _date_level(index)
    return [level for level in range(index.nlevels) if level != dates]


def _frame_dates(function: str, frame: pd.DataFrame) -> Optional[pd.DatetimeIndex]:
    index = frame.index
    rows = np.arange(len(frame))
    dates: Any = None
    if isinstance(index, pd.MultiIndex):
        # Bars of one symbol, by their date level; a second symbol is
        # another series, which would be read as more bars of this one.
        level = _date_level(index)
        if level is None:
            raise ValueError(f"{function}: none of the index's {index.nlevels} levels holds dates (datetimes, or a "
                             f"level named date, datetime, time or timestamp)")
        for other in _symbol_levels(index):
            count = index.get_level_values(other).nunique(dropna=False)
            if count > 1:
                name = _level_name(index, other)
                raise ValueError(
                    f"{function}: the index has a level {name!r} of {count} values besides the dates: pass the "
                    f"bars of one (frame.xs(key, level={name!r})), or screen(frame) to screen each")
        dates = _dates(function, index.get_level_values(level), f"index level {_level_name(index, level)!r}", rows)
    elif isinstance(index, pd.DatetimeIndex):
        dates = index
    else:
        for column in frame.columns:
            if _is_date_name(column):
                dates = _dates(function, frame[column], f"column {column!r}", index)
                break
        # An index of dates as read_csv(index_col="date") leaves them, text,
        # or as index.date leaves them, objects.
        if dates is None and (_is_date_name(index.name) or (
                index.name is None and _first_kind(index, (str, datetime.date, np.datetime64)))):
            dates = _dates(function, index, "the index", rows)
    if dates is None:
        return None
    if dates.tz is not None:
        dates = dates.tz_convert("UTC").tz_localize(None)
    if dates.hasnans:
        raise ValueError(f"{function}: a date is missing (row {frame.index[np.flatnonzero(dates.isna())[0]]!r})")
    return dates


def _frame_columns(function: str, frame: pd.DataFrame) -> dict:
    """The columns the bars are read from, by lower-case name. Two of one
    name (in any case) are refused, as the command refuses such a header."""
    by_name: dict = {}
    position: dict = {}
    for i, column in enumerate(frame.columns):
        name = str(column).lower()
        if name not in _PRICE_COLUMNS + ("volume",) + _DATE_COLUMNS:
            continue  # a column the analysis does not use
        if name in by_name:
            raise ValueError(f"{function}: columns {position[name] + 1} and {i + 1} are both named {column}")
        by_name[name], position[name] = column, i
    return by_name


def _frame_arrays(function: str, frame: Any) -> dict:
    """The columns of a bars DataFrame as the library's arrays, oldest first."""
    if not isinstance(frame, pd.DataFrame):
        raise TypeError(f"{function}: bars must be a pandas DataFrame or a CSV path, got {type(frame).__name__}")
    if len(frame) == 0:
        raise ValueError(f"{function}: no bars")
    by_name = _frame_columns(function, frame)
    missing = [name for name in _PRICE_COLUMNS if name not in by_name]
    if missing:
        raise ValueError(f"{function}: bars lack the column(s) {', '.join(missing)}")
    columns = {}
    for name in _PRICE_COLUMNS + ("volume",):
        if name not in by_name:
            columns[name] = np.zeros(len(frame))
            continue
        # The Series itself, so that a nullable dtype's missing value is named by its row.
        columns[name] = np.ascontiguousarray(_floats(function, name, frame[by_name[name]]))
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


def _settings(function: str, depth: int, tolerance: Optional[float], mode: int, span: int) -> tuple:
    """The options as the library takes them, checked against the command's
    own limits (by the command's own rule, in the extension)."""
    depth = _int32(function, "depth", depth)
    mode = _int32(function, "mode", mode)
    span = _int32(function, "span", span)
    if tolerance is not None:
        tolerance = _real(function, "tolerance", tolerance)
    try:
        _native.check_settings(depth, tolerance, mode, span)
    except ValueError as error:
        raise ValueError(f"{function}: {error}") from None
    return depth, tolerance, mode, span


def _analyse(function: str, bars: Any, settings: tuple, count_fractals: bool = True) -> dict:
    """One series analysed with checked settings (see _settings)."""
    file = _file(bars)
    if file is not None:
        result = _native.analyse_file(file, *settings, count_fractals)
        dated = True
    else:
        arrays = _frame_arrays(function, bars)
        result = _native.analyse_arrays(
            arrays["time"], arrays["open"], arrays["high"], arrays["low"], arrays["close"], arrays["volume"],
            *settings, count_fractals,
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

    ``bars`` is a DataFrame with columns open, high, low, close (any case,
    once each; volume optional) and dates, oldest or newest first: in a
    DatetimeIndex (tz-aware ones are taken in UTC), a date column, an index
    of text dates (as ``read_csv(index_col="date")`` leaves it; read by the
    reader's own rules) or the date level of a MultiIndex (whose other levels
    must hold one symbol: screen takes many). Nullable dtypes are fine
    without missing values. Or ``bars`` is the path of a CSV file, read by the
    command's own reader.
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
    return _levels_frame(_analyse("levels", bars, _settings("levels", depth, tolerance, mode, span)))


# The screen's columns and their dtypes. A row has no level_weight when the
# close is on no level. With errors="keep", a symbol that failed has no value
# in most columns: bars and on_level are then pandas' nullable integer and
# boolean, whether or not a symbol failed, so that the dtypes do not depend
# on the data (and rows[rows.on_level] takes the symbols on a level).
_SCREEN_DTYPES = {
    "file": object, "bars": "int64", "last_date": "datetime64[ns]", "last_close": "float64", "on_level": "bool",
    "level": "float64", "level_weight": "Int64", "below": "float64", "above": "float64", "distance": "float64",
}
_KEPT_DTYPES = {**_SCREEN_DTYPES, "bars": "Int64", "on_level": "boolean", "error": object}

# What one symbol's data can raise; anything else is a fault of the package.
_FAILURES = (MemoryError, TypeError, ValueError, OSError)


def _screen_row(result: dict, file: Optional[str]) -> dict:
    close = result["last_close"]
    return {
        "file": file,
        "bars": result["bar_count"],
        "last_date": result["last_date"],
        "last_close": close["price"],
        "on_level": close["on_level"],
        "level": close["level"],
        "level_weight": close["level_weight"],
        "below": close["below"],
        "above": close["above"],
        "distance": close["distance"],
    }


def _reason(error: BaseException) -> str:
    """An error's text, never empty."""
    if isinstance(error, MemoryError) and not str(error):
        return _native.NO_MEMORY
    return str(error) or type(error).__name__


def _screen_frame(rows: list, keep_errors: bool) -> pd.DataFrame:
    dtypes = _KEPT_DTYPES if keep_errors else _SCREEN_DTYPES
    return pd.DataFrame({name: pd.Series([row.get(name) for row in rows], dtype=dtype) for name, dtype in dtypes.items()})


def _screen_batch(batch: list, settings: tuple, keep_errors: bool) -> pd.DataFrame:
    """The screen rows of a batch of (symbol, bars) pairs, one after another;
    runs on a worker of a cluster too, which reads the files named itself.
    A DataFrame: columns of numbers travel back far faster than rows of
    Python objects."""
    rows = []
    for symbol, bars in batch:
        file = os.fsdecode(bars) if _file(bars) is not None else None
        try:
            row = _screen_row(_analyse("screen", bars, settings, count_fractals=False), file)
        except _FAILURES as error:
            if not keep_errors:
                kind = next(kind for kind in _FAILURES if isinstance(error, kind))
                raise kind(f"screen: symbol {symbol!r}: {_reason(error)}") from None
            row = {"file": file, "error": _reason(error)}
        else:
            if keep_errors:
                row["error"] = None
        rows.append(row)
    return _screen_frame(rows, keep_errors)


def _screen_inputs(data: Any) -> Tuple[list, list, pd.Index]:
    """The symbols, their bars and the screen's index, from a mapping or
    from a DataFrame of many symbols (a MultiIndex of symbols and dates)."""
    if isinstance(data, Mapping):
        symbols = list(data.keys())
        return symbols, [data[symbol] for symbol in symbols], pd.Index(symbols, name="symbol", tupleize_cols=False)
    if not isinstance(data, pd.DataFrame):
        raise TypeError(f"screen: data must map symbols to bars, or be a DataFrame with a symbol level and a date "
                        f"level in its index, got {type(data).__name__}")
    index = data.index
    if not isinstance(index, pd.MultiIndex) or _date_level(index) is None or not _symbol_levels(index):
        raise ValueError("screen: a DataFrame of many symbols needs a MultiIndex with a date level (datetimes, or "
                         "named date, datetime, time or timestamp) and a symbol level; or pass a mapping of symbols "
                         "to bars")
    levels = _symbol_levels(index)
    names = [index.names[level] if index.names[level] is not None else "symbol" for level in levels]
    by = levels[0] if len(levels) == 1 else levels
    groups = list(data.groupby(level=by, sort=False, dropna=False))
    symbols = [key for key, _ in groups]
    if len(levels) == 1:
        screen_index = pd.Index(symbols, name=names[0], tupleize_cols=False)
    else:
        screen_index = pd.MultiIndex.from_tuples(symbols, names=names)
    return symbols, [frame for _, frame in groups], screen_index


def screen(
    data: Union[Mapping[Any, BarsLike], pd.DataFrame],
    client: Any = None,
    depth: int = 2,
    tolerance: Optional[float] = None,
    mode: int = 1,
    span: int = 11,
    errors: str = "raise",
    batch_size: Optional[int] = None,
) -> pd.DataFrame:
    """One row per symbol with the fields of the command-line screen.

    ``data`` maps each symbol to a bars DataFrame or a CSV path (see
    ``levels``), or is one DataFrame of many symbols whose index has a date
    level and a symbol level (as ``set_index(["symbol", "date"])`` makes).
    Without ``client`` the symbols run on the local cores; with a
    ``dask.distributed.Client`` they go to that cluster in batches of
    ``batch_size`` symbols (by default about four batches per worker thread),
    whose workers need this package and read the files named themselves. The
    rows come in the order of ``data``.

    The fields: file (the path, if one was given), bars, last_date,
    last_close, on_level (CheckLevel found a level within the tolerance),
    level and level_weight (that level's price and resized weight, or no
    value), below and above (the nearest levels at or below and above the
    close, NaN for none) and distance (from the close to the nearest level,
    in tolerances).

    Bad options raise at once. A symbol whose bars are bad (or whose file
    cannot be read, or is too large for memory) raises, naming it; with
    ``errors="keep"`` it gets a row of its own instead, with the reason in an
    ``error`` column, as the command does; bars is then an Int64 column and
    on_level a boolean one, without a value for such a row.
    """
    if errors not in ("raise", "keep"):
        raise ValueError(f"screen: errors must be 'raise' or 'keep', got {errors!r}")
    settings = _settings("screen", depth, tolerance, mode, span)
    if batch_size is not None:
        batch_size = _int32("screen", "batch_size", batch_size, low=1)
    if client is not None and not all(hasattr(client, name) for name in ("map", "gather", "nthreads")):
        raise TypeError(f"screen: client must be a dask.distributed Client, got {type(client).__name__}")
    keep = errors == "keep"
    symbols, inputs, index = _screen_inputs(data)
    items = list(zip(symbols, inputs))
    if client is None:
        threads = os.cpu_count() or 1
    else:
        threads = sum(client.nthreads().values()) or 1
    # A few batches per thread: few enough that the cost of a task is
    # nothing beside its work, enough that the threads finish together.
    size = batch_size or max(1, -(-len(items) // (4 * threads)))
    batches = [items[start:start + size] for start in range(0, len(items), size)]
    if client is None:
        with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, min(len(batches), threads))) as pool:
            done = list(pool.map(lambda batch: _screen_batch(batch, settings, keep), batches))
    else:
        futures = client.map(_screen_batch, batches, settings=settings, keep_errors=keep, pure=False)
        done = client.gather(futures)
    frame = pd.concat(done, ignore_index=True) if done else _screen_frame([], keep)
    frame.index = index
    return frame
