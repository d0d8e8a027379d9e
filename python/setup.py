"""Installs the package lumetra with pip, building its binding with the project's own CMake.

    pip install --no-build-isolation ./python

Nothing is downloaded: CMake, the compiler, pybind11 and NumPy are Debian's (scripts/install-deps
installs them), and --no-build-isolation lets pip use the installed setuptools.  The binding
is built from the repository this folder belongs to, in setuptools' temporary build folder.
"""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

PACKAGE_DIR = Path(__file__).resolve().parent
REPOSITORY = PACKAGE_DIR.parent


def project_version() -> str:
    """The version the top-level CMakeLists.txt gives the project."""
    text = (REPOSITORY / "CMakeLists.txt").read_text()
    found = re.search(r"project\(\s*Lumetra\s+VERSION\s+([0-9.]+)", text)
    if found is None:
        raise RuntimeError("no project version in CMakeLists.txt")
    return found.group(1)


class CMakeExtension(Extension):
    """The binding module, which CMake builds; setuptools compiles nothing itself."""

    def __init__(self, name: str) -> None:
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    """Configures the project with only the binding on and builds the module's target."""

    def build_extension(self, ext: Extension) -> None:
        build_dir = Path(self.build_temp).resolve() / "cmake"
        configure = [
            "cmake", "-S", str(REPOSITORY), "-B", str(build_dir),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DLUMETRA_BUILD_PYTHON=ON",
            "-DLUMETRA_BUILD_GUI=OFF",
            "-DLUMETRA_BUILD_BENCH=OFF",
            f"-DPython_EXECUTABLE={sys.executable}",
        ]
        jobs = str(os.cpu_count() or 1)
        subprocess.run(configure, check=True)
        subprocess.run(
            ["cmake", "--build", str(build_dir), "--target", "lumetra_python", "-j", jobs],
            check=True,
        )
        built = build_dir / "python" / "lumetra" / Path(self.get_ext_filename(ext.name)).name
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(built, target)


setup(
    name="lumetra",
    version=project_version(),
    description="How visible the differences between an image and its degraded versions are",
    packages=["lumetra"],
    package_data={"lumetra": ["*.pyi", "py.typed"]},
    ext_modules=[CMakeExtension("lumetra._core")],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.9",
    install_requires=["numpy"],
    # lumetra.distributed and lumetra.batch: Debian's python3-pandas and python3-distributed.
    extras_require={"distributed": ["pandas", "distributed"]},
)
