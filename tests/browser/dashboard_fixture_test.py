"""The dashboard page in headless Chromium against a stand-in HTTP view (fixture_server.py):
what it shows for a known status, outside names shown as text, 26 stations, no talker,
updates from the event stream without a reload, "disconnected" while the server is away
and recovery when it is back, on a phone's and a desktop's width.

Usage: /usr/bin/python3 dashboard_fixture_test.py PAGE OUTPUT_DIRECTORY
Addresses: 127.115.1.1 (the stand-in server).
"""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser_support as support  # noqa: E402
import fixture_server as fixture  # noqa: E402

ADDRESS = "127.115.1.1"
PORT = 8117
PAGE = None
OUTPUT = None
WAIT = 15  # seconds, the bound of every wait on the page


def known_status(now):
    """Three stations, the second one talking, two spells and a few counters."""
    stations = [
        fixture.station("*KENT*", "192.0.2.10", now, joined_ago=600, idle_s=2.5, relayed=1234),
        fixture.station("SM5XYZ", "192.0.2.23", now, joined_ago=300, idle_s=0.0, relayed=56,
                        talking=True),
        fixture.station(None, "192.0.2.30", now, joined_ago=5, idle_s=5.0),
    ]
    spells = [fixture.spell("*KENT*", "192.0.2.10", now - 100, 12.5),
              fixture.spell("LA1OLD", "198.51.100.7", now - 1000, 65.0),
              fixture.spell("ANCIENT", "198.51.100.8", now - 3000, 5.0)]
    counters = {"relayed": 1290, "copies_sent": 2580, "firewalled": 7, "joins": 4,
                "keepalives": 1000000, "refusals_suppressed": 999}
    return fixture.status(now, stations, spells, counters, talker="192.0.2.23")


class Dashboard(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = fixture.Fixture(PAGE, ADDRESS, PORT, known_status(time.time())).start()
        cls.browser = support.start_browser(1280, 900)

    @classmethod
    def tearDownClass(cls):
        support.stop_browser(cls.browser)
        cls.server.stop()

    def open(self, status):
        self.server.set_status(status)
        self.browser.get(self.server.url())
        support.wait_for(lambda: support.connection(self.browser) == "live", WAIT, "live")
        support.wait_for(lambda: len(support.stations(self.browser)) ==
                         len(status["stations"]), WAIT, "the station rows")

    def script(self, text):
        return self.browser.execute_script(text)

    def test_shows_stations_talker_spells_timeline_and_counters(self):
        now = time.time()
        self.open(known_status(now))
        rows = support.stations(self.browser)
        self.assertEqual([r["name"] for r in rows], ["*KENT*", "SM5XYZ", "no name yet"])
        self.assertEqual([r["address"] for r in rows], ["192.0.2.10", "192.0.2.23", "192.0.2.30"])
        self.assertEqual([r["talking"] for r in rows], [False, True, False])
        # The talker looks different, and says so in words too.
        self.assertNotEqual(rows[1]["background"], rows[0]["background"])
        self.assertEqual(rows[0]["background"], rows[2]["background"])
        self.assertIn("TALKING", rows[1]["nameCell"])
        self.assertNotIn("TALKING", rows[0]["nameCell"])
        cells = self.script("return Array.from(document.querySelectorAll('#stations tbody tr'))"
                            ".map((tr) => Array.from(tr.cells).map((c) => c.textContent));")
        self.assertEqual(cells[0][3], "2.5 s")
        self.assertEqual(cells[0][4], "1,234")
        self.assertRegex(cells[0][2], r"^\d\d:\d\d:\d\d$")
        self.assertEqual(self.script("return document.getElementById('talker').textContent;"),
                         "SM5XYZ")
        spells = self.script("return Array.from(document.querySelectorAll('#spells tbody tr'))"
                             ".map((tr) => Array.from(tr.cells).map((c) => c.textContent));")
        self.assertEqual([s[0] for s in spells], ["*KENT*", "LA1OLD", "ANCIENT"])
        self.assertEqual([s[3] for s in spells], ["12.5 s", "1 min 05 s", "5.0 s"])
        counters = self.script("return Object.fromEntries(Array.from(document.querySelectorAll("
                               "'#counters [data-counter]')).map((d) => [d.dataset.counter, "
                               "d.querySelector('dd').textContent]));")
        self.assertEqual(counters["relayed"], "1,290")
        self.assertEqual(counters["copies_sent"], "2,580")
        self.assertEqual(counters["keepalives"], "1,000,000")
        self.assertEqual(len(counters), 19)
        self.assertEqual(counters["refusals_suppressed"], "999")
        # Timeline: a row per station, then LA1OLD who has left; ANCIENT's spell ended over
        # 30 minutes ago. Bars: KENT's spell, LA1OLD's, and the talker's live one.
        timeline = self.script("""
            const svg = document.querySelector('#timeline svg');
            return {labels: Array.from(svg.querySelectorAll('text.label')).map((t) => t.firstChild.textContent),
                    gone: Array.from(svg.querySelectorAll('text.label.gone')).map((t) => t.firstChild.textContent),
                    talking: Array.from(svg.querySelectorAll('text.label.talking')).map((t) => t.firstChild.textContent),
                    bars: svg.querySelectorAll('rect.spell').length,
                    live: svg.querySelectorAll('rect.spell.live').length,
                    width: svg.getBoundingClientRect().width};""")
        self.assertEqual(timeline["labels"], ["*KENT*", "SM5XYZ", "192.0.2.30", "LA1OLD"])
        self.assertEqual(timeline["gone"], ["LA1OLD"])
        self.assertEqual(timeline["talking"], ["SM5XYZ"])
        self.assertEqual(timeline["bars"], 3)
        self.assertEqual(timeline["live"], 1)
        self.assertGreater(timeline["width"], 1000)
        # Where on the 30-minute axis: KENT's bar starts 100 s before the right end.
        position = self.script("""
            const svg = document.querySelector('#timeline svg');
            const lane = svg.querySelector('rect.lane');
            const bar = svg.querySelectorAll('rect.spell')[0];
            const x0 = +lane.getAttribute('x'), w = +lane.getAttribute('width');
            return [(+bar.getAttribute('x') - x0) / w, +bar.getAttribute('width') / w];""")
        self.assertAlmostEqual(position[0], 1 - 100 / 1800, delta=0.01)
        self.assertAlmostEqual(position[1], 12.5 / 1800, delta=0.003)

    def test_outside_names_are_text_never_markup(self):
        now = time.time()
        hostile = "<script>window.__owned=1</script><b>X</b>&amp;"
        stations = [fixture.station(hostile, "192.0.2.66", now, joined_ago=9, talking=True),
                    fixture.station("<img src=x onerror=window.__owned=2>", "192.0.2.67", now,
                                    joined_ago=9)]
        spells = [fixture.spell(hostile, "192.0.2.66", now - 30, 4.0)]
        self.open(fixture.status(now, stations, spells, talker="192.0.2.66"))
        self.server.push("name", {"event": "name", "name": hostile, "address": "192.0.2.66"})
        support.wait_for(lambda: self.script(
            "return document.getElementById('events').textContent.includes('window.__owned');"),
            WAIT, "the name event")
        rows = support.stations(self.browser)
        self.assertEqual(rows[0]["name"], hostile)
        self.assertEqual(rows[0]["elementsInName"], 0)
        self.assertEqual(rows[1]["name"], "<img src=x onerror=window.__owned=2>")
        self.assertEqual(self.script("return document.getElementById('talker').textContent;"),
                         hostile)
        self.assertEqual(self.script(
            "return document.querySelector('#spells tbody td').textContent;"), hostile)
        self.assertEqual(self.script("return document.querySelector('#timeline text.label title')"
                                     ".textContent;"), hostile)
        self.assertIsNone(self.script("return window.__owned === undefined ? null : window.__owned;"))
        self.assertEqual(self.script("return document.querySelectorAll('main img, main b, "
                                     "main script').length;"), 0)

    def test_links_in_their_own_list_and_the_talker_marked_through_its_link(self):
        now = time.time()
        peer = fixture.station("*PEER*", "192.0.2.40", now, joined_ago=60, talking=True)
        peer.update({"link": True, "link_host": "peer.example.net"})
        local = fixture.station("G4LOC", "192.0.2.41", now, joined_ago=30)
        local.update({"link": False, "link_host": None})
        status = fixture.status(now, [peer, local], talker="192.0.2.40")
        status["links"] = [
            {"key": 1, "host": "peer.example.net", "address": "192.0.2.40", "link": True,
             "link_state": "up", "since": fixture.rfc3339(now - 60)},
            {"key": 2, "host": "<b>far</b>.example.org", "address": "198.51.100.9",
             "link": True, "link_state": "refused", "since": fixture.rfc3339(now - 5)}]
        self.open(status)
        links = self.script(
            "return Array.from(document.querySelectorAll('#links tbody tr')).map((tr) =>"
            " Array.from(tr.cells).map((c) => c.textContent));")
        self.assertEqual([row[:3] for row in links],
                         [["peer.example.net", "192.0.2.40", "up"],
                          ["<b>far</b>.example.org", "198.51.100.9", "refused"]])
        self.assertRegex(links[0][3], r"^\d\d:\d\d:\d\d$")
        self.assertTrue(self.script(
            "const s = document.getElementById('links-section');"
            " return !s.hidden && s.getBoundingClientRect().height > 0;"))
        self.assertEqual(self.script("return document.getElementById('links-count').textContent;"),
                         "(1 of 2 up)")
        self.assertEqual(self.script("return document.querySelectorAll('#links b').length;"), 0)
        rows = support.stations(self.browser)
        self.assertIn("LINK", rows[0]["nameCell"])
        self.assertIn("peer.example.net", rows[0]["nameCell"])
        self.assertIn("TALKING", rows[0]["nameCell"])
        self.assertNotIn("LINK", rows[1]["nameCell"])
        self.assertEqual(self.script("return document.getElementById('talker').textContent;"),
                         "*PEER* via link peer.example.net")
        # A server without links shows no links section.
        self.open(fixture.status(now, [local]))
        support.wait_for(lambda: self.script(
            "return document.getElementById('links-section').hidden;"), WAIT, "no links")

    def test_twenty_six_stations_and_no_talker(self):
        now = time.time()
        stations = [fixture.station("ST%02d" % i, "192.0.2.%d" % (100 + i), now,
                                    joined_ago=1000 - i, relayed=i) for i in range(26)]
        stations[7]["name"] = None
        self.open(fixture.status(now, stations, talker=None, capacity=25))
        rows = support.stations(self.browser)
        self.assertEqual(len(rows), 26)
        self.assertTrue(all(r["visible"] for r in rows))
        self.assertFalse(any(r["talking"] for r in rows))
        self.assertEqual(rows[7]["name"], "no name yet")
        self.assertEqual(rows[25]["name"], "ST25")
        self.assertEqual(self.script("return document.getElementById('talker').textContent;"),
                         "nobody")
        self.assertEqual(self.script("return document.querySelectorAll('#timeline text.label')"
                                     ".length;"), 26)
        self.assertEqual(self.script("return document.querySelectorAll('#timeline rect.spell')"
                                     ".length;"), 0)
        self.assertFalse(self.script("return document.getElementById('no-timeline').hidden;"))
        self.assertFalse(self.script("return document.getElementById('no-spells').hidden;"))

    def test_follows_events_without_reload_and_recovers_from_a_restart(self):
        now = time.time()
        self.open(known_status(now))
        self.script("window.__sameDocument = 42;")
        support.wait_for(lambda: self.server.stream_count() >= 1, WAIT, "the event stream")
        # A join: the page fetches the status again at once, not at its next poll.
        joined = known_status(time.time())
        joined["stations"].append(fixture.station("NEW1", "192.0.2.40", time.time(), 0))
        self.server.set_status(joined)
        self.server.push("join", {"event": "join", "name": "-", "address": "192.0.2.40"})
        support.wait_for(lambda: [r["name"] for r in support.stations(self.browser)][-1] == "NEW1",
                         WAIT, "the fourth station")
        # A status text, sent as an unnamed event, shows in the header and the event list.
        self.server.push(None, {"event": "status", "text": "FIREWALL"})
        support.wait_for(lambda: self.script(
            "return document.getElementById('status-text').textContent;") == "FIREWALL",
            WAIT, "the status text")
        events = self.script("return Array.from(document.querySelectorAll('#events li .kind'))"
                             ".map((k) => k.textContent);")
        self.assertEqual(events[:2], ["status", "join"])
        # The server goes away: the page says so and keeps what it last saw.
        self.server.stop()
        support.wait_for(lambda: support.connection(self.browser) == "disconnected", WAIT,
                         "disconnected")
        self.assertEqual(len(support.stations(self.browser)), 4)
        # It comes back with other stations: the page picks them up by itself.
        now = time.time()
        self.server.set_status(fixture.status(now, [fixture.station("BACK", "192.0.2.50", now, 1)]))
        self.server.start()
        support.wait_for(lambda: support.connection(self.browser) == "live", WAIT + 10,
                         "live again")
        support.wait_for(lambda: [r["name"] for r in support.stations(self.browser)] == ["BACK"],
                         WAIT, "the stations after the restart")
        self.assertEqual(self.script("return window.__sameDocument;"), 42)

    def test_a_burst_of_events_costs_a_few_status_fetches(self):
        self.open(known_status(time.time()))
        support.wait_for(lambda: self.server.stream_count() >= 1, WAIT, "the event stream")
        before = self.server.requested().count("/api/status")
        for i in range(300):
            self.server.push("status", {"event": "status", "text": "FIREWALL %d" % i})
        support.wait_for(lambda: self.script(
            "return document.getElementById('status-text').textContent;") == "FIREWALL 299",
            WAIT, "the last status text")
        listed = ("return Array.from(document.querySelectorAll('#events li'))"
                  ".map((li) => li.textContent);")
        # The list is drawn on its own frame, which may come after the status text's.
        support.wait_for(lambda: len(self.script(listed)) == 30, WAIT, "the event list")
        shown = self.script(listed)
        self.assertEqual(len(shown), 30)  # the newest 30, newest first
        self.assertTrue(shown[0].endswith("FIREWALL 299"), shown[0])
        self.assertTrue(shown[29].endswith("FIREWALL 270"), shown[29])
        # The burst brings the status again, once per debounce interval at most, not once
        # per event.
        fetches = support.wait_for(
            lambda: self.server.requested().count("/api/status") - before, WAIT,
            "a status fetch after the burst")
        self.assertLess(fetches, 10)

    def test_fetches_nothing_but_its_own_endpoints(self):
        self.open(known_status(time.time()))
        paths = set(self.server.requested()) - {"/favicon.ico"}  # the browser's own request
        self.assertEqual(paths, {"/", "/api/status", "/api/events"})
        resources = self.script("return performance.getEntriesByType('resource')"
                                ".map((r) => r.name);")
        self.assertIn(self.server.url("/api/status"), resources)
        for name in resources:
            if name != self.server.url("/favicon.ico"):
                self.assertTrue(name.startswith(self.server.url("/api/")), name)

    def test_fits_a_phone_and_a_desktop(self):
        now = time.time()
        status = fixture.demo_status(now)
        self.server.set_status(status)
        browser = self.browser
        try:
            for width, height, phone in ((390, 844, True), (1280, 900, False)):
                # The same browser, shown a phone's or a desktop's viewport.
                browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                    "width": width, "height": height, "deviceScaleFactor": 1, "mobile": phone})
                browser.get(self.server.url())
                support.wait_for(lambda: len(support.stations(browser)) == len(status["stations"]),
                                 WAIT, "the station rows")
                support.wait_for(lambda: browser.execute_script(
                    "return document.querySelector('#timeline svg') !== null;"), WAIT, "timeline")
                layout = browser.execute_script("""
                    const box = (id) => document.getElementById(id).getBoundingClientRect();
                    return {scroll: document.documentElement.scrollWidth, inner: window.innerWidth,
                            timeline: document.querySelector('#timeline svg').getBoundingClientRect().width,
                            stations: box('stations-section'), spells: box('spells-section'),
                            counters: box('counters-section'),
                            header: getComputedStyle(document.querySelector('#stations thead')).display};""")
                self.assertEqual(layout["inner"], width)
                self.assertLessEqual(layout["scroll"], width, "no sideways scrolling")
                self.assertLessEqual(layout["timeline"], width)
                if phone:
                    # One column; the station table turns into cards without a header row.
                    self.assertEqual(layout["header"], "none")
                    self.assertGreater(layout["counters"]["top"], layout["spells"]["bottom"])
                else:
                    self.assertNotEqual(layout["header"], "none")
                    self.assertAlmostEqual(layout["counters"]["top"], layout["spells"]["top"], delta=1)
                    self.assertGreater(layout["counters"]["left"], layout["spells"]["right"])
                full = browser.execute_script("return document.documentElement.scrollHeight;")
                browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                    "width": width, "height": full, "deviceScaleFactor": 1, "mobile": phone})
                support.wait_for(lambda: browser.execute_script(
                    "return window.innerHeight;") == full, WAIT, "the page's full height")
                browser.save_screenshot(os.path.join(
                    OUTPUT, "dashboard-fixture-%s.png" % ("phone" if phone else "desktop")))
        finally:
            browser.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})

if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    PAGE, OUTPUT = sys.argv[1], sys.argv[2]
    support.find_browser()
    os.makedirs(OUTPUT, exist_ok=True)
    result = unittest.main(argv=[sys.argv[0], "-v"], exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)
