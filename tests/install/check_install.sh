#!/bin/sh
# Installs the built project into a scratch prefix, then builds a small outside program
# against the installed library with its CMake package (shared and static) and with
# pkg-config, runs each, and checks that they print the same leveled row and error text.
# Usage: check_install.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
source=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
cmake -S "$source/tests/install/consumer" -B "$prefix/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer" >/dev/null
shared=$(LD_LIBRARY_PATH="$prefix/lib" "$prefix/consumer/consumer_shared")
static=$("$prefix/consumer/consumer_static")
g++ -std=c++17 "$source/tests/install/consumer/main.cpp" -o "$prefix/consumer_pkg" \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs kelvane)
pkg=$(LD_LIBRARY_PATH="$prefix/lib" "$prefix/consumer_pkg")
for output in "$static" "$pkg"; do
  [ "$output" = "$shared" ] || { echo "programs disagree: '$shared' and '$output'"; exit 1; }
done
case "$shared" in
  *"| Illegal function: {meen}. Try {mean}.") ;;
  *) echo "unexpected output: $shared"; exit 1 ;;
esac
echo "shared, static and pkg-config programs agree: $shared"
