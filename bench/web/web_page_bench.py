"""Timings of the web page in Chromium against the bridge and the virtual board; run it
under the browser tests' rig, which starts them and logs in "op":
    tests/web/web_page_rig.sh build/relayboard-mqtt build/relay_board_sim \\
        bench/web/web_page_bench.py /tmp/web-bench
Prints: a click to its frame on the wire, to the indicator's change and to "done" at
the control (median and max over 50), a page load to its first states, and the bridge's
memory and CPU while idle with 10 pages open."""
import os
import statistics
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

URL = os.environ["WEB_URL"]
BRIDGE = int(os.environ["BRIDGE_PID"])
RUNS = 50


def board_log_size():
    return os.path.getsize(os.environ["BOARD_LOG"])


def frame_since(offset, frame):
    with open(os.environ["BOARD_LOG"], "rb") as log:
        log.seek(offset)
        return frame.encode() in log.read()


def cpu_seconds():
    with open("/proc/%d/stat" % BRIDGE) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rss_kib():
    with open("/proc/%d/status" % BRIDGE) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def figures(name, values):
    print("%-34s median %7.1f ms   max %7.1f ms   (%d runs)" % (
        name, statistics.median(values), max(values), len(values)))


options = webdriver.ChromeOptions()
for argument in ("--headless=new", "--no-sandbox", "--disable-gpu"):
    options.add_argument(argument)
browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
wait = WebDriverWait(browser, 30)
browser.get(URL)
wait.until(lambda b: b.find_element(By.ID, "login").is_displayed())
browser.find_element(By.ID, "login-user").send_keys("op")
browser.find_element(By.ID, "login-password").send_keys("operator-pw\n")
wait.until(lambda b: b.execute_script(
    "const i = document.querySelector('.relay[data-relay=\"5\"] .indicator');"
    "return i && !i.disabled;"))
rss_one = rss_kib()

to_frame, to_indicator, to_done = [], [], []
for run in range(RUNS):
    opening = run % 2 == 0
    frame = "55 01 %s 00 00 00 05 %s" % (("12", "6D") if opening else ("11", "6C"))
    want = "opened" if opening else "closed"
    offset = board_log_size()
    start = time.monotonic()
    browser.execute_script("""
        const indicator = document.querySelector('.relay[data-relay="5"] .indicator');
        const result = document.querySelector('.relay[data-relay="5"] .relay-result');
        window.benchChanged = null;
        window.benchDone = null;
        new MutationObserver((changes, observer) => {
          if (result.textContent.endsWith(': done')) {
            window.benchDone = performance.now();
            observer.disconnect();
          }
        }).observe(result, {childList: true});
        new MutationObserver((changes, observer) => {
          if (indicator.dataset.state === arguments[0]) {
            window.benchChanged = performance.now();
            observer.disconnect();
          }
        }).observe(indicator, {attributes: true});
        window.benchClicked = performance.now();
        indicator.click();""", want)
    while not frame_since(offset, frame):
        time.sleep(0.0005)
    to_frame.append((time.monotonic() - start) * 1000)
    wait.until(lambda b: b.execute_script(
        "return window.benchChanged !== null && window.benchDone !== null"))
    changed, done = browser.execute_script(
        "return [window.benchChanged - window.benchClicked, window.benchDone - window.benchClicked]")
    to_indicator.append(changed)
    to_done.append(done)
figures("click to frame on the wire", to_frame)
figures("click to indicator changed", to_indicator)
figures("click to \"done\" at the control", to_done)

loads = []
for _ in range(20):
    browser.get(URL)
    wait.until(lambda b: b.execute_script(
        "return performance.getEntriesByName('first-states').length > 0"))
    loads.append(browser.execute_script(
        "return performance.getEntriesByName('first-states')[0].startTime"))
figures("page load to first states", loads)

for _ in range(9):
    browser.switch_to.new_window("tab")
    browser.get(URL)
    wait.until(lambda b: b.execute_script(
        "return performance.getEntriesByName('first-states').length > 0"))
time.sleep(2)  # settle: the figure is the idle bridge's, not the pages' opening
cpu, clock = cpu_seconds(), time.monotonic()
time.sleep(10)
cpu_share = (cpu_seconds() - cpu) / (time.monotonic() - clock) * 100
print("bridge memory, 1 page / 10 pages    %d KiB / %d KiB (VmRSS)" % (rss_one, rss_kib()))
print("bridge CPU, idle with 10 pages      %.1f %% of one core over 10 s "
      "(the line polled throughout)" % cpu_share)
browser.quit()
