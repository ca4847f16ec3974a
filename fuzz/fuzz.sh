#!/usr/bin/env bash
# Builds and runs the libFuzzer targets (clang 16, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz, or in FUZZ_DIR.
#   fuzz/fuzz.sh build              build the core library and every target
#   fuzz/fuzz.sh replay             run every target once on each input kept in
#                                   fuzz/regressions/<target>/
#   fuzz/fuzz.sh run SECONDS [JOBS] build, seed, then fuzz each target for SECONDS
#                                   with JOBS parallel workers (default 1), the
#                                   targets side by side as far as the cores go
#   fuzz/fuzz.sh TARGET ARGS...     run one target by hand (libFuzzer arguments)
# FUZZ_TARGETS limits the targets ("parse validate"); FUZZ_SEEDS the number of
# corpus queries seeded. Inputs that break an invariant are kept in
# <build folder>/artifacts/; a fixed one belongs in fuzz/regressions/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${FUZZ_DIR:-build/fuzz}
cxx=${FUZZ_CXX:-clang++-16}
cc=${FUZZ_CC:-clang-16}
targets=${FUZZ_TARGETS:-parse grammar query_info validate schema generator}
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

build() {
  if [ ! -f $dir/build.ninja ]; then
    CXX=$cxx CC=$cc meson setup $dir -Dpython=false -Dtests=false -Dbuildtype=debugoptimized \
      -Db_sanitize=address,undefined -Db_lundef=false -Dcpp_args=-fsanitize=fuzzer-no-link >/dev/null
  fi
  ninja -C $dir libtorvane_core.a >$dir/ninja.log || { tail -n 40 $dir/ninja.log; return 1; }
  local flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
               -Wall -Wextra -Werror -Isrc -Ifuzz -Itests/cpp -Itests/cpp/parser
               "-DTORVANE_FUZZ_SCHEMA=\"$PWD/examples/schema.json\"")
  local t extra pids=()
  for t in $targets; do
    extra=()
    [ $t = parse ] && extra=(tests/cpp/parser/tree_dump.cpp)
    # Relink only what changed: the target's sources, the shared header or the library.
    if [ -x $dir/${t}_fuzz ] && [ -z "$(find fuzz/${t}_fuzz.cpp fuzz/fuzz_common.hpp "${extra[@]}" \
          $dir/libtorvane_core.a -newer $dir/${t}_fuzz)" ]; then continue; fi
    $cxx "${flags[@]}" fuzz/${t}_fuzz.cpp "${extra[@]}" $dir/libtorvane_core.a \
      $(pkg-config --libs icu-uc) -lpthread -o $dir/${t}_fuzz &
    pids+=($!)
  done
  local pid status=0
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
  return $status
}

replay() {
  local t status=0 inputs
  for t in $targets; do
    inputs=(fuzz/regressions/$t/*)
    [ -e "${inputs[0]}" ] || continue
    echo "== $t: ${#inputs[@]} kept input(s)"
    $dir/${t}_fuzz -runs=1 "${inputs[@]}" >$dir/replay-$t.log 2>&1 || { tail -n 40 $dir/replay-$t.log; status=1; }
  done
  return $status
}

run() {  # run TARGET SECONDS JOBS
  local t=$1 secs=$2 jobs=$3 opts=(-entropic=0) log=$dir/logs/$1.log
  [ -f fuzz/${t}_fuzz.dict ] && opts+=(-dict=fuzz/${t}_fuzz.dict)
  case $t in parse | grammar | query_info | validate) opts+=(-dict=fuzz/cypher.dict) ;; esac
  [ "$jobs" -gt 1 ] && opts+=(-fork="$jobs")
  mkdir -p $dir/corpus/$t $dir/artifacts $dir/logs fuzz/regressions/$t
  local before; before=$(find $dir/artifacts -name "${t}-*" | wc -l)
  echo "== $t: ${secs}s, $jobs job(s)"
  local rc=0
  $dir/${t}_fuzz "${opts[@]}" -max_total_time="$secs" -max_len=16384 -timeout=10 -rss_limit_mb=4096 \
    -artifact_prefix=$dir/artifacts/${t}- -print_final_stats=1 $dir/corpus/$t fuzz/regressions/$t \
    >"$log" 2>&1 || rc=$?
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "$log" || true
  if [ $rc -ne 0 ] || [ "$(find $dir/artifacts -name "${t}-*" | wc -l)" -ne "$before" ]; then
    tail -n 40 "$log"
    echo "fuzz target $t failed; log $log, inputs in $dir/artifacts/" >&2
    return 1
  fi
}

run_all() {  # run_all SECONDS JOBS: every target, as many at once as the cores hold
  local secs=$1 jobs=$2 t status=0 running=0 slots
  slots=$(($(nproc) / jobs))
  [ "$slots" -ge 1 ] || slots=1
  mkdir -p $dir/logs
  for t in $targets; do
    if [ $running -ge "$slots" ]; then
      wait -n || status=1
      running=$((running - 1))
    fi
    run $t "$secs" "$jobs" >$dir/logs/$t.out 2>&1 &
    running=$((running + 1))
  done
  while [ $running -gt 0 ]; do
    wait -n || status=1
    running=$((running - 1))
  done
  # Each target's report whole, in the order of the targets.
  for t in $targets; do cat $dir/logs/$t.out; done
  return $status
}

case ${1:-} in
  build) build ;;
  replay) build; replay ;;
  run)
    build
    python3 fuzz/seeds.py $dir/corpus "${FUZZ_SEEDS:-3000}"
    status=0
    replay || status=1
    run_all "${2:?seconds}" "${3:-1}" || status=1
    exit $status ;;
  "") sed -n '2,13p' "$0"; exit 2 ;;
  *) t=$1; shift; exec $dir/${t}_fuzz "$@" ;;
esac
