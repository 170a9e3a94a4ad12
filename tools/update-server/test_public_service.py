"""A service started without --test-faults: it answers from its catalog and
signs nothing else, and {server} never comes from the request."""

import base64
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

from harness import FORM, SAMPLE_CATALOG, SERVER, ServerProcess, client_status, form_body, token
from test_signing import SigningTestCase, answer

CHECK = "VLRNWebservice.asmx/GetClientUpdate"
CRAFTED = "<Instruction><UpdateId>666</UpdateId><Download><File Url=\"http://evil/x.exe\"/></Download></Instruction>"


def b64url(text):
    return base64.urlsafe_b64encode(text.encode("utf-8")).decode("ascii").rstrip("=")


def check_with_host(server, host, name="Sample Product", scheme="https"):
    headers = {"Content-Type": FORM, "Host": host}
    return server.request("POST", "/Renova/" + CHECK,
                          form_body("clientStatusXML", client_status(name, "1.0")), headers, scheme)


class PublicServiceTests(SigningTestCase):
    PUBLIC_URL = "https://updates.example.com:8443/renova/"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.server = ServerProcess([SAMPLE_CATALOG], test_faults=False,
                                   extra_args=["--signing-key", cls.keys[0][0], "--public-url", cls.PUBLIC_URL])

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        super().tearDownClass()

    def test_scope_and_fault_paths_are_refused_and_nothing_crafted_is_signed(self):
        prefixes = {
            "text": "/f/text=%s/Renova/" % b64url(CRAFTED),
            "text with another key": "/f/signwith=0;text=%s/Renova/" % b64url(CRAFTED),
            "raw": "/f/raw=%s/Renova/" % b64url(CRAFTED),
            "status": "/f/status=200/Renova/",
            "scope": "/t/%s/Renova/" % token(),
            "scope after the base": "/Renova/t/%s/" % token(),
        }
        for case, prefix in prefixes.items():
            with self.subTest(case=case):
                r = self.server.check("Sample Product", "1.0", prefix=prefix)
                self.assertEqual(r.status, 404)
                self.assertNotIn(b"666", r.body)
                self.assertNotIn(b"Signature", r.body)
        self.assertEqual(self.server.get("/f/drop/files/sample/ReadMe-2.0.0.txt").status, 404)
        self.assertIn("refused: scope and fault segments are served only with --test-faults", self.server.log())
        # The catalog's answer is still there, signed.
        r = self.server.check("Sample Product", "1.0")
        self.assertEqual(ET.fromstring(answer(r)[1]).findtext("UpdateId"), "42")
        self.assertSignedBy(r, 0, answer(r)[1])

    def test_records_are_not_served_but_the_record_file_is_written(self):
        self.server.check("Sample Product", "1.0")
        for path in ("/_records/x/count", "/_records/x/0/xml", "/_records"):
            with self.subTest(path=path):
                r = self.server.get(path)
                self.assertEqual(r.status, 404)
                self.assertNotIn(b"clientStatusXML", r.body)
        self.assertIn("refused: records are served only with --test-faults", self.server.log())
        lines = self.server.record_lines()
        self.assertTrue(any(line["method"] == "GetClientUpdate" and line["token"] is None for line in lines))

    def test_server_comes_from_the_public_url_whatever_the_host_header(self):
        for scheme in ("https", "http"):
            for host in ("evil.example:666", "localhost:%d" % self.server.port):
                with self.subTest(scheme=scheme, host=host):
                    doc = ET.fromstring(answer(check_with_host(self.server, host, scheme=scheme))[1])
                    self.assertEqual(doc.find("Download/File").get("Url"),
                                     "https://updates.example.com:8443/renova/files/sample/ReadMe-2.0.0.txt")
                    self.assertEqual(doc.findtext("ChangeLogUrl"),
                                     "https://updates.example.com:8443/renova/files/sample/ReadMe-2.0.0.txt")
        # The public URL's path is one the service answers at.
        self.assertEqual(self.server.get("/renova/files/sample/ReadMe-2.0.0.txt").status, 200)


class DefaultServerTests(unittest.TestCase):
    def test_without_public_url_server_is_the_main_listeners_own_address(self):
        for with_certs, scheme in ((True, "https"), (False, "http")):
            with self.subTest(scheme=scheme):
                server = ServerProcess([SAMPLE_CATALOG], with_certs=with_certs, test_faults=False)
                try:
                    r = check_with_host(server, "evil.example:666", scheme=scheme)
                    url = ET.fromstring(answer(r)[1]).find("Download/File").get("Url")
                    self.assertEqual(url, "%s://localhost:%d/files/sample/ReadMe-2.0.0.txt" % (scheme, server.port))
                finally:
                    server.stop()

    def test_unusable_public_urls_are_refused(self):
        folder = tempfile.mkdtemp(prefix="update-server-public.")
        try:
            for url in ("ftp://updates.example.com/", "updates.example.com/renova/", "https:///renova/",
                        "https://updates.example.com/?a=1", "https://updates.example.com/#x",
                        "https://updates.example.com/a b/"):
                with self.subTest(url=url):
                    done = subprocess.run([sys.executable, "-B", SERVER, "--catalog", SAMPLE_CATALOG, "--port", "0",
                                           "--port-file", os.path.join(folder, "port"), "--public-url", url],
                                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=20)
                    self.assertEqual(done.returncode, 2)
                    self.assertIn("--public-url", done.stderr)
                    self.assertFalse(os.path.exists(os.path.join(folder, "port")))
        finally:
            shutil.rmtree(folder, True)


if __name__ == "__main__":
    unittest.main()
