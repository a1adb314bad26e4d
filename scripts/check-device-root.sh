#!/usr/bin/env bash
# Checks the packages that scripts/package.sh built into PACKAGE_DIR on a
# device, which brings its own platform libraries and none of the stand-ins:
# our runtime and development packages (and camprop's) are unpacked into a
# scratch root beside the device's libraries, installed under file names of
# their own (lib<name>.so.1.4.2, the SONAME link to it, the link name to
# that) with their headers in the root's include directory, as a device's
# packages lay them out. There, tests/consumer must build through
# find_package(IspUtils CONFIG) and through pkg-config and run, loading
# every library from that root (scripts/check-consumer.sh --prefix), and
# pkg-config --static must give link names the root has: our CMake package
# and pkg-config files may not name a stand-in's file.
#
# The device's libraries are the stand-ins' own builds, taken out of their
# packages and installed under the device's names: the same interfaces and
# SONAMEs, other files.
#
#   scripts/check-device-root.sh PACKAGE_DIR
#
# Programs run in a private /run through the launcher that
# ISPUTILS_PRIVATE_RUN names (tests/support/private_run of a build).
set -euo pipefail
if [[ $# -ne 1 ]]; then
  echo "usage: $0 PACKAGE_DIR" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

step() { printf -- '--- %s\n' "$*"; }
fail() { echo "check-device-root: $*" >&2; exit 1; }

version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
source "$root/scripts/lib/package-checks.sh"

device=$work/device
libdir=$device/usr/lib/$multiarch
platform_libraries=(base-core qvxcam_ulog qvxcam.debugwrapper)
# Any version but the stand-ins' 1.0.0, so that a file name of theirs
# left in our packages names nothing here.
device_version=1.4.2

step "a device's root: our packages, none of the stand-ins"
for package in libpropstore-common libpropstore1 libplatlog1 libispbuffers1 \
               libisputils-dev isputils-tools; do
  dpkg -x "$(deb "$package")" "$device"
done

step "the device's platform libraries, as lib<name>.so.$device_version"
standins=$work/standins
dpkg -x "$(deb isputils-platform-standins)" "$standins"
dpkg -x "$(deb isputils-platform-standins-dev)" "$standins"
for name in "${platform_libraries[@]}"; do
  built=$(readlink -f "$standins/usr/lib/$multiarch/lib$name.so.1")
  [[ -f $built ]] || fail "isputils-platform-standins has no lib$name.so.1"
  soname=$(objdump -p "$built" | awk '$1 == "SONAME" { print $2 }')
  [[ $soname == "lib$name.so.1" ]] || fail "lib$name has SONAME '$soname'"
  install -m 0644 "$built" "$libdir/lib$name.so.$device_version"
  ln -s "lib$name.so.$device_version" "$libdir/$soname"
  ln -s "$soname" "$libdir/lib$name.so"
  echo "lib$name.so -> $soname -> lib$name.so.$device_version"
done
cp -a "$standins/usr/include/." "$device/usr/include/"
# Nothing of the stand-ins' packages under their own names: no library file
# of theirs, no documentation directory.
stray=$(cd "$device" && find . \( -name 'lib*.so.1.0.0' -o -name 'isputils-platform-standins*' \) \
          ! -name 'libpropstore.so.*' ! -name 'libplatlog.so.*' ! -name 'libispbuffers.so.*')
[[ -z $stray ]] || fail "the device's root holds files of the stand-ins: $stray"

bash "$root/scripts/check-consumer.sh" --prefix "$device/usr"

step "pkg-config --static: link names that the device's root has"
# Libs.private serves static links only, which the consumer build above
# does not make.
export PKG_CONFIG_LIBDIR=$libdir/pkgconfig PKG_CONFIG_PATH=$libdir/pkgconfig
export PKG_CONFIG_SYSROOT_DIR=$device
read -r -a static_libs <<<"$(pkg-config --static --libs propstore platlog ispbuffers)"
echo "${static_libs[*]}"
for flag in "${static_libs[@]}"; do
  case $flag in
    -L*) ;;
    -l*) [[ -e $libdir/lib${flag#-l}.so ]] || fail "pkg-config --static gives $flag, which the root lacks" ;;
    *) fail "pkg-config --static gives '$flag', not a link name" ;;
  esac
done
step "the packages work with the device's own platform libraries"
