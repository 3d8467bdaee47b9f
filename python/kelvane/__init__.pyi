from os import PathLike
from typing import Iterable, List, Optional, Tuple, Union

import numpy

ALGORITHMS: Tuple[str, ...]
GRAY_METHODS: Tuple[str, ...]
__version__: str

Window = Union[int, str]

def level(
    image: numpy.ndarray,
    algorithm: str,
    window: Window,
    window2: Optional[Window] = ...,
    method: Optional[str] = ...,
    threads: Optional[int] = ...,
    alpha: Union[None, bool, int] = ...,
    max_gain: Optional[float] = ...,
) -> numpy.ndarray: ...
def level_file(
    input: Union[str, PathLike[str]],
    output: Union[str, PathLike[str]],
    algorithm: str,
    *args: Window,
    threads: Optional[int] = ...,
    max_gain: Optional[float] = ...,
) -> None: ...
def is_picture_file(path: str) -> bool: ...

class FileReport:
    input: str
    output: str
    written: bool
    skipped: bool
    error: Optional[str]
    seconds: float

def level_files(
    inputs: Union[str, PathLike[str], Iterable[Union[str, PathLike[str]]]],
    output_folder: Union[str, PathLike[str]],
    algorithm: str,
    *args: Window,
    workers: Optional[int] = ...,
    format: Optional[str] = ...,
    skip_existing: bool = ...,
    max_gain: Optional[float] = ...,
) -> List[FileReport]: ...
