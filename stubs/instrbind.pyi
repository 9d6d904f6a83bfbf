from types import TracebackType
from typing import Callable, Optional, TextIO, Tuple, Type, TypeVar, overload

_F = TypeVar('_F', bound=Callable[..., object])

__version__: str
MODULES: Tuple[str, ...]
RECORDING_FORMAT: str
RECORDING_VERSION: int

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
def record(path: Optional[str]) -> None: ...
def recording() -> Optional[str]: ...
def driver_library(name: str) -> Optional[str]: ...
def report(out: Optional[TextIO] = ...) -> int: ...

class cleanup:
    @overload
    def __new__(cls, func: None = ...) -> cleanup: ...
    @overload
    def __new__(cls, func: _F) -> _F: ...  # type: ignore[misc]
    def __call__(self, func: _F) -> _F: ...
    def __enter__(self) -> cleanup: ...
    def __exit__(self, exc_type: Optional[Type[BaseException]], exc: Optional[BaseException],
                 tb: Optional[TracebackType]) -> bool: ...
