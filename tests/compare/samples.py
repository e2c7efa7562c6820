"""Records made for the unit tests of linebench-compare's modules: a store, a
file, a program's runs, the settings and a report.  Importing it puts the
package on the path."""

import dataclasses
import os
import statistics
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "compare"))
from linebenchcompare.records import (Figure, FigureSummary, Machine, MeasuredFile, ProgramReport,  # noqa: E402
                                      Report, Settings, Store, Summary)

SETTINGS = Settings(files=["f"], out="", auto=False, runs=13, timelimit=None, alpha=0.05, threshold=0.03, cpu=None,
                    aslr=True, quick=False, large=False, shapes=None, seed=1, keepcorpora=False, cache=None,
                    programs=None)


def store(key, family="other", checkadt=True):
    return Store(key, "/bin/" + key, family, checkadt)


def measuredfile(name, shape="your files"):
    return MeasuredFile(name, name, shape, 0, "0" * 64, name, ())


def report(lines, distinct, storeus, lookupus, getline=0.05, memory=80.0, full=False):
    """One run's report of these figures, its times the reports' rounded ones
    or, full, the clock's own."""
    figures = {Figure.GETLINE: getline, Figure.STORE: storeus, Figure.LOOKUP: lookupus, Figure.MEMORY: memory}
    return ProgramReport(lines, 10.0, distinct, "X", "", figures, memory, full)


def summary(file, key, shape="your files", distinct=1000, storeus=0.2, lookupus=0.1, memory=80.0, lines=10**6,
            runs=None, rounds=None):
    """A store's summary on a file: every figure the same in each run, or a
    store and lookup time of the runs given."""
    figures = {}
    for figure, median in ((Figure.GETLINE, 0.05), (Figure.STORE, storeus), (Figure.LOOKUP, lookupus),
                           (Figure.MEMORY, memory)):
        given = (runs or {}).get(figure)
        figures[figure] = FigureSummary(given or [median], statistics.median(given) if given else median, 0.0, 0.0)
    return Summary(measuredfile(file, shape), key, "/bin/" + key, key, len((runs or {}).get(Figure.STORE, [0])), lines,
                   distinct, 10.0, memory, False, rounds, figures)


def reportof(summaries, stores, winners, settings=SETTINGS, **changes):
    """The report of a run that ended with these summaries and verdicts."""
    files = list({summary.file.name: summary.file for summary in summaries}.values())
    made = Report(settings, ["linebench-compare"], "2025-01-01T00:00:00+0000", Machine("a machine", 2, "6.1", None),
                  None, files, stores, [], 0, summaries, winners, None, None, None, True, None, None,
                  "2025-01-01 00:00", "No shape figures", None)
    return dataclasses.replace(made, **changes)
