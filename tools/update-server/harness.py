"""Shared pieces of the update server's tests: the updater's form encoding, its
ClientStatus document, and the server started as a real process on loopback."""

import atexit
import http.client
import json
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import uuid
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "server"))
from vlrenova_service.protocol import form_body, form_encode  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "server.py")
MAKE_CERTS = os.path.join(HERE, "make-certs")
SAMPLE_CATALOG = os.path.join(HERE, "sample-catalog")
TEST_CATALOG = os.path.join(HERE, "test-catalog")
NS = "{http://update.velbor.example/Renova/}"
FORM = "application/x-www-form-urlencoded"

# Starts server.py's main with some of its limits changed (name -> value), so
# that a test can reach them in seconds.
WITH_LIMITS = ("import sys; sys.path.insert(0, %r); import server; "
               "[setattr(server, name, value) for name, value in %r.items()]; "
               "server.Handler.timeout = server.IDLE_TIMEOUT; sys.exit(server.main(sys.argv[1:]))")


# The updater's form encoding, as the service decodes it.
client_encode = form_encode


def xml_text(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def client_status(name, version, installing=False):
    """A ClientStatus document as the updater prints it (indented, no declaration)."""
    parameters = ("    <Parameters>\n        <GetLatestSetupFile>True</GetLatestSetupFile>\n    </Parameters>\n"
                  if installing else "    <Parameters/>\n")
    return ("<ClientStatus>\n"
            "    <Version>9.4.10</Version>\n"
            + parameters +
            "    <Informations>\n"
            "        <UpdateCheckSilent>False</UpdateCheckSilent>\n"
            "        <UpdateCheckAfterTrayMessage>False</UpdateCheckAfterTrayMessage>\n"
            "        <MAC>00-11-22-33-44-55</MAC>\n"
            "        <OsVersion>10.0.19045</OsVersion>\n"
            "        <ProgramName>%s</ProgramName>\n"
            "        <ProgramVersionNumber>%s</ProgramVersionNumber>\n"
            "        <ProgramLanguage>1031</ProgramLanguage>\n"
            "    </Informations>\n"
            "%s"
            "</ClientStatus>\n") % (xml_text(name), xml_text(version), "" if installing else "    <InstallDir/>\n")


def token():
    return uuid.uuid4().hex[:12]


_certs = None


def certs():
    """Certificates for the whole test run, made once."""
    global _certs
    if _certs is None:
        folder = tempfile.mkdtemp(prefix="update-server-certs.")
        atexit.register(shutil.rmtree, folder, True)
        subprocess.run(["bash", MAKE_CERTS, folder], check=True, stdout=subprocess.DEVNULL)
        _certs = folder
    return _certs


def trusting(pem):
    """A client TLS context that trusts only the given certificate or authority."""
    context = ssl.create_default_context(cafile=os.path.join(certs(), pem))
    return context


class Response:
    def __init__(self, status, headers, body):
        self.status = status
        self.headers = headers
        self.body = body

    def answer_text(self):
        """The text of the answer's root element, as the updater takes it."""
        root = ET.fromstring(self.body)
        return root.text or ""


class ServerProcess:
    def __init__(self, catalogs, with_certs=True, extra_args=(), test_faults=True, limits=None):
        """A server as the tests use it: with --test-faults, unless test_faults is false;
        limits changes server.py's constants of that name."""
        self.dir = tempfile.mkdtemp(prefix="update-server-test.")
        self.port_file = os.path.join(self.dir, "port")
        self.record_file = os.path.join(self.dir, "records.jsonl")
        self.log_file = os.path.join(self.dir, "server.log")
        program = ["-c", WITH_LIMITS % (HERE, limits)] if limits else [SERVER]
        args = [sys.executable, "-B"] + program + ["--port", "0", "--port-file", self.port_file,
                                                   "--record", self.record_file]
        if test_faults:
            args.append("--test-faults")
        for catalog in catalogs:
            args += ["--catalog", catalog]
        if with_certs:
            args += ["--certs", certs()]
        args += list(extra_args)
        with open(self.log_file, "wb") as log:
            self.process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        deadline = time.monotonic() + 15
        while not os.path.exists(self.port_file):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("the server did not start:\n" + self.log())
            time.sleep(0.05)
        with open(self.port_file) as f:
            self.port_lines = f.read().splitlines()
        self.ports = {"main": int(self.port_lines[0])}
        for line in self.port_lines[1:]:
            name, port = line.split()
            self.ports[name] = int(port)
        self.port = self.ports["main"]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        shutil.rmtree(self.dir, True)

    def log(self):
        try:
            with open(self.log_file, encoding="utf-8", errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def connection(self, scheme="https", listener="main", context=None, timeout=10):
        port = self.ports[listener]
        if scheme == "https":
            return http.client.HTTPSConnection("localhost", port, timeout=timeout,
                                               context=context or trusting("ca.pem"))
        return http.client.HTTPConnection("localhost", port, timeout=timeout)

    def request(self, verb, path, body=None, headers=None, scheme="https", listener="main", connection=None):
        own = connection is None
        conn = connection or self.connection(scheme, listener)
        try:
            conn.request(verb, path, body=body, headers=headers or {})
            r = conn.getresponse()
            return Response(r.status, r, r.read())
        finally:
            if own:
                conn.close()

    def post(self, path, argument, document, scheme="https", **kw):
        headers = {"Content-Type": FORM, "User-Agent": "VLRenova"}
        return self.request("POST", path, form_body(argument, document), headers, scheme, **kw)

    def check(self, name, version, installing=False, prefix="/Renova/", scheme="https", **kw):
        return self.post(prefix + "VLRNWebservice.asmx/GetClientUpdate", "clientStatusXML",
                         client_status(name, version, installing), scheme, **kw)

    def get(self, path, scheme="http", **kw):
        return self.request("GET", path, scheme=scheme, **kw)

    def record_count(self, scope):
        r = self.get("/_records/%s/count" % scope)
        assert r.status == 200, r.status
        return int(r.body)

    def record_field(self, scope, index, field):
        """The field as text, or None when the server answers 404."""
        r = self.get("/_records/%s/%d/%s" % (scope, index, field))
        if r.status == 404:
            return None
        assert r.status == 200, r.status
        return r.body.decode("utf-8")

    def record_lines(self):
        with open(self.record_file, encoding="utf-8") as f:
            return [json.loads(line) for line in f]


def raw_exchange(port, data, timeout=10):
    """Sends bytes on a fresh plain connection and returns everything that comes
    back until the server closes it."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        received = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return received
            received += chunk


def raw_request(verb, path, body=b"", extra=""):
    return ("%s %s HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\nContent-Length: %d\r\n%s\r\n"
            % (verb, path, len(body), extra)).encode("ascii") + body


def split_response(data):
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split()[1])
    headers = {k.strip().lower(): v.strip() for k, _, v in (line.partition(":") for line in lines[1:])}
    return status, headers, body


def write_json(folder, name, value):
    path = os.path.join(folder, name)
    temp = path + ".tmp"
    with open(temp, "w", encoding="utf-8") as f:
        json.dump(value, f, ensure_ascii=False)
    os.replace(temp, path)
    return path
