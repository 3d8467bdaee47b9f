from os import PathLike
from typing import Any, Iterable, List, Optional, Sequence, Union

from . import FileReport

def level_files(
    inputs: Union[str, PathLike[str], Iterable[Union[str, PathLike[str]]]],
    output_folder: Union[str, PathLike[str]],
    algorithm: str,
    *args: Union[int, str],
    client: Any,
    format: Optional[str] = ...,
    skip_existing: bool = ...,
    max_gain: Optional[float] = ...,
) -> List[FileReport]: ...
def main(argv: Optional[Sequence[str]] = ...) -> int: ...
