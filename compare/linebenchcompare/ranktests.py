"""The two rank tests behind linebench-compare's verdicts, each with the
confidence interval of the ratio that inverts it, on the logarithms of the
times.

Paired, where both programs ran in the same rounds: the Wilcoxon signed-rank
test on each round's log ratio, and its Hodges-Lehmann interval from the
Walsh averages.  Rounds are interleaved, so both programs of a round share
the machine's state of that moment, and a drift from round to round leaves
the round's ratio as it was.

Unpaired, where the runs were not made side by side (an earlier run's
recorded runs): the Mann-Whitney U test, and the interval that inverts it,
ties and all (on runs without ties, the two-sample Hodges-Lehmann interval).

Each interval leaves out a ratio exactly when its test, shifted by that
ratio, rejects it.  SciPy is imported only when a test is made, so that
--help and the checks of a command line do without it.
"""

import bisect
import functools
import math
import statistics

# Up to this many runs a side the U test takes SciPy's exact distribution; the
# normal approximation is poor there.
EXACTRUNS = 8


def ranktest(a, b):
    """The two-sided p of the Mann-Whitney U test of runs a against runs b."""
    from scipy.stats import mannwhitneyu
    method = "exact" if max(len(a), len(b)) <= EXACTRUNS else "auto"
    return float(mannwhitneyu(a, b, alternative="two-sided", method=method).pvalue)


@functools.lru_cache(maxsize=None)
def pvalueofu(n1, n2, u):
    """The test's p for the statistic u on n1 and n2 runs without ties, from
    two samples made to give it: each of the first sample's values lies above
    as many of the second's as adds up to u, and apart from the others of
    its sample, which would otherwise tie and shrink p by the tie correction."""
    second = list(range(n2))
    first = []
    left = u
    for index in range(n1):
        above = min(left, n2)
        first.append(above - 0.5 + index / (4 * n1))
        left -= above
    return ranktest(first, second)


def canreach(n1, n2, alpha):
    """Whether n1 runs against n2 can ever give p below alpha."""
    return n1 > 0 and n2 > 0 and pvalueofu(n1, n2, 0) < alpha


def ratiointerval(now, before, alpha):
    """The 1 - alpha confidence interval of the ratio now / before: the ratios
    r for which the U test, ties and all, does not tell the runs now / r from
    the runs before.  The test's p changes only where a log run now, shifted
    by log r, meets a log run before: the candidates are those pairwise log
    ratios (even places) and the gaps between them (odd places, where p holds
    across the gap).  p rises up to the pairs' median and falls after it, so
    halving finds the first and last accepted candidates."""
    lognow = [math.log(a) for a in now]
    logbefore = [math.log(b) for b in before]
    pairs = sorted(a - b for a in lognow for b in logbefore)
    shifts = sorted(set(pairs))
    candidates = [shifts[0]]
    for lower, upper in zip(shifts, shifts[1:]):
        candidates += [(lower + upper) / 2, upper]
    peak = min(bisect.bisect_left(candidates, statistics.median(pairs)), len(candidates) - 1)

    def accepted(index):
        return ranktest([a - candidates[index] for a in lognow], logbefore) >= alpha

    if not accepted(peak):
        return math.exp(candidates[peak]), math.exp(candidates[peak])
    rejected, first = -1, peak
    while first - rejected > 1:
        middle = (rejected + first) // 2
        rejected, first = (rejected, middle) if accepted(middle) else (middle, first)
    last, rejected = peak, len(candidates)
    while rejected - last > 1:
        middle = (last + rejected) // 2
        last, rejected = (middle, rejected) if accepted(middle) else (last, middle)
    # An accepted gap reaches up to the rejected ratio that bounds it, which
    # the interval leaves out by the float's last place.
    low = math.exp(candidates[first - first % 2])
    high = math.exp(candidates[last + last % 2])
    return (math.nextafter(low, math.inf) if first % 2 else low,
            math.nextafter(high, 0.0) if last % 2 else high)


@functools.lru_cache(maxsize=None)
def signedrankcdf(pairs):
    """P(T <= t) for t = 0 .. pairs (pairs + 1) / 2, T being the sum of the
    ranks of the positive differences among pairs without ties or zeros,
    under the hypothesis of no shift: each rank is in T with chance one half,
    on its own.  Exact for any number of pairs."""
    import numpy
    chances = numpy.zeros(pairs * (pairs + 1) // 2 + 1)
    chances[0] = 1.0
    for rank in range(1, pairs + 1):
        shifted = numpy.zeros_like(chances)
        shifted[rank:] = chances[:-rank]
        chances = 0.5 * (chances + shifted)
    return numpy.cumsum(chances)


def signedrankp(differences):
    """The two-sided p of the signed-rank test of differences against no
    shift.  Tied magnitudes share their mean rank, and a sum between two
    whole numbers counts as the one nearer the middle; zeros count as half
    positive."""
    from scipy.stats import rankdata
    pairs = len(differences)
    ranks = rankdata([abs(d) for d in differences])
    positive = sum(rank if d > 0 else rank / 2 if d == 0 else 0.0 for rank, d in zip(ranks, differences))
    cdf = signedrankcdf(pairs)
    middle = pairs * (pairs + 1) / 4
    below = math.floor(positive) if positive < middle else math.ceil(positive)
    lower = cdf[min(below, len(cdf) - 1)]
    upper = 1.0 - (cdf[below - 1] if below > 0 else 0.0)
    return float(min(1.0, 2 * min(lower, upper)))


def pairedcanreach(pairs, alpha):
    """Whether that many pairs can ever give p below alpha: the smallest p,
    every difference of one sign, is 2 / 2^pairs."""
    return pairs > 0 and 2.0 ** (1 - pairs) < alpha


def pairedshift(differences, alpha):
    """The shift of differences (log ratios, one a round): its Hodges-Lehmann
    estimate, the median of the Walsh averages (the means of every two
    differences and each difference itself), and its 1 - alpha confidence
    interval, from the same sorted averages with c left out at each end, c
    being the most sums T that the test rejects at alpha / 2 on one side.  A
    shift is in the interval when the test, on the differences less it, does
    not reject it, so the interval always holds the estimate.  None when the
    pairs are too few for an interval."""
    pairs = len(differences)
    cut = bisect.bisect_right(signedrankcdf(pairs), alpha / 2)
    if cut == 0:
        return None
    walsh = sorted((differences[i] + differences[j]) / 2 for i in range(pairs) for j in range(i, pairs))
    return statistics.median(walsh), (walsh[cut - 1], walsh[len(walsh) - cut])


def pooledestimate(lognow, logbefore):
    """The two-sample Hodges-Lehmann estimate of the shift: the median of
    every difference of a log run now and a log run before."""
    return statistics.median(a - b for a in lognow for b in logbefore)
