"""One row per symbol: the screen, on the local cores or a dask.distributed
cluster (_cluster)."""
from __future__ import annotations

import concurrent.futures
import os
from collections.abc import Mapping
from typing import Any, Literal, Optional, Tuple, Union

import numpy as np
import pandas as pd

from ._args import _int32
from ._bars import BarsLike, _date_level, _is_path, _level_name, _symbol_levels
from ._levels import Mode, Settings, _analyse, _settings
from ._library import _native


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


def _naming(symbol: Any, error: BaseException) -> BaseException:
    """The error again, its text naming the symbol. An OSError keeps its class,
    errno and filename (a FileNotFoundError stays one)."""
    words = f"screen: symbol {symbol!r}: "
    if isinstance(error, OSError) and error.errno is not None:
        return type(error)(error.errno, words + (error.strerror or ""), error.filename)
    kind = next(kind for kind in _FAILURES if isinstance(error, kind))
    return kind(words + _reason(error))


def _screen_frame(rows: list, keep_errors: bool) -> pd.DataFrame:
    dtypes = _KEPT_DTYPES if keep_errors else _SCREEN_DTYPES
    return pd.DataFrame({name: pd.Series([row.get(name) for row in rows], dtype=dtype) for name, dtype in dtypes.items()})


def _screen_batch(batch: list, settings: Settings, keep_errors: bool) -> pd.DataFrame:
    """The screen rows of a batch of (symbol, bars) pairs, one after another;
    runs on a worker of a cluster too, which reads the files named itself.
    A DataFrame: columns of numbers travel back far faster than rows of
    Python objects."""
    rows = []
    for symbol, bars in batch:
        file = os.fsdecode(bars) if _is_path(bars) else None
        try:
            row = _screen_row(_analyse("screen", bars, settings, count_fractals=False), file)
        except _FAILURES as error:
            if not keep_errors:
                raise _naming(symbol, error) from None
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
    for level in levels:
        # A row without a symbol belongs to none: screening it as a symbol of
        # its own, or with another, would be a guess.
        missing = np.flatnonzero(np.asarray(pd.isna(index.get_level_values(level))))
        if missing.size:
            raise ValueError(f"screen: index level {_level_name(index, level)!r} has no symbol in row "
                             f"{missing[0]} ({index[missing[0]]!r}): drop those rows or give them one")
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
    mode: Mode = 1,
    span: int = 11,
    errors: Literal["raise", "keep"] = "raise",
    batch_size: Optional[int] = None,
) -> pd.DataFrame:
    """One row per symbol with the fields of the command-line screen.

    >>> import pandas as pd
    >>> bars = pd.DataFrame({
    ...     "open": [9.2, 9.9, 11.0, 11.4, 10.0, 10.8, 11.9, 12.0, 11.0, 10.1, 10.5],
    ...     "high": [10.0, 11.0, 12.5, 11.5, 11.0, 12.0, 12.6, 12.0, 11.2, 10.8, 11.5],
    ...     "low": [9.0, 9.8, 11.0, 10.2, 9.6, 10.5, 11.4, 10.9, 10.0, 9.7, 10.1],
    ...     "close": [9.5, 10.9, 11.8, 10.4, 10.8, 11.9, 12.1, 11.0, 10.2, 10.5, 11.2],
    ... }, index=pd.date_range("2024-01-01", periods=11, name="date"))
    >>> rows = screen({"A": bars, "B": bars.iloc[:8]}, depth=1)
    >>> rows[["bars", "last_close", "on_level", "below", "above"]]
            bars  last_close  on_level  below  above
    symbol
    A         11        11.2     False    9.7   12.6
    B          8        11.0     False    9.6   12.6

    ``data`` maps each symbol to a bars DataFrame or a CSV path (see
    ``levels``), or is one DataFrame of many symbols whose index has a date
    level and a symbol level (as ``set_index(["symbol", "date"])`` makes).
    Without ``client`` the symbols run on the local cores; with a
    ``dask.distributed.Client`` they go to that cluster in batches of
    ``batch_size`` symbols (by default about four batches per worker thread),
    whose workers need this package and read the files named themselves. The
    rows come in the order of ``data``.

    Each symbol is analysed as ``levels`` does: ``depth`` is how many
    neighbours on each side a bar's high (low) must top (undercut) to be a
    fractal, 1 to 100000; ``tolerance`` the price distance within which
    levels merge and the close counts as on a level (by default half the
    symbol's mean bar range); ``mode`` what a merge does with the weights, 0
    the heavier keeps its own, 1 they add, 2 they add and the price becomes
    their weighted mean; ``span`` the range the weights are rescaled to, 0
    ... ``span`` - 1.

    The fields: file (the path, if one was given), bars, last_date,
    last_close, on_level (CheckLevel found a level within the tolerance),
    level and level_weight (that level's price and resized weight, or no
    value), below and above (the nearest levels at or below and above the
    close, NaN for none) and distance (from the close to the nearest level,
    in tolerances).

    Raises TypeError (a wrong type) or ValueError (a wrong value) for bad
    options, before any work; TypeError for data of another shape and
    ValueError for a row without a symbol. A symbol whose bars are bad raises
    what ``levels`` raises for them, naming the symbol: ValueError,
    FileNotFoundError (errno and filename kept), MemoryError and so on. With
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
