#!/usr/bin/env bash
# The main job: installs what is missing, builds everything, and runs the
# camera-module example with a private /run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build"
# Verbose platform-log lines ('I' at verbose level 1, 'D' at 3) are switched
# on for the platform log's source file; see the README.
export BASE_LOG_VMODULE=${BASE_LOG_VMODULE-platform_log=3}
"$root/scripts/private-run.sh" "$build/examples/camera_module_demo" "$@"
