from typing import Any, Iterable, List, Optional, Sequence, Union

from .files import FileReport, _Path, _Window

def level_files(
    inputs: Union[_Path, Iterable[_Path]],
    output_folder: _Path,
    algorithm: str,
    window: _Window,
    window2: Optional[_Window] = ...,
    *,
    client: Any,
    method: Optional[str] = ...,
    max_gain: Optional[float] = ...,
    level_alpha: bool = ...,
    format: Optional[str] = ...,
    skip_existing: bool = ...,
    jpeg_quality: Optional[int] = ...,
    png_compression: Optional[int] = ...,
    tiff_compression: Optional[str] = ...,
    jpeg_subsampling: Optional[str] = ...,
    webp: Optional[str] = ...,
) -> List[FileReport]: ...
def main(argv: Optional[Sequence[str]] = ...) -> int: ...
