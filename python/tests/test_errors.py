"""Every bad argument is a Python exception with a clear message, never a crash."""

from __future__ import annotations

import math
import os
import re
from pathlib import Path

import numpy as np
import pytest

import lumetra
from lumetra import batch


@pytest.fixture(scope="module")
def original(golden: Path) -> np.ndarray:
    return lumetra.read_image(golden / "scene64.ppm")[0]


@pytest.fixture(scope="module")
def engine(golden: Path) -> lumetra.Engine:
    return lumetra.Engine(golden / "scene64.ppm")


def test_unreadable_files_raise_image_read_error(tmp_path: Path, engine: lumetra.Engine):
    missing = tmp_path / "missing.png"
    not_an_image = tmp_path / "notes.ppm"
    not_an_image.write_text("not an image\n")
    for path in (missing, not_an_image):
        for call in (lumetra.read_image, lumetra.Engine, engine.score):
            with pytest.raises(lumetra.ImageReadError, match=path.name) as raised:
                call(path)
            assert isinstance(raised.value, OSError) and isinstance(raised.value, lumetra.Error)


def test_a_size_mismatch_raises_with_the_command_lines_message(golden, command_line, engine):
    other = golden / "scene97x64__noise.ppm"
    [row] = command_line.rows(golden / "scene64.ppm", [other])
    with pytest.raises(lumetra.SizeMismatchError) as raised:
        engine.score(other)
    assert str(raised.value) == row["error"]
    assert isinstance(raised.value, ValueError)
    with pytest.raises(lumetra.SizeMismatchError, match=r"shape \(64, 97, 3\)"):
        engine.score(lumetra.read_image(other)[0])


def test_an_original_smaller_than_8_x_8_raises_size_mismatch(original: np.ndarray):
    with pytest.raises(lumetra.SizeMismatchError):
        lumetra.Engine(original[:7, :20])


# Bad values and the command-line options that give them.
BAD_PARAMETERS = {
    "negative beta": (dict(beta=-1.0), ["--beta=-1"]),
    "alpha not a number": (dict(alpha=math.nan), ["--alpha=nan"]),
    "zero slope": (dict(a=0.0), ["-a", "0"]),
    "infinite offset": (dict(b=math.inf), ["-b", "inf"]),
    "two at once": (dict(co=-2.0, beta=0.0), ["--co=-2", "--beta=0"]),
    "zero ppd": (dict(ppd=0.0), ["--ppd", "0"]),
    "infinite alpha": (dict(alpha=math.inf), ["--alpha", "inf"]),
    "beta minus infinity": (dict(beta=-math.inf), ["--beta", "-inf"]),
    "negative co": (dict(co=-0.5), ["--co", "-0.5"]),
    "negative ppd": (dict(ppd=-1.0), ["--ppd", "-1"]),
    "ppd not a number": (dict(ppd=math.nan), ["--ppd", "nan"]),
    "infinite ppd": (dict(ppd=math.inf), ["--ppd", "inf"]),
}


@pytest.mark.parametrize("case", BAD_PARAMETERS)
def test_bad_parameters_raise_value_error_with_the_command_lines_message(
    golden: Path, command_line, case: str
):
    keywords, options = BAD_PARAMETERS[case]
    refused = command_line.usage_error(*options, golden / "scene64.ppm", golden / "scene64.ppm")
    with pytest.raises(ValueError) as raised:
        lumetra.Parameters(**keywords)
    assert isinstance(raised.value, lumetra.ParameterError)
    # The command line names the option of a viewing geometry before the message.
    assert refused in ("lumetra: " + str(raised.value), "lumetra: --ppd: " + str(raised.value))


@pytest.mark.parametrize("case", BAD_PARAMETERS)
def test_the_batch_refuses_bad_parameters_before_any_work_with_the_same_message(
    golden: Path, tmp_path: Path, capsys, case: str
):
    keywords, options = BAD_PARAMETERS[case]
    with pytest.raises(ValueError) as raised:
        lumetra.Parameters(**keywords)
    manifest = tmp_path / "manifest.csv"
    manifest.write_text(f"reference,degraded\n{golden / 'scene64.ppm'},{golden / 'scene64.ppm'}\n")
    out = tmp_path / "results.csv"
    with pytest.raises(SystemExit) as exited:
        batch.main([str(manifest), "--out", str(out), *options])
    assert exited.value.code == batch.EXIT_USAGE
    assert capsys.readouterr().err == f"lumetra.batch: {raised.value}\n"
    assert not out.exists()


# Viewing conditions far outside what the model covers: the measure is not a number.
@pytest.mark.parametrize("ppd", [1e30, 1e-30])
@pytest.mark.parametrize("explain", [False, True])
def test_a_measure_that_is_not_finite_raises_instead_of_being_returned(golden, ppd, explain):
    engine = lumetra.Engine(golden / "scene64.ppm", lumetra.Parameters(ppd=ppd))
    degraded = golden / "scene64__noise.ppm"
    with pytest.raises(lumetra.NonFiniteMeasureError) as raised:
        engine.score(degraded, explain)
    assert isinstance(raised.value, ValueError) and isinstance(raised.value, lumetra.Error)
    assert str(raised.value).startswith(
        f'cannot score "{degraded}": the measure is not a finite number (nan); '
    )
    array = lumetra.read_image(degraded)[0]
    with pytest.raises(lumetra.NonFiniteMeasureError, match="^the measure is not a finite"):
        engine.score(array, explain)


BAD_PIXEL_LIMITS = [0, -1, 2**28 + 1, 1.5, "4096", True]


@pytest.mark.parametrize("limit", BAD_PIXEL_LIMITS)
def test_a_pixel_limit_out_of_range_raises_value_error(golden: Path, engine, limit):
    message = rf"^max_pixels must be a whole number from 1 to 268435456 \(got {limit}\)$"
    for call in (
        lambda: lumetra.read_image(golden / "scene64.ppm", max_pixels=limit),
        lambda: lumetra.Engine(golden / "scene64.ppm", max_pixels=limit),
        lambda: lumetra.score(golden / "scene64.ppm", golden / "scene64.ppm", max_pixels=limit),
    ):
        with pytest.raises(ValueError, match=message):
            call()


def test_files_above_the_pixel_limit_are_refused_from_their_header(golden: Path, tmp_path):
    reference, degraded = golden / "scene64.ppm", golden / "scene64__noise.ppm"
    too_large = "image too large: 64 x 64 pixels, at most 4095 allowed"
    for call in (
        lambda: lumetra.read_image(reference, max_pixels=4095),
        lambda: lumetra.Engine(reference, max_pixels=4095),
    ):
        with pytest.raises(lumetra.ImageReadError, match=too_large):
            call()
    # The engine's limit holds for the files it scores too: a 97 x 64 file is refused for its
    # pixels before its size is compared.
    small = lumetra.Engine(lumetra.read_image(reference)[0], max_pixels=4096)
    with pytest.raises(lumetra.ImageReadError, match="at most 4096 allowed"):
        small.score(golden / "scene97x64__noise.ppm")
    assert small.score(degraded).measure == lumetra.Engine(reference).score(degraded).measure
    with pytest.raises(ValueError, match="embedded null byte"):
        lumetra.read_image(str(reference) + "\0.png")


def test_an_engine_too_large_for_the_memory_is_refused_before_it_is_built(tmp_path: Path):
    # 16000 x 16000 pixels need about 51 GB to build: above what this machine has, or skipped.
    side = 16000
    available = _available_bytes()
    if available is None or available > 45e9:
        pytest.skip("the machine has room for the engine")
    huge = tmp_path / "huge.ppm"
    header = f"P6\n{side} {side}\n255\n".encode()
    huge.write_bytes(header)
    os.truncate(huge, len(header) + side * side * 3)  # sparse: the pixels are never read
    with pytest.raises(lumetra.MemoryLimitError) as raised:
        lumetra.Engine(huge)
    assert isinstance(raised.value, MemoryError)
    assert re.fullmatch(
        r"an engine for an original of shape \(16000, 16000\) needs about 51\.2 GB; [0-9.]+ GB available",
        str(raised.value),
    )


def _available_bytes():
    with open("/proc/meminfo") as meminfo:
        for line in meminfo:
            if line.startswith("MemAvailable:"):
                return int(line.split()[1]) * 1024
    return None


def test_assigning_a_bad_parameter_raises_and_keeps_the_old_value():
    params = lumetra.Parameters(beta=2.0)
    with pytest.raises(ValueError, match=r"beta must be greater than 0 \(got -1\)"):
        params.beta = -1.0
    assert params.beta == 2.0


# Arrays that are not images, the exception each raises and a word its message must hold.
BAD_ARRAYS = {
    "half-float samples": (lambda x: (x / 255.0).astype(np.float16), TypeError, "float16"),
    "signed samples": (lambda x: x.astype(np.int32), TypeError, "int32"),
    "boolean samples": (lambda x: x > 128, TypeError, "bool"),
    "one dimension": (lambda x: x.ravel(), ValueError, "shape"),
    "five channels": (lambda x: np.dstack([x, x[:, :, :2]]), ValueError, "channels"),
    "four dimensions": (lambda x: x[:, :, :, np.newaxis], ValueError, "shape"),
    "not an array": (lambda x: None, TypeError, "NoneType"),
    "a number": (lambda x: 3, TypeError, "int"),
}


@pytest.mark.parametrize("case", BAD_ARRAYS)
def test_arrays_that_are_not_images_raise(original, engine, case: str):
    make, error, word = BAD_ARRAYS[case]
    bad = make(original)
    with pytest.raises(error, match=word):
        lumetra.Engine(bad)
    with pytest.raises(error, match=word):
        engine.score(bad)


def test_samples_and_maxval_out_of_range_raise_value_error(original, golden: Path):
    ten_bit = original.astype(np.uint16) * 4
    with pytest.raises(ValueError, match="more than its maxval 255"):
        lumetra.Engine(ten_bit, maxval=255)
    for maxval, dtype in [(0, np.uint8), (256, np.uint8), (-1, np.uint16), (65536, np.uint16)]:
        with pytest.raises(ValueError, match="maxval must be"):
            lumetra.Engine(original.astype(dtype), maxval=maxval)
    with pytest.raises(ValueError, match="arrays only"):
        lumetra.Engine(golden / "scene64.ppm", maxval=255)


def test_other_bad_arguments_raise(original):
    with pytest.raises(ValueError, match="threads"):
        lumetra.Engine(original, threads=-1)
    with pytest.raises(TypeError, match="lumetra.Parameters"):
        lumetra.Engine(original, params={"beta": 2.0})
    with pytest.raises(TypeError, match="path"):
        lumetra.read_image(original)
