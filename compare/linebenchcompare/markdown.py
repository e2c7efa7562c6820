"""results.md: the figures of every file and store with their marks and
verdicts, the notes, the comparison with an earlier run, and the files.
"""

import os
import re

from .medians import FLOOR_US, TESTED, TIMES, passus
from .report import HASHSIZE
from .shapefigures import SHAPEFIGURES
from .text import SHOWBYTES
from .verdicts import AUTO
from .words import againstverdict, driftwarning, notes, ratiotext

MARKDOWNSPECIAL = re.compile(r"([\\`*_\[\]<>|#])")


def mdescape(text):
    """Text as Markdown shows it, in a table cell too."""
    return MARKDOWNSPECIAL.sub(r"\\\1", re.sub(r"[\x00-\x1f\x7f]", " ", str(text)))


def withspread(result, key, digits):
    """A median with its spread; a time whose pass is below the timer's floor
    has none worth showing, the clock's steps being most of it."""
    figure = f"{result[key]:.{digits}f}"
    if key in TIMES and passus(result, key) < FLOOR_US:
        return figure
    return f"{figure} ±{result[key + '_iqr_pct']:.0f}%"


def timecell(result, key, decided):
    """A store or lookup time: bold for a store faster than every other, ≈
    on the fastest and every store level with it."""
    text = withspread(result, key, 3)
    if result["store"] not in decided["marked"]:
        return text
    return f"**{text}**" if decided["clear"] else f"{text} ≈"


def versuscell(result, decided):
    if result["store"] == decided["fastest"]:
        return "fastest"
    return ratiotext(decided["versus"][result["store"]])


def rulesentence(settings):
    confidence = f"{1 - settings['alpha']:.0%}"
    if settings["runs"] == AUTO:
        confidence += (", its α spent across the looks at the rounds the runs went on to (the look that decided a "
                       "figure, or the last, gives its runs and interval)")
    return (f"A verdict sets two programs' runs on a file against each other: each round's ratio of their times "
            f"by the Wilcoxon signed-rank test, where both ran in the same rounds (else every run of one against "
            f"every run of the other, by the Mann–Whitney U test), with the ratio's {confidence} confidence "
            f"interval (Hodges–Lehmann, on log times). It is level when the interval lies wholly within "
            f"{settings['threshold'] * 100:g}% of 1, faster or slower when wholly beyond it, and open when it "
            "reaches across; an open figure says how large a difference its runs can tell. Each carries the "
            "ratio that the test estimates (Hodges–Lehmann) and the interval.")


def runswords(results, settings):
    """How many runs the medians are of."""
    if settings["runs"] != AUTO:
        return f"{settings['runs']} interleaved run{'s' if settings['runs'] > 1 else ''} of every program on every file"
    counts = sorted({r["runs"] for r in results}) or [0]
    made = f"{counts[0]}" if len(counts) == 1 else f"{counts[0]} to {counts[-1]}"
    return (f"the interleaved runs of every program on every file, {made} a program and file: rounds went on "
            "until every figure was decided or the time was up (--runs auto)")


def writemarkdown(path, results, sources, settings, shapenote, winners, against, machine):
    withshape = shapenote is None
    out = ["# linebench: the stores compared", ""]
    out += [f"> **{mdescape(note)}**" if note.startswith(("Noisy", "Busy")) else f"> {mdescape(note)}"
            for note in notes(results, winners, settings, against)]
    out += ["", f"{settings['started']}; {mdescape(machine)}.",
            f"Medians of {runswords(results, settings)}; ± is the spread, the interquartile range of the runs as a "
            "percentage of the median" + (" (one run has none)" if settings["runs"] == 1 else "")
            + "; a time whose pass is below the timer's floor shows none.", "",
            "Times are microseconds per line (all lines, repeats included); store and lookup include the",
            "scanning, which getline times alone. Memory is bytes per distinct line at the end of the store",
            "pass: every block the store holds from malloc, with malloc's per-block overhead, blocks that",
            "malloc maps with mmap included, plus the store's static size (HASH's table of "
            f"{HASHSIZE:,} chain heads).",
            mdescape(rulesentence(settings)),
            "A time in bold is faster than every other store's on its file; ≈ marks the fastest and every store",
            "level with it. The columns \"vs fastest\" give each store's time over the fastest's, and the verdict."]
    out += ["From linebench-shape: the tree's compares per lookup on REDBLACK's rows, the hash table's",
            "chain nodes visited per lookup on HASH's rows."] if withshape else [mdescape(shapenote) + "."]
    extra = [heading for _, heading, _, _ in SHAPEFIGURES] if withshape else []
    out += ["", "| file | lines | distinct | store | getline µs | store µs | lookup µs | store vs fastest | "
            "lookup vs fastest | bytes/line |" + "".join(f" {h} |" for h in extra),
            "|---|---:|---:|---|---:|---:|---:|---|---|---:|" + "---:|" * len(extra)]
    for file in dict.fromkeys(r["file"] for r in results):
        rows = [r for r in results if r["file"] == file]
        store, lookup = winners[(file, "store_us")], winners[(file, "lookup_us")]
        for number, r in enumerate(rows):
            head = f"| {mdescape(file)} | {r['lines']} | {r['distinct']} |" if number == 0 else "| | | |"
            out.append(f"{head} {mdescape(r['store'])} | {withspread(r, 'getline_us', 3)} | "
                       f"{timecell(r, 'store_us', store)} | {timecell(r, 'lookup_us', lookup)} | "
                       f"{versuscell(r, store)} | {versuscell(r, lookup)} | {r['bytes_per_line']:.1f} |"
                       + "".join(f" {r[c]} |" for c, _, _, _ in SHAPEFIGURES if withshape))
    if against is not None:
        out += againstsection(against)
    out += ["", "## Files", ""]
    for name, source in sources:
        out.append(f"- {mdescape(name)}: {source}")
    with open(path, "w", errors=SHOWBYTES) as md:
        md.write("\n".join(out) + "\n")


def againstsection(against):
    """results.md's lines on the earlier run: the warning when drift is not
    controlled, what the table holds, and the table."""
    out = ["", "## Against an earlier run", ""]
    warning = driftwarning(against)
    if warning:
        out += [f"> **{mdescape(warning)}**", ""]
    out += [f"{mdescape(against['path'])}: for each file and store of both runs whose contents match (by "
            "SHA-256): the median that run recorded; before, the median that the verdict sets this run's "
            f"against: of its program kept in {mdescape(os.path.join(against['folder'], 'programs'))}, run in "
            "this run's rounds as KEY (before), or the recorded median again where that program could not run "
            "here (marked \"recorded runs\") or is this run's own (unchanged); this run's median (now); their "
            "ratio (now / before) with its 95% confidence interval; and the verdict.", ""]
    if against["rows"]:
        out += ["| file | store | store µs recorded | before | now | ratio and verdict | lookup µs recorded | "
                "before | now | ratio and verdict |", "|---|---|---:|---:|---:|---|---:|---:|---:|---|"]
    for row in against["rows"]:
        cells = "".join(f" {row[key]['recorded']:.3f} | {row[key]['before']:.3f} | {row[key]['now']:.3f} | "
                        f"{againstverdict(row, key)} |" for key in TESTED)
        out.append(f"| {mdescape(row['file'])} | {mdescape(row['store'])} |{cells}")
    return out
