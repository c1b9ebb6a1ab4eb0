"""The dashboard of the built server in headless Chromium: three named stations appear by
name, the one that talks is marked while it talks and no longer once the talker lock is
free, a fourth station appears without a reload, and the page reconnects by itself when
the server is restarted. Saves a picture of the dashboard.

Usage: /usr/bin/python3 dashboard_test.py CONFSERVER OUTPUT_DIRECTORY
Addresses: the HTTP view on 127.115.0.1, the server's UDP ports on 127.115.0.2, stations
on 127.115.2.1 to 127.115.2.5.
"""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser_support as support  # noqa: E402

HTTP_ADDRESS = "127.115.0.1"
HTTP_PORT = 8118
SERVER_ADDRESS = "127.115.0.2"
TIME_SCALE = 4  # a tick is 250 ms: the lock is free 0.5 s after the talker stops
WAIT = 20       # seconds, the bound of every wait
BINARY = None
OUTPUT = None

CONFIG = ("[callsign]\nuser=*DASH*\ndesc=DASHBOARD TEST\nvalid=PW\n"
          "[server]\nver=618\nmaxusers=8\n1=127.115.9.1\n")


def name_packet(name):
    """An empty receiver report and a source description whose NAME item is name."""
    report = bytes([0xC0, 0xC9, 0x00, 0x01, 1, 2, 3, 4])
    data = name.encode()
    sdes = bytearray([0xC1, 0xCA, 0, 0, 1, 2, 3, 4, 2, len(data)]) + data + b"\0"
    while len(sdes) % 4:
        sdes.append(0)
    words = len(sdes) // 4 - 1
    sdes[2], sdes[3] = words >> 8, words & 0xFF
    return report + bytes(sdes)


class Station:
    """A station: UDP sockets on its address's ports 5198 (audio) and 5199 (control)."""

    def __init__(self, address, name):
        self.address = address
        self.name = name
        self.audio = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.audio.bind((address, 5198))
        self.control = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.control.bind((address, 5199))
        self.talking = False
        self.sequence = 0

    def hello(self):
        self.control.sendto(name_packet(self.name), (SERVER_ADDRESS, 5199))

    def speak(self):
        # A sequence number makes each datagram its own (the server drops a repeat as a loop).
        self.sequence += 1
        self.audio.sendto(self.sequence.to_bytes(4, "big") + bytes([0x55]) * 156,
                          (SERVER_ADDRESS, 5198))

    def close(self):
        self.audio.close()
        self.control.close()


class Conference:
    """The stations, kept alive by a control packet every half second (the server closes a
    silent station after 120 ticks, 30 s at this time scale), and audio 25 times a second
    from each station that talks."""

    def __init__(self):
        self.stations = []
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def join(self, address, name):
        station = Station(address, name)
        station.hello()
        with self.lock:
            self.stations.append(station)
        return station

    def run(self):
        beat = 0
        while not self.stopping.wait(0.04):
            beat += 1
            with self.lock:
                stations = list(self.stations)
            for station in stations:
                if station.talking:
                    station.speak()
                if beat % 12 == 0:
                    station.hello()

    def close(self):
        self.stopping.set()
        self.thread.join(timeout=5)
        for station in self.stations:
            station.close()


class Server:
    """The built binary, minimised, with its HTTP view; stopped by its pid."""

    def __init__(self, config):
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen(
            [BINARY, "-m", "--config", config, "--bind", SERVER_ADDRESS, "--time-scale",
             str(TIME_SCALE), "--http", "%s:%d" % (HTTP_ADDRESS, HTTP_PORT)],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT)
        support.wait_for(self.ready, WAIT, "the server's HTTP view")

    def ready(self):
        if self.process.poll() is not None:
            raise AssertionError("the server exited with %s: %s" % (self.process.returncode,
                                                                    self.output()))
        try:
            with urllib.request.urlopen("http://%s:%d/api/status" % (HTTP_ADDRESS, HTTP_PORT),
                                        timeout=2) as answer:
                return json.load(answer)["server"]["node"] == "*DASH*"
        except OSError:
            return False

    def output(self):
        if self.log.closed:
            return self.kept
        self.log.seek(0)
        return self.log.read().decode(errors="replace")

    def stop(self):
        """SIGTERM to its pid; its exit code (SIGKILL after the bound)."""
        if self.process.poll() is None:
            os.kill(self.process.pid, signal.SIGTERM)
        try:
            return self.process.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            os.kill(self.process.pid, signal.SIGKILL)
            self.process.wait(timeout=WAIT)
            return None
        finally:
            self.kept = self.output()
            self.log.close()


class DashboardOfTheServer(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="cs-dashboard-")
        self.config = os.path.join(self.folder, "omvarc.ini")
        with open(self.config, "w") as config:
            config.write(CONFIG)
        self.server = Server(self.config)
        self.conference = Conference()
        self.browser = support.start_browser(1280, 900)

    def tearDown(self):
        support.stop_browser(self.browser)
        self.conference.close()
        code = self.server.stop()
        shutil.rmtree(self.folder, ignore_errors=True)
        self.assertEqual(code, 0, self.server.output())

    def rows(self):
        return {r["name"]: r for r in support.stations(self.browser)}

    def wait_rows(self, what, condition):
        """The rows by name, once condition holds for them."""
        def met():
            rows = self.rows()
            return rows if condition(rows) else None
        return support.wait_for(met, WAIT, what)

    def test_stations_talker_and_a_late_join_then_a_restart(self):
        names = ["*KENT*", "SM5XYZ", "LA1ABC"]
        stations = [self.conference.join("127.115.2.%d" % (i + 1), n) for i, n in enumerate(names)]
        self.browser.get("http://%s:%d/" % (HTTP_ADDRESS, HTTP_PORT))
        self.browser.execute_script("window.__sameDocument = 7;")
        support.wait_for(lambda: support.connection(self.browser) == "live", WAIT, "live")
        rows = self.wait_rows("the three names", lambda r: set(r) == set(names))
        self.assertEqual({rows[n]["address"] for n in names},
                         {s.address for s in stations})
        self.assertFalse(any(r["talking"] for r in rows.values()))
        quiet = rows["SM5XYZ"]["background"]

        # SM5XYZ talks: its row is marked, the others are not.
        stations[1].talking = True
        rows = self.wait_rows("SM5XYZ marked as talking", lambda r: r["SM5XYZ"]["talking"])
        self.assertFalse(rows["*KENT*"]["talking"] or rows["LA1ABC"]["talking"])
        self.assertNotEqual(rows["SM5XYZ"]["background"], quiet)
        self.assertIn("TALKING", rows["SM5XYZ"]["nameCell"])
        support.wait_for(lambda: self.browser.execute_script(
            "return document.querySelectorAll('#timeline rect.spell.live').length;") == 1,
            WAIT, "the live bar on the timeline")
        time.sleep(1.0)  # a spell of about a second, to be seen on the timeline and listed

        # It stops: two ticks later the lock is free and the mark goes.
        stations[1].talking = False
        rows = self.wait_rows("SM5XYZ no longer marked", lambda r: not r["SM5XYZ"]["talking"])
        self.assertEqual(rows["SM5XYZ"]["background"], quiet)
        self.assertNotIn("TALKING", rows["SM5XYZ"]["nameCell"])
        spell = support.wait_for(lambda: self.browser.execute_script(
            "const r = document.querySelector('#spells tbody tr');"
            "return r && Array.from(r.cells).map((c) => c.textContent);"), WAIT, "the talk spell")
        self.assertEqual(spell[0], "SM5XYZ")
        self.assertEqual(spell[1], stations[1].address)
        self.assertRegex(spell[3], r"^\d+\.\d s$")
        self.assertGreaterEqual(float(spell[3].split()[0]), 0.9)

        # A fourth station joins: it appears without a reload.
        late = self.conference.join("127.115.2.4", "OH2LATE")
        rows = self.wait_rows("the fourth station", lambda r: "OH2LATE" in r)
        self.assertEqual(rows["OH2LATE"]["address"], late.address)
        self.assertEqual(len(rows), 4)
        self.assertEqual(self.browser.execute_script("return window.__sameDocument;"), 7)
        relayed = self.browser.execute_script(
            "return document.querySelector('#counters [data-counter=relayed] dd').textContent;")
        self.assertNotEqual(relayed, "0")

        # A picture while *KENT* talks, with SM5XYZ's spell on the timeline.
        stations[0].talking = True
        self.wait_rows("*KENT* marked as talking", lambda r: r["*KENT*"]["talking"])
        full = self.browser.execute_script("return document.documentElement.scrollHeight;")
        self.browser.set_window_size(1280, full + 140)
        time.sleep(0.3)  # one frame at the new size before the picture
        self.browser.save_screenshot(os.path.join(OUTPUT, "dashboard.png"))
        stations[0].talking = False

        # The server restarts: the page shows "disconnected", then the new server's state.
        self.assertEqual(self.server.stop(), 0, self.server.output())
        support.wait_for(lambda: support.connection(self.browser) == "disconnected", WAIT,
                         "disconnected")
        self.server = Server(self.config)
        support.wait_for(lambda: support.connection(self.browser) == "live", WAIT, "live again")
        # The new server has relayed nothing yet: no talk spell, and the stations that keep
        # sending control packets are admitted again.
        support.wait_for(lambda: self.browser.execute_script(
            "return document.querySelectorAll('#spells tbody tr').length;") == 0, WAIT,
            "the new server's empty list of talk spells")
        self.wait_rows("the stations admitted again", lambda r: "OH2LATE" in r)
        self.conference.join("127.115.2.5", "AFTER")
        self.wait_rows("a station joined after the restart", lambda r: "AFTER" in r)
        self.assertEqual(self.browser.execute_script("return window.__sameDocument;"), 7)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    BINARY, OUTPUT = sys.argv[1], sys.argv[2]
    support.find_browser()
    os.makedirs(OUTPUT, exist_ok=True)
    result = unittest.main(argv=[sys.argv[0], "-v"], exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)
