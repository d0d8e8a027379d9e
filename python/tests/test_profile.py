"""Calibration profiles in Python: the command line's numbers through Engine, score,
score_pairs and lumetra.batch, exact round trips, and errors that name the file and field."""

from __future__ import annotations

import csv
import json
import math
import pickle
from pathlib import Path

import numpy as np
import pytest

import lumetra
from commandline import as_float32
from lumetra.batch import EXIT_SUCCESS, EXIT_USAGE, main
from lumetra.distributed import score_pairs

ORIGINAL = "scene64.ppm"
DEGRADED = ("scene64__noise.ppm", "scene64__blur.ppm", "scene64__copy.ppm")

# A fitted profile: another beta and viewing, and a logistic curve.
FITTED = {
    "format": "lumetra-profile",
    "format_version": 1,
    "lumetra_version": "0.1.0",
    "parameters": {"beta": 3.0, "intra_c1": False},
    "viewing": {"ppd": 45.0},
    "mapping": {"kind": "logistic", "b1": 1.0, "b2": 5.0, "b3": 300.0, "b4": 100.0},
    "figures": {"train": {"srocc": 0.9, "plcc": 0.8, "krocc": 0.7, "rmse": 0.4}, "cv": None},
}


@pytest.fixture
def profile_path(tmp_path: Path) -> Path:
    path = tmp_path / "fit.json"
    path.write_text(json.dumps(FITTED))
    return path


def curve(measure: float) -> float:
    """FITTED's curve, worked independently in double."""
    return min(5.0, max(1.0, 5.0 + (1.0 - 5.0) / (1.0 + math.exp(-(measure - 300.0) / 100.0))))


def test_a_profile_scores_as_the_command_line(golden, command_line, profile_path):
    degraded = [golden / d for d in DEGRADED]
    rows = command_line.rows(golden / ORIGINAL, degraded, "--profile", profile_path)
    engine = lumetra.Engine(golden / ORIGINAL, profile=profile_path)
    assert engine.params == lumetra.Profile.load(profile_path).parameters
    assert engine.params.mapping == "logistic" and engine.params.ppd == 45.0
    loaded = lumetra.Profile.load(profile_path)
    for path, row in zip(degraded, rows):
        result = engine.score(path)
        assert (np.float32(result.measure), np.float32(result.score)) == (
            as_float32(row["measure"]),
            as_float32(row["score"]),
        ), path.name
        # One function scores: the parameters' own gives the engine's score to the bit.
        assert engine.params.score(result.measure) == result.score
        # float measure and float score around a double curve: 1e-6 covers both roundings.
        assert result.score == pytest.approx(curve(result.measure), abs=1e-6)
        assert lumetra.score(golden / ORIGINAL, path, profile=loaded).score == result.score
    frame = score_pairs([(golden / ORIGINAL, path) for path in degraded], profile=loaded)
    assert [as_float32(f"{s:.9g}") for s in frame["score"]] == [
        as_float32(row["score"]) for row in rows
    ]


def test_params_and_profile_together_are_refused(golden, profile_path):
    with pytest.raises(TypeError, match="params or profile"):
        lumetra.Engine(golden / ORIGINAL, lumetra.Parameters(), profile=profile_path)
    with pytest.raises(TypeError, match="lumetra.Profile or a path"):
        lumetra.Engine(golden / ORIGINAL, profile=3)


def test_round_trips_are_exact(tmp_path, profile_path):
    profile = lumetra.Profile.load(profile_path)
    changed = profile.parameters
    changed.alpha = 0.1
    changed.logistic = (1.0 / 3.0, 4.999999999999999, -1e-300, 2.5e300)
    profile.parameters = changed
    again = tmp_path / "again.json"
    profile.save(again)
    assert lumetra.Profile.load(again) == profile
    assert lumetra.Profile.from_dict(profile.to_dict()) == profile
    assert pickle.loads(pickle.dumps(profile)) == profile
    assert pickle.loads(pickle.dumps(changed)) == changed
    assert profile.figures["cv"] is None and profile.data is None


# A change to FITTED and the message the loader gives after "<path>: ".
BAD_PROFILES = {
    "misspelt key": (("parameters", {"bta": 3.0}), "parameters.bta: unknown key"),
    "zero beta": (("parameters", {"beta": 0}), "parameters.beta: beta must be greater than 0 (got 0)"),
    "zero width": (
        ("mapping", {"kind": "logistic", "b1": 1, "b2": 5, "b3": 300, "b4": 0}),
        "mapping.b4: b4 must be other than 0 (got 0)",
    ),
}


@pytest.mark.parametrize("case", BAD_PROFILES)
def test_unusable_profiles_name_the_file_and_field(tmp_path, case):
    (key, value), message = BAD_PROFILES[case]
    path = tmp_path / "bad.json"
    path.write_text(json.dumps({**FITTED, key: value}))
    with pytest.raises(lumetra.ProfileError) as raised:
        lumetra.Profile.load(path)
    assert str(raised.value) == f"{path}: {message}"
    assert isinstance(raised.value, ValueError)


def test_parameters_carry_the_mapping():
    line = lumetra.Parameters()
    assert (line.mapping, line.logistic, line.a) == ("linear", None, np.float32(0.000751))
    assert line.score(0.0) == np.float32(3.8)
    assert line.score(float("nan")) == -1.0
    curved = lumetra.Parameters(logistic=(1, 5, 300, 100))
    assert (curved.mapping, curved.a, curved.b) == ("logistic", None, None)
    assert list(curved.score([300.0, float("inf")])) == [3.0, -1.0]
    with pytest.raises(lumetra.ParameterError, match="b4 must be other than 0"):
        lumetra.Parameters(logistic=(1, 5, 300, 0))
    with pytest.raises(lumetra.ParameterError, match="not both"):
        lumetra.Parameters(a=0.001, logistic=(1, 5, 300, 100))
    with pytest.raises(ValueError, match="logistic=None first"):
        curved.a = 0.001
    curved.logistic = None
    assert curved == lumetra.Parameters()


def write_manifest(golden: Path, folder: Path) -> Path:
    manifest = folder / "manifest.csv"
    with open(manifest, "w", newline="") as text:
        csv.writer(text).writerows(
            [("reference", "degraded")] + [(str(golden / ORIGINAL), str(golden / d)) for d in DEGRADED]
        )
    return manifest


def test_batch_takes_a_profile_and_a_display_and_options_win(golden, command_line, tmp_path, profile_path):
    manifest = write_manifest(golden, tmp_path)
    out = tmp_path / "results.csv"
    options = ["--profile", str(profile_path), "--beta", "4", "--display", "1920,53,70"]
    assert main([str(manifest), "--out", str(out), "--workers", "1", *options]) == EXIT_SUCCESS
    rows = command_line.rows(golden / ORIGINAL, [golden / d for d in DEGRADED], *options)
    with open(out, newline="") as text:
        results = list(csv.DictReader(text))
    assert [(r["measure"], r["score"]) for r in results] == [(r["measure"], r["score"]) for r in rows]


@pytest.mark.parametrize(
    "options",
    [
        ["--display", "1920,53"],
        ["--display", "1920,0,70"],
        ["--display", "1e308,1e-308,1e308"],
    ],
)
def test_batch_display_errors_are_the_command_lines(golden, command_line, tmp_path, capsys, options):
    manifest = write_manifest(golden, tmp_path)
    message = command_line.usage_error(*options, golden / ORIGINAL, golden / DEGRADED[0])
    with pytest.raises(SystemExit) as exited:
        main([str(manifest), "--out", str(tmp_path / "r.csv"), *options])
    assert exited.value.code == EXIT_USAGE
    assert capsys.readouterr().err == "lumetra.batch" + message.removeprefix("lumetra") + "\n"


def test_batch_refuses_a_bad_profile_and_display_with_ppd(golden, tmp_path, capsys, profile_path):
    manifest = write_manifest(golden, tmp_path)
    bad = tmp_path / "bad.json"
    bad.write_text(json.dumps({**FITTED, "viewing": {"ppd": 0}}))
    for options, word in [
        (["--profile", str(bad)], f"{bad}: viewing.ppd: pixels per degree must be greater than 0"),
        (["--profile", str(profile_path), "-a", "0.001"], "only when both are given"),
        (["--ppd", "30", "--display", "1920,53,70"], "not allowed with argument"),
    ]:
        with pytest.raises(SystemExit) as exited:
            main([str(manifest), "--out", str(tmp_path / "r.csv"), *options])
        assert exited.value.code == EXIT_USAGE
        assert word in capsys.readouterr().err
