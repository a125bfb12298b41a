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

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
