#!/usr/bin/env python3
"""Idle cost of the email server (the tests' email_test_server harness):
1000 connected SMTP sessions, then 1000 connected POP3 sessions, each
greeted and then left waiting. For each: the harness's CPU time over
several quiet windows as a share of one core (one unmeasured warm-up
window, then the median), and its resident memory growth per session.
Goals: under 1 % of a core and under 64 KiB per session. Figures last.

Usage: bench/email_idle_bench.py [--server PATH] [--windows N] [--seconds S]
"""
import argparse
import os
import shutil
import socket
import statistics
import sys
import tempfile
import time

from bench_support import HERE, Harness, find_server, raise_file_limit

sys.path.insert(0, os.path.join(HERE, "..", "tests", "email"))
from pop3_harness import Account, seed  # noqa: E402

SESSIONS = 1000


def greeted(port):
    sock = socket.create_connection(("127.0.0.1", port), timeout=30)
    greeting = b""
    while not greeting.endswith(b"\r\n"):
        chunk = sock.recv(512)
        if not chunk:
            sys.exit("connection closed before its greeting")
        greeting += chunk
    return sock


def idle_cost(harness, port, windows, seconds):
    before = harness.rss_kib()
    sockets = [greeted(port) for _ in range(SESSIONS)]
    time.sleep(1)  # every session settles into its wait
    rss = harness.rss_kib()
    harness.cpu_percent(seconds)  # warm-up window, not counted
    cpu = statistics.median(harness.cpu_percent(seconds) for _ in range(windows))
    for sock in sockets:
        sock.close()
    time.sleep(2)  # the sessions end and are reaped before the next set
    return cpu, (rss - before) / SESSIONS


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server")
    parser.add_argument("--windows", type=int, default=5)
    parser.add_argument("--seconds", type=int, default=3)
    args = parser.parse_args()
    raise_file_limit(8192)

    folder = tempfile.mkdtemp(prefix="vt-email-idle-")
    try:
        work = os.path.join(folder, "work")
        seed(work, [Account("idle", "pw")])
        harness = Harness([find_server(args.server, "email_test_server"), work], ["SMTP", "POP3"])
        try:
            smtp = idle_cost(harness, harness.ports["SMTP"], args.windows, args.seconds)
            print("%d idle SMTP sessions: %.3f %% of a core, %.1f KiB each" % (SESSIONS, smtp[0], smtp[1]),
                  flush=True)
            pop = idle_cost(harness, harness.ports["POP3"], args.windows, args.seconds)
            print("%d idle POP3 sessions: %.3f %% of a core, %.1f KiB each" % (SESSIONS, pop[0], pop[1]),
                  flush=True)
        finally:
            harness.stop()
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print("FIGURES smtp_idle1000=%.3f%%cpu,%.1fKiB/session pop3_idle1000=%.3f%%cpu,%.1fKiB/session "
          "(goals < 1%% and < 64 KiB)" % (smtp[0], smtp[1], pop[0], pop[1]))


if __name__ == "__main__":
    main()
