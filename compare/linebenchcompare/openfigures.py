"""A look at the figures during the rounds: which figures it tests, which it
decides and closes, and what the open ones still need on each file.
"""

import dataclasses
import enum
import functools

from .carried import Need, needs, sidetest, table
from .keptprograms import BEFORE
from .medians import summarise
from .records import TESTED, Figure, Untested, Verdict
from .rounds import Opened
from .verdicts import Look, filewinners, setagainst, versus


class Kind(enum.Enum):
    """What a figure is set against: the fastest store of its file, or the
    earlier run."""

    FASTEST = "fastest"
    AGAINST = "against"


@dataclasses.dataclass(frozen=True)
class Tested:
    """A figure that a look tests: its kind, file, figure and store."""

    kind: Kind
    file: str
    figure: Figure
    store: str


def lookat(run, files, lap, alpha):
    """A look at the figures of files after lap rounds, each tested at alpha
    unless an earlier look closed it: records the look of every figure it
    tests and closes those it decides.  Returns what it leaves open.  The
    figures are each store's against the fastest of its file and, with
    --against, each set against the earlier run.  A test that waits for
    rounds that its programs have not yet run (carried.py) is open, with no
    look; one on runs that no round changes, as two carried stores', is the
    last look's alone."""
    rule = run.rule(alpha)
    rows, sides = table(run, files, summarise(files, run.stores, run.reports, run.laps))
    paths = {file.name: file.path for file in files}
    byname = {(row.file.name, row.store): row for row in rows}
    tester = functools.partial(sidetest, sides) if sides else versus
    tested = {}  # Tested -> (its test, its Need)
    for (file, figure), decided in filewinners(rows, rule, looksof(run, Kind.FASTEST, run.closed), tester).items():
        for store, test in decided.versus.items():
            need = (needs(sides, byname[(file, store)], byname[(file, decided.fastest)], figure) if sides else
                    Need({store, decided.fastest}, False))
            if need is not None:
                tested[Tested(Kind.FASTEST, file, figure, store)] = (test, need)
    if run.inputs.earlier is not None:
        against, _ = setagainst(rows, run.inputs.earlier, rule, run.beforesof(files),
                                looksof(run, Kind.AGAINST, run.closed))
        for row in against:
            for figure in TESTED:
                before = {BEFORE.format(row.store)} if row.interleaved else set()
                tested[Tested(Kind.AGAINST, row.file, figure, row.store)] = (row.figures[figure].test,
                                                                             Need({row.store} | before, False))
    return decideopen(run, tested, paths, lap, alpha)


def decideopen(run, tested, paths, lap, alpha):
    """Records the look of each tested figure, closes those decided and
    returns what the open ones need."""
    needed, opened, figures = {}, 0, 0
    for key, (test, need) in tested.items():
        waits = need.waits and test.why == Untested.TOOFEW
        if test.verdict is None and not waits:
            continue  # too short or unchanged: no look decides it
        figures += 1
        # faster than the fastest: the fastest is not, and the figure waits
        # for rounds that tell which is
        undecided = waits or test.verdict == Verdict.OPEN or key.kind == Kind.FASTEST and test.verdict == Verdict.FASTER
        if key in run.closed and not undecided:
            continue
        if not waits:
            run.looks[key] = Look(alpha, lap)
        if undecided:
            run.closed.discard(key)
            opened += 1
            needed.setdefault(paths[key.file], set()).update(need.programs)
        else:
            run.closed.add(key)
    return Opened(needed, opened, figures)


def looksof(run, kind, keys):
    """The looks of those figures of one kind: by (file, figure) and store
    for the fastest, by (file, store, figure) against the earlier run."""
    looks = {}
    for key in keys:
        if key.kind == kind == Kind.FASTEST:
            looks.setdefault((key.file, key.figure), {})[key.store] = run.looks[key]
        elif key.kind == kind:
            looks[(key.file, key.store, key.figure)] = run.looks[key]
    return looks
