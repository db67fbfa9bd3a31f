#!/usr/bin/python3
"""Times our header parser against Python's email parser on the same blocks.

Generates 10,000 header blocks like those a TOP n 0 reply delivers, parses
all of them with mail_header_driver (TMailMessage::LoadRawMail of the lines,
and again with the splitting into lines and the freeing included) and with
email.parser.BytesParser(headersonly=True) (reading From, To, Cc and Subject
of each), and prints the CPU times and the ratios. Usage:

    bench/mail/compare_python.py [BUILD_DIR] [ROUNDS]   (default: build 5)

Every figure is the best of ROUNDS rounds, which keeps the load of a shared
machine out of the comparison as far as that goes.
"""

import os
import random
import subprocess
import sys
import tempfile
import time
from email.parser import BytesParser

COUNT = 10000
NAMES = ["John Doe", "Doe, Jane", "Ren\u00e9 M\u00fcller", "Support Team", "", "A. N. Other"]
DOMAINS = ["example.org", "mail.example.net", "lists.example.com", "example.co.uk"]
SUBJECTS = [
    "Meeting tomorrow",
    "=?utf-8?Q?Your_weekly_digest_=E2=80=93_caf=C3=A9?=",
    "Re: Re: invoice 2024-{n}",
    "=?iso-8859-1?B?UmU6IHLpc3Vt6Q==?= and more",
    "FREE offer just for you!!! {n}",
]


def address(rng):
    name = rng.choice(NAMES)
    addr = "user%d@%s" % (rng.randrange(100000), rng.choice(DOMAINS))
    if not name:
        return "<%s>" % addr
    if "," in name:
        return '"%s" <%s>' % (name, addr)
    return "%s <%s>" % (name.encode("latin-1", "replace").decode("latin-1"), addr)


def block(rng, n):
    lines = [
        "Return-Path: <bounce-%d@%s>" % (n, rng.choice(DOMAINS)),
        "Delivered-To: jdoe@example.org",
    ]
    for hop in range(rng.randrange(2, 5)):
        lines += [
            "Received: from mx%d.example.org (mx%d.example.org [192.0.2.%d])" % (hop, hop, hop),
            "\tby mail.example.org (Postfix) with ESMTPS id %08X" % rng.randrange(1 << 32),
            "\tfor <jdoe@example.org>; Tue, 5 Mar 2024 10:20:%02d +0100 (CET)" % hop,
        ]
    lines += [
        "Authentication-Results: mail.example.org; dkim=pass header.d=%s;" % rng.choice(DOMAINS),
        "\tspf=pass smtp.mailfrom=bounce-%d@%s" % (n, rng.choice(DOMAINS)),
        "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=%s;" % rng.choice(DOMAINS),
        "\ts=s2024; t=17096304%02d; bh=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=;" % (n % 100),
        "\th=From:To:Subject:Date:Message-ID:MIME-Version:Content-Type;",
        "\tb=Zm9vYmFyYmF6cXV4Zm9vYmFyYmF6cXV4Zm9vYmFyYmF6cXV4Zm9vYmFyYmF6cXV4Zm9v",
        "From: " + address(rng),
    ]
    to = [address(rng) for _ in range(rng.randrange(1, 4))]
    lines.append("To: " + to[0] + ("," if len(to) > 1 else ""))
    for i, a in enumerate(to[1:], 1):
        lines.append("\t" + a + ("," if i + 1 < len(to) else ""))
    if rng.random() < 0.4:
        lines.append("Cc: " + ", ".join(address(rng) for _ in range(rng.randrange(1, 3))))
    lines += [
        "Subject: " + rng.choice(SUBJECTS).format(n=n),
        "Date: Tue, 5 Mar 2024 10:%02d:%02d +0100" % (n % 60, (n * 7) % 60),
        "Message-ID: <%d.%08X@%s>" % (n, rng.randrange(1 << 32), rng.choice(DOMAINS)),
        "MIME-Version: 1.0",
        "Content-Type: multipart/alternative;",
        '\tboundary="----=_Part_%d_%d"' % (n, rng.randrange(1 << 30)),
        "List-Unsubscribe: <mailto:leave-%d@%s>" % (n, rng.choice(DOMAINS)),
        "X-Mailer: Example Mailer 4.2",
        "X-Spam-Status: No, score=-0.1 required=5.0 tests=DKIM_SIGNED,DKIM_VALID",
    ]
    return ("\r\n".join(lines) + "\r\n").encode("latin-1")


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    driver = os.path.join(root, build, "bench", "mail", "mail_header_driver")
    if not os.path.exists(driver):
        sys.exit("no driver at %s: build the benchmarks first" % driver)

    rng = random.Random(20240305)
    blocks = [block(rng, n) for n in range(COUNT)]
    total = sum(len(b) for b in blocks)
    with tempfile.NamedTemporaryFile(prefix="kelvrin-headers-", suffix=".txt") as f:
        f.write(b"\r\n".join(blocks))
        f.flush()
        out = subprocess.run([driver, f.name, str(rounds)], check=True, capture_output=True,
                             text=True).stdout
    fields = out.split()
    parse = float(fields[fields.index("parse_seconds") + 1])
    pipeline = float(fields[fields.index("pipeline_seconds") + 1])

    parser = BytesParser()
    theirs = None
    for _ in range(rounds):
        c0 = time.process_time()
        found = 0
        for b in blocks:
            msg = parser.parsebytes(b, headersonly=True)
            for name in ("from", "to", "cc", "subject"):
                if msg[name] is not None:
                    found += 1
        spent = time.process_time() - c0
        theirs = spent if theirs is None else min(theirs, spent)

    # CPU time, so that whatever else the machine does counts for neither.
    print("header blocks: %d, %.2f KB on average; best of %d rounds"
          % (COUNT, total / COUNT / 1024, rounds))
    print("python email.parser headersonly (+ From/To/Cc/Subject): %.3f s cpu" % theirs)
    print("kelvrin LoadRawMail of the lines:                        %.3f s cpu  -> %.1fx"
          % (parse, theirs / parse))
    print("kelvrin split into lines + LoadRawMail + free:           %.3f s cpu  -> %.1fx"
          % (pipeline, theirs / pipeline))

if __name__ == "__main__":
    main()
