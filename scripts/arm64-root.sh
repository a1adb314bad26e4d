#!/usr/bin/env bash
# An arm64 Debian 12 root that runs under emulation on an x86-64 machine,
# for checking the arm64 packages as a device would install and run them.
#
#   scripts/arm64-root.sh WORK_DIR COMMAND [ARG...]
#
# Unpacks a fresh copy of the root into WORK_DIR/root and runs COMMAND (a
# program of this machine) with ARM64_ROOT naming it, in private user, mount,
# PID and network namespaces where:
#   - a binfmt_misc of the namespace's own runs every AArch64 program through
#     qemu-aarch64 (static, so it needs nothing inside the root): COMMAND may
#     `chroot "$ARM64_ROOT" ...` and run anything there, maintainer scripts
#     and apt included;
#   - the root has a /proc of its own, this machine's /dev and /sys, and a
#     private tmpfs as /run, gone when COMMAND ends.
# The machine's own binfmt_misc is never read or written: its handlers are
# the system's, and one registered there would run every AArch64 program of
# the machine. For the same reason qemu-user-static is never installed here
# (its binfmt.d files would register the handlers at the next boot): its
# static qemu-aarch64 is taken from the package file alone. The root has no
# network: what it installs comes from files placed inside it.
#
# The root (debootstrap --arch=arm64 --variant=minbase bookworm, with
# adduser and systemd, which the packages' maintainer scripts use) is made
# once per machine and kept as WORK_DIR/bookworm-arm64.tar; making it needs
# Debian's package archive (ARM64_MIRROR names it; default: the one this
# machine's apt uses for bookworm, else http://deb.debian.org/debian). The
# copy in WORK_DIR/root is removed when COMMAND succeeds and kept for a look
# inside when it fails. Needs root.
set -euo pipefail
if [[ $# -lt 2 ]]; then
  echo "usage: $0 WORK_DIR COMMAND [ARG...]" >&2
  exit 2
fi
if [[ $(id -u) -ne 0 ]]; then
  exec sudo --preserve-env=ARM64_MIRROR bash "$0" "$@"
fi
mkdir -p "$1"
work=$(cd "$1" && pwd)
shift
tarball=$work/bookworm-arm64.tar
qemu=$work/qemu-aarch64-static
copy=$work/root

say() { printf 'arm64-root: %s\n' "$*"; }
fail() { echo "arm64-root: $*" >&2; exit 1; }
source "$(dirname "$0")/lib/debian-root.sh"

# Runs "$@" as root of new user, mount, PID and network namespaces. The user
# namespace maps the first 65536 user and group ids onto themselves, so
# files of the root keep their owners and apt, adduser and chown work as on
# a device; unshare's own mapping options map only one id (or need
# newuidmap), so the maps are written from here while the child waits.
in_namespaces() {
  local sync pid
  sync=$(mktemp -u "${TMPDIR:-/tmp}/arm64-root.XXXXXX")
  mkfifo -m 600 "$sync"
  unshare --user --mount --pid --net --fork --kill-child --propagation private -- \
    bash -c 'read -r _ <"$0" && rm -f "$0" && exec "$@"' "$sync" "$@" &
  pid=$!
  while [[ $(readlink "/proc/$pid/ns/user" 2>/dev/null) == "$(readlink /proc/self/ns/user)" ]]; do
    kill -0 "$pid" 2>/dev/null || { rm -f "$sync"; fail "unshare failed"; }
    sleep 0.05
  done
  echo '0 0 65536' >"/proc/$pid/uid_map"
  echo '0 0 65536' >"/proc/$pid/gid_map"
  echo go >"$sync"
  wait "$pid"
}

# Inside the namespaces: the emulator, the root's file systems, COMMAND.
if [[ ${ARM64_ROOT_INSIDE:-} == 1 ]]; then
  newroot=$1 qemu_binary=$2
  shift 2
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc ||
    fail "cannot mount a binfmt_misc of a user namespace (Linux 6.7 or later needed)"
  [[ ! -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ]] ||
    fail "this binfmt_misc already has a qemu-aarch64 handler: it is not the namespace's own"
  # Flag F: the kernel opens the emulator now, so the root needs no copy.
  printf '%s' ':qemu-aarch64:M::\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00:\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu_binary"':F' \
    >/proc/sys/fs/binfmt_misc/register
  mount -t proc proc "$newroot/proc"
  mount --rbind /dev "$newroot/dev"
  mount -t sysfs sysfs "$newroot/sys"
  mount -t tmpfs -o mode=0755 tmpfs "$newroot/run"
  unset ARM64_ROOT_INSIDE
  ARM64_ROOT=$newroot exec "$@"
fi

if [[ ! -x $qemu ]]; then
  say "taking qemu-aarch64-static from Debian's qemu-user-static package (not installing it)"
  download=$(mktemp -d)
  (cd "$download" && apt-get download -q qemu-user-static >/dev/null 2>&1) ||
    (cd "$download" && apt-get update -qq && apt-get download -q qemu-user-static) ||
    fail "cannot download qemu-user-static"
  dpkg-deb --fsys-tarfile "$download"/qemu-user-static_*.deb |
    tar -xO ./usr/bin/qemu-aarch64-static >"$qemu.part"
  chmod 0755 "$qemu.part"
  mv "$qemu.part" "$qemu"
  rm -rf "$download"
fi

if [[ ! -f $tarball ]]; then
  mirror=$(bookworm_mirror "${ARM64_MIRROR:-}")
  say "making an arm64 Debian 12 root (debootstrap --arch=arm64 --variant=minbase bookworm $mirror)"
  started=$SECONDS
  staging=$work/staging
  new_staging "$staging"
  debootstrap --arch=arm64 --foreign --variant=minbase --include=adduser,systemd \
    bookworm "$staging" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    fail "debootstrap (first stage) failed (it needs Debian's package archive at $mirror;" \
         "ARM64_MIRROR names another); see $work/debootstrap.log"
  # The second stage runs the root's own programs: under emulation. No user
  # namespace may make device nodes, so debootstrap's test that it can
  # (mknod) is skipped the way it skips it in an LXC container; the nodes
  # the first stage made are kept.
  (export ARM64_ROOT_INSIDE=1
   in_namespaces bash "$0" "$work" "$staging" "$qemu" \
     chroot "$staging" /usr/bin/env container=lxc /debootstrap/debootstrap --second-stage) >>"$work/debootstrap.log" 2>&1 ||
    fail "debootstrap (second stage, emulated) failed; see $work/debootstrap.log"
  keep_root "$staging" "$tarball" "$started"
fi

rm -rf --one-file-system "$copy"
mkdir -p "$copy"
tar -C "$copy" --numeric-owner -xf "$tarball"
(export ARM64_ROOT_INSIDE=1; in_namespaces bash "$0" "$work" "$copy" "$qemu" "$@")
rm -rf --one-file-system "$copy"
