#!/usr/bin/env bash
# The full test suite: installs what is missing, builds everything (tests,
# benchmarks, examples), runs every test, then repeats the tests under the
# sanitizers and runs the fuzzers, the binary-interface checks and the
# consumer build. Each test process runs in a private mount namespace with
# its own /run; the machine's /run/camera is never touched.
#
#   scripts/test.sh            everything
#   scripts/test.sh STAGE...   only the named stages (unit asan tsan fuzz abi consumer package)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${BUILD_ROOT:-$root/out}
jobs=${JOBS:-$(nproc)}
stages=("$@")
((${#stages[@]})) || stages=(unit asan tsan fuzz abi consumer package)

bash "$root/scripts/install-deps.sh"

banner() { printf '\n=== %s\n' "$*"; }

configure_and_build() {  # dir, extra cmake arguments...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

# Tests whose subject is concurrency: the ones worth running under TSan.
concurrent_tests='Concurrency|Concurrent|Thread|Stress|Crash|Parallel'

for stage in "${stages[@]}"; do
  case $stage in
    unit)
      banner "build and unit tests"
      configure_and_build "$out/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo
      ctest --test-dir "$out/release" --output-on-failure -j "$jobs"
      ;;
    asan)
      banner "address and undefined-behaviour sanitizers: whole suite"
      configure_and_build "$out/asan" -DCMAKE_BUILD_TYPE=Debug \
        -DISPUTILS_SANITIZE=address,undefined -DISPUTILS_BUILD_BENCH=OFF
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --test-dir "$out/asan" --output-on-failure -j "$jobs"
      ;;
    tsan)
      banner "thread sanitizer: threaded and multi-process tests"
      configure_and_build "$out/tsan" -DCMAKE_BUILD_TYPE=Debug \
        -DISPUTILS_SANITIZE=thread -DISPUTILS_BUILD_BENCH=OFF
      TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
        ctest --test-dir "$out/tsan" --output-on-failure -j "$jobs" -R "$concurrent_tests"
      ;;
    fuzz)
      banner "fuzzing: each target ${FUZZ_SECONDS:-20} s from its seed corpus"
      CC=clang CXX=clang++ configure_and_build "$out/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DISPUTILS_BUILD_FUZZERS=ON -DISPUTILS_FUZZ_SECONDS="${FUZZ_SECONDS:-20}" \
        -DISPUTILS_BUILD_TESTS=OFF -DISPUTILS_BUILD_BENCH=OFF -DISPUTILS_BUILD_EXAMPLES=OFF
      ctest --test-dir "$out/fuzz" -L fuzz --output-on-failure -j "$jobs"
      ;;
    abi)
      banner "binary interface"
      configure_and_build "$out/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo
      bash "$root/scripts/check-abi.sh" "$out/release"
      ;;
    consumer)
      banner "consumer build against the installed package"
      configure_and_build "$out/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo
      bash "$root/scripts/check-consumer.sh" "$out/release"
      ;;
    package)
      banner "Debian packages: build, contents, lintian, consumer against the unpacked packages"
      JOBS=$jobs bash "$root/scripts/package.sh" "$out/packages"
      bash "$root/scripts/check-packages.sh" "$out/packages"
      ;;
    *)
      echo "unknown stage: $stage" >&2
      exit 2
      ;;
  esac
done
banner "all stages passed: ${stages[*]}"
