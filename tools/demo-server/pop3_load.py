#!/usr/bin/python3
"""Times a header check of a large mailbox through kelvrin-demo-server.

Fills a temporary maildir with N messages (the demo messages, repeated),
starts the server on free ports and runs the command sequence of a check:
USER, PASS, STAT, LAST, UIDL, then LIST n, TOP n 0 and UIDL n for every
message, and QUIT. The session runs twice: the first one finds the size
cache empty, the second one full. Prints the wall-clock time of each step.

Usage: pop3_load.py SERVER_BINARY [N]
"""

import glob
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DEMO = os.path.join(HERE, "..", "..", "share", "demo", "maildir")


class Session:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.file = self.sock.makefile("rb")

    def line(self):
        return self.file.readline()

    def command(self, text):
        self.sock.sendall(text.encode() + b"\r\n")
        reply = self.line()
        if not reply.startswith(b"+OK"):
            raise RuntimeError("%s -> %r" % (text, reply))
        return reply

    def multiline(self, text):
        self.command(text)
        lines = 0
        while self.line() != b".\r\n":
            lines += 1
        return lines


def check(port, count):
    times = {}
    start = time.perf_counter()
    s = Session(port)
    s.line()
    s.command("USER sam")
    s.command("PASS demo-password")
    times["login (scan)"] = time.perf_counter() - start
    t = time.perf_counter()
    stat = s.command("STAT").split()
    assert int(stat[1]) == count, stat
    s.command("LAST")
    assert s.multiline("UIDL") == count
    times["STAT, LAST, UIDL"] = time.perf_counter() - t
    t = time.perf_counter()
    for n in range(1, count + 1):
        s.command("LIST %d" % n)
        s.multiline("TOP %d 0" % n)
        s.command("UIDL %d" % n)
    times["LIST/TOP/UIDL per message"] = time.perf_counter() - t
    s.command("QUIT")
    times["whole session"] = time.perf_counter() - start
    return times


def main():
    server = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    work = tempfile.mkdtemp(prefix="kelvrin-load-")
    try:
        sources = sorted(glob.glob(os.path.join(DEMO, "*.eml")))
        for n in range(count):
            shutil.copyfile(sources[n % len(sources)], os.path.join(work, "%06d.eml" % n))
        proc = subprocess.Popen([server, "--maildir", work, "--quiet"], stdout=subprocess.PIPE)
        try:
            port = int(proc.stdout.readline().split()[2])
            proc.stdout.readline()
            for run in ("cold", "warm"):
                times = check(port, count)
                print("%d messages, %s cache:" % (count, run))
                for step, seconds in times.items():
                    print("  %-28s %8.3f s" % (step, seconds))
        finally:
            proc.terminate()
            proc.wait()
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
