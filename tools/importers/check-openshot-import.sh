#!/usr/bin/env bash
# Checks by hand (never in CI: it installs OpenShot and takes a while) that OpenShot's own Final
# Cut Pro XML importer takes the XML timeline Trelis writes, with every clip where Trelis put it,
# and reads the OpenTimelineIO timeline when Debian packages its Python module.
# Usage: tools/importers/check-openshot-import.sh
#   TRELIS=path/to/Trelis picks the program (default build/bin/Trelis of this repository);
#   KEEP=1 keeps the temporary folder (media, timelines, logs) to open them in an editor.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
trelis=${TRELIS:-$repo/build/bin/Trelis}
# Debian's interpreter: the one that sees python3-openshot and PyQt5.
python=/usr/bin/python3

fail() {  # <exit code> <message>
    echo "check-openshot-import: $2" >&2
    exit "$1"
}
[ -x "$trelis" ] || fail 2 "$trelis: no such program (build it or set TRELIS)"
[ -x "$python" ] || fail 2 "$python: not found (Debian's python3 is needed)"

installed() {  # <package>
    dpkg-query -W -f='${Status}' "$1" 2> /dev/null | grep -q 'install ok installed'
}
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
apt_install() {  # <package>...
    echo "check-openshot-import: installing $*"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@"
}
missing=()
command -v ffmpeg > /dev/null || missing+=(ffmpeg)
# The importer is plain Python inside openshot-qt; it needs libopenshot's bindings to open media.
if ! installed openshot-qt || ! "$python" -c 'import openshot' 2> /dev/null; then
    missing+=(openshot-qt)
fi
[ ${#missing[@]} -eq 0 ] || apt_install "${missing[@]}"

work=$(mktemp -d "${TMPDIR:-/tmp}/trelis-openshot.XXXXXX")
if [ "${KEEP:-0}" = 1 ]; then
    echo "check-openshot-import: keeping $work"
else
    trap 'rm -rf "$work"' EXIT
fi
event=$work/event
mkdir -p "$event"

# One synthetic piece of "music" for the whole event: two voices of short notes whose pitches
# come from a hash of the note's index, so no stretch of it repeats and the offsets are unique.
hash='mod(abs(sin(floor(t*5)*12.9898)*43758.5453),1)'
hash2='mod(abs(sin(floor(t*3.3)*78.233)*12345.678),1)'
voice1="0.5*sin(2*PI*220*pow(2,floor(24*$hash)/12)*t)*exp(-4*mod(t,0.2))"
voice2="0.3*sin(2*PI*110*pow(2,floor(12*$hash2)/12)*t)*exp(-2*mod(t,1/3.3))"
ff() { ffmpeg -nostdin -hide_banner -v error -y "$@"; }
ff -f lavfi -i "aevalsrc='$voice1+$voice2':s=48000:d=70" -c:a pcm_s16le "$work/music.wav"

# Each device hears the music from its own start, at its own level, over its own noise.
take() {  # <start s> <length s> <noise seed> -> filter graph of the device's sound as [a]
    echo "[0:a]atrim=start=$1:duration=$2,asetpts=PTS-STARTPTS,volume=0.7[m];" \
         "anoisesrc=r=48000:a=0.02:c=pink:seed=$3:d=$2[n];[m][n]amix=inputs=2:normalize=0[a]"
}
camera=(-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -b:a 128k -ac 2 -shortest)
# Known starts within the music: the recorder first, the cameras 7.52 s and 15.2 s after it.
rec_start=3.0 cam25_start=10.52 cam2997_start=18.2
ff -i "$work/music.wav" -filter_complex "$(take $rec_start 40 1)" -map '[a]' -c:a pcm_s16le \
    "$event/recorder.wav"
ff -i "$work/music.wav" -f lavfi -i "testsrc=s=320x240:r=25:d=30" \
    -filter_complex "$(take $cam25_start 30 2)" -map 1:v -map '[a]' "${camera[@]}" \
    "$event/camera-25fps.mp4"
ff -i "$work/music.wav" -f lavfi -i "testsrc=s=320x240:r=30000/1001:d=25" \
    -filter_complex "$(take $cam2997_start 25 3)" -map 1:v -map '[a]' "${camera[@]}" \
    "$event/phone-2997fps.mp4"
cat > "$work/expected.txt" << END
recorder.wav $rec_start
camera-25fps.mp4 $cam25_start
phone-2997fps.mp4 $cam2997_start
END

# One timeline per run: the XML with the JSON report beside it, then the OpenTimelineIO file.
run_trelis() {  # <log> <arguments>...
    local log=$1
    shift
    "$trelis" -f "$event" -media all -match verified "$@" > "$log" 2>&1 || {
        cat "$log" >&2
        fail 1 "Trelis failed (its output above)"
    }
}
run_trelis "$work/trelis-xml.log" -timeline "$work/event.xml" -json "$work/event.json"
run_trelis "$work/trelis-otio.log" -timeline "$work/event.otio"
for written in event.xml event.json event.otio; do
    [ -s "$work/$written" ] || fail 1 "Trelis wrote no $written"
done

status=0
# OpenShot logs every step at INFO: to a file, shown when the import fails.
QT_QPA_PLATFORM=offscreen "$python" "$here/openshot_import.py" --xml "$work/event.xml" \
    --json "$work/event.json" --expected "$work/expected.txt" 2> "$work/openshot.log" || status=$?
if [ $status -ne 0 ]; then
    echo "check-openshot-import: the OpenShot check failed ($status); the end of its log:" >&2
    tail -n 25 "$work/openshot.log" >&2
fi

# OpenTimelineIO only from Debian: where it is not packaged the check says so and stops there.
compgen -G '/var/lib/apt/lists/*Packages*' > /dev/null || $sudo apt-get update -qq
echo
if apt-cache show python3-opentimelineio > /dev/null 2>&1; then
    installed python3-opentimelineio || apt_install python3-opentimelineio
    "$python" "$here/otio_read.py" "$work/event.otio" --json "$work/event.json" || status=$?
else
    release=$(cat /etc/debian_version 2> /dev/null || echo '?')
    echo "OpenTimelineIO check skipped: Debian $release has no python3-opentimelineio package;" \
         "Trelis wrote event.otio, nothing read it."
fi
exit $status
