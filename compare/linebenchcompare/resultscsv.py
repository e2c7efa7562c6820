"""results.csv: a row per file and store, with the runs of the tested
figures, which a later run reads back with --against.
"""

import csv
import os

from .countfigures import COLUMNS, Event, Part
from .records import TESTED, Figure
from .shapefigures import SHAPEFIGURES
from .text import SHOWBYTES

SUMMARYFIELDS = ["file", "shape", "size", "sha256", "lines", "distinct", "avg_linelen", "store", "program", "adt",
                 "runs"] + [name for figure in Figure for name in (figure.column, figure.spreadcolumn)] + [
    "report_bytes_per_line", "full_times"]
# The runs of the tested figures, space-separated: --against tests them.  Each
# is written whole, as the shortest decimal that reads back as the same float.
RUNFIELDS = [figure.runscolumn for figure in TESTED]


def write(report, folder):
    """Writes folder/results.csv: a row of every summary of this run's runs,
    not of those it carried from an earlier one, and the shape figures' and
    the counts' columns where the run has them, the counts a line, empty for
    a program and file not counted."""
    withshape = report.shapenote is None
    counted = report.counts.runs if report.counts else []
    fields = SUMMARYFIELDS + RUNFIELDS + ([figure.column for figure in SHAPEFIGURES] if withshape else []) + (
        COLUMNS if counted else [])
    with open(os.path.join(folder, "results.csv"), "w", newline="", errors=SHOWBYTES) as out:
        writer = csv.DictWriter(out, fieldnames=fields, lineterminator="\n")
        writer.writeheader()
        for summary in report.summaries:
            if summary.carried:
                continue
            row = csvrow(summary, withshape)
            if counted:
                row.update(countcells(report.counts.of(summary.file.name, summary.store)))
            writer.writerow(row)


def countcells(counts):
    """The counts a line of each part and event, written whole; empty where
    not counted."""
    if counts is None:
        return {}
    return {f"{part.column}_{event.column}": repr(float(event.of(counts.perline(part)))) for part in Part
            for event in Event}


def csvrow(summary, withshape):
    """A summary's fields as results.csv writes them."""
    file = summary.file
    row = {"file": file.name, "shape": file.shape, "size": file.size, "sha256": file.sha256, "lines": summary.lines,
           "distinct": summary.distinct, "avg_linelen": summary.avglinelen, "store": summary.store,
           "program": summary.program, "adt": summary.adt, "runs": summary.runs}
    for figure in Figure:
        row[figure.column] = summary.median(figure)
        row[figure.spreadcolumn] = f"{summary.figures[figure].spreadpct:.2f}"
    row[Figure.MEMORY.column] = f"{summary.median(Figure.MEMORY):.1f}"
    row["report_bytes_per_line"] = summary.reportmemory
    row["full_times"] = "yes" if summary.fulltimes else "no"
    for figure in TESTED:
        row[figure.runscolumn] = " ".join(repr(float(value)) for value in summary.figures[figure].runs)
    if withshape:
        row.update((figure.column, value) for figure, value in zip(SHAPEFIGURES, summary.shapevalues))
    return row
