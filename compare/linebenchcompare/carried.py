"""The stores that a run --against an earlier one carries from it rather than
run again, and the tests of the table of the fastest that set them against
the others.

A store whose program is the one that the earlier run recorded (the same
SHA-256 and libraries) is unchanged; where that run was on this machine (the
same CPU model and kernel), its row on each file that run measured is
carried: that run's figures, of the same program on the same bytes.  A test
between two stores of a file on a figure is made on what the two share:

- both ran in this run: paired on this run's rounds;
- both carried: on the earlier run's runs, paired by its rounds where its
  results keep them (results.json does; a results.csv alone does not, and
  then every run of one is set against every run of the other).  Those runs
  are fixed, so the test is made once, at the whole alpha;
- one carried, U, and one, H, that ran beside its earlier program H (before):
  chained through H (before).  H / U is (H / H before) on this run's rounds
  times (H before / U) on the earlier run's, where H before ran as that
  run's H.  Pairing by round takes a round's ratio of two programs on the
  same bytes for one quantity, whatever the machine's speed in that round;
  the chain takes the ratio of H before to U, the same programs on the same
  bytes, for one quantity in both runs.  Where both halves' intervals hold
  their ratios, the products of their bounds hold the product, and by the
  union bound the chance that either misses is at most the sum of theirs.
  The earlier half's runs are fixed, so its interval is made once, at
  alpha/2; this run's half grows with the rounds and spends the other
  alpha/2 across the looks, half of each look's share, as any figure spends
  alpha.  (Halving each look's share for both halves would hold too, but
  would leave the earlier half, often of 8 rounds, no interval before the
  last look.)  The estimate is the product of the estimates, the verdict the
  interval's by the one rule.  Where the earlier half cannot reach alpha/2,
  there is no chain, and U runs, as next;
- one carried, U, and one that ran without an earlier program beside it (a
  store new to the comparison or to the file, or whose kept program cannot
  run here): paired on U's runs in this run.  With --runs auto, U runs on
  that file from the round after the look that found it needed, and the
  test waits, open, for the rounds they share; with --runs N, which looks
  only at the end, U runs on such a file from the first round.
"""

import dataclasses
import enum
from typing import Optional

from .keptprograms import BEFORE
from .records import Chain, Summary, Test, Untested
from .verdicts import Rule, classify, measuredbefore, quotient, roundedmedians, roundingslack, tells, versus


class Pairing(enum.Enum):
    """What a test of the table sets against what."""

    RAN = "ran"  # both ran in this run
    CARRIED = "carried"  # both carried: the earlier run's runs
    CHAINED = "chained"  # through the earlier program of the one that ran
    JOINED = "joined"  # the carried store's runs in this run


@dataclasses.dataclass(frozen=True)
class Sides:
    """What the tests of a run --against an earlier one draw on beyond the
    rows of the table: the earlier programs' summaries in this run (befores)
    and the earlier run's entries, per (SHA-256 of the file, store key); the
    runs in this run of carried stores (joined), per (file, store key); the
    run's rule at its whole alpha; and the earlier halves of chains, made
    once and kept for every look."""

    befores: dict
    entries: dict
    joined: dict
    rule: Rule
    halves: dict


@dataclasses.dataclass(frozen=True)
class Need:
    """What a test of the table needs of the rounds: the programs that run
    for it, and whether more rounds can give it a verdict where its runs
    are too few (they cannot where both its sides' runs are fixed)."""

    programs: set
    waits: bool


def carriedkeys(file, keys, entries):
    """The stores of keys carried on file: those of the earlier run's entries
    of the same bytes whose results show their rows."""
    return {key for key in keys if (file.sha256, key) in entries and entries[(file.sha256, key)].adt is not None}


def carriedrow(file, store, entry):
    """The earlier run's summary of a store on file, carried into this run's
    table."""
    return Summary(file, store.key, store.path, entry.adt, entry.runs, entry.lines, entry.distinct, entry.avglinelen,
                   entry.reportmemory, entry.fulltimes, entry.rounds, entry.figures, carried=True)


def table(run, files, measured):
    """The rows of the table of the fastest on files, per file in the
    stores' order, this run's summary of each store or the earlier run's of
    a carried one, and the Sides of their tests; without --against, the
    summaries measured and None."""
    earlier = run.inputs.earlier
    if earlier is None:
        return measured, None
    ran = {(summary.file.name, summary.store): summary for summary in measured}
    rows, joined = [], {}
    for file in files:
        carried = carriedkeys(file, run.carriable, earlier.entries)
        for store in run.stores:
            summary = ran.get((file.name, store.key))
            if store.key in carried:
                rows.append(carriedrow(file, store, earlier.entries[(file.sha256, store.key)]))
                if summary is not None:
                    joined[(file.name, store.key)] = summary
            elif summary is not None:
                rows.append(summary)
    befores = measuredbefore(files, run.earlierprograms, run.reports, run.laps)
    return rows, Sides(befores, earlier.entries, joined, run.rule(), run.earlierhalves)


def sidesof(row, other):
    """(the one of two rows that ran, the one carried)."""
    return (other, row) if row.carried else (row, other)


def earlierhalf(sides, ran, carried, figure, ranfirst=True):
    """The test on the earlier run's runs of the store that ran, as it ran
    then, over the carried one (not ranfirst: the carried one over it), at
    half the run's alpha; made once."""
    key = (ran.file.name, ran.store, carried.store, figure, ranfirst)
    if key not in sides.halves:
        then = sides.entries[(ran.file.sha256, ran.store)]
        half = dataclasses.replace(sides.rule, alpha=sides.rule.alpha / 2)
        sides.halves[key] = versus(then, carried, figure, half) if ranfirst else versus(carried, then, figure, half)
    return sides.halves[key]


def chainable(sides, ran, carried, figure):
    """Whether the store that ran had its earlier program beside it here and
    the earlier run's runs give the chain's half an interval."""
    key = (ran.file.sha256, ran.store)
    if key not in sides.befores or key not in sides.entries:
        return False
    return earlierhalf(sides, ran, carried, figure).verdict is not None


def pairingof(sides, row, other, figure):
    """What the test of two rows of a file sets against what."""
    if row.carried == other.carried:
        return Pairing.CARRIED if row.carried else Pairing.RAN
    ran, carried = sidesof(row, other)
    return Pairing.CHAINED if chainable(sides, ran, carried, figure) else Pairing.JOINED


def chained(sides, row, fastest, figure, rule, last):
    """row over fastest through the earlier program of the one that ran, as
    the module says: this run's half at half the look's alpha, on the rounds
    up to last, the earlier one at half the run's."""
    ran, carried = sidesof(row, fastest)
    key = (ran.file.sha256, ran.store)
    before, then = sides.befores[key], sides.entries[key]
    # H / U = (H / H before) (H before / U); U / H = (U / H before) (H before / H)
    pairs = ((ran, before), (then, carried)) if row is ran else ((before, ran), (carried, then))
    now = versus(*pairs[0], figure, dataclasses.replace(rule, alpha=rule.alpha / 2), last)
    earlier = earlierhalf(sides, ran, carried, figure, row is ran)
    if now.verdict is None or earlier.verdict is None:
        return Test(quotient(row.median(figure), fastest.median(figure)), why=now.why or earlier.why)
    slack = sum(roundingslack(*medians) for medians in (roundedmedians(a, b, figure) for a, b in pairs) if medians)
    low, high = now.low * earlier.low, now.high * earlier.high
    return Test(now.ratio * earlier.ratio, low, high, None, classify(low, high, rule.threshold, slack), None,
                tells(low, high, rule.threshold), now.paired and earlier.paired, rule.alpha, now.runs,
                Chain(BEFORE.format(ran.store), now, earlier))


def joinedtest(sides, row, fastest, figure, rule, last):
    """row over fastest on the runs in this run of the one carried, paired
    on the rounds they share; too few while it has not run."""
    runs = [sides.joined.get((side.file.name, side.store)) if side.carried else side for side in (row, fastest)]
    if None in runs:
        return Test(quotient(row.median(figure), fastest.median(figure)), why=Untested.TOOFEW)
    return versus(*runs, figure, rule, last)


def sidetest(sides, row, fastest, figure, rule, last=None):
    """The test of row over fastest, as versus() makes it for two stores that
    ran, by what the two share (the module's rules)."""
    pairing = pairingof(sides, row, fastest, figure)
    if pairing == Pairing.RAN:
        return versus(row, fastest, figure, rule, last)
    if pairing == Pairing.CARRIED:
        return versus(row, fastest, figure, sides.rule)
    if pairing == Pairing.CHAINED:
        return chained(sides, row, fastest, figure, rule, last)
    return joinedtest(sides, row, fastest, figure, rule, last)


def needs(sides, row, fastest, figure) -> Optional[Need]:
    """What the test of row over fastest needs of the rounds; None where
    nothing of them can change it, as between two carried stores."""
    pairing = pairingof(sides, row, fastest, figure)
    if pairing == Pairing.CARRIED:
        return None
    if pairing == Pairing.CHAINED:
        ran, _ = sidesof(row, fastest)
        return Need({ran.store, BEFORE.format(ran.store)}, True)
    return Need({row.store, fastest.store}, pairing == Pairing.JOINED)
