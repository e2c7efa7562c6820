"""The medians and spreads of the runs, per file and store, and the passes
too short for the programs' clock.
"""

import dataclasses
import math
import statistics

from .errors import Disagreement
from .records import TESTED, TIMES, Figure, FigureSummary, Summary

# A pass shorter than this says little: the programs' clock counts whole
# microseconds, so each pass is read to 2 µs at worst, 1% of 200 µs, a third
# of the threshold.  The runs' own spread is larger, and the tests see it.
FLOOR_US = 200.0
NOISY = 10.0  # a spread over this percentage of its median marks the machine noisy


def spread(values):
    """The interquartile range of the runs, in the figures' unit; 0 for one run."""
    if len(values) < 2:
        return 0.0
    quartiles = statistics.quantiles(values, n=4, method="inclusive")
    return quartiles[2] - quartiles[0]


def percent(part, whole):
    return 100.0 * part / whole if whole else 0.0


def shortfigures(summaries, figures):
    """(file, figure) pairs where some store's pass is below the floor."""
    return {(summary.file.name, figure) for summary in summaries for figure in figures
            if summary.passus(figure) < FLOOR_US}


def linesneeded(summaries, file):
    """About how many lines the file would need for every pass of the tested
    figures to last the floor, rounded up to two significant digits."""
    rows = [summary for summary in summaries if summary.file.name == file]
    shortest = min(summary.passus(figure) for summary in rows for figure in TESTED)
    lines = rows[0].lines * FLOOR_US / max(shortest, 1.0)
    scale = 10 ** max(len(str(int(lines))) - 2, 0)
    return int(math.ceil(lines / scale) * scale)


@dataclasses.dataclass(frozen=True, order=True)
class Spread:
    """A time figure's spread as a percentage of its median, with its store,
    figure and file: ordered by the spread first."""

    pct: float
    store: str
    word: str
    file: str


def noisyspreads(summaries):
    """The time figures above the floor whose spread is over NOISY percent of
    their median, largest first, and how many figures are above the floor."""
    counted = [(summary, figure) for summary in summaries for figure in TIMES if summary.passus(figure) >= FLOOR_US]
    noisy = sorted((Spread(summary.figures[figure].spreadpct, summary.store, figure.word, summary.file.name)
                    for summary, figure in counted if summary.figures[figure].spreadpct > NOISY), reverse=True)
    return noisy, len(counted)


def summarise(files, stores, reports, laps=None):
    """A summary per file and store of the runs in reports, by (path, store
    key); laps: the round of each of them.  A store with no runs on a file,
    in a run that did not finish, has none there."""
    summaries = []
    for file in files:
        for store in stores:
            runs = reports.get((file.path, store.key))
            if not runs:
                continue
            first = runs[0]
            if any((r.lines, r.distinct) != (first.lines, first.distinct) for r in runs):
                raise Disagreement(f"{store.key} counted differently from run to run on {file.path}")
            summaries.append(Summary(file, store.key, store.path, first.adt, len(runs), first.lines, first.distinct,
                                     first.avglinelen, statistics.median(r.reportmemory for r in runs),
                                     all(r.fulltimes for r in runs), (laps or {}).get((file.path, store.key)),
                                     {figure: figuresummary([r.figures[figure] for r in runs]) for figure in Figure}))
        counts = {(summary.lines, summary.distinct) for summary in summaries if summary.file.path == file.path}
        if len(counts) > 1:
            raise Disagreement(f"the programs disagree on the lines of {file.path}: {sorted(counts)}")
    return summaries


def figuresummary(values):
    median = statistics.median(values)
    iqr = spread(values)
    return FigureSummary(values, median, iqr, percent(iqr, median))
