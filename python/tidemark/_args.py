"""Arguments checked and converted before the library sees them: a wrong type
is a TypeError, a wrong value a ValueError, and nothing is converted that
would not convert exactly."""
from __future__ import annotations

import numbers
import operator
from typing import Any

import numpy as np
import pandas as pd

_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1


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
