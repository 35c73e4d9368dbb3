"""What a caller tells the reader, as keywords: the options of tidemark-scan
(--dates, --columns, --symbol, --from and --to) spelled for Python, checked
once, before any work, by the command's own rules."""
from __future__ import annotations

import datetime
from collections.abc import Mapping
from typing import Any, Literal, NamedTuple, Optional, Union

import numpy as np
import pandas as pd

from ._library import _native

#: The day-month order of numeric dates, as --dates takes it; or the unit
#: of epoch numbers, whatever their digits.
DateOrder = Literal["mdy", "dmy", "ymd", "serial", "ms", "us", "ns"]
#: Columns named for their roles: {"date": "Datum", "close": "Schluss"}, or
#: the command's text "date=Datum,close=Schluss".
ColumnNames = Union[str, Mapping[str, str]]
#: A bound of the bars analysed: a date or moment, or its text.
Bound = Union[str, datetime.date, pd.Timestamp, np.datetime64]


class Reading(NamedTuple):
    dates: Optional[str] = None
    columns: Optional[str] = None
    symbol: Optional[str] = None
    start: Optional[str] = None
    end: Optional[str] = None


def _bound(function: str, name: str, value: Any) -> Optional[str]:
    if value is None or isinstance(value, str):
        return value
    if isinstance(value, (datetime.date, np.datetime64)):
        moment = pd.Timestamp(value)
        if moment.tz is not None:
            moment = moment.tz_convert("UTC").tz_localize(None)
        # A date alone stays one: as end it takes in that whole day.
        whole_day = not isinstance(value, datetime.datetime) and not isinstance(value, np.datetime64)
        return moment.strftime("%Y-%m-%d" if whole_day else "%Y-%m-%d %H:%M:%S")
    raise TypeError(f"{function}: {name} must be a date, a datetime or its text, got {type(value).__name__}")


def reading(function: str, dates: Any = None, columns: Any = None, symbol: Any = None, start: Any = None,
            end: Any = None) -> Reading:
    """The options checked (TypeError, ValueError naming the keyword) and as
    the extension takes them."""
    if dates is not None and not isinstance(dates, str):
        raise TypeError(f"{function}: dates must be 'mdy', 'dmy', 'ymd', 'serial', 'ms', 'us' or 'ns', got {type(dates).__name__}")
    if isinstance(columns, Mapping):
        for role, name in columns.items():
            if not isinstance(role, str) or not isinstance(name, str) or "," in name or "=" in name:
                raise ValueError(f"{function}: columns maps roles (date, open, ...) to column names, got "
                                 f"{role!r}: {name!r}")
        columns = ",".join(f"{role}={name}" for role, name in columns.items())
    elif columns is not None and not isinstance(columns, str):
        raise TypeError(f"{function}: columns must map roles to column names, got {type(columns).__name__}")
    if symbol is not None and not isinstance(symbol, str):
        raise TypeError(f"{function}: symbol must be a str, got {type(symbol).__name__}")
    chosen = Reading(dates, columns, symbol, _bound(function, "start", start), _bound(function, "end", end))
    try:
        _native.check_reading(*chosen)
    except ValueError as error:
        raise ValueError(f"{function}: {error}") from None
    return chosen
