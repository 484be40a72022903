#!/usr/bin/env bash
# Installs what is missing, then runs the suites one after the other:
#   release        every test in a release build (build/)
#   asan           every test under AddressSanitizer + UBSan (build-asan/)
#   thread_safety  a clang build of everything without Qt, where the lock
#                  analysis (-Wthread-safety) is an error (build-tsan/)
#   tsan           the unit and protocol tests of that same build, which is
#                  instrumented with ThreadSanitizer
#   fuzz           each libFuzzer target over its seed corpus in fuzz/ and a
#                  fixed number of further inputs (build-fuzz/)
# Any failing suite makes the script exit non-zero; ctest's summary closes
# each ctest run. Sourced, it only defines its steps (the first-run test
# runs install_packages).
. "$(dirname "${BASH_SOURCE[0]}")/scripts/packages.sh"

jobs=$(nproc)
clang=clang++-14

# A missing browser only skips the browser test, missing debootstrap or
# systemd-nspawn only the test of the package on a booted system.
install_packages() {
  vt_ensure_packages $VT_BUILD_PACKAGES $VT_TEST_PACKAGES || return 1
  vt_ensure_packages $VT_BROWSER_PACKAGES ||
    echo "Chromium could not be installed; the browser test will be skipped."
  vt_ensure_packages $VT_SYSTEM_PACKAGES ||
    echo "debootstrap or systemd-nspawn could not be installed; the system test will be skipped."
  return 0
}

# build DIR [cmake arguments...]: configures and builds DIR with the tests.
build() {
  local dir=$1 began=$SECONDS
  shift
  echo "=== Building $dir"
  cmake -S . -B "$dir" -G Ninja -DVT_TESTS=ON "$@" >/dev/null || return 1
  cmake --build "$dir" -j "$jobs" || return 1
  echo "=== Built $dir in $(elapsed $began)"
}

# run_tests DIR [ctest arguments...]
run_tests() {
  local dir=$1
  shift
  echo "=== Testing $dir"
  (cd "$dir" && ctest --output-on-failure --timeout 600 -j "$jobs" "$@")
}

elapsed() {
  local seconds=$((SECONDS - $1))
  echo "$((seconds / 60))m$((seconds % 60))s"
}

suite_release() {
  build build -DCMAKE_BUILD_TYPE=Release && run_tests build
}

# The script tests (label "scripts") hold no code of ours to instrument, and
# system calls (label "syscalls") are counted in the release build only.
suite_asan() {
  build build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_SANITIZE=ON || return 1
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
    run_tests build-asan -LE "scripts|syscalls"
}

# Building is the check: clang adds -Wthread-safety to the warnings, which
# are errors. The one test run here proves that the analysis is on.
suite_thread_safety() {
  CXX=$clang build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_GUI=OFF -DVT_TSAN=ON || return 1
  run_tests build-tsan -L thread-safety
}

# Reports go to files, so that those of servers started by the protocol
# tests are kept too; a report also makes its process exit non-zero.
suite_tsan() {
  local reports=$PWD/build-tsan/tsan-reports status=0
  rm -rf "$reports" && mkdir -p "$reports"
  CXX=$clang build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_GUI=OFF -DVT_TSAN=ON || return 1
  TSAN_OPTIONS="log_path=$reports/report:second_deadlock_stack=1:allow_addr2line=1" \
    run_tests build-tsan -LE "thread-safety|scripts|syscalls" || status=1
  if [ -n "$(ls -A "$reports")" ]; then
    echo "=== ThreadSanitizer reports ($reports):"
    cat "$reports"/*
    status=1
  fi
  return $status
}

# Only the fuzz targets are built; the libraries are instrumented for
# coverage and checked by AddressSanitizer + UBSan.
suite_fuzz() {
  local began=$SECONDS
  echo "=== Building build-fuzz"
  CXX=$clang cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_GUI=OFF \
    -DVT_TESTS=OFF -DVT_FUZZ=ON -DVT_SANITIZE=ON >/dev/null || return 1
  cmake --build build-fuzz -j "$jobs" --target vt_fuzzers || return 1
  echo "=== Built build-fuzz in $(elapsed $began)"
  run_tests build-fuzz -L fuzz
}

[ "${BASH_SOURCE[0]}" = "$0" ] || return 0

set -uo pipefail
cd "$(dirname "$0")"
install_packages || exit 1

status=0
failed=()
for suite in release asan thread_safety tsan fuzz; do
  "suite_$suite" || { status=1; failed+=("$suite"); }
done
[ $status -eq 0 ] || echo "=== Failed suites: ${failed[*]}" >&2
exit $status
