"""Files the batch writes appear whole or not at all."""

from __future__ import annotations

import errno
import os
import stat
from pathlib import Path

import pytest

from lumetra._files import OutputError, write_text_atomically


def _fail_half_way(file) -> None:
    file.write("new, half")
    raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC))


def test_a_write_that_fails_keeps_the_old_file_and_leaves_nothing_else(tmp_path: Path):
    target = tmp_path / "results.csv"
    target.write_text("old\n")
    with pytest.raises(OutputError, match=f"^cannot write {target}: No space left on device$"):
        write_text_atomically(target, _fail_half_way)
    assert target.read_text() == "old\n"
    assert [path.name for path in tmp_path.iterdir()] == ["results.csv"]


def test_a_new_file_gets_the_umask_mode_and_a_replaced_one_keeps_its_own(tmp_path: Path):
    fresh, kept = tmp_path / "fresh.csv", tmp_path / "kept.csv"
    kept.write_text("old\n")
    kept.chmod(0o640)
    umask = os.umask(0o022)
    try:
        for target in (fresh, kept):
            write_text_atomically(target, lambda file: file.write("new\n"))
    finally:
        os.umask(umask)
    assert stat.S_IMODE(fresh.stat().st_mode) == 0o644
    assert stat.S_IMODE(kept.stat().st_mode) == 0o640
    assert fresh.read_text() == kept.read_text() == "new\n"

