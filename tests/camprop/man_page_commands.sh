#!/bin/sh
# Every command that `camprop --help` lists has its entry under COMMANDS in
# the manual page (a line ".B command" or ".BI command ..."), so a new
# command cannot ship undocumented. Names each missing one; exit 1 if any.
#
#   man_page_commands.sh MANUAL_PAGE [EMULATOR...] CAMPROP
# (a cross build runs the tool through its emulator)
set -eu
page=$1
shift
commands=$("$@" --help | sed -n 's/^\(usage:\)\{0,1\} *camprop \([a-z][a-z-]*\).*/\2/p')
[ -n "$commands" ] || { echo "no commands found in camprop --help" >&2; exit 1; }
status=0
for command in $commands; do
  if ! sed -n '/^\.SH COMMANDS/,/^\.SH /p' "$page" | grep -Eq "^\.BI? $command( |\$)"; then
    echo "camprop.1 has no entry for '$command' under COMMANDS" >&2
    status=1
  fi
done
exit $status
