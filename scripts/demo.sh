#!/usr/bin/env bash
# The main job: installs what is missing, builds everything, and runs the
# camera-module example with a private /run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build"
"$root/scripts/private-run.sh" "$build/examples/camera_module_demo" "$@"
