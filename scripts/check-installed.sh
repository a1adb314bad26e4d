#!/usr/bin/env bash
# The packages tested once installed, as Debian's own CI tests packages:
#   - autopkgtest runs debian/tests on a fresh copy of a minimal Debian 12
#     root, through autopkgtest-virt-chroot (no virtual machine), which
#     installs each test's dependencies from Debian's archive and the
#     packages under test from PACKAGE_DIR;
#   - piuparts installs and purges the packages in a chroot of its own and
#     checks what they leave behind, then installs the previous release
#     (PREVIOUS_DIR, from a local repository) and upgrades it to these.
#
#   scripts/check-installed.sh PACKAGE_DIR PREVIOUS_DIR WORK_DIR
#
# The minimal root is made once per machine (debootstrap --variant=minbase
# bookworm; INSTALLED_MIRROR names the archive, as BOOT_MIRROR does for the
# boot stage) and kept as WORK_DIR/bookworm-minbase.tar. Needs root.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
say() { printf 'check-installed: %s\n' "$*"; }
fail() { echo "check-installed: $*" >&2; exit 1; }
step() { printf -- '--- %s\n' "$*"; }
source "$root/scripts/lib/debian-root.sh"
(($# == 3)) || { echo "usage: $0 PACKAGE_DIR PREVIOUS_DIR WORK_DIR" >&2; exit 2; }
[[ $(id -u) -eq 0 ]] || fail "autopkgtest's chroot and piuparts need root"
packages=$(cd "$1" && pwd)
previous=$(cd "$2" && pwd)
mkdir -p "$3"
work=$(cd "$3" && pwd)
mirror=$(bookworm_mirror "${INSTALLED_MIRROR:-}")
mapfile -t debs < <(ls -1 "$packages"/*.deb | grep -v -- '-dbgsym_')
((${#debs[@]})) || fail "no .deb in $packages"

tarball=$work/bookworm-minbase.tar
if [[ ! -f $tarball ]]; then
  say "making a minimal Debian 12 root (debootstrap --variant=minbase bookworm $mirror)"
  started=$SECONDS
  new_staging "$work/staging"
  debootstrap --variant=minbase bookworm "$work/staging" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    fail "debootstrap failed (is Debian's archive at $mirror reachable?); see $work/debootstrap.log"
  keep_root "$work/staging" "$tarball" "$started"
fi
fresh_root() {  # dir: a new copy of the minimal root
  rm -rf --one-file-system "$1"
  mkdir -p "$1"
  tar -C "$1" --numeric-owner -xf "$tarball"
  cp /etc/resolv.conf "$1/etc/resolv.conf" 2>/dev/null || true
}
mounted=()
cleanup() {
  local dir
  for dir in "${mounted[@]}"; do umount "$dir" 2>/dev/null || true; done
}
trap cleanup EXIT

step "autopkgtest (debian/tests) on a minimal root, through autopkgtest-virt-chroot"
# The tests need the packaging and the consumer's sources, not the build.
source_tree=$work/source
rm -rf "$source_tree"
mkdir -p "$source_tree/tests"
cp -a "$root/debian" "$source_tree/"
rm -rf "$source_tree/debian/build"
cp -a "$root/tests/consumer" "$source_tree/tests/"
testbed=$work/testbed
fresh_root "$testbed"
mount -t proc proc "$testbed/proc"
mounted+=("$testbed/proc")
status=0
rm -rf "$work/autopkgtest"
autopkgtest --output-dir "$work/autopkgtest" "${debs[@]}" "$source_tree" -- chroot "$testbed" ||
  status=$?
umount "$testbed/proc"
((status == 0)) || fail "autopkgtest failed (exit $status); see $work/autopkgtest/log"
grep -E '^(consumer|camprop) ' "$work/autopkgtest/summary"

step "piuparts: install and purge; the previous release upgraded to these"
base=$work/piuparts-base
fresh_root "$base"
repository=$work/previous-repository
rm -rf "$repository"
mkdir -p "$repository"
cp "$previous"/*.deb "$repository/"
(cd "$repository" && dpkg-scanpackages --multiversion . /dev/null >Packages 2>/dev/null)
piuparts --existing-chroot="$base" --distribution=bookworm --mirror="$mirror" \
  --bindmount="$repository" --extra-repo="deb [trusted=yes] file://$repository ./" \
  --log-file="$work/piuparts.log" "${debs[@]}" >/dev/null 2>&1 ||
  { tail -n 30 "$work/piuparts.log"; fail "piuparts failed; see $work/piuparts.log"; }
grep -E 'PASS:|INFO: (Installation|Upgrade|Purg)' "$work/piuparts.log" | tail -n 8
say "autopkgtest and piuparts passed"
