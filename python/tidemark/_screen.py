"""One row per symbol: the screen, on the local cores or a dask.distributed
cluster (_cluster)."""
from __future__ import annotations

import concurrent.futures
import functools
import os
from collections.abc import Mapping
from typing import Any, Iterable, Iterator, Literal, Optional, Tuple, Union

import numpy as np
import pandas as pd

from ._args import _int32
from ._bars import BarsLike, _file, _frame_columns, _is_path, _select_symbol
from ._cluster import csv_files, is_dask_frame, run_on_cluster, screen_dask
from ._fields import READING_DTYPES, WALK_DTYPES
from ._fields import columns as field_columns
from ._levels import Mode, Settings, _settings
from ._library import _native
from ._reading import Bound, ColumnNames, DateOrder, Reading, reading
from ._tables import Pack, is_wide, pack_frames, pack_table, pack_wide, symbol_source


# The screen's columns and their dtypes. A row has no level_weight when the
# close is on no level. With errors="keep", a symbol that failed has no value
# in most columns: bars and on_level are then pandas' nullable integer and
# boolean, whether or not a symbol failed, so that the dtypes do not depend
# on the data (and rows[rows.on_level] takes the symbols on a level).
_ROW_DTYPES = {
    "bars": "int64", "last_date": "datetime64[ns]", "last_close": "float64", "on_level": "bool",
    "level": "float64", "level_weight": "Int64", "below": "float64", "above": "float64", "distance": "float64",
}
# The counts, nullable with errors="keep".
_COUNTS = ("bars",) + tuple(name for name, dtype in READING_DTYPES.items() if dtype == "int64")

# What one symbol's data can raise; anything else is a fault of the package.
_FAILURES = (MemoryError, TypeError, ValueError, OSError)


def _dtypes(keep: bool, walk: Optional[int]) -> dict:
    """The columns of a screen's rows: the screen's own, or the walk's last
    row (walk: its window, 0 for all bars); with keep, an error column."""
    dtypes = {"file": "object", **(WALK_DTYPES if walk is not None else _ROW_DTYPES), **READING_DTYPES}
    if keep:
        dtypes.update({name: "Int64" for name in _COUNTS}, on_level="boolean", close_only="boolean", error="object")
    return dtypes


def _reason(error: BaseException) -> str:
    """An error's text, never empty, without the "screen: " that the row it
    goes to (or the message that names the symbol) already says."""
    if isinstance(error, MemoryError) and not str(error):
        return _native.NO_MEMORY
    text = str(error) or type(error).__name__
    return text[len("screen: "):] if text.startswith("screen: ") else text


def _naming(symbol: Any, error: BaseException) -> BaseException:
    """The error again, its text naming the symbol. An OSError keeps its class,
    errno and filename (a FileNotFoundError stays one)."""
    words = f"screen: symbol {symbol!r}: "
    if isinstance(error, OSError) and error.errno is not None:
        return type(error)(error.errno, words + (error.strerror or ""), error.filename)
    kind = next(kind for kind in _FAILURES if isinstance(error, kind))
    return kind(words + _reason(error))


def _rows_frame(result: dict, errors: list, keep: bool, walk: Optional[int], dated: Any = True,
               first: Optional[dict] = None, files: Optional[list] = None, close_columns: Optional[list] = None,
               skipped: Optional[np.ndarray] = None) -> pd.DataFrame:
    """The rows of a batch, from the fields the extension gave for its series
    (errors: None, or the error of a series that failed). first: columns to
    put before the screen's own; files: the path of each series, if any;
    close_columns, skipped: what a DataFrame's header stage and a wide
    table's rows of nothing add to the reader's."""
    n = len(errors)
    dtypes = _dtypes(keep, walk)
    found = field_columns(result, {name: dtype for name, dtype in dtypes.items() if name not in ("file", "error")},
                          n, dated)
    # Arrays, not Series: a DataFrame of Series aligns them, which costs more
    # than a small batch's analysis.
    columns: dict = dict(first or {})
    columns["file"] = np.full(n, None, dtype=object)
    if files is not None:
        columns["file"][:] = files
    if close_columns is not None:
        # A DataFrame's are its header stage's.
        found["close_column"] = np.empty(n, dtype=object)
        found["close_column"][:] = [None if error is not None else name for error, (name, _) in zip(errors, close_columns)]
        only = np.array([bool(only) for _, only in close_columns], dtype=bool)
        failed = np.array([error is not None for error in errors], dtype=bool)
        found["close_only"] = pd.arrays.BooleanArray(only, failed) if keep else only
    if skipped is not None:
        found["null_rows_skipped"] = found["null_rows_skipped"] + skipped
    columns.update(found)
    if keep:
        columns["error"] = np.array([None if error is None else _reason(error) for error in errors], dtype=object)
    return pd.DataFrame(columns, copy=False)


def _screen_files(batch: list, settings: Settings, keep: bool, options: Reading = Reading(),
                  walk: Optional[int] = None) -> pd.DataFrame:
    """The screen rows of a batch of (symbol, path) pairs, from one call of
    the extension; runs on a worker of a cluster too, which reads the files
    named itself. A DataFrame: columns of numbers travel back far faster
    than rows of Python objects."""
    names: list = []
    errors: list = [None] * len(batch)
    for k, (symbol, path) in enumerate(batch):
        try:
            names.append(_file(path))
        except _FAILURES as error:
            names.append(None)
            errors[k] = _failure(keep, symbol, error)
    result = _native.screen_files(names, *settings, -1 if walk is None else walk, *options)
    for k, fault in enumerate(result["fault"]):
        if fault is not None:
            memory, what = fault
            errors[k] = _failure(keep, batch[k][0], MemoryError(what) if memory else ValueError(what))
    return _rows_frame(result["fields"], errors, keep, walk, files=[os.fsdecode(path) for _, path in batch])


def _failure(keep: bool, symbol: Any, error: BaseException) -> BaseException:
    """A symbol's failure: raised, naming the symbol, or kept for its row."""
    if not keep:
        raise _naming(symbol, error) from None
    return error


def _screen_pack(pack: Pack, settings: Settings, keep_errors: bool, first: Optional[dict] = None,
                 options: Reading = Reading(), walk: Optional[int] = None) -> pd.DataFrame:
    """The screen rows of a pack's series, in its order, from one call of the
    extension; runs on a worker of a cluster too. first: columns to put
    before the screen's own."""
    bars = pack.columns
    result = _native.screen_series(pack.offsets, pack.time, pack.dated, bars["open"], bars["high"], bars["low"],
                                   bars["close"], bars["volume"], *settings, -1 if walk is None else walk,
                                   options.start, options.end)
    errors: list = [None] * len(pack)
    for k, fault in enumerate(result["fault"]):
        if k in pack.failed:
            errors[k] = pack.failed[k]
        elif fault is not None:
            row, what = fault
            error: BaseException = (ValueError(f"row {pack.label(k, row)!r}: {what}") if row >= 0 or what !=
                                    _native.NO_MEMORY else MemoryError(what))
            errors[k] = _failure(keep_errors, pack.symbols[k], error)
    return _rows_frame(result["fields"], errors, keep_errors, walk, pack.dated, first,
                       close_columns=pack.close_columns, skipped=pack.skipped)


def _screen_work(work: Any, settings: Settings, keep: bool, options: Reading = Reading(),
                 walk: Optional[int] = None) -> pd.DataFrame:
    """One piece of a screen: a pack, or (symbol, path) pairs."""
    if isinstance(work, Pack):
        return _screen_pack(work, settings, keep, None, options, walk)
    return _screen_files(work, settings, keep, options, walk)


def _result_index(symbols: list, names: list) -> pd.Index:
    if len(names) == 1:
        return pd.Index(symbols, name=names[0], tupleize_cols=False)
    return pd.MultiIndex.from_tuples(symbols, names=names)


def _mapping_work(data: Mapping, size: int, keep: bool, options: Reading) -> Iterator[Tuple[list, Any]]:
    """The pieces of a screen of a mapping, each with the positions of its
    symbols: paths in batches the workers read, DataFrames packed a batch at
    a time (each packed as it is reached, so that the work on the last can
    already run)."""
    symbols = list(data.keys())
    paths = [i for i, symbol in enumerate(symbols) if _is_path(data[symbol])]
    frames = [i for i, symbol in enumerate(symbols) if not _is_path(data[symbol])]
    for start in range(0, len(paths), size):
        chosen = paths[start:start + size]
        yield chosen, [(symbols[i], data[symbols[i]]) for i in chosen]
    for start in range(0, len(frames), size):
        chosen = frames[start:start + size]
        yield chosen, pack_frames("screen", ((symbols[i], data[symbols[i]]) for i in chosen),
                                  functools.partial(_failure, keep), options)


def _split(pack: Pack, size: int) -> Iterator[Tuple[list, Pack]]:
    """A pack in pieces of `size` series, with their positions."""
    for start in range(0, len(pack), size):
        end = min(start + size, len(pack))
        begin, stop = int(pack.offsets[start]), int(pack.offsets[end])
        yield list(range(start, end)), Pack(
            pack.symbols[start:end], pack.offsets[start:end + 1] - begin, pack.time[begin:stop],
            pack.dated[start:end], {name: values[begin:stop] for name, values in pack.columns.items()},
            None if pack.labels is None else pack.labels[begin:stop],
            {k - start: error for k, error in pack.failed.items() if start <= k < end},
            pack.close_columns[start:end], pack.skipped[start:end])


def screen(
    data: Union[Mapping[Any, BarsLike], pd.DataFrame],
    client: Any = None,
    depth: int = 2,
    tolerance: Optional[float] = None,
    mode: Mode = 1,
    span: int = 11,
    errors: Literal["raise", "keep"] = "raise",
    batch_size: Optional[int] = None,
    *,
    dates: Optional[DateOrder] = None,
    columns: Optional[ColumnNames] = None,
    symbol: Optional[str] = None,
    start: Optional[Bound] = None,
    end: Optional[Bound] = None,
    walk: bool = False,
    window: Optional[int] = None,
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
    ``levels``), or is one table of many symbols: a long DataFrame with a
    symbol column (named symbol, ticker or instrument) or a MultiIndex of a
    date level and symbol levels (as ``set_index(["symbol", "date"])``
    makes); a wide DataFrame with (field, symbol) or (symbol, field) columns
    on shared dates (a row whose prices are all missing is no bar of that
    symbol); or a dask DataFrame with a symbol column or index, screened
    partition by partition in the tasks that compute them (a symbol whose
    rows lie in several partitions is put together from all of them); a
    dask DataFrame that is exactly ``dask.dataframe.read_csv`` of whole
    files, the path as the symbol (``include_path_column=``), is read by the
    command's reader instead, as paths are (docs/python.md says when).
    Without ``client`` the symbols run on the local cores; with a
    ``dask.distributed.Client`` they go to that cluster in batches of
    ``batch_size`` symbols (by default about four batches per worker thread),
    whose workers need this package and read the files named themselves;
    DataFrames go as packed arrays. The rows come in the order of ``data``
    (of a table: in the order its symbols first appear).

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

    With ``walk=True`` each row is instead the walk's row at the symbol's
    last bar, with the columns of ``walk`` (and ``window`` as ``walk``
    takes it): what a backtest of ``walk``'s rows would see today. It is
    the one-shot analysis of the bars in view, so without a window its
    fields are the screen's own (close for last_close, date for last_date).

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
    options = reading("screen", dates, columns, symbol, start, end)
    if batch_size is not None:
        batch_size = _int32("screen", "batch_size", batch_size, low=1)
    if not isinstance(walk, (bool, np.bool_)):
        raise TypeError(f"screen: walk must be True or False, got {type(walk).__name__}")
    if window is not None and not walk:
        raise ValueError("screen: window is the walk's: pass walk=True with it")
    last_row = (0 if window is None else _int32("screen", "window", window, low=1)) if walk else None
    if client is not None and not all(hasattr(client, name) for name in ("map", "gather", "nthreads", "scatter")):
        raise TypeError(f"screen: client must be a dask.distributed Client, got {type(client).__name__}")
    keep = errors == "keep"
    threads = (os.cpu_count() or 1) if client is None else (sum(client.nthreads().values()) or 1)

    def batch(count: int) -> int:
        # A few batches per thread: few enough that the cost of a task is
        # nothing beside its work, enough that the threads finish together.
        return batch_size or max(1, -(-count // (4 * threads)))

    paths_read = False
    if is_dask_frame(data):
        files = _read_csv_files(data, options)
        if files is None:
            return screen_dask(data, client, settings, keep, batch, options, last_row)
        # Read as screen() reads paths; the symbol chosen is a path, which
        # the files do not hold.
        data, names, paths_read = files[0], files[1], True
        options = options._replace(symbol=None)
    if isinstance(data, Mapping):
        symbols, names = list(data.keys()), names if paths_read else ["symbol"]
        work: Iterable[Tuple[list, Any]] = _mapping_work(data, batch(len(symbols)), keep, options)
    elif isinstance(data, pd.DataFrame):
        pack, names = _pack_frame(data, keep, options)
        symbols = pack.symbols
        work = _split(pack, batch(len(pack)))
    else:
        raise TypeError(f"screen: data must map symbols to bars, or be a DataFrame (or dask DataFrame) of many "
                        f"symbols, got {type(data).__name__}")
    if client is None:
        with concurrent.futures.ThreadPoolExecutor(max_workers=threads) as pool:
            futures = [(positions, pool.submit(_screen_work, piece, settings, keep, options, last_row))
                       for positions, piece in work]
            done = [(positions, future.result()) for positions, future in futures]
    else:
        done = run_on_cluster(client, work, _screen_work, settings, keep, options, last_row)
    rows = _assemble(done, len(symbols), _result_index(symbols, names), keep, last_row)
    if paths_read:
        # As the rows of the same DataFrame screened partition by partition.
        rows["file"] = None
    return rows


def _read_csv_files(data: Any, options: Reading) -> Optional[Tuple[dict, list]]:
    """The files of a dask DataFrame that is dask's read_csv of whole files,
    their paths the symbols (csv_files), as {symbol: path} with the name of
    the symbol column; only those of the symbol chosen. None for any other
    dask DataFrame."""
    source = symbol_source("screen", data._meta, options.columns)
    if source is None or source[0] != "column":
        return None
    files = csv_files(data, source[1])
    if files is None:
        return None
    if options.symbol is not None:
        files = {symbol: path for symbol, path in files.items() if str(symbol) == options.symbol}
    return files, source[2]


def _assemble(done: list, count: int, index: pd.Index, keep: bool, walk: Optional[int] = None) -> pd.DataFrame:
    """The rows of the pieces, in the order of the symbols."""
    if not done:
        frame = _rows_frame({}, [], keep, walk)
    else:
        frame = pd.concat([rows for _, rows in done], ignore_index=True)
        order = np.concatenate([np.asarray(positions, dtype=np.int64) for positions, _ in done])
        frame = frame.iloc[np.argsort(order, kind="stable")].reset_index(drop=True)
    assert len(frame) == count
    frame.index = index
    return frame


def _pack_frame(data: pd.DataFrame, keep: bool, options: Reading) -> Tuple[Pack, list]:
    """A DataFrame of many symbols as a pack, with the names of its symbols."""
    if is_wide(data):
        return pack_wide("screen", data, functools.partial(_failure, keep), options), ["symbol"]
    source = symbol_source("screen", data, options.columns)
    if source is None:
        raise ValueError("screen: a DataFrame of many symbols needs a symbol column (symbol, ticker or "
                         "instrument), a MultiIndex with a date level (datetimes, or named date, datetime, time or "
                         "timestamp) and a symbol level, or (field, symbol) columns; or pass a mapping of symbols "
                         "to bars")
    if options.symbol is not None:
        data = _select_symbol("screen", data, options.symbol, _frame_columns("screen", data, options.columns))
    return pack_table("screen", data, source, options), source[2]
