#!/usr/bin/env bash
# The full test suite: installs what each stage needs, builds everything
# (tests, benchmarks, examples), runs every test, then repeats the unit tests
# where developers run them (no namespaces, a private home, a plain chroot),
# runs them under the sanitizers, runs the fuzzers, the binary-interface
# checks, the consumer build and the Debian packages, boots a Debian root
# with systemd and the packages installed, cross-builds and tests for
# AArch64, and finally runs the README's two commands on a fresh minimal
# Debian root. Each test process keeps the store to itself (a private mount
# namespace with its own /run, or a private stand-in for /run where none can
# be had); the machine's /run/camera is never touched.
#
#   scripts/test.sh                  every stage, in the order of the table
#   scripts/test.sh STAGE...         only the named stages
#   scripts/test.sh --list           the stages and what each checks
#   scripts/test.sh --needs STAGE... the Debian packages those stages need
#                                    (scripts/install-deps.sh reads it)
#
# Whatever happens, the run ends with a table of the stages: passed, failed
# (with the first failing line of its log) or not run, and their times. Each
# stage's whole output is also kept in $BUILD_ROOT/logs/STAGE.log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${BUILD_ROOT:-$root/out}
jobs=${JOBS:-$(nproc)}

# The stages, in the order a full run takes them: name | what it checks |
# the Debian packages it needs beyond those of every build (below);
# "build-deps" stands for the Build-Depends of debian/control. A new stage
# is a row here and a function stage_<name> below.
stage_table=(
  "unit      | the build, every unit test, the binary interface, the documentation's blocks |"
  "container | the unit tests where new namespaces are refused, as in a container    | libseccomp-dev"
  "home0700  | the unit tests from a checkout that only its owner can enter          |"
  "chroot    | the unit tests and the example in a plain chroot                      |"
  "asan      | the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer |"
  "tsan      | the threaded and multi-process tests under ThreadSanitizer            |"
  "fuzz      | each fuzz target from its seed corpus                                 | clang libclang-rt-dev"
  "consumer  | a consumer built with CMake and pkg-config against the installed tree |"
  "package   | the Debian packages: contents, relations, lintian, consumers; autopkgtest, piuparts | build-deps lintian systemd man-db autopkgtest piuparts debootstrap git"
  "boot      | the packages on a booted Debian 12 root: units, modes, settings across reboots | build-deps debootstrap systemd-container"
  "upgrade   | the previous release (v1.0.0) on a booted root, upgraded by apt-get dist-upgrade | build-deps debootstrap systemd-container git"
  "arm64     | an AArch64 cross build: its unit tests under QEMU, its binary interface | g++-aarch64-linux-gnu qemu-user libgtest-dev:arm64 libgmock-dev:arm64 libbenchmark-dev:arm64"
  "package-arm64 | the arm64 packages: cross-built, linted, installed by apt on an emulated arm64 root | build-deps-arm64 libc6:arm64 libstdc++6:arm64 lintian debootstrap"
  "fresh     | the README's two commands on a fresh minimal Debian 12 root            | debootstrap"
)
# What every stage that builds the project needs (abigail-tools: the test
# of the binary interface against its baselines; groff-base: the test of
# the manual pages).
build_packages=(build-essential cmake ninja-build pkg-config
                libgtest-dev libgmock-dev libbenchmark-dev abigail-tools groff-base)

trim() { sed -E 's/^ +//; s/ +$//' <<<"$1"; }
stage_field() {  # row, field number (1 name, 2 what it checks, 3 packages)
  trim "$(cut -d'|' -f"$2" <<<"$1")"
}
all_stages=()
for row in "${stage_table[@]}"; do all_stages+=("$(stage_field "$row" 1)"); done
stage_row() {  # name
  local row
  for row in "${stage_table[@]}"; do
    [[ $(stage_field "$row" 1) != "$1" ]] || { echo "$row"; return 0; }
  done
  echo "unknown stage: $1 (stages: ${all_stages[*]})" >&2
  return 1
}

case ${1:-} in
  --list)
    for row in "${stage_table[@]}"; do
      printf '%-14s %s\n' "$(stage_field "$row" 1)" "$(stage_field "$row" 2)"
    done
    exit 0
    ;;
  --needs)
    shift
    wanted=("$@")
    ((${#wanted[@]})) || wanted=("${all_stages[@]}")
    needs=()
    for stage in "${wanted[@]}"; do
      row=$(stage_row "$stage")
      # The fresh stage builds nothing here: the fresh root installs its own.
      [[ $stage == fresh ]] || needs+=("${build_packages[@]}")
      read -r -a extra <<<"$(stage_field "$row" 3)"
      needs+=("${extra[@]}")
    done
    printf '%s\n' "${needs[@]}" | awk '!seen[$0]++'
    exit 0
    ;;
  -*)
    echo "usage: $0 [--list | --needs [STAGE...] | STAGE...]" >&2
    exit 2
    ;;
esac

stages=("$@")
((${#stages[@]})) || stages=("${all_stages[@]}")
for stage in "${stages[@]}"; do stage_row "$stage" >/dev/null || exit 2; done

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

# The launcher that runs a program with a private /run (tests/support).
private_run=$out/release/tests/support/private_run

# Tests whose subject is concurrency: the ones worth running under TSan.
concurrent_tests='Concurrency|Concurrent|Thread|Stress|Crash|Parallel'

stage_unit() {
  release_build
  run_tests "$out/release"
}

stage_container() {
  release_build
  local launcher=$out/release/tests/support/no_namespaces
  [[ -x $launcher ]] || { echo "missing $launcher (is libseccomp-dev installed?)" >&2; exit 1; }
  if "$launcher" unshare --mount true 2>/dev/null; then
    echo "$launcher let a namespace through" >&2
    exit 1
  fi
  run_tests "$out/release" "$launcher"
}

stage_home0700() {
  local home status=0
  home=$(mktemp -d "${TMPDIR:-/tmp}/isputils-home.XXXXXX")
  chmod 0700 "$home"
  mkdir "$home/isputils"
  tar -C "$root" --exclude=./.git --exclude=./out --exclude='./build*' -cf - . |
    tar -C "$home/isputils" -xf -
  BUILD_ROOT=$home/isputils/out JOBS=$jobs bash "$home/isputils/scripts/test.sh" unit ||
    status=$?
  local log=$home/isputils/out/release/Testing/Temporary/LastTest.log
  if ((status == 0)) && [[ $(id -u) -eq 0 ]] &&
     grep -q 'SKIPPED \] CampropTest.UnreadableOrForeignFileIsReportedNotTakenAsEmpty' "$log"; then
    echo "camprop was not run as another user from the private checkout" >&2
    status=1
  fi
  rm -rf "$home"
  return $status
}

stage_chroot() {
  release_build
  local binds=(--bind "$root" --bind "$out/release") output
  run_tests "$out/release" bash "$root/scripts/plain-chroot.sh" "${binds[@]}"
  if ! output=$(bash "$root/scripts/plain-chroot.sh" "${binds[@]}" \
      "$private_run" "$out/release/examples/camera_module_demo" 2>&1); then
    echo "$output"
    exit 1
  fi
  echo "the example ran in the chroot"
}

stage_asan() {
  configure_and_build "$out/asan" -DCMAKE_BUILD_TYPE=Debug \
    -DISPUTILS_SANITIZE=address,undefined -DISPUTILS_BUILD_BENCH=OFF
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_tests "$out/asan"
}

stage_tsan() {
  configure_and_build "$out/tsan" -DCMAKE_BUILD_TYPE=Debug \
    -DISPUTILS_SANITIZE=thread -DISPUTILS_BUILD_BENCH=OFF
  ctest_arguments=(-R "$concurrent_tests")
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_tests "$out/tsan"
}

stage_fuzz() {
  echo "each target ${FUZZ_SECONDS:-20} s"
  CC=clang CXX=clang++ configure_and_build "$out/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DISPUTILS_BUILD_FUZZERS=ON -DISPUTILS_FUZZ_SECONDS="${FUZZ_SECONDS:-20}" \
    -DISPUTILS_BUILD_TESTS=OFF -DISPUTILS_BUILD_BENCH=OFF -DISPUTILS_BUILD_EXAMPLES=OFF
  ctest --test-dir "$out/fuzz" -L fuzz --output-on-failure -j "$jobs"
}

stage_consumer() {
  release_build
  ISPUTILS_PRIVATE_RUN=$private_run bash "$root/scripts/check-consumer.sh" "$out/release"
}

stage_package() {
  JOBS=$jobs bash "$root/scripts/package.sh" "$out/packages"
  # The consumer check runs programs in a private /run: the launcher comes
  # from a build of the launcher alone.
  cmake -S "$root" -B "$out/launcher" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DISPUTILS_BUILD_TESTS=OFF -DISPUTILS_BUILD_BENCH=OFF >/dev/null
  cmake --build "$out/launcher" -j "$jobs" --target private_run
  ISPUTILS_PRIVATE_RUN=$out/launcher/tests/support/private_run \
    bash "$root/scripts/check-packages.sh" "$out/packages"
  # Installed as Debian's CI installs packages, and upgraded from the
  # previous release (built once from its tag).
  JOBS=$jobs bash "$root/scripts/previous-release.sh" "$out/previous"
  bash "$root/scripts/check-installed.sh" "$out/packages" "$out/previous/debs" "$out/installed"
}

# The packages of the package stage when they are there and newer than the
# sources they are built from; built anew otherwise, without their tests (the
# unit and package stages run those).
current_packages() {
  local packages=$out/packages deb
  deb=$(ls -1t "$packages"/isputils-tools_*.deb 2>/dev/null | head -n 1 || true)
  if [[ -z $deb ]] || [[ -n $(cd "$root" && find CMakeLists.txt cmake debian tools property_store \
                                  log_service aaa platform -newer "$deb" -print -quit) ]]; then
    echo "building the packages (DEB_BUILD_OPTIONS=nocheck: the package stage runs their tests)"
    DEB_BUILD_OPTIONS=nocheck JOBS=$jobs bash "$root/scripts/package.sh" "$packages"
  fi
}

stage_boot() {
  current_packages
  bash "$root/scripts/boot-root.sh" "$out/boot" "$out/packages"
}

# The boot stage's root, with the previous release's packages (built once
# from its tag) upgraded to this release's.
stage_upgrade() {
  current_packages
  JOBS=$jobs bash "$root/scripts/previous-release.sh" "$out/previous"
  bash "$root/scripts/upgrade-root.sh" "$out/boot" "$out/packages" "$out/previous/debs"
}

stage_arm64() {
  configure_and_build "$out/arm64" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/aarch64-linux-gnu.cmake"
  run_tests "$out/arm64"
}

# The arm64 packages, cross-built the way Debian cross-builds (host
# architecture arm64, profiles cross and nocheck: the tests of a cross build
# run in the arm64 stage instead), into a directory of their own beside the
# amd64 ones; then checked here and in an emulated arm64 root, made once
# per machine and kept in $BUILD_ROOT/arm64-root.
stage_package-arm64() {
  DEB_BUILD_OPTIONS="nocheck ${DEB_BUILD_OPTIONS:-}" JOBS=$jobs \
    bash "$root/scripts/package.sh" "$out/packages-arm64" --host-arch=arm64 \
    --build-profiles=cross,nocheck
  AMD64_PACKAGE_DIR=$out/packages \
    bash "$root/scripts/check-packages-arm64.sh" "$out/packages-arm64" "$out/arm64-root"
}

stage_fresh() {
  bash "$root/scripts/fresh-root.sh" "$out/fresh"
}

# The first line of a failed stage's log that says what failed: a compiler
# or tool error, a failed test, apt's complaint; else its last line.
first_failing_line() {  # log
  grep -m1 -E '(^|[^[:alnum:]_-])(error|fatal|FATAL)(:| )|FAILED|\*\*\*Failed|\*\*\*Exception|Error running|^E: |^[a-z-]+: .*(failed|refused)|^FAIL ' "$1" ||
    tail -n 1 "$1"
}

logs=$out/logs
mkdir -p "$logs"
results=()
report() {
  local status=$? i stage
  banner "stages"
  for i in "${!stages[@]}"; do
    stage=${stages[$i]}
    if ((i < ${#results[@]})); then
      printf '%s\n' "${results[$i]}"
    else
      printf '%-14s %-7s\n' "$stage" "not run"
    fi
  done
  if ((status == 0)); then
    echo "all stages passed: ${stages[*]}"
  fi
}
trap report EXIT

for stage in "${stages[@]}"; do
  row=$(stage_row "$stage")
  banner "$stage: $(stage_field "$row" 2)"
  started=$SECONDS
  log=$logs/$stage.log
  # A subshell of its own, so that errexit holds inside the stage and a
  # failure ends only the stage, which is then reported.
  set +e
  (
    set -e
    bash "$root/scripts/install-deps.sh" "$stage"
    "stage_$stage"
  ) 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  set -e
  took=$((SECONDS - started))
  if ((status == 0)); then
    results+=("$(printf '%-14s %-7s %5d s' "$stage" passed "$took")")
  else
    results+=("$(printf '%-14s %-7s %5d s   first failing line: %s' "$stage" FAILED "$took" \
                 "$(first_failing_line "$log" | cut -c1-200)")")
    echo "stage $stage failed (exit status $status); its log: $log" >&2
    exit 1
  fi
done
