"""The compiled part of the package (_native), with a message that says what
to do when Python finds the source folder instead of the package."""
import os
from importlib.machinery import EXTENSION_SUFFIXES

try:
    from . import _native  # noqa: F401 (what the other modules import from here)
except ImportError:
    # The source folder python/tidemark holds the Python files but not the
    # compiled module, and Python looks in the current folder first.
    _here = os.path.dirname(os.path.abspath(__file__))
    if not any(name.startswith("_native") and name.endswith(tuple(EXTENSION_SUFFIXES)) for name in os.listdir(_here)):
        raise ImportError(
            f"tidemark: the compiled part of the package (_native) is not in {_here}, which looks like the source "
            f"folder: import tidemark from outside it (python/ comes first on sys.path when Python runs there), "
            f"after installing the package (pip install dist/tidemark-*.whl, made by scripts/package python) or "
            f"building it (cmake -S . -B build/python -DTIDEMARK_PYTHON=ON && cmake --build build/python, then "
            f"PYTHONPATH=build/python)"
        ) from None  # Python's own words here blame a circular import
    raise
