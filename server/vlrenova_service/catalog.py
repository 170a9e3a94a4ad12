"""The catalog: a folder with one JSON file per product, naming its current
offer, and the files below it. Read once and again only when a file changed,
looked at no more than once a second."""

import json
import logging
import os
import threading
import time
import xml.etree.ElementTree as ET

from .protocol import GENERAL_FIELDS, LIST_FIELDS, catalog_text, check_product_fields

log = logging.getLogger("vlrenova.catalog")

# How long a read catalog is taken as current before the folder is looked at again.
RECHECK_INTERVAL = 1.0
# Keys of a product file that the service reads and never writes into answers.
SERVICE_KEYS = {"ProgramName", "Rollout", "SignedAnswer", "SignedNothing"}
KNOWN_KEYS = set(GENERAL_FIELDS) | set(LIST_FIELDS) | SERVICE_KEYS
MAX_PRODUCT_FILE = 1024 * 1024
MAX_SIGNED_ANSWER = 1024 * 1024


class Product:
    """One product file: the offer's fields and the service's own settings."""

    def __init__(self, path, fields, signed_answer=None, signed_nothing=None):
        self.path = path
        self.fields = fields
        self.name = fields["ProgramName"]
        self.signed_answer = signed_answer      # bytes of an answer signed offline, served as it is
        self.signed_nothing = signed_nothing

    @property
    def update_id(self):
        """The offer's id, 0 when the file offers nothing (an error or a notice)."""
        try:
            return int(catalog_text(self.fields.get("UpdateId", 0)))
        except ValueError:
            return 0

    @property
    def version(self):
        value = self.fields.get("NewProductVersion")
        return None if value is None else catalog_text(value)

    @property
    def initial_rollout(self):
        return float(self.fields.get("Rollout", 100))


def check_product(product):
    """None, or why a product file is not taken."""
    problem = check_product_fields(product)
    if problem:
        return problem
    update_id = product.get("UpdateId", 0)
    if isinstance(update_id, bool) or not str(update_id).isdigit() or int(str(update_id)) > 0x7FFFFFFF:
        return "\"UpdateId\" must be a whole number from 0 to 2147483647"
    rollout = product.get("Rollout", 100)
    if isinstance(rollout, bool) or not isinstance(rollout, (int, float)) or not 0 <= rollout <= 100:
        return "\"Rollout\" must be a number from 0 to 100"
    for name in ("SignedAnswer", "SignedNothing"):
        value = product.get(name)
        if value is not None and not isinstance(value, str):
            return "\"%s\" must name a file" % name
    return None


def signed_text(document):
    """The instruction text an answer signed offline carries, or None."""
    try:
        root = ET.fromstring(document)
    except ET.ParseError:
        return None
    if root.get("Signature") is None or root.text is None:
        return None
    return root.text


def signed_mismatch(document, fields, nothing):
    """None, or why an answer signed offline does not fit its product file: it
    must name the product and carry the file's UpdateId (0 for "nothing")."""
    try:
        instruction = ET.fromstring(signed_text(document))
    except ET.ParseError as e:
        return "holds no instruction (%s)" % e
    name = instruction.findtext("ProgramName")
    if name != fields["ProgramName"]:
        return "names the product %r, not %r" % (name, fields["ProgramName"])
    wanted = "0" if nothing else catalog_text(fields.get("UpdateId", 0))
    if (instruction.findtext("UpdateId") or "0").strip() != wanted:
        return "carries UpdateId %r, not %s" % (instruction.findtext("UpdateId"), wanted)
    return None


class Catalog:
    def __init__(self, folder):
        self.folder = os.path.abspath(folder)
        self._lock = threading.Lock()
        self._stamps = None
        self._products = {}
        self._checked_at = 0.0

    def _stamp_folder(self):
        stamps = []
        try:
            names = sorted(n for n in os.listdir(self.folder) if n.endswith(".json"))
        except OSError as e:
            return ("unreadable", str(e))
        for name in names:
            try:
                st = os.stat(os.path.join(self.folder, name))
                stamps.append((name, st.st_mtime_ns, st.st_size))
            except OSError:
                stamps.append((name, None, None))
        return tuple(stamps)

    def products(self):
        """{program name: Product}, as the folder holds them now."""
        now = time.monotonic()
        with self._lock:
            if now - self._checked_at < RECHECK_INTERVAL:
                return self._products
            self._checked_at = now
            stamps = self._stamp_folder()
            if stamps != self._stamps:
                self._products = self._read(stamps)
                self._stamps = stamps
            return self._products

    def find(self, program_name):
        return self.products().get(program_name)

    def _read(self, stamps):
        if stamps and stamps[0] == "unreadable":
            log.error("catalog: cannot list %s: %s", self.folder, stamps[1])
            return {}
        found = {}
        for name, _, _ in stamps:
            product = self._read_product(os.path.join(self.folder, name))
            if product is None:
                continue
            if product.name in found:
                log.error("catalog: %s and %s both name %r; %s is used", found[product.name].path,
                          product.path, product.name, found[product.name].path)
                continue
            found[product.name] = product
        log.info("catalog: %d products from %s", len(found), self.folder)
        return found

    def _read_product(self, path):
        try:
            with open(path, "rb") as f:
                data = f.read(MAX_PRODUCT_FILE + 1)
            if len(data) > MAX_PRODUCT_FILE:
                raise ValueError("larger than %d bytes" % MAX_PRODUCT_FILE)
            fields = json.loads(data.decode("utf-8"))
        except (OSError, UnicodeDecodeError, ValueError) as e:
            log.error("catalog: %s skipped: %s", path, e)
            return None
        problem = check_product(fields)
        if problem:
            log.error("catalog: %s skipped: %s", path, problem)
            return None
        unknown = sorted(k for k in fields if k not in KNOWN_KEYS and not k.startswith("_"))
        if unknown:
            log.warning("catalog: %s: ignoring unknown keys %s", path, ", ".join(unknown))
        signed = {}
        for key in ("SignedAnswer", "SignedNothing"):
            if fields.get(key) is None:
                continue
            document = self._read_signed(path, fields[key])
            if document is None:
                return None
            problem = signed_mismatch(document, fields, key == "SignedNothing")
            if problem:
                log.error("catalog: %s skipped: its %s %s", path, key, problem)
                return None
            signed[key] = document
        return Product(path, fields, signed.get("SignedAnswer"), signed.get("SignedNothing"))

    def _read_signed(self, product_path, relative):
        """An answer signed offline, below the catalog folder, or None (logged)."""
        path = self.locate("", relative)
        if path is None:
            log.error("catalog: %s skipped: its signed answer %r is not a file below %s",
                      product_path, relative, self.folder)
            return None
        try:
            with open(path, "rb") as f:
                document = f.read(MAX_SIGNED_ANSWER + 1)
        except OSError as e:
            log.error("catalog: %s skipped: cannot read %s: %s", product_path, path, e)
            return None
        if len(document) > MAX_SIGNED_ANSWER or signed_text(document) is None:
            log.error("catalog: %s skipped: %s is not a signed answer made by sign-instruction",
                      product_path, path)
            return None
        return document

    def locate(self, subfolder, relative):
        """A file below <catalog>/<subfolder>/, or None for anything outside it."""
        parts = relative.split("/")
        if not relative or any(p in ("", ".", "..") or "\\" in p or "\0" in p for p in parts):
            return None
        base = os.path.realpath(os.path.join(self.folder, subfolder))
        candidate = os.path.realpath(os.path.join(base, *parts))
        if os.path.commonpath([base, candidate]) == base and os.path.isfile(candidate):
            return candidate
        return None
