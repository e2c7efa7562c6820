"""The counts' words that results.md and the terminal say: the caches
simulated, a count against the earlier program's beside its time verdict,
and the terminal's paragraph of what the counts show beside the times.
"""

from .countfigures import OFFIGURE, Event, againstchange
from .records import TESTED, CountScope
from .words import filesof


def cachewords(cache):
    """48 KiB 12-way, 64-byte lines (sysfs); the ways valgrind needs beside
    the machine's where they differ."""
    ways = f"{cache.ways}-way" + (f" (the machine's {cache.waysread})" if cache.ways != cache.waysread else "")
    return f"{cache.size >> 10:,} KiB {ways}, {cache.line}-byte lines ({cache.source.value})"


def geometrywords(counting):
    """The caches simulated."""
    geometry = counting.geometry
    return (f"Counted once under {counting.valgrind}'s callgrind, simulating an L1d of {cachewords(geometry.d1)} "
            f"and a last level of {cachewords(geometry.ll)}")


def changewords(counting, row, figure):
    """"; store +38 instructions a line (+19%), L1d misses +0.4 a line
    (exact)" after a verdict where both programs were counted; else ""."""
    change = againstchange(counting, row, figure)
    return f"; {change.text()}" if change else ""


def ratiowords(ratio):
    """The instructions against the fastest's, beside its time: "; instr. x1.19"."""
    return "" if ratio is None else f"; instr. x{ratio:.2f}"


def otherorder(report):
    """Per file and tested figure where the store of the fewest instructions
    in the pass is not the fastest by time, both counted: words for each;
    and how many passes of a file were set side by side."""
    said, stores, compared = [], {summary.store for summary in report.summaries}, 0
    for file in filesof(report.summaries):
        for figure in TESTED:
            decided = report.winners.get((file, figure))
            fastest = decided and report.counts.of(file, decided.fastest)
            counted = [counts for counts in report.counts.runs if counts.file == file and counts.store in stores]
            if fastest is None or len(counted) < 2:
                continue
            part, compared = OFFIGURE[figure], compared + 1
            fewest = min(counted, key=lambda counts: Event.INSTRUCTIONS.of(counts.perline(part)))
            if fewest.store != fastest.store:
                said.append(f"on {file} the {part.words}'s fewest instructions are {fewest.store}'s "
                            f"({Event.INSTRUCTIONS.of(fewest.perline(part)):.0f} a line), the fastest time "
                            f"{fastest.store}'s ({Event.INSTRUCTIONS.of(fastest.perline(part)):.0f})")
    return said, compared


# The most items the terminal's paragraph names of each kind; results.md has all.
NAMED = 4


def listed(items):
    return "; ".join(items[:NAMED]) + (f"; and {len(items) - NAMED} more (results.md)" if len(items) > NAMED else "")


def countsparagraph(report):
    """The terminal's paragraph on the counts, or None where none were asked
    for: what was counted, where the counts order the stores otherwise than
    the times, and the counts against the earlier run."""
    counting = report.counts
    if counting is None or counting.why or (not counting.runs and not counting.skipped and
                                            counting.scope == CountScope.CHANGED):
        return None  # nothing asked for, or none made, which the progress said in a line
    made = sum(counts.counted for counts in counting.runs)
    files = len({counts.file for counts in counting.runs})
    kept = len(counting.runs) - made
    programs = len(counting.runs)
    said = [f"Counts, exact (the misses of simulated caches): {programs} program{'s' if programs != 1 else ''} "
            f"on {files} file{'s' if files != 1 else ''} under valgrind, {made} counted now in "
            f"{counting.seconds:.0f} s of CPU" + (f", {kept} kept from before" if kept else "") + "."]
    order, compared = otherorder(report)
    if order:
        said.append("The counts order the stores otherwise than the times: " + listed(order) + ".")
    elif compared:
        said.append("The fastest store of each pass counted has its fewest instructions too.")
    changes = []
    for row in (report.against.rows or []) if report.against else []:
        found = [againstchange(counting, row, figure) for figure in TESTED]
        if all(found):
            changes.append(f"{row.store} on {row.file}: " + ", ".join(change.text().removesuffix(" (exact)")
                                                                      for change in found))
    if changes:
        said.append("Against the earlier run: " + listed(changes) + ".")
    if counting.skipped:
        said.append("Not counted: " + listed([f"{skipped.store} on {skipped.file} ({skipped.why})"
                                              for skipped in counting.skipped]) + ".")
    return " ".join(said)
