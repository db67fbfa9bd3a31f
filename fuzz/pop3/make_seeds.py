#!/usr/bin/env python3
"""Writes the seed dialogues of pop3_check_delete_fuzzer: whole check and
deletion dialogues that a well-behaved server would hold, so that the fuzzer
starts from replies that reach the DELEs."""

import os
import sys

SEP = b"\x1e"
DELETE_ALL, IN_PIECES, CANCEL_EARLY, TIMED_CHECK = 1, 2, 4, 8


def message(n, spam):
    to = "someone@elsewhere.example" if spam else "me@example.com"
    return (f"From: Sender {n} <s{n}@example.org>\r\nTo: {to}\r\n"
            f"Subject: Message {n}\r\nDate: Mon, 3 Mar 2025 10:00:00 +0000\r\n\r\n.\r\n")


def login(n_messages):
    return ["+OK ready\r\n", "+OK\r\n", "+OK\r\n",
            f"+OK {n_messages} {300 * n_messages}\r\n", "+OK 0\r\n"]


def listing(ids, order=None):
    order = order or list(range(1, len(ids) + 1))
    return "+OK\r\n" + "".join(f"{n} {ids[n - 1]}\r\n" for n in order) + ".\r\n"


def check(mailbox, with_ids, listing_order=None):
    ids = [m[0] for m in mailbox]
    replies = login(len(mailbox))
    replies.append(listing(ids, listing_order) if with_ids else "-ERR no ids\r\n")
    for n, (uid, spam) in enumerate(mailbox, 1):
        replies += [f"+OK {n} 300\r\n", "+OK\r\n" + message(n, spam)]
        if with_ids:
            replies.append(f"+OK {n} {uid}\r\n")
    if with_ids and mailbox:
        replies.append("+OK bye\r\n")
    return replies


def deletion(mailbox, listing_order=None):
    ids = [m[0] for m in mailbox]
    replies = login(len(mailbox)) + [listing(ids), listing(ids, listing_order)]
    replies += ["+OK deleted\r\n" for _, spam in mailbox if spam]
    return replies + ["+OK bye\r\n"]


def dialogue(flags, replies):
    return bytes([flags]) + SEP.join(r.encode("latin-1") for r in replies)


def main(folder):
    box = [("a1", False), ("b2", True), ("c3", False), ("d4", True)]
    left = [m for m in box if not m[1]]
    seeds = {
        "ids": dialogue(0, check(box, True) + deletion(box) + check(left, True)),
        "ids_listing_reordered": dialogue(
            0, check(box, True, [4, 2, 3, 1]) + deletion(box, [3, 1, 4, 2]) + check(left, True)),
        "no_ids_session_kept": dialogue(
            0, check(box, False) + ["+OK deleted\r\n", "+OK deleted\r\n", "+OK bye\r\n"]
            + check(left, False)),
        "delete_all_in_pieces": dialogue(
            DELETE_ALL | IN_PIECES,
            check(box, True) + login(4) + [listing([m[0] for m in box])] * 2
            + ["+OK deleted\r\n"] * 4 + ["+OK bye\r\n"] + check([], True)),
        "cancelled_then_timed_check": dialogue(
            CANCEL_EARLY | TIMED_CHECK, check(box, True) + deletion(box) + check(box, True)),
        "shared_id": dialogue(
            0, check([("x", True), ("x", False), ("c3", True)], True)
            + deletion([("x", False), ("x", False), ("c3", True)]) + check(left, True)),
    }
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "corpus", "pop3_check_delete_fuzzer"))
