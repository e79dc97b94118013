#!/usr/bin/env bash
# Runs every benchmark program of a build folder: scripts/run-benchmarks.sh [build-folder]
set -euo pipefail
build=${1:-build}
for program in "$build"/bench/bench_*; do
    echo "== $(basename "$program")"
    "$program" --benchmark_min_time=0.5
done
