"""Signed GetClientUpdate answers, shared by server.py and sign-instruction.

Keys are P-256 private keys in PEM files; all key work is done by the stock
`openssl` command line, so nothing beyond the standard library is needed.
"""

import base64
import hashlib
import os
import subprocess
import threading

SERVICE_NAMESPACE = "http://update.velbor.example/Renova/"
XML_DECLARATION = '<?xml version="1.0" encoding="utf-8"?>'

# A P-256 public key in DER (SubjectPublicKeyInfo) is this prefix, 0x04 and X||Y.
P256_SPKI_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200") + b"\x04"

OPENSSL = os.environ.get("OPENSSL", "openssl")
BLOCK = 64 * 1024


class SigningError(Exception):
    pass


def _openssl(args, data=b""):
    try:
        done = subprocess.run([OPENSSL] + args, input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    except OSError as e:
        raise SigningError("cannot run %s: %s" % (OPENSSL, e))
    if done.returncode != 0:
        lines = [l.strip() for l in done.stderr.decode("utf-8", "replace").splitlines() if l.strip()]
        telling = [l for l in lines if "unable" in l.lower() or "error" in l.lower()] or lines
        raise SigningError("openssl %s failed: %s" % (args[0], telling[0] if telling else "exit %d" % done.returncode))
    return done.stdout


def key_id(public):
    """Lower-case hex of the first 8 bytes of SHA-256 over the 64 bytes X||Y."""
    return hashlib.sha256(public).hexdigest()[:16]


class SigningKey:
    def __init__(self, path):
        self.path = os.path.abspath(path)
        if not os.path.isfile(self.path):
            raise SigningError("signing key %s: no such file" % path)
        # An empty passphrase makes an encrypted key fail instead of asking on the terminal.
        try:
            der = _openssl(["ec", "-in", self.path, "-pubout", "-outform", "DER", "-conv_form", "uncompressed",
                            "-passin", "pass:"])
        except SigningError as e:
            raise SigningError("signing key %s is not a readable EC private key (%s)" % (path, e))
        if len(der) != len(P256_SPKI_PREFIX) + 64 or not der.startswith(P256_SPKI_PREFIX):
            raise SigningError("signing key %s is not a key on the curve prime256v1 (P-256)" % path)
        self.public = der[-64:]
        self.id = key_id(self.public)

    def sign(self, data):
        """The DER signature `openssl dgst -sha256 -sign` makes over data."""
        signature = _openssl(["dgst", "-sha256", "-sign", self.path, "-passin", "pass:"], data)
        if len(signature) < 8 or signature[0] != 0x30:
            raise SigningError("openssl gave no DER signature")
        return signature


def signed_bytes(text):
    """The bytes a signature covers: the text as the client's XML parser yields it
    from the answer's root element (line ends normalised to LF), in UTF-8."""
    return text.replace("\r\n", "\n").replace("\r", "\n").encode("utf-8")


def escape_text(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def escape_attribute(text):
    return escape_text(text).replace('"', "&quot;")


def ascii_xml(text):
    """Escaped XML text whose bytes are all ASCII: the updater loses bytes above 0x7F."""
    return escape_text(text).encode("ascii", "xmlcharrefreplace")


def answer_document(text, signature=None, signature_key=None):
    """The GetClientUpdate answer carrying text; signature is the attribute's text."""
    attributes = ' xmlns="%s"' % SERVICE_NAMESPACE
    if signature is not None:
        attributes += ' Signature="%s"' % escape_attribute(signature)
    if signature_key is not None:
        attributes += ' SignatureKey="%s"' % escape_attribute(signature_key)
    return (XML_DECLARATION + "\r\n<string" + attributes + ">").encode("ascii") + ascii_xml(text) + b"</string>"


def signed_answer(text, key):
    signature = key.sign(signed_bytes(text))
    return answer_document(text, base64.b64encode(signature).decode("ascii"), key.id)


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
