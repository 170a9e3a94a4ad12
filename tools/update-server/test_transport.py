"""Listeners, TLS and plain HTTP on one port, certificates, and the files served."""

import os
import shutil
import socket
import ssl
import subprocess
import tempfile
import time
import unittest

from harness import (MAKE_CERTS, SAMPLE_CATALOG, ServerProcess, certs, raw_exchange, raw_request,
                     split_response, token, trusting)
from server import MAX_BODY, MAX_CONNECTIONS, MAX_HEADER_BYTES


def listening_addresses(port):
    """Local addresses of the sockets listening on this TCP port, from /proc/net/tcp*."""
    found = []
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                rows = f.read().splitlines()[1:]
        except OSError:
            continue
        for row in rows:
            fields = row.split()
            address, port_hex = fields[1].split(":")
            if fields[3] == "0A" and int(port_hex, 16) == port:
                found.append(address)
    return found


def peer_certificate(port, context):
    with socket.create_connection(("127.0.0.1", port), timeout=10) as raw:
        with context.wrap_socket(raw, server_hostname="localhost") as tls:
            return tls.getpeercert()


def name_of(certificate, part):
    return dict(pair[0] for pair in certificate[part])["commonName"]


class ListenerTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.catalog = tempfile.mkdtemp(prefix="update-server-catalog.")
        os.makedirs(os.path.join(cls.catalog, "banners"))
        with open(os.path.join(cls.catalog, "banners", "Banner_Sample_Product_2.bmp"), "wb") as f:
            f.write(b"BM" + bytes(range(256)) * 4)
        cls.outside = os.path.join(cls.catalog, "secret.txt")
        with open(cls.outside, "w") as f:
            f.write("not to be served")
        os.makedirs(os.path.join(cls.catalog, "files"))
        os.symlink(cls.outside, os.path.join(cls.catalog, "files", "link.txt"))
        cls.server = ServerProcess([SAMPLE_CATALOG, cls.catalog])

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.catalog, True)

    def test_port_file_and_loopback_only(self):
        lines = self.server.port_lines
        self.assertEqual(len(lines), 3)
        self.assertTrue(lines[0].isdigit())
        self.assertEqual([line.split()[0] for line in lines[1:]], ["self-signed", "untrusted"])
        for port in self.server.ports.values():
            self.assertEqual(listening_addresses(port), ["0100007F"])

    def test_tls_and_plain_http_on_every_listener(self):
        contexts = {"main": trusting("ca.pem"), "self-signed": trusting("self-signed.pem"),
                    "untrusted": trusting("untrusted-ca.pem")}
        for listener, context in contexts.items():
            for scheme in ("https", "http"):
                with self.subTest(listener=listener, scheme=scheme):
                    scope = token()
                    conn = self.server.connection(scheme, listener, context=context)
                    r = self.server.request("GET", "/t/%s/files/sample/ReadMe-2.0.0.txt" % scope, connection=conn)
                    conn.close()
                    self.assertEqual(r.status, 200)
                    self.assertEqual(self.server.record_field(scope, 0, "scheme"), scheme)
                    self.assertEqual(self.server.record_field(scope, 0, "listener"), listener)

    def test_certificates_of_the_listeners(self):
        main = peer_certificate(self.server.ports["main"], trusting("ca.pem"))
        self.assertEqual(main["subjectAltName"], (("DNS", "localhost"),))
        self.assertEqual(name_of(main, "issuer"), "VLRenova Test Authority")
        # Neither extra listener passes with the test authority alone, each with its own issuer.
        for listener, pem, issuer in (("self-signed", "self-signed.pem", "localhost"),
                                      ("untrusted", "untrusted-ca.pem", "VLRenova Untrusted Test Authority")):
            with self.subTest(listener=listener):
                with self.assertRaises(ssl.SSLCertVerificationError):
                    peer_certificate(self.server.ports[listener], trusting("ca.pem"))
                self.assertEqual(name_of(peer_certificate(self.server.ports[listener], trusting(pem)), "issuer"),
                                 issuer)
        with self.assertRaises(ssl.SSLCertVerificationError):
            peer_certificate(self.server.ports["main"], trusting("untrusted-ca.pem"))

    def test_connections_are_kept_alive(self):
        for scheme in ("https", "http"):
            with self.subTest(scheme=scheme):
                conn = self.server.connection(scheme)
                first = self.server.check("Sample Product", "1.0", connection=conn)
                sock = conn.sock
                second = self.server.get("/files/sample/ReadMe-2.0.0.txt", connection=conn)
                third = self.server.check("Sample Product", "2.0", connection=conn)
                self.assertIs(conn.sock, sock)
                conn.close()
                self.assertEqual([first.status, second.status, third.status], [200, 200, 200])

    def test_files_and_banners(self):
        with open(os.path.join(SAMPLE_CATALOG, "files", "sample", "ReadMe-2.0.0.txt"), "rb") as f:
            readme = f.read()
        r = self.server.get("/files/sample/ReadMe-2.0.0.txt")
        self.assertEqual(r.body, readme)
        head = self.server.request("HEAD", "/files/sample/ReadMe-2.0.0.txt", scheme="http")
        self.assertEqual((head.status, int(head.headers.getheader("Content-Length")), head.body),
                         (200, len(readme), b""))
        with open(os.path.join(self.catalog, "banners", "Banner_Sample_Product_2.bmp"), "rb") as f:
            banner = f.read()
        scope = token()
        for path in ("/Banner/Banner_Sample_Product_2.bmp",
                     "/t/%s/Renova//Banner/Banner_Sample_Product_2.bmp" % scope):
            self.assertEqual(self.server.get(path, scheme="https").body, banner, path)
        self.assertEqual(self.server.record_count(scope), 1)
        self.assertEqual(self.server.get("/Banner/Banner_Other_1.bmp").status, 404)
        self.assertEqual(self.server.get("/files/sample/").status, 404)

    def test_paths_out_of_the_folders_are_refused(self):
        for path in ("/files/../secret.txt", "/files/sample/../../sample-product.json", "/files/%2e%2e/secret.txt",
                     "/files/sample/..%2f..%2fsample-product.json", "/files//etc/passwd", "/files/%2fetc/passwd",
                     "/files/link.txt", "/Banner/..%2fsecret.txt", "/Banner/..", "/files/sample\\..\\x",
                     "/files/sample/%5c..%5csample-product.json"):
            with self.subTest(path=path):
                status, _, body = split_response(raw_exchange(self.server.port, raw_request("GET", path)))
                self.assertEqual(status, 404)
                self.assertNotIn(b"not to be served", body)
                self.assertNotIn(b"ProgramName", body)


    def test_bodies_beyond_the_limit_are_refused_unread_and_the_listener_goes_on(self):
        path = "/t/%s/Renova/VLRNWebservice.asmx/GetClientUpdate" % token()
        heads = {
            "a length beyond the index range": (413, "Content-Length: %d\r\n\r\n" % 10 ** 30),
            "a length one beyond the limit": (413, "Content-Length: %d\r\n\r\nclientStatusXML=" % (MAX_BODY + 1)),
            "a chunk of length -1 (read to the end)": (400, "Transfer-Encoding: chunked\r\n\r\n-1\r\nabc"),
            "a negative length": (400, "Content-Length: -5\r\n\r\n"),
            "a chunk beyond the limit": (413, "Transfer-Encoding: chunked\r\n\r\n%x\r\nabc" % (64 * 1024 * 1024)),
            "chunks beyond the limit together": (413, "Transfer-Encoding: chunked\r\n\r\n%x\r\n%s\r\n1\r\n"
                                                 % (MAX_BODY, "a" * MAX_BODY)),
            "an endless chunk size line": (400, "Transfer-Encoding: chunked\r\n\r\n" + "0" * 100000),
        }
        for case, (wanted, head) in heads.items():
            with self.subTest(case=case):
                request = "POST %s HTTP/1.1\r\nHost: localhost\r\n%s" % (path, head)
                status, _, body = split_response(raw_exchange(self.server.port, request.encode("ascii")))
                self.assertEqual((status, body), (wanted, b"request body too large\n" if wanted == 413
                                                  else b"unreadable request body\n"))
        # A body of exactly the limit is read: the form is wrong, not too long.
        request = raw_request("POST", path, b"clientStatusXML=" + b"a" * (MAX_BODY - 16))
        self.assertEqual(split_response(raw_exchange(self.server.port, request))[0], 400)
        self.assertEqual(self.server.check("Sample Product", "1.0").status, 200)
        log = self.server.log()
        self.assertIn("request body from 127.0.0.1 refused: a body of %d bytes, more than %d" % (10 ** 30, MAX_BODY),
                      log)
        self.assertIn("unreadable request body from 127.0.0.1: a Content-Length of -5", log)


def idle_connections(port, count):
    return [socket.create_connection(("127.0.0.1", port), timeout=10) for _ in range(count)]


def answer_within(sock, seconds):
    """The answer's status line read from sock, or None when nothing came in time."""
    sock.settimeout(seconds)
    try:
        data = sock.recv(65536)
    except socket.timeout:
        return None
    return data.split(b"\r\n", 1)[0]


class LimitTests(unittest.TestCase):
    """What one client can hold of the service: connections, header bytes, time."""

    def test_connections_beyond_the_bound_wait_until_one_ends(self):
        server = ServerProcess([SAMPLE_CATALOG], with_certs=False)
        idle = []
        try:
            idle = idle_connections(server.port, MAX_CONNECTIONS)
            extra = socket.create_connection(("127.0.0.1", server.port), timeout=10)
            idle.append(extra)
            extra.sendall(raw_request("GET", "/files/sample/ReadMe-2.0.0.txt"))
            self.assertIsNone(answer_within(extra, 1.5))
            self.assertIn("%d connections open; new ones wait" % MAX_CONNECTIONS, server.log())
            idle.pop(0).close()
            self.assertEqual(answer_within(extra, 10), b"HTTP/1.1 200 OK")
        finally:
            for sock in idle:
                sock.close()
            server.stop()

    def test_silent_and_slow_clients_lose_their_connection_and_free_it(self):
        limits = {"MAX_CONNECTIONS": 3, "IDLE_TIMEOUT": 0.5, "REQUEST_TIME_LIMIT": 1.5}
        server = ServerProcess([SAMPLE_CATALOG], with_certs=False, limits=limits)
        idle = []
        try:
            # Silent connections take every slot; the request behind them is
            # answered once they time out, with nobody closing them.
            idle = idle_connections(server.port, 3)
            waiting = socket.create_connection(("127.0.0.1", server.port), timeout=10)
            idle.append(waiting)
            waiting.sendall(raw_request("GET", "/files/sample/ReadMe-2.0.0.txt"))
            start = time.monotonic()
            self.assertEqual(answer_within(waiting, 8), b"HTTP/1.1 200 OK")
            self.assertGreater(time.monotonic() - start, 0.3)
            for sock in idle[:3]:
                self.assertEqual(answer_within(sock, 5), b"")

            # A byte every 0.2 s keeps each wait short, not the request.
            slow = socket.create_connection(("127.0.0.1", server.port), timeout=10)
            idle.append(slow)
            slow.sendall(b"GET /files/sample/ReadMe-2.0.0.txt HTTP/1.1\r\nX-Slow: ")
            start = time.monotonic()
            closed = False
            while time.monotonic() - start < 8:
                try:
                    slow.sendall(b"a")
                except OSError:
                    closed = True
                    break
                if answer_within(slow, 0.2) == b"":
                    closed = True
                    break
            self.assertTrue(closed, "the slow request still holds its connection")
            self.assertGreater(time.monotonic() - start, 1.0)
            self.assertIn("Request timed out", server.log())
            self.assertEqual(server.check("Sample Product", "1.0", scheme="http").status, 200)
        finally:
            for sock in idle:
                sock.close()
            server.stop()

    def test_request_headers_beyond_the_limit_are_refused(self):
        server = ServerProcess([SAMPLE_CATALOG], with_certs=False)
        try:
            line = "X-Filler: %s\r\n" % ("f" * 4000)
            within = line * (MAX_HEADER_BYTES // len(line) - 1)
            beyond = line * (MAX_HEADER_BYTES // len(line) + 1)      # far fewer than the 100 lines allowed
            path = "/files/sample/ReadMe-2.0.0.txt"
            self.assertEqual(split_response(raw_exchange(server.port, raw_request("GET", path, extra=within)))[0],
                             200)
            status, _, _ = split_response(raw_exchange(server.port, raw_request("GET", path, extra=beyond)))
            self.assertEqual(status, 431)
            self.assertIn('" 431 -', server.log())
            self.assertEqual(server.check("Sample Product", "1.0", scheme="http").status, 200)
        finally:
            server.stop()


class PlainOnlyTests(unittest.TestCase):
    def test_without_certificates_only_plain_http_is_spoken(self):
        server = ServerProcess([SAMPLE_CATALOG], with_certs=False)
        try:
            self.assertEqual(len(server.port_lines), 1)
            context = ssl.create_default_context()
            context.check_hostname = False
            context.verify_mode = ssl.CERT_NONE
            with self.assertRaises((ssl.SSLError, ConnectionError)):
                peer_certificate(server.port, context)
            self.assertEqual(server.check("Sample Product", "1.0", scheme="http").status, 200)
        finally:
            server.stop()


class MakeCertsTests(unittest.TestCase):
    def openssl(self, *args):
        return subprocess.run(["openssl"] + list(args), check=True, capture_output=True, text=True).stdout

    def test_certificates_and_their_properties(self):
        folder = certs()
        self.assertIn("critical", self.openssl("x509", "-in", os.path.join(folder, "ca.pem"), "-noout",
                                               "-ext", "basicConstraints"))
        self.assertIn("CA:TRUE", self.openssl("x509", "-in", os.path.join(folder, "ca.pem"), "-noout",
                                              "-ext", "basicConstraints"))
        with open(os.path.join(folder, "ca.pem")) as f, open(os.path.join(folder, "ca.der"), "rb") as d:
            self.assertEqual(ssl.PEM_cert_to_DER_cert(f.read()), d.read())
        ends = self.openssl("x509", "-in", os.path.join(folder, "server.pem"), "-noout", "-checkend",
                            str(5 * 365 * 24 * 3600))
        self.assertIn("will not expire", ends)

    def test_existing_files_are_kept_and_missing_sets_made_again(self):
        folder = os.path.join(tempfile.mkdtemp(prefix="update-server-certs."), "certs")
        try:
            shutil.copytree(certs(), folder)
            contents = {}
            for name in sorted(os.listdir(folder)):
                with open(os.path.join(folder, name), "rb") as f:
                    contents[name] = f.read()
            self.assertEqual(len(contents), 11)
            run = subprocess.run(["bash", MAKE_CERTS, folder], check=True, capture_output=True, text=True)
            self.assertEqual(run.stdout, "")
            for name, data in contents.items():
                with open(os.path.join(folder, name), "rb") as f:
                    self.assertEqual(f.read(), data, name)
            os.remove(os.path.join(folder, "server.pem"))
            subprocess.run(["bash", MAKE_CERTS, folder], check=True, capture_output=True)
            with open(os.path.join(folder, "ca.pem"), "rb") as f:
                self.assertNotEqual(f.read(), contents["ca.pem"])
            with open(os.path.join(folder, "self-signed.pem"), "rb") as f:
                self.assertEqual(f.read(), contents["self-signed.pem"])
            self.assertIn("OK", self.openssl("verify", "-CAfile", os.path.join(folder, "ca.pem"),
                                             os.path.join(folder, "server.pem")))
        finally:
            shutil.rmtree(os.path.dirname(folder), True)

if __name__ == "__main__":
    unittest.main()
