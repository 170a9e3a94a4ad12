"""The dashboard (placeholder until its page is written)."""

from .http_answer import text


def answer(application, environ):
    return text(404, "not found")
