"""Calibration: the NumPy pooling against the engine, fit and validate on a synthetic opinion
study whose true parameters are known, the folds, the bootstrap, the cache and bad score
files."""

from __future__ import annotations

import contextlib
import io
import json
from pathlib import Path

import numpy as np
import pytest
from scipy import stats

import lumetra
import synthetic
from lumetra import calibration, distributed, fit, validate
from lumetra.pooling import PooledSet, PoolingInputs, pooled_measure

SAMPLES = Path(__file__).resolve().parents[2] / "samples"

# The plain NumPy pooling rounds each pixel as the engine does; only the order of the long
# double sum differs (pairwise against sequential), which moves no float result in practice.
PLAIN_POOLING_REL_TOL = 1e-6
# The grouped pooling keeps log2 of each pixel in float32 and sums in double: at most a few
# float32 roundings of each term's relative size, far below 1e-5 for any beta up to 16.
GROUPED_POOLING_REL_TOL = 1e-5
# (alpha, beta, co): the defaults, the integer-power shortcuts' neighbours, no block or zone
# weighting, and a zone that dominates.
POOLING_CASES = [(1.0, 4.0, 5.0), (0.5, 2.5, 3.0), (2.0, 6.0, 1.0), (0.0, 1.0, 0.0),
                 (1.3, 4.0, 10.0)]
# The opinions of the synthetic study: a logistic of the measure at these parameters, plus
# seeded noise of this standard deviation (on the 1 .. 5 scale).
TRUE_POOLING = (0.5, 3.0, 2.0)
OPINION_NOISE = 0.15


@pytest.fixture(scope="module")
def client():
    from distributed import Client

    with Client(processes=False, n_workers=1, threads_per_worker=2,
                dashboard_address=":0") as running:
        yield running


@pytest.fixture
def counted(monkeypatch, client):
    """Every local cluster is the in-process one; counts the pairs sent to score_pairs."""
    sent = []
    original = distributed.score_pairs

    @contextlib.contextmanager
    def in_process(given=None, workers=None):
        yield given if given is not None else client

    def counting(pairs, *args, **kwargs):
        pairs = list(pairs)
        sent.extend(pairs)
        return original(pairs, *args, **kwargs)

    monkeypatch.setattr(distributed, "local_client", in_process)
    monkeypatch.setattr(distributed, "score_pairs", counting)
    return sent


@pytest.fixture(scope="module")
def study(tmp_path_factory):
    folder = tmp_path_factory.mktemp("study")
    made = synthetic.make_images(folder, SAMPLES)
    measure = synthetic.true_measures(made, *TRUE_POOLING)
    rng = np.random.default_rng(7)
    centre, width = float(np.median(measure)), float(np.std(measure)) / 2
    mos = 1.0 + 4.0 / (1.0 + np.exp((measure - centre) / width))
    mos = mos + rng.normal(0.0, OPINION_NOISE, measure.size)
    synthetic.write_scores(folder / "scores.csv", made, mos, std=np.full(mos.size, 0.3))
    synthetic.write_scores(folder / "dmos.csv", made, 6.0 - mos, column="dmos")
    return made, measure, mos


def run(main, argv: list[str]) -> tuple[int, str]:
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        try:
            status = main(argv)
        except SystemExit as stop:
            status = stop.code
    return status, out.getvalue()


# --- The NumPy pooling against the engine -------------------------------------------------


@pytest.fixture(scope="module")
def explained(golden: Path):
    # A square map of whole blocks and one whose last blocks are cut (97 columns).
    found = []
    for name in ("scene64", "scene97x64"):
        engine = lumetra.Engine(golden / f"{name}.ppm")
        result = engine.score(golden / f"{name}__blur.ppm", explain=True)
        found.append((golden / name, result))
    return found


def test_the_block_weight_is_the_engines_at_alpha_1(explained):
    for _, result in explained:
        inputs = PoolingInputs.from_maps(result.error_map, result.explanation_maps["edge_zone"])
        rows, cols = result.error_map.shape
        whole = np.repeat(np.repeat(inputs.block, 32, axis=0), 32, axis=1)[:rows, :cols]
        np.testing.assert_array_equal(whole, result.explanation_maps["block_weight"])


@pytest.mark.parametrize("alpha,beta,co", POOLING_CASES)
def test_numpy_pooling_gives_the_engines_measure(golden: Path, explained, alpha, beta, co):
    inputs = [PoolingInputs.from_maps(r.error_map, r.explanation_maps["edge_zone"])
              for _, r in explained]
    grouped = PooledSet(inputs).measures(alpha, beta, co)
    params = lumetra.Parameters(alpha=alpha, beta=beta, co=co)
    for (stem, _), pair, fast in zip(explained, inputs, grouped):
        expected = lumetra.Engine(f"{stem}.ppm", params).score(f"{stem}__blur.ppm").measure
        plain = pooled_measure(pair, alpha, beta, co)
        assert abs(plain - expected) <= PLAIN_POOLING_REL_TOL * expected, (plain, expected)
        assert abs(fast - expected) <= GROUPED_POOLING_REL_TOL * expected, (fast, expected)


# --- Score files -----------------------------------------------------------------------------

BAD_SCORES = {
    "missing column": ("reference,mos\na.ppm,3\n", "no column degraded"),
    "no opinion": ("reference,degraded\na.ppm,b.ppm\n", "mos (or dmos)"),
    "both opinions": ("reference,degraded,mos,dmos\na.ppm,b.ppm,3,2\n", "both mos and dmos"),
    "bad number": ("reference,degraded,mos\na.ppm,b.ppm,3\na.ppm,c.ppm,3,5\n", ":3: expected"),
    "not a number": ("reference,degraded,mos\na.ppm,b.ppm,three\n", ":2: mos is not a number"),
    "not finite": ("reference,degraded,mos\na.ppm,b.ppm,nan\n", ":2: mos must be finite"),
    "negative std": ("reference,degraded,mos,std\na.ppm,b.ppm,3,-1\n", "std must not be neg"),
    "empty": ("", "empty"),
    "no pairs": ("reference,degraded,mos\n", "no pairs"),
}


@pytest.mark.parametrize("case", sorted(BAD_SCORES))
@pytest.mark.parametrize("main", [validate.main, fit.main], ids=["validate", "fit"])
def test_a_bad_score_file_is_a_usage_error_before_any_scoring(
    tmp_path: Path, counted, capsys, case, main
):
    text, message = BAD_SCORES[case]
    scores = tmp_path / "scores.csv"
    scores.write_text(text)
    argv = [str(scores)] + (["--out", str(tmp_path / "p.json")] if main is fit.main else [])
    status, _ = run(main, argv)
    assert status == 2
    assert message in capsys.readouterr().err
    assert counted == []


@pytest.mark.parametrize("main,program", [(validate.main, "lumetra.validate"),
                                          (fit.main, "lumetra.fit")], ids=["validate", "fit"])
def test_a_local_cluster_of_no_workers_is_a_usage_error_before_any_scoring(
    study, counted, capsys, tmp_path, main, program
):
    made, _, _ = study
    argv = [str(made.folder / "scores.csv"), "--workers", "0"]
    argv += ["--out", str(tmp_path / "p.json")] if main is fit.main else []
    status, _ = run(main, argv)
    assert status == 2
    assert capsys.readouterr().err == f"{program}: --workers must be at least 1 (got 0)\n"
    assert counted == []


FIT_USAGE_ERRORS = {
    "unknown pooling parameter": (["--fit", "alpha,gamma"], "--fit takes some of alpha"),
    "one fold": (["--cv", "k-fold", "1"], "--cv takes by-reference or k-fold K"),
    "unknown cross-validation": (["--cv", "random"], "--cv takes by-reference or k-fold K"),
    "missing output folder": (["--out", "/nonexistent/folder/p.json"], "does not exist"),
}


@pytest.mark.parametrize("case", sorted(FIT_USAGE_ERRORS))
def test_fit_refuses_bad_options_before_any_scoring(study, counted, capsys, tmp_path, case):
    made, _, _ = study
    extra, message = FIT_USAGE_ERRORS[case]
    argv = [str(made.folder / "scores.csv"), "--out", str(tmp_path / "p.json")] + extra
    status, _ = run(fit.main, argv)
    assert status == 2
    assert message in capsys.readouterr().err
    assert counted == [] and not (tmp_path / "p.json").exists()


# --- Mappings --------------------------------------------------------------------------------

FIT_FAILURES = {
    # name: (x, y, note expected to start with)
    "too few pairs": ([1.0, 2.0, 3.0], [3.0, 2.0, 1.0], "logistic fit impossible"),
    "flat predictor": ([5.0] * 8, list(range(8)), "logistic fit impossible"),
    "flat opinions": (list(range(8)), [3.0] * 8, "logistic fit impossible"),
}


@pytest.mark.parametrize("case", sorted(FIT_FAILURES))
def test_a_logistic_that_cannot_be_fitted_falls_back_to_the_line_and_says_so(case):
    x, y, note = FIT_FAILURES[case]
    mapping = calibration.fit_logistic(np.array(x), np.array(y))
    assert mapping.kind == "linear" and mapping.note.startswith(note)
    assert np.all(np.isfinite(mapping(np.array(x))))


def test_the_logistic_fit_recovers_a_known_curve():
    x = np.linspace(0.0, 2000.0, 60)
    true = {"b1": 1.2, "b2": 4.8, "b3": 900.0, "b4": 150.0}
    y = calibration.logistic(x, **true) + np.random.default_rng(2).normal(0.0, 0.02, x.size)
    fitted = calibration.fit_logistic(x, y)
    assert fitted.kind == "logistic" and fitted.note == ""
    # Noise of 0.02 on a 3.6-high curve: the asymptotes within 0.05, the middle and width
    # within 3 %.
    for name in ("b1", "b2"):
        assert fitted.values[name] == pytest.approx(true[name], abs=0.05)
    for name in ("b3", "b4"):
        assert fitted.values[name] == pytest.approx(true[name], rel=0.03)


# --- Folds and bootstrap -------------------------------------------------------------------


@pytest.mark.parametrize("folds", [None, 2, 3, 5])
def test_cross_validation_never_puts_a_reference_on_both_sides(folds):
    rng = np.random.default_rng(3)
    references = [f"ref{int(i)}" for i in rng.integers(0, 9, 80)]
    tests = calibration.reference_folds(references, folds, seed=1)
    every = np.concatenate(tests)
    assert sorted(every.tolist()) == list(range(80))  # each pair tested exactly once
    for test in tests:
        inside = {references[i] for i in test}
        outside = {references[i] for i in range(80) if i not in set(test.tolist())}
        assert not inside & outside
    assert len(tests) == (9 if folds is None else folds)


def test_bootstrap_intervals_cover_the_true_correlation():
    # Pairs of 30 references, 4 pairs each, sharing a reference effect: the intervals of
    # Pearson's r must cover the true correlation about 95 % of the time; 30 trials allow
    # a few misses (below 24 covered happens with probability under 1e-3).
    true_rho = 0.7
    rng = np.random.default_rng(11)
    covered = 0
    for _ in range(30):
        shared = rng.normal(size=(30, 1, 2))
        own = rng.normal(size=(30, 4, 2))
        z = ((shared + own) / np.sqrt(2)).reshape(-1, 2)
        x = z[:, 0]
        y = true_rho * z[:, 0] + np.sqrt(1 - true_rho**2) * z[:, 1]
        references = [f"r{i // 4}" for i in range(x.size)]
        low, high = calibration.bootstrap(
            lambda idx: {"plcc": stats.pearsonr(x[idx], y[idx])[0]}, references, 100, rng
        )["plcc"]
        covered += low <= true_rho <= high
    assert covered >= 24


def test_workers_return_each_pairs_pooling_inputs_and_comparison(study, client):
    from skimage.metrics import peak_signal_noise_ratio, structural_similarity

    made, _, _ = study
    pairs = [(made.folder / r, made.folder / d) for r, d in made.pairs[:3]]
    frame = distributed.score_pairs(pairs, client=client, pooling=True, compare=True)
    for (reference, degraded), row in zip(pairs, frame.itertuples()):
        engine = lumetra.Engine(reference)
        # The worker's inputs pool to the measure it reported, as the engine's own pooling.
        assert pooled_measure(row.pooling, 1.0, 4.0, 5.0) == row.measure
        assert row.measure == engine.score(degraded).measure
        original, _ = lumetra.read_image(reference)
        copy, _ = lumetra.read_image(degraded)
        assert row.psnr == peak_signal_noise_ratio(original, copy, data_range=255)
        assert row.ssim == structural_similarity(original, copy, channel_axis=2, data_range=255)


# --- The cache -----------------------------------------------------------------------------


def test_the_cache_scores_each_pair_once_and_again_when_a_file_changes(study, counted, tmp_path):
    made, _, _ = study
    pairs = [(str(made.folder / r), str(made.folder / d)) for r, d in made.pairs[:6]]
    cache = calibration.ResultCache(tmp_path / "cache")
    params = lumetra.Parameters()
    first = calibration.score_with_cache(pairs, params, cache=cache, pooling=True)
    again = calibration.score_with_cache(pairs, params, cache=cache, pooling=True)
    assert (first.scored_now, again.scored_now) == (6, 0)
    for one, other in zip(first.pooling, again.pooling):
        np.testing.assert_array_equal(one.error, other.error)
    # Other pooling parameters need no new scoring; another viewing distance does.
    assert calibration.score_with_cache(
        pairs, lumetra.Parameters(beta=2.0), cache=cache, pooling=True).scored_now == 0
    assert calibration.score_with_cache(
        pairs, lumetra.Parameters(ppd=30.0), cache=cache, pooling=True).scored_now == 6
    changed = Path(pairs[2][1])
    changed.write_bytes(changed.read_bytes())  # a new modification time
    assert calibration.score_with_cache(
        pairs, params, cache=cache, pooling=True).scored_now == 1


def test_validate_scores_nothing_again_from_its_cache(study, counted, tmp_path):
    made, _, _ = study
    argv = [str(made.folder / "scores.csv"), "--cache", str(tmp_path), "--bootstrap", "0",
            "--format", "json"]
    status, first = run(validate.main, argv)
    assert status == 0 and len(counted) == len(made.pairs)
    status, second = run(validate.main, argv)
    assert status == 0 and len(counted) == len(made.pairs)
    assert json.loads(first) == json.loads(second)


# --- validate --------------------------------------------------------------------------------


def test_validate_json_has_every_figure_with_its_interval(study, counted):
    made, _, _ = study
    status, out = run(validate.main, [str(made.folder / "scores.csv"), "--format", "json",
                                      "--bootstrap", "20", "--compare"])
    assert status == 0
    document = json.loads(out)
    figures = {"srocc", "krocc", "plcc", "plcc_fitted", "rmse_fitted", "outlier_ratio"}
    tables = [document] + list(document["groups"].values())
    assert set(document["groups"]) == {"noise", "blur", "posterise", "dim"}
    for table in tables:
        for predictor in ("measure", "score", "psnr", "ssim"):
            assert set(table[predictor]) == figures
            for entry in table[predictor].values():
                assert set(entry) == {"value", "ci"} and len(entry["ci"]) == 2
    # The opinions follow the measure closely: strong agreement, signed positive.
    assert document["measure"]["srocc"]["value"] > 0.9
    low, high = document["measure"]["srocc"]["ci"]
    assert low <= document["measure"]["srocc"]["value"] <= high


def test_dmos_gives_the_figures_of_the_same_opinions_as_mos(study, counted, tmp_path):
    made, _, _ = study
    argv = ["--format", "json", "--bootstrap", "0", "--plot", str(tmp_path / "plot.png")]
    _, mos = run(validate.main, [str(made.folder / "scores.csv")] + argv)
    _, dmos = run(validate.main, [str(made.folder / "dmos.csv")] + argv)
    mos, dmos = json.loads(mos), json.loads(dmos)
    for predictor in ("measure", "score"):
        for figure in ("srocc", "krocc", "plcc", "plcc_fitted"):
            assert mos[predictor][figure]["value"] > 0
            assert dmos[predictor][figure]["value"] == pytest.approx(
                mos[predictor][figure]["value"], abs=1e-9)
    assert (tmp_path / "plot.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_validate_plot_that_cannot_be_written(study, counted, tmp_path, capsys, caplog):
    made, _, _ = study
    scores = str(made.folder / "scores.csv")
    # A folder reached through a missing one is refused before anything is scored.
    status, _ = run(validate.main, [scores, "--plot", str(tmp_path / "nowhere" / ".." / "p.png")])
    assert status == 2 and counted == []
    assert "its folder does not exist" in capsys.readouterr().err
    # A folder in the plot's way is found only on writing: the figures are printed first, the
    # run fails naming the file, and nothing is left beside it.
    (tmp_path / "p.png").mkdir()
    status, out = run(validate.main, [scores, "--bootstrap", "0", "--format", "json",
                                      "--plot", str(tmp_path / "p.png")])
    assert status == 1 and json.loads(out)["measure"]["srocc"]["value"] > 0.9
    assert f"cannot write {tmp_path / 'p.png'}" in caplog.text
    assert sorted(p.name for p in tmp_path.iterdir()) == ["p.png"]


# --- fit -------------------------------------------------------------------------------------


def test_fit_recovers_a_linear_mapping_and_writes_the_profile(study, counted, tmp_path):
    made, _, _ = study
    measure = synthetic.true_measures(made, 1.0, 4.0, 5.0)  # the default pooling
    true_a, true_b = 0.0015, 4.6
    rng = np.random.default_rng(5)
    mos = true_b - true_a * measure + rng.normal(0.0, 0.05, measure.size)
    scores = synthetic.write_scores(made.folder / "linear.csv", made, mos)
    out = tmp_path / "profile.json"
    status, printed = run(fit.main, [str(scores), "--out", str(out), "--cv", "k-fold", "4"])
    assert status == 0, printed
    profile = json.loads(out.read_text())
    assert set(profile) == {"format", "format_version", "lumetra_version", "parameters",
                            "viewing", "mapping", "data", "figures"}
    assert (profile["format"], profile["format_version"]) == ("lumetra-profile", 1)
    mapping = profile["mapping"]
    assert mapping["kind"] == "linear"
    # Noise of 0.05 over 64 pairs: slope and offset within a few per cent.
    assert mapping["a"] == pytest.approx(true_a, rel=0.03)
    assert mapping["b"] == pytest.approx(true_b, rel=0.01)
    assert profile["parameters"]["beta"] == 4.0
    assert profile["data"] == {"files": [{"file": str(scores), "pairs": 64, "references": 8}],
                               "pairs": 64, "references": 8}
    assert profile["figures"]["train"]["rmse"] == pytest.approx(0.05, rel=0.3)
    assert profile["figures"]["cv"]["srocc"] > 0.98
    assert list(tmp_path.glob(".*tmp")) == []
    loaded = lumetra.Profile.load(out)
    assert (loaded.parameters.alpha, loaded.parameters.beta) == (1.0, 4.0)
    assert loaded.data == profile["data"]


def test_fit_of_the_pooling_reaches_the_rank_agreement_of_the_true_parameters(
    study, counted, tmp_path
):
    made, true_measure, mos = study
    out = tmp_path / "profile.json"
    status, printed = run(fit.main, [str(made.folder / "scores.csv"), "--out", str(out),
                                     "--fit", "alpha,beta,co", "--mapping", "logistic",
                                     "--no-cv"])
    assert status == 0, printed
    profile = json.loads(out.read_text())
    p = profile["parameters"]
    fitted = synthetic.true_measures(made, p["alpha"], p["beta"], p["co"])
    # The search maximises SROCC on these pairs, so it must do at least as well as the true
    # parameters (less a hair for the noise's ties).  With 64 noisy pairs the rank agreement
    # is flat within the noise over a range of parameters: beta and co are recovered within a
    # factor of 2; alpha not at all on 64 x 64 crops (four blocks each), so it is not checked.
    assert -stats.spearmanr(fitted, mos)[0] >= -stats.spearmanr(true_measure, mos)[0] - 0.002
    for name, true in (("beta", TRUE_POOLING[1]), ("co", TRUE_POOLING[2])):
        assert true / 2 <= p[name] <= true * 2, (name, p[name])
    assert profile["mapping"]["kind"] == "logistic"
    assert profile["figures"]["cv"] is None


def test_fit_with_two_files_shares_the_pooling_and_maps_each(study, counted, tmp_path):
    made, _, _ = study
    out = tmp_path / "profile.json"
    status, printed = run(fit.main, [str(made.folder / "scores.csv"),
                                     str(made.folder / "dmos.csv"), "--out", str(out),
                                     "--no-cv"])
    assert status == 0, printed
    files = json.loads(out.read_text())["data"]["files"]
    slopes = [entry["mapping"]["a"] for entry in files]
    # dmos = 6 - mos: the same line with its slope and offset mirrored.
    assert slopes[0] == pytest.approx(-slopes[1], rel=1e-9)
    assert json.loads(out.read_text())["mapping"] == files[0]["mapping"]


# --- validate --profile ------------------------------------------------------------------------


def test_validate_with_a_profile_scores_through_its_mapping(study, counted, tmp_path):
    made, _, _ = study
    scores = str(made.folder / "scores.csv")
    profile = tmp_path / "profile.json"
    status, printed = run(fit.main, [scores, "--out", str(profile), "--no-cv",
                                     "--mapping", "logistic"])
    assert status == 0, printed
    status, out = run(validate.main, [scores, "--profile", str(profile), "--format", "json",
                                      "--bootstrap", "0"])
    assert status == 0
    document = json.loads(out)
    # The profile's score is the logistic fitted to these very opinions (clamped to 1 .. 5):
    # its plain PLCC is the measure's PLCC after the same fit, within the clamping's effect.
    assert document["score"]["plcc"]["value"] == pytest.approx(
        document["measure"]["plcc_fitted"]["value"], abs=0.01)


def test_validate_refuses_an_unusable_profile_before_any_scoring(study, counted, capsys,
                                                                 tmp_path):
    made, _, _ = study
    profile = tmp_path / "bad.json"
    profile.write_text('{"format": "lumetra-profile", "format_version": 1, '
                       '"parameters": {"bta": 2}, "viewing": {"ppd": 60}, '
                       '"mapping": {"kind": "linear", "a": 0.001, "b": 4}}')
    status, _ = run(validate.main, [str(made.folder / "scores.csv"), "--profile", str(profile)])
    assert status == 2
    message = capsys.readouterr().err
    assert str(profile) in message and "bta" in message
    assert counted == []


def test_validate_plot_draws_the_profiles_curve_and_a_fresh_fit_only_when_asked(
        study, counted, tmp_path):
    made, _, _ = study
    scores = calibration.read_scores(made.folder / "scores.csv")
    profile = tmp_path / "profile.json"
    status, printed = run(fit.main, [str(made.folder / "scores.csv"), "--out", str(profile),
                                     "--no-cv", "--mapping", "logistic"])
    assert status == 0, printed
    params = lumetra.Profile.load(profile).parameters
    scored = calibration.score_with_cache(scores.pairs, params, cache=calibration.ResultCache(None))
    among = np.arange(len(scores.pairs))
    alone = validate.draw(scored.measure, scores, among, params, fresh_fit=False)
    [curve] = alone.axes[0].get_lines()
    # The profile's own curve, to the float32 the engine scores in, not a fit made here.
    assert np.array_equal(curve.get_ydata(), params.score(curve.get_xdata()))
    [label] = [t.get_text() for t in alone.axes[0].get_legend().get_texts()
               if t.get_text().startswith("profile's logistic mapping")]
    for figure in ("SROCC 0.", "PLCC 0.", "RMSE 0."):
        assert figure in label
    both = validate.draw(scored.measure, scores, among, params, fresh_fit=True)
    assert len(both.axes[0].get_lines()) == 2
    assert any("fresh logistic fit: SROCC" in t.get_text()
               for t in both.axes[0].get_legend().get_texts())
    # Without a profile there is no curve of its own: the fresh fit is drawn.
    [fresh] = validate.draw(scored.measure, scores, among, None, fresh_fit=False).axes[0].get_lines()
    assert not np.array_equal(fresh.get_ydata(), params.score(fresh.get_xdata()))


def test_validate_help_writes_percent_signs_once():
    text = validate.parser().format_help()
    assert "95 %" in text and "%%" not in text


def test_a_logistic_fitted_at_a_bound_says_which_value_and_bound():
    # Opinions on a straight line: the logistic bends only outside the data, where its upper
    # asymptote runs into its bound (the highest opinion + 2 x their spread).
    x = np.linspace(0.0, 1000.0, 30)
    y = 4.5 - 0.003 * x + np.random.default_rng(0).normal(0.0, 0.05, x.size)
    mapping = calibration.fit_logistic(x, y)
    assert mapping.kind == "logistic"
    bound = float(np.max(y) + 2 * np.ptp(y))
    assert f"b2 = {bound:.6g} sits at its upper bound {bound:.6g}" in mapping.at_bound
    assert "highest opinion + 2 x their spread" in mapping.at_bound
    # A curve the data settles is at no bound.
    steep = calibration.logistic(x, 1.2, 4.8, 500.0, 80.0)
    assert calibration.fit_logistic(x, steep).at_bound == ""
    assert calibration.bound_note({"b1": 0, "b2": 1, "b3": 2, "b4": 3},
                                  [0, -5, -5, -5], [5, 5, 5, 3]) == (
        "b1 = 0 sits at its lower bound 0 (the lowest opinion - 2 x their spread); "
        "b4 = 3 sits at its upper bound 3 (10 x the predictor's spread)")


# Each command with a missing optional module: the arguments, the module hidden from it and
# the line it must end with (exit status 2, no traceback).
MISSING_MODULES = {
    "fit without scipy": ("fit", ["S.csv", "--out", "p.json"], "scipy",
                          "lumetra.fit: lumetra.fit needs the Python module scipy (Debian "
                          "package python3-scipy), which is not installed"),
    "validate without scipy": ("validate", ["S.csv"], "scipy",
                               "lumetra.validate: lumetra.validate needs the Python module "
                               "scipy (Debian package python3-scipy), which is not installed"),
    "plot without matplotlib": ("validate", ["S.csv", "--plot", "p.png"], "matplotlib",
                                "lumetra.validate: --plot needs the Python module matplotlib "
                                "(Debian package python3-matplotlib), which is not installed"),
    "compare without skimage": ("validate", ["S.csv", "--compare"], "skimage",
                                "lumetra.validate: --compare needs the Python module skimage "
                                "(Debian package python3-skimage), which is not installed"),
}


@pytest.mark.parametrize("case", MISSING_MODULES)
def test_a_missing_optional_module_is_one_line_not_a_traceback(case, tmp_path):
    import subprocess
    import sys

    command, argv, module, line = MISSING_MODULES[case]
    # None in sys.modules makes every import of the module fail, as when it is not installed.
    hide = (f"import sys, runpy; sys.modules[{module!r}] = None; sys.argv = ['x'] + sys.argv[1:];"
            f" runpy.run_module('lumetra.{command}', run_name='__main__')")
    for args, status, expected in ((["--help"], 0, None), (argv, 2, line)):
        done = subprocess.run([sys.executable, "-c", hide, *args], capture_output=True,
                              text=True, cwd=tmp_path, timeout=120)
        assert done.returncode == status, done.stderr
        assert "Traceback" not in done.stderr
        if expected is not None:
            assert done.stderr == expected + "\n"


def test_validate_and_fit_read_files_as_their_options_say_and_cache_each_reading_apart(
    study, counted, monkeypatch, tmp_path
):
    made, _, _ = study
    readings = []
    scoring = distributed.score_pairs

    def recording(pairs, *args, **kwargs):
        readings.append((kwargs.get("colour"), kwargs.get("orientation")))
        return scoring(pairs, *args, **kwargs)

    monkeypatch.setattr(distributed, "score_pairs", recording)
    scores = str(made.folder / "scores.csv")
    cache = ["--cache", str(tmp_path / "cache")]
    quick = ["--bootstrap", "0", "--format", "json"]
    assert run(validate.main, [scores, *cache, *quick])[0] == 0
    assert run(validate.main, [scores, *cache, *quick, "--colour", "srgb",
                               "--orientation", "apply"])[0] == 0
    # The default reading's results are still in the cache: nothing scored the third time.
    assert run(validate.main, [scores, *cache, *quick])[0] == 0
    assert run(fit.main, [scores, "--out", str(tmp_path / "p.json"), "--no-cv",
                          "--color", "srgb"])[0] == 0
    assert readings == [("as-stored", "as-stored"), ("srgb", "apply"), ("srgb", "as-stored")]
    assert len(counted) == 3 * len(made.pairs)
