"""Interval estimates used by the summary: Wilson score interval for win
rates and Student t intervals for mean and paired-difference scores.

Kept free of SciPy: the t quantile comes from the regularised incomplete
beta function, solved by bisection, which is plenty for 95 % intervals.
"""

from __future__ import annotations

import math
from collections.abc import Sequence

Z95 = 1.959963984540054  # standard normal 0.975 quantile
MAX_SCORE = 12  # a won game scores 12, a lost one the enemies defeated


def wilson_interval(successes: int, n: int, z: float = Z95) -> tuple[float, float]:
    """Wilson score interval; (0, 1) when there is nothing to go on."""
    if n <= 0:
        return (0.0, 1.0)
    if not 0 <= successes <= n:
        raise ValueError(f"successes {successes} outside 0..{n}")
    p = successes / n
    z2 = z * z
    denom = 1 + z2 / n
    centre = (p + z2 / (2 * n)) / denom
    half = z * math.sqrt(p * (1 - p) / n + z2 / (4 * n * n)) / denom
    low = 0.0 if successes == 0 else max(0.0, centre - half)
    high = 1.0 if successes == n else min(1.0, centre + half)
    return (low, high)


def _betacf(a: float, b: float, x: float) -> float:
    # Continued fraction of the incomplete beta function (modified Lentz).
    tiny = 1e-300
    qab, qap, qam = a + b, a + 1, a - 1
    c, d = 1.0, 1 - qab * x / qap
    d = 1 / (d if abs(d) > tiny else tiny)
    h = d
    for m in range(1, 500):
        m2 = 2 * m
        aa = m * (b - m) * x / ((qam + m2) * (a + m2))
        d = 1 + aa * d
        d = 1 / (d if abs(d) > tiny else tiny)
        c = 1 + aa / c if abs(1 + aa / c) > tiny else tiny
        h *= d * c
        aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2))
        d = 1 + aa * d
        d = 1 / (d if abs(d) > tiny else tiny)
        c = 1 + aa / c if abs(1 + aa / c) > tiny else tiny
        delta = d * c
        h *= delta
        if abs(delta - 1) < 1e-15:
            break
    return h


def _betainc(a: float, b: float, x: float) -> float:
    if x <= 0:
        return 0.0
    if x >= 1:
        return 1.0
    front = math.exp(math.lgamma(a + b) - math.lgamma(a) - math.lgamma(b)
                     + a * math.log(x) + b * math.log1p(-x))
    if x < (a + 1) / (a + b + 2):
        return front * _betacf(a, b, x) / a
    return 1 - front * _betacf(b, a, 1 - x) / b


def t_cdf(t: float, df: float) -> float:
    tail = 0.5 * _betainc(df / 2, 0.5, df / (df + t * t))
    return 1 - tail if t >= 0 else tail


def t_quantile(p: float, df: float) -> float:
    """Quantile of Student's t distribution with df degrees of freedom."""
    if not 0 < p < 1:
        raise ValueError("p must lie strictly between 0 and 1")
    if df <= 0:
        raise ValueError("df must be positive")
    if p < 0.5:
        return -t_quantile(1 - p, df)
    lo, hi = 0.0, 1.0
    while t_cdf(hi, df) < p:
        hi *= 2
    for _ in range(200):
        mid = (lo + hi) / 2
        if t_cdf(mid, df) < p:
            lo = mid
        else:
            hi = mid
        if hi - lo < 1e-12 * max(1.0, hi):
            break
    return (lo + hi) / 2


def mean_interval(values: Sequence[float], level: float = 0.95) -> tuple[float, float, float]:
    """(mean, low, high) with a Student t interval.

    One value gives an unbounded interval (nan, nan): a single game says
    nothing about spread; no values give nan throughout.
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
