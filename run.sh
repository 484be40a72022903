#!/usr/bin/env bash
# Installs what is missing, builds a release build and starts Vantrel Server
# with DATA_DIR (default ./server-data) as its working directory. Sourced,
# it only defines configure_release, which the first-run test runs.

# Configures the release build in ./build (more cmake arguments may
# follow). Without the tests, so that building needs no GoogleTest.
configure_release() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVT_TESTS=OFF "$@" >/dev/null
}
[ "${BASH_SOURCE[0]}" = "$0" ] || return 0

set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
. scripts/packages.sh

vt_ensure_packages $VT_BUILD_PACKAGES || exit 1

data_dir=${1:-server-data}
mkdir -p "$data_dir"
data_dir=$(cd "$data_dir" && pwd)

configure_release
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
