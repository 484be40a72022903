#!/usr/bin/env bash
# First-run seeding: an empty data folder gets the sample site, http.dat with
# a random password for the log area, and an empty httpdomains.dat; the
# addresses of the site and of the log area are printed; a folder that
# already has settings is left alone. With a test server, the seeded folder
# is also served and fetched by curl, the log area only with its password.
#   seed_data_test.sh SEED_SCRIPT VANTREL_SETTINGS [HTTP_TEST_SERVER]
set -euo pipefail
seed=$1
tool=$2
server=${3:-}
work=$(mktemp -d)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
data=$work/data

fail() { echo "FAIL: $*" >&2; exit 1; }
expect() {  # expect KEY VALUE: http.dat holds VALUE under KEY
  local got
  got=$("$tool" "$data/http.dat" get "$1") || fail "http.dat has no $1"
  [ "$got" = "$2" ] || fail "http.dat $1 is '$got', expected '$2'"
}

output=$("$seed" "$tool" "$data")
grep -q "http://localhost:8080/" <<<"$output" || fail "no address printed: $output"
admin=$("$tool" "$data/http.dat" get admin) || fail "http.dat has no admin"
[[ "$admin" =~ ^[0-9a-f]{24}$ ]] || fail "the log area's password is '$admin', not 24 random hex digits"
grep -q "http://localhost:8080/admin$admin/logfile/" <<<"$output" \
  || fail "the log area's address is not printed: $output"
other=$("$seed" "$tool" "$work/other" >/dev/null && "$tool" "$work/other/http.dat" get admin)
[ "$other" != "$admin" ] || fail "two data folders got the same password $admin"

expect port 8080
expect defaultfolder site
expect defaultpage index.html
expect folderview 1
expect autostart 1
expect logfilecount 0
[ "$("$tool" "$data/http.dat" | cut -f3 | tr '\n' ' ')" = "int int text text text int int " ] \
  || fail "http.dat keys are not stored as integers and texts: $("$tool" "$data/http.dat")"
[ "$(od -An -tx1 "$data/httpdomains.dat" | tr -d ' \n')" = "0300000000000000" ] \
  || fail "httpdomains.dat is not an empty settings file"

[ -s "$data/site/index.html" ] || fail "no index page"
grep -q "Vantrel Server 2.33" "$data/site/index.html" || fail "index page does not name the program"
[ -n "$(find "$data/site" -mindepth 1 -type d)" ] || fail "no sub-folder"
png=$(find "$data/site" -name '*.png' | head -n 1)
[ -n "$png" ] || fail "no image"
[ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "$png is not a PNG"
[ -z "$(find "$data" -name '*.new')" ] || fail "a temporary file was left behind"

# The seeded folder as the server's working directory serves the site.
if [ -n "$server" ] && command -v curl >/dev/null; then
  coproc SERVER { exec "$server" "$data" 2>"$work/server.err"; }
  server_pid=$SERVER_PID
  read -r -t 20 word port <&"${SERVER[0]}" || fail "server did not start: $(cat "$work/server.err")"
  [ "$word" = PORT ] || fail "server said: $word $port"
  fetch() { curl -sS -f --max-time 10 -o "$2" "http://127.0.0.1:$port$1" || fail "GET $1"; }
  fetch / "$work/index"
  cmp -s "$work/index" "$data/site/index.html" || fail "GET / is not the sample index page"
  fetch /images/vantrel.png "$work/png"
  cmp -s "$work/png" "$png" || fail "GET /images/vantrel.png differs from the file"
  fetch /files/ "$work/listing"
  grep -q "readme.txt" "$work/listing" || fail "GET /files/ is no folder listing"
  fetch "/admin$admin/logfile/" "$work/logs"
  grep -q "httplog_0.txt" "$work/logs" || fail "the log area does not list the log"
  code=$(curl -s -o /dev/null -w '%{http_code}' --max-time 10 "http://127.0.0.1:$port/admin/logfile/")
  [ "$code" = 404 ] || fail "the log area is open without its password ($code)"
  eval "exec ${SERVER[1]}>&-"   # end of its input stops the server
  wait "$server_pid" || fail "server exited with an error"
  server_pid=""
else
  echo "no test server or curl: the seeded site was not served"
fi

# A second run must not touch a data folder that has settings.
"$tool" "$data/http.dat" set-int port 9090 >/dev/null
echo "mine" > "$data/site/index.html"
output=$("$seed" "$tool" "$data")
[ -z "$output" ] || fail "second run printed: $output"
expect port 9090
[ "$(cat "$data/site/index.html")" = "mine" ] || fail "second run replaced the site"

echo "seed test passed"
