"""What the service offers, through the service as a real process on loopback,
on SQLite and on PostgreSQL, under the built-in server and under gunicorn:
the staged rollout and the vendor's commands that move it, the signed answers
(signed in the process and offline), the catalog's edits while it runs."""

import base64
import calendar
import concurrent.futures
import hashlib
import json
import os
import random
import subprocess
import time
import unittest
import uuid
import xml.etree.ElementTree as ET

from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec

import support
from support import run_command
from vlrenova_service.catalog import RECHECK_INTERVAL
from vlrenova_service.protocol import NO_UPDATE
from vlrenova_service.rollout import in_rollout

# Long enough for every process of the service to have looked at the catalog again.
SETTLE = RECHECK_INTERVAL + 0.3
MACHINES = 200
# Checks sent at once: the service's workers and threads answer side by side.
CLIENTS = 6
SETUP = b"MZ the setup of version 2.0.0"
ANSWER_LIFETIME = 3600


def fleet(count, seed):
    rng = random.Random(seed)
    return [str(uuid.UUID(int=rng.getrandbits(128), version=4)) for _ in range(count)]


def wait_until(predicate, timeout=10, step=0.1):
    """-> seconds until predicate() held; fails after timeout."""
    start = time.monotonic()
    while not predicate():
        if time.monotonic() - start > timeout:
            raise AssertionError("not so after %g s" % timeout)
        time.sleep(step)
    return time.monotonic() - start


def new_service_folder(database, **settings):
    folder = support.ServiceFolder(**settings)
    folder.set(database=support.database_urls()[database](folder.folder))
    return folder


def make_key(path):
    """A P-256 key as the vendor makes one."""
    subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", path], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)
    with open(path, "rb") as f:
        return serialization.load_pem_private_key(f.read(), password=None).public_key()


def key_id_of(public_key):
    """The first 8 bytes of SHA-256 over X||Y, in hex, as docs/signing.md says."""
    point = public_key.public_bytes(serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint)
    return hashlib.sha256(point[1:]).hexdigest()[:16]


def parse_expires(text):
    return calendar.timegm(time.strptime(text, "%Y-%m-%dT%H:%M:%SZ"))


class Service:
    """Builds a service folder and runs it; the mix-ins name the database and the server."""
    database = None
    gunicorn = 0

    def start(self, folder):
        service = support.ServiceProcess(folder, gunicorn=self.gunicorn)
        self.addCleanup(service.stop)
        return service

    def offer_of(self, service, product, version, guid, installing=False):
        """-> the UpdateId offered (0: nothing), after checking the answer's form."""
        return self.offers(service, product, [guid], version, installing)[guid]

    def texts(self, service, product, guids, version="1.0.0", installing=False):
        """{guid: the text of the answer to its check}, checked side by side."""
        def one(guid):
            return service.check(product, version, guid, installing)
        with concurrent.futures.ThreadPoolExecutor(CLIENTS) as pool:
            answers = dict(zip(guids, pool.map(one, guids)))
        self.assertEqual({status for status, _, _ in answers.values()}, {200})
        return {guid: text for guid, (_, text, _) in answers.items()}

    def offers(self, service, product, guids, version="1.0.0", installing=False):
        """{guid: the UpdateId offered to it, 0 for nothing}."""
        offered = {}
        for guid, text in self.texts(service, product, guids, version, installing).items():
            instruction = support.instruction_of(text)
            if instruction is None:
                self.assertEqual(text, NO_UPDATE)
            offered[guid] = 0 if instruction is None else int(instruction.findtext("UpdateId"))
        return offered

    def offered_set(self, service, product, guids, version="1.0.0", installing=False):
        return {g for g, update_id in self.offers(service, product, guids, version, installing).items()
                if update_id}


class RunningService(Service):
    def setUp(self):
        self.folder = new_service_folder(self.database)
        self.service = self.start(self.folder)
        self.guids = fleet(MACHINES, seed=11)

    def publish(self, product, version, update_id, rollout, setup=SETUP):
        self.folder.publish(product, version, update_id, rollout=rollout, setup_bytes=setup)
        time.sleep(SETTLE)

    def expected(self, update_id, percent):
        return {g for g in self.guids if in_rollout(g, update_id, percent)}

    def command(self, *args):
        return run_command(args[0], "--config", self.folder.config, *args[1:])


class RolloutCase(RunningService):
    def test_the_rollout_and_the_vendors_commands(self):
        self.publish("Velbor Demo", "2.0.0", 101, rollout=30)
        at_30 = self.expected(101, 30)
        self.assertTrue(0 < len(at_30) < len(self.guids))

        # The machines in the rollout get the offer, the others nothing, at every check.
        answers = self.texts(self.service, "Velbor Demo", self.guids)
        self.assertEqual({g for g, t in answers.items() if support.instruction_of(t) is not None}, at_30)
        self.assertEqual(self.texts(self.service, "Velbor Demo", self.guids), answers)
        self.assertTrue(all(t == NO_UPDATE for g, t in answers.items() if g not in at_30))

        # The offer itself: the version, the download with its digest, served by the service.
        instruction = support.instruction_of(answers[min(at_30)])
        self.assertEqual(instruction.findtext("UpdateId"), "101")
        self.assertEqual(instruction.findtext("NewProductVersion"), "2.0.0")
        files = instruction.findall("Download/File")
        self.assertEqual(len(files), 1)
        self.assertEqual(files[0].get("Sha256"), hashlib.sha256(SETUP).hexdigest())
        self.assertEqual(files[0].get("Size"), str(len(SETUP)))
        prefix = "http://127.0.0.1:1/Renova/files/"
        self.assertTrue(files[0].get("Url").startswith(prefix), files[0].get("Url"))
        status, _, body = self.service.get("/Renova/files/" + files[0].get("Url")[len(prefix):])
        self.assertEqual((status, body), (200, SETUP))

        # A machine on the offered version or a newer one gets nothing.
        inside = sorted(at_30)[:5]
        for version in ("2.0.0", "2.0", "2.0.0.0", "2.1", "10.0.0"):
            self.assertEqual(self.offered_set(self.service, "Velbor Demo", inside, version), set(), version)

        # A machine installing the product gets it whatever the rollout.
        outside = [g for g in self.guids if g not in at_30]
        self.assertEqual(self.offered_set(self.service, "Velbor Demo", outside, "", installing=True),
                         set(outside))

        # Raising the rollout adds machines and drops none.
        self.command("rollout", "101", "60")
        at_60 = self.offered_set(self.service, "Velbor Demo", self.guids)
        self.assertEqual(at_60, self.expected(101, 60))
        self.assertLess(at_30, at_60)

        # Halted: nobody, installations included, and raising the rollout changes nothing.
        out = self.command("halt", "101", "--reason", "crash on start").stdout
        self.assertIn("halted", out)
        self.assertEqual(self.offered_set(self.service, "Velbor Demo", self.guids), set())
        self.assertEqual(self.offered_set(self.service, "Velbor Demo", self.guids[:20], "", installing=True), set())
        self.command("rollout", "101", "100")
        self.assertEqual(self.offered_set(self.service, "Velbor Demo", self.guids), set())
        self.assertIn("crash on start", self.command("counts", "101").stdout)

        # Resumed: everybody in the rollout as it stands now.
        self.command("resume", "101")
        self.assertEqual(self.offered_set(self.service, "Velbor Demo", self.guids), set(self.guids))
        self.command("rollout", "101", "60")
        self.assertEqual(self.offered_set(self.service, "Velbor Demo", self.guids), at_60)

        # 0 % offers nobody, not even the machines that had it.
        self.command("rollout", "101", "0")
        self.assertEqual(self.offered_set(self.service, "Velbor Demo", self.guids), set())

    def test_a_new_offer_orders_the_fleet_anew(self):
        self.publish("Velbor Demo", "2.0.0", 101, rollout=30)
        first = self.offered_set(self.service, "Velbor Demo", self.guids)
        self.publish("Velbor Demo", "2.1.0", 102, rollout=30, setup=b"MZ 2.1.0")
        second = self.offered_set(self.service, "Velbor Demo", self.guids)
        self.assertEqual(first, self.expected(101, 30))
        self.assertEqual(second, self.expected(102, 30))
        self.assertNotEqual(first, second)
        # Those on 2.0.0 now are offered 2.1.0 by its own rollout.
        self.assertEqual(self.offered_set(self.service, "Velbor Demo", self.guids, "2.0.0"), second)


class CatalogCase(RunningService):
    def test_an_update_id_names_one_offer(self):
        self.publish("Velbor Demo", "2.0.0", 101, rollout=100)
        # Reports name the UpdateId only: another product's offer under the
        # same id would mix its counts and its halt with this one's.
        setup = os.path.join(self.folder.folder, "tool-setup.exe")
        with open(setup, "wb") as f:
            f.write(b"MZ tool")
        done = run_command("publish", "--config", self.folder.config, "--product", "Velbor Tool",
                           "--version", "5.0.0", "--update-id", "101", "--setup", setup, check=False)
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("UpdateId 101 is Velbor Demo 2.0.0's already", done.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.folder.catalog, "Velbor-Tool.json")))
        # Nor another version of the same product: the offer's counts and its
        # halt were the first version's.
        done = run_command("publish", "--config", self.folder.config, "--product", "Velbor Demo",
                           "--version", "2.0.1", "--update-id", "101", "--setup", setup, check=False)
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("UpdateId 101", done.stderr)
        with open(os.path.join(self.folder.catalog, "Velbor-Demo.json"), encoding="utf-8") as f:
            self.assertEqual(json.load(f)["NewProductVersion"], "2.0.0")
        time.sleep(SETTLE)
        self.assertEqual(self.offer_of(self.service, "Velbor Demo", "1.0.0", self.guids[0]), 101)
        self.assertEqual(self.offer_of(self.service, "Velbor Tool", "1.0.0", self.guids[0]), 0)

    def test_catalog_edits_are_taken_while_it_runs(self):
        self.publish("Velbor Demo", "2.0.0", 101, rollout=100)
        path = os.path.join(self.folder.catalog, "Velbor-Demo.json")
        guid = self.guids[0]

        def change_log():
            _, text, _ = self.service.check("Velbor Demo", "1.0.0", guid)
            instruction = support.instruction_of(text)
            return instruction is not None and instruction.findtext("ChangeLogUrl")

        self.assertFalse(change_log())
        with open(path, encoding="utf-8") as f:
            fields = json.load(f)
        fields["ChangeLogUrl"] = "https://updates.example.com/changes-2.0.0.txt"
        with open(path, "w", encoding="utf-8") as f:
            json.dump(fields, f)
        took = wait_until(lambda: change_log() == fields["ChangeLogUrl"], timeout=5)
        self.assertLess(took, 2 * RECHECK_INTERVAL + 0.5)
        time.sleep(SETTLE)
        for text in self.texts(self.service, "Velbor Demo", self.guids[:20]).values():   # every worker
            self.assertEqual(support.instruction_of(text).findtext("ChangeLogUrl"), fields["ChangeLogUrl"])

        # A file the service can't take is skipped, and the log says why.
        with open(path, "w", encoding="utf-8") as f:
            f.write('{"ProgramName": "Velbor Demo", "UpdateId": "one hundred"}')
        wait_until(lambda: self.offer_of(self.service, "Velbor Demo", "1.0.0", guid) == 0, timeout=5)
        self.assertIn("Velbor-Demo.json skipped: \"UpdateId\" must be a whole number", self.service.log_text())

        # Mended, then removed.
        with open(path, "w", encoding="utf-8") as f:
            json.dump(fields, f)
        wait_until(lambda: self.offer_of(self.service, "Velbor Demo", "1.0.0", guid) == 101, timeout=5)
        os.remove(path)
        wait_until(lambda: self.offer_of(self.service, "Velbor Demo", "1.0.0", guid) == 0, timeout=5)


class SignedCase(Service):
    PRODUCT = "Velbor D\u00e9mo & Co"

    def setUp(self):
        self.folder = new_service_folder(self.database, answer_lifetime=ANSWER_LIFETIME)
        self.key_path = os.path.join(self.folder.folder, "signing-key.pem")
        self.public_key = make_key(self.key_path)
        self.guids = fleet(60, seed=12)

    def verified(self, body, product):
        """-> the instruction of a signed answer, after checking its signature and what it must name."""
        root = ET.fromstring(body)
        signature = root.get("Signature")
        self.assertIsNotNone(signature, body[:200])
        self.assertEqual(root.get("SignatureKey"), key_id_of(self.public_key))
        text = root.text
        try:
            self.public_key.verify(base64.b64decode(signature, validate=True),
                                   text.replace("\r\n", "\n").encode("utf-8"), ec.ECDSA(hashes.SHA256()))
        except InvalidSignature:
            self.fail("the signature does not verify: %r" % body[:300])
        instruction = ET.fromstring(text)
        self.assertEqual(instruction.tag, "Instruction")
        self.assertEqual(instruction.findtext("ProgramName"), product)
        self.assertIsNotNone(instruction.findtext("Expires"))
        return instruction

    def answer(self, service, product, guid, version="1.0.0"):
        status, _, body = service.post("GetClientUpdate", "clientStatusXML",
                                       support.client_status(product, version, guid))
        self.assertEqual(status, 200)
        return body

    def test_signed_in_the_process(self):
        self.folder.set(signing_key="signing-key.pem")
        self.folder.publish(self.PRODUCT, "2.0.0", 301, rollout=50, setup_bytes=SETUP)
        service = self.start(self.folder)
        inside = {g for g in self.guids if in_rollout(g, 301, 50)}
        now = time.time()
        for guid in self.guids:
            instruction = self.verified(self.answer(service, self.PRODUCT, guid), self.PRODUCT)
            self.assertEqual(instruction.findtext("UpdateId"), "301" if guid in inside else "0")
            expires = parse_expires(instruction.findtext("Expires"))
            self.assertLess(abs(expires - (now + ANSWER_LIFETIME)), 120)
            if guid in inside:
                self.assertEqual(instruction.find("Download/File").get("Sha256"), hashlib.sha256(SETUP).hexdigest())
            else:
                self.assertEqual([e.tag for e in instruction], ["UpdateId", "ProgramName", "Expires"])
        # On the version already, and a product the service doesn't know: a
        # signed "nothing" that names what was asked for.
        self.assertEqual(self.verified(self.answer(service, self.PRODUCT, min(inside), "2.0.0"), self.PRODUCT)
                         .findtext("UpdateId"), "0")
        self.assertEqual(self.verified(self.answer(service, "Some <Other> Tool", self.guids[0]),
                                       "Some <Other> Tool").findtext("UpdateId"), "0")
        self.assertIn("key id " + key_id_of(self.public_key), service.log_text())

    def test_signed_offline(self):
        # The service holds no key: it serves what sign wrote, byte for byte.
        self.folder.publish(self.PRODUCT, "2.0.0", 302, rollout=50, setup_bytes=SETUP)
        service = self.start(self.folder)
        self.assertIsNone(ET.fromstring(self.answer(service, self.PRODUCT, self.guids[0])).get("Signature"))
        run_command("sign", "--config", self.folder.config, "--product", self.PRODUCT, "--key", self.key_path,
                    "--days", "7")
        signed = os.path.join(self.folder.catalog, "signed")
        stem = "Velbor-D-mo-Co"
        with open(os.path.join(signed, stem + "-offer.xml"), "rb") as f:
            offer = f.read()
        with open(os.path.join(signed, stem + "-nothing.xml"), "rb") as f:
            nothing = f.read()
        instruction = self.verified(offer, self.PRODUCT)
        self.assertEqual(instruction.findtext("UpdateId"), "302")
        self.assertEqual(instruction.find("Download/File").get("Sha256"), hashlib.sha256(SETUP).hexdigest())
        self.assertLess(abs(parse_expires(instruction.findtext("Expires")) - (time.time() + 7 * 86400)), 120)
        self.assertEqual(self.verified(nothing, self.PRODUCT).findtext("UpdateId"), "0")

        time.sleep(SETTLE)
        inside = {g for g in self.guids if in_rollout(g, 302, 50)}
        self.assertTrue(0 < len(inside) < len(self.guids))
        for guid in self.guids:
            self.assertEqual(self.answer(service, self.PRODUCT, guid), offer if guid in inside else nothing)
        self.assertEqual(self.answer(service, self.PRODUCT, min(inside), "2.0.0"), nothing)

        # A new publish drops the signatures: they were for the previous offer.
        self.folder.publish(self.PRODUCT, "2.1.0", 303, rollout=100, setup_bytes=b"MZ 2.1.0")
        time.sleep(SETTLE)
        body = self.answer(service, self.PRODUCT, self.guids[0])
        self.assertIsNone(ET.fromstring(body).get("Signature"))
        self.assertIn(b"&lt;UpdateId&gt;303&lt;/UpdateId&gt;", body)


class SqliteBuiltIn:
    database, gunicorn = "sqlite", 0


class SqliteGunicorn:
    database, gunicorn = "sqlite", 2


class PostgresBuiltIn:
    database, gunicorn = "postgresql", 0


class PostgresGunicorn:
    database, gunicorn = "postgresql", 2


class RolloutSqliteBuiltIn(SqliteBuiltIn, RolloutCase, unittest.TestCase):
    pass


class RolloutSqliteGunicorn(SqliteGunicorn, RolloutCase, unittest.TestCase):
    pass


class RolloutPostgresBuiltIn(PostgresBuiltIn, RolloutCase, unittest.TestCase):
    pass


class CatalogSqliteGunicorn(SqliteGunicorn, CatalogCase, unittest.TestCase):
    pass


class CatalogPostgresBuiltIn(PostgresBuiltIn, CatalogCase, unittest.TestCase):
    pass


class RolloutPostgresGunicorn(PostgresGunicorn, RolloutCase, unittest.TestCase):
    pass


class SignedSqliteBuiltIn(SqliteBuiltIn, SignedCase, unittest.TestCase):
    pass


class SignedPostgresGunicorn(PostgresGunicorn, SignedCase, unittest.TestCase):
    pass


if __name__ == "__main__":
    unittest.main()
