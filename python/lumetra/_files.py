"""Output files that appear whole or not at all, as the command line writes its own.

A file is written under a temporary name in its own folder, flushed to the disk and renamed
into place, so that a reader never sees part of it and a failed write (a full disk, an
unwritable folder) leaves the earlier file, or nothing, behind.  An existing target that is
not a plain file (a device, a pipe, a link) is written through in place instead, since
replacing it would be wrong.
"""

from __future__ import annotations

import os
import stat
import tempfile
from pathlib import Path
from typing import BinaryIO, Callable, TextIO

# The mode a new file gets before the umask, as open() gives one.
_NEW_FILE_MODE = 0o666


class OutputError(OSError):
    """An output file that could not be written; the message names it and the reason."""


def cannot_write(path: Path, error: OSError) -> OutputError:
    return OutputError(f"cannot write {path}: {error.strerror or error}")


def _mode_for(path: Path) -> int:
    """The mode of the file being replaced, or of a new file (0666 less the umask)."""
    try:
        return stat.S_IMODE(os.stat(path).st_mode)
    except FileNotFoundError:
        umask = os.umask(0)
        os.umask(umask)
        return _NEW_FILE_MODE & ~umask


def write_text_atomically(path: Path, write: Callable[[TextIO], None]) -> None:
    """Call ``write(file)`` on a temporary UTF-8 text file beside `path`, then rename it into
    place.

    Raises
    ------
    OutputError
        When the file cannot be made, written, flushed or renamed; nothing partial is left.
    """
    _write_atomically(path, write, binary=False)


def write_bytes_atomically(path: Path, write: Callable[[BinaryIO], None]) -> None:
    """`write_text_atomically` for a binary file (a picture, a NumPy archive)."""
    _write_atomically(path, write, binary=True)


def _write_atomically(path: Path, write: Callable, binary: bool) -> None:
    path = Path(path)
    mode, text = ("wb", {}) if binary else ("w", {"encoding": "utf-8", "newline": ""})
    try:
        if os.path.lexists(path) and not stat.S_ISREG(os.lstat(path).st_mode):
            with open(path, mode, **text) as through:
                write(through)
            return
        handle, name = tempfile.mkstemp(dir=path.parent, prefix=f"{path.name}.partial-")
    except OSError as error:
        raise cannot_write(path, error) from error
    try:
        with os.fdopen(handle, mode, **text) as temporary:
            write(temporary)
            temporary.flush()
            os.fsync(temporary.fileno())
        os.chmod(name, _mode_for(path))
        os.replace(name, path)
    except BaseException as error:
        try:
            os.unlink(name)
        except OSError:
            pass
        if isinstance(error, OSError):
            raise cannot_write(path, error) from error
        raise


class LineAppender:
    """Appends whole lines to a file.  A write that fails (a full disk) is undone back to the
    last whole line before `OutputError` is raised, so the file never ends in part of a line
    this appender wrote."""

    def __init__(self, path: Path) -> None:
        self._path = Path(path)
        try:
            self._file = open(self._path, "ab", buffering=0)
        except OSError as error:
            raise cannot_write(self._path, error) from error
        self._whole = self._file.seek(0, os.SEEK_END)

    def append(self, text: str) -> None:
        data = memoryview(text.encode("utf-8"))
        try:
            while data:
                written = self._file.write(data)
                data = data[written:]
            self._whole = self._file.tell()
        except OSError as error:
            try:
                os.ftruncate(self._file.fileno(), self._whole)
            except OSError:
                pass
            raise cannot_write(self._path, error) from error

    def close(self) -> None:
        self._file.close()

    def __enter__(self) -> "LineAppender":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()
