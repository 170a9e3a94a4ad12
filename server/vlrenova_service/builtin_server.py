"""The built-in server for one machine: threads, bounded, plain HTTP or TLS
with the vendor's certificate. For many machines run the same application
under gunicorn (wsgi.py) behind a TLS-terminating proxy."""

import logging
import socketserver
import ssl
import threading
from wsgiref.simple_server import WSGIRequestHandler, WSGIServer

log = logging.getLogger("vlrenova.server")

# Connections served at once (so also threads); the rest wait in the backlog.
MAX_CONNECTIONS = 64
# A connection silent this long, a TLS handshake included, is closed.
IDLE_TIMEOUT = 30


class _Handler(WSGIRequestHandler):
    timeout = IDLE_TIMEOUT

    def log_message(self, format, *args):
        log.debug("%s %s", self.client_address[0], format % args)


class Server(socketserver.ThreadingMixIn, WSGIServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 128

    def __init__(self, address, application, tls=None):
        self._tls = tls
        self._slots = threading.BoundedSemaphore(MAX_CONNECTIONS)
        super().__init__(address, _Handler)
        self.set_app(lengths_only(application))

    def process_request(self, request, client_address):
        self._slots.acquire()
        try:
            super().process_request(request, client_address)
        except Exception:
            self._slots.release()
            raise

    def process_request_thread(self, request, client_address):
        try:
            super().process_request_thread(request, client_address)
        finally:
            self._slots.release()

    def finish_request(self, request, client_address):
        if self._tls is not None:
            # The handshake runs on the connection's own thread, under the idle limit.
            request.settimeout(IDLE_TIMEOUT)
            try:
                request = self._tls.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError) as e:
                log.info("TLS handshake with %s failed: %s", client_address[0], e)
                return
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        log.info("connection from %s ended with an error", client_address[0], exc_info=True)


def lengths_only(application):
    """The application behind a refusal of bodies in chunks: wsgiref hands such
    a body over as it came, chunk sizes and all, and reading it would wait for
    the connection's end. The updater always sends Content-Length."""
    def checked(environ, start_response):
        if environ.get("HTTP_TRANSFER_ENCODING"):
            log.warning("%s %s from %s refused: a body in chunks (Transfer-Encoding %s), not a length",
                        environ.get("REQUEST_METHOD"), environ.get("PATH_INFO"), environ.get("REMOTE_ADDR", "?"),
                        environ["HTTP_TRANSFER_ENCODING"][:32])
            answer = b"a body needs a Content-Length\n"
            start_response("411 Length Required", [("Content-Type", "text/plain; charset=utf-8"),
                                                   ("Content-Length", str(len(answer)))])
            return [answer]
        return application(environ, start_response)
    return checked


def tls_context(certificate, key):
    """TLS 1.2 and later with the vendor's certificate chain (PEM) and its key."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(certificate, key)
    return context
