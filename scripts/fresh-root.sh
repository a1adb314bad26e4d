#!/usr/bin/env bash
# The README's two commands on a fresh machine: a minimal Debian 12 root
# (debootstrap --variant=minbase bookworm) with the checkout cloned into it,
# where, as root and as a new user types them, it runs
#     bash scripts/demo.sh
#     bash scripts/test.sh unit package
# (the stages that need neither a nested chroot nor an emulator). Nothing is
# installed in the root beforehand: both commands must install what they
# need themselves, from Debian's archive.
#
#   scripts/fresh-root.sh WORK_DIR
#
# The root is made once per machine and kept as WORK_DIR/bookworm-minbase.tar;
# each run unpacks a new copy into WORK_DIR/root (kept after a failure, for a
# look inside). Downloaded packages are kept in WORK_DIR/apt-archives, so a
# second run downloads nothing again. Needs root (sudo otherwise) and the
# archive; FRESH_MIRROR names it (default: the Debian archive this machine's
# apt uses for bookworm, else http://deb.debian.org/debian).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [[ $# -ne 1 ]]; then
  echo "usage: $0 WORK_DIR" >&2
  exit 2
fi
if [[ $(id -u) -ne 0 ]]; then
  exec sudo --preserve-env=FRESH_MIRROR,JOBS bash "$0" "$@"
fi
mkdir -p "$1"
work=$(cd "$1" && pwd)
tarball=$work/bookworm-minbase.tar
fresh=$work/root
archives=$work/apt-archives

say() { printf 'fresh: %s\n' "$*"; }
fail() { echo "fresh: $*" >&2; exit 1; }

source "$root/scripts/lib/debian-root.sh"
mirror=$(bookworm_mirror "${FRESH_MIRROR:-}")
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
if ! /usr/lib/apt/apt-helper download-file "$mirror/dists/bookworm/InRelease" "$probe" \
     >/dev/null 2>"$probe.err"; then
  cat "$probe.err" >&2
  rm -f "$probe.err"
  fail "cannot reach Debian's package archive at $mirror: this stage installs everything" \
       "from it (set FRESH_MIRROR to a reachable mirror)"
fi
rm -f "$probe.err"

if [[ ! -f $tarball ]]; then
  say "making a minimal Debian 12 root (debootstrap --variant=minbase bookworm $mirror)"
  started=$SECONDS
  staging=$work/staging
  new_staging "$staging"
  debootstrap --variant=minbase bookworm "$staging" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    fail "debootstrap failed; see $work/debootstrap.log"
  keep_root "$staging" "$tarball" "$started"
fi

rm -rf --one-file-system "$fresh"
mkdir -p "$fresh" "$archives"
tar -C "$fresh" --numeric-owner -xf "$tarball"
say "$(chroot "$fresh" dpkg-query -W -f '.\n' | wc -l) packages in the fresh root"

# The checkout, as a new user gets it: a clone of what is committed.
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  git clone --quiet --no-hardlinks "$root" "$fresh/root/isputils"
  if [[ -n $(git -C "$root" status --porcelain --untracked-files=no) ]]; then
    say "note: uncommitted changes of $root are not in the clone"
  fi
else
  mkdir "$fresh/root/isputils"
  tar -C "$root" --exclude=./out --exclude='./build*' -cf - . | tar -C "$fresh/root/isputils" -xf -
fi

# What a fresh machine on this network would have: the name servers, and
# this machine's settings for reaching the archive (a proxy, say).
cp /etc/resolv.conf "$fresh/etc/resolv.conf"
for conf in /etc/apt/apt.conf.d/*; do
  if grep -qs '^Acquire::' "$conf"; then cp "$conf" "$fresh/etc/apt/apt.conf.d/"; fi
done

# Inside a private mount namespace, so /proc, /dev, /sys and the package
# cache mounted into the root vanish with it.
inside() {
  local newroot=$1
  mount -t proc proc "$newroot/proc"
  mount --rbind /dev "$newroot/dev"
  mount --rbind /sys "$newroot/sys"
  mount --bind "$archives" "$newroot/var/cache/apt/archives"
  chroot "$newroot" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin ${JOBS:+JOBS=$JOBS} \
    bash -c '
      set -eu
      cd /root/isputils
      count() { dpkg-query -W -f ".\n" | wc -l; }
      before=$(count)
      started=$(date +%s)
      bash scripts/demo.sh
      echo "fresh: demo passed in $(($(date +%s) - started)) s, installing $(($(count) - before)) packages"
      before=$(count)
      started=$(date +%s)
      bash scripts/test.sh unit package
      echo "fresh: test.sh unit package passed in $(($(date +%s) - started)) s, installing $(($(count) - before)) more packages"
    '
}
export -f inside
export archives
unshare --mount --propagation private -- bash -c 'set -euo pipefail; inside "$1"' inside "$fresh"
rm -rf --one-file-system "$fresh"
