"""linebench-compare's words: results.md and the answer in the terminal, with the
same verdicts in both.
"""

import os
import re
import shutil
import sys

from . import ranktests, stats
from .programs import DRIFT
from .report import HASHSIZE
from .results import SHAPEFIGURES, UNCHANGED
from .stats import AUTO, OPEN, SLOWER, TOOFEW, TOOSHORT
from .text import SHOWBYTES, shown


def progress(message, transient=False):
    """A line of progress; on a terminal, transient ones overwrite each other."""
    message = shown(message)
    if sys.stderr is None:  # started with standard error closed
        return
    if sys.stderr.isatty():
        sys.stderr.write("\r\033[K" + message + ("" if transient else "\n"))
        sys.stderr.flush()
    else:
        print(message, file=sys.stderr, flush=True)


def ticker(message):
    """A transient line of progress within a stage, on a terminal only, cut
    to its width; elsewhere the stage's own line says enough."""
    if sys.stderr is not None and sys.stderr.isatty():
        progress(message[:shutil.get_terminal_size().columns - 1], transient=True)


MARKDOWNSPECIAL = re.compile(r"([\\`*_\[\]<>|#])")


def mdescape(text):
    """Text as Markdown shows it, in a table cell too."""
    return MARKDOWNSPECIAL.sub(r"\\\1", re.sub(r"[\x00-\x1f\x7f]", " ", str(text)))


def ratiotext(verdict):
    """x0.89 [0.86, 0.92] faster; x1.02 [0.97, 1.08] open: its runs tell 9%
    or more; x1.20 (not tested: too short); unchanged (same program)."""
    if verdict["why"] == UNCHANGED:
        return UNCHANGED
    if verdict["verdict"] is None:
        return f"x{verdict['ratio']:.2f} (not tested: {verdict['why']})"
    text = f"x{verdict['ratio']:.2f} [{verdict['low']:.2f}, {verdict['high']:.2f}] {verdict['verdict']}"
    if verdict["verdict"] == OPEN:
        text += f": its runs tell {verdict['tells']:.0%} or more"
    return text


def withspread(result, key, digits):
    """A median with its spread; a time whose pass is below the timer's floor
    has none worth showing, the clock's steps being most of it."""
    figure = f"{result[key]:.{digits}f}"
    if key in stats.TIMES and stats.passus(result, key) < stats.FLOOR_US:
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


def tooshortfiles(results, winners):
    return [file for file in dict.fromkeys(r["file"] for r in results)
            if any(winners[(file, key)]["why"] == TOOSHORT for key in stats.TESTED)]


def busynote(busy):
    """The warning of a machine that other processes kept busy during the
    timed runs, or None."""
    if not busy or not busy["busy"]:
        return None
    cpus = busy["cpus"]
    if busy["pinned"] is None:
        where = "of the machine, beyond the runs' own time"
    elif len(cpus) == 1:
        where = f"of CPU {cpus[0]}, beside the runs' CPU {busy['pinned']}"
    else:
        where = f"of the {len(cpus)} CPUs beside the runs' CPU {busy['pinned']}"
    # The runs' own CPU comes first where others took more of it than the
    # threshold allows: a load there takes its time from the runs.
    threshold = busy["busy_threshold_pct"]
    used = []
    if (busy["pinned_busy_pct"] or 0) > threshold:
        used.append(f"{busy['pinned_busy_pct']:g}% of CPU {busy['pinned']}, the runs' own CPU,")
    if busy["other_busy_pct"] is not None and (not used or busy["other_busy_pct"] > threshold):
        used.append(f"{busy['other_busy_pct']:g}% {where}")
    said = [f"other processes used {' and '.join(used)} while the runs were timed"] if used else []
    if busy["steal_pct"]:
        said.append(f"the hypervisor gave {busy['steal_pct']:g}% of the time to other guests (steal)")
    return (f"Busy machine: {', and '.join(said)} (warned above {threshold:g}% busy or "
            f"{busy['steal_threshold_pct']:g}% steal). The times are slower than a quiet machine gives; "
            "verdicts among the programs of this run share the load, verdicts against an earlier run's recorded "
            "runs do not.")


def driftwarning(against):
    """What --against says when some of the earlier run's programs could not
    run here, so that their verdicts set this run's runs against that run's
    recorded ones; None when all ran."""
    recorded = against["recorded"]
    if not recorded:
        return None
    if against["recorded_why"]:
        head = f"the programs kept in {against['folder']} cannot run here: {against['recorded_why']}. The verdicts"
    else:
        head = "; ".join(f"the program of {key} kept in {against['folder']} cannot run here: {why}"
                         for key, why in recorded.items())
        head += f". {'Their' if len(recorded) > 1 else 'Its'} verdicts (marked \"recorded runs\")"
    return (f"Drift not controlled: {head} set this run's runs against the runs recorded then, so the "
            f"machine's drift between the two runs is in them: two runs minutes apart have differed by up to "
            f"{DRIFT:.0%}, and a change of that size cannot be told from drift.")


def notes(results, winners, settings, against):
    """The sentences said once: too few runs, passes too short, a noisy or
    busy machine, files left out of --against."""
    said = []
    if settings.get("incomplete"):
        said.append(f"Incomplete: {settings['incomplete']}. These are the figures of the runs that finished; a "
                    "store that had none on a file has no row there.")
    fixed = settings["runs"] != AUTO
    if fixed and not ranktests.pairedcanreach(settings["runs"], settings["alpha"]) or \
            against and any(row[key]["why"] == TOOFEW for row in against["rows"] for key in stats.TESTED):
        said.append(f"Too few runs to tell: the rank test needs {stats.fewestruns(settings['alpha'])} "
                    f"rounds to ever reach α = {settings['alpha']:g}; this run has {settings['runs']}"
                    + (f" and the earlier one {against['runs']}" if against else "")
                    + ", so no store is marked and no verdict given.")
    opened = openfigures(winners, against)
    if opened:
        said.append(f"Open: {opened} of the figures {'are' if opened > 1 else 'is'} not decided: the interval "
                    f"reaches across the threshold of {settings['threshold'] * 100:g}%; "
                    + ("more runs would decide them (--runs auto)." if fixed else
                       "more time would decide them (a longer --time-limit)."))
    short = tooshortfiles(results, winners)
    if short:
        needs = ", ".join(f"{file} ({stats.linesneeded(results, file):,} lines)" for file in short)
        said.append(f"Too short to time: a pass of under {stats.FLOOR_US / 1000:g} ms on the programs' "
                    f"microsecond clock carries no mark and no verdict. Files with such a pass, and about the "
                    f"lines each would need: {needs}.")
    noisy, counted = stats.noisyspreads(results)
    if noisy:
        share, store, key, file = noisy[0]
        said.append(f"Noisy machine: {len(noisy)} of the {counted} time figures above the floor spread over "
                    f"{stats.NOISY:.0f}% of their median (the largest: {share:.0f}%, {store} "
                    f"{key.removesuffix('_us')} on {file}). Close figures may be level; rerun on a quiet machine "
                    "before acting on them.")
    busy = busynote(settings.get("busy"))
    if busy:
        said.append(busy)
    if against and against["differing"]:
        said.append(f"Left out of the comparison with the earlier run, as their contents differ from its files "
                    f"of the same name: {', '.join(against['differing'])}.")
    return said


def openfigures(winners, against):
    """How many figures are open, vs the fastest and against the earlier run."""
    verdicts = [v for decided in winners.values() for v in decided["versus"].values()]
    verdicts += [row[key] for row in (against or {}).get("rows", []) for key in stats.TESTED]
    return sum(v["verdict"] == OPEN for v in verdicts)


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
                        f"{againstverdict(row, key)} |" for key in stats.TESTED)
        out.append(f"| {mdescape(row['file'])} | {mdescape(row['store'])} |{cells}")
    return out


def againstverdict(row, key):
    """The ratio and verdict of one figure against the earlier run, marked
    where it rests on that run's recorded runs; an unchanged program's says
    so alone."""
    return ratiotext(row[key]) + ("" if row["interleaved"] or row["unchanged"] else " (recorded runs)")


def table(rows):
    """Text columns: the first left-aligned, the others right-aligned."""
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    return ["  ".join(cell.ljust(w) if i == 0 else cell.rjust(w) for i, (cell, w) in enumerate(zip(row, widths)))
            .rstrip() for row in rows]


def fastestcell(rows, key, decided):
    """HASH 0.109, next ABSLFLAT x1.15 [1.10, 1.20]; or the stores level with
    the fastest; or the fastest and why it is not tested."""
    fastest = next(r for r in rows if r["store"] == decided["fastest"])
    figure = f"{fastest[key]:.3f}"
    if not decided["versus"]:
        return f"{fastest['store']} {figure}"
    if decided["why"]:
        return f"{fastest['store']} {figure} (not tested: {decided['why']})"
    if decided["marked"] and not decided["clear"]:
        return " ≈ ".join(decided["marked"]) + f" {figure}"
    store, verdict = min(decided["versus"].items(), key=lambda item: item[1]["ratio"])
    return f"{fastest['store']} {figure}, next {store} {ratiotext(verdict).removesuffix(' ' + SLOWER)}"


def printsummary(results, stores, settings, winners, against):
    """The answer in the terminal: per file the fastest store and lookup, and
    every store's memory per line; the verdicts against an earlier run."""
    lines = ["", "Fastest, median µs per line (A ≈ B: level; next: the runner-up's time over the fastest's):"]
    rows = [["file", "distinct", "store", "lookup"]]
    for file in dict.fromkeys(r["file"] for r in results):
        group = [r for r in results if r["file"] == file]
        rows.append([file, str(group[0]["distinct"])] +
                    [fastestcell(group, key, winners[(file, key)]) for key in stats.TESTED])
    lines += table(rows)
    lines += ["", "Bytes per distinct line:"]
    rows = [["file"] + [s["key"] for s in stores]]
    for file in dict.fromkeys(r["file"] for r in results):
        memory = {r["store"]: r["bytes_per_line"] for r in results if r["file"] == file}
        rows.append([file] + [f"{memory[s['key']]:.1f}" for s in stores])
    lines += table(rows)
    if against is not None:
        lines += ["", f"Against {against['path']} (µs per line, before -> now, ratio [95% CI]):"]
        if any(row["interleaved"] for row in against["rows"]):
            lines.append("Before: its kept programs, run in this run's rounds as KEY (before); what it recorded "
                         "in brackets.")
        warning = driftwarning(against)
        lines += [warning] if warning else []
        rows = [["file", "store", "store pass", "lookup pass"]]
        for row in against["rows"]:
            rows.append([row["file"], row["store"]] + [
                f"{row[key]['before']:.3f} -> {row[key]['now']:.3f} {againstverdict(row, key)}"
                + (f" (recorded {row[key]['recorded']:.3f})" if row["interleaved"] else "")
                for key in stats.TESTED])
        lines += table(rows) if against["rows"] else []
    said = notes(results, winners, settings, against)
    if said:
        lines += [""] + said
    print("\n".join(lines), flush=True)
