#!/usr/bin/python3
"""What calling Trelis through the Python module costs over the program, on one corpus.

Runs, interleaved so that the shared machine's load falls on both alike:
  program   `Trelis -f <audio> -json <file> [options]` (a process of its own)
  call      `trelis.sync(<audio>, media="wav", ...)` in one long-lived interpreter (what a
            pipeline that calls it in a loop pays)
  process   `python3 -c "import trelis; trelis.sync(...)"` (what a script run once pays: the
            interpreter, numpy and the module loaded too)
and prints the median wall time of each over --runs, and the call's and the process's overhead
over the program. Both must give the same JSON: the first run of each is compared.

Usage: python_overhead.py --trelis build/bin/Trelis --module build/python CORPUS [--runs 7]
       [--match spec|verified]
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--trelis", required=True)
    parser.add_argument("--module", required=True, help="folder holding the trelis package")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--match", default="spec")
    parser.add_argument("corpus")
    args = parser.parse_args()
    sys.path.insert(0, args.module)
    import trelis  # noqa: PLC0415

    audio = os.path.join(args.corpus, "audio")
    script = (f"import sys; sys.path.insert(0, {args.module!r}); import trelis; "
              f"trelis.sync({audio!r}, media='wav', match={args.match!r})")
    times = {"program": [], "call": [], "process": []}
    with tempfile.TemporaryDirectory() as work:
        for k in range(args.runs):
            out = os.path.join(work, f"run{k}.json")
            start = time.perf_counter()
            subprocess.run([args.trelis, "-f", audio, "-match", args.match, "-json", out],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            times["program"].append(time.perf_counter() - start)

            start = time.perf_counter()
            result = trelis.sync(audio, media="wav", match=args.match)
            times["call"].append(time.perf_counter() - start)

            start = time.perf_counter()
            subprocess.run(["/usr/bin/python3", "-c", script], check=True)
            times["process"].append(time.perf_counter() - start)
            if k == 0:
                with open(out) as f:
                    if json.load(f) != result.to_dict():
                        sys.exit("the module's result differs from the program's JSON")
    median = {name: statistics.median(values) for name, values in times.items()}
    print(f"corpus {args.corpus}, -match {args.match}, median of {args.runs} interleaved runs")
    for name, value in median.items():
        spread = f"{min(times[name]):.3f}-{max(times[name]):.3f}"
        over = value / median["program"] - 1.0
        print(f"| {name} | {value:.3f} s | {spread} s | {over:+.1%} |")


if __name__ == "__main__":
    main()
