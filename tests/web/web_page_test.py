"""The web page in a real browser (Chromium, headless) against the bridge, a real
mosquitto and the virtual board, as web_page_rig.sh starts them."""
import base64
import json
import os
import re
import shutil
import signal
import socket
import time
import unittest
import urllib.request
import urllib.error

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.common.exceptions import NoSuchElementException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

URL = os.environ["WEB_URL"]
DEADLINE = 30
RED, GREEN, YELLOW = "rgba(255, 0, 0, 1)", "rgba(0, 255, 0, 1)", "rgba(255, 255, 0, 1)"


def wait_until(condition, what):
    """`what` may be a function: it then says what was seen at the end."""
    end = time.monotonic() + DEADLINE
    while time.monotonic() < end:
        try:
            if condition():
                return
        except NoSuchElementException:  # a reloaded page that has not drawn its boards yet
            pass
        time.sleep(0.05)
    raise AssertionError("not within %d s: %s" % (DEADLINE, what() if callable(what) else what))


def board_log():
    with open(os.environ["BOARD_LOG"], encoding="utf-8", errors="replace") as log:
        return log.read()


def switch_frames():
    return re.findall(r"<- (55 [0-9A-F]{2} 1[1-3] [0-9A-F ]{14})", board_log())


def name_file():
    with open(os.environ["NAME_FILE"], "rb") as file:
        return file.read()


class WebPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        options = webdriver.ChromeOptions()
        # CI runs as root, where Chromium's sandbox cannot start.
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                         "--window-size=1024,900", "--lang=en"):
            options.add_argument(argument)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        cls.browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        cls.login("op", "operator-pw")

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()

    @classmethod
    def login(cls, user, password):
        cls.browser.get(URL)
        WebDriverWait(cls.browser, DEADLINE).until(
            lambda b: b.find_element(By.ID, "login").is_displayed())
        cls.browser.find_element(By.ID, "login-user").send_keys(user)
        cls.browser.find_element(By.ID, "login-password").send_keys(password + "\n")
        WebDriverWait(cls.browser, DEADLINE).until(
            lambda b: len(b.find_elements(By.CSS_SELECTOR, ".relay")) == 16)

    def relay(self, number):
        return self.browser.find_element(By.CSS_SELECTOR, '.relay[data-relay="%d"]' % number)

    def shown(self, number):
        indicator = self.relay(number).find_element(By.CSS_SELECTOR, ".indicator")
        return (indicator.find_element(By.CSS_SELECTOR, ".caption").text,
                indicator.value_of_css_property("background-color"))

    def screen(self, width, height, dark=False):
        self.browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 2, "mobile": width < 500})
        self.browser.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": [
            {"name": "prefers-color-scheme", "value": "dark" if dark else "light"}]})
        self.addCleanup(self.browser.execute_cdp_cmd, "Emulation.clearDeviceMetricsOverride", {})

    def wait_shown(self, number, caption, colour):
        wait_until(lambda: self.shown(number) == (caption, colour),
                   lambda: "relay %d %s, shows %s" % (number, caption, self.shown(number)))

    def test_1_states_and_names_as_the_panel_shows_them(self):
        for number in range(1, 17):
            self.wait_shown(number, "closed", RED)
        self.assertEqual(self.relay(1).find_element(By.CSS_SELECTOR, ".name").text, "水泵")
        self.assertEqual(self.browser.find_element(By.CSS_SELECTOR, ".board-title").text,
                         "Pump house")
        self.assertEqual(self.relay(1).find_element(By.CSS_SELECTOR, ".indicator")
                         .get_attribute("aria-label"), "Relay 1, 水泵: closed")

    def test_2_a_name_holding_markup_shows_as_text(self):
        name = self.relay(3).find_element(By.CSS_SELECTOR, ".name")
        self.assertEqual(name.text, "<b>bold</b><img src=x id=injected>")
        self.assertEqual(name.find_elements(By.XPATH, "./*"), [])
        self.assertEqual(self.browser.find_elements(By.ID, "injected"), [])

    def test_2b_open_all_and_close_all_ask_first_unless_told_not_to(self):
        board = self.browser.find_element(By.CSS_SELECTOR, ".board")
        confirm = board.find_element(By.CSS_SELECTOR, ".confirm")
        frames, polls = len(switch_frames()), board_log().count("<- 55 01 10")
        board.find_element(By.CSS_SELECTOR, ".open-all").click()
        self.assertEqual(confirm.text.split("\n")[0], "Open all 16 relays of board 1?")
        confirm.find_element(By.CSS_SELECTOR, ".confirm-no").click()
        wait_until(lambda: board_log().count("<- 55 01 10") > polls + 2, "more polls")
        self.assertEqual((len(switch_frames()), confirm.is_displayed()), (frames, False))
        # Switched off, and remembered by the page: one tap is then one command.
        self.browser.find_element(By.ID, "ask-first").click()
        self.browser.refresh()
        self.wait_shown(1, "closed", RED)
        self.assertTrue(self.browser.find_element(By.ID, "ask-first").text.endswith(": no"))
        self.browser.find_element(By.CSS_SELECTOR, ".close-all").click()
        result = self.browser.find_element(By.CSS_SELECTOR, ".board-result")
        wait_until(lambda: switch_frames()[frames:] == ["55 01 13 00 00 00 00 69"], "the frame")
        wait_until(lambda: result.text == "Board 1, close all: done", lambda: "shows %r" % result.text)

    def test_3_a_tap_on_a_phone_shows_its_result_where_the_finger_is(self):
        self.screen(360, 740)
        item = self.relay(14)
        result = item.find_element(By.CSS_SELECTOR, ".relay-result")
        top = self.browser.execute_script("""
            const item = arguments[0], result = arguments[1];
            item.scrollIntoView({block: 'center'});
            window.seen = [];
            new MutationObserver(() => window.seen.push(result.textContent))
                .observe(result, {childList: true});
            return window.scrollY;""", item, result)
        before = len(switch_frames())
        item.find_element(By.CSS_SELECTOR, ".indicator").click()
        wait_until(lambda: switch_frames()[before:] == ["55 01 12 00 00 00 0E 76"], "the frame")
        wait_until(lambda: result.text.endswith("done"), lambda: "the answer, shows %r" % result.text)
        self.wait_shown(14, "opened", GREEN)
        # Seen without scrolling, and at the board too.
        self.assertEqual(self.browser.execute_script("""
            const box = arguments[0].getBoundingClientRect();
            return [window.seen, document.querySelector('.board-result').textContent,
                    window.scrollY, box.top >= 0 && box.bottom <= innerHeight];""", result),
            [["Board 1, relay 14 open: pending", "Board 1, relay 14 open: done"],
             "Board 1, relay 14 open: done", top, True])
        # The line's event, newest first and as text.
        latest = "return [...document.querySelectorAll('#events li')].map(e => e.innerHTML)[0]"
        wait_until(lambda: (self.browser.execute_script(latest) or "").endswith(
            "board 1 relay 14 opened (was closed) by web op"), "the event")

    def test_4_a_rename_lands_in_the_name_file_byte_for_byte(self):
        before = name_file()
        self.relay(3).find_element(By.CSS_SELECTOR, ".rename").click()
        box = self.relay(3).find_element(By.CSS_SELECTOR, ".rename-text")
        box.clear()
        box.send_keys("泵 3\n")
        expected = before.replace(b"relay3name=<b>bold</b><img src=x id=injected>\r\n",
                                  b"relay3name=\xB1\xC3 3\r\n")
        wait_until(lambda: name_file() == expected, "the new name in the file")
        wait_until(lambda: self.relay(3).find_element(By.CSS_SELECTOR, ".name").text == "泵 3",
                   "the new name on the page")

    def test_5_a_phone_and_a_desk_in_either_theme_fit_a_finger_with_nothing_clipped(self):
        for width, height, dark in ((360, 740, False), (1280, 800, True)):
            self.screen(width, height, dark)
            self.browser.execute_script("window.scrollTo(0, 0)")
            # Every target 44 px or more, its caption clear of its edges, no sideways scroll.
            faults = self.browser.execute_script("""
                const page = document.documentElement, faults = [], text = document.createRange();
                for (const e of document.querySelectorAll('.caption, .name, button, input, h1, h2, label')) {
                  const box = e.getBoundingClientRect(), what = e.className || e.tagName;
                  if (!e.offsetParent) continue;
                  text.selectNodeContents(e);
                  const inner = text.getBoundingClientRect();
                  if (e.scrollWidth > e.clientWidth + 1 || box.right > page.clientWidth)
                    faults.push('clipped ' + what);
                  if (e.matches('button, input') && (box.width < 44 || box.height < 44))
                    faults.push('small ' + what);
                  if (e.matches('button') && (inner.left - box.left < 6 || box.right - inner.right < 6))
                    faults.push('touching ' + what);
                }
                return faults.concat(page.scrollWidth > page.clientWidth ? ['scroll'] : []);""")
            self.assertEqual(faults, [], (width, dark))
            # Dark or light, the relays keep the panel's colours.
            self.assertEqual((self.shown(1)[1], self.shown(14)[1]), (RED, GREEN))
            self.assertEqual(self.browser.execute_script(
                "return getComputedStyle(document.body).backgroundColor"),
                "rgb(22, 22, 22)" if dark else "rgb(240, 240, 240)")
            if width == 360:
                shot = os.path.join(os.environ["WORK_DIR"], "web-page-phone.png")
                self.browser.save_screenshot(shot)
                if os.environ.get("WEB_SCREENSHOT"):
                    shutil.copyfile(shot, os.environ["WEB_SCREENSHOT"])
        self.browser.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})

    def test_5b_an_empty_command_is_answered_too(self):
        result = self.relay(4).find_element(By.CSS_SELECTOR, ".relay-result")
        self.browser.execute_script("document.querySelector('.pulse-time').value = ''")
        self.relay(4).find_element(By.CSS_SELECTOR, ".pulse").click()
        shown = 'Board 1, relay 4 pulse: refused ("" is not a duration from 10ms to 3600s)'
        wait_until(lambda: result.text == shown, lambda: "shows %r" % result.text)
        self.browser.execute_script("document.querySelector('.pulse-time').value = '1s'")

    def test_6_a_silent_board_turns_the_relays_yellow(self):
        board = int(os.environ["BOARD_PID"])
        os.kill(board, signal.SIGSTOP)
        try:
            for number in range(1, 17):
                self.wait_shown(number, "unknown", YELLOW)
        finally:
            os.kill(board, signal.SIGCONT)
        self.wait_shown(14, "opened", GREEN)
        self.wait_shown(1, "closed", RED)

    def test_6b_a_pulse_whose_end_is_not_seen_says_the_relay_may_be_left_on(self):
        note = self.relay(4).find_element(By.CSS_SELECTOR, ".note")
        self.browser.execute_script("document.querySelector('.pulse-time').value = '10s'")
        self.relay(4).find_element(By.CSS_SELECTOR, ".pulse").click()
        self.wait_shown(4, "opened", GREEN)
        self.assertEqual(note.text, "")
        board = int(os.environ["BOARD_PID"])
        os.kill(board, signal.SIGSTOP)
        try:
            wait_until(lambda: note.text == "relay 4 may be left on: board 1 does not answer",
                       "the note, shows %r" % note.text)
        finally:
            os.kill(board, signal.SIGCONT)
        # Until the board reports the pulse's end.
        self.wait_shown(4, "closed", RED)
        self.assertEqual(note.text, "")

    def test_7_a_viewer_cannot_switch_or_rename(self):
        self.browser.find_element(By.ID, "logout").click()
        type(self).login("view", "viewer-pw")
        self.wait_shown(1, "closed", RED)
        self.assertFalse(self.relay(1).find_element(By.CSS_SELECTOR, ".indicator").is_enabled())
        self.assertFalse(self.relay(1).find_element(By.CSS_SELECTOR, ".rename").is_displayed())
        # A page that opens gets the line's last events.
        wait_until(lambda: "board 1 relay 14 opened (was closed) by web op" in
                   self.browser.find_element(By.ID, "events").text, "the last events")
        frames, names = len(switch_frames()), name_file()
        # A crafted message on the page's own socket, as a script of the viewer would send.
        answers = self.browser.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const socket = new WebSocket('ws://' + location.host + '/live');
            const answers = [];
            socket.onmessage = (event) => {
              const message = JSON.parse(event.data);
              if (message.type === 'hello') {
                socket.send(JSON.stringify({id: 1, op: 'set', address: 1, relay: 1, value: 'ON'}));
                socket.send(JSON.stringify({id: 2, op: 'rename', address: 1, relay: 1, value: 'x'}));
              }
              if (message.type === 'result') answers.push(message.answer);
              if (answers.length === 2) done(answers);
            };""")
        refused = {"result": "refused", "reason": "a viewer may not switch or rename"}
        self.assertEqual(answers, [refused, refused])
        # The line has been polled since: nothing was queued for it.
        polls = board_log().count("<- 55 01 10")
        wait_until(lambda: board_log().count("<- 55 01 10") > polls + 2, "more polls")
        self.assertEqual(len(switch_frames()), frames)
        self.assertEqual(name_file(), names)

    def test_8_other_origins_are_refused(self):
        host = URL.split("/")[2]
        login = urllib.request.Request(
            URL + "login", data=json.dumps({"user": "op", "password": "operator-pw"}).encode(),
            headers={"Origin": "http://evil.example", "Content-Type": "application/json"})
        with self.assertRaises(urllib.error.HTTPError) as refused:
            urllib.request.urlopen(login, timeout=DEADLINE)
        self.assertEqual(refused.exception.code, 403)
        login.remove_header("Origin")
        login.add_header("Origin", URL.rstrip("/"))
        with urllib.request.urlopen(login, timeout=DEADLINE) as answer:
            cookie = answer.headers["Set-Cookie"].split(";")[0]
        # The operator's own cookie, sent by another site's page: the socket is closed
        # with a policy violation before any board goes out.
        with socket.create_connection(tuple(host.split(":")), timeout=DEADLINE) as raw:
            key = base64.b64encode(os.urandom(16)).decode()
            raw.sendall(("GET /live HTTP/1.1\r\nHost: %s\r\nUpgrade: websocket\r\n"
                         "Connection: Upgrade\r\nSec-WebSocket-Key: %s\r\n"
                         "Sec-WebSocket-Version: 13\r\nOrigin: http://evil.example\r\n"
                         "Cookie: %s\r\n\r\n" % (host, key, cookie)).encode())
            received = b""
            while b"\x88" not in received.partition(b"\r\n\r\n")[2]:
                chunk = raw.recv(4096)
                if not chunk:
                    break
                received += chunk
        frames = received.partition(b"\r\n\r\n")[2]
        self.assertTrue(frames.startswith(b"\x88"), received)
        self.assertEqual(frames[2:4], (1008).to_bytes(2, "big"))
        # A site that points its own name at this machine gets nothing, login or not.
        port = host.split(":")[1]
        with socket.create_connection(tuple(host.split(":")), timeout=DEADLINE) as raw:
            raw.sendall(("GET /index.html HTTP/1.1\r\nHost: rebound.example:%s\r\n\r\n"
                         % port).encode())
            self.assertTrue(raw.recv(4096).startswith(b"HTTP/1.1 421"))
        # A request that two parsers could read two ways is not read at all.
        for twice in ("Content-Length: 2\r\nContent-Length: 40", "Host: evil.example"):
            with socket.create_connection(tuple(host.split(":")), timeout=DEADLINE) as raw:
                raw.sendall(("POST /login HTTP/1.1\r\nHost: %s\r\n%s\r\n"
                             "Origin: %s\r\nContent-Type: application/json\r\n\r\n{}"
                             % (host, twice, URL.rstrip("/"))).encode())
                self.assertTrue(raw.recv(4096).startswith(b"HTTP/1.1 400"), twice)
        # Only /live is a WebSocket: elsewhere an upgrade is not found.
        with socket.create_connection(tuple(host.split(":")), timeout=DEADLINE) as raw:
            raw.sendall(("GET /index.html HTTP/1.1\r\nHost: %s\r\nUpgrade: websocket\r\n"
                         "Connection: Upgrade\r\nSec-WebSocket-Key: %s\r\n"
                         "Sec-WebSocket-Version: 13\r\nOrigin: %s\r\n\r\n"
                         % (host, key, URL.rstrip("/"))).encode())
            self.assertTrue(raw.recv(4096).startswith(b"HTTP/1.1 404"))


    def test_8b_the_favicon_is_served(self):
        with urllib.request.urlopen(URL + "favicon.svg", timeout=DEADLINE) as icon:
            self.assertEqual((icon.headers["Content-Type"], icon.read(4)), ("image/svg+xml", b"<svg"))
        self.assertEqual([e for e in self.browser.get_log("browser") if "404" in e["message"]], [])

    def test_9_a_killed_bridge_marks_every_state_stale(self):
        os.kill(int(os.environ["BRIDGE_PID"]), signal.SIGKILL)
        banner = self.browser.find_element(By.ID, "banner")
        wait_until(lambda: banner.text == "Connection lost; trying again", lambda: "shows %r" % banner.text)
        self.assertEqual([self.shown(n)[0] for n in (1, 14)], ["was closed", "was opened"])
        self.assertEqual(self.browser.find_elements(By.CSS_SELECTOR, ".board:not(.stale)"), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
