#!/usr/bin/python3
"""Times Trelis on several threads, on growing numbers of files and on a crowd, and prints
markdown tables: wall time (median of --runs), times real time, peak memory, and where a truth is
at hand the pairwise F1.

Usage: threads.py --trelis build/bin/Trelis speedup CORPUS... [--threads 1 2]
       threads.py --trelis build/bin/Trelis scaling --work DIR --counts 50 100 200 400 CORPUS...
       threads.py --trelis build/bin/Trelis crowd CORPUS...
Each corpus folder holds audio/ and truth.xml as tools/simulate/simulate.py writes them. Runs are
`Trelis -f audio -json <file> [options]`, without -t (the evaluation is not what is timed); the
F1 is computed here from the JSON, as alignment.py computes it. Scaling takes the first N files
(by name) of the corpora given, in order, as links in a folder of its own under --work: N files of
the same lengths as the corpora's.
"""
import argparse
import concurrent.futures
import math
import os
import shutil
import statistics
import sys
import tempfile
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from alignment import durations, pairwise_f1, read_result, read_truth, run  # noqa: E402


def timed(trelis, audio, options, work):
    """One run: (wall seconds, peak MiB, placed members from the JSON)."""
    peak = []
    wall, _, result = run(trelis, audio, work, options, peak=peak)
    return wall, peak[0], read_result(result)


def measured(trelis, audio, options, work, runs):
    """Median wall time and the largest peak memory of `runs` runs, and the last run's result."""
    walls, peaks = [], []
    placed = None
    for _ in range(runs):
        wall, peak, placed = timed(trelis, audio, options, work)
        walls.append(wall)
        peaks.append(peak)
    return statistics.median(walls), max(peaks), placed


def hours_of(audio):
    return sum(durations(audio).values()) / 3600


def f1_of(corpus, placed):
    truth = os.path.join(corpus, "truth.xml")
    return f"{pairwise_f1(read_truth(truth), placed):.3f}" if os.path.exists(truth) else "n/a"


def apart(args, audio, threads):
    """Runs `threads` separate one-thread runs at once: (wall seconds until the last ends, the
    largest peak MiB)."""
    start = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(threads) as pool:
        runs = [pool.submit(timed, args.trelis, audio, ["-j", "1", *args.options], args.work)
                for _ in range(threads)]
        peaks = [r.result()[1] for r in runs]
    return time.monotonic() - start, max(peaks)


def speedup(args):
    """The thread counts run in turn, run after run: the machine's speed drifts within minutes,
    and runs of one count in a row would carry the drift into the speed-up. With one thread
    first, each round also runs as many separate one-thread runs at once as the most threads:
    their speed-up (as many corpora done in their time) is what the machine gives work that
    shares nothing, the ceiling of one run's."""
    print("| corpus | files | hours | threads | wall s (median) | x real time | speed-up | "
          "peak MiB | F1 |")
    print("|---|---|---|---|---|---|---|---|---|")
    most = max(args.threads)
    separate = args.threads[0] == 1 and most > 1
    for corpus in args.corpora:
        audio = os.path.join(corpus, "audio")
        hours, files = hours_of(audio), len(durations(audio))
        walls = {threads: [] for threads in args.threads}
        peaks = {threads: [] for threads in args.threads}
        apart_walls, apart_peaks = [], []
        placed = {}
        for _ in range(args.runs):
            for threads in args.threads:
                wall, peak, placed[threads] = timed(
                    args.trelis, audio, ["-j", str(threads), *args.options], args.work)
                walls[threads].append(wall)
                peaks[threads].append(peak)
            if separate:
                wall, peak = apart(args, audio, most)
                apart_walls.append(wall)
                apart_peaks.append(peak)
        name = os.path.basename(corpus.rstrip('/'))
        first = statistics.median(walls[args.threads[0]])
        for threads in args.threads:
            wall = statistics.median(walls[threads])
            print(f"| {name} | {files} | {hours:.2f} | {threads} | "
                  f"{wall:.2f} | {hours * 3600 / wall:.0f} | {first / wall:.2f} | "
                  f"{max(peaks[threads]):.0f} | {f1_of(corpus, placed[threads])} |", flush=True)
        if separate:
            wall = statistics.median(apart_walls)
            print(f"| {name} | {files} | {hours:.2f} | {most} runs of 1 at once | {wall:.2f} | "
                  f"{most * hours * 3600 / wall:.0f} | {most * first / wall:.2f} | "
                  f"{max(apart_peaks):.0f} each | |", flush=True)


def subset(corpora, count, work):
    """A folder of links to the first `count` recordings of the corpora."""
    names = []
    for corpus in corpora:
        audio = os.path.join(corpus, "audio")
        names += [os.path.join(audio, n) for n in sorted(os.listdir(audio)) if n.endswith(".wav")]
    if len(names) < count:
        sys.exit(f"the corpora hold {len(names)} recordings, fewer than {count}")
    folder = os.path.join(work, f"subset-{count}", "audio")
    shutil.rmtree(os.path.dirname(folder), ignore_errors=True)
    os.makedirs(folder)
    for k, path in enumerate(names[:count]):
        # Two corpora may name recordings alike: each link is numbered.
        os.symlink(os.path.abspath(path), os.path.join(folder, f"{k:04d}-{os.path.basename(path)}"))
    return folder


def scaling(args):
    print("| files | hours | threads | wall s (median) | x real time | peak MiB | "
          "time growth | memory growth |")
    print("|---|---|---|---|---|---|---|---|")
    previous = None
    for count in args.counts:
        audio = subset(args.corpora, count, args.work)
        hours = hours_of(audio)
        wall, peak, _ = measured(args.trelis, audio, ["-j", str(args.threads[-1]), *args.options],
                                 args.work, args.runs)
        growth = ("" if previous is None else
                  f"x{wall / previous[1]:.2f} (files^{math.log(wall / previous[1]) / math.log(count / previous[0]):.2f})")
        memory = ("" if previous is None else
                  f"x{peak / previous[2]:.2f} (files^{math.log(peak / previous[2]) / math.log(count / previous[0]):.2f})")
        print(f"| {count} | {hours:.2f} | {args.threads[-1]} | {wall:.2f} | "
              f"{hours * 3600 / wall:.0f} | {peak:.0f} | {growth} | {memory} |", flush=True)
        previous = (count, wall, peak)
        shutil.rmtree(os.path.dirname(audio))


def crowd(args):
    print("| corpus | files | matching | popularity | wall s (median) | peak MiB | F1 |")
    print("|---|---|---|---|---|---|---|")
    for corpus in args.corpora:
        audio = os.path.join(corpus, "audio")
        for match in ("spec", "verified"):
            for popularity in ("total", "recording"):
                options = ["-match", match, "-popularity", popularity, "-j",
                           str(args.threads[-1]), *args.options]
                wall, peak, placed = measured(args.trelis, audio, options, args.work, args.runs)
                print(f"| {os.path.basename(corpus.rstrip('/'))} | {len(durations(audio))} | "
                      f"{match} | {popularity} | {wall:.1f} | {peak:.0f} | "
                      f"{f1_of(corpus, placed)} |", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--trelis", required=True)
    parser.add_argument("--runs", type=int, default=5)
    numbers = lambda text: [int(n) for n in text.split(",")]  # noqa: E731
    parser.add_argument("--threads", type=numbers, default=[1, 2], help="e.g. 1,2")
    parser.add_argument("--counts", type=numbers, default=[50, 100, 200, 400],
                        help="e.g. 50,100,200,400")
    parser.add_argument("--work", default=tempfile.gettempdir())
    parser.add_argument("--options", default="", help="extra Trelis options")
    parser.add_argument("table", choices=["speedup", "scaling", "crowd"])
    parser.add_argument("corpora", nargs="+")
    args = parser.parse_args()
    args.options = args.options.split()
    os.makedirs(args.work, exist_ok=True)
    {"speedup": speedup, "scaling": scaling, "crowd": crowd}[args.table](args)


if __name__ == "__main__":
    main()
