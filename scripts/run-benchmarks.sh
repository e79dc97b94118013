#!/usr/bin/env bash
# Runs every benchmark program of a build folder: scripts/run-benchmarks.sh [build-folder]
set -euo pipefail
build=${1:-build}
export TRELIS_BENCH_AUDIO=${TRELIS_BENCH_AUDIO:-$build/bench-audio}
"$(dirname "$0")/prepare-bench-audio.sh" "$TRELIS_BENCH_AUDIO"
for program in "$build"/bench/bench_*; do
    echo "== $(basename "$program")"
    "$program" --benchmark_min_time=0.5
done
