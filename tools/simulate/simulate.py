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

The field corpora (field, day) model the devices physically instead: talks (speech prompts with
pauses, one to three speakers), parties (quieter music and a crowd of talkers that every device
hears through its own path) and concerts; each device at a distance of 1 to 30 m whose
direct-to-reverberant ratio follows from a critical distance and whose direct sound comes
distance / 343 s late; two microphones 2 to 15 cm apart (a 2-channel file) on 70% of the devices
of field and 30% of day; clock drift on 4 in 10 devices of field and on exactly one of day (+20
ppm); a codec round trip for every device. Their truth offsets are acoustic starts (device
start minus the propagation delay to the first microphone) and every <file> carries the clock's
drift in ppm, the direct-to-reverberant ratio in dB and the distance in m. The drift corpus's
truth carries them too (distance 0: not simulated there).

crowd is a field corpus too: one concert of 20 to 30 minutes (joined tracks) filmed by 150
phones, each for 1 to 5 minutes from a random moment, with the field recipe's devices (two
microphones on 7 in 10, clocks drifting up to 100 ppm on 4 in 10); and 20 unrelated recordings
of 1 to 5 minutes (12 concerts, 4 parties, 4 talks of their own). Clustering at scale: the
phones make one cluster through their overlaps.

field-alt is the field recipe on other music (the tracks of a second game's archive, unpacked
for the run) with the same speech prompts: settings tuned on field are confirmed there on
material they never saw.

Two short-clip corpora use the field devices too, on only as much of each event as they need:
- hard: 8 events (talks, parties, concerts) of 4 to 8 clips of 10 to 20 s, about 50, placed
  within a stretch of 40 to 90 s of the event so that each overlaps an earlier one by 4 s or
  more; signal-to-noise 0 to 6 dB (pink or babble), reverberation time 0.8 to 1.5 s, devices 4
  to 30 m away (mostly beyond the critical distance), a codec round trip at 48 to 128 kbit/s on
  every one, 3 in 10 clocks drifting up to 100 ppm, two microphones on 4 in 10; and 8 unrelated
  clips of the same kinds and lengths from other tracks and prompts.
- clip10: 6 events (talks and concerts), each a recording of 60 to 120 s 1 to 2 m from the
  source at 20 dB and one 10 s clip inside it, 2 to 8 m away at 10 dB, reverberation time 0.4 to
  0.8 s; and 4 unrelated 10 s clips. Whether a 10 s clip at 10 dB is matched.

Usage: simulate.py --corpus NAME --out DIR [--seed N] [--music DIR|ARCHIVE] [--babble DIR]
Corpora: clean, noisy, reverb-codec, short, drift, scale, field, day, crowd, crowd-song, field-alt,
hard, clip10.
"""
import argparse
import multiprocessing
import os
import shutil
import subprocess
import sys
import tempfile
import wave
import zipfile

import numpy as np
from scipy import signal

MUSIC = "/usr/share/games/wesnoth/1.16/data/core/music"
# Other music, in the archive its game ships it in.
ALT_MUSIC = "/usr/share/games/ufoai/base/0music.pk3"
BABBLE = "/usr/share/asterisk/sounds"
# Near-copies of other tracks and short stingers are never used; nor are the other music's tracks
# in which over a third of 5 s probes, one every 20 s, recur sample for sample elsewhere (looped
# bars): a clip of them would have several true offsets.
EXCLUDED = {"frantic-old.ogg", "David01.ogg", "David05.ogg", "Marine01.ogg", "Marine02.ogg",
            "MarineAlienRaid.ogg", "PsymongO4.ogg", "PsymongO6.ogg", "TheThings-Slippycurb.ogg"}
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
                  eq=True, codec=False, drift=100, unrelated=4, facts=True),
    "scale": dict(events=11, devices=(16, 20), window=(240, None), snr=(5, 25), room=True,
                  eq=True, codec=False, drift=0, unrelated=4, tracks_per_event=2),
# Field corpora: drift is the largest clock error in ppm, drifting the share of devices that have
# one (or, with one_drifting, the error of the single device that has one). With workers, that
# many processes make an event's devices, each from a random state of its own drawn in order: the
# corpus is the same for a seed whatever their number, but not the one made without.
    "field": dict(events=8, devices=(2, 8), window=(10, None), snr=(0, 25), eq=True,
                  unrelated=4, field=dict(kinds=("concert", "talk", "party"), drift=100,
                                          drifting=0.4, two_mics=0.7)),
    "day": dict(events=1, devices=(30, 30), window=(180, None), snr=(10, 25), eq=True,
                unrelated=0, field=dict(kinds=("concert",), event_seconds=(1800, 2700),
                                        one_drifting=20.0, two_mics=0.3)),
# A crowd of phones at one concert, each filming 1 to 5 minutes of it from its own place: their
# windows chain into one large cluster. Three unrelated concerts to a party and a talk: twenty of
# music alone would use up the tracks, and more talks and parties the speech prompts.
    "crowd": dict(events=1, devices=(150, 150), window=(60, 300), snr=(0, 25), eq=True,
                  unrelated=20, field=dict(kinds=("concert",), event_seconds=(1200, 1800),
                                           drift=100, drifting=0.4, two_mics=0.7,
                                           unrelated_seconds=(60, 300),
                                           unrelated_kinds=("concert",) * 3 + ("party", "talk"),
                                           workers=2)),
# The field recipe on other music: settings confirmed here were not tuned on its material.
    "field-alt": dict(events=8, devices=(2, 8), window=(10, None), snr=(0, 25), eq=True,
                      unrelated=4, music=ALT_MUSIC,
                      field=dict(kinds=("concert", "talk", "party"), drift=100, drifting=0.4,
                                 two_mics=0.7)),
# Short clips of field devices, placed by a plan within a stretch of each event. Distances are
# log-uniform within the range, unless a plan's look sets a device's own.
    "hard": dict(events=8, devices=(4, 8), window=(10, 20), snr=(0, 6), eq=True, unrelated=8,
                 field=dict(kinds=("concert", "talk", "party"), drift=100, drifting=0.3,
                            two_mics=0.4, t60=(0.8, 1.5), distance=(4.0, 30.0), plan="stretch",
                            stretch=(40, 90), overlap=4.0)),
    "clip10": dict(events=6, devices=(2, 2), window=(10, 10), snr=(10, 10), eq=True, unrelated=4,
                   field=dict(kinds=("concert", "talk"), drift=100, drifting=0.4, two_mics=0.3,
                              t60=(0.4, 0.8), distance=(2.0, 8.0), plan="long and clip",
                              long=(60, 120), near=dict(distance=(1.0, 2.0), snr=(20, 20)))),
}
# The same crowd at one song of 4 to 6 minutes: nearly every phone holds every hash of the event,
# which the popular-hash rule over all files drops.
CORPORA["crowd-song"] = dict(CORPORA["crowd"], field=dict(CORPORA["crowd"]["field"],
                                                           event_seconds=(240, 360)))


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
    drr = NO_ROOM_DRR
    if spec["room"]:
        t60 = rng.uniform(0.2, 1.5)
        response = room_response(rng, rate, t60)
        # As built: the drawn ratio is the tail's alone, before the early reflections join it.
        drr = 10 * np.log10(response[0] ** 2 / np.sum(response[1:] ** 2))
        clean = signal.oaconvolve(clean, response)[:count]
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
    return (signal.resample_poly(clean, 8000 // g, rate // g), ", ".join(notes),
            dict(drift=drift, drr=drr, distance=0.0))


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


SPEED_OF_SOUND = 343.0
# What the truth says of a device heard without a room.
NO_ROOM_DRR = 99.0


def attributes(facts):
    return (f' drift="{facts["drift"] * 1e6:.3f}" drr="{facts["drr"]:.1f}"'
            f' distance="{facts["distance"]:.1f}"')


def usable_tracks(music):
    tracks = sorted(t for t in os.listdir(music) if t.endswith(".ogg") and t not in EXCLUDED)
    lengths = {}
    for t in tracks:
        info = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration",
                               "-of", "csv=p=0", os.path.join(music, t)],
                              check=True, capture_output=True, text=True).stdout
        lengths[t] = float(info)
    return [t for t in tracks if lengths[t] >= MIN_TRACK_SECONDS]


def write_channels(path, channels, rate=8000, block=1 << 20):
    """16-bit WAVE of the channels, a block at a time (a long device is gigabytes as floats)."""
    with wave.open(path, "wb") as out:
        out.setnchannels(len(channels))
        out.setsampwidth(2)
        out.setframerate(rate)
        for at in range(0, len(channels[0]), block):
            part = np.stack([c[at:at + block] for c in channels], axis=1) * 32768.0
            out.writeframes(np.clip(np.round(part), -32768, 32767).astype("<i2").tobytes())


def decode_channels(path, rate, count):
    """Through a file: a pipe's bytes would be held twice."""
    raw = path + ".f32"
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-i", path, "-ac", str(count), "-ar", str(rate),
                    "-f", "f32le", raw], check=True)
    data = np.fromfile(raw, dtype=np.float32).reshape(-1, count)
    os.remove(raw)
    return [data[:, c].astype(np.float64) for c in range(count)]


def codec_round_trip_channels(channels, rate, rng):
    codec, extension = (("aac", "m4a") if rng.random() < 0.5 else ("libmp3lame", "mp3"))
    bitrate = f"{int(rng.choice([48, 64, 96, 128]))}k"
    count = len(channels[0])
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "in.wav")
        coded = os.path.join(folder, "coded." + extension)
        write_channels(source, channels, rate)
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-i", source, "-c:a", codec, "-b:a",
                        bitrate, coded], check=True)
        decoded = decode_channels(coded, rate, len(channels))
    decoded = [np.pad(d[:count], (0, max(0, count - len(d)))) for d in decoded]
    return decoded, f"{codec} {bitrate}"


def sample_at(source, source_rate, first, step, count, block=1 << 22):
    """source (at source_rate) at times first + n step, n < count, linearly interpolated, zero
    outside it; in blocks, as a device of the long corpora takes over a hundred million."""
    out = np.empty(count)
    for at in range(0, count, block):
        position = (first + np.arange(at, min(count, at + block)) * step) * source_rate
        index = np.floor(position).astype(np.int64)
        fraction = position - index
        inside = (index >= 0) & (index + 1 < len(source))
        index = np.clip(index, 0, len(source) - 2)
        part = source[index] * (1.0 - fraction) + source[index + 1] * fraction
        part[~inside] = 0.0
        out[at:at + len(part)] = part
    return out


class Prompts:
    """Speech prompts, each handed out once: a talk, a crowd and the devices' babble never share
    one, or their recordings would rightly match."""

    def __init__(self, rng, folder):
        names = sorted(os.path.join(r, f) for r, _, fs in os.walk(folder) for f in fs
                       if f.endswith(".wav"))
        self.names = [str(n) for n in rng.permutation(names)]
        self.next = 0

    def take(self, rate=48000):
        if self.next == len(self.names):
            sys.exit(f"simulate: the {len(self.names)} speech prompts are used up")
        self.next += 1
        return decode(self.names[self.next - 1], rate)


# A three-pole pinking filter (within 0.05 dB of 1/f above 10 Hz at 44.1 kHz).
PINK_B = [0.049922035, -0.095993537, 0.050612699, -0.004408786]
PINK_A = [1.0, -2.494956002, 2.017265875, -0.522189400]


def field_pink(rng, count, block=1 << 22):
    """Pink noise of unit deviation, filtered a block at a time: one FFT over a long device takes
    gigabytes, and many more where its length has a large prime factor."""
    out = np.empty(count)
    state = signal.lfilter_zi(PINK_B, PINK_A) * 0.0
    # The filter's start settles within a second; skip it.
    settle = rng.standard_normal(48000)
    _, state = signal.lfilter(PINK_B, PINK_A, settle, zi=state)
    for at in range(0, count, block):
        out[at:at + block], state = signal.lfilter(PINK_B, PINK_A,
                                                   rng.standard_normal(min(block, count - at)),
                                                   zi=state)
    out /= np.std(out) + 1e-12
    return out


def convolve_long(x, h, block=1 << 22):
    """x convolved with h, as long as x, a block at a time: at once, the FFTs of a device of
    three quarters of an hour take over ten gigabytes."""
    out = np.zeros(len(x) + len(h) - 1)
    for at in range(0, len(x), block):
        part = signal.oaconvolve(x[at:at + block], h)
        out[at:at + len(part)] += part
    return out[:len(x)]


def stretch(clip, factor):
    """Pitch and speed together, as a talker of another voice."""
    return np.interp(np.arange(0, len(clip) - 1, factor), np.arange(len(clip)), clip)


def talk(rng, prompts, seconds, rate):
    """Prompts one after another with pauses of 0.2 to 1.5 s, spoken by one to three speakers
    taking turns of a few prompts; the second and third are the same voice at a pitch, speed and
    level of their own."""
    speakers = [(1.0, 1.0)]
    for _ in range(int(rng.integers(0, 3))):
        speakers.append((rng.uniform(0.8, 1.25), 10 ** (rng.uniform(-4, 4) / 20)))
    pieces, total, turn = [], 0, 0
    target = int(seconds * rate)
    while total < target:
        if turn == 0:
            factor, gain = speakers[int(rng.integers(len(speakers)))]
            turn = int(rng.integers(2, 9))
        pieces.append(gain * stretch(prompts.take(rate), factor))
        pieces.append(np.zeros(int(rng.uniform(0.2, 1.5) * rate)))
        total += len(pieces[-2]) + len(pieces[-1])
        turn -= 1
    speech = np.concatenate(pieces)[:target]
    return speech / (np.std(speech) + 1e-12), len(speakers)


def crowd(rng, prompts, count, rate):
    """Eight to sixteen talkers at voices and levels of their own, each speaking clips of the
    party's own pool with pauses."""
    pool = [prompts.take(rate) for _ in range(30)]
    talkers = int(rng.integers(8, 17))
    out = np.zeros(count)
    for _ in range(talkers):
        factor, gain = rng.uniform(0.8, 1.25), rng.uniform(0.3, 1.0)
        position = int(rng.integers(0, 2 * rate))
        while position < count:
            clip = stretch(pool[int(rng.integers(len(pool)))], factor)
            take = min(len(clip), count - position)
            out[position:position + take] += gain * clip[:take]
            position += take + int(rng.uniform(0.2, 1.5) * rate)
    return out / (np.std(out) + 1e-12), talkers


def field_room_response(rng, rate, t60, drr):
    """Unit direct sound at 0, then six early reflections within 30 ms and an exponentially
    decaying tail that together carry the energy the direct-to-reverberant ratio leaves them.
    A reflection travels further than the direct sound: it stays below half of it, and far from
    the source the tail carries most of the reverberant energy."""
    length = max(int(t60 * rate), int(0.04 * rate))
    t = np.arange(length) / rate
    tail = rng.standard_normal(length) * np.exp(-6.9 * t / t60)
    tail[: int(0.005 * rate)] = 0.0
    tail /= np.sqrt(np.sum(tail ** 2))
    early = np.zeros(length)
    for _ in range(6):
        at = int(rng.uniform(0.002, 0.03) * rate)
        early[at] += rng.uniform(0.1, 0.5) * rng.choice([-1.0, 1.0])
    budget = 10 ** (-drr / 10)
    # Near the source the reflections get at most half of what the ratio leaves.
    early *= min(1.0, np.sqrt(0.5 * budget / np.sum(early ** 2)))
    response = early + tail * np.sqrt(budget - np.sum(early ** 2))
    response[0] = 1.0
    return response


def event_source(rng, kind, tracks, music, prompts, rate, seconds=None, excerpt=None):
    """The sound of one event: a concert is music, a talk speech, a party quieter music with a
    crowd. With excerpt, only that many seconds from a random place of the track (or as much
    speech). Returns the sources, the tracks it used and a description."""
    if kind == "talk":
        speech, speakers = talk(rng, prompts, excerpt or seconds or rng.uniform(150, 330), rate)
        return dict(stage=speech), 0, f"talk, {speakers} speaker{'s' if speakers > 1 else ''}"
    event = decode(os.path.join(music, tracks[0]), rate)
    track = tracks[0]
    if excerpt and excerpt * rate < len(event):
        at = int(rng.integers(0, len(event) - int(excerpt * rate) + 1))
        event = event[at:at + int(excerpt * rate)]
        track = f"{track} from {at / rate:.1f} s"
    if kind == "concert":
        return dict(stage=event / (np.std(event) + 1e-12)), 1, f"concert: {track}"
    noise, talkers = crowd(rng, prompts, len(event), rate)
    # Music against crowd, both at a metre.
    music_db = rng.uniform(-3.0, 6.0)
    return (dict(stage=event / (np.std(event) + 1e-12) * 10 ** (music_db / 20), crowd=noise), 1,
            f"party: {track} at {music_db:+.1f} dB, crowd of {talkers}")


def field_device(rng, sources, source_rate, start, seconds, room, spec, clips, drift, look=None):
    """One device of a field corpus: its channels at 8000 Hz, notes and the truth's facts. look
    may set the device's own distance and signal-to-noise ranges apart from the corpus's."""
    field = spec["field"]
    look = look or {}
    rate = int(rng.choice([44100, 48000]))
    count = int(seconds * rate)
    near, far = look.get("distance", field.get("distance", (1.0, 30.0)))
    distance = float(np.exp(rng.uniform(np.log(near), np.log(far))))
    drr = float(np.clip(20 * np.log10(room["critical"] / distance), -15.0, 10.0))
    delay = distance / SPEED_OF_SOUND
    mics = 2 if rng.random() < field["two_mics"] else 1
    spacing = rng.uniform(0.02, 0.15)
    # How much later the second microphone hears the direct sound (earlier when negative).
    lag = spacing * np.cos(rng.uniform(0.0, np.pi)) / SPEED_OF_SOUND
    notes = [f"{rate} Hz", f"{distance:.1f} m", f"DRR {drr:.1f} dB", f"T60 {room['t60']:.2f} s"]
    if mics == 2:
        notes.append(f"2 mics {100 * spacing:.0f} cm apart, second {1000 * lag:+.3f} ms")
    if "crowd" in sources:
        # The crowd is around the device, through a room path of its own; its direct sound comes
        # with the stage's delay so that one acoustic start holds for both.
        crowd_distance = rng.uniform(1.0, 4.0)
        crowd_drr = float(np.clip(20 * np.log10(room["critical"] / crowd_distance), -15.0, 10.0))
        notes.append(f"crowd at {crowd_distance:.1f} m")
    # Enough sound before the start for the reverberation that is already there at sample 0.
    before = int(room["t60"] * rate) + 1
    step = 1.0 / (rate * (1.0 + drift))
    channels = []
    for m in range(mics):
        first = start - delay - (lag if m else 0.0) - before * step
        heard = np.zeros(count)
        for name, at in (("stage", distance), ("crowd", None)):
            if name not in sources:
                continue
            at = at or crowd_distance
            ratio = drr if name == "stage" else crowd_drr
            dry = sample_at(sources[name], source_rate, first, step, before + count)
            response = field_room_response(rng, rate, room["t60"], ratio)
            heard += convolve_long(dry, response)[before:before + count] / at
            del dry
        channels.append(heard)
    level = np.std(channels[0]) + 1e-12
    snr = rng.uniform(*look.get("snr", spec["snr"]))
    use_pink = rng.random() < 0.5
    for c in channels:
        noise = field_pink(rng, count) if use_pink else babble(rng, count, rate, clips)
        noise *= level / (10 ** (snr / 20))
        c += noise
        del noise
    notes.append(f"SNR {snr:.1f} dB {'pink' if use_pink else 'babble'}")
    if spec["eq"] and rng.random() < 0.4:
        sos = signal.butter(4, [300, 3400], btype="bandpass", fs=rate, output="sos")
        for c in range(len(channels)):
            channels[c] = signal.sosfilt(sos, channels[c])
        notes.append("phone EQ")
    peak = max(np.max(np.abs(c)) for c in channels) + 1e-12
    gain = rng.uniform(0.2, 1.4) / peak
    for c in channels:
        c *= gain
        np.clip(c, -1.0, 1.0, out=c)
    if gain * peak > 1.0:
        notes.append("clipped")
    channels, what = codec_round_trip_channels(channels, rate, rng)
    notes.append(what)
    if drift:
        notes.append(f"drift {drift * 1e6:+.3f} ppm")
    g = np.gcd(8000, rate)
    channels = [signal.resample_poly(c, 8000 // g, rate // g) for c in channels]
    return channels, ", ".join(notes), dict(drift=drift, drr=drr, distance=distance), delay


class FieldCorpus:
    """What the field-style corpora share: the random state, the music and speech they draw on,
    and the audio, truth and device listing they write."""

    def __init__(self, args, spec):
        self.spec, self.field = spec, spec["field"]
        self.rng = rng = np.random.default_rng(args.seed)
        self.rate = 48000
        self.music = args.music
        self.tracks = usable_tracks(args.music)
        rng.shuffle(self.tracks)
        self.used = 0
        self.prompts = Prompts(rng, args.babble)
        self.clips = [self.prompts.take() for _ in range(60)]
        kinds = list(self.field["kinds"]) * spec["events"]
        self.kinds = [str(k) for k in rng.permutation(kinds[:spec["events"]])]
        self.audio = os.path.join(args.out, "audio")
        os.makedirs(self.audio, exist_ok=True)
        self.out = args.out
        self.truth, self.listing = ["<truth>"], []

    def room(self):
        return dict(t60=self.rng.uniform(*self.field.get("t60", (0.3, 1.5))),
                    critical=self.rng.uniform(3.0, 6.0))

    def drift(self):
        if self.rng.random() < self.field["drifting"]:
            return self.rng.uniform(-self.field["drift"], self.field["drift"]) * 1e-6
        return 0.0

    def source(self, kind, **how):
        sources, took, what = event_source(self.rng, kind, self.tracks[self.used:], self.music,
                                           self.prompts, self.rate, **how)
        self.used += took
        if self.used > len(self.tracks):
            sys.exit("simulate: not enough distinct tracks")
        return sources, what

    def record(self, name, sources, start, length, place, drift, what, look=None):
        made = self.device(self.rng, name, sources, start, length, place, drift, look)
        return self.listed(name, what, start, length, *made)

    def device(self, rng, name, sources, start, length, place, drift, look=None):
        """Makes and writes one device; its notes, facts and propagation delay."""
        channels, notes, facts, delay = field_device(rng, sources, self.rate, start, length,
                                                     place, self.spec, self.clips, drift, look)
        write_channels(os.path.join(self.audio, name), channels)
        return notes, facts, delay

    def listed(self, name, what, start, length, notes, facts, delay):
        self.listing.append(f"{name}\t{what}\tstart {start:.4f} s\tacoustic start "
                            f"{start - delay:.6f} s\tlength {length:.1f} s\t{notes}")
        return facts, start - delay

    def record_all(self, names, sources, spans, place, drifts, what):
        """record for each device of an event, by the recipe's worker processes. They fork once
        SHARED holds the corpus and the sources, so that a long event is not copied to each."""
        seeds = [int(s) for s in self.rng.integers(0, 2 ** 63, len(names))]
        SHARED.update(corpus=self, sources=sources)
        jobs = [(seed, name, start, length, place, drift)
                for seed, name, (start, length), drift in zip(seeds, names, spans, drifts)]
        with multiprocessing.get_context("fork").Pool(self.field["workers"]) as pool:
            made = pool.map(shared_device, jobs, chunksize=1)
        SHARED.clear()
        return [self.listed(name, what, start, length, *m)
                for name, (start, length), m in zip(names, spans, made)]

    def event(self, names, facts, acoustic):
        """The truth of one event's devices: one cluster per group connected by overlaps."""
        for group in overlap_components(acoustic):
            earliest = min(acoustic[i][0] for i in group)
            self.truth.append("  <cluster>")
            for i in group:
                self.truth.append(f'    <file name="{names[i]}" '
                                  f'offset="{acoustic[i][0] - earliest:.6f}"'
                                  f'{attributes(facts[i])}/>')
            self.truth.append("  </cluster>")

    def alone(self, name, fact):
        self.truth.append(f'  <cluster>\n    <file name="{name}" offset="0.000000"'
                          f'{attributes(fact)}/>\n  </cluster>')

    def close(self):
        self.truth.append("</truth>")
        with open(os.path.join(self.out, "truth.xml"), "w") as out:
            out.write("\n".join(self.truth) + "\n")
        with open(os.path.join(self.out, "devices.tsv"), "w") as out:
            out.write("\n".join(self.listing) + "\n")


# What the worker processes of record_all read, inherited when they fork.
SHARED = {}


def shared_device(job):
    seed, name, start, length, place, drift = job
    return SHARED["corpus"].device(np.random.default_rng(seed), name, SHARED["sources"], start,
                                   length, place, drift)


def field_main(args, spec):
    corpus = FieldCorpus(args, spec)
    field, rng, rate = corpus.field, corpus.rng, corpus.rate
    for e in range(spec["events"]):
        if "event_seconds" in field:
            # One long event of joined tracks.
            target = rng.uniform(*field["event_seconds"])
            parts = []
            while sum(len(p) for p in parts) < target * rate:
                if corpus.used == len(corpus.tracks):
                    sys.exit("simulate: not enough music for the long event")
                parts.append(decode(os.path.join(args.music, corpus.tracks[corpus.used]), rate))
                corpus.used += 1
            event = np.concatenate(parts)[:int(target * rate)]
            del parts
            event /= np.std(event) + 1e-12
            sources = dict(stage=event)
            what = f"concert: {corpus.used} tracks joined"
        else:
            sources, what = corpus.source(corpus.kinds[e])
        seconds = len(sources["stage"]) / rate
        place = corpus.room()
        count = int(rng.integers(spec["devices"][0], spec["devices"][1] + 1))
        spans = windows(rng, seconds, count, spec["window"])
        drifts = [0.0] * count
        if "one_drifting" in field:
            # A device of ten minutes or more, so that its clock shows.
            long_ones = [d for d, (_, length) in enumerate(spans) if length >= 600]
            drifts[int(rng.choice(long_ones or list(range(count))))] = field["one_drifting"] * 1e-6
        else:
            drifts = [corpus.drift() for _ in range(count)]
        names = [f"e{e + 1:02d}_dev{d + 1}.wav" for d in range(count)]
        if "workers" in field:
            made = corpus.record_all(names, sources, spans, place, drifts, what)
        else:
            made = [corpus.record(name, sources, start, length, place, drifts[d], what)
                    for d, (name, (start, length)) in enumerate(zip(names, spans))]
        facts = [fact for fact, _ in made]
        acoustic = [(begins, length) for (_, begins), (_, length) in zip(made, spans)]
        corpus.event(names, facts, acoustic)
    # A recipe's unrelated kinds are dealt in turn, then shuffled, so that their share is sure.
    dealt = list(field.get("unrelated_kinds", ())) * spec["unrelated"]
    dealt = [str(k) for k in rng.permutation(dealt[:spec["unrelated"]])] if dealt else []
    for u in range(spec["unrelated"]):
        kind = dealt[u] if dealt else str(rng.choice(field["kinds"]))
        length = rng.uniform(*field.get("unrelated_seconds", (30, 120)))
        sources, what = corpus.source(kind, seconds=length + 1.0)
        length = min(length, len(sources["stage"]) / rate)
        drift = corpus.drift() if "drifting" in field else 0.0
        name = f"unrelated{u + 1}.wav"
        fact, _ = corpus.record(name, sources, 0.0, length, corpus.room(), drift, what)
        corpus.alone(name, fact)
    corpus.close()


# Sound before a short corpus's first device and after its last: the reverberation already there
# at a device's first sample and the propagation delay need it.
MARGIN = 2.0


def stretch_plan(rng, spec):
    """Clips within a stretch of the event, each overlapping an earlier one (not always the
    last) by at least the plan's overlap: phones filming parts of one scene. Returns the
    stretch's length, the clips' (start, length) and their looks."""
    field = spec["field"]
    stretch = rng.uniform(*field["stretch"])
    overlap = field["overlap"]
    spans = []
    for _ in range(int(rng.integers(spec["devices"][0], spec["devices"][1] + 1))):
        length = rng.uniform(*spec["window"])
        low, high = 0.0, stretch - length
        if spans:
            start, other = spans[int(rng.integers(len(spans)))]
            low, high = max(low, start - length + overlap), min(high, start + other - overlap)
        spans.append((rng.uniform(low, high), length))
    return stretch, spans, [None] * len(spans)


def long_and_clip_plan(rng, spec):
    """A long recording near the source and one clip somewhere inside it."""
    field = spec["field"]
    whole = rng.uniform(*field["long"])
    length = rng.uniform(*spec["window"])
    return whole, [(0.0, whole), (rng.uniform(1.0, whole - length - 1.0), length)], \
        [field["near"], None]


PLANS = {"stretch": stretch_plan, "long and clip": long_and_clip_plan}


def clips_main(args, spec):
    """Short-clip corpora (hard, clip10): each event only as long as its plan's stretch and the
    margins, so that short clips cost little to make."""
    corpus = FieldCorpus(args, spec)
    field, rng = corpus.field, corpus.rng
    plan = PLANS[field["plan"]]
    for e in range(spec["events"]):
        stretch, spans, looks = plan(rng, spec)
        sources, what = corpus.source(corpus.kinds[e], excerpt=stretch + 2 * MARGIN)
        place = corpus.room()
        names, facts, acoustic = [], [], []
        for d, ((start, length), look) in enumerate(zip(spans, looks)):
            names.append(f"e{e + 1:02d}_dev{d + 1}.wav")
            fact, begins = corpus.record(names[-1], sources, MARGIN + start, length, place,
                                         corpus.drift(), what, look)
            facts.append(fact)
            acoustic.append((begins, length))
        corpus.event(names, facts, acoustic)
    # Each unrelated clip of the same kinds as the events, from a track or speech of its own.
    kinds = list(field["kinds"]) * spec["unrelated"]
    kinds = [str(k) for k in rng.permutation(kinds[:spec["unrelated"]])]
    for u in range(spec["unrelated"]):
        length = rng.uniform(*spec["window"])
        sources, what = corpus.source(kinds[u], excerpt=length + 2 * MARGIN)
        name = f"unrelated{u + 1}.wav"
        fact, _ = corpus.record(name, sources, MARGIN, length, corpus.room(), corpus.drift(), what)
        corpus.alone(name, fact)
    corpus.close()


def unpack_music(path, folder):
    """The .ogg members of a music archive (a game's .pk3 is a zip) as files of folder."""
    try:
        with zipfile.ZipFile(path) as archive:
            for member in archive.infolist():
                name = os.path.basename(member.filename)
                if name.endswith(".ogg"):
                    with archive.open(member) as source, \
                            open(os.path.join(folder, name), "wb") as target:
                        shutil.copyfileobj(source, target)
    except (OSError, zipfile.BadZipFile) as error:
        sys.exit(f"simulate: can't read the music archive {path}: {error}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--corpus", required=True, choices=sorted(CORPORA))
    parser.add_argument("--out", required=True)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--music", help="folder of .ogg tracks or a zip archive of them "
                        f"(default {MUSIC}; for field-alt {ALT_MUSIC})")
    parser.add_argument("--babble", default=BABBLE)
    args = parser.parse_args()
    spec = CORPORA[args.corpus]
    audio = os.path.join(args.out, "audio")
    if os.path.exists(os.path.join(args.out, "truth.xml")) or (os.path.isdir(audio)
                                                                and os.listdir(audio)):
        sys.exit(f"simulate: {args.out} already holds a corpus; give an empty or new folder")
    music = args.music or spec.get("music", MUSIC)
    for what, path in (("music", music), ("speech prompts", args.babble)):
        if not os.path.exists(path):
            sys.exit(f"simulate: no {what} at {path} (scripts/bootstrap.sh accuracy installs it)")
    with tempfile.TemporaryDirectory(prefix="simulate-music-") as scratch:
        args.music = music
        if os.path.isfile(music):
            unpack_music(music, scratch)
            args.music = scratch
        if "plan" in spec.get("field", {}):
            clips_main(args, spec)
        elif "field" in spec:
            field_main(args, spec)
        else:
            classic_main(args, spec)


def classic_main(args, spec):
    rng = np.random.default_rng(args.seed)
    event_rate = 48000

    tracks = usable_tracks(args.music)
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
    facts = {}
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
            samples, notes, facts[name] = device_recording(rng, event, event_rate, start, length,
                                                           spec, clips)
            write_wav(os.path.join(audio, name), samples)
            names.append(name)
            listing.append(f"{name}\t{'+'.join(parts)}\tstart {start:.4f} s\tlength {length:.1f} s\t{notes}")
        for group in overlap_components(spans):
            earliest = min(spans[i][0] for i in group)
            truth.append("  <cluster>")
            for i in group:
                truth.append(f'    <file name="{names[i]}" offset="{spans[i][0] - earliest:.6f}"'
                             f'{attributes(facts[names[i]]) if spec.get("facts") else ""}/>')
            truth.append("  </cluster>")
    for u in range(spec["unrelated"]):
        part = tracks[used]
        used += 1
        source = decode(os.path.join(args.music, part), event_rate)
        length = min(len(source) / event_rate, rng.uniform(30, 120))
        name = f"unrelated{u + 1}.wav"
        samples, notes, facts[name] = device_recording(rng, source, event_rate, 0.0, length, spec,
                                                       clips)
        write_wav(os.path.join(audio, name), samples)
        listing.append(f"{name}\t{part}\tstart 0 s\tlength {length:.1f} s\t{notes}")
        extra = attributes(facts[name]) if spec.get("facts") else ""
        truth.append(f'  <cluster>\n    <file name="{name}" offset="0.000000"{extra}/>\n'
                     '  </cluster>')
    truth.append("</truth>")
    with open(os.path.join(args.out, "truth.xml"), "w") as out:
        out.write("\n".join(truth) + "\n")
    with open(os.path.join(args.out, "devices.tsv"), "w") as out:
        out.write("\n".join(listing) + "\n")


if __name__ == "__main__":
    main()
