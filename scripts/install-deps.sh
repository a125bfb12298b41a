#!/usr/bin/env bash
# Installs the Debian packages that building and testing demosaic-eval needs,
# and only those that are missing. Uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential   # g++ and make
  cmake
  pkg-config
  libopencv-dev     # OpenCV 4 headers, libraries and CMake package
  libgtest-dev      # GoogleTest
  zlib1g-dev        # the fault tests write their own PNG streams
  libraw-dev        # LibRaw: unpacks camera raw files (DNG, CR2, NEF, ...)
  libdeflate-dev    # libdeflate: inflates the common kind of PNG, CRCs and Adler-32 of written ones
  libsleef-dev      # SLEEF: vectorised arctangent, sine, cosine, exponential of CIEDE2000
  libbenchmark-dev  # Google Benchmark, for the speed benchmark
  time              # /usr/bin/time, for the peak-memory measurement
  libcli11-dev      # option parsing of demosaic-bench
  libssl-dev        # libcrypto: the SHA-256 of each reference in --summary
  clang             # libFuzzer targets and the sanitizer build
  libclang-rt-dev
  chromium          # the HTML report's browser test: headless Chromium,
  chromium-driver   # its WebDriver,
  python3-selenium  # and the WebDriver client the test's probe uses
  python3-dev         # the Python module demosaic: headers of Debian's python3
  pybind11-dev        # its binding (and CMake package)
  python3-pybind11
  python3-numpy       # its arrays
  python3-dask        # python3 -m demosaic.evaluate: one task per image
  python3-distributed #   on a local or a running Dask cluster
  python3-pytest      # the module's tests
  python3-psutil      #   (which look for worker processes left behind)
  hyperfine           # scripts/time-evaluation.sh
  locales             # localedef and its sources: the decimal-comma locale test
)

bash "$(dirname "$0")/install-packages.sh" "${packages[@]}"
