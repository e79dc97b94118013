#!/usr/bin/python3
"""What calling Trelis through the Python module costs over the program, on one corpus.

Runs, interleaved so that the shared machine's load falls on both alike:
  program   `Trelis -f <audio> -json <file> [options]` (a process of its own)
  call      `trelis.sync(<audio>, media="wav", ...)` in one long-lived interpreter (what a
            pipeline that calls it in a loop pays)
  process   `python3 -c "import trelis; trelis.sync(...)"` (what a script run once pays: the
            interpreter, numpy and the module loaded too)
and prints the median wall time and CPU time (user + system, all threads) of each over --runs,
and the call's and the process's overhead over the program; CPU time is what a shared machine's
load disturbs least. Both must give the same JSON: the first run of each is compared.

Usage: python_overhead.py --trelis build/bin/Trelis --module build/python CORPUS [--runs 7]
       [--match spec|verified]
"""
import argparse
import json
import os
import resource
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
    cpu = {"program": [], "call": [], "process": []}

    def used(who):
        usage = resource.getrusage(who)
        return usage.ru_utime + usage.ru_stime

    children, self_ = resource.RUSAGE_CHILDREN, resource.RUSAGE_SELF
    with tempfile.TemporaryDirectory() as work:
        for k in range(args.runs):
            out = os.path.join(work, f"run{k}.json")
            start, spent = time.perf_counter(), used(children)
            subprocess.run([args.trelis, "-f", audio, "-match", args.match, "-json", out],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            times["program"].append(time.perf_counter() - start)
            cpu["program"].append(used(children) - spent)

            start, spent = time.perf_counter(), used(self_)
            result = trelis.sync(audio, media="wav", match=args.match)
            times["call"].append(time.perf_counter() - start)
            cpu["call"].append(used(self_) - spent)

            start, spent = time.perf_counter(), used(children)
            subprocess.run(["/usr/bin/python3", "-c", script], check=True)
            times["process"].append(time.perf_counter() - start)
            cpu["process"].append(used(children) - spent)
            if k == 0:
                with open(out) as f:
                    if json.load(f) != result.to_dict():
                        sys.exit("the module's result differs from the program's JSON")
    print(f"corpus {args.corpus}, -match {args.match}, median of {args.runs} interleaved runs")
    print("| run | wall | wall range | over the program | CPU | over the program |")
    print("|---|---|---|---|---|---|")
    wall = {name: statistics.median(values) for name, values in times.items()}
    used_cpu = {name: statistics.median(values) for name, values in cpu.items()}
    for name in times:
        spread = f"{min(times[name]):.2f}-{max(times[name]):.2f}"
        print(f"| {name} | {wall[name]:.2f} s | {spread} s | {wall[name] / wall['program'] - 1:+.0%} "
              f"| {used_cpu[name]:.2f} s | {used_cpu[name] / used_cpu['program'] - 1:+.0%} |")


if __name__ == "__main__":
    main()
