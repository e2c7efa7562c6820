"""linebench-compare's statistics: medians and spreads of the runs, and the one
rule that decides every verdict, the bold winner of a file as well as each
figure set against an earlier run.

The rule: the two-sided Mann-Whitney U test on the runs at ALPHA, and on top
of it a practical threshold: a ratio of medians within THRESHOLD of 1 is
level, however significant, and so is one that the reports' rounding may have
pushed past it.  The ratio's confidence interval inverts the same
test, ties and all, on the logarithms of the times (on runs without ties,
the Hodges-Lehmann interval): the ratios r for which the test does not tell
the runs of one program divided by r from the runs of the other.  It
therefore excludes 1 exactly when the test finds a difference.
"""

import bisect
import functools
import math
import statistics

ALPHA = 0.05
# Ratios of medians within 3% of 1 are level.  In the A/A runs of docs/compare.md, the
# same build twice, the verdicts that moved were 16% to 21% off, which no
# threshold below the 10% to be seen removes; 3% keeps what a quiet machine
# resolves in many runs from being called.
THRESHOLD = 0.03
# A pass shorter than this says little: the programs' clock counts whole
# microseconds, and 10 ms of them resolve 0.01%.
FLOOR_US = 10000.0
# The reports round a time per line to 0.001 µs, so each median may be off
# by half of that: 0.0205 and 0.0204 print as 0.021 and 0.020, 5% apart.
ROUNDING_US = 0.0005
NOISY = 10.0  # a spread over this percentage of its median marks the machine noisy
# Up to this many runs a side the test takes SciPy's exact distribution; the
# normal approximation is poor there.
EXACTRUNS = 8

TIMES = ["getline_us", "store_us", "lookup_us"]
TESTED = ["store_us", "lookup_us"]  # the figures that carry verdicts

FASTER, SLOWER, LEVEL = "faster", "slower", "level"
# Why a figure carries no verdict.
TOOFEW, TOOSHORT = "too few runs", "too short"


def spread(values):
    """The interquartile range of the runs, in the figures' unit; 0 for one run."""
    if len(values) < 2:
        return 0.0
    quartiles = statistics.quantiles(values, n=4, method="inclusive")
    return quartiles[2] - quartiles[0]


def percent(part, whole):
    return 100.0 * part / whole if whole else 0.0


def scipytrouble():
    """Why the rank test cannot be had, in one line, or None.  SciPy is
    imported only when a test is made, so that --help and the checks of a
    command line do without it."""
    try:
        import scipy.stats  # noqa: F401
    except ImportError as missing:
        return f"SciPy is missing ({missing}): the rank test needs it; tools/deps installs it (Debian: python3-scipy)"
    return None


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


def fewestruns(alpha):
    """The fewest runs a side with which the test can reach alpha."""
    runs = 1
    while not canreach(runs, runs, alpha):
        runs += 1
    return runs


def ratiointerval(now, before, alpha):
    """The 1 - alpha confidence interval of the ratio now / before: the ratios
    r for which the test, ties and all, does not tell the runs now / r from
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


def quotient(now, before):
    """now / before, where a figure of 0 (a pass the clock did not see) gives
    infinity rather than an error."""
    if before:
        return now / before
    return 1.0 if now == before else math.inf


def withinthreshold(now, before, threshold):
    """Whether medians now and before, each as it was before the report
    rounded it, may lie within the threshold of each other."""
    wide = 1 + threshold
    return now - ROUNDING_US <= wide * (before + ROUNDING_US) and wide * (now + ROUNDING_US) >= before - ROUNDING_US


def decide(now, before, alpha=ALPHA, threshold=THRESHOLD):
    """The verdict on runs now against runs before, lower being faster:
    ratio of medians, its interval, p and the verdict (None with the reason
    when the runs are too few for the test to ever reach alpha)."""
    nowmedian, beforemedian = statistics.median(now), statistics.median(before)
    ratio = quotient(nowmedian, beforemedian)
    if 0 in now or 0 in before:  # a pass the clock did not see, however long the others
        return untested(ratio, TOOSHORT)
    if not canreach(len(now), len(before), alpha):
        return {"ratio": ratio, "low": None, "high": None, "p": None, "verdict": None, "why": TOOFEW}
    p = ranktest(now, before)
    low, high = ratiointerval(now, before, alpha)
    verdict = LEVEL
    if p < alpha and not withinthreshold(nowmedian, beforemedian, threshold):
        verdict = FASTER if ratio < 1 else SLOWER
    return {"ratio": ratio, "low": low, "high": high, "p": p, "verdict": verdict, "why": None}


def untested(ratio, why):
    return {"ratio": ratio, "low": None, "high": None, "p": None, "verdict": None, "why": why}


def passus(result, key):
    """The median time of a whole pass, in microseconds."""
    return result[key] * result["lines"]


def shortfigures(results, keys):
    """(file, key) pairs where some store's pass is below the floor."""
    return {(r["file"], key) for r in results for key in keys if passus(r, key) < FLOOR_US}


def linesneeded(results, file):
    """About how many lines the file would need for every pass of the tested
    figures to last the floor, rounded up to two significant digits."""
    rows = [r for r in results if r["file"] == file]
    shortest = min(passus(r, key) for r in rows for key in TESTED)
    lines = rows[0]["lines"] * FLOOR_US / max(shortest, 1.0)
    scale = 10 ** max(len(str(int(lines))) - 2, 0)
    return int(math.ceil(lines / scale) * scale)


def winners(rows, key, alpha, threshold, short):
    """The fastest store of one file on one figure and each other store's
    verdict against it.  marked: the keys to mark, with clear true when the
    fastest beats every other store; why: the reason nothing is marked."""
    ranked = sorted(rows, key=lambda r: r[key])
    fastest = ranked[0]
    verdicts = {}
    why = TOOSHORT if short else None
    for row in ranked[1:]:
        if short:
            verdicts[row["store"]] = untested(quotient(row[key], fastest[key]), TOOSHORT)
            continue
        verdicts[row["store"]] = decide(row[key + "_runs"], fastest[key + "_runs"], alpha, threshold)
        why = why or verdicts[row["store"]]["why"]
    if why or len(ranked) == 1:
        return {"fastest": fastest["store"], "marked": [], "clear": False, "versus": verdicts, "why": why}
    level = [store for store, v in verdicts.items() if v["verdict"] == LEVEL]
    return {"fastest": fastest["store"], "marked": [fastest["store"]] + level, "clear": not level,
            "versus": verdicts, "why": None}


def filewinners(results, alpha, threshold):
    """winners() for every file and tested figure, by (file, key)."""
    short = shortfigures(results, TESTED)
    decided = {}
    for file in dict.fromkeys(r["file"] for r in results):
        rows = [r for r in results if r["file"] == file]
        for key in TESTED:
            decided[(file, key)] = winners(rows, key, alpha, threshold, (file, key) in short)
    return decided


def noisyspreads(results):
    """The time figures above the floor whose spread is over NOISY percent of
    their median, and how many figures are above the floor."""
    counted = [(r, key) for r in results for key in TIMES if passus(r, key) >= FLOOR_US]
    noisy = sorted(((r[key + "_iqr_pct"], r["store"], key, r["file"]) for r, key in counted
                    if r[key + "_iqr_pct"] > NOISY), reverse=True)
    return noisy, len(counted)


FIGURES = ["getline_us", "store_us", "lookup_us", "bytes_per_line"]


class Disagreement(Exception):
    """The runs of a file counted its lines differently."""


def summarise(files, stores, reports):
    """One result per file and store: the runs of each figure, their median
    and spread (interquartile range), absolute and as a percentage of the
    median.  files: (path, facts about it); reports: the runs per (path, key).
    A store with no runs on a file, in a run that did not finish, has no
    result there."""
    results = []
    for path, facts in files:
        for store in stores:
            runs = reports.get((path, store["key"]))
            if not runs:
                continue
            first = runs[0]
            if any((r["lines"], r["distinct"]) != (first["lines"], first["distinct"]) for r in runs):
                raise Disagreement(f"{store['key']} counted differently from run to run on {path}")
            result = dict(facts, store=store["key"], program=store["path"], adt=first["adt"], runs=len(runs),
                          lines=first["lines"], distinct=first["distinct"], avg_linelen=first["avg_linelen"],
                          report_bytes_per_line=statistics.median(r["report_bytes_per_line"] for r in runs))
            for key in FIGURES:
                values = [r[key] for r in runs]
                result[key + "_runs"] = values
                result[key] = statistics.median(values)
                result[key + "_iqr"] = spread(values)
                result[key + "_iqr_pct"] = percent(result[key + "_iqr"], result[key])
            results.append(result)
        counts = {(r["lines"], r["distinct"]) for r in results if r["path"] == path}
        if len(counts) > 1:
            raise Disagreement(f"the programs disagree on the lines of {path}: {sorted(counts)}")
    return results
