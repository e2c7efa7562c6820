"""results.md: the figures of every file and store with their marks and
verdicts, the notes, the comparison with an earlier run, and the files.
"""

import os
import re

from .countfigures import Event, Part, instructionratio
from .countwords import changewords, geometrywords, ratiowords
from .medians import FLOOR_US
from .records import TESTED, TIMES, Figure
from .report import HASHSIZE
from .rounds import FIRSTSHARE, LOOKS, SHARE
from .shapefigures import SHAPEFIGURES
from .text import SHOWBYTES
from .words import (CARRIEDMARK, againsttests, againstverdict, carriedmark, confidences, driftwarning, fastesttests,
                    filesof, notes, nowruns, ratiotext)

MARKDOWNSPECIAL = re.compile(r"([\\`*_\[\]<>|#])")


def mdescape(text):
    """Text as Markdown shows it, in a table cell too."""
    return MARKDOWNSPECIAL.sub(r"\\\1", re.sub(r"[\x00-\x1f\x7f]", " ", str(text)))


def withspread(summary, figure, digits):
    """A median with its spread; a time whose pass is below the timer's floor
    has none worth showing, the clock's steps being most of it."""
    text = f"{summary.median(figure):.{digits}f}"
    if figure in TIMES and summary.passus(figure) < FLOOR_US:
        return text
    return f"{text} ±{summary.figures[figure].spreadpct:.0f}%"


def timecell(summary, figure, decided):
    """A store or lookup time: bold for a store faster than every other, ≈
    on the fastest and every store level with it."""
    text = withspread(summary, figure, 3)
    if summary.store not in decided.marked:
        return text
    return f"**{text}**" if decided.clear else f"{text} ≈"


def versuscell(summary, rows, decided):
    """A store's time over the fastest's, and the verdict; the fastest's own
    says that it is not decided where another's test finds that one faster,
    though not for certain."""
    if summary.store == decided.fastest:
        return "fastest" + (" not decided" if any(test.ratio < 1 for test in decided.versus.values()) else "")
    fastest = next(row for row in rows if row.store == decided.fastest)
    return ratiotext(decided.versus[summary.store], (summary.runs, fastest.runs))


def intervalwords(levels, alpha):
    """A table's intervals and their confidence: one level, or each look's."""
    if " or " not in levels:
        return f"{levels} confidence interval (Hodges–Lehmann, on log times)"
    return (f"confidence interval (Hodges–Lehmann, on log times) at the confidence of the look that took "
            f"it, 1 less the look's share of α = {alpha:g} (α/{round(1 / FIRSTSHARE)} at the first look, after "
            f"{LOOKS[0]} rounds; α/{round(1 / SHARE)} at each later one but the last; at the last, what the looks "
            f"before it left): here {levels}")


def rulesentence(report):
    settings = report.settings
    levels = confidences(fastesttests(report), settings.alpha)
    return ("A verdict sets two programs' runs on a file against each other: each round's ratio of their times "
            "by the Wilcoxon signed-rank test, where both ran in the same rounds (else every run of one against "
            f"every run of the other, by the Mann–Whitney U test), with the ratio's "
            f"{intervalwords(levels, settings.alpha)}. "
            f"It is level when the interval lies wholly within {settings.threshold * 100:g}% of 1, faster or "
            "slower when wholly beyond it, and open when it reaches across"
            + ("" if all(summary.fulltimes for summary in report.summaries) else
               " (where a program's times are its report's rounded ones, the interval must clear the edge by what "
               "the rounding may move the ratio)") + "; an open figure says how large a "
            "difference its runs can tell. Each carries the ratio that the test estimates (Hodges–Lehmann) and the "
            "interval, and, where its look took it on fewer rounds than the medians beside it have, how many.")


def runswords(summaries, settings):
    """How many runs the medians are of."""
    if not settings.auto:
        return f"{settings.runs} interleaved run{'s' if settings.runs > 1 else ''} of every program on every file"
    counts = sorted({summary.runs for summary in summaries if not summary.carried}) or [0]
    made = f"{counts[0]}" if len(counts) == 1 else f"{counts[0]} to {counts[-1]}"
    return (f"the interleaved runs of every program on every file, {made} a program and file: rounds went on "
            "until every figure was decided or the time was up (--runs auto)")


def machineline(report):
    """The machine, the build's commit and where the runs were timed."""
    machine, settings = report.machine, report.settings
    commit = report.build.commit if report.build else None
    return (f"{machine.cpu}, {machine.cores} cores, Linux {machine.kernel}, commit {(commit or 'unknown')[:12]}; "
            f"timed runs on CPU {'any' if settings.cpu is None else settings.cpu}, address-space randomisation "
            f"{'on' if settings.aslr else 'off'}")


def write(report, folder):
    """Writes folder/results.md."""
    out = ["# linebench: the stores compared", ""]
    out += [f"> **{mdescape(note)}**" if note.startswith(("Noisy", "Busy")) else f"> {mdescape(note)}"
            for note in notes(report)]
    out += introduction(report) + table(report)
    if report.against is not None:
        out += againstsection(report)
    if report.counts is not None and report.counts.why is None:
        out += countsection(report)
    out += ["", "## Files", ""]
    for file in report.files:
        out.append(f"- {mdescape(file.name)}: {file.source}")
    with open(os.path.join(folder, "results.md"), "w", errors=SHOWBYTES) as md:
        md.write("\n".join(out) + "\n")


def introduction(report):
    """What the table holds and how its verdicts were reached."""
    settings = report.settings
    out = ["", f"{report.written}; {mdescape(machineline(report))}.",
           f"Medians of {runswords(report.summaries, settings)}; ± is the spread, the interquartile range of the runs "
           "as a percentage of the median" + (" (one run has none)" if settings.runs == 1 else "")
           + "; a time whose pass is below the timer's floor shows none.", "",
           "Times are microseconds per line (all lines, repeats included); store and lookup include the",
           "scanning, which getline times alone. Memory is bytes per distinct line at the end of the store",
           "pass: every block the store holds from malloc, with malloc's per-block overhead, blocks that",
           "malloc maps with mmap included, plus the store's static size (HASH's table of "
           f"{HASHSIZE:,} chain heads).",
           mdescape(rulesentence(report)),
           "A time in bold is faster than every other store's on its file; ≈ marks the fastest and every store",
           "level with it. The columns \"vs fastest\" give each store's time over the fastest's, and the verdict;",
           "where a store's estimate is below 1, the fastest is not decided, and its cell says so."]
    if report.shapenote is None:
        return out + ["From linebench-shape: the tree's compares per lookup on REDBLACK's rows, the hash table's",
                      "chain nodes visited per lookup on HASH's rows."]
    return out + [mdescape(report.shapenote) + "."]


def table(report):
    """The table of every file and store."""
    withshape = report.shapenote is None
    extra = [figure.heading for figure in SHAPEFIGURES] if withshape else []
    out = ["", "| file | lines | distinct | store | getline µs | store µs | lookup µs | store vs fastest | "
           "lookup vs fastest | bytes/line |" + "".join(f" {heading} |" for heading in extra),
           "|---|---:|---:|---|---:|---:|---:|---|---|---:|" + "---:|" * len(extra)]
    for file in filesof(report.summaries):
        rows = [summary for summary in report.summaries if summary.file.name == file]
        store, lookup = report.winners[(file, Figure.STORE)], report.winners[(file, Figure.LOOKUP)]
        for number, row in enumerate(rows):
            head = f"| {mdescape(file)} | {row.lines} | {row.distinct} |" if number == 0 else "| | | |"
            out.append(f"{head} {mdescape(row.store + carriedmark(row))} | {withspread(row, Figure.GETLINE, 3)} | "
                       f"{timecell(row, Figure.STORE, store)} | {timecell(row, Figure.LOOKUP, lookup)} | "
                       f"{versuscell(row, rows, store)}{instructioncell(report, row, store, Figure.STORE)} | "
                       f"{versuscell(row, rows, lookup)}{instructioncell(report, row, lookup, Figure.LOOKUP)} | "
                       f"{row.median(Figure.MEMORY):.1f} |"
                       + "".join(f" {value} |" for value in (row.shapevalues if withshape else ())))
    return out


def instructioncell(report, row, decided, figure):
    """The instructions a line against the fastest store's, where both were
    counted."""
    if row.store == decided.fastest:
        return ""
    return ratiowords(instructionratio(report.counts, row.file.name, row.store, decided.fastest, figure))


def againstsection(report):
    """results.md's lines on the earlier run: the warning when drift is not
    controlled, what the table holds, and the table."""
    against, runs, counts = report.against, nowruns(report), report.counts
    out = ["", "## Against an earlier run", ""]
    warning = driftwarning(against)
    if warning:
        out += [f"> **{mdescape(warning)}**", ""]
    levels = confidences(againsttests(report), report.settings.alpha)
    out += [f"{mdescape(against.path)}: for each file and store of both runs whose contents match (by "
            "SHA-256): the median that run recorded; before, the median that the verdict sets this run's "
            f"against: of its program kept in {mdescape(os.path.join(against.folder, 'programs'))}, run in "
            "this run's rounds as KEY (before), or the recorded median again where that program could not run "
            "here (marked \"recorded runs\"); this run's median (now); their ratio (now / before) with "
            f"its {intervalwords(levels, report.settings.alpha)}; and the verdict"
            + ("; where both programs were counted, the pass's counts a line now less before, exact, the misses "
               "where they differ by more than two runs of one program do" if counts and counts.runs else "")
            + ". A program that is this run's own, unchanged since, has this run's median alone.", ""]
    if against.rows:
        out += ["| file | store | store µs recorded | before | now | ratio and verdict | lookup µs recorded | "
                "before | now | ratio and verdict |", "|---|---|---:|---:|---:|---|---:|---:|---:|---|"]
    for row in against.rows:
        mark = mdescape(CARRIEDMARK) if row.carried else ""
        cells = "".join(f" {againstmedians(row, figure)} {row.figures[figure].now:.3f}{mark} | "
                        f"{againstverdict(row, figure, runs[(row.file, row.store)])}"
                        f"{mdescape(changewords(counts, row, figure))} |" for figure in TESTED)
        out.append(f"| {mdescape(row.file)} | {mdescape(row.store)} |{cells}")
    return out


def againstmedians(row, figure):
    """The recorded and the before cells: none for an unchanged program,
    whose figures have no verdict."""
    if row.unchanged:
        return "| |"
    return f"{row.figures[figure].recorded:.3f} | {row.figures[figure].before:.3f} |"


COUNTHEADINGS = " | ".join(f"{event.words}{' (simulated)' if event.simulated else ''}" for event in Event)


def countsection(report):
    """results.md's table of the counts a line: per file and store, each
    pass and the store's own."""
    counting = report.counts
    out = ["", "## Counts per line", "", mdescape(geometrywords(counting)) + "."]
    if not counting.runs:
        return out
    out += ["Each program ran once on each file under valgrind, its passes told apart at the driver's clock "
            "readings; the counts are exact and repeat from run to run, the misses those of the simulated caches, "
            "which may move by a few. Per line of the file; own: the pass less the count pass, which scans alone.", "",
            f"| file | store | pass | {COUNTHEADINGS} |", "|---|---|---|" + "---:|" * len(Event)]
    for counts in counting.runs:
        for number, part in enumerate(Part):
            head = f"| {mdescape(counts.file)} | {mdescape(counts.store)} |" if number == 0 else "| | |"
            figures = [f"{event.of(counts.perline(part)):.2f}" for event in Event]
            out.append(f"{head} {part.words} | " + " | ".join(figures) + " |")
    for skipped in counting.skipped:
        out.append(f"- not counted: {mdescape(skipped.store)} on {mdescape(skipped.file)}: {mdescape(skipped.why)}")
    return out
