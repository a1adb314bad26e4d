#!/bin/sh
# The README shows what a command prints: the first fenced block after the
# line HEADING must equal, whole, what COMMAND prints on standard output and
# standard error together. A change to either fails until the other
# follows. A command that exits 77 (the private /run launcher, where no
# private /run can be had) skips the check with that status.
#
#   readme_block.sh README HEADING COMMAND [ARG...]
set -eu
readme=$1
heading=$2
shift 2
expected=$(mktemp)
actual=$(mktemp)
trap 'rm -f "$expected" "$actual"' EXIT
awk -v heading="$heading" '
  $0 == heading { found = 1; next }
  found && /^```/ { if (inside) exit; inside = 1; next }
  inside { print }' "$readme" >"$expected"
if [ ! -s "$expected" ]; then
  echo "no fenced block after the line '$heading' in $readme" >&2
  exit 1
fi
status=0
"$@" >"$actual" 2>&1 || status=$?
if [ "$status" -eq 77 ]; then
  cat "$actual"
  exit 77
fi
if ! diff -u --label "$readme, under '$heading'" --label "what the command prints" \
    "$expected" "$actual"; then
  echo "the README and the command disagree: change the one that is wrong" >&2
  exit 1
fi
