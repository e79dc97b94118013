#!/usr/bin/env bash
# Runs the WAVE reader's fuzzer: scripts/run-fuzzer.sh <fuzz-build-folder> <seconds>
# The corpus grows in fuzz-corpus/ (not tracked); crash inputs land in fuzz-findings/ and belong,
# once fixed, in tests/fuzz/regressions/.
set -euo pipefail
build=$1
seconds=$2
mkdir -p fuzz-corpus/wavfile_t fuzz-findings
"$build"/fuzz/wavfile_t_seeds fuzz-corpus/wavfile_t
"$build"/fuzz/wavfile_t_fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
    -artifact_prefix=fuzz-findings/ -print_final_stats=1 fuzz-corpus/wavfile_t
