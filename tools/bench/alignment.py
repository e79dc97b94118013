#!/usr/bin/python3
"""Judges Trelis's sample-accurate alignment on simulated corpora and prints one markdown table:
pairwise F1, refined offset error of near and far pairs, members refined, drift error, REFINED
lines that claim a measurement the JSON says was not made, and what alignment costs in time.

Usage: alignment.py --trelis build/bin/Trelis --set tuning --work build/bench-alignment CORPUS...
       alignment.py --self-test
Each corpus folder holds audio/ and truth.xml as tools/simulate/simulate.py writes them. Truth
offsets are acoustic starts in event time; a <file> may carry drift (ppm), drr (dB) and distance
(m). Trelis runs as `Trelis -f audio -t truth.xml -json <file>`, and again with `-refine off`.
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import wave
import xml.etree.ElementTree as ET

import numpy as np

PLACED = ("refined", "reference")
# Members refined against their own group only: measured against each other, on the group's clock.
GROUPED = "grouped"
# Drift is judged where a member shares this much sound with a measured partner.
LONG_SECONDS = 300.0


def read_truth(path):
    """name -> dict(cluster, offset s, drift as a fraction, drr dB or None)."""
    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError) as error:
        sys.exit(f"alignment: can't read the truth {path}: {error}")
    truth = {}
    for index, cluster in enumerate(root):
        for f in cluster:
            drr = f.get("drr")
            truth[os.path.splitext(f.get("name"))[0]] = dict(
                cluster=index, offset=float(f.get("offset", "nan")),
                drift=float(f.get("drift", "0")) * 1e-6,
                drr=None if drr is None else float(drr))
    return truth


def durations(folder):
    result = {}
    for name in os.listdir(folder):
        if name.endswith(".wav"):
            try:
                with wave.open(os.path.join(folder, name)) as w:
                    result[os.path.splitext(name)[0]] = w.getnframes() / w.getframerate()
            except (OSError, wave.Error) as error:
                sys.exit(f"alignment: can't read {os.path.join(folder, name)}: {error}")
    return result


def read_result(result, source="the JSON result"):
    """Clusters of the JSON result as name -> dict(cluster, reference name, status, offset,
    refined, drift ppm or None); files in no cluster are clusters of their own."""
    names = {f["id"]: f["name"] for f in result.get("files", [])}
    members = {}
    for index, cluster in enumerate(result.get("clusters", [])):
        for key in ("reference", "members"):
            if key not in cluster:
                sys.exit(f"alignment: {source} has clusters without '{key}': this Trelis "
                         "predates the alignment report")
        reference = names.get(cluster["reference"])
        for m in cluster["members"]:
            # A member refined only within its group is on its group's clock.
            clock = names.get(m["groupReference"]) if "groupReference" in m else reference
            members[m["name"]] = dict(cluster=index, reference=clock,
                                      status=m.get("status", "unrefined"),
                                      offset=float(m["offset"]),
                                      refined=float(m.get("refinedOffset", m["offset"])),
                                      drift=m.get("driftPpm"))
    for number, name in names.items():
        members.setdefault(name, dict(cluster=f"alone {number}", reference=name,
                                      status="unrefined", offset=0.0, refined=0.0, drift=None))
    return members


def pair_scores(truth, placed):
    """Pairwise counts over files in both: a pair is positive when the truth has both files in one
    cluster. Returns dict(tp, fp, fn, precision, recall, f1)."""
    names = sorted(set(truth) & set(placed))
    tp = fp = fn = 0
    for i, a in enumerate(names):
        for b in names[i + 1:]:
            together = truth[a]["cluster"] == truth[b]["cluster"]
            same = placed[a]["cluster"] == placed[b]["cluster"]
            tp += together and same
            fp += same and not together
            fn += together and not same
    precision = tp / (tp + fp) if tp + fp else 1.0
    recall = tp / (tp + fn) if tp + fn else 1.0
    f1 = 2 * precision * recall / (precision + recall) if precision + recall else 0.0
    return dict(tp=tp, fp=fp, fn=fn, precision=precision, recall=recall, f1=f1)


def pairwise_f1(truth, placed):
    return pair_scores(truth, placed)["f1"]


def drift_of(truth, name):
    return truth[name]["drift"] if name in truth else 0.0


def offset_errors(truth, placed):
    """Errors in ms of pairs placed together that are together in the truth, on the clock of
    their cluster's reference: near (both drr >= 0 dB, or no drr known), far (either below), and
    pairs with an unrefined member (frame-accurate offsets)."""
    near, far, unrefined = [], [], []
    names = sorted(set(truth) & set(placed))
    for i, a in enumerate(names):
        for b in names[i + 1:]:
            ta, tb, pa, pb = truth[a], truth[b], placed[a], placed[b]
            if ta["cluster"] != tb["cluster"] or pa["cluster"] != pb["cluster"]:
                continue
            want = (ta["offset"] - tb["offset"]) * (1.0 + drift_of(truth, pa["reference"]))
            measured = pa["status"] in PLACED and pb["status"] in PLACED
            grouped = (pa["status"] == pb["status"] == GROUPED
                       and pa["reference"] == pb["reference"])
            if measured or grouped:
                error = 1000 * abs(pa["refined"] - pb["refined"] - want)
                low = [d for d in (ta["drr"], tb["drr"]) if d is not None and d < 0.0]
                (far if low else near).append(error)
            else:
                unrefined.append(1000 * abs(pa["offset"] - pb["offset"] - want))
    return near, far, unrefined


def drift_errors(truth, placed, lengths):
    """Absolute drift errors in ppm of refined members with a measured drift: those at least
    LONG_SECONDS long that share LONG_SECONDS with the reference or another refined member (from
    the true offsets and lengths), and all of them."""
    long_errors, all_errors = [], []
    for name, p in placed.items():
        if p["status"] != "refined" or p["drift"] is None or name not in truth:
            continue
        reference = p["reference"]
        want = ((1.0 + drift_of(truth, name)) / (1.0 + drift_of(truth, reference)) - 1.0) * 1e6
        error = abs(float(p["drift"]) - want)
        all_errors.append(error)
        mine = truth[name]
        if lengths.get(name, 0.0) < LONG_SECONDS:
            continue
        start, end = mine["offset"], mine["offset"] + lengths[name]
        for other, q in placed.items():
            if (other == name or other not in truth or q["cluster"] != p["cluster"]
                    or truth[other]["cluster"] != mine["cluster"]
                    or not (other == reference or q["status"] == "refined")):
                continue
            theirs = truth[other]["offset"]
            if min(end, theirs + lengths.get(other, 0.0)) - max(start, theirs) >= LONG_SECONDS:
                long_errors.append(error)
                break
    return long_errors, all_errors


def text_blocks(text):
    """Clusters of `name: X offset:Y` lines after each CLUSTER line."""
    result, current = [], None
    for line in text.splitlines():
        if line == "CLUSTER":
            current = []
            result.append(current)
        m = re.match(r"name: (.*) offset:(\S+)$", line)
        if m and current is not None:
            current.append((m.group(1), float(m.group(2))))
    return result


def unmeasured_refined(stdout, placed):
    """Members the JSON calls unrefined whose REFINED line differs from their frame-accurate
    offset: a refined value printed where none was measured."""
    if "REFINED" not in stdout:
        return None
    lines = {}
    for line in stdout.split("REFINED", 1)[1].split("EVALUATION")[0].splitlines():
        m = re.match(r"name: (.*) offset:(\S+)$", line)
        if m:
            lines[os.path.splitext(m.group(1))[0]] = float(m.group(2))
    # An unrefined member keeps its frame-accurate offset against its cluster's reference (the
    # earliest member at 0 may move the whole cluster): the frame offsets as the JSON gives them
    # (microseconds), the REFINED lines with six decimals.
    def unmeasured(name, p):
        reference = p["reference"]
        if name not in lines or reference not in lines or reference not in placed:
            return False
        printed = lines[name] - lines[reference]
        frame = p["offset"] - placed[reference]["offset"]
        return abs(printed - frame) > 3e-6

    return sum(1 for name, p in placed.items()
               if p["status"] == "unrefined" and unmeasured(name, p))


def run(trelis, folder, work, options=(), truth=None, peak=None):
    """One run with a JSON result: (seconds, stdout, parsed JSON). With a list as `peak`, the
    run's peak resident memory in MiB is appended to it (measured by /usr/bin/time)."""
    target = tempfile.mkdtemp(dir=work)
    path = os.path.join(target, "result.json")
    command = [trelis, "-f", folder, "-json", path, *options]
    if peak is not None:
        command = ["/usr/bin/time", "-f", "%M"] + command
    if truth:
        command += ["-t", truth]
    try:
        start = time.monotonic()
        process = subprocess.run(command, capture_output=True, text=True)
        wall = time.monotonic() - start
        if process.returncode != 0:
            sys.exit(f"alignment: {' '.join(command)} failed ({process.returncode}):\n"
                     f"{process.stderr.strip()}")
        if peak is not None:
            peak.append(int(process.stderr.strip().splitlines()[-1]) / 1024)
        try:
            with open(path) as f:
                result = json.load(f)
        except (OSError, ValueError) as error:
            sys.exit(f"alignment: can't read the JSON result {path}: {error}")
    finally:
        shutil.rmtree(target)
    return wall, process.stdout, result


def pair_change(first, second, names, truth):
    """How far two results place members of `names` apart differently (ms), each result's pair
    offsets divided by (1 + the true drift of its reference) so that both are in event time:
    the largest change over pairs placed together in both, the number of such pairs, and the
    largest change of a member against the first result's reference."""
    largest = against_reference = 0.0
    count = 0
    names = sorted(n for n in names if n in first and n in second
                   and first[n]["status"] in PLACED and second[n]["status"] in PLACED)
    for i, a in enumerate(names):
        for b in names[i + 1:]:
            if (first[a]["cluster"] != first[b]["cluster"]
                    or second[a]["cluster"] != second[b]["cluster"]):
                continue
            was = (first[a]["refined"] - first[b]["refined"]) / (
                1.0 + drift_of(truth, first[a]["reference"]))
            now = (second[a]["refined"] - second[b]["refined"]) / (
                1.0 + drift_of(truth, second[a]["reference"]))
            change = 1000 * abs(was - now)
            largest, count = max(largest, change), count + 1
            if first[a]["reference"] in (a, b):
                against_reference = max(against_reference, change)
    return largest, count, against_reference


def spread(values, digits):
    """median / p95 / max (n), or a dash when there are none."""
    if not values:
        return "- (0)"
    v = np.array(values)
    return (f"{np.median(v):.{digits}f} / {np.percentile(v, 95):.{digits}f} / "
            f"{np.max(v):.{digits}f} ({len(v)})")


def median_max(values, digits):
    if not values:
        return "- (0)"
    return f"{np.median(values):.{digits}f} / {np.max(values):.{digits}f} ({len(values)})"


HEADER = ("| corpus | set | files | hours | pairwise F1 | refined error ms, near pairs: median / "
          "p95 / max (pairs) | refined error ms, far pairs | frame-accurate error ms of pairs "
          "with an unrefined member: median / p95 / max (pairs) | members refined or reference "
          "/ in clusters of 2+ | drift error ppm, "
          f"members >= {LONG_SECONDS / 60:.0f} min sharing {LONG_SECONDS / 60:.0f} min: median / "
          "max (members) | drift error ppm, all refined members | unmeasured REFINED values | "
          "wall s | wall s, -refine off | ratio |")


def corpus_row(trelis, corpus, label, work):
    audio, truth_path = os.path.join(corpus, "audio"), os.path.join(corpus, "truth.xml")
    truth = read_truth(truth_path)
    lengths = durations(audio)
    wall, stdout, result = run(trelis, audio, work, truth=truth_path)
    placed = read_result(result, f"the JSON result on {corpus}")
    wall_off, _, _ = run(trelis, audio, work, ["-refine", "off"], truth=truth_path)
    near, far, unrefined = offset_errors(truth, placed)
    long_drift, all_drift = drift_errors(truth, placed, lengths)
    sizes = {}
    for p in placed.values():
        sizes[p["cluster"]] = sizes.get(p["cluster"], 0) + 1
    grouped = [p for p in placed.values() if sizes[p["cluster"]] >= 2]
    refined = sum(1 for p in grouped if p["status"] in PLACED)
    unmeasured = unmeasured_refined(stdout, placed)
    name = os.path.basename(corpus.rstrip("/"))
    row = (f"| {name} | {label} | {len(lengths)} | {sum(lengths.values()) / 3600:.2f} | "
           f"{pairwise_f1(truth, placed):.3f} | {spread(near, 2)} | {spread(far, 2)} | "
           f"{spread(unrefined, 1)} | {refined} / {len(grouped)} | {median_max(long_drift, 1)} | "
           f"{median_max(all_drift, 1)} | {'-' if unmeasured is None else unmeasured} | "
           f"{wall:.1f} | {wall_off:.1f} | {wall / wall_off:.2f} |")
    return row, placed, truth


def leave_out(trelis, corpus, label, work, placed, truth):
    """The day corpus again without its drifting devices: how far the others' offsets move."""
    drifting = sorted(n for n, t in truth.items() if t["drift"] != 0.0)
    if not drifting:
        return None
    audio = os.path.join(corpus, "audio")
    folder = tempfile.mkdtemp(dir=work, prefix="without-drifting-")
    for name in sorted(os.listdir(audio)):
        if name.endswith(".wav") and os.path.splitext(name)[0] not in drifting:
            os.symlink(os.path.abspath(os.path.join(audio, name)), os.path.join(folder, name))
    _, _, result = run(trelis, folder, work)
    shutil.rmtree(folder)
    without = read_result(result, f"the JSON result on {corpus} without {', '.join(drifting)}")
    others = set(placed) - set(drifting)
    largest, pairs, against_reference = pair_change(placed, without, others, truth)

    def references(result):
        return ", ".join(sorted({p["reference"] for n, p in result.items()
                                 if n in others and p["status"] in PLACED and p["reference"]}))

    drifts = ", ".join(f"{truth[n]['drift'] * 1e6:+.1f}" for n in drifting)
    return (f"| {os.path.basename(corpus.rstrip('/'))} | {label} | {', '.join(drifting)} "
            f"({drifts} ppm) | {references(placed)} | {references(without)} | "
            f"{against_reference:.2f} | {largest:.2f} | {pairs} |")


def self_test():
    """Scores of a hand-made result against a hand-made truth, worked out by hand."""
    truth = {
        "a": dict(cluster=0, offset=0.0, drift=100e-6, drr=5.0),
        "b": dict(cluster=0, offset=100.0, drift=0.0, drr=2.0),
        "c": dict(cluster=0, offset=50.0, drift=0.0, drr=-3.0),
        "d": dict(cluster=0, offset=10.0, drift=-50e-6, drr=1.0),
        "x": dict(cluster=1, offset=0.0, drift=0.0, drr=99.0),
    }
    result = {"files": [{"id": i + 1, "name": n} for i, n in enumerate("abcdx")],
              "clusters": [{"reference": 1, "members": [
                  {"id": 1, "name": "a", "offset": 0.0, "refinedOffset": 0.0,
                   "status": "reference", "driftPpm": None},
                  # b: true 100 s after a on a's clock (100 ppm fast): 100.01 s; 0.5 ms off.
                  {"id": 2, "name": "b", "offset": 100.02, "refinedOffset": 100.0105,
                   "status": "refined", "driftPpm": -99.0},
                  # c: far; true 50.005 s; 2 ms off.
                  {"id": 3, "name": "c", "offset": 50.0, "refinedOffset": 50.007,
                   "status": "refined", "driftPpm": -90.0},
                  # d: unrefined; frame offset 10.033 against a true 10.001 s.
                  {"id": 4, "name": "d", "offset": 10.033, "refinedOffset": 10.033,
                   "status": "unrefined", "driftPpm": None},
                  {"id": 5, "name": "x", "offset": 3.0, "refinedOffset": 3.0,
                   "status": "unrefined", "driftPpm": None}]}],
              "unmatched": []}
    placed = read_result(result)
    lengths = {"a": 400.0, "b": 400.0, "c": 100.0, "d": 30.0, "x": 60.0}
    checks = []
    # Pairs: 6 true pairs among a-d, all placed; x is placed with them: 4 false pairs.
    precision, recall = 6 / 10, 1.0
    checks.append(("F1", pairwise_f1(truth, placed), 2 * precision * recall / (precision + recall)))
    near, far, unrefined = offset_errors(truth, placed)
    checks.append(("near a-b", near, [0.5]))
    # a-c: |0 - 50.007 - (-50.005)| = 2 ms; b-c: |100.0105 - 50.007 - 50.005| = 1.5 ms.
    checks.append(("far", sorted(far), [1.5, 2.0]))
    # d against a (10.001: 33 ms - 1 ms = 32), b (|10.033 - 100.02 + 90.009| = 22), c (|-39.967
    # + 40.004| = 37).
    checks.append(("unrefined", sorted(unrefined), [22.0, 32.0, 37.0]))
    long_drift, all_drift = drift_errors(truth, placed, lengths)
    # b against a: 1/1.0001 - 1 = -99.990 ppm, measured -99: 0.990; c: 9.990, but c is short.
    checks.append(("long drift", long_drift, [0.99000999]))
    checks.append(("all drift", sorted(all_drift), [0.99000999, 9.99000999]))
    stdout = "REFINED\nCLUSTER\nname: a offset:0.000000\nname: d offset:10.033000\n" \
             "name: x offset:3.100000\nEVALUATION\n"
    checks.append(("unmeasured", unmeasured_refined(stdout, placed), 1))
    other = read_result({**result, "clusters": [{**result["clusters"][0], "members": [
        {**m, "refinedOffset": m["refinedOffset"] + (0.002 if m["name"] == "c" else 0.0)}
        for m in result["clusters"][0]["members"]]}]})
    # a is the reference of both, 100 ppm fast: every pair divided by 1.0001 alike.
    checks.append(("pair change", pair_change(placed, other, {"a", "b", "c"}, truth),
                   (2.0 / 1.0001, 3, 2.0 / 1.0001)))
    failed = 0
    for what, got, want in checks:
        ok = np.allclose(np.array(got, dtype=float), np.array(want, dtype=float), atol=1e-6)
        failed += not ok
        print(f"{'ok' if ok else 'FAILED'}: {what}: {got} (want {want})")
    print(f"{len(checks) - failed} passed, {failed} failed")
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--trelis")
    parser.add_argument("--set", default="tuning", help="label of the corpora's set")
    parser.add_argument("--work", default="build/bench-alignment",
                        help="folder for JSON results and the leave-out run")
    parser.add_argument("--self-test", action="store_true")
    parser.add_argument("corpora", nargs="*")
    args = parser.parse_args()
    if args.self_test:
        sys.exit(self_test())
    if not args.trelis or not args.corpora:
        parser.error("--trelis and at least one corpus are needed")
    os.makedirs(args.work, exist_ok=True)
    print("Pairs placed together that are together in the truth. Refined errors only over pairs "
          "whose members are both refined or the reference, on the reference's clock; pairs with "
          "an unrefined member apart, with their frame-accurate error. Near: both devices' "
          "direct-to-reverberant ratio >= 0 dB, or not recorded in the truth; far: either below.")
    print()
    print(HEADER)
    print("|" + "---|" * HEADER.count(" |"))
    leave_outs = []
    for corpus in args.corpora:
        row, placed, truth = corpus_row(args.trelis, corpus, args.set, args.work)
        print(row, flush=True)
        if os.path.basename(corpus.rstrip("/")) == "day":
            leave_outs.append(leave_out(args.trelis, corpus, args.set, args.work, placed, truth))
    leave_outs = [r for r in leave_outs if r]
    if leave_outs:
        print()
        print("The day corpus without its drifting device: the others' refined offsets, each "
              "run's divided by (1 + true drift of its reference), against those of the run with "
              "all files.")
        print()
        print("| corpus | set | left out (true drift) | reference with all files | reference "
              "without | largest change against the reference ms | largest change of any pair ms "
              "| pairs compared |")
        print("|---|---|---|---|---|---|---|---|")
        for r in leave_outs:
            print(r)


if __name__ == "__main__":
    main()
