from os import PathLike
from typing import Any, Callable, Iterable, Optional, Union

import numpy as np
import numpy.typing as npt

Progress = Optional[Callable[[str, float], Any]]
PathsOrFolder = Union[str, PathLike[str], Iterable[Union[str, PathLike[str]]]]

class Fingerprint:
    @property
    def landmarks(self) -> np.ndarray: ...  # dtype [('time', '<i4'), ('file', '<i4'), ('hash', '<u4')]
    @property
    def name(self) -> str: ...
    @property
    def id(self) -> int: ...
    @property
    def duration(self) -> float: ...
    @property
    def sample_rate(self) -> int: ...
    def __len__(self) -> int: ...

class Clustering:
    match: str
    clusters: list[list[dict[str, Any]]]
    pairs: list[dict[str, Any]]
    ambiguous: list[dict[str, Any]]
    def to_dict(self) -> dict[str, Any]: ...

class SyncResult:
    log: str
    version: str
    settings: dict[str, Any]
    files: list[dict[str, Any]]
    clusters: list[dict[str, Any]]
    unmatched: list[int]
    ambiguous: list[dict[str, Any]]
    def to_dict(self) -> dict[str, Any]: ...
    def by_name(self) -> dict[str, dict[str, Any]]: ...

def fingerprint(samples: npt.ArrayLike, rate: float, *, name: Optional[str] = ..., id: int = ...,
                progress: Progress = ..., fftsize: int = ..., hopsize: int = ...,
                samplerate: int = ..., maxpairsperpeak: int = ..., maxpeaksperframe: int = ...,
                freqrange: int = ..., timerange: int = ..., decayperframe: float = ...,
                peakwidth: float = ..., peakdynrange: float = ...,
                dbthreshold: float = ...) -> Fingerprint: ...
def cluster(fingerprints: Iterable[Fingerprint], *, progress: Progress = ..., match: str = ...,
            popularity: str = ..., maxdrift: float = ..., j: int = ..., maxlandmarks: int = ...,
            accepttreshold: int = ..., mintemplatelength: float = ...,
            minoverlaplength: float = ..., minpercentmatch: float = ...) -> Clustering: ...
def align(a: Union[Fingerprint, npt.ArrayLike], b: Union[Fingerprint, npt.ArrayLike], *,
          approx_offset: float, rate: Optional[float] = ..., progress: Progress = ...,
          refinerate: int = ..., maxdrift: float = ..., j: int = ...) -> dict[str, Any]: ...
def sync(paths_or_folder: PathsOrFolder, *, media: str = ..., match: str = ...,
         refine: bool = ..., progress: Progress = ..., **settings: Any) -> SyncResult: ...
