"""tidemark: fractal strengths, merged price levels and a stopwatch, for Python.

The library's own routines, compiled into this package (the same sources as
tidemark.dll and libtidemark.so), with numpy arrays in and out. Every result
equals the library's bit for bit; the exact rules are in
docs/exports.md, linked from the project's README.

Functions for one call of an export: check_level, hlop, resize, up_fractal,
down_fractal, and the Stopwatch context manager. For whole series and many
symbols: fractal_strength, levels (what ``tidemark-scan --json`` finds),
walk (the levels as they stood at every bar, for backtests),
screen (one row per symbol, locally or on a dask.distributed cluster), and
read_bars / bar_records to get bars into the shapes these take.

Bad input (a wrong dtype, shape, stride or index) raises TypeError, ValueError
or IndexError before the library reads or writes anything.
"""
from ._library import _native
from ._bars import bar_records, read_bars
from ._exports import BAR_RECORD, Stopwatch, check_level, down_fractal, fractal_strength, hlop, resize, up_fractal
from ._levels import levels, walk
from ._screen import screen

__version__: str = _native.__version__

__all__ = [
    "BAR_RECORD",
    "Stopwatch",
    "bar_records",
    "check_level",
    "down_fractal",
    "fractal_strength",
    "hlop",
    "levels",
    "read_bars",
    "resize",
    "screen",
    "up_fractal",
    "walk",
]
