from dataclasses import dataclass
from os import PathLike
from typing import Iterable, List, Optional, Tuple, Union

_Path = Union[str, bytes, PathLike[str], PathLike[bytes]]
_Window = Union[int, str]

@dataclass
class FileReport:
    input: str
    output: str
    written: bool
    skipped: bool = ...
    error: Optional[str] = ...
    seconds: float = ...
    channel_by_channel: bool = ...

def level_file(
    input: _Path,
    output: _Path,
    algorithm: str,
    window: _Window,
    window2: Optional[_Window] = ...,
    *,
    method: Optional[str] = ...,
    max_gain: Optional[float] = ...,
    level_alpha: bool = ...,
    threads: Optional[int] = ...,
    jpeg_quality: Optional[int] = ...,
    png_compression: Optional[int] = ...,
    tiff_compression: Optional[str] = ...,
    jpeg_subsampling: Optional[str] = ...,
    webp: Optional[str] = ...,
) -> FileReport: ...
def level_files(
    inputs: Union[_Path, Iterable[_Path]],
    output_folder: _Path,
    algorithm: str,
    window: _Window,
    window2: Optional[_Window] = ...,
    *,
    method: Optional[str] = ...,
    max_gain: Optional[float] = ...,
    level_alpha: bool = ...,
    threads: Optional[int] = ...,
    workers: Optional[int] = ...,
    format: Optional[str] = ...,
    skip_existing: bool = ...,
    jpeg_quality: Optional[int] = ...,
    png_compression: Optional[int] = ...,
    tiff_compression: Optional[str] = ...,
    jpeg_subsampling: Optional[str] = ...,
    webp: Optional[str] = ...,
) -> List[FileReport]: ...
