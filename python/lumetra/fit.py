"""python3 -m lumetra.fit SCORES.csv [SCORES2.csv ...] --out PROFILE.json: fit the score
mapping (and optionally the pooling parameters alpha, beta, co) to viewers' opinion scores.

Each pair is scored once (on a Dask cluster, or from --cache), keeping its error map, block
weight and edge zone; the measure at any alpha, beta, co then follows in NumPy
(`lumetra.pooling`) without scoring again.  Pooling parameters are chosen to maximise the rank
correlation (SROCC) between the measure and the opinions; the mapping from the measure to
the opinion scale is then fitted by least squares.

With several score files the pooling parameters are shared and each file gets a mapping of
its own (files may use different scales); the profile's top-level mapping, the one used to
score, is the first file's: put the file whose scale you want first.  Cross-validation holds
out whole references, so no content is in both the training and the test set of a fold.
"""

from __future__ import annotations

import argparse
import json
import logging
import math
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Optional, Sequence

import numpy as np

import lumetra
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
from lumetra._files import write_text_atomically
from lumetra.calibration import (
    Mapping,
    ResultCache,
    Scores,
    ScoresError,
    agreement,
    fit_mapping,
    read_scores,
    reference_folds,
    score_with_cache,
)
from lumetra.pooling import PooledSet

log = logging.getLogger("lumetra.fit")

PROGRAM = "lumetra.fit"
POOLING_NAMES = ("alpha", "beta", "co")

# The search of the pooling parameters.  beta on a geometric grid shared by every fold (each
# beta costs one pass over the pixels, and folds reuse the passes), refined by golden-section
# steps in log beta; alpha and co by a grid, then Nelder-Mead on their square roots (which
# keeps them at least 0 without bounds).
BETA_GRID = tuple(float(b) for b in np.geomspace(1.0, 16.0, 7))
BETA_REFINE_STEPS = 3
ALPHA_GRID = (0.0, 0.5, 1.0, 2.0)
CO_GRID = (0.0, 1.0, 2.0, 5.0, 10.0)
NELDER_MEAD_EVALUATIONS = 80
# Largest alpha and co the search goes to: beyond them the weights only sharpen further.
ALPHA_LIMIT = 8.0
CO_LIMIT = 100.0
# Fold parameters whose spread ((max - min) over the median) exceeds this get a warning.
SPREAD_WARNING = 0.5


@dataclass
class Pooling:
    alpha: float
    beta: float
    co: float

    def as_dict(self) -> dict:
        return {"alpha": self.alpha, "beta": self.beta, "co": self.co}


@dataclass
class Study:
    """Every usable pair of every score file, with its file and reference."""

    files: list[Scores]
    file_of: np.ndarray  # file index of each pair
    references: list[str]  # absolute reference path of each pair
    opinion: np.ndarray  # as written (mos or dmos)
    pooled: PooledSet

    @property
    def sign_of_file(self) -> list[float]:
        """+1 for files whose opinions grow with the measure (dmos), else -1."""
        return [1.0 if scores.kind == "dmos" else -1.0 for scores in self.files]


class PoolingSearch:
    """Finds alpha, beta, co maximising the rank correlation of the measure with the opinions,
    over any subset of a study's pairs (a cross-validation fold's training set)."""

    def __init__(self, study: Study, fit: Sequence[str], start: Pooling) -> None:
        self.study = study
        self.fit = set(fit)
        self.start = start
        self._ranked: dict[bytes, list] = {}

    def _objective(self, pooled: PooledSet, pairs: np.ndarray, p: Pooling) -> float:
        # SROCC as the Pearson correlation of the ranks (SciPy's rankdata, ties averaged),
        # which is what spearmanr computes, without its per-call overhead: this runs
        # thousands of times per search.
        from scipy import stats

        ranks = stats.rankdata(pooled.measures(p.alpha, p.beta, p.co))
        total = 0.0
        for file, opinion_ranks, mine in self._files(pairs):
            rho = np.corrcoef(ranks[mine], opinion_ranks)[0, 1]
            if not math.isfinite(rho):
                return -math.inf
            total += mine.sum() * self.study.sign_of_file[file] * rho
        return total / pairs.size

    def _files(self, pairs: np.ndarray) -> list[tuple[int, np.ndarray, np.ndarray]]:
        from scipy import stats

        key = pairs.tobytes()
        if key not in self._ranked:
            found = []
            for file in range(len(self.study.files)):
                mine = self.study.file_of[pairs] == file
                if mine.sum() >= 3:
                    found.append((file, stats.rankdata(self.study.opinion[pairs][mine]), mine))
            self._ranked = {key: found}
        return self._ranked[key]

    def search(self, pairs: np.ndarray) -> tuple[Pooling, float]:
        """The best pooling parameters on `pairs` and their objective (pair-weighted mean of
        the files' SROCC, oriented so that 1 is perfect agreement)."""
        pooled = self.study.pooled.subset(pairs)
        if not self.fit:
            return self.start, self._objective(pooled, pairs, self.start)
        betas = BETA_GRID if "beta" in self.fit else (self.start.beta,)
        alphas = ALPHA_GRID if "alpha" in self.fit else (self.start.alpha,)
        cos = CO_GRID if "co" in self.fit else (self.start.co,)

        def inner_grid(beta: float) -> tuple[float, Pooling]:
            best = (-math.inf, self.start)
            for alpha in alphas:
                for co in cos:
                    p = Pooling(alpha, beta, co)
                    best = max(best, (self._objective(pooled, pairs, p), p), key=lambda t: t[0])
            return best

        scored = [inner_grid(beta) for beta in betas]
        value, best = max(scored, key=lambda t: t[0])
        # Halving steps in log beta about the best so far: each step tries the points half
        # a step either side, at the best alpha and co so far.  The points depend only on
        # where the search stands, so folds that agree share their passes over the pixels.
        if "beta" in self.fit and len(betas) > 1:
            step = math.log(betas[1] / betas[0])
            for _ in range(BETA_REFINE_STEPS):
                step /= 2
                centre = best.beta
                for beta in (centre * math.exp(-step), centre * math.exp(step)):
                    p = Pooling(best.alpha, float(f"{beta:.12g}"), best.co)
                    v = self._objective(pooled, pairs, p)
                    if v > value:
                        value, best = v, p
        # Nelder-Mead over the square roots of alpha and co at the chosen beta.
        from scipy import optimize

        free = [name for name in ("alpha", "co") if name in self.fit]
        if free:
            limits = {"alpha": ALPHA_LIMIT, "co": CO_LIMIT}

            def pooling_of(theta: np.ndarray) -> Pooling:
                values = best.as_dict()
                for name, t in zip(free, theta):
                    values[name] = min(float(t) ** 2, limits[name])
                return Pooling(**values)

            start = np.array([math.sqrt(getattr(best, name)) for name in free])
            simplex = [start] + [start + np.eye(len(free))[i] * 0.35 for i in range(len(free))]
            result = optimize.minimize(
                lambda theta: -self._objective(pooled, pairs, pooling_of(theta)),
                start,
                method="Nelder-Mead",
                options={"maxfev": NELDER_MEAD_EVALUATIONS, "initial_simplex": simplex,
                         "xatol": 1e-3, "fatol": 1e-6},
            )
            if -result.fun > value:
                value, best = -result.fun, pooling_of(result.x)
        return best, value


@dataclass
class FitOutcome:
    pooling: Pooling
    objective: float
    mappings: list[Mapping]  # one per file

    def predict(self, study: Study, pairs: np.ndarray, measure: np.ndarray) -> np.ndarray:
        predicted = np.empty(pairs.size)
        for file, mapping in enumerate(self.mappings):
            mine = study.file_of[pairs] == file
            predicted[mine] = mapping(measure[mine])
        return predicted


def fit_on(study: Study, search: PoolingSearch, pairs: np.ndarray, kind: str) -> FitOutcome:
    """Pooling parameters, then one mapping per file, fitted on `pairs` alone."""
    pooling, objective = search.search(pairs)
    measure = study.pooled.subset(pairs).measures(pooling.alpha, pooling.beta, pooling.co)
    mappings = []
    for file in range(len(study.files)):
        mine = study.file_of[pairs] == file
        if not mine.any():
            mappings.append(Mapping("linear", {"a": 0.0, "b": math.nan}, "no pairs"))
            continue
        mappings.append(fit_mapping(kind, measure[mine], study.opinion[pairs][mine]))
    return FitOutcome(pooling, objective, mappings)


def oriented_figures(study: Study, pairs: np.ndarray, predicted: np.ndarray) -> dict:
    """SROCC, PLCC, KROCC and RMSE of the mapped predictions against the opinions, each file
    against its own mapping, pair-weighted over the files.  Mapped predictions, not raw
    measures: cross-validated measures of different folds come from different pooling
    parameters and are comparable only once mapped to the opinion scale."""
    total = {"srocc": 0.0, "plcc": 0.0, "krocc": 0.0, "rmse": 0.0}
    for file in range(len(study.files)):
        mine = study.file_of[pairs] == file
        if not mine.any():
            continue
        found = agreement(predicted[mine], study.opinion[pairs][mine])
        weight = mine.sum() / pairs.size
        total["srocc"] += weight * found.srocc
        total["krocc"] += weight * found.krocc
        total["plcc"] += weight * found.plcc
        total["rmse"] += weight * found.rmse ** 2
    total["rmse"] = math.sqrt(total["rmse"])
    return total


@dataclass
class Report:
    outcome: FitOutcome
    train: dict
    cv: Optional[dict]
    folds: list[FitOutcome] = field(default_factory=list)
    warnings: list[str] = field(default_factory=list)


def run_fit(study: Study, fit: Sequence[str], start: Pooling, kind: str,
            folds: Optional[list[np.ndarray]]) -> Report:
    """The fit on every pair and, with `folds`, the cross-validated figures."""
    search = PoolingSearch(study, fit, start)
    every = np.arange(study.opinion.size)
    outcome = fit_on(study, search, every, kind)
    measure = study.pooled.measures(outcome.pooling.alpha, outcome.pooling.beta,
                                    outcome.pooling.co)
    train = oriented_figures(study, every, outcome.predict(study, every, measure))
    report = Report(outcome, train, None)
    if folds is None:
        return report
    held_measure = np.empty(every.size)
    held_predicted = np.empty(every.size)
    for test in folds:
        training = np.setdiff1d(every, test)
        # No reference may be on both sides: the folds are made of whole references.
        assert not set(study.references[i] for i in test) & set(
            study.references[i] for i in training)
        fold = fit_on(study, search, training, kind)
        report.folds.append(fold)
        p = fold.pooling
        held_measure[test] = study.pooled.subset(test).measures(p.alpha, p.beta, p.co)
        held_predicted[test] = fold.predict(study, test, held_measure[test])
    report.cv = oriented_figures(study, every, held_predicted)
    report.warnings = spread_warnings(report.folds, fit)
    return report


def spread_warnings(folds: list[FitOutcome], fit: Sequence[str]) -> list[str]:
    found = []
    named: dict[str, list[float]] = {name: [f.pooling.as_dict()[name] for f in folds]
                                     for name in fit}
    for key in folds[0].mappings[0].values if folds else []:
        named[f"mapping {key}"] = [f.mappings[0].values.get(key, math.nan) for f in folds]
    for name, values in named.items():
        values = np.array(values, float)
        if values.size < 2 or not np.all(np.isfinite(values)):
            continue
        middle = abs(float(np.median(values)))
        spread = float(np.ptp(values))
        if spread > SPREAD_WARNING * max(middle, 1e-12):
            found.append(
                f"{name} varies a lot between folds ({values.min():.4g} to {values.max():.4g}, "
                f"median {np.median(values):.4g}): the data may not pin it down"
            )
    return found


def profile_document(study: Study, report: Report, params: Parameters,
                     written_names: list[str]) -> dict:
    """The profile, in the format every Lumetra front end loads."""
    p = report.outcome.pooling

    def as_float(x: float) -> float:
        # The engine's parameters are floats: the shortest text of the float value.
        return float(repr(np.float32(x)).replace("np.float32(", "").rstrip(")"))

    def figures_or_null(values: Optional[dict]) -> Optional[dict]:
        if values is None:
            return None
        return {k: (float(v) if math.isfinite(v) else None) for k, v in values.items()}

    files = []
    for index, scores in enumerate(study.files):
        mine = study.file_of == index
        entry = {
            "file": written_names[index],
            "pairs": int(mine.sum()),
            "references": len({study.references[i] for i in np.flatnonzero(mine)}),
        }
        if len(study.files) > 1:
            entry["mapping"] = report.outcome.mappings[index].as_profile()
        files.append(entry)
    return {
        "format": "lumetra-profile",
        "format_version": 1,
        "lumetra_version": lumetra.__version__,
        "parameters": {
            "alpha": as_float(p.alpha), "beta": as_float(p.beta), "co": as_float(p.co),
            "intra_a": params.intra_a, "inter_a": params.inter_a,
            "intra_c1": params.intra_c1, "inter_c1": params.inter_c1,
            "intra_c2": params.intra_c2, "inter_c2": params.inter_c2,
        },
        "viewing": {"ppd": params.ppd},
        "mapping": report.outcome.mappings[0].as_profile(),
        "data": {
            "files": files,
            "pairs": int(study.opinion.size),
            "references": len(set(study.references)),
        },
        "figures": {"train": figures_or_null(report.train), "cv": figures_or_null(report.cv)},
    }


def load_study(files: list[Scores], params: Parameters, cache: ResultCache, client,
               workers: Optional[int] = None, colour: str = "as-stored",
               orientation: str = "as-stored") -> tuple[Study, int, list[str]]:
    """Score every pair (or take it from the cache) and keep what the pooling needs; returns
    the study, the number of pairs scored now and the failures.  Every file is read with
    `colour` and `orientation` (see `lumetra.read_image`)."""
    pairs = [pair for scores in files for pair in scores.pairs]
    unique = list(dict.fromkeys(pairs))
    scored = score_with_cache(unique, params, cache=cache, client=client, workers=workers,
                              pooling=True, colour=colour, orientation=orientation)
    position = {pair: i for i, pair in enumerate(unique)}
    failures = []
    inputs, file_of, references, opinion = [], [], [], []
    for index, scores in enumerate(files):
        for k, pair in enumerate(scores.pairs):
            i = position[pair]
            if scored.error[i]:
                failures.append(f"{scores.path}: {scores.written[k][1]}: {scored.error[i]}")
                continue
            inputs.append(scored.pooling[i])
            file_of.append(index)
            references.append(str(Path(pair[0]).resolve()))
            opinion.append(scores.raw_opinion[k])
    study = Study(files, np.array(file_of, int), references, np.array(opinion, float),
                  PooledSet(inputs))
    return study, scored.scored_now, failures


def parse_cv(values: list[str]) -> Optional[int]:
    """None for by-reference (leave one reference out), else the number of folds."""
    if values == ["by-reference"]:
        return None
    if len(values) == 2 and values[0] == "k-fold":
        try:
            folds = int(values[1])
        except ValueError:
            folds = 0
        if folds >= 2:
            return folds
    raise ValueError(f"--cv takes by-reference or k-fold K with K >= 2 (got {' '.join(values)})")


def parse_fit(text: Optional[str]) -> list[str]:
    if not text:
        return []
    names = [name.strip() for name in text.split(",") if name.strip()]
    unknown = [name for name in names if name not in POOLING_NAMES]
    if unknown or not names:
        raise ValueError(f"--fit takes some of alpha,beta,co (got {text})")
    return list(dict.fromkeys(names))


class _CvAction(argparse.Action):
    """--cv by-reference | --cv k-fold K; values after the mode are score files again, so
    that ``--cv by-reference more.csv`` does not swallow a file."""

    def __call__(self, parser, namespace, values, option_string=None):
        size = 2 if values and values[0] == "k-fold" else 1
        setattr(namespace, self.dest, values[:size])
        namespace.more_scores = getattr(namespace, "more_scores", []) + [
            Path(v) for v in values[size:]]


def parser() -> argparse.ArgumentParser:
    options = argparse.ArgumentParser(
        prog=f"python3 -m {PROGRAM}",
        description="Fits Lumetra to viewers' opinion scores and writes a profile: the "
        "mapping from the measure to the opinion scale (and with --fit the pooling "
        "parameters).  Prints training and cross-validated SROCC, PLCC, KROCC (higher is "
        "better, 1 is perfect) and RMSE (in opinion units, lower is better).",
        epilog="Score files: columns reference,degraded and mos (or dmos, which grows with "
        "damage), optional group and std; relative paths from the file's folder.  With "
        "several files the pooling parameters are shared, each file gets its own mapping "
        "(data.files[i].mapping) and the profile scores with the first file's.  Exit status: "
        "0 done, 1 when a pair could not be scored or nothing could be fitted, 2 for a usage "
        "error or an unusable score file.",
    )
    options.add_argument("scores", nargs="+", type=Path, metavar="SCORES.csv")
    options.add_argument("--out", type=Path, required=True, metavar="PROFILE.json",
                         help="the profile to write (replaced whole, never half written)")
    options.add_argument("--mapping", choices=("linear", "logistic"), default="linear",
                         help="linear: score = b - a x measure (the engine's line); logistic: "
                         "the 4-parameter curve (default: linear)")
    options.add_argument("--fit", metavar="alpha,beta,co",
                         help="also fit these pooling parameters, maximising SROCC: beta "
                         "over 0.7 .. 24, alpha over 0 .. 8, co over 0 .. 100 (default: keep "
                         "the model's)")
    options.add_argument("--cv", nargs="+", action=_CvAction, default=["by-reference"],
                         metavar="MODE",
                         help="cross-validation: by-reference (leave one reference out, the "
                         "default) or k-fold K (K folds of whole references)")
    options.add_argument("--no-cv", action="store_true", help="skip the cross-validation")
    options.add_argument("--cache", type=Path, metavar="DIR",
                         help="keep each pair's scoring here; a later run (of fit or validate) "
                         "scores only what changed")
    add_cluster_options(options)
    add_reading_options(options)
    options.add_argument("--seed", type=int, default=0, help="seed of the k-fold split")
    options.add_argument("--ppd", type=float,
                         help="pixels per degree of the viewing the opinions were given at "
                         "(default: the model's)")
    options.add_argument("--verbose", action="store_true", help="log progress to stderr")
    return options


def _format_figures(name: str, values: Optional[dict]) -> str:
    if values is None:
        return f"{name:<16}(not run)"
    return (f"{name:<16}SROCC {values['srocc']:.4f}  PLCC {values['plcc']:.4f}  "
            f"KROCC {values['krocc']:.4f}  RMSE {values['rmse']:.4g}")


def _format_pooling(p: Pooling) -> str:
    return f"alpha {p.alpha:.4g}, beta {p.beta:.4g}, co {p.co:.4g}"


def _format_mapping(m: Mapping) -> str:
    text = m.kind + " " + ", ".join(f"{k} {v:.6g}" for k, v in m.values.items())
    return text + (f" ({m.note})" if m.note else "")


def print_report(report: Report, study: Study, fit: Sequence[str], out) -> None:
    o = report.outcome
    out.write(f"{study.opinion.size} pairs, {len(set(study.references))} references, "
              f"{len(study.files)} score file(s)\n")
    out.write(f"pooling: {_format_pooling(o.pooling)}"
              f"{' (fitted)' if fit else ' (the model parameters, not fitted)'}\n")
    for index, scores in enumerate(study.files):
        out.write(f"mapping of {scores.path}: {_format_mapping(o.mappings[index])}\n")
    out.write(_format_figures("training", report.train) + "\n")
    out.write(_format_figures("cross-validated", report.cv) + "\n")
    for k, fold in enumerate(report.folds):
        out.write(f"  fold {k + 1}: {_format_pooling(fold.pooling)}; "
                  f"{_format_mapping(fold.mappings[0])}\n")
    out.write("SROCC, PLCC, KROCC: higher is better (1 perfect); RMSE in opinion units, "
              "lower is better.\n")


def main(argv: Optional[list[str]] = None) -> int:
    options = parser()
    args = options.parse_args(argv)
    log_to_stderr(log, PROGRAM, args.verbose)
    require_modules(options, PROGRAM, {"scipy": PROGRAM})
    try:
        fit = parse_fit(args.fit)
        folds_wanted = None if args.no_cv else parse_cv(args.cv)
        check_cluster_options(args)
        params = Parameters(**({"ppd": args.ppd} if args.ppd is not None else {}))
        args.scores += getattr(args, "more_scores", [])
        files = [read_scores(path) for path in args.scores]
        if not args.out.parent.is_dir():
            raise ValueError(f"{args.out}: its folder does not exist")
        cache = ResultCache(args.cache)
    except (ValueError, ParameterError, ScoresError, OSError) as error:
        options.exit(EXIT_USAGE, f"{PROGRAM}: {error}\n")
    def score(client) -> tuple[Study, int, list[str]]:
        started = time.monotonic()
        loaded = load_study(files, params, cache, client, args.workers, args.colour,
                            args.orientation)
        log.info("scored %d pairs in %.1f s", loaded[1], time.monotonic() - started)
        return loaded

    study, scored_now, failures = score_on_cluster(options, PROGRAM, args.scheduler, score)
    for failure in failures:
        log.warning("not scored, left out: %s", failure)
    if study.opinion.size < 3:
        options.exit(EXIT_FAILURE, f"{PROGRAM}: fewer than 3 pairs could be scored\n")
    folds = None if args.no_cv else reference_folds(study.references, folds_wanted, args.seed)
    if folds is not None and len(folds) < 2:
        log.warning("one reference only: no cross-validation")
        folds = None
    started = time.monotonic()
    start = Pooling(params.alpha, params.beta, params.co)
    report = run_fit(study, fit, start, args.mapping, folds)
    log.info("fitted in %.1f s", time.monotonic() - started)
    for warning in report.warnings:
        log.warning("%s", warning)
    for index, mapping in enumerate(report.outcome.mappings):
        if mapping.note:
            log.warning("%s: %s", study.files[index].path, mapping.note)
        if mapping.at_bound:
            log.warning("%s: the logistic curve is not settled by the opinions: %s",
                        study.files[index].path, mapping.at_bound)
    low, high = float(np.min(study.opinion)), float(np.max(study.opinion))
    if low < 1 or high > 5:
        log.warning("opinions range over %.4g .. %.4g: the profile's score is clamped to 1 .. 5, "
                    "so scores outside it cannot be reproduced", low, high)
    document = profile_document(study, report, params, [str(p) for p in args.scores])
    try:
        # Every front end's loader must take what is written: judged by it before writing.
        lumetra.Profile.from_dict(document, source=str(args.out))
    except ValueError as error:
        options.exit(EXIT_FAILURE, f"{PROGRAM}: the fitted profile is not usable: {error}\n")
    try:
        text = json.dumps(document, indent=2, allow_nan=False) + "\n"
        write_text_atomically(args.out, lambda out: out.write(text))
    except OSError as error:  # OutputError names the file and the reason
        options.exit(EXIT_FAILURE, f"{PROGRAM}: {error}\n")
    print_report(report, study, fit, sys.stdout)
    return EXIT_FAILURE if failures else EXIT_SUCCESS


if __name__ == "__main__":
    sys.exit(main())
