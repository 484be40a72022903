#!/usr/bin/env python3
"""TLS benchmarks: our HTTPS and FTPS (the tests' http_test_server and
ftp_test_server harnesses) side by side with Debian's nginx and vsftpd on
127.0.0.1, each peer given our certificate and key and the same protocol
floor (TLS 1.2 and 1.3, the same TLS 1.2 ciphers, server preference,
session resumption).

  1. HTTPS: wrk, 50 connections, "Connection: close", a 1 KiB page: requests/s.
  2. HTTPS: curl, one 64 MiB download: MB/s.
  3. FTPS (AUTH TLS, PROT P, the data connection resuming the control
     session): curl download and upload of 256 MiB: MB/s.

Each measurement is warmed up once, then taken several times alternating
between the two servers; the medians are printed, the figures last, with
whether the kernel did the encryption (kTLS) on our side.

Usage: bench/tls_bench.py [--http-server PATH] [--ftp-server PATH] [--runs N] [--seconds S]
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

import bench_support
import ftp_bench
import http_bench
from bench_support import TLS12_CIPHERS, alternating, find_server, free_port, stop_peer

PAGE_BYTES = 1024
BIG_HTTP = 64 * 1024 * 1024
BIG_FTP = 256 * 1024 * 1024
WRK_CONNECTIONS = 50
TIMEOUT = 300

# Debian's stock configuration as the HTTP benchmark runs it, with TLS on
# its port: our certificate and key, and our protocol floor.
NGINX_CONF = http_bench.NGINX_CONF.replace("    gzip on;\n", """\
    ssl_protocols TLSv1.2 TLSv1.3;
    ssl_ciphers {ciphers};
    ssl_prefer_server_ciphers on;
    ssl_session_cache shared:SSL:10m;
    ssl_session_tickets on;
    ssl_conf_command Options KTLS;
""").replace("listen 127.0.0.1:{port};", "listen 127.0.0.1:{port} ssl;\n"
             "        ssl_certificate {certificate};\n        ssl_certificate_key {key};")

# vsftpd as the FTP benchmark runs it, with TLS required for the login and
# the data, and the data connection resuming the control session (as ours
# requires by default).
VSFTPD_TLS = """ssl_enable=YES
allow_anon_ssl=YES
force_anon_logins_ssl=YES
force_anon_data_ssl=YES
ssl_tlsv1=NO
ssl_sslv2=NO
ssl_sslv3=NO
require_ssl_reuse=YES
ssl_ciphers={ciphers}
rsa_cert_file={certificate}
rsa_private_key_file={key}
"""


def write_file(path, size):
    chunk = os.urandom(1024 * 1024)
    with open(path, "wb") as f:
        for _ in range(size // len(chunk)):
            f.write(chunk)


def wrk_rate(port, seconds):
    out = subprocess.run(["wrk", "-t2", f"-c{WRK_CONNECTIONS}", f"-d{seconds}s", "-H", "Connection: close",
                          f"https://127.0.0.1:{port}/page.html"], capture_output=True, text=True, check=True).stdout
    errors = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    if errors:
        sys.exit(f"wrk saw {errors.group(1)} error responses on port {port}")
    return float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))


def curl(*args):
    return subprocess.run(["curl", "--silent", "--show-error", "--fail", "--insecure"] + list(args),
                          capture_output=True, text=True, timeout=TIMEOUT, check=True).stdout


def https_rate(port):
    size, seconds = curl("-o", "/dev/null", "-w", "%{size_download} %{time_total}",
                         f"https://127.0.0.1:{port}/big.bin").split()
    assert int(size) == BIG_HTTP, size
    return int(size) / float(seconds) / 1e6


def ftps_download(url):
    size, seconds = curl("--ssl-reqd", "--ftp-pasv", "-o", "/dev/null", "-w", "%{size_download} %{time_total}",
                         url + "big.bin").split()
    assert int(size) == BIG_FTP, size
    return int(size) / float(seconds) / 1e6


def ftps_upload(url, source):
    size, seconds = curl("--ssl-reqd", "--ftp-pasv", "-T", source, "-w", "%{size_upload} %{time_total}",
                         url + "upload.bin").split()
    assert int(size) == BIG_FTP, size
    return int(size) / float(seconds) / 1e6


def medians(runs, ours, peer):
    return tuple(map(statistics.median, alternating(runs, [ours, peer])))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--http-server")
    parser.add_argument("--ftp-server")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--seconds", type=int, default=5)
    args = parser.parse_args()
    for tool in ("wrk", "curl", "nginx", "vsftpd"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is needed")
    http_server = find_server(args.http_server, "http_test_server")
    ftp_server = find_server(args.ftp_server, "ftp_test_server")

    folder = tempfile.mkdtemp(prefix="vt-tls-bench-")
    os.chmod(folder, 0o755)
    started = []
    try:
        site = os.path.join(folder, "site")
        root = os.path.join(folder, "root")
        os.makedirs(site)
        os.makedirs(root)
        os.chmod(root, 0o777)
        with open(os.path.join(site, "page.html"), "wb") as f:
            f.write(b"<p>" + b"x" * (PAGE_BYTES - 8) + b"</p>\r\n")
        write_file(os.path.join(site, "big.bin"), BIG_HTTP)
        write_file(os.path.join(root, "big.bin"), BIG_FTP)
        source = os.path.join(folder, "upload-source.bin")
        write_file(source, BIG_FTP)

        work = os.path.join(folder, "http-work")
        os.makedirs(work)
        ours_http = bench_support.Harness([http_server, work, "--default-folder", site,
                                           "--https-port", str(free_port())], ["PORT", "HTTPS"])
        started.append(ours_http.stop)
        https_port = ours_http.ports["HTTPS"]
        certificate = os.path.join(work, "tls", "certificate.pem")
        key = os.path.join(work, "tls", "key.pem")
        curl("-o", "/dev/null", f"https://127.0.0.1:{https_port}/page.html")  # makes the certificate
        nginx, nginx_port = http_bench.start_nginx(folder, site, NGINX_CONF, certificate=certificate, key=key,
                                                   ciphers=TLS12_CIPHERS)
        started.append(lambda: stop_peer(nginx))

        page = medians(args.runs, lambda: wrk_rate(https_port, args.seconds),
                       lambda: wrk_rate(nginx_port, args.seconds))
        big = medians(args.runs, lambda: https_rate(https_port), lambda: https_rate(nginx_port))

        ftp_work = os.path.join(folder, "ftp-work")
        os.makedirs(ftp_work)
        shutil.copytree(os.path.dirname(certificate), os.path.join(ftp_work, "tls"))  # one certificate for all
        ours_ftp = bench_support.Harness([ftp_server, ftp_work, "--tls=on", "bench:pw:63:" + root], ["PORT"])
        started.append(ours_ftp.stop)
        vsftpd = ftp_bench.Vsftpd(folder, root, VSFTPD_TLS.format(certificate=certificate, key=key,
                                                                  ciphers=TLS12_CIPHERS))
        started.append(vsftpd.stop)
        vsftpd_port = vsftpd.port
        ours_url = "ftp://bench:pw@127.0.0.1:%d/" % ours_ftp.ports["PORT"]
        peer_url = "ftp://127.0.0.1:%d/" % vsftpd_port
        down = medians(args.runs, lambda: ftps_download(ours_url), lambda: ftps_download(peer_url))
        up = medians(args.runs, lambda: ftps_upload(ours_url, source), lambda: ftps_upload(peer_url, source))
    finally:
        for stop in reversed(started):
            stop()
        shutil.rmtree(folder, ignore_errors=True)

    print(f"median of {args.runs} alternating runs after one warm-up; ours / peer")
    rows = [("HTTPS 1 KiB page, wrk -c50, Connection: close (req/s)", page, "nginx"),
            ("HTTPS 64 MiB download, curl (MB/s)", big, "nginx"),
            ("FTPS 256 MiB download, curl (MB/s)", down, "vsftpd"),
            ("FTPS 256 MiB upload, curl (MB/s)", up, "vsftpd")]
    for name, (ours, peer), peer_name in rows:
        print(f"{name}: ours {ours:.0f}, {peer_name} {peer:.0f}, ratio {ours / peer:.2f} (target >= 1.0)")


if __name__ == "__main__":
    main()
