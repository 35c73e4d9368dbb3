"""A screen's work on a dask.distributed cluster, and screens of dask
DataFrames, partition by partition. Nothing here imports dask until a screen
needs it: the package works without it."""
from __future__ import annotations

from typing import Any, Callable, Dict, Iterable, List, Optional, Tuple

import numpy as np
import pandas as pd

from ._levels import Settings
from ._reading import Reading
from ._tables import Pack, concat, pack_table, pieces, symbol_source


def is_dask_frame(data: Any) -> bool:
    return type(data).__module__.startswith("dask.dataframe") and hasattr(data, "to_delayed")


# What a read_csv of files may have been told and still read as the reader
# reads them: nothing, or to round as strtod does.
_PLAIN_READ_CSV: Tuple[Dict[str, str], ...] = ({}, {"float_precision": "round_trip"})


def csv_files(data: Any, column: Any) -> Optional[Dict[Any, str]]:
    """{symbol: path} when a dask DataFrame is exactly dask's read_csv of
    whole local files with their paths in column (include_path_column) and
    nothing done to it since: no option that changes how pandas parses the
    text, no block of part of a file, no column dropped, no other layer (a
    filter, a projection, a computed column). Then the reader may read the
    files themselves, as screen() reads paths, instead of pandas parsing
    them into frames. Else None."""
    try:
        from dask.bytes.core import read_block_from_file
        from dask.dataframe.io.csv import CSVFunctionWrapper
        from dask.layers import DataFrameIOLayer
    except ImportError:  # another dask: its graphs may say other things
        return None
    layers = getattr(data.__dask_graph__(), "layers", {})
    if len(layers) != 1:
        return None
    [layer] = layers.values()
    wrapper = getattr(layer, "io_func", None)
    if not isinstance(layer, DataFrameIOLayer) or not isinstance(wrapper, CSVFunctionWrapper):
        return None
    if (wrapper.colname is None or wrapper.colname != column or wrapper._columns is not None
            or wrapper.kwargs not in _PLAIN_READ_CSV
            or list(data._meta.columns) != [*wrapper.full_columns, column]):
        return None
    files: Dict[Any, str] = {}
    for part in layer.inputs:
        (read, opened, offset, _length, _delimiter), symbol, first, last = part
        protocol = getattr(opened.fs, "protocol", None)
        local = "file" in (protocol if isinstance(protocol, (tuple, list)) else (protocol,))
        if (read is not read_block_from_file or not (first and last) or offset != 0 or not local
                or opened.compression not in (None, "gzip") or symbol in files):
            return None
        files[symbol] = opened.path
    return files if len(files) == data.npartitions else None


def run_on_cluster(client: Any, work: Iterable[Tuple[list, Any]], function: Callable, settings: Settings,
                   keep: bool, options: Reading, walk: Optional[int] = None) -> List[Tuple[list, Any]]:
    """Each piece of work as a task, in the order given. A pack goes to a
    worker on its own (scatter), not inside the task's message through the
    scheduler; files are read by the workers."""
    submitted = []
    for positions, piece in work:
        if isinstance(piece, Pack):
            [piece] = client.scatter([piece], hash=False)
        submitted.append((positions, client.submit(function, piece, settings, keep, options, walk, pure=False)))
    results = client.gather([future for _, future in submitted])
    return [(positions, rows) for (positions, _), rows in zip(submitted, results)]


def _pack_part(part: Any, source: Tuple[str, Any, List[Any]], options: Reading) -> Pack:
    """A partition of a dask DataFrame as a pack (on the worker that has it)."""
    if options.symbol is not None and len(part):
        keys = part[source[1]] if source[0] == "column" else pd.Series(part.index, index=part.index)
        part = part[(keys.astype(str) == options.symbol).to_numpy()]
    return pack_table("screen", part, source, options) if len(part) else concat([])


def _screen_partition(part: Any, source: Tuple[str, Any, List[Any]], settings: Settings, keep: bool,
                      options: Reading, walk: Optional[int] = None, partition_info: Any = None) -> Any:
    """The rows of a partition's symbols, each from this partition alone, with
    the symbol and the partition's number: fused with the reading of the
    partition into one task."""
    from ._screen import _screen_pack

    pack = _pack_part(part, source, options)
    symbols = np.empty(len(pack), dtype=object)
    symbols[:] = pack.symbols
    number = partition_info["number"] if partition_info else 0
    return _screen_pack(pack, settings, keep, {"_symbol": symbols, "_part": np.full(len(pack), number, np.int64)},
                        options, walk)


def _screen_pieces(plan: List[Tuple[Any, List[Tuple[int, int]]]], settings: Settings, keep: bool,
                   options: Reading, walk: Optional[int], *packs: Pack) -> Any:
    """The rows of symbols whose bars lie in several partitions: each joined
    from its pieces (partition, series), in the partitions' order."""
    from ._screen import _screen_pack

    joined = concat([pieces([(packs[part], k) for part, k in where], symbol) for symbol, where in plan])
    return _screen_pack(joined, settings, keep, None, options, walk)


def screen_dask(data: Any, client: Any, settings: Settings, keep: bool, batch: Callable[[int], int],
                options: Reading, walk: Optional[int] = None) -> Any:
    """screen() of a dask DataFrame with a symbol column or index. Each
    partition is packed and screened in the task that reads it; a symbol
    found in several partitions is then screened again from all its pieces,
    which only the partitions that hold one are read again for."""
    import dask

    from ._screen import _assemble, _result_index

    source = symbol_source("screen", data._meta, options.columns)
    if source is None or source[0] == "levels":
        raise ValueError("screen: a dask DataFrame of many symbols needs a symbol column or index (named symbol, "
                         "ticker or instrument)")
    meta = _screen_partition(data._meta, source, settings, keep, options, walk)
    mapped = data.map_partitions(_screen_partition, source, settings, keep, options, walk, meta=meta,
                                 align_dataframes=False)
    rows = mapped.compute() if client is None else client.gather(client.compute(mapped))
    rows = rows.reset_index(drop=True)
    symbols = list(dict.fromkeys(rows["_symbol"]))
    position = {symbol: i for i, symbol in enumerate(symbols)}
    where: Dict[Any, List[Tuple[int, int]]] = {}
    parts = rows["_part"].to_numpy()
    first_row: Dict[int, int] = {}
    for i, (symbol, part) in enumerate(zip(rows["_symbol"], parts)):
        first_row.setdefault(int(part), i)
        where.setdefault(symbol, []).append((int(part), i - first_row[int(part)]))
    alone = [i for i, symbol in enumerate(rows["_symbol"]) if len(where[symbol]) == 1]
    done = [([position[symbol] for symbol in rows["_symbol"].iloc[alone]],
             rows.iloc[alone].drop(columns=["_symbol", "_part"]).reset_index(drop=True))]
    spread = [symbol for symbol in symbols if len(where[symbol]) > 1]
    if spread:
        involved = sorted({part for symbol in spread for part, _ in where[symbol]})
        local = {part: i for i, part in enumerate(involved)}
        packer = dask.delayed(_pack_part, pure=True)
        delayed = data.to_delayed()
        packs = [packer(delayed[part], source, options) for part in involved]
        size = batch(len(spread))
        chosen_sets = [spread[start:start + size] for start in range(0, len(spread), size)]
        plans = [[(symbol, [(local[part], k) for part, k in where[symbol]]) for symbol in chosen]
                 for chosen in chosen_sets]
        if client is None:
            computed = list(dask.compute(*packs))
            joined = [_screen_pieces(plan, settings, keep, options, walk, *computed) for plan in plans]
        else:
            futures = client.compute(packs)
            joined = client.gather([client.submit(_screen_pieces, plan, settings, keep, options, walk, *futures,
                                                  pure=False) for plan in plans])
        done += [([position[symbol] for symbol in chosen], part_rows) for chosen, part_rows in zip(chosen_sets, joined)]
    return _assemble([(positions, part_rows) for positions, part_rows in done if len(positions)],
                     len(symbols), _result_index(symbols, source[2]), keep, walk)
