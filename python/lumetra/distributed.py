"""Scoring many image pairs on a Dask cluster.

The pairs are grouped by reference and cut into tasks of a few degraded files each (at most
`chunk_size`; fewer when the batch is small next to the cluster), and each task is offered
first to one worker (`plan_tasks`): every worker gets its share of the pairs, a reference's
pairs stay on one worker as long as that worker's share allows, and a reference with more
pairs than one worker's share goes on to the next, so that a batch of fewer references than
workers still keeps every worker busy.  Each worker keeps the engines it has built, in a cache
bounded by memory that drops the least recently used first: one reference is decomposed once
per worker that scores it, not once per pair.  Idle workers may still take a task offered to
another.

A file that cannot be read, or is not the reference's size, becomes a row with an error and
the batch goes on.  A scheduler that goes away ends the batch with `SchedulerLostError`: its
tasks are lost, not failed, so they never become error rows.
"""

from __future__ import annotations

import logging
import math
import os
import threading
from collections import OrderedDict
from contextlib import contextmanager
from dataclasses import dataclass
from typing import Callable, Iterable, Iterator, Optional, Union

import dask
import numpy as np
import pandas as pd
from distributed import Client, LocalCluster, as_completed, get_worker

from lumetra._api import Engine, ProfileLike, _parameters, read_image
from lumetra._core import (
    ENGINE_BYTES_PER_PIXEL,
    LOW_MEMORY_ENGINE_BYTES_PER_PIXEL,
    Error,
    FiltersCache,
    Parameters,
    check_reading,
)
from lumetra.pooling import PoolingInputs

PathLike = Union[str, "os.PathLike[str]"]

#: The columns of every result, before the explanation's.
COLUMNS = ["reference", "degraded", "measure", "score", "error"]
#: The column ``pooling=True`` adds: what the pooling needs (`lumetra.pooling.PoolingInputs`).
POOLING_COLUMN = "pooling"
#: The columns ``compare=True`` adds: PSNR in dB and SSIM (scikit-image), higher is better.
COMPARISON_COLUMNS = ["psnr", "ssim"]
# PSNR of identical images, which is infinite: a finite value above any real one, so that
# they still rank best and the statistics stay finite.
IDENTICAL_PSNR_DB = 100.0
#: The key of a row's notices: what the files' colour spaces and orientations call for saying
#: (a list of str), not a column.
NOTICES_KEY = "notices"
#: The logger the notices are said on, as `lumetra.read_image` says them.
NOTICE_LOGGER = "lumetra"
#: The columns --explain adds, in the command line's order.
EXPLANATION_COLUMNS = [
    "term_base", "term_crown2", "term_crown3", "term_crown4", "channel_A", "channel_C1",
    "channel_C2", "structure_share", "p50", "p95", "p99", "max",
]

# Most degraded files per task: small enough for the scheduler to balance a batch, large
# enough that a task's overhead is small next to its scoring.
DEFAULT_CHUNK_SIZE = 16
# Tasks per worker thread the plan aims at, at least: a worker that finishes early then finds
# work left to take over, and tasks shrink below DEFAULT_CHUNK_SIZE for small batches.
TASKS_PER_THREAD = 4
# The part of a worker's memory limit its engines may take; the rest is for scoring.
ENGINE_MEMORY_SHARE = 0.25
# The attribute under which a worker keeps its engines.
_CACHE_ATTRIBUTE = "lumetra_engines"
#: The address the local cluster's servers listen on.
LOCAL_HOST = "127.0.0.1"
#: Seconds a command's client waits for the scheduler given by --scheduler before giving up.
SCHEDULER_TIMEOUT_SECONDS = 30
#: Dask settings of the local cluster: no statistical profiler sampling every server's event
#: loop and every worker's running task 100 times a second (its only use is the dashboard's
#: profile page), and the event-loop health check once a second instead of 50 times (it still
#: warns of a loop blocked for 3 s).  Idle, the servers of a two-worker cluster took about
#: 90 ms of processor time a second with Dask's defaults and 35 ms with these: time the
#: workers lose when there are as many of them as cores.
LOCAL_CLUSTER_CONFIG = {
    "distributed.worker.profile.enabled": False,
    "distributed.admin.tick.interval": "1s",
}


class SchedulerLostError(ConnectionError):
    """The Dask scheduler went away in the middle of a batch; the pairs not yet scored were
    not scored at all."""


class EngineCache:
    """Engines by (reference, parameters), at most `budget` bytes of them, least recently used
    dropped first, and the band filters they are built with (`filters`).  Safe for the threads
    of one worker."""

    def __init__(self, budget: int) -> None:
        self._budget = budget
        self._engines: OrderedDict[tuple, tuple[Engine, int]] = OrderedDict()
        self._lock = threading.Lock()
        #: Band filters for the engines of this cache: the references of a batch mostly share
        #: one size and viewing condition, whose filters (about one score's work) are then
        #: made once per worker, not once per reference.  Bounded by the FiltersCache itself.
        self.filters = FiltersCache()

    def get(
        self,
        reference: str,
        params: Parameters,
        build: Callable[[], Engine],
        max_pixels: Optional[int] = None,
        low_memory: bool = False,
        reading: tuple[str, str] = ("as-stored", "as-stored"),
    ) -> Engine:
        # The repr holds every value in its shortest exact text, so it tells parameters apart;
        # an engine built under a larger pixel limit must not serve a smaller one, nor an
        # engine whose original was read with other colour or orientation choices.
        key = (reference, repr(params), max_pixels, low_memory, reading)
        with self._lock:
            if key in self._engines:
                self._engines.move_to_end(key)
                return self._engines[key][0]
        engine = build()
        rows, cols = engine.shape
        per_pixel = LOW_MEMORY_ENGINE_BYTES_PER_PIXEL if low_memory else ENGINE_BYTES_PER_PIXEL
        size = rows * cols * per_pixel
        with self._lock:
            self._engines[key] = (engine, size)
            self._engines.move_to_end(key)
            # The newest engine always stays, even alone above the budget.
            while len(self._engines) > 1 and self._held() > self._budget:
                self._engines.popitem(last=False)
        return engine

    def _held(self) -> int:
        return sum(size for _, size in self._engines.values())

    @property
    def held_bytes(self) -> int:
        """Bytes the cached engines hold, estimated from their size."""
        with self._lock:
            return self._held()

    def __len__(self) -> int:
        return len(self._engines)


def _worker_cache() -> EngineCache:
    worker = get_worker()
    cache = getattr(worker, _CACHE_ATTRIBUTE, None)
    if cache is None:
        limit = worker.memory_manager.memory_limit or (
            os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
        )
        cache = EngineCache(int(limit * ENGINE_MEMORY_SHARE))
        setattr(worker, _CACHE_ATTRIBUTE, cache)
    return cache


class _NoticeTaker(logging.Filter):
    """Takes what the "lumetra" logger is told about files on one thread (a task's) instead of
    letting it out on the worker, whose log nobody reads: the notices travel with the rows."""

    def __init__(self) -> None:
        super().__init__()
        self._thread = threading.get_ident()
        self.said: list[str] = []

    def filter(self, record: logging.LogRecord) -> bool:
        if record.thread != self._thread:
            return True
        self.said.append(record.getMessage())
        return False


@contextmanager
def _taken_notices() -> Iterator[list[str]]:
    """The notices about files logged on this thread inside the block, in order."""
    logger = logging.getLogger(NOTICE_LOGGER)
    taker = _NoticeTaker()
    logger.addFilter(taker)
    try:
        yield taker.said
    finally:
        logger.removeFilter(taker)


def said_once(rows: Iterable[dict], seen: set[str]) -> list[str]:
    """The notices of `rows` (``"x.png": declares colour profile ...``) not in `seen`, in order;
    `seen` gets them.  A file of many pairs, or read for its PSNR too, is told about once."""
    new = []
    for row in rows:
        for notice in row.get(NOTICES_KEY, ()):
            if notice not in seen:
                seen.add(notice)
                new.append(notice)
    return new


def _error_row(error: str, explain: bool, pooling: bool = False, compare: bool = False) -> dict:
    row = {"measure": np.nan, "score": np.nan, "error": error}
    if explain:
        row.update(dict.fromkeys(EXPLANATION_COLUMNS, np.nan))
    if pooling:
        row[POOLING_COLUMN] = None
    if compare:
        row.update(dict.fromkeys(COMPARISON_COLUMNS, np.nan))
    return row


def _comparison(reference: np.ndarray, degraded: np.ndarray, maxval: int) -> dict:
    """PSNR (dB) and SSIM of the colour images (scikit-image), higher is better."""
    from skimage.metrics import peak_signal_noise_ratio, structural_similarity

    if np.array_equal(reference, degraded):
        psnr = IDENTICAL_PSNR_DB
    else:
        psnr = float(peak_signal_noise_ratio(reference, degraded, data_range=maxval))
    ssim = float(structural_similarity(reference, degraded, channel_axis=2, data_range=maxval))
    return {"psnr": psnr, "ssim": ssim}


def score_chunk(
    reference: str,
    degraded: list[str],
    params: Parameters,
    explain: bool,
    pooling: bool = False,
    compare: bool = False,
    max_pixels: Optional[int] = None,
    low_memory: bool = False,
    colour: str = "as-stored",
    orientation: str = "as-stored",
) -> list[dict]:
    """Score degraded files against one reference on a worker: one dict per file, in order.

    Runs on a Dask worker, whose engine cache it uses.  Every Lumetra error (a file that
    cannot be read, a size that differs, a measure that is not a finite number, an engine too
    large for the worker's memory) and every path the file system refuses becomes that row's
    ``error``.  With `pooling`, each row also holds its compact `PoolingInputs` (about 4 bytes
    a pixel); with `compare`, the PSNR and SSIM of the pair.  With `low_memory`, the engines
    are built in low-memory mode (see `lumetra.Engine`).  Every file is read with `colour`
    and `orientation` (see `lumetra.read_image`), the PSNR and SSIM's too.  What the files
    call for saying (a colour space other than sRGB or than the reference's, an orientation,
    an animation's first frame) is not logged on the worker but kept in each row's
    ``notices``, a list of lines: the reference's with the first row.
    """
    reading = {"colour": colour, "orientation": orientation}
    with _taken_notices() as said:
        rows = _scored_rows(
            reference, degraded, params, explain, pooling, compare, max_pixels, low_memory,
            reading, said,
        )
    return rows


def _scored_rows(
    reference: str,
    degraded: list[str],
    params: Parameters,
    explain: bool,
    pooling: bool,
    compare: bool,
    max_pixels: Optional[int],
    low_memory: bool,
    reading: dict[str, str],
    said: list[str],
) -> list[dict]:
    """`score_chunk`'s rows, each with the notices `said` got while it was made (the
    reference's go with the first row)."""
    try:
        cache = _worker_cache()
        engine = cache.get(
            reference,
            params,
            lambda: Engine(
                reference,
                params,
                threads=1,
                max_pixels=max_pixels,
                filters_cache=cache.filters,
                low_memory=low_memory,
                **reading,
            ),
            max_pixels,
            low_memory,
            (reading["colour"], reading["orientation"]),
        )
        original = read_image(reference, max_pixels=max_pixels, **reading) if compare else None
    except (Error, OSError, ValueError) as error:
        rows = [_error_row(f"reference: {error}", explain, pooling, compare) for _ in degraded]
        if rows:
            rows[0][NOTICES_KEY] = list(said)
        return rows
    rows = []
    for path in degraded:
        try:
            result = engine.score(path, explain or pooling)
            samples = read_image(path, max_pixels=max_pixels, **reading) if compare else None
        except (Error, OSError, ValueError) as error:
            rows.append(_error_row(str(error), explain, pooling, compare))
            rows[-1][NOTICES_KEY] = list(said)
            said.clear()
            continue
        row = {"measure": result.measure, "score": result.score, "error": ""}
        if explain:
            row.update(result.explanation)
        if pooling:
            maps = result.explanation_maps
            row[POOLING_COLUMN] = PoolingInputs.from_maps(result.error_map, maps["edge_zone"])
        if compare:
            maxval = max(original[1], samples[1])
            row.update(_comparison(original[0], samples[0], maxval))
        row[NOTICES_KEY] = list(said)
        said.clear()
        rows.append(row)
    return rows


def _imported() -> None:
    """Nothing: run on a worker, it makes the worker import this module to find it."""


@contextmanager
def local_client(client: Optional[Client], workers: Optional[int] = None) -> Iterator[Client]:
    """`client` itself, or without one a client of a local cluster of `workers` (default: one
    per core) single-threaded workers, closed again on leaving."""
    if client is not None:
        yield client
        return
    # Everything it starts listens on the loopback address only, on any free port (never a
    # clash with another cluster's): the scheduler and its dashboard, the nannies, the workers
    # and their HTTP servers (which Dask otherwise opens on every address even with their
    # dashboard off).  The servers run without their background sampling (see
    # LOCAL_CLUSTER_CONFIG), and the workers import this module as the cluster starts, not on
    # their first task in the batch (a quarter of a second, on every worker at once).
    with dask.config.set(LOCAL_CLUSTER_CONFIG), LocalCluster(
        n_workers=workers or os.cpu_count() or 1,
        threads_per_worker=1,
        host=LOCAL_HOST,
        dashboard_address=f"{LOCAL_HOST}:0",
        worker_dashboard_address=f"{LOCAL_HOST}:0",
    ) as cluster, Client(cluster) as local:
        local.run(_imported)
        yield local


@contextmanager
def scheduler_client(address: Optional[str]) -> Iterator[Optional[Client]]:
    """A client of the Dask scheduler at `address` (a command's --scheduler), closed again on
    leaving; None without an address, for `local_client` to start a local cluster in its
    place when there is something to score.

    Raises
    ------
    OSError
        When no scheduler answers at `address` within `SCHEDULER_TIMEOUT_SECONDS`.
    """
    if not address:
        yield None
        return
    client = Client(address, timeout=SCHEDULER_TIMEOUT_SECONDS)
    try:
        yield client
    finally:
        client.close()


@dataclass(frozen=True)
class Task:
    """Pairs of one reference scored by one task: their indices, and the worker it is offered
    to first (None when the cluster has no workers yet)."""

    reference: str
    indices: list[int]
    worker: Optional[str]


def plan_tasks(
    references: list[str], workers: dict[str, int], chunk_size: int
) -> list[Task]:
    """The tasks of a batch: each pair's reference in `references`, the cluster's `workers`
    (address: threads) and the most pairs per task.

    The pairs of a reference, in order, are cut into tasks of the same size: `chunk_size`, or
    fewer so that there are at least TASKS_PER_THREAD tasks per thread.  References are taken
    largest first; each task goes to the worker the reference's previous task went to while
    that worker stays within its share of the pairs (its threads' part of the whole), else to
    the worker with the least work for its threads.  So no worker is left idle while another
    holds more than its share (when there are at least as many pairs as workers), and each
    worker scores few references: a reference is split only where a share ends.
    """
    by_reference: dict[str, list[int]] = {}
    for index, reference in enumerate(references):
        by_reference.setdefault(reference, []).append(index)
    total = len(references)
    threads = sum(workers.values())
    if not workers or total == 0:
        return [
            Task(reference, indices[start : start + chunk_size], None)
            for reference, indices in by_reference.items()
            for start in range(0, len(indices), chunk_size)
        ]
    size = max(1, min(chunk_size, math.ceil(total / (TASKS_PER_THREAD * threads))))
    load = dict.fromkeys(workers, 0)
    share = {worker: total * count / threads for worker, count in workers.items()}
    tasks = []
    # Largest first, then in order of appearance (sorted is stable).
    for reference, indices in sorted(by_reference.items(), key=lambda item: -len(item[1])):
        current: Optional[str] = None
        for start in range(0, len(indices), size):
            chunk = indices[start : start + size]
            if current is None or load[current] + len(chunk) > share[current]:
                current = min(workers, key=lambda worker: load[worker] / workers[worker])
            load[current] += len(chunk)
            tasks.append(Task(reference, chunk, current))
    return tasks


def _scheduler_lost(client: Client) -> SchedulerLostError:
    address = getattr(client.scheduler, "address", None) or "(unknown address)"
    return SchedulerLostError(f"lost the Dask scheduler {address}")


def scored_chunks(
    client: Client,
    pairs: list[tuple[str, str]],
    params: Parameters,
    explain: bool,
    chunk_size: int = DEFAULT_CHUNK_SIZE,
    *,
    pooling: bool = False,
    compare: bool = False,
    max_pixels: Optional[int] = None,
    low_memory: bool = False,
    colour: str = "as-stored",
    orientation: str = "as-stored",
) -> Iterator[tuple[list[int], list[dict]]]:
    """Score (reference, degraded) pairs on `client`'s cluster, yielding each task's results
    as it finishes: the indices of its pairs and one row dict (``measure``, ``score``,
    ``error`` and the explanation's columns) for each.  Every file is read with `colour` and
    `orientation` (see `lumetra.read_image`).

    A worker that dies has its tasks rerun elsewhere by the scheduler; a task that fails
    for good (it killed every worker that tried it) yields error rows.

    Raises
    ------
    SchedulerLostError
        When the scheduler goes away: the tasks not yet finished are lost, not failed.
    """
    workers = {
        address: info.get("nthreads", 1) or 1
        for address, info in sorted(client.scheduler_info()["workers"].items())
    }
    references = [os.path.abspath(reference) for reference, _ in pairs]
    degraded = [os.path.abspath(path) for _, path in pairs]
    futures = {}
    for task in plan_tasks(references, workers, chunk_size):
        indices = task.indices
        # Offered first to the worker the plan gave it; any may take it.
        placement = (
            {"workers": [task.worker], "allow_other_workers": True} if task.worker else {}
        )
        future = client.submit(
            score_chunk,
            task.reference,
            [degraded[i] for i in indices],
            params,
            explain,
            pooling,
            compare,
            max_pixels,
            low_memory,
            colour,
            orientation,
            pure=False,
            **placement,
        )
        futures[future] = indices
    lost = False
    try:
        for future in as_completed(futures):
            indices = futures.pop(future)
            try:
                rows = future.result()
            except Exception as failure:
                # Only a task that raised (or killed every worker that ran it) failed.  A future
                # cancelled, or a result that could not be fetched, is the scheduler gone: its
                # pairs are not scored, not failed.
                if future.status != "error":
                    lost = True
                    raise _scheduler_lost(client) from failure
                rows = [
                    _error_row(f"task failed: {failure}", explain, pooling, compare)
                    for _ in indices
                ]
            yield indices, rows
    finally:
        # Stopped early (the caller failed or gave up): nothing is left running or held.  Without
        # its scheduler there is nothing to cancel, and the client would wait to reconnect.
        if futures and not lost and client.status == "running":
            client.cancel(list(futures))


def score_pairs(
    pairs: Iterable[tuple[PathLike, PathLike]],
    params: Optional[Parameters] = None,
    client: Optional[Client] = None,
    explain: bool = False,
    *,
    chunk_size: int = DEFAULT_CHUNK_SIZE,
    pooling: bool = False,
    compare: bool = False,
    profile: Optional[ProfileLike] = None,
    low_memory: bool = False,
    colour: str = "as-stored",
    orientation: str = "as-stored",
) -> pd.DataFrame:
    """Score (reference, degraded) pairs of image files on a Dask cluster.

    Parameters
    ----------
    pairs : iterable of (path, path)
        The image files, reference first.  Relative paths are taken from the current folder;
        every worker must be able to read the files at the same absolute paths.
    params : lumetra.Parameters, optional
        The model's parameters; the defaults when not given.
    client : distributed.Client, optional
        The cluster to run on.  Without one, a local cluster with one single-threaded worker
        per core is started and closed again.
    explain : bool, default False
        Add the explanation numbers (the command line's ``--explain`` columns).
    chunk_size : int, default 16
        Most degraded files one task scores.
    pooling : bool, default False
        Add the column ``pooling``: each pair's `lumetra.pooling.PoolingInputs` (the error
        map, block weight and edge zone, about 4 bytes a pixel), from which the measure at any
        alpha, beta and co follows without scoring again (None for a failed pair).
    compare : bool, default False
        Add the columns ``psnr`` (dB) and ``ssim`` of scikit-image, higher is better.
    profile : lumetra.Profile or path, optional
        A calibration profile instead of `params`: its parameters, viewing conditions and
        score mapping (loaded here, once, and sent to the workers).
    low_memory : bool, default False
        Build the workers' engines in low-memory mode (see `lumetra.Engine`): the same
        numbers, less memory per engine, more time per pair.
    colour : {"as-stored", "srgb"}, default "as-stored"
        What to do with each file's colour profile, as `lumetra.read_image` and the command
        line's ``--colour``: "srgb" converts every file to sRGB first, so that a pair whose
        files declare different colour spaces is scored on the colours meant.
    orientation : {"as-stored", "apply"}, default "as-stored"
        What to do with each file's EXIF orientation, as `lumetra.read_image` and the command
        line's ``--orientation``: "apply" turns every file as it is meant to be shown first.

    Returns
    -------
    pandas.DataFrame
        One row per pair, in the order given: ``reference`` and ``degraded`` as given,
        ``measure`` (lower is better), ``score`` (higher is better), ``error`` (empty for a
        scored pair; NaN measure and score otherwise), then the explanation's columns, the
        pooling inputs and the comparison's columns when asked for.

    Notes
    -----
    What a file calls for saying is logged once, as a warning of the "lumetra" logger as
    `lumetra.read_image` logs it, as its task finishes: a colour space other than sRGB, or
    than its reference's, scored as stored; an EXIF orientation; an animation read as its
    first frame.

    Raises
    ------
    ValueError
        When a pair is not two paths, `chunk_size` is less than 1, or `colour` or
        `orientation` is not one of its names (before any work).
    lumetra.ProfileError
        When `profile` is a path that is not a usable profile (a ValueError).
    TypeError
        When both `params` and `profile` are given.
    """
    params = _parameters(params, profile)
    check_reading(colour=colour, orientation=orientation)
    if chunk_size < 1:
        raise ValueError(f"chunk_size must be at least 1 (got {chunk_size})")
    given = [tuple(pair) for pair in pairs]
    if any(len(pair) != 2 for pair in given):
        raise ValueError("every pair must be (reference, degraded)")
    as_text = [(os.fspath(reference), os.fspath(path)) for reference, path in given]
    rows: list[Optional[dict]] = [None] * len(as_text)
    told: set[str] = set()
    notices = logging.getLogger(NOTICE_LOGGER)
    with local_client(client) as running:
        for indices, scored in scored_chunks(
            running,
            as_text,
            params,
            explain,
            chunk_size,
            pooling=pooling,
            compare=compare,
            low_memory=low_memory,
            colour=colour,
            orientation=orientation,
        ):
            for index, row in zip(indices, scored):
                rows[index] = row
            for notice in said_once(scored, told):
                notices.warning("%s", notice)
    columns = (
        COLUMNS
        + (EXPLANATION_COLUMNS if explain else [])
        + ([POOLING_COLUMN] if pooling else [])
        + (COMPARISON_COLUMNS if compare else [])
    )
    frame = pd.DataFrame(rows, columns=columns[2:])
    frame.insert(0, "degraded", [path for _, path in as_text])
    frame.insert(0, "reference", [reference for reference, _ in as_text])
    return frame[columns]
