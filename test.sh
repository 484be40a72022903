#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test twice: in the normal
# build and in an AddressSanitizer + UndefinedBehaviorSanitizer build.
# Exits non-zero on any failure; ctest's summary closes each run.
set -uo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh

vt_ensure_packages $VT_BUILD_PACKAGES $VT_TEST_PACKAGES || exit 1
# A missing browser only skips the browser test.
vt_ensure_packages $VT_BROWSER_PACKAGES || echo "Chromium could not be installed; the browser test will be skipped."

jobs=$(nproc)
status=0

run_suite() {
  local dir=$1; shift
  echo "=== Building $dir"
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null || return 1
  cmake --build "$dir" -j "$jobs" || return 1
  echo "=== Testing $dir"
  (cd "$dir" && ctest --output-on-failure --timeout 600 -j "$jobs")
}

run_suite build -DCMAKE_BUILD_TYPE=Release || status=1
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_SANITIZE=ON || status=1
exit $status
