#!/usr/bin/env bash
# The full test suite: installs what is missing, builds everything (tests,
# benchmarks, examples) and runs every test. Each test process runs in a
# private mount namespace with its own /run; the machine's /run/camera is
# never touched.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-test}
jobs=${JOBS:-$(nproc)}

"$root/scripts/install-deps.sh"

stage() { printf '\n=== %s\n' "$*"; }

stage "build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs"

stage "unit tests"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
