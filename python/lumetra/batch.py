"""python3 -m lumetra.batch MANIFEST.csv --out RESULTS.csv: score a manifest of image pairs on
a Dask cluster.

The manifest has the columns ``reference,degraded`` (relative paths are taken from the
manifest's folder).  Results are appended to RESULTS.csv as tasks finish, one whole line at a
time, and the file is sorted into manifest order at the end; with --resume the pairs already
in RESULTS.csv are skipped, so an interrupted batch loses nothing.  The sorted file, and the
kept lines a resumed batch starts from, replace RESULTS.csv whole (a temporary file beside it,
renamed); a write that fails takes back the part of a line it wrote.
"""

from __future__ import annotations

import argparse
import csv
import io
import logging
import math
import sys
import time
from pathlib import Path
from typing import Callable, Optional, TextIO

from distributed import Client

from lumetra._commands import (
    EXIT_FAILURE,
    EXIT_SUCCESS,
    EXIT_USAGE,
    add_reading_options,
    log_to_stderr,
)
from lumetra._core import ParameterError, Parameters, Profile, display_ppd
from lumetra._files import LineAppender, OutputError, write_text_atomically
from lumetra.distributed import (
    COLUMNS,
    DEFAULT_CHUNK_SIZE,
    EXPLANATION_COLUMNS,
    SCHEDULER_TIMEOUT_SECONDS,
    SchedulerLostError,
    local_client,
    said_once,
    scored_chunks,
)

log = logging.getLogger("lumetra.batch")

PROGRAM = "lumetra.batch"
# Significant digits of the numbers written, as the command line's CSV: a float reads back
# as itself.
NUMBER_DIGITS = 9
MANIFEST_COLUMNS = ("reference", "degraded")
# The largest --max-pixels, and the default: the image readers' own limit (2^28).
MAX_PIXELS = 1 << 28
# Seconds between progress lines when stderr is not a terminal.
PROGRESS_SECONDS = 5.0


class BatchError(Exception):
    """A manifest or result file that the batch cannot use; ends the program before any work."""


Pair = tuple[str, str]


def read_manifest(path: Path) -> tuple[list[Pair], list[Pair]]:
    """The pairs of a manifest as written in it, and as paths to open.

    Raises
    ------
    BatchError
        When the file cannot be read, lacks a column, or has a line that is not two paths.
    """
    folder = path.parent
    try:
        with open(path, newline="", encoding="utf-8") as text:
            reader = csv.reader(text)
            header = next(reader, None)
            if header is None:
                raise BatchError(f"{path}: empty; the first line must be reference,degraded")
            missing = [name for name in MANIFEST_COLUMNS if name not in header]
            if missing:
                raise BatchError(
                    f"{path}: no column {', '.join(missing)} (the first line must name "
                    f"reference,degraded; got {','.join(header)})"
                )
            where = [header.index(name) for name in MANIFEST_COLUMNS]
            written: list[Pair] = []
            for fields in reader:
                if not fields:
                    continue
                if len(fields) != len(header) or not all(fields[i] for i in where):
                    raise BatchError(
                        f"{path}:{reader.line_num}: expected {len(header)} fields with a "
                        f"reference and a degraded path (got {','.join(fields)})"
                    )
                written.append((fields[where[0]], fields[where[1]]))
    except (OSError, UnicodeDecodeError, csv.Error) as error:
        raise BatchError(f"{path}: {error}") from error
    if not written:
        raise BatchError(f"{path}: no pairs")
    opened = [(str(folder / reference), str(folder / degraded)) for reference, degraded in written]
    return written, opened


def _number(value: float) -> str:
    return "" if math.isnan(value) else f"{value:.{NUMBER_DIGITS}g}"


def _line(fields: list[str]) -> str:
    text = io.StringIO()
    csv.writer(text, lineterminator="\n").writerow(fields)
    return text.getvalue()


def _row_fields(pair: Pair, row: dict, columns: list[str]) -> list[str]:
    fields = [pair[0], pair[1]]
    for name in columns[2:]:
        value = row[name]
        fields.append(value if isinstance(value, str) else _number(value))
    return fields


def read_done(path: Path, columns: list[str]) -> dict[Pair, str]:
    """The whole lines of an earlier run's results, by pair; a last line cut short by an
    interruption is left out.  A line is whole when it is exactly the line this program
    writes for its fields, so a path holding a line break or a quote is read back too.

    Raises
    ------
    BatchError
        When the file has other columns than this run writes.
    """
    try:
        text = path.read_text(encoding="utf-8")
    except FileNotFoundError:
        return {}
    except (OSError, UnicodeDecodeError) as error:
        raise BatchError(f"{path}: {error}") from error
    stream = io.StringIO(text)
    records = csv.reader(stream)
    start = 0
    done: dict[Pair, str] = {}
    for number, fields in enumerate(records):
        end = stream.tell()
        line, start = text[start:end], end
        if number == 0:
            if fields != columns:
                raise BatchError(
                    f"{path}: its columns are not this run's ({','.join(columns)}); "
                    "write to another file or drop --resume"
                )
        elif len(fields) == len(columns) and _line(fields) == line:
            done[(fields[0], fields[1])] = line
    return done


class Progress:
    """Pairs done, pairs per second and the time left: redrawn on one line of a terminal,
    logged at INFO level (--verbose) as each task finishes, and otherwise, when stderr is not
    a terminal (a log file, a job's output), written as a log line at most every
    `interval` seconds, so that a long batch is never silent."""

    def __init__(
        self,
        total: int,
        already: int,
        stream: TextIO,
        interval: float = PROGRESS_SECONDS,
        clock: Callable[[], float] = time.monotonic,
    ) -> None:
        self.total = total
        self.done = already
        self._first = already
        self._clock = clock
        self._start = clock()
        self._last_line = self._start
        self._interval = interval
        self._stream = stream
        self._terminal = stream.isatty()

    def advance(self, count: int) -> None:
        self.done += count
        now = self._clock()
        elapsed = now - self._start
        rate = (self.done - self._first) / elapsed if elapsed > 0 else 0.0
        left = (self.total - self.done) / rate if rate > 0 else math.inf
        text = f"{self.done}/{self.total} pairs, {rate:.1f} pairs/s, " + (
            f"{left:.0f} s left" if math.isfinite(left) else "time left unknown"
        )
        log.info("%s", text)
        if self._terminal:
            self._stream.write("\r" + text + "\x1b[K")
            self._stream.flush()
        elif not log.isEnabledFor(logging.INFO) and now - self._last_line >= self._interval:
            self._stream.write(f"{PROGRAM}: {text}\n")
            self._stream.flush()
            self._last_line = now

    def close(self) -> None:
        if self._terminal:
            self._stream.write("\n")
            self._stream.flush()


def run(
    written: list[Pair],
    opened: list[Pair],
    out: Path,
    params: Parameters,
    *,
    client: Optional[Client],
    resume: bool,
    explain: bool,
    workers: Optional[int],
    chunk_size: int,
    max_pixels: Optional[int] = None,
    low_memory: bool = False,
    colour: str = "as-stored",
    orientation: str = "as-stored",
) -> int:
    """Score every pair not yet in `out`, append its line as its task finishes, then sort
    `out` into manifest order.  Every file is read with `colour` and `orientation` (see
    `lumetra.read_image`), and what a file calls for saying (a colour space other than sRGB
    or its reference's, an orientation) is logged once as a warning.  Returns the exit
    status.

    Raises
    ------
    BatchError
        When `out` cannot be written at all (before any work).
    OutputError
        When `out` cannot be written later; it then holds whole lines only, which --resume
        keeps.
    SchedulerLostError
        When the cluster's scheduler goes away; `out` holds the pairs scored until then.
    """
    columns = COLUMNS + (EXPLANATION_COLUMNS if explain else [])
    done = read_done(out, columns) if resume else {}
    # Each pair once, in manifest order, with the paths to open it by.
    paths = dict(zip(written, opened))
    wanted = list(paths)
    todo = [pair for pair in wanted if pair not in done]
    failed: set[Pair] = {pair for pair in done if _error_of(done[pair])}

    def write_lines(pairs: list[Pair]) -> Callable[[TextIO], None]:
        def write(results: TextIO) -> None:
            results.write(_line(columns))
            for pair in pairs:
                results.write(done[pair])

        return write

    # The earlier whole lines stay and a line cut short goes, in a file that replaces the old
    # one whole: an interruption here loses nothing.  Results that cannot be written at all
    # are refused before any work, as an unusable manifest is.
    try:
        write_text_atomically(out, write_lines([pair for pair in wanted if pair in done]))
    except OutputError as error:
        raise BatchError(str(error)) from error
    progress = Progress(len(wanted), len(wanted) - len(todo), sys.stderr)
    told: set[str] = set()
    if todo:
        with LineAppender(out) as results, local_client(client, workers) as running:
            to_open = [paths[pair] for pair in todo]
            chunks = scored_chunks(
                running,
                to_open,
                params,
                explain,
                chunk_size,
                max_pixels=max_pixels,
                low_memory=low_memory,
                colour=colour,
                orientation=orientation,
            )
            for indices, rows in chunks:
                lines = []
                for index, row in zip(indices, rows):
                    pair = todo[index]
                    done[pair] = _line(_row_fields(pair, row, columns))
                    lines.append(done[pair])
                    if row["error"]:
                        failed.add(pair)
                results.append("".join(lines))  # whole lines, or none of them
                for notice in said_once(rows, told):
                    log.warning("%s", notice)
                progress.advance(len(indices))
    progress.close()
    # Manifest order, written whole before it replaces the appended file.
    write_text_atomically(out, write_lines(wanted))
    if failed:
        log.warning("%d of %d pairs failed; see the error column of %s", len(failed),
                    len(wanted), out)
    return EXIT_FAILURE if failed else EXIT_SUCCESS


def _error_of(line: str) -> str:
    """The error field of a whole result line."""
    return next(csv.reader(io.StringIO(line)))[COLUMNS.index("error")]


def parser() -> argparse.ArgumentParser:
    options = argparse.ArgumentParser(
        prog=f"python3 -m {PROGRAM}",
        description="Scores every (reference, degraded) pair of MANIFEST.csv on a Dask "
        "cluster and writes one row per pair: the measure (pooled visible error, lower is "
        "better), the score (1 to 5, higher is better) and an error column.",
        epilog="Exit status: 0 when every pair was scored, 1 when any failed (its row says "
        "why) or the batch stopped (results that could no longer be written, the scheduler "
        "gone: --resume goes on from where it stopped), 2 for a usage error, an unusable "
        "manifest or results that cannot be written.",
    )
    options.add_argument("manifest", type=Path, metavar="MANIFEST.csv",
                         help="columns reference,degraded; relative paths from its folder")
    options.add_argument("--out", type=Path, required=True, metavar="RESULTS.csv",
                         help="the results, in manifest order")
    options.add_argument("--scheduler", metavar="tcp://HOST:PORT",
                         help="run on this cluster (default: a local one, one "
                         "single-threaded worker per core)")
    options.add_argument("--workers", type=int, metavar="N",
                         help="workers of the local cluster (default: one per core)")
    options.add_argument("--resume", action="store_true",
                         help="keep the pairs already in RESULTS.csv and score the others")
    options.add_argument("--explain", action="store_true",
                         help="add where each measure comes from (the columns of lumetra "
                         "--explain)")
    options.add_argument("--low-memory", action="store_true",
                         help="build the engines in low-memory mode: the same results, about "
                         "100 bytes per pixel less per engine, more time per pair")
    options.add_argument("--chunk-size", type=int, default=DEFAULT_CHUNK_SIZE, metavar="N",
                         help=f"most pairs per task (default: {DEFAULT_CHUNK_SIZE})")
    options.add_argument("--max-pixels", metavar="N",
                         help="refuse image files of more than N pixels, from their header "
                         f"and before reading their pixels (default and largest: {MAX_PIXELS}); "
                         "for files from untrusted sources")
    add_reading_options(options)
    options.add_argument("--verbose", action="store_true", help="log progress to stderr")
    model = options.add_argument_group("model parameters (defaults: the model's)")
    model.add_argument("--alpha", type=float, help="exponent of the 32 x 32 block weight")
    model.add_argument("--beta", type=float, help="exponent of the Minkowski mean")
    model.add_argument("--co", type=float,
                       help="weight of pixels where the edge structure changed")
    model.add_argument("-a", "--slope", dest="a", type=float,
                       help="slope of the score line: score = offset - slope x measure")
    model.add_argument("-b", "--offset", dest="b", type=float, help="score of a zero measure")
    for name, what in [
        ("intra-a", "intra-channel masking of the A bands"),
        ("inter-a", "inter-channel switch of A"),
        ("intra-c1", "intra-channel masking of the C1 bands"),
        ("inter-c1", "masking of the C1 bands by the A and C2 bands"),
        ("intra-c2", "intra-channel masking of the C2 bands"),
        ("inter-c2", "inter-channel switch of C2"),
    ]:
        model.add_argument(f"--{name}", action=argparse.BooleanOptionalAction, help=what)
    viewing = model.add_mutually_exclusive_group()
    viewing.add_argument("--ppd", type=float,
                         help="pixels per degree of visual angle (larger: a farther viewer, "
                         "fine detail matters less)")
    viewing.add_argument("--display", metavar="WIDTH_PX,WIDTH_CM,DISTANCE_CM",
                         help="screen width in pixels, screen width in centimetres and viewing "
                         "distance in centimetres, e.g. 1920,53,70: the pixels per degree are "
                         "the pixels one degree of visual angle spans at that distance (as "
                         "lumetra --display)")
    model.add_argument("--profile", type=Path, metavar="PROFILE.json",
                       help="calibration profile (as python3 -m lumetra.fit writes it): its "
                       "parameters, viewing conditions and score mapping replace the defaults; "
                       "the options above win over it, as on the lumetra command line (-a and "
                       "-b replace a logistic profile's curve only when both are given)")
    return options


PARAMETER_OPTIONS = ("alpha", "beta", "co", "a", "b", "intra_a", "inter_a", "intra_c1",
                     "inter_c1", "intra_c2", "inter_c2", "ppd")


def _attach_numbers(argv: list[str], parsing: argparse.ArgumentParser) -> list[str]:
    """`argv` with each number option joined to its value ("--beta=-inf"): argparse takes a
    value such as -inf or -1e5 that starts with a dash for an option, and would refuse it with
    another message than the parameters' own."""
    numeric = {
        name
        for action in parsing._actions
        if action.type is float
        for name in action.option_strings
    }
    joined: list[str] = []
    pending = None
    for token in argv:
        if pending is not None and token.startswith("-"):
            try:
                float(token)
            except ValueError:
                joined.append(pending)
            else:
                joined.append(f"{pending}={token}")
                pending = None
                continue
        elif pending is not None:
            joined.append(pending)
        pending = token if token in numeric else None
        if pending is None:
            joined.append(token)
    if pending is not None:
        joined.append(pending)
    return joined


def parameters_of(args: argparse.Namespace) -> Parameters:
    """The run's parameters: the profile's (or the defaults), each option given winning.

    Raises
    ------
    lumetra.ProfileError, lumetra.ParameterError
        For an unusable profile or value (both ValueErrors), with the command line's message.
    """
    given = {name: getattr(args, name) for name in PARAMETER_OPTIONS}
    if args.display is not None:
        given["ppd"] = display_ppd(args.display)
    given = {name: value for name, value in given.items() if value is not None}
    if args.profile is None:
        return Parameters(**given)
    params = Profile.load(args.profile).parameters
    line = {name: given.pop(name) for name in ("a", "b") if name in given}
    if line and params.mapping == "logistic":
        if len(line) < 2:
            raise ParameterError(
                "the profile scores with a logistic curve; -a/--slope and -b/--offset replace "
                "it by a line only when both are given"
            )
        params.logistic = None
    for name, value in {**given, **line}.items():
        setattr(params, name, value)
    return params


def main(argv: Optional[list[str]] = None) -> int:
    options = parser()
    given_argv = sys.argv[1:] if argv is None else argv
    args = options.parse_args(_attach_numbers(given_argv, options))
    log_to_stderr(log, PROGRAM, args.verbose)
    if args.chunk_size < 1:
        options.error(f"--chunk-size must be at least 1 (got {args.chunk_size})")
    if args.workers is not None and args.workers < 1:
        options.error(f"--workers must be at least 1 (got {args.workers})")
    max_pixels = None
    if args.max_pixels is not None:
        max_pixels = _max_pixels(args.max_pixels)
        if max_pixels is None:
            options.exit(EXIT_USAGE, f"{PROGRAM}: --max-pixels must be a whole number from 1 "
                         f"to {MAX_PIXELS} (got {args.max_pixels})\n")
    try:
        params = parameters_of(args)
        written, opened = read_manifest(args.manifest)
    except (ValueError, BatchError) as error:
        options.exit(EXIT_USAGE, f"{PROGRAM}: {error}\n")
    client = None
    try:
        if args.scheduler:
            client = Client(args.scheduler, timeout=SCHEDULER_TIMEOUT_SECONDS)
        return run(written, opened, args.out, params, client=client, resume=args.resume,
                   explain=args.explain, workers=args.workers, chunk_size=args.chunk_size,
                   max_pixels=max_pixels, low_memory=args.low_memory, colour=args.colour,
                   orientation=args.orientation)
    except BatchError as error:
        options.exit(EXIT_USAGE, f"{PROGRAM}: {error}\n")
    except SchedulerLostError as error:
        options.exit(EXIT_FAILURE, f"{PROGRAM}: {error}; the pairs scored until then are in "
                     f"{args.out}: run again with --resume to score the others\n")
    except Exception as error:  # results not writable, the cluster gone: one line, status 1
        options.exit(EXIT_FAILURE, f"{PROGRAM}: {error}\n")
    finally:
        if client is not None:
            _close(client)


def _max_pixels(text: str) -> Optional[int]:
    """The pixel limit `text` gives, or None when it is not a whole number from 1 to
    MAX_PIXELS."""
    if not text.isascii() or not text.isdigit():
        return None
    value = int(text)
    return value if 1 <= value <= MAX_PIXELS else None


def _close(client: Client) -> None:
    """Closes the client; one whose scheduler is gone is closed without Dask's own reports of
    the lost connection, which the batch's one line has already given."""
    if client.status == "running":
        client.close()
        return
    logging.disable(logging.CRITICAL)
    try:
        client.close()
    finally:
        logging.disable(logging.NOTSET)


if __name__ == "__main__":
    sys.exit(main())
