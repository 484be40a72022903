"""What the benchmark scripts share: finding a built test server, starting
it and reading the ports it reports, starting a peer server on a free
loopback port, the harness's CPU time and resident memory, the warm-up
plus median rule of every measurement, and the TLS settings every peer is
given so that it speaks TLS as our servers do."""
import os
import resource
import socket
import ssl
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
START_DEADLINE_S = 20
# Our servers' TLS floor, handed to every peer: TLS 1.2 and 1.3, these
# TLS 1.2 ciphers in this order (the server's), these key exchange groups.
TLS12_CIPHERS = ("ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
                 "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
                 "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
                 "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:DHE-RSA-CHACHA20-POLY1305")
TLS_GROUPS = ("X25519", "prime256v1", "secp384r1")  # X25519:P-256:P-384


def find_server(explicit, name):
    """The test server given on the command line, else the one in build/."""
    if explicit:
        return explicit
    candidate = os.path.join(HERE, "..", "build", name)
    if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
        return os.path.abspath(candidate)
    sys.exit(f"{name} not found; build it or pass its path")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, name, process=None, greeting=False):
    """Waits until a peer server accepts connections on the port (and, with
    greeting, sends its first bytes); ends the benchmark if it does not."""
    deadline = time.monotonic() + START_DEADLINE_S
    while time.monotonic() < deadline:
        if process is not None and process.poll() is not None:
            sys.exit(f"{name} exited early")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5) as s:
                if greeting:
                    s.recv(512)
                return
        except OSError:
            time.sleep(0.05)
    sys.exit(f"{name} did not start listening")


class Harness:
    """A test server process: started with its arguments, it prints one
    "<NAME> <port>" line per service; `ports` maps the wanted names to
    their ports. Closing its stdin ends it."""

    def __init__(self, args, wanted):
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.ports = {}
        deadline = time.monotonic() + START_DEADLINE_S
        while not all(name in self.ports for name in wanted) and time.monotonic() < deadline:
            line = self.process.stdout.readline()
            if not line:
                sys.exit("harness did not start")
            fields = line.split()
            if len(fields) == 2 and fields[0] in wanted:
                self.ports[fields[0]] = int(fields[1])
        if not all(name in self.ports for name in wanted):
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

    def cpu_percent(self, seconds):
        """The harness's CPU time over a window of `seconds`, in % of one core."""
        cpu, wall = self.cpu_seconds(), time.monotonic()
        time.sleep(seconds)
        return (self.cpu_seconds() - cpu) / (time.monotonic() - wall) * 100

    def stop(self, timeout=60):
        self.process.stdin.close()
        try:
            self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()


def stop_peer(process, timeout=10):
    """Ends a peer server started for comparison."""
    process.terminate()
    try:
        process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()


def raise_file_limit(wanted):
    """Enough descriptors for `wanted` client connections, as the hard limit allows."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, wanted)), hard))


def measured(runs, action):
    """The median of `runs` results after one unmeasured warm-up."""
    action()  # warm-up, not counted
    return statistics.median(action() for _ in range(runs))


def alternating(runs, actions):
    """Each action warmed up once, then run `runs` times taking turns with
    the others; returns each action's results, in the order given."""
    for action in actions:
        action()  # warm-up, not counted
    results = [[] for _ in actions]
    for _ in range(runs):
        for action, values in zip(actions, results):
            values.append(action())
    return results


def tls_client_context(certificate):
    """A client context trusting only the given (self-signed) certificate,
    with the library's default offer: the same for every server measured."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.load_verify_locations(certificate)
    return context


def negotiated(sock):
    """What a TLS socket agreed on, as "TLSv1.3 TLS_AES_256_GCM_SHA384"."""
    return f"{sock.version()} {sock.cipher()[0]}"
