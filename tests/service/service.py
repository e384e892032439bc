# SPDX-License-Identifier: GPL-3.0-or-later
"""tunelarkd on the simulated board for the client tests: a scratch state
directory and board, free loopback ports, the station list from a real scan
through the HTTP API."""
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import urllib.request

PROGRAM = os.environ.get("TUNELARKD", "tunelarkd")
# Short receiver timings on the real clock: a scan takes a second, a new
# text comes every half second.
TIMING = "tune=1,acquire=5,list-ready=20,first-text=200,text-interval=500"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(predicate, timeout, what):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def port_open(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


class Service:
    def __init__(self, extra=(), mpd=True):
        self.dir = tempfile.mkdtemp(prefix="tunelarkd-")
        self.state_dir = os.path.join(self.dir, "state")
        os.makedirs(self.state_dir)
        self.http_port = free_port()
        self.mpd_port = free_port() if mpd else None
        self.extra = list(extra)
        self.process = None

    def start(self):
        env = dict(os.environ)
        env.update(SI468X_SIM_BOARD=os.path.join(self.dir, "board"), SI468X_SIM_CLOCK="real",
                   SI468X_SIM_TIMING=TIMING)
        args = [PROGRAM, "--state-dir", self.state_dir,
                "--listen", "127.0.0.1:%d" % self.http_port] + self.extra
        if self.mpd_port:
            args += ["--mpd", "127.0.0.1:%d" % self.mpd_port]
        self.log = open(os.path.join(self.dir, "log"), "ab")
        self.process = subprocess.Popen(args, env=env, stdout=self.log, stderr=self.log)
        wait_until(lambda: port_open(self.http_port), 15, "the HTTP port")
        if self.mpd_port:
            wait_until(lambda: port_open(self.mpd_port), 5, "the MPD port")
        wait_until(lambda: self.status()["state"] != "starting", 15, "the bring-up")
        return self

    @property
    def token(self):
        with open(os.path.join(self.state_dir, "remote-token")) as f:
            return f.read().strip()

    def api(self, path, body=None):
        request = urllib.request.Request(
            "http://127.0.0.1:%d/api/v1/%s" % (self.http_port, path),
            data=None if body is None else json.dumps(body).encode(),
            headers={"Authorization": "Bearer " + self.token,
                     "Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=30) as reply:
            return json.load(reply)

    def status(self):
        return self.api("status")

    def stations(self):
        return self.api("stations")["stations"]

    def scan(self):
        self.api("scan", {})
        wait_until(lambda: self.status()["state"] not in ("scanning", "starting"), 60,
                   "the scan")
        return self.stations()

    # The files a scan leaves in the state directory: handed to the next
    # test's service, it starts with the stations and need not scan again
    # (a scan takes about 12 s on the real clock).
    LIST_FILES = ("stationlist.txt", "ensembles.json")

    def list_files(self):
        files = {}
        for name in self.LIST_FILES:
            path = os.path.join(self.state_dir, name)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    files[name] = f.read()
        return files

    def seed(self, files):
        for name, data in files.items():
            with open(os.path.join(self.state_dir, name), "wb") as f:
                f.write(data)

    def kill(self, sig=signal.SIGTERM):
        if self.process and self.process.poll() is None:
            self.process.send_signal(sig)
            self.process.wait(10)

    def close(self):
        self.kill()
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)
