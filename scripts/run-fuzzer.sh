#!/usr/bin/env bash
# Runs the fuzzers: scripts/run-fuzzer.sh <fuzz-build-folder> <seconds> [wavfile_t|media]
# Each target runs for <seconds> (both, one after the other, unless one is named). The corpora grow
# in fuzz-corpus/ (not tracked); crash inputs land in fuzz-findings/ and belong, once fixed, in
# tests/fuzz/regressions/.
set -euo pipefail
build=$1
seconds=$2
targets=${3:-wavfile_t media}
mkdir -p fuzz-corpus/wavfile_t fuzz-corpus/media fuzz-findings
for target in $targets; do
    case "$target" in
        wavfile_t) "$build"/fuzz/wavfile_t_seeds fuzz-corpus/wavfile_t ;;
        media)
            [ -x "$build"/fuzz/media_fuzz ] || { echo "run-fuzzer: no media_fuzz (built without FFmpeg)" >&2; continue; }
            # Short files of the formats camera cards hold, a second of tone each.
            seeds=fuzz-corpus/media
            if [ -z "$(ls -A "$seeds")" ]; then
                tone=(-f lavfi -i "sine=frequency=440:duration=1:sample_rate=48000")
                ffmpeg -v error -y "${tone[@]}" -c:a aac "$seeds/seed.mp4"
                ffmpeg -v error -y "${tone[@]}" -c:a aac -movflags +faststart "$seeds/faststart.m4a"
                ffmpeg -v error -y "${tone[@]}" -f lavfi -i anullsrc=r=48000:cl=mono -map 1 -map 0 \
                    -c:a pcm_s16le -shortest "$seeds/two-streams.mov"
                ffmpeg -v error -y "${tone[@]}" -c:a libmp3lame "$seeds/seed.mp3"
                ffmpeg -v error -y "${tone[@]}" -c:a pcm_s24le "$seeds/seed.wav"
                ffmpeg -v error -y "${tone[@]}" -c:a flac "$seeds/seed.flac"
            fi
            ;;
        *) echo "run-fuzzer: unknown target '$target'" >&2; exit 2 ;;
    esac
    "$build"/fuzz/${target}_fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -artifact_prefix=fuzz-findings/ -print_final_stats=1 fuzz-corpus/$target
done
