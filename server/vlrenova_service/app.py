"""The WSGI application: the three service methods, the catalog's files and
banners, the dashboard and a health check. Every process is stateless: all it
knows lives in the catalog folder and the database."""

import logging
import os
import re
import urllib.parse
import email.utils

from . import dashboard
from .http_answer import STATUS_TEXTS, Answer, text
from .protocol import METHOD_ARGUMENTS, decode_form_body, report_accepted
from .ranges import file_blocks, file_validators, served_range
from .service import Refused
from .store import StoreError

log = logging.getLogger("vlrenova.app")

# The updater's forms are a few KiB.
MAX_BODY = 1024 * 1024
BLOCK = 64 * 1024
SERVICE_RE = re.compile(r"^(?:.*)/VLRNWebservice\.asmx/(?P<method>[A-Za-z]+)$")
FILES_RE = re.compile(r"^(?:.*?)/files/(?P<rest>.+)$")
BANNER_RE = re.compile(r"^(?:.*)/Banner/(?P<rest>[^/]+)$")
XML = "text/xml; charset=utf-8"


class Application:
    def __init__(self, service, dashboard_token=None, serve_files=True):
        self.service = service
        self.dashboard_token = dashboard_token
        self.serve_files = serve_files

    def __call__(self, environ, start_response):
        try:
            answer = self.route(environ)
        except Exception:           # the client gets a status, the log the whole story
            log.exception("%s %s failed", environ.get("REQUEST_METHOD"), environ.get("PATH_INFO"))
            answer = text(500, "internal error")
        headers = [("Content-Type", answer.content_type), ("Content-Length", str(answer.length))] + answer.headers
        start_response("%d %s" % (answer.status, STATUS_TEXTS.get(answer.status, "")), headers)
        if environ.get("REQUEST_METHOD") == "HEAD":
            return [b""]
        if answer.blocks is not None:
            return answer.blocks()
        return [answer.body]

    def route(self, environ):
        path = environ.get("PATH_INFO", "")
        verb = environ.get("REQUEST_METHOD", "GET")
        m = SERVICE_RE.match(path)
        if m:
            if verb != "POST" or m.group("method") not in METHOD_ARGUMENTS:
                return text(404, "no such service method")
            return self.service_call(environ, m.group("method"))
        if path == "/dashboard" or path.startswith("/dashboard/"):
            return dashboard.answer(self, environ)
        if path == "/healthz":
            return self.health()
        if verb in ("GET", "HEAD") and self.serve_files:
            m = FILES_RE.match(path)
            if m:
                return self.file(environ, "files", m.group("rest"))
            m = BANNER_RE.match(path)
            if m:
                return self.file(environ, "banners", m.group("rest"))
        return text(404, "not found")

    def service_call(self, environ, method):
        body = read_body(environ)
        if isinstance(body, Answer):
            return body
        argument, _, root, error = decode_form_body(body, METHOD_ARGUMENTS[method])
        if argument != METHOD_ARGUMENTS[method]:
            return self.refuse(environ, 400, "%s expects the argument %s" % (method, METHOD_ARGUMENTS[method]))
        if root is None:
            return self.refuse(environ, 400, "cannot read the document: %s" % error)
        service = self.service
        try:
            if method == "GetClientUpdate":
                return Answer(200, service.check(root), XML)
            if method == "ReportUpdateStatus":
                service.update_status(root)
            else:
                service.upgrade_offer_status(root)
            return Answer(200, report_accepted(), XML)
        except Refused as e:
            return self.refuse(environ, e.status, str(e))
        except StoreError as e:
            # Never a silent loss: the client learns the report was not taken.
            log.error("%s from %s not answered: %s", method, client(environ), e)
            return text(503, "the service cannot store this now")

    @staticmethod
    def refuse(environ, status, reason):
        log.warning("%s %s from %s refused: %s", environ.get("REQUEST_METHOD"), environ.get("PATH_INFO"),
                    client(environ), reason)
        return text(status, reason)

    def health(self):
        try:
            self.service.store.offers()
        except StoreError as e:
            log.error("health check: %s", e)
            return text(503, "database unavailable")
        return text(200, "ok")

    def file(self, environ, folder, relative):
        found = self.service.catalog.locate(folder, urllib.parse.unquote(relative))
        if not found:
            return text(404, "not found")
        try:
            return file_answer(found, environ.get("HTTP_RANGE"), environ.get("HTTP_IF_RANGE"))
        except OSError as e:
            log.error("cannot serve %s: %s", found, e)
            return text(404, "not found")


def client(environ):
    return environ.get("REMOTE_ADDR", "?")


def read_body(environ):
    """The request's body, or an Answer refusing it."""
    length = environ.get("CONTENT_LENGTH") or ""
    stream = environ["wsgi.input"]
    if length:
        if not length.isdigit() or len(length) > 12:
            return text(400, "unreadable Content-Length")
        if int(length) > MAX_BODY:
            log.warning("request body from %s refused: %s bytes, more than %d", client(environ), length, MAX_BODY)
            return text(413, "request body too large")
        return stream.read(int(length))
    # Chunked (the server has undone the chunks): read one byte past the bound.
    body = stream.read(MAX_BODY + 1) if environ.get("HTTP_TRANSFER_ENCODING") else b""
    if len(body) > MAX_BODY:
        log.warning("request body from %s refused: more than %d bytes", client(environ), MAX_BODY)
        return text(413, "request body too large")
    return body


def file_answer(path, range_value=None, if_range=None):
    """A served file in blocks: 200, or 206 for one range of it, or 416."""
    st = os.stat(path)
    etag, modified = file_validators(st)
    headers = [("Accept-Ranges", "bytes"), ("ETag", etag),
               ("Last-Modified", email.utils.formatdate(modified, usegmt=True))]
    status, first, last = served_range(range_value, if_range, etag, modified, st.st_size)
    if status == 416:
        return Answer(416, b"range not satisfiable\n", headers=headers + [("Content-Range", "bytes */%d" % st.st_size)])
    if status == 206:
        headers.append(("Content-Range", "bytes %d-%d/%d" % (first, last, st.st_size)))
    length = last - first + 1
    return Answer(status, content_type="application/octet-stream", headers=headers, length=length,
                  blocks=lambda: file_blocks(path, first, length, block=BLOCK))
