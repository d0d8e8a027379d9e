"""Fixtures the tests share: the golden images and the command line.

ctest sets LUMETRA_TEST_DATA_DIR (the repository's tests/data) and LUMETRA_BINARY (the
``lumetra`` program of the same build tree) and puts the built package on PYTHONPATH.
"""

from __future__ import annotations

import os
from pathlib import Path

import pytest

from commandline import CommandLine


def _environment_path(name: str) -> Path:
    value = os.environ.get(name)
    if not value:
        raise RuntimeError(f"{name} is not set; run these tests through ctest")
    return Path(value)


@pytest.fixture(scope="session")
def golden() -> Path:
    return _environment_path("LUMETRA_TEST_DATA_DIR") / "golden"


@pytest.fixture(scope="session")
def command_line() -> CommandLine:
    return CommandLine(_environment_path("LUMETRA_BINARY"))
