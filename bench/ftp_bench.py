#!/usr/bin/env python3
"""FTP benchmarks against the ftp_test_server harness on loopback, beside
Debian's vsftpd serving the same files from a temporary configuration.

    bench/ftp_bench.py [path/to/ftp_test_server] [--runs N]

Side by side, each warmed up once and then run N times alternating vsftpd
and ours (medians): a passive curl download and upload of a 256 MiB file
(MB/s, 10^6 bytes) and an ftplib LIST of a folder of 2000 entries (ms from
the command to its closing reply, the login not counted). Ours only, each
with one warm-up and the median of N runs: 20 simultaneous ftplib
downloads of a 1 MiB file (total seconds) and the cost of 1000 logged-in
idle sessions (CPU % of one core over 10 s, resident memory per session).
The figures, then the ratios to vsftpd, are printed last.
"""
import ftplib
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import bench_support
from bench_support import alternating, free_port, measured, raise_file_limit, stop_peer, wait_for_port

BIG = 256 * 1024 * 1024
SMALL = 1024 * 1024
PARALLEL = 20
LIST_ENTRIES = 2000
IDLE_SESSIONS = 1000
IDLE_SECONDS = 10
TIMEOUT = 300


def find_harness(args):
    given = [arg for arg in args if os.path.isfile(arg) and os.access(arg, os.X_OK)]
    return bench_support.find_server(given[0] if given else None, "ftp_test_server")


def runs_from(args):
    if "--runs" in args:
        return max(1, int(args[args.index("--runs") + 1]))
    return 5


class Harness(bench_support.Harness):
    def __init__(self, path, base, root):
        work = os.path.join(base, "work")
        os.makedirs(work, exist_ok=True)
        super().__init__([path, work, "bench:pw:63:" + root], ["PORT"])
        self.port = self.ports["PORT"]

    def url(self, name):
        return "ftp://bench:pw@127.0.0.1:%d/%s" % (self.port, name)

    def login(self, ftp):
        ftp.login("bench", "pw")

    def stop(self):
        super().stop(TIMEOUT)


# vsftpd, for comparison only: anonymous access rooted at the benchmark's
# folder, passive mode, on a loopback port of its own, run as the user who
# starts it, with nothing logged.
VSFTPD_CONF = """listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port={port}
background=NO
run_as_launching_user=YES
anonymous_enable=YES
no_anon_password=YES
anon_root={root}
local_enable=NO
write_enable=YES
anon_upload_enable=YES
anon_other_write_enable=YES
anon_mkdir_write_enable=YES
anon_world_readable_only=NO
pasv_enable=YES
pasv_address=127.0.0.1
connect_from_port_20=NO
seccomp_sandbox=NO
xferlog_enable=NO
dirmessage_enable=NO
use_localtime=NO
"""


class Vsftpd:
    """`extra`: more configuration lines (the TLS benchmark's)."""

    def __init__(self, base, root, extra=""):
        self.port = free_port()
        conf = os.path.join(base, "vsftpd.conf")
        with open(conf, "w") as f:
            f.write(VSFTPD_CONF.format(port=self.port, root=root) + extra)
        self.process = subprocess.Popen(["vsftpd", conf], stdin=subprocess.DEVNULL)
        wait_for_port(self.port, "vsftpd", self.process, greeting=True)

    def url(self, name):
        return "ftp://127.0.0.1:%d/%s" % (self.port, name)

    def login(self, ftp):
        ftp.login()

    def stop(self):
        stop_peer(self.process)


def curl(*args):
    result = subprocess.run(["curl", "--silent", "--show-error", "--fail", "--ftp-pasv"] + list(args),
                            capture_output=True, text=True, timeout=TIMEOUT, check=True)
    return result.stdout


def download_rate(harness):
    out = curl("-o", "/dev/null", "-w", "%{size_download} %{time_total}", harness.url("big.bin"))
    size, seconds = out.split()
    assert int(size) == BIG, size
    return int(size) / float(seconds) / 1e6


def upload_rate(harness, source):
    out = curl("-T", source, "-w", "%{size_upload} %{time_total}", harness.url("upload.bin"))
    size, seconds = out.split()
    assert int(size) == BIG, size
    return int(size) / float(seconds) / 1e6


def parallel_seconds(harness):
    # The 20 clients log in first, one after another, so that the figure is
    # that of the transfers; the 20 downloads then start together.
    clients = []
    for _ in range(PARALLEL):
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", harness.port, timeout=TIMEOUT)
        ftp.login("bench", "pw")
        clients.append(ftp)
    sizes = [0] * PARALLEL
    start = threading.Barrier(PARALLEL + 1)

    def download(index):
        def count(chunk):
            sizes[index] += len(chunk)
        start.wait()
        clients[index].retrbinary("RETR small.bin", count, blocksize=65536)

    threads = [threading.Thread(target=download, args=(i,)) for i in range(PARALLEL)]
    for thread in threads:
        thread.start()
    start.wait()
    started = time.monotonic()
    for thread in threads:
        thread.join()
    seconds = time.monotonic() - started
    for ftp in clients:
        ftp.close()
    assert sizes == [SMALL] * PARALLEL, sizes
    return seconds


def list_ms(server):
    ftp = ftplib.FTP()
    ftp.connect("127.0.0.1", server.port, timeout=TIMEOUT)
    server.login(ftp)
    lines = []
    started = time.monotonic()
    ftp.retrlines("LIST list", lines.append)
    elapsed = time.monotonic() - started
    ftp.quit()
    assert len(lines) >= LIST_ENTRIES, len(lines)  # ours also lists . and ..
    return elapsed * 1000


def login(port):
    sock = socket.create_connection(("127.0.0.1", port), timeout=30)
    stream = sock.makefile("rb")
    for command in (None, b"USER bench\r\n", b"PASS pw\r\n"):
        if command:
            sock.sendall(command)
        line = stream.readline()
        while line[3:4] == b"-":
            line = stream.readline()
    assert line.startswith(b"230 "), line
    stream.close()
    return sock


def idle_cost(harness):
    raise_file_limit(4096)
    before = harness.rss_kib()
    sessions = [login(harness.port) for _ in range(IDLE_SESSIONS)]
    time.sleep(1)  # let every session settle into its wait
    rss = harness.rss_kib()
    cpu = harness.cpu_percent(IDLE_SECONDS)
    for sock in sessions:
        sock.close()
    return cpu, (rss - before) / IDLE_SESSIONS


def main():
    args = sys.argv[1:]
    path = find_harness(args)
    runs = runs_from(args)
    base = tempfile.mkdtemp(prefix="vtftp-bench-")
    try:
        root = os.path.join(base, "root")
        os.makedirs(os.path.join(root, "list"))
        with open(os.path.join(root, "big.bin"), "wb") as f:
            for _ in range(BIG // SMALL):
                f.write(os.urandom(SMALL))
        with open(os.path.join(root, "small.bin"), "wb") as f:
            f.write(os.urandom(SMALL))
        for i in range(LIST_ENTRIES):
            open(os.path.join(root, "list", "entry-%05d.txt" % i), "wb").close()
        source = os.path.join(base, "source.bin")
        shutil.copy(os.path.join(root, "big.bin"), source)

        harness = Harness(path, base, root)
        peer = None
        try:
            peer = Vsftpd(base, root)
            down_peer, down = map(statistics.median, alternating(
                runs, [lambda: download_rate(peer), lambda: download_rate(harness)]))
            print("download 256 MiB, passive: ours %.0f MB/s, vsftpd %.0f MB/s" % (down, down_peer), flush=True)
            up_peer, up = map(statistics.median, alternating(
                runs, [lambda: upload_rate(peer, source), lambda: upload_rate(harness, source)]))
            print("upload 256 MiB, passive: ours %.0f MB/s, vsftpd %.0f MB/s" % (up, up_peer), flush=True)
            list_peer, listing = map(statistics.median, alternating(
                runs, [lambda: list_ms(peer), lambda: list_ms(harness)]))
            print("LIST of %d entries: ours %.1f ms, vsftpd %.1f ms" % (LIST_ENTRIES, listing, list_peer),
                  flush=True)
            peer.stop()
            peer = None
            parallel = measured(runs, lambda: parallel_seconds(harness))
            print("%d parallel 1 MiB downloads: %.3f s" % (PARALLEL, parallel), flush=True)
            cpu, per_session = idle_cost(harness)
            print("%d idle sessions: %.2f %% of a core, %.1f KiB each" % (IDLE_SESSIONS, cpu, per_session),
                  flush=True)
        finally:
            if peer is not None:
                peer.stop()
            harness.stop()
        print("FIGURES download=%.0fMB/s upload=%.0fMB/s parallel20x1MiB=%.3fs list2000=%.1fms "
              "idle1000=%.2f%%cpu,%.1fKiB/session" % (down, up, parallel, listing, cpu, per_session))
        print("RATIO to vsftpd (target >= 1.0): download %.2f, upload %.2f, list %.2f (vsftpd ms / ours ms)"
              % (down / down_peer, up / up_peer, list_peer / listing))
    finally:
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    main()
