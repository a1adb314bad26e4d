#!/usr/bin/env bash
# Compares the binary interface of the built libraries with the baseline kept
# for their architecture in tests/abi/<arch>/ (x86_64, aarch64) and fails on
# an incompatible change (a removed or changed symbol, a changed class layout
# or virtual table). Additions are reported, not failed. A cross-built tree
# is checked against its target's baseline.
#
#   scripts/check-abi.sh BUILD_DIR            check against tests/abi/<arch>/*.abi
#   scripts/check-abi.sh --update BUILD_DIR   rewrite that baseline (after an
#                                             intended change; commit tests/abi/)
#   scripts/check-abi.sh --debug-info-dir DIR BUILD_DIR
#                                             libraries stripped of their debug
#                                             information, which lies in DIR
#                                             (e.g. usr/lib/debug of unpacked
#                                             -dbgsym packages, found by build id)
#   scripts/check-abi.sh --skip-without-debug-info BUILD_DIR
#                                             a tree whose build type leaves out
#                                             debug information (Release): a
#                                             library without any is not
#                                             compared, and the check exits 77
#                                             (skipped) saying so
#
# abidw finds the types in the debug information alone, so a library without
# any fails the check (or --update) unless --skip-without-debug-info says that
# its build type left it out: never a pass on the symbols alone.
# Exit status: 0 compatible, 1 incompatible or not checkable, 77 skipped.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
update=false
skip_without_debug_info=false
debug_info=()
while (($#)); do
  case $1 in
    --update) update=true; shift ;;
    --skip-without-debug-info) skip_without_debug_info=true; shift ;;
    --debug-info-dir) debug_info=(--debug-info-dir "${2:?--debug-info-dir needs a directory}"); shift 2 ;;
    *) break ;;
  esac
done
build=${1:?usage: $0 [--update] [--debug-info-dir DIR] [--skip-without-debug-info] BUILD_DIR}

libraries=(
  lib/libpropstore.so.1
  lib/libplatlog.so.1
  lib/libispbuffers.so.1
)
abidw_options=(--no-corpus-path --no-comp-dir-path --short-locs --no-show-locs
               --drop-undefined-syms --type-id-style hash ${debug_info[@]+"${debug_info[@]}"})

# The architecture the libraries were built for, from the ELF header.
architecture_of() {
  case $(LC_ALL=C readelf -h "$1" | sed -n 's/^ *Machine: *//p') in
    *X86-64*) echo x86_64 ;;
    AArch64) echo aarch64 ;;
    *) echo "check-abi: no baseline for the architecture of $1" >&2; return 1 ;;
  esac
}

current=$(mktemp)
trap 'rm -f "$current"' EXIT
status=0
skipped=false
for library in "${libraries[@]}"; do
  name=$(basename "$library" .so.1)
  binary=$build/$library
  [[ -f $binary ]] || { echo "missing $binary (build first)" >&2; exit 1; }
  arch=$(architecture_of "$binary")
  baseline=$root/tests/abi/$arch/$name.abi
  abidw "${abidw_options[@]}" --out-file "$current" "$binary"
  # Without debug information abidw describes the symbols alone, and such a
  # corpus compares equal to any baseline: a stripped library would pass
  # unchecked, and as a baseline it would let every later change pass.
  if ! grep -q '<abi-instr' "$current"; then
    if $skip_without_debug_info && ! $update; then
      echo "$name: SKIPPED, not compared: no debug information in $binary, as its" \
           "build type leaves it out, so no types to compare (a RelWithDebInfo or" \
           "Debug build compares them)"
      skipped=true
      continue
    fi
    echo "$name: no debug information in $binary, so no types to compare" \
         "(a packaged library: --debug-info-dir with its -dbgsym package's files;" \
         "a build tree: a RelWithDebInfo or Debug build)" >&2
    exit 1
  fi
  if $update; then
    mkdir -p "$(dirname "$baseline")"
    cp "$current" "$baseline"
    echo "baseline written: tests/abi/$arch/$name.abi"
    continue
  fi
  [[ -f $baseline ]] || { echo "missing baseline tests/abi/$arch/$name.abi" >&2; exit 1; }
  set +e
  report=$(abidiff --no-added-syms "$baseline" "$current")
  result=$?
  set -e
  # abidiff: bit 0 error, bit 1 usage, bit 2 change, bit 3 incompatible change.
  if (( result & 11 )); then
    echo "$name: INCOMPATIBLE binary-interface change against tests/abi/$arch/$name.abi:"
    echo "$report"
    status=1
  elif (( result & 4 )); then
    echo "$name: compatible changes:"
    echo "$report"
  else
    echo "$name ($arch): binary interface unchanged"
  fi
done
# An incompatible change outweighs a library that could not be compared.
if (( status == 0 )) && $skipped; then
  exit 77
fi
exit $status
