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



def test_a_link_at_the_name_is_replaced_and_its_target_left_alone(tmp_path: Path):
    outside = tmp_path / "outside"
    outside.mkdir()
    victim = outside / "victim.csv"
    victim.write_text("keep\n")
    victim.chmod(0o600)
    folder = tmp_path / "results"
    folder.mkdir()
    link = folder / "results.csv"
    link.symlink_to(victim)
    umask = os.umask(0o022)
    try:
        write_text_atomically(link, lambda file: file.write("new\n"))
    finally:
        os.umask(umask)
    assert not link.is_symlink() and link.read_text() == "new\n"
    assert stat.S_IMODE(link.stat().st_mode) == 0o644
    assert victim.read_text() == "keep\n"
    assert stat.S_IMODE(victim.stat().st_mode) == 0o600


def test_a_dangling_link_is_replaced_without_making_its_target(tmp_path: Path):
    missing = tmp_path / "elsewhere" / "made.csv"
    missing.parent.mkdir()
    link = tmp_path / "results.csv"
    link.symlink_to(missing)
    write_text_atomically(link, lambda file: file.write("new\n"))
    assert not link.is_symlink() and link.read_text() == "new\n"
    assert not os.path.lexists(missing)


def test_devices_and_descriptor_names_are_written_through(tmp_path: Path):
    link = tmp_path / "null.csv"
    link.symlink_to("/dev/null")
    write_text_atomically(link, lambda file: file.write("new\n"))
    assert link.is_symlink()
    redirected = tmp_path / "redirected.csv"
    redirected.write_text("old, longer\n")
    with open(redirected, "rb") as held:
        write_text_atomically(Path(f"/proc/self/fd/{held.fileno()}"),
                              lambda file: file.write("new\n"))
    assert redirected.read_text() == "new\n"
    assert sorted(path.name for path in tmp_path.iterdir()) == ["null.csv", "redirected.csv"]
    full = tmp_path / "full.csv"
    full.symlink_to("/dev/full")
    with pytest.raises(OutputError, match="No space left on device"):
        write_text_atomically(full, lambda file: file.write("new\n"))
