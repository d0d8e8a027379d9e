"""A batch on a Dask cluster gives every pair the row one engine gives it, in the order given."""

from __future__ import annotations

import os
import random
import sys
from pathlib import Path

import dask
import pytest

import lumetra
from lumetra.distributed import (
    COLUMNS,
    DEFAULT_CHUNK_SIZE,
    EXPLANATION_COLUMNS,
    EngineCache,
    local_client,
    plan_tasks,
    scheduler_client,
    score_pairs,
)

DEGRADATIONS = ("copy", "noise", "blur", "blocks", "hue")


def expected_error(call) -> str:
    try:
        call()
    except lumetra.Error as error:
        return str(error)
    raise AssertionError("no error")


# Engines in low-memory mode give the same rows to the last bit.
@pytest.mark.parametrize("low_memory", [False, True])
def test_a_local_batch_gives_each_pair_its_row_in_order(
    golden: Path, tmp_path: Path, low_memory: bool
):
    missing = tmp_path / "missing.ppm"
    square = [(golden / "scene64.ppm", golden / f"scene64__{d}.ppm") for d in DEGRADATIONS]
    odd = [(golden / "scene97x64.ppm", golden / f"scene97x64__{d}.ppm") for d in DEGRADATIONS]
    # The two references interleaved, so that tasks finish out of order; then the faults.
    pairs = [pair for both in zip(square, odd) for pair in both] + [
        (golden / "scene64.ppm", missing),
        (golden / "scene64.ppm", golden / "scene97x64__noise.ppm"),
        (missing, golden / "scene64__noise.ppm"),
    ]
    frame = score_pairs(pairs, explain=True, chunk_size=2, low_memory=low_memory)

    assert list(frame.columns) == COLUMNS + EXPLANATION_COLUMNS
    assert frame["reference"].tolist() == [os.fspath(reference) for reference, _ in pairs]
    assert frame["degraded"].tolist() == [os.fspath(degraded) for _, degraded in pairs]
    engines = {name: lumetra.Engine(golden / name) for name in ("scene64.ppm", "scene97x64.ppm")}
    for (reference, degraded), row in zip(pairs[:10], frame.itertuples()):
        expected = engines[reference.name].score(degraded, explain=True)
        assert (row.measure, row.score, row.error) == (expected.measure, expected.score, "")
        assert frame.loc[row.Index, EXPLANATION_COLUMNS].tolist() == [
            expected.explanation[name] for name in EXPLANATION_COLUMNS
        ]
    engine = engines["scene64.ppm"]
    assert frame["error"].tolist()[10:] == [
        expected_error(lambda: engine.score(missing)),
        expected_error(lambda: engine.score(golden / "scene97x64__noise.ppm")),
        "reference: " + expected_error(lambda: lumetra.Engine(missing)),
    ]
    assert frame.loc[10:, ["measure", "score"]].isna().all().all()


class FakeEngine:
    def __init__(self, rows: int, cols: int) -> None:
        self.shape = (rows, cols)


def test_the_engine_cache_drops_the_least_recently_used_beyond_its_budget():
    from lumetra import distributed

    # Room for two 10 x 10 engines.
    cache = EngineCache(2 * 100 * distributed.ENGINE_BYTES_PER_PIXEL)
    params = lumetra.Parameters()
    built: list[str] = []

    def get(reference: str, params: lumetra.Parameters = params):
        return cache.get(reference, params, lambda: built.append(reference) or FakeEngine(10, 10))

    first = get("a")
    get("b")
    assert get("a") is first  # "a" is now the most recently used
    get("c")  # over budget: "b" goes
    get("a")
    get("b")
    assert built == ["a", "b", "c", "b"]
    assert len(cache) == 2
    get("a", lumetra.Parameters(beta=2.0))  # other parameters, another engine
    assert built[-1] == "a" and len(cache) == 2


def test_a_workers_engines_stay_within_their_share_of_its_memory_limit(golden: Path):
    import dask
    from distributed import Client, LocalCluster

    from lumetra import distributed

    # A limit whose engine share holds one and a half 64 x 64 engines: each new reference
    # pushes the one before it out.
    share = int(1.5 * 64 * 64 * distributed.ENGINE_BYTES_PER_PIXEL)
    limit = int(share / distributed.ENGINE_MEMORY_SHARE) + 1
    stems = ("scene64", "scene97x64", "scene128x96")
    pairs = [(golden / f"{stem}.ppm", golden / f"{stem}__noise.ppm") for stem in stems]
    # The worker runs in this process, with Dask's own memory actions off: the limit is far
    # below what any process takes and serves only to size the cache.
    no_memory_actions = {
        f"distributed.worker.memory.{name}": False
        for name in ("target", "spill", "pause", "terminate")
    }
    with dask.config.set(no_memory_actions), LocalCluster(
        n_workers=1, threads_per_worker=1, processes=False, memory_limit=limit,
        dashboard_address=":0",
    ) as cluster, Client(cluster) as client:
        frame = score_pairs(pairs, client=client, chunk_size=1)
        [(held, count, budget)] = client.run(
            lambda dask_worker: (
                dask_worker.lumetra_engines.held_bytes,
                len(dask_worker.lumetra_engines),
                dask_worker.lumetra_engines._budget,
            )
        ).values()
    assert budget == int(limit * distributed.ENGINE_MEMORY_SHARE)
    # Only the newest engine (tasks run in the scheduler's order) is left, alone above the
    # budget.
    sizes = {rows * cols * distributed.ENGINE_BYTES_PER_PIXEL for rows, cols in
             ((64, 64), (64, 97), (96, 128))}
    assert count == 1 and held in sizes
    for (reference, degraded), measure in zip(pairs, frame["measure"]):
        assert measure == lumetra.Engine(reference).score(degraded).measure


def test_a_workers_engines_of_one_size_share_their_filters_and_score_as_engines_alone(
    golden: Path,
):
    from distributed import Client, LocalCluster

    # Two references of 64 x 64 and one of 97 x 64: filters of two sizes, each made once.
    references = ("scene64.ppm", "scene64__blur.ppm", "scene97x64.ppm")
    degraded = ("scene64__noise.ppm", "scene64__hue.ppm", "scene97x64__noise.ppm")
    pairs = [(golden / reference, golden / path) for reference, path in zip(references, degraded)]
    with LocalCluster(
        n_workers=1, threads_per_worker=1, processes=False, dashboard_address=":0"
    ) as cluster, Client(cluster) as client:
        frame = score_pairs(pairs, client=client, chunk_size=1)
        [(engines, filters)] = client.run(
            lambda dask_worker: (
                len(dask_worker.lumetra_engines), len(dask_worker.lumetra_engines.filters)
            )
        ).values()
    assert (engines, filters) == (3, 2)
    # Shared filters are the same numbers: equal to the last bit to an engine made alone.
    for (reference, path), measure in zip(pairs, frame["measure"]):
        assert measure == lumetra.Engine(reference).score(path).measure


def test_a_scheduler_client_is_connected_inside_its_block_and_closed_after_it():
    from distributed import LocalCluster

    with scheduler_client(None) as none:
        assert none is None  # no address: the caller starts a local cluster when it must
    with LocalCluster(n_workers=0, processes=False, dashboard_address=":0") as cluster:
        with scheduler_client(cluster.scheduler_address) as client:
            assert client.status == "running"
            assert client.scheduler.address == cluster.scheduler_address
        assert client.status == "closed"


def test_the_plan_gives_each_worker_its_share_and_keeps_references_whole():
    # 120 pairs over 10 references, two workers of one thread: 60 pairs each, and each
    # reference on one worker only (10 engines in all, one per reference).
    references = [f"r{k // 12}" for k in range(120)]
    tasks = plan_tasks(references, {"a": 1, "b": 1}, DEFAULT_CHUNK_SIZE)
    load = {"a": 0, "b": 0}
    for task in tasks:
        load[task.worker] += len(task.indices)
    assert load == {"a": 60, "b": 60}
    assert len({(task.worker, task.reference) for task in tasks}) == 10


def test_fewer_references_than_workers_still_keep_every_worker_busy():
    # Two references, six workers: each reference spreads over three workers, 20 pairs each.
    references = [f"r{k // 60}" for k in range(120)]
    workers = {f"w{k}": 1 for k in range(6)}
    tasks = plan_tasks(references, workers, DEFAULT_CHUNK_SIZE)
    load = dict.fromkeys(workers, 0)
    for task in tasks:
        load[task.worker] += len(task.indices)
    assert load == dict.fromkeys(workers, 20)
    assert len({(task.worker, task.reference) for task in tasks}) == 6


def test_any_plan_scores_each_pair_once_with_no_worker_idle_or_beyond_its_share():
    # Random batches and clusters (workers of one or two threads): every pair in exactly one
    # task of its own reference, no task above the chunk size, every worker given work when
    # there are at least as many pairs as workers, and no worker more than one task's worth
    # above its threads' share of the pairs.
    rng = random.Random(3)
    for _ in range(500):
        count = rng.randint(1, 200)
        references = [f"r{rng.randrange(rng.randint(1, 12))}" for _ in range(count)]
        workers = {f"w{k}": rng.choice([1, 2]) for k in range(rng.randint(1, 8))}
        chunk_size = rng.randint(1, 20)
        tasks = plan_tasks(references, workers, chunk_size)
        assert sorted(i for task in tasks for i in task.indices) == list(range(count))
        size = max(len(task.indices) for task in tasks)
        assert size <= chunk_size
        load = dict.fromkeys(workers, 0)
        for task in tasks:
            assert {references[i] for i in task.indices} == {task.reference}
            load[task.worker] += len(task.indices)
        threads = sum(workers.values())
        for worker, given in load.items():
            assert given <= count * workers[worker] / threads + size, (worker, load)
            if count >= len(workers):
                assert given > 0, (worker, load)
    # A cluster without workers yet: tasks of at most chunk_size, offered to none.
    assert [(t.indices, t.worker) for t in plan_tasks(["r"] * 5, {}, 2)] == [
        ([0, 1], None), ([2, 3], None), ([4], None)]


def _listening_sockets(pids: set[int]) -> set[tuple[str, int]]:
    """(address, port) of each socket the processes listen on, from /proc."""
    inodes = set()
    for pid in pids:
        try:
            for fd in os.listdir(f"/proc/{pid}/fd"):
                target = os.readlink(f"/proc/{pid}/fd/{fd}")
                if target.startswith("socket:["):
                    inodes.add(target[8:-1])
        except OSError:
            continue
    listening = set()
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as lines:
            for line in list(lines)[1:]:
                fields = line.split()
                address, port = fields[1].split(":")
                if fields[3] == "0A" and fields[9] in inodes:  # 0A: LISTEN
                    listening.add((address, int(port, 16)))
    return listening


def _process_tree(root: int) -> set[int]:
    children: dict[int, list[int]] = {}
    for name in os.listdir("/proc"):
        if name.isdigit():
            try:
                with open(f"/proc/{name}/stat") as stat:
                    parent = int(stat.read().rsplit(")", 1)[1].split()[1])
            except OSError:
                continue
            children.setdefault(parent, []).append(int(name))
    tree, todo = set(), [root]
    while todo:
        pid = todo.pop()
        tree.add(pid)
        todo.extend(children.get(pid, []))
    return tree


def test_the_local_cluster_listens_on_the_loopback_address_only():
    loopback = "0100007F"  # 127.0.0.1 as /proc/net/tcp writes it
    with local_client(None, 2) as client:
        client.wait_for_workers(2, timeout=60)
        listening = _listening_sockets(_process_tree(os.getpid()))
        dashboard = int(client.dashboard_link.split(":")[2].split("/")[0])
        # Ready before any task: the module imported, the profiler off (see local_client).
        ready = client.run(
            lambda: ("lumetra.distributed" in sys.modules,
                     dask.config.get("distributed.worker.profile.enabled"))
        )
    assert list(ready.values()) == [(True, False)] * 2
    ports = {port for _, port in listening}
    # The scheduler, its dashboard, and two workers and their nannies at least.
    assert dashboard in ports and len(ports) >= 6, listening
    assert {address for address, _ in listening} == {loopback}, listening
