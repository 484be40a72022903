"""A relay host that the relay tests play: a small SMTP server on a port the
system picks, scripted per test (its greeting lines, a refusal for chosen
recipients, a connection dropped right after QUIT or kept open after it,
or a host that never answers), which records every command and message it
receives.

It reads message data the lenient way some mail programs do: a line that
holds only "." ends the data whether its line breaks are CR LF, a bare LF
or a bare CR. A message that smuggles a second end-of-data mark past the
server under test therefore shows up here as two messages."""
import re
import socket
import threading

# A lone dot between two line breaks of any kind.
LENIENT_END = re.compile(rb"(?:\r\n|\n|\r)\.(?:\r\n|\n|\r)")


class Transaction:
    def __init__(self):
        self.sender = None
        self.recipients = []
        self.data = None  # bytes up to, not including, the end-of-data mark


class FakeRelayHost:
    """greeting: the reply lines sent on connect; refuse: recipient address
    -> reply line; quit: "reply" (221 then close), "drop" (close at once,
    without a reply), "hold" (221, then keep the connection until the other
    side closes it) or "mute" (no reply, and keep the connection likewise);
    silent: accept and never answer; tls: a server-side ssl.SSLContext with
    which EHLO offers STARTTLS; ehlo: answer EHLO (without STARTTLS) even
    without tls. Otherwise EHLO gets "500 what", as from a host that does
    not know it. `finished` is set once the connection has ended,
    `secured` once STARTTLS's handshake is done."""

    def __init__(self, greeting=("220 relay.example ready",), refuse=None, quit="reply", silent=False, tls=None,
                 ehlo=False):
        self.tls = tls
        self.ehlo = ehlo or tls is not None
        self.secured = False
        self._wrapped = None
        self.greeting = list(greeting)
        self.refuse = dict(refuse or {})
        self.quit = quit
        self.silent = silent
        self.commands = []
        self.transactions = []
        self.connections = 0
        self.finished = threading.Event()
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._listener.bind(("127.0.0.1", 0))
        self._listener.listen(5)
        self.port = self._listener.getsockname()[1]
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def close(self):
        try:
            self._listener.close()
        except OSError:
            pass

    def messages(self):
        return [t for t in self.transactions if t.data is not None]

    # -- the server --

    def _serve(self):
        try:
            connection, _ = self._listener.accept()
        except OSError:
            return
        self.connections += 1
        with connection:
            connection.settimeout(60)
            try:
                self._converse(connection)
            except OSError:
                pass
            finally:
                # STARTTLS's socket took over the descriptor.
                if self._wrapped is not None:
                    self._wrapped.close()
        self.finished.set()

    def _converse(self, connection):
        if self.silent:
            # Holds the connection until the other side gives up.
            while connection.recv(4096):
                pass
            return
        for line in self.greeting:
            connection.sendall(line.encode() + b"\r\n")
        buffer = b""
        current = Transaction()
        while True:
            while b"\r\n" not in buffer:
                chunk = connection.recv(4096)
                if not chunk:
                    return
                buffer += chunk
            line, buffer = buffer.split(b"\r\n", 1)
            command = line.decode("latin-1")
            self.commands.append(command)
            verb = command[:4].upper()
            if verb == "EHLO" and self.ehlo:
                offer = ["250-STARTTLS"] if self.tls is not None and not self.secured else []
                lines = ["250-relay.example"] + offer + ["250 8BITMIME"]
                connection.sendall("".join(line + "\r\n" for line in lines).encode())
            elif command.upper() == "STARTTLS" and self.tls is not None and not self.secured:
                self._reply(connection, "220 go ahead")
                connection = self._wrapped = self.tls.wrap_socket(connection, server_side=True)
                self.secured = True
                buffer = b""
            elif verb == "HELO":
                self._reply(connection, "250 relay.example")
            elif verb == "MAIL":
                current = Transaction()
                current.sender = command[10:]
                self.transactions.append(current)
                self._reply(connection, "250 sender ok")
            elif verb == "RCPT":
                address = command[command.find("<") + 1:command.rfind(">")]
                if address in self.refuse:
                    self._reply(connection, self.refuse[address])
                else:
                    current.recipients.append(address)
                    self._reply(connection, "250 recipient ok")
            elif verb == "DATA":
                self._reply(connection, "354 go ahead")
                # The CR LF of the DATA line counts as the mark's first break.
                data = b"\r\n" + buffer
                while not LENIENT_END.search(data):
                    chunk = connection.recv(65536)
                    if not chunk:
                        return
                    data += chunk
                end = LENIENT_END.search(data)
                current.data = data[2:end.start()]
                buffer = data[end.end():]
                self._reply(connection, "250 queued")
            elif verb == "QUIT":
                if self.quit == "drop":
                    return
                if self.quit != "mute":
                    self._reply(connection, "221 bye")
                if self.quit in ("hold", "mute"):
                    while connection.recv(4096):
                        pass
                return
            else:
                self._reply(connection, "500 what")

    @staticmethod
    def _reply(connection, text):
        connection.sendall(text.encode() + b"\r\n")


def unused_port():
    """A loopback port that nothing listens on."""
    probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    return port
