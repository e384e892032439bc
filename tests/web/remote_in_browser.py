#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The web remote in Debian's headless chromium, against the real service on
the simulated board, at a phone's size and a laptop's.

At each size: pair through /pair; the empty list offers a scan, whose bar
reaches the end; the stations appear grouped, with decoded labels; a tap plays
one and its text arrives through the event stream; the slider and the +
button move the chip's volume property (seen in the board's wire trace);
standby; the service restarts and the page reconnects and fetches the list
again, with no reload. A screenshot of every step goes under --screens.
"""

import argparse
import concurrent.futures
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

SIZES = [(390, 844), (1280, 800)]
WAIT_S = 60  # the longest any one step may take: a scan on the real clock

# Shorter receiver timings than a real chip's: the scan still takes several
# seconds on the real clock, enough to watch the bar move.
SIM_TIMING = "tune=5,acquire=60,list-ready=250,first-text=300,text-interval=700"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Service_:
    """tunelarkd on loopback, in a scratch state directory and board."""

    def __init__(self, program, scratch, port):
        self.program = program
        self.port = port
        self.state_dir = os.path.join(scratch, "state")
        self.trace = os.path.join(scratch, "trace")
        os.makedirs(self.state_dir, exist_ok=True)
        self.env = dict(os.environ, SI468X_SIM_BOARD=os.path.join(scratch, "board"), SI468X_SIM_CLOCK="real",
                        SI468X_SIM_TRACE=self.trace, SI468X_SIM_TIMING=SIM_TIMING)
        self.args = [program, "--state-dir", self.state_dir, "--listen", f"127.0.0.1:{port}"]
        self.log = open(os.path.join(scratch, "service.log"), "ab")
        self.process = None

    def pair_url(self):
        out = subprocess.run(self.args + ["--pair"], env=self.env, capture_output=True, text=True, timeout=30,
                             check=True).stdout
        token = re.search(r"/pair\?token=([0-9A-Za-z_-]+)", out)
        assert token, f"--pair printed no pairing address:\n{out}"
        return f"http://127.0.0.1:{self.port}/pair?token={token.group(1)}"

    def start(self):
        self.process = subprocess.Popen(self.args, env=self.env, stdout=self.log, stderr=self.log)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            try:
                urllib.request.urlopen(f"http://127.0.0.1:{self.port}/app.css", timeout=1).close()
                return
            except OSError:
                assert self.process.poll() is None, "the service exited at start"
                time.sleep(0.1)
        raise AssertionError("the service did not answer within 20 s")

    def stop(self, check=True):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                status = self.process.wait(timeout=5)
                assert status == 0 or not check, f"the service exited {status} on SIGTERM"
            finally:
                if self.process.poll() is None:
                    self.process.kill()
                    self.process.wait()

    def volume_writes(self):
        """The values of every AUDIO_ANALOG_VOLUME write on the wire, in order."""
        try:
            lines = open(self.trace).read().splitlines()
        except FileNotFoundError:
            return []
        writes = []
        for line in lines:
            out = line.split()[2] if len(line.split()) > 2 else ""
            # SET_PROPERTY 0x13, a zero byte, the property id and the value, both little-endian.
            if out.startswith("13000003") and len(out) == 12:
                writes.append(int(out[10:12] + out[8:10], 16))
        return writes


def browser(width, height):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + tempfile.mkdtemp(prefix="tunelark-chromium-"),
                 f"--window-size={width},{height}"]:
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 600})
    return driver


class Steps:
    def __init__(self, driver, service, screens, size):
        self.d = driver
        self.service = service
        self.screens = screens
        self.prefix = f"{size[0]}x{size[1]}"
        self.count = 0
        self.shots = []

    def shot(self, name):
        self.count += 1
        path = os.path.join(self.screens, f"{self.prefix}-{self.count:02d}-{name}.png")
        self.d.save_screenshot(path)
        self.shots.append(path)

    def wait(self, what, condition, timeout=WAIT_S):
        try:
            return WebDriverWait(self.d, timeout, poll_frequency=0.05).until(lambda d: condition())
        except TimeoutException:
            self.shot("failed")
            raise AssertionError(f"{self.prefix}: {what}, not within {timeout} s") from None

    def text(self, element_id):
        # The DOM's text, not the rendered one (the state line is upper-cased by its style).
        return self.d.find_element(By.ID, element_id).get_attribute("textContent").strip()

    def visible(self, element_id):
        return self.d.find_element(By.ID, element_id).is_displayed()

    def stations(self):
        return [b.text.lstrip("▶").strip() for b in self.d.find_elements(By.CSS_SELECTOR, "#list li button")
                if b.is_displayed()]

    def pair(self):
        base = f"http://127.0.0.1:{self.service.port}/"
        self.d.get(base)
        self.wait("the pairing instructions at / before pairing",
                  lambda: "sudo tunelarkd --pair" in self.d.find_element(By.TAG_NAME, "body").text)
        self.shot("pairing-instructions")
        self.d.get(self.service.pair_url())
        self.wait("the remote after /pair", lambda: self.d.find_elements(By.ID, "volume"))
        assert self.d.current_url == base, f"/pair left {self.d.current_url} in the address bar"
        self.wait("the event stream connected", lambda: self.text("link") == "Connected")
        # Marks this document: a reload later would lose it.
        self.d.execute_script("window.tunelarkTestDocument = true")

    def scan_from_empty_list(self):
        self.wait("the empty list offering a scan", lambda: self.visible("stations-empty"))
        self.shot("empty-list")
        # Every progress value the bar takes, recorded in the page as it changes.
        self.d.execute_script("""
            const bar = document.getElementById('scan-bar');
            window.tunelarkBar = [];
            new MutationObserver(() => window.tunelarkBar.push([bar.value, bar.max]))
                .observe(bar, {attributes: true});""")
        self.d.find_element(By.ID, "scan-empty").click()
        self.wait("the scan under way", lambda: self.text("scan-count").startswith("Channel "))
        self.shot("scanning")
        self.wait("the scan's end", lambda: self.text("scan-title") == "Scan finished")
        bar = self.d.execute_script("return [document.getElementById('scan-bar').value,"
                                    " document.getElementById('scan-bar').max, window.tunelarkBar]")
        assert bar[0] == bar[1], f"the bar stopped at {bar[0]} of {bar[1]}"
        steps = [value / maximum for value, maximum in bar[2] if maximum > 1]
        assert len(set(steps)) >= 5, f"the bar jumped instead of moving: {bar[2]}"
        assert steps == sorted(steps), f"the bar went back: {bar[2]}"
        assert re.fullmatch(r"[1-9]\d* ensembles?, [1-9]\d* stations? found", self.text("scan-count")), \
            self.text("scan-count")
        self.shot("scan-finished")

    def see_stations(self):
        self.wait("Łódź Jazz in the list", lambda: "Łódź Jazz" in self.stations())
        groups = [h.get_attribute("textContent") for h in self.d.find_elements(By.CSS_SELECTOR, "#list .ensemble h3")]
        assert len(groups) >= 2 and len(set(groups)) == len(groups), f"ensembles {groups}"
        assert not self.visible("stations-empty")
        self.shot("stations")
        # The filter folds accents and ł: "lodz" finds "Łódź Jazz" and only stations that match.
        box = self.d.find_element(By.ID, "filter")
        box.send_keys("lodz")
        self.wait("the filter", lambda: self.stations() == ["Łódź Jazz"])
        self.shot("filtered")
        box.send_keys(Keys.CONTROL, "a", Keys.BACKSPACE)
        self.wait("the filter cleared", lambda: len(self.stations()) > 10)

    def play(self):
        button = next(b for b in self.d.find_elements(By.CSS_SELECTOR, "#list li button") if "Łódź Jazz" in b.text)
        button.click()
        self.wait("Łódź Jazz playing", lambda: self.text("now-label") == "Łódź Jazz" and self.text("state") == "Playing")
        self.wait("the playing station marked",
                  lambda: button.get_attribute("aria-current") == "true"
                  and len(self.d.find_elements(By.CSS_SELECTOR, "#list [aria-current=true]")) == 1)
        # The page fetched the status only when the stream opened: a text now comes by events.
        self.wait("its text", lambda: self.text("now-text").startswith("Teraz: "))
        assert "\ufffd" not in self.text("now-text"), self.text("now-text")
        self.wait("the reception bars", lambda: self.visible("reception"))
        self.d.find_element(By.ID, "reception").click()
        self.wait("the reception numbers", lambda: re.match(r"RSSI -?\d+ dBµV · SNR -?\d+ dB · FIC \d+ %",
                                                          self.text("reception-numbers")))
        self.d.execute_script("window.scrollTo(0, 0)")  # the tap scrolled the phone's page to the list
        self.shot("playing")

    def volume(self):
        slider = self.d.find_element(By.ID, "volume")
        start = int(slider.get_attribute("value"))
        # Keyboard only: the slider takes the arrow keys.
        for _ in range(5):
            slider.send_keys(Keys.ARROW_LEFT)
        target = start - 5
        self.wait(f"the chip's volume at {target}", lambda: self.service.volume_writes()[-1:] == [target], 10)
        self.d.find_element(By.ID, "vol-up").click()
        self.wait(f"the chip's volume at {target + 1}", lambda: self.service.volume_writes()[-1:] == [target + 1], 10)
        self.wait("the slider following the chip", lambda: self.text("vol-value") == str(target + 1))
        self.shot("volume")

    def standby(self):
        self.d.find_element(By.ID, "standby").click()
        self.wait("standby", lambda: self.text("state") == "Standby" and self.text("now-label") == "Standby")
        assert not self.d.find_elements(By.CSS_SELECTOR, "#list [aria-current=true]")
        self.shot("standby")

    def reconnect(self):
        self.service.stop()
        self.wait("the page noticing the service gone",
                  lambda: self.text("link") == "Reconnecting…" and self.visible("notice"), 20)
        # A list that only a fresh fetch brings back.
        self.d.execute_script("document.getElementById('list').replaceChildren()")
        self.shot("service-gone")
        self.service.start()
        self.wait("the page reconnected", lambda: self.text("link") == "Connected", 30)
        self.wait("the list fetched again", lambda: "Łódź Jazz" in self.stations())
        assert self.d.execute_script("return window.tunelarkTestDocument === true"), "the page was reloaded"
        self.wait("the connection notice gone", lambda: not self.visible("notice"))
        self.shot("reconnected")

    def console_faults(self):
        faults = []
        for entry in self.d.get_log("browser"):
            message = entry["message"]
            # Refused connections and a 503 while the service was down or
            # starting are expected, and so is the event stream cut short by
            # its exit; nothing else is.
            expected = "ERR_CONNECTION_REFUSED" in message or "status of 503" in message or \
                ("/api/v1/events" in message and "ERR_INCOMPLETE_CHUNKED_ENCODING" in message)
            if "Content Security Policy" in message or "Uncaught" in message or \
                    (entry["level"] == "SEVERE" and not expected):
                faults.append(message)
        return faults


def run_at(size, daemon, screens):
    """Every step at one size: whether they passed, and what to print."""
    lines = []
    passed = True
    with tempfile.TemporaryDirectory(prefix="tunelark-web-") as scratch:
        service = Service_(daemon, scratch, free_port())
        driver = None
        steps = None
        try:
            service.start()
            driver = browser(*size)
            steps = Steps(driver, service, screens, size)
            for step in (steps.pair, steps.scan_from_empty_list, steps.see_stations, steps.play, steps.volume,
                         steps.standby, steps.reconnect):
                step()
            faults = steps.console_faults()
            assert not faults, f"the browser's console: {faults}"
            lines.append(f"{size[0]}x{size[1]}: every step passed")
        except AssertionError as error:
            passed = False
            lines.append(f"FAILED at {size[0]}x{size[1]}: {error}")
            lines.append(open(os.path.join(scratch, "service.log"), errors="replace").read()[-3000:])
        finally:
            if steps:
                lines.extend(f"screenshot: {path}" for path in steps.shots)
            if driver:
                driver.quit()
            service.stop(check=False)
    return passed, lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--daemon", required=True)
    parser.add_argument("--screens", required=True)
    args = parser.parse_args()
    os.makedirs(args.screens, exist_ok=True)
    # Only this run's screenshots, so none from an earlier run passes for a step.
    for old in os.listdir(args.screens):
        if old.endswith(".png"):
            os.remove(os.path.join(args.screens, old))
    # The sizes run side by side, each with its own service and browser: most
    # of a run is waiting on the real clock (the scan above all).
    with concurrent.futures.ThreadPoolExecutor(len(SIZES)) as pool:
        results = list(pool.map(lambda size: run_at(size, args.daemon, args.screens), SIZES))
    for _, lines in results:
        print("\n".join(lines))
    failed = not all(passed for passed, _ in results)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
