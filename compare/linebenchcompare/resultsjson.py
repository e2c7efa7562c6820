"""results.json: the record of a run, every run it made and what it
concluded, written whole or not at all.
"""

import dataclasses
import json
import os


from .countfigures import Event, Part
from .medians import FLOOR_US
from .records import TESTED, Figure
from .shapefigures import SHAPEFIGURES


def jsonready(value):
    """Infinities and NaN have no JSON; they become null."""
    if isinstance(value, float) and value != value or value in (float("inf"), float("-inf")):
        return None
    if isinstance(value, dict):
        return {str(k): jsonready(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [jsonready(v) for v in value]
    return value


def write(report, folder):
    """Writes folder/results.json whole or not at all: a run stopped while
    writing leaves the previous results.json.  A name's bytes that are not
    UTF-8 are written as \\udcNN escapes, valid JSON that reads back as the
    same name."""
    path = os.path.join(folder, "results.json")
    record = recordof(report)
    partial = path + ".partial"
    try:
        with open(partial, "w", errors="backslashreplace") as out:
            json.dump(jsonready(record), out, indent=1, ensure_ascii=False)
            out.write("\n")
        os.replace(partial, path)
    finally:
        if os.path.exists(partial):
            os.remove(partial)


def recordof(report):
    """The report as results.json holds it."""
    record = {"complete": report.complete, "stopped_by": report.stoppedby, "failure": report.failure,
              "command": report.command, "started": report.started, "machine": vars(report.machine),
              "build": buildof(report.build), "settings": settingsof(report.settings, report.files),
              "files": [fileof(file) for file in report.files], "stores": [storeof(store) for store in report.stores],
              "runs": [runof(run) for run in report.runs], "rounds_finished": report.roundsfinished,
              "summaries": [summaryof(summary) for summary in report.summaries if not summary.carried],
              "carried": [summaryof(summary) for summary in report.summaries if summary.carried],
              "winners": [dict(fastestof(fastest), file=file, figure=figure.column)
                          for (file, figure), fastest in report.winners.items()],
              "against": againstof(report.against), "busy": busyof(report.busy)}
    if report.counts is not None:
        record.update(countingof(report.counts))
    if report.large is not None:
        record["large"] = {"cache_level": report.large.cachelevel, "cache_bytes": report.large.cachebytes,
                           "target_bytes": report.large.targetbytes}
    return record


def buildof(build):
    if build is None:
        return None
    return {"folder": build.folder, "compiler": build.compiler, "compiler_version": build.compilerversion,
            "build_type": build.buildtype, "flags": build.flags, "abseil": build.abseil, "boost": build.boost,
            "commit": build.commit}


def settingsof(settings, files):
    cache = settings.cache
    return {"runs": "auto" if settings.auto else settings.runs, "time_limit": settings.timelimit,
            "alpha": settings.alpha, "threshold": settings.threshold, "floor_us": FLOOR_US, "cpu": settings.cpu,
            "aslr": settings.aslr, "quick": settings.quick, "large": settings.large, "shapes": settings.shapes,
            "seed": None if settings.files else settings.seed,
            "llc": None if cache is None else {"bytes": cache.size, "level": cache.level, "from": cache.source}}


def fileof(file):
    facts = {"file": file.name, "path": file.path, "shape": file.shape, "size": file.size, "sha256": file.sha256,
             "source": file.source}
    return facts if file.shapefigures is None else dict(facts, shape_figures=file.shapefigures)


def librariesof(libraries):
    return [vars(library) for library in libraries]


def storeof(store):
    """A store of this run: once kept, with its copy, SHA-256 and libraries."""
    facts = {"key": store.key, "path": store.path, "family": store.family, "checkadt": store.checkadt,
             "program": store.program}
    if store.saved is None:
        return facts
    return dict(facts, saved=store.saved, sha256=store.sha256, libraries=librariesof(store.libraries))


def beforeof(store):
    """An earlier run's kept program, as it runs beside this run's."""
    return {"key": store.key, "adt": store.earlierof, "path": store.path, "family": store.family,
            "checkadt": store.checkadt, "sha256": store.sha256, "libraries": librariesof(store.libraries)}


def runof(run):
    report = run.report
    return {"round": run.roundnumber, "file": run.file, "store": run.store, "seconds": run.seconds, "report": {
        "lines": report.lines, "avg_linelen": report.avglinelen, "getline_us": report.figures[Figure.GETLINE],
        "distinct": report.distinct, "bytes_per_line": report.figures[Figure.MEMORY],
        "store_us": report.figures[Figure.STORE], "lookup_us": report.figures[Figure.LOOKUP], "adt": report.adt,
        "row": report.row, "report_bytes_per_line": report.reportmemory, "full_times": report.fulltimes}}


def summaryof(summary):
    record = dict(fileof(summary.file), store=summary.store, program=summary.program, adt=summary.adt,
                  runs=summary.runs, lines=summary.lines, distinct=summary.distinct, avg_linelen=summary.avglinelen,
                  report_bytes_per_line=summary.reportmemory, full_times=summary.fulltimes, rounds=summary.rounds)
    record.pop("shape_figures", None)
    for figure in Figure:
        figures = summary.figures[figure]
        record.update({figure.runscolumn: figures.runs, figure.column: figures.median, figure.iqrcolumn: figures.spread,
                       figure.spreadcolumn: figures.spreadpct})
    if summary.shapevalues is not None:
        record.update((figure.column, value) for figure, value in zip(SHAPEFIGURES, summary.shapevalues))
    return record


def testof(test):
    """A test; one that gave no verdict says why, and no more."""
    record = {"ratio": test.ratio, "low": test.low, "high": test.high, "p": test.p,
              "verdict": test.verdict and test.verdict.value, "why": test.why and test.why.value, "tells": test.tells}
    if test.verdict is None:
        return record
    record.update(paired=test.paired, alpha=test.alpha, runs=test.runs)
    if test.chain is not None:
        record["chained"] = {"through": test.chain.through, "now": testof(test.chain.now),
                             "then": testof(test.chain.then)}
    return record


def fastestof(fastest):
    return {"fastest": fastest.fastest, "marked": fastest.marked, "clear": fastest.clear,
            "versus": {store: testof(test) for store, test in fastest.versus.items()},
            "why": fastest.why and fastest.why.value}


def againstof(against):
    if against is None:
        return None
    record = {"path": against.path, "folder": against.folder,
              "programs": [beforeof(store) for store in against.programs], "recorded": against.recorded,
              "recorded_why": against.recordedwhy, "unchanged": against.unchanged}
    if against.rows is None:
        return record
    record.update(rows=[rowof(row) for row in against.rows], differing=against.differing, runs=against.runs)
    if against.drift is not None:
        record["drift"] = against.drift
    return record


def rowof(row):
    record = {"file": row.file, "store": row.store, "interleaved": row.interleaved, "unchanged": row.unchanged,
              "carried": row.carried}
    for figure in TESTED:
        tested = row.figures[figure]
        record[figure.column] = dict(testof(tested.test), before=tested.before, now=tested.now,
                                     before_runs=tested.beforeruns, recorded=tested.recorded)
    return record


def sharesof(shares):
    return {"other_busy_pct": shares.otherpct, "pinned_busy_pct": shares.pinnedpct, "steal_pct": shares.stealpct}


def busyof(busy):
    if busy is None:
        return None
    return dict(sharesof(busy.shares), cpus=busy.cpus, pinned=busy.pinned, seconds=busy.seconds,
                busy_threshold_pct=busy.busythreshold, steal_threshold_pct=busy.stealthreshold, busy=busy.busy,
                rounds=[dict(sharesof(shares), round=number) for number, shares in busy.rounds])


def cacheof(cache):
    return {"bytes": cache.size, "ways": cache.ways, "line_bytes": cache.line, "from": cache.source.value,
            "ways_read": cache.waysread}


def countsof(counts):
    """A program's counts on a file: each part's whole and a line, by event."""
    return {"file": counts.file, "store": counts.store, "counted": counts.counted, "cpu_seconds": counts.counts.seconds,
            "lines": counts.counts.lines, "distinct": counts.counts.distinct, "adt": counts.counts.adt,
            "parts": {part.column: {event.column: event.of(counts.total(part)) for event in Event} for part in Part},
            "per_line": {part.column: {event.column: event.of(counts.perline(part)) for event in Event}
                         for part in Part},
            "run_parts": [dataclasses.astuple(part) for part in counts.counts.parts]}


def countingof(counting):
    """What the run counted under valgrind: the caches simulated and where
    each came from, the CPU seconds counted, the counts, those not counted."""
    geometry = counting.geometry
    return {"counting": {"scope": counting.scope.value, "why_none": counting.why, "valgrind": counting.valgrind,
                         "cpu_seconds": counting.seconds,
                         "caches": None if geometry is None else {
                             name: cacheof(cache) for name, cache in (("I1", geometry.i1), ("D1", geometry.d1),
                                                                      ("LL", geometry.ll))},
                         "not_counted": [vars(skipped) for skipped in counting.skipped]},
            "counts": [countsof(counts) for counts in counting.runs]}
