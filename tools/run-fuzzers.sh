#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each on a scratch copy of
# its seed corpus: SECONDS seconds each (default 20), or RUNS executions.
# Usage: tools/run-fuzzers.sh [seconds] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
runs=${2:-0}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVISTREL_FUZZ=ON \
  -DVISTREL_WITH_UI=OFF -DVISTREL_WITH_BENCH=OFF >/dev/null
targets="fuzz_settings fuzz_language fuzz_http fuzz_recovery fuzz_avi fuzz_auth"
cmake --build build-fuzz -j"$(nproc)" --target $targets
scratch=$(mktemp -d /tmp/vistrel-fuzz-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
failed=0
passed=0
for target in $targets; do
  corpus="$scratch/${target#fuzz_}"
  mkdir -p "$corpus"
  cp tests/fuzz/corpus_${target#fuzz_}/* "$corpus/"
  limit="-max_total_time=$seconds"
  [ "$runs" -gt 0 ] && limit="-runs=$runs"
  if build-fuzz/$target $limit -rss_limit_mb=2048 -artifact_prefix="$scratch/$target-" "$corpus" \
       >"$scratch/$target.log" 2>&1; then
    echo "fuzz: $target $(grep -E '^Done' "$scratch/$target.log")"
    passed=$((passed + 1))
  else
    echo "fuzz: $target FAILED"
    tail -n 40 "$scratch/$target.log"
    cp "$scratch/$target-"* tests/fuzz/ 2>/dev/null || true
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
