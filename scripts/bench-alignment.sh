#!/usr/bin/env bash
# Builds the alignment benchmark's corpora once, the tuning set with seed 1 in
# build/bench-corpora and the held-out set with seed 2 in build/bench-corpora-heldout (never tune
# on the latter), one simulator at a time, then prints the alignment table of each set.
# Usage: scripts/bench-alignment.sh [build-folder]; CORPORA="field day" limits the corpora,
# SETS="tuning" the sets.
set -euo pipefail
build=${1:-build}
corpora=${CORPORA:-field day drift noisy reverb-codec}
sets=${SETS:-tuning heldout}
for set in $sets; do
    case "$set" in
        tuning) root=$build/bench-corpora seed=1 ;;
        heldout) root=$build/bench-corpora-heldout seed=2 ;;
        *) echo "bench-alignment: unknown set '$set'" >&2; exit 2 ;;
    esac
    mkdir -p "$root"
    folders=()
    for corpus in $corpora; do
        stale=no
        # A drift corpus made before its truth recorded each clock's drift is made again.
        case "$corpus" in
            field | day | drift) [ -s "$root/$corpus/truth.xml" ] &&
                ! grep -q 'drift="' "$root/$corpus/truth.xml" && stale=yes ;;
        esac
        if [ ! -s "$root/$corpus/truth.xml" ] || [ $stale = yes ]; then
            echo "simulating $corpus (seed $seed) ..." >&2
            rm -rf "$root/$corpus"
            /usr/bin/python3 tools/simulate/simulate.py --corpus "$corpus" --out "$root/$corpus" \
                --seed "$seed"
        fi
        folders+=("$root/$corpus")
    done
    echo
    echo "### $set set (seed $seed, $root)"
    echo
    /usr/bin/python3 tools/bench/alignment.py --trelis "$build/bin/Trelis" --set "$set" \
        --work "$build/bench-alignment" "${folders[@]}"
done
