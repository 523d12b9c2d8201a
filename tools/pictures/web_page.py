#!/usr/bin/python3
"""The bridge's web page in headless Chromium, logged in, once the boards' states and
the line's events have arrived: saved as it looks on a phone and on a desk.
  web_page.py URL USER PASSWORD BOARDS PHONE.png DESK.png
The password comes on standard input when PASSWORD is "-"."""
import sys
import time

from selenium import webdriver
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

DEADLINE = 30


def wait_until(browser, condition, what):
    end = time.monotonic() + DEADLINE
    while time.monotonic() < end:
        try:
            if condition():
                return
        except WebDriverException:  # a page still drawing its boards
            pass
        time.sleep(0.05)
    text = browser.find_element(By.TAG_NAME, "body").text
    sys.exit("web_page.py: not within %d s: %s; the page shows:\n%s" % (DEADLINE, what, text))


def settled(browser, boards):
    """Every relay of every board shows its state and name, and the events are listed."""
    return browser.execute_script("""
        const relays = [...document.querySelectorAll('.relay')];
        return relays.length === arguments[0] * 16 &&
            relays.every(r => ['opened', 'closed'].includes(r.querySelector('.caption').textContent)) &&
            document.getElementById('banner').dataset.connection === 'connected' &&
            document.querySelectorAll('#events li').length > 0;""", boards)


def shoot(browser, width, height, scale, path):
    browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": width, "height": height, "deviceScaleFactor": scale, "mobile": width < 500})
    browser.execute_script("window.scrollTo(0, 0)")
    # Two frames drawn at the new size before the picture.
    browser.execute_async_script(
        "const done = arguments[0]; requestAnimationFrame(() => requestAnimationFrame(done));")
    browser.save_screenshot(path)


def main(url, user, password, boards, phone, desk):
    if password == "-":
        password = sys.stdin.readline().rstrip("\n")
    options = webdriver.ChromeOptions()
    # As root (CI, containers) Chromium's sandbox cannot start.
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                     "--lang=en", "--window-size=1280,800", "--force-color-profile=srgb"):
        options.add_argument(argument)
    browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    try:
        browser.get(url)
        wait_until(browser, lambda: browser.find_element(By.ID, "login").is_displayed(), "the login form")
        browser.find_element(By.ID, "login-user").send_keys(user)
        browser.find_element(By.ID, "login-password").send_keys(password + "\n")
        wait_until(browser, lambda: settled(browser, int(boards)), "%s boards and their events" % boards)
        shoot(browser, 390, 844, 2, phone)
        shoot(browser, 1280, 800, 1, desk)
    finally:
        browser.quit()


if __name__ == "__main__":
    if len(sys.argv) != 7:
        sys.exit(__doc__)
    main(*sys.argv[1:])
