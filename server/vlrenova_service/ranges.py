"""Byte ranges of served files, so that a download that broke off goes on
from where it stopped."""

import email.utils
import re
from datetime import timezone

# One range of bytes: "bytes=N-", "bytes=N-M" or "bytes=-K" (the last K bytes).
RANGE_RE = re.compile(r"bytes[ \t]*=[ \t]*(?:([0-9]+)[ \t]*-[ \t]*([0-9]*)|-[ \t]*([0-9]+))[ \t]*",
                      re.IGNORECASE)
UNSATISFIABLE = "unsatisfiable"


def _position(digits):
    # A client may send thousands of digits, which int() refuses; any such
    # number lies beyond every file.
    digits = digits.lstrip("0") or "0"
    return int(digits) if len(digits) <= 30 else 1 << 100


def byte_range(value, size):
    """(first, last), both inclusive, of a Range header value for a body of size
    bytes; UNSATISFIABLE; or None when the header is to be ignored (malformed,
    several ranges, another unit)."""
    m = RANGE_RE.fullmatch(value.strip())
    if not m:
        return None
    if m.group(3) is not None:
        suffix = _position(m.group(3))
        if suffix == 0 or size == 0:
            return UNSATISFIABLE
        return max(0, size - suffix), size - 1
    first = _position(m.group(1))
    last = _position(m.group(2)) if m.group(2) else None
    if last is not None and last < first:
        return None
    if first >= size:
        return UNSATISFIABLE
    return first, size - 1 if last is None else min(last, size - 1)


def if_range_matches(value, etag, modified):
    """Whether an If-Range value names the version served: the same strong tag, or
    an HTTP date equal to its Last-Modified. A weak tag never matches."""
    value = value.strip()
    if value.startswith(('"', "W/")):
        return value == etag
    try:
        when = email.utils.parsedate_to_datetime(value)
    except (TypeError, ValueError, IndexError, OverflowError):
        return False
    if when is None:
        return False
    if when.tzinfo is None:
        when = when.replace(tzinfo=timezone.utc)
    return when.timestamp() == modified


def served_range(range_value, if_range, etag, modified, size):
    """(status, first, last) of a file's answer: 200 and the whole file, 206 and
    the one range asked for (unless If-Range names another version), or 416
    with first and last None."""
    if range_value is not None and (if_range is None or if_range_matches(if_range, etag, modified)):
        wanted = byte_range(range_value, size)
        if wanted == UNSATISFIABLE:
            return 416, None, None
        if wanted is not None:
            return 206, wanted[0], wanted[1]
    return 200, 0, size - 1


def file_blocks(path, first, length, table=None, block=64 * 1024):
    """length bytes of the file from first on, in blocks, each translated by
    table when one is given; fewer when the file has shrunk meanwhile."""
    left = length
    with open(path, "rb") as f:
        f.seek(first)
        while left > 0:
            data = f.read(min(block, left))
            if not data:
                return
            left -= len(data)
            yield data.translate(table) if table is not None else data


def file_validators(st):
    """(ETag, Last-Modified as seconds since 1970) of a file's version, made from
    its size and modification time so that a big file is not read for it."""
    return '"%x-%x"' % (st.st_size, st.st_mtime_ns), st.st_mtime_ns // 1_000_000_000
