"""Answers signed in the process: every answer carries a signature over its own
text that the key's public half accepts, a text signed lately is answered
with the same bytes, and what is kept for that stays bounded."""

import base64
import os
import tempfile
import unittest
import xml.etree.ElementTree as ET

import support  # noqa: F401  (puts the service's package on the path)
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from vlrenova_service import signing
from vlrenova_service.protocol import expiry_time, nothing_offered


def make_key(folder):
    private = ec.generate_private_key(ec.SECP256R1())
    path = os.path.join(folder, "key.pem")
    with open(path, "wb") as f:
        f.write(private.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                      serialization.NoEncryption()))
    return signing.SigningKey(path), private.public_key()


def signature_and_text(answer):
    root = ET.fromstring(answer)
    return base64.b64decode(root.get("Signature")), root.text, root.get("SignatureKey")


class SignedAnswersTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="vlrn-signing.")
        self.key, self.public = make_key(self.folder)

    def assert_signed(self, answer, text):
        signature, carried, key_id = signature_and_text(answer)
        self.assertEqual((carried, key_id), (text, self.key.id))
        # Raises InvalidSignature when the signature is not over this text.
        self.public.verify(signature, signing.signed_bytes(carried), ec.ECDSA(hashes.SHA256()))

    def test_the_same_text_gets_the_same_signed_answer_and_another_text_its_own(self):
        expires = expiry_time(3600)
        first = nothing_offered("Velbor Demo", expires)
        second = nothing_offered("Velbor Other", expires)
        answer = signing.signed_answer(first, self.key)
        self.assert_signed(answer, first)
        self.assertEqual(signing.signed_answer(first, self.key), answer)
        other = signing.signed_answer(second, self.key)
        self.assert_signed(other, second)
        self.assertNotEqual(signature_and_text(other)[0], signature_and_text(answer)[0])

    def test_many_texts_are_each_signed_and_the_kept_answers_stay_few(self):
        texts = [nothing_offered("Product %d" % n, expiry_time(3600)) for n in range(3 * signing.RECENT_ANSWERS)]
        for text in texts + texts[:5]:
            self.assert_signed(signing.signed_answer(text, self.key), text)
        self.assertLessEqual(len(self.key._recent), signing.RECENT_ANSWERS)

    def test_a_large_answer_is_signed_each_time_and_not_kept(self):
        text = nothing_offered("x" * signing.MAX_KEPT_ANSWER, expiry_time(3600))
        first = signing.signed_answer(text, self.key)
        second = signing.signed_answer(text, self.key)
        self.assert_signed(first, text)
        self.assert_signed(second, text)
        # ECDSA signs with a random nonce: two signings differ.
        self.assertNotEqual(first, second)


if __name__ == "__main__":
    unittest.main()
