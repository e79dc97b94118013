#!/usr/bin/python3
"""Calibrates the verification level of verified matching on pairs whose truth is known.

Usage: calibrate.py CANDIDATES.tsv [--levels 8,10,12,14,16]
       calibrate.py --self-test
CANDIDATES.tsv is what build/bin/verify_calibration writes for corpus folders that
tools/simulate/simulate.py made (each FOLDER/audio/*.wav with FOLDER/truth.xml). Every candidate
is labelled: "true" when both files are in one truth cluster and the candidate's or the measured
offset is within 0.1 s of the truth, "repeat" when they are in one cluster at another offset
(repeated material), "unrelated" when they are not in one cluster of one corpus. Pairs of two
corpora are left out: corpora draw on the same music, so their recordings may share sound.
For each verification level (with the program's rules for short overlaps: every one of three
windows or more agreeing, windows that agree at all with a surprise of 5, or windows whose
correlations added up reach 8.5 with a surprise of 3) it prints how many candidates of each kind
would verify, and the false-accept rate per pair of unrelated files: the pairs with a verified
candidate over all unrelated pairs of the pooled files (pairs without any candidate cannot be
linked); when none is seen, the bound 3 / pairs that holds with 95 % confidence.
"""
import argparse
import csv
import itertools
import os
import sys
import xml.etree.ElementTree as ET

TOLERANCE = 0.1  # seconds


def read_truth(folder):
    """path -> (folder, cluster index, offset s)."""
    try:
        root = ET.parse(os.path.join(folder, "truth.xml")).getroot()
    except (OSError, ET.ParseError) as error:
        sys.exit(f"calibrate: can't read the truth of {folder}: {error}")
    out = {}
    for index, cluster in enumerate(root):
        for f in cluster:
            out[os.path.join(folder, "audio", f.get("name"))] = (folder, index,
                                                                  float(f.get("offset")))
    return out


def label(row, truth):
    a, b = truth[row["first"]], truth[row["second"]]
    if a[0] != b[0]:
        return "other corpus"
    if a[1] != b[1]:
        return "unrelated"
    expected = b[2] - a[2]
    near = abs(float(row["candidate"]) - expected) < TOLERANCE
    measured = row["measured"] == "1" and abs(float(row["offset"]) - expected) < TOLERANCE
    return "true" if near or measured else "repeat"


def verifies(row, level):
    """As verified matching decides: a strength of `level`, or every one of three windows or
    more agreeing, or a short overlap (three windows at most) that agrees at all with votes 5
    orders of magnitude above chance, or whose windows added up reach 8.5 noise spreads with votes 3
    orders above chance."""
    windows, agreeing = int(row["windows"]), int(row["agreeing"])
    stacked = (windows <= 4 and float(row.get("stacked", 0.0)) >= 8.5 and
               float(row["surprise"]) >= 3.0)
    if row["measured"] != "1":
        return stacked
    return (float(row["strength"]) >= level or (windows >= 3 and agreeing == windows) or
            (windows <= 3 and float(row["surprise"]) >= 5.0) or stacked)


def unrelated_pairs(truth):
    paths = sorted(truth)
    return sum(1 for a, b in itertools.combinations(paths, 2)
               if truth[a][0] == truth[b][0] and truth[a][1] != truth[b][1])


def table(rows, truth, levels):
    kinds = ("true", "repeat", "unrelated")
    counts = {k: sum(1 for r in rows if r["label"] == k) for k in kinds}
    pairs = unrelated_pairs(truth)
    lines = ["| level | true verified | repeats verified | unrelated verified | unrelated pairs "
             "linked | false accepts per pair |", "|---|---|---|---|---|---|"]
    for level in levels:
        got = {k: sum(1 for r in rows if r["label"] == k and verifies(r, level)) for k in kinds}
        linked = {(r["first"], r["second"]) for r in rows
                  if r["label"] == "unrelated" and verifies(r, level)}
        rate = len(linked) / pairs if pairs else float("nan")
        bound = f"< {3.0 / pairs:.1e} (none seen)" if not linked else f"{rate:.1e}"
        lines.append(f"| {level:g} | {got['true']} of {counts['true']} | {got['repeat']} of "
                     f"{counts['repeat']} | {got['unrelated']} of {counts['unrelated']} | "
                     f"{len(linked)} of {pairs} | {bound} |")
    return "\n".join(lines)


def self_test():
    truth = {"c/audio/a.wav": ("c", 0, 0.0), "c/audio/b.wav": ("c", 0, 2.0),
             "c/audio/u.wav": ("c", 1, 0.0), "d/audio/a.wav": ("d", 0, 0.0)}
    row = dict(first="c/audio/a.wav", second="c/audio/b.wav", candidate="2.05", measured="0",
               offset="0", strength="0", windows="5", agreeing="2", surprise="0")
    assert label(row, truth) == "true"
    row["candidate"] = "7.0"
    assert label(row, truth) == "repeat"
    row.update(measured="1", offset="1.95")  # a far candidate measured at the truth
    assert label(row, truth) == "true"
    row["second"] = "d/audio/a.wav"
    assert label(row, truth) == "other corpus"
    row["second"] = "c/audio/u.wav"
    assert label(row, truth) == "unrelated"
    assert unrelated_pairs(truth) == 2
    row.update(strength="11", label="unrelated")
    assert verifies(row, 10) and not verifies(row, 12)
    assert verifies(dict(row, windows="3", agreeing="3"), 12)
    assert verifies(dict(row, windows="3", surprise="5.5"), 12)
    assert not verifies(dict(row, windows="4", surprise="5.5"), 12)
    assert verifies(dict(row, windows="3", measured="0", stacked="8.7", surprise="3.1"), 99)
    assert not verifies(dict(row, windows="3", measured="0", stacked="8.7"), 99)
    assert not verifies(dict(row, windows="5", measured="0", stacked="8.7", surprise="3.1"), 99)
    text = table([row], truth, [10, 12])
    assert "| 10 | 0 of 0 | 0 of 0 | 1 of 1 | 1 of 2 | 5.0e-01 |" in text, text
    assert "| 12 | 0 of 0 | 0 of 0 | 0 of 1 | 0 of 2 | < 1.5e+00 (none seen) |" in text, text
    print("calibrate: self-test passed")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("candidates", nargs="?")
    parser.add_argument("--levels", default="8,10,12,14,16")
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    if args.self_test:
        self_test()
        return
    if not args.candidates:
        parser.error("CANDIDATES.tsv is needed")
    with open(args.candidates) as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    truth = {}
    for folder in sorted({os.path.dirname(os.path.dirname(r[k])) for r in rows
                          for k in ("first", "second")}):
        truth.update(read_truth(folder))
    for r in rows:
        r["label"] = label(r, truth)
    print(table(rows, truth, [float(x) for x in args.levels.split(",")]))


if __name__ == "__main__":
    main()
