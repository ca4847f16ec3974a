#!/usr/bin/env bash
# Builds and runs the libFuzzer targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz.
#   fuzz/fuzz.sh build              build the core library and every target
#   fuzz/fuzz.sh run SECONDS [JOBS] build, seed, then fuzz each target for SECONDS
#                                   with JOBS parallel workers (default 1)
#   fuzz/fuzz.sh TARGET ARGS...     run one target by hand (libFuzzer arguments)
# Inputs that break an invariant are kept in build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build/fuzz
cxx=${FUZZ_CXX:-clang++}
cc=${FUZZ_CC:-clang}

targets() {
  echo parse schema generator
  grep -q "'torvane.cpp'" src/validator/meson.build && echo validate
  [ -f src/bindings/query_info.cpp ] && echo query_info
  return 0
}

build() {
  if [ ! -d $dir ]; then
    CXX=$cxx CC=$cc meson setup $dir -Dpython=false -Dtests=false -Dbuildtype=debugoptimized \
      -Db_sanitize=address,undefined -Db_lundef=false -Dcpp_args=-fsanitize=fuzzer-no-link >/dev/null
  fi
  ninja -C $dir libtorvane_core.a >/dev/null
  local flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
               -Wall -Wextra -Werror -Isrc -Ifuzz "-DTORVANE_FUZZ_SCHEMA=\"$PWD/examples/schema.json\"")
  local extra=()
  for t in $(targets); do
    [ $t = query_info ] && extra=(src/bindings/query_info.cpp) || extra=()
    $cxx "${flags[@]}" fuzz/${t}_fuzz.cpp "${extra[@]}" $dir/libtorvane_core.a \
      $(pkg-config --libs icu-uc) -lpthread -o $dir/${t}_fuzz
  done
}

run() {  # run TARGET SECONDS JOBS
  local t=$1 secs=$2 jobs=$3 opts=() log=$dir/logs/$1.log
  [ -f fuzz/${t}_fuzz.dict ] && opts+=(-dict=fuzz/${t}_fuzz.dict)
  [ "$jobs" -gt 1 ] && opts+=(-fork="$jobs")
  mkdir -p $dir/corpus/$t $dir/artifacts $dir/logs
  local before; before=$(find $dir/artifacts -name "${t}-*" | wc -l)
  echo "== $t: ${secs}s, $jobs job(s)"
  local rc=0
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    $dir/${t}_fuzz "${opts[@]}" -max_total_time="$secs" -max_len=16384 -timeout=10 -rss_limit_mb=4096 \
      -artifact_prefix=$dir/artifacts/${t}- -print_final_stats=1 $dir/corpus/$t >"$log" 2>&1 || rc=$?
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "$log" || true
  if [ $rc -ne 0 ] || [ "$(find $dir/artifacts -name "${t}-*" | wc -l)" -ne "$before" ]; then
    tail -n 40 "$log"
    echo "fuzz target $t failed; log $log, inputs in $dir/artifacts/" >&2
    return 1
  fi
}

case ${1:-} in
  build) build ;;
  run)
    build
    python3 fuzz/seeds.py $dir/corpus "${FUZZ_SEEDS:-3000}"
    status=0
    for t in $(targets); do run $t "${2:?seconds}" "${3:-1}" || status=1; done
    exit $status ;;
  "") sed -n '2,8p' "$0"; exit 2 ;;
  *) t=$1; shift; exec $dir/${t}_fuzz "$@" ;;
esac
