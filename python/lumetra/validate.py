"""python3 -m lumetra.validate SCORES.csv: how well Lumetra's measure and score agree with
viewers' opinion scores.

Every pair is scored on a Dask cluster (or taken from --cache).  For the measure and the
score (and PSNR and SSIM with --compare) it reports SROCC, KROCC and PLCC, then PLCC and RMSE
after the usual 4-parameter logistic fit, and the outlier ratio when the viewers' standard
deviations are given; each with a 95 % bootstrap interval from resampling references, over
all pairs and per group.  Correlations are signed so that a positive value means agreement,
whichever way the predictor and the opinions run.
"""

from __future__ import annotations

import argparse
import json
import logging
import math
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import Optional, TextIO

import numpy as np

from lumetra._commands import (
    EXIT_FAILURE,
    EXIT_SUCCESS,
    EXIT_USAGE,
    add_cluster_options,
    add_reading_options,
    check_cluster_options,
    log_to_stderr,
    require_modules,
    score_on_cluster,
)
from lumetra._core import ParameterError, Parameters
from lumetra._files import write_bytes_atomically
from lumetra.calibration import (
    FIGURES,
    agreement,
    ResultCache,
    Scores,
    ScoresError,
    bootstrap,
    figures,
    file_stamp,
    fit_logistic,
    read_scores,
    reference_indices,
    score_with_cache,
)

log = logging.getLogger("lumetra.validate")

PROGRAM = "lumetra.validate"
DEFAULT_BOOTSTRAP = 200
# Each predictor and the direction in which it means better quality: +1 when higher is
# better, -1 when lower is.
PREDICTORS = {"measure": -1.0, "score": 1.0, "psnr": 1.0, "ssim": 1.0}
FIGURE_TITLES = {
    "srocc": "SROCC", "krocc": "KROCC", "plcc": "PLCC", "plcc_fitted": "PLCC fitted",
    "rmse_fitted": "RMSE fitted", "outlier_ratio": "outlier ratio",
}


@dataclass
class Table:
    """Each predictor's figures: {"value": x, "ci": [low, high]} by figure name."""

    pairs: int
    references: int
    predictors: dict


def evaluate(
    predictors: dict[str, np.ndarray],
    scores: Scores,
    among: np.ndarray,
    samples: int,
    rng: np.random.Generator,
) -> Table:
    """The figures of every predictor over the pairs `among`, with bootstrap intervals."""
    opinion = scores.raw_opinion[among]
    std = scores.std[among] if scores.std is not None else None
    references = [scores.pairs[i][0] for i in among]
    orientation = -1.0 if scores.kind == "dmos" else 1.0
    result = {}
    for name, values in predictors.items():
        x = values[among]
        sign = PREDICTORS[name] * orientation
        fitted = fit_logistic(x, opinion)
        whole = figures(x, opinion, sign, std, fitted)

        def statistic(indices: np.ndarray) -> dict:
            # Each sample is fitted again, starting from the whole sample's curve.
            return figures(x[indices], opinion[indices], sign,
                           std[indices] if std is not None else None, fitted)

        intervals = (
            bootstrap(statistic, references, samples, rng) if samples > 0 else {}
        )
        result[name] = {
            figure: {"value": value, "ci": intervals.get(figure, [math.nan, math.nan])}
            for figure, value in whole.items()
        }
    return Table(len(among), len(reference_indices(references)), result)


def _finite_or_none(value: float) -> Optional[float]:
    return float(value) if math.isfinite(value) else None


def _json_ready(table: Table) -> dict:
    return {
        name: {
            figure: {"value": _finite_or_none(entry["value"]),
                     "ci": [_finite_or_none(v) for v in entry["ci"]]}
            for figure, entry in values.items()
        }
        for name, values in table.predictors.items()
    }


def as_json(whole: Table, groups: dict[str, Table], scores: Scores, notes: list[str],
            samples: int, seed: int) -> dict:
    document = _json_ready(whole)
    document["groups"] = {name: _json_ready(table) for name, table in groups.items()}
    document["pairs"] = whole.pairs
    document["references"] = whole.references
    document["opinion"] = scores.kind
    document["bootstrap"] = {"samples": samples, "seed": seed, "confidence": 0.95,
                             "resampled": "references"}
    document["notes"] = notes
    return document


def _cell(entry: dict) -> str:
    value, (low, high) = entry["value"], entry["ci"]
    if not math.isfinite(value):
        return "-"
    if not (math.isfinite(low) and math.isfinite(high)):
        return f"{value:.4g}"
    return f"{value:.4g} [{low:.4g}, {high:.4g}]"


def write_table(out: TextIO, title: str, table: Table) -> None:
    names = list(table.predictors)
    out.write(f"{title} ({table.pairs} pairs, {table.references} references)\n")
    width = 28
    out.write(f"  {'':<15}" + "".join(f"{name:<{width}}" for name in names) + "\n")
    for figure in FIGURES:
        if figure not in table.predictors[names[0]]:
            continue
        cells = [_cell(table.predictors[name][figure]) for name in names]
        out.write(f"  {FIGURE_TITLES[figure]:<15}" + "".join(f"{c:<{width}}" for c in cells))
        out.write("\n")


def draw(
    measure: np.ndarray,
    scores: Scores,
    among: np.ndarray,
    profile: Optional[Parameters],
    fresh_fit: bool,
):
    """The figure of opinion against the measure, groups in their own colours, with the curve
    of the profile's mapping (when scored with a profile), a fresh logistic fit (when asked,
    or when there is no profile) and each curve's SROCC, PLCC and RMSE against the opinions
    in its legend entry: a matplotlib Figure (no pyplot state)."""
    from matplotlib.figure import Figure

    x = measure[among]
    y = scores.raw_opinion[among]
    figure = Figure(figsize=(7, 5), dpi=100)
    axes = figure.subplots()
    groups = [scores.group[i] for i in among] if scores.group is not None else None
    if groups is None:
        axes.scatter(x, y, s=14, alpha=0.8, label="pairs")
    else:
        for name in dict.fromkeys(groups):
            mine = np.array([g == name for g in groups])
            axes.scatter(x[mine], y[mine], s=14, alpha=0.8, label=name or "(no group)")
    curve = np.linspace(float(np.min(x)), float(np.max(x)), 200)
    if profile is not None:
        axes.plot(curve, profile.score(curve), color="black", linewidth=1.5,
                  label=f"profile's {profile.mapping} mapping: "
                  + agreement_text(profile.score(x), y))
    if fresh_fit or profile is None:
        mapping = fit_logistic(x, y)
        fitted = "fresh logistic fit" if mapping.kind == "logistic" else "line (logistic failed)"
        axes.plot(curve, mapping(curve), color="tab:red", linewidth=1.2,
                  linestyle="--" if profile is not None else "-",
                  label=f"{fitted}: " + agreement_text(mapping(x), y))
    axes.set_xlabel("Lumetra measure (lower is better)")
    axes.set_ylabel(scores.kind.upper() + (" (lower is better)" if scores.kind == "dmos"
                                          else " (higher is better)"))
    axes.set_title(f"{scores.path.name}: {len(among)} pairs")
    axes.legend(fontsize="small")
    figure.tight_layout()
    return figure


def plot(path: Path, figure) -> None:
    """Writes `figure` as a PNG, whole or not at all."""
    write_bytes_atomically(path, lambda out: figure.savefig(out, format="png"))


def agreement_text(predicted: np.ndarray, opinion: np.ndarray) -> str:
    """"SROCC 0.912, PLCC 0.934, RMSE 0.41": how a curve's predictions agree with the
    opinions (SROCC and PLCC higher is better, RMSE in opinion units lower is better)."""
    figures_of = agreement(np.asarray(predicted, float), opinion)
    return (f"SROCC {figures_of.srocc:.3f}, PLCC {figures_of.plcc:.3f}, "
            f"RMSE {figures_of.rmse:.3g}")


def load_profile(path: Path):
    """The loaded profile (its parameters hold the viewing conditions and the score mapping).

    Raises
    ------
    ValueError
        lumetra.ProfileError when the file cannot be read or is not a usable profile.
    """
    import lumetra

    loader = getattr(lumetra, "Profile", None)
    if loader is None:
        raise ValueError("--profile needs lumetra.Profile, which this build does not have")
    return loader.load(path)


def parser() -> argparse.ArgumentParser:
    options = argparse.ArgumentParser(
        prog=f"python3 -m {PROGRAM}",
        description="Reports how well Lumetra agrees with viewers' opinion scores: SROCC, "
        "KROCC, PLCC (signed so that positive is agreement; higher is better, 1 is "
        "perfect), PLCC and RMSE after a 4-parameter logistic fit (RMSE in opinion units, "
        "lower is better) and the outlier ratio (lower is better), each with a 95 % "
        "bootstrap interval over references, for all pairs and per group.",
        epilog="SCORES.csv: columns reference,degraded and mos (or dmos, which grows with "
        "damage), optional group and std (the viewers' standard deviation, for the outlier "
        "ratio: fitted predictions off by more than 2 std); relative paths from the file's "
        "folder.  Exit status: 0 done, 1 when a pair could not be scored (it is left out "
        "and named) or too few could, 2 for a usage error or an unusable score file.",
    )
    options.add_argument("scores", type=Path, metavar="SCORES.csv")
    options.add_argument("--profile", type=Path, metavar="PROFILE.json",
                         help="score with this profile's parameters and mapping")
    add_cluster_options(options)
    add_reading_options(options)
    options.add_argument("--cache", type=Path, metavar="DIR",
                         help="keep each pair's results here; a later run scores only what "
                         "changed (files, sizes, times or parameters)")
    options.add_argument("--format", choices=("table", "json"), default="table")
    options.add_argument("--plot", type=Path, metavar="FILE.png",
                         help="draw the opinions against the measure with the profile's "
                         "curve (with --profile; else a fresh logistic fit), labelled with "
                         "its SROCC, PLCC and RMSE")
    options.add_argument("--plot-fit", action="store_true",
                         help="with --profile --plot: draw a fresh logistic fit beside the "
                         "profile's curve")
    options.add_argument("--compare", action="store_true",
                         help="also report PSNR and SSIM (scikit-image) of the same pairs")
    options.add_argument("--bootstrap", type=int, default=DEFAULT_BOOTSTRAP, metavar="N",
                         help=f"bootstrap samples for the intervals (default {DEFAULT_BOOTSTRAP};"
                         " 0: no intervals)")
    options.add_argument("--seed", type=int, default=0, help="seed of the bootstrap")
    options.add_argument("--verbose", action="store_true", help="log progress to stderr")
    return options


def main(argv: Optional[list[str]] = None) -> int:
    options = parser()
    args = options.parse_args(argv)
    log_to_stderr(log, PROGRAM, args.verbose)
    needed = {"scipy": PROGRAM}
    if args.plot is not None:
        needed["matplotlib"] = "--plot"
    if args.compare:
        needed["skimage"] = "--compare"
    require_modules(options, PROGRAM, needed)
    profile = None
    try:
        if args.bootstrap < 0:
            raise ValueError(f"--bootstrap must be at least 0 (got {args.bootstrap})")
        check_cluster_options(args)
        # The folder as written, not as resolved: "nowhere/../x.png" resolves to a folder that
        # exists, but the system cannot open it through the missing "nowhere".
        if args.plot is not None and not args.plot.parent.is_dir():
            raise ValueError(f"{args.plot}: its folder does not exist")
        scores = read_scores(args.scores)
        params = Parameters()
        if args.profile is not None:
            profile = load_profile(args.profile)
            params = profile.parameters
        cache = ResultCache(args.cache)
    except (ValueError, ParameterError, ScoresError, OSError) as error:
        options.exit(EXIT_USAGE, f"{PROGRAM}: {error}\n")
    scored = score_on_cluster(
        options, PROGRAM, args.scheduler,
        lambda client: score_with_cache(
            scores.pairs, params, cache=cache, client=client, workers=args.workers,
            compare=args.compare,
            extra_key="" if profile is None else f"profile {file_stamp(str(args.profile))}",
            colour=args.colour, orientation=args.orientation,
        ),
    )
    log.info("scored %d pairs (%d from the cache)", scored.scored_now,
             len(scores.pairs) - scored.scored_now)
    failed = [i for i, error in enumerate(scored.error) if error]
    for i in failed:
        log.warning("not scored, left out: %s: %s", scores.written[i][1], scored.error[i])
    usable = np.array([i for i in range(len(scores.pairs)) if not scored.error[i]], dtype=int)
    if usable.size < 3:
        options.exit(EXIT_FAILURE, f"{PROGRAM}: fewer than 3 pairs could be scored\n")
    predictors = {"measure": scored.measure, "score": scored.score}
    if args.compare:
        predictors.update(psnr=scored.psnr, ssim=scored.ssim)
    rng = np.random.default_rng(args.seed)
    notes = []
    whole = evaluate(predictors, scores, usable, args.bootstrap, rng)
    for name in predictors:
        mapping = fit_logistic(predictors[name][usable], scores.raw_opinion[usable])
        if mapping.note:
            notes.append(f"{name}: {mapping.note}")
    groups = {}
    if scores.group is not None:
        for name in dict.fromkeys(scores.group[i] for i in usable):
            mine = np.array([i for i in usable if scores.group[i] == name], dtype=int)
            groups[name] = evaluate(predictors, scores, mine, args.bootstrap, rng)
    for note in notes:
        log.warning("%s", note)
    if args.format == "json":
        document = as_json(whole, groups, scores, notes, args.bootstrap, args.seed)
        sys.stdout.write(json.dumps(document, indent=2, allow_nan=False) + "\n")
    else:
        out = sys.stdout
        out.write(f"{scores.path}: opinion {scores.kind}; 95 % intervals from "
                  f"{args.bootstrap} bootstrap samples of references (seed {args.seed})\n")
        write_table(out, "all pairs", whole)
        for name, table in groups.items():
            write_table(out, f"group {name}", table)
        out.write("Correlations are signed so that positive is agreement: higher SROCC, "
                  "KROCC, PLCC are better (1 perfect); lower RMSE (opinion units) and outlier "
                  "ratio are better.\n")
    # The plot comes after the figures, so that a plot that cannot be written loses nothing
    # the scoring took long to produce.
    if args.plot is not None:
        try:
            figure = draw(scored.measure, scores, usable, None if profile is None else params,
                          args.plot_fit)
            plot(args.plot, figure)
        except OSError as error:  # OutputError names the file and the reason
            log.error("%s", error)
            return EXIT_FAILURE
    return EXIT_FAILURE if failed else EXIT_SUCCESS


if __name__ == "__main__":
    sys.exit(main())
