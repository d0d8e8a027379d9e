"""Calibration against viewers' opinion scores: the score files, the scoring with its cache,
the mappings, the statistics and their bootstrap intervals.

Used by ``python3 -m lumetra.validate`` and ``python3 -m lumetra.fit``.  The statistics are
SciPy's (Spearman, Kendall, Pearson) and the fits scipy.optimize's.
"""

from __future__ import annotations

import csv
import hashlib
import logging
import math
import os
import warnings
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Optional, Sequence

import numpy as np

from lumetra._core import Parameters
from lumetra._files import write_bytes_atomically
from lumetra.pooling import PoolingInputs

log = logging.getLogger("lumetra.calibration")

OPINION_COLUMNS = ("mos", "dmos")
# A fitted prediction off by more than this many of the viewers' standard deviations makes
# its pair an outlier.
OUTLIER_STDS = 2.0
# Coverage of the bootstrap intervals.
CONFIDENCE = 0.95
# Version of the cache's files: a change of what they hold makes older files miss.
_CACHE_FORMAT = 1


class ScoresError(ValueError):
    """A score file that cannot be used; raised before any scoring."""


@dataclass
class Scores:
    """The pairs of one score file and their opinions.

    `opinion` is always oriented so that higher means better quality: a ``dmos`` column
    (which grows with damage) is negated, and `kind` remembers which column it was.
    """

    path: Path
    written: list[tuple[str, str]]
    pairs: list[tuple[str, str]]
    opinion: np.ndarray
    kind: str
    group: Optional[list[str]] = None
    std: Optional[np.ndarray] = None

    @property
    def references(self) -> list[str]:
        return [reference for reference, _ in self.pairs]

    @property
    def raw_opinion(self) -> np.ndarray:
        """The opinions as written in the file."""
        return -self.opinion if self.kind == "dmos" else self.opinion


def _number(path: Path, line: int, column: str, text: str, allow_negative: bool) -> float:
    try:
        value = float(text)
    except ValueError:
        raise ScoresError(f"{path}:{line}: {column} is not a number (got {text!r})") from None
    if not math.isfinite(value):
        raise ScoresError(f"{path}:{line}: {column} must be finite (got {text!r})")
    if not allow_negative and value < 0:
        raise ScoresError(f"{path}:{line}: {column} must not be negative (got {text!r})")
    return value


def read_scores(path: Path) -> Scores:
    """Read a score file: columns ``reference,degraded`` and ``mos`` or ``dmos``, optional
    ``group`` and ``std``; relative paths from the file's folder.

    Raises
    ------
    ScoresError
        When the file cannot be read, lacks a column, has both or neither of mos and dmos,
        has a field that is not a number, or has no pairs.  The message names the file, the
        line and the column.
    """
    path = Path(path)
    try:
        with open(path, newline="", encoding="utf-8") as text:
            reader = csv.reader(text)
            header = [name.strip() for name in next(reader, [])]
            if not header:
                raise ScoresError(
                    f"{path}: empty; the first line must name reference,degraded,mos"
                )
            missing = [name for name in ("reference", "degraded") if name not in header]
            opinions = [name for name in OPINION_COLUMNS if name in header]
            if missing or len(opinions) != 1:
                wanted = ", ".join(missing + ([] if opinions else ["mos (or dmos)"]))
                problem = f"no column {wanted}" if wanted else "both mos and dmos"
                raise ScoresError(
                    f"{path}: {problem} (the first line must name reference,degraded and one "
                    f"of mos or dmos; got {','.join(header)})"
                )
            kind = opinions[0]
            at = {name: header.index(name) for name in header}
            written, opinion, groups, stds = [], [], [], []
            for fields in reader:
                if not fields or all(not f.strip() for f in fields):
                    continue
                line = reader.line_num
                if len(fields) != len(header):
                    raise ScoresError(
                        f"{path}:{line}: expected {len(header)} fields (got {len(fields)})"
                    )
                reference = fields[at["reference"]].strip()
                degraded = fields[at["degraded"]].strip()
                if not reference or not degraded:
                    raise ScoresError(f"{path}:{line}: empty reference or degraded path")
                written.append((reference, degraded))
                opinion.append(_number(path, line, kind, fields[at[kind]], True))
                if "group" in at:
                    groups.append(fields[at["group"]].strip())
                if "std" in at:
                    stds.append(_number(path, line, "std", fields[at["std"]], False))
    except (OSError, UnicodeDecodeError, csv.Error) as error:
        raise ScoresError(f"{path}: {error}") from error
    if not written:
        raise ScoresError(f"{path}: no pairs")
    folder = path.parent
    pairs = [(str(folder / r), str(folder / d)) for r, d in written]
    values = np.array(opinion)
    return Scores(
        path=path,
        written=written,
        pairs=pairs,
        opinion=-values if kind == "dmos" else values,
        kind=kind,
        group=groups if "group" in at else None,
        std=np.array(stds) if "std" in at else None,
    )


# --- Scoring, with a cache ---------------------------------------------------------------

# Parameters that change the error map, block weight and zone (alpha, beta, co and the score
# line only change the pooling and the mapping).
_MAP_PARAMETERS = ("intra_a", "inter_a", "intra_c1", "inter_c1", "intra_c2", "inter_c2", "ppd")
_ALL_PARAMETERS = ("alpha", "beta", "co", "a", "b") + _MAP_PARAMETERS


def parameters_dict(params: Parameters, names: Sequence[str] = _ALL_PARAMETERS) -> dict:
    return {name: getattr(params, name) for name in names}


def file_stamp(path: str) -> str:
    """Path, size and modification time: what tells a file's versions apart."""
    status = os.stat(path)
    return f"{os.path.abspath(path)}|{status.st_size}|{status.st_mtime_ns}"


def cache_key(pair: tuple[str, str], what: str, params: Parameters, extra: str = "") -> str:
    """The cache file name of a pair's results: its files (path, size, modification time),
    what was computed and the parameters it depends on."""
    # Pooling inputs depend on the map parameters alone; scores on every value, which the
    # repr holds in its shortest exact text (the score mapping included).
    parameters = (repr(parameters_dict(params, _MAP_PARAMETERS)) if what == "pooling"
                  else repr(params))
    try:
        stamps = [file_stamp(path) for path in pair]
    except OSError:
        stamps = [os.path.abspath(path) + "|missing" for path in pair]
    text = "\n".join([f"format {_CACHE_FORMAT}", what, *stamps, parameters, extra])
    return hashlib.sha256(text.encode("utf-8")).hexdigest()[:32]


class ResultCache:
    """Results of scored pairs, one .npz file per pair and kind of result, in a folder.

    A file is only ever replaced whole (a temporary name in the folder, then a rename), so an
    interrupted run leaves no half file.  Failed pairs are not kept: they are tried again.
    """

    def __init__(self, folder: Optional[Path]) -> None:
        self.folder = Path(folder) if folder is not None else None
        if self.folder is not None:
            self.folder.mkdir(parents=True, exist_ok=True)

    def _path(self, key: str) -> Path:
        assert self.folder is not None
        return self.folder / f"{key}.npz"

    def load(self, key: str) -> Optional[dict]:
        if self.folder is None:
            return None
        try:
            with np.load(self._path(key), allow_pickle=False) as stored:
                return {name: stored[name] for name in stored.files}
        except (OSError, ValueError, KeyError):
            return None  # missing or unreadable: scored again

    def store(self, key: str, values: dict) -> None:
        if self.folder is None:
            return
        # Uncompressed: float error maps barely compress, and loading is then just a read.
        write_bytes_atomically(self._path(key), lambda out: np.savez(out, **values))


@dataclass
class Scored:
    """What a run scored: per pair the measure, score and error, and what was asked for."""

    measure: np.ndarray
    score: np.ndarray
    error: list[str]
    pooling: Optional[list[Optional[PoolingInputs]]] = None
    psnr: Optional[np.ndarray] = None
    ssim: Optional[np.ndarray] = None
    #: How many pairs were scored by the engine in this run (the others came from the cache).
    scored_now: int = 0


def score_with_cache(
    pairs: list[tuple[str, str]],
    params: Parameters,
    *,
    cache: ResultCache,
    client=None,
    workers: Optional[int] = None,
    pooling: bool = False,
    compare: bool = False,
    extra_key: str = "",
    colour: str = "as-stored",
    orientation: str = "as-stored",
) -> Scored:
    """Score pairs on a Dask cluster, taking from `cache` what it holds and keeping there
    what it scores.

    With `pooling`, each pair's `PoolingInputs` are returned (and cached under a key that
    ignores alpha, beta, co and the score line, which they do not depend on); the measure and
    score are then NaN: they are the pooling's to compute at whatever parameters it tries.
    Without `client`, a local cluster of `workers` workers is started only when some pair is
    not in the cache.  `extra_key` tells apart results that differ for another reason (the
    profile they were scored with).  Every file is read with `colour` and `orientation` (see
    `lumetra.read_image`), which the cache tells apart too.
    """
    from lumetra.distributed import local_client, score_pairs

    what = "pooling" if pooling else "scores"
    extra = f"compare={compare}|{extra_key}"
    # Results read as stored keep the keys they had before files could be read otherwise.
    if (colour, orientation) != ("as-stored", "as-stored"):
        extra += f"|colour={colour}|orientation={orientation}"
    keys = [cache_key(pair, what, params, extra) for pair in pairs]
    count = len(pairs)
    measure = np.full(count, np.nan)
    score = np.full(count, np.nan)
    errors = [""] * count
    maps: list[Optional[PoolingInputs]] = [None] * count
    psnr = np.full(count, np.nan)
    ssim = np.full(count, np.nan)
    todo = []
    for index, key in enumerate(keys):
        stored = cache.load(key)
        if stored is None:
            todo.append(index)
            continue
        if not pooling:
            measure[index] = float(stored["measure"])
            score[index] = float(stored["score"])
        else:
            maps[index] = PoolingInputs(stored["error_map"], stored["block"], stored["zone"])
        if compare:
            psnr[index] = float(stored["psnr"])
            ssim[index] = float(stored["ssim"])
    if todo:
        # A local cluster only when something is left to score.
        with local_client(client, workers) as running:
            frame = score_pairs(
                [pairs[i] for i in todo],
                params,
                running,
                pooling=pooling,
                compare=compare,
                colour=colour,
                orientation=orientation,
            )
        for index, row in zip(todo, frame.to_dict("records")):
            if not pooling:
                measure[index] = row["measure"]
                score[index] = row["score"]
            errors[index] = row["error"] or ""
            if compare:
                psnr[index] = row["psnr"]
                ssim[index] = row["ssim"]
            if pooling:
                maps[index] = row["pooling"]
            if errors[index]:
                continue
            values = {"measure": measure[index], "score": score[index]}
            if compare:
                values.update(psnr=psnr[index], ssim=ssim[index])
            if pooling:
                kept = row["pooling"]
                values.update(error_map=kept.error, block=kept.block, zone=kept.zone)
            cache.store(keys[index], values)
    return Scored(
        measure=measure,
        score=score,
        error=errors,
        pooling=maps if pooling else None,
        psnr=psnr if compare else None,
        ssim=ssim if compare else None,
        scored_now=len(todo),
    )


# --- Mappings ----------------------------------------------------------------------------


def logistic(x: np.ndarray, b1: float, b2: float, b3: float, b4: float) -> np.ndarray:
    """b2 + (b1 - b2) / (1 + exp(-(x - b3) / |b4|)): b1 approached as x grows, b2 at small x."""
    with np.errstate(over="ignore"):
        return b2 + (b1 - b2) / (1.0 + np.exp(-(np.asarray(x, float) - b3) / abs(b4)))


@dataclass
class Mapping:
    """A fitted map from a predictor to the opinion scale.

    kind "linear": opinion = b - a * x.  kind "logistic": `logistic` with b1 .. b4.  `note`
    says when the fit failed and what was used instead; `at_bound` names each fitted value
    that sits at a bound of the search, where the data did not decide it.
    """

    kind: str
    values: dict
    note: str = ""
    at_bound: str = ""

    def __call__(self, x: np.ndarray) -> np.ndarray:
        x = np.asarray(x, float)
        if self.kind == "linear":
            return self.values["b"] - self.values["a"] * x
        v = self.values
        return logistic(x, v["b1"], v["b2"], v["b3"], v["b4"])

    def as_profile(self) -> dict:
        return {"kind": self.kind, **{k: float(v) for k, v in self.values.items()}}


def fit_linear(x: np.ndarray, y: np.ndarray) -> Mapping:
    """Least squares y = b - a x (the score line's form)."""
    x = np.asarray(x, float)
    y = np.asarray(y, float)
    if np.ptp(x) == 0:
        return Mapping("linear", {"a": 0.0, "b": float(np.mean(y))},
                       "every value of the predictor is the same: a flat line")
    slope, intercept = np.polyfit(x, y, 1)
    return Mapping("linear", {"a": float(-slope), "b": float(intercept)})


def fit_logistic(x: np.ndarray, y: np.ndarray, start: Optional[Mapping] = None) -> Mapping:
    """Least squares 4-parameter logistic; falls back to the least-squares line (written as
    a linear mapping, with a note saying so) when the fit does not converge.

    `start`, a logistic fitted to similar data (the whole sample, for a bootstrap sample),
    is where the search starts; otherwise it starts from the data's extremes, median and
    spread.  The unbounded Levenberg-Marquardt search is tried first (fast); a bounded one
    when it fails or leaves the data's range.
    """
    from scipy import optimize, stats

    x = np.asarray(x, float)
    y = np.asarray(y, float)
    if x.size < 5 or np.ptp(x) == 0 or np.ptp(y) == 0:
        fallback = fit_linear(x, y)
        fallback.note = f"logistic fit impossible on {x.size} pairs; least-squares line used"
        return fallback
    high, low = float(np.max(y)), float(np.min(y))
    spread = float(np.ptp(y))
    width = float(np.ptp(x))
    if start is not None and start.kind == "logistic":
        guess = [start.values[k] for k in ("b1", "b2", "b3", "b4")]
    else:
        # The observed extremes, ordered by the correlation's sign; the midpoint at the
        # median; the width a quarter of the spread of x.
        rising = stats.pearsonr(x, y)[0] >= 0
        guess = [high if rising else low, low if rising else high, float(np.median(x)),
                 max(float(np.std(x)) / 2, width * 1e-3)]
    lower = [low - 2 * spread, low - 2 * spread, float(np.min(x)) - width, width * 1e-6]
    upper = [high + 2 * spread, high + 2 * spread, float(np.max(x)) + width, width * 10]
    guess = list(np.clip(guess, lower, upper))

    def usable(values: np.ndarray) -> bool:
        return bool(np.all(np.isfinite(values)) and np.all(values >= lower)
                    and np.all(values <= upper))

    failure = "no convergence"
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for bounds in (None, (lower, upper)):
            try:
                if bounds is None:
                    fitted, _ = optimize.curve_fit(logistic, x, y, p0=guess, maxfev=2000)
                else:
                    fitted, _ = optimize.curve_fit(logistic, x, y, p0=guess, bounds=bounds,
                                                   maxfev=20000)
            except (RuntimeError, ValueError) as error:
                failure = str(error)
                continue
            fitted[3] = abs(fitted[3])
            if usable(fitted):
                values = dict(zip(LOGISTIC_NAMES, map(float, fitted)))
                return Mapping("logistic", values,
                               at_bound=bound_note(values, lower, upper))
    fallback = fit_linear(x, y)
    fallback.note = f"logistic fit failed ({failure}); least-squares line used"
    return fallback


LOGISTIC_NAMES = ("b1", "b2", "b3", "b4")
# Why each bound of the logistic search is where it is.
_BOUND_REASONS = {
    "b1": ("the lowest opinion - 2 x their spread", "the highest opinion + 2 x their spread"),
    "b2": ("the lowest opinion - 2 x their spread", "the highest opinion + 2 x their spread"),
    "b3": ("the smallest predictor - its spread", "the largest predictor + its spread"),
    "b4": ("1e-6 x the predictor's spread", "10 x the predictor's spread"),
}
# A value this close to a bound, relative to the width between the bounds, sits at it: the
# search stops a hair inside (b2 = 11.99999999987 for a bound of 12).
_AT_BOUND = 1e-6


def bound_note(values: dict, lower: Sequence[float], upper: Sequence[float]) -> str:
    """"b2 = 12 sits at its upper bound 12 (the highest opinion + 2 x their spread)" for each
    logistic coefficient at a bound of the search, joined by "; "; empty when none is."""
    notes = []
    for k, name in enumerate(LOGISTIC_NAMES):
        near = _AT_BOUND * (upper[k] - lower[k])
        for side, bound in (("lower", lower[k]), ("upper", upper[k])):
            if abs(values[name] - bound) <= near:
                reason = _BOUND_REASONS[name][side == "upper"]
                notes.append(f"{name} = {values[name]:.6g} sits at its {side} bound "
                             f"{bound:.6g} ({reason})")
    return "; ".join(notes)


def fit_mapping(kind: str, x: np.ndarray, y: np.ndarray) -> Mapping:
    return fit_logistic(x, y) if kind == "logistic" else fit_linear(x, y)


# --- Statistics --------------------------------------------------------------------------

FIGURES = ("srocc", "krocc", "plcc", "plcc_fitted", "rmse_fitted", "outlier_ratio")


def _correlation(function, x: np.ndarray, y: np.ndarray) -> float:
    if x.size < 3 or np.ptp(x) == 0 or np.ptp(y) == 0:
        return math.nan
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return float(function(x, y)[0])


def figures(
    x: np.ndarray,
    y: np.ndarray,
    sign: float,
    std: Optional[np.ndarray] = None,
    start: Optional[Mapping] = None,
) -> dict:
    """SROCC, KROCC, PLCC (times `sign`, so that positive means agreement), then PLCC, RMSE
    and the outlier ratio after the logistic fit of y on x (its search starting at `start`
    when given)."""
    from scipy import stats

    x = np.asarray(x, float)
    y = np.asarray(y, float)
    mapping = fit_logistic(x, y, start)
    predicted = mapping(x)
    result = {
        "srocc": sign * _correlation(stats.spearmanr, x, y),
        "krocc": sign * _correlation(stats.kendalltau, x, y),
        "plcc": sign * _correlation(stats.pearsonr, x, y),
        "plcc_fitted": _correlation(stats.pearsonr, predicted, y),
        "rmse_fitted": float(np.sqrt(np.mean((predicted - y) ** 2))) if y.size else math.nan,
    }
    if std is not None:
        result["outlier_ratio"] = float(np.mean(np.abs(predicted - y) > OUTLIER_STDS * std))
    return result


def reference_indices(references: Sequence[str]) -> list[np.ndarray]:
    """The pair indices of each reference, in order of first appearance."""
    by: dict[str, list[int]] = {}
    for index, reference in enumerate(references):
        by.setdefault(reference, []).append(index)
    return [np.array(indices) for indices in by.values()]


def bootstrap(
    statistic: Callable[[np.ndarray], dict],
    references: Sequence[str],
    samples: int,
    rng: np.random.Generator,
) -> dict:
    """Percentile intervals (95 %) of each figure `statistic` returns, resampling whole
    references with replacement (pairs of one reference are not independent)."""
    groups = reference_indices(references)
    drawn: dict[str, list[float]] = {}
    for _ in range(samples):
        chosen = rng.integers(0, len(groups), len(groups))
        indices = np.concatenate([groups[i] for i in chosen])
        for name, value in statistic(indices).items():
            drawn.setdefault(name, []).append(value)
    tail = (1 - CONFIDENCE) / 2 * 100
    intervals = {}
    for name, values in drawn.items():
        finite = np.array([v for v in values if math.isfinite(v)])
        intervals[name] = (
            [float(np.percentile(finite, tail)), float(np.percentile(finite, 100 - tail))]
            if finite.size
            else [math.nan, math.nan]
        )
    return intervals


def reference_folds(references: Sequence[str], folds: Optional[int], seed: int) -> list[np.ndarray]:
    """Test sets for cross-validation, whole references each: one per reference (leave one
    reference out) when `folds` is None, else `folds` sets of shuffled references."""
    groups = reference_indices(references)
    if folds is None or folds >= len(groups):
        return groups
    order = np.random.default_rng(seed).permutation(len(groups))
    return [
        np.sort(np.concatenate([groups[i] for i in order[k::folds]])) for k in range(folds)
    ]


@dataclass
class FitFigures:
    srocc: float
    plcc: float
    krocc: float
    rmse: float

    def as_dict(self) -> dict:
        return {"srocc": self.srocc, "plcc": self.plcc, "krocc": self.krocc, "rmse": self.rmse}


def agreement(predicted: np.ndarray, opinion: np.ndarray) -> FitFigures:
    """How well mapped predictions agree with opinions (both higher-is-better)."""
    from scipy import stats

    return FitFigures(
        srocc=_correlation(stats.spearmanr, predicted, opinion),
        plcc=_correlation(stats.pearsonr, predicted, opinion),
        krocc=_correlation(stats.kendalltau, predicted, opinion),
        rmse=float(np.sqrt(np.mean((predicted - opinion) ** 2))),
    )


__all__ = [
    "FIGURES", "FitFigures", "Mapping", "ResultCache", "Scored", "Scores", "ScoresError",
    "agreement", "bootstrap", "figures", "fit_linear", "fit_logistic", "fit_mapping",
    "logistic", "read_scores", "reference_folds", "reference_indices", "score_with_cache",
]
