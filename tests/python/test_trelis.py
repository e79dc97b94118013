"""The Python module against the program: the same clusters, offsets and evidence on the demo
event; every dtype and layout read as the same samples; the resampler against a direct
computation; refusals that name the problem; long calls that stop on Ctrl-C."""
import _thread
import glob
import json
import os
import shutil
import subprocess
import threading
import wave

import numpy as np
import pytest

import trelis

PROGRAM = os.environ.get("TRELIS_PROGRAM")
MAKE_DEMO = os.environ.get("TRELIS_MAKE_DEMO")


@pytest.fixture(scope="session")
def demo(tmp_path_factory):
    """The demo event, and the program's JSON of it in each matching mode."""
    if not (PROGRAM and MAKE_DEMO):
        pytest.skip("needs TRELIS_PROGRAM and TRELIS_MAKE_DEMO (run through ctest)")
    work = tmp_path_factory.mktemp("demo")
    event = str(work / "event")
    subprocess.run([MAKE_DEMO, event], check=True, capture_output=True)
    reports = {}
    for match in ("spec", "verified"):
        out = str(work / f"{match}.json")
        subprocess.run([PROGRAM, "-f", event, "-match", match, "-json", out], check=True,
                       capture_output=True)
        with open(out) as f:
            reports[match] = json.load(f)
    return event, reports


def read_wave(path):
    with wave.open(path) as w:
        assert w.getsampwidth() == 2 and w.getnchannels() == 1
        return np.frombuffer(w.readframes(w.getnframes()), dtype="<i2"), w.getframerate()


def canonical_clusters(clusters):
    """Clusters as sets of (name, offset in microseconds): their order means nothing."""
    return sorted(sorted((name, round(offset * 1e6)) for name, offset in c) for c in clusters)


@pytest.mark.parametrize("match", ["spec", "verified"])
def test_cluster_of_arrays_equals_the_programs_json(demo, match):
    event, reports = demo
    report = reports[match]
    paths = sorted(glob.glob(os.path.join(event, "*.wav")))
    prints = []
    for path in paths:
        samples, rate = read_wave(path)
        prints.append(trelis.fingerprint(samples, rate, name=os.path.basename(path)[:-4]))
    found = trelis.cluster(prints, match=match)
    # The JSON writes offsets to the microsecond.
    ours = [[(m["name"], round(m["offset"], 6)) for m in c] for c in found.clusters]
    theirs = [[(m["name"], m["offset"]) for m in c["members"]] for c in report["clusters"]]
    assert canonical_clusters(ours) == canonical_clusters(theirs)
    assert len(report["clusters"]) == 2  # the four cameras, and the street apart
    if match == "verified":
        json_pairs = [p for c in report["clusters"] for p in c["pairs"]]
        assert [(p["first"] + 1, p["second"] + 1, p["votes"], round(p["offset"], 6))
                for p in found.pairs] == \
            [(p["first"], p["second"], p["votes"], p["offset"]) for p in json_pairs]


@pytest.mark.parametrize("match", ["spec", "verified"])
def test_sync_equals_the_programs_json(demo, match):
    event, reports = demo
    stages = []
    result = trelis.sync(event, media="wav", match=match,
                         progress=lambda stage, fraction: stages.append((stage, fraction)))
    assert result.to_dict() == reports[match]
    assert ("extracting", 1.0) in stages and ("matching", 1.0) in stages
    assert "REFINED" in result.log  # what the program prints is kept, not printed


def test_sync_of_a_list_decodes_media_and_names_files_within_their_folder(demo):
    event, reports = demo
    paths = [os.path.join(event, f"cam{k}.wav") for k in (4, 2, 3, 1)]
    result = trelis.sync(paths)  # media="all": through the media module
    assert result.settings["media"] == "all"
    assert [f["name"] for f in result.files] == ["cam4", "cam2", "cam3", "cam1"]
    ours = [[(m["name"], m["offset"]) for m in c["members"]] for c in result.clusters]
    theirs = [[(m["name"], m["offset"]) for m in c["members"] if m["name"] != "street"]
              for c in reports["spec"]["clusters"]]
    assert canonical_clusters(ours) == canonical_clusters([c for c in theirs if c])


def test_sync_reports_a_bad_file_in_the_result(demo, tmp_path):
    event, _ = demo
    folder = tmp_path / "event"
    shutil.copytree(event, folder)
    (folder / "broken.wav").write_bytes(b"RIFF\x04\x00\x00\x00WAVEjunk")
    result = trelis.sync(str(folder))
    broken = result.by_name()["broken"]
    assert broken["status"] == "error" and broken["message"]
    assert sum(len(c["members"]) for c in result.clusters) == 5  # the others went on
    with pytest.raises(ValueError, match="cannot read the folder"):
        trelis.sync(str(tmp_path / "missing"))


def stops_on_ctrl_c(call):
    """Ctrl-C 0.3 s into `call` raises KeyboardInterrupt out of it."""
    timer = threading.Timer(0.3, _thread.interrupt_main)
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            call()
    finally:
        timer.cancel()


def test_a_long_sync_stops_on_ctrl_c(demo, tmp_path):
    event, _ = demo
    for k in range(300):
        os.symlink(os.path.join(event, f"cam{k % 4 + 1}.wav"), tmp_path / f"take{k:03}.wav")
    stops_on_ctrl_c(lambda: trelis.sync(str(tmp_path), media="wav", j=1))
    result = trelis.sync(event, media="wav")  # the streams work again, nothing is printed
    assert len(result.files) == 5


def test_verified_pairs_read_the_arrays_again_at_other_rates(demo):
    """Arrays at 16 kHz are resampled for the extraction and for verification: the cameras still
    link, at the offsets the program measures at 8 kHz, to within a few samples."""
    event, reports = demo
    names = ["cam1", "cam2", "cam3", "cam4"]
    prints = []
    for name in names:
        samples, rate = read_wave(os.path.join(event, name + ".wav"))
        up = np.repeat(samples.astype(np.float64) / 32768.0, 2)  # 16 kHz, held samples
        prints.append(trelis.fingerprint(up, 2 * rate, name=name))
    found = trelis.cluster(prints, match="verified")
    assert len(found.clusters) == 1
    ours = {m["name"]: m["offset"] for m in found.clusters[0]}
    theirs = {m["name"]: m["offset"] for c in reports["verified"]["clusters"]
              for m in c["members"]}
    for name in names:
        assert ours[name] == pytest.approx(theirs[name], abs=5e-4)


def quantized_signal():
    """Two seconds of 16-bit values, chirp and noise, and the same as exact floats."""
    rng = np.random.default_rng(7)
    t = np.arange(16000) / 8000.0
    x = 0.4 * np.sin(2 * np.pi * (300 * t + 400 * t * t)) + 0.05 * rng.standard_normal(t.size)
    ints = np.round(x * 32767).astype(np.int16)
    return ints, ints.astype(np.float32) / np.float32(32768)


def layouts():
    ints, _ = quantized_signal()
    big = ints.astype(np.int64) * 65536 * 65536 * 65536  # the same values in 64 bits
    return {
        "int16": ints,
        "int8": None,  # fewer bits: compared with their own floats below
        "uint8": None,
        "int32": ints.astype(np.int32) * 65536,
        "int64": big,
        "uint16": (ints.astype(np.int32) + 32768).astype(np.uint16),
        "uint32": (ints.astype(np.int64) + 32768).astype(np.uint32) * 65536,
        "uint64": (ints.astype(np.int64) + 32768).astype(np.uint64) * np.uint64(2**48),
        "float64": ints.astype(np.float64) / 32768,
        "float16": None,
        "float32 big-endian": (ints.astype(np.float32) / 32768).astype(">f4"),
        "float32 every other": np.repeat(ints.astype(np.float32) / 32768, 2)[::2],
        "stereo frames x channels": np.stack([ints, ints], axis=1),
        "stereo channels x frames": np.stack([ints, ints], axis=0),
        "stereo Fortran order": np.asfortranarray(np.stack([ints, ints], axis=1)),
    }


@pytest.mark.parametrize("layout", sorted(layouts()))
def test_every_dtype_and_layout_reads_the_same_samples(layout):
    ints, floats = quantized_signal()
    given = layouts()[layout]
    if layout in ("int8", "uint8"):
        small = (ints // 256).astype(np.int8)
        floats = small.astype(np.float32) / 128
        given = small if layout == "int8" else (small.astype(np.int16) + 128).astype(np.uint8)
    if layout == "float16":
        given = floats.astype(np.float16)
        floats = given.astype(np.float32)
    expected = trelis.fingerprint(floats, 8000).landmarks
    assert len(expected) > 100
    np.testing.assert_array_equal(trelis.fingerprint(given, 8000).landmarks, expected)


def test_mixes_channels_with_equal_weights():
    _, floats = quantized_signal()
    rng = np.random.default_rng(3)
    other = (0.3 * rng.standard_normal(floats.size)).astype(np.float32)
    stereo = np.stack([floats, other], axis=1).astype(np.float64)
    mixed = ((floats.astype(np.float64) + other) * 0.5).astype(np.float32)
    np.testing.assert_array_equal(trelis.fingerprint(stereo, 8000).landmarks,
                                  trelis.fingerprint(mixed, 8000).landmarks)


def direct_resample(x, in_rate, out_rate):
    """The resampler's definition, one output at a time in double precision."""
    slow = in_rate / out_rate if in_rate > out_rate else 1.0
    cutoff, half = 0.95 * 0.5 / slow, 24 * slow
    count = -(-len(x) * out_rate // in_rate)
    out = np.empty(count)
    taps = np.arange(len(x))
    for n in range(count):
        d = n * in_rate / out_rate - taps
        r = d / half
        inside = np.abs(r) < 1
        w = np.zeros(len(x))
        w[inside] = (2 * cutoff * np.sinc(2 * cutoff * d[inside]) *
                     np.i0(7.857 * np.sqrt(1 - r[inside] ** 2)) / np.i0(7.857))
        out[n] = np.dot(w, x)
    return out


@pytest.mark.parametrize("rates", [(44100, 8000), (8000, 48000), (96001, 8000)])
def test_resampler_matches_its_direct_computation(rates):
    rng = np.random.default_rng(5)
    x = rng.uniform(-1, 1, 3000).astype(np.float32)
    tabled = trelis._trelis._resample(x, *rates, tabled=True)
    computed = trelis._trelis._resample(x, *rates, tabled=False)
    np.testing.assert_array_equal(tabled, computed)
    np.testing.assert_allclose(tabled, direct_resample(x.astype(np.float64), *rates), atol=1e-5)


def test_resampler_keeps_the_band_and_removes_what_folds_into_it():
    t = np.arange(44100 * 2) / 44100
    kept = trelis._trelis._resample(np.sin(2 * np.pi * 1000 * t).astype(np.float32), 44100, 8000)
    t8 = np.arange(len(kept)) / 8000
    middle = slice(800, len(kept) - 800)  # away from the edges, where silence is mixed in
    assert np.max(np.abs(kept - np.sin(2 * np.pi * 1000 * t8))[middle]) < 1e-3
    folded = trelis._trelis._resample(np.sin(2 * np.pi * 5000 * t).astype(np.float32), 44100, 8000)
    assert np.max(np.abs(folded[middle])) < 1e-3  # 5 kHz would fold to 3 kHz


@pytest.mark.parametrize("call, words", [
    (lambda: trelis.fingerprint(np.zeros(8000), 8000, fftsize=1000), "fftsize=1000"),
    (lambda: trelis.fingerprint(np.zeros(8000), 8000, hopsize=1024), "hopsize=1024"),
    (lambda: trelis.fingerprint(np.zeros(8000), 8000, samplerate=2000), "samplerate=2000"),
    (lambda: trelis.fingerprint(np.zeros(8000), 8000, peakwidth=float("nan")), "peakwidth=nan"),
    (lambda: trelis.fingerprint(np.zeros(8000), 8000, timerange=True), "timerange=True"),
    (lambda: trelis.fingerprint(np.zeros(8000), 8000, minpercentmatch=0.1), "minpercentmatch"),
    (lambda: trelis.fingerprint(np.zeros(8000), 8000, fftsise=512), "unknown setting fftsise"),
    (lambda: trelis.fingerprint(np.zeros((8000, 3, 2)), 8000), "3 dimensions"),
    (lambda: trelis.fingerprint(np.zeros((3, 3)), 8000), "shape (3, 3)"),
    (lambda: trelis.fingerprint(np.zeros(0), 8000), "no samples"),
    (lambda: trelis.fingerprint(np.zeros(8000, dtype=complex), 8000), "complex"),
    (lambda: trelis.fingerprint(np.zeros(8000, dtype=bool), 8000), "bool"),
    (lambda: trelis.fingerprint(np.full(8000, np.nan), 8000), "not finite"),
    (lambda: trelis.fingerprint(np.zeros(8000), 0), "rate"),
    (lambda: trelis.fingerprint(np.zeros(8000), 44100.5), "rate"),
    (lambda: trelis.cluster([], match="verified"), "no fingerprints"),
    (lambda: trelis.cluster([trelis.fingerprint(np.zeros(8000), 8000)], match="best"),
     "match='best'"),
    (lambda: trelis.cluster([trelis.fingerprint(np.zeros(8000), 8000)], j=0), "j=0"),
    (lambda: trelis.cluster([trelis.fingerprint(np.zeros(8000), 8000),
                             trelis.fingerprint(np.zeros(8000), 8000, fftsize=1024)]),
     "fingerprint 1 was made with other extraction settings"),
    (lambda: trelis.align(np.zeros(8000), np.zeros(8000), approx_offset=0.0), "rate=..."),
    (lambda: trelis.align(np.zeros(8000), np.zeros(8000), approx_offset=0.0, rate=8000,
                          maxdrift=5000), "maxdrift=5000"),
])
def test_bad_input_raises_value_error_naming_it(call, words):
    with pytest.raises(ValueError) as raised:
        call()
    assert words in str(raised.value)


def test_align_measures_offset_and_drift_of_two_arrays():
    rng = np.random.default_rng(11)
    source = rng.standard_normal(8000 * 60)
    # b starts 7.25 s into a, on a clock 40 ppm fast: it holds more samples per second.
    times = 7.25 + np.arange(8000 * 40) / 8000 * (1 - 40e-6)
    b = np.interp(times, np.arange(source.size) / 8000, source)
    found = trelis.align(source.astype(np.float32), b.astype(np.float32), approx_offset=7.2,
                         rate=8000)
    assert found["measured"]
    assert found["offset"] == pytest.approx(7.25, abs=2e-5)
    assert found["driftPpm"] == pytest.approx(40, abs=3)


def test_a_long_fingerprint_stops_on_ctrl_c_and_the_next_call_works():
    # A rate coprime with the extraction rate and far above it is resampled without a table:
    # about a minute of work.
    long = np.random.default_rng(2).uniform(-0.5, 0.5, 384001 * 10).astype(np.float32)
    stops_on_ctrl_c(lambda: trelis.fingerprint(long, 384001))
    _, floats = quantized_signal()
    assert len(trelis.fingerprint(floats, 8000)) > 100


def test_progress_runs_with_the_gil_and_its_exception_stops_the_run():
    _, floats = quantized_signal()
    prints = [trelis.fingerprint(np.roll(floats, 800 * k), 8000) for k in range(3)]
    seen = []

    def progress(stage, fraction):
        seen.append((stage, fraction))
        if stage == "clustering":
            raise RuntimeError("stop here")

    with pytest.raises(RuntimeError, match="stop here"):
        trelis.cluster(prints, progress=progress)
    assert seen[0] == ("matching", 0.0) and seen[-1][0] == "clustering"
    assert len(trelis.cluster(prints).clusters) >= 1
