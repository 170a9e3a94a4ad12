"""A fleet of 100,000 simulated machines against the service as a real process
on loopback, under gunicorn: on SQLite with two workers, on PostgreSQL with
several. The fleet checks while the offer is at 10 % and then at 30 %; the
machines offered it run it, 30 % of them failing against a limit of 25 %,
until the offer halts by itself.

Run by ctest (service_fleet), apart from the other tests: it takes minutes.
The built-in server, whose thread per connection answers about a third as
many requests a second, is the other tests' business."""

import random
import re
import socket
import sys
import threading
import time
import unittest
import uuid

import support
from support import run_command
from vlrenova_service.protocol import form_body
from vlrenova_service.rollout import in_rollout

FLEET = 100_000
# Machines checking at once; a machine's run is in flight on its client only.
CLIENTS = 8
FIRST_PERCENT, SECOND_PERCENT = 10, 30
MIN_RUNS, FAILURE_LIMIT = 200, 0.25
FAILING_SHARE = 0.30
# Checks after the halt, by machines in the rollout that had not run yet.
CHECKS_AFTER_HALT = 2000
SQLITE_WORKERS = 2
POSTGRES_WORKERS = 4
PRODUCT = "Velbor Fleet"
UPDATE_ID = 101
MARK = "00000000-0000-4000-8000-000000000000"
OFFERED_MARK = b"&lt;UpdateId&gt;%d&lt;/UpdateId&gt;" % UPDATE_ID
HALT_RE = re.compile(r"halted: (\d+) of (\d+) ended runs failed")
COUNTS_RE = re.compile(r"offered (\d+), started (\d+), succeeded (\d+), failed (\d+), canceled (\d+)")


class Requests:
    """The updater's requests as bytes, made once and filled with each machine's GUID."""

    def __init__(self):
        self._check = self._template("GetClientUpdate",
                                     form_body("clientStatusXML", support.client_status(PRODUCT, "1.0.0", MARK)))
        self._reports = {status: self._template("ReportUpdateStatus", form_body(
            "UpdateStatusXML", support.update_status(UPDATE_ID, status, MARK))) for status in (-1, 0, 1)}
        self._mark = form_body("", MARK)[1:]

    @staticmethod
    def _template(method, body):
        head = ("POST %s%s HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                "Content-Length: %d\r\nConnection: close\r\n\r\n" % (support.SERVICE_PATH, method, len(body)))
        return head.encode("ascii") + body

    def check(self, guid):
        return self._check.replace(self._mark, form_body("", guid)[1:])

    def report(self, status, guid):
        return self._reports[status].replace(self._mark, form_body("", guid)[1:])


def exchange(port, request):
    """-> (HTTP status, body) on a connection of its own, as the updater makes them."""
    with socket.create_connection(("127.0.0.1", port), timeout=60) as s:
        s.sendall(request)
        blocks = []
        while True:
            block = s.recv(65536)
            if not block:
                break
            blocks.append(block)
    data = b"".join(blocks)
    head, _, body = data.partition(b"\r\n\r\n")
    return int(head[9:12]), body


class Fleet:
    def __init__(self, port, seed):
        rng = random.Random(seed)
        self.port = port
        self.guids = [str(uuid.UUID(int=rng.getrandbits(128), version=4)) for _ in range(FLEET)]
        self.failing = {g for g in self.guids if rng.random() < FAILING_SHARE}
        self.requests = Requests()
        self.errors = []
        self.offered_answers = 0
        self._lock = threading.Lock()

    def _request(self, request):
        status, body = exchange(self.port, request)
        if status != 200:
            with self._lock:
                self.errors.append((status, body[:200]))
        return body

    def offered(self, guid):
        offered = OFFERED_MARK in self._request(self.requests.check(guid))
        if offered:
            with self._lock:
                self.offered_answers += 1
        return offered

    def in_parallel(self, guids, one):
        """Runs one(guid) for each machine on CLIENTS threads, in order, until one returns False."""
        position = iter(guids)
        lock = threading.Lock()

        def client():
            while True:
                with lock:
                    guid = next(position, None)
                if guid is None or one(guid) is False:
                    return
        threads = [threading.Thread(target=client) for _ in range(CLIENTS)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()

    def checks(self, guids):
        """-> the machines that were offered the update."""
        offered = set()

        def one(guid):
            if self.offered(guid):
                with self._lock:
                    offered.add(guid)
        self.in_parallel(guids, one)
        return offered

    def runs(self, guids):
        """Each machine checks and, offered the update, runs it: -1, then 0 or 1.
        Ends CHECKS_AFTER_HALT checks after the first machine in the rollout was
        offered nothing (the offer halted). -> what the fleet saw."""
        seen = {"started": 0, "succeeded": 0, "failed": 0, "nothing": 0, "offered_after_nothing": 0}
        first_nothing = []

        def one(guid):
            began = time.monotonic()
            if self.offered(guid):
                self._request(self.requests.report(-1, guid))
                failed = guid in self.failing
                self._request(self.requests.report(1 if failed else 0, guid))
                with self._lock:
                    seen["started"] += 1
                    seen["failed" if failed else "succeeded"] += 1
                    if first_nothing and began > first_nothing[0]:
                        seen["offered_after_nothing"] += 1
                return True
            with self._lock:
                if not first_nothing:
                    first_nothing.append(time.monotonic())
                seen["nothing"] += 1
                return seen["nothing"] < CHECKS_AFTER_HALT
        self.in_parallel(guids, one)
        return seen


class FleetCase:
    database = None
    gunicorn = 0

    def test_a_fleet_rolls_out_and_halts(self):
        folder = support.ServiceFolder(halt_min_runs=MIN_RUNS, halt_failure_share=FAILURE_LIMIT)
        url = support.database_urls()[self.database](folder.folder)
        folder.set(database=url)
        folder.publish(PRODUCT, "2.0.0", UPDATE_ID, rollout=FIRST_PERCENT)
        service = support.ServiceProcess(folder, gunicorn=self.gunicorn)
        self.addCleanup(service.stop)
        fleet = Fleet(service.port, seed=2026)
        half = FLEET // 2
        timings = []

        def timed(name, work, requests):
            start = time.monotonic()
            result = work()
            took = time.monotonic() - start
            timings.append("%s %.1f s (%.0f requests/s)" % (name, took, requests() / took))
            return result

        # The first half of the fleet checks at 10 %, the second at 30 %.
        first = timed("checks at %d %%" % FIRST_PERCENT, lambda: fleet.checks(fleet.guids[:half]), lambda: half)
        run_command("rollout", "--config", folder.config, UPDATE_ID, SECOND_PERCENT)
        second = timed("checks at %d %%" % SECOND_PERCENT, lambda: fleet.checks(fleet.guids[half:]),
                       lambda: FLEET - half)
        self.assertEqual(fleet.errors, [])
        for machines, offered, percent in ((fleet.guids[:half], first, FIRST_PERCENT),
                                           (fleet.guids[half:], second, SECOND_PERCENT)):
            self.assertEqual(offered, {g for g in machines if in_rollout(g, UPDATE_ID, percent)})
            share = 100 * len(offered) / len(machines)
            self.assertLess(abs(share - percent), 1.0, "%.2f %% offered at %d %%" % (share, percent))

        # The offered machines run it, the first half's among them: raising the
        # rollout kept them in it.
        in_rollout_now = sorted(first | second)
        random.Random(7).shuffle(in_rollout_now)
        requests_before = fleet.offered_answers
        seen = timed("runs", lambda: fleet.runs(in_rollout_now),
                     lambda: (fleet.offered_answers - requests_before) * 3 + CHECKS_AFTER_HALT)
        self.assertEqual(fleet.errors, [])
        self.assertGreater(seen["nothing"], 0, "the offer never halted")

        # It halted at the first moment its rule held, give or take the runs in flight.
        counts = run_command("counts", "--config", folder.config, UPDATE_ID).stdout
        halt = HALT_RE.search(counts)
        self.assertIsNotNone(halt, counts)
        failed_at_halt, ended_at_halt = int(halt.group(1)), int(halt.group(2))
        self.assertGreaterEqual(ended_at_halt, MIN_RUNS)
        self.assertGreater(failed_at_halt / ended_at_halt, FAILURE_LIMIT)
        first_held = first_moment_the_rule_held(ended_statuses(url))
        self.assertIsNotNone(first_held)
        self.assertLessEqual(abs(ended_at_halt - first_held), CLIENTS,
                             "halted after %d ended runs; the rule held after %d" % (ended_at_halt, first_held))
        # Only the runs in flight at the halt ended after it.
        ended = seen["succeeded"] + seen["failed"]
        self.assertLessEqual(ended - ended_at_halt, CLIENTS)
        self.assertEqual(seen["offered_after_nothing"], 0)
        # One process halted it, and said so once, however many raced to.
        halt_line = "offer %d (%s 2.0.0) halted: %d of %d ended runs failed" % (
            UPDATE_ID, PRODUCT, failed_at_halt, ended_at_halt)
        self.assertEqual(service.log_text().count("offer %d (%s 2.0.0) halted:" % (UPDATE_ID, PRODUCT)), 1)
        self.assertIn(halt_line, service.log_text())
        self.assertEqual(len(rows(url, "SELECT text FROM events WHERE text LIKE 'halted:%'")), 1)

        # Nobody is offered it now.
        rest = in_rollout_now[-CHECKS_AFTER_HALT:]
        self.assertEqual(timed("checks after the halt", lambda: fleet.checks(rest), lambda: len(rest)), set())

        # Every check and report of the fleet counted, none twice.
        got = tuple(int(n) for n in COUNTS_RE.search(counts).groups())
        self.assertEqual(got, (fleet.offered_answers, seen["started"], seen["succeeded"], seen["failed"], 0))
        self.assertEqual(len(ended_statuses(url)), ended)
        self.assertEqual(fleet.errors, [])
        print("\n%s: %d machines, %d offered at %d %%, %d at %d %%; halted after %d of %d runs failed; %s"
              % (type(self).__name__, FLEET, len(first), FIRST_PERCENT, len(second), SECOND_PERCENT,
                 failed_at_halt, ended_at_halt, "; ".join(timings)), file=sys.stderr)


def rows(url, statement):
    """The rows of a query of the service's database, read directly."""
    if url.startswith("sqlite:"):
        import sqlite3
        connection = sqlite3.connect(url[len("sqlite:"):])
    else:
        import psycopg
        connection = psycopg.connect(url)
    try:
        return connection.execute(statement).fetchall()
    finally:
        connection.close()


def ended_statuses(url):
    """The run ends the database holds, in the order they were stored."""
    return [status for (status,) in rows(url, "SELECT status FROM reports WHERE update_id = %d "
                                              "AND status IN (0, 1, 2) ORDER BY id" % UPDATE_ID)]


def first_moment_the_rule_held(statuses):
    """How many runs had ended when the halt rule first held, or None."""
    failed = 0
    for ended, status in enumerate(statuses, 1):
        failed += status == 1
        if ended >= MIN_RUNS and failed / ended > FAILURE_LIMIT:
            return ended
    return None


class FleetSqliteGunicorn(FleetCase, unittest.TestCase):
    database, gunicorn = "sqlite", SQLITE_WORKERS


class FleetPostgresGunicorn(FleetCase, unittest.TestCase):
    database, gunicorn = "postgresql", POSTGRES_WORKERS


if __name__ == "__main__":
    unittest.main()
