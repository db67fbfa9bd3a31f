#!/usr/bin/python3
"""The header check done with Python's poplib: LIST n, TOP n 0 and UIDL n for
every message. Prints the message count, the wall-clock seconds and the CPU
seconds of the loop."""
import poplib
import sys
import time

host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
box = poplib.POP3(host, port)
box.user(user)
box.pass_(password)
count, _ = box.stat()
start = time.perf_counter()
cpu = time.process_time()
for n in range(1, count + 1):
    box.list(n)
    box.top(n, 0)
    box.uidl(n)
elapsed = time.perf_counter() - start
cpu = time.process_time() - cpu
box.quit()
print(f"{count} {elapsed:.6f} {cpu:.6f}")
