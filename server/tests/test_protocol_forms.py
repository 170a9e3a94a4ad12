"""The updater's form encoding as the service reads it: both levels, the wide
escapes of the document level, and the escapes it refuses."""

import unittest

import support  # noqa: F401  (puts the service's package on the path)
from vlrenova_service.protocol import DecodeError, decode_form_body, form_body, form_decode, form_encode


def read_back(document):
    return form_decode(form_decode(form_encode(form_encode(document)), wide=False), wide=True)


class FormDecodingTest(unittest.TestCase):
    def test_the_worked_example_of_the_protocol_notes(self):
        body = form_body("clientStatusXML", "<A>x y</A>")
        self.assertEqual(body, b"clientStatusXML=%253cA%253ex%2by%253c%252fA%253e")
        argument, text, root, error = decode_form_body(body, "clientStatusXML")
        self.assertEqual((argument, text, error), ("clientStatusXML", "<A>x y</A>", None))
        self.assertEqual((root.tag, root.text), ("A", "x y"))

    def test_every_character_the_rule_can_tell_comes_back(self):
        # Two-digit escapes, U+01xx and U+20xx, each followed by hex letters
        # and a digit, where a reader taking too many or too few digits errs.
        characters = [chr(c) for c in range(0x20, 0x7F)] + [chr(c) for c in range(0x80, 0x200)] + \
                     [chr(c) for c in range(0x2000, 0x2100)]
        for c in characters:
            document = "<a>%sab1%s</a>" % (c, c)
            self.assertEqual(read_back(document), document, "U+%04X" % ord(c))

    def test_the_document_level_reads_three_and_four_digits_the_outer_level_two(self):
        self.assertEqual(form_decode("%20ac", wide=True), "\u20ac")
        self.assertEqual(form_decode("%20ac", wide=False), " ac")
        self.assertEqual(form_decode("%1e4", wide=True), "\u01e4")
        self.assertEqual(form_decode("%1e4", wide=False), "\x1e4")
        self.assertEqual(form_decode("%e4x%20", wide=True), "\u00e4x ")
        self.assertEqual(form_decode("%20a", wide=True), " a")
        self.assertEqual(form_decode("%1ag", wide=True), "\x1ag")
        self.assertEqual(form_decode("a+b%2bc", wide=False), "a b+c")
        # The outer level as the updater writes it escapes only "%" and "+".
        self.assertEqual(form_decode("%252b%2B+%2525x", wide=False), "%2b+ %25x")
        self.assertEqual(form_decode("%252b%2B+%2525x%3c", wide=False), "%2b+ %25x<")

    def test_a_broken_escape_is_refused_with_its_place(self):
        cases = [("ab%zz", "'%zz' at offset 2"), ("x%4", "'%4' at offset 1"), ("+%", "'%' at offset 1"),
                 ("%41+%g1", "'%g1' at offset 4"), ("%2%41", "'%2%' at offset 0")]
        for text, where in cases:
            for wide in (False, True):
                with self.assertRaises(DecodeError, msg=text) as caught:
                    form_decode(text, wide)
                self.assertEqual(str(caught.exception), "bad escape " + where)
        argument, text, root, error = decode_form_body(b"clientStatusXML=%253cA%25", "clientStatusXML")
        self.assertEqual((argument, text, root), ("clientStatusXML", None, None))
        self.assertEqual(error, "form decoding: bad escape '%' at offset 4")


if __name__ == "__main__":
    unittest.main()
