"""Faults named in the request path, as the updater's tests use them."""

import base64
import os
import socket
import threading
import time
import unittest
import xml.etree.ElementTree as ET

from harness import (NS, SAMPLE_CATALOG, ServerProcess, client_status, form_body, raw_exchange,
                     raw_request, split_response, token)

CHECK = "VLRNWebservice.asmx/GetClientUpdate"


def b64(data):
    return base64.urlsafe_b64encode(data).decode("ascii").rstrip("=")


class FaultTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = ServerProcess([SAMPLE_CATALOG])

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def check(self, faults, scheme="https"):
        return self.server.check("Sample Product", "1.0", prefix="/f/%s/Renova/" % faults, scheme=scheme)

    def raw_check(self, faults):
        body = form_body("clientStatusXML", client_status("Sample Product", "1.0"))
        return raw_exchange(self.server.port, raw_request("POST", "/f/%s/Renova/%s" % (faults, CHECK), body,
                                                          "Content-Type: application/x-www-form-urlencoded\r\n"))

    def test_status(self):
        self.assertEqual(self.check("status=500").status, 500)
        self.assertEqual(self.check("status=404", scheme="http").status, 404)
        r = self.server.post("/f/status=503/Renova/VLRNWebservice.asmx/ReportUpdateStatus", "UpdateStatusXML",
                             "<UpdateStatus/>")
        self.assertEqual(r.status, 503)
        # A status together with a body fault sends that body.
        r = self.check("status=500;notxml")
        self.assertEqual((r.status, r.body), (500, b"This is not XML"))

    def test_bodies_that_are_not_instructions(self):
        self.assertEqual(self.check("notxml").body, b"This is not XML")

        empty = ET.fromstring(self.check("emptyroot").body)
        self.assertEqual(empty.tag, NS + "string")
        self.assertIsNone(empty.text)

        text = "<Instruction><UpdateId>5</UpdateId><ErrorMessage>\u00e4 & \u20ac</ErrorMessage></Instruction>"
        r = self.check("text=" + b64(text.encode("utf-8")))
        self.assertEqual(r.status, 200)
        self.assertTrue(all(b < 0x80 for b in r.body))
        self.assertEqual(r.answer_text(), text)

        raw = b"\x00\xff\x80<a>\xe4</a>\r\n"
        self.assertEqual(self.check("raw=" + b64(raw)).body, raw)

        r = self.check("nul=100")
        self.assertEqual(r.body, b"\0" * 100)
        r = self.check("nul")
        self.assertTrue(len(r.body) > 0 and r.body == b"\0" * len(r.body))

    def test_huge_and_deep_answers_are_well_formed(self):
        r = self.check("huge=300001")
        self.assertEqual(int(r.headers.getheader("Content-Length")), 300001)
        self.assertEqual(len(r.body), 300001)
        root = ET.fromstring(r.body)
        self.assertEqual(root.tag, NS + "string")
        self.assertEqual(set(root.text), {"x"})
        self.assertEqual(len(self.check("huge=12").body), 12)
        ET.fromstring(self.check("huge=12").body)

        r = self.check("deep=500")
        depth, element = 0, ET.fromstring(r.body)
        while element is not None:
            depth += 1
            element = element[0] if len(element) else None
        self.assertEqual(depth, 500)

    def test_delay_holds_only_its_own_request(self):
        delayed = {}

        def slow():
            start = time.monotonic()
            delayed["status"] = self.check("delay=0.8").status
            delayed["elapsed"] = time.monotonic() - start
            delayed["end"] = time.monotonic()

        thread = threading.Thread(target=slow)
        thread.start()
        time.sleep(0.2)
        self.assertEqual(self.check("").status, 200)
        quick_end = time.monotonic()
        thread.join(10)
        self.assertEqual(delayed["status"], 200)
        self.assertGreaterEqual(delayed["elapsed"], 0.8)
        self.assertLess(quick_end, delayed["end"])
        self.assertEqual(self.check("delay=nan").status, 400)

    def test_drop_and_truncate_break_the_connection(self):
        self.assertEqual(self.raw_check("drop"), b"")

        status, headers, body = split_response(self.raw_check("truncate"))
        self.assertEqual(status, 200)
        announced = int(headers["content-length"])
        self.assertEqual(len(body), announced // 2)
        self.assertTrue(body.startswith(b"<?xml"))

        # Faults work before downloads too.
        with open(os.path.join(SAMPLE_CATALOG, "files", "sample", "ReadMe-2.0.0.txt"), "rb") as f:
            content = f.read()
        status, headers, body = split_response(
            raw_exchange(self.server.port, raw_request("GET", "/f/truncate/files/sample/ReadMe-2.0.0.txt")))
        self.assertEqual((status, int(headers["content-length"]), body), (200, len(content), content[:len(content) // 2]))
        self.assertEqual(self.server.get("/t/x/f/status=500/files/sample/ReadMe-2.0.0.txt").status, 500)

    def test_reset_ends_the_connection_with_a_reset_after_half_the_body(self):
        with open(os.path.join(SAMPLE_CATALOG, "files", "sample", "ReadMe-2.0.0.txt"), "rb") as f:
            content = f.read()
        received = b""
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=10) as s:
            s.sendall(raw_request("GET", "/f/reset/files/sample/ReadMe-2.0.0.txt"))
            with self.assertRaises(ConnectionResetError):
                while True:
                    chunk = s.recv(65536)
                    if not chunk:
                        break   # an orderly end: not what the fault promises
                    received += chunk
        # What arrived before the reset, if the system kept it, is the head and
        # at most half of the body.
        if received:
            status, headers, body = split_response(received)
            self.assertEqual((status, int(headers["content-length"])), (200, len(content)))
            self.assertTrue(content[:len(content) // 2].startswith(body))

    def test_faults_and_scope_in_any_order_and_the_request_still_recorded(self):
        scope = token()
        r = self.server.check("Sample Product", "1.0", prefix="/f/status=502/x/t/%s/Renova/" % scope)
        self.assertEqual(r.status, 502)
        self.assertEqual(self.server.record_count(scope), 1)
        self.assertEqual(self.server.record_field(scope, 0, "xml"), client_status("Sample Product", "1.0"))

        dropped = token()
        body = form_body("clientStatusXML", client_status("Sample Product", "1.0"))
        raw_exchange(self.server.port, raw_request("POST", "/t/%s/f/drop/Renova/%s" % (dropped, CHECK), body))
        self.assertEqual(self.server.record_count(dropped), 1)

    def test_mistyped_faults_are_refused(self):
        for faults in ("slow", "status=abc", "status=42", "text=***", "huge=-1", "notxml;emptyroot"):
            with self.subTest(faults=faults):
                r = self.check(faults)
                self.assertEqual(r.status, 400)
                self.assertIn(b"fault", r.body)


if __name__ == "__main__":
    unittest.main()
