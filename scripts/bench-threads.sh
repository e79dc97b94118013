#!/usr/bin/env bash
# Builds the corpora the thread benchmark needs once (seed 1 in build/bench-corpora, the held-out
# crowd with seed 2 in build/bench-corpora-heldout), then prints its tables: the speed-up of -j 2
# over -j 1 on the standard-like noisy corpus and on the scale corpus (205 recordings, 21 hours,
# 11 events), time and memory for 50 to 400 files (recordings of about two minutes, from the
# standard-like corpora of both seeds), and the crowd with and without the per-recording
# popularity rule. Usage: scripts/bench-threads.sh [build-folder]; RUNS=5 sets how many runs each
# figure is the median of. Run it on a quiet machine.
set -euo pipefail
build=${1:-build}
runs=${RUNS:-5}
simulate() {  # corpus seed root
    if [ ! -s "$3/$1/truth.xml" ]; then
        # Left over from an interrupted run: the simulator writes truth.xml last.
        rm -rf "${3:?}/$1"
        echo "simulating $1 (seed $2) ..." >&2
        nice -n 10 /usr/bin/python3 tools/simulate/simulate.py --corpus "$1" --out "$3/$1" \
            --seed "$2"
    fi
}
standard="noisy reverb-codec drift field field-alt"
for corpus in $standard scale crowd crowd-song; do simulate "$corpus" 1 "$build/bench-corpora"; done
for corpus in $standard crowd; do simulate "$corpus" 2 "$build/bench-corpora-heldout"; done
pool=()
for corpus in $standard; do
    pool+=("$build/bench-corpora/$corpus" "$build/bench-corpora-heldout/$corpus")
done
bench="/usr/bin/python3 tools/bench/threads.py --trelis $build/bin/Trelis --runs $runs --work $build/bench-work"
echo "## Speed-up (corpus noisy, seed 1)"
$bench speedup "$build/bench-corpora/noisy"
echo "## Speed-up, the scale corpus (seed 1), with the refinement and without"
$bench --runs 3 speedup "$build/bench-corpora/scale"
$bench --runs 3 --options "-refine off" speedup "$build/bench-corpora/scale"
echo "## The crowd with the refinement, one run (seed 1)"
$bench --runs 1 --threads 2 speedup "$build/bench-corpora/crowd"
echo "## Growth with the number of files (standard-like corpora, seeds 1 and 2)"
$bench --runs 3 --threads 2 --counts 50,100,200,398 --options "-refine off" scaling "${pool[@]}"
echo "## Crowds (seed 1; the concert's held-out seed 2)"
$bench --runs 3 --threads 2 --options "-refine off" crowd "$build/bench-corpora/crowd" \
    "$build/bench-corpora/crowd-song" "$build/bench-corpora-heldout/crowd"
