#!/usr/bin/env bash
# tarn-hl7 against a hand-written JavaScript transformer of the same ADT^A01
# message (bench/adt_a01_transformer.js), back to back over the same
# records: the example records repeated to some 30,000. Prints messages per
# second for each, and tarn-hl7's peak resident memory.
#
#   scripts/bench-hl7.sh [BUILD_DIR] [RECORDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-rel}
count=${2:-30000}
tool=$build/tools/tarn-hl7
if [ ! -x "$tool" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARN_BUILD_TESTS=OFF -DTARN_BUILD_BENCH=OFF
  cmake --build "$build" -j"$(nproc)" --target tarn-hl7
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
records=$work/records.jsonl
lines=$(grep -c . examples/hl7/patients.jsonl)
for _ in $(seq $(( (count + lines - 1) / lines ))); do cat examples/hl7/patients.jsonl; done |
  head -n "$count" > "$records"
dates=BirthDate,MessageDateTime,AdmitDateTime,DiagnosedAt

rate() {  # NAME COMMAND...: runs it, prints messages per second
  local name=$1
  shift
  local start end
  start=$(date +%s.%N)
  "$@" > "$work/out" 2> "$work/err" || [ $? -eq 1 ]
  end=$(date +%s.%N)
  local written
  written=$(grep -o '^[0-9]* messages written' "$work/err" | grep -o '^[0-9]*')
  awk -v n="$name" -v w="$written" -v s="$start" -v e="$end" \
    'BEGIN { printf "%-28s %8d messages in %6.2f s: %8.0f messages per second\n", n, w, e - s, w / (e - s) }'
}

echo "$(wc -l < "$records") records, $(nproc) cores"
if command -v node > /dev/null; then
  rate "node transformer" node bench/adt_a01_transformer.js "$records"
else
  echo "node not found: the JavaScript baseline is skipped"
fi
for jobs in 1 2; do
  rate "tarn-hl7 --jobs $jobs" "$tool" --template examples/hl7/adt_a01.tmpl --records "$records" \
    --dates "$dates" --framing lf --rejects /dev/null --jobs "$jobs"
done
/usr/bin/time -f "tarn-hl7 --jobs 1 peak resident memory: %M KB" "$tool" \
  --template examples/hl7/adt_a01.tmpl --records "$records" --dates "$dates" \
  --output /dev/null --rejects /dev/null 2>&1 >/dev/null | tail -n 1
