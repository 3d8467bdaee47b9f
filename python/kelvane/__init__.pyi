from os import PathLike
from typing import Any, Dict, Optional, Tuple, Union

import numpy
from numpy.typing import ArrayLike

from .files import FileReport as FileReport
from .files import level_file as level_file
from .files import level_files as level_files

ALGORITHMS: Tuple[str, ...]
GRAY_METHODS: Tuple[str, ...]
PRESETS: Dict[str, Dict[str, Any]]
WRITABLE_EXTENSIONS: Tuple[str, ...]
__version__: str

def level(
    image: ArrayLike,
    algorithm: str,
    window: Union[int, str],
    window2: Union[int, str, None] = ...,
    *,
    method: Optional[str] = ...,
    max_gain: Optional[float] = ...,
    level_alpha: bool = ...,
    threads: Optional[int] = ...,
    channel_axis: Optional[int] = ...,
    out: Optional[numpy.ndarray] = ...,
) -> numpy.ndarray: ...
def is_picture_file(path: Union[str, bytes, PathLike[str], PathLike[bytes]]) -> bool: ...
