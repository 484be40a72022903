#!/usr/bin/env python3
"""HTTPS on the whole program, set up with vantrel-settings task commands
and used by real clients: curl, python's http.client and urllib, headless
Chromium and openssl s_client, each trusting the self-signed certificate
the program makes in tls/ on first use.

- The same pages, status pages, folder view and log lines as plain HTTP.
- The plain port's redirect to HTTPS and the log area's 403 over plain
  HTTP, switched on and off on the running program.
- Hostile handshakes (old protocol versions, renegotiation, garbage, a
  hello cut short, a client certificate) end that connection only, and
  hundreds of connections that never say hello keep no one waiting and are
  ended by the handshake limit.
- The HTTPS port's checks in the settings, and an activation refused for a
  certificate that cannot be loaded.

The program listens on the standard ports 80 and 443 (443 is the port a
redirect leaves out), so the test runs itself in a user and network
namespace of its own (unshare); without one it is skipped.

Usage: program_https_test.py <vantrel-server> <vantrel-settings>"""

import http.client
import json
import os
import selectors
import shutil
import socket
import ssl
import subprocess
import tempfile
import time
import unittest
import urllib.request

from program_harness import (Program, Workspace, binaries_from_command_line, listening, read_settings,
                             run_settings, wait_for)

PROGRAM = None  # set by main
SETTINGS = None
HTTP_PORT = 80
HTTPS_PORT = 443
DEADLINE_S = 20
HOST = socket.gethostname()  # the name the self-signed certificate is made for
OPENSSL = shutil.which("openssl")
CHROMIUM = "/usr/bin/chromium"
SILENT_CONNECTIONS = 300
# A good request among the silent connections is served at once; the
# handshake limit (10 s) is far above this.
PROMPT_S = 3
HANDSHAKE_LIMIT_S = 10
# The 7 keys of http.dat before HTTPS, in their order.
PLAIN_KEYS = ["logfilecount", "port", "admin", "defaultfolder", "defaultpage", "folderview", "autostart"]


def settings(space, data, *words, expect=0):
    return run_settings(SETTINGS, space, data, *words, expect=expect)


class Server:
    """One program serving a site over HTTP and HTTPS for every test."""

    def __init__(self):
        self.space = Workspace("vt-https-")
        self.data = self.space.data_folder("data")
        self.site = self.space.data_folder("site")
        os.makedirs(os.path.join(self.site, "docs"))
        with open(os.path.join(self.site, "index.html"), "wb") as f:
            f.write(b"<html><body><p id='main'>main site</p></body></html>")
        with open(os.path.join(self.site, "docs", "a.txt"), "wb") as f:
            f.write(b"text in docs\n")
        self.settings("http-site", "set", "--port", str(HTTP_PORT), "--default-folder", self.site,
                      "--folder-view", "on", "--admin-password", "pw")
        self.plain_settings = read_settings(os.path.join(self.data, "http.dat"))
        self.settings("http-site", "set", "--https-port", str(HTTPS_PORT))
        self.settings("autostart", "http", "on")
        self.program = Program(PROGRAM, self.data, self.space.env)
        self.program.wait_listening((HTTP_PORT, HTTPS_PORT), DEADLINE_S)
        self.certificate = os.path.join(self.data, "tls", "certificate.pem")

    def settings(self, *words, expect=0):
        return settings(self.space, self.data, *words, expect=expect)

    def context(self):
        return ssl.create_default_context(cafile=self.certificate)

    def log(self):
        with open(os.path.join(self.data, "logs", "httplog_0.txt"), "rb") as f:
            return f.read().decode("latin-1")

    def close(self):
        try:
            self.program.terminate()
        finally:
            self.space.close()


SERVER = None


def setUpModule():
    global SERVER
    SERVER = Server()


def tearDownModule():
    SERVER.close()


class LoopbackHttps(http.client.HTTPSConnection):
    """Connects to the loopback address while checking the certificate
    against the host's name, which need not resolve here."""

    def connect(self):
        raw = socket.create_connection(("127.0.0.1", self.port), self.timeout)
        self.sock = self._context.wrap_socket(raw, server_hostname=self.host)


def https_get(path, method="GET"):
    connection = LoopbackHttps(HOST, HTTPS_PORT, timeout=DEADLINE_S, context=SERVER.context())
    try:
        connection.request(method, path)
        response = connection.getresponse()
        return response.status, response.getheader("Location"), response.read()
    finally:
        connection.close()


def raw_exchange(port, data, deadline=DEADLINE_S):
    """Sends the bytes and reads until the server closes; returns what came."""
    with socket.create_connection(("127.0.0.1", port), timeout=deadline) as s:
        s.sendall(data)
        received = b""
        try:
            for chunk in iter(lambda: s.recv(65536), b""):
                received += chunk
        except ConnectionResetError:
            pass
        return received


class Curl(unittest.TestCase):
    def curl(self, *args):
        result = subprocess.run(["curl", "-sS", "--max-time", str(DEADLINE_S), "--cacert", SERVER.certificate,
                                 "--resolve", "%s:%d:127.0.0.1" % (HOST, HTTPS_PORT),
                                 "--resolve", "%s:%d:127.0.0.1" % (HOST, HTTP_PORT),
                                 "-w", "\n%{http_code} %{redirect_url}"] + list(args),
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        body, _, status = result.stdout.rpartition("\n")
        return status.strip(), body

    def test_curl_over_https_and_the_plain_port_rules(self):
        https = "https://%s" % HOST
        self.assertEqual(self.curl(https + "/"), ("200", "<html><body><p id='main'>main site</p></body></html>"))
        status, body = self.curl(https + "/missing.html")
        self.assertEqual(status, "404")
        self.assertIn("Error 404", body)
        status, body = self.curl(https + "/docs/")
        self.assertEqual(status, "200")
        self.assertIn("<TITLE>Contents of /docs/</TITLE>", body)
        self.assertIn('<a href="a.txt">a.txt</a>', body)
        # A folder named without its slash stays on HTTPS.
        self.assertEqual(self.curl(https + "/docs")[0], "301 %s/docs/" % https)
        self.assertIn("127.0.0.1 -> ***NOT_FOUND*** %s/missing.html -> Unknown\r\n" % HOST, SERVER.log())
        self.assertIn("127.0.0.1 -> ***FOLDER_LIST*** %s/docs/ -> Unknown\r\n" % HOST, SERVER.log())

        plain = "http://%s" % HOST
        self.assertEqual(self.curl(plain + "/docs/a.txt"), ("200", "text in docs\n"))
        SERVER.settings("http-site", "set", "--https-redirect", "on")
        try:
            self.assertEqual(self.curl(plain + "/docs/a.txt?x=1")[0], "301 %s/docs/a.txt?x=1" % https)
            self.assertEqual(self.curl("-L", plain + "/docs/a.txt"), ("200", "text in docs\n"))
            self.assertIn("127.0.0.1 -> ***REDIRECT*** %s/docs/a.txt?x=1 -> Unknown\r\n" % HOST, SERVER.log())
            # What the client sent reaches the Location only when harmless:
            # a Host that is no host name gives way to the server's address,
            # and the path's control bytes are encoded.
            for request, location in [
                    (b"GET /a\rSet-Cookie:x HTTP/1.0\r\nHost: %s:80\r\n\r\n" % HOST.encode(),
                     b"https://%s/a%%0DSet-Cookie:x" % HOST.encode()),
                    (b"GET /b HTTP/1.0\r\nHost: bad\rInjected: 1\r\n\r\n", b"https://127.0.0.1/b"),
                    (b"GET /c HTTP/1.0\r\nHost: a_b.example\r\n\r\n", b"https://127.0.0.1/c"),
                    (b"GET http://elsewhere/d HTTP/1.0\r\nHost: shop.example.org\r\n\r\n",
                     b"https://shop.example.org/")]:
                head = raw_exchange(HTTP_PORT, request).split(b"\r\n\r\n", 1)[0].split(b"\r\n")
                self.assertEqual(head[0], b"HTTP/1.1 301 Moved Permanently", request)
                self.assertIn(b"Location: " + location, head, request)
                self.assertEqual(len(head), 3, head)
        finally:
            SERVER.settings("http-site", "set", "--https-redirect", "off")

        logs = "/adminpw/logfile/"
        self.assertEqual(self.curl(plain + logs)[0], "200")
        SERVER.settings("http-site", "set", "--logs-require-tls", "on")
        try:
            status, body = self.curl(plain + logs)
            self.assertEqual(status, "403")
            self.assertIn("Error 403", body)
            status, body = self.curl(https + logs)
            self.assertEqual(status, "200")
            self.assertIn("httplog_0.txt", body)
            self.assertIn("127.0.0.1 -> ***FORBIDDEN*** %s%s -> Unknown\r\n" % (HOST, logs), SERVER.log())
        finally:
            SERVER.settings("http-site", "set", "--logs-require-tls", "off")


class PythonClients(unittest.TestCase):
    def test_http_client_and_urllib_trust_the_certificate(self):
        status, _, body = https_get("/")
        self.assertEqual((status, body), (200, b"<html><body><p id='main'>main site</p></body></html>"))
        status, _, body = https_get("/docs/a.txt", "HEAD")
        self.assertEqual((status, body), (200, b""))
        status, location, _ = https_get("/docs")
        self.assertEqual((status, location), (301, "https://%s/docs/" % HOST))
        self.assertEqual(https_get("/nothing")[0], 404)

        # urllib checks the chain against the certificate; the loopback
        # address is not the name it was made for.
        context = SERVER.context()
        context.check_hostname = False
        with urllib.request.urlopen("https://127.0.0.1/docs/a.txt", context=context, timeout=DEADLINE_S) as r:
            self.assertEqual(r.read(), b"text in docs\n")
        with self.assertRaises(urllib.error.URLError):
            urllib.request.urlopen("https://127.0.0.1/", context=ssl.create_default_context(), timeout=DEADLINE_S)


class Chromium(unittest.TestCase):
    def spki_hash(self):
        key = subprocess.run([OPENSSL, "x509", "-in", SERVER.certificate, "-pubkey", "-noout"],
                             capture_output=True, check=True).stdout
        der = subprocess.run([OPENSSL, "pkey", "-pubin", "-outform", "der"], input=key,
                             capture_output=True, check=True).stdout
        digest = subprocess.run([OPENSSL, "dgst", "-sha256", "-binary"], input=der,
                                capture_output=True, check=True).stdout
        return subprocess.run([OPENSSL, "base64"], input=digest, capture_output=True, check=True).stdout.strip()

    def dump_dom(self, url, *trust):
        profile = tempfile.mkdtemp(prefix="vt-chromium-")
        try:
            return subprocess.run(
                [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--host-resolver-rules=MAP * 127.0.0.1", f"--user-data-dir={profile}", *trust,
                 "--virtual-time-budget=10000", "--dump-dom", url],
                capture_output=True, text=True, timeout=120).stdout
        finally:
            shutil.rmtree(profile, ignore_errors=True)

    def test_chromium_loads_a_page_over_https(self):
        if not os.access(CHROMIUM, os.X_OK) or OPENSSL is None:
            self.skipTest("chromium or openssl is not installed")
        trust = "--ignore-certificate-errors-spki-list=" + self.spki_hash().decode()
        dom = self.dump_dom("https://%s/" % HOST, trust)
        self.assertIn("<p id=\"main\">main site</p>", dom)
        # Without the trust the page is not shown: the certificate is what
        # the browser checked.
        self.assertNotIn("main site", self.dump_dom("https://%s/" % HOST))


def client_hello():
    """The first flight of a real TLS client, made in memory."""
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = ssl.create_default_context().wrap_bio(incoming, outgoing, server_hostname=HOST)
    try:
        tls.do_handshake()
    except ssl.SSLWantReadError:
        pass
    return outgoing.read()


class HostileHandshakes(unittest.TestCase):
    def s_client(self, *args, stdin=b"GET / HTTP/1.0\r\nHost: x\r\n\r\n"):
        result = subprocess.run([OPENSSL, "s_client", "-connect", "127.0.0.1:%d" % HTTPS_PORT,
                                 "-servername", HOST, "-ign_eof", *args],
                                input=stdin, capture_output=True, timeout=60)
        return (result.stdout + result.stderr).decode("latin-1")

    def renegotiate(self):
        # "R" asks s_client to renegotiate before the request is sent.
        with subprocess.Popen([OPENSSL, "s_client", "-connect", "127.0.0.1:%d" % HTTPS_PORT, "-tls1_2"],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT) as p:
            p.stdin.write(b"R\n")
            p.stdin.flush()
            # s_client takes its input a line at a time: the request comes
            # after the renegotiation has been tried.
            time.sleep(0.5)
            return p.communicate(b"GET / HTTP/1.0\r\nHost: x\r\n\r\n", timeout=60)[0].decode("latin-1")

    def resumed(self, folder):
        """A second connection resumes the session of the first, as a
        browser's connections do."""
        session = os.path.join(folder, "session.pem")
        self.s_client("-tls1_2", "-sess_out", session)
        return self.s_client("-tls1_2", "-sess_in", session)

    def client_certificate(self, folder):
        subprocess.run([OPENSSL, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                        "-keyout", os.path.join(folder, "client.key"), "-out", os.path.join(folder, "client.pem"),
                        "-subj", "/CN=client", "-days", "1"], capture_output=True, check=True)
        return self.s_client("-cert", os.path.join(folder, "client.pem"), "-key", os.path.join(folder, "client.key"))

    def test_each_hostile_handshake_ends_its_connection_only(self):
        if OPENSSL is None:
            self.skipTest("openssl is not installed")
        old = ("-cipher", "DEFAULT@SECLEVEL=0")  # so that the client really offers them
        served = "HTTP/1.1 200 OK"
        folder = tempfile.mkdtemp(prefix="vt-https-client-")
        self.addCleanup(shutil.rmtree, folder, True)
        cases = [
            # name, attempt, in the output, not in it, whether the handshake fails
            ("a TLS 1.0 hello", lambda: self.s_client("-tls1", *old), ["alert protocol version"], [served], True),
            ("a TLS 1.1 hello", lambda: self.s_client("-tls1_1", *old), ["alert protocol version"], [served], True),
            ("a TLS 1.2 hello", lambda: self.s_client("-tls1_2"),
             ["Protocol  : TLSv1.2", "Compression: NONE", served], [], False),
            ("a TLS 1.3 hello", lambda: self.s_client("-tls1_3"), ["Protocol  : TLSv1.3", served], [], False),
            ("a resumed session", lambda: self.resumed(folder), ["Reused, TLSv1.2", served], [], False),
            ("a renegotiation", self.renegotiate, ["RENEGOTIATING", "no renegotiation"], [served], False),
            ("a client certificate", lambda: self.client_certificate(folder), [served], [], False),
            ("plain HTTP", lambda: raw_exchange(HTTPS_PORT, b"GET / HTTP/1.0\r\nHost: x\r\n\r\n").decode("latin-1"),
             [], ["HTTP/"], True),
            ("random bytes", lambda: raw_exchange(HTTPS_PORT, os.urandom(3000)).decode("latin-1"), [], ["HTTP/"],
             True),
            ("half a hello, then gone", lambda: self.half_hello(), [], [], True),
        ]
        for name, attempt, present, absent, fails in cases:
            with self.subTest(name):
                before = self.failed_handshakes()
                output = attempt()
                for text in present:
                    self.assertIn(text, output)
                for text in absent:
                    self.assertNotIn(text, output)
                self.assertEqual(https_get("/")[0], 200, "served after " + name)
                # A failed handshake leaves one log line, a good one none.
                if fails:
                    wait_for(lambda: self.failed_handshakes() > before, DEADLINE_S, "the log line of " + name)
                self.assertEqual(self.failed_handshakes(), before + (1 if fails else 0))
        # None of them holds a session.
        wait_for(lambda: self.connections() == 0, DEADLINE_S, "the sessions to end")

    def failed_handshakes(self):
        return SERVER.log().count("127.0.0.1 -> ***TLS HANDSHAKE FAILED***\r\n")

    def half_hello(self):
        hello = client_hello()
        with socket.create_connection(("127.0.0.1", HTTPS_PORT), timeout=DEADLINE_S) as s:
            s.sendall(hello[:len(hello) // 2])
        return ""

    def connections(self):
        return json.loads(SERVER.settings("status", "--json").stdout)["services"]["http"]["connections"]

    def test_silent_connections_wait_for_the_limit_and_keep_no_one_waiting(self):
        silent = []
        try:
            for _ in range(SILENT_CONNECTIONS):
                silent.append(socket.create_connection(("127.0.0.1", HTTPS_PORT), timeout=DEADLINE_S))
            began = time.monotonic()
            # Accepted, they sit in their handshakes.
            wait_for(lambda: self.connections() >= SILENT_CONNECTIONS, DEADLINE_S, "the silent sessions")
            self.assertEqual(https_get("/")[0], 200)
            self.assertLess(time.monotonic() - began, PROMPT_S)
            # Then the limit ends each of them.
            selector = selectors.DefaultSelector()
            for s in silent:
                s.setblocking(False)
                selector.register(s, selectors.EVENT_READ)
            open_ones = set(silent)
            deadline = time.monotonic() + HANDSHAKE_LIMIT_S + DEADLINE_S
            while open_ones and time.monotonic() < deadline:
                # A silent client gets nothing but the end of its connection.
                for key, _ in selector.select(timeout=1):
                    try:
                        self.assertEqual(key.fileobj.recv(4096), b"")
                    except ConnectionResetError:
                        pass
                    selector.unregister(key.fileobj)
                    open_ones.discard(key.fileobj)
            self.assertEqual(len(open_ones), 0, "connections the limit did not end")
            self.assertGreaterEqual(time.monotonic() - began, HANDSHAKE_LIMIT_S - 1)
        finally:
            for s in silent:
                s.close()


class Settings(unittest.TestCase):
    def test_the_https_port_checks_and_keys_of_http_dat(self):
        # With HTTPS never set, http.dat holds what it always held.
        self.assertEqual(list(SERVER.plain_settings), PLAIN_KEYS)
        # A stopped server of its own: the files take the commands.
        space = Workspace("vt-https-settings-")
        self.addCleanup(space.close)
        data = space.data_folder("data")
        run = lambda *words, expect=0: settings(space, data, "http-site", "set", *words, expect=expect)
        run("--port", "8080", "--default-folder", SERVER.site)
        path = os.path.join(data, "http.dat")
        with open(path, "rb") as f:
            plain = f.read()
        self.assertEqual(list(read_settings(path)), PLAIN_KEYS)
        for port, message in [("8080", "The HTTPS port must differ from the HTTP port."),
                              ("21", "The HTTPS port is already used by another service of this program."),
                              ("25", "The HTTPS port is already used by another service of this program."),
                              ("110", "The HTTPS port is already used by another service of this program.")]:
            refused = run("--https-port", port, "--https-redirect", "on", expect=1)
            self.assertEqual(refused.stderr, "vantrel-settings: Input Error: %s\n" % message)
            with open(path, "rb") as f:
                self.assertEqual(f.read(), plain, "changed by a refused port " + port)
        run("--https-port", "8443", "--https-redirect", "on", "--logs-require-tls", "on")
        stored = read_settings(path)
        self.assertEqual(list(stored), PLAIN_KEYS + ["httpsport", "httpsredirect", "logsrequiretls"])
        self.assertEqual((stored["httpsport"], stored["httpsredirect"], stored["logsrequiretls"]), (8443, 1, 1))
        shown = settings(space, data, "http-site", "show").stdout
        self.assertIn("https-port\t8443\nhttps-redirect\ton\nlogs-require-tls\ton\n", shown)
        run("--https-port", "0", "--https-redirect", "off", "--logs-require-tls", "off")
        with open(path, "rb") as f:
            self.assertEqual(f.read(), plain)

    def test_activation_without_a_loadable_certificate_fails_with_the_reason(self):
        space = Workspace("vt-https-nocert-")
        self.addCleanup(space.close)
        data = space.data_folder("data")
        settings(space, data, "http-site", "set", "--port", "8080", "--https-port", "8443",
                 "--default-folder", SERVER.site)
        settings(space, data, "autostart", "http", "on")
        os.makedirs(os.path.join(data, "tls"))
        for name in ("certificate.pem", "key.pem"):
            with open(os.path.join(data, "tls", name), "wb") as f:
                f.write(b"not a certificate\n")
        program = Program(PROGRAM, data, space.env)
        self.addCleanup(program.kill)
        reason = "HTTPS cannot start: the certificate file tls/certificate.pem"
        wait_for(lambda: reason in program.stderr() or not program.running(), DEADLINE_S,
                 "the reason on standard error")
        started = settings(space, data, "service", "http", "start", expect=1)
        self.assertIn("Activation of HTTP server failed.", started.stderr + started.stdout)
        self.assertFalse(listening(8080))
        self.assertFalse(listening(8443))
        # With the broken files gone, a self-signed pair is made and used.
        shutil.rmtree(os.path.join(data, "tls"))
        settings(space, data, "service", "http", "start")
        self.assertTrue(listening(8443))
        self.assertEqual(program.terminate(), 0, program.stderr())


def main():
    global PROGRAM, SETTINGS
    PROGRAM, SETTINGS = binaries_from_command_line(__file__)
    unittest.main()


if __name__ == "__main__":
    main()
