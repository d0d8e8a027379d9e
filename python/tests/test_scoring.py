"""The package scores as the command line does, to the last bit, however the images come."""

from __future__ import annotations

import pickle
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import numpy as np
import pytest

import lumetra
from commandline import as_float32, read_pfm

DEGRADATIONS = ("copy", "noise", "blur", "blocks", "hue")

# Each original of tests/data/golden with its degraded files: square, odd x even and a larger
# non-square scene, a 16-bit original (samples x 257) and a plain (P3) one.
GOLDEN_SETS = {
    "scene64": ("scene64.ppm", [f"scene64__{d}.ppm" for d in DEGRADATIONS]),
    "scene97x64": ("scene97x64.ppm", [f"scene97x64__{d}.ppm" for d in DEGRADATIONS]),
    "scene128x96": ("scene128x96.ppm", [f"scene128x96__{d}.ppm" for d in DEGRADATIONS]),
    "16-bit": ("scene64_16bit.ppm", ["scene64__noise_16bit.ppm", "scene64__noise.ppm"]),
    "plain": ("scene64_plain.ppm", ["scene64__noise_plain.ppm", "scene64__blur.ppm"]),
}


def assert_same_numbers(result: lumetra.Result, row: dict, what: str) -> None:
    assert np.float32(result.measure) == as_float32(row["measure"]), what
    assert np.float32(result.score) == as_float32(row["score"]), what


@pytest.mark.parametrize("name", GOLDEN_SETS)
def test_arrays_and_paths_score_as_the_command_line(golden: Path, command_line, name: str):
    original_name, degraded_names = GOLDEN_SETS[name]
    original = golden / original_name
    degraded = [golden / d for d in degraded_names]
    rows = command_line.rows(original, degraded)
    assert len(rows) == len(degraded)

    samples, maxval = lumetra.read_image(original)
    assert samples.dtype == (np.uint8 if maxval <= 255 else np.uint16)
    from_array = lumetra.Engine(samples, maxval=maxval)
    from_path = lumetra.Engine(original)
    for path, row in zip(degraded, rows):
        assert row["error"] == "", row
        image, image_maxval = lumetra.read_image(path)
        assert_same_numbers(from_array.score(image, maxval=image_maxval), row, path.name)
        assert_same_numbers(from_path.score(path), row, path.name)


# Parameters that change every step they reach, given to the package and to the command line.
PARAMETER_CASES = {
    "weights and viewing": (
        dict(alpha=0.5, beta=2.0, co=3.0, a=0.001, b=4.5, ppd=30.0),
        ["--alpha", "0.5", "--beta", "2", "--co", "3", "-a", "0.001", "-b", "4.5", "--ppd", "30"],
    ),
    "masking switches": (
        dict(intra_a=False, intra_c1=False, inter_c1=True, intra_c2=False, inter_c2=True),
        ["--no-intra-a", "--no-intra-c1", "--inter-c1", "--no-intra-c2", "--inter-c2"],
    ),
}


@pytest.mark.parametrize("case", PARAMETER_CASES)
def test_parameters_reach_the_engine_as_from_the_command_line(golden, command_line, case):
    keywords, options = PARAMETER_CASES[case]
    original, degraded = golden / "scene97x64.ppm", golden / "scene97x64__blocks.ppm"
    [row] = command_line.rows(original, [degraded], *options)
    params = lumetra.Parameters(**keywords)
    assert_same_numbers(lumetra.score(original, degraded, params), row, case)


# Pairs with changed edge structure (blocks), a colour change only (hue) and noise.
EXPLAINED_PAIRS = [
    ("scene97x64.ppm", "scene97x64__blocks.ppm"),
    ("scene97x64.ppm", "scene97x64__hue.ppm"),
    ("scene64.ppm", "scene64__noise.ppm"),
]

# The share map is F / sum(F) rounded to float per pixel: its sum in double is 1 within about
# 6e-8 on these sizes; 1e-6 leaves room for the sum's own rounding.
SHARE_SUM_TOL = 1e-6


@pytest.mark.parametrize("pair", EXPLAINED_PAIRS, ids=lambda pair: pair[1])
def test_explanation_is_the_command_lines(golden, command_line, tmp_path, pair):
    original, degraded = golden / pair[0], golden / pair[1]
    options = ["--explain", "--float-maps", tmp_path, "--explain-maps", tmp_path]
    [row] = command_line.rows(original, [degraded], *options)
    result = lumetra.Engine(original).score(degraded, explain=True)

    assert_same_numbers(result, row, pair[1])
    stem = degraded.stem
    assert np.array_equal(result.error_map, read_pfm(tmp_path / f"{stem}.errmap.pfm"))
    assert set(result.explanation) == {
        "term_base", "term_crown2", "term_crown3", "term_crown4", "channel_A", "channel_C1",
        "channel_C2", "structure_share", "p50", "p95", "p99", "max",
    }
    for name, value in result.explanation.items():
        assert np.float32(value) == as_float32(row[name]), name
    assert len(result.explanation_maps) == 10
    for name, plane in result.explanation_maps.items():
        assert plane.dtype == np.float32 and plane.shape == result.error_map.shape, name
        written = read_pfm(tmp_path / f"{stem}.{name.replace('_', '-')}.pfm")
        assert np.array_equal(plane, written), name

    # The four terms, added in their order in float, are the error map to the last bit.
    maps = result.explanation_maps
    terms = ((maps["term_base"] + maps["term_crown2"]) + maps["term_crown3"]) + maps["term_crown4"]
    assert np.array_equal(terms, result.error_map)
    assert abs(maps["share"].sum(dtype=np.float64) - 1.0) <= SHARE_SUM_TOL
    # Explaining does not change the comparison.
    plain = lumetra.score(original, degraded)
    assert (plain.measure, plain.score) == (result.measure, result.score)
    assert np.array_equal(plain.error_map, result.error_map)


def samples_of(golden: Path, name: str) -> np.ndarray:
    samples, maxval = lumetra.read_image(golden / name)
    assert maxval == 255
    return samples


# Other ways of handing over the same image, each of which must score exactly as the plain
# C-ordered uint8 array: (how the array is made, the maxval to give).
LAYOUTS = {
    "Fortran order": (np.asfortranarray, None),
    "strided view": (lambda x: np.repeat(x, 2, axis=1)[:, ::2], None),
    "reversed view": (lambda x: x[::-1, ::-1][::-1, ::-1], None),
    "big-endian uint16": (lambda x: x.astype(">u2"), 255),
    "uint16 x 257": (lambda x: x.astype(np.uint16) * 257, None),
    "alpha channel": (lambda x: np.dstack([x, np.full(x.shape[:2], 7, np.uint8)]), None),
}


@pytest.mark.parametrize("layout", LAYOUTS)
def test_every_layout_of_an_array_scores_alike(golden: Path, layout: str):
    original = samples_of(golden, "scene97x64.ppm")
    degraded = samples_of(golden, "scene97x64__noise.ppm")
    expected = lumetra.score(original, degraded)
    convert, maxval = LAYOUTS[layout]
    result = lumetra.score(convert(original), convert(degraded), maxval=maxval)
    assert (result.measure, result.score) == (expected.measure, expected.score)
    assert np.array_equal(result.error_map, expected.error_map)


def test_grey_arrays_score_as_their_three_channel_copies(golden: Path):
    grey = samples_of(golden, "scene64.ppm")[:, :, 1]
    noisy = samples_of(golden, "scene64__noise.ppm")[:, :, 1]
    expected = lumetra.score(np.dstack([grey] * 3), np.dstack([noisy] * 3))
    for shape in [grey.shape, grey.shape + (1,)]:
        result = lumetra.score(grey.reshape(shape), noisy.reshape(shape))
        assert (result.measure, result.score) == (expected.measure, expected.score)


def test_error_map_is_a_float32_image_owned_by_its_array(golden: Path):
    result = lumetra.score(golden / "scene97x64.ppm", golden / "scene97x64__blur.ppm")
    error_map = result.error_map
    assert error_map.dtype == np.float32 and error_map.shape == (64, 97)
    assert error_map.flags.c_contiguous and error_map.base is not None  # handed over, not copied
    assert result.measure > 0.0 and np.all(error_map >= 0.0)


def test_one_engine_scores_from_several_threads_at_once(golden: Path):
    engine = lumetra.Engine(golden / "scene97x64.ppm", threads=1)
    degraded = [golden / f"scene97x64__{d}.ppm" for d in DEGRADATIONS] * 2
    serial = [engine.score(path) for path in degraded]
    with ThreadPoolExecutor(max_workers=4) as pool:
        parallel = list(pool.map(engine.score, degraded))
    for one, other in zip(serial, parallel):
        assert (one.measure, one.score) == (other.measure, other.score)
        assert np.array_equal(one.error_map, other.error_map)


def test_engines_sharing_a_filters_cache_score_as_engines_with_their_own(golden: Path):
    cache = lumetra.FiltersCache(capacity=2)
    originals = ["scene64.ppm", "scene64__blur.ppm", "scene97x64.ppm"]
    for original in originals:
        shared = lumetra.Engine(golden / original, filters_cache=cache)
        own = lumetra.Engine(golden / original)
        for degraded in ("scene64__noise.ppm", "scene64__hue.ppm"):
            if shared.shape != (64, 64):
                continue
            one, other = shared.score(golden / degraded), own.score(golden / degraded)
            assert (one.measure, one.score) == (other.measure, other.score)
            assert np.array_equal(one.error_map, other.error_map)
    assert len(cache) == 2  # two sizes at one viewing condition
    with pytest.raises(ValueError, match="capacity"):
        lumetra.FiltersCache(capacity=0)


@pytest.mark.parametrize("name", ["scene64", "scene97x64"])
def test_a_low_memory_engine_scores_and_explains_to_the_last_bit_as_the_default(
    golden: Path, name: str
):
    original_name, degraded_names = GOLDEN_SETS[name]
    masking = lumetra.Parameters(inter_c1=True, intra_c2=False)
    for params in (lumetra.Parameters(), masking):
        low = lumetra.Engine(golden / original_name, params, low_memory=True, threads=2)
        default = lumetra.Engine(golden / original_name, params)
        assert low.low_memory and not default.low_memory
        for degraded in degraded_names:
            one = low.score(golden / degraded, explain=True)
            other = default.score(golden / degraded, explain=True)
            assert (one.measure, one.score) == (other.measure, other.score), degraded
            assert np.array_equal(one.error_map, other.error_map), degraded
            assert one.explanation == other.explanation, degraded
            for key, plane in other.explanation_maps.items():
                assert np.array_equal(one.explanation_maps[key], plane), (degraded, key)


def test_parameters_defaults_are_the_models_and_survive_pickling():
    defaults = lumetra.Parameters()
    assert (defaults.alpha, defaults.beta, defaults.co, defaults.ppd) == (1.0, 4.0, 5.0, 60.0)
    assert np.float32(defaults.a) == np.float32(0.000751)
    assert np.float32(defaults.b) == np.float32(3.8)
    assert (defaults.intra_a, defaults.intra_c1, defaults.intra_c2) == (True, True, True)
    assert (defaults.inter_a, defaults.inter_c1, defaults.inter_c2) == (False, False, False)
    assert "a=0.000751" in repr(defaults) and "b=3.8" in repr(defaults)

    changed = lumetra.Parameters(alpha=0.25, inter_c1=True, ppd=42.5)
    assert changed != defaults
    assert pickle.loads(pickle.dumps(changed)) == changed


def test_the_package_exports_each_name_it_binds_and_shows_its_classes_under_its_name():
    import types

    # Every public name the package binds (submodules aside) is in __all__, and nothing else.
    bound = {name for name, value in vars(lumetra).items()
             if not name.startswith("_") and not isinstance(value, types.ModuleType)}
    assert sorted(bound | {"__version__"}) == sorted(lumetra.__all__)
    # No class shows the binding's private module, which a pickle would have to import.
    classes = [getattr(lumetra, name) for name in lumetra.__all__]
    leaked = [c.__name__ for c in classes if getattr(c, "__module__", "") == "lumetra._core"]
    assert leaked == []
    error = pickle.loads(pickle.dumps(lumetra.SizeMismatchError("97 x 64")))
    assert type(error) is lumetra.SizeMismatchError and str(error) == "97 x 64"
