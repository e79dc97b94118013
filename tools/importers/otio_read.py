#!/usr/bin/python3
"""Reads a Trelis OpenTimelineIO timeline with the opentimelineio module (Debian's
python3-opentimelineio) and prints each track's clips with their start times and rates; with
--json, checks each clip's start against the offsets of Trelis' JSON report, within one frame.

Usage: otio_read.py event.otio [--json event.json]
"""

import argparse
import json
import os
import sys


def die(path, problem):
    print(f"otio_read: {path}: {problem}", file=sys.stderr)
    sys.exit(2)


def member_offsets(path):
    """Each member's offset from its cluster's earliest member, by name."""
    try:
        with open(path, encoding="utf-8") as f:
            report = json.load(f)
    except (OSError, json.JSONDecodeError, UnicodeDecodeError) as error:
        die(path, f"cannot read it as JSON ({error})")
    offsets = {}
    for cluster in report.get("clusters", []) if isinstance(report, dict) else []:
        members = {m["name"]: m.get("refinedOffset", m.get("offset")) for m in cluster["members"]}
        earliest = min(members.values())
        offsets.update({name: offset - earliest for name, offset in members.items()})
    if not offsets:
        die(path, "has no cluster members: not a Trelis JSON report")
    return offsets


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("otio", help="the OpenTimelineIO file Trelis wrote")
    parser.add_argument("--json", help="Trelis' JSON report of the same event")
    args = parser.parse_args()
    if not os.path.isfile(args.otio):
        die(args.otio, "no such file")
    offsets = member_offsets(args.json) if args.json else {}
    try:
        import opentimelineio as otio
    except ImportError:
        print("otio_read: the opentimelineio module is not installed "
              "(Debian's python3-opentimelineio)", file=sys.stderr)
        return 2
    try:
        read = otio.adapters.read_from_file(args.otio)
    except Exception as error:  # the module raises its own kinds for each way a file is bad
        die(args.otio, f"OpenTimelineIO cannot read it ({error})")
    # One cluster is one Timeline; several come as a collection of them.
    timelines = [read] if isinstance(read, otio.schema.Timeline) else \
        [t for t in read if isinstance(t, otio.schema.Timeline)]
    print(f"OpenTimelineIO {getattr(otio, '__version__', '?')}: {args.otio}, "
          f"{len(timelines)} timeline(s)")
    problems = []
    seen = set()
    for timeline in timelines:
        start = timeline.global_start_time
        rate = start.rate if start is not None else 25.0
        print(f"timeline '{timeline.name}' at {rate:g} fps, starting at "
              f"{start.to_seconds() if start is not None else 0:.3f} s")
        for track in timeline.tracks:
            print(f"  track '{track.name}' ({track.kind})")
            for item in track:
                if not isinstance(item, otio.schema.Clip):
                    continue
                placed = item.range_in_parent()
                begin = placed.start_time.to_seconds()
                url = getattr(item.media_reference, "target_url", "")
                line = (f"    {item.name:<16} at {begin:8.3f} s (rate {placed.start_time.rate:g}), "
                        f"{placed.duration.to_seconds():7.3f} s long, {os.path.basename(url)}")
                if item.name in offsets:
                    seen.add(item.name)
                    diff = begin - offsets[item.name]
                    ok = abs(diff) <= 1 / rate + 1e-9
                    print(f"{line}; Trelis {offsets[item.name]:.3f} s, {diff:+.3f} s "
                          f"{'ok' if ok else 'MISPLACED'}")
                    if not ok:
                        problems.append(f"{item.name} on '{track.name}' at {begin:.3f} s")
                else:
                    print(line)
    problems += [f"{name}: on no track" for name in offsets if name not in seen]
    for problem in problems:
        print(f"  FAIL: {problem}")
    print(f"  {'FAIL' if problems else 'PASS'}: OpenTimelineIO reads the timeline")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
