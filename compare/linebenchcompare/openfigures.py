"""A look at the figures during the rounds: which figures it tests, which it
decides and closes, and what the open ones still need on each file.
"""

import dataclasses
import enum

from .keptprograms import BEFORE
from .medians import summarise
from .records import TESTED, Figure, Verdict
from .rounds import Opened
from .verdicts import Look, filewinners, setagainst


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
    tests and closes those it decides.  Returns what it leaves open.  With
    --against, the figures set against the earlier run are the ones that
    rounds go on for."""
    rule = run.rule(alpha)
    summaries = summarise(files, run.stores, run.reports, run.laps)
    paths = {file.name: file.path for file in files}
    tested = {}  # Tested -> (its test, the programs it needs)
    if run.inputs.earlier is None:
        for (file, figure), decided in filewinners(summaries, rule, looksof(run, Kind.FASTEST, run.closed)).items():
            for store, test in decided.versus.items():
                tested[Tested(Kind.FASTEST, file, figure, store)] = (test, {store, decided.fastest})
    else:
        rows, _ = setagainst(summaries, run.inputs.earlier, rule, run.beforesof(files),
                             looksof(run, Kind.AGAINST, run.closed))
        for row in rows:
            for figure in TESTED:
                before = {BEFORE.format(row.store)} if row.interleaved else set()
                tested[Tested(Kind.AGAINST, row.file, figure, row.store)] = (row.figures[figure].test,
                                                                             {row.store} | before)
    needed, opened, figures = {}, 0, 0
    for key, (test, wanted) in tested.items():
        if test.verdict is None:
            continue  # too short or unchanged: no look decides it
        figures += 1
        # faster than the fastest: the fastest is not, and the figure waits
        # for rounds that tell which is
        undecided = test.verdict == Verdict.OPEN or key.kind == Kind.FASTEST and test.verdict == Verdict.FASTER
        if key in run.closed and not undecided:
            continue
        run.looks[key] = Look(alpha, lap)
        if undecided:
            run.closed.discard(key)
            opened += 1
            needed.setdefault(paths[key.file], set()).update(wanted)
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
