#!/usr/bin/env python3
"""A guard on how many system calls the server spends per small request:
the stand-alone server runs under strace -c -f twice, serving a few and
then many requests for a 1 KiB page (one per connection, "Connection:
close"); the difference divided by the extra requests is the cost of one
request, without the start and the stop. Nothing is timed: a change that
brings back a call per line or per piece fails here.

Usage: http_syscalls_test.py <path of http_test_server>
"""
import http.client
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from http_harness import HttpServer, START_DEADLINE_S, strace_total, write_files

FEW = 20
MANY = 220
PAGE = b"<p>" + b"x" * 1016 + b"</p>\r\n"
# Measured at 17.0 calls per request (accept, the head's read, the site
# folder's stat, the file's open, stat, flags and read, one send, the log
# line's stat and write, the check for input left over, the closes, the
# hand-over between threads); room above that for a kernel or libc that
# splits a call differently.
BOUND = 21


class StracedServer(HttpServer):
    def __init__(self, binary, workdir, summary, *options):
        self.summary = summary
        super().__init__("strace", "-f", "-c", "-o", summary, binary, workdir, *options)


def calls_for(binary, requests):
    """All system calls of one server run that served `requests` requests."""
    work = tempfile.mkdtemp(prefix="vt-http-syscalls-")
    try:
        site = os.path.join(work, "site")
        write_files(site, {"page.html": PAGE})
        summary = os.path.join(work, "strace.txt")
        server = StracedServer(binary, work, summary, "--default-folder", site)
        try:
            for _ in range(requests):
                connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=START_DEADLINE_S)
                connection.request("GET", "/page.html", headers={"Connection": "close"})
                response = connection.getresponse()
                body = response.read()
                connection.close()
                if response.status != 200 or body != PAGE:
                    raise AssertionError(f"unexpected answer {response.status}")
        finally:
            status = server.stop()
        if status != 0:
            raise AssertionError(f"server exited with {status}")
        return strace_total(summary)
    finally:
        shutil.rmtree(work, ignore_errors=True)


class SystemCallsPerRequest(unittest.TestCase):
    binary = None

    def test_a_small_page_costs_few_calls(self):
        few = calls_for(self.binary, FEW)
        many = calls_for(self.binary, MANY)
        per_request = (many - few) / (MANY - FEW)
        print(f"{per_request:.1f} system calls per request (bound {BOUND})")
        self.assertLessEqual(per_request, BOUND)
        self.assertGreater(per_request, 0)


if __name__ == "__main__":
    if shutil.which("strace") is None:
        print("strace is needed")
        sys.exit(1)
    SystemCallsPerRequest.binary = sys.argv.pop(1)
    unittest.main()
