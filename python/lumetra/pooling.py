"""The measure's last stage, pooling, redone in NumPy for any alpha, beta and co.

The engine pools its error map M into the measure as

    measure = (mean over pixels of (M * R * B^alpha)^beta)^(1/beta)

where B is the 32 x 32 block weight (block means of M over the largest block mean, squared)
and R is ``co`` inside the zone where the edge structure changed and 1 elsewhere.  M, B and
the zone do not depend on alpha, beta or co, so one explained score per pair is enough to
give the measure at any of them: `PoolingInputs` keeps those three compactly (M in float32,
B once per block, the zone in bits), and `PooledSet` evaluates many pairs at once.

`PooledSet` groups each pair's pixels by (block, zone), where R * B^alpha is one number, so

    sum over pixels = sum over groups g of (mx_g * R_g * B_g^alpha)^beta * S_g(beta),
    S_g(beta) = sum over the group's pixels of (M / mx_g)^beta,

with mx_g the group's largest error.  S_g needs one pass over the pixels per beta and every
(alpha, co) is then a sum over groups only; the search of `lumetra.fit` relies on this.
Scaling by each group's own largest error keeps every term at most 1, so no power overflows
and the pixels that dominate a group are never lost to underflow.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Sequence

import numpy as np

# Side of the engine's pooling blocks, in pixels.
BLOCK_SIZE = 32
# Pixels per pass when the power sums are taken: bounds the temporaries at 8 bytes each.
_PASS_PIXELS = 1 << 22
# Betas whose power sums a PooledSet keeps (8 bytes a group each), so that searches over
# subsets of its pairs share the passes over the pixels.
_KEPT_BETAS = 64


@dataclass(frozen=True, eq=False)
class PoolingInputs:
    """What the pooling of one pair needs: M, the block weight B before its power, the zone.

    Attributes
    ----------
    error : numpy.ndarray
        H x W float32 error map M.
    block : numpy.ndarray
        ceil(H / 32) x ceil(W / 32) float32 block weight B, one value per block.
    zone : numpy.ndarray
        The edge-change zone, 1 bit per pixel (``numpy.packbits`` of the H x W map).
    """

    error: np.ndarray
    block: np.ndarray
    zone: np.ndarray

    @property
    def shape(self) -> tuple[int, int]:
        return self.error.shape  # type: ignore[return-value]

    def zone_map(self) -> np.ndarray:
        """The H x W zone, True where the edge structure changed."""
        rows, cols = self.shape
        return np.unpackbits(self.zone, count=rows * cols).reshape(rows, cols).astype(bool)

    @property
    def nbytes(self) -> int:
        return self.error.nbytes + self.block.nbytes + self.zone.nbytes

    @classmethod
    def from_maps(cls, error: np.ndarray, edge_zone: np.ndarray) -> "PoolingInputs":
        """Keeps an explained score's error map and edge zone, and derives B from the map."""
        error = np.ascontiguousarray(error, dtype=np.float32)
        zone = np.packbits(np.asarray(edge_zone).reshape(-1) != 0)
        return cls(error, block_weight(error), zone)


def _blocks(plane: np.ndarray) -> np.ndarray:
    """The plane padded with zeros to whole blocks, as (block rows, 32, block cols, 32)."""
    rows, cols = plane.shape
    by = -(-rows // BLOCK_SIZE)
    bx = -(-cols // BLOCK_SIZE)
    padded = np.zeros((by * BLOCK_SIZE, bx * BLOCK_SIZE), dtype=plane.dtype)
    padded[:rows, :cols] = plane
    return padded.reshape(by, BLOCK_SIZE, bx, BLOCK_SIZE)


def block_weight(error: np.ndarray) -> np.ndarray:
    """B of each 32 x 32 block, as the engine forms it.

    Block sums in long double divided by 32 x 32 (cells outside the map count as 0), rounded
    to float; each over the largest, squared in float; 0 everywhere when the map has no
    error.
    """
    sums = _blocks(np.asarray(error, dtype=np.float32)).astype(np.longdouble).sum(axis=(1, 3))
    means = (sums / np.longdouble(BLOCK_SIZE * BLOCK_SIZE)).astype(np.float32)
    largest = means.max()
    if largest == np.float32(0):
        return np.zeros_like(means)
    normalised = means / largest
    return normalised * normalised


def _parameter_power(x: np.ndarray, exponent: float) -> np.ndarray:
    """x^e rounded to float, as the engine rounds it (x^4 by squaring in double)."""
    e = np.float32(exponent)
    if e == np.float32(1):
        return x
    wide = x.astype(np.float64)
    if e == np.float32(4):
        square = wide * wide
        return (square * square).astype(np.float32)
    return np.power(wide, np.float64(e)).astype(np.float32)


def pooled_measure(inputs: PoolingInputs, alpha: float, beta: float, co: float) -> float:
    """The measure of one pair at (alpha, beta, co), pixel by pixel in float as the engine
    takes it: the plain path the fast `PooledSet` is held to."""
    rows, cols = inputs.shape
    raised = _parameter_power(inputs.block, alpha)
    b = np.repeat(np.repeat(raised, BLOCK_SIZE, axis=0), BLOCK_SIZE, axis=1)[:rows, :cols]
    zone = inputs.zone_map()
    r = np.where(zone, np.float32(co), np.float32(1))
    weighted = _parameter_power(inputs.error * (r * b), beta)
    total = weighted.astype(np.longdouble).sum()
    mean = total / np.longdouble(rows * cols)
    return float(np.float32(mean ** (np.longdouble(1) / np.longdouble(np.float32(beta)))))


class PooledSet:
    """Many pairs' pooling inputs, grouped by (block, zone) to evaluate measures fast.

    Holds one float32 per pixel with error (log2 of M over its group's largest) and a few
    numbers per group.  `power_sums(beta)` is the one pass over the pixels, kept for the last
    betas asked for; `measures` reuses them.  Agrees with the engine's measure to about 1e-6
    relative (float32 logs and powers of the pixels, summed in double, against the engine's
    float rounding of each pixel's term).
    """

    def __init__(self, inputs: Sequence[PoolingInputs]) -> None:
        # One array for every pixel with error, filled in place: no second copy at the end.
        self._logs = np.empty(sum(int(np.count_nonzero(i.error > 0)) for i in inputs),
                              dtype=np.float32)
        starts: list[np.ndarray] = []
        group_pair: list[np.ndarray] = []
        group_log_max: list[np.ndarray] = []
        group_log_block: list[np.ndarray] = []
        group_zone: list[np.ndarray] = []
        offset = 0
        self.pixels = np.array([i.error.size for i in inputs], dtype=np.float64)
        for index, pair in enumerate(inputs):
            rows, cols = pair.shape
            by = -(-rows // BLOCK_SIZE)
            bx = -(-cols // BLOCK_SIZE)
            block_of = (np.arange(rows)[:, None] // BLOCK_SIZE) * bx + (
                np.arange(cols)[None, :] // BLOCK_SIZE
            )
            key = (block_of * 2 + pair.zone_map()).reshape(-1)
            # Small integer keys sort stably by radix sort, in linear time.
            key = key.astype(np.uint16 if by * bx * 2 <= np.iinfo(np.uint16).max else np.uint32)
            error = pair.error.reshape(-1)
            # Pixels without error add nothing at any beta > 0.
            kept = np.flatnonzero(error > 0)
            order = kept[np.argsort(key[kept], kind="stable")]
            if order.size == 0:
                continue
            keys = key[order]
            values = error[order].astype(np.float64)
            first = np.flatnonzero(np.r_[True, keys[1:] != keys[:-1]])
            largest = np.maximum.reduceat(values, first)
            counts = np.diff(np.r_[first, values.size])
            self._logs[offset : offset + values.size] = np.log2(values / np.repeat(largest, counts))
            starts.append(first + offset)
            offset += values.size
            group_keys = keys[first]
            group_pair.append(np.full(first.size, index))
            group_log_max.append(np.log2(largest))
            with np.errstate(divide="ignore"):
                group_log_block.append(
                    np.log2(pair.block.reshape(by * bx)[group_keys // 2].astype(np.float64))
                )
            group_zone.append((group_keys % 2).astype(bool))
        self.count = len(inputs)
        self._starts = np.concatenate(starts) if starts else np.zeros(0, np.int64)
        self._pair = np.concatenate(group_pair) if group_pair else np.zeros(0, np.int64)
        self._log_max = np.concatenate(group_log_max) if group_log_max else np.zeros(0)
        self._log_block = np.concatenate(group_log_block) if group_log_block else np.zeros(0)
        self._zone = np.concatenate(group_zone) if group_zone else np.zeros(0, bool)
        self._kept: dict[float, np.ndarray] = {}

    @property
    def nbytes(self) -> int:
        return self._logs.nbytes + 8 * 5 * self._starts.size

    def subset(self, pairs: np.ndarray) -> "PooledSet":
        """The same pairs' groups, sharing the pixel data: for cross-validation folds."""
        chosen = np.zeros(self.count, dtype=bool)
        chosen[pairs] = True
        keep = chosen[self._pair]
        renumber = np.cumsum(chosen) - 1
        part = object.__new__(PooledSet)
        part.count = int(chosen.sum())
        part.pixels = self.pixels[chosen]
        part._logs = self._logs
        part._starts = self._starts
        part._keep = keep  # groups of this subset among the parent's
        part._pair = renumber[self._pair[keep]]
        part._log_max = self._log_max[keep]
        part._log_block = self._log_block[keep]
        part._zone = self._zone[keep]
        part._parent = self
        part._kept = {}
        return part

    def power_sums(self, beta: float) -> np.ndarray:
        """log2 S_g(beta) of every group (the one pass over the pixels)."""
        beta = float(np.float32(beta))
        parent = getattr(self, "_parent", None)
        if parent is not None:
            return parent.power_sums(beta)[self._keep]
        if beta in self._kept:
            return self._kept[beta]
        sums = np.empty(self._starts.size)
        ends = np.r_[self._starts[1:], self._logs.size]
        # Whole groups per pass, so that each group is summed in one piece.
        first = 0
        while first < self._starts.size:
            begin = self._starts[first]
            last = int(np.searchsorted(self._starts, begin + _PASS_PIXELS, side="right"))
            last = max(last, first + 1)
            end = ends[last - 1]
            # Powers in float32 (each within a few units in the last place), summed in double.
            powers = np.exp2(np.float32(beta) * self._logs[begin:end])
            sums[first:last] = np.add.reduceat(
                powers.astype(np.float64), self._starts[first:last] - begin
            )
            first = last
        if len(self._kept) >= _KEPT_BETAS:
            self._kept.pop(next(iter(self._kept)))
        self._kept[beta] = np.log2(sums)
        return self._kept[beta]

    def measures(self, alpha: float, beta: float, co: float) -> np.ndarray:
        """The measure of every pair at (alpha, beta, co), taken as the engine's floats."""
        alpha, beta, co = (float(np.float32(v)) for v in (alpha, beta, co))
        log_sums = self.power_sums(beta)
        with np.errstate(divide="ignore", invalid="ignore"):
            # B^alpha and R in logs; 0^0 = 1 as the engine's pow gives it.
            log_b = np.where(alpha == 0, 0.0, alpha * self._log_block)
            log_r = np.where(self._zone, np.log2(co) if co > 0 else -np.inf, 0.0)
            terms = beta * (self._log_max + log_b + log_r) + log_sums
        # Sum over each pair's groups (contiguous, in pair order) in logs, scaled by the
        # largest term.
        first = np.searchsorted(self._pair, np.arange(self.count))
        has = np.diff(np.r_[first, self._pair.size]) > 0
        top = np.full(self.count, -np.inf)
        scaled = np.zeros(self.count)
        if has.any():
            top[has] = np.maximum.reduceat(terms, first[has])
            finite_top = np.where(np.isfinite(top), top, 0.0)
            shifted = np.exp2(terms - finite_top[self._pair])
            scaled[has] = np.add.reduceat(shifted, first[has])
        else:
            finite_top = np.zeros(self.count)
        with np.errstate(divide="ignore"):
            log_mean = finite_top + np.log2(scaled) - np.log2(self.pixels)
        return np.where(scaled > 0, np.exp2(log_mean / beta), 0.0)
