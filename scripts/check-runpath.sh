#!/usr/bin/env bash
# Checks the library search paths (RUNPATH and RPATH) of every ELF file under
# the given directories. The dynamic loader reads an empty entry (a leading,
# doubled or trailing ':', or an empty path) as the current directory, and a
# relative entry as relative to it: either lets a library planted where a
# program happens to run take the place of a real one. Every entry must be
# absolute or start at $ORIGIN. With --none, no file may carry a search path
# at all (packaged files, which the loader finds in its own directories).
# Names each offending file; exit 1 if any.
#
#   scripts/check-runpath.sh [--none] DIR...
set -euo pipefail
none=false
if [[ ${1:-} == --none ]]; then none=true; shift; fi
if [[ $# -eq 0 ]]; then
  echo "usage: $0 [--none] DIR..." >&2
  exit 2
fi

status=0
checked=0
while IFS= read -r -d '' file; do
  # NULs dropped first: bash warns about them, and the magic has none.
  [[ $(head -c 4 "$file" | tr -d '\0') == $'\x7fELF' ]] || continue
  checked=$((checked + 1))
  while IFS= read -r line; do
    tag=${line%%:*}
    path=${line#*:}
    problem=""
    if $none; then
      problem="a search path, where none belongs"
    elif [[ -z $path || $path == :* || $path == *: || $path == *::* ]]; then
      problem="an empty entry"
    else
      IFS=: read -r -a entries <<<"$path"
      for entry in "${entries[@]}"; do
        case $entry in
          /* | '$ORIGIN' | '$ORIGIN/'* | '${ORIGIN}' | '${ORIGIN}/'*) ;;
          *) problem="the relative entry '$entry'" ;;
        esac
      done
    fi
    if [[ -n $problem ]]; then
      echo "check-runpath: $file: $tag [$path] has $problem" >&2
      status=1
    fi
  done < <(LC_ALL=C readelf -d "$file" 2>/dev/null |
           sed -n 's/.*(\(RUNPATH\|RPATH\)).*: \[\(.*\)\]$/\1:\2/p')
done < <(
  # What the loader loads: programs and shared libraries (object files and
  # static archives carry no search path).
  find "$@" -type f \( -perm -u=x -o -name '*.so' -o -name '*.so.*' \) -print0)

echo "check-runpath: $checked ELF files checked"
exit $status
