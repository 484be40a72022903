#!/usr/bin/env python3
"""The end of a response survives bytes that the server never reads: a
request body, or a second request sent behind the first. Closing a socket
with unread input makes the system send a reset, which throws away what
the client has not read yet; the server must end its side and let the
client finish first.

Usage: http_close_test.py <path of http_test_server>
"""
import os
import socket
import time

from http_harness import ServerCase, main, write_files

BIG_BYTES = 6 * 1024 * 1024 + 7
BODY_BYTES = 256 * 1024
# Every test sends and reads at most a few MiB on loopback.
DEADLINE_S = 30
ROUNDS = 3


def receive_all(sock):
    """Everything up to the server's close, or what came before a reset."""
    data = []
    try:
        while True:
            chunk = sock.recv(256 * 1024)
            if not chunk:
                break
            data.append(chunk)
    except ConnectionResetError:
        pass
    return b"".join(data)


class ResponsesEndWhole(ServerCase):
    PREFIX = "vt-http-close-"

    @classmethod
    def prepare(cls, work):
        site = os.path.join(work, "site")
        cls.big = os.urandom(BIG_BYTES)
        write_files(site, {"big.bin": cls.big, "small.txt": b"small"})
        return ["--default-folder", site]

    def exchange(self, request, receive_buffer=None):
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.settimeout(DEADLINE_S)
        if receive_buffer:
            # A small window keeps most of the file queued on the server's
            # side, so its last bytes leave shortly before it closes.
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        try:
            sock.connect(("127.0.0.1", self.server.port))
            sock.sendall(request)
            return receive_all(sock)
        finally:
            sock.close()

    def assert_whole_file(self, answer):
        head, _, body = answer.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"HTTP/1.1 200 OK\r\n"), head[:100])
        self.assertIn(b"Content-Length: %d\r\n" % BIG_BYTES, head + b"\r\n")
        self.assertEqual(len(body), BIG_BYTES, "the response was cut short")
        self.assertEqual(body, self.big)

    def test_an_unread_request_body_does_not_cut_the_response(self):
        request = (b"GET /big.bin HTTP/1.1\r\nHost: localhost\r\nContent-Length: %d\r\n\r\n"
                   % BODY_BYTES) + os.urandom(BODY_BYTES)
        for buffer in (None, 16 * 1024):
            for _ in range(ROUNDS):
                self.assert_whole_file(self.exchange(request, buffer))

    def test_a_pipelined_second_request_does_not_cut_the_first_response(self):
        # Longer than what the server takes in with the first head.
        second = b"GET /small.txt HTTP/1.1\r\nHost: localhost\r\nX-Pad: %s\r\n\r\n" % (b"p" * 8000)
        request = b"GET /big.bin HTTP/1.1\r\nHost: localhost\r\n\r\n" + second
        for buffer in (None, 16 * 1024):
            for _ in range(ROUNDS):
                answer = self.exchange(request, buffer)
                # One request per connection: the second one gets no answer.
                self.assert_whole_file(answer)

    def test_a_last_request_closes_at_once_yet_never_over_unread_bytes(self):
        # "Connection: close" without a body: nothing more comes, and the
        # server closes without waiting for the client's end of the stream.
        sock = socket.create_connection(("127.0.0.1", self.server.port), timeout=DEADLINE_S)
        try:
            sock.sendall(b"GET /small.txt HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n")
            answer = receive_all(sock)
            self.assertTrue(answer.endswith(b"\r\n\r\nsmall"), answer[-100:])
        finally:
            sock.close()
        # The same announcement with a body, or with bytes sent all the
        # same, still lets the client read the whole response.
        close = b"GET /big.bin HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n"
        with_body = close + b"Content-Length: %d\r\n\r\n" % BODY_BYTES + os.urandom(BODY_BYTES)
        with_more = close + b"\r\n" + b"GET /small.txt HTTP/1.1\r\nHost: localhost\r\n\r\n"
        for request in (with_body, with_more):
            for buffer in (None, 16 * 1024):
                for _ in range(ROUNDS):
                    self.assert_whole_file(self.exchange(request, buffer))

    def test_a_client_that_keeps_sending_is_cut_off_in_bounded_time(self):
        sock = socket.create_connection(("127.0.0.1", self.server.port), timeout=DEADLINE_S)
        try:
            sock.sendall(b"GET /small.txt HTTP/1.1\r\nHost: localhost\r\n\r\n")
            answer = b""
            while b"small" not in answer:
                chunk = sock.recv(4096)
                self.assertTrue(chunk, "closed before the response")
                answer += chunk
            # The response is complete; the server waits only so long for a
            # client that never stops sending.
            start = time.monotonic()
            closed = False
            while time.monotonic() - start < DEADLINE_S:
                try:
                    sock.sendall(b"x" * 65536)
                except (BrokenPipeError, ConnectionResetError):
                    closed = True
                    break
            self.assertTrue(closed, "the server kept reading for %d s" % DEADLINE_S)
        finally:
            sock.close()


if __name__ == "__main__":
    main()
