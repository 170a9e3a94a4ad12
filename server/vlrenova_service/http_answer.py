"""An HTTP answer as the application hands it to the WSGI server."""

TEXT = "text/plain; charset=utf-8"


class Answer:
    def __init__(self, status, body=b"", content_type=TEXT, headers=(), blocks=None, length=None):
        self.status = status
        self.body = body
        self.content_type = content_type
        self.headers = list(headers)
        self.blocks = blocks
        self.length = len(body) if length is None else length


def text(status, message):
    return Answer(status, (message + "\n").encode("utf-8"))


STATUS_TEXTS = {200: "OK", 206: "Partial Content", 303: "See Other", 400: "Bad Request", 401: "Unauthorized",
                403: "Forbidden", 404: "Not Found", 405: "Method Not Allowed", 411: "Length Required",
                413: "Payload Too Large", 416: "Range Not Satisfiable", 500: "Internal Server Error",
                503: "Service Unavailable"}
