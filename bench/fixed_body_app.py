"""The service benchmark's baseline: a WSGI application that reads the request
and answers every one with the same bytes and Content-Type, so that gunicorn,
HTTP and the client cost it what they cost the service, and the rest is the
service's own work.

    FIXED_BODY_FILE=answer.xml gunicorn --workers 2 fixed_body_app:application
"""

import os

CONTENT_TYPE = "text/xml; charset=utf-8"

with open(os.environ["FIXED_BODY_FILE"], "rb") as f:
    BODY = f.read()
HEADERS = [("Content-Type", CONTENT_TYPE), ("Content-Length", str(len(BODY)))]


def application(environ, start_response):
    # The service reads the whole form before it answers; so does this.
    length = environ.get("CONTENT_LENGTH") or ""
    if length.isdigit():
        environ["wsgi.input"].read(int(length))
    start_response("200 OK", HEADERS)
    return [BODY]
