"""Checks shared by the installation tests: an installed tree below a
prefix (from cmake --install or from the Debian package) holds every file
in its place, each valid for the tool that reads it."""

import os
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import xml.dom.minidom

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
ICON_SIZES = (16, 32, 48, 64, 128, 256)
SAMPLE_SITE = ("index.html", "files/about.html", "files/readme.txt", "images/vantrel.png")
TASK_COMMANDS = ("ftp-account", "http-site", "http-domain", "mail-account", "mail-routing",
                 "autostart")
UNIT = "lib/systemd/system/vantrel-server.service"
TMPFILES = "lib/tmpfiles.d/vantrel-server.conf"

# Below the prefix.
EXPECTED = (
    ["bin/vantrel-server", "bin/vantrel-settings", UNIT, TMPFILES,
     "share/applications/vantrel-server.desktop",
     "share/doc/vantrel-server/README.md",
     "share/man/man1/vantrel-server.1", "share/man/man1/vantrel-settings.1",
     "share/icons/hicolor/scalable/apps/vantrel-server.svg"]
    + ["share/icons/hicolor/%dx%d/apps/vantrel-server.png" % (s, s) for s in ICON_SIZES]
    + ["share/vantrel-server/sample-site/" + f for f in SAMPLE_SITE])


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=120, **kwargs)


def wait_for(condition, limit, what):
    deadline = time.monotonic() + limit
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.01)


def desktop_exec_arguments(value):
    """The arguments of a desktop file's Exec value: its string escapes
    undone, then split by the Desktop Entry quoting rules (inside double
    quotes a backslash escapes '"', '`', '$' and itself)."""
    value = value.replace("\\\\", "\0").replace("\\s", " ").replace("\0", "\\")
    arguments, current, quoted, started, i = [], "", False, False, 0
    while i < len(value):
        c = value[i]
        if quoted and c == "\\" and i + 1 < len(value) and value[i + 1] in '"`$\\':
            current += value[i + 1]
            i += 1
        elif c == '"':
            quoted, started = not quoted, True
        elif c == " " and not quoted:
            if started:
                arguments.append(current)
            current, started = "", False
        else:
            current, started = current + c, True
        i += 1
    assert not quoted, value
    if started:
        arguments.append(current)
    return arguments


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR", path
    return struct.unpack(">II", head[16:24])


def unit_settings(path):
    """The unit's "Key=value" lines as {key: [values]}."""
    settings = {}
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith(("#", "[")):
                key, value = line.split("=", 1)
                settings.setdefault(key, []).append(value)
    return settings


def systemd_analyze_usable(scratch):
    """systemd-analyze verify needs little of a running system, but not
    nothing: a unit that is certainly valid tells whether it works here."""
    if shutil.which("systemd-analyze") is None:
        return "systemd-analyze is not installed"
    probe = os.path.join(scratch, "vt-probe.service")
    with open(probe, "w") as f:
        f.write("[Service]\nType=oneshot\nExecStart=/bin/true\n")
    result = run(["systemd-analyze", "verify", probe])
    if result.returncode != 0:
        return "systemd-analyze verify fails on a valid unit: " + result.stderr.strip()
    return None


class InstalledTree:
    """The checks, for a test case `test` (a unittest.TestCase)."""

    def __init__(self, test, prefix, program_path):
        # program_path: where the unit must find the program once installed.
        self.test = test
        self.prefix = prefix
        self.program_path = program_path

    def path(self, relative):
        return os.path.join(self.prefix, relative)

    def check_all(self):
        self.check_files()
        self.check_icons()
        self.check_desktop_file()
        self.check_manual_pages()
        self.check_copies()
        self.check_unit()
        self.check_programs()

    def check_files(self):
        missing = [f for f in EXPECTED if not os.path.isfile(self.path(f))]
        self.test.assertEqual(missing, [])
        for program in ("bin/vantrel-server", "bin/vantrel-settings"):
            self.test.assertTrue(os.access(self.path(program), os.X_OK), program)

    def check_icons(self):
        for size in ICON_SIZES:
            icon = self.path("share/icons/hicolor/%dx%d/apps/vantrel-server.png" % (size, size))
            self.test.assertEqual(png_size(icon), (size, size))
        svg = xml.dom.minidom.parse(self.path("share/icons/hicolor/scalable/apps/vantrel-server.svg"))
        self.test.assertEqual(svg.documentElement.tagName, "svg")

    def check_desktop_file(self):
        desktop = self.path("share/applications/vantrel-server.desktop")
        result = run(["desktop-file-validate", desktop])
        self.test.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))
        with open(desktop) as f:
            lines = f.read().splitlines()
        self.test.assertIn("Icon=vantrel-server", lines)
        categories = [l for l in lines if l.startswith("Categories=")]
        self.test.assertEqual(len(categories), 1)
        self.test.assertIn("Network", categories[0][len("Categories="):].split(";"))
        self.check_launcher([l[len("Exec="):] for l in lines if l.startswith("Exec=")][0])

    def check_launcher(self, exec_value):
        """The launcher's command, run as the desktop runs it for a user,
        keeps the data below the user's ~/.local/share."""
        with tempfile.TemporaryDirectory(prefix="vt-launcher-") as scratch:
            home = os.path.join(scratch, "home")
            tmpdir = os.path.join(scratch, "tmp")
            os.makedirs(home)
            os.makedirs(tmpdir)
            env = {k: v for k, v in os.environ.items()
                   if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_DATA_HOME")}
            env.update(HOME=home, TMPDIR=tmpdir, PATH=self.path("bin") + ":/usr/bin:/bin")
            data = os.path.join(home, ".local", "share", "vantrel-server")
            process = subprocess.Popen(desktop_exec_arguments(exec_value), cwd=home, env=env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            try:
                wait_for(lambda: os.path.isdir(os.path.join(data, "logs")) or
                         process.poll() is not None, 20, "the launcher's data folder")
                self.test.assertIsNone(process.poll(), "the launched program ended")
                process.send_signal(signal.SIGTERM)
                self.test.assertEqual(process.wait(timeout=30), 0)
            finally:
                if process.poll() is None:
                    process.kill()
                    process.wait()
                process.stderr.close()
            self.test.assertTrue(os.path.isfile(os.path.join(data, "general.dat")))
            self.test.assertEqual(sorted(os.listdir(home)), [".local"])

    def check_manual_pages(self):
        for page in ("vantrel-server", "vantrel-settings"):
            result = run(["groff", "-t", "-man", "-ww", "-z", self.path("share/man/man1/%s.1" % page)])
            self.test.assertEqual((result.returncode, result.stderr), (0, ""), page)
        shown = run(["man", "-l", "-P", "cat", self.path("share/man/man1/vantrel-settings.1")],
                    env=dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8"))
        self.test.assertEqual(shown.returncode, 0, shown.stderr)
        text = shown.stdout.replace("\u2010", "-")
        for command in TASK_COMMANDS + ("set-text-fixed", "--data-dir"):
            self.test.assertIn(command, text)

    def check_copies(self):
        pairs = [("README.md", "share/doc/vantrel-server/README.md")]
        pairs += [("share/sample-site/" + f, "share/vantrel-server/sample-site/" + f)
                  for f in SAMPLE_SITE]
        for source, installed in pairs:
            with open(os.path.join(SOURCE, source), "rb") as a, open(self.path(installed), "rb") as b:
                self.test.assertEqual(a.read(), b.read(), installed)

    def check_unit(self):
        unit = self.path(UNIT)
        settings = unit_settings(unit)
        expected = {
            "ExecStart": [self.program_path + " --data-dir /var/lib/vantrel-server"],
            "User": ["vantrel"],
            "WorkingDirectory": ["/var/lib/vantrel-server"],
            "StateDirectory": ["vantrel-server"],
            "AmbientCapabilities": ["CAP_NET_BIND_SERVICE"],
            "CapabilityBoundingSet": ["CAP_NET_BIND_SERVICE"],
            "NoNewPrivileges": ["yes"],
            "Restart": ["on-failure"],
            "KillSignal": ["SIGTERM"],
        }
        for key, values in expected.items():
            self.test.assertEqual(settings.get(key), values, key)
        environment = " ".join(settings.get("Environment", [])).split()
        self.test.assertIn("QT_QPA_PLATFORM=offscreen", environment)
        self.test.assertIn("TMPDIR=/run/vantrel-server", environment)
        self.test.assertIn("XDG_RUNTIME_DIR=/run/vantrel-server/runtime", environment)
        self.test.assertEqual(settings.get("RuntimeDirectory"), ["vantrel-server"])
        with open(self.path(TMPFILES)) as f:
            entries = [l.split() for l in f if l.strip() and not l.startswith("#")]
        self.test.assertEqual(entries, [["d", "/run/vantrel-server", "0750", "vantrel", "vantrel", "-"]])

        with tempfile.TemporaryDirectory(prefix="vt-unit-") as scratch:
            reason = systemd_analyze_usable(scratch)
            if reason is not None:
                print("SKIPPED: systemd-analyze verify of the unit: " + reason)
                return
            # The copy names the program where this tree has it.
            copy = os.path.join(scratch, "vantrel-server.service")
            with open(unit) as f, open(copy, "w") as out:
                out.write(f.read().replace("ExecStart=" + self.program_path,
                                           "ExecStart=" + self.path("bin/vantrel-server")))
            result = run(["systemd-analyze", "verify", copy],
                         env=dict(os.environ, MANPATH=self.path("share/man")))
            self.test.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))

    def check_programs(self):
        result = run([self.path("bin/vantrel-server"), "--version"])
        self.test.assertEqual(result.returncode, 0, result.stderr)
        self.test.assertEqual(result.stdout.splitlines()[0], "Vantrel Server 2.33")
        result = run([self.path("bin/vantrel-settings"), "--help"])
        self.test.assertEqual(result.returncode, 0, result.stderr)
