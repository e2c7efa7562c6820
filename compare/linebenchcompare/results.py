"""linebench-compare's records of a run: results.csv, which a later run reads
back with --against, and results.json, which keeps every run.
"""

import csv
import json
import math
import os

from . import stats
from .text import SHOWBYTES

SUMMARYFIELDS = ["file", "shape", "size", "sha256", "lines", "distinct", "avg_linelen", "store", "program", "adt",
                 "runs"] + [name for key in stats.FIGURES for name in (key, key + "_iqr_pct")] + [
    "report_bytes_per_line", "full_times"]
# The runs of the tested figures, space-separated: --against tests them.  Each
# is written whole, as the shortest decimal that reads back as the same float.
RUNFIELDS = [key + "_runs" for key in stats.TESTED]

# The shape figure that explains each store's speed: (CSV column, heading, key
# of linebench-shape, the store whose rows carry it).
SHAPEFIGURES = [
    ("compares_per_lookup", "compares/lookup", "tree.compares_per_lookup", "REDBLACK"),
    ("nodes_per_lookup", "nodes/lookup", "hash.nodes_per_lookup", "HASH"),
]


def addshape(results, shapes):
    for result in results:
        for column, _, key, store in SHAPEFIGURES:
            result[column] = shapes[result["path"]].get(key, "") if result["store"] == store else ""


def writecsv(path, results, withshape):
    fields = SUMMARYFIELDS + RUNFIELDS + ([column for column, _, _, _ in SHAPEFIGURES] if withshape else [])
    with open(path, "w", newline="", errors=SHOWBYTES) as out:
        writer = csv.DictWriter(out, fieldnames=fields, lineterminator="\n")
        writer.writeheader()
        for result in results:
            row = {key: result[key] for key in fields if key not in RUNFIELDS}
            for key in stats.FIGURES:
                row[key + "_iqr_pct"] = f"{result[key + '_iqr_pct']:.2f}"
            row["bytes_per_line"] = f"{result['bytes_per_line']:.1f}"
            row["full_times"] = "yes" if result["full_times"] else "no"
            for key in RUNFIELDS:
                row[key] = " ".join(repr(float(value)) for value in result[key])
            writer.writerow(row)


class DamagedResults(Exception):
    """An earlier results.csv that cannot be read: one line naming the place."""


NEEDED = ["file", "sha256", "store", "lines", "distinct", "store_us", "lookup_us"] + RUNFIELDS


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
    """The earlier run's figures per (SHA-256, store): file name, lines and
    the runs of each tested figure, from its results.csv or results.json."""
    rows = jsonrows(path) if path.endswith(".json") else csvrows(path)
    earlier = {}
    for place, row in rows:
        # A results file without the field holds the reports' rounded times.
        entry = {"file": row["file"], "full_times": row.get("full_times") in ("yes", "True")}
        for column in ("lines", "distinct"):
            entry[column] = readnumber(row, column, place, int)
        for key in stats.TESTED:
            entry[key] = readnumber(row, key, place, float)
            runs = row[key + "_runs"].split()
            if not runs:
                raise DamagedResults(f"{place}, column {key}_runs: no runs")
            entry[key + "_runs"] = [readnumber({key + "_runs": value}, key + "_runs", place, float)
                                    for value in runs]
        if len(row["sha256"]) != 64 or any(c not in "0123456789abcdef" for c in row["sha256"]):
            raise DamagedResults(f"{place}, column sha256: {row['sha256']!r} is not a SHA-256")
        earlier[(row["sha256"], row["store"])] = entry
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
    """The earlier run's runs a side, as its rows say (the fewest)."""
    return min((len(entry["store_us_runs"]) for entry in earlier.values()), default=0)


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


def measuredbefore(files, befores, reports, laps):
    """The earlier run's programs as they ran in this run, per (SHA-256 of
    the file, store key): their results, as stats.summarise gives them."""
    ran = stats.summarise(files, befores, reports, laps)
    adt = {before["key"]: before["adt"] for before in befores}
    return {(result["sha256"], adt[result["store"]]): result for result in ran}


# Why a store's row against the earlier run carries no verdict: the program
# that ran now is the one that ran then, byte for byte and library for library.
UNCHANGED = "unchanged (same program)"


def setagainst(results, earlier, alpha, threshold, measured=None, unchanged=(), looks=None):
    """For each file and store of both runs whose contents match: per tested
    figure, the earlier median, the median and runs the verdict sets this
    run's against, this run's median and the verdict.  measured holds, per
    (SHA-256, store), the earlier run's program as it ran in this run,
    interleaved with this run's own; where it did not run, the verdict takes
    the runs the earlier run recorded, and a store in unchanged, whose
    program is the earlier one, takes none.  looks: per (file, store, key),
    the alpha and last round of the look that decided it.  Returns the rows and the files of the same
    name whose contents differ."""
    rows = []
    names = {entry["file"] for entry in earlier.values()}
    matched = set()
    for result in results:
        recorded = earlier.get((result["sha256"], result["store"]))
        if recorded is None:
            continue
        matched.add(result["file"])
        ran = (measured or {}).get((result["sha256"], result["store"]))
        before = ran or recorded
        row = {"file": result["file"], "store": result["store"], "interleaved": ran is not None,
               "unchanged": result["store"] in unchanged}
        for key in stats.TESTED:
            short = min(before[key] * before["lines"], stats.passus(result, key)) < stats.FLOOR_US
            ratio = stats.quotient(result[key], before[key])
            if row["unchanged"]:
                verdict = stats.untested(ratio, UNCHANGED)
            elif short:
                verdict = stats.untested(ratio, stats.TOOSHORT)
            else:
                lookalpha, last = (looks or {}).get((result["file"], result["store"], key), (alpha, None))
                verdict = stats.versus(result, before, key, lookalpha, threshold, last)
            row[key] = dict(verdict, before=before[key], now=result[key], before_runs=before[key + "_runs"],
                            recorded=recorded[key])
        rows.append(row)
    differing = sorted({r["file"] for r in results if r["file"] in names and r["file"] not in matched})
    return rows, differing


def jsonready(value):
    """Infinities and NaN have no JSON; they become null."""
    if isinstance(value, float) and value != value or value in (float("inf"), float("-inf")):
        return None
    if isinstance(value, dict):
        return {str(k): jsonready(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [jsonready(v) for v in value]
    return value


def writejson(path, record):
    """Writes the record whole or not at all: a run stopped while writing
    leaves the previous results.json.  A name's bytes that are not UTF-8 are
    written as \\udcNN escapes, valid JSON that reads back as the same name."""
    partial = path + ".partial"
    try:
        with open(partial, "w", errors="backslashreplace") as out:
            json.dump(jsonready(record), out, indent=1, ensure_ascii=False)
            out.write("\n")
        os.replace(partial, path)
    finally:
        if os.path.exists(partial):
            os.remove(partial)
