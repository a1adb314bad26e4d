#!/usr/bin/env bash
# The full test suite: installs what is missing, builds everything (tests,
# benchmarks, examples), runs every test, then repeats the unit tests where
# developers run them (no namespaces, a private home, a plain chroot), runs
# them under the sanitizers, runs the fuzzers, the binary-interface checks
# and the consumer build, and cross-builds and tests for AArch64. Each test
# process keeps the store to itself (a private mount namespace with its own
# /run, or a private stand-in for /run where none can be had); the machine's
# /run/camera is never touched.
#
#   scripts/test.sh            everything
#   scripts/test.sh STAGE...   only the named stages (unit container home0700
#                              chroot asan tsan fuzz abi consumer package arm64)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${BUILD_ROOT:-$root/out}
jobs=${JOBS:-$(nproc)}
stages=("$@")
((${#stages[@]})) ||
  stages=(unit container home0700 chroot asan tsan fuzz abi consumer package arm64)

bash "$root/scripts/install-deps.sh" "${stages[@]}"

banner() { printf '\n=== %s\n' "$*"; }

configure_and_build() {  # dir, extra cmake arguments...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

# What the machine's own store looks like; the same before and after a run.
machine_store() {
  stat -c '%n %i %s %Y' /run/camera /run/camera/property_storage 2>&1 || true
}

# Runs ctest over a build (through a launcher command when one is given, with
# the extra ctest arguments of ${ctest_arguments[@]}), says which isolation
# the test programs ran in, and checks that the machine's store was left
# alone.
ctest_arguments=()
run_tests() {  # build dir, [launcher...]
  local dir=$1; shift
  local before
  before=$(machine_store)
  "$@" ctest --test-dir "$dir" --output-on-failure -j "$jobs" "${ctest_arguments[@]}"
  echo "isolation of the store, by test:"
  grep -ho 'property store isolation: .*' "$dir/Testing/Temporary/LastTest.log" |
    sed -E 's/isputils-run\.[A-Za-z0-9]+/isputils-run.*/' | sort | uniq -c
  if [[ $(machine_store) != "$before" ]]; then
    echo "the machine's /run/camera changed during the tests" >&2
    exit 1
  fi
}

release_build() {
  configure_and_build "$out/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo
}

# Tests whose subject is concurrency: the ones worth running under TSan.
concurrent_tests='Concurrency|Concurrent|Thread|Stress|Crash|Parallel'

timings=()
for stage in "${stages[@]}"; do
  started=$SECONDS
  case $stage in
    unit)
      banner "build and unit tests"
      release_build
      run_tests "$out/release"
      ;;
    container)
      banner "unit tests where new namespaces are refused, as in a container"
      release_build
      launcher=$out/release/tests/support/no_namespaces
      [[ -x $launcher ]] || { echo "missing $launcher (is libseccomp-dev installed?)" >&2; exit 1; }
      if "$launcher" unshare --mount true 2>/dev/null; then
        echo "$launcher let a namespace through" >&2
        exit 1
      fi
      run_tests "$out/release" "$launcher"
      ;;
    home0700)
      banner "unit tests from a checkout that only its owner can enter"
      home=$(mktemp -d "${TMPDIR:-/tmp}/isputils-home.XXXXXX")
      chmod 0700 "$home"
      mkdir "$home/isputils"
      tar -C "$root" --exclude=./.git --exclude=./out --exclude='./build*' -cf - . |
        tar -C "$home/isputils" -xf -
      status=0
      BUILD_ROOT=$home/isputils/out JOBS=$jobs bash "$home/isputils/scripts/test.sh" unit ||
        status=$?
      log=$home/isputils/out/release/Testing/Temporary/LastTest.log
      if ((status == 0)) && [[ $(id -u) -eq 0 ]] &&
         grep -q 'SKIPPED \] CampropTest.UnreadableOrForeignFileIsReportedNotTakenAsEmpty' "$log"; then
        echo "camprop was not run as another user from the private checkout" >&2
        status=1
      fi
      rm -rf "$home"
      ((status == 0)) || exit $status
      ;;
    chroot)
      banner "unit tests and the example in a plain chroot (its root not a mount point)"
      release_build
      chroot_binds=(--bind "$root" --bind "$out/release")
      run_tests "$out/release" bash "$root/scripts/plain-chroot.sh" "${chroot_binds[@]}"
      if ! output=$(bash "$root/scripts/plain-chroot.sh" "${chroot_binds[@]}" env \
          ISPUTILS_RUN_REDIRECT_LIBRARY="$out/release/tests/support/libisputils_run_redirect.so" \
          "$root/scripts/private-run.sh" "$out/release/examples/camera_module_demo" 2>&1); then
        echo "$output"
        exit 1
      fi
      echo "the example ran in the chroot"
      ;;
    asan)
      banner "address and undefined-behaviour sanitizers: whole suite"
      configure_and_build "$out/asan" -DCMAKE_BUILD_TYPE=Debug \
        -DISPUTILS_SANITIZE=address,undefined -DISPUTILS_BUILD_BENCH=OFF
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        run_tests "$out/asan"
      ;;
    tsan)
      banner "thread sanitizer: threaded and multi-process tests"
      configure_and_build "$out/tsan" -DCMAKE_BUILD_TYPE=Debug \
        -DISPUTILS_SANITIZE=thread -DISPUTILS_BUILD_BENCH=OFF
      ctest_arguments=(-R "$concurrent_tests")
      TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_tests "$out/tsan"
      ctest_arguments=()
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
      release_build
      bash "$root/scripts/check-abi.sh" "$out/release"
      ;;
    consumer)
      banner "consumer build against the installed package"
      release_build
      # Lets scripts/private-run.sh work where no namespace can be had.
      ISPUTILS_RUN_REDIRECT_LIBRARY=$out/release/tests/support/libisputils_run_redirect.so \
        bash "$root/scripts/check-consumer.sh" "$out/release"
      ;;
    arm64)
      banner "AArch64: cross-build everything, unit tests under qemu-aarch64, binary interface"
      configure_and_build "$out/arm64" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/aarch64-linux-gnu.cmake"
      run_tests "$out/arm64"
      bash "$root/scripts/check-abi.sh" "$out/arm64"
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
  timings+=("$(printf '%-9s %4d s' "$stage" $((SECONDS - started)))")
done
banner "all stages passed: ${stages[*]}"
printf '%s\n' "${timings[@]}"
