"""Engines, results and one-pair scoring: the public API over the binding lumetra._core."""

from __future__ import annotations

import os
from dataclasses import dataclass
from typing import Optional, Union

import numpy as np

from lumetra import _core
from lumetra._core import FiltersCache, Parameters, Profile

#: An image argument: an array of uint8 or uint16 samples, or of floats from 0 to 1, shaped
#: (rows, cols, 3) ((rows, cols, 4) drops the alpha; (rows, cols) is grey), or the path of an
#: image file.
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
        explained = ", explained" if self.explanation is not None else ""
        return (
            f"lumetra.Result(measure={self.measure!r}, score={self.score!r}, "
            f"error_map=<float32 array of shape {self.error_map.shape}>{explained})"
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
    path: Union[str, bytes, "os.PathLike[str]"],
    *,
    max_pixels: Optional[int] = None,
    colour: str = "as-stored",
    orientation: str = "as-stored",
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
    colour : {"as-stored", "srgb"}, default "as-stored"
        What to do with a file's colour profile (embedded ICC, PNG sRGB/gAMA/cHRM), as the
        command line's ``--colour``: "as-stored" reads the samples as sRGB values whatever the
        file declares; "srgb" converts them to sRGB through Little CMS (relative colorimetric,
        at float precision; 16-bit samples come out).  A file declaring a colour space other
        than sRGB, scored as stored, is logged as a warning of the "lumetra" logger.
    orientation : {"as-stored", "apply"}, default "as-stored"
        What to do with a file's EXIF orientation, as the command line's ``--orientation``:
        "as-stored" keeps the pixels in stored order; "apply" turns them as the file is meant
        to be shown.  An orientation other than 1 is logged as a warning of the "lumetra"
        logger.

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
        When `path` holds a NUL byte, `max_pixels` is out of range, or `colour` or
        `orientation` is not one of its names.
    """
    return _core.read_image(path, max_pixels=max_pixels, colour=colour, orientation=orientation)


class Engine:
    """The engine of one original image, which scores any number of degraded images.

    The original is decomposed once, here; each score then costs one decomposition of the
    degraded image.  Scoring releases the GIL, and one engine may score from several threads
    at once.

    Parameters
    ----------
    original : numpy.ndarray or path
        Array of shape (rows, cols, 3) ((rows, cols, 4): alpha dropped; (rows, cols) or
        (rows, cols, 1): grey), in any memory layout, or the path of an image file; at least
        8 rows and 8 columns.  Samples are uint8 or uint16 (up to `maxval`), or float32 or
        float64 from 0 to `data_range` (1 unless given, as in scikit-image), which are scored
        as 16-bit samples, ``round(x / data_range * 65535)``.
    params : lumetra.Parameters, optional
        The model's parameters; the defaults when not given.
    profile : lumetra.Profile or path, optional
        A calibration profile, whose parameters (viewing conditions and score mapping
        included) are used as ``lumetra --profile`` uses them.  Not with `params`: to change
        a profile's values, change ``profile.parameters`` and pass that as `params`.
    maxval : int, optional
        The largest sample value of an array: 255 for uint8 and 65535 for uint16 unless given
        (for example 1023 for 10-bit samples in uint16).  Not for paths: a file gives its own.
    data_range : float, optional
        The value of full brightness in a float array, whose samples lie from 0 to it: 1
        unless given (for example 255 for floats holding 8-bit values).  Not for integer
        arrays or paths.
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
    colour : {"as-stored", "srgb"}, default "as-stored"
        What to do with each file's (the original's and every degraded one's) colour profile (embedded ICC, PNG sRGB/gAMA/cHRM), as the
        command line's ``--colour``: "as-stored" reads the samples as sRGB values whatever the
        file declares; "srgb" converts them to sRGB through Little CMS (relative colorimetric,
        at float precision; 16-bit samples come out).  A file declaring a colour space other
        than sRGB, scored as stored, is logged as a warning of the "lumetra" logger.
    orientation : {"as-stored", "apply"}, default "as-stored"
        What to do with a file's EXIF orientation, as the command line's ``--orientation``:
        "as-stored" keeps the pixels in stored order; "apply" turns them as the file is meant
        to be shown.  An orientation other than 1 is logged as a warning of the "lumetra"
        logger.

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
        When an array has another shape, a sample exceeds `maxval` or lies outside 0 ..
        `data_range` (the message names the range and where the sample is), or `maxval`,
        `data_range` or `threads` is out of range.

    Warns
    -----
    UserWarning
        When a uint16 array (without `maxval`) never exceeds 255, naming its largest sample:
        8-bit data scored as 16-bit is nearly black.  Give ``maxval=255`` or convert it with
        ``.astype(np.uint8)``.
    """

    def __init__(
        self,
        original: Image,
        params: Optional[Parameters] = None,
        *,
        profile: Optional[ProfileLike] = None,
        maxval: Optional[int] = None,
        data_range: Optional[float] = None,
        threads: int = 0,
        max_pixels: Optional[int] = None,
        filters_cache: Optional[FiltersCache] = None,
        low_memory: bool = False,
        colour: str = "as-stored",
        orientation: str = "as-stored",
    ) -> None:
        self._engine = _core.Engine(
            original,
            _parameters(params, profile),
            maxval=maxval,
            data_range=data_range,
            threads=threads,
            max_pixels=max_pixels,
            filters_cache=filters_cache,
            low_memory=low_memory,
            colour=colour,
            orientation=orientation,
        )
        self._max_pixels = max_pixels
        self._reading = {"colour": colour, "orientation": orientation}

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
        self,
        degraded: Image,
        explain: bool = False,
        *,
        maxval: Optional[int] = None,
        data_range: Optional[float] = None,
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
            The largest sample value of an integer array, as for the original.
        data_range : float, optional
            The full-brightness value of a float array, as for the original.

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
        options = dict(maxval=maxval, data_range=data_range, max_pixels=self._max_pixels)
        options.update(self._reading)
        if explain:
            explained = self._engine.explain(degraded, **options)
            measure, score, error_map, maps, numbers = explained
            return Result(measure, score, error_map, numbers, maps)
        measure, score, error_map = self._engine.score(degraded, **options)
        return Result(measure, score, error_map)

    def score_stack(
        self,
        stack: np.ndarray,
        *,
        maxval: Optional[int] = None,
        data_range: Optional[float] = None,
    ) -> list[Result]:
        """Score every image of a stack against the original, in one call.

        The images are scored side by side on the engine's threads (see `threads`), with the
        GIL released for the whole stack; each result is the one `score` gives for that image.

        Parameters
        ----------
        stack : numpy.ndarray
            Array of shape (count, rows, cols, channels): `count` images of the original's
            shape, with samples as `score` takes them (uint8, uint16 or floats).
        maxval, data_range : optional
            As for `score`.

        Returns
        -------
        list of Result
            One per image, in the stack's order.

        Raises
        ------
        lumetra.SizeMismatchError
            When the images are not the original's shape (a ValueError).
        lumetra.NonFiniteMeasureError
            When a measure is not a finite number, naming the image's index.
        TypeError, ValueError
            For an array that is not a stack of images, or a sample out of range (the message
            names the image's index and the sample's position).
        """
        scored = self._engine.score_stack(stack, maxval=maxval, data_range=data_range)
        return [Result(measure, score, error_map) for measure, score, error_map in scored]

    def __repr__(self) -> str:
        return f"<lumetra.Engine of an original of shape {self.shape}, {self.params!r}>"


def score(
    original: Image,
    degraded: Image,
    params: Optional[Parameters] = None,
    explain: bool = False,
    *,
    profile: Optional[ProfileLike] = None,
    maxval: Optional[int] = None,
    data_range: Optional[float] = None,
    threads: int = 0,
    max_pixels: Optional[int] = None,
    colour: str = "as-stored",
    orientation: str = "as-stored",
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
        The largest sample value of integer array arguments (paths give their own).
    data_range : float, optional
        The full-brightness value of float array arguments (1 unless given).
    threads : int, default 0
        Threads the scoring may use; 0 uses every core.
    max_pixels : int, optional
        Refuse image files of more pixels than this (see `Engine`).
    colour, orientation : str, default "as-stored"
        What to do with the files' colour profiles and EXIF orientations (see `Engine`).

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
        **_ranges(original, maxval, data_range),
        threads=threads,
        max_pixels=max_pixels,
        colour=colour,
        orientation=orientation,
    )
    return engine.score(degraded, explain, **_ranges(degraded, maxval, data_range))


def _ranges(image: Image, maxval: Optional[int], data_range: Optional[float]) -> dict:
    """The range options that apply to `image`: none for a path, one of the two for an array
    (so that one call can score an integer original against a float degraded image)."""
    if _is_path(image):
        return {}
    floats = np.asarray(image).dtype.kind == "f"
    return {"data_range": data_range} if floats else {"maxval": maxval}
