#!/usr/bin/python3
"""Turns real recordings into a corpus of device recordings of several events, with truth.xml.

Each event is a distinct stretch of source music (whole tracks, never shared between events of
a corpus). Each device records a window of it: room response (exponentially decaying noise with
early reflections), distance gain, its own pink or babble noise at a signal-to-noise ratio,
device EQ (phone band-pass for some), gain with occasional clipping, an optional AAC or MP3
round trip through ffmpeg, optional clock drift, at 44100 or 48000 Hz, then converted to
8000 Hz mono 16-bit. Unrelated recordings (other tracks) must stay alone. The truth groups the
devices of an event whose windows are connected by overlaps of at least 3 seconds (the shortest
overlap a match can have with the default settings); offsets are seconds after the earliest
member. Deterministic for a seed.

Usage: simulate.py --corpus NAME --out DIR [--seed N] [--music DIR] [--babble DIR]
Corpora: clean, noisy, reverb-codec, short, drift, scale.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import wave

import numpy as np
from scipy import signal

MUSIC = "/usr/share/games/wesnoth/1.16/data/core/music"
BABBLE = "/usr/share/asterisk/sounds"
# Near-copies of other tracks and short stingers are never used.
EXCLUDED = {"frantic-old.ogg"}
MIN_TRACK_SECONDS = 150

CORPORA = {
# events, devices per event, window seconds, conditions
    "clean": dict(events=8, devices=(2, 8), window=(10, None), snr=None, room=False,
                  eq=False, codec=False, drift=0, unrelated=4),
    "noisy": dict(events=8, devices=(2, 8), window=(10, None), snr=(0, 25), room=True,
                  eq=True, codec=False, drift=0, unrelated=4),
    "reverb-codec": dict(events=8, devices=(2, 8), window=(10, None), snr=(10, 25), room=True,
                         eq=True, codec=True, drift=0, unrelated=4),
    "short": dict(events=10, devices=(2, 5), window=(10, 20), snr=(10, 25), room=True,
                  eq=True, codec=False, drift=0, unrelated=4),
    "drift": dict(events=8, devices=(2, 8), window=(10, None), snr=(10, 25), room=True,
                  eq=True, codec=False, drift=100, unrelated=4),
    "scale": dict(events=11, devices=(16, 20), window=(240, None), snr=(5, 25), room=True,
                  eq=True, codec=False, drift=0, unrelated=4, tracks_per_event=2),
}


def decode(path, rate):
    """Mono float samples of any file ffmpeg reads, at `rate`."""
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-ac", "1", "-ar", str(rate),
                          "-f", "f32le", "-"], check=True, capture_output=True).stdout
    return np.frombuffer(raw, dtype=np.float32).astype(np.float64)


def write_wav(path, samples, rate=8000):
    pcm = np.clip(np.round(samples * 32768.0), -32768, 32767).astype("<i2")
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(pcm.tobytes())


def pink(rng, count):
    spectrum = np.fft.rfft(rng.standard_normal(count))
    spectrum[1:] /= np.sqrt(np.arange(1, len(spectrum)))
    noise = np.fft.irfft(spectrum, count)
    return noise / (np.std(noise) + 1e-12)


def babble(rng, count, rate, clips):
    """Six talkers of speech clips. The clips are shared by every device, so each talker
    speaks them at a pitch and speed of its own: identical babble in two devices would rightly
    match."""
    out = np.zeros(count)
    for _ in range(6):
        position = 0
        while position < count:
            clip = clips[rng.integers(len(clips))]
            factor = rng.uniform(0.75, 1.3)
            clip = np.interp(np.arange(0, len(clip) - 1, factor), np.arange(len(clip)), clip)
            take = min(len(clip), count - position)
            out[position:position + take] += clip[:take]
            position += take + int(rng.integers(0, rate // 2))
    return out / (np.std(out) + 1e-12)


def room_response(rng, rate, t60):
    """Direct sound, six early reflections within 30 ms, and an exponentially decaying tail
    scaled to a direct-to-reverberant ratio between -3 and 10 dB, as for cameras a few metres
    to tens of metres from the stage."""
    length = int(t60 * rate)
    t = np.arange(length) / rate
    tail = rng.standard_normal(length) * np.exp(-6.9 * t / t60)
    tail[: int(0.005 * rate)] = 0.0
    drr = rng.uniform(-3.0, 10.0)
    tail *= np.sqrt(10 ** (-drr / 10) / np.sum(tail ** 2))
    response = tail
    response[0] += 1.0
    for _ in range(6):
        at = int(rng.uniform(0.002, 0.03) * rate)
        response[at] += rng.uniform(0.1, 0.5) * rng.choice([-1.0, 1.0])
    return response / np.sqrt(np.sum(response ** 2))


def codec_round_trip(samples, rate, rng):
    codec, extension = (("aac", "m4a") if rng.random() < 0.5 else ("libmp3lame", "mp3"))
    bitrate = f"{int(rng.choice([48, 64, 96, 128]))}k"
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "in.wav")
        coded = os.path.join(folder, "coded." + extension)
        write_wav(source, samples, rate)
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-i", source, "-c:a", codec, "-b:a",
                        bitrate, coded], check=True)
        decoded = decode(coded, rate)
# Encoder priming may shift the start; ffmpeg removes it where the container records it.
    return decoded[:len(samples)], f"{codec} {bitrate}"


def device_recording(rng, event, event_rate, start, seconds, spec, clips):
    rate = int(rng.choice([44100, 48000]))
    drift = rng.uniform(-spec["drift"], spec["drift"]) * 1e-6 if spec["drift"] else 0.0
# The device's clock runs at rate (1 + drift): it takes event time t at t (1 + drift).
    count = int(seconds * rate)
    times = start + np.arange(count) / (rate * (1.0 + drift))
    clean = np.interp(times, np.arange(len(event)) / event_rate, event, left=0.0, right=0.0)
    notes = [f"{rate} Hz"]
    if spec["room"]:
        t60 = rng.uniform(0.2, 1.5)
        clean = signal.oaconvolve(clean, room_response(rng, rate, t60))[:count]
        notes.append(f"T60 {t60:.2f} s")
    clean *= rng.uniform(0.3, 1.0)  # distance
    level = np.std(clean) + 1e-12
    if spec["snr"]:
        snr = rng.uniform(*spec["snr"])
        noise = pink(rng, count) if rng.random() < 0.5 else babble(rng, count, rate, clips)
        clean = clean + noise * level / (10 ** (snr / 20))
        notes.append(f"SNR {snr:.1f} dB")
    if spec["eq"] and rng.random() < 0.4:
        sos = signal.butter(4, [300, 3400], btype="bandpass", fs=rate, output="sos")
        clean = signal.sosfilt(sos, clean)
        notes.append("phone EQ")
# The loudest sample lands between 0.2 and 1.4 of full scale: about a quarter of the
# devices clip.
    clean *= rng.uniform(0.2, 1.4) / (np.max(np.abs(clean)) + 1e-12)
    if np.max(np.abs(clean)) > 1.0:
        notes.append("clipped")
    clean = np.clip(clean, -1.0, 1.0)
    if spec["codec"] and rng.random() < 0.7:
        clean, what = codec_round_trip(clean, rate, rng)
        notes.append(what)
    if drift:
        notes.append(f"drift {drift * 1e6:+.0f} ppm")
    g = np.gcd(8000, rate)
    return signal.resample_poly(clean, 8000 // g, rate // g), ", ".join(notes)


def windows(rng, event_seconds, devices, window):
    low, high = window
    high = event_seconds if high is None else min(high, event_seconds)
    result = []
    # Short clips gather around one moment of the event, as phones filming the same scene do;
    # spread over the whole event they would hardly ever overlap.
    moment = rng.uniform(0.0, max(0.0, event_seconds - high)) if high <= 30 else None
    for d in range(devices):
        length = rng.uniform(low, high)
        if moment is not None:
            start = min(max(0.0, moment + rng.uniform(-0.5, 0.5) * high), event_seconds - length)
            result.append((start, length))
            continue
        kind = rng.random()
        if result and kind < 0.15:
# Overlaps the previous window by less than 3 seconds.
            prev_start, prev_length = result[-1]
            start = prev_start + prev_length - rng.uniform(0.5, 2.9)
        else:
            start = rng.uniform(0.0, max(0.0, event_seconds - length))
        start = min(max(0.0, start), max(0.0, event_seconds - length))
        result.append((start, length))
    return result


def overlap_components(spans, minimum=3.0):
    parent = list(range(len(spans)))

    def find(i):
        while parent[i] != i:
            parent[i] = parent[parent[i]]
            i = parent[i]
        return i

    for i, (a0, al) in enumerate(spans):
        for j, (b0, bl) in enumerate(spans[:i]):
            if min(a0 + al, b0 + bl) - max(a0, b0) >= minimum:
                parent[find(i)] = find(j)
    groups = {}
    for i in range(len(spans)):
        groups.setdefault(find(i), []).append(i)
    return list(groups.values())


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--corpus", required=True, choices=sorted(CORPORA))
    parser.add_argument("--out", required=True)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--music", default=MUSIC)
    parser.add_argument("--babble", default=BABBLE)
    args = parser.parse_args()
    spec = CORPORA[args.corpus]
    rng = np.random.default_rng(args.seed)
    event_rate = 48000

    tracks = sorted(t for t in os.listdir(args.music) if t.endswith(".ogg") and t not in EXCLUDED)
    lengths = {}
    for t in tracks:
        info = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration",
                               "-of", "csv=p=0", os.path.join(args.music, t)],
                              check=True, capture_output=True, text=True).stdout
        lengths[t] = float(info)
    tracks = [t for t in tracks if lengths[t] >= MIN_TRACK_SECONDS]
    rng.shuffle(tracks)
    per_event = spec.get("tracks_per_event", 1)
    needed = spec["events"] * per_event + spec["unrelated"]
    if len(tracks) < needed:
        sys.exit(f"simulate: {needed} distinct tracks needed, {len(tracks)} available")
    clips = []
    if spec["snr"]:
        names = sorted(os.path.join(r, f) for r, _, fs in os.walk(args.babble) for f in fs
                       if f.endswith(".wav"))
        for name in rng.choice(names, size=min(60, len(names)), replace=False):
            clips.append(decode(str(name), 48000))

    audio = os.path.join(args.out, "audio")
    os.makedirs(audio, exist_ok=True)
    truth = ["<truth>"]
    listing = []
    used = 0
    for e in range(spec["events"]):
        parts = tracks[used:used + per_event]
        used += per_event
        event = np.concatenate([decode(os.path.join(args.music, p), event_rate) for p in parts])
        seconds = len(event) / event_rate
        count = int(rng.integers(spec["devices"][0], spec["devices"][1] + 1))
        spans = windows(rng, seconds, count, spec["window"])
        names = []
        for d, (start, length) in enumerate(spans):
            name = f"e{e + 1:02d}_dev{d + 1}.wav"
            samples, notes = device_recording(rng, event, event_rate, start, length, spec, clips)
            write_wav(os.path.join(audio, name), samples)
            names.append(name)
            listing.append(f"{name}\t{'+'.join(parts)}\tstart {start:.4f} s\tlength {length:.1f} s\t{notes}")
        for group in overlap_components(spans):
            earliest = min(spans[i][0] for i in group)
            truth.append("  <cluster>")
            for i in group:
                truth.append(f'    <file name="{names[i]}" offset="{spans[i][0] - earliest:.6f}"/>')
            truth.append("  </cluster>")
    for u in range(spec["unrelated"]):
        part = tracks[used]
        used += 1
        source = decode(os.path.join(args.music, part), event_rate)
        length = min(len(source) / event_rate, rng.uniform(30, 120))
        name = f"unrelated{u + 1}.wav"
        samples, notes = device_recording(rng, source, event_rate, 0.0, length, spec, clips)
        write_wav(os.path.join(audio, name), samples)
        listing.append(f"{name}\t{part}\tstart 0 s\tlength {length:.1f} s\t{notes}")
        truth.append(f'  <cluster>\n    <file name="{name}" offset="0.000000"/>\n  </cluster>')
    truth.append("</truth>")
    with open(os.path.join(args.out, "truth.xml"), "w") as out:
        out.write("\n".join(truth) + "\n")
    with open(os.path.join(args.out, "devices.tsv"), "w") as out:
        out.write("\n".join(listing) + "\n")


if __name__ == "__main__":
    main()
