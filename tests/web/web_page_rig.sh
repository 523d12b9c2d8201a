#!/usr/bin/env bash
# The web page as an operator meets it: a real mosquitto on a free loopback port, the
# virtual board (its frames logged) as port 1, a name file in code page 936, two users
# (an operator and a viewer) and the bridge serving the page on a free port; then the
# browser's tests (web_page_test.py) against it.
#   web_page_rig.sh BRIDGE BOARD_SIM TEST_SCRIPT WORK_DIR
set -euo pipefail
bridge=$1 board_sim=$2 test_script=$3 work=$4
rm -rf "$work" && mkdir -p "$work"
pids=()
# A board the test left stopped is woken before it is ended: a SIGCONT that came while
# it exits would meet the sanitizers' leak check there and keep it spinning for good.
trap 'kill -CONT "${pids[@]}" 2>/dev/null || true; kill "${pids[@]}" 2>/dev/null || true; wait' EXIT

# wait_for FILE TEXT: until FILE holds TEXT, at most 30 s.
wait_for() {
  for _ in $(seq 300); do
    grep -qF -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "not seen in $1 within 30 s: $2" >&2
  cat "$1" >&2
  return 1
}
free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

mqtt_port=$(free_port)
printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$mqtt_port" >"$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
pids+=($!)
wait_for "$work/mosquitto.log" "running"

"$board_sim" --verbose --link-dir "$work" --port 1 >"$work/board.log" 2>&1 &
pids+=($!)
board_pid=$!
wait_for "$work/board.log" "/dev/"

# Code page 936 as Windows writes it: "水泵" is CB AE B1 C3; relay 3 holds markup.
printf '[address 0]\r\n[Software properties]\r\nThe name=Pump house\r\n[address 1]\r\nrelay1name=\xCB\xAE\xB1\xC3\r\nrelay2name=Fan\r\nrelay3name=<b>bold</b><img src=x id=injected>\r\n' \
  >"$work/name.txt"
echo operator-pw | "$bridge" --add-web-user op --web-users "$work/users"
echo viewer-pw | "$bridge" --add-web-user view --web-role viewer --web-users "$work/users"
# Its owner's alone when made, and kept so when a user is added.
[[ $(stat -c %a "$work/users") == 600 ]] || { stat "$work/users" >&2; exit 1; }

# Beyond this machine only with TLS and a login: refused before anything starts.
status=0
"$bridge" --port 1 --web 0.0.0.0:0 --web-users "$work/users" 2>"$work/refused.log" || status=$?
grep -qF -- "--web 0.0.0.0:0 reaches beyond this machine: give --web-cert and --web-key" \
  "$work/refused.log" && [[ $status -eq 2 ]] || { cat "$work/refused.log" >&2; exit 1; }

"$bridge" --port 1 --names "$work/name.txt" --host 127.0.0.1 --mqtt-port "$mqtt_port" \
  --verbose --web 127.0.0.1:0 --web-users "$work/users" >"$work/bridge.log" 2>&1 &
pids+=($!)
bridge_pid=$!
wait_for "$work/bridge.log" "web page on"
wait_for "$work/bridge.log" "board 1 online"

# The page under TLS on a line of its own: a login answered with a Secure cookie.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -keyout "$work/web.key" \
  -out "$work/web.crt" 2>/dev/null
"$bridge" --port 9 --line tls --names "$work/name.txt" --host 127.0.0.1 --mqtt-port "$mqtt_port" \
  --web 127.0.0.1:0 --web-users "$work/users" --web-cert "$work/web.crt" --web-key "$work/web.key" \
  >"$work/tls.log" 2>&1 &
pids+=($!)
wait_for "$work/tls.log" "web page on https://"
tls_url=$(sed -n 's/.*web page on \(https[^ ]*\).*/\1/p' "$work/tls.log")
curl -sSk -o /dev/null -D "$work/tls.headers" -H "Origin: ${tls_url%/}" \
  -H "Content-Type: application/json" --data '{"user":"op","password":"operator-pw"}' \
  "${tls_url}login"
grep -qE '^Set-Cookie: relayboard_session=[0-9a-f]{64}; Path=/; Max-Age=43200; HttpOnly; SameSite=Strict; Secure' \
  "$work/tls.headers" || { cat "$work/tls.headers" "$work/tls.log" >&2; exit 1; }

WEB_URL=$(sed -n 's/.*web page on \(http[^ ]*\).*/\1/p' "$work/bridge.log") \
  BOARD_LOG="$work/board.log" BOARD_PID=$board_pid NAME_FILE="$work/name.txt" \
  BRIDGE_LOG="$work/bridge.log" BRIDGE_PID=$bridge_pid WORK_DIR="$work" /usr/bin/python3 "$test_script"
