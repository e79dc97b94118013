"""Trelis from Python: cluster recordings of the same events and give each its start offset.

The steps on their own work on numpy arrays: ``fingerprint`` turns samples into landmarks,
``cluster`` groups fingerprints and places them to the frame (or to the sample with
``match="verified"``), ``align`` measures two recordings to the sample with their clock drift.
``sync`` runs the whole program over files and returns what its JSON holds.

Settings are the program's options without the dash (``fftsize=1024``, ``minpercentmatch=0.1``,
``maxdrift=100``...), with its defaults; a wrong name or value raises ValueError. Long calls
release the GIL, report to ``progress(stage, fraction)`` when given, and stop on Ctrl-C with
KeyboardInterrupt.
"""

from __future__ import annotations

import json
import os
from typing import Any, Callable, Iterable, Optional, Union

from ._trelis import Fingerprint, _sync, align, fingerprint
from ._trelis import cluster as _cluster

__all__ = ["Fingerprint", "Clustering", "SyncResult", "fingerprint", "cluster", "align", "sync"]

Progress = Optional[Callable[[str, float], Any]]


class Clustering:
    """What ``cluster`` found.

    ``clusters``: lists of members (``index`` in the list given, ``name``, ``offset`` in seconds
    after the cluster's earliest member), by their first member. With ``match="verified"``,
    ``pairs`` holds the linked pairs and ``ambiguous`` the pairs left unlinked because their sound
    agreed at two offsets, with what verified them (``first`` and ``second`` are indices in the
    list given; ``offset`` is where ``second`` starts after ``first``, in seconds).
    """

    def __init__(self, found: dict):
        self.match: str = found["match"]
        self.clusters: list = found["clusters"]
        self.pairs: list = found["pairs"]
        self.ambiguous: list = found["ambiguous"]

    def to_dict(self) -> dict:
        return {"match": self.match, "clusters": self.clusters, "pairs": self.pairs,
                "ambiguous": self.ambiguous}

    def __repr__(self) -> str:
        sizes = [len(c) for c in self.clusters]
        return f"<trelis.Clustering {len(sizes)} clusters of {sizes} ({self.match})>"


def cluster(fingerprints: Iterable[Fingerprint], *, progress: Progress = None,
            **settings: Any) -> Clustering:
    """Groups fingerprints made with the same extraction settings; see ``Clustering``."""
    return Clustering(_cluster(list(fingerprints), progress=progress, **settings))


class SyncResult:
    """The result of ``sync``: the same content as the program's JSON (``-json``).

    ``files`` (each with ``status`` "ok" or "error" and its ``message``), ``clusters`` (members
    with frame-accurate ``offset`` and ``refinedOffset``, ``status``, ``driftPpm``,
    ``confidence``; accepted ``pairs`` with their evidence; ``alignments``), ``unmatched``,
    ``settings`` and, with ``match="verified"``, ``ambiguous``.
    """

    def __init__(self, report: dict, log: str = ""):
        self._report = report
        #: what the program would have printed (the extraction's lines, the report)
        self.log = log

    def __getattr__(self, name: str) -> Any:
        try:
            return self.__dict__["_report"][name]
        except KeyError:
            raise AttributeError(name) from None

    def to_dict(self) -> dict:
        return json.loads(json.dumps(self._report))

    def by_name(self) -> dict:
        """Each file's name with its file entry."""
        return {f["name"]: f for f in self._report["files"]}

    def __repr__(self) -> str:
        sizes = [len(c["members"]) for c in self._report["clusters"]]
        errors = sum(f["status"] != "ok" for f in self._report["files"])
        return f"<trelis.SyncResult {len(sizes)} clusters of {sizes}, {errors} files in error>"


PathsOrFolder = Union[str, "os.PathLike[str]", Iterable[Union[str, "os.PathLike[str]"]]]


def sync(paths_or_folder: PathsOrFolder, *, media: str = "all", match: str = "spec",
         refine: bool = True, progress: Progress = None, **settings: Any) -> SyncResult:
    """Clusters and synchronizes recordings as the program does, without writing anything.

    ``paths_or_folder``: a folder (its files, as ``-f``) or a list of files. Files that can't be
    read are in the result with their error rather than raised; a folder that can't be read, or
    that holds nothing to take, raises ValueError. Calls from several threads take turns.
    """
    if isinstance(paths_or_folder, (str, os.PathLike)):
        folder, paths = os.fspath(paths_or_folder), []
    else:
        paths = [os.fspath(p) for p in paths_or_folder]
        if not paths:
            raise ValueError("sync: no files given")
        # Files are named by their path within the folder they share, as in a folder's run.
        folder = os.path.commonpath([os.path.dirname(os.path.abspath(p)) for p in paths])
        paths = [os.path.abspath(p) for p in paths]
    text, log = _sync(folder, paths, progress=progress, media=media, match=match, refine=refine,
                      **settings)
    return SyncResult(json.loads(text), log)
