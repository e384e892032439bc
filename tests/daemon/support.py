# SPDX-License-Identifier: GPL-3.0-or-later
"""The service on the simulated board, and HTTP clients that talk to it."""
import http.client
import json
import os
import shutil
import signal
import socket
import subprocess
import time

BINARY = os.environ["TUNELARKD"]
ROOT = os.environ["TUNELARK_TEST_DIR"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Service:
    """One tunelarkd process; the board and state directories outlive it."""

    def __init__(self, name, clock="virtual", faults=None, fresh=True, preexec=None):
        self.dir = os.path.join(ROOT, name)
        if fresh and os.path.exists(self.dir):
            shutil.rmtree(self.dir)
        os.makedirs(self.dir, exist_ok=True)
        self.state = os.path.join(self.dir, "state")
        self.board = os.path.join(self.dir, "board")
        os.makedirs(self.state, exist_ok=True)
        self.clock = clock
        self.faults = faults
        self.preexec = preexec
        self.process = None

    def start(self, wait_ready=True):
        self.port = free_port()
        env = dict(os.environ, SI468X_SIM_BOARD=self.board, SI468X_SIM_CLOCK=self.clock)
        env.pop("SI468X_SIM_FAULTS", None)
        if self.faults:
            env["SI468X_SIM_FAULTS"] = self.faults
        self.log = open(os.path.join(self.dir, "output.txt"), "ab")
        self.process = subprocess.Popen(
            [BINARY, "--state-dir", self.state, "--listen", f"127.0.0.1:{self.port}"],
            stdout=self.log, stderr=subprocess.STDOUT, env=env, preexec_fn=self.preexec)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=0.5):
                    break
            except OSError:
                time.sleep(0.05)
        else:
            raise RuntimeError("tunelarkd did not listen")
        with open(os.path.join(self.state, "remote-token")) as f:
            self.token = f.read().strip()
        if wait_ready:
            self.wait_for(lambda s: s["state"] != "starting", what="the end of the start")
        return self

    def stop(self, sig=signal.SIGTERM):
        if self.process and self.process.poll() is None:
            self.process.send_signal(sig)
            try:
                return self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
                raise
        return self.process.returncode if self.process else None

    # ---- requests ----

    def request(self, method, path, body=None, headers=None, token=True, source="127.0.0.1",
                raw_body=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30,
                                                source_address=(source, 0))
        sent = {"Host": f"127.0.0.1:{self.port}"}
        if token:
            sent["Authorization"] = f"Bearer {self.token}"
        data = raw_body
        if body is not None:
            data = json.dumps(body).encode()
            sent["Content-Type"] = "application/json"
        sent.update(headers or {})
        connection.request(method, path, body=data, headers=sent)
        response = connection.getresponse()
        payload = response.read()
        connection.close()
        try:
            decoded = json.loads(payload)
        except ValueError:
            decoded = payload
        return response.status, decoded, response

    def status(self):
        return self.request("GET", "/api/v1/status")[1]

    def post(self, path, body=None, **kw):
        status, data, _ = self.request("POST", "/api/v1/" + path, body if body is not None else {},
                                       **kw)
        return status, data

    def wait_for(self, predicate, timeout=60, what="a status"):
        deadline = time.monotonic() + timeout
        last = None
        while time.monotonic() < deadline:
            last = self.status()
            if predicate(last):
                return last
            time.sleep(0.05)
        raise AssertionError(f"no {what} in {timeout} s; last {last}")

    def board_clock_ms(self):
        with open(os.path.join(self.board, "state")) as f:
            for line in f:
                if line.startswith("clock_ns="):
                    return int(line.split("=")[1]) // 1000000
        return 0

    def events(self, source="127.0.0.1"):
        return EventStream(self, source)


class EventStream:
    """A Server-Sent Events client over a plain socket (HTTP/1.0: the stream
    comes as it is, not in chunks)."""

    def __init__(self, service, source="127.0.0.1"):
        self.sock = socket.socket()
        self.sock.bind((source, 0))
        self.sock.settimeout(30)
        self.sock.connect(("127.0.0.1", service.port))
        self.sock.sendall((f"GET /api/v1/events HTTP/1.0\r\nHost: 127.0.0.1:{service.port}\r\n"
                           f"Authorization: Bearer {service.token}\r\n\r\n").encode())
        self.file = self.sock.makefile("rb")
        self.status = int(self.file.readline().split()[1])
        while self.file.readline() not in (b"\r\n", b""):
            pass

    def next(self, timeout=30):
        """The next event as (name, data), or ("comment", text)."""
        self.sock.settimeout(timeout)
        name, data = None, []
        while True:
            line = self.file.readline()
            if not line:
                raise EOFError("the stream ended")
            line = line.decode().rstrip("\n")
            if line.startswith(":"):
                return "comment", line[1:].strip()
            if line.startswith("retry:"):
                continue
            if line.startswith("event: "):
                name = line[7:]
            elif line.startswith("data: "):
                data.append(line[6:])
            elif line == "" and (name or data):
                return name, json.loads("\n".join(data))

    def statuses(self, until, timeout=60):
        """Status events until one satisfies `until`; all of them."""
        seen = []
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            name, data = self.next(timeout=max(0.1, deadline - time.monotonic()))
            if name == "status":
                seen.append(data)
                if until(data):
                    return seen
        raise AssertionError("the status awaited did not come")

    def close(self):
        self.file.close()
        self.sock.close()


_list_cache = os.path.join(ROOT, "scanned-stationlist.txt")


def scanned_list():
    """A station list the service scanned, made once per test directory."""
    if not os.path.exists(_list_cache):
        service = Service("scan-once").start()
        try:
            service.post("scan")
            service.wait_for(lambda s: s["state"] == "stopped" and s["station_count"] > 0,
                             what="the scan's end")
        finally:
            service.stop()
        shutil.copy(os.path.join(service.state, "stationlist.txt"), _list_cache)
    return _list_cache
