#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and checks it as a user of
# the package would: the libraries with their SONAME links, the headers, the
# CMake package and the pkg-config files are all there; tests/consumer builds
# once through find_package(IspUtils CONFIG) and once through pkg-config; both
# binaries and the installed camprop run in a private /run. No ELF file of the
# build tree or the install tree may search an empty or relative directory.
#
#   scripts/check-consumer.sh BUILD_DIR
set -euo pipefail
if [[ $# -ne 1 ]]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

step() { printf -- '--- %s\n' "$*"; }
fail() { echo "check-consumer: $*" >&2; exit 1; }

step "install into a temporary prefix"
cmake --build "$build" >/dev/null
cmake --install "$build" --prefix "$prefix" >/dev/null

libdir=$(dirname "$(find "$prefix" -name libpropstore.so -print -quit)")
[[ -d $libdir ]] || fail "libpropstore.so was not installed"
for name in propstore platlog ispbuffers base-core qvxcam_ulog qvxcam.debugwrapper; do
  for file in "lib$name.so" "lib$name.so.1" "lib$name.so.1.0.0"; do
    [[ -e $libdir/$file ]] || fail "missing $libdir/$file"
  done
  soname=$(objdump -p "$libdir/lib$name.so.1.0.0" | awk '$1 == "SONAME" { print $2 }')
  [[ $soname == "lib$name.so.1" ]] || fail "lib$name has SONAME '$soname'"
done
for header in propstore/properties.h platlog/platform_log.h isphal/Buffer.h \
              isphal/TuningBuffer.h; do
  [[ -f $prefix/include/$header ]] || fail "missing header $header"
done
[[ -f $libdir/cmake/IspUtils/IspUtilsConfig.cmake ]] || fail "missing the CMake package"
for pc in propstore platlog ispbuffers; do
  [[ -f $libdir/pkgconfig/$pc.pc ]] ||
    fail "missing $pc.pc (see cmake/pkgconfig/)"
done
[[ -x $prefix/bin/camprop ]] || fail "camprop was not installed"

step "library search paths of the build tree and the install tree"
"$root/scripts/check-runpath.sh" "$build" "$prefix" ||
  fail "search paths with empty or relative entries (listed above)"

# Nothing may reach back into the source or build tree.
unset LD_LIBRARY_PATH

step "consumer through find_package(IspUtils CONFIG)"
cmake -S "$root/tests/consumer" -B "$work/cmake" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/dev/null
cmake --build "$work/cmake" >/dev/null

step "consumer through pkg-config"
export PKG_CONFIG_PATH=$libdir/pkgconfig
export PKG_CONFIG_LIBDIR=$libdir/pkgconfig
modules=(propstore platlog ispbuffers)
pkg-config --exists --print-errors "${modules[@]}"
read -r -a cflags <<<"$(pkg-config --cflags "${modules[@]}")"
read -r -a libs <<<"$(pkg-config --libs "${modules[@]}")"
pc_libdir=$(pkg-config --variable=libdir propstore)
[[ $(cd "$pc_libdir" && pwd) == "$libdir" ]] || fail "pkg-config libdir $pc_libdir is not $libdir"
${CXX:-c++} -std=c++17 -Wall -Wextra -Werror -fno-exceptions "${cflags[@]}" \
  "$root/tests/consumer/consumer.cpp" -o "$work/pkgconfig-consumer" \
  "${libs[@]}" -Wl,-rpath,"$pc_libdir"

step "run both consumers and the installed camprop in a private /run"
for binary in "$work/cmake/isputils_consumer" "$work/pkgconfig-consumer"; do
  if ldd "$binary" | grep -F -e "$root" -e "$build" >/dev/null; then
    fail "$binary loads libraries from the source or build tree"
  fi
  "$root/scripts/private-run.sh" "$binary"
done
"$root/scripts/private-run.sh" sh -c '
  set -e
  "$1" set persist.qvx.camera.log_level 3
  "$1" set vendor.debug.aaa.perframe_prop.enable 1
  [ "$("$1" get persist.qvx.camera.log_level)" = 3 ]
  "$1" list
  "$1" check' check "$prefix/bin/camprop"
step "package checks passed"
