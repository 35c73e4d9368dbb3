"""The workflow of tidemark-scan on one series: the levels and the run."""
from __future__ import annotations

from typing import Any, Callable, Literal, Optional, Tuple

import pandas as pd

from ._args import _int32, _real
from ._bars import BarsLike, _file, _frame_arrays
from ._fields import LEVEL_DTYPES, READING_DTYPES, WALK_DTYPES
from ._fields import columns as field_columns
from ._library import _native
from ._reading import Bound, ColumnNames, DateOrder, Reading, reading

#: The merge modes of levels and screen (hlop takes any integer, as the export does).
Mode = Literal[0, 1, 2]


#: depth, tolerance (None: the default), mode and span, checked.
Settings = Tuple[int, Optional[float], int, int]


def _settings(function: str, depth: int, tolerance: Optional[float], mode: int, span: int) -> Settings:
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


def _run(function: str, bars: Any, options: Reading, on_file: Callable[..., dict], on_arrays: Callable[..., dict],
         *args: Any) -> Tuple[dict, Optional[dict]]:
    """bars through the extension, args after them: a path read by the
    command's reader (on_file), or a DataFrame's arrays, oldest first
    (on_arrays), whose header stage's close_column and close_only stand in
    the result for the reader's. Returns the result and the arrays (None for
    a path)."""
    file = _file(bars)
    if file is not None:
        return on_file(file, *args, *options), None
    arrays = _frame_arrays(function, bars, options)
    try:
        result = on_arrays(*(arrays[name] for name in ("time", "open", "high", "low", "close", "volume")), *args,
                           options.start, options.end)
    except ValueError as error:
        raise ValueError(f"{function}: {error}") from None
    result["close_column"], result["close_only"] = arrays["close_column"], arrays["close_only"]
    return result, arrays


def _analyse(function: str, bars: Any, settings: Settings, count_fractals: bool = True,
             options: Reading = Reading()) -> dict:
    """One series analysed with checked settings (see _settings) and options
    (see _reading)."""
    result, arrays = _run(function, bars, options, _native.analyse_file, _native.analyse_arrays, *settings,
                          count_fractals)
    if arrays is None:
        dated = result["dated"] = True
    else:
        dated = arrays["dates"] is not None
        result["dated"] = dated
        # The order the bars came in, as the command says of a file's.
        result["file_order"] = ("newest first" if arrays["newest_first"] else "oldest first") if dated else None
    first, last = result.pop("first_time"), result.pop("last_time")
    result["first_date"] = pd.Timestamp(first, unit="s") if dated else None
    result["last_date"] = pd.Timestamp(last, unit="s") if dated else None
    close = result["last_close"]
    close["date"] = pd.Timestamp(close.pop("time"), unit="s") if dated else None
    return result


def _levels_frame(result: dict) -> pd.DataFrame:
    fields = result.pop("levels")
    count = len(fields["index"][1]) if "index" in fields else 0
    found = field_columns(fields, LEVEL_DTYPES, count, result.pop("dated"))
    index = pd.Index(found.pop("index"), name="index")
    frame = pd.DataFrame(found, index=index)
    frame.attrs.update(result)
    return frame


def levels(
    bars: BarsLike,
    depth: int = 2,
    tolerance: Optional[float] = None,
    mode: Mode = 1,
    span: int = 11,
    *,
    dates: Optional[DateOrder] = None,
    columns: Optional[ColumnNames] = None,
    symbol: Optional[str] = None,
    start: Optional[Bound] = None,
    end: Optional[Bound] = None,
) -> pd.DataFrame:
    """The levels that ``tidemark-scan --json`` finds in the same bars.

    >>> import pandas as pd
    >>> bars = pd.DataFrame({
    ...     "open": [9.2, 9.9, 11.0, 11.4, 10.0, 10.8, 11.9, 12.0, 11.0, 10.1, 10.5],
    ...     "high": [10.0, 11.0, 12.5, 11.5, 11.0, 12.0, 12.6, 12.0, 11.2, 10.8, 11.5],
    ...     "low": [9.0, 9.8, 11.0, 10.2, 9.6, 10.5, 11.4, 10.9, 10.0, 9.7, 10.1],
    ...     "close": [9.5, 10.9, 11.8, 10.4, 10.8, 11.9, 12.1, 11.0, 10.2, 10.5, 11.2],
    ... }, index=pd.date_range("2024-01-01", periods=11, name="date"))
    >>> found = levels(bars, depth=1)
    >>> found[["price", "merged_weight", "resized_weight", "fractals"]]
           price  merged_weight  resized_weight  fractals
    index
    0        9.7              2               2         2
    1       12.6              2               2         2
    >>> found[["formed_date", "touches", "held", "broke", "bars_since_touch"]]
          formed_date  touches  held  broke  bars_since_touch
    index
    0      2024-01-06        3     3      0                 0
    1      2024-01-04        3     3      0                 3
    >>> round(found.attrs["tolerance"], 4), found.attrs["last_close"]["below"]
    (0.6318, 9.7)

    ``bars`` is a DataFrame with columns open, high, low, close (named as the
    reader's header stage reads a file's header; volume optional) and
    dates, oldest or newest first: in a DatetimeIndex, a date column, an
    index of text dates (as ``read_csv(index_col="date")`` leaves it) or the
    date level of a MultiIndex (whose other levels must hold one symbol:
    screen takes many); text, numbers and tz-aware moments are read by the
    reader's date stage, as a file's. Nullable dtypes are fine without
    missing values. Or ``bars`` is the path of a CSV file (str, bytes or
    os.PathLike), read by the command's own reader. ``dates``, ``columns``,
    ``symbol``, ``start`` and ``end`` are the command's reading options (see
    ``read_bars``).

    The workflow is the command's own, compiled in: the fractals of every
    bar with ``depth`` neighbours on each side (1 to 100000), merged by Hlop
    at ``tolerance`` (a price distance; by default half the mean bar range)
    with ``mode`` 0 (the heavier level keeps its weight), 1 (the weights
    add) or 2 (they add and the price becomes their weighted mean), and the
    weights rescaled by Resize to 0 ... ``span`` - 1.

    Returns one row per level in ascending price, indexed by the level's
    index: price, merged_weight (as Hlop wrote it), resized_weight (after
    Resize) and fractals (how many fed it); and its track record:
    formed_date (the bar that confirmed the first fractal that fed it),
    last_fractal_date (the bar of the latest), touches (later bars whose
    range came within the tolerance of it), held and broke (of those, the
    ones that closed on the side they came from, and through it by more
    than the tolerance) and bars_since_touch (no value without a touch);
    the dates have no value for bars without dates. The exact rules are in
    docs/scan.md (The track record). ``attrs`` holds the rest of the
    run under the names of the command's JSON: tolerance, mean_bar_range,
    up_fractals, down_fractals, candidates, first_date, last_date, and
    last_close (its price, date, level_index from CheckLevel, below, above,
    distance), among others, and what the reader passed over
    (bars_in_file, duplicates_dropped, null_rows_skipped, unknown_volumes,
    other_symbol_rows, close_column).
    Read CSVs with ``read_bars`` (or pandas' ``float_precision="round_trip"``)
    to get the command's prices bit for bit.

    Raises TypeError for bars that are neither a DataFrame nor a path, or
    options of the wrong type (``True`` is no tolerance); ValueError for bad
    options, bars that break the reader's rules (the message names the row,
    or the file and line) or a name with a NUL byte; FileNotFoundError,
    IsADirectoryError or PermissionError for a path that cannot be opened,
    as open() raises them; MemoryError for bars too many for memory.
    """
    settings = _settings("levels", depth, tolerance, mode, span)
    options = reading("levels", dates, columns, symbol, start, end)
    return _levels_frame(_analyse("levels", bars, settings, True, options))


def walk(
    bars: BarsLike,
    window: Optional[int] = None,
    depth: int = 2,
    tolerance: Optional[float] = None,
    mode: Mode = 1,
    span: int = 11,
    *,
    dates: Optional[DateOrder] = None,
    columns: Optional[ColumnNames] = None,
    symbol: Optional[str] = None,
    start: Optional[Bound] = None,
    end: Optional[Bound] = None,
) -> pd.DataFrame:
    """The levels as they stood at every bar's close, from the bars up to it
    alone: a backtest without look-ahead (``tidemark-scan --walk``).

    >>> import pandas as pd
    >>> bars = pd.DataFrame({
    ...     "open": [9.2, 9.9, 11.0, 11.4, 10.0, 10.8, 11.9, 12.0, 11.0, 10.1, 10.5],
    ...     "high": [10.0, 11.0, 12.5, 11.5, 11.0, 12.0, 12.6, 12.0, 11.2, 10.8, 11.5],
    ...     "low": [9.0, 9.8, 11.0, 10.2, 9.6, 10.5, 11.4, 10.9, 10.0, 9.7, 10.1],
    ...     "close": [9.5, 10.9, 11.8, 10.4, 10.8, 11.9, 12.1, 11.0, 10.2, 10.5, 11.2],
    ... }, index=pd.date_range("2024-01-01", periods=11, name="date"))
    >>> rows = walk(bars, depth=1)
    >>> rows[["close", "level_count", "on_level", "level", "below", "above"]].iloc[2:9]
                close  level_count  on_level  level  below  above
    date
    2024-01-03   11.8         <NA>      <NA>    NaN    NaN    NaN
    2024-01-04   10.4            1     False    NaN    NaN   12.5
    2024-01-05   10.8            1     False    NaN    NaN   12.5
    2024-01-06   11.9            2      True   12.5    9.6   12.5
    2024-01-07   12.1            2      True   12.5    9.6   12.5
    2024-01-08   11.0            2     False    NaN    9.6   12.6
    2024-01-09   10.2            2      True    9.6    9.6   12.6

    The high of 12.5 on January 3rd is a fractal of depth 1 only once the
    next bar's high is lower: it is a level from January 4th on, not before;
    the low of 9.6 on the 5th, from the 6th.

    ``bars``, the settings ``depth``, ``tolerance``, ``mode`` and ``span``,
    and the reading options ``dates``, ``columns``, ``symbol``, ``start``
    and ``end`` are those of ``levels``. At each bar t the levels come from
    bars 0 ... t only (or the last ``window`` of them): a fractal counts from
    the bar that confirms it, ``depth`` bars after its own, and the default
    tolerance (half the mean bar range), the merge and the rescale come from
    those bars alone. Each row equals, bit for bit, what ``levels`` gives
    for the same bars cut at that bar.

    Returns one row per bar, on the bars' own index and in their order (a
    path's bars: on their dates, oldest first), so that ``bars.join(rows)``
    lines them up. The columns: date, close, bars (in view), tolerance,
    level_count, on_level (CheckLevel found a level within the tolerance of
    the close), level and level_weight (that level's price and weight after
    Resize), below, below_weight, above, above_weight (the nearest levels at
    or below and above the close), distance_price and distance (to the
    nearest level, in prices and in tolerances). A level that is not there
    has no value. The walk starts at the first bar that has a level: the
    bars before it (at least ``2 * depth``, or all of them when ``window``
    is shorter than ``2 * depth + 1``, which never holds a fractal) have
    their date and close and no value (``<NA>``, NaN) in the other columns.
    ``attrs`` says what the reader passed over, as for ``levels``.

    Raises what ``levels`` raises, and TypeError or ValueError for a
    ``window`` that is not a whole number of bars, 1 or more.
    """
    settings = _settings("walk", depth, tolerance, mode, span)
    options = reading("walk", dates, columns, symbol, start, end)
    size = 0 if window is None else _int32("walk", "window", window, low=1)
    result, arrays = _run("walk", bars, options, _native.walk_file, _native.walk_arrays, *settings, size)
    moments = result["time"].astype("datetime64[s]").astype("datetime64[ns]")
    newest_first = False
    if arrays is None:
        dated = True
        labels: Any = pd.DatetimeIndex(moments, name="date")
    else:
        dated = arrays["dates"] is not None
        newest_first = arrays["newest_first"]
        # The bars walked, oldest first, are a run of those given.
        oldest_first = arrays["index"][::-1] if newest_first else arrays["index"]
        labels = oldest_first[result["offset"]:result["offset"] + len(result["time"])]
    count, first = len(result["time"]), result["first_bar"]
    rows = pd.DataFrame(field_columns(result["rows"], WALK_DTYPES, count - first, dated), index=pd.RangeIndex(first, count))
    rows = rows.reindex(pd.RangeIndex(count))
    # The bars before the first level have their own date and close.
    rows["close"] = result["close"]
    if dated:
        rows["date"] = moments
    rows.index = labels
    if newest_first:
        rows = rows.iloc[::-1]
    rows.attrs.update({name: result[name] for name in READING_DTYPES})
    return rows

