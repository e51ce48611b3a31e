"""Builds the tarnintr extension with the project's own CMake build.

The extension links the library's objects, so the installed package needs
no libtarnintr beside it. Nothing is fetched: CMake finds Debian's pybind11,
ICU and spdlog.
"""
import os
import re
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(tarnintr VERSION ([0-9.]+)", f.read()).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = os.path.abspath(self.get_ext_fullpath(ext.name))
        build_dir = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.check_call([
            "cmake", "-S", ROOT, "-B", build_dir,
            "-DCMAKE_BUILD_TYPE=Release",
            "-DBUILD_SHARED_LIBS=OFF",
            "-DTARN_BUILD_PYTHON=ON",
            "-DTARN_BUILD_TESTS=OFF",
            "-DTARN_BUILD_BENCH=OFF",
            "-DTARN_BUILD_TOOLS=OFF",
            "-DPython_EXECUTABLE=" + sys.executable,
            "-DTARN_PYTHON_PACKAGE_DIR=" + os.path.dirname(target),
        ])
        subprocess.check_call(["cmake", "--build", build_dir, "--target", "tarnintr_python",
                               "-j" + jobs])


setup(
    name="tarnintr",
    version=project_version(),
    description="Evaluates tarnintr expressions against Python values",
    packages=["tarnintr"],
    ext_modules=[Extension("tarnintr._tarnintr", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.9",
    zip_safe=False,
)
