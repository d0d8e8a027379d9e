"""Arrays as scientists hold them: floats from 0 to data_range, 8-bit data in uint16 arrays,
shapes in NumPy's terms, and stacks of degraded images scored in one call."""

from __future__ import annotations

import re
import sys
import threading
import warnings
from pathlib import Path

import numpy as np
import pytest

import lumetra

DEGRADATIONS = ("copy", "noise", "blur", "blocks", "hue")


@pytest.fixture(scope="module")
def scene(golden: Path) -> tuple[np.ndarray, list[np.ndarray]]:
    """The 97 x 64 scene as uint8 arrays: the original and its five degraded versions."""
    original = lumetra.read_image(golden / "scene97x64.ppm")[0]
    degraded = [lumetra.read_image(golden / f"scene97x64__{d}.ppm")[0] for d in DEGRADATIONS]
    return original, degraded


def assert_same(one: lumetra.Result, other: lumetra.Result, what: str) -> None:
    assert (one.measure, one.score) == (other.measure, other.score), what
    assert np.array_equal(one.error_map, other.error_map), what


# Float versions of 8-bit samples v: each becomes round(x / data_range * 65535) = 257 v, the
# 16-bit sample that scores as v does in 8 bits, so every one must give the uint8 numbers to
# the last bit.
FLOAT_FORMS = {
    "float64 in [0, 1]": (lambda x: x / 255.0, None),
    "float32 in [0, 1]": (lambda x: (x / 255.0).astype(np.float32), None),
    "float64 in [0, 255]": (lambda x: x.astype(np.float64), 255.0),
    "float32 Fortran order": (lambda x: np.asfortranarray(x / np.float32(255)), None),
}


@pytest.mark.parametrize("form", FLOAT_FORMS)
def test_float_arrays_score_as_the_8_bit_samples_they_hold(scene, form: str):
    original, degraded = scene
    convert, data_range = FLOAT_FORMS[form]
    engine = lumetra.Engine(convert(original), data_range=data_range)
    expected = lumetra.Engine(original)
    for name, image in zip(DEGRADATIONS, degraded):
        assert_same(engine.score(convert(image), data_range=data_range),
                    expected.score(image), f"{form}, {name}")
    # One call may mix an integer original with a float degraded image.
    mixed = lumetra.score(original, convert(degraded[1]), data_range=data_range)
    assert_same(mixed, expected.score(degraded[1]), f"{form}, mixed")


def test_floats_between_8_bit_steps_score_as_their_16_bit_rounding(scene):
    original, degraded = scene
    rng = np.random.default_rng(5)
    fine = np.clip(degraded[1] / 255.0 + rng.uniform(-0.002, 0.002, degraded[1].shape), 0, 1)
    sixteen = np.rint(fine * 65535).astype(np.uint16)
    assert_same(lumetra.score(original, fine), lumetra.score(original, sixteen), "16-bit")


# Float samples outside the range, and the words the message must hold: the value, where it
# is (row, col, channel) and the range.
OUT_OF_RANGE = {
    "above 1": (1.5, None, [r"1\.5 at \(3, 7, 2\)", r"\[0, 1\]"]),
    "negative": (-0.25, None, [r"-0\.25 at \(3, 7, 2\)", r"\[0, 1\]"]),
    "not a number": (np.nan, None, [r"nan at \(3, 7, 2\)"]),
    "above data_range": (300.0, 255.0, [r"300 at \(3, 7, 2\)", r"\[0, 255\] \(data_range=255\)"]),
}


@pytest.mark.parametrize("case", OUT_OF_RANGE)
def test_float_samples_outside_the_range_raise_naming_it(scene, case: str):
    original, degraded = scene
    value, data_range, words = OUT_OF_RANGE[case]
    scale = 255.0 if data_range is None else 1.0
    bad = degraded[1] / scale
    bad[3, 7, 2] = value
    engine = lumetra.Engine(original)
    for call in (lambda: lumetra.Engine(bad, data_range=data_range),
                 lambda: engine.score(bad, data_range=data_range)):
        with pytest.raises(ValueError) as raised:
            call()
        for word in words:
            assert re.search(word, str(raised.value)), (word, str(raised.value))


def test_range_options_that_do_not_fit_the_samples_raise(scene):
    original, _ = scene
    floats = original / 255.0
    for data_range in (0.0, -1.0, float("inf"), float("nan")):
        with pytest.raises(ValueError, match="data_range must be a finite number"):
            lumetra.Engine(floats, data_range=data_range)
    with pytest.raises(ValueError, match="data_range applies to float samples"):
        lumetra.Engine(original, data_range=255.0)
    with pytest.raises(ValueError, match="maxval applies to integer samples"):
        lumetra.Engine(floats, maxval=255)


def test_a_uint16_array_of_8_bit_data_warns_naming_its_largest_sample(scene):
    original, degraded = scene
    eight_bit = original.astype(np.uint16)
    largest = int(original.max())
    assert largest <= 255
    with pytest.warns(UserWarning, match=f"never exceeds 255 \\(its largest sample is {largest}\\)"):
        engine = lumetra.Engine(eight_bit)
    with pytest.warns(UserWarning, match="maxval=255"):
        engine.score(degraded[1].astype(np.uint16))
    # No warning when the maxval is given, or when the data is 16-bit: the numbers are then
    # those of the uint8 arrays.
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        told = lumetra.score(eight_bit, degraded[1].astype(np.uint16), maxval=255)
        sixteen = lumetra.score(original.astype(np.uint16) * 257, degraded[1].astype(np.uint16) * 257)
    expected = lumetra.score(original, degraded[1])
    assert_same(told, expected, "maxval=255")
    assert_same(sixteen, expected, "x 257")
    # Warnings made errors stop the call.
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(UserWarning):
            lumetra.Engine(eight_bit)


def test_size_messages_speak_in_numpy_shapes(scene):
    original, degraded = scene
    engine = lumetra.Engine(original)  # shape (64, 97, 3)
    with pytest.raises(lumetra.SizeMismatchError) as raised:
        engine.score(degraded[1][:, :64])
    assert str(raised.value) == (
        "the degraded array has shape (64, 64, 3) but the original's shape is (64, 97)")
    with pytest.raises(lumetra.SizeMismatchError, match=r"shape \(7, 20, 3\) .* at least 8 rows"):
        lumetra.Engine(original[:7, :20])
    with pytest.raises(lumetra.SizeMismatchError, match=r"array has shape \(64, 96, 3\) but"):
        engine.score_stack(np.stack(degraded)[:, :, :96])
    assert "shape (64, 97)" in repr(engine)
    assert "shape (64, 97)" in repr(engine.score(degraded[1]))


@pytest.mark.parametrize("threads", [1, 2, 0])
def test_a_stack_scores_each_image_as_one_call_per_image_does(scene, threads: int):
    original, degraded = scene
    engine = lumetra.Engine(original, threads=threads)
    stack = np.stack(degraded + degraded[::-1])  # ten images, two of each
    results = engine.score_stack(stack)
    assert len(results) == len(stack)
    for k, (image, result) in enumerate(zip(stack, results)):
        assert_same(result, engine.score(image), f"image {k}")
    floats = engine.score_stack(stack / 255.0)
    for k, (one, other) in enumerate(zip(results, floats)):
        assert_same(one, other, f"float image {k}")
    assert engine.score_stack(stack[:0]) == []


def test_a_stack_with_a_bad_image_raises_naming_it(scene):
    original, degraded = scene
    engine = lumetra.Engine(original)
    stack = np.stack(degraded) / 255.0
    stack[3, 1, 2, 0] = 2.0
    with pytest.raises(ValueError, match=r"image 3 of the stack holds 2 at \(1, 2, 0\)"):
        engine.score_stack(stack)
    with pytest.raises(ValueError, match=r"\(count, rows, cols, channels\); got shape \(64, 97, 3\)"):
        engine.score_stack(degraded[0])
    with pytest.warns(UserWarning, match="never exceeds 255"):
        engine.score_stack(np.stack(degraded).astype(np.uint16))


def test_a_stack_is_scored_without_the_gil(scene):
    # With a switch interval far longer than the test, another thread runs only when this one
    # gives up the GIL; it runs during score_stack only if the whole stack is scored without
    # it.
    original, degraded = scene
    engine = lumetra.Engine(original, threads=1)
    stack = np.stack(degraded * 4)
    go = threading.Event()
    ran = []
    other = threading.Thread(target=lambda: go.wait() and ran.append(True))
    other.start()
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    try:
        go.set()
        engine.score_stack(stack)
        seen = list(ran)
    finally:
        sys.setswitchinterval(interval)
        other.join()
    assert seen == [True]
