"""An earlier run that --against names: its folder or results file, and its
figures per file content and store, read from its results.csv or
results.json.
"""

import csv
import json
import math
import os

from .errors import DamagedResults
from .records import TESTED, EarlierEntry, Figure, FigureRuns
from .resultscsv import RUNFIELDS

NEEDED = ["file", "sha256", "store", "lines", "distinct"] + [figure.column for figure in TESTED] + RUNFIELDS


def isresultsfile(given):
    """Whether given names a results file, a .csv or .json of any name, rather
    than a run's folder."""
    return given.endswith((".csv", ".json")) and not os.path.isdir(given)


def resultsfolder(given):
    """DIR or a results file in it: the folder of an earlier run."""
    if isresultsfile(given):
        return os.path.dirname(given) or "."
    return given


def resultspath(given):
    """The results file of the earlier run that given names: itself, or
    DIR/results.csv."""
    return given if isresultsfile(given) else os.path.join(given, "results.csv")


def recordpath(given):
    """The results.json of the earlier run that given names, which records
    its kept programs: itself, or the one beside its CSV."""
    if isresultsfile(given) and given.endswith(".json"):
        return given
    return os.path.join(resultsfolder(given), "results.json")


def readearlier(path):
    """The earlier run's entries per (SHA-256, store), from its results.csv
    or results.json."""
    rows = jsonrows(path) if path.endswith(".json") else csvrows(path)
    earlier = {}
    for place, row in rows:
        lines, distinct = (readnumber(row, column, place, int) for column in ("lines", "distinct"))
        figures = {}
        for figure in TESTED:
            median = readnumber(row, figure.column, place, float)
            runs = row[figure.runscolumn].split()
            if not runs:
                raise DamagedResults(f"{place}, column {figure.runscolumn}: no runs")
            figures[figure] = FigureRuns([readnumber({figure.runscolumn: value}, figure.runscolumn, place, float)
                                          for value in runs], median)
        if len(row["sha256"]) != 64 or any(c not in "0123456789abcdef" for c in row["sha256"]):
            raise DamagedResults(f"{place}, column sha256: {row['sha256']!r} is not a SHA-256")
        # A results file without the field holds the reports' rounded times.
        earlier[(row["sha256"], row["store"])] = EarlierEntry(row["file"], lines, distinct,
                                                              row.get("full_times") in ("yes", "True"), figures)
    return earlier


def csvrows(path):
    """(place, row) of each row of a results.csv, every field as text."""
    try:
        with open(path, newline="", errors="strict") as source:
            text = source.read()
    except UnicodeDecodeError:
        raise DamagedResults(f"{path} is not text") from None
    if not text:
        raise DamagedResults(f"{path} is empty")
    # A run column holds every run's figure: thousands of runs pass csv's
    # default limit of 131,072 characters a field, and no field is longer
    # than the text.
    csv.field_size_limit(len(text))
    reader = csv.DictReader(text.splitlines(keepends=True))
    missing = [f for f in NEEDED if f not in (reader.fieldnames or [])]
    if missing:
        raise DamagedResults(f"{path} has no column {', '.join(missing)}: an older linebench-compare wrote it, "
                             "or it is no results.csv; rerun that build with this linebench-compare")
    rows = list(reader)
    for number, row in enumerate(rows, 2):
        place = f"{path}, row {number}"
        if number == len(rows) + 1 and not text.endswith("\n"):
            raise DamagedResults(f"{place} is cut short: the file ends without a line feed")
        if None in row or None in row.values():
            fields = sum(value is not None for key, value in row.items() if key is not None)
            raise DamagedResults(f"{place} has {fields + len(row.get(None, []))} fields, "
                                 f"not the header's {len(reader.fieldnames)}")
    return [(f"{path}, row {number}", row) for number, row in enumerate(rows, 2)]


def jsonrows(path):
    """(place, row) of each summary of a results.json, as results.csv writes
    its fields."""
    try:
        with open(path, errors="strict") as source:
            record = json.load(source)
    except (UnicodeDecodeError, ValueError) as error:
        raise DamagedResults(f"{path} is not JSON ({error})") from None
    summaries = record.get("summaries") if isinstance(record, dict) else None
    if not isinstance(summaries, list) or not all(isinstance(summary, dict) for summary in summaries):
        raise DamagedResults(f"{path} holds no summaries: it is no results.json of linebench-compare")
    rows = []
    for number, summary in enumerate(summaries, 1):
        missing = [field for field in NEEDED if field not in summary]
        if missing:
            raise DamagedResults(f"{path}, summary {number} has no field {', '.join(missing)}: an older "
                                 "linebench-compare wrote it; rerun that build with this linebench-compare")
        rows.append((f"{path}, summary {number}", {field: " ".join(repr(float(value)) for value in summary[field])
                                                   if isinstance(summary[field], list) else str(summary[field])
                                                   for field in NEEDED + ["full_times"] if field in summary}))
    return rows


def earlierruns(earlier):
    """The earlier run's runs a side, as its entries say (the fewest)."""
    return min((len(entry.figures[Figure.STORE].runs) for entry in earlier.entries.values()), default=0)


# Far beyond any figure a run gives (a microsecond a line for 10^20 lines, or
# that many bytes), and small enough that passes and medians made of such
# figures stay finite.
LARGESTFIGURE = 1e20


def readnumber(row, column, place, kind):
    try:
        value = kind(row[column])
    except ValueError:
        raise DamagedResults(f"{place}, column {column}: {row[column]!r} is not a number") from None
    if not 0 <= value < math.inf:
        raise DamagedResults(f"{place}, column {column}: {row[column]!r} is not a number of 0 or more")
    if value > LARGESTFIGURE:
        raise DamagedResults(f"{place}, column {column}: {row[column]!r} is larger than any run gives")
    return value
