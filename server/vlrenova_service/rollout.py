"""Who is in a staged rollout: a pure function of the machine and the offer."""

import hashlib

# A machine's place in an offer's rollout, in [0, 100), to this many steps:
# the 53 bits a float holds, so that the last step stays below 100 (64 bits
# would round the top ones up to 100.0, out of a 100 % rollout).
_BITS = 53
_SCALE = 1 << _BITS


def rollout_position(machine_guid, update_id):
    """Where the machine stands in the offer's rollout, in [0, 100).

    A stable hash of both, so a machine keeps its place between checks and on
    every host, raising the percentage only adds machines, and each offer
    orders the fleet anew (the same machines are not always the first). The
    GUID is taken without case or surrounding blanks or braces, as Windows
    writes it in several ways.
    """
    guid = machine_guid.strip().strip("{}").lower()
    digest = hashlib.sha256(("%s/%d" % (guid, update_id)).encode("utf-8")).digest()
    return (int.from_bytes(digest[:8], "big") >> (64 - _BITS)) * 100 / _SCALE


def in_rollout(machine_guid, update_id, percent):
    return rollout_position(machine_guid, update_id) < percent
