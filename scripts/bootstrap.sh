#!/usr/bin/env bash
# Installs, with apt-get, the build dependencies that are missing, and nothing when all are there.
# Usage: scripts/bootstrap.sh [bench] [fuzz] [accuracy] [example]
#   always: compiler, CMake, Ninja, GoogleTest, Google Benchmark, pkg-config, clang-format,
#           TinyXML-2 (ground truth, XML timelines), nlohmann-json (JSON results), FFmpeg's
#           libraries and command (media files, and the tests' media), xmllint (timeline tests),
#           Debian's python3 with numpy (the benchmark tools' tests), pybind11, pytest and Dask's
#           distributed scheduler (the Python module, trelis.distributed and their tests) and Chromium (the report page's check in a browser)
#   example: matplotlib for the Python module's example (examples/plot_clusters.py)
#   bench:  FFTW (the yardstick of the FFT benchmark), real music and sox for the extraction ones
#   fuzz:   clang with its libFuzzer runtime
#   accuracy: the simulator's Python (numpy, scipy), ffmpeg, sox, the music and the speech it uses
#           (a second music package for the corpus that confirms settings on other material)
set -euo pipefail

need=(g++ cmake ninja-build make pkg-config libgtest-dev libgmock-dev libbenchmark-dev clang-format
      libtinyxml2-dev libavformat-dev libavcodec-dev libswresample-dev libavutil-dev ffmpeg
      nlohmann-json3-dev libxml2-utils python3 python3-numpy python3-pybind11 pybind11-dev
      python3-pytest python3-dask python3-distributed chromium)
for extra in "$@"; do
    case "$extra" in
        bench) need+=(libfftw3-dev wesnoth-1.16-music sox ffmpeg) ;;
        fuzz) need+=(clang libclang-rt-dev) ;;
        example) need+=(python3-matplotlib) ;;
        accuracy) need+=(python3-numpy python3-scipy ffmpeg sox wesnoth-1.16-music
                         asterisk-core-sounds-en-wav ufoai-music) ;;
        *) echo "bootstrap: unknown extra '$extra'" >&2; exit 2 ;;
    esac
done

missing=()
for package in "${need[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
