"""Builds the extension with CMake from the repository's own sources (the same
list as the shared library), so that what pip installs is what the tests
tested. Needs cmake, g++ and pybind11-dev (scripts/setup.sh, group python)."""
import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

TOP = pathlib.Path(__file__).resolve().parent.parent


def version() -> str:
    text = (TOP / "CMakeLists.txt").read_text()
    return re.search(r"project\(tidemark VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext: Extension) -> None:
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        subprocess.run(
            ["cmake", "-S", str(TOP), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release", "-DTIDEMARK_PYTHON=ON",
             "-DTIDEMARK_TESTS=OFF", f"-DPYTHON_EXECUTABLE={sys.executable}"],
            check=True,
        )
        subprocess.run(["cmake", "--build", str(build), "--target", "tidemark_native", "-j", str(os.cpu_count() or 1)],
                       check=True)
        built = next((build / "tidemark").glob("_native*.so"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    version=version(),
    ext_modules=[Extension("tidemark._native", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
