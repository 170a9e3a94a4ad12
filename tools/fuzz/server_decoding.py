#!/usr/bin/env python3
"""Fuzzes the reference update service's request decoding in-process.

The same mutation kinds as the driver (fuzz.exe), deterministic from the seed,
on real requests: the updater's form bodies, the ClientStatus documents inside
them, request paths with their scopes and faults, and request heads with their
bodies. Each input goes through the server's own functions; only the errors
each function documents may come out of it.

  server_decoding.py [--iterations N] [--seed S] [--surface NAME] [--findings DIR] [--time-limit S]
  server_decoding.py --replay DIR     every file in DIR/<surface>/ through its surface

Exit codes as the driver's: 2 a broken check, 4 a hang, 5 an exception that no
documented error explains.
"""

import argparse
import http.client
import io
import os
import signal
import sys
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "update-server"))

import harness  # noqa: E402
import server  # noqa: E402
from vlrenova_service import signing  # noqa: E402  (harness put server/ on the path)

EXIT_CLEAN, EXIT_USAGE, EXIT_BROKEN, EXIT_HANG, EXIT_EXCEPTION = 0, 1, 2, 4, 5
MASK = (1 << 64) - 1
MAX_INPUT_BYTES = 16 * 1024
MAX_NESTING = 20000


class Broken(Exception):
    """A check on what a function gave back failed."""


class Hang(Exception):
    pass


# --- Random numbers and inputs, as prng.h and mutator.cpp make them -------------------

class Prng:
    def __init__(self, seed):
        self.state = seed & MASK

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & MASK
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        return z ^ (z >> 31)

    def below(self, bound):
        return 0 if bound == 0 else self.next() % bound

    def one_in(self, n):
        return self.below(n) == 0


def input_seed(run_seed, surface_id, index):
    mix = Prng(run_seed ^ ((surface_id * 0xD1B54A32D192ED03) & MASK))
    mix.next()
    return mix.next() ^ ((index * 0x9E3779B97F4A7C15) & MASK)


def surface_id(name):
    value = 0xCBF29CE484222325
    for byte in name.encode("utf-8"):
        value = ((value ^ byte) * 0x100000001B3) & MASK
    return value


INTERESTING = b"\0\xff\x80\x7f<>&\"'\\/ \t\r\n:;=%[]-+"
INVALID_UTF8 = [b"\xc0\x80", b"\xed\xa0\x80", b"\xf5\x80\x80\x80", b"\x80", b"\xe3\x81", b"\xff\xfe", b"\xf0\x9f\x98",
                b"\xef\xbb\xbf"]
CODE_PAGE_RUNS = [b"\x81\x40", b"\x83\x5c", b"\x82\xa0", b"\x8e\xa1", b"\xa4\xe4\xf6\xfc\xdf", b"\x80\x9f\xa0"]
HUGE_NUMBERS = [b"99999999999999999999999", b"2147483648", b"-2147483649", b"4294967296", b"65536", b"0", b"-0",
                b"+", b"1e999", b"nan", b"inf", b"0x7FFFFFFF", b"18446744073709551616"]
NESTING_TAGS = [b"<d>", b"<Informations>", b"<a b=\"c\">", b"<![CDATA[", b"<!--"]
NAME_BYTES = set(b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_:-.")


class Mutator:
    def __init__(self, seeds, words):
        self.seeds = seeds
        self.words = words

    def make(self, prng):
        data = bytearray(self.seeds[prng.below(len(self.seeds))])
        if prng.one_in(32):
            return bytes(data)
        for _ in range(1 + prng.below(4)):
            getattr(self, MUTATIONS[prng.below(len(MUTATIONS))])(data, prng)
        return bytes(data[:MAX_INPUT_BYTES])

    def insert(self, data, at, part):
        room = MAX_INPUT_BYTES - len(data)
        if room > 0:
            data[at:at] = part[:room]

    def bit_flip(self, data, prng):
        for _ in range(1 + prng.below(8)):
            if data:
                data[prng.below(len(data))] ^= 1 << prng.below(8)

    def insert_bytes(self, data, prng):
        part = bytes(prng.below(256) if prng.one_in(2) else INTERESTING[prng.below(len(INTERESTING))]
                     for _ in range(1 + prng.below(16)))
        self.insert(data, prng.below(len(data) + 1), part)

    def delete_bytes(self, data, prng):
        if data:
            at = prng.below(len(data))
            most = len(data) - at if prng.one_in(8) else min(len(data) - at, 16)
            del data[at:at + 1 + prng.below(most)]

    def splice(self, data, prng):
        other = self.seeds[prng.below(len(self.seeds))]
        data[prng.below(len(data) + 1):] = other[prng.below(len(other) + 1):]
        del data[MAX_INPUT_BYTES:]

    def duplicate_element(self, data, prng):
        starts = [i for i in range(len(data) - 1) if data[i] == 0x3C and data[i + 1] in NAME_BYTES]
        if not starts:
            return self.repeat_chunk(data, prng)
        start = starts[prng.below(len(starts))]
        gt = data.find(b">", start)
        if gt < 0:
            return self.repeat_chunk(data, prng)
        end = start + 1
        while end < len(data) and data[end] in NAME_BYTES:
            end += 1
        closing = b"</" + bytes(data[start + 1:end]) + b">"
        close = -1 if data[gt - 1] == 0x2F else data.find(closing, gt)
        stop = gt + 1 if close < 0 else close + len(closing)
        self.insert(data, stop, bytes(data[start:stop]) * (1 + prng.below(200 if prng.one_in(8) else 3)))

    def duplicate_attribute(self, data, prng):
        found = []
        for i in range(1, len(data) - 1):
            if data[i] == 0x3D and data[i + 1] in b"\"'":
                start = i
                while start > 0 and data[start - 1] in NAME_BYTES:
                    start -= 1
                close = data.find(data[i + 1:i + 2], i + 2)
                if start != i and start > 0 and close >= 0:
                    found.append((start - 1, close + 1))
        if not found:
            return self.dictionary_word(data, prng)
        start, end = found[prng.below(len(found))]
        self.insert(data, end, bytes(data[start:end]) * (1 + prng.below(200 if prng.one_in(8) else 3)))

    def deep_nesting(self, data, prng):
        tag = NESTING_TAGS[prng.below(len(NESTING_TAGS))]
        depth = 1 + prng.below(MAX_NESTING if prng.one_in(4) else 300)
        opening = tag * min(depth, MAX_INPUT_BYTES // 2 // len(tag))
        at = prng.below(len(data) + 1)
        self.insert(data, at, opening)
        if prng.one_in(2) and not tag.startswith(b"<!"):
            name = tag[1:].split(b" ")[0].rstrip(b">")
            after = at + len(opening)
            self.insert(data, after + prng.below(max(len(data) - after, 0) + 1),
                        (b"</" + name + b">") * (len(opening) // len(tag)))

    def huge_value(self, data, prng):
        if prng.one_in(2):
            fill = b"9aA &<\"\\ x;:/%"[prng.below(14)]
            self.insert(data, prng.below(len(data) + 1),
                        bytes([fill]) * (1 + prng.below(MAX_INPUT_BYTES if prng.one_in(4) else 600)))
            return
        number = HUGE_NUMBERS[prng.below(len(HUGE_NUMBERS))]
        start = prng.below(len(data) + 1)
        digit = next((i for i in range(start, len(data)) if 0x30 <= data[i] <= 0x39), -1)
        if digit < 0:
            return self.insert(data, prng.below(len(data) + 1), number)
        end = digit
        while end < len(data) and 0x30 <= data[end] <= 0x39:
            end += 1
        data[digit:end] = number

    def nul_bytes(self, data, prng):
        if data and prng.one_in(2):
            data[prng.below(len(data))] = 0
        else:
            self.insert(data, prng.below(len(data) + 1), b"\0" * (1 + prng.below(8)))

    def invalid_utf8(self, data, prng):
        self.insert(data, prng.below(len(data) + 1), INVALID_UTF8[prng.below(len(INVALID_UTF8))])

    def code_page_bytes(self, data, prng):
        if prng.one_in(2):
            self.insert(data, prng.below(len(data) + 1), CODE_PAGE_RUNS[prng.below(len(CODE_PAGE_RUNS))])
        elif data:
            data[prng.below(len(data))] = 0x80 + prng.below(0x80)

    def dictionary_word(self, data, prng):
        word = self.words[prng.below(len(self.words))]
        at = prng.below(len(data) + 1)
        if prng.one_in(2):
            del data[at:at + prng.below(len(word) + 1)]
        self.insert(data, at, word)

    def repeat_chunk(self, data, prng):
        if data:
            start = prng.below(len(data))
            chunk = bytes(data[start:start + 1 + prng.below(min(len(data) - start, 256))])
            self.insert(data, prng.below(len(data) + 1), chunk * (1 + prng.below(64 if prng.one_in(8) else 2)))


MUTATIONS = ["bit_flip", "insert_bytes", "delete_bytes", "splice", "duplicate_element", "duplicate_attribute",
             "deep_nesting", "huge_value", "nul_bytes", "invalid_utf8", "code_page_bytes", "dictionary_word",
             "repeat_chunk"]


# --- The surfaces -------------------------------------------------------------------

CATALOG = server.Catalog([harness.TEST_CATALOG, harness.SAMPLE_CATALOG])
DIGESTS = signing.DigestCache()
REPLACEMENTS = {"{server}": "https://localhost:8443", "{scope}": "/t/abc"}

CLIENT_STATUS_SEEDS = [harness.client_status(name, version, installing).encode("latin-1")
                       for name, version, installing in (("Renova Test Product", "3.0.0", False),
                                                         ("Renova Test Product", "3.1.0", False),
                                                         ("Sample Product", "1.0", True),
                                                         ("Pr\u00fcfer", "1.0", False))]
REPORT_SEEDS = [b"<UpdateStatus>\n    <Version>9.4.10</Version>\n    <Status>-1</Status>\n</UpdateStatus>\n",
                b"<UpgradeOfferStatus>\n    <ProgramName>Sample Product</ProgramName>\n</UpgradeOfferStatus>\n"]
DOCUMENT_WORDS = [b"<ProgramName>Renova Test Product</ProgramName>", b"<ProgramVersionNumber>",
                  b"</ProgramVersionNumber>", b"<GetLatestSetupFile>True</GetLatestSetupFile>", b"<Informations>",
                  b"</Informations>", b"<Parameters>", b"&amp;", b"&#0;", b"&#x10FFFF;",
                  b"<!DOCTYPE a [<!ENTITY e \"x\">]>", b"&e;", b"<![CDATA[", b"]]>", b"\xd9\xa3", b"\xef\xbc\x99", b"."]


def form_bodies():
    bodies = [harness.form_body("clientStatusXML", s.decode("latin-1")) for s in CLIENT_STATUS_SEEDS]
    bodies += [harness.form_body("UpdateStatusXML", s.decode("latin-1")) for s in REPORT_SEEDS]
    bodies.append(b"other=1&clientStatusXML=" + harness.client_encode(harness.client_encode("<a/>")).encode("ascii"))
    return bodies


def check_decoded(decoded):
    if not isinstance(decoded, tuple) or len(decoded) != 4:
        raise Broken("decode_form_body gave %r" % (decoded,))
    name, text, root, error = decoded
    if (error is None) != (root is not None):
        raise Broken("an error and a document at once, or neither")
    if error is None and not isinstance(text, str):
        raise Broken("a document without its text")
    if root is not None:
        answer = server.answer_text_for(root, CATALOG, REPLACEMENTS, DIGESTS)
        if not isinstance(answer, str):
            raise Broken("answer_text_for gave %r" % (answer,))
    return root is not None


def feed_form_body(data):
    return check_decoded(server.decode_form_body(data, "clientStatusXML"))


def feed_client_status(data):
    # The document as the updater sends it: its characters encoded twice.
    return check_decoded(server.decode_form_body(harness.form_body("clientStatusXML", data.decode("latin-1")),
                                                 "clientStatusXML"))


PATH_SEEDS = [b"/t/abc/f/status=500;delay=0.01/Renova/VLRNWebservice.asmx/GetClientUpdate",
              b"/t/abc/f/text=PEluc3RydWN0aW9uPjxVcGRhdGVJZD4xPC9VcGRhdGVJZD48L0luc3RydWN0aW9uPg/Renova/"
              b"VLRNWebservice.asmx/GetClientUpdate",
              b"/t/abc/f/raw=bm90IHhtbA==/Renova/VLRNWebservice.asmx/ReportUpdateStatus",
              b"/t/abc/f/huge=100000/f/truncate/Renova/VLRNWebservice.asmx/GetClientUpdate",
              b"/f/deep=64;signwith=1;flipsig/Renova/VLRNWebservice.asmx/GetClientUpdate",
              b"/f/nul=16/t/x%2Fy/files/test/data/extra.txt", b"/t/abc/files/test/payload.txt",
              b"/Renova/Banner/banner_1031.bmp", b"/_records/abc/0/xml", b"/_records/abc/count"]
PATH_WORDS = [b"/f/", b"/t/", b"status=", b"delay=", b"drop", b"truncate", b"huge=", b"deep=", b"nul=", b"text=",
              b"raw=", b"signwith=", b"unsigned", b"badsig", b";", b"%2F", b"%00", b"/files/", b"/../", b"/Banner/",
              b"VLRNWebservice.asmx/", b"1e999", b"nan", b"-1"]


class RecordsReader:
    """What records_answer needs of a request handler: the server's recorder."""

    records_answer = server.Handler.records_answer

    def __init__(self):
        self.server = RECORDS_SERVER


RECORDS_SERVER = type("RecordsServer", (), {"recorder": server.Recorder(None)})()
RECORDS_SERVER.recorder.add({"token": "abc", "method": "GetClientUpdate", "xml": "<a/>", "faults": ["drop"]})


def feed_request_path(data):
    path = data.decode("latin-1")
    kind, prefix, rest = server.route(path)
    token, fault_texts = server.parse_prefix(prefix)
    if token is not None and not isinstance(token, str):
        raise Broken("a token that is no text")
    records = server.RECORDS_RE.match(path)
    if records and not isinstance(RecordsReader().records_answer(records), server.Answer):
        raise Broken("records_answer gave no answer")
    if kind in ("files", "banner"):
        CATALOG.locate("files" if kind == "files" else "banners", server.urllib.parse.unquote(rest))
    try:
        faults = server.parse_faults(fault_texts)
        # As dispatch reads them; huge, deep and nul bodies are made lazily, so nothing big is built here.
        if "delay" in faults:
            server.number(faults, "delay", kind=float, high=3600)
        body = server.fault_body(faults)
        if "status" in faults:
            server.number(faults, "status", low=200, high=599)
        if "signwith" in faults:
            server.number(faults, "signwith", low=0, high=2)
        if body is not None and body.blocks is None and body.length != len(body.body):
            raise Broken("a fault body whose length is not its size")
    except server.FaultError:
        return False
    return True


HEAD_SEEDS = [b"POST /Renova/VLRNWebservice.asmx/GetClientUpdate HTTP/1.1\r\nHost: localhost\r\n"
              b"Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 20\r\n\r\nclientStatusXML=%253ca",
              b"POST /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6;ext=1\r\n world\r\n0\r\n"
              b"Trailer: x\r\n\r\n",
              b"GET /files/test/payload.txt HTTP/1.1\r\nHost: localhost:8443\r\n\r\n"]
HEAD_WORDS = [b"Content-Length: ", b"Transfer-Encoding: chunked\r\n", b"\r\n", b"\r\n\r\n", b"-1", b"ffffffff", b";"]


class BodyReader:
    """What read_body needs of a request handler: its headers and its input stream."""

    read_body = server.Handler.read_body

    def __init__(self, headers, rfile):
        self.headers = headers
        self.rfile = rfile


def feed_request_body(data):
    head, _, rest = data.partition(b"\r\n")
    stream = io.BytesIO(rest)
    try:
        headers = http.client.parse_headers(stream)
    except http.client.HTTPException:
        return False  # the standard library's request parsing refuses these before the server sees them
    try:
        body = BodyReader(headers, stream).read_body()
    except ValueError:
        return False  # dispatch answers 400 for these
    if not isinstance(body, bytes):
        raise Broken("read_body gave %r" % (body,))
    return True


SURFACES = {
    "server_form_body": (form_bodies(), [b"&", b"=", b"%25", b"%2b", b"%253c", b"%2520ac", b"%25153", b"+",
                                         b"clientStatusXML="], feed_form_body),
    "server_client_status": (CLIENT_STATUS_SEEDS + REPORT_SEEDS, DOCUMENT_WORDS, feed_client_status),
    "server_request_path": (PATH_SEEDS, PATH_WORDS, feed_request_path),
    "server_request_body": (HEAD_SEEDS, HEAD_WORDS, feed_request_body),
}


# --- The driver ---------------------------------------------------------------------

class Run:
    def __init__(self, findings, time_limit):
        self.findings = findings
        self.time_limit = time_limit
        self.current = None  # (surface, seed, index, data)
        signal.signal(signal.SIGALRM, self.on_alarm)

    def keep(self, kind, what, code):
        surface, seed, index, data = self.current
        os.makedirs(self.findings, exist_ok=True)
        base = os.path.join(self.findings, "%s-seed%d-input%d-%s" % (surface, seed, index, kind))
        with open(base + ".bin", "wb") as f:
            f.write(data)
        with open(base + ".txt", "w", encoding="utf-8") as f:
            f.write("%s %s: %s\n" % (surface, kind, what))
        print("server_decoding: %s on %s input %d (seed %d): %s; kept as %s.bin"
              % (kind, surface, index, seed, what.strip().splitlines()[-1], base), flush=True)
        sys.exit(code)

    def on_alarm(self, *_):
        raise Hang()

    def feed(self, surface, seed, index, data):
        self.current = (surface, seed, index, data)
        signal.setitimer(signal.ITIMER_REAL, self.time_limit)
        try:
            return SURFACES[surface][2](data)
        except Hang:
            self.keep("hang", "over %g s on one input" % self.time_limit, EXIT_HANG)
        except Broken as e:
            self.keep("invariant", str(e), EXIT_BROKEN)
        except Exception:
            self.keep("exception", traceback.format_exc(), EXIT_EXCEPTION)
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--iterations", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--surface", choices=sorted(SURFACES))
    parser.add_argument("--findings", default="fuzz-findings")
    parser.add_argument("--time-limit", type=float, default=10.0)
    parser.add_argument("--replay", metavar="DIR")
    args = parser.parse_args(argv)
    run = Run(args.findings, args.time_limit)
    names = [args.surface] if args.surface else list(SURFACES)

    if args.replay:
        total = 0
        for name in names:
            folder = os.path.join(args.replay, name)
            files = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
            for index, file_name in enumerate(files):
                with open(os.path.join(folder, file_name), "rb") as f:
                    run.feed(name, 0, index, f.read())
            print("server_decoding: replayed %d inputs of %s" % (len(files), name))
            total += len(files)
        print("server_decoding: replayed %d inputs, every check held" % total)
        return EXIT_CLEAN

    for name in names:
        seeds, words, _ = SURFACES[name]
        mutator = Mutator(seeds, words)
        ident = surface_id(name)
        deep = 0
        start = time.perf_counter()
        for index in range(args.iterations):
            deep += bool(run.feed(name, args.seed, index, mutator.make(Prng(input_seed(args.seed, ident, index)))))
        elapsed = time.perf_counter() - start
        print("server_decoding: %-21s %9d inputs %8.2f s %9.0f inputs/s   %5.1f%% went deep"
              % (name, args.iterations, elapsed, args.iterations / elapsed if elapsed else 0,
                 100.0 * deep / args.iterations if args.iterations else 0), flush=True)
    return EXIT_CLEAN


if __name__ == "__main__":
    sys.exit(main())
