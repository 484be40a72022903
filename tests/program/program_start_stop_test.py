#!/usr/bin/env python3
"""Starts the built program without a display in a fresh folder, checks that
it prepares its folders, refuses a second copy while it runs, and on SIGTERM
saves general.dat and exits with status 0."""

import os
import signal
import struct
import subprocess
import sys
import tempfile
import time

FOLDERS = ("logs", "email", "ftp", "http")
ALREADY_RUNNING = "Vantrel Server 2.33 is already running."


def wait_for(condition, limit, what):
    deadline = time.monotonic() + limit
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.02)


def read_settings(path):
    """general.dat: version 3, record count, then per record a 300-byte
    zero-padded name, a 32-bit length and the value (little-endian)."""
    with open(path, "rb") as f:
        data = f.read()
    version, count = struct.unpack_from("<ii", data, 0)
    assert version == 3, version
    offset, values = 8, {}
    for _ in range(count):
        name = data[offset:offset + 300].split(b"\0", 1)[0].decode("latin-1")
        (length,) = struct.unpack_from("<i", data, offset + 300)
        value = data[offset + 304:offset + 304 + length]
        values[name] = struct.unpack("<i", value)[0] if length == 4 else value
        offset += 304 + length
    assert offset == len(data), (offset, len(data))
    return values


def main():
    program = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory(prefix="vt-program-") as top:
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        env["TMPDIR"] = os.path.join(top, "tmp")  # private instance lock
        first_dir = os.path.join(top, "first")
        second_dir = os.path.join(top, "second")
        for folder in (env["TMPDIR"], first_dir, second_dir):
            os.mkdir(folder)

        first_err = open(os.path.join(top, "first.err"), "w+")
        first = subprocess.Popen([program], cwd=first_dir, env=env,
                                 stdout=subprocess.DEVNULL, stderr=first_err)
        try:
            wait_for(lambda: all(os.path.isdir(os.path.join(first_dir, f)) for f in FOLDERS)
                     or first.poll() is not None, 20, "the four folders")
            assert first.poll() is None, "program ended early"

            second = subprocess.run([program], cwd=second_dir, env=env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                    timeout=30)
            message = second.stderr.decode("latin-1")
            assert second.returncode != 0, "second copy did not refuse"
            assert ALREADY_RUNNING in message, message
            assert os.listdir(second_dir) == [], os.listdir(second_dir)
            assert first.poll() is None, "first copy ended"

            first.send_signal(signal.SIGTERM)
            status = first.wait(timeout=30)
        finally:
            if first.poll() is None:
                first.kill()
                first.wait()
        first_err.seek(0)
        assert status == 0, "exit status %d\n%s" % (status, first_err.read())

        values = read_settings(os.path.join(first_dir, "general.dat"))
        assert values.get("loadedbefore") == 1, values
        assert values.get("hide") == 0, values
    print("program start, refusal and SIGTERM: ok")


if __name__ == "__main__":
    main()
