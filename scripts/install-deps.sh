#!/usr/bin/env bash
# Installs the Debian packages (and the npm packages of the browser tests)
# that building and testing Corvane needs. Safe to run again: it installs
# only what is missing. When not run as root it prints the command to run.
#
#   scripts/install-deps.sh          everything (build, tests, browser tests)
#   scripts/install-deps.sh --build  only what building the simulator needs
#   scripts/install-deps.sh --device what building and checking corvane.exe needs
set -euo pipefail

build_packages=(
  cmake ninja-build make pkg-config python3
  clang clang-14 lld llvm-14 libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libboost-dev nlohmann-json3-dev libpng-dev
)
test_packages=(chromium)
# The ARM lane (make test-arm): the armel cross compiler (which brings its own
# C and C++ runtime under /usr/arm-linux-gnueabi), qemu-arm, and GoogleTest's
# source, which the lane builds with the cross compiler. No package of a
# foreign architecture: apt installs a Multi-Arch: same library (libc6,
# libstdc++6) for armel only at the very version installed for amd64, and
# the archive does not always serve that version for both (a security update
# reaches one architecture's lists first), so `dpkg --add-architecture` made
# the first run on a fresh machine fail. nlohmann-json3-dev above is
# header-only and serves both.
arm_packages=(g++-arm-linux-gnueabi qemu-user googletest)
# The device build (make device): the same cross compiler and GNU ld, and the
# three independent PE readers its test checks the exe with (llvm-readobj
# comes with llvm-14 above).
device_packages=(g++-arm-linux-gnueabi binutils-arm-linux-gnueabi pev python3-pefile)

want=("${build_packages[@]}")
if [ "${1:-}" = "--device" ]; then
  want+=("${device_packages[@]}")
elif [ "${1:-}" != "--build" ]; then
  want+=("${test_packages[@]}" "${arm_packages[@]}" "${device_packages[@]}")
  # Node.js may come from elsewhere (e.g. NodeSource); only ask Debian for
  # it when there is none, since Debian's npm conflicts with other builds.
  command -v node >/dev/null 2>&1 || want+=(nodejs)
  command -v npm >/dev/null 2>&1 || want+=(npm)
fi

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Run as root:  apt-get update && apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing Debian packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  log=$(mktemp)
  trap 'rm -f "$log" "$log.resolver"' EXIT
  if ! apt-get update -qq </dev/null >"$log" 2>&1; then
    cat "$log" >&2
    echo "apt-get update failed (above): the package lists could not be fetched." >&2
    exit 1
  fi
  if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null 2>&1 | tee "$log"; then
    # apt's last line seldom names the cause: ask its resolver to show its
    # steps for the same packages (a dry run) and say what went wrong.
    apt-get install -s -o Debug::pkgDepCache::Marker=1 "${missing[@]}" </dev/null >"$log.resolver" 2>&1 || true
    "$(dirname "$0")/explain-apt-refusal.sh" "$log" "$log.resolver" >&2
    exit 1
  fi
fi

if [ "${1:-}" != "--build" ] && [ "${1:-}" != "--device" ]; then
  here=$(cd "$(dirname "$0")/.." && pwd)
  if [ -f "$here/tests/browser/package.json" ] && [ ! -d "$here/tests/browser/node_modules/playwright-core" ]; then
    echo "Installing the browser tests' npm packages"
    (cd "$here/tests/browser" && npm ci --no-audit --no-fund </dev/null)
  fi
fi
