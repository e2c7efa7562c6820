"""--fail-on slower: an exit status for CI from the figures set against the
earlier run.  A figure fails the run where its time is decided slower, or
where its pass's instructions a line grew by more than --count-threshold;
an open figure does not, but the closing line names it, as CI that fails on
an undecided figure fails at random on a noisy runner.
"""

import dataclasses
from typing import Optional

from .countfigures import CountChange, Event, againstchange, signed
from .records import TESTED, Test, Verdict

FAILON = ["slower"]
FAILED = 3  # the exit status of a run that --fail-on fails
# Instructions a line repeat exactly from run to run, so any threshold lies
# above their own spread; 1% lies below the 3% within which times are level
# and below a change worth finding (an extra hash an insert is some 10% of
# HASH's store pass), and above what a change elsewhere in the program, its
# code laid out otherwise, moves a pass by.
COUNTTHRESHOLD = 0.01


@dataclasses.dataclass(frozen=True)
class GateFigure:
    """A figure set against the earlier run as the gate sees it: where, its
    test, its pass's counts against the earlier program's (None: not both
    counted), and whether its time or its counts fail the run."""

    file: str
    store: str
    word: str
    test: Test
    change: Optional[CountChange]
    bytime: bool
    bycounts: bool

    def fails(self):
        return self.bytime or self.bycounts


def gatefigures(report):
    """Every figure set against the earlier run, as the gate judges it."""
    figures = []
    for row in report.against.rows or []:
        for figure in TESTED:
            test = row.figures[figure].test
            change = againstchange(report.counts, row, figure)
            grew = change is not None and change.real(Event.INSTRUCTIONS) and \
                change.growth(Event.INSTRUCTIONS) > report.settings.countthreshold
            figures.append(GateFigure(row.file, row.store, figure.word, test, change, test.verdict == Verdict.SLOWER,
                                      grew))
    return figures


def interval(test):
    return f"x{test.ratio:.2f} [{test.low:.2f}, {test.high:.2f}]"


def failtext(figure):
    """X store on words.txt slower x1.19 [1.10, 1.30], +38 instructions a
    line (+19%)."""
    said = [f"slower {interval(figure.test)}"] if figure.bytime else []
    change, instructions = figure.change, Event.INSTRUCTIONS
    if change is not None and change.real(instructions):
        said.append(f"{signed(change.difference(instructions))} instructions a line "
                    f"({change.growth(instructions):+.0%})")
    return f"{figure.store} {figure.word} on {figure.file} " + ", ".join(said)


def gate(report):
    """(status, closing line) of --fail-on: FAILED where a figure fails, else
    0; None where the run set nothing against the earlier one."""
    if report.settings.failon is None or report.against is None or report.against.rows is None:
        return None
    figures = gatefigures(report)
    failing = [figure for figure in figures if figure.fails()]
    opened = [figure for figure in figures if not figure.fails() and figure.test.verdict == Verdict.OPEN]
    openwords = "; ".join(f"{figure.store} {figure.word} on {figure.file} {interval(figure.test)}" for figure in opened)
    head = f"compare: --fail-on {report.settings.failon}:"
    if failing:
        line = f"{head} failed: " + "; ".join(failtext(figure) for figure in failing)
        return FAILED, line + (f"; {len(opened)} open (not failing): {openwords}" if opened else "")
    if opened:
        return 0, f"{head} passed; {len(opened)} figure{'s' if len(opened) > 1 else ''} open: {openwords}"
    return 0, f"{head} passed"
