#!/usr/bin/env bash
# Installs what `make test-arm64` needs beyond scripts/install-deps.sh: the
# Debian cross compiler for 64-bit ARM and the user-mode emulator that runs
# its programs here. Kept apart so that `make test` never pulls them in.
# Only installs what is missing; uses sudo when not run as root.
set -euo pipefail

packages=(
  g++-aarch64-linux-gnu  # the cross compiler and its C++ runtime for arm64
  qemu-user              # qemu-aarch64, which runs the cross-built tests
  libgtest-dev           # GoogleTest's sources (/usr/src/googletest), built for arm64
  cmake
  make
)

bash "$(dirname "$0")/install-packages.sh" "${packages[@]}"
