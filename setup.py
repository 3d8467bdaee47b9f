"""Builds and installs the Python module kelvane: `pip install .` from this folder.

The extension is built by the project's CMake files, with Debian's pybind11 and numpy (no
build isolation is needed: nothing is downloaded). The C++ library comes with it, linked in.
"""
import os
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = os.path.dirname(os.path.abspath(self.get_ext_fullpath(ext.name)))
        build = os.path.join(self.build_temp, "cmake")
        subprocess.check_call(["cmake", "-S", HERE, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
                               "-DPython3_EXECUTABLE=" + sys.executable])
        subprocess.check_call(["cmake", "--build", build, "--target", "_kelvane", "-j", str(os.cpu_count() or 1)])
        built = os.path.join(build, "python", "kelvane", os.path.basename(self.get_ext_fullpath(ext.name)))
        os.makedirs(target, exist_ok=True)
        self.copy_file(built, os.path.join(target, os.path.basename(built)))


setup(
    name="kelvane",
    version="0.2.0",
    description="Levels uneven brightness and contrast in pictures",
    packages=["kelvane"],
    package_dir={"": "python"},
    package_data={"kelvane": ["__init__.pyi", "py.typed"]},
    ext_modules=[CMakeExtension("kelvane._kelvane")],
    cmdclass={"build_ext": CMakeBuild},
    install_requires=["numpy"],
    python_requires=">=3.9",
)
