"""Builds the nxruntime Python package: CMake builds the library and the
extension (target nxruntime_python, in build/pip or $NX_PIP_BUILD_DIR), and
the laid-out package is copied into the wheel with libnxruntime.so.0 beside
the module, which finds it through its $ORIGIN run path. The example
component package goes into nxruntime/packages, where nxruntime.Graph looks
for the packages a graph document names."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(os.environ.get("NX_PIP_BUILD_DIR", ROOT / "build" / "pip")).resolve()
        args = ["-DCMAKE_BUILD_TYPE=Release", "-DNX_BUILD_TESTS=OFF", "-DNX_BUILD_BENCH=OFF",
                "-DNX_BUILD_EXAMPLES=OFF", "-DNX_BUILD_PYTHON=ON", f"-DPYTHON_EXECUTABLE={sys.executable}"]
        if shutil.which("ninja"):
            args += ["-G", "Ninja"]
        if shutil.which("ccache"):
            args += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
        subprocess.check_call(["cmake", "-S", str(ROOT), "-B", str(build)] + args)
        subprocess.check_call(["cmake", "--build", str(build), "--target", "nxruntime_python", "nxexamples",
                               "-j", str(os.cpu_count() or 2)])
        dest = Path(self.get_ext_fullpath(ext.name)).parent
        dest.mkdir(parents=True, exist_ok=True)
        for f in (build / "python" / "nxruntime").iterdir():
            if f.is_file():
                shutil.copy2(f, dest / f.name)
        # The library under its soname, the file the module's run path finds.
        shutil.copy2((build / "libnxruntime.so.0").resolve(), dest / "libnxruntime.so.0")
        # A package finds the library already loaded by the module (by its soname).
        (dest / "packages").mkdir(exist_ok=True)
        for f in (build / "packages").glob("*.so"):
            shutil.copy2(f, dest / "packages" / f.name)


setup(
    packages=["nxruntime"],
    package_dir={"nxruntime": "python/nxruntime"},
    package_data={"nxruntime": ["*.pyi", "py.typed"]},
    ext_modules=[Extension("nxruntime._nxruntime", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
