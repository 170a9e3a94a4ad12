"""The service calls: decoding the updater's form body, the update check's answer
from the catalog, the reports, the catalog folder and the records."""

import json
import os
import re
import shutil
import tempfile
import unittest
import xml.etree.ElementTree as ET

from harness import (FORM, NS, SAMPLE_CATALOG, TEST_CATALOG, ServerProcess, client_encode,
                     client_status, form_body, token, write_json)

NO_UPDATE = "No update available!"
GENERAL_ORDER = ["ErrorMessage", "NewProductVersion", "MaxUpdateableProductVersionExistingOnServer",
                 "ChangeLogUrl", "MajorUpgradeProductUrl", "MajorUpgradeProductLinkText",
                 "MajorUpgradeProductVersion", "SuppressReboot", "IsReInstallModeAMUS", "UpdateId",
                 "OsNotCompatibleUrl", "AdViewerUrl", "AdCampaignId"]

# A product with every field of an instruction, in an order other than the written one.
FULL_PRODUCT = {
    "ProgramName": "Full Product",
    "AdCampaignId": "campaign-9",
    "AdViewerUrl": "{server}/files/full/REVoRuzure.exe",
    "OsNotCompatibleUrl": "https://localhost/os",
    "UpdateId": 77,
    "IsReInstallModeAMUS": True,
    "SuppressReboot": False,
    "MajorUpgradeProductVersion": 5,
    "MajorUpgradeProductLinkText": "KARVO_P_11",
    "MajorUpgradeProductUrl": "{server}{scope}/upgrade",
    "ChangeLogUrl": "{server}/changes?a=1&b=2",
    "MaxUpdateableProductVersionExistingOnServer": "4.2",
    "NewProductVersion": "4.2",
    "ErrorMessage": "Fehler: Datei für <Kunde> fehlt",
    "Post": [{"Name": "SetRegValue", "Key": "Software\\Full", "Value": "V", "Type": "SZ", "Data": "a\"b",
              "PostInstallationActionCompatible": "1"}],
    "Download": [],
    "Pre": [{"FileName": "full.exe", "Name": "StopProcess"}, {"Name": "StopService", "FileName": "FullSvc"}],
}


def instruction(response):
    return ET.fromstring(response.answer_text())


class ServiceTestCase(unittest.TestCase):
    products = []

    @classmethod
    def setUpClass(cls):
        cls.catalog = tempfile.mkdtemp(prefix="update-server-catalog.")
        for i, product in enumerate(cls.products):
            write_json(cls.catalog, "product%d.json" % i, product)
        cls.server = ServerProcess([SAMPLE_CATALOG, TEST_CATALOG, cls.catalog])

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.catalog, True)


class DecodingTests(ServiceTestCase):
    products = [{"ProgramName": "Prüfer", "NewProductVersion": "2.0", "UpdateId": 1, "Download": []},
                {"ProgramName": "Preis €", "NewProductVersion": "2.0", "UpdateId": 2, "Download": []}]

    def test_the_updaters_example_document_is_decoded_and_recorded(self):
        scope = token()
        self.assertEqual(form_body("clientStatusXML", "<a/>\n"), b"clientStatusXML=%253ca%252f%253e%250a")
        r = self.server.post("/t/%s/Renova/VLRNWebservice.asmx/GetClientUpdate" % scope,
                             "clientStatusXML", "<a/>\n")
        self.assertEqual(r.status, 200)
        self.assertEqual(r.answer_text(), NO_UPDATE)
        self.assertEqual(self.server.record_field(scope, 0, "raw_body"), "clientStatusXML=%253ca%252f%253e%250a")
        self.assertEqual(self.server.record_field(scope, 0, "xml"), "<a/>\n")

    def test_latin1_and_windows_characters_survive_both_levels(self):
        # U+00FC travels as %fc, U+20AC as %20ac, U+0153 as %153, U+201E as %201e; "<a",
        # "\u00e4bc" and "%" followed by hex letters must keep their two-digit reading.
        text = "<a x=\"\u00e4bc\">Pr\u00fcfer \u20ac \u0153 \u017d \u201ea\u201c \u2026 100%</a>\n"
        self.assertIn("%20ac", client_encode(text))
        self.assertIn("%153", client_encode(text))
        scope = token()
        r = self.server.post("/t/%s/Renova/VLRNWebservice.asmx/ReportUpdateStatus" % scope, "UpdateStatusXML", text)
        self.assertEqual(r.status, 200)
        self.assertEqual(self.server.record_field(scope, 0, "xml"), text)
        self.assertIsNone(self.server.record_field(scope, 0, "decode_error"))

        # The product names match the catalog after decoding: the Latin-1 one as its
        # bytes, the one with the euro sign (not Latin-1) as text.
        self.assertEqual(instruction(self.server.check("Prüfer", "1.0")).findtext("UpdateId"), "1")
        self.assertEqual(instruction(self.server.check("Preis €", "1.0")).findtext("UpdateId"), "2")

    def test_characters_the_rule_cannot_tell_apart_arrive_as_their_two_digit_reading(self):
        scope = token()
        self.server.post("/t/%s/Renova/VLRNWebservice.asmx/ReportUpdateStatus" % scope, "UpdateStatusXML",
                         "<a>\u2122 \u02dc</a>")
        self.assertEqual(self.server.record_field(scope, 0, "xml"), "<a>!22 -c</a>")

    def test_undecodable_bodies_are_recorded_with_their_error_and_refused(self):
        scope = token()
        path = "/t/%s/Renova/VLRNWebservice.asmx/GetClientUpdate" % scope
        headers = {"Content-Type": FORM}
        bad_escape = self.server.request("POST", path, b"clientStatusXML=%253c%25zz", headers)
        not_xml = self.server.post(path, "clientStatusXML", "plain words\n")
        wrong_argument = self.server.post(path, "UpdateStatusXML", "<a/>")
        self.assertEqual([bad_escape.status, not_xml.status, wrong_argument.status], [400, 400, 400])
        self.assertIsNone(self.server.record_field(scope, 0, "xml"))
        self.assertIn("escape", self.server.record_field(scope, 0, "decode_error"))
        self.assertEqual(self.server.record_field(scope, 1, "xml"), "plain words\n")
        self.assertIn("XML", self.server.record_field(scope, 1, "decode_error"))
        self.assertEqual(self.server.record_field(scope, 2, "argument"), "UpdateStatusXML")


class UpdateCheckTests(ServiceTestCase):
    products = [FULL_PRODUCT]

    def test_sample_product_offer_over_https_and_http(self):
        for scheme in ("https", "http"):
            with self.subTest(scheme=scheme):
                r = self.server.check("Sample Product", "1.0.0", scheme=scheme)
                self.assertEqual(r.status, 200)
                self.assertTrue(r.headers.getheader("Content-Type").startswith("text/xml"))
                self.assertTrue(r.body.startswith(b'<?xml version="1.0" encoding="utf-8"?>'))
                self.assertEqual(ET.fromstring(r.body).tag, NS + "string")
                doc = instruction(r)
                self.assertEqual(doc.tag, "Instruction")
                self.assertEqual([e.tag for e in doc],
                                 ["NewProductVersion", "MaxUpdateableProductVersionExistingOnServer",
                                  "ChangeLogUrl", "SuppressReboot", "IsReInstallModeAMUS", "UpdateId",
                                  "Pre", "Download", "Post"])
                self.assertEqual(doc.findtext("NewProductVersion"), "2.0.0")
                self.assertEqual(doc.findtext("UpdateId"), "42")
                self.assertEqual([a.attrib for a in doc.find("Pre")],
                                 [{"Name": "StopProcess", "FileName": "SampleProduct.exe"}])
                self.assertEqual([a.attrib for a in doc.find("Post")],
                                 [{"Name": "StartProcess", "FileName": "SampleProduct.exe"}])
                files = doc.findall("Download/File")
                self.assertEqual(len(files), 1)
                url = files[0].get("Url")
                self.assertEqual(url, "%s://localhost:%d/files/sample/ReadMe-2.0.0.txt" % (scheme, self.server.port))
                self.assertEqual(files[0].get("FileName"), "ReadMe-2.0.0.txt")
                self.assertEqual(files[0].get("RelativeTargetFolder"), "")
                # The offered download is there.
                download = self.server.get(url.split(str(self.server.port), 1)[1], scheme=scheme)
                with open(os.path.join(SAMPLE_CATALOG, "files", "sample", "ReadMe-2.0.0.txt"), "rb") as f:
                    self.assertEqual(download.body, f.read())

    def test_versions_are_compared_number_by_number(self):
        cases = {"1.0.0": True, "1.9.99": True, "1.10": True, "": True, "2.0.0": False, "2.0": False,
                 "2": False, "2.0.0.1": False, "10.0": False, "3": False,
                 # Numbers of any length, beyond what int() converts, and with leading zeros.
                 "0" * 5000 + "1.9": True, "1." + "9" * 5000: True, "9" * 5000: False, "2." + "0" * 5000: False}
        for version, offered in cases.items():
            with self.subTest(version=version):
                text = self.server.check("Sample Product", version).answer_text()
                if offered:
                    self.assertTrue(text.startswith("<Instruction>"), text)
                else:
                    self.assertEqual(text, NO_UPDATE)

    def test_installation_mode_always_offers_and_unknown_products_get_nothing(self):
        self.assertEqual(instruction(self.server.check("Sample Product", "2.0.0", installing=True))
                         .findtext("UpdateId"), "42")
        self.assertEqual(instruction(self.server.check("Sample Product", "9", installing=True))
                         .findtext("UpdateId"), "42")
        self.assertEqual(self.server.check("Sample Product", "2.0.0").answer_text(), NO_UPDATE)
        self.assertEqual(self.server.check("Unknown Product", "1.0").answer_text(), NO_UPDATE)
        self.assertEqual(self.server.check("Unknown Product", "1.0", installing=True).answer_text(), NO_UPDATE)
        self.assertEqual(self.server.check("sample product", "1.0").answer_text(), NO_UPDATE)

    def test_every_instruction_field_in_order_with_an_ascii_body(self):
        scope = token()
        r = self.server.check("Full Product", "1.0", prefix="/t/%s/Renova/" % scope)
        self.assertTrue(all(b < 0x80 for b in r.body), r.body)
        text = r.answer_text()
        doc = ET.fromstring(text)
        self.assertEqual([e.tag for e in doc], GENERAL_ORDER + ["Pre", "Download", "Post"])
        base = "https://localhost:%d" % self.server.port
        self.assertEqual(doc.findtext("ErrorMessage"), "Fehler: Datei für <Kunde> fehlt")
        self.assertEqual(doc.findtext("ChangeLogUrl"), base + "/changes?a=1&b=2")
        self.assertEqual(doc.findtext("AdViewerUrl"), base + "/files/full/REVoRuzure.exe")
        self.assertEqual(doc.findtext("MajorUpgradeProductUrl"), "%s/t/%s/upgrade" % (base, scope))
        self.assertEqual(doc.findtext("UpdateId"), "77")
        self.assertEqual(doc.findtext("IsReInstallModeAMUS"), "True")
        self.assertEqual(doc.findtext("SuppressReboot"), "False")
        self.assertEqual(doc.findtext("MajorUpgradeProductVersion"), "5")
        self.assertEqual(list(doc.find("Download")), [])
        # Attributes keep the catalog's order; Name comes where the vendor put it.
        self.assertIn('<Action FileName="full.exe" Name="StopProcess" />', text)
        self.assertEqual(doc.find("Post/Action").get("Data"), 'a"b')
        self.assertEqual(doc.find("Post/Action").get("PostInstallationActionCompatible"), "1")

    def test_products_of_the_test_catalog(self):
        scope = token()
        doc = instruction(self.server.check("Renova Test Product", "3.0.9", prefix="/t/%s/Renova/" % scope))
        self.assertEqual([a.get("Name") for a in doc.find("Pre")],
                         ["StopProcess", "StopService", "DelRegValue", "SetRegValue"])
        self.assertEqual([a.get("Name") for a in doc.find("Post")], ["StartService", "StartProcess", "SetRegValue"])
        for f in doc.findall("Download/File"):
            self.assertTrue(f.get("Url").startswith("https://localhost:%d/t/%s/files/" % (self.server.port, scope)))
            path = f.get("Url").split(str(self.server.port), 1)[1]
            self.assertEqual(self.server.get(path).status, 200, path)
        self.assertEqual(self.server.check("Renova Test Product", "3.1").answer_text(), NO_UPDATE)
        # Without an offered version the answer comes whatever the installed version.
        upgrade = instruction(self.server.check("Renova Test Major Upgrade", "99"))
        self.assertEqual(upgrade.findtext("MajorUpgradeProductLinkText"), "KARVO_P_11")
        self.assertEqual(upgrade.findtext("UpdateId"), "0")
        self.assertTrue(instruction(self.server.check("Renova Test Server Error", "1")).findtext("ErrorMessage"))


class ReportAndPathTests(ServiceTestCase):
    def test_reports_are_answered_and_recorded(self):
        scope = token()
        prefix = "/t/%s/Renova/VLRNWebservice.asmx/" % scope
        status = "<UpdateStatus>\n    <Version>9.4.10</Version>\n    <Status>-1</Status>\n</UpdateStatus>\n"
        offer = "<UpgradeOfferStatus>\n    <ProgramName>Sample Product</ProgramName>\n</UpgradeOfferStatus>\n"
        for method, argument, document in (("ReportUpdateStatus", "UpdateStatusXML", status),
                                           ("ReportUpgradeOfferStatus", "UpgradeOfferStatusXML", offer)):
            r = self.server.post(prefix + method, argument, document)
            self.assertEqual(r.status, 200)
            ET.fromstring(r.body)
        self.assertEqual(self.server.record_count(scope), 2)
        self.assertEqual(self.server.record_field(scope, 0, "method"), "ReportUpdateStatus")
        self.assertEqual(self.server.record_field(scope, 0, "xml"), status)
        self.assertEqual(self.server.record_field(scope, 1, "argument"), "UpgradeOfferStatusXML")
        self.assertEqual(self.server.record_field(scope, 1, "xml"), offer)

    def test_anything_else_is_not_found(self):
        doc = client_status("Sample Product", "1.0")
        self.assertEqual(self.server.post("/Renova/VLRNWebservice.asmx/GetClientUpdates", "clientStatusXML",
                                          doc).status, 404)
        self.assertEqual(self.server.post("/Renova/VLRNWebservice.asmx", "clientStatusXML", doc).status, 404)
        self.assertEqual(self.server.get("/Renova/VLRNWebservice.asmx/GetClientUpdate").status, 404)
        self.assertEqual(self.server.post("/Renova/GetClientUpdate", "clientStatusXML", doc).status, 404)
        self.assertEqual(self.server.get("/").status, 404)
        # Any base path works, with or without scope and faults.
        self.assertEqual(self.server.check("Sample Product", "1.0", prefix="/some/where/").status, 200)
        self.assertEqual(self.server.check("Sample Product", "1.0", prefix="/").status, 200)


class CatalogFolderTests(unittest.TestCase):
    def setUp(self):
        self.catalog = tempfile.mkdtemp(prefix="update-server-catalog.")
        self.server = ServerProcess([self.catalog])

    def tearDown(self):
        self.server.stop()
        shutil.rmtree(self.catalog, True)

    def test_edits_take_effect_at_the_next_request(self):
        product = {"ProgramName": "Live", "NewProductVersion": "2.0", "UpdateId": 3, "Download": []}
        self.assertEqual(self.server.check("Live", "1.5").answer_text(), NO_UPDATE)
        write_json(self.catalog, "live.json", product)
        self.assertEqual(instruction(self.server.check("Live", "1.5")).findtext("NewProductVersion"), "2.0")
        product["NewProductVersion"] = "1.5"
        write_json(self.catalog, "live.json", product)
        self.assertEqual(self.server.check("Live", "1.5").answer_text(), NO_UPDATE)
        os.remove(os.path.join(self.catalog, "live.json"))
        write_json(self.catalog, "renamed.json", dict(product, NewProductVersion="7"))
        self.assertEqual(instruction(self.server.check("Live", "1.5")).findtext("NewProductVersion"), "7")

    def test_broken_files_are_logged_once_and_skipped(self):
        write_json(self.catalog, "a.json", {"ProgramName": "Alpha", "UpdateId": 1, "Download": []})
        with open(os.path.join(self.catalog, "broken.json"), "w") as f:
            f.write('{"ProgramName": "Alpha", "UpdateId": ')
        write_json(self.catalog, "nameless.json", {"UpdateId": 5})
        write_json(self.catalog, "badlist.json", {"ProgramName": "Beta", "Download": "setup.exe"})
        write_json(self.catalog, "z.json", {"ProgramName": "Omega", "UpdateId": 2, "Download": []})
        for _ in range(3):
            self.assertEqual(instruction(self.server.check("Alpha", "1")).findtext("UpdateId"), "1")
            self.assertEqual(instruction(self.server.check("Omega", "1")).findtext("UpdateId"), "2")
            self.assertEqual(self.server.check("Beta", "1").answer_text(), NO_UPDATE)
        log = self.server.log()
        for name in ("broken.json", "nameless.json", "badlist.json"):
            self.assertEqual(len(re.findall(re.escape(name) + r": skipped", log)), 1, log)
        self.assertNotIn("a.json: skipped", log)
        self.assertEqual(self.server.process.poll(), None)


class RecordTests(ServiceTestCase):
    def test_records_per_scope(self):
        mine, other = token(), token()
        doc = client_status("Sample Product", "1.0")
        self.server.check("Sample Product", "1.0", prefix="/t/%s/f/delay=0/Renova/" % mine)
        self.server.post("/Renova/t/%s/VLRNWebservice.asmx/ReportUpdateStatus" % mine, "UpdateStatusXML",
                         "<UpdateStatus/>", scheme="http", listener="self-signed")
        self.server.get("/x/t/%s/files/sample/ReadMe-2.0.0.txt" % mine)
        self.server.check("Sample Product", "1.0", prefix="/t/%s/Renova/" % other)
        self.assertEqual(self.server.record_count(mine), 3)
        self.assertEqual(self.server.record_count(other), 1)
        self.assertEqual(self.server.record_count(token()), 0)
        # Reading records back does not add any.
        self.assertEqual(self.server.record_count(mine), 3)

        field = lambda i, name: self.server.record_field(mine, i, name)
        self.assertEqual([field(0, "method"), field(0, "scheme"), field(0, "listener"), field(0, "user_agent"),
                          field(0, "content_type"), field(0, "argument"), field(0, "xml")],
                         ["GetClientUpdate", "https", "main", "VLRenova", FORM, "clientStatusXML", doc])
        self.assertEqual(field(0, "raw_body"), form_body("clientStatusXML", doc).decode("ascii"))
        self.assertEqual([field(1, "method"), field(1, "scheme"), field(1, "listener")],
                         ["ReportUpdateStatus", "http", "self-signed"])
        self.assertEqual([field(2, "method"), field(2, "http_method"), field(-1, "http_method")],
                         [None, "GET", "GET"])
        self.assertIsNone(field(3, "method"))
        self.assertIsNone(field(0, "no_such_field"))
        # An index of any length is an answer, not a dropped connection.
        for index in ("1" + "0" * 5000, "0000000001"):
            self.assertEqual(self.server.get("/_records/%s/%s/method" % (mine, index)).status, 404, index[:12])

        lines = [r for r in self.server.record_lines() if r["token"] == mine]
        self.assertEqual(len(lines), 3)
        self.assertIn(["User-Agent", "VLRenova"], lines[0]["headers"])
        self.assertEqual(lines[0]["faults"], ["delay=0"])
        self.assertEqual(lines[0]["xml"], doc)
        self.assertEqual(json.loads(field(0, "headers")), lines[0]["headers"])


class RecordBoundTests(unittest.TestCase):
    def test_records_in_memory_are_bounded_and_the_oldest_go_first(self):
        server = ServerProcess([SAMPLE_CATALOG], with_certs=False,
                               limits={"MAX_RECORDS": 5, "MAX_RECORD_BYTES": 20000})
        try:
            small, big = token(), token()
            for i in range(8):
                server.get("/t/%s/files/sample/n%d" % (small, i))
            self.assertEqual(server.record_count(small), 5)
            self.assertEqual([server.record_field(small, i, "path") for i in (0, -1)],
                             ["/t/%s/files/sample/n3" % small, "/t/%s/files/sample/n7" % small])
            # A record beyond the byte bound pushes out all the others but stays itself.
            server.post("/t/%s/Renova/VLRNWebservice.asmx/ReportUpdateStatus" % big, "UpdateStatusXML",
                        "<a>%s</a>" % ("b" * 19000), scheme="http")
            self.assertEqual((server.record_count(small), server.record_count(big)), (0, 1))
            # The file keeps them all.
            self.assertEqual(len(server.record_lines()), 9)
        finally:
            server.stop()


if __name__ == "__main__":
    unittest.main()
