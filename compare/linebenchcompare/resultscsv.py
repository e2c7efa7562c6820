"""results.csv: a row per file and store, with the runs of the tested
figures, which a later run reads back with --against.
"""

import csv
import os

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
    not of those it carried from an earlier one, and the shape figures'
    columns where the run has them."""
    withshape = report.shapenote is None
    fields = SUMMARYFIELDS + RUNFIELDS + ([figure.column for figure in SHAPEFIGURES] if withshape else [])
    with open(os.path.join(folder, "results.csv"), "w", newline="", errors=SHOWBYTES) as out:
        writer = csv.DictWriter(out, fieldnames=fields, lineterminator="\n")
        writer.writeheader()
        for summary in report.summaries:
            if not summary.carried:
                writer.writerow(csvrow(summary, withshape))


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
