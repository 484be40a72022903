#!/usr/bin/env python3
"""Web server benchmark: our server (tests' http_test_server harness) and
Debian's nginx side by side on 127.0.0.1, on the same temporary site.

  1. wrk, 50 connections, "Connection: close", a 1 KiB page: requests/s.
  2. curl, one 64 MiB download: MB/s.
  3. A name that does not exist in a folder of 100,000 files, and one that
     does, one request per connection: milliseconds per request.

Each measurement is warmed up once, then taken several times alternating
between the two servers; the medians are printed, the figures last.

Usage: bench/http_bench.py [--server PATH] [--runs N] [--seconds S] [--lookups N]
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import http.client

from bench_support import Harness, alternating, find_server, free_port, stop_peer, wait_for_port

PAGE_BYTES = 1024
BIG_BYTES = 64 * 1024 * 1024
WRK_CONNECTIONS = 50
MANY_FILES = 100_000
# Our server keeps a folder's name index only once the folder has not
# changed for two seconds (file-system clocks may tick that coarsely).
SETTLE_S = 2.5

# Debian's stock configuration, with every path moved into a temporary prefix.
NGINX_CONF = """\
user {user};
worker_processes auto;
pid {prefix}/nginx.pid;
error_log {prefix}/error.log;
daemon off;
events {{ worker_connections 768; }}
http {{
    sendfile on;
    tcp_nopush on;
    types_hash_max_size 2048;
    include /etc/nginx/mime.types;
    default_type application/octet-stream;
    access_log {prefix}/access.log;
    client_body_temp_path {prefix}/body;
    proxy_temp_path {prefix}/proxy;
    fastcgi_temp_path {prefix}/fastcgi;
    uwsgi_temp_path {prefix}/uwsgi;
    scgi_temp_path {prefix}/scgi;
    gzip on;
    server {{
        listen 127.0.0.1:{port};
        root {site};
        index index.html index.htm;
        server_name _;
        location / {{
            try_files $uri $uri/ =404;
        }}
    }}
}}
"""


def make_site(folder, page_only=False):
    site = os.path.join(folder, "site")
    os.makedirs(site)
    with open(os.path.join(site, "page.html"), "wb") as f:
        f.write(b"<p>" + b"x" * (PAGE_BYTES - 8) + b"</p>\r\n")
    if page_only:
        return site
    many = os.path.join(site, "many")
    os.makedirs(many)
    for i in range(MANY_FILES):
        with open(os.path.join(many, f"File{i:06d}.txt"), "wb") as f:
            f.write(b"x")
    with open(os.path.join(site, "big.bin"), "wb") as f:
        chunk = os.urandom(1024 * 1024)
        for _ in range(BIG_BYTES // len(chunk)):
            f.write(chunk)
    return site


def start_ours(server, folder, site):
    work = os.path.join(folder, "ours")
    os.makedirs(work)
    harness = Harness([server, work, "--default-folder", site], ["PORT"])
    return harness, harness.ports["PORT"]


def start_nginx(folder, site, template=NGINX_CONF, **fields):
    """nginx on a free loopback port with the configuration `template`
    filled in (the TLS benchmark passes one of its own, with its fields)."""
    prefix = os.path.join(folder, "nginx")
    os.makedirs(prefix)
    port = free_port()
    user = "www-data" if os.geteuid() == 0 else os.environ.get("USER", "nobody")
    conf = os.path.join(prefix, "nginx.conf")
    with open(conf, "w") as f:
        f.write(template.format(user=user, prefix=prefix, port=port, site=site, **fields))
    process = subprocess.Popen(["nginx", "-p", prefix, "-c", conf],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for_port(port, "nginx", process)
    return process, port


def wrk_rate(port, seconds):
    out = subprocess.run(["wrk", "-t2", f"-c{WRK_CONNECTIONS}", f"-d{seconds}s",
                          "-H", "Connection: close", f"http://127.0.0.1:{port}/page.html"],
                         capture_output=True, text=True, check=True).stdout
    match = re.search(r"Requests/sec:\s+([\d.]+)", out)
    errors = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    if errors:
        sys.exit(f"wrk saw {errors.group(1)} error responses on port {port}")
    socket_errors = re.search(r"Socket errors: (.*)", out)
    if socket_errors:
        print(f"  port {port}: socket errors: {socket_errors.group(1)}")
    return float(match.group(1))


def curl_rate(port):
    out = subprocess.run(["curl", "-s", "-o", "/dev/null", "-w", "%{speed_download} %{size_download}",
                          f"http://127.0.0.1:{port}/big.bin"],
                         capture_output=True, text=True, check=True).stdout.split()
    if int(float(out[1])) != BIG_BYTES:
        sys.exit(f"short download from port {port}: {out[1]} bytes")
    return float(out[0]) / 1e6


def request_ms(port, path, count):
    """Median milliseconds of `count` requests, each on its own connection."""
    times = []
    for _ in range(count):
        start = time.perf_counter()
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        connection.request("GET", path, headers={"Connection": "close"})
        response = connection.getresponse()
        response.read()
        connection.close()
        times.append((time.perf_counter() - start) * 1000)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--seconds", type=int, default=5)
    parser.add_argument("--lookups", type=int, default=200, help="requests per 404/hit measurement")
    parser.add_argument("--page-only", action="store_true", help="only the 1 KiB page, each round printed")
    args = parser.parse_args()
    for tool in ("wrk", "curl", "nginx"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is needed")
    server = find_server(args.server, "http_test_server")

    folder = tempfile.mkdtemp(prefix="vt-http-bench-")
    os.chmod(folder, 0o755)
    ours = nginx = None
    try:
        site = make_site(folder, args.page_only)
        settled = time.monotonic() + SETTLE_S
        ours, ours_port = start_ours(server, folder, site)
        nginx, nginx_port = start_nginx(folder, site)
        time.sleep(max(0.0, settled - time.monotonic()))

        page_rounds = alternating(
            args.runs, [lambda: wrk_rate(ours_port, args.seconds), lambda: wrk_rate(nginx_port, args.seconds)])
        page_ours, page_nginx = map(statistics.median, page_rounds)
        if args.page_only:
            for number, (ours_rate, nginx_rate) in enumerate(zip(*page_rounds), 1):
                print(f"round {number}: ours {ours_rate:.0f} req/s, nginx {nginx_rate:.0f} req/s, "
                      f"ratio {ours_rate / nginx_rate:.2f}")
            print(f"1 KiB page, wrk -c{WRK_CONNECTIONS}, Connection: close, median of {args.runs}: "
                  f"ours {page_ours:.0f} req/s, nginx {page_nginx:.0f} req/s, ratio {page_ours / page_nginx:.2f}")
            return
        big_ours, big_nginx = map(statistics.median, alternating(
            args.runs, [lambda: curl_rate(ours_port), lambda: curl_rate(nginx_port)]))
        miss = "/many/NoSuchFile.txt"
        hit = f"/many/File{MANY_FILES // 2:06d}.txt"
        miss_ours, miss_nginx = map(statistics.median, alternating(
            args.runs, [lambda: request_ms(ours_port, miss, args.lookups), lambda: request_ms(nginx_port, miss, args.lookups)]))
        hit_ours, hit_nginx = map(statistics.median, alternating(
            args.runs, [lambda: request_ms(ours_port, hit, args.lookups), lambda: request_ms(nginx_port, hit, args.lookups)]))
    finally:
        if ours is not None:
            ours.stop(timeout=10)
        if nginx is not None:
            stop_peer(nginx)
        shutil.rmtree(folder, ignore_errors=True)

    print(f"median of {args.runs} runs after one warm-up")
    print(f"1 KiB page, wrk -c{WRK_CONNECTIONS}, Connection: close: "
          f"ours {page_ours:.0f} req/s, nginx {page_nginx:.0f} req/s, "
          f"ratio {page_ours / page_nginx:.2f} (target >= 1.0)")
    print(f"64 MiB download, curl: ours {big_ours:.0f} MB/s, nginx {big_nginx:.0f} MB/s "
          f"(target >= 1000)")
    print(f"HTTP 404 in a folder of {MANY_FILES:,} files: ours {miss_ours:.2f} ms, nginx {miss_nginx:.2f} ms "
          f"(a hit: ours {hit_ours:.2f} ms, nginx {hit_nginx:.2f} ms; target < 1 ms)")


if __name__ == "__main__":
    main()
