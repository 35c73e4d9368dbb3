"""Bars from DataFrames and files: the layouts of pandas tables a user has,
their dates read by the reader's own rules, and the host's record layout."""
from __future__ import annotations

import datetime
import functools
import os
from typing import Any, Optional, Tuple, Union

import numpy as np
import pandas as pd

from ._args import _floats
from ._exports import BAR_RECORD
from ._fields import READING_DTYPES
from ._library import _native
from ._reading import Bound, ColumnNames, DateOrder, Reading, reading

#: A file's name as open() takes it.
Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
#: What levels and screen take for one symbol's bars.
BarsLike = Union[pd.DataFrame, Path]

_DATE_COLUMNS = ("date", "datetime", "time", "timestamp")
_PRICE_COLUMNS = ("open", "high", "low", "close")


def _is_path(bars: Any) -> bool:
    return isinstance(bars, (str, bytes, os.PathLike))


def _file(bars: Any) -> Optional[bytes]:
    """The name of a file of bars as the reader takes it, or None when bars
    are not a path. Bytes: a name that is not UTF-8 opens as any other.

    open() has its say first, so that a missing file, a folder or a name with
    a NUL byte (which the reader would cut short, and read another file)
    raise as open() and read_csv raise them: FileNotFoundError,
    IsADirectoryError, PermissionError with errno and filename set, or
    ValueError: embedded null byte."""
    if not _is_path(bars):
        return None
    with open(bars, "rb"):
        pass
    return os.fsencode(bars)


def read_bars(
    path: Path,
    *,
    dates: Optional[DateOrder] = None,
    columns: Optional[ColumnNames] = None,
    symbol: Optional[str] = None,
    start: Optional[Bound] = None,
    end: Optional[Bound] = None,
) -> pd.DataFrame:
    """The bars of a CSV file, read exactly as ``tidemark-scan`` reads them.

    Returns a DataFrame with a DatetimeIndex ``date`` (UTC, naive) and float64
    columns open, high, low, close and volume (0 without a volume column),
    oldest first. The command's options, as keywords: ``dates`` the
    day-month order of numeric dates ("mdy", "dmy", "ymd", or "serial" for
    a spreadsheet's day numbers), ``columns`` the names of columns the
    reader does not know ({"date": "Datum", "close": "Schluss"}),
    ``symbol`` the symbol to read from a file of several, ``start`` and
    ``end`` the first and last date kept (a date alone as ``end`` keeps that
    whole day). ``attrs`` says what the reader passed over:
    duplicates_dropped, null_rows_skipped, unknown_volumes, other_symbol_rows,
    close_column (the close's name when the file's only close is adjusted)
    and bars_in_file (before start and end).

    Raises ValueError naming the file and line for a bad file (or the
    keyword for a bad option); FileNotFoundError, IsADirectoryError or
    PermissionError as open() raises them; MemoryError for a file too large
    for memory.
    """
    options = reading("read_bars", dates, columns, symbol, start, end)
    file = _file(path)
    if file is None:
        raise TypeError(f"read_bars: path must be a str, bytes or os.PathLike, got {type(path).__name__}")
    bars = _native.read_bars(file, *options)
    frame = pd.DataFrame(
        {name: bars[name] for name in ("open", "high", "low", "close", "volume")},
        index=pd.DatetimeIndex(pd.to_datetime(bars["time"], unit="s"), name="date"),
    )
    frame.attrs.update({key: bars[key] for key in READING_DTYPES})
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


def _texts_of_moments(values: Any) -> list:
    """Tz-aware moments as the text a file would hold for them: the local
    time with its offset (2024-01-02T00:00:00+0900)."""
    moments = pd.DatetimeIndex(values)
    return list(moments.strftime("%Y-%m-%dT%H:%M:%S%z"))


def _dates(function: str, values: Any, where: str, rows: Any, order: str = "") -> pd.DatetimeIndex:
    """Dates from an index, an index level or a column: naive datetimes as
    they are; text, numbers and tz-aware moments by the reader's own date
    stage, as the command reads the same characters in a file (so 20200102
    is a date, YYYYMMDD; 1577923200 seconds since 1970; 27/02/2003 settles
    the column's day-month order, which `order` may give instead; local
    midnights keep their written dates). rows names the rows in messages."""
    if isinstance(values, pd.DatetimeIndex) and values.tz is None:
        return values
    if values.dtype.kind == "M" and not isinstance(values.dtype, pd.DatetimeTZDtype):
        return pd.DatetimeIndex(values)
    missing = np.flatnonzero(np.asarray(pd.isna(values)))
    if missing.size and (values.dtype.kind in "iufOSU" or isinstance(values.dtype, pd.DatetimeTZDtype)):
        # Text or numbers with a gap: still dates, one of which is missing.
        raise ValueError(f"{function}: a date is missing (row {rows[missing[0]]!r})")
    if isinstance(values.dtype, pd.DatetimeTZDtype):
        texts = _texts_of_moments(values)
    elif values.dtype.kind in "iuf":
        whole = values.dtype.kind in "iu"
        texts = [str(v) if whole else np.format_float_positional(v, trim="-") for v in np.asarray(values)]
    elif _is_text(values):
        texts = list(values)
    else:
        try:
            moments = pd.DatetimeIndex(pd.to_datetime(values))
        except (ValueError, TypeError, OverflowError) as error:
            raise ValueError(f"{function}: {where} does not hold dates: {error}") from None
        if moments.tz is None:
            return moments
        texts = _texts_of_moments(moments)
    seconds, _, fault = _native.read_dates(texts, order)
    if fault is not None or seconds is None:
        row, why = fault or (0, "no dates")
        raise ValueError(f"{function}: {where}, row {rows[row]!r}: {why}")
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


def _frame_dates(function: str, frame: pd.DataFrame, many: bool = False, order: str = "",
                 roles: Optional[dict] = None) -> Optional[pd.DatetimeIndex]:
    """The dates of a frame's rows, or None when it has none. many: the
    frame may hold many symbols (in other index levels or a column). order:
    the day-month order of numeric dates, as the dates option gives it."""
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
        for other in [] if many else _symbol_levels(index):
            count = index.get_level_values(other).nunique(dropna=False)
            if count > 1:
                name = _level_name(index, other)
                raise ValueError(
                    f"{function}: the index has a level {name!r} of {count} values besides the dates: pass the "
                    f"bars of one (frame.xs(key, level={name!r})), or screen(frame) to screen each")
        dates = _dates(function, index.get_level_values(level), f"index level {_level_name(index, level)!r}", rows,
                       order)
    elif isinstance(index, pd.DatetimeIndex):
        dates = _dates(function, index, "the index", rows, order)
    else:
        roles = _frame_columns(function, frame) if roles is None else roles
        if "date" in roles:
            column = roles["date"]
            values = frame[column]
            if "time" in roles:
                # A date and a time of day apart, joined as the reader joins them.
                values = values.astype(str) + " " + frame[roles["time"]].astype(str)
            dates = _dates(function, values, f"column {column!r}", index, order)
        # An index of dates as read_csv(index_col="date") leaves them, text,
        # or as index.date leaves them, objects.
        if dates is None and (_is_date_name(index.name) or (
                index.name is None and _first_kind(index, (str, datetime.date, np.datetime64)))):
            dates = _dates(function, index, "the index", rows, order)
    if dates is None:
        return None
    if np.isnat(dates.values).any():
        raise ValueError(f"{function}: a date is missing (row {frame.index[np.flatnonzero(dates.isna())[0]]!r})")
    return dates


def _frame_columns(function: str, frame: Any, columns: Optional[str] = None) -> dict:
    """The columns the bars are read from, {role: column label}, mapped by
    the reader's header stage as a file's header is (columns: the user's
    names for them); close_column is the close's name when it is the
    table's only, adjusted, close."""
    labels = list(frame.columns)
    try:
        found, close_column, close_only = _header_roles(tuple(str(label) for label in labels), columns or "")
    except ValueError as error:
        raise ValueError(f"{function}: {error}") from None
    roles = {role: labels[at] for role, at in found}
    roles["close_column"] = close_column
    roles["close_only"] = close_only
    return roles


@functools.lru_cache(maxsize=256)
def _header_roles(names: Tuple[str, ...], columns: str) -> Tuple[Tuple[Tuple[str, int], ...], Optional[str], bool]:
    """The header stage's roles of names, (role, position) pairs; the
    close's name when it is the only close but not named close; whether
    the close is the only price (each bar's open, high and low are then its
    close): the same for every frame of a screen that shares its columns,
    so asked once."""
    found = _native.frame_columns(list(names), columns, True)
    close_column, close_only = found.pop("close_column"), found.pop("close_only")
    return tuple(found.items()), close_column, close_only


def _select_symbol(function: str, frame: pd.DataFrame, symbol: Optional[str], roles: dict) -> pd.DataFrame:
    """The rows of one symbol of a table, as --symbol reads a file's."""
    if symbol is None:
        return frame
    if "symbol" in roles:
        keys = frame[roles["symbol"]]
    elif isinstance(frame.index, pd.MultiIndex) and len(_symbol_levels(frame.index)) == 1:
        keys = pd.Series(frame.index.get_level_values(_symbol_levels(frame.index)[0]), index=frame.index)
    else:
        raise ValueError(f"{function}: symbol={symbol!r}, but the bars have no symbol column or index level")
    chosen = frame[(keys.astype(str) == symbol).to_numpy()]
    if len(chosen) == 0:
        raise ValueError(f"{function}: no row has the symbol {symbol!r} chosen by symbol=")
    return chosen


def _frame_arrays(function: str, frame: Any, options: Reading = Reading()) -> dict:
    """The columns of a bars DataFrame as the library's arrays, oldest first."""
    if not isinstance(frame, pd.DataFrame):
        raise TypeError(f"{function}: bars must be a pandas DataFrame or a CSV path, got {type(frame).__name__}")
    by_name = _frame_columns(function, frame, options.columns)
    frame = _select_symbol(function, frame, options.symbol, by_name)
    if len(frame) == 0:
        raise ValueError(f"{function}: no bars")
    columns = {}
    for name in _PRICE_COLUMNS + ("volume",):
        if name not in by_name:
            columns[name] = np.zeros(len(frame))
            continue
        # The Series itself, so that a nullable dtype's missing value is named by its row.
        columns[name] = np.ascontiguousarray(_floats(function, name, frame[by_name[name]]))
    dates: Any = _frame_dates(function, frame, order=options.dates or "", roles=by_name)
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
    arrays: dict[str, Any] = {name: np.ascontiguousarray(values) for name, values in columns.items()}
    arrays["time"] = np.ascontiguousarray(time)
    arrays["dates"] = dates
    arrays["newest_first"] = newest_first
    # The rows' own labels, in the frame's order.
    arrays["index"] = frame.index
    arrays["close_column"] = by_name["close_column"]
    arrays["close_only"] = by_name["close_only"]
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
