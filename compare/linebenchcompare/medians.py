"""The medians and spreads of the runs, per file and store, and the passes
too short for the programs' clock.
"""

import math
import statistics

from .errors import Disagreement

# A pass shorter than this says little: the programs' clock counts whole
# microseconds, so each pass is read to 2 µs at worst, 1% of 200 µs, a third
# of the threshold.  The runs' own spread is larger, and the tests see it.
FLOOR_US = 200.0
NOISY = 10.0  # a spread over this percentage of its median marks the machine noisy

TIMES = ["getline_us", "store_us", "lookup_us"]
TESTED = ["store_us", "lookup_us"]  # the figures that carry verdicts
FIGURES = ["getline_us", "store_us", "lookup_us", "bytes_per_line"]


def spread(values):
    """The interquartile range of the runs, in the figures' unit; 0 for one run."""
    if len(values) < 2:
        return 0.0
    quartiles = statistics.quantiles(values, n=4, method="inclusive")
    return quartiles[2] - quartiles[0]


def percent(part, whole):
    return 100.0 * part / whole if whole else 0.0


def passus(result, key):
    """The median time of a whole pass, in microseconds."""
    return result[key] * result["lines"]


def shortfigures(results, keys):
    """(file, key) pairs where some store's pass is below the floor."""
    return {(r["file"], key) for r in results for key in keys if passus(r, key) < FLOOR_US}


def linesneeded(results, file):
    """About how many lines the file would need for every pass of the tested
    figures to last the floor, rounded up to two significant digits."""
    rows = [r for r in results if r["file"] == file]
    shortest = min(passus(r, key) for r in rows for key in TESTED)
    lines = rows[0]["lines"] * FLOOR_US / max(shortest, 1.0)
    scale = 10 ** max(len(str(int(lines))) - 2, 0)
    return int(math.ceil(lines / scale) * scale)


def noisyspreads(results):
    """The time figures above the floor whose spread is over NOISY percent of
    their median, and how many figures are above the floor."""
    counted = [(r, key) for r in results for key in TIMES if passus(r, key) >= FLOOR_US]
    noisy = sorted(((r[key + "_iqr_pct"], r["store"], key, r["file"]) for r, key in counted
                    if r[key + "_iqr_pct"] > NOISY), reverse=True)
    return noisy, len(counted)


def summarise(files, stores, reports, laps=None):
    """One result per file and store: the runs of each figure, their median
    and spread (interquartile range), absolute and as a percentage of the
    median.  files: (path, facts about it); reports: the runs per (path, key);
    laps: the round of each of them, kept as rounds.  A store with no runs on
    a file, in a run that did not finish, has no result there."""
    results = []
    for path, facts in files:
        for store in stores:
            runs = reports.get((path, store["key"]))
            if not runs:
                continue
            first = runs[0]
            if any((r["lines"], r["distinct"]) != (first["lines"], first["distinct"]) for r in runs):
                raise Disagreement(f"{store['key']} counted differently from run to run on {path}")
            result = dict(facts, store=store["key"], program=store["path"], adt=first["adt"], runs=len(runs),
                          lines=first["lines"], distinct=first["distinct"], avg_linelen=first["avg_linelen"],
                          report_bytes_per_line=statistics.median(r["report_bytes_per_line"] for r in runs),
                          full_times=all(r.get("full_times") for r in runs),
                          rounds=(laps or {}).get((path, store["key"])))
            for key in FIGURES:
                values = [r[key] for r in runs]
                result[key + "_runs"] = values
                result[key] = statistics.median(values)
                result[key + "_iqr"] = spread(values)
                result[key + "_iqr_pct"] = percent(result[key + "_iqr"], result[key])
            results.append(result)
        counts = {(r["lines"], r["distinct"]) for r in results if r["path"] == path}
        if len(counts) > 1:
            raise Disagreement(f"the programs disagree on the lines of {path}: {sorted(counts)}")
    return results
