#!/usr/bin/env bash
# Checks an installed tree as a user of the package would: the libraries
# with their SONAME links, the headers, the CMake package and the
# pkg-config files are all there; tests/consumer builds once through
# find_package(IspUtils CONFIG) and once through pkg-config; both binaries
# and the installed camprop run in a private /run, loading the project's
# libraries from the tree under test and nowhere else. No ELF file of the
# tree (nor of the build tree) may search an empty or relative directory.
#
#   scripts/check-consumer.sh BUILD_DIR       install BUILD_DIR into a temporary
#                                             prefix and check that
#   scripts/check-consumer.sh --prefix DIR    check a tree that is already laid
#                                             out, e.g. the usr/ of unpacked
#                                             packages
#
# An installed prefix finds its libraries through their RUNPATH ($ORIGIN).
# Packaged libraries carry none (they belong in the loader's default
# directories), so with --prefix the programs run with LD_LIBRARY_PATH set
# to the tree's library directory.
#
# Programs run in a private /run through the launcher of a build
# (tests/support/private_run): BUILD_DIR's own, or with --prefix the one
# that ISPUTILS_PRIVATE_RUN names.
set -euo pipefail
usage() {
  echo "usage: $0 BUILD_DIR | --prefix DIR" >&2
  exit 2
}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build=""
case $# in
  1) [[ $1 != -* ]] || usage
     build=$(cd "$1" && pwd)
     prefix=$work/prefix ;;
  2) [[ $1 == --prefix ]] || usage
     prefix=$(cd "$2" && pwd) ;;
  *) usage ;;
esac

step() { printf -- '--- %s\n' "$*"; }
fail() { echo "check-consumer: $*" >&2; exit 1; }

private_run=${ISPUTILS_PRIVATE_RUN:-${build:+$build/tests/support/private_run}}
[[ -x $private_run ]] ||
  fail "no launcher for a private /run (build tests/support/private_run; set ISPUTILS_PRIVATE_RUN)"

if [[ -n $build ]]; then
  step "install into a temporary prefix"
  cmake --build "$build" >/dev/null
  cmake --install "$build" --prefix "$prefix" >/dev/null
fi

libdir=$(dirname "$(find "$prefix" -name libpropstore.so -print -quit)")
[[ -d $libdir ]] || fail "libpropstore.so was not installed"
# Ours are lib<name>.so.1.0.0. The platform libraries are the stand-ins or
# a device's own (scripts/check-device-root.sh), whose file names are the
# device's: of those only the link name and the SONAME are fixed.
for name in propstore platlog ispbuffers base-core qvxcam_ulog qvxcam.debugwrapper; do
  files=("lib$name.so" "lib$name.so.1")
  case $name in
    propstore | platlog | ispbuffers) files+=("lib$name.so.1.0.0") ;;
  esac
  for file in "${files[@]}"; do
    [[ -e $libdir/$file ]] || fail "missing $libdir/$file"
  done
  soname=$(objdump -p "$(readlink -f "$libdir/lib$name.so")" | awk '$1 == "SONAME" { print $2 }')
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

# (The build tree's own are a test of the build: RunpathTest.)
step "library search paths of the tree"
"$root/scripts/check-runpath.sh" "$prefix" ||
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
# Packaged files name the prefix they install to (prefix=/usr); a tree of
# them unpacked elsewhere is reached as a sysroot, as a cross build would.
pc_prefix=$(pkg-config --variable=prefix propstore)
if [[ $pc_prefix == /* && $prefix != "$pc_prefix" && $prefix == *"$pc_prefix" ]]; then
  export PKG_CONFIG_SYSROOT_DIR=${prefix%"$pc_prefix"}
fi
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
[[ -n $build ]] || export LD_LIBRARY_PATH=$libdir
for binary in "$work/cmake/isputils_consumer" "$work/pkgconfig-consumer"; do
  # Each of the project's libraries (and stand-ins) resolves into the tree.
  while read -r name _ path _; do
    case $name in
      libpropstore.so.* | libplatlog.so.* | libispbuffers.so.* | libbase-core.so.* | \
      libqvxcam_ulog.so.* | libqvxcam.debugwrapper.so.*)
        [[ $path == "$libdir"/* ]] || fail "$binary loads $name from '$path', not from $libdir" ;;
    esac
  done < <(ldd "$binary")
  "$private_run" "$binary"
done
"$private_run" sh -c '
  set -e
  "$1" set persist.qvx.camera.log_level 3
  "$1" set vendor.debug.aaa.perframe_prop.enable 1
  [ "$("$1" get persist.qvx.camera.log_level)" = 3 ]
  "$1" list
  "$1" check' check "$prefix/bin/camprop"
step "package checks passed"
