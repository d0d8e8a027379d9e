"""A batch on a Dask cluster gives every pair the row one engine gives it, in the order given."""

from __future__ import annotations

import os
from pathlib import Path

import lumetra
from lumetra.distributed import COLUMNS, EXPLANATION_COLUMNS, EngineCache, score_pairs

DEGRADATIONS = ("copy", "noise", "blur", "blocks", "hue")


def expected_error(call) -> str:
    try:
        call()
    except lumetra.Error as error:
        return str(error)
    raise AssertionError("no error")


def test_a_local_batch_gives_each_pair_its_row_in_order(golden: Path, tmp_path: Path):
    missing = tmp_path / "missing.ppm"
    square = [(golden / "scene64.ppm", golden / f"scene64__{d}.ppm") for d in DEGRADATIONS]
    odd = [(golden / "scene97x64.ppm", golden / f"scene97x64__{d}.ppm") for d in DEGRADATIONS]
    # The two references interleaved, so that tasks finish out of order; then the faults.
    pairs = [pair for both in zip(square, odd) for pair in both] + [
        (golden / "scene64.ppm", missing),
        (golden / "scene64.ppm", golden / "scene97x64__noise.ppm"),
        (missing, golden / "scene64__noise.ppm"),
    ]
    frame = score_pairs(pairs, explain=True, chunk_size=2)

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
