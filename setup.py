"""Builds the extension module through the project's CMake build, which
alone defines how the core is compiled; the version is the CMake project's.
Run by pip: pip install --no-build-isolation ."""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(TarnwelNC VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = Path(self.get_ext_fullpath(ext.name)).resolve()
        build = Path(self.build_temp).resolve() / "cmake"
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DTARNWELNC_PYTHON=ON",
            "-DBUILD_TESTING=OFF",
            "-DTARNWELNC_INSTALL=OFF",
            f"-DTARNWELNC_PYTHON_OUTPUT_DIR={target.parent}",
            # The interpreter that runs pip is the one the module is for.
            f"-DPYTHON_EXECUTABLE={sys.executable}",
            f"-DPython_EXECUTABLE={sys.executable}",
        ]
        try:
            import pybind11
            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass  # find_package searches the usual places
        if shutil.which("ninja") and not (build / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "tarnwelnc_python",
                        "--parallel", jobs], check=True)
        if not target.exists():
            raise RuntimeError(f"the CMake build did not produce {target}")


setup(
    version=project_version(),
    ext_modules=[Extension("tarnwelnc._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    # Apart from the CMake build folders (build/, build-*) the README uses.
    options={"build": {"build_base": "build-python"}},
)
