#!/usr/bin/env bash
# Compares the binary interface of the built libraries with the baseline kept
# in tests/abi/ and fails on an incompatible change (a removed or changed symbol, a
# changed class layout or virtual table). Additions are reported, not failed.
#
#   scripts/check-abi.sh BUILD_DIR            check against tests/abi/*.abi
#   scripts/check-abi.sh --update BUILD_DIR   rewrite the baseline (after an
#                                             intended change; commit tests/abi/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
update=false
if [[ ${1:-} == --update ]]; then update=true; shift; fi
build=${1:?usage: $0 [--update] BUILD_DIR}

libraries=(
  lib/libpropstore.so.1
  lib/libplatlog.so.1
  lib/libispbuffers.so.1
)
abidw_options=(--no-corpus-path --no-comp-dir-path --short-locs --no-show-locs
               --drop-undefined-syms --type-id-style hash)

status=0
for library in "${libraries[@]}"; do
  name=$(basename "$library" .so.1)
  binary=$build/$library
  baseline=$root/tests/abi/$name.abi
  [[ -f $binary ]] || { echo "missing $binary (build first)" >&2; exit 1; }
  if $update; then
    abidw "${abidw_options[@]}" --out-file "$baseline" "$binary"
    echo "baseline written: tests/abi/$name.abi"
    continue
  fi
  current=$(mktemp)
  abidw "${abidw_options[@]}" --out-file "$current" "$binary"
  set +e
  report=$(abidiff --no-added-syms "$baseline" "$current")
  result=$?
  set -e
  rm -f "$current"
  # abidiff: bit 0 error, bit 1 usage, bit 2 change, bit 3 incompatible change.
  if (( result & 11 )); then
    echo "$name: INCOMPATIBLE binary-interface change against tests/abi/$name.abi:"
    echo "$report"
    status=1
  elif (( result & 4 )); then
    echo "$name: compatible changes:"
    echo "$report"
  else
    echo "$name: binary interface unchanged"
  fi
done
exit $status
