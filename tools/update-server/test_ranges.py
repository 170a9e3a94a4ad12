"""Byte ranges and validators of served files, and the download faults that break
a transfer (cutat, stallat, noranges, changeat), as the updater's resuming
download meets them."""

import email.utils
import http.client
import os
import random
import re
import shutil
import socket
import tempfile
import time
import unittest

from harness import ServerProcess, raw_request, split_response, token

SIZE = 200_000          # a few of the server's 64 KiB blocks
BLOB = random.Random(1).randbytes(SIZE)
BANNER = b"BM" + bytes(range(256)) * 3


def changed(data):
    """The content changeat serves once it has cut: every byte XOR 0x5A."""
    return bytes(b ^ 0x5A for b in data)


def make_catalog():
    folder = tempfile.mkdtemp(prefix="update-server-ranges.")
    os.makedirs(os.path.join(folder, "files"))
    os.makedirs(os.path.join(folder, "banners"))
    for name, data in (("files/blob.bin", BLOB), ("files/empty.bin", b""), ("banners/Banner_R_1.bmp", BANNER)):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    return folder


def exchange(port, data, timeout=10, wait=0):
    """Sends bytes on a fresh plain connection, waits as long as asked before
    reading; -> (everything received, the error that ended it or None for an
    orderly close)."""
    received = b""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        time.sleep(wait)
        try:
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    return received, None
                received += chunk
        except OSError as e:
            return received, e


def ranged(path, value, if_range=None):
    extra = "Range: %s\r\n" % value
    if if_range is not None:
        extra += "If-Range: %s\r\n" % if_range
    return raw_request("GET", path, extra=extra)


class RangeTests(unittest.TestCase):
    """Ranges are served always, not only with --test-faults."""

    @classmethod
    def setUpClass(cls):
        cls.catalog = make_catalog()
        cls.server = ServerProcess([cls.catalog], with_certs=False, test_faults=False)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.catalog, True)

    def get(self, path, headers=None, verb="GET"):
        return self.server.request(verb, path, headers=headers, scheme="http")

    def test_whole_file_carries_stable_strong_validators(self):
        st = os.stat(os.path.join(self.catalog, "files", "blob.bin"))
        first = self.get("/files/blob.bin")
        second = self.get("/files/blob.bin")
        head = self.get("/files/blob.bin", verb="HEAD")
        self.assertEqual((first.status, first.body), (200, BLOB))
        self.assertEqual(first.headers.getheader("Accept-Ranges"), "bytes")
        etag = first.headers.getheader("ETag")
        self.assertEqual(etag, '"%x-%x"' % (st.st_size, st.st_mtime_ns))
        self.assertEqual(first.headers.getheader("Last-Modified"),
                         email.utils.formatdate(st.st_mtime_ns // 10 ** 9, usegmt=True))
        for other in (second, head):
            self.assertEqual(other.headers.getheader("ETag"), etag)
            self.assertEqual(other.headers.getheader("Last-Modified"), first.headers.getheader("Last-Modified"))
        self.assertEqual((head.status, int(head.headers.getheader("Content-Length")), head.body), (200, SIZE, b""))

    def test_a_single_range_is_answered_206_with_just_those_bytes(self):
        cases = {
            "bytes=70000-": (70000, SIZE - 1),
            "bytes=0-": (0, SIZE - 1),
            "bytes=65530-131080": (65530, 131080),          # across two block boundaries
            "bytes=10-10": (10, 10),
            "bytes=%d-" % (SIZE - 1): (SIZE - 1, SIZE - 1),
            "bytes=150000-999999999": (150000, SIZE - 1),  # an end beyond the file ends with it
            "bytes=-1000": (SIZE - 1000, SIZE - 1),
            "bytes=-999999": (0, SIZE - 1),
            "Bytes = 5 - 9": (5, 9),
        }
        for value, (first, last) in cases.items():
            with self.subTest(range=value):
                r = self.get("/files/blob.bin", {"Range": value})
                self.assertEqual(r.status, 206)
                self.assertEqual(r.headers.getheader("Content-Range"), "bytes %d-%d/%d" % (first, last, SIZE))
                self.assertEqual(int(r.headers.getheader("Content-Length")), last - first + 1)
                self.assertEqual(r.body, BLOB[first:last + 1])
        r = self.get("/Banner/Banner_R_1.bmp", {"Range": "bytes=2-"})
        self.assertEqual((r.status, r.body), (206, BANNER[2:]))

    def test_ranged_answers_keep_the_connection_usable(self):
        conn = self.server.connection("http")
        try:
            a = self.server.request("GET", "/files/blob.bin", headers={"Range": "bytes=0-99"}, connection=conn)
            sock = conn.sock
            b = self.server.request("GET", "/files/blob.bin", headers={"Range": "bytes=%d-" % SIZE}, connection=conn)
            c = self.server.request("GET", "/files/blob.bin", connection=conn)
            self.assertIs(conn.sock, sock)
        finally:
            conn.close()
        self.assertEqual([(a.status, a.body), (b.status,), (c.status, c.body)],
                         [(206, BLOB[:100]), (416,), (200, BLOB)])

    def test_unsatisfiable_ranges_get_416(self):
        for path, value, size in (("/files/blob.bin", "bytes=%d-" % SIZE, SIZE),
                                  ("/files/blob.bin", "bytes=%d-%d" % (SIZE + 5, SIZE + 9), SIZE),
                                  ("/files/blob.bin", "bytes=" + "9" * 5000 + "-", SIZE),
                                  ("/files/blob.bin", "bytes=-0", SIZE),
                                  ("/files/empty.bin", "bytes=0-", 0)):
            with self.subTest(path=path, range=value[:40]):
                for verb in ("GET", "HEAD"):
                    r = self.get(path, {"Range": value}, verb=verb)
                    self.assertEqual(r.status, 416)
                    self.assertEqual(r.headers.getheader("Content-Range"), "bytes */%d" % size)
                    self.assertNotIn(BLOB[:64], r.body)

    def test_malformed_and_multiple_ranges_are_ignored(self):
        for value in ("bytes=9-5", "bytes=0-1,5-6", "bytes=0-1, 5-6", "items=0-5", "bytes=abc-", "bytes=-",
                      "bytes=", "bytes 0-5", "bytes=DIGIT-"):
            with self.subTest(range=value):
                # DIGIT: an Arabic-Indic one, which is no ASCII digit.
                request = ranged("/files/blob.bin", value).replace(b"DIGIT", "\u0661".encode("utf-8"))
                status, headers, body = split_response(exchange(self.server.port, request)[0])
                self.assertEqual((status, len(body), "content-range" in headers), (200, SIZE, False))
                self.assertEqual(body, BLOB)
        # Two Range lines are two ranges.
        request = raw_request("GET", "/files/blob.bin", extra="Range: bytes=0-1\r\nRange: bytes=5-6\r\n")
        status, _, body = split_response(exchange(self.server.port, request)[0])
        self.assertEqual((status, body), (200, BLOB))

    def test_if_range_decides_between_the_range_and_the_whole_file(self):
        full = self.get("/files/blob.bin")
        etag = full.headers.getheader("ETag")
        modified = full.headers.getheader("Last-Modified")
        seconds = email.utils.parsedate_to_datetime(modified).timestamp()
        earlier = email.utils.formatdate(seconds - 1, usegmt=True)
        later = email.utils.formatdate(seconds + 1, usegmt=True)
        cases = {
            etag: 206,
            modified: 206,
            '"%s"' % etag.strip('"')[::-1]: 200,    # another tag
            "W/" + etag: 200,                       # a weak tag never matches
            etag.strip('"'): 200,                   # not a tag, not a date
            earlier: 200,
            later: 200,
            "yesterday": 200,
        }
        for value, wanted in cases.items():
            with self.subTest(if_range=value):
                for verb in ("GET", "HEAD"):
                    r = self.get("/files/blob.bin", {"Range": "bytes=1000-", "If-Range": value}, verb=verb)
                    self.assertEqual(r.status, wanted)
                    self.assertEqual(int(r.headers.getheader("Content-Length")),
                                     SIZE - 1000 if wanted == 206 else SIZE)
                    if verb == "GET":
                        self.assertEqual(r.body, BLOB[1000:] if wanted == 206 else BLOB)
        # If-Range without Range changes nothing.
        r = self.get("/files/blob.bin", {"If-Range": '"other"'})
        self.assertEqual((r.status, r.body), (200, BLOB))

    def test_head_answers_as_get_without_the_body(self):
        r = self.get("/files/blob.bin", {"Range": "bytes=100-199"}, verb="HEAD")
        self.assertEqual((r.status, r.headers.getheader("Content-Range"), r.headers.getheader("Content-Length"), r.body),
                         (206, "bytes 100-199/%d" % SIZE, "100", b""))
        self.assertEqual(r.headers.getheader("Accept-Ranges"), "bytes")

    def test_the_tag_changes_with_the_file(self):
        path = os.path.join(self.catalog, "files", "changing.bin")
        with open(path, "wb") as f:
            f.write(b"A" * 5000)
        before = self.get("/files/changing.bin")
        # The same size, a modification time one nanosecond later: the date
        # cannot tell, the tag must.
        st = os.stat(path)
        with open(path, "r+b") as f:
            f.write(b"B" * 5000)
        os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns + 1))
        after = self.get("/files/changing.bin")
        self.assertEqual(after.body, b"B" * 5000)
        self.assertNotEqual(after.headers.getheader("ETag"), before.headers.getheader("ETag"))
        self.assertEqual(after.headers.getheader("ETag"), self.get("/files/changing.bin").headers.getheader("ETag"))
        resumed = self.get("/files/changing.bin", {"Range": "bytes=3000-", "If-Range": before.headers.getheader("ETag")})
        self.assertEqual((resumed.status, resumed.body), (200, b"B" * 5000))
        # A later second changes the date too.
        os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns + 2 * 10 ** 9))
        later = self.get("/files/changing.bin")
        self.assertNotEqual(later.headers.getheader("Last-Modified"), after.headers.getheader("Last-Modified"))
        self.assertNotEqual(later.headers.getheader("ETag"), after.headers.getheader("ETag"))


class DownloadFaultTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.catalog = make_catalog()
        cls.server = ServerProcess([cls.catalog])

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.catalog, True)

    def test_cutat_resets_the_first_request_after_exactly_n_bytes_then_answers_normally(self):
        scope = token()
        path = "/t/%s/f/cutat=150000/files/blob.bin" % scope
        # A HEAD has no body to cut and does not count.
        head = self.server.request("HEAD", path, scheme="http")
        self.assertEqual(head.status, 200)

        # A client slow to read still gets all the bytes before the reset,
        # more than the socket buffers hold.
        received, error = exchange(self.server.port, raw_request("GET", path), wait=0.5)
        self.assertIsInstance(error, ConnectionResetError)
        status, headers, body = split_response(received)
        self.assertEqual((status, int(headers["content-length"]), headers["accept-ranges"]), (200, SIZE, "bytes"))
        self.assertEqual(len(body), 150000)
        self.assertEqual(body, BLOB[:150000])
        self.assertIn("after 150000 of %d bytes with a reset" % SIZE, self.server.log())

        received, error = exchange(self.server.port, ranged(path, "bytes=150000-", headers["etag"]))
        self.assertIsNone(error)
        status, again, body = split_response(received)
        self.assertEqual((status, again["content-range"], again["etag"]),
                         (206, "bytes 150000-%d/%d" % (SIZE - 1, SIZE), headers["etag"]))
        self.assertEqual(body, BLOB[150000:])
        # A fresh download of the same path is not cut again.
        received, error = exchange(self.server.port, raw_request("GET", path))
        self.assertEqual((error, split_response(received)[2]), (None, BLOB))
        self.assertEqual(self.server.record_count(scope), 4)

    def test_cutat_counts_per_scope_and_only_requests_without_range(self):
        scope = token()
        path = "/t/%s/f/cutat=10/files/blob.bin" % scope
        # A ranged request first is answered whole and leaves the cut to come.
        received, error = exchange(self.server.port, ranged(path, "bytes=0-"))
        self.assertEqual((error, split_response(received)[0], split_response(received)[2]), (None, 206, BLOB))
        received, error = exchange(self.server.port, raw_request("GET", path))
        self.assertIsInstance(error, ConnectionResetError)
        self.assertEqual(split_response(received)[2], BLOB[:10])
        # Another scope has its own first request; cutat=0 sends no body at all.
        for other in ("/t/%s/f/cutat=10/files/blob.bin" % token(), "/t/%s/f/cutat=0/files/blob.bin" % scope):
            with self.subTest(path=other):
                received, error = exchange(self.server.port, raw_request("GET", other))
                self.assertIsInstance(error, ConnectionResetError)
                status, headers, body = split_response(received)
                self.assertEqual((status, int(headers["content-length"])), (200, SIZE))
                self.assertEqual(body, BLOB[:int(other.split("cutat=")[1].split("/")[0])])

    def test_cutat_over_tls(self):
        path = "/t/%s/f/cutat=1000/files/blob.bin" % token()
        conn = self.server.connection("https")
        try:
            conn.request("GET", path)
            r = conn.getresponse()
            self.assertEqual((r.status, r.length), (200, SIZE))
            # Over TLS the reset shows as a reset or as an end before the
            # announced length, depending on when it arrives.
            try:
                r.read()
                self.fail("the cut answer ended in order")
            except http.client.IncompleteRead as e:
                self.assertEqual(e.partial, BLOB[:1000])
            except ConnectionResetError:
                pass
        finally:
            conn.close()
        r = self.server.request("GET", path, headers={"Range": "bytes=1000-"})
        self.assertEqual((r.status, r.body), (206, BLOB[1000:]))

    def test_stallat_sends_n_bytes_then_holds_the_connection_silent(self):
        path = "/t/%s/f/stallat=1000/files/blob.bin" % token()
        sockets = []
        try:
            # Every request stalls, the ranged one too, and both at once.
            for extra, wanted in (("", BLOB[:1000]), ("Range: bytes=5000-\r\n", BLOB[5000:6000])):
                s = socket.create_connection(("127.0.0.1", self.server.port), timeout=10)
                sockets.append((s, wanted))
                s.sendall(raw_request("GET", path, extra=extra))
            for s, wanted in sockets:
                received = b""
                while b"\r\n\r\n" not in received or len(received.partition(b"\r\n\r\n")[2]) < len(wanted):
                    chunk = s.recv(65536)
                    self.assertTrue(chunk, "closed before the stall")
                    received += chunk
                self.assertEqual(split_response(received)[2], wanted)
            start = time.monotonic()
            for s, _ in sockets:
                s.settimeout(max(0.1, start + 2.2 - time.monotonic()))
                with self.assertRaises(socket.timeout):
                    s.recv(65536)    # neither more bytes nor the end of the connection
            self.assertGreaterEqual(time.monotonic() - start, 2.0)
            # Meanwhile the service answers others.
            self.assertEqual(self.server.get("/files/blob.bin").body, BLOB)
        finally:
            for s, _ in sockets:
                s.close()
        ended = re.compile(r"stall of %s ended after [0-9.]+ s: the client closed" % re.escape(repr(path)))
        deadline = time.monotonic() + 5
        while len(ended.findall(self.server.log())) < 2 and time.monotonic() < deadline:
            time.sleep(0.05)
        log = self.server.log()
        self.assertEqual(len(ended.findall(log)), 2)
        for length in (SIZE, SIZE - 5000):
            self.assertIn("stalling %r after 1000 of %d bytes" % (path, length), log)

    def test_stallat_ends_after_its_time_limit(self):
        catalog = make_catalog()
        server = ServerProcess([catalog], with_certs=False, limits={"STALL_LIMIT": 1})
        try:
            with socket.create_connection(("127.0.0.1", server.port), timeout=10) as s:
                s.sendall(raw_request("GET", "/f/stallat=10/files/blob.bin"))
                start = time.monotonic()
                received = b""
                while True:
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    received += chunk
                elapsed = time.monotonic() - start
            self.assertEqual(split_response(received)[2], BLOB[:10])
            self.assertGreaterEqual(elapsed, 0.9)
            self.assertLess(elapsed, 8)
            self.assertIn("1 s passed", server.log())
        finally:
            server.stop()
            shutil.rmtree(catalog, True)

    def test_noranges_answers_every_request_with_the_whole_file(self):
        path = "/t/%s/f/noranges/files/blob.bin" % token()
        for headers in ({"Range": "bytes=100-"}, {"Range": "bytes=%d-" % SIZE}, {"Range": "bytes=5-9", "If-Range": "x"}):
            with self.subTest(headers=headers):
                r = self.server.get(path, headers=headers)
                self.assertEqual((r.status, r.body), (200, BLOB))
                self.assertIsNone(r.headers.getheader("Accept-Ranges"))
                self.assertIsNone(r.headers.getheader("Content-Range"))

    def test_changeat_cuts_once_then_serves_changed_content(self):
        scope = token()
        path = "/t/%s/f/changeat=5000/files/blob.bin" % scope
        plain = self.server.get("/files/blob.bin")
        received, error = exchange(self.server.port, raw_request("GET", path))
        self.assertIsInstance(error, ConnectionResetError)
        status, first, body = split_response(received)
        self.assertEqual((status, body), (200, BLOB[:5000]))
        self.assertEqual(first["etag"], plain.headers.getheader("ETag"))
        old_tag, old_date = first["etag"], first["last-modified"]

        # The resume that names the old version gets the whole changed file.
        r = self.server.get(path, headers={"Range": "bytes=5000-", "If-Range": old_tag})
        self.assertEqual(r.status, 200)
        self.assertEqual(r.body, changed(BLOB))
        new_tag = r.headers.getheader("ETag")
        self.assertNotEqual(new_tag, old_tag)
        self.assertTrue(re.fullmatch(r'"[^"]+"', new_tag), new_tag)
        self.assertNotEqual(r.headers.getheader("Last-Modified"), old_date)
        r = self.server.get(path, headers={"Range": "bytes=5000-", "If-Range": old_date})
        self.assertEqual((r.status, r.body), (200, changed(BLOB)))

        # Without If-Range, or naming the new version, the range of the changed file.
        for headers in ({"Range": "bytes=5000-"}, {"Range": "bytes=5000-", "If-Range": new_tag}):
            with self.subTest(headers=headers):
                r = self.server.get(path, headers=headers)
                self.assertEqual((r.status, r.headers.getheader("Content-Range")),
                                 (206, "bytes 5000-%d/%d" % (SIZE - 1, SIZE)))
                self.assertEqual(r.body, changed(BLOB)[5000:])
        head = self.server.request("HEAD", path, scheme="http")
        self.assertEqual(head.headers.getheader("ETag"), new_tag)
        self.assertEqual(self.server.get(path).body, changed(BLOB))
        # The file itself and other scopes are untouched.
        self.assertEqual(self.server.get("/files/blob.bin").headers.getheader("ETag"), old_tag)
        r = self.server.get("/t/%s/f/changeat=5000/files/blob.bin" % token(), headers={"Range": "bytes=0-9"})
        self.assertEqual((r.status, r.body, r.headers.getheader("ETag")), (206, BLOB[:10], old_tag))

    def test_mistyped_download_faults_are_refused(self):
        for faults in ("cutat=abc", "cutat=-1", "stallat=", "changeat=1.5", "cutat=1;changeat=2"):
            with self.subTest(faults=faults):
                r = self.server.get("/t/%s/f/%s/files/blob.bin" % (token(), faults))
                self.assertEqual(r.status, 400)
                self.assertIn(b"fault", r.body)


if __name__ == "__main__":
    unittest.main()
