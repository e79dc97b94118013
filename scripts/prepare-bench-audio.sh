#!/usr/bin/env bash
# Makes the recordings the extraction benchmarks read, once, as 8000 Hz mono 16-bit WAVE files:
#   music-10min.wav   ten minutes of orchestral music (Debian's wesnoth-1.16-music), tracks in
#                     name order, joined
#   noise-10min.wav   ten minutes of white noise
#   music-60min.wav   one hour of that music, for peak memory
#   music-all.wav     all of it (about two hours), the source of the clustering benchmark's events
# Usage: scripts/prepare-bench-audio.sh <folder>
set -euo pipefail
out=$1
music=/usr/share/games/wesnoth/1.16/data/core/music
mkdir -p "$out"
mapfile -t tracks < <(ls "$music"/*.ogg | sort)

make_music() {  # <seconds> <file>
    [ -s "$2" ] && return
    sox "${tracks[@]}" -r 8000 -c 1 -b 16 "$2.tmp.wav" trim 0 "$1"
    mv "$2.tmp.wav" "$2"
}
make_music 600 "$out/music-10min.wav"
make_music 3600 "$out/music-60min.wav"
make_music 99999 "$out/music-all.wav"
[ -s "$out/noise-10min.wav" ] ||
    sox -n -r 8000 -c 1 -b 16 "$out/noise-10min.wav" synth 600 whitenoise vol 0.5

# Camera files: the music at 48 kHz in stereo AAC (160 kbit/s) in MP4, beside a small video track.
make_camera() {  # <seconds> <file>
    [ -s "$2" ] && return
    sox "${tracks[@]}" -r 48000 -c 2 -b 16 "$2.tmp.wav" trim 0 "$1"
    ffmpeg -nostdin -v error -y -i "$2.tmp.wav" -f lavfi -i "color=c=gray:s=160x120:r=25" \
        -shortest -c:a aac -b:a 160k -c:v mpeg4 -q:v 10 "$2.tmp.mp4"
    rm "$2.tmp.wav"
    mv "$2.tmp.mp4" "$2"
}
if command -v ffmpeg > /dev/null; then
    make_camera 600 "$out/camera-10min.mp4"
    make_camera 3600 "$out/camera-60min.mp4"
fi
