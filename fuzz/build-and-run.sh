#!/usr/bin/env bash
# Builds every fuzz target of the project (fuzz/<name>_fuzz.cpp) with
# clang's libFuzzer and the address and undefined-behaviour sanitizers,
# straight from the sources, then runs each for a bounded time. Exits
# non-zero when a target fails to build or the fuzzer finds anything.
#
#   fuzz/build-and-run.sh [OUT_DIR [SECONDS_PER_TARGET]]
#
#   OUT_DIR             binaries, working corpora, logs, crash artifacts
#                       (default: out/fuzz under the project root)
#   SECONDS_PER_TARGET  fuzzing time of each target (default: $FUZZ_SECONDS,
#                       else 20)
#   FUZZ_TARGETS        space-separated target names to restrict the run to
#   CXX                 compiler (default: clang++)
#
# Sources of a target: fuzz/<name>_fuzz.sources lists the project sources
# linked into it, one path or glob per line relative to the project root;
# lines starting with '-' are extra compiler flags, '#' starts a comment.
# The seed corpus of a target lives in fuzz/corpus/<name>_fuzz/; new inputs
# the fuzzer finds go to OUT_DIR/corpus/<name>_fuzz/, never into the tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/out/fuzz}
seconds=${2:-${FUZZ_SECONDS:-20}}
cxx=${CXX:-clang++}
mkdir -p "$out/bin" "$out/corpus" "$out/logs" "$out/artifacts"
out=$(cd "$out" && pwd)

common_flags=(-std=c++17 -g -O1 -fno-omit-frame-pointer
              -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
              -fno-exceptions -frtti -Wall -Wextra
              "-fmacro-prefix-map=$root/=" "-I$root")
# Every public include folder of the project, as the CMake targets give them.
while IFS= read -r dir; do
  common_flags+=("-I$dir")
done < <(cd "$root" && find property_store log_service aaa platform -type d -name include \
           -printf "$root/%p\n" 2>/dev/null | sort)

build_target() {  # name
  local name=$1 list="$root/fuzz/$1.sources" line
  local -a sources=("$root/fuzz/$name.cpp") flags=()
  if [[ -f $list ]]; then
    while IFS= read -r line || [[ -n $line ]]; do
      line=${line%%#*}
      line=$(echo "$line" | xargs)
      [[ -z $line ]] && continue
      if [[ $line == -* ]]; then
        flags+=("$line")
      else
        local matched=0 file
        for file in $root/$line; do
          [[ -f $file ]] || continue
          sources+=("$file")
          matched=1
        done
        if ((!matched)); then
          echo "fuzz: $name: no source matches $line" >&2
          return 1
        fi
      fi
    done <"$list"
  fi
  "$cxx" "${common_flags[@]}" "${flags[@]}" "${sources[@]}" -o "$out/bin/$name" -lpthread
}

run_target() {  # name
  local name=$1 log="$out/logs/$1.log"
  local -a corpora=("$out/corpus/$name")
  mkdir -p "$out/corpus/$name"
  [[ -d $root/fuzz/corpus/$name ]] && corpora+=("$root/fuzz/corpus/$name")
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
      "$out/bin/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$out/artifacts/$name-" "${corpora[@]}" \
      >"$log" 2>&1; then
    local runs corpus
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    corpus=$(find "${corpora[@]}" -type f | wc -l)
    echo "fuzz: $name: ${seconds}s, ${runs:-?} inputs run, corpus of $corpus files, no finding"
  else
    echo "fuzz: $name: FAILED (log: $log)" >&2
    tail -n 60 "$log" >&2
    return 1
  fi
}

targets=()
for source in "$root"/fuzz/*_fuzz.cpp; do
  [[ -f $source ]] || continue
  name=$(basename "$source" .cpp)
  if [[ -n ${FUZZ_TARGETS:-} && " $FUZZ_TARGETS " != *" $name "* ]]; then continue; fi
  targets+=("$name")
done
if ((${#targets[@]} == 0)); then
  echo "fuzz: no targets" >&2
  exit 1
fi

failed=0
for name in "${targets[@]}"; do
  echo "fuzz: building $name"
  if ! build_target "$name"; then
    echo "fuzz: $name: build FAILED" >&2
    failed=1
    continue
  fi
  run_target "$name" || failed=1
done
if ((failed)); then
  echo "fuzz: FAILED"
  exit 1
fi
echo "fuzz: ${#targets[@]} targets, no finding"
