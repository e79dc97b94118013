#!/usr/bin/env bash
# Builds the matching benchmark's corpora once, the tuning set with seed 1 in build/bench-corpora
# and the held-out set with seed 2 in build/bench-corpora-heldout (never tune on the latter), one
# simulator at a time, then prints the matching table of each set: both matching modes per corpus.
# Usage: scripts/bench-matching.sh [build-folder]; CORPORA="hard clip10" limits the corpora,
# SETS="tuning" the sets, REPEAT=3 times each run three times (the median is shown).
set -euo pipefail
build=${1:-build}
corpora=${CORPORA:-field field-alt hard clip10 drift noisy reverb-codec}
sets=${SETS:-tuning heldout}
/usr/bin/python3 tools/bench/matching.py --self-test >/dev/null ||
    { echo "bench-matching: the scoring's self-test fails (tools/bench/matching.py --self-test)" >&2
      exit 1; }
for set in $sets; do
    case "$set" in
        tuning) root=$build/bench-corpora seed=1 ;;
        heldout) root=$build/bench-corpora-heldout seed=2 ;;
        *) echo "bench-matching: unknown set '$set'" >&2; exit 2 ;;
    esac
    mkdir -p "$root"
    folders=()
    for corpus in $corpora; do
        if [ ! -s "$root/$corpus/truth.xml" ]; then
            # Left over from an interrupted run: the simulator writes truth.xml last.
            if [ -d "$root/$corpus" ]; then
                echo "bench-matching: removing the unfinished $root/$corpus" >&2
                rm -rf "$root/$corpus"
            fi
            echo "simulating $corpus (seed $seed) ..." >&2
            nice -n 10 /usr/bin/python3 tools/simulate/simulate.py --corpus "$corpus" \
                --out "$root/$corpus" --seed "$seed"
        fi
        folders+=("$root/$corpus")
    done
    echo
    echo "### $set set (seed $seed, $root)"
    echo
    /usr/bin/python3 tools/bench/matching.py --trelis "$build/bin/Trelis" --set "$set" \
        --repeat "${REPEAT:-1}" --work "$build/bench-matching" "${folders[@]}"
done
