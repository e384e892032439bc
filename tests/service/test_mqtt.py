# SPDX-License-Identifier: GPL-3.0-or-later
"""tunelarkd on a real MQTT broker (mosquitto on a loopback port), read and
driven with paho, as Home Assistant's MQTT integration does."""
import json
import os
import signal
import subprocess
import threading
import time
import unittest

import paho.mqtt.client as paho

from service import Service, free_port, port_open, wait_until

PREFIX = "tunelark/testhost"


class Broker:
    def __init__(self, directory, port):
        self.config = os.path.join(directory, "mosquitto.conf")
        with open(self.config, "w") as f:
            f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n" % port)
        self.port = port
        self.process = None

    def start(self):
        self.process = subprocess.Popen(["mosquitto", "-c", self.config],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: port_open(self.port), 10, "the broker")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)


class Watcher:
    """Every message on the topics, the latest per topic, retained or not."""

    def __init__(self, port, topics=("#",)):
        self.latest, self.log, self.lock = {}, [], threading.Lock()
        self.client = paho.Client()
        self.client.on_message = self._message
        self.client.on_connect = lambda c, *_: [c.subscribe(t, 1) for t in topics]
        self.client.connect("127.0.0.1", port)
        self.client.loop_start()

    def _message(self, _client, _data, message):
        with self.lock:
            self.latest[message.topic] = message.payload.decode()
            self.log.append((time.monotonic(), message.topic, message.retain))

    def config(self, component, object_id):
        """The discovery config of one entity, whatever the radio's node id."""
        with self.lock:
            for topic, payload in self.latest.items():
                parts = topic.split("/")
                if (len(parts) == 5 and parts[:2] == ["homeassistant", component]
                        and parts[3:] == [object_id, "config"] and payload):
                    return json.loads(payload)
        return None

    def configs(self):
        """Every discovery config seen so far, by topic."""
        with self.lock:
            return {t: json.loads(p) for t, p in self.latest.items()
                    if t.startswith("homeassistant/") and t.endswith("/config") and p}

    def get(self, topic):
        with self.lock:
            return self.latest.get(topic)

    def publish(self, topic, payload):
        self.client.publish(topic, payload, qos=1).wait_for_publish()

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


class MqttTest(unittest.TestCase):
    # The first scan's station list, which the later tests start with.
    scanned = None

    def setUp(self):
        self.broker_port = free_port()
        self.service = Service(extra=["--mqtt", "127.0.0.1:%d" % self.broker_port,
                                      "--mqtt-prefix", PREFIX], mpd=False)
        self.broker = Broker(self.service.dir, self.broker_port)
        self.watchers = []

    def tearDown(self):
        for w in self.watchers:
            w.close()
        self.service.close()
        self.broker.stop()

    def watch(self, topics=("#",)):
        w = Watcher(self.broker_port, topics)
        self.watchers.append(w)
        return w

    def start_with_stations(self):
        self.broker.start()
        if MqttTest.scanned:
            self.service.seed(MqttTest.scanned)
            self.service.start()
            return self.service.stations()
        self.service.start()
        stations = self.service.scan()
        MqttTest.scanned = self.service.list_files()
        return stations

    def test_discovery_is_valid_json_with_unique_ids_and_the_stations(self):
        stations = self.start_with_stations()
        w = self.watch(("homeassistant/#", PREFIX + "/#"))
        wait_until(lambda: w.config("select", "station"), 10, "discovery")
        wait_until(lambda: len(w.config("select", "station")["options"]) > 1, 10,
                   "the select's stations")
        # The broker hands a new subscriber its retained messages in its own
        # order, not the order they were published in.
        wait_until(lambda: len(w.configs()) >= 10, 10, "every entity's config")
        configs = w.configs()
        kinds = sorted(t.split("/")[1] for t in configs)
        self.assertEqual(kinds, ["button"] * 2 + ["number"] + ["select"] + ["sensor"] * 6)
        ids = [c["unique_id"] for c in configs.values()]
        self.assertEqual(len(set(ids)), len(ids))
        devices = {json.dumps(c["device"], sort_keys=True) for c in configs.values()}
        self.assertEqual(len(devices), 1)
        select = w.config("select", "station")
        self.assertEqual(select["options"], list(dict.fromkeys(
            s["label"] for s in stations if s["audio"])))
        number = w.config("number", "volume")
        self.assertEqual((number["min"], number["max"]), (0, 63))
        for config in configs.values():
            self.assertEqual(w.get(config["availability_topic"]), "online")
            for key in ("state_topic", "command_topic"):
                if key in config:
                    self.assertTrue(config[key].startswith(PREFIX + "/"), config)

        # Home Assistant's birth message brings the configs again.
        before = len([e for e in w.log if e[1].startswith("homeassistant/select")])
        w.publish("homeassistant/status", "online")
        wait_until(lambda: len([e for e in w.log if e[1].startswith("homeassistant/select")])
                   > before, 5, "discovery after the birth message")

    def test_commands_play_a_station_by_label_and_by_id_and_set_the_volume(self):
        stations = self.start_with_stations()
        w = self.watch((PREFIX + "/#",))
        w.publish(PREFIX + "/station/set", stations[1]["label"])
        wait_until(lambda: w.get(PREFIX + "/station") == stations[1]["label"], 10,
                   "the station by label")
        self.assertEqual(self.service.status()["station"]["service_id"],
                         stations[1]["service_id"])
        w.publish(PREFIX + "/station/set", str(stations[2]["service_id"]))
        wait_until(lambda: w.get(PREFIX + "/station") == stations[2]["label"], 10,
                   "the station by id")
        wait_until(lambda: json.loads(w.get(PREFIX + "/status"))["state"] == "playing", 5,
                   "the status JSON")
        w.publish(PREFIX + "/volume/set", "17.0")
        wait_until(lambda: w.get(PREFIX + "/volume") == "17", 10, "the volume")
        self.assertEqual(self.service.status()["volume"], 17)
        w.publish(PREFIX + "/volume/set", "64")  # out of range: ignored
        w.publish(PREFIX + "/standby/set", "PRESS")
        wait_until(lambda: w.get(PREFIX + "/state") == "standby", 10, "standby")
        self.assertEqual(self.service.status()["volume"], 17)

    def test_the_last_will_after_sigkill(self):
        self.start_with_stations()
        w = self.watch((PREFIX + "/availability",))
        wait_until(lambda: w.get(PREFIX + "/availability") == "online", 10, "online")
        self.service.kill(signal.SIGKILL)
        wait_until(lambda: w.get(PREFIX + "/availability") == "offline", 10, "the last will")

    def test_a_broker_restart_brings_the_retained_state_back(self):
        stations = self.start_with_stations()
        self.service.api("play", {"service_id": stations[0]["service_id"]})
        w = self.watch((PREFIX + "/station",))
        wait_until(lambda: w.get(PREFIX + "/station") == stations[0]["label"], 10, "station")
        w.close()
        self.watchers.remove(w)
        self.broker.stop()  # no persistence: the retained messages go with it
        time.sleep(1.5)
        self.broker.start()
        again = self.watch(("homeassistant/#", PREFIX + "/#"))
        wait_until(lambda: again.get(PREFIX + "/station") == stations[0]["label"], 40,
                   "the station again")
        wait_until(lambda: again.get(PREFIX + "/availability") == "online", 5, "online again")
        wait_until(lambda: again.config("number", "volume"), 5, "discovery again")
        # Retained: a client that comes later still gets them.
        late = self.watch((PREFIX + "/volume",))
        wait_until(lambda: late.get(PREFIX + "/volume") is not None, 5, "the retained volume")

    def test_a_broker_absent_at_start_blocks_nothing(self):
        start = time.monotonic()
        self.service.start()
        self.service.scan()
        self.assertLess(time.monotonic() - start, 30)
        MqttTest.scanned = self.service.list_files()
        self.broker.start()
        w = self.watch((PREFIX + "/#",))
        wait_until(lambda: w.get(PREFIX + "/availability") == "online", 40, "the late broker")
        wait_until(lambda: w.get(PREFIX + "/state") is not None, 5, "the state")


if __name__ == "__main__":
    unittest.main()
