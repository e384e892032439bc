# SPDX-License-Identifier: GPL-3.0-or-later
"""tunelarkd over real HTTP on loopback, on the simulated board."""
import os
import resource
import shutil
import signal
import socket
import threading
import time
import unittest

from support import Service, scanned_list

HARBOUR_FM = 53776      # the first service of the default band's first ensemble
BEACON_JAZZ = 53780     # same ensemble
OTHER_ENSEMBLE = None   # found from the list


def with_list(name, **kw):
    service = Service(name, **kw)
    shutil.copy(scanned_list(), os.path.join(service.state, "stationlist.txt"))
    return service


def list_volume(service):
    with open(os.path.join(service.state, "stationlist.txt"), encoding="latin-1") as f:
        for line in f:
            if line.startswith("Volume: "):
                return int(line.split()[1])
    return None


class ApiTest(unittest.TestCase):

    def test_scan_reports_its_progress_in_order_and_saves_the_list(self):
        service = Service("scan").start()
        try:
            first = service.status()
            self.assertEqual(first["station_count"], 0)
            self.assertIn("scan", first["notice"])
            events = service.events()
            service.post("scan")
            seen = events.statuses(lambda s: s["state"] == "stopped" and s["station_count"] > 0)
            progress = [s["scan"] for s in seen if s["scan"] is not None]
            dones = [p["done"] for p in progress]
            self.assertEqual(dones, sorted(dones))
            self.assertEqual(progress[-1]["done"], progress[-1]["total"])
            self.assertEqual(progress[-1]["total"], 41)
            # A stream sends the latest status when it gets to it, so a fast
            # scan on a busy machine skips steps (13 of 41 seen once); the
            # progress still comes while the scan runs, not only at its end.
            self.assertGreaterEqual(len({d for d in dones if 0 < d < 41}), 3)
            found = [p["services"] for p in progress]
            self.assertEqual(found, sorted(found))
            self.assertEqual(progress[-1]["services"], seen[-1]["station_count"])
            # During the scan a play is refused as busy, not queued.
            stations = service.request("GET", "/api/v1/stations")[1]["stations"]
            self.assertEqual(len(stations), seen[-1]["station_count"])
            self.assertTrue(os.path.exists(os.path.join(service.state, "stationlist.txt")))
            # Each ensemble by the label it broadcasts, kept for the next start.
            self.assertEqual({s["ensemble"] for s in stations},
                             {"Lowland Coast", "Midland Regional", "Fen Valley",
                              "Capital Stream", "Northern Belt", "Upland Relay"})
            service.stop()
            service.start()
            again = service.request("GET", "/api/v1/stations")[1]["stations"]
            self.assertEqual([s["ensemble"] for s in again], [s["ensemble"] for s in stations])
            events.close()
        finally:
            service.stop()

    def test_busy_during_a_scan(self):
        service = with_list("busy").start()
        try:
            service.post("scan")
            status, body = service.post("play", {"service_id": HARBOUR_FM})
            self.assertEqual(status, 409, body)
            self.assertIn("scan", body["error"])
        finally:
            service.stop()

    def test_station_switch_text_volume_standby_and_play_again(self):
        service = with_list("switch").start()
        try:
            stations = service.request("GET", "/api/v1/stations")[1]["stations"]
            self.assertIn("Łódź Jazz", [s["label"] for s in stations])
            other = next(s for s in stations if s["frequency_khz"] == stations[0]["frequency_khz"]
                         and s["audio"] and s["service_id"] != HARBOUR_FM)
            events = service.events()
            status, body = service.post("play", {"service_id": HARBOUR_FM})
            self.assertEqual(status, 200, body)
            self.assertEqual(body["state"], "playing")
            self.assertEqual(body["station"]["service_id"], HARBOUR_FM)
            self.assertEqual(body["station"]["label"], "Harbour FM")
            # The last service of that id in menu order is the one played.
            harbour = [s for s in stations if s["service_id"] == HARBOUR_FM][-1]
            self.assertEqual(body["station"]["frequency_khz"], harbour["frequency_khz"])
            # A list from the terminal radio names no ensemble: the channel
            # does until the first play there reads the label off the chip.
            self.assertTrue(harbour["ensemble"].startswith("Channel "), harbour)
            self.assertEqual(body["station"]["ensemble"], "Capital Stream")
            # The list follows once the play has its answer.
            def named_there():
                named = service.request("GET", "/api/v1/stations")[1]["stations"]
                return {s["ensemble"] for s in named
                        if s["frequency_khz"] == harbour["frequency_khz"]}
            deadline = time.monotonic() + 10
            while named_there() != {"Capital Stream"} and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertEqual(named_there(), {"Capital Stream"})
            texts = events.statuses(lambda s: s["text"] != "" and s["station"]
                                    and s["station"]["service_id"] == HARBOUR_FM)
            self.assertTrue(texts[-1]["text"])
            # The switch to another ensemble: the text of the one before goes.
            status, body = service.post("play", {"service_id": other["service_id"]})
            self.assertEqual(status, 200, body)
            self.assertEqual(body["station"]["service_id"], other["service_id"])
            self.assertEqual(body["text"], "")
            service.wait_for(lambda s: s["reception"] is not None, what="the reception")

            status, body = service.post("volume", {"volume": 17})
            self.assertEqual((status, body["volume"]), (200, 17))
            status, body = service.post("volume", {"change": -20})
            self.assertEqual((status, body["volume"]), (200, 0))
            self.assertEqual(list_volume(service), 0)

            status, body = service.post("standby")
            self.assertEqual((status, body["state"], body["station"]), (200, "standby", None))
            status, body = service.post("play", {"service_id": BEACON_JAZZ})
            self.assertEqual((status, body["state"]), (200, "playing"))
            self.assertEqual(body["volume"], 0)
            events.close()
        finally:
            service.stop()

    def test_errors_a_person_can_read(self):
        service = with_list("errors").start()
        try:
            cases = [
                ("POST", "play", {"service_id": 1}, 404),
                ("POST", "play", {"service_id": "x"}, 400),
                ("POST", "play", {}, 400),
                ("POST", "volume", {"volume": 64}, 400),
                ("POST", "volume", {"volume": -1}, 400),
                ("POST", "volume", {"change": 1.5}, 400),
                ("POST", "sleep", {"minutes": 1441}, 400),
                ("GET", "play", None, 405),
                ("POST", "status", {}, 405),
                ("GET", "nothing", None, 404),
            ]
            for method, path, body, expected in cases:
                with self.subTest(method=method, path=path, body=body):
                    status, data, response = service.request(method, "/api/v1/" + path, body)
                    self.assertEqual(status, expected, data)
                    self.assertIsInstance(data["error"], str)
                    self.assertTrue(data["error"].endswith("."))
                    self.assertEqual(response.getheader("Content-Type"), "application/json")
        finally:
            service.stop()

    def test_sleep_timer_runs_on_the_board_clock(self):
        service = with_list("sleep").start()
        try:
            service.post("play", {"service_id": HARBOUR_FM})
            status, body = service.post("sleep", {"minutes": 2})
            self.assertEqual((status, body["sleep_minutes_left"]), (200, 2))
            board_at_start = service.board_clock_ms()
            real_at_start = time.monotonic()
            service.wait_for(lambda s: s["sleep_minutes_left"] == 1, what="one minute left")
            done = service.wait_for(lambda s: s["state"] == "standby", what="standby")
            self.assertIsNone(done["sleep_minutes_left"])
            elapsed_board = service.board_clock_ms() - board_at_start
            self.assertGreaterEqual(elapsed_board, 119000)
            # Two minutes of board time went by far faster than real ones.
            self.assertLess(time.monotonic() - real_at_start, 60)
            # 0 cancels.
            service.post("play", {"service_id": HARBOUR_FM})
            service.post("sleep", {"minutes": 5})
            status, body = service.post("sleep", {"minutes": 0})
            self.assertIsNone(body["sleep_minutes_left"])
        finally:
            service.stop()

    def test_damaged_list_is_kept_and_what_reads_is_loaded(self):
        service = Service("damaged")
        with open(scanned_list(), "rb") as f:
            lines = f.readlines()
        damaged = b"".join(lines[: len(lines) // 2])
        with open(os.path.join(service.state, "stationlist.txt"), "wb") as f:
            f.write(damaged)
        service.start()
        try:
            status = service.wait_for(lambda s: s["state"] != "starting")
            self.assertIn("damaged", status["notice"])
            kept = os.path.join(service.state, "stationlist.txt.damaged-1")
            with open(kept, "rb") as f:
                self.assertEqual(f.read(), damaged)
            self.assertGreater(status["station_count"], 0)
        finally:
            service.stop()

    def test_full_disk_on_a_volume_save_answers_an_error_and_loses_nothing(self):
        listed = scanned_list()
        size = os.path.getsize(listed)

        def small_files():
            # Writes past this size fail with EFBIG, as on a full disk.
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (size // 2, size // 2))

        service = with_list("full-disk", preexec=small_files).start()
        try:
            before = open(os.path.join(service.state, "stationlist.txt"), "rb").read()
            status, body = service.post("volume", {"volume": 5})
            self.assertEqual(status, 500, body)
            self.assertIn("could not be saved", body["error"])
            after = open(os.path.join(service.state, "stationlist.txt"), "rb").read()
            self.assertEqual(before, after)
            # The chip has the volume; the status says so.
            self.assertEqual(service.status()["volume"], 5)
        finally:
            service.stop()


class RecoveryTest(unittest.TestCase):

    def test_sigterm_leaves_the_chip_playing_and_the_next_start_takes_it_over(self):
        service = with_list("takeover").start()
        try:
            status, body = service.post("play", {"service_id": BEACON_JAZZ})
            self.assertEqual(status, 200, body)
            started = time.monotonic()
            self.assertEqual(service.stop(signal.SIGTERM), 0)
            self.assertLess(time.monotonic() - started, 1.0)
            again = Service("takeover", fresh=False).start()
            try:
                status = again.wait_for(lambda s: s["state"] != "starting")
                self.assertEqual(status["state"], "playing")
                self.assertEqual(status["station"]["service_id"], BEACON_JAZZ)
                again.wait_for(lambda s: s["text"] != "", what="a text after the takeover")
            finally:
                self.assertEqual(again.stop(signal.SIGINT), 0)
            stats = dict(line.strip().split("=", 1) for line in open(os.path.join(again.board, "stats")))
            self.assertEqual(stats["resets"], "0")
            self.assertNotIn("command.0x07", stats)  # no BOOT
        finally:
            service.stop()

    def test_receiver_lost_then_recovered_on_its_own(self):
        # The chip stops answering a while (board time) after the first frame.
        service = with_list("lost", faults="hang-after=30000").start()
        try:
            events = service.events()
            status, body = service.post("play", {"service_id": HARBOUR_FM})
            self.assertEqual(status, 200, body)
            seen = events.statuses(lambda s: s["state"] == "no-receiver")
            self.assertEqual(seen[-1]["notice"], "The receiver does not answer.")
            self.assertIsNone(seen[-1]["station"])
            # The bring-up every 30 s brings it back; the service never exits.
            events.statuses(lambda s: s["state"] == "stopped")
            events.close()
            self.assertEqual(service.post("play", {"service_id": HARBOUR_FM})[0], 200)
            status, body = service.post("restart-receiver")
            self.assertEqual((status, body["state"]), (200, "stopped"))
        finally:
            service.stop()

    def test_no_receiver_answers_503_and_the_service_stays(self):
        service = with_list("absent-chip", faults="absent").start()
        try:
            self.assertEqual(service.status()["state"], "no-receiver")
            for path, body in [("play", {"service_id": HARBOUR_FM}), ("volume", {"volume": 3}),
                               ("scan", {}), ("standby", {}), ("restart-receiver", {})]:
                with self.subTest(path=path):
                    status, answer = service.post(path, body)
                    self.assertEqual(status, 503)
                    self.assertEqual(answer["error"], "The receiver does not answer.")
            self.assertEqual(service.request("GET", "/api/v1/stations")[0], 200)
            self.assertIsNone(service.process.poll())
        finally:
            self.assertEqual(service.stop(), 0)

    def test_a_missing_receiver_is_tried_again_on_its_own(self):
        service = with_list("absent", faults="no-cts-after-reset=3").start()
        try:
            # Three hung power cycles use up the start's first attempts;
            # the service never exits, and comes up.
            status = service.wait_for(lambda s: s["state"] == "stopped", timeout=60)
            self.assertGreater(status["station_count"], 0)
        finally:
            service.stop()


class SecurityTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.service = Service("security").start()

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()

    API = [("GET", "status"), ("GET", "stations"), ("GET", "events"), ("POST", "play"),
           ("POST", "volume"), ("POST", "scan"), ("POST", "standby"), ("POST", "sleep"),
           ("POST", "restart-receiver"), ("GET", "no-such-path")]

    def test_no_token_and_a_wrong_token_get_401_everywhere(self):
        s = self.service
        wrong = s.token[:-1] + ("0" if s.token[-1] != "0" else "1")
        for headers in [{}, {"Authorization": "Bearer " + wrong},
                        {"Authorization": "Bearer " + s.token[:16]},
                        {"Cookie": "tunelark=" + wrong}, {"Authorization": "Basic " + s.token}]:
            for method, path in self.API:
                with self.subTest(headers=headers, path=path):
                    status, body, _ = s.request(method, "/api/v1/" + path,
                                                {} if method == "POST" else None,
                                                headers=headers, token=False)
                    self.assertEqual(status, 401)
                    self.assertIn("pair", body["error"])

    def test_pairing_sets_a_strict_cookie_and_leaves_the_token_out(self):
        s = self.service
        status, _, response = s.request("GET", "/pair?token=" + s.token, token=False)
        self.assertEqual(status, 303)
        self.assertEqual(response.getheader("Location"), "/")
        cookie = response.getheader("Set-Cookie")
        self.assertIn("HttpOnly", cookie)
        self.assertIn("SameSite=Strict", cookie)
        value = cookie.split(";")[0]
        status, body, _ = s.request("GET", "/api/v1/status", headers={"Cookie": value}, token=False)
        self.assertEqual(status, 200)
        status, page, _ = s.request("GET", "/", headers={"Cookie": value}, token=False)
        status_unpaired, pairing, _ = s.request("GET", "/", token=False)
        self.assertNotEqual(page, pairing)
        self.assertIn(b"pair", pairing.lower())
        self.assertEqual(s.request("GET", "/pair?token=" + "0" * 32, token=False)[0], 401)
        self.assertEqual(s.request("GET", "/pair", token=False)[0], 401)

    def test_host_and_origin_are_checked(self):
        s = self.service
        refused = [{"Host": "attacker.example"}, {"Host": "attacker.example:80"},
                   {"Host": "127.0.0.1.attacker.example"},
                   {"Origin": "http://attacker.example"}, {"Origin": "null"}]
        for headers in refused:
            with self.subTest(headers=headers):
                self.assertEqual(s.request("GET", "/api/v1/status", headers=headers)[0], 403)
                self.assertEqual(s.request("GET", "/", headers=headers, token=False)[0], 403)
        status, body, _ = s.request("POST", "/api/v1/sleep", {"minutes": 0},
                                    headers={"Origin": "http://evil.example"})
        self.assertEqual(status, 403)
        for host in ["localhost:8080", "[::1]:1", socket.gethostname(), socket.gethostname() + ".local"]:
            with self.subTest(host=host):
                self.assertEqual(s.request("GET", "/api/v1/status", headers={"Host": host})[0], 200)
        same = {"Origin": f"http://127.0.0.1:{s.port}"}
        self.assertEqual(s.post("sleep", {"minutes": 0}, headers=same)[0], 200)

    def test_security_headers_on_every_answer(self):
        s = self.service
        for path, token in [("/", False), ("/api/v1/status", True), ("/nothing", False),
                            ("/api/v1/status", False)]:
            with self.subTest(path=path, token=token):
                _, _, response = s.request("GET", path, token=token)
                self.assertEqual(response.getheader("Content-Security-Policy"),
                                 "default-src 'self'; frame-ancestors 'none'")
                self.assertEqual(response.getheader("X-Content-Type-Options"), "nosniff")
                self.assertEqual(response.getheader("Referrer-Policy"), "no-referrer")

    def test_bodies_too_big_malformed_or_not_json(self):
        s = self.service
        big = b'{"minutes": 0, "pad": "' + b"x" * 5000 + b'"}'
        cases = [
            (big, {"Content-Type": "application/json"}, 413),
            (b"{not json", {"Content-Type": "application/json"}, 400),
            (b"[1, 2]", {"Content-Type": "application/json"}, 400),
            (b'{"minutes": 0}', {"Content-Type": "text/plain"}, 400),
            (b'{"minutes": 0}', {}, 400),
        ]
        for raw, headers, expected in cases:
            with self.subTest(expected=expected, headers=headers, size=len(raw)):
                status, body, _ = s.request("POST", "/api/v1/sleep", raw_body=raw, headers=headers)
                self.assertEqual(status, expected, body)
        # A chunked body with no length given is cut at the limit too.
        connection = socket.create_connection(("127.0.0.1", s.port))
        connection.sendall(
            (f"POST /api/v1/sleep HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer {s.token}\r\n"
             "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n").encode())
        for _ in range(3):
            connection.sendall(b"800\r\n" + b" " * 0x800 + b"\r\n")
        connection.sendall(b"0\r\n\r\n")
        self.assertIn(b" 413 ", connection.recv(4096).split(b"\r\n")[0] + b" ")
        connection.close()

    def test_traversal_and_odd_methods_on_the_page(self):
        s = self.service
        for path in ["/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/..%2fstate/remote-token",
                     "/remote-token", "//etc/passwd"]:
            with self.subTest(path=path):
                status, body, _ = s.request("GET", path, token=False)
                self.assertEqual(status, 404)
                self.assertNotIn(s.token.encode(), body if isinstance(body, bytes) else b"")
        for method in ["DELETE", "PUT", "TRACE", "OPTIONS", "PATCH"]:
            with self.subTest(method=method):
                status, _, response = s.request(method, "/", token=False)
                self.assertEqual(status, 405)
                self.assertEqual(response.getheader("Allow"), "GET, HEAD")

    def open_connections(self, count, source):
        sockets = []
        for _ in range(count):
            c = socket.socket()
            c.bind((source, 0))
            c.connect(("127.0.0.1", self.service.port))
            sockets.append(c)
        return sockets

    def refused(self, c):
        # Over the per-address limit MHD closes the connection at once; at
        # the limit in all it leaves new ones unaccepted until a place is free.
        c.settimeout(2)
        try:
            c.sendall(b"GET /api/v1/status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            return c.recv(100) == b""
        except (ConnectionResetError, BrokenPipeError, TimeoutError):
            return True

    def served(self, c):
        c.settimeout(5)
        c.sendall(f"GET /api/v1/status HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                  f"Authorization: Bearer {self.service.token}\r\n\r\n".encode())
        return c.recv(12) == b"HTTP/1.1 200"

    def test_connection_limits_per_address_and_in_all(self):
        held = self.open_connections(16, "127.0.0.2")
        time.sleep(0.3)
        try:
            extra = self.open_connections(1, "127.0.0.2")[0]
            self.assertTrue(self.refused(extra))
            extra.close()
            # Another address is still served meanwhile.
            self.assertEqual(self.service.request("GET", "/api/v1/status", source="127.0.0.3")[0], 200)
            for source in ["127.0.0.3", "127.0.0.4", "127.0.0.5"]:
                held += self.open_connections(16, source)
            time.sleep(0.3)
            extra = self.open_connections(1, "127.0.0.6")[0]
            self.assertTrue(self.refused(extra))
            # The connections held are served meanwhile.
            self.assertTrue(self.served(held[0]))
            self.assertTrue(self.served(held[-1]))
            extra.close()
        finally:
            for c in held:
                c.close()
        time.sleep(0.3)
        self.assertEqual(self.service.request("GET", "/api/v1/status", source="127.0.0.6")[0], 200)

    def test_at_most_32_event_streams(self):
        streams = []
        try:
            for i in range(32):
                stream = self.service.events(source=f"127.0.1.{i // 8 + 1}")
                self.assertEqual(stream.status, 200)
                self.assertEqual(stream.next(timeout=5)[0], "status")
                streams.append(stream)
            status, body, _ = self.service.request("GET", "/api/v1/events", source="127.0.1.9")
            self.assertEqual(status, 503)
            self.assertIn("32", body["error"])
            # Every stream gets the change.
            self.service.post("sleep", {"minutes": 0})
            for stream in streams[::8]:
                self.assertEqual(stream.next(timeout=5)[0], "status")
        finally:
            for stream in streams:
                stream.close()
        time.sleep(0.3)
        stream = self.service.events(source="127.0.1.9")
        self.assertEqual(stream.status, 200)
        stream.close()

    def test_a_client_trickling_bytes_is_cut_off_while_others_are_served(self):
        slow = socket.create_connection(("127.0.0.1", self.service.port))
        request = f"GET /api/v1/status HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: {'a' * 40}\r\n\r\n"
        cut = threading.Event()
        served = []

        def trickle():
            for ch in request:
                try:
                    slow.sendall(ch.encode())
                except OSError:
                    cut.set()
                    return
                slow.settimeout(1.0)
                try:
                    if slow.recv(1) == b"":
                        cut.set()
                        return
                except socket.timeout:
                    pass
                except OSError:
                    cut.set()
                    return

        thread = threading.Thread(target=trickle)
        thread.start()
        started = time.monotonic()
        while thread.is_alive() and time.monotonic() - started < 30:
            t = time.monotonic()
            self.assertEqual(self.service.request("GET", "/api/v1/status")[0], 200)
            served.append(time.monotonic() - t)
            time.sleep(0.5)
        thread.join()
        self.assertTrue(cut.is_set())
        self.assertLess(time.monotonic() - started, 20)
        self.assertLess(max(served), 1.0)
        slow.close()


if __name__ == "__main__":
    unittest.main()
