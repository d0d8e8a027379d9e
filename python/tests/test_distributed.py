"""A batch on a Dask cluster gives every pair the row one engine gives it, in the order given."""

from __future__ import annotations

import os
from pathlib import Path

import pytest

import lumetra
from lumetra.distributed import (
    COLUMNS,
    EXPLANATION_COLUMNS,
    EngineCache,
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


def test_a_scheduler_client_is_connected_inside_its_block_and_closed_after_it():
    from distributed import LocalCluster

    with scheduler_client(None) as none:
        assert none is None  # no address: the caller starts a local cluster when it must
    with LocalCluster(n_workers=0, processes=False, dashboard_address=":0") as cluster:
        with scheduler_client(cluster.scheduler_address) as client:
            assert client.status == "running"
            assert client.scheduler.address == cluster.scheduler_address
        assert client.status == "closed"
