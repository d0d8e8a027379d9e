"""What the package's commands share: their exit statuses, their log lines on stderr, the
options of the Dask cluster they score on with the checks of those options, and the scoring
step on that cluster.

Nothing here imports Dask until a command scores: its --help and its usage errors stay quick.
"""

from __future__ import annotations

import argparse
import importlib
import logging
import sys
from contextlib import ExitStack
from typing import TYPE_CHECKING, Callable, Optional, TypeVar

if TYPE_CHECKING:
    from distributed import Client

# Exit statuses, as the command line's: all done; something could not be done (the output or
# the message says what); a usage error or an unusable input or output, before any work.
EXIT_SUCCESS = 0
EXIT_FAILURE = 1
EXIT_USAGE = 2

Scored = TypeVar("Scored")


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


def require_modules(
    options: argparse.ArgumentParser, program: str, modules: dict[str, str]
) -> None:
    """Ends the command with `EXIT_USAGE` and one line when an optional module it needs is
    not installed: ``PROGRAM: --plot needs the Python module matplotlib (Debian package
    python3-matplotlib), which is not installed``.  Checked before any work, so that nothing
    is scored in vain.

    Parameters
    ----------
    modules : dict of str to str
        Each module to import, with what needs it ("--plot", "fitting").
    """
    for module, needed_by in modules.items():
        try:
            importlib.import_module(module)
        except ImportError:
            package = "python3-" + module.split(".")[0]
            options.exit(EXIT_USAGE, f"{program}: {needed_by} needs the Python module {module} "
                         f"(Debian package {package}), which is not installed\n")


def add_cluster_options(options: argparse.ArgumentParser) -> None:
    """Adds --scheduler (a Dask scheduler's address) and --workers (the size of the local
    cluster started without one); `check_cluster_options` checks them once parsed."""
    options.add_argument("--scheduler", metavar="tcp://HOST:PORT",
                         help="score on this Dask cluster (default: a local one)")
    options.add_argument("--workers", type=int, metavar="N",
                         help="workers of the local cluster (default: one per core)")


#: The choices of --colour and --orientation, as the ``lumetra`` command line spells them.
COLOUR_CHOICES = ("as-stored", "srgb")
ORIENTATION_CHOICES = ("as-stored", "apply")


def add_reading_options(options: argparse.ArgumentParser) -> None:
    """Adds --colour (alias --color) and --orientation, the ``lumetra`` command line's options
    for what is done with a file's colour profile and EXIF orientation; parsed into
    ``args.colour`` and ``args.orientation``, "as-stored" unless given."""
    options.add_argument(
        "--colour", "--color", dest="colour", choices=COLOUR_CHOICES, default="as-stored",
        metavar="MODE",
        help="what to do with a file's colour profile (embedded ICC, PNG sRGB/gAMA/cHRM): "
        "as-stored (default) scores the samples as sRGB values whatever the file declares; "
        "srgb converts every file to sRGB through Little CMS first (relative colorimetric). "
        "Use srgb when files carry different profiles, so that the measure sees the colours "
        "meant rather than the conversion")
    options.add_argument(
        "--orientation", choices=ORIENTATION_CHOICES, default="as-stored", metavar="MODE",
        help="what to do with a file's EXIF orientation: as-stored (default) scores the pixels "
        "in stored order; apply turns each file as it is meant to be shown first")


def check_cluster_options(args: argparse.Namespace) -> None:
    """Checks the options `add_cluster_options` added.

    Raises
    ------
    ValueError
        When --workers is less than 1; the message names the option and the value.
    """
    if args.workers is not None and args.workers < 1:
        raise ValueError(f"--workers must be at least 1 (got {args.workers})")


def score_on_cluster(
    options: argparse.ArgumentParser,
    program: str,
    scheduler: Optional[str],
    score: Callable[[Optional[Client]], Scored],
) -> Scored:
    """Runs a command's scoring step with a client of its --scheduler.

    Parameters
    ----------
    options : argparse.ArgumentParser
        The command's parser, which ends it on a failure.
    program : str
        The name the failure's line starts with.
    scheduler : str or None
        The --scheduler address; without one `score` gets None and starts a local cluster
        itself if it has anything to score.
    score : callable
        The scoring step, given the client (or None); its result is returned.

    Any failure (the scheduler not reached or gone, the cache not writable) ends the command
    with `EXIT_FAILURE` and one line, ``PROGRAM: message``; the client is closed after that
    line, so that Dask's own reports of a lost scheduler follow it.
    """
    closing = ExitStack()
    try:
        from lumetra.distributed import scheduler_client

        return score(closing.enter_context(scheduler_client(scheduler)))
    except Exception as error:
        options.exit(EXIT_FAILURE, f"{program}: {error}\n")
    finally:
        closing.close()
