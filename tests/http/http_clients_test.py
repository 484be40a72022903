#!/usr/bin/env python3
"""Real clients against the web server on 127.0.0.1: curl, http.client and
urllib fetch files byte-exact, follow redirects, see 304 and 404, reach a
domain-mapped site and read the request log through the log area; an
address at its cap of connections gets a 503 page at once.

Usage: http_clients_test.py <path of http_test_server>
"""
import http.client
import os
import socket
import subprocess
import urllib.error
import urllib.request

from http_harness import ServerCase, main, write_files
from harness_support import wait_until  # noqa: E402 (after the harness puts it on the path)

BIG_BYTES = 5 * 1024 * 1024 + 123


class HttpClients(ServerCase):
    PREFIX = "vt-http-clients-"

    @classmethod
    def prepare(cls, work):
        site = os.path.join(work, "site")
        shop = os.path.join(work, "shop")
        cls.big = os.urandom(BIG_BYTES)
        cls.files = {
            "Index.html": b"<html><body>home</body></html>",
            "Docs/index.html": b"docs index",
            "Docs/Notes.TXT": b"line one\r\nline two\r\n",
            "big.bin": cls.big,
            "my page.html": b"with a space",
            "pic.JPG": bytes(range(256)) * 4,
        }
        write_files(site, cls.files)
        write_files(shop, {"index.html": b"shop home"})
        return ["--default-folder", site, "--domain", f"Shop.Example:81={shop}", "--admin", "Pw"]

    def curl(self, *args):
        return subprocess.run(["curl", "-s", "--max-time", "60", *args], capture_output=True,
                              check=True).stdout

    def connection(self):
        return http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=30)

    def test_curl_downloads_byte_exact(self):
        for name in ("big.bin", "Docs/Notes.TXT", "pic.JPG"):
            url = f"{self.server.base}/{name}".replace(" ", "%20")
            self.assertEqual(self.curl(url), self.files[name], name)

    def test_curl_head_announces_the_length_without_a_body(self):
        head = self.curl("-I", f"{self.server.base}/big.bin").decode()
        self.assertIn(f"Content-Length: {BIG_BYTES}\r\n", head)
        self.assertIn("Content-Type: application/zip\r\n", head)
        self.assertTrue(head.endswith("\r\n\r\n"))

    def test_curl_follows_the_redirect_of_a_folder(self):
        out = self.curl("-L", "-w", "\n%{url_effective} %{num_redirects}",
                        f"{self.server.base}/docs").decode()
        body, effective = out.rsplit("\n", 1)
        self.assertEqual(body, "docs index")
        self.assertEqual(effective, f"{self.server.base}/docs/ 1")

    def test_urllib_fetches_files_and_sees_the_404_page(self):
        with urllib.request.urlopen(f"{self.server.base}/my%20page.html", timeout=30) as reply:
            self.assertEqual(reply.status, 200)
            self.assertEqual(reply.read(), b"with a space")
        with urllib.request.urlopen(f"{self.server.base}/", timeout=30) as reply:
            self.assertEqual(reply.read(), self.files["Index.html"])
            self.assertEqual(reply.headers["Content-Type"], "text/html")
        with self.assertRaises(urllib.error.HTTPError) as caught:
            urllib.request.urlopen(f"{self.server.base}/nothing.html", timeout=30)
        self.assertEqual(caught.exception.code, 404)
        self.assertIn(b"Sorry, the file was not found.", caught.exception.read())

    def test_http_client_large_file_and_not_modified_on_echo(self):
        conn = self.connection()
        conn.request("GET", "/BIG.BIN")
        reply = conn.getresponse()
        self.assertEqual(reply.status, 200)
        self.assertEqual(reply.read(), self.big)
        modified = reply.getheader("Last-Modified")
        conn.close()

        conn = self.connection()
        conn.request("GET", "/big.bin", headers={"If-Modified-Since": modified})
        reply = conn.getresponse()
        self.assertEqual(reply.status, 304)
        conn.close()

    def test_http_client_reaches_the_mapped_domain(self):
        conn = self.connection()
        conn.request("GET", "/", headers={"Host": "SHOP.example:81"})
        reply = conn.getresponse()
        self.assertEqual(reply.read(), b"shop home")
        conn.close()

    def test_log_area_shows_the_request_log(self):
        conn = self.connection()
        conn.request("GET", "/docs/notes.txt", headers={"Referer": "http://r.example/"})
        conn.getresponse().read()
        conn.close()
        with urllib.request.urlopen(f"{self.server.base}/ADMINpw/logfile/", timeout=30) as reply:
            self.assertIn(b'<a href="httplog_0.txt">httplog_0.txt</a>', reply.read())
        with urllib.request.urlopen(f"{self.server.base}/adminpw/logfile/httplog_0.txt",
                                    timeout=30) as reply:
            self.assertIsNone(reply.headers["Date"])
            log = reply.read().decode()
        self.assertIn("Vantrel Server 2.33: HTTP log file", log)
        self.assertIn(f"127.0.0.1 -> 127.0.0.1:{self.server.port}/docs/notes.txt -> "
                      "http://r.example/\r\n", log)
        self.assertNotIn("logfile", log)


class AddressAtItsCap(ServerCase):
    PREFIX = "vt-http-cap-"

    @classmethod
    def prepare(cls, work):
        site = os.path.join(work, "site")
        write_files(site, {"index.html": b"home"})
        return ["--default-folder", site, "--per-address-cap", "2"]

    def get(self, source="127.0.0.1"):
        conn = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=30, source_address=(source, 0))
        try:
            conn.request("GET", "/index.html")
            reply = conn.getresponse()
            return reply.status, reply.read()
        finally:
            conn.close()

    def count(self):
        return int(self.server.steer("count", "COUNT").split()[1])

    def test_an_address_at_its_cap_gets_503_until_a_connection_ends(self):
        # Two connections that have sent half a request hold their places.
        held = []
        for _ in range(2):
            sock = socket.create_connection(("127.0.0.1", self.server.port), timeout=30)
            self.addCleanup(sock.close)
            sock.sendall(b"GET /index.html HTTP/1.0\r\n")
            held.append(sock)
        wait_until(lambda: self.count() == 2, "two sessions")
        status, body = self.get()
        self.assertEqual(status, 503)
        self.assertIn(b"Error 503<br>Sorry, too many connections from your address.", body)
        out = subprocess.run(["curl", "-s", "-i", "--max-time", "30", f"{self.server.base}/index.html"],
                             capture_output=True, check=True).stdout
        self.assertTrue(out.startswith(b"HTTP/1.1 503 Service Unavailable\r\n"), out[:80])
        self.assertIn(b"Retry-After: 60\r\n", out)
        self.assertEqual(self.get("127.0.0.2"), (200, b"home"))
        # One of them finishes its request and so frees a place.
        held[0].sendall(b"\r\n")
        held[0].recv(65536)
        wait_until(lambda: self.get() == (200, b"home"), "a free place")


if __name__ == "__main__":
    main()
