#!/usr/bin/env bash
# The main job: installs what the example needs if missing (a compiler,
# CMake, Ninja), builds the camera-module example, the libraries it links
# and the launcher that gives it a private /run (nothing of the test suite),
# and runs it there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

bash "$root/scripts/install-deps.sh" --demo
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DISPUTILS_BUILD_TESTS=OFF -DISPUTILS_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target camera_module_demo private_run
# Verbose platform-log lines ('I' at verbose level 1, 'D' at 3) are switched
# on for the platform log's source file; see docs/operating.md, "Logging:
# turning it up".
export BASE_LOG_VMODULE=${BASE_LOG_VMODULE-platform_log=3}
# A private mount namespace with its own /run, or where none can be had (a
# container, a chroot) a private stand-in for /run: never the machine's.
"$build/tests/support/private_run" "$build/examples/camera_module_demo" "$@"
