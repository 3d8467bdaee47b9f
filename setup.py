"""Builds the extension of the Python module kelvane with the project's CMake files (see
pyproject.toml). KELVANE_BUILD_DIR names a CMake build folder, configured already, to build it in; by
default it is configured and built from scratch in setuptools' own build folder.
"""
import os
import re
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))


def version():
    """MAJOR.MINOR.PATCH from the public header, where the version is written once."""
    with open(os.path.join(HERE, "include", "kelvane", "kelvane.h")) as header:
        text = header.read()
    return ".".join(re.search(r"#define KELVANE_VERSION_%s (\d+)" % part, text).group(1)
                    for part in ("MAJOR", "MINOR", "PATCH"))


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = os.path.dirname(os.path.abspath(self.get_ext_fullpath(ext.name)))
        build = os.environ.get("KELVANE_BUILD_DIR")
        if not build:
            build = os.path.join(self.build_temp, "cmake")
            subprocess.check_call(["cmake", "-S", HERE, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                                   "-DBUILD_TESTING=OFF", "-DPython3_EXECUTABLE=" + sys.executable])
        subprocess.check_call(["cmake", "--build", build, "--target", "_kelvane", "-j", str(os.cpu_count() or 1)])
        built = os.path.join(build, "python", "kelvane", os.path.basename(self.get_ext_fullpath(ext.name)))
        os.makedirs(target, exist_ok=True)
        self.copy_file(built, os.path.join(target, os.path.basename(built)))


setup(
    version=version(),
    ext_modules=[CMakeExtension("kelvane._kelvane")],
    cmdclass={"build_ext": CMakeBuild},
)
