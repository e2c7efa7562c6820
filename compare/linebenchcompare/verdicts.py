"""linebench-compare's verdicts: the one rule that decides every verdict, the
bold winner of a file as well as each figure set against an earlier run.

The rule: the confidence interval of the ratio of two programs' times on a
file, from a rank test on their runs (ranktests.py), paired round by round
where they ran in the same rounds, set against a practical threshold: level
when the interval lies wholly within THRESHOLD of 1, faster or slower when
wholly beyond it, open when it reaches across.  Where a side's times are the
reports' rounded ones, the interval must clear the threshold by what the
rounding may have moved the ratio.
"""

import math
import statistics

from . import ranktests
from .medians import FLOOR_US, TESTED, passus, shortfigures, summarise

ALPHA = 0.05
# Ratios of medians within 3% of 1 are level.  In the A/A runs of docs/compare.md, the
# same build twice, the verdicts that moved were 16% to 21% off, which no
# threshold below the 10% to be seen removes; 3% keeps what a quiet machine
# resolves in many runs from being called.
THRESHOLD = 0.03
# The reports round a time per line to 0.001 µs, so each median may be off
# by half of that: 0.0205 and 0.0204 print as 0.021 and 0.020, 5% apart.
ROUNDING_US = 0.0005

FASTER, SLOWER, LEVEL, OPEN = "faster", "slower", "level", "open"
AUTO = "auto"  # --runs auto: rounds until every figure is decided
# Why a figure carries no verdict.
TOOFEW, TOOSHORT = "too few runs", "too short"


def scipytrouble():
    """Why the rank tests cannot be had, in one line, or None.  SciPy is
    imported only when a test is made, so that --help and the checks of a
    command line do without it."""
    try:
        import scipy.stats  # noqa: F401
    except ImportError as missing:
        return f"SciPy is missing ({missing}): the rank test needs it; tools/deps installs it (Debian: python3-scipy)"
    return None


def fewestruns(alpha, paired=True):
    """The fewest runs a side (rounds, where paired) with which a test can
    reach alpha."""
    runs = 1
    while not (ranktests.pairedcanreach(runs, alpha) if paired else ranktests.canreach(runs, runs, alpha)):
        runs += 1
    return runs


def quotient(now, before):
    """now / before, where a figure of 0 (a pass the clock did not see) gives
    infinity rather than an error."""
    if before:
        return now / before
    return 1.0 if now == before else math.inf


def roundingslack(now, before):
    """How far, as a log ratio, the reports' rounding may have moved the
    ratio of medians now and before."""
    low = max(min(now, before), ROUNDING_US)
    return math.log((low + ROUNDING_US) / low)


def classify(low, high, threshold, slack=0.0):
    """The verdict of an interval of the ratio: level when it lies wholly
    within the threshold of 1, faster or slower when wholly beyond it, and
    open when it reaches across the threshold.  slack widens the threshold's
    edge by what rounding may have moved the ratio, to the interval's cost."""
    edge = math.log1p(threshold)
    loglow, loghigh = math.log(low), math.log(high)
    if loghigh < -edge - slack:
        return FASTER
    if loglow > edge + slack:
        return SLOWER
    if -edge + slack <= loglow and loghigh <= edge - slack:
        return LEVEL
    return OPEN


def tells(low, high, threshold):
    """The smallest difference, as a fraction, that runs giving an interval
    this wide can call faster or slower: the threshold and the interval's
    half width, on log ratios."""
    return math.expm1(math.log1p(threshold) + (math.log(high) - math.log(low)) / 2)


def decide(now, before, alpha=ALPHA, threshold=THRESHOLD, paired=False, rounded=None):
    """The verdict on runs now against runs before, lower being faster: the
    ratio that the test estimates (Hodges-Lehmann; of medians where there is
    no test), its interval, the test's p, the verdict, and the
    smallest difference the runs can tell (tells).  paired: now[i] and
    before[i] ran in the same round.  rounded: (median now, median before)
    where either side's times are the reports' rounded ones.  No verdict,
    with the reason, when the runs are too few for the test to ever reach
    alpha or a pass was too short for the clock."""
    ratio = quotient(statistics.median(now), statistics.median(before))
    if 0 in now or 0 in before:  # a pass the clock did not see, however long the others
        return untested(ratio, TOOSHORT)
    if paired:
        differences = [math.log(a) - math.log(b) for a, b in zip(now, before)]
        shift = ranktests.pairedshift(differences, alpha)
        if shift is None:
            return untested(ratio, TOOFEW)
        p = ranktests.signedrankp(differences)
        estimate, (low, high) = shift
        ratio, low, high = math.exp(estimate), math.exp(low), math.exp(high)
    else:
        if not ranktests.canreach(len(now), len(before), alpha):
            return untested(ratio, TOOFEW)
        p = ranktests.ranktest(now, before)
        low, high = ranktests.ratiointerval(now, before, alpha)
        ratio = math.exp(ranktests.pooledestimate([math.log(a) for a in now], [math.log(b) for b in before]))
    slack = roundingslack(*rounded) if rounded else 0.0
    return {"ratio": ratio, "low": low, "high": high, "p": p, "verdict": classify(low, high, threshold, slack),
            "why": None, "tells": tells(low, high, threshold), "paired": paired, "alpha": alpha, "runs": len(now)}


def untested(ratio, why):
    return {"ratio": ratio, "low": None, "high": None, "p": None, "verdict": None, "why": why, "tells": None}


def upto(result, key, last):
    """The runs of figure key of a result by round, of the rounds up to last
    (None: all); None where the result does not carry its rounds."""
    if not result.get("rounds"):
        return None
    return {lap: run for lap, run in zip(result["rounds"], result[key + "_runs"]) if last is None or lap <= last}


def pairedruns(now, before, key, last=None):
    """The runs of figure key that results now and before set against each
    other, up to round last, and whether they pair: where both carry the
    rounds of their runs, the runs of the rounds that both ran, in order;
    else all of each."""
    nowruns, beforeruns = upto(now, key, last), upto(before, key, last)
    if nowruns is not None and beforeruns is not None:
        common = sorted(set(nowruns) & set(beforeruns))
        return [nowruns[lap] for lap in common], [beforeruns[lap] for lap in common], True
    return (list(nowruns.values()) if nowruns is not None else now[key + "_runs"]), before[key + "_runs"], False


def versus(now, before, key, alpha, threshold, last=None):
    """decide() on figure key of results now and before, paired where they
    can be, on the rounds up to last, and allowing for the reports' rounding
    where either side's times are the reports' own."""
    nowruns, beforeruns, paired = pairedruns(now, before, key, last)
    if not nowruns:
        return untested(quotient(now[key], before[key]), TOOFEW)
    rounded = None if now.get("full_times") and before.get("full_times") else (now[key], before[key])
    return decide(nowruns, beforeruns, alpha, threshold, paired, rounded)


def winners(rows, key, alpha, threshold, short, looks=None):
    """The fastest store of one file on one figure and each other store's
    verdict against it, at the alpha and on the rounds of the look that
    looks gives the store (the one that decided it), or at alpha on all.  marked: the keys to mark, with clear
    true when the fastest beats every other store; why: the reason nothing is
    tested.  Nothing is marked while a store is open and none is level.

    The fastest is first the store of the lowest median; but a store that a
    look decided ran no more, and the medians of other rounds do not compare
    where the machine drifts.  So where a store's test finds it faster than
    the fastest, it becomes the fastest, that most faster first, until no
    store is faster or each has been tried."""
    fastest = min(rows, key=lambda r: r[key])
    for _ in rows:
        verdicts, why = versusfastest(rows, fastest, key, alpha, threshold, short, looks)
        faster = [store for store, v in verdicts.items() if v["verdict"] == FASTER]
        if not faster:
            break
        fastest = next(r for r in rows if r["store"] == min(faster, key=lambda store: verdicts[store]["ratio"]))
    if why or len(rows) == 1:
        return {"fastest": fastest["store"], "marked": [], "clear": False, "versus": verdicts, "why": why}
    level = [store for store, v in verdicts.items() if v["verdict"] == LEVEL]
    clear = all(v["verdict"] == SLOWER for v in verdicts.values())
    return {"fastest": fastest["store"], "marked": [fastest["store"]] + level if clear or level else [],
            "clear": clear, "versus": verdicts, "why": None}


def versusfastest(rows, fastest, key, alpha, threshold, short, looks):
    """Each other store's verdict against fastest, and why none is tested."""
    verdicts = {}
    why = TOOSHORT if short else None
    for row in rows:
        if row is fastest:
            continue
        if short:
            verdicts[row["store"]] = untested(quotient(row[key], fastest[key]), TOOSHORT)
            continue
        lookalpha, last = (looks or {}).get(row["store"], (alpha, None))
        verdicts[row["store"]] = versus(row, fastest, key, lookalpha, threshold, last)
        why = why or verdicts[row["store"]]["why"]
    return verdicts, why


def filewinners(results, alpha, threshold, looks=None):
    """winners() for every file and tested figure, by (file, key); looks,
    per (file, key), the alpha and last round of each store's look."""
    short = shortfigures(results, TESTED)
    decided = {}
    for file in dict.fromkeys(r["file"] for r in results):
        rows = [r for r in results if r["file"] == file]
        for key in TESTED:
            decided[(file, key)] = winners(rows, key, alpha, threshold, (file, key) in short,
                                           (looks or {}).get((file, key)))
    return decided


def measuredbefore(files, befores, reports, laps):
    """The earlier run's programs as they ran in this run, per (SHA-256 of
    the file, store key): their results, as stats.summarise gives them."""
    ran = summarise(files, befores, reports, laps)
    adt = {before["key"]: before["adt"] for before in befores}
    return {(result["sha256"], adt[result["store"]]): result for result in ran}


# Why a store's row against the earlier run carries no verdict: the program
# that ran now is the one that ran then, byte for byte and library for library.
UNCHANGED = "unchanged (same program)"


def setagainst(results, earlier, alpha, threshold, measured=None, unchanged=(), looks=None):
    """For each file and store of both runs whose contents match: per tested
    figure, the earlier median, the median and runs the verdict sets this
    run's against, this run's median and the verdict.  measured holds, per
    (SHA-256, store), the earlier run's program as it ran in this run,
    interleaved with this run's own; where it did not run, the verdict takes
    the runs the earlier run recorded, and a store in unchanged, whose
    program is the earlier one, takes none.  looks: per (file, store, key),
    the alpha and last round of the look that decided it.  Returns the rows and the files of the same
    name whose contents differ."""
    rows = []
    names = {entry["file"] for entry in earlier.values()}
    matched = set()
    for result in results:
        recorded = earlier.get((result["sha256"], result["store"]))
        if recorded is None:
            continue
        matched.add(result["file"])
        ran = (measured or {}).get((result["sha256"], result["store"]))
        before = ran or recorded
        row = {"file": result["file"], "store": result["store"], "interleaved": ran is not None,
               "unchanged": result["store"] in unchanged}
        for key in TESTED:
            short = min(before[key] * before["lines"], passus(result, key)) < FLOOR_US
            ratio = quotient(result[key], before[key])
            if row["unchanged"]:
                verdict = untested(ratio, UNCHANGED)
            elif short:
                verdict = untested(ratio, TOOSHORT)
            else:
                lookalpha, last = (looks or {}).get((result["file"], result["store"], key), (alpha, None))
                verdict = versus(result, before, key, lookalpha, threshold, last)
            row[key] = dict(verdict, before=before[key], now=result[key], before_runs=before[key + "_runs"],
                            recorded=recorded[key])
        rows.append(row)
    differing = sorted({r["file"] for r in results if r["file"] in names and r["file"] not in matched})
    return rows, differing
