#!/usr/bin/env bash
# The line's poll rate during each attack on the web page, and the bridge's memory after
# it, for two builds of the bridge side by side (e.g. main's and this one's):
#   bench/web/web_attack_bench.sh BEFORE_BRIDGE AFTER_BRIDGE BOARD_SIM
# Runs the attack table (tests/web/web_attack_test.py) in measuring mode: what would
# fail is printed instead.
set -uo pipefail
here=$(dirname "$0")
for bridge in "$1" "$2"; do
  echo "== $bridge"
  MEASURE=1 /usr/bin/python3 "$here/../../tests/web/web_attack_test.py" "$bridge" "$3" \
    "${TMPDIR:-/tmp}/web-attack-bench" 2>&1 | grep -E 'polls/s|not so'
done
