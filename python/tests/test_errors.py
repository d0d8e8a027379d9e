"""Every bad argument is a Python exception with a clear message, never a crash."""

from __future__ import annotations

import math
from pathlib import Path

import numpy as np
import pytest

import lumetra


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
    with pytest.raises(lumetra.SizeMismatchError, match="97 x 64"):
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


def test_assigning_a_bad_parameter_raises_and_keeps_the_old_value():
    params = lumetra.Parameters(beta=2.0)
    with pytest.raises(ValueError, match=r"beta must be greater than 0 \(got -1\)"):
        params.beta = -1.0
    assert params.beta == 2.0


# Arrays that are not images, the exception each raises and a word its message must hold.
BAD_ARRAYS = {
    "float samples": (lambda x: x / 255.0, TypeError, "uint8 or uint16"),
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
