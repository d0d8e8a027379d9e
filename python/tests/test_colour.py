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
