#!/usr/bin/python3
"""Writes display_text_cases.txt, the expected display text of headers and
bodies for display_text_test.cpp. Run once with /usr/bin/python3 from this
folder; the output is committed and the test never runs Python.

Headers are decoded with email.header.decode_header and make_header, bodies
with Python's codecs. Where our rules deliberately differ, the generator
applies our rule and says so in the case's note (column "rule"):

  control    Python keeps control characters; we show each C0, DEL and C1
             control as a blank (in a body, CR, LF and tab stay).
  cp1252     A charset Python does not know (LookupError), or bytes not
             valid in the declared charset (UnicodeDecodeError): Python
             raises; we read the bytes as Windows-1252 (its five undefined
             bytes as U+FFFD).
  latin1     Text labelled ISO-8859-1 or US-ASCII is read as Windows-1252;
             Python gives C1 controls for 0x80-0x9F.
  undeclared 8-bit text outside encoded words has no rule in Python; we read
             it as UTF-8 when it is valid UTF-8, else as Windows-1252.
  literal    Python raises HeaderParseError for a B word whose data cannot
             be whole bytes; we show that word as written.
  nospace    make_header puts a blank between an encoded word and text that
             touches it (a quote, a parenthesis, "Re:"); we join the chunks of
             decode_header as they are. The comment shows Python's text too.

make_header itself raises for the chunks read by our fallbacks, so the
decoded chunks are handed to its Header with their own labels and joined by
Header.__str__, which is what make_header returns.

File format: one case per line, tab-separated: kind (header/body), name,
Content-Type (bodies; "-" for none), input bytes as hex, expected UTF-8 as
hex, rule. A comment line before each case shows the expected text.
"""

import base64
import binascii
import email.errors
from email.header import Header, decode_header

CP1252_LABELS = {"iso-8859-1", "iso8859-1", "latin1", "us-ascii", "ascii", "windows-1252", "cp1252"}


def word(charset, letter, text_bytes):
    if letter.upper() == "B":
        return b"=?" + charset.encode() + b"?" + letter.encode() + b"?" + base64.b64encode(text_bytes) + b"?="
    out = b""
    for c in text_bytes:
        if c == 0x20:
            out += b"_"
        elif 0x21 <= c <= 0x7E and chr(c) not in "=?_":
            out += bytes([c])
        else:
            out += b"=%02X" % c
    return b"=?" + charset.encode() + b"?" + letter.encode() + b"?" + out + b"?="


def sanitise(text, keep_lines):
    out = []
    for ch in text:
        cp = ord(ch)
        if keep_lines and ch in "\r\n\t":
            out.append(ch)
        elif cp < 0x20 or cp == 0x7F or 0x80 <= cp <= 0x9F:
            out.append(" ")
        else:
            out.append(ch)
    return "".join(out)


def undeclared(data):
    try:
        return data.decode("utf-8"), "undeclared" if any(b >= 0x80 for b in data) else ""
    except UnicodeDecodeError:
        return data.decode("cp1252", "replace"), "undeclared"


def in_charset(data, charset):
    """Text of data in charset, and the rule that applied ("" for Python's own)."""
    cs = charset.lower()
    if cs in CP1252_LABELS:
        ours = data.decode("cp1252", "replace")
        try:
            python = data.decode(cs)
        except UnicodeDecodeError:
            return ours, "cp1252"
        return ours, "" if python == ours else "latin1"
    try:
        return data.decode(cs), ""
    except (LookupError, UnicodeDecodeError):
        return data.decode("cp1252", "replace"), "cp1252"


def header_expected(raw):
    """Our display text of raw, Python's make_header text, and the rules."""
    rules = []
    try:
        chunks = decode_header(raw.decode("latin-1"))
    except email.errors.HeaderParseError:
        return raw.decode("latin-1"), None, "literal"
    texts = []
    for data, charset in chunks:
        if isinstance(data, str):
            data = data.encode("raw-unicode-escape")
        if charset is None:
            text, rule = undeclared(data)
        else:
            text, rule = in_charset(data, charset)
        # Header keeps plain text under "us-ascii", as make_header's append
        # does for text without a charset.
        texts.append((text, charset or "us-ascii"))
        if rule:
            rules.append(rule)
    header = Header()
    header._chunks = texts
    python = str(header)
    ours = "".join(text for text, _ in texts)
    if ours != python:
        rules.append("nospace")
    if sanitise(ours, False) != ours:
        rules.append("control")
    return sanitise(ours, False), python, ",".join(sorted(set(rules)))


def body_expected(data, content_type):
    charset = None
    if content_type:
        for param in content_type.split(";")[1:]:
            name, _, value = param.strip().partition("=")
            if name.strip().lower() == "charset":
                charset = value.strip().strip('"')
    if charset is None:
        text, rule = undeclared(data)
    else:
        text, rule = in_charset(data, charset)
    rules = [rule] if rule else []
    if sanitise(text, True) != text:
        rules.append("control")
    return sanitise(text, True), ",".join(rules)


def utf8(s):
    return s.encode("utf-8")


HEADERS = [
    ("iso-8859-1 Q with underscores", word("ISO-8859-1", "Q", "Café ouvert".encode("latin-1"))),
    ("iso-8859-2 B", word("iso-8859-2", "B", "Zażółć gęślą jaźń".encode("iso-8859-2"))),
    ("iso-8859-7 Q", word("ISO-8859-7", "Q", "Καλημέρα κόσμε".encode("iso-8859-7"))),
    ("windows-1252 quotes and euro", word("windows-1252", "Q", "“Price” €5 – now".encode("cp1252"))),
    ("koi8-r B", word("KOI8-R", "B", "Привет, мир".encode("koi8-r"))),
    ("iso-2022-jp B", word("ISO-2022-JP", "B", "こんにちは世界".encode("iso-2022-jp"))),
    ("gb2312 B", word("GB2312", "B", "你好，世界".encode("gb2312"))),
    ("utf-8 B with 4-byte characters", word("UTF-8", "B", utf8("Party 🎉 𝄞 tonight"))),
    ("lower-case letter, charset and hex", b"=?utf-8?q?na=c3=afve?= =?Utf-8?b?w6ljb2xl?="),
    ("plain text around an encoded word", b"Re: " + word("UTF-8", "Q", utf8("Grüße")) + b" aus Berlin"),
    ("adjacent words lose the blank", word("ISO-8859-1", "Q", "Café".encode("latin-1")) + b" "
     + word("ISO-8859-1", "Q", " crème".encode("latin-1"))),
    ("adjacent words over a tab and blanks", word("UTF-8", "B", utf8("Ein")) + b" \t  "
     + word("UTF-8", "B", utf8("heit"))),
    ("utf-8 character split across two words", b"=?UTF-8?B?" + base64.b64encode(b"\xe2\x82")
     + b"?= =?UTF-8?B?" + base64.b64encode(b"\xacuro") + b"?="),
    ("iso-2022-jp split inside the shifted text",
     b"=?ISO-2022-JP?B?" + base64.b64encode("日本語".encode("iso-2022-jp")[:5]) + b"?= =?ISO-2022-JP?B?"
     + base64.b64encode("日本語".encode("iso-2022-jp")[5:]) + b"?="),
    ("adjacent words of two charsets", word("KOI8-R", "B", "Мир".encode("koi8-r")) + b" "
     + word("ISO-8859-1", "Q", " und Café".encode("latin-1"))),
    ("words apart stay apart", word("UTF-8", "Q", utf8("Ünü")) + b" and " + word("UTF-8", "Q", utf8("Öl"))),
    ("quoted display name in From", b'"' + word("KOI8-R", "B", "Иван Петров".encode("koi8-r"))
     + b'" <ivan@example.ru>'),
    ("two senders with encoded names", word("ISO-8859-2", "Q", "Łukasz".encode("iso-8859-2"))
     + b" <l@example.pl>, " + word("UTF-8", "B", utf8("Zoë")) + b" <z@example.org>"),
    ("missing ?= stays as written", b"=?UTF-8?Q?Unfinished_word and more"),
    ("bad Base64 that cannot be bytes", b"Note =?UTF-8?B?QUJDR?= tail"),
    ("Base64 with stray characters", b"=?UTF-8?B?SGVs!bG8=?="),
    ("Base64 without padding", b"=?UTF-8?B?SGVsbG8?="),
    ("unknown charset", b"=?x-unknown?Q?Caf=E9_=93ok=94?="),
    ("empty charset", b"=??Q?Caf=E9?="),
    ("bytes not valid in the charset", b"=?UTF-8?Q?Caf=E9?="),
    ("8-bit bytes labelled us-ascii", b"=?us-ascii?Q?Caf=E9?="),
    ("iso-8859-1 label with windows-1252 quotes", b"=?ISO-8859-1?Q?=93Hello=94?="),
    ("unknown encoding letter", b"=?ISO-8859-1?X?abc?= end"),
    ("undeclared valid UTF-8", utf8("Grüße aus Köln 👋")),
    ("undeclared 8-bit not UTF-8", "Grüße “quoted”".encode("cp1252")),
    ("undeclared 8-bit beside a word", "Prix: 5€".encode("cp1252") + b" "
     + word("UTF-8", "Q", utf8("à voir"))),
    ("controls in a word become blanks", b"=?UTF-8?Q?Bell=07_and_=1B[31mred=C2=9B?="),
    ("Q escapes that are not escapes", b"=?UTF-8?Q?50=25_off_=3D_deal_a=zz_b=?="),
    ("empty encoded word", b"Before =?UTF-8?Q??= after"),
    ("the demo's subject", b"=?us-ascii?Q?Last_chance:_50%_off_everything?="),
    ("question marks in plain text", b"Why? =?UTF-8?Q?Weil=3F?= Ok?"),
    ("word touching plain text", b"Re:=?UTF-8?Q?Hi?="),
    ("word in a comment", b"a@b.example (=?ISO-8859-1?Q?J=F6rg?=)"),
]

BODIES = [
    ("iso-8859-1", "text/plain; charset=iso-8859-1", "Crème brûlée\r\nà la carte\r\n".encode("latin-1")),
    ("iso-8859-2 as the parser stores it", "TEXT/PLAIN; CHARSET=ISO-8859-2",
     "Zażółć gęślą jaźń\r\nŁódź".encode("iso-8859-2")),
    ("iso-8859-7", "text/plain; charset=\"iso-8859-7\"", "Γειά σου\r\nΚόσμε".encode("iso-8859-7")),
    ("windows-1252", "text/plain; charset=windows-1252", "“Quoted” – €10…\r\n".encode("cp1252")),
    ("koi8-r", "text/plain; format=flowed; charset=KOI8-R; delsp=yes",
     "Здравствуйте!\r\nКак дела?".encode("koi8-r")),
    ("iso-2022-jp, shifted per line", "text/plain; charset=ISO-2022-JP",
     "お世話になります。".encode("iso-2022-jp") + b"\r\n" + "よろしく".encode("iso-2022-jp")),
    ("gb2312", "text/plain; charset=gb2312", "你好\r\n再见".encode("gb2312")),
    ("utf-8 with 4-byte characters", "text/plain; charset=utf-8", utf8("Smile 😀\r\n𝄞 music")),
    ("undeclared valid UTF-8", "", utf8("Grüße\r\nKöln")),
    ("undeclared 8-bit not UTF-8", "text/plain", "Grüße “Köln”".encode("cp1252")),
    ("unknown charset", "text/plain; charset=x-mac-klingon", "Caf\xe9".encode("latin-1")),
    ("utf-8 label on windows-1252 bytes", "text/plain; charset=utf-8", "naïve €".encode("cp1252")),
    ("controls but line breaks and tabs kept", "text/plain; charset=utf-8",
     b"col1\tcol2\r\n\x1b[2Jcleared\x07\r\n"),
    ("charset named in another parameter only", "text/plain; x-charset=koi8-r",
     "Привет".encode("koi8-r")),
]


def shown(text):
    """text for a comment line: controls written as escapes."""
    return "".join(ch if ord(ch) >= 0x20 and not 0x7F <= ord(ch) <= 0x9F else "\\x%02x" % ord(ch)
                   for ch in text)


def line(kind, name, content_type, data, expected, rule, python=None):
    note = ""
    if python is not None and python != expected:
        note = "  (make_header: %s)" % shown(python)
    return "# %s: %s%s\n%s\t%s\t%s\t%s\t%s\t%s\n" % (
        name, shown(expected), note,
        kind, name, content_type or "-",
        binascii.hexlify(data).decode(), binascii.hexlify(expected.encode("utf-8")).decode(), rule or "-")


def main():
    out = ["# Written by make_display_text_cases.py; see its notes for the rules.\n"]
    for name, raw in HEADERS:
        expected, python, rule = header_expected(raw)
        out.append(line("header", name, "", raw, expected, rule, python))
    for name, content_type, data in BODIES:
        expected, rule = body_expected(data, content_type)
        out.append(line("body", name, content_type, data, expected, rule))
    with open("display_text_cases.txt", "w", encoding="utf-8") as f:
        f.writelines(out)


if __name__ == "__main__":
    main()
