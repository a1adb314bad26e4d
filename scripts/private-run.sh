#!/usr/bin/env bash
# Runs a command with a private /run (a fresh tmpfs holding an empty
# /run/camera) in its own mount namespace, so programs use the property
# store's fixed path without touching the machine's /run.
set -euo pipefail
if [[ $# -eq 0 ]]; then
  echo "usage: $0 COMMAND [ARG...]" >&2
  exit 2
fi
if [[ $(id -u) -eq 0 ]]; then userns=(); else userns=(--map-root-user); fi
exec unshare --mount --propagation private "${userns[@]}" -- \
  sh -c 'mount -t tmpfs -o mode=0755 tmpfs /run && mkdir -m 0777 /run/camera && exec "$@"' \
  private-run "$@"
