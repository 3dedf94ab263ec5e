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
# The ARM lane (make test-arm): the armel cross compiler, qemu-arm, and
# GoogleTest and Google Benchmark for armel from Debian's multiarch packages
# (nlohmann-json3-dev above is header-only and serves both).
arm_packages=(g++-arm-linux-gnueabi qemu-user libgtest-dev:armel libbenchmark-dev:armel)
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

# The armel packages need dpkg to know the architecture (apt-get update
# below then fetches its package lists).
if [ "${1:-}" != "--build" ] && [ "${1:-}" != "--device" ] &&
  ! dpkg --print-foreign-architectures | grep -qx armel; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "The ARM lane needs armel packages. Run as root:  dpkg --add-architecture armel" >&2
    echo "then run $0 again (as root, or the apt-get command it prints)." >&2
    exit 1
  fi
  echo "Adding the armel architecture"
  dpkg --add-architecture armel
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
  apt-get update -qq </dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi

if [ "${1:-}" != "--build" ] && [ "${1:-}" != "--device" ]; then
  here=$(cd "$(dirname "$0")/.." && pwd)
  if [ -f "$here/tests/browser/package.json" ] && [ ! -d "$here/tests/browser/node_modules/playwright-core" ]; then
    echo "Installing the browser tests' npm packages"
    (cd "$here/tests/browser" && npm ci --no-audit --no-fund </dev/null)
  fi
fi
