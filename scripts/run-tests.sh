#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite; then the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, the
# thread tests under ThreadSanitizer, and a short fuzzing run (clang only).
# Any failure or sanitizer finding fails the script. The soak test (label
# "soak") is left out everywhere: run it with `ctest --test-dir build -L soak`.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
jobs=$(nproc)
fuzz_seconds=${TARN_FUZZ_SECONDS:-60}
# ccache (deps.sh installs it) makes a second run on the same machine cheap;
# paths relative to the checkout let clones in other folders share it.
cache=()
if command -v ccache >/dev/null; then
  cache=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
fi

# Debian's interpreter, for which deps.sh installed pybind11 and pytest (the
# Python tests, label "python", run in this build only).
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3)
# Everything the suite needs is asked for by name: a build/ that another
# command configured (the README's example turns tests off) keeps its cache.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython_EXECUTABLE="$python" "${cache[@]}" \
  -DTARN_BUILD_TESTS=ON -DTARN_BUILD_BENCH=ON -DTARN_BUILD_TOOLS=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure --no-tests=error -j"$jobs" -LE soak

# consumer_install builds and links a separate program against the installed
# package, and check_exports reads the symbol table: neither runs library
# code, and both would need the sanitizer runtimes wired into foreign builds.
sanitizer_skip='^(consumer_install|check_exports)$'

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARN_SANITIZE=address,undefined "${cache[@]}" \
  -DTARN_BUILD_TESTS=ON -DTARN_BUILD_TOOLS=ON -DTARN_BUILD_BENCH=OFF
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure --no-tests=error -j"$jobs" -LE soak \
    -E "$sanitizer_skip"

echo "== ThreadSanitizer (thread tests, tarn-hl7 --jobs, MLLP delivery against the test receiver)"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARN_SANITIZE=thread "${cache[@]}" \
  -DTARN_BUILD_TESTS=ON -DTARN_BUILD_TOOLS=ON -DTARN_BUILD_BENCH=OFF
cmake --build build-tsan -j"$jobs" --target threads_test hl7_tool_test tool_table_test \
  hl7_delivery_test hl7_outbound_test tarn-hl7 tarn-eval
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:exitcode=66 \
  ctest --test-dir build-tsan --output-on-failure --no-tests=error \
    -R '^(Threads\.|Hl7Streaming\.Jobs|ToolTable\.EveryRow|Sender\.|Hl7Send\.)'

echo "== Fuzzing (${fuzz_seconds} s a target)"
if command -v clang++ >/dev/null 2>&1; then
  cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo "${cache[@]}" \
    -DTARN_BUILD_FUZZ=ON -DTARN_SANITIZE=address,undefined \
    -DTARN_BUILD_TESTS=OFF -DTARN_BUILD_BENCH=OFF -DTARN_BUILD_TOOLS=OFF
  cmake --build build-fuzz -j"$jobs" --target fuzz_eval fuzz_records fuzz_fields
  # New inputs go to a scratch corpus; a crash is written to the target's
  # regressions folder so that it is kept and replayed from then on. Each
  # target gets the whole fuzzing time.
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  fuzz() {  # TARGET SECONDS REGRESSIONS CORPUS...
    local target=$1 seconds=$2 regressions=$3
    shift 3
    mkdir -p "$scratch/$target"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ./build-fuzz/tests/fuzz/"$target" -max_total_time="$seconds" -max_len=4096 \
        -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$regressions/" "$scratch/$target" "$regressions" "$@"
  }
  fuzz fuzz_eval "$fuzz_seconds" tests/fuzz/regressions tests/fuzz/corpus
  fuzz fuzz_records "$fuzz_seconds" tests/fuzz/records/regressions tests/fuzz/records/corpus
  fuzz fuzz_fields "$fuzz_seconds" tests/fuzz/fields/regressions tests/fuzz/fields/corpus
else
  echo "clang++ not found: fuzzing skipped"
fi

echo "== Windows: cross-build and tests under Wine"
./scripts/run-wine-tests.sh
