#!/usr/bin/env bash
# Builds the simulated corpora once (build/bench-corpora, SEED=1) and prints the accuracy and
# speed table of Trelis, with the naive GCC-PHAT baseline on the standard corpora.
# Usage: scripts/bench-accuracy.sh [build-folder]; CORPORA="clean noisy" limits the corpora.
set -euo pipefail
build=${1:-build}
root=$build/bench-corpora
corpora=${CORPORA:-clean noisy reverb-codec short drift scale}
mkdir -p "$root"
for corpus in $corpora; do
    if [ ! -s "$root/$corpus/truth.xml" ]; then
        echo "simulating $corpus ..." >&2
        rm -rf "$root/$corpus"
        /usr/bin/python3 tools/simulate/simulate.py --corpus "$corpus" --out "$root/$corpus" \
            --seed "${SEED:-1}"
    fi
done
standard=()
for corpus in $corpora; do
    [ "$corpus" != scale ] && standard+=("$root/$corpus")
done
[ ${#standard[@]} -gt 0 ] &&
    /usr/bin/python3 tools/bench/accuracy.py --trelis "$build/bin/Trelis" --baseline "${standard[@]}"
# The baseline's every-pair correlation of 200 long files would take hours: Trelis alone there.
case " $corpora " in
    *" scale "*) /usr/bin/python3 tools/bench/accuracy.py --trelis "$build/bin/Trelis" "$root/scale" |
        tail -n 1 ;;
esac
