"""The clients of the booted-system test, run by the container's own python3
inside its network: each command uses one service as a mail program or an
FTP client would and prints what it got; a failure ends with a traceback
and a non-zero status.
    system_clients.py ftp USER PASSWORD       fetch hello.txt, store upload.txt
    system_clients.py mail ADDRESS USER PASSWORD
                                             send over SMTP, fetch over POP3
    system_clients.py occupy PORT             hold PORT until standard input ends"""

import ftplib
import io
import poplib
import smtplib
import socket
import sys
import time

DEADLINE_S = 20
UPLOADED = b"stored through the service\n"


def connected(connect):
    """connect() once the service listens: it may just be starting."""
    deadline = time.monotonic() + DEADLINE_S
    while True:
        try:
            return connect()
        except ConnectionRefusedError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.05)


def ftp(user, password):
    with ftplib.FTP() as client:
        connected(lambda: client.connect("127.0.0.1", 21, timeout=DEADLINE_S))
        client.login(user, password)
        received = io.BytesIO()
        client.retrbinary("RETR hello.txt", received.write)
        client.storbinary("STOR upload.txt", io.BytesIO(UPLOADED))
    sys.stdout.write(received.getvalue().decode("latin-1"))


def mail(address, user, password):
    with connected(lambda: smtplib.SMTP("127.0.0.1", 25, timeout=DEADLINE_S)) as smtp:
        smtp.sendmail("sender@client.example", [address],
                      "Subject: on a booted system\r\n\r\nDelivered by the service.\r\n")
    # Delivery follows the end of the SMTP connection.
    deadline = time.monotonic() + DEADLINE_S
    while True:
        pop = connected(lambda: poplib.POP3("127.0.0.1", 110, timeout=DEADLINE_S))
        try:
            pop.user(user)
            pop.pass_(password)
            if pop.stat()[0] > 0:
                sys.stdout.write(b"\r\n".join(pop.retr(1)[1]).decode("latin-1"))
                return
        finally:
            pop.quit()
        if time.monotonic() > deadline:
            raise AssertionError("no message arrived for " + user)
        time.sleep(0.1)


def occupy(port):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        # Past connections of the service may linger in TIME_WAIT.
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind(("", int(port)))
        s.listen()
        print("listening", flush=True)
        sys.stdin.read()


if __name__ == "__main__":
    {"ftp": ftp, "mail": mail, "occupy": occupy}[sys.argv[1]](*sys.argv[2:])
