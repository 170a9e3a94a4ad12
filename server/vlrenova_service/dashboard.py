"""The vendor's dashboard at /dashboard: read-only, behind the token that
service.conf's dashboard_token_file holds, pages without any script.

Signing in posts the token once. The answer's cookie holds not the token but
an expiry time and a MAC of it keyed with the token, so every process (each
gunicorn worker, each host) checks it without shared state, and a new token
ends every session. Scripts send "Authorization: Bearer <token>" instead."""

import hashlib
import hmac
import logging
import re
import time
import urllib.parse

from . import dashboard_pages as pages
from .http_answer import Answer, text
from .store import StoreError

log = logging.getLogger("vlrenova.dashboard")

PREFIX = "/dashboard"
COOKIE = "vlrenova_dashboard"
SESSION_SECONDS = 12 * 60 * 60
MAX_FORM = 4096
HTML = "text/html; charset=utf-8"
OFFER_RE = re.compile(r"^/offer/([0-9]{1,10})$")
# Where a sign-in may lead: the dashboard's own pages, nowhere else.
NEXT_RE = re.compile(r"^(?:/offer/[0-9]{1,10})?$")
# Nothing is kept by caches, nothing runs, nothing loads from elsewhere, no frame holds it.
HEADERS = (
    ("Cache-Control", "no-store"),
    ("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; img-src data:; "
                                "form-action 'self'; frame-ancestors 'none'; base-uri 'none'"),
    ("X-Frame-Options", "DENY"),
    ("X-Content-Type-Options", "nosniff"),
    ("Referrer-Policy", "no-referrer"),
)
GRANTED, REFUSED = "granted", "refused"

_off_logged = False


def answer(application, environ):
    token = application.dashboard_token
    if not token:
        _log_off()
        return text(404, "not found")
    base = environ.get("SCRIPT_NAME", "").rstrip("/") + PREFIX
    path = environ.get("PATH_INFO", "")[len(PREFIX):]
    verb = environ.get("REQUEST_METHOD", "GET")
    if path == "/login":
        return sign_in(token, environ, base, secure_cookie(application)) if verb == "POST" else redirect(base)
    if path == "/logout":
        return sign_out(base, secure_cookie(application)) if verb == "POST" else redirect(base)
    access = access_of(token, environ)
    if access is REFUSED:
        return html(403, pages.login_page(base, next_of(path), refused=True))
    if access is not GRANTED:
        return html(401, pages.login_page(base, next_of(path)), [("WWW-Authenticate", 'Bearer realm="dashboard"')])
    if verb not in ("GET", "HEAD"):
        return html(405, pages.message_page("Not here", "The dashboard only shows; it changes nothing."),
                    [("Allow", "GET, HEAD")])
    store = application.service.store
    now = int(time.time())
    try:
        if path in ("", "/"):
            return html(200, pages.overview(store, application.service.catalog, base, now))
        m = OFFER_RE.match(path)
        found = m and pages.offer_page(store, application.service.catalog, base, int(m.group(1)), now)
    except StoreError as e:
        log.error("dashboard: %s", e)
        return html(503, pages.message_page("Database unavailable", "The dashboard cannot read the database "
                                            "now; the service's log says why."))
    if not found:
        return html(404, pages.message_page("Not found", "There is no such page or offer.", base, store.kind, now))
    return html(200, found)


def _log_off():
    global _off_logged
    if not _off_logged:
        _off_logged = True
        log.info("dashboard: off, as service.conf names no dashboard_token_file; /dashboard answers 404")


def html(status, document, headers=()):
    return Answer(status, document.encode("utf-8"), HTML, list(HEADERS) + list(headers))


def redirect(location, headers=()):
    return html(303, pages.message_page("See other", location), [("Location", location)] + list(headers))


def secure_cookie(application):
    return application.service.settings.public_url.lower().startswith("https:")


def client(environ):
    return environ.get("REMOTE_ADDR", "?")


def next_of(path):
    return path if NEXT_RE.match(path) else ""


# --- who may look ----------------------------------------------------------------------

def same_token(given, token):
    return hmac.compare_digest(given.encode("utf-8"), token.encode("utf-8"))


def session_mac(token, expires):
    return hmac.new(token.encode("utf-8"), b"dashboard session until %d" % expires, hashlib.sha256).hexdigest()


def session_value(token, now):
    expires = int(now) + SESSION_SECONDS
    return "%d.%s" % (expires, session_mac(token, expires))


def valid_session(token, value, now):
    expires, _, mac = value.partition(".")
    if not expires.isdigit() or len(expires) > 12 or int(expires) < now:
        return False
    return hmac.compare_digest(mac.encode("ascii", "replace"), session_mac(token, int(expires)).encode("ascii"))


def access_of(token, environ):
    """GRANTED for the right token or a valid session cookie, REFUSED for a wrong
    token (logged), None without either."""
    authorization = environ.get("HTTP_AUTHORIZATION", "")
    if authorization:
        scheme, _, given = authorization.strip().partition(" ")
        if scheme.lower() == "bearer" and same_token(given.strip(), token):
            return GRANTED
        log.warning("dashboard: %s from %s refused: wrong token in its Authorization header",
                    environ.get("PATH_INFO"), client(environ))
        return REFUSED
    sessions = [value for name, _, value in (part.strip().partition("=")
                                             for part in environ.get("HTTP_COOKIE", "").split(";")) if name == COOKIE]
    if any(valid_session(token, value, time.time()) for value in sessions):
        return GRANTED
    if sessions:
        log.info("dashboard: an expired or foreign session cookie from %s; it signs in again", client(environ))
    return None


def sign_in(token, environ, base, secure):
    form = read_form(environ)
    if form is None:
        return html(400, pages.message_page("Unreadable form", "The sign-in form did not arrive whole."))
    given = form.get("token", [""])[0]
    next_path = next_of(form.get("next", [""])[0])
    if not same_token(given, token):
        log.warning("dashboard: sign-in from %s refused: wrong token", client(environ))
        return html(403, pages.login_page(base, next_path, refused=True))
    log.info("dashboard: signed in from %s", client(environ))
    cookie = "%s=%s; Path=%s; Max-Age=%d; HttpOnly; SameSite=Strict%s" % (
        COOKIE, session_value(token, time.time()), base, SESSION_SECONDS, "; Secure" if secure else "")
    return redirect(base + next_path, [("Set-Cookie", cookie)])


def sign_out(base, secure):
    cookie = "%s=; Path=%s; Max-Age=0; HttpOnly; SameSite=Strict%s" % (COOKIE, base, "; Secure" if secure else "")
    return redirect(base, [("Set-Cookie", cookie)])


def read_form(environ):
    """The posted form as parse_qs gives it, or None when it is missing or too large."""
    length = environ.get("CONTENT_LENGTH") or ""
    if not length.isdigit() or int(length) > MAX_FORM:
        return None
    body = environ["wsgi.input"].read(int(length))
    try:
        return urllib.parse.parse_qs(body.decode("utf-8"), keep_blank_values=True, max_num_fields=8)
    except (UnicodeDecodeError, ValueError):
        return None
