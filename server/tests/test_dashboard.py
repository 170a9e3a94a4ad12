"""The dashboard, end to end: the service as a real process on each database,
offers published with the command line, checks and reports sent over HTTP,
and the pages read in headless Chromium, signed in through the page's own
form. What the pages show is compared with the database, read here with
plain SQL, not through the service's Store.

Older hours are written through Store with their own timestamps: the service
stamps what it receives with the present hour, and the chart needs a history."""

import contextlib
import os
import re
import sqlite3
import sys
import time
import unittest
import urllib.parse
import uuid

# The tests' folder on the path also when run as tests.test_dashboard from server/.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import support  # noqa: E402
from headless_chromium import Chromium  # noqa: E402
from vlrenova_service.store import open_store  # noqa: E402

HOUR = 3600
DEMO, TOOLS, VIEWER = "Velbor Demo", "Velbor Tools", "Velbor <i>Viewer</i>"
HOSTILE_VERSIONS = ("<script>alert(1)</script>", '<img src="http://198.51.100.7/x.png">')
ACTION_MEANINGS = {9: "a download", 10: "the update's setup", 11: "the installation's setup", 13: "StartProcess",
                   14: "StopProcess", 15: "DelRegValue", 16: "StartService", 17: "StopService", 18: "SetRegValue"}
# The state of a run's end, as the page names it.
KINDS = {"offered": "offered", "started": "-1", "succeeded": "0", "failed": "1", "canceled": "2"}
FORM = {"Content-Type": "application/x-www-form-urlencoded"}

# What the pages show, read in the page by DevTools (the page itself runs no script).
READ_OVERVIEW = """(() => {
  const text = e => e ? e.textContent.trim() : null;
  const plain = new Set(['n', 'text', 'small', 'muted']);
  const row = tr => Object.fromEntries([...tr.querySelectorAll('td')].map((td, i) =>
      [[...td.classList].filter(c => !plain.has(c)).pop() || 'c' + i, text(td)]));
  return {
    products: [...document.querySelectorAll('section.product')].map(s => ({
      name: text(s.querySelector('h2')),
      offers: [...s.querySelectorAll('tr.offer')].map(tr => Object.assign(row(tr), {id: tr.id})),
      halts: [...s.querySelectorAll('.reason')].map(d => [d.id, text(d)]),
      machines: text(s.querySelector('.machines')),
      versions: [...s.querySelectorAll('tr.installed')].map(tr => [text(tr.cells[0]), text(tr.cells[1])]),
    })),
    events: [...document.querySelectorAll('tr.event')].map(tr => [...tr.cells].map(text)),
    markup: document.querySelectorAll('script, img, iframe, object, embed, i, b').length,
    forms: [...document.forms].map(f => f.getAttribute('action')),
    body: document.body.innerText,
  };
})()"""
READ_OFFER = """(() => {
  const text = e => e ? e.textContent.trim() : null;
  const svg = document.querySelector('svg.chart');
  const number = (e, name) => parseFloat(e.getAttribute(name));
  return {
    tiles: Object.fromEntries([...document.querySelectorAll('.tile')].map(t =>
        [t.id, text(t.querySelector('.value'))])),
    ended: text(document.querySelector('#tile-share .ended')),
    halt: text(document.querySelector('#halt-reason')),
    state: text(document.querySelector('h2 .badge')),
    codes: [...document.querySelectorAll('tr.code')].map(tr => [...tr.cells].map(text)),
    events: [...document.querySelectorAll('tr.event')].map(tr => text(tr.cells[1])),
    points: [...svg.querySelectorAll('circle.hour')].map(c =>
        [parseInt(c.dataset.bucket), number(c, 'cx'), number(c, 'cy'), text(c.querySelector('title'))]),
    axis: [...svg.querySelectorAll('line.grid')].map((l, i) =>
        [parseFloat(svg.querySelectorAll('text.share')[i].textContent) / 100, number(l, 'y1')]),
    limit: svg.querySelector('line.limit') ? number(svg.querySelector('line.limit'), 'y1') : null,
    overall: svg.querySelector('path.overall') ? svg.querySelector('path.overall').getAttribute('d') : '',
    scripts: document.querySelectorAll('script').length,
  };
})()"""


def query(url, statement, parameters=()):
    """Rows straight from the database, without the service's code."""
    if url.startswith("sqlite:"):
        with contextlib.closing(sqlite3.connect(url[len("sqlite:"):])) as connection:
            return connection.execute(statement, parameters).fetchall()
    import psycopg
    with psycopg.connect(url) as connection:
        return connection.execute(statement.replace("?", "%s"), parameters).fetchall()


def whole(text):
    return int(text.replace(",", ""))


def share_text(failed, ended):
    return "%.1f %%" % (100.0 * failed / ended) if ended else "\u2013"


def guids(count, tag):
    return ["%08d-%s" % (i, uuid.uuid5(uuid.NAMESPACE_OID, "%s-%d" % (tag, i))) for i in range(count)]


class Fleet:
    """A service with three offers and their history, on one database:
    Velbor Demo 2.0.0 (101) complete with four hours of runs, Velbor Tools 3.1
    (202) halted by its failures, Velbor <i>Viewer</i> 1.5 (303) rolling at 25 %."""

    def __init__(self, database, gunicorn=0):
        self.folder = support.ServiceFolder(halt_min_runs=10, halt_failure_share=0.2)
        self.url = support.database_urls()[database](self.folder.folder)
        self.folder.set(database=self.url)
        self.folder.publish(DEMO, "2.0.0", 101, rollout=100)
        self.folder.publish(TOOLS, "3.1", 202, rollout=100)
        self.folder.publish(VIEWER, "1.5", 303, rollout=10)
        support.run_command("rollout", "--config", self.folder.config, 303, 25)
        self.write_history()
        self.service = support.ServiceProcess(self.folder, gunicorn=gunicorn)
        self.base = "http://127.0.0.1:%d/dashboard" % self.service.port
        self.send_checks_and_reports()

    def write_history(self):
        store = open_store(self.url)
        now = int(time.time())
        # (hours ago, succeeded, failed with code, canceled); offered and started before each.
        for ago, succeeded, failed, canceled in ((5, 8, 1, 0), (3, 5, 0, 2), (2, 6, 2, 0)):
            at = now - now % HOUR - ago * HOUR + 60
            for n, guid in enumerate(guids(succeeded + failed + canceled, "history-%d" % ago)):
                store.record_check(DEMO, guid, "1.0.0", 101, now=at)
                store.record_report(101, -1, False, guid, "9.4.10", now=at)
                if n < succeeded:
                    store.record_report(101, 0, False, guid, "9.4.10", now=at)
                elif n < succeeded + failed:
                    store.record_report(101, 9 if n % 2 else 13, False, guid, "9.4.10", now=at)
                    store.record_report(101, 1, False, guid, "9.4.10", now=at)
                else:
                    store.record_report(101, 2, False, guid, "9.4.10", now=at)
        store.close()

    def send_checks_and_reports(self):
        s = self.service
        demo = guids(12, "demo")
        for n, guid in enumerate(demo):
            versions = HOSTILE_VERSIONS + ("1.0.0", "1.0.0", "1.1.0")
            self.ok(s.check(DEMO, versions[n % len(versions)], guid)[0])
            self.ok(s.report(101, -1, guid))
            if n < 9:
                self.ok(s.report(101, 0, guid))
            elif n < 11:
                self.ok(s.report(101, 9, guid))
                self.ok(s.report(101, 1, guid))
            else:
                self.ok(s.report(101, 2, guid))
        tools = guids(14, "tools")
        for guid in tools:
            self.ok(s.check(TOOLS, "3.0", guid)[0])
        # 6 of the first 10 ended runs fail (10 then 1): it halts at the tenth.
        for n, guid in enumerate(tools[:10]):
            self.ok(s.report(202, -1, guid))
            if n in (0, 1, 2, 4, 6, 8):
                self.ok(s.report(202, 10 if n != 1 else 14, guid))
                self.ok(s.report(202, 1, guid))
            else:
                self.ok(s.report(202, 0, guid))
        for guid in guids(16, "viewer"):
            self.ok(s.check(VIEWER, "1.4", guid)[0])

    @staticmethod
    def ok(status):
        if status != 200:
            raise AssertionError("the service answered %d" % status)

    # --- the database, read directly ---------------------------------------------------

    def counts(self, update_id):
        rows = query(self.url, "SELECT kind, SUM(count) FROM offer_counts WHERE update_id = ? GROUP BY kind",
                     (update_id,))
        return {kind: int(total) for kind, total in rows}

    def buckets(self, update_id):
        rows = query(self.url, "SELECT bucket, kind, count FROM offer_counts WHERE update_id = ? ORDER BY bucket",
                     (update_id,))
        found = {}
        for bucket, kind, count in rows:
            found.setdefault(int(bucket), {})[kind] = int(count)
        return found

    def offers(self):
        rows = query(self.url, "SELECT update_id, version, percent, halted, halt_reason, min_runs, failure_limit "
                               "FROM offers")
        return {int(r[0]): r[1:] for r in rows}

    def versions(self, product):
        return sorted((v, int(n)) for v, n in query(
            self.url, "SELECT version, COUNT(*) FROM machines WHERE program_name = ? GROUP BY version", (product,)))

    def events(self, update_id=None):
        rows = query(self.url, "SELECT update_id, text FROM events ORDER BY id DESC")
        return [(int(u), t) for u, t in rows if update_id is None or int(u) == update_id]

    def stop(self):
        self.service.stop()


class DashboardCases:
    database = None
    gunicorn = 0

    @classmethod
    def setUpClass(cls):
        cls.fleet = Fleet(cls.database, cls.gunicorn)

    @classmethod
    def tearDownClass(cls):
        cls.fleet.stop()

    def test_the_database_holds_what_was_sent(self):
        # The comparisons below are with the database: first, that it holds the runs sent.
        demo, tools = self.fleet.counts(101), self.fleet.counts(202)
        self.assertEqual((demo["0"], demo["1"], demo["2"], demo["-1"]), (19 + 9, 3 + 2, 2 + 1, 24 + 12))
        self.assertEqual((tools["1"], tools["0"], tools["10"], tools["14"]), (6, 4, 5, 1))
        offers = self.fleet.offers()
        self.assertEqual(offers[202][2], 1, "Velbor Tools halted itself")
        self.assertIn("6 of 10 ended runs failed", offers[202][3])
        self.assertEqual((offers[303][1], offers[303][2]), (25, 0))
        # Three hours of history and the present one (or two, should the hour have turned meanwhile).
        self.assertIn(len(self.fleet.buckets(101)), (4, 5))

    def test_access_over_http(self):
        service, token = self.fleet.service, self.fleet.folder.token
        names = (DEMO, TOOLS, "offer-101", "UpdateId 202")

        def assert_guarded(headers, body, status, expected):
            self.assertEqual(status, expected, body[:300])
            self.assertEqual(headers.get("Cache-Control"), "no-store")
            self.assertEqual(headers.get("X-Frame-Options"), "DENY")
            policy = headers.get("Content-Security-Policy", "")
            self.assertIn("default-src 'none'", policy)
            self.assertNotIn("script-src", policy)
            self.assertIn("frame-ancestors 'none'", policy)

        def assert_hidden(body):
            text = body.decode("utf-8")
            for name in names:
                self.assertNotIn(name, text)
            self.assertIn('name="token"', text)

        status, headers, body = service.get("/dashboard")
        assert_guarded(headers, body, status, 401)
        assert_hidden(body)
        status, headers, body = service.get("/dashboard/offer/202", {"Authorization": "Bearer not-" + token})
        assert_guarded(headers, body, status, 403)
        assert_hidden(body)
        self.assertIn("wrong token in its Authorization header", service.log_text())
        status, headers, body = service.get("/dashboard/offer/202", {"Authorization": "Bearer " + token})
        assert_guarded(headers, body, status, 200)
        self.assertIn(b"UpdateId 202", body)
        self.assertEqual(service.get("/dashboard/offer/999", {"Authorization": "Bearer " + token})[0], 404)
        self.assertEqual(service.get("/dashboard/elsewhere", {"Authorization": "Bearer " + token})[0], 404)
        self.assertEqual(service.request("POST", "/dashboard", b"", {"Authorization": "Bearer " + token})[0], 405)

        # The form: a wrong token is refused and logged, the right one gives a
        # cookie for /dashboard only and leads to the page asked for, never elsewhere.
        def sign_in(given, next_path):
            return service.request("POST", "/dashboard/login",
                                   urllib.parse.urlencode({"token": given, "next": next_path}).encode(), FORM)
        status, headers, body = sign_in("not-" + token, "/offer/101")
        self.assertEqual(status, 403)
        self.assertNotIn("Set-Cookie", headers)
        assert_hidden(body)
        self.assertIn("sign-in from 127.0.0.1 refused: wrong token", service.log_text())
        status, headers, _ = sign_in(token, "/offer/101")
        self.assertEqual((status, headers.get("Location")), (303, "/dashboard/offer/101"))
        cookie = headers["Set-Cookie"]
        attributes = {a.strip().split("=")[0].lower(): a.strip() for a in cookie.split(";")[1:]}
        self.assertEqual(set(attributes), {"path", "max-age", "httponly", "samesite"})
        self.assertEqual((attributes["path"], attributes["samesite"]), ("Path=/dashboard", "SameSite=Strict"))
        self.assertNotIn(token, cookie, "the cookie holds a session, not the token")
        session = cookie.split(";")[0]
        status, _, body = service.get("/dashboard", {"Cookie": "other=1; " + session})
        self.assertEqual(status, 200)
        self.assertIn(b"offer-101", body)
        for elsewhere in ("//198.51.100.7/", "https://198.51.100.7/dashboard", "/../healthz"):
            self.assertEqual(sign_in(token, elsewhere)[1].get("Location"), "/dashboard")
        # A cookie changed anywhere is no session.
        name, value = session.split("=", 1)
        expires, mac = value.split(".")
        other_mac = mac[:-1] + ("1" if mac[-1] == "0" else "0")
        for forged in ("%s.%s" % (int(expires) + 10 ** 6, mac), "%s.%s" % (expires, other_mac), expires, token):
            status, _, body = service.get("/dashboard", {"Cookie": "%s=%s" % (name, forged)})
            self.assertEqual(status, 401, forged)
            assert_hidden(body)
        status, headers, _ = service.request("POST", "/dashboard/logout", b"", {"Cookie": session})
        self.assertEqual(status, 303)
        self.assertIn("Max-Age=0", headers["Set-Cookie"])

    def test_the_pages_in_chromium_show_the_database(self):
        fleet = self.fleet
        with Chromium() as browser:
            # Without the token, and with a wrong one, no numbers.
            self.assertEqual(browser.open(fleet.base), 401)
            page = browser.evaluate(READ_OVERVIEW)
            self.assertEqual((page["products"], page["forms"]), ([], ["/dashboard/login"]))
            self.assertNotIn(DEMO, page["body"])
            self.assertEqual(browser.submit("#token", "wrong-" + fleet.folder.token), 403)
            page = browser.evaluate(READ_OVERVIEW)
            self.assertEqual(page["products"], [])
            self.assertIn("not the dashboard's token", page["body"])
            # Signing in through the form, as a person does.
            self.assertEqual(browser.submit("#token", fleet.folder.token), 200)
            self.assertEqual(browser.evaluate("location.href"), fleet.base)
            [cookie] = browser.cookies()
            self.assertEqual((cookie["path"], cookie["httpOnly"], cookie["sameSite"]), ("/dashboard", True, "Strict"))
            self.check_overview(browser.evaluate(READ_OVERVIEW))

            self.assertEqual(browser.open(fleet.base + "/offer/202"), 200)
            self.check_offer(202, browser.evaluate(READ_OVERVIEW), browser.evaluate(READ_OFFER))
            self.assertEqual(browser.open(fleet.base + "/offer/101"), 200)
            self.check_offer(101, browser.evaluate(READ_OVERVIEW), browser.evaluate(READ_OFFER))

            # Nothing was fetched from anywhere else, and the page kept within its own policy.
            for url in browser.requested_urls():
                self.assertTrue(url.startswith(fleet.base), url)
            for entry in browser.log_entries():
                self.assertNotIn("Content Security Policy", entry.get("text", ""), entry)

    def check_overview(self, page):
        fleet = self.fleet
        offers = fleet.offers()
        products = {p["name"]: p for p in page["products"]}
        self.assertEqual(set(products), {DEMO, TOOLS, VIEWER}, "a product's name shows as its text")
        self.assertEqual(page["markup"], 0, "no element came from a text")
        for name, update_id, state in ((DEMO, 101, "complete"), (TOOLS, 202, "halted"), (VIEWER, 303, "rolling")):
            product = products[name]
            [row] = product["offers"]
            version, percent, halted, reason, min_runs, limit = offers[update_id]
            counts = fleet.counts(update_id)
            self.assertEqual(row["id"], "offer-%d" % update_id)
            self.assertEqual((row["version"], row["state"], row["rollout"]), (version, state, "%g %%" % percent))
            for kind, key in KINDS.items():
                self.assertEqual(whole(row[kind]), counts.get(key, 0), (name, kind))
            ended = sum(counts.get(k, 0) for k in ("0", "1", "2"))
            self.assertIn(share_text(counts.get("1", 0), ended), row.values())
            self.assertIn("limit %.1f %% after %d runs" % (100 * limit, min_runs), row.values())
            self.assertEqual(product["halts"], [["halt-%d" % update_id, "UpdateId %d halted: %s" % (update_id, reason)]]
                             if halted else [])
            expected = fleet.versions(name)
            self.assertEqual(sorted((v, whole(n)) for v, n in product["versions"]), expected)
            self.assertEqual(whole(product["machines"]), sum(n for _, n in expected))
        # The hostile versions are there as the texts they are.
        shown = [v for v, _ in products[DEMO]["versions"]]
        for version in HOSTILE_VERSIONS:
            self.assertIn(version, shown)
        self.assertEqual([(int(e[1]), e[3]) for e in page["events"]], fleet.events()[:len(page["events"])])
        self.assertIn((303, "rollout 10 % -> 25 %"), [(int(e[1]), e[3]) for e in page["events"]])

    def check_offer(self, update_id, markup, page):
        fleet = self.fleet
        version, percent, halted, reason, min_runs, limit = fleet.offers()[update_id]
        counts = fleet.counts(update_id)
        self.assertEqual(page["scripts"], 0)
        self.assertEqual(markup["markup"], 0)
        self.assertEqual(page["tiles"]["tile-rollout"], "%g %%" % percent)
        for kind, key in KINDS.items():
            self.assertEqual(whole(page["tiles"]["tile-" + kind]), counts.get(key, 0), kind)
        ended = sum(counts.get(k, 0) for k in ("0", "1", "2"))
        self.assertEqual((page["tiles"]["tile-share"], whole(page["ended"])), (share_text(counts.get("1", 0), ended),
                                                                                ended))
        self.assertEqual(page["halt"], "Halted: " + reason if halted else None)
        self.assertEqual(page["state"], "halted" if halted else "complete")
        codes = sorted(((int(k), n) for k, n in counts.items() if k.lstrip("-").isdigit() and 9 <= int(k) <= 18),
                       key=lambda c: (-c[1], c[0]))
        self.assertEqual([(int(c), what, whole(n)) for c, what, n, _ in page["codes"]],
                         [(c, ACTION_MEANINGS[c], n) for c, n in codes])
        self.assertEqual(page["events"], [t for _, t in fleet.events(update_id)])
        # The chart: a point per hour with ended runs, at its share on the chart's own axis.
        buckets = fleet.buckets(update_id)
        ended_buckets = {b: k for b, k in buckets.items() if sum(k.get(s, 0) for s in ("0", "1", "2"))}
        self.assertEqual([p[0] for p in page["points"]], sorted(ended_buckets))
        (s0, y0), (s1, y1) = page["axis"][0], page["axis"][-1]

        def y_of(share):
            return y0 + (y1 - y0) * (share - s0) / (s1 - s0)
        for bucket, cx, cy, title in page["points"]:
            kinds = ended_buckets[bucket]
            failed, runs = kinds.get("1", 0), sum(kinds.get(s, 0) for s in ("0", "1", "2"))
            self.assertAlmostEqual(cy, y_of(failed / runs), places=1)
            self.assertIn("%s: %d of %d ended runs failed" % (time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime(bucket)),
                                                              failed, runs), title)
        xs = [p[1] for p in page["points"]]
        self.assertEqual(xs, sorted(xs))
        self.assertAlmostEqual(page["limit"], y_of(limit), places=1)
        # The line ends at the share of all ended runs, the one the halt compares.
        last = re.findall(r"([\d.]+) ([\d.]+)", page["overall"])[-1]
        self.assertAlmostEqual(float(last[1]), y_of(counts.get("1", 0) / ended), places=1)


class DashboardOnSqliteTest(DashboardCases, unittest.TestCase):
    database = "sqlite"


class DashboardOnPostgresqlTest(DashboardCases, unittest.TestCase):
    # Several workers: a session made by one is taken by the others.
    database = "postgresql"
    gunicorn = 2


class DashboardSettingsTest(unittest.TestCase):
    def test_off_without_a_token_and_secure_cookies_behind_https(self):
        folder = support.ServiceFolder(dashboard_token_file="")
        service = support.ServiceProcess(folder)
        try:
            for headers in ({}, {"Authorization": "Bearer " + folder.token}):
                self.assertEqual(service.get("/dashboard", headers)[0], 404)
            self.assertEqual(service.request("POST", "/dashboard/login", urllib.parse.urlencode(
                {"token": folder.token}).encode(), FORM)[0], 404)
            self.assertIn("dashboard: off", service.log_text())
        finally:
            service.stop()
        folder = support.ServiceFolder(public_url="https://updates.example.com/Renova")
        service = support.ServiceProcess(folder)
        try:
            status, headers, _ = service.request("POST", "/dashboard/login", urllib.parse.urlencode(
                {"token": folder.token}).encode(), FORM)
            self.assertEqual(status, 303)
            self.assertIn("; Secure", headers["Set-Cookie"])
            self.assertIn("HttpOnly", headers["Set-Cookie"])
        finally:
            service.stop()


class StoreQueriesTest(unittest.TestCase):
    """The two queries the dashboard added to Store, on both databases."""

    def test_machine_count_and_recent_events(self):
        for kind, make_url in support.database_urls().items():
            with self.subTest(kind):
                folder = support.ServiceFolder()
                store = open_store(make_url(folder.folder))
                store.create_schema()
                for n, version in enumerate(("1.0", "1.0", "1.1", "2.0")):
                    store.record_check("A", "guid-%d" % n, version, 0)
                store.record_check("A", "guid-0", "1.2", 0)         # the same machine again
                store.record_check("B", "guid-9", "1.0", 0)
                self.assertEqual((store.machine_count("A"), store.machine_count("B"), store.machine_count("C")),
                                 (4, 1, 0))
                store.register_offer(7, "A", "2.0", 10)
                store.register_offer(8, "B", "1.1", 10)
                store.set_offer(7, "rollout 10 % -> 20 %", percent=20.0)
                store.set_offer(8, "halted: by hand", halted=1, halt_reason="by hand")
                store.set_offer(7, "rollout 20 % -> 50 %", percent=50.0)
                events = store.recent_events(2)
                self.assertEqual([(u, t) for _, u, t in events], [(7, "rollout 20 % -> 50 %"), (8, "halted: by hand")])
                self.assertTrue(all(abs(at - time.time()) < 60 for at, _, _ in events))
                self.assertEqual(len(store.recent_events()), 3)
                store.close()


if __name__ == "__main__":
    unittest.main()
