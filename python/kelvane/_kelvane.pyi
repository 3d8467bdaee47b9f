from typing import List, Optional, Tuple

import numpy

algorithm_info: Tuple[Tuple[str, str, bool, bool], ...]
gray_method_info: Tuple[Tuple[str, str], ...]
writable_extensions: Tuple[str, ...]
readable_formats: str
version: str

def level_array(
    image: numpy.ndarray, out: Optional[numpy.ndarray], algorithm: str, window: str, window2: Optional[str],
    method: str, level_alpha: bool, max_gain: float, threads: int,
) -> Tuple[numpy.ndarray, bool]: ...
def level_file(
    input: bytes, output: bytes, algorithm: str, window: str, window2: Optional[str], method: str,
    level_alpha: bool, max_gain: float, threads: int, jpeg_quality: int, png_compression: int,
    tiff_compression: str, jpeg_subsampling: str, webp: str,
) -> Tuple[List[str], bool]: ...
def is_picture_file(path: bytes) -> bool: ...
def window_text(text: str) -> str: ...
def window_pixels(text: str, width: int, height: int) -> int: ...
def notes_on(
    algorithm: str, window: str, window2: Optional[str], method: str, width: int, height: int
) -> List[str]: ...
