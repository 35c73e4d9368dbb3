"""The documentation holds: every docstring example runs as written, and the
examples of the README and docs/python.md pass mypy against the package's
own types."""
import doctest
import importlib
import os
import pathlib
import pkgutil
import re
import subprocess
import sys

import pytest

import tidemark as tm
from conftest import TOP

MODULES = [importlib.import_module(f"tidemark.{info.name}") for info in pkgutil.iter_modules(tm.__path__)
           if not info.name.startswith("_native")]


def test_every_docstring_example_runs_as_written():
    finder = doctest.DocTestFinder()
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE | doctest.ELLIPSIS)
    examples = {}
    for module in [tm, *MODULES]:
        for test in finder.find(module):
            runner.run(test)
            examples[test.name.rsplit(".", 1)[-1]] = len(test.examples)
    results = runner.summarize(verbose=False)
    assert results.failed == 0
    # The functions whose use is least obvious show it.
    for name in ("levels", "screen", "fractal_strength", "hlop", "Stopwatch"):
        assert examples.get(name, 0) > 0, name


@pytest.mark.parametrize("function", [tm.levels, tm.screen, tm.fractal_strength, tm.hlop])
def test_docstrings_name_what_they_raise(function):
    doc = function.__doc__
    assert re.search(r"^    Raises ", doc, re.MULTILINE), function.__name__
    assert "ValueError" in doc and "TypeError" in doc


def python_blocks(text, marker=None):
    """The ```python blocks of a Markdown text (only the one after marker, if given)."""
    if marker is not None:
        text = text[text.index(marker):]
        return [re.search(r"```python\n(.*?)```", text, re.DOTALL).group(1)]
    return re.findall(r"```python\n(.*?)```", text, re.DOTALL)


def test_the_readme_and_docs_examples_pass_mypy(tmp_path):
    pytest.importorskip("mypy")
    blocks = python_blocks((TOP / "README.md").read_text(), "<!-- python example -->")
    docs = python_blocks((TOP / "docs" / "python.md").read_text())
    assert docs, "docs/python.md has no example"
    files = []
    for n, block in enumerate(blocks + docs):
        path = tmp_path / f"example_{n}.py"
        path.write_text(block)
        files.append(str(path))
    package = pathlib.Path(tm.__file__).resolve().parents[1]
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--config-file", str(TOP / "python" / "pyproject.toml"),
         "--cache-dir", str(tmp_path / "mypy-cache"), "--no-error-summary", *files],
        capture_output=True, text=True, env={**os.environ, "MYPYPATH": str(package)}, cwd=tmp_path,
    )
    assert done.returncode == 0, done.stdout + done.stderr


def test_the_docs_backtest_example_prints_what_the_docs_show():
    text = (TOP / "docs" / "python.md").read_text()
    [block] = python_blocks(text, "<!-- backtest example -->")
    shown = re.search(r"```text\n(.*?)```", text[text.index(block):], re.DOTALL).group(1)
    done = subprocess.run([sys.executable, "-c", block], capture_output=True, text=True, cwd=TOP,
                          env={**os.environ, "PYTHONPATH": str(pathlib.Path(tm.__file__).resolve().parents[1])})
    assert done.returncode == 0, done.stderr
    assert done.stdout == shown
