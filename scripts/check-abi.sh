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
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
update=false
debug_info=()
while (($#)); do
  case $1 in
    --update) update=true; shift ;;
    --debug-info-dir) debug_info=(--debug-info-dir "${2:?--debug-info-dir needs a directory}"); shift 2 ;;
    *) break ;;
  esac
done
build=${1:?usage: $0 [--update] [--debug-info-dir DIR] BUILD_DIR}

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

status=0
for library in "${libraries[@]}"; do
  name=$(basename "$library" .so.1)
  binary=$build/$library
  [[ -f $binary ]] || { echo "missing $binary (build first)" >&2; exit 1; }
  arch=$(architecture_of "$binary")
  baseline=$root/tests/abi/$arch/$name.abi
  if $update; then
    mkdir -p "$(dirname "$baseline")"
    abidw "${abidw_options[@]}" --out-file "$baseline" "$binary"
    echo "baseline written: tests/abi/$arch/$name.abi"
    continue
  fi
  [[ -f $baseline ]] || { echo "missing baseline tests/abi/$arch/$name.abi" >&2; exit 1; }
  current=$(mktemp)
  abidw "${abidw_options[@]}" --out-file "$current" "$binary"
  # Without debug information abidw describes the symbols alone, and such a
  # corpus compares equal to any baseline: a stripped library would pass
  # unchecked.
  if ! grep -q '<abi-instr' "$current"; then
    rm -f "$current"
    echo "$name: no debug information in $binary, so no types to compare" \
         "(a packaged library: --debug-info-dir with its -dbgsym package's files)" >&2
    exit 1
  fi
  set +e
  report=$(abidiff --no-added-syms "$baseline" "$current")
  result=$?
  set -e
  rm -f "$current"
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
exit $status
