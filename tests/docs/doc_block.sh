#!/bin/sh
# A document shows what a command prints: the first fenced block after the
# line HEADING of DOC must equal, whole, what COMMAND prints on standard
# output and standard error together. A change to either fails until the
# other follows. A command that exits 77 (the private /run launcher, where
# no private /run can be had) skips the check with that status.
#
#   doc_block.sh DOC HEADING COMMAND [ARG...]
set -eu
doc=$1
heading=$2
shift 2
expected=$(mktemp)
actual=$(mktemp)
trap 'rm -f "$expected" "$actual"' EXIT
awk -v heading="$heading" '
  $0 == heading { found = 1; next }
  found && /^```/ { if (inside) exit; inside = 1; next }
  inside { print }' "$doc" >"$expected"
if [ ! -s "$expected" ]; then
  echo "no fenced block after the line '$heading' in $doc" >&2
  exit 1
fi
status=0
"$@" >"$actual" 2>&1 || status=$?
if [ "$status" -eq 77 ]; then
  cat "$actual"
  exit 77
fi
if ! diff -u --label "$doc, under '$heading'" --label "what the command prints" \
    "$expected" "$actual"; then
  echo "the document and the command disagree: change the one that is wrong" >&2
  exit 1
fi
