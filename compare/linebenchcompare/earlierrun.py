"""An earlier run that --against names: its folder or results file, and its
figures per file content and store, read from its results.csv or
results.json.
"""

import csv
import dataclasses
import json
import math
import os

from .errors import DamagedResults
from .records import TESTED, EarlierEntry, Figure, FigureSummary
from .resultscsv import RUNFIELDS

NEEDED = ["file", "sha256", "store", "lines", "distinct"] + [figure.column for figure in TESTED] + RUNFIELDS
# What a row shows beside its tested figures, which a run carries with the
# figures of a store that it does not run again.
SHOWN = ["avg_linelen", "adt", "runs", "report_bytes_per_line"] + [
    figure.column for figure in Figure if figure not in TESTED] + [figure.spreadcolumn for figure in Figure]


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


def readearlier(path, record=None):
    """The earlier run's entries per (SHA-256, store), from its results.csv
    or results.json; a results.csv's take the round of each run from the
    results.json at record, where its summary holds the same runs."""
    rows = jsonrows(path) if path.endswith(".json") else csvrows(path)
    earlier = {}
    for place, row in rows:
        lines, distinct = (readnumber(row, column, place, int) for column in ("lines", "distinct"))
        shown = all(column in row for column in SHOWN)
        figures = {}
        for figure in Figure if shown else TESTED:
            median = readnumber(row, figure.column, place, float)
            spreadpct = readnumber(row, figure.spreadcolumn, place, float) if shown else 0.0
            figures[figure] = FigureSummary(figureruns(row, figure, place), median, spreadpct * median / 100,
                                            spreadpct)
        if len(row["sha256"]) != 64 or any(c not in "0123456789abcdef" for c in row["sha256"]):
            raise DamagedResults(f"{place}, column sha256: {row['sha256']!r} is not a SHA-256")
        # A results file without the field holds the reports' rounded times.
        entry = EarlierEntry(row["file"], lines, distinct, row.get("full_times") in ("yes", "True"), figures,
                             row.get("rounds"))
        if shown:
            entry = dataclasses.replace(entry, avglinelen=readnumber(row, "avg_linelen", place, float), adt=row["adt"],
                                        runs=readnumber(row, "runs", place, int),
                                        reportmemory=readnumber(row, "report_bytes_per_line", place, float))
        earlier[(row["sha256"], row["store"])] = entry
    if record is not None and not path.endswith(".json"):
        earlier = withrounds(earlier, record)
    return earlier


def figureruns(row, figure, place):
    """The runs of a tested figure in a row; none of the others, which the
    results file does not keep in its CSV."""
    if figure not in TESTED:
        return []
    runs = row[figure.runscolumn].split()
    if not runs:
        raise DamagedResults(f"{place}, column {figure.runscolumn}: no runs")
    return [readnumber({figure.runscolumn: value}, figure.runscolumn, place, float) for value in runs]


def roundsof(summary):
    """The round of each run that a results.json summary keeps, or None
    where it keeps none that fit its runs."""
    rounds = summary.get("rounds")
    runs = summary.get(Figure.STORE.runscolumn)
    if not isinstance(rounds, list) or not isinstance(runs, list) or len(rounds) != len(runs):
        return None
    if not all(isinstance(lap, int) and not isinstance(lap, bool) and lap > 0 for lap in rounds):
        return None
    return rounds


def withrounds(earlier, record):
    """The entries of a results.csv with the rounds that the results.json
    beside it keeps for the same runs; unchanged where it cannot be read."""
    try:
        with open(record) as source:
            summaries = json.load(source).get("summaries")
    except (OSError, ValueError, AttributeError):
        return earlier
    found = {}
    for summary in summaries if isinstance(summaries, list) else []:
        if isinstance(summary, dict) and roundsof(summary):
            found[(summary.get("sha256"), summary.get("store"))] = summary
    kept = {}
    for key, entry in earlier.items():
        summary = found.get(key)
        same = summary is not None and all(summary.get(figure.runscolumn) == entry.figures[figure].runs
                                           for figure in TESTED)
        kept[key] = dataclasses.replace(entry, rounds=roundsof(summary)) if same else entry
    return kept


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
        row = {field: " ".join(repr(float(value)) for value in summary[field]) if isinstance(summary[field], list)
               else str(summary[field]) for field in NEEDED + SHOWN + ["full_times"] if field in summary}
        rows.append((f"{path}, summary {number}", dict(row, rounds=roundsof(summary))))
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
