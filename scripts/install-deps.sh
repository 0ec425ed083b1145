#!/usr/bin/env bash
# Installs the Debian packages the build, tests and benchmarks need, when
# any is missing. Runs apt-get as root (through sudo when not root).
set -euo pipefail
# libjack-jackd2-dev and jackd2: the sound-device package (JACK) and its tests,
# which start jackd on the dummy driver (jackd2 asks through debconf about
# real-time priority; DEBIAN_FRONTEND=noninteractive below takes the default).
packages=(cmake ninja-build ccache g++ pkg-config libhwy-dev libgtest-dev libbenchmark-dev libstb-dev libfftw3-dev
  libxml2-dev libpugixml-dev clang libclang-rt-14-dev
  libcairo2-dev libfontconfig-dev zlib1g-dev libpng-dev libsndfile1-dev ocl-icd-opencl-dev opencl-headers pocl-opencl-icd
  libcpp-httplib-dev libssl-dev chromium libzmq3-dev libjack-jackd2-dev jackd2
  pybind11-dev python3-dev python3-numpy python3-scipy python3-pytest python3-setuptools python3-wheel python3-venv python3-pip)
# The browser test of nxflow serve runs on Node; Debian's own where none is there.
command -v node >/dev/null || packages+=(nodejs npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# The browser test's one npm package (puppeteer-core, which drives Debian's
# chromium and downloads no browser), as its lock file pins it.
browser="$(cd "$(dirname "$0")/.." && pwd)/tests/browser"
if [ ! -d "$browser/node_modules" ] || [ "$browser/package-lock.json" -nt "$browser/node_modules" ]; then
  (cd "$browser" && npm ci --no-audit --no-fund --loglevel=error)
fi
