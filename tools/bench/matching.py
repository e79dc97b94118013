#!/usr/bin/python3
"""Judges which recordings Trelis matches, in each of its matching modes, on simulated corpora and
prints one markdown table: pairwise F1, precision and recall, false merges of recordings that
belong with no other, frame-accurate offsets more than 0.1 s off, and wall time.

Usage: matching.py --trelis build/bin/Trelis --set tuning [--repeat N] [--work DIR] CORPUS...
       matching.py --self-test
Each corpus folder holds audio/ and truth.xml as tools/simulate/simulate.py writes them. Trelis
runs as `Trelis -f audio -t truth.xml -json <file>` for the default mode (`-match spec`) and with
`-match verified` added for the verified mode; a mode this Trelis does not know is shown as n/a.
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

import numpy as np

# The scoring conventions are alignment.py's; its bytecode is not left beside it.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from alignment import drift_of, pair_scores, read_result, read_truth  # noqa: E402

MODES = {"spec": [], "verified": ["-match", "verified"]}
# A frame-accurate offset further than this from the truth is one the user must fix by hand.
OFFSET_LIMIT = 0.1


def sizes(members):
    count = {}
    for m in members.values():
        count[m["cluster"]] = count.get(m["cluster"], 0) + 1
    return count


def false_merges(truth, placed):
    """Files alone in their truth cluster that the result puts in a cluster with others, and how
    many files the truth leaves alone."""
    truth_sizes = sizes(truth)
    alone = [n for n in truth if truth_sizes[truth[n]["cluster"]] == 1 and n in placed]
    placed_sizes = sizes(placed)
    return sorted(n for n in alone if placed_sizes[placed[n]["cluster"]] > 1), len(alone)


def offset_misses(truth, placed, limit=OFFSET_LIMIT):
    """Pairs together in both whose frame-accurate relative offset is more than limit seconds
    from the truth's (on the clock of the cluster's reference), and how many such pairs there
    are."""
    names = sorted(set(truth) & set(placed))
    misses, pairs = [], 0
    for i, a in enumerate(names):
        for b in names[i + 1:]:
            ta, tb, pa, pb = truth[a], truth[b], placed[a], placed[b]
            if ta["cluster"] != tb["cluster"] or pa["cluster"] != pb["cluster"]:
                continue
            pairs += 1
            want = (ta["offset"] - tb["offset"]) * (1.0 + drift_of(truth, pa["reference"]))
            if abs(pa["offset"] - pb["offset"] - want) > limit:
                misses.append((a, b))
    return misses, pairs


def refused(output):
    """Whether Trelis rejected an option: it says so and prints its help."""
    return "Unknown input arguments" in output


def knows_match(trelis):
    process = subprocess.run([trelis, "-h"], capture_output=True, text=True)
    return re.search(r"^\s*-match\b", process.stdout + process.stderr, re.M) is not None


def printed_scores(stdout):
    """precision, recall, F1 of the report's EVALUATION block, or None."""
    m = re.search(r"pairwise precision: (\S+) recall: (\S+) F1: (\S+)", stdout)
    return tuple(float(v) for v in m.groups()) if m else None


def run_mode(trelis, corpus, mode, work, repeat):
    """Median wall seconds, the placed clusters and the report of the first run; None when this
    Trelis refuses the mode."""
    audio, truth = os.path.join(corpus, "audio"), os.path.join(corpus, "truth.xml")
    walls, first = [], None
    for _ in range(repeat):
        target = tempfile.mkdtemp(dir=work)
        path = os.path.join(target, "result.json")
        command = [trelis, "-f", audio, "-t", truth, "-json", path, *MODES[mode]]
        try:
            start = time.monotonic()
            process = subprocess.run(command, capture_output=True, text=True)
            walls.append(time.monotonic() - start)
            if refused(process.stdout + process.stderr):
                return None
            if process.returncode != 0:
                sys.exit(f"matching: {' '.join(command)} failed ({process.returncode}):\n"
                         f"{process.stderr.strip()}")
            if first is None:
                try:
                    with open(path) as f:
                        result = json.load(f)
                except (OSError, ValueError) as error:
                    sys.exit(f"matching: can't read the JSON result {path}: {error}")
                first = (read_result(result, f"the JSON result on {corpus}"), process.stdout)
        finally:
            shutil.rmtree(target)
    return float(np.median(walls)), first[0], first[1]


def check_corpus(corpus):
    for need in ("audio", "truth.xml"):
        if not os.path.exists(os.path.join(corpus, need)):
            sys.exit(f"matching: {corpus} is no corpus: it has no {need} "
                     "(tools/simulate/simulate.py makes them)")


HEADER = ("| corpus | set | mode | files | F1 | precision | recall | false merges (of files alone "
          "in the truth) | offset errors > 0.1 s (of pairs found) | seconds |")


def corpus_rows(trelis, corpus, label, work, repeat, verified_known):
    check_corpus(corpus)
    truth = read_truth(os.path.join(corpus, "truth.xml"))
    files = len([n for n in os.listdir(os.path.join(corpus, "audio")) if n.endswith(".wav")])
    name = os.path.basename(corpus.rstrip("/"))
    rows = []
    for mode in MODES:
        outcome = None if mode == "verified" and not verified_known else run_mode(
            trelis, corpus, mode, work, repeat)
        if outcome is None:
            rows.append(f"| {name} | {label} | {mode} | {files} | n/a | n/a | n/a | n/a | n/a | "
                        "n/a |")
            continue
        wall, placed, stdout = outcome
        scores = pair_scores(truth, placed)
        merged, alone = false_merges(truth, placed)
        misses, pairs = offset_misses(truth, placed)
        printed = printed_scores(stdout)
        mine = (scores["precision"], scores["recall"], scores["f1"])
        if printed and max(abs(p - m) for p, m in zip(printed, mine)) > 0.0015:
            print(f"matching: on {name} ({mode}) the report's EVALUATION says precision/recall/F1 "
                  f"{printed}, the JSON's clusters give {tuple(round(v, 3) for v in mine)}",
                  file=sys.stderr)
        share = f" ({100 * len(misses) / pairs:.0f}%)" if pairs else ""
        rows.append(f"| {name} | {label} | {mode} | {files} | {scores['f1']:.3f} | "
                    f"{scores['precision']:.3f} | {scores['recall']:.3f} | {len(merged)} / {alone} "
                    f"| {len(misses)} / {pairs}{share} | {wall:.1f} |")
    return rows


def self_test():
    """Scores of hand-made clusters against a hand-made truth, worked out by hand."""
    def truth_of(clusters):
        return {n: dict(cluster=i, offset=o, drift=d, drr=None)
                for i, c in enumerate(clusters) for n, o, d in c}

    truth = truth_of([[("a", 0.0, 0.0), ("b", 10.0, 0.0), ("c", 25.0, 0.0)],
                      [("d", 0.0, 0.0), ("e", 5.0, 0.0)],
                      [("u1", 0.0, 0.0)], [("u2", 0.0, 0.0)], [("u3", 0.0, 0.0)]])
    names = ["a", "b", "c", "d", "e", "u1", "u2", "u3"]
    ids = {n: i + 1 for i, n in enumerate(names)}

    def result_of(clusters):
        return {"files": [{"id": ids[n], "name": n} for n in names],
                "clusters": [{"reference": ids[c[0][0]],
                              "members": [{"id": ids[n], "name": n, "offset": o,
                                           "status": "unrefined"} for n, o in c]}
                             for c in clusters]}

    # u1 joins a-c, u2 joins d, e is left alone.
    placed = read_result(result_of([[("a", 0.0), ("b", 10.05), ("c", 25.3), ("u1", 3.0)],
                                    [("d", 0.0), ("u2", 7.0)], [("e", 0.0)], [("u3", 0.0)]]))
    checks = []
    scores = pair_scores(truth, placed)
    # True pairs ab ac bc de; placed ab ac bc + a/b/c-u1 + d-u2: tp 3, fp 4, fn 1 (de).
    checks.append(("counts", (scores["tp"], scores["fp"], scores["fn"]), (3, 4, 1)))
    checks.append(("precision, recall", (scores["precision"], scores["recall"]), (3 / 7, 3 / 4)))
    checks.append(("F1", scores["f1"], 18 / 33))
    checks.append(("false merges", false_merges(truth, placed), (["u1", "u2"], 3)))
    # ab 0.05 s off; ac 0.3 s; bc |10.05 - 25.3 + 15| = 0.25 s.
    checks.append(("offset misses", offset_misses(truth, placed), ([("a", "c"), ("b", "c")], 3)))
    # The reference a runs 2000 ppm fast: c's true place on its clock is 25.05 s, b's 10.02 s.
    fast = truth_of([[("a", 0.0, 2000e-6), ("b", 10.0, 0.0), ("c", 25.0, 0.0)],
                     [("d", 0.0, 0.0), ("e", 5.0, 0.0)],
                     [("u1", 0.0, 0.0)], [("u2", 0.0, 0.0)], [("u3", 0.0, 0.0)]])
    placed_fast = read_result(result_of([[("a", 0.0), ("b", 10.02), ("c", 25.14)],
                                         [("d", 0.0), ("e", 4.85)], [("u1", 0.0)], [("u2", 0.0)],
                                         [("u3", 0.0)]]))
    # On a's clock ac and bc are 0.09 s off (0.14 s in event time); de 0.15 s.
    checks.append(("offset misses on the reference's clock", offset_misses(fast, placed_fast),
                   ([("d", "e")], 4)))
    checks.append(("no false merge", false_merges(fast, placed_fast), ([], 3)))
    perfect = pair_scores(fast, placed_fast)
    checks.append(("all found", (perfect["precision"], perfect["recall"], perfect["f1"]),
                   (1.0, 1.0, 1.0)))
    checks.append(("refusal", (refused("-match verified\nUnknown input arguments\n///"),
                               refused("EVALUATION\nfiles scored: 8")), (True, False)))
    checks.append(("report's scores", printed_scores(
        "pairwise precision: 0.950 recall: 0.518 F1: 0.671 (together in both: 57"),
        (0.95, 0.518, 0.671)))
    failed = 0
    for what, got, want in checks:
        try:
            ok = bool(np.allclose(np.array(got, dtype=float), np.array(want, dtype=float),
                                  atol=1e-9))
        except (TypeError, ValueError):
            ok = got == want
        failed += not ok
        print(f"{'ok' if ok else 'FAILED'}: {what}: {got} (want {want})")
    print(f"{len(checks) - failed} passed, {failed} failed")
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--trelis")
    parser.add_argument("--set", default="tuning", choices=("tuning", "heldout"),
                        help="which set the corpora belong to (a label of the rows)")
    parser.add_argument("--repeat", type=int, default=1, help="runs per mode; the median is shown")
    parser.add_argument("--work", default="build/bench-matching", help="folder for JSON results")
    parser.add_argument("--self-test", action="store_true")
    parser.add_argument("corpora", nargs="*")
    args = parser.parse_args()
    if args.self_test:
        sys.exit(self_test())
    if not args.trelis or not args.corpora:
        parser.error("--trelis and at least one corpus are needed")
    if args.repeat < 1:
        parser.error("--repeat must be 1 or more")
    if not os.access(args.trelis, os.X_OK):
        sys.exit(f"matching: {args.trelis} is not an executable Trelis (make build makes it)")
    for corpus in args.corpora:
        check_corpus(corpus)
    os.makedirs(args.work, exist_ok=True)
    verified_known = knows_match(args.trelis)
    print(f"Pairs of files: positive when the truth has both in one cluster. False merges: files "
          f"alone in their truth cluster that share a cluster with others. Offset errors: pairs "
          f"together in both whose frame-accurate relative offset (the JSON's offset, before "
          f"refinement) is more than {OFFSET_LIMIT} s from the truth's, on the clock of the "
          f"cluster's reference. Seconds: wall clock, median of {args.repeat} run"
          f"{'s' if args.repeat > 1 else ''}. n/a: this Trelis has no such mode.")
    print()
    print(HEADER)
    print("|" + "---|" * HEADER.count(" |"))
    for corpus in args.corpora:
        for row in corpus_rows(args.trelis, corpus, args.set, args.work, args.repeat,
                               verified_known):
            print(row, flush=True)


if __name__ == "__main__":
    main()
