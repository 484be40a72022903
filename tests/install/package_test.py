"""The Debian package made by cpack -G DEB from the built tree: its
contents, fields and dependencies, the installed tree (dpkg -x), and its
maintainer scripts run against stand-ins for the system's commands: the
system user is made, the service is never enabled or started.
    package_test.py BUILD_DIR"""

import glob
import os
import stat
import sys
import tempfile
import unittest

from install_checks import EXPECTED, InstalledTree, run

BUILD = None
DEPENDS = ("adduser", "libqt6core6", "libqt6gui6", "libqt6widgets6", "libc6")


def stand_in(folder, name, body):
    path = os.path.join(folder, name)
    with open(path, "w") as f:
        f.write("#!/bin/sh\n" + body + "\n")
    os.chmod(path, 0o755)


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.holder = tempfile.TemporaryDirectory(prefix="vt-package-")
        cls.scratch = cls.holder.name
        result = run(["cpack", "-G", "DEB", "-B", os.path.join(cls.scratch, "out"),
                      "--config", os.path.join(BUILD, "CPackConfig.cmake")])
        assert result.returncode == 0, result.stdout + result.stderr
        packages = glob.glob(os.path.join(cls.scratch, "out", "*.deb"))
        assert len(packages) == 1, packages
        cls.package = packages[0]

    @classmethod
    def tearDownClass(cls):
        cls.holder.cleanup()

    def field(self, name):
        result = run(["dpkg-deb", "--field", self.package, name])
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.strip()

    def test_fields(self):
        self.assertEqual(os.path.basename(self.package),
                         "vantrel-server_2.33_%s.deb" % self.field("Architecture"))
        self.assertEqual(self.field("Package"), "vantrel-server")
        self.assertEqual(self.field("Version"), "2.33")
        self.assertEqual(self.field("Section"), "net")
        depends = [d.strip().split(" ")[0] for d in self.field("Depends").split(",")]
        for package in DEPENDS:
            self.assertIn(package, depends)
        # TLS: libssl3, named libssl3t64 from Debian 13 on.
        self.assertTrue([d for d in depends if d.startswith("libssl3")], depends)

    def test_contents_and_installed_tree(self):
        result = run(["dpkg-deb", "--contents", self.package])
        self.assertEqual(result.returncode, 0, result.stderr)
        listed = {line.split()[-1] for line in result.stdout.splitlines()}
        for relative in EXPECTED:
            self.assertIn("./usr/" + relative, listed)
        self.assertFalse([p for p in listed if p.startswith("./var/") or "/local/" in p], listed)

        root = os.path.join(self.scratch, "root")
        result = run(["dpkg-deb", "-x", self.package, root])
        self.assertEqual(result.returncode, 0, result.stderr)
        InstalledTree(self, os.path.join(root, "usr"), "/usr/bin/vantrel-server").check_all()

    def maintainer_scripts(self):
        control = os.path.join(self.scratch, "control")
        if not os.path.isdir(control):
            result = run(["dpkg-deb", "-e", self.package, control])
            self.assertEqual(result.returncode, 0, result.stderr)
        return control

    def run_script(self, name, argument, user_exists):
        """Runs one maintainer script with stand-ins that record every call
        of getent, adduser, systemctl and deb-systemd-* instead of acting."""
        stand_ins = tempfile.mkdtemp(dir=self.scratch)
        log = os.path.join(stand_ins, "calls")
        record = 'echo "$(basename "$0") $*" >>"%s"' % log
        stand_in(stand_ins, "getent", record + "\nexit %d" % (0 if user_exists else 2))
        for command in ("adduser", "useradd", "systemctl", "deb-systemd-helper",
                        "deb-systemd-invoke", "systemd-sysusers", "systemd-tmpfiles"):
            stand_in(stand_ins, command, record)
        script = os.path.join(self.maintainer_scripts(), name)
        result = run(["sh", script, argument],
                     env=dict(os.environ, PATH=stand_ins + ":/usr/bin:/bin"))
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        if not os.path.exists(log):
            return []
        with open(log) as f:
            return f.read().splitlines()

    def test_maintainer_scripts(self):
        control = self.maintainer_scripts()
        for name in ("postinst", "prerm", "postrm"):
            mode = os.stat(os.path.join(control, name)).st_mode
            self.assertTrue(mode & stat.S_IXUSR, name)
            self.assertEqual(run(["sh", "-n", os.path.join(control, name)]).returncode, 0, name)

        calls = self.run_script("postinst", "configure", user_exists=False)
        made = [c for c in calls if c.startswith("adduser ")]
        self.assertEqual(len(made), 1, calls)
        words = made[0].split()
        for word in ("--system", "--group", "vantrel"):
            self.assertIn(word, words)
        self.assertEqual(words[words.index("--home") + 1], "/var/lib/vantrel-server")
        self.assertIn("systemd-tmpfiles --create vantrel-server.conf", calls)
        self.assertLess(calls.index(made[0]), calls.index("systemd-tmpfiles --create vantrel-server.conf"))
        calls = self.run_script("postinst", "configure", user_exists=True)
        self.assertFalse([c for c in calls if c.startswith("adduser ")], calls)

        # Disabled until the operator enables it, on install and upgrade.
        for script, argument in (("postinst", "configure"), ("prerm", "upgrade"),
                                 ("prerm", "remove"), ("postrm", "remove")):
            calls = self.run_script(script, argument, user_exists=True)
            for call in calls:
                self.assertNotRegex(call, r"\b(enable|start|userdel|deluser)\b", script)
        with open(os.path.join(control, "postrm")) as f:
            self.assertNotRegex(f.read(), r"rm\s+-\w*r\w*\s+\S*var/lib")


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main()
