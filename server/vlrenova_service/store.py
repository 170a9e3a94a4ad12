"""The service's data: offers' rollout state, the counts of checks and status
reports, the reports themselves and the versions the checking machines run.
SQLite by default, PostgreSQL for many processes on many hosts: one schema,
one set of statements, written with "?" and adapted to each."""

import logging
import os
import sqlite3
import threading
import time

log = logging.getLogger("vlrenova.store")

# Status report codes and what a run's end counts as.
STATUS_SKIPPED = -3
STATUS_STARTED = -1
STATUS_SUCCEEDED = 0
STATUS_FAILED = 1
STATUS_CANCELED = 2
# A failed run reports the failed action's type (9 to 18) before its 1: the
# code says why, the 1 counts the run.
ACTION_CODES = range(9, 19)
OFFERED = "offered"

DEFAULT_MIN_RUNS = 50
DEFAULT_FAILURE_LIMIT = 0.2
# How long a count bucket is: the dashboard's chart has one point per bucket.
BUCKET_SECONDS = 3600
MAX_GUID = 64
MAX_VERSION = 64
MAX_NAME = 256
# Open database connections a process keeps for its next requests.
MAX_IDLE_CONNECTIONS = 8

SCHEMA = """
CREATE TABLE IF NOT EXISTS offers (
    update_id BIGINT PRIMARY KEY,
    program_name TEXT NOT NULL,
    version TEXT NOT NULL,
    percent DOUBLE PRECISION NOT NULL,
    halted INTEGER NOT NULL DEFAULT 0,
    halt_reason TEXT NOT NULL DEFAULT '',
    min_runs INTEGER NOT NULL,
    failure_limit DOUBLE PRECISION NOT NULL,
    changed_at BIGINT NOT NULL
);
CREATE TABLE IF NOT EXISTS offer_counts (
    update_id BIGINT NOT NULL,
    bucket BIGINT NOT NULL,
    kind TEXT NOT NULL,
    count BIGINT NOT NULL,
    PRIMARY KEY (update_id, bucket, kind)
);
CREATE TABLE IF NOT EXISTS reports (
    id {serial},
    received_at BIGINT NOT NULL,
    update_id BIGINT NOT NULL,
    status INTEGER NOT NULL,
    is_stub INTEGER NOT NULL,
    machine_guid TEXT NOT NULL,
    updater_version TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS upgrade_offer_reports (
    id {serial},
    received_at BIGINT NOT NULL,
    program_name TEXT NOT NULL,
    program_version TEXT NOT NULL,
    major_version TEXT NOT NULL,
    status INTEGER NOT NULL,
    machine_guid TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS machines (
    program_name TEXT NOT NULL,
    machine_guid TEXT NOT NULL,
    version TEXT NOT NULL,
    last_check BIGINT NOT NULL,
    PRIMARY KEY (program_name, machine_guid)
);
CREATE TABLE IF NOT EXISTS events (
    id {serial},
    at BIGINT NOT NULL,
    update_id BIGINT NOT NULL,
    text TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS machines_by_version ON machines (program_name, version);
"""


class StoreError(Exception):
    """The database could not be reached or refused a statement."""


class Offer:
    def __init__(self, row):
        (self.update_id, self.program_name, self.version, self.percent, halted, self.halt_reason,
         self.min_runs, self.failure_limit, self.changed_at) = row
        self.halted = bool(halted)

    @property
    def state(self):
        if self.halted:
            return "halted"
        return "complete" if self.percent >= 100 else "rolling"


class Counts:
    """What the reports and checks of one offer add up to."""

    def __init__(self, by_kind):
        self.by_kind = by_kind
        self.offered = by_kind.get(OFFERED, 0)
        self.started = by_kind.get(str(STATUS_STARTED), 0)
        self.succeeded = by_kind.get(str(STATUS_SUCCEEDED), 0)
        self.failed = by_kind.get(str(STATUS_FAILED), 0)
        self.canceled = by_kind.get(str(STATUS_CANCELED), 0)
        self.skipped = by_kind.get(str(STATUS_SKIPPED), 0)

    @property
    def ended(self):
        return self.succeeded + self.failed + self.canceled

    @property
    def failure_share(self):
        return self.failed / self.ended if self.ended else 0.0

    def failure_codes(self):
        """[(code, count)] of the failed actions' codes, the most frequent first."""
        codes = [(int(k), n) for k, n in self.by_kind.items() if k != OFFERED and int(k) in ACTION_CODES and n]
        return sorted(codes, key=lambda c: (-c[1], c[0]))


def halt_reason(counts, offer):
    """Why the offer must stop, or None: enough runs have ended and too many failed."""
    if counts.ended < offer.min_runs or counts.failure_share <= offer.failure_limit:
        return None
    return ("%d of %d ended runs failed (%.1f %%), more than the limit of %.1f %% (after at least %d runs)"
            % (counts.failed, counts.ended, 100 * counts.failure_share, 100 * offer.failure_limit, offer.min_runs))


def open_store(url):
    """A Store for "sqlite:PATH" (or a plain path) or a PostgreSQL connection string
    ("postgresql://..." or "host=... dbname=...")."""
    if url.startswith(("postgresql:", "postgres:")) or "=" in url:
        return Store(_PostgresConnections(url))
    return Store(_SqliteConnections(url[len("sqlite:"):] if url.startswith("sqlite:") else url))


class _SqliteConnections:
    """Writes wait for each other (busy timeout)."""
    serial = "INTEGER PRIMARY KEY AUTOINCREMENT"
    name = "SQLite"
    schema_lock = None          # BEGIN IMMEDIATE already lets one writer in
    errors = (sqlite3.Error,)

    def __init__(self, path):
        self.path = os.path.abspath(path)

    def connect(self):
        # Handed from thread to thread by the pool, used by one at a time.
        connection = sqlite3.connect(self.path, timeout=30, isolation_level=None, check_same_thread=False)
        try:
            connection.execute("PRAGMA journal_mode=WAL")
        except sqlite3.Error:
            connection.close()
            raise
        return connection

    @staticmethod
    def spent(connection, error):
        """Whether the connection can't write although the database may: SQLite
        opens a file it can't write read-only, and the connection stays so
        after the file is writable again."""
        return getattr(error, "sqlite_errorcode", 0) & 0xFF == sqlite3.SQLITE_READONLY

    @staticmethod
    def sql(statement):
        return statement

    def begin(self, connection, durable):
        # A report is on disk before it is answered; a check's counts may wait
        # for the next synced write (WAL keeps them whole after a crash).
        connection.execute("PRAGMA synchronous=%s" % ("FULL" if durable else "NORMAL"))
        connection.execute("BEGIN IMMEDIATE")


class _PostgresConnections:
    serial = "BIGSERIAL PRIMARY KEY"
    name = "PostgreSQL"
    # Workers starting together would race in CREATE TABLE IF NOT EXISTS.
    schema_lock = "SELECT pg_advisory_xact_lock(7270515)"

    def __init__(self, conninfo):
        import psycopg
        self._psycopg = psycopg
        self.conninfo = conninfo
        self.errors = (psycopg.Error,)

    def connect(self):
        return self._psycopg.connect(self.conninfo, autocommit=True, connect_timeout=10)

    @staticmethod
    def spent(connection, error):
        """Whether the connection is gone (the server restarted, a proxy dropped it)."""
        return connection.broken

    @staticmethod
    def sql(statement):
        return statement.replace("?", "%s")

    def begin(self, connection, durable):
        # A check's counts need not wait for the disk; a report does. Without
        # parameters both statements go in one round trip.
        connection.execute("BEGIN" if durable else "BEGIN; SET LOCAL synchronous_commit TO OFF")


class _Pool:
    """Open connections kept between calls and handed to one thread at a time.
    The built-in server serves each HTTP connection on a thread of its own: a
    connection per thread would be a new database connection per request."""

    def __init__(self, db):
        self._db = db
        self._idle = []
        self._lock = threading.Lock()

    def take(self):
        """-> (connection, whether it was kept from an earlier call)."""
        with self._lock:
            if self._idle:
                return self._idle.pop(), True
        try:
            return self._db.connect(), False
        except self._db.errors as e:
            raise StoreError("cannot connect to the %s database: %s" % (self._db.name, e)) from None

    def give_back(self, connection):
        with self._lock:
            if len(self._idle) < MAX_IDLE_CONNECTIONS:
                self._idle.append(connection)
                return
        self.discard(connection)

    def discard(self, connection):
        try:
            connection.close()
        except self._db.errors:
            pass

    def close(self):
        with self._lock:
            idle, self._idle = self._idle, []
        for connection in idle:
            self.discard(connection)


class Store:
    def __init__(self, connections):
        self._db = connections
        self._pool = _Pool(connections)
        self._schema_pending = False

    @property
    def kind(self):
        return self._db.name

    # --- plumbing ---------------------------------------------------------------------

    def _run(self, work, durable=True):
        """Runs work(execute) in one transaction."""
        if self._schema_pending:
            self.create_schema()
        return self._transaction(work, durable)

    def _read(self, work):
        """Runs work(execute), a single SELECT, outside a transaction: one statement
        sees one state of the database, without the round trips of BEGIN and
        COMMIT, and on SQLite without BEGIN IMMEDIATE's write lock, which made
        every check's read of its offer wait for the reports' synced writes."""
        if self._schema_pending:
            self.create_schema()
        return self._transaction(work, durable=False, whole=False)

    def _transaction(self, work, durable, whole=True):
        """Runs work(execute), in one transaction unless whole is False; a failure
        rolls it back, drops the connection (the next call connects afresh) and
        raises StoreError. A kept connection found spent before its COMMIT was
        sent is replaced and the work done once more: the database server
        restarted while it was idle and is back, and rolled the work back, or
        the connection was opened read-only while the file could not be written."""
        for attempt in (1, 2):
            connection, kept = self._pool.take()
            committing = False

            def execute(statement, parameters=()):
                return connection.execute(self._db.sql(statement), parameters)

            try:
                if whole:
                    self._db.begin(connection, durable)
                result = work(execute)
                if whole:
                    committing = True
                    connection.execute("COMMIT")
            except self._db.errors as e:
                if whole:
                    try:
                        connection.execute("ROLLBACK")
                    except self._db.errors:
                        pass
                self._pool.discard(connection)
                if kept and self._db.spent(connection, e) and not committing and attempt == 1:
                    continue
                raise self._failure(e)
            except BaseException:
                # Not the database's fault, but its transaction must not stay open.
                self._pool.discard(connection)
                raise
            self._pool.give_back(connection)
            return result

    def _failure(self, error):
        text = str(error).strip()
        return StoreError("%s: %s" % (self._db.name, text.splitlines()[0] if text else type(error).__name__))

    def create_schema(self):
        statements = [s.strip() for s in SCHEMA.format(serial=self._db.serial).split(";") if s.strip()]

        def work(execute):
            if self._db.schema_lock:
                execute(self._db.schema_lock)
            for statement in statements:
                execute(statement)
        self._transaction(work, durable=True)
        self._schema_pending = False

    def create_schema_when_reachable(self):
        """Makes the tables now, or, when the database can't be reached, before the
        first call that reaches it: a process started during an outage still
        starts (gunicorn stops the whole server when one worker fails to)."""
        try:
            self.create_schema()
        except StoreError as e:
            log.error("the database is not reachable at the start (%s); its tables are made once it is", e)
            self._schema_pending = True

    def close(self):
        self._pool.close()

    # --- offers -----------------------------------------------------------------------

    def offer(self, update_id):
        def work(execute):
            row = execute("SELECT update_id, program_name, version, percent, halted, halt_reason, min_runs, "
                          "failure_limit, changed_at FROM offers WHERE update_id = ?", (update_id,)).fetchone()
            return Offer(row) if row else None
        return self._read(work)

    def offers(self):
        def work(execute):
            rows = execute("SELECT update_id, program_name, version, percent, halted, halt_reason, min_runs, "
                           "failure_limit, changed_at FROM offers ORDER BY program_name, update_id").fetchall()
            return [Offer(r) for r in rows]
        return self._read(work)

    def register_offer(self, update_id, program_name, version, percent,
                       min_runs=DEFAULT_MIN_RUNS, failure_limit=DEFAULT_FAILURE_LIMIT):
        """Makes the offer known unless it is; -> the Offer as stored."""
        def work(execute):
            execute("INSERT INTO offers (update_id, program_name, version, percent, halted, halt_reason, "
                    "min_runs, failure_limit, changed_at) VALUES (?, ?, ?, ?, 0, '', ?, ?, ?) "
                    "ON CONFLICT (update_id) DO NOTHING",
                    (update_id, program_name[:MAX_NAME], version[:MAX_VERSION], float(percent), int(min_runs),
                     float(failure_limit), int(time.time())))
        self._run(work)
        return self.offer(update_id)

    def set_offer(self, update_id, event, **values):
        """Changes an offer's percent, halted, halt_reason, min_runs or failure_limit;
        -> the Offer, or None when there is no such offer."""
        allowed = {"percent", "halted", "halt_reason", "min_runs", "failure_limit"}
        assert set(values) <= allowed
        assignments = ", ".join("%s = ?" % name for name in values)

        def work(execute):
            changed = execute("UPDATE offers SET %s, changed_at = ? WHERE update_id = ?" % assignments,
                              tuple(values.values()) + (int(time.time()), update_id)).rowcount
            if changed:
                execute("INSERT INTO events (at, update_id, text) VALUES (?, ?, ?)",
                        (int(time.time()), update_id, event))
            return changed
        if not self._run(work):
            return None
        log.info("offer %d: %s", update_id, event)
        return self.offer(update_id)

    def halt_if_failing(self, update_id):
        """Halts a rolling offer whose failures passed its limit; -> the reason, or None."""
        offer = self.offer(update_id)
        if offer is None or offer.halted:
            return None
        reason = halt_reason(self.counts(update_id), offer)
        if reason is None:
            return None

        def work(execute):
            # Only one process halts it, and logs why.
            changed = execute("UPDATE offers SET halted = 1, halt_reason = ?, changed_at = ? "
                              "WHERE update_id = ? AND halted = 0",
                              (reason, int(time.time()), update_id)).rowcount
            if changed:
                execute("INSERT INTO events (at, update_id, text) VALUES (?, ?, ?)",
                        (int(time.time()), update_id, "halted: " + reason))
            return changed
        if not self._run(work):
            return None
        log.warning("offer %d (%s %s) halted: %s", update_id, offer.program_name, offer.version, reason)
        return reason

    def events(self, update_id, limit=20):
        def work(execute):
            return execute("SELECT at, text FROM events WHERE update_id = ? ORDER BY id DESC LIMIT ?",
                           (update_id, limit)).fetchall()
        return self._read(work)

    # --- checks and reports -----------------------------------------------------------

    @staticmethod
    def _count(execute, update_id, bucket, kind):
        execute("INSERT INTO offer_counts (update_id, bucket, kind, count) VALUES (?, ?, ?, 1) "
                "ON CONFLICT (update_id, bucket, kind) DO UPDATE SET count = offer_counts.count + 1",
                (update_id, bucket, kind))

    def record_check(self, program_name, machine_guid, version, offered_update_id, now=None):
        """A machine checked: its version is kept, and the offer it got counted."""
        now = int(time.time() if now is None else now)

        def work(execute):
            execute("INSERT INTO machines (program_name, machine_guid, version, last_check) VALUES (?, ?, ?, ?) "
                    "ON CONFLICT (program_name, machine_guid) DO UPDATE SET version = excluded.version, "
                    "last_check = excluded.last_check",
                    (program_name[:MAX_NAME], machine_guid[:MAX_GUID], version[:MAX_VERSION], now))
            if offered_update_id:
                self._count(execute, offered_update_id, now - now % BUCKET_SECONDS, OFFERED)
        self._run(work, durable=False)

    def record_report(self, update_id, status, is_stub, machine_guid, updater_version, now=None):
        """Stores one status report and counts it, on disk before this returns."""
        now = int(time.time() if now is None else now)

        def work(execute):
            execute("INSERT INTO reports (received_at, update_id, status, is_stub, machine_guid, updater_version) "
                    "VALUES (?, ?, ?, ?, ?, ?)",
                    (now, update_id, status, 1 if is_stub else 0, machine_guid[:MAX_GUID],
                     updater_version[:MAX_VERSION]))
            self._count(execute, update_id, now - now % BUCKET_SECONDS, str(status))
        self._run(work)

    def record_upgrade_offer_report(self, program_name, program_version, major_version, status, machine_guid,
                                    now=None):
        now = int(time.time() if now is None else now)

        def work(execute):
            execute("INSERT INTO upgrade_offer_reports (received_at, program_name, program_version, "
                    "major_version, status, machine_guid) VALUES (?, ?, ?, ?, ?, ?)",
                    (now, program_name[:MAX_NAME], program_version[:MAX_VERSION], major_version[:MAX_VERSION],
                     status, machine_guid[:MAX_GUID]))
        self._run(work)

    # --- what the dashboard and the command line show ---------------------------------

    def counts(self, update_id):
        def work(execute):
            return execute("SELECT kind, SUM(count) FROM offer_counts WHERE update_id = ? GROUP BY kind",
                           (update_id,)).fetchall()
        return Counts({kind: int(total) for kind, total in self._read(work)})

    def counts_by_bucket(self, update_id):
        """[(bucket start, Counts)] in time order."""
        def work(execute):
            return execute("SELECT bucket, kind, count FROM offer_counts WHERE update_id = ? ORDER BY bucket",
                           (update_id,)).fetchall()
        buckets = {}
        for bucket, kind, count in self._read(work):
            buckets.setdefault(int(bucket), {})[kind] = int(count)
        return [(bucket, Counts(kinds)) for bucket, kinds in sorted(buckets.items())]

    def versions(self, program_name, limit=20):
        """[(version, machines)] of the machines that checked for the product, the most common first."""
        def work(execute):
            return execute("SELECT version, COUNT(*) FROM machines WHERE program_name = ? GROUP BY version "
                           "ORDER BY COUNT(*) DESC, version LIMIT ?", (program_name, limit)).fetchall()
        return [(v, int(n)) for v, n in self._read(work)]

    def machine_count(self, program_name):
        """How many machines have checked for the product (versions() names the most common only)."""
        def work(execute):
            return execute("SELECT COUNT(*) FROM machines WHERE program_name = ?", (program_name,)).fetchone()[0]
        return int(self._run(work, durable=False))

    def recent_events(self, limit=20):
        """[(at, update_id, text)] of every offer, the newest first."""
        def work(execute):
            return execute("SELECT at, update_id, text FROM events ORDER BY id DESC LIMIT ?", (limit,)).fetchall()
        return [(int(at), int(update_id), text) for at, update_id, text in self._run(work, durable=False)]

    def report_count(self):
        def work(execute):
            return execute("SELECT COUNT(*) FROM reports").fetchone()[0]
        return int(self._read(work))
