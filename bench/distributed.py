#!/usr/bin/python3
"""trelis.distributed on a local Dask cluster against one process, on growing corpora.

For each count, the first N recordings (by name) of the corpora given are linked into a folder of
their own, then matched twice without the refinement (which runs on the client alike in both):
- one process: the program, `Trelis -f <folder> -refine off -j <threads>`; its wall time and
  peak resident memory;
- distributed: `trelis.distributed.sync` on a fresh LocalCluster of --workers worker processes of
  one thread each; wall time, the largest peak resident memory of a worker, the client's, the
  landmarks and vote bins that moved between tasks, and the bytes the workers fetched from each
  other (Dask's transfer logs).
Both results are checked to be the same clusters and offsets. Prints a markdown table.

Usage: bench/distributed.py --trelis build/bin/Trelis --package build/python --work DIR
                            --counts 100,200,400 CORPUS...
Each corpus folder holds audio/ (tools/simulate/simulate.py); scripts/bench-threads.sh builds the
standard-like corpora of seeds 1 and 2 under build/bench-corpora and build/bench-corpora-heldout.
"""
import argparse
import json
import os
import resource
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
# This script's name is the scheduler package's: its folder must not hide the package.
sys.path = [p for p in sys.path if os.path.abspath(p or os.curdir) != HERE]
sys.path.append(os.path.join(HERE, os.pardir, "tools", "bench"))
from threads import subset  # noqa: E402  (the same files as the thread benchmark's growth table)


def clusters_of(report):
    return sorted(sorted((m["name"], m["offset"]) for m in c["members"])
                  for c in report["clusters"])


def one_process(trelis, folder, threads, work):
    out = os.path.join(work, "one.json")
    if os.path.exists(out):
        os.remove(out)
    start = time.monotonic()
    child = subprocess.Popen([trelis, "-f", folder, "-refine", "off", "-j", str(threads),
                              "-popularity", "recording", "-json", out],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - start
    if status != 0:
        sys.exit(f"distributed: {trelis} failed on {folder}")
    with open(out) as f:
        return wall, usage.ru_maxrss / 1024, json.load(f)


def worker_peak():
    import resource as r  # noqa: PLC0415 (runs on the worker)

    return r.getrusage(r.RUSAGE_SELF).ru_maxrss / 1024


def fetched(dask_worker):
    return sum(entry["total"] for entry in dask_worker.transfer_incoming_log)


def distributed_run(folder, workers, partition_size):
    """Runs in a process of its own (--child), so that its peak memory is its own."""
    from distributed import Client, LocalCluster  # noqa: PLC0415

    import trelis.distributed  # noqa: PLC0415

    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                      dashboard_address=":0") as cluster, Client(cluster) as client:
        start = time.monotonic()
        result = trelis.distributed.sync(folder, client, media="wav", refine=False,
                                         popularity="recording", partition_size=partition_size)
        wall = time.monotonic() - start
        peaks = client.run(worker_peak)
        moved = client.run(fetched)
    print(json.dumps({"wall": wall, "workerPeak": max(peaks.values()),
                      "clientPeak": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024,
                      "fetched": sum(moved.values()), "shuffle": result.shuffle,
                      "report": result.to_dict()}))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--trelis", default="build/bin/Trelis")
    parser.add_argument("--package", default="build/python")
    parser.add_argument("--work", default="build/bench-work/distributed")
    parser.add_argument("--counts", type=lambda t: [int(n) for n in t.split(",")],
                        default=[100, 200, 400], help="comma-separated: 100,200,400")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--partition-size", type=int, default=2_000_000)
    parser.add_argument("--child", help=argparse.SUPPRESS)
    parser.add_argument("corpora", nargs="*")
    args = parser.parse_args()
    sys.path.insert(0, os.path.abspath(args.package))
    if args.child:
        distributed_run(args.child, args.workers, args.partition_size)
        return
    os.environ["PYTHONPATH"] = os.path.abspath(args.package)
    os.makedirs(args.work, exist_ok=True)
    print("| files | one process: wall s | peak MiB | distributed: wall s | largest worker "
          "peak MiB | client peak MiB | partitions | landmarks | moved between tasks MiB | "
          "fetched by workers MiB | pairs with votes |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for count in args.counts:
        folder = subset(args.corpora, count, args.work)
        wall1, peak1, report1 = one_process(args.trelis, folder, args.workers, args.work)
        child = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", folder,
                                "--package", args.package, "--workers", str(args.workers),
                                "--partition-size", str(args.partition_size)],
                               check=True, capture_output=True, text=True)
        d = json.loads(child.stdout.strip().splitlines()[-1])
        if clusters_of(d["report"]) != clusters_of(report1):
            sys.exit(f"distributed: the clusters of {count} files differ from the program's")
        s = d["shuffle"]
        mib = 1024 * 1024
        print(f"| {count} | {wall1:.1f} | {peak1:.0f} | {d['wall']:.1f} | {d['workerPeak']:.0f} | "
              f"{d['clientPeak']:.0f} | {s['partitions']} | {s['landmarks']} | "
              f"{(s['landmarkBytes'] + s['voteBytes']) / mib:.1f} | {d['fetched'] / mib:.1f} | "
              f"{s['pairs']} |", flush=True)
        shutil.rmtree(os.path.dirname(folder))  # subset-<count>, which holds the links


if __name__ == "__main__":
    main()
