#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (run as root).
set -euo pipefail
packages=(
  cmake make g++ pkg-config git
  libicu-dev nlohmann-json3-dev libcli11-dev libspdlog-dev
  libgtest-dev libgmock-dev libbenchmark-dev liblua5.4-dev libasio-dev libssl-dev openssl
  clang libclang-rt-14-dev
)
# The Windows build and its tests under Wine (Debian x86_64 only).
if [ "$(dpkg --print-architecture)" = amd64 ]; then
  packages+=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 wine)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
