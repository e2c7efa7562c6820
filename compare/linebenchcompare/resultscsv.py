"""results.csv: a row per file and store, with the runs of the tested
figures, which a later run reads back with --against.
"""

import csv

from .medians import FIGURES, TESTED
from .shapefigures import SHAPEFIGURES
from .text import SHOWBYTES

SUMMARYFIELDS = ["file", "shape", "size", "sha256", "lines", "distinct", "avg_linelen", "store", "program", "adt",
                 "runs"] + [name for key in FIGURES for name in (key, key + "_iqr_pct")] + [
    "report_bytes_per_line", "full_times"]
# The runs of the tested figures, space-separated: --against tests them.  Each
# is written whole, as the shortest decimal that reads back as the same float.
RUNFIELDS = [key + "_runs" for key in TESTED]


def writecsv(path, results, withshape):
    fields = SUMMARYFIELDS + RUNFIELDS + ([column for column, _, _, _ in SHAPEFIGURES] if withshape else [])
    with open(path, "w", newline="", errors=SHOWBYTES) as out:
        writer = csv.DictWriter(out, fieldnames=fields, lineterminator="\n")
        writer.writeheader()
        for result in results:
            row = {key: result[key] for key in fields if key not in RUNFIELDS}
            for key in FIGURES:
                row[key + "_iqr_pct"] = f"{result[key + '_iqr_pct']:.2f}"
            row["bytes_per_line"] = f"{result['bytes_per_line']:.1f}"
            row["full_times"] = "yes" if result["full_times"] else "no"
            for key in RUNFIELDS:
                row[key] = " ".join(repr(float(value)) for value in result[key])
            writer.writerow(row)
