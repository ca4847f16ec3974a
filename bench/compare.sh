#!/bin/bash
# Times two benchmark builds side by side, or counts their instructions.
#
#   bench/compare.sh [--callgrind] OLD_BUILD NEW_BUILD [CORPUS_DIR]
#
# OLD_BUILD and NEW_BUILD are build folders made with -Dbench=true (release),
# such as build/bench of this tree and of an older commit unpacked with
# `git archive COMMIT | tar -x -C DIR`. For text2cypher-gpt4turbo and TCK it
# runs grammar_bench (grammar/), parse_bench (parse/ and build/) and
# validate_bench (validate/.../own_schema) of each build on one core
# (taskset; BENCH_CPU, default 2), the two builds alternating for
# BENCH_ROUNDS rounds (default 3) of --benchmark_repetitions=3 at 1 s each,
# and prints the median queries/s and MB/s of every round. With
# --callgrind it runs each benchmark once under callgrind, counting only the
# benchmark's own loop, and prints the instruction counts, which a busy
# machine does not change.
set -euo pipefail

callgrind=0
if [ "${1:-}" = --callgrind ]; then
  callgrind=1
  shift
fi
if [ $# -lt 2 ]; then
  sed -n '2,16p' "$0"
  exit 2
fi
old=$1 new=$2
corpus=${3:-${TORVANE_CORPUS:-$(dirname "$0")/../../shared/corpus}}
cpu=${BENCH_CPU:-2}
rounds=${BENCH_ROUNDS:-3}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# program, the function that holds its timed loop, benchmark name
benches=()
for f in neo4j-text2cypher-gpt4turbo tck-queries; do
  benches+=("grammar_bench parse_file grammar/$f"
            "parse_bench parse_all parse/$f"
            "parse_bench build_all build/$f"
            "validate_bench validate_all validate/$f/own_schema")
done

if [ $callgrind = 1 ]; then
  printf '%-48s %15s %15s %8s\n' benchmark old new change
  for b in "${benches[@]}"; do
    read -r prog fn name <<<"$b"
    for side in old new; do
      dir=$old
      [ $side = new ] && dir=$new
      valgrind --tool=callgrind --callgrind-out-file="$out/$side.cg" --toggle-collect="*$fn*" \
        "$dir/bench/$prog" "$corpus" --benchmark_filter="^$name\$" --benchmark_min_time=0.01 \
        >"$out/$side.log" 2>&1
      awk '/Collected/ {print $4}' "$out/$side.log" >"$out/$side.ir"
    done
    o=$(cat "$out/old.ir") n=$(cat "$out/new.ir")
    printf "%-48s %15d %15d %+7.1f%%\n" "$name" "$o" "$n" "$(echo "100 * ($n - $o) / $o" | bc -l)"
  done
  exit 0
fi

uptime
for r in $(seq 1 "$rounds"); do
  for side in old new; do
    dir=$old
    [ $side = new ] && dir=$new
    for prog in grammar_bench parse_bench validate_bench; do
      filter='(grammar|parse|build)/(neo4j-text2cypher-gpt4turbo|tck-queries)$'
      [ $prog = validate_bench ] && filter='validate/(neo4j-text2cypher-gpt4turbo|tck-queries)/own_schema$'
      taskset -c "$cpu" "$dir/bench/$prog" "$corpus" --benchmark_filter="$filter" \
        --benchmark_repetitions=3 --benchmark_min_time=1 --benchmark_report_aggregates_only=true \
        --benchmark_format=json >"$out/$side.$prog.$r.json" 2>/dev/null
    done
  done
done
uptime

/usr/bin/python3 - "$out" "$rounds" <<'EOF'
import json, sys, glob
out, rounds = sys.argv[1], int(sys.argv[2])
rows = {}
for side in ("old", "new"):
    for path in sorted(glob.glob(f"{out}/{side}.*.json")):
        r = int(path.rsplit(".", 2)[1])
        for b in json.load(open(path))["benchmarks"]:
            if b.get("aggregate_name") != "median":
                continue
            rows.setdefault(b["run_name"], {}).setdefault(side, {})[r] = (
                b["items_per_second"], b["bytes_per_second"] / 1e6)
print(f"{'benchmark (median of 3, per round)':48} {'old queries/s':>26} {'new queries/s':>26}  MB/s old / new")
for name in sorted(rows):
    cell = {}
    for side in ("old", "new"):
        got = rows[name].get(side, {})
        cell[side] = (" ".join(f"{got[r][0] / 1000:.0f}k" for r in sorted(got)),
                      " ".join(f"{got[r][1]:.1f}" for r in sorted(got)))
    print(f"{name:48} {cell['old'][0]:>26} {cell['new'][0]:>26}  {cell['old'][1]} / {cell['new'][1]}")
EOF
