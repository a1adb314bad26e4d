#!/usr/bin/env bash
# Runs a command with a private /run (a fresh tmpfs holding an empty
# /run/camera) in its own mount namespace, so programs use the property
# store's fixed path without touching the machine's /run.
#
# Where no mount namespace can be had (a container whose seccomp profile
# forbids them, a chroot whose root is not a mount point), and only if
# ISPUTILS_RUN_REDIRECT_LIBRARY names the test tree's stand-in library
# (tests/support/libisputils_run_redirect.so of a build), the command runs
# with that library preloaded instead: its calls see a private directory
# under /tmp in place of /run. Without either it refuses to run.
set -euo pipefail
if [[ $# -eq 0 ]]; then
  echo "usage: $0 COMMAND [ARG...]" >&2
  exit 2
fi
if [[ $(id -u) -eq 0 ]]; then userns=(); else userns=(--map-root-user); fi
if why=$(unshare --mount --propagation private "${userns[@]}" -- true 2>&1); then
  exec unshare --mount --propagation private "${userns[@]}" -- \
    sh -c 'mount -t tmpfs -o mode=0755 tmpfs /run && mkdir -m 0777 /run/camera && exec "$@"' \
    private-run "$@"
fi

library=${ISPUTILS_RUN_REDIRECT_LIBRARY:-}
if [[ -z $library || ! -f $library ]]; then
  echo "private-run: no private mount namespace here (${why:-refused}), and no stand-in" \
       "library for /run (set ISPUTILS_RUN_REDIRECT_LIBRARY); not running against the" \
       "machine's /run" >&2
  exit 1
fi
dir=$(mktemp -d /tmp/isputils-run.XXXXXX)
trap 'rm -rf "$dir"' EXIT
chmod 0755 "$dir"
mkdir -m 0777 "$dir/camera"
# The preload must take: a program that cannot load the library would see
# the real /run.
touch "$dir/.probe"
if ! ISPUTILS_TEST_RUN_DIR=$dir LD_PRELOAD=$library /usr/bin/test -e /run/.probe; then
  echo "private-run: $library does not redirect /run here" >&2
  exit 1
fi
rm -f "$dir/.probe"
echo "private-run: no private mount namespace (${why:-refused}); /run redirected to $dir" >&2
status=0
ISPUTILS_TEST_RUN_DIR=$dir LD_PRELOAD="$library${LD_PRELOAD:+ $LD_PRELOAD}" "$@" || status=$?
exit $status
