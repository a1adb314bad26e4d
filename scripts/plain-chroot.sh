#!/usr/bin/env bash
# Runs a command inside a plain chroot, as debootstrap leaves one: its root
# is an ordinary directory, not a mount point, and its /run is an empty
# directory. The chroot is made of bind mounts of this machine's /usr, /etc,
# /dev, /proc and /tmp and of the directories given (at the same paths), all
# inside a private mount namespace, so none of it is seen outside; the
# skeleton directory is removed afterwards. Fails if anything appeared in
# the chroot's /run.
#
#   scripts/plain-chroot.sh [--bind DIR]... COMMAND [ARG...]
set -euo pipefail
usage() { echo "usage: $0 [--bind DIR]... COMMAND [ARG...]" >&2; exit 2; }
dirs=()
binds=()
while [[ ${1:-} == --bind ]]; do
  [[ $# -ge 2 ]] || usage
  dirs+=("$2")
  binds+=(--bind "$2")
  shift 2
done
newroot=
if [[ ${1:-} == --inside ]]; then
  # In the private mount namespace, with the skeleton made outside.
  newroot=$2
  shift 2
fi
[[ $# -ge 1 ]] || usage

if [[ -n $newroot ]]; then
  tops=(usr etc dev proc tmp)
  for dir in "${dirs[@]}"; do
    top=$(cd "$dir" && pwd -P | cut -d/ -f2)
    [[ " ${tops[*]} " == *" $top "* ]] || tops+=("$top")
  done
  for top in "${tops[@]}"; do
    mkdir -p "$newroot/$top"
    mount --rbind "/$top" "$newroot/$top"
  done
  # Merged /usr: /bin, /lib and the like are links into it.
  for link in bin sbin lib lib32 lib64 libx32; do
    if [[ -L /$link ]]; then ln -s "$(readlink "/$link")" "$newroot/$link"; fi
  done
  mkdir -m 0755 "$newroot/run"
  status=0
  chroot "$newroot" "$@" || status=$?
  if [[ -n $(ls -A "$newroot/run") ]]; then
    echo "plain-chroot: something was left in the chroot's /run:" >&2
    ls -lA "$newroot/run" >&2
    status=1
  fi
  exit $status
fi

newroot=$(mktemp -d "${TMPDIR:-/tmp}/isputils-chroot.XXXXXX")
chmod 0755 "$newroot"
cleanup() {
  # The bind mounts lived in the private namespace only; never descend into
  # anything that is still mounted here.
  for entry in "$newroot"/*; do
    if mountpoint -q "$entry"; then
      echo "plain-chroot: $entry is still mounted; leaving $newroot" >&2
      return
    fi
  done
  rm -rf --one-file-system "$newroot"
}
trap cleanup EXIT
if [[ $(id -u) -eq 0 ]]; then userns=(); else userns=(--map-root-user); fi
status=0
unshare --mount --propagation private "${userns[@]}" -- \
  bash "$0" "${binds[@]}" --inside "$newroot" "$@" || status=$?
exit $status
