"""Types of the binding lumetra._core; the package lumetra re-exports what users need."""

import os
from typing import Any, Literal, Optional, Union, overload

import numpy as np
import numpy.typing as npt

_Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]
_Image = Union[npt.NDArray[np.uint8], npt.NDArray[np.uint16], _Path]

__version__: str
ENGINE_BYTES_PER_PIXEL: int
LOW_MEMORY_ENGINE_BYTES_PER_PIXEL: int

class Error(Exception): ...
class ImageReadError(Error, OSError): ...
class SizeMismatchError(Error, ValueError): ...
class ParameterError(Error, ValueError): ...
class MemoryLimitError(Error, MemoryError): ...
class NonFiniteMeasureError(Error, ValueError): ...
class ProfileError(Error, ValueError): ...

class Parameters:
    alpha: float
    beta: float
    co: float
    # The line's coefficients; None while the mapping is the logistic curve.
    a: Optional[float]
    b: Optional[float]
    # (b1, b2, b3, b4) of the logistic curve, or None for the line.
    logistic: Optional[tuple[float, float, float, float]]
    @property
    def mapping(self) -> Literal["linear", "logistic"]: ...
    intra_a: bool
    inter_a: bool
    intra_c1: bool
    inter_c1: bool
    intra_c2: bool
    inter_c2: bool
    ppd: float
    def __init__(
        self,
        *,
        alpha: float = 1.0,
        beta: float = 4.0,
        co: float = 5.0,
        a: float = 0.000751,
        b: float = 3.8,
        logistic: Optional[tuple[float, float, float, float]] = None,
        intra_a: bool = True,
        inter_a: bool = False,
        intra_c1: bool = True,
        inter_c1: bool = False,
        intra_c2: bool = True,
        inter_c2: bool = False,
        ppd: float = 60.0,
    ) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    @overload
    def score(self, measure: float) -> float: ...
    @overload
    def score(self, measure: npt.ArrayLike) -> npt.NDArray[np.float32]: ...

class Profile:
    parameters: Parameters
    lumetra_version: str
    def __init__(self, parameters: Optional[Parameters] = None) -> None: ...
    @staticmethod
    def load(path: _Path) -> Profile: ...
    @staticmethod
    def from_json(text: str, source: str = "<string>") -> Profile: ...
    @staticmethod
    def from_dict(document: dict[str, Any], source: str = "<dict>") -> Profile: ...
    def to_json(self) -> str: ...
    def to_dict(self) -> dict[str, Any]: ...
    def save(self, path: _Path) -> None: ...
    @property
    def data(self) -> Optional[dict[str, Any]]: ...
    @property
    def figures(self) -> Optional[dict[str, Any]]: ...
    def __eq__(self, other: object) -> bool: ...

def display_ppd(display: str) -> float: ...

class FiltersCache:
    def __init__(self, capacity: int = 4) -> None: ...
    def __len__(self) -> int: ...

class Engine:
    rows: int
    cols: int
    low_memory: bool
    parameters: Parameters
    def __init__(
        self,
        original: _Image,
        params: Parameters,
        *,
        maxval: Optional[int] = None,
        data_range: Optional[float] = None,
        threads: int = 0,
        max_pixels: Optional[int] = None,
        filters_cache: Optional[FiltersCache] = None,
        low_memory: bool = False,
        colour: str = "as-stored",
        orientation: str = "as-stored",
    ) -> None: ...
    def score(
        self,
        degraded: _Image,
        *,
        maxval: Optional[int] = None,
        data_range: Optional[float] = None,
        max_pixels: Optional[int] = None,
        colour: str = "as-stored",
        orientation: str = "as-stored",
    ) -> tuple[float, float, npt.NDArray[np.float32]]: ...
    def score_stack(
        self,
        degraded: npt.ArrayLike,
        *,
        maxval: Optional[int] = None,
        data_range: Optional[float] = None,
    ) -> list[tuple[float, float, npt.NDArray[np.float32]]]: ...
    def explain(
        self,
        degraded: _Image,
        *,
        maxval: Optional[int] = None,
        data_range: Optional[float] = None,
        max_pixels: Optional[int] = None,
        colour: str = "as-stored",
        orientation: str = "as-stored",
    ) -> tuple[
        float,
        float,
        npt.NDArray[np.float32],
        dict[str, npt.NDArray[np.float32]],
        dict[str, float],
    ]: ...

def check_reading(*, colour: str, orientation: str) -> None: ...
def read_image(
    path: _Path,
    *,
    max_pixels: Optional[int] = None,
    colour: str = "as-stored",
    orientation: str = "as-stored",
) -> tuple[Union[npt.NDArray[np.uint8], npt.NDArray[np.uint16]], int]: ...
