"""Engines, results and one-pair scoring: the public API over the binding lumetra._core."""

from __future__ import annotations

import os
from dataclasses import dataclass
from typing import Optional, Union

import numpy as np

from lumetra import _core
from lumetra._core import FiltersCache, Parameters, Profile

#: An image argument: an array of uint8 or uint16 samples (H x W x 3; H x W x 4 drops the
#: alpha; H x W is grey) or the path of an image file.
Image = Union[np.ndarray, str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


@dataclass(frozen=True, eq=False)
class Result:
    """The score of one degraded image.

    Attributes
    ----------
    measure : float
        The pooled visible error: 0 for a perfect copy, larger when the differences are more
        visible (lower is better).
    score : float
        The measure on the 1 to 5 quality scale (higher is better) by the parameters'
        mapping: ``b - a * measure`` clamped by default, or a profile's logistic curve; -1
        when the measure is not a number.
    error_map : numpy.ndarray
        H x W float32 map of the visible error at each pixel, which the measure pools.
    explanation : dict of str to float, optional
        With ``explain=True``: where the measure comes from, each pixel weighed as the measure
        weighs it.  ``term_base``, ``term_crown2``, ``term_crown3``, ``term_crown4``: shares of
        the error map's four additive terms (they add up to 1); ``channel_A``, ``channel_C1``,
        ``channel_C2``: shares of the error map of one channel's differences alone (not
        additive); ``structure_share``: the part of the measure from where the edge structure
        changed; ``p50``, ``p95``, ``p99``, ``max``: percentiles of the error map.  Shares are
        0 for a perfect copy.  The names are those of the command line's CSV columns.
    explanation_maps : dict of str to numpy.ndarray, optional
        With ``explain=True``: H x W float32 maps.  ``term_base`` .. ``term_crown4`` (their
        sum, in that order, is the error map), ``channel_A``, ``channel_C1``, ``channel_C2``,
        ``block_weight`` (B^alpha), ``edge_zone`` (1 where the edge structure changed, else 0)
        and ``share`` (each pixel's share of the measure, summing to 1).
    """

    measure: float
    score: float
    error_map: np.ndarray
    explanation: Optional[dict[str, float]] = None
    explanation_maps: Optional[dict[str, np.ndarray]] = None

    def __repr__(self) -> str:
        rows, cols = self.error_map.shape
        explained = ", explained" if self.explanation is not None else ""
        return (
            f"lumetra.Result(measure={self.measure!r}, score={self.score!r}, "
            f"error_map=<{rows} x {cols} float32>{explained})"
        )


def _is_path(image: object) -> bool:
    return isinstance(image, (str, bytes, os.PathLike))


#: A profile argument: a loaded profile or the path of a profile file.
ProfileLike = Union[Profile, str, "os.PathLike[str]"]


def _parameters(params: Optional[Parameters], profile: Optional[ProfileLike] = None) -> Parameters:
    if params is not None and profile is not None:
        raise TypeError("give params or profile, not both (a profile holds the parameters)")
    if profile is not None:
        return as_profile(profile).parameters
    if params is None:
        return Parameters()
    if not isinstance(params, Parameters):
        raise TypeError(f"params must be a lumetra.Parameters (got {type(params).__name__})")
    return params


def as_profile(profile: ProfileLike) -> Profile:
    """A profile as given, or loaded from its path.

    Raises
    ------
    lumetra.ProfileError
        When the file cannot be read or is not a usable profile (a ValueError).
    TypeError
        When `profile` is neither a lumetra.Profile nor a path.
    """
    if isinstance(profile, Profile):
        return profile
    if isinstance(profile, (str, os.PathLike)):
        return Profile.load(profile)
    raise TypeError(f"profile must be a lumetra.Profile or a path (got {type(profile).__name__})")


def read_image(
    path: Union[str, bytes, "os.PathLike[str]"], *, max_pixels: Optional[int] = None
) -> tuple[np.ndarray, int]:
    """Read an image file as the command line reads it.

    Parameters
    ----------
    path : str, bytes or os.PathLike
        An image file: Netpbm (P1-P7), PNG, JPEG, BMP, WebP, TIFF, AVIF or JPEG XL,
        recognised from its first bytes (of an animated file, the first frame).
    max_pixels : int, optional
        Refuse a file of more pixels than this, from its header and before any pixel is read
        (the command line's ``--max-pixels``): 1 to 2**28, the default and largest.  For
        services that read files from untrusted sources.

    Returns
    -------
    samples : numpy.ndarray
        H x W x 3 array of the file's samples, unscaled: uint8 when maxval is at most 255,
        else uint16.  Grey files give R = G = B; alpha is dropped.
    maxval : int
        The file's maximum sample value (255 for 8-bit files, 65535 for 16-bit PNG).

    Raises
    ------
    lumetra.ImageReadError
        When the file cannot be read, is not a supported image, is cut short or corrupt, or
        has more than `max_pixels` pixels.
    TypeError
        When `path` is not a path.
    ValueError
        When `path` holds a NUL byte or `max_pixels` is out of range.
    """
    return _core.read_image(path, max_pixels=max_pixels)


class Engine:
    """The engine of one original image, which scores any number of degraded images.

    The original is decomposed once, here; each score then costs one decomposition of the
    degraded image.  Scoring releases the GIL, and one engine may score from several threads
    at once.

    Parameters
    ----------
    original : numpy.ndarray or path
        H x W x 3 array of uint8 or uint16 samples (H x W x 4: alpha dropped; H x W or
        H x W x 1: grey), in any memory layout, or the path of an image file.  At least 8 x 8.
    params : lumetra.Parameters, optional
        The model's parameters; the defaults when not given.
    profile : lumetra.Profile or path, optional
        A calibration profile, whose parameters (viewing conditions and score mapping
        included) are used as ``lumetra --profile`` uses them.  Not with `params`: to change
        a profile's values, change ``profile.parameters`` and pass that as `params`.
    maxval : int, optional
        The largest sample value of an array: 255 for uint8 and 65535 for uint16 unless given
        (for example 1023 for 10-bit samples in uint16).  Not for paths: a file gives its own.
    threads : int, default 0
        Threads each score may use; 0 uses every core.
    max_pixels : int, optional
        Refuse image files (the original and every degraded file) of more pixels than this,
        from their header and before any pixel is read: 1 to 2**28, the default and largest.
    filters_cache : lumetra.FiltersCache, optional
        Band filters shared with the other engines made with the same cache: an engine of a
        size and viewing condition already seen reuses them instead of making them again,
        which saves about the cost of one score per engine in a loop over many originals of
        one size.  The numbers are the same either way.
    low_memory : bool, default False
        Keep the original's three spectra instead of its 27 masked bands (about 100 bytes per
        pixel less) and make its bands again beside each degraded image's: the same numbers
        to the last bit, for up to half as much time again per score.  For originals too
        large to keep decomposed.

    Raises
    ------
    lumetra.ImageReadError
        When `original` is a path that cannot be read as an image, or has more than
        `max_pixels` pixels (an OSError).
    lumetra.SizeMismatchError
        When the original is smaller than 8 x 8 (a ValueError).
    lumetra.MemoryLimitError
        When the engine would not fit in the memory left to this process (the system's free
        memory and its control group's limit): "... needs about 68.7 GB; 21.3 GB available"
        (a MemoryError).  Said before the engine is built, and for a path before the image is
        read.
    lumetra.ProfileError
        When `profile` is a path that is not a usable profile (a ValueError).
    TypeError
        When `original` is neither a path nor an array of uint8 or uint16 samples, `params`
        is not a lumetra.Parameters, or both `params` and `profile` are given.
    ValueError
        When an array has another shape, a sample exceeds `maxval`, or `maxval` or `threads`
        is out of range.
    """

    def __init__(
        self,
        original: Image,
        params: Optional[Parameters] = None,
        *,
        profile: Optional[ProfileLike] = None,
        maxval: Optional[int] = None,
        threads: int = 0,
        max_pixels: Optional[int] = None,
        filters_cache: Optional[FiltersCache] = None,
        low_memory: bool = False,
    ) -> None:
        self._engine = _core.Engine(
            original,
            _parameters(params, profile),
            maxval=maxval,
            threads=threads,
            max_pixels=max_pixels,
            filters_cache=filters_cache,
            low_memory=low_memory,
        )
        self._max_pixels = max_pixels

    @property
    def shape(self) -> tuple[int, int]:
        """(rows, cols) of the original, which every degraded image must have."""
        return (self._engine.rows, self._engine.cols)

    @property
    def low_memory(self) -> bool:
        """Whether the engine makes the original's bands again for every score."""
        return self._engine.low_memory

    @property
    def params(self) -> Parameters:
        """A copy of the engine's parameters."""
        return self._engine.parameters

    def score(
        self, degraded: Image, explain: bool = False, *, maxval: Optional[int] = None
    ) -> Result:
        """Score one degraded image against the original.

        Parameters
        ----------
        degraded : numpy.ndarray or path
            An image of the original's size, given as the original may be.
        explain : bool, default False
            Also say where the measure comes from (`Result.explanation` and
            `Result.explanation_maps`); costs about twice the memory of a plain score.  The
            measure, score and error map are the same to the last bit either way.
        maxval : int, optional
            The largest sample value of an array, as for the original.

        Returns
        -------
        Result
            The measure (lower is better), the score (higher is better) and the error map.

        Raises
        ------
        lumetra.SizeMismatchError
            When the degraded image is not the original's size (a ValueError).
        lumetra.ImageReadError
            When `degraded` is a path that cannot be read as an image (an OSError).
        lumetra.NonFiniteMeasureError
            When the measure comes out infinite or not a number, which parameters or viewing
            conditions far outside what the model covers can do (for example ``ppd=1e30``):
            such a measure is never returned as a result (a ValueError).
        TypeError, ValueError
            For an argument that is not an image, as for the original.
        """
        limit = self._max_pixels
        if explain:
            explained = self._engine.explain(degraded, maxval=maxval, max_pixels=limit)
            measure, score, error_map, maps, numbers = explained
            return Result(measure, score, error_map, numbers, maps)
        measure, score, error_map = self._engine.score(degraded, maxval=maxval, max_pixels=limit)
        return Result(measure, score, error_map)

    def __repr__(self) -> str:
        rows, cols = self.shape
        return f"<lumetra.Engine of a {rows} x {cols} original, {self.params!r}>"


def score(
    original: Image,
    degraded: Image,
    params: Optional[Parameters] = None,
    explain: bool = False,
    *,
    profile: Optional[ProfileLike] = None,
    maxval: Optional[int] = None,
    threads: int = 0,
    max_pixels: Optional[int] = None,
) -> Result:
    """Score one degraded image against its original.

    For several degraded images of one original, an `Engine` decomposes the original once.

    Parameters
    ----------
    original, degraded : numpy.ndarray or path
        The two images, as `Engine` takes them.
    params : lumetra.Parameters, optional
        The model's parameters; the defaults when not given.
    explain : bool, default False
        Also say where the measure comes from (see `Engine.score`).
    profile : lumetra.Profile or path, optional
        A calibration profile instead of `params` (see `Engine`).
    maxval : int, optional
        The largest sample value of the array arguments (paths give their own).
    threads : int, default 0
        Threads the scoring may use; 0 uses every core.
    max_pixels : int, optional
        Refuse image files of more pixels than this (see `Engine`).

    Returns
    -------
    Result
        The measure (lower is better), the score (higher is better) and the error map.

    Raises
    ------
    lumetra.ImageReadError, lumetra.SizeMismatchError, lumetra.MemoryLimitError,
    lumetra.NonFiniteMeasureError, TypeError, ValueError
        As `Engine` and `Engine.score` raise them.
    """
    engine = Engine(
        original,
        params,
        profile=profile,
        maxval=None if _is_path(original) else maxval,
        threads=threads,
        max_pixels=max_pixels,
    )
    return engine.score(degraded, explain, maxval=None if _is_path(degraded) else maxval)
