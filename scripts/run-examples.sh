#!/usr/bin/env bash
# Installs what is needed, builds tarn-eval and evaluates the example
# expressions against the example fields.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARN_BUILD_TESTS=OFF -DTARN_BUILD_BENCH=OFF
cmake --build build -j"$(nproc)" --target tarn-eval
while IFS= read -r expr; do
  case "$expr" in ''|'#'*) continue ;; esac
  printf '%-50s => ' "$expr"
  ./build/tools/tarn-eval --fields examples/fields.json -e "$expr" || true
done < examples/expressions.txt
