"""Packaging of the Python module zel.

The extension zel._zel is the CMake target zel_python (python/CMakeLists.txt): this script
configures the repository with ZEL_BUILD_PYTHON=ON for the interpreter that runs it, builds that
one target and puts it into the package python/zel. Nothing is downloaded; install offline with

    python3 -m pip install --no-build-isolation --no-index .

The CMake build directory is kept under build/ (build_temp), so a second install rebuilds only
what changed. ZEL_CMAKE_ARGS adds arguments to the configure step (e.g. "-DZEL_NATIVE=ON").
"""

import os
import re
import shlex
import shutil
import subprocess
import sys
import time
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def progress(message):
    """A progress line on stderr, which pip shows with -v and keeps in its log."""
    print(f"zel: {message}", file=sys.stderr, flush=True)


def project_version():
    """The version of the CMake project, the one source of it."""
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"project\(zel\s+VERSION\s+([0-9][0-9.]*)", text)
    if match is None:
        raise RuntimeError("CMakeLists.txt: no 'project(zel VERSION ...)'")
    return match.group(1)


class CMakeBuild(build_ext):
    """Builds each extension as a target of the repository's CMake project."""

    def build_extension(self, ext):
        build_dir = Path(self.build_temp).resolve() / "cmake"
        build_dir.mkdir(parents=True, exist_ok=True)
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build_dir),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DZEL_BUILD_PYTHON=ON",
            "-DZEL_BUILD_TESTS=OFF",
            "-DZEL_BUILD_EXAMPLES=OFF",
            "-DZEL_BUILD_BENCHMARKS=OFF",
            # The module needs zel-chem, not the command-line tool (nor CLI11).
            "-DZEL_BUILD_CLI=OFF",
            # The interpreter installing the package is the one the module is built for.
            f"-DPython3_EXECUTABLE={sys.executable}",
            *shlex.split(os.environ.get("ZEL_CMAKE_ARGS", "")),
        ]
        progress(f"configuring with CMake in {build_dir}")
        started = time.monotonic()
        subprocess.run(configure, check=True)
        progress(f"configured in {time.monotonic() - started:.1f} s")
        jobs = self.parallel or os.cpu_count() or 1
        progress(f"building the extension (target zel_python) with {jobs} parallel jobs")
        started = time.monotonic()
        subprocess.run(
            ["cmake", "--build", str(build_dir), "--target", "zel_python", "--parallel", str(jobs)],
            check=True,
        )
        progress(f"built in {time.monotonic() - started:.1f} s")
        target = Path(self.get_ext_fullpath(ext.name))
        built = build_dir / "python" / "zel" / target.name
        if not built.exists():
            raise RuntimeError(f"CMake built no {built}")
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    name="zel",
    version=project_version(),
    description="Dense state-vector simulator and adaptive ground-state search",
    long_description=(ROOT / "docs" / "python.md").read_text(encoding="utf-8"),
    long_description_content_type="text/markdown",
    packages=["zel"],
    package_dir={"": "python"},
    ext_modules=[Extension("zel._zel", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.9",
    install_requires=["numpy"],
    zip_safe=False,
)
