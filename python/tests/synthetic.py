"""A synthetic opinion study: crops of the sample images degraded at several strengths, with
"opinion scores" made from the measure at known pooling parameters through a known curve.

The crops are 64 x 64 so that a study scores in a few seconds; each crop is a reference of
its own (distinct content).  Noise is seeded, so the study is the same on every run.
"""

from __future__ import annotations

import csv
from dataclasses import dataclass
from pathlib import Path

import numpy as np

import lumetra

CROP = 64
# Top-left corners of the crops taken from each sample image.
CORNERS = ((40, 60), (120, 130), (180, 20), (10, 180))
SAMPLES = ("astronaut.ppm", "coffee.ppm")


def _ppm(path: Path, samples: np.ndarray) -> None:
    rows, cols, _ = samples.shape
    path.write_bytes(f"P6\n{cols} {rows}\n255\n".encode() + samples.astype(np.uint8).tobytes())


def _blur(image: np.ndarray, radius: int) -> np.ndarray:
    padded = np.pad(image.astype(float), ((radius, radius), (radius, radius), (0, 0)), "edge")
    size = 2 * radius + 1
    total = np.zeros(image.shape)
    for dy in range(size):
        for dx in range(size):
            total += padded[dy : dy + image.shape[0], dx : dx + image.shape[1]]
    return total / size**2


def degradations(image: np.ndarray, rng: np.random.Generator) -> dict[str, np.ndarray]:
    """Named degraded versions of one crop, from barely to clearly visible."""
    x = image.astype(float)
    out = {}
    for sigma in (3.0, 8.0, 18.0):
        out[f"noise{sigma:g}"] = x + rng.normal(0.0, sigma, x.shape)
    for radius in (1, 2):
        out[f"blur{radius}"] = _blur(image, radius)
    for levels in (24, 8):
        step = 256 / levels
        out[f"posterise{levels}"] = np.floor(x / step) * step + step / 2
    out["dim"] = x * 0.85
    return {name: np.clip(np.rint(v), 0, 255).astype(np.uint8) for name, v in out.items()}


@dataclass
class Study:
    folder: Path
    pairs: list[tuple[str, str]]  # as written in the score file (relative)
    group: list[str]


def make_images(folder: Path, samples: Path, seed: int = 1) -> Study:
    """Writes the crops and their degraded versions under `folder`."""
    rng = np.random.default_rng(seed)
    folder.mkdir(parents=True, exist_ok=True)
    pairs, group = [], []
    for sample in SAMPLES:
        whole, _ = lumetra.read_image(samples / sample)
        for top, left in CORNERS:
            crop = whole[top : top + CROP, left : left + CROP]
            name = f"{Path(sample).stem}_{top}_{left}"
            _ppm(folder / f"{name}.ppm", crop)
            for kind, degraded in degradations(crop, rng).items():
                _ppm(folder / f"{name}__{kind}.ppm", degraded)
                pairs.append((f"{name}.ppm", f"{name}__{kind}.ppm"))
                group.append("".join(c for c in kind if c.isalpha()))
    return Study(folder, pairs, group)


def true_measures(study: Study, alpha: float, beta: float, co: float) -> np.ndarray:
    params = lumetra.Parameters(alpha=alpha, beta=beta, co=co)
    engines: dict[str, lumetra.Engine] = {}
    values = []
    for reference, degraded in study.pairs:
        if reference not in engines:
            engines[reference] = lumetra.Engine(study.folder / reference, params, threads=1)
        values.append(engines[reference].score(study.folder / degraded).measure)
    return np.array(values)


def write_scores(path: Path, study: Study, opinion: np.ndarray, column: str = "mos",
                 std: np.ndarray | None = None) -> Path:
    with open(path, "w", newline="", encoding="utf-8") as out:
        writer = csv.writer(out)
        writer.writerow(["reference", "degraded", column, "group"]
                        + (["std"] if std is not None else []))
        for k, ((reference, degraded), value) in enumerate(zip(study.pairs, opinion)):
            row = [reference, degraded, repr(float(value)), study.group[k]]
            if std is not None:
                row.append(repr(float(std[k])))
            writer.writerow(row)
    return path
