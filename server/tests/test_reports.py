"""The status reports, through the service as a real process on loopback, on
SQLite and on PostgreSQL, under the built-in server and under gunicorn: every
report a row of the database before it is answered, the counts they move, the
automatic halt, a database that can't take them, and reports that are not
reports."""

import contextlib
import os
import re
import signal
import socket
import sqlite3
import subprocess
import time
import unittest
import uuid

import support
from support import run_command

PRODUCT = "Velbor Demo"
MIN_RUNS = 20
FAILURE_SHARE = 0.25
MAX_BODY = 1024 * 1024
# Reports after an outage: enough for each of gunicorn's workers to get some.
WORKER_REPORTS = 30
# How long a new gunicorn worker may take to load the application.
WORKER_START = 2
SERVICE_PATH = support.SERVICE_PATH
COUNTS_RE = re.compile(r"offered (\d+), started (\d+), succeeded (\d+), failed (\d+), canceled (\d+); "
                       r"failure share ([\d.]+) %")


def machine(number):
    return str(uuid.UUID(int=0x15604575F5514FFC9EDF000000000000 + number))


class Database:
    """The service's database, read directly, as the tests' own witness."""

    def __init__(self, url):
        self.url = url

    @contextlib.contextmanager
    def connection(self):
        if self.url.startswith("sqlite:"):
            connection = sqlite3.connect(self.url[len("sqlite:"):], timeout=30)
        else:
            import psycopg
            connection = psycopg.connect(self.url, autocommit=True)
        try:
            yield connection
        finally:
            connection.close()

    def rows(self, statement, parameters=()):
        with self.connection() as connection:
            if not self.url.startswith("sqlite:"):
                statement = statement.replace("?", "%s")
            return [tuple(r) for r in connection.execute(statement, parameters).fetchall()]

    def reports(self):
        return self.rows("SELECT update_id, status, is_stub, machine_guid, updater_version FROM reports ORDER BY id")

    def halted(self, update_id):
        return bool(self.rows("SELECT halted FROM offers WHERE update_id = ?", (update_id,))[0][0])


class ReportCase:
    database = None
    gunicorn = 0

    def setUp(self):
        self.folder = support.ServiceFolder(halt_min_runs=MIN_RUNS, halt_failure_share=FAILURE_SHARE)
        self.url = support.database_urls()[self.database](self.folder.folder)
        self.folder.set(database=self.url)
        self.db = Database(self.url)
        self.folder.publish(PRODUCT, "2.0.0", 101, rollout=100)
        self.service = self.start()

    def start(self):
        service = support.ServiceProcess(self.folder, gunicorn=self.gunicorn)
        self.addCleanup(service.stop)
        return service

    def command(self, *args):
        return run_command(args[0], "--config", self.folder.config, *args[1:]).stdout

    def counts(self, update_id):
        """(offered, started, succeeded, failed, canceled, failure share %) as `counts` prints them."""
        out = self.command("counts", str(update_id))
        m = COUNTS_RE.search(out)
        self.assertIsNotNone(m, out)
        return tuple(int(n) for n in m.groups()[:5]) + (float(m.group(6)),)

    def report(self, update_id, status, guid, is_stub=False):
        self.assertEqual(self.service.report(update_id, status, guid, is_stub), 200)

    def offered(self, update_id, guid):
        status, text, _ = self.service.check(PRODUCT, "1.0.0", guid)
        self.assertEqual(status, 200)
        instruction = support.instruction_of(text)
        return instruction is not None and instruction.findtext("UpdateId") == str(update_id)

    def test_every_report_is_a_row_and_moves_the_counts(self):
        for number in range(4):
            self.assertTrue(self.offered(101, machine(number)))
        sent = [
            (101, -1, 0, machine(0)), (101, 0, 0, machine(0)),                          # succeeded
            (101, -1, 0, machine(1)), (101, 10, 0, machine(1)), (101, 1, 0, machine(1)),  # failed in the setup
            (101, -1, 0, machine(2)), (101, 2, 0, machine(2)),                          # canceled
            (101, -1, 1, machine(3)), (101, 0, 1, machine(3)),                          # installed
            (101, -3, 0, machine(4)),                                                   # not again
            (0, 5, 0, machine(5)),                                                      # no server, no offer
        ]
        before = time.time()
        for update_id, status, is_stub, guid in sent:
            self.report(update_id, status, guid, bool(is_stub))
            # Stored before it was answered.
            self.assertEqual(self.db.reports()[-1], (update_id, status, is_stub, guid, "9.4.10"))
        self.assertEqual(self.db.reports(), [s + ("9.4.10",) for s in sent])
        received = [at for (at,) in self.db.rows("SELECT received_at FROM reports")]
        self.assertTrue(all(int(before) <= at <= time.time() + 1 for at in received), received)

        self.assertEqual(self.counts(101), (4, 4, 2, 1, 1, 25.0))
        out = self.command("counts", "101")
        self.assertIn("failure codes: 10: 1", out)
        self.assertIn("complete at 100 %", out)

        # The answer to an upgrade offer: a row of its own table.
        status, _, _ = self.service.post("ReportUpgradeOfferStatus", "UpgradeOfferStatusXML", (
            "<UpgradeOfferStatus>\n    <Version>9.4.10</Version>\n    <MachineGuid>%s</MachineGuid>\n"
            "    <ProgramName>%s</ProgramName>\n    <ProgramVersionNumber>1.0.0</ProgramVersionNumber>\n"
            "    <MajorVersion>3</MajorVersion>\n    <Status>2</Status>\n</UpgradeOfferStatus>\n")
            % (machine(6), PRODUCT))
        self.assertEqual(status, 200)
        self.assertEqual(self.db.rows("SELECT program_name, program_version, major_version, status, machine_guid "
                                      "FROM upgrade_offer_reports"), [(PRODUCT, "1.0.0", "3", 2, machine(6))])

    def test_too_few_runs_do_not_halt(self):
        for number in range(MIN_RUNS - 1):
            # A failed run: started, the action's code, failed.
            for status in (-1, 10, 1):
                self.report(101, status, machine(number))
        self.assertFalse(self.db.halted(101))
        self.assertTrue(self.offered(101, machine(100)))
        self.assertEqual(self.counts(101)[1:5], (MIN_RUNS - 1, 0, MIN_RUNS - 1, 0))

        # The run that makes the least number: now the share counts.
        self.report(101, 0, machine(MIN_RUNS))
        self.assertTrue(self.db.halted(101))
        self.assertIn("offer 101 (Velbor Demo 2.0.0) halted: 19 of 20 ended runs failed (95.0 %), more than the "
                      "limit of 25.0 % (after at least 20 runs)", self.service.log_text())
        self.assertFalse(self.offered(101, machine(100)))

    def test_the_halt_comes_when_the_share_passes_the_limit(self):
        # 60 ended runs, none failed; canceled runs end a run too.
        for number in range(60):
            self.report(101, 2 if number % 6 == 0 else 0, machine(number))
        # Failures one at a time: 20 of 80 is the limit exactly, the 21st passes it.
        for number in range(1, 22):
            self.report(101, 1, machine(100 + number))
            self.assertEqual(self.db.halted(101), number == 21, "after %d failures" % number)
        reason = ("21 of 81 ended runs failed (25.9 %), more than the limit of 25.0 % (after at least 20 runs)")
        self.assertIn("offer 101 (Velbor Demo 2.0.0) halted: " + reason, self.service.log_text())
        self.assertIn("halted: " + reason, self.command("counts", "101"))
        self.assertFalse(self.offered(101, machine(200)))

        # Later reports are still stored, and nothing but resume brings the offer back.
        self.report(101, 0, machine(101))
        self.assertEqual(len(self.db.reports()), 60 + 21 + 1)
        self.command("rollout", "101", "100")
        self.assertFalse(self.offered(101, machine(200)))

        # Resumed under the same rule, the next ended run halts it again.
        self.assertIn("its failures are still above the limit", self.command("resume", "101"))
        self.assertTrue(self.offered(101, machine(200)))
        self.report(101, 0, machine(200))
        self.assertTrue(self.db.halted(101))
        self.assertEqual(self.service.log_text().count("offer 101 (Velbor Demo 2.0.0) halted:"), 2)

        # Resumed with a new limit, it stays.
        self.assertNotIn("still above", self.command("resume", "101", "--failure-share", "0.5"))
        self.assertTrue(self.offered(101, machine(200)))
        for number in range(5):
            self.report(101, 1, machine(300 + number))
        self.assertFalse(self.db.halted(101))
        self.assertTrue(self.offered(101, machine(200)))

    def test_reports_that_are_not_reports_are_refused(self):
        good = support.update_status(101, 0, machine(1))
        cases = [
            ("UpdateId not a number", good.replace("<UpdateId>101<", "<UpdateId>abc<"), 400,
             "UpdateId 'abc' is not a whole number"),
            ("UpdateId too big", good.replace("<UpdateId>101<", "<UpdateId>99999999999<"), 400,
             "UpdateId '99999999999' is not a whole number from 0 to 2147483647"),
            ("UpdateId negative", good.replace("<UpdateId>101<", "<UpdateId>-101<"), 400,
             "UpdateId '-101' is not a whole number"),
            ("UpdateId of no offer", good.replace("<UpdateId>101<", "<UpdateId>555<"), 400,
             "UpdateId 555 is no offer of this service"),
            ("Status huge", good.replace("<Status>0<", "<Status>%s<" % ("9" * 300)), 400,
             "Status '99999999999999999999999999999999' is not a whole number"),
            ("Status a fraction", good.replace("<Status>0<", "<Status>1.5<"), 400,
             "Status '1.5' is not a whole number"),
            ("Status missing", good.replace("    <Status>0</Status>\n", ""), 400,
             "Status '' is not a whole number"),
            ("not XML", "<UpdateStatus><Status>0</Status>", 400, "cannot read the document: XML:"),
        ]
        for name, document, status, reason in cases:
            with self.subTest(name):
                got, _, body = self.service.post("ReportUpdateStatus", "UpdateStatusXML", document)
                self.assertEqual(got, status, body)
                self.assertIn(reason, body.decode("utf-8"))
                self.assertIn("POST %sReportUpdateStatus from 127.0.0.1 refused: %s" % (SERVICE_PATH, reason),
                              self.service.log_text())

        form = support.form_body("UpdateStatusXML", good)
        raw_cases = [
            ("another method's argument", support.form_body("clientStatusXML", good), 400,
             "ReportUpdateStatus expects the argument UpdateStatusXML"),
            ("an escape that is none", form.replace(b"%253c", b"%25zz", 1), 400, "form decoding: bad escape"),
            ("an empty body", b"", 400, "ReportUpdateStatus expects the argument UpdateStatusXML"),
        ]
        for name, body, status, reason in raw_cases:
            with self.subTest(name):
                got, _, answer = self.service.request("POST", SERVICE_PATH + "ReportUpdateStatus", body,
                                                      {"Content-Type": "application/x-www-form-urlencoded"})
                self.assertEqual(got, status, answer)
                self.assertIn(reason, self.service.log_text())

        with self.subTest("a body over 1 MiB"):
            padded = form + b"&padding=" + b"x" * (MAX_BODY + 1 - len(form) - len(b"&padding="))
            self.assertEqual(len(padded), MAX_BODY + 1)
            self.assertEqual(post_raw(self.service.port, "ReportUpdateStatus", padded)[0], 413)
            self.assertIn("request body from 127.0.0.1 refused: %d bytes, more than %d" % (MAX_BODY + 1, MAX_BODY),
                          self.service.log_text())
        self.assertEqual(self.db.reports(), [])

        # The same report, 1 MiB exactly, is taken.
        self.assertEqual(post_raw(self.service.port, "ReportUpdateStatus", padded[:-1])[0], 200)
        self.assertEqual(self.db.reports(), [(101, 0, 0, machine(1), "9.4.10")])

    def test_a_report_in_chunks(self):
        # The updater always sends a length. gunicorn undoes chunks and the
        # report is stored; the built-in server does not, and refuses it at
        # once instead of waiting for a body that has ended.
        form = support.form_body("UpdateStatusXML", support.update_status(101, -1, machine(1)))
        status, _ = post_raw(self.service.port, "ReportUpdateStatus", form, chunked=True, timeout=10)
        if self.gunicorn:
            self.assertEqual(status, 200)
            self.assertEqual(self.db.reports(), [(101, -1, 0, machine(1), "9.4.10")])
        else:
            self.assertEqual(status, 411)
            self.assertEqual(self.db.reports(), [])
            self.assertIn("refused: a body in chunks", self.service.log_text())

    def test_a_report_the_database_cannot_take_is_answered_503(self):
        self.report(101, -1, machine(1))
        with self.database_down():
            self.assertEqual(self.service.report(101, 0, machine(1)), 503)
            self.assertEqual(self.service.report(101, 0, machine(2)), 503)
        log = self.service.log_text()
        self.assertIn("ReportUpdateStatus from 127.0.0.1 not answered: ", log)
        self.assertEqual(self.db.reports(), [(101, -1, 0, machine(1), "9.4.10")])
        # The database is back: the next report is stored.
        self.report(101, 0, machine(1))
        self.assertEqual(self.db.reports()[-1], (101, 0, 0, machine(1), "9.4.10"))
        self.assertTrue(self.offered(101, machine(3)))


class GunicornWorkers:
    """What gunicorn adds: workers that start again while the service runs."""

    def workers(self):
        master = self.service.process.pid
        found = []
        for entry in os.listdir("/proc"):
            try:
                with open("/proc/%s/stat" % entry) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
            except (OSError, IndexError):
                continue
            if entry.isdigit() and int(fields[1]) == master:
                found.append(int(entry))
        return found

    def restart_a_worker(self):
        """Kills a worker and waits until gunicorn's new one has started."""
        victim = self.workers()[0]
        os.kill(victim, signal.SIGKILL)
        deadline = time.monotonic() + 20
        while victim in self.workers() or len(self.workers()) < self.gunicorn:
            self.assertLess(time.monotonic(), deadline, "no new worker: %s" % self.service.log_text())
            self.assertIsNone(self.service.process.poll(), self.service.log_text())
            time.sleep(0.1)
        time.sleep(WORKER_START)
        self.assertIsNone(self.service.process.poll(), self.service.log_text())

    def test_a_worker_started_while_the_database_is_away(self):
        # gunicorn stops the whole server when a worker fails to start, so a
        # worker must start without its database, and answer 503 until it is back.
        self.report(101, -1, machine(1))
        with self.database_down():
            self.restart_a_worker()
            for number in range(WORKER_REPORTS):
                self.assertEqual(self.service.report(101, 0, machine(number)), 503)
        self.report_from_every_worker(1)

    def test_a_worker_started_while_the_database_is_away_stores_once_it_is_back(self):
        # What the new worker opened meanwhile must not keep it from writing.
        self.report(101, -1, machine(1))
        with self.database_down():
            self.restart_a_worker()
        self.report_from_every_worker(1)

    def report_from_every_worker(self, stored_before):
        for number in range(WORKER_REPORTS):
            self.report(101, 0, machine(number))
        self.assertEqual(len(self.db.reports()), stored_before + WORKER_REPORTS)


class SqliteDown:
    @contextlib.contextmanager
    def database_down(self):
        """The database file and its log made immutable, which stops root too; the
        shared-memory index stays as it is (SQLite maps it, and an immutable
        mapping ends the process with SIGBUS, not an error)."""
        if os.geteuid() != 0:
            self.skipTest("only root can make a file unwritable for a process of its own user (chattr +i)")
        path = self.url[len("sqlite:"):]
        files = [p for p in (path, path + "-wal") if os.path.exists(p)]
        subprocess.run(["chattr", "+i"] + files, check=True)
        try:
            yield
        finally:
            subprocess.run(["chattr", "-i"] + files, check=True)


class PostgresDown:
    @contextlib.contextmanager
    def database_down(self):
        """The service's connections broken, and the database refusing new ones."""
        import psycopg
        server = support.postgres()
        name = self.url.rsplit("dbname=", 1)[1]
        with psycopg.connect(server.conninfo(), autocommit=True) as connection:
            connection.execute("ALTER DATABASE %s WITH ALLOW_CONNECTIONS false" % name)
        try:
            server.terminate_connections(self.url)
            yield
        finally:
            with psycopg.connect(server.conninfo(), autocommit=True) as connection:
                connection.execute("ALTER DATABASE %s WITH ALLOW_CONNECTIONS true" % name)

    def sessions(self):
        """How many sessions the service's database has had."""
        name = self.url.rsplit("dbname=", 1)[1]
        return Database(support.postgres().conninfo()).rows(
            "SELECT sessions FROM pg_stat_database WHERE datname = ?", (name,))[0][0]

    def test_nobody_is_offered_what_may_have_been_halted(self):
        with self.database_down():
            self.assertEqual(self.service.check(PRODUCT, "1.0.0", machine(3))[0], 503)
        self.assertIn("GetClientUpdate from 127.0.0.1 not answered: ", self.service.log_text())
        self.assertTrue(self.offered(101, machine(3)))

    def test_connections_lost_while_idle_are_replaced(self):
        # A database server restarted between two reports: the connections the
        # service kept are gone, the database is there.
        self.report(101, -1, machine(1))
        support.postgres().terminate_connections(self.url)
        self.report(101, 0, machine(1))
        self.assertTrue(self.offered(101, machine(2)))
        self.assertEqual(self.db.reports(), [(101, -1, 0, machine(1), "9.4.10"), (101, 0, 0, machine(1), "9.4.10")])

    def test_connections_are_kept_between_requests(self):
        # Each check on a new HTTP connection, as the updaters make them.
        self.assertTrue(self.offered(101, machine(0)))
        time.sleep(1.5)             # the statistics are written at most once a second
        before = self.sessions()
        for number in range(40):
            self.assertTrue(self.offered(101, machine(number)))
        time.sleep(1.5)
        self.assertLessEqual(self.sessions() - before, 5)


def post_raw(port, method, body, chunked=False, timeout=30):
    """-> (status, body) of a POST whose answer may come before the body is read:
    whatever the server answered is read even when it reset the connection."""
    length = "Transfer-Encoding: chunked" if chunked else "Content-Length: %d" % len(body)
    if chunked:
        body = b"%x\r\n%s\r\n0\r\n\r\n" % (len(body), body)
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(("POST %s%s HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                   "%s\r\nConnection: close\r\n\r\n" % (SERVICE_PATH, method, length)).encode())
        try:
            s.sendall(body)
        except OSError:
            pass
        data = b""
        try:
            while True:
                block = s.recv(65536)
                if not block:
                    break
                data += block
        except OSError:
            pass
    if not data:
        raise AssertionError("no answer within %d s" % timeout)
    head, _, answer = data.partition(b"\r\n\r\n")
    return int(head.split(b" ", 2)[1]), answer


class ReportsSqliteBuiltIn(SqliteDown, ReportCase, unittest.TestCase):
    database, gunicorn = "sqlite", 0


class ReportsSqliteGunicorn(GunicornWorkers, SqliteDown, ReportCase, unittest.TestCase):
    database, gunicorn = "sqlite", 2


class ReportsPostgresBuiltIn(PostgresDown, ReportCase, unittest.TestCase):
    database, gunicorn = "postgresql", 0


class ReportsPostgresGunicorn(GunicornWorkers, PostgresDown, ReportCase, unittest.TestCase):
    database, gunicorn = "postgresql", 2


if __name__ == "__main__":
    unittest.main()
