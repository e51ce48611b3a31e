#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (run as root).
set -euo pipefail
packages=(
  cmake make g++ pkg-config git
  libicu-dev nlohmann-json3-dev libsimdjson-dev libmimalloc-dev libcli11-dev libspdlog-dev
  libgtest-dev libgmock-dev libbenchmark-dev liblua5.4-dev libasio-dev libssl-dev openssl
  clang libclang-rt-14-dev
  python3 python3-dev python3-pip python3-venv python3-setuptools
  python3-pybind11 pybind11-dev python3-pytest python3-hl7
)
# The Windows builds of both widths, their installers (wixl) and their
# tests under Wine (Debian x86_64 only); 32-bit Wine comes from the i386
# architecture.
if [ "$(dpkg --print-architecture)" = amd64 ]; then
  packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools wixl msitools ccache
    wine64 wine wine32:i386)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    i386_added=1
  fi
fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ -n "${i386_added:-}" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
