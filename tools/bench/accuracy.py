#!/usr/bin/python3
"""Runs Trelis (and, with --baseline, a naive GCC-PHAT clustering) on simulated corpora and prints
one table: files, hours of audio, pairwise F1, median and 95th-percentile offset error
(frame-accurate and refined), wall time, times real time and peak memory.

Usage: accuracy.py --trelis build/bin/Trelis CORPUS_DIR... [--baseline] [--options "..."]
Each corpus folder holds audio/ and truth.xml as tools/simulate/simulate.py writes them. Trelis's
scores are its own evaluation, read from its JSON result (`-t truth.xml -json`); the baseline is
scored here by the same rules (pairs of files in both, percentiles by nearest rank).
"""
import argparse
import json
import os
import resource
import subprocess
import sys
import tempfile
import time
import wave
import xml.etree.ElementTree as ET

import numpy as np


def read_truth(path):
    truth = {}
    for index, cluster in enumerate(ET.parse(path).getroot()):
        for f in cluster:
            truth[os.path.splitext(f.get("name"))[0]] = (index, float(f.get("offset", "nan")))
    return truth


def nearest_rank(values, q):
    """The value at fraction q of the sorted values, by nearest rank, as Trelis computes it."""
    ordered = sorted(values)
    return ordered[min(len(ordered), max(int(np.ceil(q * len(ordered))), 1)) - 1]


def score(truth, clusters, offsets):
    """Pairwise F1 and the median and 95th-percentile absolute offset errors (ms) of pairs together
    in both, for each list of offsets: (f1, [(median, p95) per list])."""
    names = sorted(set(truth) & set(clusters))
    tp = fp = fn = 0
    errors = []
    for i, a in enumerate(names):
        for b in names[i + 1:]:
            together, placed = truth[a][0] == truth[b][0], clusters[a] == clusters[b]
            tp += together and placed
            fp += placed and not together
            fn += together and not placed
            if together and placed:
                want = truth[a][1] - truth[b][1]
                errors.append([1000 * abs(o[a] - o[b] - want) for o in offsets])
    precision = tp / (tp + fp) if tp + fp else 1.0
    recall = tp / (tp + fn) if tp + fn else 1.0
    f1 = 2 * precision * recall / (precision + recall) if precision + recall else 0.0
    columns = list(zip(*errors)) if errors else [[] for _ in offsets]
    return f1, [(nearest_rank(c, 0.5), nearest_rank(c, 0.95)) if c else (float("nan"),) * 2
                for c in columns]


def hours(folder):
    total = 0.0
    for name in os.listdir(folder):
        if name.endswith(".wav"):
            with wave.open(os.path.join(folder, name)) as w:
                total += w.getnframes() / w.getframerate()
    return total / 3600


def run_trelis(trelis, corpus, options=()):
    """Trelis's own evaluation of one run: (f1, [(median, p95) frame-accurate, refined]), wall
    seconds, peak MiB."""
    audio, truth_path = os.path.join(corpus, "audio"), os.path.join(corpus, "truth.xml")
    with tempfile.TemporaryDirectory() as work:
        result = os.path.join(work, "result.json")
        start = time.monotonic()
        process = subprocess.run(["/usr/bin/time", "-f", "%M", trelis, "-f", audio, "-t",
                                  truth_path, "-json", result, *options],
                                 capture_output=True, text=True)
        wall = time.monotonic() - start
        if process.returncode != 0:
            sys.exit(f"Trelis failed on {corpus}: {process.stderr}")
        peak_mib = int(process.stderr.strip().splitlines()[-1]) / 1024
        with open(result) as f:
            evaluation = json.load(f)["evaluation"]
    errors = evaluation["offsetErrorMs"]
    nan = float("nan")
    spread = [(errors[k]["median"] if errors[k]["median"] is not None else nan,
               errors[k]["p95"] if errors[k]["p95"] is not None else nan)
              for k in ("frameAccurate", "refined")]
    return (evaluation["f1"], spread), wall, peak_mib


def load(path):
    with wave.open(path) as w:
        data = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(np.float32)
    return data / 32768.0


def run_baseline(corpus, threshold=12.0):
    """What a user might write: GCC-PHAT of every pair of whole files, a pair accepted when its
    peak stands threshold times above the correlation's RMS, connected components, offsets along
    a maximum spanning tree of the peak heights."""
    audio = os.path.join(corpus, "audio")
    start = time.monotonic()
    names = sorted(os.path.splitext(n)[0] for n in os.listdir(audio) if n.endswith(".wav"))
    signals = [load(os.path.join(audio, n + ".wav")) for n in names]
    longest = max(len(s) for s in signals)
    size = 1 << int(np.ceil(np.log2(2 * longest)))
    spectra = [np.fft.rfft(s, size).astype(np.complex64) for s in signals]
    links = []
    for i in range(len(names)):
        for j in range(i + 1, len(names)):
            cross = spectra[i] * np.conj(spectra[j])
            cross /= np.abs(cross) + 1e-12
            corr = np.fft.irfft(cross, size)
            peak = int(np.argmax(corr))
            strength = corr[peak] / (np.sqrt(np.mean(corr ** 2)) + 1e-12)
            lag = peak if peak < size // 2 else peak - size  # samples j starts after i
            if strength > threshold:
                links.append((strength, i, j, lag / 8000.0))
    # Kruskal on the strongest links; offsets by walking the tree.
    parent = list(range(len(names)))

    def find(x):
        while parent[x] != x:
            parent[x] = parent[parent[x]]
            x = parent[x]
        return x

    tree = {i: [] for i in range(len(names))}
    for strength, i, j, lag in sorted(links, reverse=True):
        if find(i) != find(j):
            parent[find(i)] = find(j)
            tree[i].append((j, lag))
            tree[j].append((i, -lag))
    offset = {}
    for root in range(len(names)):
        if root in offset:
            continue
        offset[root] = 0.0
        stack = [root]
        while stack:
            x = stack.pop()
            for y, lag in tree[x]:
                if y not in offset:
                    offset[y] = offset[x] + lag
                    stack.append(y)
    clusters = {names[i]: find(i) for i in range(len(names))}
    earliest = {}
    for i in range(len(names)):
        earliest[find(i)] = min(earliest.get(find(i), 1e18), offset[i])
    offsets = {names[i]: offset[i] - earliest[find(i)] for i in range(len(names))}
    wall = time.monotonic() - start
    peak_mib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    truth = read_truth(os.path.join(corpus, "truth.xml"))
    return score(truth, clusters, [offsets, offsets]), wall, peak_mib


def row(label, corpus, result):
    (f1, ((frame_median, frame_p95), (refined_median, refined_p95))), wall, peak = result
    audio_hours = hours(os.path.join(corpus, "audio"))
    files = len([n for n in os.listdir(os.path.join(corpus, "audio")) if n.endswith(".wav")])
    return (f"| {label} | {os.path.basename(corpus.rstrip('/'))} | {files} | {audio_hours:.2f} | "
            f"{f1:.3f} | {frame_median:.1f} / {frame_p95:.1f} | "
            f"{refined_median:.2f} / {refined_p95:.1f} | "
            f"{wall:.1f} | {audio_hours * 3600 / wall:.0f} | {peak:.0f} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--trelis", required=True)
    parser.add_argument("--baseline", action="store_true")
    parser.add_argument("--options", default="", help="extra Trelis options, e.g. '-accepttreshold 15'")
    parser.add_argument("corpora", nargs="+")
    args = parser.parse_args()
    print("| system | corpus | files | hours | pairwise F1 | frame-accurate error ms, median / p95 "
          "| refined error ms, median / p95 | wall s | x real time | peak MiB |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for corpus in args.corpora:
        options = args.options.split()
        label = " ".join(["Trelis"] + options)
        print(row(label, corpus, run_trelis(args.trelis, corpus, options)), flush=True)
        if args.baseline:
            print(row("GCC-PHAT baseline", corpus, run_baseline(corpus)), flush=True)


if __name__ == "__main__":
    main()
