"""The service's fuzzer: the driver's random numbers, inputs made again from
their seed, the size limit, seeds every surface accepts, and a finding kept
with its input when a surface breaks."""

import os
import tempfile
import unittest
from unittest import mock

import server_decoding as fuzz


class PrngTests(unittest.TestCase):
    def test_the_numbers_are_splitmix64s_as_the_driver_draws_them(self):
        # splitmix64's published first outputs for the seeds 0 and 1234567.
        self.assertEqual(fuzz.Prng(0).next(), 0xE220A8397B1DCDAF)
        prng = fuzz.Prng(1234567)
        self.assertEqual([prng.next() for _ in range(3)],
                         [6457827717110365317, 3203168211198807973, 9817491932198370423])

    def test_an_input_is_made_again_from_its_seed_alone(self):
        seeds, words, _ = fuzz.SURFACES["server_client_status"]
        mutator = fuzz.Mutator(seeds, words)
        ident = fuzz.surface_id("server_client_status")
        first = [mutator.make(fuzz.Prng(fuzz.input_seed(5, ident, i))) for i in range(100)]
        again = [mutator.make(fuzz.Prng(fuzz.input_seed(5, ident, i))) for i in reversed(range(100))]
        self.assertEqual(first, list(reversed(again)))
        self.assertGreater(len(set(first)), 80)
        self.assertNotEqual(fuzz.input_seed(5, ident, 0), fuzz.input_seed(6, ident, 0))

    def test_no_mutation_grows_an_input_beyond_the_limit(self):
        mutator = fuzz.Mutator([b"<r a=\"1\"><c>123</c></r>", b"<" * fuzz.MAX_INPUT_BYTES], [b"w" * 1000])
        for name in fuzz.MUTATIONS:
            for round_ in range(50):
                data = bytearray(mutator.seeds[round_ % 2])
                getattr(mutator, name)(data, fuzz.Prng(round_))
                self.assertLessEqual(len(data), fuzz.MAX_INPUT_BYTES, name)

    def test_structural_mutations_repeat_elements_and_attributes(self):
        mutator = fuzz.Mutator([b"x"], [b"w"])
        for round_ in range(20):
            element = bytearray(b"<only>text</only> tail")
            mutator.duplicate_element(element, fuzz.Prng(round_))
            self.assertTrue(element.startswith(b"<only>text</only><only>text</only>"), element)
            attribute = bytearray(b"<a x=\"1\"/>")
            mutator.duplicate_attribute(attribute, fuzz.Prng(round_))
            self.assertTrue(attribute.startswith(b"<a x=\"1\" x=\"1\""), attribute)


    def test_byte_mutations_bring_zeros_invalid_utf8_code_page_bytes_and_the_surfaces_words(self):
        mutator = fuzz.Mutator([b"x"], [b"status="])
        ascii_text = b"<a b=\"c\">plain ascii text</a>"
        for round_ in range(30):
            prng = fuzz.Prng(round_)
            zeros = bytearray(ascii_text)
            mutator.nul_bytes(zeros, prng)
            self.assertIn(0, zeros)
            invalid = bytearray(ascii_text)
            mutator.invalid_utf8(invalid, prng)
            if b"\xef\xbb\xbf" not in invalid:  # the byte order mark is valid, but no ASCII either
                self.assertRaises(UnicodeDecodeError, bytes(invalid).decode, "utf-8")
            code_page = bytearray(ascii_text)
            mutator.code_page_bytes(code_page, prng)
            self.assertTrue(any(b > 0x7F for b in code_page))
            flipped = bytearray(ascii_text)
            mutator.bit_flip(flipped, prng)
            self.assertEqual(len(flipped), len(ascii_text))
            self.assertNotEqual(bytes(flipped), ascii_text)
            worded = bytearray(ascii_text)
            mutator.dictionary_word(worded, prng)
            self.assertIn(b"status=", worded)


class SurfaceTests(unittest.TestCase):
    def setUp(self):
        self.findings = tempfile.mkdtemp(prefix="fuzz-findings.")
        self.run = fuzz.Run(self.findings, 10)

    def test_every_surface_accepts_its_seeds_and_most_get_past_the_decoding(self):
        for name, (seeds, _, feed) in fuzz.SURFACES.items():
            with self.subTest(surface=name):
                deep = [self.run.feed(name, 1, i, seed) for i, seed in enumerate(seeds)]
                self.assertGreater(sum(deep), len(seeds) // 2)
        self.assertEqual(os.listdir(self.findings), [])

    def test_an_exception_the_function_does_not_document_is_kept_with_its_input(self):
        with mock.patch.object(fuzz.server, "parse_faults", side_effect=KeyError("planted")):
            with self.assertRaises(SystemExit) as ended:
                self.run.feed("server_request_path", 7, 3, b"/f/drop/x")
        self.assertEqual(ended.exception.code, fuzz.EXIT_EXCEPTION)
        with open(os.path.join(self.findings, "server_request_path-seed7-input3-exception.bin"), "rb") as f:
            self.assertEqual(f.read(), b"/f/drop/x")
        with open(os.path.join(self.findings, "server_request_path-seed7-input3-exception.txt")) as f:
            self.assertIn("planted", f.read())

    def test_a_documented_error_is_a_result_and_a_wrong_answer_is_a_broken_check(self):
        self.assertFalse(self.run.feed("server_request_path", 1, 0, b"/f/nosuchfault/files/x"))
        with mock.patch.object(fuzz.server, "decode_form_body", return_value=("a", None, None)):
            with self.assertRaises(SystemExit) as ended:
                self.run.feed("server_form_body", 1, 1, b"a=b")
        self.assertEqual(ended.exception.code, fuzz.EXIT_BROKEN)

    def test_replay_feeds_every_file_of_each_surface_folder_and_only_those(self):
        folder = tempfile.mkdtemp(prefix="fuzz-replay.")
        for surface, name, data in (("server_request_path", "a.bin", b"/f/drop/x"),
                                    ("server_request_path", "b.bin", b"/_records/abc/count"),
                                    ("server_request_body", "c.bin", b"GET / HTTP/1.1\r\n\r\n"),
                                    ("no_such_surface", "d.bin", b"never read")):
            os.makedirs(os.path.join(folder, surface), exist_ok=True)
            with open(os.path.join(folder, surface, name), "wb") as f:
                f.write(data)
        fed = []
        original = fuzz.Run.feed
        with mock.patch.object(fuzz.Run, "feed", autospec=True,
                               side_effect=lambda run, *args: fed.append(args[:2] + args[3:]) or original(run, *args)):
            self.assertEqual(fuzz.main(["--replay", folder, "--findings", self.findings]), fuzz.EXIT_CLEAN)
        self.assertEqual(fed, [("server_request_path", 0, b"/f/drop/x"),
                               ("server_request_path", 0, b"/_records/abc/count"),
                               ("server_request_body", 0, b"GET / HTTP/1.1\r\n\r\n")])

    def test_an_input_over_the_time_limit_is_a_hang(self):
        run = fuzz.Run(self.findings, 0.2)
        with mock.patch.object(fuzz.server, "route", side_effect=lambda path: fuzz.time.sleep(5)):
            with self.assertRaises(SystemExit) as ended:
                run.feed("server_request_path", 2, 9, b"/slow")
        self.assertEqual(ended.exception.code, fuzz.EXIT_HANG)
        self.assertTrue(os.path.exists(os.path.join(self.findings, "server_request_path-seed2-input9-hang.bin")))


if __name__ == "__main__":
    unittest.main()
