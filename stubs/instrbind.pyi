from types import TracebackType
from typing import Callable, Optional, TextIO, Tuple, Type, TypeVar, overload

_F = TypeVar('_F', bound=Callable[..., object])

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
from types import TracebackType
from typing import Callable, Optional, TextIO, Tuple, Type, TypeVar, overload

_F = TypeVar('_F', bound=Callable[..., object])
