#!/usr/bin/env bash
# Keeps the commands of README.md and the guides (docs/*.md) working. They
# stand in fenced blocks of info string sh, each just after (or one blank
# line after) a comment that says how it is checked:
#   <!-- checked: run -->   run here: in a scratch directory laid out like
#       the checkout (its files linked, out/release the build under test),
#       in a private /run, with the build's camprop and examples first on
#       PATH and "sudo " dropped. A failing command fails the block; a text
#       block that follows it (after at most one line, "It prints:") must
#       equal its output, standard output and error together.
#   <!-- checked: PATH -->  every command line ("sudo ", comments, blank
#       lines and a leading "$ " dropped) occurs as it stands in a line,
#       not a comment, of PATH (from the source tree): a file that a stage
#       of scripts/test.sh runs, so the stage runs what the guide shows.
#
#   doc_commands.sh SOURCE_DIR                        the tags and PATH blocks
#   doc_commands.sh SOURCE_DIR BUILD_DIR PRIVATE_RUN  the run blocks
#
# Exits 1 naming each block that fails; 77 (skipped) when no private /run
# can be had.
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build_dir=${2:+$(cd "$2" && pwd)}
private_run=${3:+$(cd "$(dirname "$3")" && pwd)/${3##*/}}
work=$(mktemp -d "${TMPDIR:-/tmp}/doc-commands.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { printf '%s: %s\n' "$1" "$2" >&2; failures=$((failures + 1)); }

# Each sh block as files N.block (TAG|FILE:LINE), N.cmd and, when a text
# block follows it, N.out.
cd "$source_dir"
awk -v dir="$work" '
  function tag_of(line) {
    if (line !~ /^ *<!-- checked: .* -->[ \t]*$/) return ""
    sub(/^ *<!-- checked: */, "", line)
    sub(/ *-->[ \t]*$/, "", line)
    return line
  }
  FNR == 1 { inside = 0; after = 0; prev = ""; prev2 = "" }
  inside && /^ *```[ \t]*$/ { inside = 0; if (target != "") close(target); after = (kind == "sh"); para = 0; next }
  inside { if (target != "") print substr($0, indent + 1) > target; next }
  /^ *```/ {
    match($0, /^ *```/)
    indent = RLENGTH - 3
    info = substr($0, RLENGTH + 1)
    sub(/[ \t].*$/, "", info)
    inside = 1; target = ""; kind = info
    if (info == "sh") {
      n++
      tag = tag_of(prev)
      if (tag == "" && prev ~ /^[ \t]*$/) tag = tag_of(prev2)
      print tag "|" FILENAME ":" FNR > (dir "/" n ".block"); close(dir "/" n ".block")
      target = dir "/" n ".cmd"
      printf "" > target
    } else if (info == "text" && after) {
      target = dir "/" n ".out"
      printf "" > target
    } else if (info ~ /^(bash|shell|console|zsh)$/) {
      print FILENAME ":" FNR > (dir "/misfiled")
    }
    after = 0
    prev2 = prev; prev = $0
    next
  }
  after && !/^[ \t]*$/ { if (/^(#|<!--)/ || ++para > 1) after = 0 }
  { prev2 = prev; prev = $0 }
' README.md docs/*.md

while read -r where; do fail "$where" "commands belong in a sh block, which this check sees"; done \
  < <(cat "$work/misfiled" 2>/dev/null)

# A block as its reader types it: "$ " prompts and "sudo " dropped.
as_typed() { sed -E 's/^[[:space:]]*\$ //; s/(^|[^[:alnum:]_-])sudo /\1/g' "$1"; }

run_block() {  # number, where
  local n=$1 where=$2 scratch entry status=0
  scratch=$(mktemp -d "$work/run.XXXXXX")
  for entry in "$source_dir"/*; do
    case ${entry##*/} in .git | out | build*) continue ;; esac
    ln -s "$entry" "$scratch/"
  done
  mkdir "$scratch/out"
  ln -s "$build_dir" "$scratch/out/release"
  as_typed "$work/$n.cmd" >"$work/$n.run"
  # A clean environment, so that a developer's log switches or pkg-config
  # path do not change what a block prints. Benchmarks run with a tiny
  # minimum time: their figures are measured by hand, this only keeps
  # their commands working.
  (cd "$scratch" && env -i PATH="$build_dir/tools/camprop:$build_dir/examples:$PATH" \
     HOME="$scratch" LANG=C.UTF-8 TZ=UTC ${TMPDIR:+TMPDIR=$TMPDIR} BENCHMARK_MIN_TIME=0.001 \
     "$private_run" bash -e -o pipefail "$work/$n.run") >"$work/$n.actual" 2>&1 || status=$?
  if ((status == 77)); then
    cat "$work/$n.actual"
    exit 77
  fi
  if ((status != 0)); then
    tail -n 20 "$work/$n.actual" >&2
    fail "$where" "the block failed (exit $status); its last lines are above"
  elif [[ -f $work/$n.out ]] &&
       ! diff -u --label "$where, the text block after it" --label "what the block prints" \
         "$work/$n.out" "$work/$n.actual" >&2; then
    fail "$where" "the block prints something else than the text block after it shows"
  fi
}

shopt -s dotglob nullglob
blocks=("$work"/*.block)
for ((n = 1; n <= ${#blocks[@]}; n++)); do
  IFS='|' read -r tag where <"$work/$n.block"
  if [[ -z $tag ]]; then
    fail "$where" "a sh block without <!-- checked: run --> or <!-- checked: SCRIPT --> before it"
  elif [[ $tag == run ]]; then
    [[ -z $build_dir ]] || run_block "$n" "$where"
  elif [[ -z $build_dir ]]; then
    if [[ ! -f $source_dir/$tag ]]; then
      fail "$where" "checked by $tag, which does not exist"
      continue
    fi
    grep -v '^[[:space:]]*#' "$source_dir/$tag" >"$work/script" || true
    while IFS= read -r line; do
      grep -qF -- "$line" "$work/script" || fail "$where" "'$line' is not a command of $tag"
    done < <(as_typed "$work/$n.cmd" |
             sed -E 's/(^|[[:space:]])#.*$//; s/^[[:space:]]+//; s/[[:space:]]+$//' | grep -v '^$')
  fi
done

if ((failures)); then
  echo "$failures failure(s): change the guide or the command, whichever is wrong" >&2
  exit 1
fi
echo "${#blocks[@]} command blocks checked${build_dir:+ (the run blocks run)}"
