#!/bin/sh
# The Python module as its users install it: `cmake --install` into a scratch prefix gives a
# distribution that importlib.metadata knows and pip uninstalls, and `pip install .` (built
# in the existing build folder, so that nothing is compiled twice) installs every file of the
# package, its stubs included.
# Usage: check_python_install.sh BUILD_DIR SOURCE_DIR PYTHON_DIR (the package's folder under a prefix)
set -eu
build=$(cd "$1" && pwd)
source=$2
python_dir=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
python=/usr/bin/python3

# An earlier version's metadata is replaced, not left beside the new one.
site="$scratch/prefix/$python_dir"
mkdir -p "$site/kelvane-0.0.1.dist-info"
echo "Name: kelvane" > "$site/kelvane-0.0.1.dist-info/METADATA"
cmake --install "$build" --component python --prefix "$scratch/prefix" >/dev/null
infos=$(ls -d "$site"/kelvane-*.dist-info | wc -l)
[ "$infos" = 1 ] || { echo "metadata of two versions:"; ls -d "$site"/kelvane-*.dist-info; exit 1; }
"$scratch/prefix/bin/kelvane-preview" --help | grep -q "usage: kelvane-preview" ||
  { echo "kelvane-preview does not start"; exit 1; }
version=$(cd "$scratch" && PYTHONPATH="$site" $python -c 'import importlib.metadata, kelvane
assert kelvane.__file__.startswith("'"$site"'"), kelvane.__file__
print(importlib.metadata.version("kelvane"))')
expected=$(PYTHONPATH="$site" $python -c 'import kelvane; print(kelvane.__version__)')
[ "$version" = "$expected" ] || { echo "metadata says $version, the module $expected"; exit 1; }
PYTHONPATH="$site" $python -m pip uninstall -y --break-system-packages --root-user-action=ignore kelvane >/dev/null
left=$(find "$site" -mindepth 1 | wc -l)
[ "$left" = 0 ] || { echo "pip uninstall left:"; find "$site"; exit 1; }
[ ! -e "$scratch/prefix/bin/kelvane-preview" ] || { echo "pip uninstall left bin/kelvane-preview"; exit 1; }

# pip works in a copy of the sources: it writes its build files and metadata where it builds.
mkdir "$scratch/sources"
cp -r "$source/CMakeLists.txt" "$source/setup.py" "$source/pyproject.toml" "$source/README.md" "$source/kelvane.pc.in" \
  "$source/include" "$source/src" "$source/python" "$source/fuzz" "$source/bench" "$source/tools" "$source/tests" \
  "$scratch/sources/"
KELVANE_BUILD_DIR="$build" $python -m pip install --no-build-isolation --no-deps --no-index --quiet --root-user-action=ignore \
  --target "$scratch/target" "$scratch/sources" >/dev/null
for file in __init__.py __init__.pyi files.pyi cluster.py cluster.pyi _kelvane.pyi py.typed; do
  [ -f "$scratch/target/kelvane/$file" ] || { echo "pip install . did not install kelvane/$file"; exit 1; }
done
ls "$scratch/target/kelvane/"_kelvane.*.so >/dev/null
ls "$scratch/target/kelvane-$expected.dist-info/METADATA" >/dev/null
echo "kelvane $version: installed with its metadata, uninstalled by pip, and installed whole by pip install ."
