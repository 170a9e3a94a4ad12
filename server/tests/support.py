"""What the service's tests share: a real PostgreSQL server of their own, a
service folder made by the command line, the service as a real process
(built-in server or gunicorn) on loopback, and the updater's requests."""

import atexit
import http.client
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import uuid
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER_DIR = os.path.dirname(HERE)
sys.path.insert(0, SERVER_DIR)

from vlrenova_service.protocol import form_body  # noqa: E402

COMMAND = os.path.join(SERVER_DIR, "vlrenova-service")
PYTHON = "/usr/bin/python3"
POSTGRES_BIN = "/usr/lib/postgresql/15/bin"
SERVICE_PATH = "/Renova/VLRNWebservice.asmx/"


def run_command(*args, check=True):
    """Runs vlrenova-service; -> CompletedProcess with text output."""
    done = subprocess.run([PYTHON, "-B", COMMAND] + [str(a) for a in args], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, timeout=120)
    if check and done.returncode != 0:
        raise AssertionError("vlrenova-service %s failed (%d): %s%s" % (" ".join(map(str, args)), done.returncode,
                                                                        done.stdout, done.stderr))
    return done


class PostgresServer:
    """A PostgreSQL server in a folder of its own, on its own Unix socket only, so
    that tests running side by side never meet. As root its programs run as the
    postgres user, as initdb refuses root."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="vlrn-postgres.")
        self.as_user = []
        if os.geteuid() == 0:
            os.chown(self.folder, pwd.getpwnam("postgres").pw_uid, -1)
            self.as_user = ["runuser", "-u", "postgres", "--"]
        self.port = 55432
        data = os.path.join(self.folder, "data")
        self._run("initdb", "-D", data, "-A", "trust", "-U", "test", "-E", "UTF8", "--no-locale", "--no-sync")
        self._run("pg_ctl", "-D", data, "-o", "-k %s -p %d -c listen_addresses='' -c fsync=on" % (self.folder, self.port),
                  "-l", os.path.join(self.folder, "log"), "-w", "start")
        self.data = data
        self._databases = 0

    def _run(self, program, *args):
        subprocess.run(self.as_user + [os.path.join(POSTGRES_BIN, program)] + list(args), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=120)

    def conninfo(self, database="postgres"):
        return "host=%s port=%d user=test dbname=%s" % (self.folder, self.port, database)

    def new_database(self):
        """A connection string to an empty database of its own."""
        import psycopg
        self._databases += 1
        name = "t%d_%s" % (self._databases, uuid.uuid4().hex[:8])
        with psycopg.connect(self.conninfo(), autocommit=True) as connection:
            connection.execute("CREATE DATABASE %s" % name)
        return self.conninfo(name)

    def terminate_connections(self, conninfo):
        """Ends every server process of that database, as a restart or a network
        fault would: the service's open connections break."""
        import psycopg
        name = conninfo.rsplit("dbname=", 1)[1]
        with psycopg.connect(self.conninfo(), autocommit=True) as connection:
            connection.execute("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                               "WHERE datname = %s AND pid <> pg_backend_pid()", (name,))

    def stop(self):
        try:
            self._run("pg_ctl", "-D", self.data, "-m", "immediate", "-w", "stop")
        except (subprocess.CalledProcessError, subprocess.TimeoutExpired):
            pass
        shutil.rmtree(self.folder, ignore_errors=True)


_postgres = None


def postgres():
    """The test run's PostgreSQL server, started at the first call."""
    global _postgres
    if _postgres is None:
        _postgres = PostgresServer()
        atexit.register(_postgres.stop)
    return _postgres


def database_urls():
    """{kind: a function giving a fresh database's URL}: the same tests run on both."""
    return {"sqlite": lambda folder: "sqlite:" + os.path.join(folder, "service.db"),
            "postgresql": lambda folder: postgres().new_database()}


class ServiceFolder:
    """A service folder made by `vlrenova-service init`, with its settings changed
    as a test needs."""

    def __init__(self, database=None, public_url="http://127.0.0.1:1/Renova", **settings):
        self.folder = tempfile.mkdtemp(prefix="vlrn-service.")
        atexit.register(shutil.rmtree, self.folder, True)
        run_command("init", self.folder, "--public-url", public_url)
        self.config = os.path.join(self.folder, "service.conf")
        self.catalog = os.path.join(self.folder, "catalog")
        with open(os.path.join(self.folder, "dashboard-token")) as f:
            self.token = f.read().strip()
        changes = dict(settings)
        if database is not None:
            changes["database"] = database
        self.set(**changes)

    def set(self, **settings):
        with open(self.config) as f:
            lines = f.read().splitlines()
        for name, value in settings.items():
            lines = [l for l in lines if not l.startswith(name + " =")]
            lines.append("%s = %s" % (name, value))
        with open(self.config, "w") as f:
            f.write("\n".join(lines) + "\n")

    def publish(self, product, version, update_id, rollout=100, setup_bytes=b"MZ setup", file_name="setup.exe"):
        setup = os.path.join(self.folder, "setup-%d.exe" % update_id)
        with open(setup, "wb") as f:
            f.write(setup_bytes)
        return run_command("publish", "--config", self.config, "--product", product, "--version", version,
                           "--update-id", update_id, "--setup", setup, "--file-name", file_name,
                           "--rollout", rollout)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class ServiceProcess:
    """The service as a real process on loopback: the built-in server, or gunicorn
    with workers (gunicorn=N)."""

    def __init__(self, service_folder, gunicorn=0, port=None, extra=()):
        self.port = port or free_port()
        self.log_path = os.path.join(service_folder.folder, "service-%d.log" % self.port)
        self.log = open(self.log_path, "ab")
        environment = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
        if gunicorn:
            environment["VLRENOVA_SERVICE_CONFIG"] = service_folder.config
            environment["PYTHONPATH"] = SERVER_DIR
            command = [PYTHON, "-m", "gunicorn", "--workers", str(gunicorn), "--bind", "127.0.0.1:%d" % self.port,
                       "--graceful-timeout", "5"] + list(extra) + ["vlrenova_service.wsgi:application"]
        else:
            command = [PYTHON, "-B", COMMAND, "serve", "--config", service_folder.config, "--port",
                       str(self.port)] + list(extra)
        self.process = subprocess.Popen(command, stdout=self.log, stderr=self.log, env=environment,
                                        start_new_session=True)
        self._wait_until_listening()

    def _wait_until_listening(self, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise AssertionError("the service ended at its start: %s" % self.log_text())
            try:
                status, _, _ = self.get("/healthz")
                if status == 200:
                    return
            except OSError:
                pass
            time.sleep(0.1)
        raise AssertionError("the service did not answer within %d s: %s" % (timeout, self.log_text()))

    def log_text(self):
        self.log.flush()
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def request(self, verb, path, body=b"", headers=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        try:
            connection.request(verb, path, body, headers or {})
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            connection.close()

    def get(self, path, headers=None):
        return self.request("GET", path, headers=headers)

    def post(self, method, argument, document):
        return self.request("POST", SERVICE_PATH + method, form_body(argument, document),
                            {"Content-Type": "application/x-www-form-urlencoded"})

    def check(self, product, version, machine_guid, installing=False):
        """-> (HTTP status, the answer's text as the updater takes it, the answer's root)."""
        status, _, body = self.post("GetClientUpdate", "clientStatusXML",
                                    client_status(product, version, machine_guid, installing))
        if status != 200:
            return status, None, None
        root = ET.fromstring(body)
        return status, root.text or "", root

    def report(self, update_id, status, machine_guid, is_stub=False):
        return self.post("ReportUpdateStatus", "UpdateStatusXML",
                         update_status(update_id, status, machine_guid, is_stub))[0]

    def stop(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self.log.close()


def xml_text(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def client_status(product, version, machine_guid, installing=False):
    """A ClientStatus document as the updater prints it."""
    parameters = ("    <Parameters>\n        <GetLatestSetupFile>True</GetLatestSetupFile>\n    </Parameters>\n"
                  if installing else "    <Parameters />\n")
    return ("<ClientStatus>\n    <Version>9.4.10</Version>\n" + parameters +
            "    <Informations>\n"
            "        <UpdateCheckSilent>True</UpdateCheckSilent>\n"
            "        <MachineGuid>%s</MachineGuid>\n"
            "        <ProgramName>%s</ProgramName>\n"
            "        <ProgramVersionNumber>%s</ProgramVersionNumber>\n"
            "    </Informations>\n</ClientStatus>\n") % (xml_text(machine_guid), xml_text(product),
                                                        xml_text(version))


def update_status(update_id, status, machine_guid, is_stub=False):
    return ("<UpdateStatus>\n    <Version>9.4.10</Version>\n    <MAC>2:FC:0:0:0:1</MAC>\n"
            "    <MachineGuid>%s</MachineGuid>\n    <IsStub>%d</IsStub>\n    <Status>%d</Status>\n"
            "    <UpdateId>%d</UpdateId>\n</UpdateStatus>\n") % (xml_text(machine_guid), 1 if is_stub else 0,
                                                              status, update_id)


def instruction_of(text):
    """The instruction an answer's text holds, or None for "nothing offered"."""
    if not text.lstrip().startswith("<Instruction"):
        return None
    root = ET.fromstring(text)
    return root if (root.findtext("UpdateId") or "0").strip() not in ("", "0") else None
