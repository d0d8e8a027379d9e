"""Colour profiles and EXIF orientation through read_image and score."""

from __future__ import annotations

import logging
import os
from pathlib import Path

import numpy as np
import pytest

import lumetra

IMAGES = Path(os.environ["LUMETRA_TEST_DATA_DIR"]) / "images"
SRGB = IMAGES / "rgb24x16.ppm"
P3 = IMAGES / "rgb24x16_display_p3.png"
TURNED = IMAGES / "rgb16x24_exif_orientation6.png"


def test_display_p3_is_logged_as_stored_and_converted_on_request(caplog):
    srgb, _ = lumetra.read_image(SRGB)
    with caplog.at_level(logging.WARNING, logger="lumetra"):
        stored, maxval = lumetra.read_image(P3)
    assert maxval == 255
    assert 'declares colour profile ICC "Display P3", not sRGB' in caplog.text
    # Read as stored the P3 samples are other numbers than the sRGB ones.
    assert np.abs(stored.astype(int) - srgb).max() > 10

    caplog.clear()
    with caplog.at_level(logging.WARNING, logger="lumetra"):
        converted, maxval = lumetra.read_image(P3, colour="srgb")
    assert caplog.text == ""
    assert maxval == 65535 and converted.dtype == np.uint16
    # Within 1.5 8-bit steps of the sRGB samples: the P3 file's rounding to 8 bits, enlarged
    # by the way back (see tests/image/ColourProfileTest.cpp).
    assert np.abs(converted / 65535.0 - srgb / 255.0).max() <= 1.5 / 255.0


def test_scoring_with_colour_srgb_brings_the_measure_down():
    stored = lumetra.score(str(SRGB), str(P3)).measure
    converted = lumetra.score(str(SRGB), str(P3), colour="srgb").measure
    assert converted < stored / 3.0


def test_orientation_is_kept_or_applied_as_numpy_turns_it(caplog):
    srgb, _ = lumetra.read_image(SRGB)
    with caplog.at_level(logging.WARNING, logger="lumetra"):
        kept, _ = lumetra.read_image(TURNED)
    assert "declares EXIF orientation 6" in caplog.text
    # Stored a quarter turn counter-clockwise; orientation 6 turns it a quarter clockwise.
    np.testing.assert_array_equal(kept, np.rot90(srgb, k=1))
    applied, _ = lumetra.read_image(TURNED, orientation="apply")
    np.testing.assert_array_equal(applied, srgb)
    assert lumetra.score(str(SRGB), str(TURNED), orientation="apply").measure == 0.0


@pytest.mark.parametrize("keyword", ["colour", "orientation"])
def test_an_unknown_choice_is_a_value_error(keyword):
    with pytest.raises(ValueError, match=f"^{keyword} must be"):
        lumetra.read_image(SRGB, **{keyword: "sideways"})


MISMATCH = ('its colour space is ICC "Display P3" and the original\'s none (read as sRGB): the '
            "measure includes the colour change between them")


def test_an_engine_says_when_a_degraded_file_declares_another_colour_space(caplog):
    engine = lumetra.Engine(SRGB)
    with caplog.at_level(logging.WARNING, logger="lumetra"):
        engine.score(P3)
    assert [r.getMessage() for r in caplog.records if MISMATCH in r.getMessage()] == [
        f'"{P3}": {MISMATCH}']
    # Converted to sRGB, both are in one colour space; an array original declares none, so
    # there is nothing to hold the file to (its own notice stays).
    caplog.clear()
    with caplog.at_level(logging.WARNING, logger="lumetra"):
        lumetra.Engine(SRGB, colour="srgb").score(P3)
        lumetra.Engine(lumetra.read_image(SRGB)[0]).score(P3)
    assert "colour change" not in caplog.text
    assert 'declares colour profile ICC "Display P3"' in caplog.text


@pytest.fixture(scope="module")
def client():
    from distributed import Client

    with Client(processes=False, n_workers=1, threads_per_worker=2,
                dashboard_address="127.0.0.1:0") as running:
        yield running


READINGS = [{}, {"colour": "srgb", "orientation": "apply"}]


@pytest.mark.parametrize("reading", READINGS, ids=["as-stored", "srgb-apply"])
def test_a_dask_batch_reads_files_as_score_does_and_says_each_notice_once(
    client, caplog, reading
):
    from lumetra.distributed import score_pairs

    pairs = [(SRGB, P3), (SRGB, TURNED), (SRGB, P3)]
    with caplog.at_level(logging.WARNING, logger="lumetra"):
        frame = score_pairs(pairs, client=client, chunk_size=1, **reading)
    said = [r.getMessage() for r in caplog.records if r.name == "lumetra"]
    for (reference, degraded), row in zip(pairs, frame.itertuples()):
        try:
            expected = lumetra.score(reference, degraded, **reading).measure
        except lumetra.SizeMismatchError as error:  # the turned file, scored as stored
            assert (row.error, reading) == (str(error), {})
            continue
        # The same engine on the same samples: equal to the last bit.
        assert (row.measure, row.error) == (expected, "")
    # Each once, however many pairs the file is in (the worker's own logging is taken).
    assert len(said) == len(set(said))
    if reading:
        assert not any("colour" in line for line in said)
        assert f'"{TURNED}": declares EXIF orientation 6 (turned a quarter clockwise); turned ' \
               "for display" in said
    else:
        assert f'"{P3}": {MISMATCH}' in said


def test_a_batch_refuses_an_unknown_reading_before_any_work():
    from lumetra.distributed import score_pairs

    with pytest.raises(ValueError, match="^colour must be"):
        score_pairs([(SRGB, P3)], client=object(), colour="display")
