"""Lumetra: how visible the differences between an image and its degraded versions are.

Scores degraded images against an original with a model of early human vision, as the
``lumetra`` command line does and with the same numbers.  Images are NumPy arrays of uint8 or
uint16 samples (H x W x 3) or paths of image files (Netpbm, PNG, JPEG, BMP, WebP, TIFF, AVIF,
JPEG XL).

>>> import lumetra
>>> engine = lumetra.Engine("original.png")
>>> result = engine.score("degraded.png")
>>> result.measure, result.score, result.error_map.shape

The measure is the pooled visible error (0 for a perfect copy; lower is better); the score
maps it onto the 1 to 5 quality scale (higher is better).
"""

from lumetra import _core
from lumetra._core import (
    Error,
    FiltersCache,
    ImageReadError,
    MemoryLimitError,
    NonFiniteMeasureError,
    ParameterError,
    Parameters,
    Profile,
    ProfileError,
    SizeMismatchError,
    __version__,
)
from lumetra._api import Engine, Result, read_image, score

# The public names.  Type checkers need both the imports above (a name bound at run time only
# is unknown to them) and this literal list (which marks them as exported).
__all__ = [
    "Engine",
    "Error",
    "FiltersCache",
    "ImageReadError",
    "MemoryLimitError",
    "NonFiniteMeasureError",
    "ParameterError",
    "Parameters",
    "Profile",
    "ProfileError",
    "Result",
    "SizeMismatchError",
    "__version__",
    "read_image",
    "score",
]

# The binding's classes among them show (and pickle) under the package's name.
for _public in [globals()[name] for name in __all__]:
    if isinstance(_public, type) and _public.__module__ == _core.__name__:
        _public.__module__ = __name__
del _public

Error.__doc__ = "Base class of the errors Lumetra raises."
ImageReadError.__doc__ = (
    "An image file that cannot be read, is not a supported image, or is cut short or corrupt "
    "(an OSError)."
)
SizeMismatchError.__doc__ = (
    "A degraded image whose size differs from the original's, or an original smaller than "
    "8 x 8 (a ValueError)."
)
ParameterError.__doc__ = "A model parameter outside its range (a ValueError)."
MemoryLimitError.__doc__ = (
    "An engine that would not fit in the memory left to this process, refused before it is "
    "built (a MemoryError)."
)
NonFiniteMeasureError.__doc__ = (
    "A measure that came out infinite or not a number, which parameters or viewing conditions "
    "far outside what the model covers give; never returned as a result (a ValueError)."
)
FiltersCache.__doc__ = """Band filters shared by the engines made with it (``filters_cache=``).

    An engine's band filters depend only on the image size and the viewing condition (pixels
    per degree); engines of a size and condition already seen take them from the cache instead
    of making them again.  Keep one for a loop over many originals of one size.  It holds the
    filters of at most `capacity` conditions (4 by default), dropping the one used longest ago,
    and may be shared by threads.  len() gives the conditions held.
    """
ProfileError.__doc__ = (
    "A calibration profile that cannot be read, holds an unknown key or an unusable value "
    "(a ValueError); the message starts with the file's path and names the field."
)
