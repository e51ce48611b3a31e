#!/usr/bin/env bash
# tarn-hl7 against a hand-written JavaScript transformer of the same ADT^A01
# message (bench/adt_a01_transformer.js), back to back over the same
# records: the example records repeated to some 30,000. Each runs ROUNDS
# times, in turns, and its fastest round counts, so that a busy moment on a
# shared machine costs neither side. Prints messages per second for each
# (tarn-hl7 reading a file and standard input), and tarn-hl7's peak
# resident memory, also with --jobs 16 over records of 1 MB.
#
#   scripts/bench-hl7.sh [BUILD_DIR] [RECORDS] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-rel}
count=${2:-30000}
rounds=${3:-5}
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

best=()  # per runner: the fastest round's seconds and messages

timed() {  # INDEX COMMAND...: runs it once, keeps the fastest round
  local index=$1
  shift
  local start end
  start=$(date +%s.%N)
  "$@" > "$work/out" 2> "$work/err" || [ $? -eq 1 ]
  end=$(date +%s.%N)
  local written
  written=$(grep -o '^[0-9]* messages written' "$work/err" | grep -o '^[0-9]*')
  local seconds
  seconds=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f", e - s }')
  if [ -z "${best[$index]:-}" ] ||
    awk -v a="$seconds" -v b="${best[$index]% *}" 'BEGIN { exit !(a < b) }'; then
    best[$index]="$seconds $written"
  fi
}

names=()
commands=()
echo "$(wc -l < "$records") records, $(nproc) cores, best of $rounds rounds"
if command -v node > /dev/null; then
  names+=("node transformer")
  commands+=("node bench/adt_a01_transformer.js $records")
else
  echo "node not found: the JavaScript baseline is skipped"
fi
for jobs in 1 2; do
  # Standard input, through a script of its own: the commands are words.
  printf '#!/bin/sh\nexec %s --template examples/hl7/adt_a01.tmpl --records - --format jsonl --dates %s --framing lf --rejects /dev/null --jobs %s < %s\n' \
    "$tool" "$dates" "$jobs" "$records" > "$work/stdin$jobs"
  chmod +x "$work/stdin$jobs"
  names+=("tarn-hl7 --jobs $jobs stdin")
  commands+=("$work/stdin$jobs")
  names+=("tarn-hl7 --jobs $jobs")
  commands+=("$tool --template examples/hl7/adt_a01.tmpl --records $records --dates $dates --framing lf --rejects /dev/null --jobs $jobs")
done
for _ in $(seq "$rounds"); do
  for i in "${!commands[@]}"; do
    # shellcheck disable=SC2086  # the command's words
    timed "$i" ${commands[$i]}
  done
done
for i in "${!names[@]}"; do
  read -r seconds written <<< "${best[$i]}"
  awk -v n="${names[$i]}" -v w="$written" -v s="$seconds" \
    'BEGIN { printf "%-28s %8d messages in %6.2f s: %8.0f messages per second\n", n, w, s, w / s }'
done
rate_of() { awk -v r="${best[$1]}" 'BEGIN { split(r, x, " "); print x[2] / x[1] }'; }
index_of() { for i in "${!names[@]}"; do if [ "${names[$i]}" = "$1" ]; then echo "$i"; fi; done; }
j1=$(index_of "tarn-hl7 --jobs 1")
j2=$(index_of "tarn-hl7 --jobs 2")
awk -v a="$(rate_of "$j1")" -v b="$(rate_of "$j2")" \
  'BEGIN { printf "--jobs 2 against --jobs 1: %.2fx\n", b / a }'
for jobs in 1 2; do
  awk -v a="$(rate_of "$(index_of "tarn-hl7 --jobs $jobs")")" \
    -v b="$(rate_of "$(index_of "tarn-hl7 --jobs $jobs stdin")")" -v j="$jobs" \
    'BEGIN { printf "--jobs %d, standard input against a file: %.2fx\n", j, b / a }'
done
node=$(index_of "node transformer")
if [ -n "$node" ]; then
  awk -v a="$(rate_of "$node")" -v b="$(rate_of "$j1")" \
    'BEGIN { printf "--jobs 1 against the node transformer: %.2fx\n", b / a }'
fi
/usr/bin/time -f "tarn-hl7 --jobs 1 peak resident memory: %M KB" "$tool" \
  --template examples/hl7/adt_a01.tmpl --records "$records" --dates "$dates" \
  --output /dev/null --rejects /dev/null 2>&1 >/dev/null | tail -n 1 || true  # 1: some rejected
# Records of 1 MB on 16 threads.
note=$(head -c 999950 /dev/zero | tr '\0' x)
for i in $(seq 100); do printf '{"Name": "n%d", "Note": "%s"}\n' "$i" "$note"; done > "$work/large.jsonl"
printf 'MSH|^~\\&|A\nPID|{{Name}}|{{Note}}\n' > "$work/large.tmpl"
/usr/bin/time -f "tarn-hl7 --jobs 16, records of 1 MB: peak resident memory %M KB" "$tool" \
  --template "$work/large.tmpl" --records "$work/large.jsonl" --jobs 16 --output /dev/null \
  2>&1 >/dev/null | tail -n 1
