#!/usr/bin/env bash
# First run: gives an empty data folder a working web site.
#   seed-data.sh VANTREL_SETTINGS DATA_DIR
# When DATA_DIR holds no HTTP settings yet (no http.dat), copies the sample
# site into DATA_DIR/site and writes http.dat (port 8080, that folder as the
# default folder, folder view on, autostart, a random password for the log
# area) and an empty httpdomains.dat with the vantrel-settings tool, and
# prints the addresses of the site and of the log area. A data folder with
# settings is left alone.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "Usage: $0 VANTREL_SETTINGS DATA_DIR" >&2
  exit 2
fi
tool=$1
data_dir=$2
sample=$(cd "$(dirname "$0")/../share/sample-site" && pwd)
port=8080
site=site
# The log area shows every client's address and user name: never open to
# all. 12 random bytes in hex fill the password's 24 characters.
admin=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
if [ ${#admin} -ne 24 ]; then
  echo "$0: no random password could be made" >&2
  exit 1
fi

if [ -e "$data_dir/http.dat" ]; then
  exit 0
fi
mkdir -p "$data_dir"

# An existing folder of that name is the operator's: never overwrite it.
if [ ! -e "$data_dir/$site" ]; then
  cp -R "$sample" "$data_dir/$site"
fi

# The default folder is relative to the data folder, the server's working
# directory, so the data folder can be moved as a whole.
"$tool" "$data_dir/httpdomains.dat" create
settings="$data_dir/http.dat.new"
rm -f "$settings"
"$tool" "$settings" set-int logfilecount 0
"$tool" "$settings" set-int port "$port"
"$tool" "$settings" set-text admin "$admin"
"$tool" "$settings" set-text defaultfolder "$site"
"$tool" "$settings" set-text defaultpage index.html
"$tool" "$settings" set-int folderview 1
"$tool" "$settings" set-int autostart 1
# Only a complete http.dat marks the folder as seeded.
mv "$settings" "$data_dir/http.dat"

echo "Sample web site installed in $data_dir/$site."
echo "Open http://localhost:$port/ once the server is running."
echo "The server's logs are at http://localhost:$port/admin$admin/logfile/ (see README to change this password)."
