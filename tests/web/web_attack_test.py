"""The web page attacked, one row per attack, against bridges with the virtual board and
a real mosquitto: the line's poll rate meanwhile, the page served afterwards; then the
page's TLS at the start.  web_attack_test.py BRIDGE BOARD_SIM WORK_DIR
With MEASURE=1 it only prints the figures (bench/web/web_attack_bench.sh)."""
import base64
import json
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import time
import unittest

BRIDGE, BOARD_SIM, WORK = (os.path.abspath(path) for path in sys.argv[1:4])
MEASURE = os.environ.get("MEASURE") == "1"
DEADLINE = 8 if MEASURE else 30
TLS = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
TLS.check_hostname, TLS.verify_mode = False, ssl.CERT_NONE
procs = []


def check(condition, what):
    if not condition and not MEASURE:
        raise AssertionError(what)
    if not condition:
        print("  not so: %s" % what)


def wait_until(condition, what):
    end = time.monotonic() + DEADLINE
    while time.monotonic() < end:
        if condition():
            return
        time.sleep(0.05)
    check(False, "not within %d s: %s" % (DEADLINE, what))


def start(name, *args):
    with open(os.path.join(WORK, name + ".log"), "w") as log:
        procs.append(subprocess.Popen(args, stdout=log, stderr=subprocess.STDOUT, cwd=WORK))
    return os.path.join(WORK, name + ".log")


def text(path):
    with open(path, errors="replace") as file:
        return file.read()


class Bridge:
    def __init__(self, name, port, *web):
        self.board = start(name + "-board", BOARD_SIM, "--times", "--link-dir", WORK, "--port", port)
        wait_until(lambda: "/dev/" in text(self.board), "the board of " + name)
        self.log = start(name, BRIDGE, "--port", port, "--line", name, "--host", "127.0.0.1",
                         "--mqtt-port", MQTT_PORT, "--names", os.path.join(WORK, name + ".txt"),
                         "--web", "127.0.0.1:0", *web)
        self.pid = procs[-1].pid
        wait_until(lambda: "board 1 online" in text(self.log), name + "'s board and page")
        url = re.search(r"web page on (\w+)://[^:]+:(\d+)", text(self.log))
        self.tls, self.port = url.group(1) == "https", int(url.group(2))
        self.origin = "%s://127.0.0.1:%d" % (url.group(1), self.port)

    def connect(self, handshake=True):
        raw = socket.create_connection(("127.0.0.1", self.port), timeout=DEADLINE)
        return TLS.wrap_socket(raw) if self.tls and handshake else raw

    def request(self, head, body=b"", host="127.0.0.1"):
        """The answer on a connection of its own; to a large body's head before it."""
        with self.connect() as conn:
            conn.sendall(head.replace("HOST", "%s:%d" % (host, self.port)).encode())
            conn.settimeout(3)
            answer = receive(conn) if len(body) > 4096 else b""
            try:
                conn.sendall(body)
            except OSError:  # refused and closed before it was all sent
                pass
            conn.settimeout(DEADLINE)
            return (answer or receive(conn) or b"").decode(errors="replace")

    def status(self, *request, **where):
        answer = self.request(*request, **where)
        return int(answer.split()[1]) if answer.startswith("HTTP/1.1") else 0

    def reachable(self):
        return self.status("GET / HTTP/1.1\r\nHost: HOST\r\n\r\n") == 200

    def login(self, password):
        body = json.dumps({"user": "op", "password": password})
        return re.search(r"relayboard_session=(\w+)", self.request(
            "POST /login HTTP/1.1\r\nHost: HOST\r\nOrigin: %s\r\nContent-Length: %d\r\n\r\n"
            % (self.origin, len(body)), body.encode()))

    def rss_mib(self):
        return int(re.search(r"VmRSS:\s+(\d+)", text("/proc/%d/status" % self.pid)).group(1)) / 1024


def refused_message(bridge, payload, cookie=""):
    """One text frame of `payload` on a new page: closed with 1009 and not echoed."""
    conn, answer = bridge.connect(), b""
    conn.sendall(("GET /live HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nOrigin: %s\r\nUpgrade: websocket\r\n"
                  "Connection: Upgrade\r\nSec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n"
                  "Cookie: relayboard_session=%s\r\n\r\n" % (bridge.port, bridge.origin, base64.b64encode(
                      os.urandom(16)).decode(), cookie)).encode())
    try:
        conn.sendall(bytes([0x81, 0xFF]) + len(payload).to_bytes(8, "big") + b"\0\0\0\0" + payload)
    except OSError:
        pass  # refused before it was all sent
    while not re.search(rb"\x88[\x02-\x7d]\x03\xf1", answer) and (chunk := receive(conn)):
        answer += chunk
    conn.close()
    check(answer.startswith(b"HTTP/1.1 101") and re.search(rb"\x88[\x02-\x7d]\x03\xf1", answer),
          "closed as too much data")
    check(payload[-64:] not in answer, "the payload not echoed")


def receive(conn, end=None):
    """Bytes, b"" once the peer has closed, None when nothing came in time."""
    conn.settimeout(max(0.01, end - time.monotonic())) if end else None
    try:
        return conn.recv(65536)
    except socket.timeout:
        return None
    except OSError:
        return b""


def idle_tls(bridge, held):
    """30 connections that never start their handshake, while a client gets the page."""
    conns = [bridge.connect(handshake=False) for _ in range(30)]
    for conn in conns if not held else []:
        conn.close()
    check(bridge.reachable(), "the page with 30 idle connections")
    for conn in conns:
        conn.close()


def half_sent(bridge, count):
    conns = [bridge.connect() for _ in range(count)]
    for conn in conns:
        conn.sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n")
    check(bridge.reachable(), "the page while requests are half sent")
    end = time.monotonic() + DEADLINE
    closed = sum(receive(conn, end) == b"" for conn in conns)  # each closed by the bridge
    for conn in conns:
        conn.close()
    check(closed == count, "%d of %d half-sent requests closed" % (closed, count))


class WebAttacks(unittest.TestCase):
    def run_row(self, name, bridge, attack):
        def answers():
            return [float(at) for at in re.findall(r"-> [0-9A-F ]+ at ([\d.]+) ms", text(bridge.board))]
        with self.subTest(name):
            first, started = answers()[-1], time.monotonic()
            try:
                attack(bridge)
            except OSError as error:
                check(False, "%s: %r" % (name, error))
            span = max(2000, (time.monotonic() - started) * 1000)
            wait_until(lambda: answers()[-1] >= first + span, "the line's answers after " + name)
            rate = len([at for at in answers() if first < at <= first + span]) * 1000 / span
            print("%-36s %5.1f polls/s   RSS %6.1f MiB" % (name, rate, bridge.rss_mib()), flush=True)
            # An attack that holds the bridge's thread starves the line (3 to 5 polls a
            # second before the page had limits); a loaded sanitizer build only slows it.
            check(rate >= 12, "%s: %.1f polls/s" % (name, rate))
            wait_until(bridge.reachable, "the page after " + name)

    def test_attacks(self):
        big = b"A" * (64 << 20)
        rename = {"op": "rename", "address": 1, "relay": 1, "value": "x" * (32 << 20)}
        framing = "POST /login HTTP/1.1\r\nHost: HOST\r\n%s\r\n\r\n"
        rows = [
            ("64 MiB login body", TLS_PAGE, lambda b: check(b.status(
                "POST /login HTTP/1.1\r\nHost: HOST\r\nContent-Length: %d\r\n\r\n" % len(big), big) == 413,
                "413 before the body")),
            ("16 MiB WebSocket message", TLS_PAGE, lambda b: refused_message(b, big[:16 << 20], COOKIE)),
            ("32 MiB rename, no login", OPEN_PAGE, lambda b: refused_message(b, json.dumps(rename).encode())),
            ("rebinding Host with a login", PLAIN_PAGE, lambda b: check([
                b.status("GET / HTTP/1.1\r\nHost: HOST\r\n\r\n", host="evil.example"),
                b.status("POST /login HTTP/1.1\r\nHost: HOST\r\nOrigin: http://HOST\r\nContent-Length: 4096"
                         "\r\n\r\n", host="evil.example")] == [421, 421], "421 before the body")),
            ("two Content-Length, CL+TE, two Host, chunked", PLAIN_PAGE, lambda b: check([
                b.status(framing % extra) for extra in (
                    "Content-Length: 2\r\nContent-Length: 2", "Content-Length: 2\r\nTransfer-Encoding: chunked",
                    "Host: evil.example", "Transfer-Encoding: chunked")] == [400, 400, 400, 411], "refused")),
            ("50 half-sent plain requests", PLAIN_PAGE, lambda b: half_sent(b, 50)),
            ("20 half-sent TLS requests", TLS_PAGE, lambda b: half_sent(b, 20)),
            # Last: before, these left the page unreachable for good.
            ("30 idle TLS, closed early", TLS_PAGE, lambda b: idle_tls(b, held=False)),
            ("30 idle TLS, held", TLS_PAGE, lambda b: idle_tls(b, held=True)),
        ]
        for name, bridge, attack in rows:
            self.run_row(name, bridge, attack)

    def test_wrong_logins(self):
        end = time.monotonic() + 10  # 200, or as many as 10 s take
        self.run_row("200 wrong logins", PLAIN_PAGE,
                     lambda b: [b.login("wrong") for _ in range(200) if time.monotonic() < end])

    def test_tls_start(self):
        folder = os.path.join(WORK, "folder")
        os.makedirs(folder, exist_ok=True)
        rows = [(CERT, OTHER_KEY, "web key %s: not the key of web certificate %s" % (OTHER_KEY, CERT)),
                (CERT, OPEN_KEY, "web key %s: readable by others (mode 0644)" % OPEN_KEY),
                (folder, KEY, "web-cert %s: a folder, not a file" % folder),
                (KEY, KEY, "web certificate %s: not a PEM certificate" % KEY),
                (CERT, GARBAGE, "web key %s: not a PEM private key" % GARBAGE),
                (ED_CERT, ED_KEY, "web page on https://")]
        for cert, key, message in rows:
            with self.subTest(message):
                run = subprocess.Popen([BRIDGE, "--port", "7", "--line", "start", "--host", "127.0.0.1",
                                        "--mqtt-port", MQTT_PORT, "--web", "127.0.0.1:0", "--web-users", USERS,
                                        "--web-cert", cert, "--web-key", key, "--names", GARBAGE + ".txt"],
                                       cwd=WORK, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
                out = ""
                while key == ED_KEY and message not in out and (line := run.stdout.readline()):
                    out += line
                if key == ED_KEY:  # served: a handshake with the Ed25519 key
                    port = int(re.search(r"https://[^:]+:(\d+)", out).group(1))
                    TLS.wrap_socket(socket.create_connection(("127.0.0.1", port))).close()
                    run.terminate()
                try:
                    out += run.communicate(timeout=DEADLINE)[0]
                except subprocess.TimeoutExpired:  # it started: none is left running
                    run.kill()
                    out += run.communicate()[0]
                check(message in out and (key == ED_KEY or run.returncode == 2), out)

    def test_tls_suites(self):
        # Nothing before TLS 1.2, and under it ECDHE with AES-GCM or ChaCha20 only.
        for version, ciphers, taken in (
                (ssl.TLSVersion.TLSv1_1, "ALL:@SECLEVEL=0", False),
                (ssl.TLSVersion.TLSv1_2, "ECDHE-RSA-AES128-SHA:AES128-SHA:AES256-SHA256", False),
                (ssl.TLSVersion.TLSv1_2, "ECDHE-RSA-AES128-GCM-SHA256:ECDHE-RSA-CHACHA20-POLY1305", True)):
            old = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
            old.check_hostname, old.verify_mode, old.maximum_version = False, ssl.CERT_NONE, version
            old.minimum_version, _ = ssl.TLSVersion.MINIMUM_SUPPORTED, old.set_ciphers(ciphers)
            try:
                old.wrap_socket(TLS_PAGE.connect(handshake=False)).close()
                check(taken, "a handshake with " + ciphers)
            except ssl.SSLError:
                check(not taken, "no handshake with " + ciphers)


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True)


if __name__ == "__main__":
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    with socket.socket() as free:
        free.bind(("127.0.0.1", 0))
        MQTT_PORT = str(free.getsockname()[1])
    with open(os.path.join(WORK, "mosquitto.conf"), "w") as conf:
        conf.write("listener %s 127.0.0.1\nallow_anonymous true\n" % MQTT_PORT)
    start("mosquitto", "mosquitto", "-c", os.path.join(WORK, "mosquitto.conf"))
    USERS = os.path.join(WORK, "users")
    subprocess.run([BRIDGE, "--add-web-user", "op", "--web-users", USERS], input=b"pw\n", check=True)
    CERT, KEY, OTHER_KEY, OPEN_KEY, ED_CERT, ED_KEY, GARBAGE = (os.path.join(WORK, name) for name in (
        "web.crt", "web.key", "other.key", "open.key", "ed.crt", "ed.key", "garbage.key"))
    for cert, key, kind in ((CERT, KEY, "rsa:2048"), (ED_CERT, ED_KEY, "ed25519")):
        openssl("req", "-x509", "-newkey", kind, "-nodes", "-days", "2", "-subj", "/CN=localhost",
                "-keyout", key, "-out", cert)
    openssl("genpkey", "-algorithm", "ed25519", "-out", OTHER_KEY)
    shutil.copy(KEY, OPEN_KEY)
    with open(GARBAGE, "w") as garbage:
        garbage.write("not a key\n")
    for key in (KEY, OTHER_KEY, ED_KEY, OPEN_KEY, GARBAGE):
        os.chmod(key, 0o644 if key == OPEN_KEY else 0o600)
    try:
        TLS_PAGE = Bridge("tls", "1", "--web-users", USERS, "--web-cert", CERT, "--web-key", KEY)
        PLAIN_PAGE = Bridge("plain", "2", "--web-users", USERS)
        OPEN_PAGE = Bridge("open", "3")
        COOKIE = TLS_PAGE.login("pw").group(1)
        unittest.main(argv=sys.argv[:1], verbosity=2)
    finally:
        for proc in reversed(procs):
            proc.terminate()
            proc.wait()
