#!/usr/bin/env python3
"""Reference update web service for VLRenovaWorker.

Answers the updater's three service calls from a catalog folder of JSON files,
serves download files and banners and, started with --test-faults, misbehaves on
request (faults named in the request path) so that tests can exercise every
failure of the client. Without --test-faults it answers from its catalog only.
Standard library only. See README.md in this folder.
"""

import argparse
import array
import base64
import binascii
import collections
import email.utils
import hashlib
import http.client
import http.server
import io
import json
import os
import re
import signal
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time
import urllib.parse
import xml.etree.ElementTree as ET
from datetime import datetime, timezone

try:
    import fcntl
    import termios
    # Bytes written to a socket that its peer has not yet acknowledged (Linux).
    TIOCOUTQ = termios.TIOCOUTQ
except (ImportError, AttributeError):
    TIOCOUTQ = None

# The protocol and the signing are the service's own (server/ in this repository).
sys.path.insert(0, os.path.join(os.path.dirname(os.path.realpath(__file__)), os.pardir, os.pardir, "server"))
from vlrenova_service import signing  # noqa: E402
from vlrenova_service.protocol import (  # noqa: E402
    DEFAULT_ANSWER_LIFETIME, GENERAL_FIELDS, LIST_FIELDS, MAX_ANSWER_LIFETIME, METHOD_ARGUMENTS, NO_UPDATE,
    SERVICE_NAMESPACE, XML_DECLARATION, build_instruction, catalog_text, check_product_fields, decode_form_body,
    empty_wrapper, expiry_time, nothing_offered, report_accepted, substitute, version_numbers)
from vlrenova_service.ranges import file_blocks, served_range  # noqa: E402
from vlrenova_service.signing import SigningError  # noqa: E402

# Fields of a record that GET /_records/<token>/<index>/<field> hands out.
RECORD_FIELDS = (
    "time", "listener", "scheme", "http_method", "path", "token", "method",
    "user_agent", "content_type", "raw_body", "argument", "xml", "decode_error",
    "faults", "headers",
)

BLOCK = 64 * 1024

# What one client can cost the service.
# Connections served at once over all listeners, so also the most handler
# threads; further connections wait in the listen backlog until one ends.
MAX_CONNECTIONS = 64
# The updater's forms are a few KiB; a longer body is answered 413 unread.
MAX_BODY = 1024 * 1024
# The header lines of one request together (the standard library already
# limits the request line to 64 KiB), and one line of a chunked body's framing.
MAX_HEADER_BYTES = 64 * 1024
MAX_CHUNK_LINE = 4096
# A connection silent this long is closed; a request that has begun must have
# arrived whole within REQUEST_TIME_LIMIT, so that a client sending a byte now
# and then cannot hold its thread either.
IDLE_TIMEOUT = 30
REQUEST_TIME_LIMIT = 60
# Records held in memory for GET /_records (--test-faults only); the oldest go
# first once either bound is reached. A record counts as its JSON line's length.
MAX_RECORDS = 100_000
MAX_RECORD_BYTES = 64 * 1024 * 1024
# Scopes and paths that a once-only fault (cutat, changeat) has acted on; the
# oldest are forgotten first. Each is held as a 32-byte digest.
MAX_ONCE_KEYS = 100_000
# How long a cut answer (cutat, changeat) waits, once the client's system has
# taken its bytes, before the reset, so that the client has read them.
CUT_GRACE = 0.3
# A stalled answer (stallat) waits at most this long for its client to close.
STALL_LIMIT = 600

def log(text):
    print(time.strftime("%Y-%m-%d %H:%M:%S ") + text, file=sys.stderr, flush=True)


# --- Catalog -----------------------------------------------------------------------------

KNOWN_PRODUCT_KEYS = set(GENERAL_FIELDS) | set(LIST_FIELDS) | {"ProgramName"}


class Catalog:
    """The catalog folders, read afresh on every request (vendors edit them live).

    Problems with a file are logged once per version of the file, not on every
    request.
    """

    def __init__(self, folders):
        self.folders = [os.path.abspath(f) for f in folders]
        self._reported = {}
        self._lock = threading.Lock()

    def _report_once(self, path, stamp, message):
        with self._lock:
            if self._reported.get(path) == (stamp, message):
                return
            self._reported[path] = (stamp, message)
        log("catalog: %s: %s" % (path, message))

    def products(self):
        found = []
        for folder in self.folders:
            try:
                names = sorted(n for n in os.listdir(folder) if n.endswith(".json"))
            except OSError as e:
                self._report_once(folder, None, "cannot list the folder: %s" % e)
                continue
            for name in names:
                path = os.path.join(folder, name)
                stamp = None
                try:
                    st = os.stat(path)
                    stamp = (st.st_mtime_ns, st.st_size)
                    with open(path, "rb") as f:
                        product = json.loads(f.read().decode("utf-8"))
                except (OSError, UnicodeDecodeError, ValueError) as e:
                    self._report_once(path, stamp, "skipped: %s" % e)
                    continue
                problem = check_product_fields(product)
                if problem:
                    self._report_once(path, stamp, "skipped: %s" % problem)
                    continue
                unknown = sorted(k for k in product if k not in KNOWN_PRODUCT_KEYS and not k.startswith("_"))
                if unknown:
                    self._report_once(path, stamp, "ignoring unknown keys %s" % ", ".join(unknown))
                found.append((path, product))
        return found

    def find(self, program_name):
        matches = [(p, prod) for p, prod in self.products() if prod["ProgramName"] == program_name]
        if len(matches) > 1:
            log("catalog: %d files name %r; using %s" % (len(matches), program_name, matches[0][0]))
        return matches[0][1] if matches else None

    def locate(self, subfolder, relative):
        """A file below <catalog>/<subfolder>/, or None for anything outside it."""
        parts = relative.split("/")
        if not relative or any(p in ("", ".", "..") or "\\" in p or "\0" in p for p in parts):
            return None
        for folder in self.folders:
            base = os.path.realpath(os.path.join(folder, subfolder))
            candidate = os.path.realpath(os.path.join(base, *parts))
            if os.path.commonpath([base, candidate]) == base and os.path.isfile(candidate):
                return candidate
        return None


def with_digests(product, catalog, digests):
    """Gives every download the server serves itself its Sha256 and Size, unless the
    catalog names them (a wrong value there is kept on purpose)."""
    entries = product.get("Download")
    if not entries:
        return product
    filled = []
    for entry in entries:
        if "Sha256" not in entry or "Size" not in entry:
            m = FILES_RE.match(urllib.parse.urlsplit(catalog_text(entry.get("Url", ""))).path)
            found = m and catalog.locate("files", urllib.parse.unquote(m.group("rest")))
            if found:
                try:
                    sha256, size = digests.digest(found)
                except OSError as e:
                    log("catalog: cannot read %s for its digest: %s" % (found, e))
                else:
                    entry = dict(entry)
                    entry.setdefault("Sha256", sha256)
                    entry.setdefault("Size", size)
        filled.append(entry)
    return dict(product, Download=filled)


def answer_text_for(root, catalog, replacements, digests, expires=None):
    """The text the GetClientUpdate answer carries for this ClientStatus document.

    A keyed service passes expires: its signed answer then names the product it
    was made for (the request's ProgramName exactly, so a signed answer cannot
    be passed on to another product) and when it stops being valid, unless the
    catalog gives its own Expires; and "nothing offered" is such an instruction
    with UpdateId 0 instead of the bare sentence, so that it is signed too.
    """
    name = root.findtext("Informations/ProgramName") or ""
    version = root.findtext("Informations/ProgramVersionNumber") or ""
    installing = (root.findtext("Parameters/GetLatestSetupFile") or "").strip().lower() == "true"
    product = catalog.find(name)
    offered = product.get("NewProductVersion") if product is not None else None
    if product is None or (not installing and offered is not None and
                           version_numbers(version) >= version_numbers(catalog_text(offered))):
        if expires is None:
            return NO_UPDATE
        return nothing_offered(name, expires)
    product = with_digests(substitute(product, replacements), catalog, digests)
    if expires is None:
        return build_instruction(product)
    if product.get("Expires") is None:
        product = dict(product, Expires=expires)
    return build_instruction(product, program_name=name)


# --- Served files ------------------------------------------------------------------------

# What the fault changeat serves once it has cut: every byte of the file XOR this.
CHANGED_XOR = 0x5A
_CHANGED_TABLE = bytes(b ^ CHANGED_XOR for b in range(256))
def file_validators(st, changed=False):
    """(ETag, Last-Modified as seconds since 1970) of a file's version. The tag
    stands for size and modification time, so that it is made without reading a
    file of many MiB; the changed content of changeat has its own tag and a
    modification time one second later."""
    etag = "%x-%x" % (st.st_size, st.st_mtime_ns)
    seconds = st.st_mtime_ns // 1_000_000_000
    if changed:
        return '"%s-%02x"' % (etag, CHANGED_XOR), seconds + 1
    return '"%s"' % etag, seconds


def file_answer(path, range_value=None, if_range=None, ranges=True, changed=False):
    """A served file, streamed in blocks: 200, or with ranges 206 for one range of
    it (Range, unless If-Range names another version) or 416; changed serves the
    content changeat makes of it."""
    st = os.stat(path)
    size = st.st_size
    etag, modified = file_validators(st, changed)
    headers = [("ETag", etag), ("Last-Modified", email.utils.formatdate(modified, usegmt=True))]
    first, last, status = 0, size - 1, 200
    if ranges:
        headers.insert(0, ("Accept-Ranges", "bytes"))
        status, first, last = served_range(range_value, if_range, etag, modified, size)
        if status == 416:
            answer = text_answer(416, "range not satisfiable")
            answer.headers = headers + [("Content-Range", "bytes */%d" % size)]
            return answer
        if status == 206:
            headers.append(("Content-Range", "bytes %d-%d/%d" % (first, last, size)))
    length = last - first + 1

    def blocks():
        return file_blocks(path, first, length, _CHANGED_TABLE if changed else None, BLOCK)
    return Answer(status, blocks=blocks, length=length, content_type="application/octet-stream", headers=headers)


# --- Faults ------------------------------------------------------------------------------

class FaultError(Exception):
    pass


BODY_FAULTS = ("notxml", "emptyroot", "text", "raw", "huge", "deep", "nul")
SIGNATURE_FAULTS = ("unsigned", "badsig", "flipsig", "nokeyid", "signwith")
DOWNLOAD_FAULTS = ("cutat", "stallat", "noranges", "changeat")
OTHER_FAULTS = ("status", "delay", "drop", "truncate", "reset") + DOWNLOAD_FAULTS + SIGNATURE_FAULTS


def b64url(value):
    if not re.fullmatch(r"[A-Za-z0-9_-]*={0,2}", value):
        raise FaultError("bad base64url %r" % value)
    try:
        return base64.urlsafe_b64decode(value + "=" * (-len(value) % 4))
    except (binascii.Error, ValueError) as e:
        raise FaultError("bad base64url %r: %s" % (value, e))


def parse_faults(texts):
    faults = {}
    for text in texts:
        for item in text.split(";"):
            if not item:
                continue
            name, _, value = item.partition("=")
            if name not in OTHER_FAULTS + BODY_FAULTS:
                raise FaultError("unknown fault %r" % name)
            faults[name] = value
    if sum(1 for name in faults if name in BODY_FAULTS) > 1:
        raise FaultError("more than one body fault")
    if "badsig" in faults and "flipsig" in faults:
        raise FaultError("badsig and flipsig exclude each other")
    if "cutat" in faults and "changeat" in faults:
        raise FaultError("cutat and changeat exclude each other")
    return faults


def number(faults, name, kind=int, low=0, high=None):
    try:
        value = kind(faults[name])
    except ValueError:
        raise FaultError("%s needs a number, not %r" % (name, faults[name]))
    if not value >= low or (high is not None and not value <= high):   # refuses nan too
        raise FaultError("%s=%s is out of range" % (name, faults[name]))
    return value


class Answer:
    def __init__(self, status, body=b"", content_type="text/xml; charset=utf-8", blocks=None, length=None,
                 headers=()):
        self.status = status
        self.text = None                # the text of a wrapper answer, which may get signed
        self.content_type = content_type
        self.body = body
        self.blocks = blocks            # a callable giving the body in blocks, for big answers
        self.length = len(body) if length is None else length
        self.headers = list(headers)    # (name, value) sent after Content-Type and Content-Length

    def chunks(self):
        if self.blocks is not None:
            yield from self.blocks()
        elif self.body:
            yield self.body


def wrapper_answer(text):
    answer = Answer(200, signing.answer_document(text))
    answer.text = text
    return answer


def sign_answer(answer, faults, keys):
    """Signs a wrapper answer with the key the faults pick, spoilt as they ask."""
    if "signwith" in faults:
        choice = number(faults, "signwith", low=0, high=len(keys) - 1 if keys else None)
    else:
        choice = 0
    if answer.text is None or not keys or "unsigned" in faults:
        return
    key = keys[choice]
    signature = key.sign(signing.signed_bytes(answer.text))
    if "flipsig" in faults:
        signature = signature[:-1] + bytes([signature[-1] ^ 0x01])
    text = "@@not-base64@@" if "badsig" in faults else base64.b64encode(signature).decode("ascii")
    answer.body = signing.answer_document(answer.text, text, None if "nokeyid" in faults else key.id)
    answer.length = len(answer.body)


def text_answer(status, text):
    return Answer(status, (text + "\n").encode("utf-8"), "text/plain; charset=utf-8")


def huge_answer(size):
    head = (XML_DECLARATION + '\r\n<string xmlns="' + SERVICE_NAMESPACE + '">').encode("ascii")
    tail = b"</string>"
    if size < len(head) + len(tail):
        head, tail = b"<s>", b"</s>"
        if size < len(head) + len(tail):
            raise FaultError("huge needs at least %d bytes" % (len(head) + len(tail)))

    def blocks():
        yield head
        left = size - len(head) - len(tail)
        while left > 0:
            n = min(left, BLOCK)
            yield b"x" * n
            left -= n
        yield tail
    return Answer(200, blocks=blocks, length=size)


def deep_answer(depth):
    opening, closing = b"<e>", b"</e>"

    def blocks():
        for count in range(0, depth, 8192):
            yield opening * min(8192, depth - count)
        for count in range(0, depth, 8192):
            yield closing * min(8192, depth - count)
    return Answer(200, blocks=blocks, length=depth * (len(opening) + len(closing)))


def fault_body(faults):
    """The answer a body fault asks for, or None."""
    if "notxml" in faults:
        return Answer(200, b"This is not XML", "text/plain; charset=utf-8")
    if "emptyroot" in faults:
        return Answer(200, empty_wrapper())
    if "text" in faults:
        raw = b64url(faults["text"])
        try:
            text = raw.decode("utf-8")
        except UnicodeDecodeError:
            text = raw.decode("latin-1")
        return wrapper_answer(text)
    if "raw" in faults:
        return Answer(200, b64url(faults["raw"]))
    if "huge" in faults:
        return huge_answer(number(faults, "huge", low=1))
    if "deep" in faults:
        return deep_answer(number(faults, "deep", low=1, high=50_000_000))
    if "nul" in faults:
        size = number(faults, "nul", low=1) if faults["nul"] else 4096
        return Answer(200, blocks=lambda: (b"\0" * min(BLOCK, size - i) for i in range(0, size, BLOCK)),
                      length=size)
    return None


# --- Request paths -----------------------------------------------------------------------

SERVICE_RE = re.compile(r"^(?P<prefix>.*)/VLRNWebservice\.asmx(?P<rest>/.*)?$")
FILES_RE = re.compile(r"^(?P<prefix>.*?)/files/(?P<rest>.*)$")
BANNER_RE = re.compile(r"^(?P<prefix>.*)/Banner/(?P<rest>[^/]*)$")
# An index of more than nine digits names no record (int() would refuse one of thousands).
RECORDS_RE = re.compile(r"^/_records/(?P<token>[^/]+)/(?:(?P<count>count)|(?P<index>-?\d{1,9})/(?P<field>[a-z_]+))$")


def parse_prefix(prefix):
    """The scope token and the fault texts named by t/<token> and f/<faults> segments."""
    segments = prefix.split("/")
    token = None
    faults = []
    i = 0
    while i < len(segments):
        if segments[i] in ("t", "f") and i + 1 < len(segments):
            value = urllib.parse.unquote(segments[i + 1])
            if segments[i] == "t":
                token = value
            else:
                faults.append(value)
            i += 2
        else:
            i += 1
    return token, faults


def route(path):
    """-> (kind, prefix, rest): kind is "service", "files", "banner" or None."""
    for kind, pattern in (("service", SERVICE_RE), ("files", FILES_RE), ("banner", BANNER_RE)):
        m = pattern.match(path)
        if m:
            return kind, m.group("prefix"), m.group("rest") or ""
    return None, "", ""


# --- Records -----------------------------------------------------------------------------

class Recorder:
    """Every request, appended to the --record file and, when keep is true (the
    service runs with --test-faults), held in memory for GET /_records: at most
    MAX_RECORDS records of MAX_RECORD_BYTES together, the oldest dropped first."""

    def __init__(self, path, keep=True):
        self.path = path
        self.keep = keep
        self.by_token = {}
        self.order = collections.deque()       # (token, size) of the records held, oldest first
        self.held_bytes = 0
        self.lock = threading.Lock()

    def add(self, record):
        line = json.dumps(record, ensure_ascii=False)
        with self.lock:
            if self.keep:
                token = record["token"]
                self.by_token.setdefault(token, collections.deque()).append(record)
                self.order.append((token, len(line)))
                self.held_bytes += len(line)
                while len(self.order) > MAX_RECORDS or (self.held_bytes > MAX_RECORD_BYTES and len(self.order) > 1):
                    self._drop_oldest()
            if self.path:
                with open(self.path, "a", encoding="utf-8") as f:
                    f.write(line + "\n")

    def _drop_oldest(self):
        token, size = self.order.popleft()
        self.held_bytes -= size
        records = self.by_token[token]
        records.popleft()
        if not records:
            del self.by_token[token]

    def count(self, token):
        with self.lock:
            return len(self.by_token.get(token, []))

    def get(self, token, index):
        with self.lock:
            records = self.by_token.get(token, [])
            try:
                return records[index]
            except IndexError:
                return None


class OnceKeys:
    """The scopes and paths that a once-only fault has acted on, in the server
    process's memory: at most MAX_ONCE_KEYS, the oldest forgotten first."""

    def __init__(self):
        self.keys = collections.OrderedDict()
        self.lock = threading.Lock()

    @staticmethod
    def _key(token, path):
        return hashlib.sha256(json.dumps([token, path]).encode("utf-8")).digest()

    def claim(self, token, path):
        """True the first time this scope and path are claimed."""
        key = self._key(token, path)
        with self.lock:
            if key in self.keys:
                return False
            self.keys[key] = None
            while len(self.keys) > MAX_ONCE_KEYS:
                self.keys.popitem(last=False)
            return True

    def seen(self, token, path):
        with self.lock:
            return self._key(token, path) in self.keys


# --- HTTP --------------------------------------------------------------------------------

class BodyTooLarge(ValueError):
    pass


class ConnectionInput(io.RawIOBase):
    """A connection's bytes: each wait for them ends after IDLE_TIMEOUT, and once
    a request has begun all of it must arrive within REQUEST_TIME_LIMIT."""

    def __init__(self, connection):
        super().__init__()
        self.connection = connection
        self.timing = False
        self.deadline = None

    def readable(self):
        return True

    def start_request(self):
        """The next bytes begin a request: its time runs from their arrival."""
        self.timing = True
        self.deadline = None

    def end_request(self):
        """The request is read: answers are written with the idle timeout."""
        self.timing = False
        self.deadline = None
        self.connection.settimeout(IDLE_TIMEOUT)

    def readinto(self, buffer):
        timeout = IDLE_TIMEOUT
        if self.deadline is not None:
            timeout = min(timeout, self.deadline - time.monotonic())
            if timeout <= 0:
                raise TimeoutError("the request took longer than %d s to arrive" % REQUEST_TIME_LIMIT)
        self.connection.settimeout(timeout)
        count = self.connection.recv_into(buffer)
        if self.timing and self.deadline is None:
            self.deadline = time.monotonic() + REQUEST_TIME_LIMIT
        return count


class RequestReader(io.BufferedReader):
    """The handler's rfile; while head_left is set, the lines read may together
    be at most that long, which parse_request answers with 431."""

    head_left = None

    def readline(self, size=-1):
        if self.head_left is None:
            return super().readline(size)
        cap = self.head_left + 1 if size is None or size < 0 else min(size, self.head_left + 1)
        line = super().readline(cap)
        if len(line) > self.head_left:
            raise http.client.LineTooLong("request headers longer than %d bytes" % MAX_HEADER_BYTES)
        self.head_left -= len(line)
        return line


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"       # keep-alive: the updater reuses its connections
    server_version = "VLRenovaUpdateServer/1.0"
    sys_version = ""
    timeout = IDLE_TIMEOUT

    def __init__(self, request, client_address, server, scheme):
        self.scheme = scheme
        super().__init__(request, client_address, server)

    def log_message(self, format, *args):
        log("%s %s %s" % (self.server.name, self.scheme, format % args))

    def setup(self):
        super().setup()
        self.rfile.close()              # replaced by a reader that keeps the time limits
        self.input = ConnectionInput(self.connection)
        self.rfile = RequestReader(self.input)

    def handle_one_request(self):
        self.input.start_request()
        super().handle_one_request()

    def parse_request(self):
        self.rfile.head_left = MAX_HEADER_BYTES
        try:
            return super().parse_request()
        finally:
            self.rfile.head_left = None

    def do_GET(self):
        self.dispatch(head_only=False)

    def do_HEAD(self):
        self.dispatch(head_only=True)

    def do_POST(self):
        self.dispatch(head_only=False)

    def read_body(self):
        """The request's body; BodyTooLarge beyond MAX_BODY, ValueError when malformed."""
        def framing_line():
            line = self.rfile.readline(MAX_CHUNK_LINE + 1)
            if len(line) > MAX_CHUNK_LINE:
                raise ValueError("a chunk framing line longer than %d bytes" % MAX_CHUNK_LINE)
            return line

        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            data = bytearray()
            while True:
                size = int(framing_line().split(b";")[0].strip() or b"0", 16)
                if size < 0:
                    raise ValueError("a chunk of %d bytes" % size)
                if len(data) + size > MAX_BODY:
                    raise BodyTooLarge("a chunk of %d bytes after %d" % (size, len(data)))
                if size == 0:
                    trailer = 0
                    while True:
                        line = framing_line()
                        trailer += len(line)
                        if line in (b"\r\n", b"\n", b""):
                            return bytes(data)
                        if trailer > MAX_HEADER_BYTES:
                            raise ValueError("a trailer longer than %d bytes" % MAX_HEADER_BYTES)
                data += self.rfile.read(size)
                framing_line()
        length = int(self.headers.get("Content-Length") or 0)
        if length < 0:
            raise ValueError("a Content-Length of %d" % length)
        if length > MAX_BODY:
            raise BodyTooLarge("a body of %d bytes" % length)
        return self.rfile.read(length) if length > 0 else b""

    def server_base(self):
        """What {server} stands for: --public-url, else under --test-faults the
        address the request names (tests reach one catalog on several ports and
        both schemes), else the main listener's own address."""
        settings = self.server.settings
        if settings.public_url is None and settings.test_faults:
            host = self.headers.get("Host") or "localhost:%d" % self.server.server_address[1]
            return "%s://%s" % (self.scheme, host)
        return settings.public_url or settings.own_url

    def refuse(self, status, text, reason, head_only):
        log("%s: %s %r from %s refused: %s" % (self.server.name, self.command, self.path,
                                               self.client_address[0], reason))
        self.send_answer(text_answer(status, text), head_only)

    def dispatch(self, head_only):
        try:
            body = self.read_body()
        except BodyTooLarge as e:
            log("%s: request body from %s refused: %s, more than %d" % (self.server.name, self.client_address[0],
                                                                        e, MAX_BODY))
            self.send_answer(text_answer(413, "request body too large"), head_only)
            self.close_connection = True
            return
        except ValueError as e:
            log("%s: unreadable request body from %s: %s" % (self.server.name, self.client_address[0], e))
            self.send_answer(text_answer(400, "unreadable request body"), head_only)
            self.close_connection = True
            return
        finally:
            self.input.end_request()
        path = urllib.parse.urlsplit(self.path).path
        test_faults = self.server.settings.test_faults

        if path == "/_records" or path.startswith("/_records/"):
            m = RECORDS_RE.match(path)
            if not test_faults:
                self.refuse(404, "not found", "records are served only with --test-faults", head_only)
                return
            if m and self.command in ("GET", "HEAD"):
                self.send_answer(self.records_answer(m), head_only)
                return

        kind, prefix, rest = route(path)
        token, fault_texts = parse_prefix(prefix)
        if not test_faults and (token is not None or fault_texts):
            # Otherwise anybody could have the vendor's key sign a text of their own.
            self.refuse(404, "not found", "scope and fault segments are served only with --test-faults", head_only)
            return
        record = {
            "time": datetime.now(timezone.utc).isoformat(timespec="milliseconds"),
            "listener": self.server.name,
            "scheme": self.scheme,
            "http_method": self.command,
            "path": self.path,
            "token": token,
            "faults": fault_texts,
            "headers": [[k, v] for k, v in self.headers.items()],
            "user_agent": self.headers.get("User-Agent"),
            "content_type": self.headers.get("Content-Type"),
            "raw_body": body.decode("latin-1"),
            "method": None,
            "argument": None,
            "xml": None,
            "decode_error": None,
        }
        root = None
        method = rest[1:] if kind == "service" else None
        if kind == "service" and self.command == "POST" and method in METHOD_ARGUMENTS:
            record["method"] = method
            argument, text, root, error = decode_form_body(body, METHOD_ARGUMENTS[method])
            record.update(argument=argument, xml=text, decode_error=error)
        self.server.recorder.add(record)

        try:
            faults = parse_faults(fault_texts)
            if "delay" in faults:
                time.sleep(number(faults, "delay", kind=float, high=3600))
            if "drop" in faults:
                self.close_connection = True
                return
            answer = fault_body(faults)
            if "status" in faults:
                status = number(faults, "status", low=200, high=599)
                if answer is None:
                    answer = text_answer(status, "status %d as requested" % status)
                answer.status = status
            stall = number(faults, "stallat") if "stallat" in faults else None
            cut, changed = self.once_faults(faults, token, path, head_only)
            if answer is None:
                answer = self.normal_answer(kind, method, rest, record, root,
                                            ranges="noranges" not in faults, changed=changed)
            sign_answer(answer, faults, self.server.keys)
        except FaultError as e:
            self.send_answer(text_answer(400, "fault: %s" % e), head_only)
            return
        except SigningError as e:
            log("signing failed: %s" % e)
            self.send_answer(text_answer(500, "signing failed"), head_only)
            return
        self.send_answer(answer, head_only, truncate="truncate" in faults, reset="reset" in faults,
                         cut=cut, stall=stall)

    def once_faults(self, faults, token, path, head_only):
        """-> (bytes after which to reset, or None; whether the file is served changed).

        cutat and changeat cut the first request of their scope and path that
        has no Range header (a HEAD, which has no body to cut, does not count);
        after that cut changeat serves every request of them the changed file.
        """
        name = "changeat" if "changeat" in faults else "cutat" if "cutat" in faults else None
        if name is None:
            return None, False
        count = number(faults, name)
        once = self.server.settings.once
        if not head_only and self.headers.get("Range") is None:
            if once.claim(token, path):
                return count, False
            return None, name == "changeat"
        return None, name == "changeat" and once.seen(token, path)

    def normal_answer(self, kind, method, rest, record, root, ranges=True, changed=False):
        if kind == "service":
            if self.command != "POST" or method not in METHOD_ARGUMENTS:
                return text_answer(404, "no such service method")
            if record["argument"] != METHOD_ARGUMENTS[method]:
                return text_answer(400, "%s expects the argument %s" % (method, METHOD_ARGUMENTS[method]))
            if root is None:
                return text_answer(400, "cannot read the document: %s" % record["decode_error"])
            if method == "GetClientUpdate":
                token = record["token"]
                replacements = {"{server}": self.server_base(), "{scope}": "/t/" + token if token else ""}
                expires = expiry_time(self.server.settings.answer_lifetime) if self.server.keys else None
                return wrapper_answer(answer_text_for(root, self.server.catalog, replacements,
                                                      self.server.digests, expires))
            return Answer(200, report_accepted())
        if kind in ("files", "banner") and self.command in ("GET", "HEAD"):
            folder = "files" if kind == "files" else "banners"
            found = self.server.catalog.locate(folder, urllib.parse.unquote(rest))
            if found:
                # Several header lines are joined by commas, which no single
                # range has and no validator equals: the Range is then ignored.
                range_value = ", ".join(self.headers.get_all("Range", [])) or None
                if_range = ", ".join(self.headers.get_all("If-Range", [])) or None
                return file_answer(found, range_value, if_range, ranges=ranges, changed=changed)
        return text_answer(404, "not found")

    def records_answer(self, m):
        recorder = self.server.recorder
        token = urllib.parse.unquote(m.group("token"))
        if m.group("count"):
            return text_answer(200, str(recorder.count(token)))
        record = recorder.get(token, int(m.group("index")))
        field = m.group("field")
        if record is None or field not in RECORD_FIELDS or record.get(field) is None:
            return text_answer(404, "no such record or field")
        value = record[field]
        text = value if isinstance(value, str) else json.dumps(value, ensure_ascii=False)
        return Answer(200, text.encode("utf-8"), "text/plain; charset=utf-8")

    def send_answer(self, answer, head_only, truncate=False, reset=False, cut=None, stall=None):
        """Sends the answer; truncate and reset send half of its body, cut that
        many bytes and stall that many (a cut request is not stalled)."""
        self.send_response(answer.status)
        self.send_header("Content-Type", answer.content_type)
        self.send_header("Content-Length", str(answer.length))
        for name, value in answer.headers:
            self.send_header(name, value)
        self.end_headers()
        if head_only:
            return
        if cut is not None:
            stall = None
            left = min(cut, answer.length)
        elif stall is not None:
            left = min(stall, answer.length)
        elif truncate or reset:
            left = answer.length // 2
        else:
            left = answer.length
        sent = 0
        chunks = answer.chunks()
        try:
            for chunk in chunks:
                if sent >= left:
                    break
                part = chunk[:left - sent]
                self.wfile.write(part)
                sent += len(part)
        finally:
            chunks.close()
        self.wfile.flush()
        if sent < left or truncate or reset or cut is not None:
            # A file that shrank while it was sent cannot fill its Content-Length.
            self.close_connection = True
        if cut is not None:
            log("%s: cut %r after %d of %d bytes with a reset" % (self.server.name, self.path, sent, answer.length))
            self.wait_until_sent()
            # A reset also drops what the client's system holds but the client
            # has not read yet: on a busy machine that was the answer's head,
            # and the client saw a refused request instead of a broken body.
            time.sleep(CUT_GRACE)
        if reset or cut is not None:
            # A zero linger time makes the close a reset, with no orderly end
            # the client could take for the end of the body; closed here, before
            # the server's own shutdown could send one.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
        elif stall is not None:
            self.stall(sent, answer.length)

    def wait_until_sent(self):
        """Waits until the client has taken the bytes written (at most IDLE_TIMEOUT):
        a reset drops what is still queued, so the client would get fewer."""
        if TIOCOUTQ is None:
            return
        deadline = time.monotonic() + IDLE_TIMEOUT
        queued = array.array("i", [0])
        while time.monotonic() < deadline:
            try:
                fcntl.ioctl(self.connection.fileno(), TIOCOUTQ, queued)
            except (OSError, ValueError):
                return
            if queued[0] <= 0:
                return
            time.sleep(0.005)

    def stall(self, sent, length):
        """Sends nothing more and keeps the connection until the client closes it or
        STALL_LIMIT passes; the connection keeps its slot all the while."""
        log("%s: stalling %r after %d of %d bytes" % (self.server.name, self.path, sent, length))
        self.close_connection = True
        start = time.monotonic()
        how = "%d s passed" % STALL_LIMIT
        try:
            while True:
                left = start + STALL_LIMIT - time.monotonic()
                if left <= 0:
                    break
                self.connection.settimeout(left)
                if not self.connection.recv(BLOCK):     # what the client sends meanwhile is dropped
                    how = "the client closed"
                    break
        except socket.timeout:
            pass
        except (OSError, ValueError) as e:
            how = "the connection failed: %s" % e
        log("%s: stall of %r ended after %.1f s: %s" % (self.server.name, self.path, time.monotonic() - start, how))


class Settings:
    """What the listeners share of the command line."""

    def __init__(self, test_faults=False, public_url=None, answer_lifetime=DEFAULT_ANSWER_LIFETIME):
        self.test_faults = test_faults
        self.public_url = public_url        # without its final "/", as {server} stands
        self.own_url = None                 # the main listener's address, once it is bound
        self.answer_lifetime = answer_lifetime
        self.slots = threading.BoundedSemaphore(MAX_CONNECTIONS)
        self.once = OnceKeys()              # what cutat and changeat have cut


class Listener(socketserver.ThreadingMixIn, http.server.HTTPServer):
    """One port for TLS and plain HTTP: the first byte of a connection decides."""

    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = MAX_CONNECTIONS

    def __init__(self, address, name, tls, catalog, recorder, keys, digests, settings):
        self.name = name
        self.tls = tls
        self.catalog = catalog
        self.recorder = recorder
        self.keys = keys
        self.digests = digests
        self.settings = settings
        self.full = False
        super().__init__(address, None)

    def server_bind(self):
        # HTTPServer's own version looks the host name up; a loopback server needs no lookup.
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]

    def get_request(self):
        # A connection is taken only with a free slot; until then it waits in the
        # backlog. The short wait keeps serve_forever answering shutdown.
        if not self.settings.slots.acquire(timeout=0.1):
            if not self.full:
                self.full = True
                log("%s: %d connections open; new ones wait" % (self.name, MAX_CONNECTIONS))
            raise OSError("no free connection slot")
        self.full = False
        try:
            return super().get_request()
        except BaseException:
            self.settings.slots.release()
            raise

    def process_request(self, request, client_address):
        try:
            super().process_request(request, client_address)
        except BaseException:
            self.settings.slots.release()       # no thread was started to release it
            raise

    def process_request_thread(self, request, client_address):
        try:
            super().process_request_thread(request, client_address)
        finally:
            self.settings.slots.release()

    def finish_request(self, request, client_address):
        # Also bounds the TLS handshake, which Python times as a whole.
        request.settimeout(IDLE_TIMEOUT)
        try:
            first = request.recv(1, socket.MSG_PEEK)
        except OSError:
            return
        if not first:
            return
        scheme = "http"
        if first[0] == 0x16:            # a TLS handshake record
            if self.tls is None:
                return                  # plain HTTP only: close the connection
            try:
                request = self.tls.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError) as e:
                log("%s: TLS handshake from %s failed: %s" % (self.name, client_address[0], e))
                return
            scheme = "https"
        try:
            Handler(request, client_address, self, scheme)
        except (ConnectionError, socket.timeout, ssl.SSLError):
            pass
        finally:
            if scheme == "https":
                try:
                    request.close()
                except OSError:
                    pass

    def handle_error(self, request, client_address):
        log("%s: error with %s: %s" % (self.name, client_address[0], sys.exc_info()[1]))


def tls_context(certs, cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(certs, cert), os.path.join(certs, key))
    return context


def write_atomically(path, text):
    temp = "%s.%d.tmp" % (path, os.getpid())
    with open(temp, "w", encoding="ascii") as f:
        f.write(text)
    os.replace(temp, path)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Reference update web service for VLRenovaWorker.")
    parser.add_argument("--catalog", action="append", required=True, metavar="DIR",
                        help="catalog folder (may be given more than once)")
    parser.add_argument("--port", type=int, required=True, help="port of the main listener; 0 picks a free one")
    parser.add_argument("--bind", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--port-file", metavar="F", help="write the ports here once connections are accepted")
    parser.add_argument("--pid-file", metavar="F", help="write the process id here")
    parser.add_argument("--record", metavar="F", help="append every request to F as one JSON line")
    parser.add_argument("--certs", metavar="DIR", help="certificates made by make-certs: enables TLS")
    parser.add_argument("--signing-key", action="append", default=[], metavar="FILE",
                        help="P-256 private key (PEM) that signs the update check's answers; "
                             "may be given more than once, the first one signs")
    parser.add_argument("--test-faults", action="store_true",
                        help="serve scopes, faults and GET /_records, for tests; without it the service "
                             "answers (and signs) nothing but its catalog")
    parser.add_argument("--public-url", metavar="URL",
                        help="what {server} in the catalog becomes (default: the main listener, "
                             "https://localhost:PORT/ with --certs, else http://localhost:PORT/)")
    parser.add_argument("--answer-lifetime", type=int, default=DEFAULT_ANSWER_LIFETIME, metavar="SECONDS",
                        help="a signed answer expires this long after it is made, unless its catalog entry "
                             "names its own Expires (default %d)" % DEFAULT_ANSWER_LIFETIME)
    args = parser.parse_args(argv)

    if not 1 <= args.answer_lifetime <= MAX_ANSWER_LIFETIME:
        parser.error("--answer-lifetime must be between 1 and %d seconds" % MAX_ANSWER_LIFETIME)
    public_url = None
    if args.public_url is not None:
        parts = urllib.parse.urlsplit(args.public_url)
        if parts.scheme not in ("http", "https") or not parts.netloc or parts.query or parts.fragment \
                or any(c.isspace() or ord(c) < 0x20 for c in args.public_url):
            parser.error("--public-url must be an http:// or https:// URL without query or fragment, not %r"
                         % args.public_url)
        public_url = args.public_url.rstrip("/")
    settings = Settings(args.test_faults, public_url, args.answer_lifetime)

    keys = []
    for path in args.signing_key:
        try:
            keys.append(signing.SigningKey(path))
        except SigningError as e:
            parser.error(str(e))
        log("signing key %d: %s, key id %s" % (len(keys) - 1, path, keys[-1].id))

    for folder in args.catalog:
        if not os.path.isdir(folder):
            parser.error("catalog folder %s does not exist" % folder)
    catalog = Catalog(args.catalog)
    recorder = Recorder(args.record, keep=args.test_faults)
    digests = signing.DigestCache()

    plan = [("main", args.port, None)]
    if args.certs:
        plan = [("main", args.port, ("server.pem", "server.key")),
                ("self-signed", 0, ("self-signed.pem", "self-signed.key")),
                ("untrusted", 0, ("untrusted-server.pem", "untrusted-server.key"))]
    listeners = []
    for name, port, pair in plan:
        tls = tls_context(args.certs, *pair) if pair else None
        listeners.append(Listener((args.bind, port), name, tls, catalog, recorder, keys, digests, settings))
    settings.own_url = "%s://localhost:%d" % ("https" if args.certs else "http", listeners[0].server_address[1])

    if args.pid_file:
        write_atomically(args.pid_file, "%d\n" % os.getpid())
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    for listener in listeners:
        threading.Thread(target=listener.serve_forever, args=(0.1,), name=listener.name, daemon=True).start()
        log("%s listener on %s:%d (%s)" % (listener.name, args.bind, listener.server_address[1],
                                           "TLS and plain HTTP" if listener.tls else "plain HTTP"))
    log("{server} is %s; %s" % (public_url or ("the request's address" if args.test_faults else settings.own_url),
                                "test faults, scopes and records are served" if args.test_faults
                                else "only the catalog is answered"))
    if args.port_file:
        lines = ["%d" % listeners[0].server_address[1]]
        lines += ["%s %d" % (l.name, l.server_address[1]) for l in listeners[1:]]
        write_atomically(args.port_file, "\n".join(lines) + "\n")

    stop.wait()
    log("stopping")
    for listener in listeners:
        listener.shutdown()
        listener.server_close()
    for path in (args.port_file, args.pid_file):
        if path:
            try:
                os.remove(path)
            except OSError:
                pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
