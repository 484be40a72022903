#!/usr/bin/env bash
# The two commands on a machine that has only what they install:
# - run.sh's configure step succeeds in a fresh copy of the sources with
#   GoogleTest hidden from cmake (only the build packages are there), while
#   asking for the tests there fails, so the hiding really holds;
# - for a user who is not root, a missing package makes the package helper
#   return a status instead of ending the script, and test.sh goes on
#   without the browser and the tools that boot a system, saying which
#   tests are skipped.
# Hermetic: a copy in a temporary folder, and stand-ins for id and apt-get
# that say "not root" and record any install attempt.
#   first_run_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/vt-first-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

copy=$work/source
mkdir "$copy"
tar -C "$source_dir" --exclude='./build*' --exclude=./.git --exclude=./server-data -cf - . |
  tar -C "$copy" -xf - || { echo "FAIL: cannot copy the sources" >&2; exit 1; }

hide_gtest=(-DCMAKE_DISABLE_FIND_PACKAGE_GTest=TRUE -DCMAKE_DISABLE_FIND_PACKAGE_GMock=TRUE)

# run.sh's own configure step.
if ! output=$(cd "$copy" && . ./run.sh && configure_release "${hide_gtest[@]}" 2>&1); then
  fail "run.sh's configure step needs more than the build packages: $output"
fi
grep -q "^VT_TESTS:BOOL=OFF" "$copy/build/CMakeCache.txt" 2>/dev/null || fail "run.sh builds the tests"
if (cd "$copy" && cmake -S . -B "$work/build-tests" -G Ninja -DVT_TESTS=ON "${hide_gtest[@]}") >/dev/null 2>&1; then
  fail "the tests configured with GoogleTest hidden: the check above proves nothing"
fi

# A user who is not root, on a machine without one package.
fake=$work/bin
mkdir "$fake"
printf '#!/bin/sh\n[ "$1" = -u ] && echo 1000 && exit 0\nexec /usr/bin/id "$@"\n' >"$fake/id"
printf '#!/bin/sh\necho "$*" >>"%s"\nexit 1\n' "$work/apt-get-calls" >"$fake/apt-get"
chmod +x "$fake/id" "$fake/apt-get"

output=$(cd "$copy" && PATH="$fake:$PATH" bash -c '
  . scripts/packages.sh
  vt_ensure_packages bash vt-absent-package && echo "helper claimed success"
  echo "helper returned"' 2>&1)
grep -q "These Debian packages are missing: vt-absent-package" <<<"$output" || fail "no missing-package message: $output"
grep -q "sudo apt-get install -y vt-absent-package" <<<"$output" || fail "no install command: $output"
grep -q "helper returned" <<<"$output" || fail "the helper ended the script: $output"
grep -q "helper claimed success" <<<"$output" && fail "the helper reported success: $output"

# test.sh's package step with the browser and the system tools missing.
output=$(cd "$copy" && PATH="$fake:$PATH" bash -c '
  . ./test.sh
  VT_BUILD_PACKAGES=bash VT_TEST_PACKAGES=bash VT_BROWSER_PACKAGES=vt-absent-browser
  VT_SYSTEM_PACKAGES=vt-absent-debootstrap
  install_packages || echo "packages failed"
  echo "test.sh went on"' 2>&1)
grep -q "the browser test will be skipped" <<<"$output" || fail "no skip message: $output"
grep -q "the system test will be skipped" <<<"$output" || fail "no system skip message: $output"
grep -q "test.sh went on" <<<"$output" || fail "test.sh stopped: $output"
grep -q "packages failed" <<<"$output" && fail "a missing optional package failed the package step: $output"

[ -e "$work/apt-get-calls" ] && fail "apt-get was run for a user who is not root: $(cat "$work/apt-get-calls")"
[ "$failures" -eq 0 ] && echo "first run: all checks passed"
exit $((failures > 0))
