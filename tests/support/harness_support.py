"""The mechanics every python protocol test shares: the test server named on
the command line, bounded waits, the settings file layout, a test server
process in its own temporary folder steered over stdin and stdout, and a
raw line-based client that returns replies exactly as sent.

A harness module puts this folder on sys.path and imports it; what is
particular to a protocol stays in that protocol's harness."""
import contextlib
import ctypes
import os
import poplib
import re
import select
import shutil
import signal
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time

DEADLINE = 20.0

_harness = None


def harness_path(server_name="test server"):
    """Takes the harness executable out of the command line (unittest's own
    options may come before or after it); later calls return the same."""
    global _harness
    if _harness is not None:
        return _harness
    for index, arg in enumerate(sys.argv[1:], start=1):
        if os.path.isfile(arg) and os.access(arg, os.X_OK):
            _harness = sys.argv.pop(index)
            return _harness
    sys.exit("usage: %s <%s> [unittest options]" % (sys.argv[0], server_name))


def wait_until(condition, what, deadline=DEADLINE):
    end = time.monotonic() + deadline
    while time.monotonic() < end:
        if condition():
            return
        time.sleep(0.01)
    raise AssertionError("timed out waiting for " + what)


def poplib_login(port, user, password, timeout=DEADLINE):
    """A poplib client logged in as `user` once the mailbox's lock is free:
    a session whose client went away without QUIT hands its mailbox back
    only once it notices, so a login right after it may find it busy."""
    end = time.monotonic() + DEADLINE
    while True:
        pop = poplib.POP3("127.0.0.1", port, timeout=timeout)
        try:
            pop.user(user)
            pop.pass_(password)
            return pop
        except poplib.error_proto as error:
            pop.close()
            if not error.args[0].startswith(b"-ERR Mail box is busy") or time.monotonic() > end:
                raise
        time.sleep(0.02)


@contextlib.contextmanager
def strace_attached(pid, output, *options):
    """strace follows every thread of `pid` (those started meanwhile too)
    while the block runs and writes to the file `output`; it has attached
    before the block starts and has written everything once the block ends."""
    with open(output + ".errors", "w+") as errors:
        tracer = subprocess.Popen(["strace", "-f", "-o", output, *options, "-p", str(pid)],
                                  stdout=subprocess.DEVNULL, stderr=errors)
        try:
            # strace names each thread it has attached to on stderr.
            def attached():
                errors.seek(0)
                return "attached" in errors.read()
            wait_until(attached, "strace attached")
            yield
        finally:
            tracer.send_signal(signal.SIGINT)
            tracer.wait(DEADLINE)


def strace_total(summary_path):
    """The number of calls on the total line of an `strace -c` summary."""
    with open(summary_path) as f:
        text = f.read()
    match = re.search(r"^\s*100\.00\s+\S+\s+\S+\s+(\d+)\s+(?:\d+\s+)?total\s*$", text, re.M)
    if match is None:
        raise AssertionError("no total in strace's summary:\n" + text)
    return int(match.group(1))


# --- the settings file layout: version 3, record count, records of a
# 300-byte zero-padded name, a 4-byte length and the value ---

def record(name, value):
    raw = name.encode("latin-1")
    return raw + b"\0" * (300 - len(raw)) + struct.pack("<i", len(value)) + value


def trusting_context(data_folder):
    """A client context that trusts the self-signed certificate a server
    made in the data folder's tls/ (made for another name than 127.0.0.1,
    so the name is not checked)."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.load_verify_locations(os.path.join(data_folder, "tls", "certificate.pem"))
    return context


def settings_file(records):
    return struct.pack("<ii", 3, len(records)) + b"".join(record(n, v) for n, v in records)


def read_settings(path):
    """The records of a settings file: [(name, value bytes)]."""
    with open(path, "rb") as f:
        data = f.read()
    version, count = struct.unpack_from("<ii", data, 0)
    assert version == 3, path
    records, at = [], 8
    for _ in range(max(count, 0)):
        name = data[at:at + 300].split(b"\0", 1)[0].decode("latin-1")
        (length,) = struct.unpack_from("<i", data, at + 300)
        records.append((name, data[at + 304:at + 304 + length]))
        at += 304 + length
    assert at == len(data), "trailing bytes in " + path
    return records


def read_logs(folder, prefix="", newline=None):
    """The text of the log files in `folder` whose names start with
    `prefix`, in name order; newline as for open()."""
    text = []
    for name in sorted(os.listdir(folder)):
        if name.startswith(prefix):
            with open(os.path.join(folder, name), encoding="latin-1", newline=newline) as log:
                text.append(log.read())
    return "".join(text)


_LIBC = ctypes.CDLL(None, use_errno=True)
_AT_FDCWD = -100
_RENAME_EXCHANGE = 2


def exchange(a, b):
    """Swaps two names in one step, so that one of them always exists."""
    _LIBC.renameat2(_AT_FDCWD, a.encode(), _AT_FDCWD, b.encode(), _RENAME_EXCHANGE)


@contextlib.contextmanager
def swapping(a, b):
    """Swaps the names a and b over and over in a thread while the block
    runs; afterwards each name is what it was before."""
    was_link = os.path.islink(a)
    stop = threading.Event()

    def swap():
        while not stop.is_set():
            exchange(a, b)

    swapper = threading.Thread(target=swap)
    swapper.start()
    try:
        yield
    finally:
        stop.set()
        swapper.join()
        if os.path.islink(a) != was_link:
            exchange(a, b)


class HarnessProcess:
    """A test server process that answers on stdout, one line per answer,
    and is steered by lines on stdin; closing stdin ends it."""

    def __init__(self, args, env=None, stderr=None):
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=stderr, env=env)
        self.output = b""

    def expect_line(self, prefix, deadline=DEADLINE):
        end = time.monotonic() + deadline
        descriptor = self.process.stdout.fileno()
        while b"\n" not in self.output:
            ready, _, _ = select.select([descriptor], [], [], max(0.0, end - time.monotonic()))
            chunk = os.read(descriptor, 4096) if ready else b""
            if not chunk:
                raise AssertionError("harness did not answer")
            self.output += chunk
        line, self.output = self.output.split(b"\n", 1)
        line = line.decode()
        if not line.startswith(prefix):
            raise AssertionError("harness said %r, expected %s" % (line, prefix))
        return line

    def steer(self, command, answer):
        self.process.stdin.write((command + "\n").encode())
        self.process.stdin.flush()
        return self.expect_line(answer)

    def end_by_signal(self, signum, deadline=DEADLINE):
        """Sends the process a signal (SIGKILL: a crash) and waits until it
        is gone; returns what end() returns."""
        self.process.send_signal(signum)
        try:
            self.process.wait(deadline)
        except subprocess.TimeoutExpired:
            pass
        return self.end(deadline)

    def end(self, deadline=DEADLINE):
        """Closes stdin and waits; a process still there after `deadline`
        is killed. Returns (exit status, whether it hung)."""
        hung = False
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(deadline)
            except subprocess.TimeoutExpired:
                hung = True
                self.process.kill()
                self.process.wait()
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            if stream is not None:
                stream.close()
        return self.process.returncode, hung


class TempServer(HarnessProcess):
    """A harness process whose working folder `work` lies in a fresh
    temporary folder `base`, removed when it stops. A subclass makes the
    folders, then calls start()."""

    def __init__(self, prefix):
        self.base = tempfile.mkdtemp(prefix=prefix)
        self.work = os.path.join(self.base, "work")
        os.mkdir(self.work)

    def start(self, args, env=None, read_ports=lambda: None):
        """Starts the process and reads its ports; a start that fails ends
        the process and removes the folder."""
        try:
            super().__init__(args, env)
            read_ports()
        except BaseException:
            if hasattr(self, "process"):
                self.process.kill()
                self.end()
            shutil.rmtree(self.base, ignore_errors=True)
            raise

    def stop(self, deadline=DEADLINE):
        """Stops the harness; a sanitizer report or a hang fails the test.
        Returns the seconds the harness took to end."""
        started = time.monotonic()
        status, hung = self.end(deadline)
        took = time.monotonic() - started
        shutil.rmtree(self.base, ignore_errors=True)
        if hung or status != 0:
            raise AssertionError("harness ended badly (exit %s)" % status)
        return took


def first_lines_at_once(port, count, source="127.0.0.1"):
    """Opens `count` connections at the same moment and returns each one's
    first line with its open LineClient, in no particular order."""
    results = []
    lock = threading.Lock()
    start = threading.Barrier(count)

    def one():
        start.wait()
        client = LineClient(port, source)
        line = client.line()
        with lock:
            results.append((line, client))

    threads = [threading.Thread(target=one) for _ in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return results


class LineClient:
    """A raw connection to a line-based protocol (lines end in CRLF) that
    returns what the server sent exactly."""

    def __init__(self, port, source="127.0.0.1"):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=DEADLINE,
                                             source_address=(source, 0))
        self.buffer = b""

    def _fill(self, enough):
        while not enough():
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError("connection closed; unread: %r" % self.buffer)
            self.buffer += chunk

    def raw_line(self):
        self._fill(lambda: b"\r\n" in self.buffer)
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line

    def line(self):
        return self.raw_line().decode("latin-1")

    def read_exact(self, count):
        self._fill(lambda: len(self.buffer) >= count)
        data, self.buffer = self.buffer[:count], self.buffer[count:]
        return data

    def read_through(self, mark=b"\r\n.\r\n"):
        """Bytes up to and including the first end mark."""
        self._fill(lambda: mark in self.buffer)
        end = self.buffer.index(mark) + len(mark)
        data, self.buffer = self.buffer[:end], self.buffer[end:]
        return data

    def send_bytes(self, data):
        if isinstance(data, str):
            data = data.encode("latin-1")
        self.sock.sendall(data)

    def send_line(self, text):
        if isinstance(text, str):
            text = text.encode("latin-1")
        self.sock.sendall(text + b"\r\n")

    def reply(self):
        return self.line()

    def cmd(self, text):
        self.send_line(text)
        return self.reply()

    def closed_by_server(self, reset_is_close=True):
        """True once the server has closed the connection (within the
        socket's time-out). A reset counts as closed unless the caller
        says otherwise: the server closed with our bytes still unread."""
        try:
            while True:
                chunk = self.sock.recv(65536)
                if not chunk:
                    return True
                self.buffer += chunk
        except ConnectionResetError:
            return reset_is_close
        except socket.timeout:
            return False

    def close(self):
        self.sock.close()
