"""Who is in a staged rollout: the pure function the service decides it with."""

import os
import random
import subprocess
import unittest
import uuid
from unittest import mock

import support  # noqa: F401  (puts the service's package on the path)
from vlrenova_service import rollout
from vlrenova_service.rollout import in_rollout, rollout_position

PYTHON = support.PYTHON
STEPS = (10, 25, 50, 100)


def fleet(count, seed):
    """count random machine GUIDs, the same ones for the same seed."""
    rng = random.Random(seed)
    return [str(uuid.UUID(int=rng.getrandbits(128), version=4)) for _ in range(count)]


def offered(guids, update_id, percent):
    return {g for g in guids if in_rollout(g, update_id, percent)}


class Positions(unittest.TestCase):
    def test_a_position_is_in_range_and_the_same_each_time(self):
        for guid in fleet(10_000, seed=1):
            position = rollout_position(guid, 101)
            self.assertGreaterEqual(position, 0)
            self.assertLess(position, 100)
            self.assertEqual(position, rollout_position(guid, 101))

    def test_a_position_is_the_same_in_another_process(self):
        # Another interpreter with another string hash seed: nothing may depend
        # on the process, or machines would move between the service's workers.
        guids = fleet(50, seed=2)
        script = ("import sys; sys.path.insert(0, %r)\n"
                  "from vlrenova_service.rollout import rollout_position\n"
                  "for g in %r: print(repr(rollout_position(g, 7)))\n") % (support.SERVER_DIR, guids)
        done = subprocess.run([PYTHON, "-B", "-c", script], stdout=subprocess.PIPE, text=True, check=True,
                              env=dict(os.environ, PYTHONHASHSEED="12345"), timeout=60)
        self.assertEqual(done.stdout.split(), [repr(rollout_position(g, 7)) for g in guids])

    def test_the_guid_is_taken_without_case_braces_or_blanks(self):
        for guid in fleet(200, seed=3):
            plain = rollout_position(guid, 55)
            for written in (guid.upper(), "{%s}" % guid, "{%s}" % guid.upper(), "  {%s}\t" % guid.title()):
                self.assertEqual(rollout_position(written, 55), plain, written)

    def test_the_extreme_digests_stay_in_range(self):
        # A narrow seam: no GUID is known whose hash is all ones or all zeros,
        # so the hash is replaced to reach both ends of the scale. A position
        # rounded up to 100 would leave a machine out of a 100 % rollout.
        for byte, at_zero in ((0xFF, False), (0x00, True)):
            digest = bytes([byte]) * 32
            fake = mock.Mock()
            fake.sha256.return_value.digest.return_value = digest
            with mock.patch.object(rollout, "hashlib", fake):
                position = rollout_position("15604575-f551-4ffc-9edf-4c5c3e2c3c50", 1)
                self.assertTrue(in_rollout("15604575-f551-4ffc-9edf-4c5c3e2c3c50", 1, 100))
                self.assertFalse(in_rollout("15604575-f551-4ffc-9edf-4c5c3e2c3c50", 1, 0))
            self.assertGreaterEqual(position, 0)
            self.assertLess(position, 100)
            self.assertEqual(position == 0, at_zero)


class Rollout(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.guids = fleet(10_000, seed=4)

    def test_raising_the_percentage_only_adds_machines(self):
        before = set()
        for percent in STEPS:
            now = offered(self.guids, 101, percent)
            self.assertLessEqual(before, now, "raising to %d %% dropped machines" % percent)
            self.assertGreater(len(now), len(before))
            before = now
        self.assertEqual(before, set(self.guids))

    def test_nobody_at_0_and_everybody_at_100(self):
        for update_id in (1, 101, 0x7FFFFFFF):
            self.assertEqual(offered(self.guids, update_id, 0), set())
            self.assertEqual(offered(self.guids, update_id, 100), set(self.guids))

    def test_each_offer_orders_the_fleet_anew(self):
        # Independent orders share about a tenth of a 10 % set; the same order
        # (the first machines always first) would share all of it.
        first = offered(self.guids, 101, 10)
        for other_id in (102, 201, 1101):
            other = offered(self.guids, other_id, 10)
            shared = len(first & other)
            expected = len(first) * len(other) / len(self.guids)
            self.assertLess(abs(shared - expected), 5 * expected ** 0.5 + 1,
                            "UpdateId 101 and %d share %d of %d machines" % (other_id, shared, len(first)))

    def test_the_share_offered_is_the_percentage(self):
        guids = fleet(100_000, seed=5)
        for update_id in (101, 4711):
            positions = [rollout_position(g, update_id) for g in guids]
            for percent in (1, 10, 12.5, 30, 50, 90, 99):
                share = 100 * sum(p < percent for p in positions) / len(positions)
                # Five standard deviations of a fair draw, at most 0.8 of a point.
                bound = 5 * 100 * ((percent / 100) * (1 - percent / 100) / len(positions)) ** 0.5
                self.assertLess(abs(share - percent), min(bound, 1.0),
                                "UpdateId %d at %g %%: %.3f %% offered" % (update_id, percent, share))


if __name__ == "__main__":
    unittest.main()
