"""Output files that appear whole or not at all, as the command line writes its own.

A file is written under a temporary name in its own folder, flushed to the disk and renamed
into place, so that a reader never sees part of it and a failed write (a full disk, an
unwritable folder) leaves the earlier file, or nothing, behind.  A symbolic link at the name
is replaced by the file, never followed: the file it points to is neither written nor, for a
dangling link, created.  Only a device, a pipe or a socket, named directly or through links
(``/dev/full``, a link to ``/dev/null``), and what the standard descriptors' names lead to
(``/dev/stdout``, ``/proc/self/fd/N``, even a redirected plain file) is written through in
place instead.
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
    """The mode of the plain file being replaced, or of a new file (0666 less the umask),
    also in place of a link: its target's mode is not copied."""
    try:
        status = os.lstat(path)
        if stat.S_ISREG(status.st_mode):
            return stat.S_IMODE(status.st_mode)
    except FileNotFoundError:
        pass
    umask = os.umask(0)
    os.umask(umask)
    return _NEW_FILE_MODE & ~umask


def _is_descriptor_name(path: Path) -> bool:
    """Whether `path` is in /dev or /proc once its folder's links are followed: the names of
    the standard descriptors (/dev/stdout, /dev/fd/1, /proc/self/fd/1)."""
    folder = os.path.realpath(path.parent)
    return any(folder == top or folder.startswith(top + "/") for top in ("/dev", "/proc"))


def _writes_through(status: os.stat_result, path: Path) -> bool:
    mode = status.st_mode
    return (stat.S_ISCHR(mode) or stat.S_ISBLK(mode) or stat.S_ISFIFO(mode)
            or stat.S_ISSOCK(mode) or (stat.S_ISREG(mode) and _is_descriptor_name(path)))


def _target_written_through(path: Path) -> bool:
    """Whether an existing name is written through in place rather than replaced."""
    try:
        status = os.lstat(path)
    except FileNotFoundError:
        return False
    if stat.S_ISREG(status.st_mode) or stat.S_ISDIR(status.st_mode):
        return False
    if stat.S_ISLNK(status.st_mode):
        try:
            return _writes_through(os.stat(path), path)
        except OSError:  # a dangling link, or a loop: replaced
            return False
    return True


def _write_in_place(path: Path, write: Callable, mode: str, text: dict) -> bool:
    """Write through `path`, opened without creating anything; False when what was opened is
    not written through after all (a link changed since), so that it is replaced instead."""
    handle = os.open(path, os.O_WRONLY | os.O_NOCTTY | os.O_CLOEXEC)
    try:
        status = os.fstat(handle)
        if not _writes_through(status, path):
            os.close(handle)
            return False
        if stat.S_ISREG(status.st_mode):
            os.ftruncate(handle, 0)
    except BaseException:
        os.close(handle)
        raise
    with os.fdopen(handle, mode, **text) as through:
        write(through)
    return True


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
        if _target_written_through(path) and _write_in_place(path, write, mode, text):
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
