"""Many symbols' bars as one pack of arrays: from a mapping of DataFrames, a
long table (a symbol column or index level beside the dates) or a wide one
((field, symbol) columns). A screen analyses a pack in one call of the
extension, and a cluster gets a few arrays rather than a DataFrame per symbol."""
from __future__ import annotations

from typing import Any, Iterable, List, Optional, Sequence, Tuple

import numpy as np
import pandas as pd

from ._reading import Reading
from ._bars import _PRICE_COLUMNS, _date_level, _frame_arrays, _frame_columns, _frame_dates, _level_name

_FIELDS = _PRICE_COLUMNS + ("volume",)
# What a symbol index is called (any case); a column, the reader tells.
_SYMBOL_NAMES = ("symbol", "ticker", "instrument")


class Pack:
    """The bars of many series: series k is rows offsets[k] to
    offsets[k + 1] - 1 of each column, oldest or newest first as given
    (dated[k]: it has times). labels names the rows in messages (None once
    they are checked); failed holds, by series, what went wrong before the
    series could be packed (it then has no rows)."""

    __slots__ = ("symbols", "offsets", "time", "dated", "columns", "labels", "failed", "close_columns", "skipped")

    def __init__(self, symbols: List[Any], offsets: np.ndarray, time: np.ndarray, dated: np.ndarray,
                 columns: dict, labels: Optional[pd.Index] = None, failed: Optional[dict] = None,
                 close_columns: Optional[list] = None, skipped: Optional[np.ndarray] = None) -> None:
        self.symbols = symbols
        self.offsets = offsets
        self.time = time
        self.dated = dated
        self.columns = columns
        self.labels = labels
        self.failed = failed or {}
        # Per series: what the header stage said of its close, (its name
        # when it is the only close but not named close, whether it is the
        # only price); rows of missing prices skipped (a wide table's).
        self.close_columns = close_columns if close_columns is not None else [(None, False)] * len(symbols)
        self.skipped = skipped if skipped is not None else np.zeros(len(symbols), np.int64)

    def __len__(self) -> int:
        return len(self.symbols)

    def __getstate__(self) -> tuple:
        return tuple(getattr(self, name) for name in self.__slots__)

    def __setstate__(self, state: tuple) -> None:
        for name, value in zip(self.__slots__, state):
            setattr(self, name, value)

    def label(self, k: int, row: int) -> Any:
        """The label of row `row` of series k, for a message."""
        if self.labels is None or row < 0:
            return row
        return self.labels[self.offsets[k] + row]


def _empty_pack() -> Pack:
    return Pack([], np.zeros(1, np.int64), np.empty(0, np.int64), np.empty(0, bool),
                {name: np.empty(0) for name in _FIELDS})


def concat(packs: Sequence[Pack]) -> Pack:
    """Packs one after another, as one."""
    packs = [pack for pack in packs if len(pack)]
    if not packs:
        return _empty_pack()
    if len(packs) == 1:
        return packs[0]
    starts = np.cumsum([0] + [int(pack.offsets[-1]) for pack in packs])
    offsets = np.concatenate([[0]] + [pack.offsets[1:] + start for pack, start in zip(packs, starts)])
    failed = {}
    first = 0
    for pack in packs:
        failed.update({first + k: error for k, error in pack.failed.items()})
        first += len(pack)
    labelled = all(pack.labels is not None for pack in packs)
    return Pack(
        [symbol for pack in packs for symbol in pack.symbols], offsets.astype(np.int64),
        np.concatenate([pack.time for pack in packs]), np.concatenate([pack.dated for pack in packs]),
        {name: np.concatenate([pack.columns[name] for pack in packs]) for name in _FIELDS},
        packs[0].labels.append([p.labels for p in packs[1:]]) if labelled else None,  # type: ignore[union-attr]
        failed, [name for pack in packs for name in pack.close_columns],
        np.concatenate([pack.skipped for pack in packs]),
    )


def pieces(packs: Sequence[Tuple[Pack, int]], symbol: Any) -> Pack:
    """One series from its pieces (series k of each pack), in that order: a
    symbol whose rows lie in several partitions of a dask DataFrame."""
    parts = []
    for pack, k in packs:
        begin, end = int(pack.offsets[k]), int(pack.offsets[k + 1])
        if k in pack.failed:
            return Pack([symbol], np.zeros(2, np.int64), np.empty(0, np.int64), np.zeros(1, bool),
                        {name: np.empty(0) for name in _FIELDS}, None, {0: pack.failed[k]})
        parts.append((pack, begin, end, bool(pack.dated[k])))
    size = sum(end - begin for _, begin, end, _ in parts)
    labels = None
    if all(pack.labels is not None for pack, *_ in parts):
        labels = parts[0][0].labels[parts[0][1]:parts[0][2]].append(  # type: ignore[index]
            [pack.labels[begin:end] for pack, begin, end, _ in parts[1:]])  # type: ignore[index]
    return Pack(
        [symbol], np.array([0, size], np.int64), np.concatenate([pack.time[begin:end] for pack, begin, end, _ in parts]),
        np.array([all(dated for *_, dated in parts)]),
        {name: np.concatenate([pack.columns[name][begin:end] for pack, begin, end, _ in parts]) for name in _FIELDS},
        labels, None, [packs[0][0].close_columns[packs[0][1]]],
        np.array([sum(int(pack.skipped[k]) for pack, k in packs)], np.int64),
    )


def pack_frames(function: str, items: Iterable[Tuple[Any, Any]], fail: Any, options: Reading = Reading()) -> Pack:
    """(symbol, DataFrame) pairs as a pack, each frame read and checked as
    levels reads it. A frame that cannot be read goes to fail(symbol, error),
    which raises, or returns to keep it as a failed series."""
    symbols: list = []
    sizes, times, dated, failed, closes = [], [], [], {}, []
    columns: dict = {name: [] for name in _FIELDS}
    for symbol, frame in items:
        try:
            arrays = _frame_arrays(function, frame, options)
        except (MemoryError, TypeError, ValueError, OSError) as error:
            failed[len(symbols)] = fail(symbol, error)
            arrays = None
        symbols.append(symbol)
        closes.append((None, False) if arrays is None else (arrays["close_column"], arrays["close_only"]))
        if arrays is None:
            sizes.append(0)
            dated.append(False)
            continue
        sizes.append(len(arrays["time"]))
        times.append(arrays["time"])
        dated.append(arrays["dates"] is not None)
        for name in _FIELDS:
            columns[name].append(arrays[name])
    if not symbols:
        return _empty_pack()
    offsets = np.concatenate([[0], np.cumsum(sizes)]).astype(np.int64)
    return Pack(symbols, offsets, _joined(times, np.int64), np.array(dated, bool),
                {name: _joined(values, np.float64) for name, values in columns.items()}, None, failed, closes)


def _joined(arrays: list, dtype: Any) -> np.ndarray:
    """Arrays one after another; one alone as it is, not copied (the bars of
    one symbol may be most of the memory there is)."""
    if len(arrays) == 1:
        return arrays[0]
    return np.concatenate(arrays) if arrays else np.empty(0, dtype)


def _table_floats(function: str, name: str, values: Any) -> np.ndarray:
    """A price column of a table as float64, a missing value as NaN: the
    reader then refuses it for its own symbol, not for the whole table."""
    if isinstance(values.dtype, pd.api.extensions.ExtensionDtype) and getattr(values.dtype, "numpy_dtype", None) is not None:
        return values.to_numpy(dtype=np.float64, na_value=np.nan)
    from ._args import _floats

    return _floats(function, name, values)


def symbol_source(function: str, frame: Any, columns: Optional[str] = None) -> Optional[Tuple[str, Any, List[Any]]]:
    """Where a table's symbols are: ("column", column, [name]) for a column
    the reader takes for the symbol (symbol, ticker, instrument, or as
    columns names it), ("levels", levels, names)
    for the index levels besides the dates of a MultiIndex, or for an index
    so named ("index", None, [name]); None for none."""
    roles = _frame_columns(function, frame, columns)
    if "symbol" in roles:
        return "column", roles["symbol"], [roles["symbol"]]
    index = frame.index
    if isinstance(index, pd.MultiIndex):
        dates = _date_level(index)
        if dates is None:
            return None
        levels = [level for level in range(index.nlevels) if level != dates]
        names = [index.names[level] if index.names[level] is not None else "symbol" for level in levels]
        return "levels", levels, names
    if str(index.name).strip().lower() in _SYMBOL_NAMES:
        return "index", None, [index.name]
    return None


def _keys(function: str, frame: pd.DataFrame, source: Tuple[str, Any, List[Any]]) -> Any:
    """The symbol of each row, refusing a row without one."""
    kind, which, names = source
    index = frame.index
    if kind == "column":
        parts = [(frame[which], f"column {which!r}")]
    elif kind == "index":
        parts = [(index, f"index {names[0]!r}")]
    else:
        parts = [(index.get_level_values(level), f"index level {_level_name(index, level)!r}") for level in which]
    for values, where in parts:
        missing = np.flatnonzero(np.asarray(pd.isna(values)))
        if missing.size:
            # A row without a symbol belongs to none: screening it as a
            # symbol of its own, or with another, would be a guess.
            raise ValueError(f"{function}: {where} has no symbol in row {missing[0]} ({index[missing[0]]!r}): "
                             f"drop those rows or give them one")
    if len(parts) == 1:
        return pd.Index(parts[0][0])
    return pd.MultiIndex.from_arrays([values for values, _ in parts])


def pack_table(function: str, frame: pd.DataFrame, source: Tuple[str, Any, List[Any]],
               options: Reading = Reading()) -> Pack:
    """A long table (each row one bar of one symbol) as a pack, the symbols in
    the order they first appear, each one's rows in the table's order."""
    keys = _keys(function, frame, source)
    codes, uniques = keys.factorize()
    order = np.argsort(codes, kind="stable")
    offsets = np.concatenate([[0], np.cumsum(np.bincount(codes, minlength=len(uniques)))]).astype(np.int64)
    by_name = _frame_columns(function, frame, options.columns)
    columns = {}
    for name in _FIELDS:
        values = (_table_floats(function, name, frame[by_name[name]]) if name in by_name
                  else np.zeros(len(frame)))
        columns[name] = np.ascontiguousarray(values[order])
    dates = _frame_dates(function, frame, many=True, order=options.dates or "", roles=by_name)
    if dates is None:
        time = np.zeros(len(frame), np.int64)
    else:
        time = np.ascontiguousarray(dates.values.astype("datetime64[s]").astype(np.int64)[order])
    symbols = list(uniques)
    return Pack(symbols, offsets, time, np.full(len(symbols), dates is not None), columns, frame.index[order], None,
                [(by_name["close_column"], by_name["close_only"])] * len(symbols))


def _field_level(columns: pd.MultiIndex) -> Optional[int]:
    """Which level of two-level columns names the fields (open, high, ...)."""
    found = [level for level in (0, 1)
             if set(_PRICE_COLUMNS) <= {str(name).strip().lower() for name in columns.levels[level]}]
    return found[0] if len(found) == 1 else None


def is_wide(frame: Any) -> bool:
    return isinstance(frame.columns, pd.MultiIndex) and frame.columns.nlevels == 2 and \
        _field_level(frame.columns) is not None


def pack_wide(function: str, frame: pd.DataFrame, fail: Any, options: Reading = Reading()) -> Pack:
    """A wide table, (field, symbol) or (symbol, field) columns on shared
    dates, as a pack. A row whose four prices are all missing is no bar of
    that symbol (it had none that day), as a file's row of nulls is none. A
    symbol that lacks a price column goes to fail(symbol, error), as in
    pack_frames."""
    field_level = _field_level(frame.columns)
    assert field_level is not None
    symbol_level = 1 - field_level
    symbols = list(dict.fromkeys(frame.columns.get_level_values(symbol_level)))
    by_field: dict = {}
    for column in frame.columns:
        field = str(column[field_level]).strip().lower()
        if field in _FIELDS:
            if (field, column[symbol_level]) in by_field:
                raise ValueError(f"{function}: two columns are {field} of {column[symbol_level]!r}")
            by_field[field, column[symbol_level]] = column
    failed = {}
    for k, symbol in enumerate(symbols):
        lacking = [field for field in _PRICE_COLUMNS if (field, symbol) not in by_field]
        if lacking:
            failed[k] = fail(symbol, ValueError(f"no {lacking[0]} column"))
    blocks = {}
    for field in _FIELDS:
        block = np.empty((len(symbols), len(frame)))
        for s, symbol in enumerate(symbols):
            column = by_field.get((field, symbol))
            block[s] = (np.nan if field != "volume" else 0.0) if column is None else \
                _table_floats(function, field, frame[column])
        blocks[field] = block
    keep = ~np.all(np.stack([np.isnan(blocks[field]) for field in _PRICE_COLUMNS]), axis=0)
    keep[list(failed)] = False
    offsets = np.concatenate([[0], np.cumsum(keep.sum(axis=1))]).astype(np.int64)
    dates = _frame_dates(function, pd.DataFrame(index=frame.index), order=options.dates or "", roles={})
    seconds = (np.zeros(len(frame), np.int64) if dates is None
               else dates.values.astype("datetime64[s]").astype(np.int64))
    rows = np.broadcast_to(np.arange(len(frame)), keep.shape)[keep]
    return Pack(symbols, offsets, np.ascontiguousarray(seconds[rows]), np.full(len(symbols), dates is not None),
                {field: np.ascontiguousarray(block[keep]) for field, block in blocks.items()}, frame.index[rows],
                failed, None, (~keep).sum(axis=1).astype(np.int64))
