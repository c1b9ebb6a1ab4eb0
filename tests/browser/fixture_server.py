"""A stand-in for the server's HTTP view, for testing the dashboard page on its own.

Serves the page file at /, a status object that the test sets at /api/status (the schema of
README.md's "Watching the server"), and server-sent events that the test pushes at
/api/events. It records every path asked for, so a test can tell what the page fetched.

Run on its own to look at the page with made-up figures:
    /usr/bin/python3 tests/browser/fixture_server.py --page src/monitor/dashboard.html
"""

import argparse
import datetime
import json
import queue
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def rfc3339(seconds):
    """Seconds since 1970 as an RFC 3339 UTC time with milliseconds."""
    moment = datetime.datetime.fromtimestamp(seconds, tz=datetime.timezone.utc)
    return moment.strftime("%Y-%m-%dT%H:%M:%S.") + "%03dZ" % (moment.microsecond // 1000)


COUNTER_NAMES = ("relayed", "copies_sent", "firewalled", "unregistered", "text_datagrams",
                 "queue_clears", "drained", "control_errors", "joins", "refusals", "denials",
                 "timeouts", "byes", "beacons", "keepalives", "loops", "muted", "rate_limited",
                 "refusals_suppressed")


def station(name, address, now, joined_ago, idle_s=0.0, relayed=0, talking=False,
            firewalled=0, state="active"):
    return {"name": name, "address": address, "state": state,
            "joined_at": rfc3339(now - joined_ago), "last_heard_at": rfc3339(now - idle_s),
            "idle_s": idle_s, "talking": talking, "relayed": relayed, "firewalled": firewalled,
            "muted": 0, "rate_limited": 0}


def spell(name, address, started, duration_s):
    return {"name": name, "address": address, "started_at": rfc3339(started),
            "duration_s": duration_s}


def status(now, stations, spells=(), counters=None, talker=None, started_ago=3600.0,
           capacity=8):
    """A whole /api/status object at server time now (seconds since 1970)."""
    values = {name: 0 for name in COUNTER_NAMES}
    values.update(counters or {})
    return {
        "server": {"node": "*FIXTURE*", "description": "TEST CONFERENCE", "version": "3.68",
                   "bind": "127.115.1.1", "started_at": rfc3339(now - started_ago),
                   "uptime_s": started_ago, "capacity": capacity,
                   "station_count": len(stations), "talker": talker, "directory_index": 1},
        "stations": list(stations),
        "counters": values,
        "talk_spells": list(spells),
    }


def demo_status(now):
    """Made-up figures of a busy half hour, for looking at the page."""
    names = [("*KENT*", "192.0.2.10"), ("SM5XYZ-L", "192.0.2.23"), ("LA1ABC", "198.51.100.7"),
             ("OH2R-R", "203.0.113.45"), ("G4DEF", "198.51.100.99")]
    stations = []
    for i, (name, address) in enumerate(names):
        stations.append(station(name, address, now, joined_ago=2400 - 300 * i,
                                idle_s=[0.4, 3.0, 12.0, 1.0, 47.0][i],
                                relayed=[18234, 940, 0, 5120, 77][i], talking=(i == 0)))
    stations.append(station(None, "192.0.2.200", now, joined_ago=4, idle_s=4.0))
    spells = []
    t = now - 1750
    pattern = [1, 3, 0, 1, 3, 4, 0, 1, 3, 0, 6, 1, 0, 3]
    for i, who in enumerate(pattern):
        length = [45.0, 12.5, 80.0, 33.0, 6.0, 140.0, 21.5][i % 7]
        if who == 6:
            name, address = "PA3OLD", "198.51.100.150"  # has left since
        else:
            name, address = names[who]
        spells.append(spell(name, address, t, length))
        t += length + [60, 20, 95, 40, 130, 15, 70][i % 7]
    spells.append(spell("*KENT*", "192.0.2.10", now - 8.0, 8.0))
    spells.reverse()
    counters = {"relayed": 24371, "copies_sent": 97484, "firewalled": 52, "unregistered": 3,
                "text_datagrams": 1, "queue_clears": 0, "drained": 0, "control_errors": 2,
                "joins": 9, "refusals": 1, "denials": 0, "timeouts": 2, "byes": 2,
                "beacons": 418, "keepalives": 611}
    demo = status(now, stations, spells, counters, talker="192.0.2.10", started_ago=9000.0,
                  capacity=25)
    demo["server"].update(node="*DEMO*", description="EXAMPLE CONFERENCE", bind="192.0.2.1")
    return demo


class Fixture:
    """The stand-in HTTP view on address:port, serving page_path."""

    def __init__(self, page_path, address, port, initial_status=None):
        with open(page_path, "rb") as page:
            self.page = page.read()
        self.address = address
        self.port = port
        self.lock = threading.Lock()
        self.status = initial_status if initial_status is not None else status(0, [])
        self.paths = []
        self.streams = []
        self.stopping = threading.Event()
        self.server = None
        self.thread = None

    def url(self, path="/"):
        return "http://%s:%d%s" % (self.address, self.port, path)

    def set_status(self, value):
        with self.lock:
            self.status = value

    def push(self, name, data):
        """Sends one event to every open event stream; name None sends an unnamed one."""
        text = ("event: %s\n" % name if name else "") + "data: %s\n\n" % json.dumps(data)
        with self.lock:
            for stream in self.streams:
                stream.put(text.encode())

    def stream_count(self):
        with self.lock:
            return len(self.streams)

    def requested(self):
        with self.lock:
            return list(self.paths)

    def start(self):
        fixture = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def answer(self, code, kind, body):
                self.send_response(code)
                self.send_header("Content-Type", kind)
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                self.wfile.write(body)

            def do_GET(self):
                with fixture.lock:
                    fixture.paths.append(self.path)
                    current = fixture.status
                if self.path == "/":
                    self.answer(200, "text/html; charset=utf-8", fixture.page)
                elif self.path == "/api/status":
                    self.answer(200, "application/json", json.dumps(current).encode())
                elif self.path == "/api/events":
                    self.events()
                else:
                    self.answer(404, "text/plain", b"not found\n")

            def events(self):
                self.send_response(200)
                self.send_header("Content-Type", "text/event-stream")
                self.send_header("Cache-Control", "no-store")
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.write(b": hello\n\n")
                self.wfile.flush()
                stream = queue.Queue()
                with fixture.lock:
                    fixture.streams.append(stream)
                try:
                    while not fixture.stopping.is_set():
                        try:
                            chunk = stream.get(timeout=0.1)
                        except queue.Empty:
                            continue
                        self.wfile.write(chunk)
                        self.wfile.flush()
                except OSError:
                    pass
                finally:
                    with fixture.lock:
                        fixture.streams.remove(stream)
                    self.close_connection = True

        class Server(ThreadingHTTPServer):
            daemon_threads = True
            allow_reuse_address = True

        self.stopping.clear()
        self.server = Server((self.address, self.port), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever,
                                       kwargs={"poll_interval": 0.05}, daemon=True)
        self.thread.start()
        return self

    def stop(self):
        """Stops listening and ends every event stream (as a server that goes away)."""
        if self.server is None:
            return
        self.stopping.set()
        self.server.shutdown()
        self.server.server_close()
        self.thread.join(timeout=5)
        self.server = None


def main():
    import time

    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--page", required=True)
    parser.add_argument("--address", default="127.115.1.1")
    parser.add_argument("--port", type=int, default=8115)
    options = parser.parse_args()
    fixture = Fixture(options.page, options.address, options.port, demo_status(time.time()))
    fixture.start()
    print("serving " + fixture.url(), flush=True)
    try:
        while True:
            time.sleep(1)
            fixture.set_status(demo_status(time.time()))
    except KeyboardInterrupt:
        fixture.stop()


if __name__ == "__main__":
    main()
