#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Load figures for a running tunelarkd: MPD `status` latency at a fixed rate,
and how often each MQTT state topic is published in steady play.

  bench/service_protocols.py mpd  --port 6600 --token TOKEN [--rate 200 --seconds 30]
  bench/service_protocols.py mqtt --port 1883 --prefix tunelark/HOST [--seconds 30]
"""
import argparse
import collections
import socket
import time


def mpd(args):
    s = socket.create_connection(("127.0.0.1", args.port))
    f = s.makefile("rb")
    f.readline()
    s.sendall(b'password "%s"\n' % args.token.encode())
    assert f.readline() == b"OK\n"
    latencies, errors = [], 0
    period = 1.0 / args.rate
    start = time.monotonic()
    for i in range(int(args.rate * args.seconds)):
        # Paced from the start, so a slow answer does not lower the rate.
        delay = start + i * period - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        sent = time.monotonic()
        s.sendall(b"status\n")
        while True:
            line = f.readline()
            if line == b"OK\n":
                break
            if not line or line.startswith(b"ACK"):
                errors += 1
                break
        latencies.append(time.monotonic() - sent)
    latencies.sort()
    pick = lambda q: latencies[min(len(latencies) - 1, int(q * len(latencies)))] * 1000
    print("status x%d at %d/s: p50 %.3f ms, p99 %.3f ms, max %.3f ms, errors %d"
          % (len(latencies), args.rate, pick(0.5), pick(0.99), latencies[-1] * 1000, errors))


def mqtt(args):
    import paho.mqtt.client as paho
    seconds = collections.defaultdict(collections.Counter)
    start = time.monotonic()

    def message(_c, _d, m):
        if not m.retain:  # the retained copies at subscription are not publishes
            seconds[m.topic][int(time.monotonic() - start)] += 1

    client = paho.Client()
    client.on_message = message
    client.connect("127.0.0.1", args.port)
    client.subscribe(args.prefix + "/#", 1)
    client.loop_start()
    time.sleep(args.seconds)
    client.loop_stop()
    for topic in sorted(seconds):
        counts = seconds[topic]
        print("%-40s %4d messages in %d s, at most %d in one second"
              % (topic, sum(counts.values()), args.seconds, max(counts.values())))


parser = argparse.ArgumentParser()
parser.add_argument("what", choices=["mpd", "mqtt"])
parser.add_argument("--port", type=int, required=True)
parser.add_argument("--token", default="")
parser.add_argument("--prefix", default="")
parser.add_argument("--rate", type=int, default=200)
parser.add_argument("--seconds", type=int, default=30)
arguments = parser.parse_args()
(mpd if arguments.what == "mpd" else mqtt)(arguments)
