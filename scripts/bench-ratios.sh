#!/bin/sh
# Runs the evaluation cases, the Lua baselines and the bare loop side by side
# (repetitions in random order, so that a change of load touches all of them
# alike) and prints each case's median beside its baseline.
#
#   scripts/bench-ratios.sh [build-dir] [repetitions]
set -eu
build=${1:-build-rel}
reps=${2:-9}
bench="$build/bench/tarn-bench"
[ -x "$bench" ] || {
  echo "no $bench: cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release && cmake --build $build --target tarn-bench" >&2
  exit 2
}
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$bench" --benchmark_filter='BM_(Arith|Group|Concat|If|FormatDate|Replace|HL7|Lua.*|BareLoop)$' \
  --benchmark_repetitions="$reps" --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 \
  --benchmark_format=json >"$out"
python3 - "$out" <<'EOF'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
med = {r["run_name"]: r["cpu_time"] for r in runs if r.get("aggregate_name") == "median"}
allocs = {r["run_name"]: r.get("allocs/eval") for r in runs if r.get("aggregate_name") == "median"}
pairs = [("BM_Arith", "BM_LuaArith"), ("BM_Group", "BM_LuaGroup"), ("BM_Concat", "BM_LuaConcat"),
         ("BM_If", "BM_LuaIf"), ("BM_FormatDate", "BM_LuaFormatDate"),
         ("BM_Replace", "BM_LuaReplace"), ("BM_HL7", None)]
print(f"{'case':16} {'ns/eval':>9} {'allocs':>7} {'Lua ns':>9} {'ratio':>6}")
for case, lua in pairs:
    if case not in med:
        continue
    base = med.get(lua) if lua else None
    ratio = f"{med[case] / base:6.2f}" if base else "     -"
    lua_ns = f"{base:9.0f}" if base else "        -"
    print(f"{case:16} {med[case]:9.0f} {allocs[case] or 0:7.0f} {lua_ns} {ratio}")
if "BM_BareLoop" in med and "BM_Arith" in med:
    print(f"BM_Arith / BM_BareLoop: {med['BM_Arith']:.0f} / {med['BM_BareLoop']:.0f} ns = "
          f"{med['BM_Arith'] / med['BM_BareLoop']:.2f}")
EOF
