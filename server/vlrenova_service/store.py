"""The service's data: offers' rollout state, the counts of checks and status
reports, the reports themselves and the versions the checking machines run.
SQLite by default, PostgreSQL for many processes on many hosts: one schema,
one set of statements, written with "?" and adapted to each."""

import logging
import time

from .database import StoreError, open_database  # noqa: F401 (callers take the store's error from here)

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
    """A Store for "sqlite:PATH" (or a plain path) or a PostgreSQL connection string."""
    database = open_database(url)
    return Store(database)


class Store:
    def __init__(self, database):
        self._db = database
        database.set_schema(SCHEMA)

    @property
    def kind(self):
        return self._db.kind

    def create_schema(self):
        self._db.create_schema()

    def create_schema_when_reachable(self):
        self._db.create_schema_when_reachable()

    def close(self):
        self._db.close()

    # --- offers -----------------------------------------------------------------------

    def offer(self, update_id):
        def work(execute):
            row = execute("SELECT update_id, program_name, version, percent, halted, halt_reason, min_runs, "
                          "failure_limit, changed_at FROM offers WHERE update_id = ?", (update_id,)).fetchone()
            return Offer(row) if row else None
        return self._db.read(work)

    def offers(self):
        def work(execute):
            rows = execute("SELECT update_id, program_name, version, percent, halted, halt_reason, min_runs, "
                           "failure_limit, changed_at FROM offers ORDER BY program_name, update_id").fetchall()
            return [Offer(r) for r in rows]
        return self._db.read(work)

    def register_offer(self, update_id, program_name, version, percent,
                       min_runs=DEFAULT_MIN_RUNS, failure_limit=DEFAULT_FAILURE_LIMIT):
        """Makes the offer known unless it is; -> the Offer as stored."""
        def work(execute):
            execute("INSERT INTO offers (update_id, program_name, version, percent, halted, halt_reason, "
                    "min_runs, failure_limit, changed_at) VALUES (?, ?, ?, ?, 0, '', ?, ?, ?) "
                    "ON CONFLICT (update_id) DO NOTHING",
                    (update_id, program_name[:MAX_NAME], version[:MAX_VERSION], float(percent), int(min_runs),
                     float(failure_limit), int(time.time())))
        self._db.run(work)
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
        if not self._db.run(work):
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
        if not self._db.run(work):
            return None
        log.warning("offer %d (%s %s) halted: %s", update_id, offer.program_name, offer.version, reason)
        return reason

    def events(self, update_id, limit=20):
        def work(execute):
            return execute("SELECT at, text FROM events WHERE update_id = ? ORDER BY id DESC LIMIT ?",
                           (update_id, limit)).fetchall()
        return self._db.read(work)

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
        self._db.run(work, durable=False)

    def record_report(self, update_id, status, is_stub, machine_guid, updater_version, now=None):
        """Stores one status report and counts it, on disk before this returns."""
        now = int(time.time() if now is None else now)

        def work(execute):
            execute("INSERT INTO reports (received_at, update_id, status, is_stub, machine_guid, updater_version) "
                    "VALUES (?, ?, ?, ?, ?, ?)",
                    (now, update_id, status, 1 if is_stub else 0, machine_guid[:MAX_GUID],
                     updater_version[:MAX_VERSION]))
            self._count(execute, update_id, now - now % BUCKET_SECONDS, str(status))
        self._db.run(work)

    def record_upgrade_offer_report(self, program_name, program_version, major_version, status, machine_guid,
                                    now=None):
        now = int(time.time() if now is None else now)

        def work(execute):
            execute("INSERT INTO upgrade_offer_reports (received_at, program_name, program_version, "
                    "major_version, status, machine_guid) VALUES (?, ?, ?, ?, ?, ?)",
                    (now, program_name[:MAX_NAME], program_version[:MAX_VERSION], major_version[:MAX_VERSION],
                     status, machine_guid[:MAX_GUID]))
        self._db.run(work)

    # --- what the dashboard and the command line show ---------------------------------

    def counts(self, update_id):
        def work(execute):
            return execute("SELECT kind, SUM(count) FROM offer_counts WHERE update_id = ? GROUP BY kind",
                           (update_id,)).fetchall()
        return Counts({kind: int(total) for kind, total in self._db.read(work)})

    def counts_by_bucket(self, update_id):
        """[(bucket start, Counts)] in time order."""
        def work(execute):
            return execute("SELECT bucket, kind, count FROM offer_counts WHERE update_id = ? ORDER BY bucket",
                           (update_id,)).fetchall()
        buckets = {}
        for bucket, kind, count in self._db.read(work):
            buckets.setdefault(int(bucket), {})[kind] = int(count)
        return [(bucket, Counts(kinds)) for bucket, kinds in sorted(buckets.items())]

    def versions(self, program_name, limit=20):
        """[(version, machines)] of the machines that checked for the product, the most common first."""
        def work(execute):
            return execute("SELECT version, COUNT(*) FROM machines WHERE program_name = ? GROUP BY version "
                           "ORDER BY COUNT(*) DESC, version LIMIT ?", (program_name, limit)).fetchall()
        return [(v, int(n)) for v, n in self._db.read(work)]

    def machine_count(self, program_name):
        """How many machines have checked for the product (versions() names the most common only)."""
        def work(execute):
            return execute("SELECT COUNT(*) FROM machines WHERE program_name = ?", (program_name,)).fetchone()[0]
        return int(self._db.run(work, durable=False))

    def recent_events(self, limit=20):
        """[(at, update_id, text)] of every offer, the newest first."""
        def work(execute):
            return execute("SELECT at, update_id, text FROM events ORDER BY id DESC LIMIT ?", (limit,)).fetchall()
        return [(int(at), int(update_id), text) for at, update_id, text in self._db.run(work, durable=False)]

    def report_count(self):
        def work(execute):
            return execute("SELECT COUNT(*) FROM reports").fetchone()[0]
        return int(self._db.read(work))
