#!/bin/bash
# Runs every fenced block marked "```sh run" in the given Markdown files, and reads each
# shipped settings example with its program. Each runs in a home of its own, as an
# ordinary user, with the built programs on PATH and the virtual board linked as port 1.
# Usage: run_examples.sh BUILD_DIR SOURCE_DIR FILE.md...
set -u
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd)
shift 2
passed=0 failed=0
as_user=()
[ "$(id -u)" = 0 ] && as_user=(setpriv --reuid 65534 --regid 65534 --clear-groups)

# run_in_home NAME SETUP SCRIPT: SETUP copies files into the state folder first.
run_in_home() {
  local name=$1 setup=$2 script=$3 home board
  home=$(mktemp -d)
  mkdir -p "$home/.config/relay_panel"
  eval "$setup"
  chown -R 65534:65534 "$home" 2>/dev/null
  "${as_user[@]}" env -i HOME="$home" PATH="$build:/usr/bin:/bin" LANG=C.UTF-8 \
    "$build/relay_board_sim" --link-dir "$home/.config/relay_panel" --port 1 >/dev/null &
  board=$!
  for _ in $(seq 200); do
    [ -e "$home/.config/relay_panel/com1" ] && break
    sleep 0.1
  done
  # A test killed with -9 may have left root's lock for this terminal's number, which an
  # ordinary user may not clear; the machine's owner clears it when its process is gone.
  if [ ${#as_user[@]} -gt 0 ]; then
    local device lock
    device=$(readlink "$home/.config/relay_panel/com1")
    lock=/run/lock/LCK..$(echo "${device#/dev/}" | tr / _)
    if [ -e "$lock" ] && ! kill -0 "$(awk 'NR == 1 {print $1}' "$lock")" 2>/dev/null; then
      rm -f "$lock"
    fi
  fi
  if (cd "$home" && "${as_user[@]}" env -i HOME="$home" PATH="$build:/usr/bin:/bin" \
        LANG=C.UTF-8 bash -e -c "$script") >"$home/out" 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name"
    sed 's/^/  /' "$home/out"
  fi
  kill "$board" 2>/dev/null
  wait "$board" 2>/dev/null
  rm -rf "$home"
}

for page in "$@"; do
  number=0
  while IFS= read -r -d '' block; do
    number=$((number + 1))
    run_in_home "$(basename "$page") block $number" : "$block"
  done < <(awk '/^```sh run$/ {on = 1; next}
               on && /^```$/ {on = 0; printf "%s%c", text, 0; text = ""; next}
               on {text = text $0 "\n"}' "$page")
done

# Each example as shipped, read where its program looks for it: the port opens only with
# readable rules, and the log command only with readable limits.
examples=(
  "rules.conf|relayctl --port 1 status"
  "events.conf|relayctl --port 1 open 2 && relayctl log"
)
for row in "${examples[@]}"; do
  file=${row%%|*}
  run_in_home "$file.example" \
    "cp '$source/packaging/$file.example' \"\$home/.config/relay_panel/$file\"" "${row#*|}"
done

# lines.conf is the panel's, read at each open: port 1, which it leaves to com1, opens
# only when the file reads, and the panel then holds the board's terminal.
read_by_panel='
QT_QPA_PLATFORM=offscreen RELAY_PANEL_MESSAGES=stderr RELAY_PANEL_OPEN_PORT=1 \
  relay_panel 2>panel.err &
device=$(readlink ~/.config/relay_panel/com1)
held=no
for _ in $(seq 300); do
  if ls -l /proc/$!/fd 2>/dev/null | grep -q " $device\$"; then held=yes; break; fi
  sleep 0.1
done
kill $! && wait $! || true
cat panel.err
[ $held = yes ] && ! grep -q lines.conf panel.err'
run_in_home lines.conf.example \
  "cp '$source/packaging/lines.conf.example' \"\$home/.config/relay_panel/lines.conf\"" \
  "$read_by_panel"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
