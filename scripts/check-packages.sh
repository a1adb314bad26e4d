#!/usr/bin/env bash
# Checks the Debian packages that scripts/package.sh built into PACKAGE_DIR:
#   - every package of debian/control is there, holding exactly the files of
#     tests/packages/contents.txt (debug-symbol packages: debug files only);
#   - the runtime packages depend on each outside library as an alternative,
#     the device's real package first and the stand-ins second, and nothing
#     provides or conflicts with the real names;
#   - with dummy real packages (built here with dpkg-deb) installed in a
#     scratch apt state, as on a device whose camera stack needs them,
#     `apt-get -s install` of each of our packages removes nothing and pulls
#     in no stand-in, and none but isputils-tools brings in isputils-tools
#     (with apt's default Recommends); without them, the stand-ins come in;
#   - the store's tmpfiles.d entry, applied to a scratch root, makes
#     /run/camera a setgid, sticky directory of root and the group camera
#     that others cannot enter, and the records of the values nobody set
#     files of the service's user that the group cannot write;
#   - lintian finds no error;
#   - unpacked into a scratch root: the pkg-config files name /usr, not a
#     path relative to themselves; `systemd-analyze verify` passes the units
#     (their programs and manual page are looked up in that root); no ELF
#     file carries a library search path; and the packages build and run
#     tests/consumer (scripts/check-consumer.sh --prefix), also on a
#     device's root with its own platform libraries under other file names
#     and no stand-in (scripts/check-device-root.sh).
#
#   scripts/check-packages.sh PACKAGE_DIR
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
fail() { echo "check-packages: $*" >&2; exit 1; }

version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
mapfile -t packages < <(sed -n 's/^Package: *//p' "$root/debian/control")
source "$root/scripts/lib/package-checks.sh"

check_contents

step "dependencies: the device's real libraries first, the stand-ins as the alternative"
depends() { dpkg-deb -f "$(deb "$1")" Depends | sed 's/, */\n/g'; }
expect_depends() {  # package, dependency (as written in the field)...
  local package=$1; shift
  for dependency in "$@"; do
    depends "$package" | grep -qxF -- "$dependency" ||
      fail "$package does not depend on '$dependency': $(depends "$package" | paste -sd ',')"
  done
}
standins=isputils-platform-standins
# The bounds of the libraries come from their symbols files and shlibs: the
# release that brought what a dependant uses, not the one it was built with.
expect_depends libpropstore1 "libpropstore-common (>= $version)"
expect_depends libplatlog1 "libpropstore1 (>= 1.0.0)" "libbase-core1 | $standins (>= 1.0.0)"
expect_depends libispbuffers1 "libplatlog1 (>= 1.0.0)" \
  "libqvxcam-ulog1 | $standins (>= 1.0.0)" "libqvxcam.debugwrapper1 | $standins (>= 1.0.0)"
expect_depends isputils-tools "libpropstore1 (= $version)"
for dev in libbase-core-dev libqvxcam-ulog-dev libqvxcam.debugwrapper-dev \
           libqvxcam-imageformat-dev; do
  expect_depends libisputils-dev "$dev | $standins-dev (= $version)"
done
# Only the move of the units from libpropstore-common to isputils-tools
# (1.1.0) declares relations.
for package in "${packages[@]}"; do
  relations=$(dpkg-deb -f "$(deb "$package")" Provides Conflicts Breaks Replaces)
  expected=
  [[ $package != isputils-tools ]] ||
    expected=$'Breaks: libpropstore-common (<< 1.1.0~)\nReplaces: libpropstore-common (<< 1.1.0~)'
  [[ $relations == "$expected" ]] || fail "$package declares '$relations', expected '$expected'"
done

step "on a device with the real platform libraries, installing ours removes nothing"
# A scratch apt state: the machine's installed packages (less ours), the
# device's dummy real packages and a camera stack that needs them marked
# installed, and a local repository of our packages and the dummies. None
# of the machine's apt configuration, hooks, lists or state is read or
# written (APT_CONFIG is read first, and points everything elsewhere).
sim=$work/apt
[[ -n $work && -d $work ]] || fail "no scratch directory"
mkdir -p "$sim/ours" "$sim/device" "$sim/lists/partial" "$sim/cache/archives/partial" "$sim/parts" \
  "$sim/preferences.d" "$sim/sources.list.d"
printf '%s\n' \
  'Dir::Etc::Main "/dev/null";' \
  "Dir::Etc::Parts \"$sim/parts\";" \
  "Dir::Etc::SourceList \"$sim/sources.list\";" \
  "Dir::Etc::SourceParts \"$sim/sources.list.d\";" \
  'Dir::Etc::Preferences "/dev/null";' \
  "Dir::Etc::PreferencesParts \"$sim/preferences.d\";" \
  "Dir::State \"$sim\";" \
  "Dir::State::Lists \"$sim/lists\";" \
  "Dir::State::status \"$sim/status\";" \
  "Dir::Cache \"$sim/cache\";" \
  'Debug::NoLocking "true";' \
  'Acquire::Languages "none";' \
  'APT::Sandbox::User "root";' \
  "APT::Architectures { \"$arch\"; };" >"$sim/apt.conf"
apt_sim() { APT_CONFIG=$sim/apt.conf apt-get -q "$@"; }
sources() {  # repository...: the only ones apt knows of from now on
  printf 'deb [trusted=yes] file:%s ./\n' "$@" >"$sim/sources.list"
  rm -f "$sim/lists/"*_Packages* "$sim/lists/"*Release*
  apt_sim update >/dev/null
}
dummy() {  # package, [Depends: field]: builds it into the device's repository
  local tree=$work/dummy/$1
  mkdir -p "$tree/DEBIAN"
  {
    echo "Package: $1"
    echo "Version: 1.0"
    echo "Architecture: $arch"
    echo "Multi-Arch: same"
    echo "Maintainer: Device maker <device@example.org>"
    [[ -z ${2:-} ]] || echo "Depends: $2"
    echo "Description: dummy of a device's own package, for the package checks"
  } >"$tree/DEBIAN/control"
  dpkg-deb --root-owner-group --build "$tree" "$sim/device/$1_1.0_$arch.deb" >/dev/null
}
real=(libbase-core1 libqvxcam-ulog1 libqvxcam.debugwrapper1)
real_dev=(libbase-core-dev libqvxcam-ulog-dev libqvxcam.debugwrapper-dev
          libqvxcam-imageformat-dev)
for package in "${real[@]}"; do dummy "$package"; done
dummy libbase-core-dev "libbase-core1 (= 1.0)"
dummy libqvxcam-ulog-dev "libqvxcam-ulog1 (= 1.0)"
dummy libqvxcam.debugwrapper-dev "libqvxcam.debugwrapper1 (= 1.0)"
dummy libqvxcam-imageformat-dev
dummy device-camera-stack "$(IFS=,; echo "${real[*]}")"
for package in "${packages[@]}"; do cp "$(deb "$package")" "$sim/ours/"; done
for repository in "$sim/ours" "$sim/device"; do
  (cd "$repository" && dpkg-scanpackages --multiversion . /dev/null >Packages 2>/dev/null)
done
# The machine's packages stand in for the device's base system, less any of
# ours it may have installed.
awk -v ours=" ${packages[*]} " 'BEGIN { RS = ""; ORS = "\n\n" }
  { split($0, field, "\n"); name = substr(field[1], 10)
    if (index(ours, " " name " ") == 0) print }' /var/lib/dpkg/status >"$sim/status.host"
installed() {  # package...: the scratch status is the machine's plus these dummies
  cp "$sim/status.host" "$sim/status"
  for package in "$@"; do
    dpkg-deb -f "$sim/device/${package}_1.0_$arch.deb" |
      sed '1a Status: install ok installed' >>"$sim/status"
    echo >>"$sim/status"
  done
}
simulate() {  # package: what `apt-get -s install` would do; fails when it cannot
  apt_sim -s install "$1" >"$sim/plan" 2>&1 ||
    fail "apt-get -s install $1 cannot be satisfied: $(cat "$sim/plan")"
  cat "$sim/plan"
}
installed "${real[@]}" "${real_dev[@]}" device-camera-stack
sources "$sim/ours" "$sim/device"
for package in "${packages[@]}"; do
  plan=$(simulate "$package")
  removed=$(grep '^Remv ' <<<"$plan" || true)
  [[ -z $removed ]] || fail "installing $package on a device removes: $removed"
  if [[ $package != "$standins"* ]]; then
    pulled=$(grep "^Inst $standins" <<<"$plan" || true)
    [[ -z $pulled ]] || fail "installing $package on a device pulls in the stand-ins: $pulled"
  fi
  # With apt's default Recommends: only isputils-tools brings the services.
  if [[ $package != isputils-tools ]] && grep -q '^Inst isputils-tools ' <<<"$plan"; then
    fail "installing $package brings in isputils-tools and its services"
  fi
  echo "$package: $(grep -c '^Inst ' <<<"$plan" || true) to install, none removed"
done
# Where none of the real libraries is installed or to be had, the
# alternatives fall to the stand-ins.
installed
sources "$sim/ours"
plan=$(simulate libisputils-dev)
for package in "$standins" "$standins-dev"; do
  grep -q "^Inst $package " <<<"$plan" ||
    fail "installing libisputils-dev without the real libraries does not pull in $package"
done
echo "without the real libraries, libisputils-dev brings in the stand-ins"

step "the store's tmpfiles.d entry, applied to a scratch root"
check_tmpfiles() {
  local scratch=$work/tmpfiles-root modes
  mkdir -p "$scratch/etc"
  printf 'root:x:0:0:root:/root:/bin/sh\ncamera-properties:x:4243:4242::/nonexistent:/usr/sbin/nologin\n' \
    >"$scratch/etc/passwd"
  printf 'root:x:0:\ncamera:x:4242:\n' >"$scratch/etc/group"
  dpkg -x "$(deb libpropstore-common)" "$scratch"
  systemd-tmpfiles --root="$scratch" --create libpropstore-common.conf ||
    fail "systemd-tmpfiles refused the entry"
  modes=$(cd "$scratch/run/camera" && stat -c '%n %a %u:%g' . property_storage persist_defaults persist_forgotten)
  echo "$modes"
  [[ $modes == $'. 3770 0:4242\nproperty_storage 660 0:4242\npersist_defaults 640 4243:4242\npersist_forgotten 640 4243:4242' ]] ||
    fail "/run/camera must be mode 3770 and its store 660, both of root and the group camera;" \
         "the records 640, of camera-properties and camera"
}
if [[ $(id -u) -eq 0 ]]; then
  check_tmpfiles
else
  echo "SKIPPED: giving files to the group camera needs root (CI runs as root)"
fi

check_lintian

step "unpack into a scratch root"
unpacked=$work/root
for package in "${packages[@]}"; do
  dpkg -x "$(deb "$package")" "$unpacked"
done
[[ -d $unpacked/etc/camera/properties.d ]] || fail "isputils-tools lacks /etc/camera/properties.d/"
check_unpacked_paths "$unpacked"

step "systemd-analyze verify of the units, in the unpacked tree"
# The machine's own units stand in for the system that the units order
# themselves against; the programs they run and their manual page are
# looked up in the tree, so a unit whose program is not packaged fails.
units=$work/units-root
mkdir -p "$units/lib/systemd/system"
cp -a /lib/systemd/system/. "$units/lib/systemd/system/"
cp -a "$unpacked/." "$units/"
mapfile -t unit_names < <(cd "$unpacked/lib/systemd/system" && ls)
((${#unit_names[@]})) || fail "no systemd units packaged"
MANPATH=$units/usr/share/man systemd-analyze verify --root="$units" "${unit_names[@]}" ||
  fail "systemd-analyze verify refused the units (above)"
echo "verified: ${unit_names[*]}"
bash "$root/scripts/check-consumer.sh" --prefix "$unpacked/usr"
step "on a device's root with its own platform libraries and no stand-ins"
bash "$root/scripts/check-device-root.sh" "$dir"
step "packages checked"
