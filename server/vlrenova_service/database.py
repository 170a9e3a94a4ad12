"""The service's database: SQLite for one machine, PostgreSQL for many processes
on many hosts, behind one interface: transactions of statements written with
"?", on connections kept in a pool, retried once on a connection found spent."""

import logging
import os
import sqlite3
import threading

log = logging.getLogger("vlrenova.database")

# Connections kept open between calls, per process.
MAX_IDLE_CONNECTIONS = 8


class StoreError(Exception):
    """The database could not be reached or refused a statement."""


def open_database(url):
    """A Database for "sqlite:PATH" (or a plain path) or a PostgreSQL connection
    string ("postgresql://..." or "host=... dbname=...")."""
    if url.startswith(("postgresql:", "postgres:")) or "=" in url:
        return Database(_PostgresConnections(url))
    return Database(_SqliteConnections(url[len("sqlite:"):] if url.startswith("sqlite:") else url))


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


class Database:
    """Transactions on pooled connections, and the tables made when they can be."""

    def __init__(self, connections):
        self._db = connections
        self._pool = _Pool(connections)
        self._schema = ""
        self._schema_pending = False

    def set_schema(self, schema):
        """The tables' statements, with {serial} for each kind's key column."""
        self._schema = schema

    @property
    def kind(self):
        return self._db.name

    def run(self, work, durable=True):
        """Runs work(execute) in one transaction."""
        if self._schema_pending:
            self.create_schema()
        return self._transaction(work, durable)

    def read(self, work):
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
        statements = [s.strip() for s in self._schema.format(serial=self._db.serial).split(";") if s.strip()]

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
