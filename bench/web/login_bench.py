"""The line's poll rate while the page is sent 200 wrong logins; run it under the browser
tests' rig, which starts the bridge, a real mosquitto and the virtual board:
    tests/web/web_page_rig.sh build/relayboard-mqtt build/relay_board_sim \\
        bench/web/login_bench.py /tmp/login-bench
Each round comes from addresses of its own (127.0.0.0/8 all reach the bridge), so that
none starts held back by another: one client; four at once; and four at once with
every login from another address and for another name, which no count per address or
name holds back, so that each password is checked. Prints the polls per second during
each round, the longest gap between two polls, the round's time and its answers."""
import collections
import http.client
import json
import os
import threading
import time
import urllib.parse

URL = urllib.parse.urlsplit(os.environ["WEB_URL"])
BOARD_LOG = os.environ["BOARD_LOG"]
polls = []  # when each poll's frame reached the board's log
stop = threading.Event()


def tail_board():
    with open(BOARD_LOG, "rb") as log:
        log.seek(0, os.SEEK_END)
        partial = b""
        while not stop.is_set():
            more = log.read()
            now = time.monotonic()
            if not more:
                time.sleep(0.002)
                continue
            partial += more
            *lines, partial = partial.split(b"\n")
            polls.extend(now for line in lines if b"<- 55 01 10" in line)


def login(source, user):
    connection = http.client.HTTPConnection(URL.hostname, URL.port, timeout=120,
                                            source_address=(source, 0))
    connection.request("POST", "/login", json.dumps({"user": user, "password": "guess"}),
                       {"Origin": "http://%s" % URL.netloc, "Content-Type": "application/json"})
    status = connection.getresponse().status
    connection.close()
    return status


def rate(start, end):
    inside = [at for at in polls if start <= at <= end]
    gaps = [b - a for a, b in zip(inside, inside[1:])] or [0]
    return len(inside) / (end - start), max(gaps) * 1000


def round_of(name, clients, attempt):
    answers = collections.Counter()
    lock = threading.Lock()

    def client(number):
        for index in range(number, 200, clients):
            status = login(*attempt(index))
            with lock:
                answers[status] += 1

    start = time.monotonic()
    threads = [threading.Thread(target=client, args=(n,)) for n in range(clients)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    end = time.monotonic()
    per_second, gap = rate(start, end)
    print("%-44s %5.1f polls/s  longest gap %4.0f ms  %5.1f s  answers %s" % (
        name, per_second, gap, end - start, dict(sorted(answers.items()))))


threading.Thread(target=tail_board, daemon=True).start()
time.sleep(5)  # the line's own rate first, with nothing else to do
print("%-44s %5.1f polls/s  longest gap %4.0f ms" % (("idle",) + rate(time.monotonic() - 5,
                                                                    time.monotonic())))
round_of("200 wrong logins, one client", 1, lambda i: ("127.0.0.2", "op"))
round_of("200 wrong logins, four clients", 4, lambda i: ("127.0.0.%d" % (3 + i % 4), "view"))
round_of("200 wrong logins, 200 addresses and names", 4,
         lambda i: ("127.0.1.%d" % (1 + i), "guess%d" % i))
stop.set()
