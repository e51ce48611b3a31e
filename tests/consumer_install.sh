#!/bin/sh
# Installs the build tree into a temporary prefix, then builds and runs the
# consumer project examples/consumer against the installed CMake package,
# a compile of the same source against the pkg-config file, and the C
# interface's test program compiled as C99 against the installed header.
#
#   consumer_install.sh CMAKE BUILD_DIR CONSUMER_SOURCE_DIR CXX GENERATOR [SANITIZE [CC]]
set -eu
cmake=$1 build=$2 src=$3 cxx=$4 generator=$5 sanitize=${6:-} cc=${7:-cc}
c_test=$(dirname "$0")/capi/c_api_test.c
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
flags=""
[ -n "$sanitize" ] && flags="-fsanitize=$sanitize"

fail() { echo "FAIL: $*"; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" > "$tmp/install.log" || { cat "$tmp/install.log"; fail "cmake --install"; }

# Public headers only (the programs below include them), the versioned
# library and its links.
extra=$(cd "$prefix/include" && find . -type f ! -path './tarn/*.h')
[ -z "$extra" ] || fail "headers beyond include/tarn/*.h installed: $extra"
libfile=$(find "$prefix" -name 'libtarnintr.so.1.1.0.9' | head -n 1)
[ -n "$libfile" ] || fail "libtarnintr.so.1.1.0.9 not installed"
libdir=$(dirname "$libfile")
[ -L "$libdir/libtarnintr.so.1" ] && [ -L "$libdir/libtarnintr.so" ] || fail "library links missing"

# The CMake package, with its version file (the consumer asks for 1.1).
"$cmake" -S "$src" -B "$tmp/build" -G "$generator" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" > "$tmp/configure.log" 2>&1 ||
  { cat "$tmp/configure.log"; fail "configuring the consumer"; }
grep -q "tarnintr 1.1.0.9" "$tmp/configure.log" || { cat "$tmp/configure.log"; fail "package version not reported"; }
"$cmake" --build "$tmp/build" > "$tmp/build.log" 2>&1 || { cat "$tmp/build.log"; fail "building the consumer"; }
out=$("$tmp/build/consumer") || fail "consumer exited with $?"
[ "$out" = "42" ] || fail "consumer printed '$out', expected 42"
echo "CMake package: consumer printed $out"

# The pkg-config file.
PKG_CONFIG_PATH=$libdir/pkgconfig
export PKG_CONFIG_PATH
version=$(pkg-config --modversion tarnintr) || fail "pkg-config does not find tarnintr"
[ "$version" = "1.1.0.9" ] || fail "pkg-config --modversion gives '$version'"
# shellcheck disable=SC2046
"$cxx" -std=c++20 $flags -o "$tmp/consumer-pc" "$src/main.cc" $(pkg-config --cflags --libs tarnintr) ||
  fail "building the consumer with pkg-config"
out=$(LD_LIBRARY_PATH=$libdir "$tmp/consumer-pc") || fail "pkg-config consumer exited with $?"
[ "$out" = "42" ] || fail "pkg-config consumer printed '$out', expected 42"
echo "pkg-config $version: consumer printed $out"

# The C interface from C: the installed header and library only.
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror $flags -o "$tmp/c-consumer" "$c_test" \
  $(pkg-config --cflags --libs tarnintr) -lm || fail "building the C program with pkg-config"
out=$(LD_LIBRARY_PATH=$libdir "$tmp/c-consumer") || fail "C program exited with $?"
echo "$out"
