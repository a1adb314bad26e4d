#!/usr/bin/env bash
# Checks the arm64 Debian packages that scripts/package.sh cross-built into
# PACKAGE_DIR, on this x86-64 machine and in an emulated arm64 Debian 12 root
# (scripts/arm64-root.sh, kept under WORK_DIR):
#   - every package of debian/control is there, holding exactly the files of
#     tests/packages/contents.txt (debug-symbol packages: debug files only),
#     every program and library an AArch64 one;
#   - dpkg-shlibdeps gave arm64 dependencies: the arm64 C (and C++) library
#     with a version, the device's real platform libraries first and the
#     stand-ins second (the stand-ins' shlibs file), nothing of the cross
#     toolchain; the relations between our packages as for amd64;
#   - the architecture-independent package is the one the amd64 build made,
#     where that build is at hand: same files, same fields;
#   - lintian finds no error; no ELF file carries a library search path; the
#     pkg-config files name /usr and the arm64 multiarch directory;
#   - the binary interface of the packaged libraries (with the debug
#     information of their -dbgsym packages) matches tests/abi/aarch64/;
#   - in the arm64 root: apt installs every package from a local repository,
#     running the maintainer scripts (group, user, /run/camera with its
#     modes, the services enabled); camprop set, get, list, check, load and
#     persist restore work there, as root and as the services' user, in the
#     root's private /run; tests/consumer, cross-compiled against the
#     installed -dev package once with CMake and once with pkg-config, runs
#     there, loading our libraries from /usr/lib/aarch64-linux-gnu; and apt
#     removes every package again.
#
#   scripts/check-packages-arm64.sh PACKAGE_DIR WORK_DIR
#
# Needs root (for the root's namespaces), the cross compiler
# (g++-aarch64-linux-gnu), and, the first time, Debian's package archive.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
step() { printf -- '--- %s\n' "$*"; }
fail() { echo "check-packages-arm64: $*" >&2; exit 1; }

arch=arm64
multiarch=aarch64-linux-gnu
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
mapfile -t packages < <(sed -n 's/^Package: *//p' "$root/debian/control")

# What runs inside the emulated root (see the end): ARM64_ROOT names it,
# PACKAGE_DIR the packages, WORK the scratch directory of the outer run.
inside() {
  local dir=$1 work=$2 target=$ARM64_ROOT
  in_root() { chroot "$target" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
                LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }

  step "apt installs the packages, running their maintainer scripts"
  mkdir -p "$target/srv/isputils"
  cp "$dir"/*.deb "$target/srv/isputils/"
  (cd "$target/srv/isputils" && dpkg-scanpackages --multiversion . /dev/null >Packages 2>/dev/null)
  # The local repository is the only source: the root has no network, and
  # everything our packages need beyond themselves is in it already.
  echo 'deb [trusted=yes] file:/srv/isputils ./' >"$target/etc/apt/sources.list"
  rm -f "$target"/etc/apt/sources.list.d/*
  in_root apt-get -q update >/dev/null
  in_root apt-get -q -y install --no-install-recommends "${packages[@]}" ||
    fail "apt could not install the arm64 packages"
  for package in "${packages[@]}"; do
    [[ $(in_root dpkg-query -W -f='${Status} ${Architecture}' "$package") =~ \
       ^install\ ok\ installed\ (arm64|all)$ ]] || fail "$package is not installed"
  done
  in_root getent group camera >/dev/null || fail "no group camera"
  [[ $(in_root id -gn camera-properties) == camera ]] || fail "no user camera-properties in the group camera"
  modes=$(in_root stat -c '%n %a %U:%G' /run/camera /run/camera/property_storage) ||
    fail "the maintainer scripts did not make /run/camera"
  echo "$modes"
  [[ $modes == $'/run/camera 3770 root:camera\n/run/camera/property_storage 660 root:camera' ]] ||
    fail "/run/camera must be mode 3770 and its file 660, both of root and the group camera"
  for unit in camera-properties.service camera-persist.service; do
    [[ $(in_root systemctl is-enabled "$unit" 2>&1) == enabled ]] || fail "$unit is not enabled"
  done
  echo "installed: ${packages[*]}"

  step "camprop in the root's private /run"
  mkdir -p "$target/tmp/camprop"
  printf '# a device default\nvendor.camera.hdr = on\npersist.qvx.camera.log_level=2\n' \
    >"$target/tmp/camprop/defaults.conf"
  printf 'persist.qvx.camera.log_level=4\npersist.vendor.saved=yes\n' \
    >"$target/tmp/camprop/saved.properties"
  in_root sh -eu -c '
    camprop set vendor.debug.isp.frames 12
    test "$(camprop get vendor.debug.isp.frames)" = 12
    test "$(camprop get vendor.debug.unset fallback)" = fallback
    if camprop get vendor.debug.unset 2>/dev/null; then echo "get of an unset key succeeded" >&2; exit 1; fi
    camprop load /tmp/camprop/defaults.conf
    test "$(camprop get vendor.camera.hdr)" = on
    camprop persist restore --file /tmp/camprop/saved.properties
    test "$(camprop get persist.qvx.camera.log_level)" = 4
    test "$(camprop get persist.vendor.saved)" = yes
    camprop list
    camprop check
    # The services user, in the group camera, shares the store.
    setpriv --reuid camera-properties --regid camera --init-groups \
      camprop set vendor.debug.from.service 1
    test "$(camprop get vendor.debug.from.service)" = 1
    # Anyone else is kept out of /run/camera.
    if setpriv --reuid nobody --regid nogroup --clear-groups \
         camprop get vendor.debug.from.service 2>/dev/null; then
      echo "a user outside the group camera read the store" >&2; exit 1
    fi
  ' || fail "camprop failed in the arm64 root"
  echo "camprop: set, get, load, persist restore, list and check work, as root and as camera-properties"

  step "consumer cross-compiled against the installed libisputils-dev"
  local libdir=$target/usr/lib/$multiarch consumer=$work/consumer
  # The cross compiler's own C and C++ libraries (Debian's, of the same
  # versions as the root's); ours and the stand-ins from the root.
  cmake -S "$root/tests/consumer" -B "$consumer/cmake" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/aarch64-linux-gnu.cmake" \
    -DCMAKE_FIND_ROOT_PATH="$target" -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_SKIP_RPATH=ON \
    -DCMAKE_EXE_LINKER_FLAGS="-Wl,-rpath-link,$libdir" >/dev/null
  cmake --build "$consumer/cmake" >/dev/null
  grep -q "$target/usr/lib/$multiarch/cmake/IspUtils" "$consumer/cmake/CMakeCache.txt" ||
    fail "CMake did not find IspUtils in the root's libisputils-dev"
  local modules=(propstore platlog ispbuffers) cflags libs
  export PKG_CONFIG_LIBDIR=$libdir/pkgconfig:$target/usr/share/pkgconfig
  export PKG_CONFIG_SYSROOT_DIR=$target
  pkg-config --exists --print-errors "${modules[@]}"
  read -r -a cflags <<<"$(pkg-config --cflags "${modules[@]}")"
  read -r -a libs <<<"$(pkg-config --libs "${modules[@]}")"
  echo "pkg-config: ${cflags[*]} ${libs[*]}"
  aarch64-linux-gnu-g++ -std=c++17 -Wall -Wextra -Werror -fno-exceptions "${cflags[@]}" \
    "$root/tests/consumer/consumer.cpp" -o "$consumer/pkgconfig-consumer" \
    "${libs[@]}" -Wl,-rpath-link,"$libdir"
  unset PKG_CONFIG_LIBDIR PKG_CONFIG_SYSROOT_DIR
  mkdir -p "$target/opt/consumer"
  cp "$consumer/cmake/isputils_consumer" "$consumer/pkgconfig-consumer" "$target/opt/consumer/"
  for binary in isputils_consumer pkgconfig-consumer; do
    [[ $(LC_ALL=C readelf -h "$target/opt/consumer/$binary" | sed -n 's/^ *Machine: *//p') == AArch64 ]] ||
      fail "$binary is not an AArch64 program"
    # Each of our libraries (and the stand-ins) from the packages' directory.
    while read -r name _ path _; do
      case $name in
        libpropstore.so.* | libplatlog.so.* | libispbuffers.so.* | libbase-core.so.* | \
        libqvxcam_ulog.so.* | libqvxcam.debugwrapper.so.*)
          # /lib is /usr/lib on Debian 12, so the loader may name either.
          [[ $path == /usr/lib/$multiarch/* || $path == /lib/$multiarch/* ]] ||
            fail "$binary loads $name from '$path', not from the packages' /usr/lib/$multiarch" ;;
      esac
    done < <(in_root ldd "/opt/consumer/$binary")
    in_root "/opt/consumer/$binary" || fail "$binary failed in the arm64 root"
  done

  step "apt removes the packages again"
  in_root apt-get -q -y purge "${packages[@]}" >/dev/null || fail "apt could not remove the packages"
  left=$(in_root dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' "${packages[@]}" 2>/dev/null |
         grep -v '^un ' || true)
  [[ -z $left ]] || fail "left after purge: $left"
  echo "removed: every package"
}
if [[ ${1:-} == --inside ]]; then
  shift
  inside "$@"
  exit 0
fi

if [[ $# -ne 2 ]]; then
  echo "usage: $0 PACKAGE_DIR WORK_DIR" >&2
  exit 2
fi
dir=$(cd "$1" && pwd)
mkdir -p "$2"
work_root=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$root/scripts/lib/package-checks.sh"

unpacked=$work/unpacked
check_contents "$unpacked"
compgen -G "$dir/*-dbgsym_${version}_${arch}.deb" >/dev/null || fail "no debug-symbol packages in $dir"
elves=0
while IFS= read -r -d '' file; do
  machine=$(LC_ALL=C readelf -h "$file" 2>/dev/null | sed -n 's/^ *Machine: *//p') || continue
  [[ -n $machine ]] || continue
  [[ $machine == AArch64 ]] || fail "${file#"$unpacked"/} is built for $machine"
  elves=$((elves + 1))
done < <(find "$unpacked" -type f -print0)
((elves > 0)) || fail "no ELF files in the packages"
echo "$elves ELF files, all AArch64"

step "dependencies: arm64 libraries from dpkg-shlibdeps, the stand-ins as the alternative"
depends() { dpkg-deb -f "$(deb "$1")" Depends | sed 's/, */\n/g'; }
expect_depends() {  # package, dependency (an extended regular expression)...
  local package=$1; shift
  for dependency in "$@"; do
    depends "$package" | grep -qxE -- "$dependency" ||
      fail "$package does not depend on '$dependency': $(depends "$package" | paste -sd ',')"
  done
}
standins=isputils-platform-standins
libc='libc6 \(>= [0-9.]+\)'
libstdcxx='libstdc\+\+6 \(>= [0-9.]+\)'
v=${version//./\\.}
# The libraries' bounds come from their symbols files and shlibs, as amd64's.
expect_depends libpropstore1 "libpropstore-common \(>= $v\)" "$libc"
expect_depends libplatlog1 "libpropstore1 \(>= 1\.0\.0\)" "libbase-core1 \| $standins \(>= 1\.0\.0\)" \
  "$libc" "$libstdcxx"
expect_depends libispbuffers1 "libplatlog1 \(>= 1\.0\.0\)" \
  "libqvxcam-ulog1 \| $standins \(>= 1\.0\.0\)" \
  "libqvxcam.debugwrapper1 \| $standins \(>= 1\.0\.0\)" "$libc" "$libstdcxx"
expect_depends isputils-tools "libpropstore1 \(= $v\)" "$libc"
expect_depends "$standins" "$libc"
for dev in libbase-core-dev libqvxcam-ulog-dev libqvxcam\\.debugwrapper-dev libqvxcam-imageformat-dev; do
  expect_depends libisputils-dev "$dev \| $standins-dev \(= $v\)"
done
for package in "${packages[@]}"; do
  fields=$(dpkg-deb -f "$(deb "$package")" Depends Pre-Depends Recommends)
  if grep -qE -- '-cross\b|:arm64|:amd64' <<<"$fields"; then
    fail "$package names the cross toolchain or an architecture: $fields"
  fi
  relations=$(dpkg-deb -f "$(deb "$package")" Provides Conflicts Breaks Replaces)
  expected=
  [[ $package != isputils-tools ]] ||
    expected=$'Breaks: libpropstore-common (<< 1.1.0~)\nReplaces: libpropstore-common (<< 1.1.0~)'
  [[ $relations == "$expected" ]] || fail "$package declares '$relations', expected '$expected'"
done
echo "$(depends libispbuffers1 | paste -sd ',' | sed 's/,/, /g') (libispbuffers1)"

step "the architecture-independent package"
common=$(deb libpropstore-common)
[[ $common == *_all.deb ]] || fail "libpropstore-common is not Architecture: all"
amd64_common=${AMD64_PACKAGE_DIR:-$root/out/packages}/libpropstore-common_${version}_all.deb
if [[ -f $amd64_common ]]; then
  cmp -s <(listing "$common") <(listing "$amd64_common") &&
    cmp -s <(dpkg-deb -f "$common" | grep -v '^Installed-Size') \
           <(dpkg-deb -f "$amd64_common" | grep -v '^Installed-Size') ||
    fail "libpropstore-common differs from the amd64 build's $amd64_common"
  echo "the same as the amd64 build's (files and fields)"
else
  echo "no amd64 build at $amd64_common to compare with"
fi

# The same rules as for amd64.
check_lintian
check_unpacked_paths "$unpacked"

step "binary interface of the packaged libraries against tests/abi/aarch64/"
mkdir -p "$work/abi/lib"
for name in propstore platlog ispbuffers; do
  ln -s "$unpacked/usr/lib/$multiarch/lib$name.so.1" "$work/abi/lib/"
done
bash "$root/scripts/check-abi.sh" --debug-info-dir "$unpacked/usr/lib/debug" "$work/abi"

bash "$root/scripts/arm64-root.sh" "$work_root" bash "$0" --inside "$dir" "$work"
step "arm64 packages checked"
