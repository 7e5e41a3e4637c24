"""Interval estimates used by the summary: Wilson score interval for win
rates and Student t intervals for mean and paired-difference scores."""

from __future__ import annotations

import math
from collections.abc import Sequence

MAX_SCORE = 12  # a won game scores 12, a lost one the enemies defeated


def _scipy_stats():
    # Imported on first use: scipy.stats takes most of a second to import, and
    # worker processes, which never summarise, would pay for it too.
    import scipy.stats

    return scipy.stats


def wilson_interval(successes: int, n: int, level: float = 0.95) -> tuple[float, float]:
    """Wilson score interval; (0, 1) when there is nothing to go on."""
    if n <= 0:
        return (0.0, 1.0)
    if not 0 <= successes <= n:
        raise ValueError(f"successes {successes} outside 0..{n}")
    interval = _scipy_stats().binomtest(successes, n).proportion_ci(level, method="wilson")
    return (float(interval.low), float(interval.high))


def t_quantile(p: float, df: float) -> float:
    """Quantile of Student's t distribution with df degrees of freedom."""
    if not 0 < p < 1:
        raise ValueError("p must lie strictly between 0 and 1")
    if df <= 0:
        raise ValueError("df must be positive")
    return float(_scipy_stats().t.ppf(p, df))


def mean_interval(values: Sequence[float], level: float = 0.95) -> tuple[float, float, float]:
    """(mean, low, high) with a Student t interval.

    One value gives an unbounded interval (nan, nan): a single game says
    nothing about spread; no values give nan throughout. Equal values give
    a zero-width interval, which scipy's t.interval (scale 0) would not.
    """
    n = len(values)
    if n == 0:
        return (math.nan, math.nan, math.nan)
    mean = math.fsum(values) / n
    if n == 1:
        return (mean, math.nan, math.nan)
    var = math.fsum((v - mean) ** 2 for v in values) / (n - 1)
    half = t_quantile(0.5 + level / 2, n - 1) * math.sqrt(var / n)
    return (mean, mean - half, mean + half)


def paired_difference(a: dict[int, float], b: dict[int, float]) -> tuple[int, float, float, float]:
    """Mean of b - a over the keys (game seeds) both hold: (pairs, mean, low, high)."""
    common = sorted(a.keys() & b.keys())
    mean, low, high = mean_interval([b[k] - a[k] for k in common])
    return (len(common), mean, low, high)


def histogram(scores: Sequence[int], top: int = MAX_SCORE) -> list[int]:
    counts = [0] * (top + 1)
    for score in scores:
        counts[min(max(int(score), 0), top)] += 1
    return counts
