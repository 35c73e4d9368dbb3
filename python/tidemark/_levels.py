"""The workflow of tidemark-scan on one series: the levels and the run."""
from __future__ import annotations

from typing import Any, Literal, Optional, Tuple

import pandas as pd

from ._args import _int32, _real
from ._bars import BarsLike, _file, _frame_arrays
from ._library import _native
from ._reading import Bound, ColumnNames, DateOrder, Reading, reading

#: The merge modes of levels and screen (hlop takes any integer, as the export does).
Mode = Literal[0, 1, 2]

_LEVEL_COLUMNS = ("price", "merged_weight", "resized_weight", "fractals")


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


def _analyse(function: str, bars: Any, settings: Settings, count_fractals: bool = True,
             options: Reading = Reading()) -> dict:
    """One series analysed with checked settings (see _settings) and options
    (see _reading)."""
    file = _file(bars)
    if file is not None:
        result = _native.analyse_file(file, *settings, count_fractals, *options)
        dated = True
    else:
        arrays = _frame_arrays(function, bars, options)
        try:
            result = _native.analyse_arrays(
                arrays["time"], arrays["open"], arrays["high"], arrays["low"], arrays["close"], arrays["volume"],
                *settings, count_fractals, options.start, options.end,
            )
        except ValueError as error:
            raise ValueError(f"{function}: {error}") from None
        dated = arrays["dates"] is not None
        # The order the bars came in, as the command says of a file's.
        result["file_order"] = ("newest first" if arrays["newest_first"] else "oldest first") if dated else None
        result["close_column"] = arrays["close_column"]
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
    >>> found
           price  merged_weight  resized_weight  fractals
    index
    0        9.7              2               2         2
    1       12.6              2               2         2
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
    Resize) and fractals (how many fed it). ``attrs`` holds the rest of the
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
