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
import resource
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "email"))
from pop3_harness import Account, seed  # noqa: E402

SESSIONS = 1000
START_DEADLINE_S = 20


def find_server(explicit):
    if explicit:
        return explicit
    candidate = os.path.join(HERE, "..", "build", "email_test_server")
    if os.access(candidate, os.X_OK):
        return os.path.abspath(candidate)
    sys.exit("email_test_server not found; build it or pass --server")


class Harness:
    def __init__(self, path, work):
        self.process = subprocess.Popen([path, work], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.smtp_port = self.pop_port = None
        deadline = time.monotonic() + START_DEADLINE_S
        while self.pop_port is None and time.monotonic() < deadline:
            line = self.process.stdout.readline()
            if not line:
                sys.exit("harness did not start")
            fields = line.split()
            if len(fields) == 2 and fields[0] == "SMTP":
                self.smtp_port = int(fields[1])
            elif len(fields) == 2 and fields[0] == "POP3":
                self.pop_port = int(fields[1])
        if self.pop_port is None:
            sys.exit("harness did not report its ports")

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.process.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def rss_kib(self):
        with open("/proc/%d/status" % self.process.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def stop(self):
        self.process.stdin.close()
        try:
            self.process.wait(60)
        except subprocess.TimeoutExpired:
            self.process.kill()


def greeted(port):
    sock = socket.create_connection(("127.0.0.1", port), timeout=30)
    greeting = b""
    while not greeting.endswith(b"\r\n"):
        chunk = sock.recv(512)
        if not chunk:
            sys.exit("connection closed before its greeting")
        greeting += chunk
    return sock


def cpu_percent(harness, seconds):
    cpu, wall = harness.cpu_seconds(), time.monotonic()
    time.sleep(seconds)
    return (harness.cpu_seconds() - cpu) / (time.monotonic() - wall) * 100


def idle_cost(harness, port, windows, seconds):
    before = harness.rss_kib()
    sockets = [greeted(port) for _ in range(SESSIONS)]
    time.sleep(1)  # every session settles into its wait
    rss = harness.rss_kib()
    cpu_percent(harness, seconds)  # warm-up window, not counted
    cpu = statistics.median(cpu_percent(harness, seconds) for _ in range(windows))
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
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, 8192)), hard))

    folder = tempfile.mkdtemp(prefix="vt-email-idle-")
    try:
        work = os.path.join(folder, "work")
        seed(work, [Account("idle", "pw")])
        harness = Harness(find_server(args.server), work)
        try:
            smtp = idle_cost(harness, harness.smtp_port, args.windows, args.seconds)
            print("%d idle SMTP sessions: %.3f %% of a core, %.1f KiB each" % (SESSIONS, smtp[0], smtp[1]),
                  flush=True)
            pop = idle_cost(harness, harness.pop_port, args.windows, args.seconds)
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
