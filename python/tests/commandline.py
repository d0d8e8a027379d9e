"""The ``lumetra`` program the package is held to, and readers of what it writes."""

from __future__ import annotations

import csv
import io
import subprocess
from pathlib import Path

import numpy as np

# The longest a command-line run on the small golden images may take before the test fails
# instead of hanging.
COMMAND_TIMEOUT_SECONDS = 120


class CommandLine:
    """The ``lumetra`` program, run with CSV output."""

    def __init__(self, binary: Path) -> None:
        self.binary = binary

    def run(self, *arguments: object) -> subprocess.CompletedProcess[str]:
        return subprocess.run(
            [str(self.binary), *map(str, arguments)],
            capture_output=True,
            text=True,
            check=False,
            timeout=COMMAND_TIMEOUT_SECONDS,
        )

    def rows(self, original: Path, degraded: list[Path], *options: object) -> list[dict]:
        """The CSV rows of one run, in the order of `degraded`."""
        done = self.run("--format", "csv", *options, original, *degraded)
        assert done.returncode in (0, 1), done.stderr
        return list(csv.DictReader(io.StringIO(done.stdout)))

    def usage_error(self, *arguments: object) -> str:
        """The first line the program writes to stderr when it refuses a command line."""
        done = self.run(*arguments)
        assert done.returncode == 2, done.stdout + done.stderr
        return done.stderr.splitlines()[0]


def as_float32(text: str) -> np.float32:
    """A number the command line printed with nine significant digits: the float it was."""
    return np.float32(text)


def read_pfm(path: Path) -> np.ndarray:
    """A greyscale little-endian float map as the command line writes it (bottom row first)."""
    data = path.read_bytes()
    magic, size, scale, pixels = data.split(b"\n", 3)
    assert magic == b"Pf" and float(scale) < 0
    cols, rows = map(int, size.split())
    return np.frombuffer(pixels, dtype="<f4").reshape(rows, cols)[::-1]
