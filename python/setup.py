"""Builds the extension with CMake from the C++ sources in native/, which the
source distribution carries (scripts/package python stages them from the
repository): the library's own sources, the reader, the analysis and the
extension's, so that what pip installs is what the tests tested. It reads nothing outside
this folder. Needs cmake, g++, make, pybind11-dev and zlib1g-dev
(scripts/setup.sh, group python)."""
import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = pathlib.Path(__file__).resolve().parent
NATIVE = HERE / "native"


def say(text: str) -> None:
    # stderr, line by line: pip shows it with -v and turns its spinner on
    # each line; python -m build shows it as it comes.
    print(f"tidemark build: {text}", file=sys.stderr, flush=True)


def sources() -> pathlib.Path:
    if not (NATIVE / "CMakeLists.txt").is_file():
        sys.exit(
            f"tidemark: {NATIVE} is missing, so this is the repository's python/ folder, not a source distribution.\n"
            "From the repository's top, scripts/package python writes the source distribution and a wheel to dist/;\n"
            "install one of them (pip install dist/tidemark-*.whl), or build in place with CMake\n"
            "(cmake -S . -B build/python -DTIDEMARK_PYTHON=ON, then PYTHONPATH=build/python)."
        )
    return NATIVE


def version() -> str:
    text = (sources() / "CMakeLists.txt").read_text()
    return re.search(r"project\(tidemark VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext: Extension) -> None:
        missing = [tool for tool in ("cmake", "make", "g++") if shutil.which(tool) is None]
        if missing:
            sys.exit(f"tidemark: building the extension needs {', '.join(missing)}; on Debian: apt-get install "
                     "cmake make g++ python3-dev pybind11-dev zlib1g-dev (or install the wheel, which needs none)")
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        jobs = str(os.cpu_count() or 1)
        say(f"1/3 configuring the extension with CMake in {build}")
        # Stripped (-s): the symbols would triple the module's size and
        # serve nobody who installs a wheel.
        subprocess.run(
            ["cmake", "-S", str(sources()), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release", "-DTIDEMARK_PYTHON=ON",
             "-DTIDEMARK_SCAN=OFF", "-DTIDEMARK_TESTS=OFF", "-DCMAKE_MODULE_LINKER_FLAGS=-s",
             f"-DPYTHON_EXECUTABLE={sys.executable}"],
            check=True, stdout=sys.stderr,
        )
        say(f"2/3 compiling the library, the reader, the analysis and the extension ({jobs} jobs; a minute or so)")
        subprocess.run(["cmake", "--build", str(build), "--target", "tidemark_native", "-j", jobs],
                       check=True, stdout=sys.stderr)
        built = next((build / "tidemark").glob("_native*.so"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)
        say(f"3/3 {target.name}: {target.stat().st_size // 1024} KB")


setup(
    version=version(),
    ext_modules=[Extension("tidemark._native", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
