"""Shared by the tests that run the built program: a private temporary
folder (the instance lock lives there), settings files written and read in
their binary layout, bounded waits, and one started program."""

import fcntl
import os
import socket
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
from harness_support import trusting_context  # noqa: E402,F401

FOLDERS = ("logs", "email", "ftp", "http")
START_DEADLINE_S = 20
STOP_DEADLINE_S = 30


def wait_for(condition, limit, what):
    deadline = time.monotonic() + limit
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.01)


def listening(port):
    """Something accepts connections on the loopback port."""
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


def settings_bytes(records):
    """A .dat file: version 3, record count, then per record a 300-byte
    zero-padded name, a 32-bit length and the value (little-endian).
    Integers are stored as 4 bytes, texts with their terminating zero."""
    out = struct.pack("<ii", 3, len(records))
    for name, value in records:
        if isinstance(value, int):
            value = struct.pack("<i", value)
        elif isinstance(value, str):
            value = value.encode("latin-1") + b"\0"
        out += name.encode("latin-1").ljust(300, b"\0") + struct.pack("<i", len(value)) + value
    return out


def write_settings(path, records):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(settings_bytes(records))


def read_settings(path):
    """The records of a .dat file as {name: int or bytes}; a file that does
    not parse whole fails the test."""
    with open(path, "rb") as f:
        data = f.read()
    version, count = struct.unpack_from("<ii", data, 0)
    assert version == 3, version
    offset, values = 8, {}
    for _ in range(count):
        name = data[offset:offset + 300].split(b"\0", 1)[0].decode("latin-1")
        (length,) = struct.unpack_from("<i", data, offset + 300)
        value = data[offset + 304:offset + 304 + length]
        assert len(value) == length, "cut inside " + name
        values[name] = struct.unpack("<i", value)[0] if length == 4 else value
        offset += 304 + length
    assert offset == len(data), (offset, len(data))
    return values


def seed_settings(data, ftp_autostart=0):
    """A data folder that has been run before: general.dat (with a key of
    its own that only a load and save keeps), the FTP and HTTP files. Once
    the program has loaded them, logs/ftplog_0.txt exists."""
    write_settings(os.path.join(data, "general.dat"),
                   [("loadedbefore", 1), ("hide", 0), ("seeded", 7)])
    write_settings(os.path.join(data, "ftp.dat"),
                   [("logfilecount", 0), ("autostart", ftp_autostart), ("welcome", "Seeded.")])
    write_settings(os.path.join(data, "ftpaccounts.dat"), [("NONE", "ann")])
    write_settings(os.path.join(data, "ftp", "ann.dat"),
                   [("folder", data + "/"), ("pass", "pw"), ("rights", 9)])
    write_settings(os.path.join(data, "httpdomains.dat"), [])
    write_settings(os.path.join(data, "http.dat"),
                   [("logfilecount", 0), ("port", 0), ("admin", "pw"), ("defaultfolder", ""),
                    ("defaultpage", "index.html"), ("folderview", 0), ("autostart", 0)])


def loaded(data):
    """True once the program has loaded its settings (FTP loads last)."""
    return os.path.exists(os.path.join(data, "logs", "ftplog_0.txt"))


def program_environment(tmpdir):
    """No display, and no runtime folder for Qt, as under systemd."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR")}
    env["TMPDIR"] = tmpdir
    return env


class Workspace:
    """A fresh top folder with a private TMPDIR; data folders below it."""

    def __init__(self, prefix="vt-program-"):
        self.holder = tempfile.TemporaryDirectory(prefix=prefix)
        self.top = self.holder.name
        self.tmpdir = os.path.join(self.top, "tmp")
        os.mkdir(self.tmpdir)
        self.env = program_environment(self.tmpdir)

    def data_folder(self, name):
        path = os.path.join(self.top, name)
        os.makedirs(path, exist_ok=True)
        return path

    def close(self):
        self.holder.cleanup()


class Program:
    """The program started in a data folder, or started in the folder `cwd`
    with arguments such as --data-dir; its standard error is collected
    through a pipe (a file would fall under file size limits)."""

    def __init__(self, binary, data, env, preexec_fn=None, args=(), cwd=None):
        self.data = data
        self.process = subprocess.Popen([binary, *args], cwd=cwd or data, env=env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE, preexec_fn=preexec_fn)
        self.collected = []
        self.reader = threading.Thread(target=self._collect, daemon=True)
        self.reader.start()

    def _collect(self):
        for chunk in iter(lambda: self.process.stderr.read1(4096), b""):
            self.collected.append(chunk)

    def running(self):
        return self.process.poll() is None

    def wait_loaded(self):
        wait_for(lambda: loaded(self.data) or not self.running(), START_DEADLINE_S,
                 "the settings to load")
        assert self.running(), "program ended early:\n" + self.stderr()

    def wait_listening(self, ports, limit=START_DEADLINE_S):
        """Every port listens; fails with what the program said if it ends first."""
        for port in ports:
            wait_for(lambda: listening(port) or not self.running(), limit, "port %d" % port)
            assert self.running(), "program ended early:\n" + self.stderr()

    def terminate(self):
        """SIGTERM; returns the exit status."""
        if self.running():
            self.process.send_signal(signal.SIGTERM)
        return self.wait()

    def wait(self):
        try:
            return self.process.wait(timeout=STOP_DEADLINE_S)
        finally:
            self.kill()

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.reader.join(STOP_DEADLINE_S)
        self.process.stderr.close()

    def stderr(self):
        """What the program said so far; all of it once it has ended."""
        if self.process.poll() is not None:
            self.reader.join(STOP_DEADLINE_S)
        return b"".join(self.collected).decode("latin-1")


def run_settings(binary, space, data, *words, expect=0):
    """vantrel-settings on a data folder, in the workspace's environment;
    fails unless it exits with `expect`."""
    result = subprocess.run([binary, "--data-dir", data, *words], env=space.env, cwd=space.top,
                            capture_output=True, text=True, timeout=60)
    if result.returncode != expect:
        raise AssertionError("%s: exit %d: %s" % (" ".join(words), result.returncode, result.stderr))
    return result


def check_broken_certificate(test, binary, port, command):
    """For a test with settings(), space and data whose program has TLS on:
    with a certificate file that cannot be loaded the program says so and
    `port` stays closed, and switching TLS on with the task command
    `command` ("ftp-site", "mail-routing") is refused with the reason."""
    with open(os.path.join(test.data, "tls", "certificate.pem"), "w") as f:
        f.write("not a certificate\n")
    program = Program(binary, test.data, test.space.env)
    test.addCleanup(program.kill)
    wait_for(lambda: "could not be loaded" in program.stderr() or not program.running(), START_DEADLINE_S,
             "the certificate's failure")
    test.assertFalse(listening(port))
    test.assertEqual(program.terminate(), 0, program.stderr())
    test.settings(command, "set", "--tls", "off")
    refused = test.settings(command, "set", "--tls", "require", expect=1)
    test.assertIn("TLS Error: The certificate could not be loaded: ", refused.stderr)


def leftovers(folder):
    """Temporary files of saves below the folder."""
    found = []
    for root, _, files in os.walk(folder):
        found += [os.path.join(root, f) for f in files if f.endswith(".tmp")]
    return found


SKIP = 77
_INSIDE = "VT_PROGRAM_TEST_INSIDE"


def _loopback_up():
    """Brings up lo in the new network namespace (SIOCSIFFLAGS)."""
    siocgifflags, siocsifflags, iff_up = 0x8913, 0x8914, 0x1
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        request = struct.pack("16sh", b"lo", 0)
        flags = struct.unpack("16sh", fcntl.ioctl(s, siocgifflags, request))[1]
        fcntl.ioctl(s, siocsifflags, struct.pack("16sh", b"lo", flags | iff_up))


def binaries_from_command_line(script, private_network=True):
    """The program and vantrel-settings, the first two arguments, made
    absolute; with private_network, first runs `script` again in a network
    namespace of its own (see enter_private_network)."""
    if private_network:
        enter_private_network(script)
    program = os.path.abspath(sys.argv.pop(1))
    settings = os.path.abspath(sys.argv.pop(1))
    return program, settings


def enter_private_network(script):
    """Runs the calling test script again in a user and network namespace of
    its own, where the program may bind its fixed ports on a private
    loopback, and exits with its status; inside, brings loopback up. Exits
    with SKIP where namespaces cannot be had."""
    if os.environ.get(_INSIDE) != "1":
        command = ["unshare", "--user", "--map-root-user", "--net", sys.executable,
                   os.path.abspath(script)] + sys.argv[1:]
        try:
            result = subprocess.run(command, env=dict(os.environ, **{_INSIDE: "1"}))
        except FileNotFoundError:
            print("unshare is missing: skipped")
            sys.exit(SKIP)
        sys.exit(result.returncode)
    try:
        _loopback_up()
    except OSError as error:
        print("no private network namespace (%s): skipped" % error)
        sys.exit(SKIP)
