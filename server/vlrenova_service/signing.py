"""Signed GetClientUpdate answers: P-256 keys in PEM files, signed in the
process (python3-cryptography), and the digests of served files."""

import base64
import hashlib
import os
import threading

from cryptography.exceptions import UnsupportedAlgorithm
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec

from .protocol import answer_document

BLOCK = 64 * 1024
# Answers signed lately, kept by their text: every machine that checks for a
# product within the same second gets the same text (Expires counts seconds),
# so a busy service signs each text once, not once per machine.
RECENT_ANSWERS = 64
MAX_KEPT_ANSWER = 64 * 1024


class SigningError(Exception):
    pass


def key_id(public):
    """Lower-case hex of the first 8 bytes of SHA-256 over the 64 bytes X||Y."""
    return hashlib.sha256(public).hexdigest()[:16]


class SigningKey:
    def __init__(self, path):
        self.path = os.path.abspath(path)
        try:
            with open(self.path, "rb") as f:
                pem = f.read()
        except FileNotFoundError:
            raise SigningError("signing key %s: no such file" % path)
        except OSError as e:
            raise SigningError("signing key %s: %s" % (path, e.strerror))
        try:
            # No password: an encrypted key fails here instead of asking on a terminal.
            key = serialization.load_pem_private_key(pem, password=None)
        except (ValueError, TypeError, UnsupportedAlgorithm) as e:
            raise SigningError("signing key %s is not a readable EC private key (%s)" % (path, e))
        if not isinstance(key, ec.EllipticCurvePrivateKey) or not isinstance(key.curve, ec.SECP256R1):
            raise SigningError("signing key %s is not a key on the curve prime256v1 (P-256)" % path)
        self._key = key
        point = key.public_key().public_bytes(serialization.Encoding.X962,
                                              serialization.PublicFormat.UncompressedPoint)
        self.public = point[1:]
        self.id = key_id(self.public)
        self._recent = {}
        self._recent_lock = threading.Lock()

    def sign(self, data):
        """The DER ECDSA signature over SHA-256 of data."""
        return self._key.sign(data, ec.ECDSA(hashes.SHA256()))

    def answer(self, text):
        """The GetClientUpdate answer carrying text, signed; the same bytes again
        for a text signed lately."""
        with self._recent_lock:
            answer = self._recent.get(text)
        if answer is not None:
            return answer
        signature = base64.b64encode(self.sign(signed_bytes(text))).decode("ascii")
        answer = answer_document(text, signature, self.id)
        if len(answer) <= MAX_KEPT_ANSWER:
            with self._recent_lock:
                if len(self._recent) >= RECENT_ANSWERS:
                    del self._recent[next(iter(self._recent))]      # the oldest
                self._recent[text] = answer
        return answer


def signed_bytes(text):
    """The bytes a signature covers: the text as the client's XML parser yields it
    from the answer's root element (line ends normalised to LF), in UTF-8."""
    return text.replace("\r\n", "\n").replace("\r", "\n").encode("utf-8")


def signed_answer(text, key):
    return key.answer(text)


class DigestCache:
    """SHA-256 and size of files, computed again only when a file's stamp changes."""

    def __init__(self):
        self._known = {}
        self._lock = threading.Lock()

    def digest(self, path):
        """-> (lower-case hex SHA-256, size in bytes)."""
        st = os.stat(path)
        stamp = (st.st_mtime_ns, st.st_size)
        with self._lock:
            known = self._known.get(path)
        if known and known[0] == stamp:
            return known[1]
        result = file_digest(path)
        st = os.stat(path)
        if (st.st_mtime_ns, st.st_size) == stamp:      # not changed while it was read
            with self._lock:
                self._known[path] = (stamp, result)
        return result


def file_digest(path):
    sha = hashlib.sha256()
    size = 0
    with open(path, "rb") as f:
        while True:
            data = f.read(BLOCK)
            if not data:
                break
            sha.update(data)
            size += len(data)
    return sha.hexdigest(), size
