"""How a vendor deploys the service: the built-in server with a real
certificate speaks TLS and nothing else, downloads served by another web
server (a CDN) are named by its address, and settings that can't work stop
the service at its start with a message saying why."""

import hashlib
import http.client
import http.server
import os
import ssl
import subprocess
import tempfile
import threading
import unittest

import support

MAKE_CERTS = os.path.join(support.SERVER_DIR, os.pardir, "tools", "update-server", "make-certs")


class QuietFiles(http.server.SimpleHTTPRequestHandler):
    def log_message(self, format, *args):
        pass


class CertificatesAndFiles(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.certs = tempfile.mkdtemp(prefix="vlrn-service-certs.")
        subprocess.run(["bash", MAKE_CERTS, cls.certs], check=True, stdout=subprocess.DEVNULL)

    def test_with_a_certificate_it_speaks_tls_only(self):
        folder = support.ServiceFolder()
        folder.publish("Velbor Demo", "2.0.0", 101)
        port = support.free_port()
        service = subprocess.Popen([support.PYTHON, "-B", support.COMMAND, "serve", "--config", folder.config,
                                    "--port", str(port), "--port-file", os.path.join(folder.folder, "port"),
                                    "--certificate", os.path.join(self.certs, "server.pem"),
                                    "--key", os.path.join(self.certs, "server.key")],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(service.wait, 15)
        self.addCleanup(service.terminate)
        while not os.path.exists(os.path.join(folder.folder, "port")):
            self.assertIsNone(service.poll(), "the service ended at its start")

        trusting = ssl.create_default_context(cafile=os.path.join(self.certs, "ca.pem"))
        connection = http.client.HTTPSConnection("localhost", port, context=trusting, timeout=10)
        connection.request("GET", "/healthz")
        self.assertEqual(connection.getresponse().status, 200)
        connection.close()

        # Plain HTTP on the TLS port gets no HTTP answer at all.
        plain = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        with self.assertRaises((http.client.HTTPException, ConnectionError, OSError)):
            plain.request("GET", "/healthz")
            plain.getresponse()
        plain.close()

        # A client that does not trust the certificate's authority is refused.
        untrusting = ssl.create_default_context(cafile=os.path.join(self.certs, "untrusted-ca.pem"))
        with self.assertRaises(ssl.SSLError):
            refused = http.client.HTTPSConnection("localhost", port, context=untrusting, timeout=10)
            try:
                refused.request("GET", "/healthz")
            finally:
                refused.close()

    def test_downloads_from_another_web_server_are_named_by_its_address(self):
        cdn_folder = tempfile.mkdtemp(prefix="vlrn-cdn.")
        cdn = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), lambda *a: QuietFiles(*a, directory=cdn_folder))
        threading.Thread(target=cdn.serve_forever, daemon=True).start()
        self.addCleanup(cdn.server_close)
        self.addCleanup(cdn.shutdown)
        files_url = "http://127.0.0.1:%d/renova" % cdn.server_address[1]

        folder = support.ServiceFolder(files_url=files_url, serve_files="no")
        setup = b"MZ" + os.urandom(5000)
        done = folder.publish("Velbor Demo", "2.0.0", 101, setup_bytes=setup)
        self.assertIn("upload ", done.stdout)
        # The vendor uploads where publish said.
        relative = "Velbor-Demo/2.0.0/setup.exe"
        os.makedirs(os.path.join(cdn_folder, "renova", "Velbor-Demo", "2.0.0"))
        with open(os.path.join(cdn_folder, "renova", *relative.split("/")), "wb") as f:
            f.write(setup)

        service = support.ServiceProcess(folder)
        self.addCleanup(service.stop)
        status, text, _ = service.check("Velbor Demo", "1.0.0", "machine-1")
        self.assertEqual(status, 200)
        instruction = support.instruction_of(text)
        download = instruction.find("Download/File")
        self.assertEqual(download.get("Url"), files_url + "/" + relative)
        self.assertEqual(download.get("Sha256"), hashlib.sha256(setup).hexdigest())
        self.assertEqual(download.get("Size"), str(len(setup)))
        # What the answer names is there, and the service itself serves no files.
        cdn_connection = http.client.HTTPConnection("127.0.0.1", cdn.server_address[1], timeout=10)
        cdn_connection.request("GET", "/renova/" + relative)
        self.assertEqual(cdn_connection.getresponse().read(), setup)
        cdn_connection.close()
        self.assertEqual(service.get("/files/" + relative)[0], 404)


class ServedFiles(unittest.TestCase):
    def test_a_download_that_broke_off_goes_on_where_it_stopped(self):
        setup = os.urandom(300_000)
        folder = support.ServiceFolder()
        folder.publish("Velbor Demo", "2.0.0", 101, setup_bytes=setup)
        service = support.ServiceProcess(folder)
        self.addCleanup(service.stop)
        path = "/Renova/files/Velbor-Demo/2.0.0/setup.exe"

        status, headers, body = service.get(path)
        self.assertEqual((status, body, headers["Accept-Ranges"]), (200, setup, "bytes"))
        etag, modified = headers["ETag"], headers["Last-Modified"]
        for if_range in (None, etag, modified):
            with self.subTest(if_range=if_range):
                asked = {"Range": "bytes=123456-"}
                if if_range:
                    asked["If-Range"] = if_range
                status, headers, body = service.get(path, asked)
                self.assertEqual((status, body), (206, setup[123456:]))
                self.assertEqual(headers["Content-Range"], "bytes 123456-299999/300000")
        # Another version named: the whole file anew, as the updater then expects.
        status, _, body = service.get(path, {"Range": "bytes=123456-", "If-Range": '"another"'})
        self.assertEqual((status, body), (200, setup))
        status, headers, _ = service.get(path, {"Range": "bytes=300000-"})
        self.assertEqual((status, headers["Content-Range"]), (416, "bytes */300000"))
        for outside in ("/files/../service.conf", "/files/%2e%2e/service.conf", "/files/Velbor-Demo/../../service.db"):
            with self.subTest(outside=outside):
                self.assertEqual(service.get(outside)[0], 404)


class SettingsThatCannotWork(unittest.TestCase):
    def test_the_service_does_not_start_and_says_why(self):
        cases = {
            "no address": ({"public_url": ""}, "public_url is not set"),
            "an address that is no web address": ({"public_url": "ftp://example.com/"}, "public_url must be"),
            "a guessable dashboard token": ({"dashboard_token_file": "short-token"}, "at least 16 characters"),
            "a missing key": ({"signing_key": "no-such-key.pem"}, "no such file"),
            "a limit beyond 1": ({"halt_failure_share": "1.5"}, "halt_failure_share must be from"),
            "a missing catalog": ({"catalog": "no-such-folder"}, "does not exist"),
        }
        for name, (settings, message) in cases.items():
            with self.subTest(name):
                folder = support.ServiceFolder()
                with open(os.path.join(folder.folder, "short-token"), "w") as f:
                    f.write("0123456789\n")
                folder.set(**settings)
                done = support.run_command("serve", "--config", folder.config, "--port", support.free_port(),
                                           check=False)
                self.assertEqual(done.returncode, 1, done.stderr)
                self.assertIn(message, done.stderr)


if __name__ == "__main__":
    unittest.main()
