"""Trelis on a Dask cluster: the same result as ``trelis.sync``, the matching spread over workers.

``sync(paths, client)`` runs in five steps:

1. every file is fingerprinted on a worker, which keeps its landmarks;
2. the landmarks are split by hash into partitions, each partition's pieces brought to one task;
3. each partition's shared hashes become votes per (pair of files, offset bin), the popular-hash
   rule applied there (it only ever looks at one hash), the bins split by pair into slots;
4. each slot's votes are summed over the partitions and turned into the pairs' statistics and
   acceptance by the library's own code, from the files' landmark counts; with
   ``match="verified"``, into each pair's candidate offsets instead, which the same task measures
   on the recordings (only the windows it needs are kept);
5. the client clusters the accepted (or verified) pairs, aligns the clusters on the audio and
   assembles the result as the program does.

Votes combine exactly (counts add, the earliest and latest voting frames widen), so the
statistics are those of one machine to the bit. No task holds more than one partition's
landmarks: ``partition_size`` (landmarks) bounds it, or ``partitions`` sets their number; the
votes, which grow with the square of the recordings, are summed in ``slots`` shares of the
pairs. The files must be readable at the same path by every worker and by the client (the
client reads them again to align the clusters and describe the files).
"""

from __future__ import annotations

import math
import operator
import os
import time
import uuid
from typing import Any, Iterable, List, Optional, Tuple, Union

import numpy as np

from . import SyncResult
from . import _trelis

__all__ = ["sync"]

#: landmarks per partition by default: about 50 MB of landmarks and their sorted copy per task
DEFAULT_PARTITION_SIZE = 2_000_000


def _is_wave_path(path: str) -> bool:
    # The program's rule: the text after the last "." of the whole path is exactly "wav".
    return "." in path and path.rsplit(".", 1)[1] == "wav"


def _partition_of(hashes: np.ndarray, partitions: int) -> np.ndarray:
    # A multiplicative mix, so that neighbouring hashes spread over the partitions.
    mixed = (hashes.astype(np.uint64) * np.uint64(2654435761)) & np.uint64(0xFFFFFFFF)
    return (mixed >> np.uint64(7)) % np.uint64(partitions)


def _fingerprint(path: str, settings: dict) -> tuple:
    return _trelis._fingerprint_path(path, **settings)


def _profile(fingerprint: tuple) -> tuple:
    read, error, hashes, _times, first, counts = fingerprint
    return read, error, len(hashes), first, counts


def _piece(fingerprint: tuple, file_id: int, partition: int, partitions: int) -> tuple:
    _read, _error, hashes, times, _first, _counts = fingerprint
    keep = _partition_of(hashes, partitions) == partition
    return hashes[keep], np.full(int(keep.sum()), file_id, dtype=np.int32), times[keep]


def _votes(pieces: list, maxlandmarks: int, per_recording: bool, slots: int) -> list:
    pieces = [p for p in pieces if len(p[0])]
    if not pieces:
        return [np.zeros(0, dtype=_BIN_DTYPE) for _ in range(slots)]
    hashes = np.concatenate([p[0] for p in pieces])
    files = np.concatenate([p[1] for p in pieces])
    times = np.concatenate([p[2] for p in pieces])
    del pieces
    return _trelis._votes(hashes, files, times, maxlandmarks=maxlandmarks,
                          per_recording=per_recording, parts=slots)


def _sizes(arrays: list) -> list:
    return [int(a.nbytes) for a in arrays]


def _statistics(shared: tuple, settings: dict, *pieces: np.ndarray) -> tuple:
    profiles, paths = shared
    return _trelis._pair_statistics(list(pieces), profiles, paths, **settings)


_BIN_DTYPE = np.dtype([("id1", "<i4"), ("id2", "<i4"), ("offset", "<i4"), ("count", "<u4"),
                       ("earliest", "<i4"), ("latest", "<i4")])

PathsOrFolder = Union[str, "os.PathLike[str]", Iterable[Union[str, "os.PathLike[str]"]]]


def _resolve(paths_or_folder: PathsOrFolder, settings: dict) -> Tuple[str, List[str]]:
    # As trelis.sync: a folder's files as the program lists them, or the files given.
    if isinstance(paths_or_folder, (str, os.PathLike)):
        folder = os.fspath(paths_or_folder)
        return folder, _trelis._folder_paths(folder, **settings)
    paths = [os.fspath(p) for p in paths_or_folder]
    if not paths:
        raise ValueError("sync: no files given")
    # Files are named by their path within the folder they share, as in a folder's run.
    folder = os.path.commonpath([os.path.dirname(os.path.abspath(p)) for p in paths])
    return folder, [os.path.abspath(p) for p in paths]


def sync(paths_or_folder: PathsOrFolder, client: Any = None, *, partitions: Optional[int] = None,
         partition_size: int = DEFAULT_PARTITION_SIZE, slots: Optional[int] = None,
         media: str = "all", match: str = "spec",
         refine: bool = True, retries: int = 3, **settings: Any) -> SyncResult:
    """Clusters and synchronizes recordings as ``trelis.sync`` does, matching on a Dask cluster.

    ``client``: a ``dask.distributed.Client``; without one, a ``LocalCluster`` of two worker
    processes is started for the call and closed after it. ``partitions``: how many hash
    partitions the landmarks are split into; by default enough that none holds more than
    ``partition_size`` landmarks, and at least two per worker. ``slots``: into how many shares of
    pairs the votes are split to be summed (as many as partitions by default); the votes grow with
    the square of the recordings, so a large archive needs more. ``retries``: how often a task
    that failed is tried again (a worker lost in the middle of a task does not count: Dask runs
    it elsewhere). Settings as ``trelis.sync``.
    The result also has ``.shuffle``: partitions, landmarks, the bytes of landmarks and of votes
    that moved between tasks, how many pairs had votes, the accepted pairs (or the candidates
    measured), and the seconds of each stage.
    """
    if partitions is not None and (not isinstance(partitions, int) or partitions < 1):
        raise ValueError(f"sync: partitions must be a whole number of at least 1, not "
                         f"{partitions!r}")
    if slots is not None and (not isinstance(slots, int) or slots < 1):
        raise ValueError(f"sync: slots must be a whole number of at least 1, not {slots!r}")
    if not isinstance(partition_size, int) or partition_size < 1:
        raise ValueError(f"sync: partition_size must be a whole number of landmarks of at least 1,"
                         f" not {partition_size!r}")
    settings = dict(settings, media=media, match=match, refine=refine)
    rules = _trelis._matching_rules(**settings)
    folder, paths = _resolve(paths_or_folder, settings)
    taken = [p for p in paths if media == "all" or _is_wave_path(p)]
    if not taken:
        raise ValueError(f"sync: no file in {folder or 'the list'} that could be a recording" if
                         media == "all" else
                         f"sync: no WAVE file (.wav) in {folder or 'the list'} (media=\"all\" "
                         f"takes other files too)")

    own = None
    if client is None:
        from dask.distributed import Client, LocalCluster  # noqa: PLC0415

        own = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                           dashboard_address=":0")
        client = Client(own)
    try:
        return _run(client, folder, paths, taken, partitions, partition_size, slots, retries, rules,
                    settings)
    finally:
        if own is not None:
            client.close()
            own.close()


def _run(client: Any, folder: str, paths: List[str], taken: List[str],
         partitions: Optional[int], partition_size: int, slots: Optional[int], retries: int,
         rules: tuple,
         settings: dict) -> SyncResult:
    run = uuid.uuid4().hex[:12]
    submit = client.submit
    started = time.monotonic()

    # 1. Fingerprints, kept on the workers; only their landmark counts come to the client.
    prints = [submit(_fingerprint, path, settings, key=f"trelis-fingerprint-{run}-{i + 1}",
                     retries=retries) for i, path in enumerate(taken)]
    profiles_f = [submit(_profile, f, key=f"trelis-profile-{run}-{i + 1}", retries=retries)
                  for i, f in enumerate(prints)]
    profiles = client.gather(profiles_f)
    read = [i + 1 for i, p in enumerate(profiles) if p[0]]
    media_errors = [p[1] for p in profiles]
    landmarks = sum(p[2] for p in profiles)
    counts = [(i + 1, p[3], p[4]) for i, p in enumerate(profiles) if p[0]]
    del profiles, profiles_f
    fingerprinted = time.monotonic()

    workers = max(1, len(client.scheduler_info().get("workers", {})))
    if partitions is None:
        partitions = max(math.ceil(landmarks / partition_size), 2 * workers)
    slots = slots or partitions
    maxlandmarks, per_recording = rules
    verified = settings["match"] == "verified"

    # 2-3. Each partition's pieces of every file to one task, which votes and splits by pair.
    votes = []
    for p in range(partitions):
        pieces = [submit(_piece, prints[i - 1], i, p, partitions,
                         key=f"trelis-piece-{run}-{i}-{p}", retries=retries) for i in read]
        votes.append(submit(_votes, pieces, maxlandmarks, per_recording, slots,
                            key=f"trelis-votes-{run}-{p}", retries=retries))
    vote_sizes = [submit(_sizes, v, key=f"trelis-votesize-{run}-{p}", retries=retries)
                  for p, v in enumerate(votes)]

    # 4. Each slot of pairs: its votes from every partition, summed, the statistics, acceptance.
    paths_by_id = {i: taken[i - 1] for i in read}
    shared = client.scatter([(counts, paths_by_id)], broadcast=True, hash=False)[0]
    results = []
    for s in range(slots):
        parts = [submit(operator.getitem, v, s, key=f"trelis-slot-{run}-{p}-{s}",
                        retries=retries) for p, v in enumerate(votes)]
        results.append(submit(_statistics, shared, settings, *parts,
                              key=f"trelis-statistics-{run}-{s}", retries=retries))
    found = client.gather(results)
    matched = time.monotonic()
    vote_bytes = sum(sum(sizes) for sizes in client.gather(vote_sizes))
    pairs = sum(n for _, n in found)
    del prints, votes, results, shared

    # 5. Clusters, alignment and the result, on the client.
    if verified:
        table = [bytes(a) for a, _ in found]
        kept = sum(len(a) for a in table) // _trelis._candidate_size()
    else:
        accepted = [a for a, _ in found if len(a)]
        table = np.concatenate(accepted) if accepted else np.zeros(0, dtype=_pair_dtype())
        kept = int(len(table))
    text, log = _trelis._sync_matched(folder, paths, read, media_errors, table, **settings)
    import json  # noqa: PLC0415

    result = SyncResult(json.loads(text), log)
    result.shuffle = {"partitions": partitions, "slots": slots, "landmarks": landmarks,
                      "landmarkBytes": landmarks * 12, "voteBytes": vote_bytes, "pairs": pairs,
                      "acceptedPairs" if not verified else "candidates": kept,
                      "seconds": {"fingerprints": fingerprinted - started,
                                  "matching": matched - fingerprinted,
                                  "client": time.monotonic() - matched}}
    return result


def _pair_dtype() -> np.dtype:
    return np.dtype([(name, "<i4") for name in ("id1", "id2")] +
                    [(name, "<f4") for name in (
                        "offset", "matchCount", "overlapLength", "percentMatchF1",
                        "percentMatchF2", "overlapLandmarksF1", "overlapLandmarksF2",
                        "templateLength", "histMean", "histStd")])
