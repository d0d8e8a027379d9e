"""What the package's commands share: their log lines on stderr and the options of the Dask
cluster they score on, with the checks of those options.

Nothing here imports Dask: a command's --help and its usage errors stay quick.
"""

from __future__ import annotations

import argparse
import logging
import sys


def log_to_stderr(log: logging.Logger, program: str, verbose: bool) -> None:
    """Sends `log`'s records to stderr as ``PROGRAM: message`` lines: from INFO up with
    `verbose`, else from WARNING up.  Dask's own loggers keep their own configuration.

    Parameters
    ----------
    log : logging.Logger
        The command's logger; it gets its handler once, however often the command's ``main``
        runs in one process.
    program : str
        The name every line starts with.
    verbose : bool
        The command's --verbose.
    """
    if not log.handlers:
        handler = logging.StreamHandler(sys.stderr)
        handler.setFormatter(logging.Formatter(f"{program}: %(message)s"))
        log.addHandler(handler)
    log.setLevel(logging.INFO if verbose else logging.WARNING)


def add_cluster_options(options: argparse.ArgumentParser) -> None:
    """Adds --scheduler (a Dask scheduler's address) and --workers (the size of the local
    cluster started without one); `check_cluster_options` checks them once parsed."""
    options.add_argument("--scheduler", metavar="tcp://HOST:PORT",
                         help="score on this Dask cluster (default: a local one)")
    options.add_argument("--workers", type=int, metavar="N",
                         help="workers of the local cluster (default: one per core)")


def check_cluster_options(args: argparse.Namespace) -> None:
    """Checks the options `add_cluster_options` added.

    Raises
    ------
    ValueError
        When --workers is less than 1; the message names the option and the value.
    """
    if args.workers is not None and args.workers < 1:
        raise ValueError(f"--workers must be at least 1 (got {args.workers})")
