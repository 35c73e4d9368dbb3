"""The fields of a result as the extension gives them (the analysis names
and fills them once, for every front end: analysis/result.h), written down
as pandas columns. Only the dtypes are chosen here."""
from __future__ import annotations

from typing import Any, Dict, Mapping, Tuple, Union

import numpy as np
import pandas as pd

#: A walk's row: where the close stood at a bar against the levels of the
#: bars up to it. Nullable throughout: a bar before the walk's first level
#: has no value but its date and close.
WALK_DTYPES: Dict[str, str] = {
    "date": "datetime64[ns]", "close": "float64", "bars": "Int64", "tolerance": "float64",
    "level_count": "Int64", "on_level": "boolean", "level": "float64", "level_weight": "Int64",
    "below": "float64", "below_weight": "Int64", "above": "float64", "above_weight": "Int64",
    "distance_price": "float64", "distance": "float64",
}

#: A level: its price and weights, and its track record.
LEVEL_DTYPES: Dict[str, str] = {
    "index": "int64", "price": "float64", "merged_weight": "int32", "resized_weight": "int32", "fractals": "int32",
    "formed_date": "datetime64[ns]", "last_fractal_date": "datetime64[ns]", "touches": "int64", "held": "int64",
    "broke": "int64", "bars_since_touch": "Int64",
}

#: What the reader passed over: in attrs, and in a screen's columns.
READING_DTYPES: Dict[str, str] = {
    "bars_in_file": "int64", "duplicates_dropped": "int64", "null_rows_skipped": "int64", "unknown_volumes": "int64",
    "other_symbol_rows": "int64", "name_rows_skipped": "int64", "notes_skipped": "int64", "close_column": "object",
    "close_only": "bool", "bar_period": "object",
}

# A field no table names yet still gets a column, by the kind of its values.
_BY_KIND = {"flag": "boolean", "integer": "Int64", "moment": "datetime64[ns]", "number": "float64", "text": "object",
            "": "float64"}

#: A field as the extension gives it: (values, null, kind).
Field = Tuple[Any, np.ndarray, str]


def column(field: Field, dtype: str, dated: Union[bool, np.ndarray] = True) -> Any:
    """One field's values as an array of dtype; a moment of bars without
    dates (dated False) has none."""
    values, null, _ = field
    if dtype == "object":
        texts = np.empty(len(null), dtype=object)
        texts[:] = values if isinstance(values, list) else [None] * len(null)
        return texts
    if dtype == "datetime64[ns]":
        moments = np.asarray(values).astype(np.int64).astype("datetime64[s]").astype("datetime64[ns]")
        moments[null | ~np.asarray(dated, dtype=bool)] = np.datetime64("NaT")
        return moments
    if dtype == "float64":
        return np.where(null, np.nan, values).astype(np.float64)
    if dtype == "Int64":
        return pd.arrays.IntegerArray(np.asarray(values).astype(np.int64), null.copy())
    if dtype == "boolean":
        return pd.arrays.BooleanArray(np.asarray(values).astype(bool), null.copy())
    return np.asarray(values).astype(dtype)


def columns(fields: Mapping[str, Field], dtypes: Mapping[str, str], size: int,
            dated: Union[bool, np.ndarray] = True) -> Dict[str, Any]:
    """The fields as columns of size rows, in the order of dtypes and then
    any the table lacks; a field the extension did not give (no row could
    be analysed) has no value in any row."""
    out = {}
    for name in list(dtypes) + [name for name in fields if name not in dtypes]:
        field = fields.get(name)
        if field is None:
            field = (np.zeros(size), np.ones(size, bool), "")
        out[name] = column(field, dtypes.get(name) or _BY_KIND[field[2]], dated)
    return out
