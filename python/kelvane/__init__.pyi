from os import PathLike
from typing import Literal, Optional, Tuple, Union

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
) -> numpy.ndarray: ...
def level_file(
    input: Union[str, PathLike[str]],
    output: Union[str, PathLike[str]],
    algorithm: str,
    *args: Window,
    threads: Optional[int] = ...,
) -> None: ...
