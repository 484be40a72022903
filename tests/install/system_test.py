"""The Debian package on a booted Debian 12 system. A minimal system made
with debootstrap (kept in the build folder, so that a rerun skips that
step) boots with systemd-nspawn in a network of its own, on a throw-away
layer over that tree; the package made by cpack is installed there with
dpkg and the service enabled. While it runs, vantrel-settings gives it a
mail account, an FTP account and an HTTP domain and starts the servers, and
python3's clients and curl use FTP, SMTP, POP3 and HTTP. The service runs
as "vantrel" with CAP_NET_BIND_SERVICE alone, keeps what was set across a
restart, stops cleanly, and its journal holds the program's own messages
and nothing of Qt's.

Skipped (status 77) without root, debootstrap, systemd-nspawn or nsenter,
without the Debian archive while no system tree is kept, or where no
container boots.
    system_test.py BUILD_DIR"""

import glob
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SKIP = 77
SUITE = "bookworm"
MIRROR = os.environ.get("VT_DEBIAN_MIRROR", "http://deb.debian.org/debian")
# For booting, the clients and running a command as the service's user; the
# package's own dependencies come from its Depends field.
BASE_PACKAGES = ("systemd", "dbus", "python3", "curl", "sudo")
UNREACHABLE = ("Failed getting release", "Couldn't download", "Could not resolve",
               "Temporary failure resolving", "Connection refused", "Network is unreachable")
DEBOOTSTRAP_LIMIT_S = 600
BOOT_LIMIT_S = 120
DEADLINE_S = 30
PATH = "/usr/sbin:/usr/bin:/sbin:/bin"
UNIT = "vantrel-server.service"
DATA = "/var/lib/vantrel-server"
SETTINGS = ("sudo", "-u", "vantrel", "env", "TMPDIR=/run/vantrel-server", "vantrel-settings",
            "--data-dir", DATA)
CLIENTS = "/mnt/vt/system_clients.py"
HELLO = "hello from the booted system\n"
UPLOADED = "stored through the service\n"
SAMPLE_SITE = "/usr/share/vantrel-server/sample-site/"
ONLY_BIND_SERVICE = "0000000000000400"  # bit 10, CAP_NET_BIND_SERVICE
QT_NOISE = ("QStandardPaths", "XDG_RUNTIME_DIR", "propagateSizeHints", "This plugin", "qt.qpa")
FTP_REFUSED = "FTP Error: Activation of FTP server failed."


class Skip(Exception):
    pass


def run(command, limit=120, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=limit, **kwargs)


def wait_for(condition, limit, what, said=None):
    deadline = time.monotonic() + limit
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what + (":\n" + said() if said else ""))
        time.sleep(0.05)


def make_package(build, out):
    result = run(["cpack", "-G", "DEB", "-B", out, "--config",
                  os.path.join(build, "CPackConfig.cmake")], limit=300)
    assert result.returncode == 0, result.stdout + result.stderr
    packages = glob.glob(os.path.join(out, "*.deb"))
    assert len(packages) == 1, packages
    return packages[0]


def dependencies(package):
    """The package names of its Depends field, the first of each choice."""
    result = run(["dpkg-deb", "--field", package, "Depends"])
    assert result.returncode == 0, result.stderr
    return [d.split("|")[0].split()[0] for d in result.stdout.split(",") if d.strip()]


def remove_tree(path):
    """Removes a tree in which a debootstrap that was ended may have left
    /proc, /sys or the host's devices mounted: they are unmounted first,
    and nothing is removed while one stays."""
    def mounted():
        with open("/proc/self/mounts") as f:
            points = [line.split()[1] for line in f]
        return sorted((p for p in points if p.startswith(path + "/")), reverse=True)
    for point in mounted():
        subprocess.run(["umount", "--lazy", point], capture_output=True)
    left = mounted()
    assert not left, "still mounted: %s" % left
    shutil.rmtree(path, ignore_errors=True)


def system_tree(build, packages):
    """A minimal Debian system with `packages`, made once per build folder
    and list of packages; a tree that was not finished is never used."""
    folder = os.path.join(build, "system-test")
    tree, stamp, partial = (os.path.join(folder, n) for n in ("tree", "tree.key", "tree.partial"))
    key = json.dumps({"suite": SUITE, "mirror": MIRROR, "packages": sorted(packages)})
    if os.path.isdir(tree) and os.path.isfile(stamp):
        with open(stamp) as f:
            if f.read() == key:
                return tree
    for old in (tree, partial):
        remove_tree(old)
    os.makedirs(folder, exist_ok=True)
    began = time.monotonic()
    command = ["debootstrap", "--variant=minbase", "--include=" + ",".join(sorted(packages)),
               SUITE, partial, MIRROR]
    try:
        result = run(command, limit=DEBOOTSTRAP_LIMIT_S)
    except subprocess.TimeoutExpired:
        remove_tree(partial)
        raise Skip("debootstrap from %s took over %d s" % (MIRROR, DEBOOTSTRAP_LIMIT_S))
    if result.returncode != 0:
        said = result.stdout + result.stderr
        remove_tree(partial)
        if any(u in said for u in UNREACHABLE):
            raise Skip("the Debian archive %s cannot be reached: %s" % (MIRROR, said.strip().splitlines()[-1]))
        raise AssertionError("debootstrap failed:\n" + said[-4000:])
    os.rename(partial, tree)
    with open(stamp, "w") as f:
        f.write(key)
    print("made the system tree in %.0f s" % (time.monotonic() - began))
    return tree


class Container:
    """The tree booted by systemd-nspawn: its changes go to a layer that
    ends with it, it has a loopback network of its own, and `shared` is
    read-only at /mnt/vt. Commands run in it through nsenter."""

    def __init__(self, tree, shared, log_path):
        self.name = "vt-system-%d" % os.getpid()
        self.log_path = log_path
        self.leader = None
        with open(log_path, "w") as log:
            self.process = subprocess.Popen(
                ["systemd-nspawn", "--quiet", "--directory", tree, "--volatile=overlay",
                 "--register=no", "--keep-unit", "--private-network", "--machine", self.name,
                 "--bind-ro=%s:/mnt/vt" % shared, "--console=pipe", "--boot"],
                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)

    def said(self):
        with open(self.log_path, errors="replace") as f:
            return f.read()[-4000:]

    def find_leader(self):
        """The container's init: the child of nspawn that is PID 1 of a PID
        namespace of its own."""
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/status" % entry) as f:
                    fields = dict(l.split(":", 1) for l in f.read().splitlines() if ":" in l)
            except OSError:
                continue
            if (fields.get("PPid", "").strip() == str(self.process.pid)
                    and fields.get("NSpid", "").split()[-1:] == ["1"]):
                self.leader = int(entry)
                return True
        return False

    def boot(self):
        """Waits until systemd in the container has reached its default
        target; Skip where the container does not come up."""
        try:
            wait_for(lambda: self.process.poll() is not None or self.find_leader(), DEADLINE_S,
                     "the container's init")
        except AssertionError:
            raise Skip("systemd-nspawn started no container here:\n" + self.said())
        if self.leader is None:
            raise Skip("systemd-nspawn cannot boot a container here (status %s):\n%s"
                       % (self.process.returncode, self.said()))
        # "offline" until systemd answers, then "initializing", "starting".
        state = "offline"

        def settled():
            nonlocal state
            if self.process.poll() is not None:
                return True
            state = self.run("systemctl", "is-system-running").stdout.strip()
            return state in ("running", "degraded", "maintenance", "stopping")
        try:
            wait_for(settled, BOOT_LIMIT_S, "the boot")
        except AssertionError:
            pass
        if state not in ("running", "degraded") or self.process.poll() is not None:
            raise Skip("the container did not finish booting (%s):\n%s" % (state, self.said()))
        if state == "degraded":
            print("booted degraded:\n" + self.run("systemctl", "--failed", "--no-pager").stdout)

    def run(self, *command, limit=60):
        return run(["nsenter", "--target", str(self.leader), "--all", "--root", "--wd",
                    "env", "-i", "PATH=" + PATH, "LANG=C.UTF-8", *command], limit=limit)

    def start(self, *command):
        """A command that runs on in the container; its standard input is a pipe."""
        return subprocess.Popen(["nsenter", "--target", str(self.leader), "--all", "--root", "--wd",
                                 "env", "-i", "PATH=" + PATH, *command], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def close(self):
        if self.process.poll() is None and self.leader is not None:
            try:
                self.run("systemctl", "poweroff", limit=30)
                self.process.wait(timeout=60)
            except subprocess.TimeoutExpired:
                pass
        if self.process.poll() is None:
            # Killing the container's init ends every process inside it.
            if self.leader is not None:
                try:
                    os.kill(self.leader, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            self.process.kill()
            self.process.wait()
        # nspawn leaves this behind where /run is not a tmpfs.
        shutil.rmtree("/run/systemd/nspawn/propagate/" + self.name, ignore_errors=True)


CONTAINER = None
PACKAGE = None


class BootedSystem(unittest.TestCase):
    def inside(self, *command, expect=0, limit=60):
        result = CONTAINER.run(*command, limit=limit)
        if expect is not None:
            self.assertEqual(result.returncode, expect,
                             "%s:\n%s%s" % (" ".join(command), result.stdout, result.stderr))
        return result

    def settings(self, *words, expect=0):
        return self.inside(*SETTINGS, *words, expect=expect)

    def property(self, name):
        return self.inside("systemctl", "show", "--property", name, "--value", UNIT).stdout.strip()

    def status_answered(self):
        self.status = self.settings("status", expect=None)
        return self.status.returncode == 0

    def wait_started(self):
        """The program's process id once it runs (Type=exec); its servers
        may still be starting."""
        wait_for(lambda: self.property("ActiveState") == "active", DEADLINE_S, "the service")
        return int(self.property("MainPID"))

    def journal(self):
        """What the service's processes wrote, one entry a line."""
        self.inside("journalctl", "--sync")
        return self.inside("journalctl", "--no-pager", "--output", "cat",
                           "_SYSTEMD_UNIT=" + UNIT).stdout.splitlines()

    def stop_cleanly(self):
        self.inside("systemctl", "stop", UNIT)
        self.assertEqual([self.property(p) for p in ("ActiveState", "Result", "ExecMainStatus")],
                         ["inactive", "success", "0"])

    def use_ftp(self):
        fetched = self.inside("python3", CLIENTS, "ftp", "ann", "pw").stdout
        self.assertEqual(fetched, HELLO)
        stored = self.inside("stat", "--format", "%U", "/srv/ftp/ann/upload.txt").stdout.strip()
        self.assertEqual(stored, "vantrel")
        self.assertEqual(self.inside("cat", "/srv/ftp/ann/upload.txt").stdout, UPLOADED)

    def fetch(self, host):
        return self.inside("curl", "--silent", "--show-error", "--max-time", str(DEADLINE_S),
                           "--header", "Host: " + host, "http://127.0.0.1/").stdout

    def test_the_service_on_a_booted_system(self):
        # Installed, the package makes its user and leaves the service off.
        self.inside("dpkg", "--install", "/mnt/vt/" + os.path.basename(PACKAGE), limit=120)
        self.assertEqual(self.inside("systemctl", "is-enabled", UNIT, expect=None).stdout.strip(),
                         "disabled")
        # A folder outside the data folder for FTP, writable through a
        # drop-in as the README tells; a site that is only read needs none.
        # sudo wants to resolve the host's name.
        self.inside("sh", "-ec", """
            echo "127.0.1.1 $(hostname)" >>/etc/hosts
            mkdir -p /srv/ftp/ann /srv/www/shop /etc/systemd/system/%s.d
            printf '%%s' "$1" >/srv/ftp/ann/hello.txt
            chown -R vantrel:vantrel /srv/ftp
            echo '<p>the shop</p>' >/srv/www/shop/index.html
            printf '[Service]\\nReadWritePaths=/srv/ftp\\n' >/etc/systemd/system/%s.d/folders.conf
            systemctl daemon-reload""" % (UNIT, UNIT), "sh", HELLO)

        self.inside("systemctl", "enable", "--now", UNIT)
        self.assertEqual(self.inside("systemctl", "is-enabled", UNIT).stdout.strip(), "enabled")
        pid = self.wait_started()
        status = dict(l.split(":", 1) for l in
                      self.inside("cat", "/proc/%d/status" % pid).stdout.splitlines())
        for field, option in (("Uid", "-u"), ("Gid", "-g")):
            expected = self.inside("id", option, "vantrel").stdout.strip()
            self.assertEqual(status[field].split(), [expected] * 4, field)
        for field in ("CapEff", "CapPrm", "CapBnd", "CapAmb"):
            self.assertEqual(status[field].strip(), ONLY_BIND_SERVICE, field)
        self.assertEqual(status["NoNewPrivs"].strip(), "1")
        # Qt's runtime folder, private to the service's user.
        runtime = lambda: self.inside("stat", "--format", "%a %U", "/run/vantrel-server/runtime",
                                      expect=None).stdout
        wait_for(lambda: runtime() != "", DEADLINE_S, "Qt's runtime folder")
        self.assertEqual(runtime(), "700 vantrel\n")

        # Set up while the service runs, once it answers.
        wait_for(self.status_answered, DEADLINE_S, "the running service's status",
                 lambda: "vantrel-settings status: %d\n%s%s" % (
                     self.status.returncode, self.status.stdout, self.status.stderr))
        self.settings("mail-account", "add", "joe", "--address", "joe@example.org",
                      "--password", "secret")
        self.settings("ftp-account", "add", "ann", "--password", "pw", "--folder", "/srv/ftp/ann",
                      "--rights", "file-read,folder-read,file-write")
        self.settings("http-site", "set", "--default-folder", SAMPLE_SITE)
        self.settings("http-domain", "add", "shop.example.org", "/srv/www/shop")
        self.settings("autostart", "ftp", "on")
        for service in ("ftp", "http", "email"):
            self.settings("service", service, "start")
        shown = self.settings("status").stdout
        self.assertEqual(shown.count("Online"), 3, shown)

        self.use_ftp()
        self.assertEqual(self.fetch("shop.example.org"), "<p>the shop</p>\n")
        self.assertEqual(self.fetch("www.example.org"),
                         self.inside("cat", SAMPLE_SITE + "index.html").stdout)
        message = self.inside("python3", CLIENTS, "mail", "joe@example.org", "joe", "secret").stdout
        self.assertIn("Subject: on a booted system", message)
        self.assertIn("Delivered by the service.", message)

        # What was set while it ran outlives a restart: FTP starts by itself.
        self.inside("systemctl", "restart", UNIT)
        self.wait_started()
        self.inside("rm", "/srv/ftp/ann/upload.txt")
        self.use_ftp()
        self.stop_cleanly()
        self.assertEqual(self.settings("status", expect=3).returncode, 3)

        # A start whose FTP port is taken says so in the journal, and still
        # ends cleanly.
        holder = CONTAINER.start("python3", CLIENTS, "occupy", "21")
        try:
            ready = select.select([holder.stdout], [], [], DEADLINE_S)[0]
            if not ready or holder.stdout.readline() != "listening\n":
                holder.kill()
                self.fail("port 21 could not be taken: " + holder.communicate()[1])
            self.inside("systemctl", "start", UNIT)
            self.wait_started()
            wait_for(lambda: FTP_REFUSED in self.journal(), DEADLINE_S, "the refused FTP port")
        finally:
            holder.stdin.close()
            holder.wait(timeout=DEADLINE_S)
            holder.stdout.close()
            holder.stderr.close()
        self.stop_cleanly()

        # Three starts, and not a word of Qt's.
        journal = self.journal()
        self.assertIn(FTP_REFUSED, journal)
        noise = [l for l in journal if any(n in l for n in QT_NOISE)]
        self.assertEqual(noise, [], "\n".join(journal))


def main():
    global CONTAINER, PACKAGE
    build = os.path.abspath(sys.argv.pop(1))
    # Ended from outside, the container is still powered off.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    began = time.monotonic()
    try:
        if os.geteuid() != 0:
            raise Skip("booting a container needs root")
        missing = [t for t in ("debootstrap", "systemd-nspawn", "nsenter") if shutil.which(t) is None]
        if missing:
            raise Skip("missing %s (Debian packages debootstrap, systemd-container)" % ", ".join(missing))
        with tempfile.TemporaryDirectory(prefix="vt-system-") as scratch:
            shared = os.path.join(scratch, "shared")
            os.mkdir(shared)
            PACKAGE = make_package(build, shared)
            shutil.copy(os.path.join(HERE, "system_clients.py"), shared)
            tree = system_tree(build, set(BASE_PACKAGES) | set(dependencies(PACKAGE)))
            booting = time.monotonic()
            CONTAINER = Container(tree, shared, os.path.join(scratch, "console.log"))
            try:
                CONTAINER.boot()
                print("booted in %.0f s" % (time.monotonic() - booting))
                program = unittest.main(module=__name__, argv=sys.argv[:1], exit=False)
                if not program.result.wasSuccessful():
                    print(CONTAINER.run("journalctl", "--no-pager", "--unit", UNIT).stdout)
            finally:
                CONTAINER.close()
    except Skip as reason:
        print("SKIPPED: %s" % reason)
        sys.exit(SKIP)
    print("done in %.0f s" % (time.monotonic() - began))
    sys.exit(0 if program.result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
