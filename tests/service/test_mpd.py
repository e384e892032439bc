# SPDX-License-Identifier: GPL-3.0-or-later
"""tunelarkd's MPD server against real clients: Debian's mpc and python-mpd2
(the library Home Assistant's MPD integration uses)."""
import os
import socket
import subprocess
import threading
import time
import unittest

import mpd

from service import Service, wait_until


def raw(port, source="127.0.0.1"):
    s = socket.create_connection(("127.0.0.1", port), timeout=5, source_address=(source, 0))
    return s, s.makefile("rb")


def reply(f):
    """The lines of one answer, up to its OK or ACK."""
    lines = []
    while True:
        line = f.readline().decode("utf-8", "replace").rstrip("\n")
        lines.append(line)
        if line == "OK" or line.startswith("ACK") or line == "":
            return lines


class MpdTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = Service().start()
        cls.stations = cls.service.scan()
        assert len(cls.stations) >= 3, cls.stations

    @classmethod
    def tearDownClass(cls):
        cls.service.close()

    def mpc(self, *args):
        env = dict(os.environ, MPD_HOST="%s@127.0.0.1" % self.service.token,
                   MPD_PORT=str(self.service.mpd_port))
        done = subprocess.run(["mpc", *args], env=env, capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        return done.stdout

    def client(self):
        c = mpd.MPDClient()
        c.timeout = 10
        c.connect("127.0.0.1", self.service.mpd_port)
        c.password(self.service.token)
        return c

    def test_mpc_lists_plays_sets_volume_and_shows_the_text(self):
        listed = self.mpc("playlist").splitlines()
        self.assertEqual(len(listed), len(self.stations))
        for line, station in zip(listed, self.stations):
            self.assertIn(station["label"], line)
        self.assertTrue(any("Łódź" in line for line in listed), listed)

        self.mpc("play", "2")  # mpc counts from 1
        playing = self.service.status()
        self.assertEqual(playing["state"], "playing")
        self.assertEqual(playing["station"]["service_id"], self.stations[1]["service_id"])
        wait_until(lambda: self.service.status()["text"], 10, "a text")
        current = self.mpc("current").strip()
        # "<station>: <its text>", as mpc joins Name and Title
        self.assertTrue(current.startswith(self.stations[1]["label"] + ": "), current)
        self.assertNotEqual(current, "%s: %s" % ((self.stations[1]["label"],) * 2))

        self.mpc("volume", "40")
        self.assertEqual(self.service.status()["volume"], 25)  # 40 % of 63
        self.assertIn("volume: 40%", self.mpc("volume"))
        self.mpc("volume", "-10")
        self.assertEqual(self.service.status()["volume"], 19)

        self.mpc("next")
        self.assertEqual(self.service.status()["station"]["service_id"],
                         self.stations[2]["service_id"])
        self.mpc("stop")
        self.assertEqual(self.service.status()["state"], "standby")
        self.assertNotIn("[playing]", self.mpc("status"))
        self.mpc("play")  # resumes the station it left
        self.assertEqual(self.service.status()["station"]["service_id"],
                         self.stations[2]["service_id"])

    def test_volume_round_trip_is_stable_and_reaches_every_step(self):
        c = self.client()
        steps = set()
        for percent in range(0, 101):
            c.setvol(percent)
            read = int(c.status()["volume"])
            self.assertLessEqual(abs(read - percent), 1, percent)
            steps.add(self.service.status()["volume"])
            c.setvol(read)
            self.assertEqual(int(c.status()["volume"]), read, percent)
        self.assertEqual(steps, set(range(64)))
        with self.assertRaises(mpd.CommandError):
            c.setvol(101)
        c.close()

    def test_python_mpd_sees_what_home_assistant_reads(self):
        c = self.client()
        self.assertIn("status", c.commands())
        # A service carried by two ensembles is listed twice; the engine
        # picks its frequency. Take one listed once.
        ids = [s["service_id"] for s in self.stations]
        here = next(i for i, sid in enumerate(ids) if ids.count(sid) == 1)
        c.play(here)
        status = c.status()
        for key in ("state", "volume", "repeat", "single", "random"):
            self.assertIn(key, status)
        self.assertEqual(status["state"], "play")
        self.assertEqual(status["song"], str(here))
        song = c.currentsong()
        self.assertEqual(song["file"], "dab://%d" % self.stations[here]["service_id"])
        self.assertEqual(song["name"], self.stations[here]["label"])
        self.assertEqual(c.listplaylists(), [])
        ids = [entry["id"] for entry in c.playlistinfo()]
        self.assertEqual(len(set(ids)), len(self.stations))
        uri = lambda i: "dab://%d" % self.stations[i]["service_id"]
        c.playid(ids[-1])
        self.assertEqual(c.currentsong()["file"], uri(-1))
        c.next()  # past the end: round to the head of the list
        self.assertEqual(c.currentsong()["file"], uri(0))
        # The head may be listed again further down, on the frequency the
        # engine chose: previous steps back from where it really plays.
        pos = int(c.currentsong()["pos"])
        c.previous()
        self.assertEqual(c.currentsong()["file"], uri(pos - 1))
        self.assertEqual(c.plchanges(c.status()["playlist"]), [])
        self.assertEqual(len(c.plchanges(0)), len(self.stations))
        c.close()

    def idle_in_background(self, client, *subsystems):
        result = {}
        thread = threading.Thread(target=lambda: result.setdefault("changed",
                                                                   client.idle(*subsystems)))
        thread.start()
        return thread, result

    def test_idle_wakes_on_a_station_change_and_on_a_new_text(self):
        watcher, other = self.client(), self.client()
        other.play(0)
        thread, result = self.idle_in_background(watcher, "mixer")
        time.sleep(0.2)
        other.play(1)  # a player change only: the mixer idle sleeps on
        time.sleep(0.3)
        self.assertTrue(thread.is_alive())
        other.setvol(10 if int(other.status()["volume"]) > 50 else 90)
        thread.join(5)
        self.assertEqual(result.get("changed"), ["mixer"])
        # The station change above is still unreported: the next idle has it.
        self.assertEqual(watcher.idle(), ["player"])
        before = watcher.currentsong()["title"]
        wait_until(lambda: self.service.status()["text"], 10, "a text")
        start = time.monotonic()
        self.assertEqual(watcher.idle("player"), ["player"])  # nobody sends a thing
        self.assertLess(time.monotonic() - start, 5)
        self.assertNotEqual(watcher.currentsong()["title"], before)
        watcher.close()
        other.close()

    def test_errors_answer_and_keep_the_connection(self):
        s, f = raw(self.service.mpd_port)
        self.assertTrue(f.readline().startswith(b"OK MPD "))
        s.sendall(b"status\n")
        self.assertEqual(reply(f), ['ACK [4@0] {status} you don\'t have permission for "status"'])
        s.sendall(b"commands\n")
        self.assertEqual(reply(f), ["command: close", "command: commands",
                                    "command: notcommands", "command: password",
                                    "command: ping", "OK"])
        s.sendall(b'password "wrong"\n')
        self.assertEqual(reply(f), ["ACK [3@0] {password} incorrect password"])
        s.sendall(b'password "%s"\n' % self.service.token.encode())
        self.assertEqual(reply(f), ["OK"])
        s.sendall(b"frobnicate 1 2\n")
        self.assertEqual(reply(f), ['ACK [5@0] {frobnicate} unknown command "frobnicate"'])
        s.sendall(b'play "unclosed\n')
        self.assertEqual(reply(f)[0][:9], "ACK [2@0]")
        s.sendall(b"command_list_ok_begin\nping\ngetvol\nfrobnicate\nping\ncommand_list_end\n")
        answer = reply(f)
        self.assertEqual(answer[0], "list_OK")
        self.assertEqual(answer[-1], 'ACK [5@2] {frobnicate} unknown command "frobnicate"')
        self.assertEqual(answer.count("list_OK"), 2)
        s.sendall(b"play 9999\n")
        self.assertEqual(reply(f), ["ACK [2@0] {play} Bad song index"])
        s.sendall(b"idle\nnoidle\nping\n")
        self.assertEqual(reply(f), ["OK"])
        self.assertEqual(reply(f), ["OK"])
        s.close()

    def test_garbage_and_a_line_of_one_megabyte(self):
        s, f = raw(self.service.mpd_port)
        f.readline()
        garbage = bytes(range(256)) * 4 + b"\n\n\xff\xfe\x00\n"
        s.sendall(garbage)
        answers = [reply(f) for _ in range(garbage.count(b"\n"))]
        for answer in answers:
            self.assertTrue(answer[0].startswith("ACK ["), answers)
        s.sendall(b"x" * (1 << 20) + b"\n")
        self.assertEqual(reply(f), ["ACK [2@0] {} line too long"])
        s.sendall(b"ping\n")
        self.assertEqual(reply(f), ["OK"])
        s.close()

    def test_a_hundred_clients(self):
        # Seven loopback addresses, so that the per-address limit (16) does
        # not stop them before the total (64) does.
        sockets = []
        for i in range(100):
            sockets.append(raw(self.service.mpd_port, "127.0.0.%d" % (1 + i % 7)))
        greetings = [f.readline() for _, f in sockets]
        served = [i for i, g in enumerate(greetings) if g.startswith(b"OK MPD")]
        refused = [g for g in greetings if g.startswith(b"ACK")]
        self.assertEqual(len(served), 64)
        self.assertEqual(len(refused), 36)
        for i in served:
            sockets[i][0].sendall(b"ping\n")
        for i in served:
            self.assertEqual(reply(sockets[i][1]), ["OK"])
        for s, f in sockets:
            f.close()
            s.close()
        # Seventeen from one address: the last is refused, the others served.
        # (The probe comes from another address: its own slot may still be
        # taken for a moment after it closed.)
        wait_until(lambda: self._greeting("127.0.0.8").startswith(b"OK"), 5, "free slots")
        same = [raw(self.service.mpd_port, "127.0.0.9") for _ in range(17)]
        greetings = [f.readline() for _, f in same]
        self.assertEqual(sum(g.startswith(b"OK MPD") for g in greetings), 16)
        self.assertTrue(greetings[-1].startswith(b"ACK"))
        for s, f in same:
            f.close()
            s.close()
        c = self.client()
        c.ping()
        c.close()

    def _greeting(self, source):
        s, f = raw(self.service.mpd_port, source)
        line = f.readline()
        f.close()
        s.close()
        return line


if __name__ == "__main__":
    unittest.main()
