"""The updater's side of the conversation, written once for the service, the
test harness and sign-instruction: decoding its forms, writing the
instruction and the answers it reads."""

import re
import time
import unicodedata
import xml.etree.ElementTree as ET

SERVICE_NAMESPACE = "http://update.velbor.example/Renova/"
XML_DECLARATION = '<?xml version="1.0" encoding="utf-8"?>'
NO_UPDATE = "No update available!"

# Service method -> the one form argument the updater sends with it.
METHOD_ARGUMENTS = {
    "GetClientUpdate": "clientStatusXML",
    "ReportUpdateStatus": "UpdateStatusXML",
    "ReportUpgradeOfferStatus": "UpgradeOfferStatusXML",
}

# The general elements of Instruction.xml, in the order they are written.
GENERAL_FIELDS = (
    "ErrorMessage",
    "NewProductVersion",
    "MaxUpdateableProductVersionExistingOnServer",
    "ChangeLogUrl",
    "MajorUpgradeProductUrl",
    "MajorUpgradeProductLinkText",
    "MajorUpgradeProductVersion",
    "SuppressReboot",
    "IsReInstallModeAMUS",
    "UpdateId",
    "Expires",
    "OsNotCompatibleUrl",
    "AdViewerUrl",
    "AdViewerSha256",
    "AdCampaignId",
)
LIST_FIELDS = ("Pre", "Download", "Post")
FILE_ATTRIBUTES = ("Url", "RelativeTargetFolder", "FileName", "Sha256", "Size")

DEFAULT_ANSWER_LIFETIME = 24 * 60 * 60
MAX_ANSWER_LIFETIME = 10 * 366 * 24 * 60 * 60


# --- Form decoding ---------------------------------------------------------------------

class DecodeError(Exception):
    pass


_HEX_DIGITS = "0123456789abcdefABCDEF"
# Every two-digit escape's digits and the character they stand for.
_TWO_DIGITS = {a + b: chr(int(a + b, 16)) for a in _HEX_DIGITS for b in _HEX_DIGITS}


def form_decode(text, wide):
    """Undoes one level of the updater's form encoding.

    The updater writes every character other than ASCII letters and digits as
    "%" and the lower-case hex of its UTF-16 unit with at least two digits, so
    three- and four-digit escapes cannot be told from a two-digit escape
    followed by hex letters. With wide=True the document level is read as:
    "%20" + two hex digits is U+20xx (a blank is always "+", never %20), "%1" +
    two hex digits is U+01xx (0x10-0x1F cannot stand in XML), anything else is
    two digits. The outer level is pure ASCII: wide=False reads two digits.
    """
    if not wide and text.count("%") == text.count("%25") + text.count("%2b") + text.count("%2B"):
        # The outer level of the updater's own forms escapes only "%" and "+".
        # "%2b" goes first: replacing "%25" first would make "%252b" a "+".
        return text.replace("+", " ").replace("%2b", "+").replace("%2B", "+").replace("%25", "%")
    # An escape's digits are never "%", so every "%" starts one: the text
    # between two is an escape's digits and then plain text. This reads a
    # check's form in a fraction of a character-by-character loop's time.
    pieces = text.replace("+", " ").split("%")
    out = [pieces[0]]
    at = len(pieces[0])             # where the next "%" stands in text
    for piece in pieces[1:]:
        if wide and piece[:2] == "20" and piece[2:4] in _TWO_DIGITS:
            out.append(chr(0x2000 + int(piece[2:4], 16)))
            out.append(piece[4:])
        elif wide and piece[:1] == "1" and piece[1:3] in _TWO_DIGITS:
            out.append(chr(0x100 + int(piece[1:3], 16)))
            out.append(piece[3:])
        elif piece[:2] in _TWO_DIGITS:
            out.append(_TWO_DIGITS[piece[:2]])
            out.append(piece[2:])
        else:
            raise DecodeError("bad escape %r at offset %d" % (text[at:at + 3], at))
        at += 1 + len(piece)
    return "".join(out)


def form_encode(text):
    """The updater's encoding of one level, which form_decode undoes: letters and
    digits stay, a blank is "+", every other UTF-16 unit is "%" and its
    lower-case hex code with at least two digits."""
    out = []
    units = text.encode("utf-16-le")
    for i in range(0, len(units), 2):
        unit = units[i] | units[i + 1] << 8
        c = chr(unit)
        if c.isascii() and c.isalnum():
            out.append(c)
        elif c == " ":
            out.append("+")
        else:
            out.append("%%%02x" % unit)
    return "".join(out)


def form_body(argument, document):
    """The body the updater posts: the document encoded twice."""
    return (argument + "=" + form_encode(form_encode(document))).encode("ascii")


def parse_document(text):
    """Parses a decoded document; Latin-1 documents go through as their bytes."""
    try:
        data = text.encode("latin-1")
    except UnicodeEncodeError:
        return ET.fromstring(text)
    parser = ET.XMLParser(encoding="iso-8859-1")
    parser.feed(data)
    return parser.close()


def decode_form_body(body, expected_argument):
    """-> (argument name, decoded text or None, parsed root or None, error or None)."""
    raw = body.decode("latin-1")
    if not raw:
        return None, None, None, "empty body"
    pairs = [part.partition("=") for part in raw.split("&")]
    chosen = next((p for p in pairs if p[0] == expected_argument), pairs[0])
    name, separator, value = chosen
    if not separator:
        return name, None, None, "argument without '='"
    try:
        text = form_decode(form_decode(value, wide=False), wide=True)
    except DecodeError as e:
        return name, None, None, "form decoding: %s" % e
    try:
        root = parse_document(text)
    except ET.ParseError as e:
        return name, text, None, "XML: %s" % e
    return name, text, root, None


# --- Versions and times ----------------------------------------------------------------

def version_numbers(text):
    """The version's numbers as (digit count, digits without leading zeros), which
    order as the numbers do however many digits they have: int() refuses more
    than 4300, and a client may send any version."""
    numbers = []
    for part in (text or "").strip().split("."):
        digits = re.match(r"\s*(\d*)", part).group(1)
        digits = "".join(str(unicodedata.digit(c)) for c in digits).lstrip("0")
        numbers.append((len(digits), digits))
    while numbers and numbers[-1] == (0, ""):
        numbers.pop()
    return numbers


def expiry_time(lifetime, now=None):
    """UTC, lifetime seconds from now, as <Expires> takes it."""
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime((time.time() if now is None else now) + lifetime))


def substitute(value, replacements):
    if isinstance(value, str):
        for key, text in replacements.items():
            value = value.replace(key, text)
        return value
    if isinstance(value, list):
        return [substitute(v, replacements) for v in value]
    if isinstance(value, dict):
        return {k: substitute(v, replacements) for k, v in value.items()}
    return value


# --- XML writing -----------------------------------------------------------------------

def escape_text(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def escape_attribute(text):
    return escape_text(text).replace('"', "&quot;")


def ascii_xml(text):
    """Escaped XML text whose bytes are all ASCII: the updater loses bytes above 0x7F."""
    return escape_text(text).encode("ascii", "xmlcharrefreplace")


def catalog_text(value):
    if isinstance(value, bool):
        return "True" if value else "False"
    return str(value)


def build_instruction(product, program_name=None):
    """The instruction document; program_name, when given, is written as
    <ProgramName> right after where <UpdateId> goes (a catalog's own
    "ProgramName" only picks the product and is never written)."""
    lines = ["<Instruction>"]
    for name in GENERAL_FIELDS:
        value = product.get(name)
        if value is not None:
            lines.append("    <%s>%s</%s>" % (name, escape_text(catalog_text(value)), name))
        if name == "UpdateId" and program_name is not None:
            lines.append("    <ProgramName>%s</ProgramName>" % escape_text(program_name))
    for list_name in LIST_FIELDS:
        entries = product.get(list_name)
        if entries is None:
            continue
        if not entries:
            lines.append("    <%s />" % list_name)
            continue
        tag = "File" if list_name == "Download" else "Action"
        lines.append("    <%s>" % list_name)
        for entry in entries:
            keys = list(entry)
            if tag == "File":
                # The known attributes first, in their usual order.
                keys = [k for k in FILE_ATTRIBUTES if k in entry] + [k for k in keys if k not in FILE_ATTRIBUTES]
            attributes = "".join(' %s="%s"' % (k, escape_attribute(catalog_text(entry[k]))) for k in keys)
            lines.append("        <%s%s />" % (tag, attributes))
        lines.append("    </%s>" % list_name)
    lines.append("</Instruction>")
    return "\n".join(lines) + "\n"


def check_product_fields(product):
    """None, or why a catalog's product (a JSON object) can't be written as an
    instruction: it names its product, and its elements are texts."""
    if not isinstance(product, dict):
        return "the file must hold one JSON object"
    if not isinstance(product.get("ProgramName"), str) or not product["ProgramName"]:
        return "\"ProgramName\" is missing or not a text"
    for name in GENERAL_FIELDS:
        value = product.get(name)
        if value is not None and not isinstance(value, (str, int, float, bool)):
            return "\"%s\" must be a text, a number or true/false" % name
    for name in LIST_FIELDS:
        entries = product.get(name)
        if entries is None:
            continue
        if not isinstance(entries, list):
            return "\"%s\" must be a list" % name
        for entry in entries:
            if not isinstance(entry, dict) or not all(isinstance(v, (str, int, float, bool)) for v in entry.values()):
                return "every entry of \"%s\" must be an object of texts" % name
    return None


def nothing_offered(program_name, expires):
    """The signed build's "nothing offered": an instruction with UpdateId 0 for
    this product, so that it can be signed and cannot be replayed to another."""
    return build_instruction({"UpdateId": 0, "Expires": expires}, program_name=program_name)


def answer_document(text, signature=None, signature_key=None):
    """The GetClientUpdate answer carrying text; signature is the attribute's text."""
    attributes = ' xmlns="%s"' % SERVICE_NAMESPACE
    if signature is not None:
        attributes += ' Signature="%s"' % escape_attribute(signature)
    if signature_key is not None:
        attributes += ' SignatureKey="%s"' % escape_attribute(signature_key)
    return (XML_DECLARATION + "\r\n<string" + attributes + ">").encode("ascii") + ascii_xml(text) + b"</string>"


def empty_wrapper():
    return (XML_DECLARATION + '\r\n<string xmlns="' + SERVICE_NAMESPACE + '" />').encode("ascii")


def report_accepted():
    """The answer to a status report; the updater does not read it."""
    return (XML_DECLARATION + '\r\n<boolean xmlns="' + SERVICE_NAMESPACE + '">true</boolean>').encode("ascii")
