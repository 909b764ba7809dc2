"""Builds the calmgr wheel: the Python package with the two C libraries it
drives, libcalmgr.so and libcalmgr_io.so, compiled by CMake from the calmgr
source tree around this directory and placed beside the package.

The metadata lives in pyproject.toml; this file adds the library build, the
version (read from include/calmgr.h, the one place it is written) and a
platform wheel tag. Environment: CALMGR_CMAKE_ARGS adds CMake arguments,
CMAKE_BUILD_PARALLEL_LEVEL limits the build's jobs.
"""

from __future__ import annotations

import importlib.util
import os
import shlex
import shutil
import subprocess
import sys
from typing import Any, List

from setuptools import setup
from setuptools.command.build_py import build_py

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
HEADER = os.path.join(ROOT, "include", "calmgr.h")
LIBRARIES = {"libcalmgr.so": "", "libcalmgr_io.so": os.path.join("src", "io")}


def header_version() -> str:
    # calmgr/_header.py imports nothing from the package (or numpy), so it
    # loads here before anything is installed.
    found = importlib.util.spec_from_file_location(
        "_calmgr_header", os.path.join(HERE, "calmgr", "_header.py"))
    assert found is not None and found.loader is not None
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return str(module.version_from_header(HEADER))


def run(command: List[str]) -> None:
    print("calmgr build:", " ".join(shlex.quote(c) for c in command), flush=True)
    subprocess.run(command, check=True)


class BuildWithLibraries(build_py):
    """build_py, then CMake builds the libraries into the package."""

    def run(self) -> None:
        super().run()
        if not os.path.isfile(os.path.join(ROOT, "CMakeLists.txt")):
            sys.exit(f"calmgr: no CMakeLists.txt in {ROOT}; build the Python package from a "
                     "calmgr source tree (pip install ./python in a checkout)")
        if shutil.which("cmake") is None:
            sys.exit("calmgr: CMake 3.25 or later is needed to build the C libraries "
                     "(Debian: apt-get install cmake ninja-build g++ nlohmann-json3-dev)")
        build_temp = self.get_finalized_command("build").build_temp
        cmake_dir = os.path.abspath(os.path.join(build_temp, "calmgr-cmake"))
        configure = ["cmake", "-S", ROOT, "-B", cmake_dir, "-DCMAKE_BUILD_TYPE=Release",
                     "-DCALMGR_BUILD_TESTS=OFF", "-DCALMGR_BUILD_EXAMPLES=OFF",
                     "-DCALMGR_BUILD_TOOLS=OFF", "-DCALMGR_BUILD_BENCH=OFF",
                     "-DCALMGR_BUILD_FUZZ=OFF", "-DCALMGR_BUILD_IO=ON",
                     # A user's newer compiler may warn where ours does not:
                     # that must not stop an install.
                     "-DCALMGR_WERROR=OFF"]
        if shutil.which("ninja") and not os.path.exists(os.path.join(cmake_dir,
                                                                     "CMakeCache.txt")):
            configure += ["-G", "Ninja"]
        configure += shlex.split(os.environ.get("CALMGR_CMAKE_ARGS", ""))
        run(configure)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 2)
        run(["cmake", "--build", cmake_dir, "--target", "calmgr", "calmgr_io",
             "--parallel", jobs])
        target = os.path.join(self.build_lib, "calmgr")
        for name, subdir in LIBRARIES.items():
            # One real file each: the links libcalmgr.so -> .so.1 -> .so.1.x.y
            # would otherwise become three copies in the wheel.
            built = os.path.realpath(os.path.join(cmake_dir, subdir, name))
            shutil.copyfile(built, os.path.join(target, name))
        with open(os.path.join(target, "_version.py"), "w", encoding="utf-8") as f:
            f.write(f'"""Written by the build from include/calmgr.h."""\n\n'
                    f'VERSION = "{header_version()}"\n')


cmdclass: dict = {"build_py": BuildWithLibraries}

try:
    from wheel.bdist_wheel import bdist_wheel
except ImportError:  # no wheel package: setuptools then builds no wheels anyway
    pass
else:
    class PlatformWheel(bdist_wheel):
        """A wheel for this platform (it holds compiled libraries) that any
        Python 3 can use (they are loaded through ctypes): py3-none-<platform>."""

        def finalize_options(self) -> None:
            super().finalize_options()
            self.root_is_pure = False

        def get_tag(self) -> Any:
            _, _, platform = super().get_tag()
            return "py3", "none", platform

    cmdclass["bdist_wheel"] = PlatformWheel

setup(version=header_version(), cmdclass=cmdclass)
