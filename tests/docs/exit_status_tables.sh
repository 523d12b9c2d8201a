#!/bin/bash
# relayctl(1)'s EXIT STATUS and the table in docs/scripts.md say the same, row for row:
# the page as plain text, the table without its code marks, blanks squeezed.
# Usage: exit_status_tables.sh SOURCE_DIR
set -eu
page=$(groff -man -Tascii -P-cbou -rLL=5000n -rHY=0 "$1/data/man/relayctl.1" |
  awk '/^EXIT STATUS/ {on = 1; next} on && /^[A-Z]/ {exit}
       on && /^ +[0-9] +[^ ]/ {sub(/^ +/, ""); print}' | tr -s ' ')
guide=$(awk '/^\| [0-9] \| / {sub(/^\| /, ""); sub(/ \|$/, ""); sub(/ \| /, " "); print}' \
  "$1/docs/scripts.md" | tr -d '`' | tr -s ' ')
diff <(echo "$page") <(echo "$guide")
[ "$(echo "$page" | wc -l)" = 7 ]
