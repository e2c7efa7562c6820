"""The counts per pass that a run made under valgrind (passcounts.py), as the
writers show them: each program's counts a line on a file, per pass and the
store's own; a pass's counts against the earlier program's; the instructions
against a file's fastest store; and how near counts must come to be the same.
"""

import dataclasses
import enum
from typing import Optional

from .keptprograms import BEFORE
from .passcounts import Events, Geometry, Pass, PassCounts
from .records import CountScope, Figure


class Part(enum.Enum):
    """A part of a run as the counts show it: its name in the columns, its
    words, its pass, and whether it is the store's own, less the count pass."""

    COUNT = ("count", "count pass", Pass.COUNT, False)
    STORE = ("store", "store pass", Pass.STORE, False)
    LOOKUP = ("lookup", "lookup pass", Pass.LOOKUP, False)
    STOREOWN = ("store_own", "store's own", Pass.STORE, True)
    LOOKUPOWN = ("lookup_own", "lookup's own", Pass.LOOKUP, True)

    def __init__(self, column, words, which, own):
        self.column = column
        self.words = words
        self.which = which
        self.own = own


# The part whose counts stand beside a tested figure's time.
OFFIGURE = {Figure.STORE: Part.STORE, Figure.LOOKUP: Part.LOOKUP}


class Event(enum.Enum):
    """A count: its name in the columns, its words, its field of Events, and
    whether it is of the simulated caches."""

    INSTRUCTIONS = ("instructions", "instructions", "ir", False)
    READS = ("data_reads", "data reads", "dr", False)
    WRITES = ("data_writes", "data writes", "dw", False)
    L1DMISSES = ("l1d_misses", "L1d misses", "d1miss", True)
    LLMISSES = ("ll_misses", "last-level misses", "llmiss", True)

    def __init__(self, column, words, field, simulated):
        self.column = column
        self.words = words
        self.field = field
        self.simulated = simulated

    def of(self, events):
        return getattr(events, self.field)


# results.csv's columns of the counts a line: count_instructions, ...,
# lookup_own_ll_misses.
COLUMNS = [f"{part.column}_{event.column}" for part in Part for event in Event]

# How far apart two runs of one program on one file may count a pass, whole:
# instructions, data reads and writes not at all; the simulated misses by a
# few, as the work between the passes prints the times, whose digits vary,
# and leaves the cache a little otherwise.  bench/counts/repeatcounts, every
# store of the build twice on its two files of 100,000 lines, found all five
# counts of every pass the same; the passes of a file of 3,000 lines have
# moved by up to 3 misses (tests/compare/passcounts_test.py).  A difference
# beyond it is one of the work done.
REPEATS = Events(0, 0, 0, 3, 3)


@dataclasses.dataclass(frozen=True)
class StoreCounts:
    """A program's counts on a file: the file's name, the store's key, the
    counts, and whether this run counted them (else they were kept from
    before, in OUT/counts.json or the earlier run's)."""

    file: str
    store: str
    counts: PassCounts
    counted: bool

    def total(self, part):
        """A part's counts over the whole file."""
        whole = self.counts.total(part.which)
        return whole - self.counts.total(Pass.COUNT) if part.own else whole

    def perline(self, part):
        return self.total(part) / self.counts.lines


@dataclasses.dataclass(frozen=True)
class Skipped:
    """A program that was not counted on a file, and why."""

    file: str
    store: str
    why: str


@dataclasses.dataclass(frozen=True)
class Counting:
    """What a run counted: what it was asked to count, the caches simulated,
    valgrind's version, each program's counts on each file, the CPU seconds
    of the runs that it counted, those it could not count, and why it
    counted nothing at all (None: it could count)."""

    scope: CountScope
    geometry: Optional[Geometry]
    valgrind: Optional[str]
    runs: list  # StoreCounts
    seconds: float
    skipped: list  # Skipped
    why: Optional[str]

    def of(self, file, store):
        """The counts of store on file, or None."""
        return next((run for run in self.runs if (run.file, run.store) == (file, store)), None)


@dataclasses.dataclass(frozen=True)
class CountChange:
    """A part's counts now against the earlier program's on the same file."""

    part: Part
    before: StoreCounts
    now: StoreCounts

    def difference(self, event):
        """The difference a line."""
        return event.of(self.now.perline(self.part)) - event.of(self.before.perline(self.part))

    def real(self, event):
        """Whether the whole part's counts lie further apart than two runs of
        one program do; the store's own is two passes, each apart by as much."""
        apart = abs(event.of(self.now.total(self.part)) - event.of(self.before.total(self.part)))
        return apart > event.of(REPEATS) * (2 if self.part.own else 1)

    def growth(self, event):
        """now / before - 1 of the counts a line."""
        before = event.of(self.before.perline(self.part))
        return self.difference(event) / before if before else (0.0 if not self.difference(event) else float("inf"))

    def text(self):
        """store +38 instructions a line (+19%), L1d misses +0.4 a line (exact)."""
        instructions = Event.INSTRUCTIONS
        said = [f"{self.part.column} {signed(self.difference(instructions))} instructions a line "
                f"({self.growth(instructions):+.0%})" if self.real(instructions) else
                f"{self.part.column} the same instructions"]
        said += [f"{event.words} {signed(self.difference(event))} a line" for event in (Event.L1DMISSES, Event.LLMISSES)
                 if self.real(event)]
        return ", ".join(said) + " (exact)"


def signed(figure):
    """+38, -0.4, +0.004, +1,204: a difference a line to about three figures."""
    if abs(figure) >= 100:
        return f"{figure:+,.0f}"
    if abs(figure) >= 1:
        return f"{figure:+.{1 if abs(figure) >= 10 else 2}f}".rstrip("0").rstrip(".")
    return f"{figure:+.2g}"


def againstchange(counting, row, figure):
    """The counts of a figure's pass against the earlier program's, where
    both were counted; an unchanged program's are its own."""
    if counting is None:
        return None
    now = counting.of(row.file, row.store)
    before = now if row.unchanged else counting.of(row.file, BEFORE.format(row.store))
    if now is None or before is None:
        return None
    return CountChange(OFFIGURE[figure], before, now)


def instructionratio(counting, file, store, fastest, figure):
    """The instructions a line of store's pass over the fastest store's on
    file, where both were counted; else None."""
    if counting is None:
        return None
    mine, theirs = counting.of(file, store), counting.of(file, fastest)
    if mine is None or theirs is None:
        return None
    part = OFFIGURE[figure]
    fewest = Event.INSTRUCTIONS.of(theirs.perline(part))
    return Event.INSTRUCTIONS.of(mine.perline(part)) / fewest if fewest else None
