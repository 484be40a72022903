# Sourced by run.sh and test.sh: installs the Debian packages that are
# missing, with apt-get when root; otherwise prints the command to run and
# returns non-zero, and the caller decides whether it can go on.

vt_missing_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  echo "${missing[@]:-}"
}

vt_ensure_packages() {
  local missing
  missing=$(vt_missing_packages "$@")
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "These Debian packages are missing: $missing" >&2
    echo "Install them with:  sudo apt-get install -y $missing" >&2
    return 1
  fi
  echo "Installing: $missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing
}

# What building the program needs.
VT_BUILD_PACKAGES="g++ cmake ninja-build qt6-base-dev libssl-dev"
# What the tests need on top: GoogleTest, the real clients they drive (mail
# programs included), clang with its runtimes for the lock analysis,
# ThreadSanitizer and libFuzzer, and the tools that check the installed
# files and the Debian package (dpkg-shlibdeps, desktop-file-validate,
# groff and man, systemd-analyze), strace for the count of system
# calls per request, openssl's command line for certificates and TLS
# handshakes, and the Perl TLS module swaks needs for STARTTLS.
VT_TEST_PACKAGES="libgtest-dev libgmock-dev python3 curl openssl lftp swaks libnet-ssleay-perl msmtp fetchmail mpop clang-14 libclang-rt-14-dev dpkg-dev desktop-file-utils groff-base man-db systemd strace"
# The browser test needs Chromium; its absence skips that one test.
VT_BROWSER_PACKAGES="chromium"
# The test of the package on a booted system makes a Debian system and
# boots it; without these it is skipped.
VT_SYSTEM_PACKAGES="debootstrap systemd-container"
