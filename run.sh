#!/usr/bin/env bash
# Installs what is missing, builds a release build and starts Vantrel Server
# with DATA_DIR (default ./server-data) as its working directory.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
. scripts/packages.sh

vt_ensure_packages $VT_BUILD_PACKAGES

data_dir=${1:-server-data}
mkdir -p "$data_dir"
data_dir=$(cd "$data_dir" && pwd)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target vantrel-server vantrel-settings

if [ -x scripts/seed-data.sh ]; then
  scripts/seed-data.sh "$root/build/vantrel-settings" "$data_dir"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
  echo "No display found: running without a window (QT_QPA_PLATFORM=offscreen)."
  echo "Message boxes are printed to standard error. Stop the server with Ctrl+C or: kill $$"
fi
echo "Data folder: $data_dir"
cd "$data_dir"
exec "$root/build/vantrel-server"
