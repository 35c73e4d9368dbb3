"""Shared by the package's tests: the native library loaded by file name as a
host loads it (the reference every result must equal bit for bit), the
tidemark-scan command, and hypothesis settings."""
import ctypes
import os
import pathlib

import numpy as np
import pytest
from hypothesis import HealthCheck, settings

TOP = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("TIDEMARK_BUILD", TOP / "build" / "python"))
LIBRARY = pathlib.Path(os.environ.get("TIDEMARK_LIBRARY", BUILD / "libtidemark.so"))
SCAN = pathlib.Path(os.environ.get("TIDEMARK_SCAN", BUILD / "tidemark-scan"))
SAMPLE = TOP / "data" / "daily-bars.csv"

settings.register_profile(
    "tidemark",
    max_examples=int(os.environ.get("TIDEMARK_HYPOTHESIS_EXAMPLES", "300")),
    deadline=None,
    database=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)
settings.load_profile("tidemark")

_i32, _f64 = ctypes.c_int32, ctypes.c_double
_EXPORTS = {
    "CheckLevel": (_i32, [_i32, _i32, _f64, _f64, ctypes.c_void_p, _i32]),
    "Hlop": (None, [_i32, _i32, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p, _i32, _f64, _i32]),
    "Resize": (None, [_i32, _i32, _i32, ctypes.c_void_p, _i32]),
    "CheckUpFractal": (_i32, [_i32, _i32, ctypes.c_void_p, _i32, _i32]),
    "CheckDownFractal": (_i32, [_i32, _i32, ctypes.c_void_p, _i32, _i32]),
    "CreateTimer": (ctypes.c_void_p, []),
    "StartTimer": (_i32, [ctypes.c_void_p]),
    "StopTimer": (_f64, [ctypes.c_void_p, _i32]),
}


class Library:
    """The eight exports of libtidemark.so, looked up by name, taking numpy arrays."""

    def __init__(self, path: pathlib.Path):
        self.dll = ctypes.CDLL(str(path))
        for name, (restype, argtypes) in _EXPORTS.items():
            function = getattr(self.dll, name)
            function.restype, function.argtypes = restype, argtypes
            setattr(self, name, function)

    def check_level(self, price, tolerance, prices):
        return self.CheckLevel(0, 0, price, tolerance, prices.ctypes.data, len(prices))

    def hlop(self, prices, weights, tags, tolerance, mode):
        self.Hlop(0, 0, prices.ctypes.data, weights.ctypes.data, tags.ctypes.data, len(prices), tolerance, mode)

    def resize(self, span, weights):
        self.Resize(0, 0, span, weights.ctypes.data, len(weights))

    def up_fractal(self, records, depth, shift):
        return self.CheckUpFractal(0, 0, records.ctypes.data, depth, shift)

    def down_fractal(self, records, depth, shift):
        return self.CheckDownFractal(0, 0, records.ctypes.data, depth, shift)


@pytest.fixture(scope="session")
def native() -> Library:
    if not LIBRARY.exists():
        pytest.fail(f"{LIBRARY} is missing: build it (scripts/test does) or set TIDEMARK_LIBRARY")
    return Library(LIBRARY)


@pytest.fixture(scope="session")
def scan_command() -> pathlib.Path:
    if not SCAN.exists():
        pytest.fail(f"{SCAN} is missing: build it (scripts/test does) or set TIDEMARK_SCAN")
    return SCAN


def same_bits(a: np.ndarray, b: np.ndarray) -> bool:
    """Equal dtype, shape and bytes: NaN payloads and the sign of zero count."""
    return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()
