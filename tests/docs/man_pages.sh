#!/bin/sh
# The section 3 manual pages against the headers they document:
#  - every page of MAN3_DIR renders without a warning (a name that another
#    page describes is a symbolic link to that page);
#  - every function of a HEADER's extern "C" part, and each NAME given as
#    HEADER:NAME (declared outside that part), has its page NAME.3, whose
#    SYNOPSIS shows the prototype the header declares;
#  - every prototype under a SYNOPSIS is one the headers declare.
# Prototypes are compared as the reader sees them, without the export macro
# and __attribute__((...)), with blanks normalised ("char* key" is
# "char *key"). Names each mismatch; exit 1 if any.
#
#   man_pages.sh GROFF MAN3_DIR HEADER[:NAME]...
set -eu
groff=$1
man3=$2
shift 2
if ! command -v "$groff" >/dev/null 2>&1; then
  echo "no groff at '$groff': the manual pages cannot be checked (Debian: groff-base)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tab=$(printf '\t')

# "name<TAB>prototype" for one declaration, gathered in `text` up to its ';'.
normalise='
function emit(text,   name) {
  gsub(/[A-Z_]+_EXPORT|__attribute__\(\(.*\)\)/, "", text)
  gsub(/[ \t]+/, " ", text)
  gsub(/ ?\* ?/, " *", text)
  gsub(/\( /, "(", text); gsub(/ \)/, ")", text); gsub(/ ,/, ",", text)
  sub(/^ /, "", text); sub(/ ?;.*/, "", text)
  name = text; sub(/\(.*/, "", name); sub(/.*[ *]/, "", name)
  print name "\t" text
}'

for argument in "$@"; do
  header=${argument%%:*}
  wanted=${argument#"$header"}
  awk -v wanted="${wanted#:}" "$normalise"'
    /^extern "C" \{/ { in_c = 1; next }
    /^\}  \/\/ extern "C"/ { in_c = 0; next }
    /^[ \t]*(#|\/\/)/ { next }
    { sub(/\/\/.*/, ""); text = text " " $0 }
    /;/ {
      name = text; sub(/\(.*/, "", name); sub(/.*[ *]/, "", name)
      if (text ~ /\(/ && (wanted == "" ? in_c : name == wanted)) emit(text)
      text = ""
    }' "$header" >>"$work/declared"
done
[ -s "$work/declared" ] || { echo "no declarations found in: $*" >&2; exit 1; }

status=0
cd "$man3/.."
for page in man3/*.3; do
  if ! warnings=$("$groff" -man -ww -z "$page" 2>&1) || [ -n "$warnings" ]; then
    printf '%s: groff warns:\n%s\n' "$page" "$warnings" >&2
    status=1
  fi
  "$groff" -man -Tascii -P-cbou "$page" 2>/dev/null | awk "$normalise"'
    /^SYNOPSIS/ { on = 1; next }
    /^[^ ]/ { on = 0 }
    on && /\(/ { open = 1 }
    open { text = text " " $0 }
    open && /;/ { emit(text); open = 0; text = "" }' >"$work/${page#man3/}.shown"
done

while IFS="$tab" read -r name prototype; do
  shown=$work/$name.3.shown
  if [ ! -f "$shown" ]; then
    echo "no page man3/$name.3 for the declaration: $prototype" >&2
    status=1
  elif ! grep -qxF "$name$tab$prototype" "$shown"; then
    echo "man3/$name.3 does not show the declaration: $prototype" >&2
    grep "^$name$tab" "$shown" | cut -f2 | sed 's/^/  its SYNOPSIS shows: /' >&2
    status=1
  fi
done <"$work/declared"

undeclared=$(cat "$work"/*.shown | sort -u | grep -vxF -f "$work/declared" || true)
if [ -n "$undeclared" ]; then
  echo "SYNOPSIS prototypes that no header declares:" >&2
  echo "$undeclared" | cut -f2 | sed 's/^/  /' >&2
  status=1
fi
[ $status -ne 0 ] || echo "$(wc -l <"$work/declared") declarations, each shown by its page"
exit $status
