"""The users file and the sessions against the bridge, under the browser tests' rig:
logout, the file read again or refused, and logins held back."""
import base64, hashlib, http.client, json, os, socket, sys, time, urllib.parse

URL = urllib.parse.urlsplit(os.environ["WEB_URL"])
ORIGIN = "http://%s" % URL.netloc
USERS, LOG = os.path.join(os.environ["WORK_DIR"], "users"), os.environ["BRIDGE_LOG"]
# Well within the 30 s after which ended sessions' pages would be closed anyway, well
# beyond the 2 s in which a change of the file is seen.
AT_ONCE = 10


def eventually(check, what):
    end = time.monotonic() + AT_ONCE
    while not check():
        if time.monotonic() > end:
            sys.exit("not within %d s: %s\n%s" % (AT_ONCE, what, open(LOG).read()))
        time.sleep(0.05)


def login(user, password, path="/login", cookie=""):
    connection = http.client.HTTPConnection(URL.hostname, URL.port, timeout=30)
    connection.request("POST", path, json.dumps({"user": user, "password": password}),
                       {"Origin": ORIGIN, "Cookie": cookie})
    response = connection.getresponse()
    return (response.status, response.getheader("Retry-After"), response.read(),
            (response.getheader("Set-Cookie") or "").split(";")[0])


class Page:
    """A page's WebSocket, ended when the bridge sends it to the login form."""

    def __init__(self, cookie):
        self.socket = socket.create_connection((URL.hostname, URL.port), 30)
        self.socket.sendall((
            "GET /live HTTP/1.1\r\nHost: %s\r\nOrigin: %s\r\nCookie: %s\r\nUpgrade: websocket\r\n"
            "Connection: Upgrade\r\nSec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n\r\n"
            % (URL.netloc, ORIGIN, cookie, base64.b64encode(os.urandom(16)).decode())).encode())
        self.bytes = self.socket.recv(4096)
        assert self.bytes.startswith(b"HTTP/1.1 101"), self.bytes
        self.socket.setblocking(False)

    def ended(self):
        try:
            self.bytes += self.socket.recv(65536)
        except BlockingIOError:
            pass
        return b'{"type":"expired"}' in self.bytes


def write_users(text):
    # Replaced whole, as --add-web-user and editors do.
    with open(os.open(USERS + ".new", os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "w") as new:
        new.write(text)
    os.replace(USERS + ".new", USERS)


# A logout closes every page of its session, not the same user's other session.
op = login("op", "operator-pw")[3]
pages = [Page(op), Page(op)]
kept = Page(login("op", "operator-pw")[3])
login("", "", "/logout", op)
eventually(lambda: all(page.ended() for page in pages), "both pages closed at logout")
assert not kept.ended()

write_users("op:operator:not a hash\n")
eventually(lambda: "(the users read before stay)" in open(LOG).read(), "the bad file logged")
viewer_page = Page(login("view", "viewer-pw")[3])

# The viewer removed and the operator's password changed: their pages close at once.
salt = os.urandom(16)
digest = hashlib.pbkdf2_hmac("sha256", b"new-pw", salt, 1000)
write_users("op:operator:pbkdf2-sha256:1000:%s:%s\n" % (salt.hex(), digest.hex()))
eventually(lambda: kept.ended() and viewer_page.ended(), "the changed users' pages closed")
assert [login(*each)[0] for each in (("op", "operator-pw"), ("view", "viewer-pw"),
                                     ("op", "new-pw"))] == [401, 401, 200]

# Five failures hold the next login back, answered before any hash, alike for any name.
assert [login("ghost", "guess")[0] for _ in range(5)] == [401] * 5
assert {login(name, "new-pw")[:3] for name in ("ghost", "op")} == {
    (429, "1", b'{"result":"refused","reason":"too many failed logins: try again later"}')}
assert open(LOG).read().count("web logins from 127.0.0.1 held back") == 1
