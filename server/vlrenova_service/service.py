"""What the service answers: the update check, decided by the catalog, the
offer's rollout and its state, and the status reports, stored before they are
acknowledged. No HTTP here (see app.py)."""

import logging
import urllib.parse

from .protocol import (NO_UPDATE, answer_document, build_instruction, catalog_text, expiry_time,
                       nothing_offered, substitute, version_numbers)
from .rollout import in_rollout
from .signing import signed_answer
from .store import STATUS_CANCELED, STATUS_FAILED, STATUS_SUCCEEDED, StoreError

log = logging.getLogger("vlrenova.service")

RUN_ENDS = (STATUS_SUCCEEDED, STATUS_FAILED, STATUS_CANCELED)
MAX_UPDATE_ID = 0x7FFFFFFF


class Refused(Exception):
    """The request is not one the service answers: (HTTP status, why)."""

    def __init__(self, status, reason):
        super().__init__(reason)
        self.status = status


class Settings:
    def __init__(self, public_url, files_url=None, keys=(), answer_lifetime=24 * 60 * 60,
                 min_runs=50, failure_limit=0.2):
        self.public_url = public_url.rstrip("/")
        self.files_url = (files_url or self.public_url + "/files").rstrip("/")
        self.keys = list(keys)
        self.answer_lifetime = answer_lifetime
        self.min_runs = min_runs
        self.failure_limit = failure_limit


def _field(root, path, limit=256):
    return (root.findtext(path) or "").strip()[:limit]


def _whole_number(text, low, high, name):
    text = text.strip()
    digits = text[1:] if text.startswith("-") else text
    if not digits.isdigit() or not digits.isascii() or len(digits) > 10 or not low <= int(text) <= high:
        raise Refused(400, "%s %r is not a whole number from %d to %d" % (name, text[:32], low, high))
    return int(text)


class UpdateService:
    def __init__(self, catalog, store, settings, digests):
        self.catalog = catalog
        self.store = store
        self.settings = settings
        self.digests = digests

    # --- the update check -------------------------------------------------------------

    def check(self, root):
        """-> the GetClientUpdate answer's bytes for a ClientStatus document.

        Raises StoreError when the offer's state can't be read: a machine is
        never offered what may have been halted."""
        name = _field(root, "Informations/ProgramName")
        version = _field(root, "Informations/ProgramVersionNumber", 64)
        guid = _field(root, "Informations/MachineGuid", 64)
        installing = _field(root, "Parameters/GetLatestSetupFile").lower() == "true"
        product = self.catalog.find(name)
        offered = product is not None and self._offered(product, guid, version, installing)
        # Only the catalog's products are kept: anybody can send any name.
        if product is not None:
            try:
                self.store.record_check(name, guid, version, product.update_id if offered else 0)
            except StoreError as e:
                # The counts are lost, not the answer: the machine still gets its offer.
                log.error("check of %r not counted: %s", name, e)
        return self._answer(product, name, offered)

    def _offered(self, product, guid, version, installing):
        update_id = product.update_id
        if update_id == 0:
            return True         # a notice (server error, unsupported system), not an offer
        if not installing and product.version is not None and \
                version_numbers(version) >= version_numbers(product.version):
            return False
        offer = self.store.offer(update_id)
        if offer is None:
            offer = self.store.register_offer(update_id, product.name, product.version or "",
                                              product.initial_rollout, self.settings.min_runs,
                                              self.settings.failure_limit)
            log.info("offer %d (%s %s) registered at %g %%", update_id, product.name, product.version,
                     offer.percent)
        if offer.halted:
            return False
        # A machine without the product installs whatever is current; the
        # rollout stages updates.
        return installing or in_rollout(guid, update_id, offer.percent)

    def _answer(self, product, name, offered):
        keys = self.settings.keys
        expires = expiry_time(self.settings.answer_lifetime)
        if offered:
            if product.signed_answer is not None:
                return product.signed_answer
            fields = self.filled_fields(product.fields)
            if keys:
                fields.setdefault("Expires", expires)
                return signed_answer(build_instruction(fields, program_name=name), keys[0])
            return answer_document(build_instruction(fields))
        if product is not None and product.signed_nothing is not None:
            return product.signed_nothing
        if keys:
            return signed_answer(nothing_offered(name, expires), keys[0])
        return answer_document(NO_UPDATE)

    def filled_fields(self, fields):
        """The product's fields with {server} and {files} put in, and every download
        the service holds given its Sha256 and Size unless the file names them."""
        fields = substitute(dict(fields), {"{server}": self.settings.public_url,
                                           "{files}": self.settings.files_url})
        entries = fields.get("Download")
        if entries:
            fields["Download"] = [self._with_digest(entry) for entry in entries]
        return fields

    def _with_digest(self, entry):
        if "Sha256" in entry and "Size" in entry:
            return entry
        url = catalog_text(entry.get("Url", ""))
        prefix = self.settings.files_url + "/"
        if not url.startswith(prefix):
            return entry
        found = self.catalog.locate("files", urllib.parse.unquote(url[len(prefix):].split("?")[0]))
        if not found:
            return entry
        try:
            sha256, size = self.digests.digest(found)
        except OSError as e:
            log.error("catalog: cannot read %s for its digest: %s", found, e)
            return entry
        entry = dict(entry)
        entry.setdefault("Sha256", sha256)
        entry.setdefault("Size", size)
        return entry

    # --- the status reports -----------------------------------------------------------

    def update_status(self, root):
        """Stores an UpdateStatus report; raises Refused or StoreError (never drops it)."""
        update_id = _whole_number(_field(root, "UpdateId") or "0", 0, MAX_UPDATE_ID, "UpdateId")
        status = _whole_number(_field(root, "Status"), -(2 ** 31), 2 ** 31 - 1, "Status")
        is_stub = _field(root, "IsStub") == "1"
        # 0 is a check that failed before any offer; other ids must be offers
        # of this service, so that nobody fills the database with made-up ones.
        if update_id and self.store.offer(update_id) is None:
            raise Refused(400, "UpdateId %d is no offer of this service" % update_id)
        self.store.record_report(update_id, status, is_stub, _field(root, "MachineGuid", 64),
                                 _field(root, "Version", 64))
        if update_id and status in RUN_ENDS:
            try:
                self.store.halt_if_failing(update_id)
            except StoreError as e:
                # The report is stored; the next one looks again.
                log.error("offer %d: could not look at its failures: %s", update_id, e)

    def upgrade_offer_status(self, root):
        status = _whole_number(_field(root, "Status"), -(2 ** 31), 2 ** 31 - 1, "Status")
        if self.catalog.find(_field(root, "ProgramName")) is None:
            raise Refused(400, "%r is no product of this service" % _field(root, "ProgramName")[:64])
        self.store.record_upgrade_offer_report(_field(root, "ProgramName"), _field(root, "ProgramVersionNumber", 64),
                                               _field(root, "MajorVersion", 64), status,
                                               _field(root, "MachineGuid", 64))
