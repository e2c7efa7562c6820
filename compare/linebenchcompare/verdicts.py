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

import dataclasses
import math
import statistics

from . import ranktests
from .medians import FLOOR_US, shortfigures, summarise
from .records import TESTED, AgainstFigure, AgainstRow, Fastest, Test, Untested, Verdict

ALPHA = 0.05
# An interval of the ratio that lies within 3% of 1 is level.  In the A/A
# runs of docs/compare-method.md, the same build twice, the verdicts that moved were
# 16% to 21% off, which no threshold below the 10% to be seen removes; 3%
# keeps what a quiet machine resolves in many runs from being called.
THRESHOLD = 0.03
# The reports round a time per line to 0.001 µs, so each median may be off
# by half of that: 0.0205 and 0.0204 print as 0.021 and 0.020, 5% apart.
ROUNDING_US = 0.0005


@dataclasses.dataclass(frozen=True)
class Rule:
    """What a test is made at: its significance level, and the threshold, a
    fraction: an interval of the ratio within it of 1 is level."""

    alpha: float = ALPHA
    threshold: float = THRESHOLD


@dataclasses.dataclass(frozen=True)
class Look:
    """The look that last tested a figure: the alpha it spent on it and the
    last round it saw."""

    alpha: float
    last: int


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
        return Verdict.FASTER
    if loglow > edge + slack:
        return Verdict.SLOWER
    if -edge + slack <= loglow and loghigh <= edge - slack:
        return Verdict.LEVEL
    return Verdict.OPEN


def tells(low, high, threshold):
    """The smallest difference, as a fraction, that runs giving an interval
    this wide can call faster or slower: the threshold and the interval's
    half width, on log ratios."""
    return math.expm1(math.log1p(threshold) + (math.log(high) - math.log(low)) / 2)


def decide(now, before, rule=Rule(), paired=False, rounded=None):
    """The test of runs now against runs before, lower being faster: the
    ratio that it estimates (Hodges-Lehmann; of medians where there is no
    test), its interval, p, the verdict, and the smallest difference the
    runs can tell (tells).  paired: now[i] and before[i] ran in the same
    round.  rounded: (median now, median before) where either side's times
    are the reports' rounded ones.  No verdict, with the reason, when the
    runs are too few for the test to ever reach alpha or a pass was too
    short for the clock."""
    ratio = quotient(statistics.median(now), statistics.median(before))
    if 0 in now or 0 in before:  # a pass the clock did not see, however long the others
        return Test(ratio, why=Untested.TOOSHORT)
    if paired:
        differences = [math.log(a) - math.log(b) for a, b in zip(now, before)]
        shift = ranktests.pairedshift(differences, rule.alpha)
        if shift is None:
            return Test(ratio, why=Untested.TOOFEW)
        p = ranktests.signedrankp(differences)
        estimate, (low, high) = shift
        ratio, low, high = math.exp(estimate), math.exp(low), math.exp(high)
    else:
        if not ranktests.canreach(len(now), len(before), rule.alpha):
            return Test(ratio, why=Untested.TOOFEW)
        p = ranktests.ranktest(now, before)
        low, high = ranktests.ratiointerval(now, before, rule.alpha)
        ratio = math.exp(ranktests.pooledestimate([math.log(a) for a in now], [math.log(b) for b in before]))
    slack = roundingslack(*rounded) if rounded else 0.0
    return Test(ratio, low, high, p, classify(low, high, rule.threshold, slack), None, tells(low, high, rule.threshold),
                paired, rule.alpha, len(now))


def upto(side, figure, last):
    """The runs of a figure of one side (a summary, or an earlier run's
    entry) by round, of the rounds up to last (None: all); None where the
    side does not carry its rounds."""
    if not side.rounds:
        return None
    return {lap: run for lap, run in zip(side.rounds, side.figures[figure].runs) if last is None or lap <= last}


@dataclasses.dataclass(frozen=True)
class Pairing:
    """The runs of a figure that two sides set against each other, and
    whether they pair round by round."""

    now: list
    before: list
    paired: bool


def pairedruns(now, before, figure, last=None):
    """The runs of a figure that sides now and before set against each
    other, up to round last: where both carry the rounds of their runs, the
    runs of the rounds that both ran, in order, paired; else all of each."""
    nowruns, beforeruns = upto(now, figure, last), upto(before, figure, last)
    if nowruns is not None and beforeruns is not None:
        common = sorted(set(nowruns) & set(beforeruns))
        return Pairing([nowruns[lap] for lap in common], [beforeruns[lap] for lap in common], True)
    return Pairing(list(nowruns.values()) if nowruns is not None else now.figures[figure].runs,
                   before.figures[figure].runs, False)


def roundedmedians(now, before, figure):
    """(median now, median before) where either side's times are the
    reports' rounded ones, else None."""
    return None if now.fulltimes and before.fulltimes else (now.median(figure), before.median(figure))


def versus(now, before, figure, rule, last=None):
    """decide() on a figure of sides now and before, paired where they can
    be, on the rounds up to last, and allowing for the reports' rounding
    where either side's times are the reports' own."""
    pairing = pairedruns(now, before, figure, last)
    if not pairing.now:
        return Test(quotient(now.median(figure), before.median(figure)), why=Untested.TOOFEW)
    return decide(pairing.now, pairing.before, rule, pairing.paired, roundedmedians(now, before, figure))


def winners(rows, figure, rule, short, looks=None, tester=versus):
    """The fastest store of one file on one figure and each other store's
    test against it, at the alpha and on the rounds of the look that looks
    gives the store (the one that decided it), or by rule on all.  Nothing
    is marked while a store is open and none is level.

    The fastest is first the store of the lowest median; but a store that a
    look decided ran no more, and the medians of other rounds do not compare
    where the machine drifts.  So where a store's test finds it faster than
    the fastest, it becomes the fastest, that most faster first, until no
    store is faster or each has been tried.  tester makes each test, as
    versus() does."""
    fastest = min(rows, key=lambda row: row.median(figure))
    if short:
        tests = {row.store: Test(quotient(row.median(figure), fastest.median(figure)), why=Untested.TOOSHORT)
                 for row in rows if row is not fastest}
        return Fastest(fastest.store, [], False, tests, Untested.TOOSHORT)
    for _ in rows:
        tests, why = versusfastest(rows, fastest, figure, rule, looks, tester)
        faster = [store for store, test in tests.items() if test.verdict == Verdict.FASTER]
        if not faster:
            break
        fastest = next(row for row in rows if row.store == min(faster, key=lambda store: tests[store].ratio))
    if why or len(rows) == 1:
        return Fastest(fastest.store, [], False, tests, why)
    level = [store for store, test in tests.items() if test.verdict == Verdict.LEVEL]
    clear = all(test.verdict == Verdict.SLOWER for test in tests.values())
    return Fastest(fastest.store, [fastest.store] + level if clear or level else [], clear, tests, None)


def versusfastest(rows, fastest, figure, rule, looks, tester):
    """Each other store's test against fastest, and why none is tested."""
    tests = {}
    why = None
    for row in rows:
        if row is fastest:
            continue
        look = (looks or {}).get(row.store)
        tests[row.store] = tester(row, fastest, figure, lookedrule(rule, look), look.last if look else None)
        why = why or tests[row.store].why
    return tests, why


def lookedrule(rule, look):
    """The rule at the alpha of a figure's look, where it had one."""
    return dataclasses.replace(rule, alpha=look.alpha) if look else rule


def filewinners(summaries, rule, looks=None, tester=versus):
    """winners() for every file and tested figure, by (file, figure); looks,
    per (file, figure), the look of each store."""
    short = shortfigures(summaries, TESTED)
    decided = {}
    for file in dict.fromkeys(summary.file.name for summary in summaries):
        rows = [summary for summary in summaries if summary.file.name == file]
        for figure in TESTED:
            decided[(file, figure)] = winners(rows, figure, rule, (file, figure) in short,
                                              (looks or {}).get((file, figure)), tester)
    return decided


@dataclasses.dataclass(frozen=True)
class Befores:
    """The earlier run's programs as this run ran them: their summaries, per
    (SHA-256 of the file, store key), and the stores whose program is the
    earlier one, which ran once, as this run's own."""

    measured: dict
    unchanged: set


def measuredbefore(files, befores, reports, laps):
    """The earlier run's programs as they ran in this run, per (SHA-256 of
    the file, store key): their summaries."""
    ran = summarise(files, befores, reports, laps)
    of = {before.key: before.earlierof for before in befores}
    return {(summary.file.sha256, of[summary.store]): summary for summary in ran}


def setagainst(summaries, earlier, rule, befores, looks=None):
    """For each file and store of both runs whose contents match: per tested
    figure, the earlier median, the median and runs the verdict sets this
    run's against, this run's median and the test.  Where the earlier
    program did not run in this run, the test takes the runs the earlier run
    recorded, and an unchanged program's takes none; a carried summary is
    the recorded one itself.  looks: per (file,
    store, figure), the look that decided it.  Returns the rows and the
    files of the same name whose contents differ."""
    rows = []
    names = {entry.file for entry in earlier.entries.values()}
    matched = set()
    for summary in summaries:
        recorded = earlier.entries.get((summary.file.sha256, summary.store))
        if recorded is None:
            continue
        matched.add(summary.file.name)
        ran = befores.measured.get((summary.file.sha256, summary.store))
        # The recorded runs' rounds are the earlier run's, which pair with none of this run's.
        before = ran or dataclasses.replace(recorded, rounds=None)
        unchanged = summary.store in befores.unchanged
        figures = {}
        for figure in TESTED:
            if unchanged:
                test = Test(quotient(summary.median(figure), before.median(figure)), why=Untested.UNCHANGED)
            else:
                test = againsttest(summary, before, figure, rule, (looks or {}).get((summary.file.name, summary.store,
                                                                                     figure)))
            figures[figure] = AgainstFigure(test, before.median(figure), summary.median(figure),
                                            before.figures[figure].runs, recorded.figures[figure].median)
        rows.append(AgainstRow(summary.file.name, summary.store, ran is not None, unchanged, figures, summary.carried))
    differing = sorted({summary.file.name for summary in summaries
                        if summary.file.name in names and summary.file.name not in matched})
    return rows, differing


def againsttest(summary, before, figure, rule, look):
    """The test of one figure against the earlier run's, at its look: none
    for a pass below the floor."""
    if min(before.median(figure) * before.lines, summary.passus(figure)) < FLOOR_US:
        return Test(quotient(summary.median(figure), before.median(figure)), why=Untested.TOOSHORT)
    return versus(summary, before, figure, lookedrule(rule, look), look.last if look else None)
