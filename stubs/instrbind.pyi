from typing import Optional, TextIO, Tuple

__version__: str
MODULES: Tuple[str, ...]

class DriverExit(SystemExit):
    status: Optional[int]
    module: Optional[str]
    function: Optional[str]
    session: Optional[int]
    resource: Optional[str]
    message: Optional[str]
    def __init__(self, code: int, status: Optional[int] = ..., module: Optional[str] = ...,
                 function: Optional[str] = ..., session: Optional[int] = ...,
                 resource: Optional[str] = ..., message: Optional[str] = ...) -> None: ...

def tracing() -> bool: ...
def trace(on: bool = ...) -> None: ...
def driver_library(name: str) -> Optional[str]: ...
def report(out: Optional[TextIO] = ...) -> int: ...
