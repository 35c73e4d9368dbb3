"""The workflow of tidemark-scan on one series: the levels and the run."""
from __future__ import annotations

from typing import Any, Optional

import pandas as pd

from ._args import _int32, _real
from ._bars import BarsLike, _file, _frame_arrays
from ._library import _native

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
