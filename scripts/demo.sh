#!/usr/bin/env bash
# The main job: installs what is missing, builds the camera-module example
# and what it links (nothing of the test suite runs), and runs the example
# with a private /run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The stand-in for /run lets the example run where no mount namespace can be
# had (a container, a chroot); see scripts/private-run.sh.
cmake --build "$build" --target camera_module_demo isputils_run_redirect
export ISPUTILS_RUN_REDIRECT_LIBRARY=$build/tests/support/libisputils_run_redirect.so
# Verbose platform-log lines ('I' at verbose level 1, 'D' at 3) are switched
# on for the platform log's source file; see the README.
export BASE_LOG_VMODULE=${BASE_LOG_VMODULE-platform_log=3}
"$root/scripts/private-run.sh" "$build/examples/camera_module_demo" "$@"
