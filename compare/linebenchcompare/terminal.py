"""The answer in the terminal: per file the fastest store and lookup, every
store's memory per line, the verdicts against an earlier run and the notes.
"""

from .countwords import countsparagraph
from .records import TESTED, Figure
from .words import (CARRIEDMARK, againsttests, againstverdict, carriedmark, confidences, driftwarning, filesof, notes,
                    nowruns, ratiotext)


def table(rows):
    """Text columns: the first left-aligned, the others right-aligned."""
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    return ["  ".join(cell.ljust(w) if i == 0 else cell.rjust(w) for i, (cell, w) in enumerate(zip(row, widths)))
            .rstrip() for row in rows]


def fastestcell(rows, figure, decided):
    """HASH 0.109, next ABSLFLAT x1.15 [1.10, 1.20]; or the stores level with
    the fastest; or the fastest and why it is not tested; or, where a store's
    test finds it faster than the fastest, though not for certain, both.  A
    store whose figures were carried from an earlier run is marked."""
    named = {row.store: row.store + carriedmark(row) for row in rows}
    fastest = next(row for row in rows if row.store == decided.fastest)
    text = f"{fastest.median(figure):.3f}"
    if not decided.versus:
        return f"{named[fastest.store]} {text}"
    if decided.why:
        return f"{named[fastest.store]} {text} (not tested: {decided.why.value})"
    if decided.marked and not decided.clear:
        return " ≈ ".join(named[store] for store in decided.marked) + f" {text}"
    store, test = min(decided.versus.items(), key=lambda item: item[1].ratio)
    said = ratiotext(test, (next(row for row in rows if row.store == store).runs, fastest.runs), slower=False)
    if test.ratio < 1:
        return f"not decided: {named[fastest.store]} {text} or {named[store]} {said}"
    return f"{named[fastest.store]} {text}, next {named[store]} {said}"


def write(report, folder):
    """Prints the answer; folder, where the results are, it leaves to the
    progress that follows."""
    lines = ["", "Fastest, median µs per line (A ≈ B: level; next: the runner-up's time over the fastest's):"]
    rows = [["file", "distinct", "store", "lookup"]]
    for file in filesof(report.summaries):
        group = [summary for summary in report.summaries if summary.file.name == file]
        rows.append([file, str(group[0].distinct)] +
                    [fastestcell(group, figure, report.winners[(file, figure)]) for figure in TESTED])
    lines += table(rows)
    lines += ["", "Bytes per distinct line:"]
    rows = [["file"] + [store.key for store in report.stores]]
    for file in filesof(report.summaries):
        memory = {summary.store: f"{summary.median(Figure.MEMORY):.1f}{carriedmark(summary)}"
                  for summary in report.summaries if summary.file.name == file}
        rows.append([file] + [memory[store.key] for store in report.stores])
    lines += table(rows)
    if report.against is not None:
        lines += againstlines(report)
    counted = countsparagraph(report)
    if counted:
        lines += ["", counted]
    said = notes(report)
    if said:
        lines += [""] + said
    print("\n".join(lines), flush=True)


def againstlines(report):
    """The verdicts against the earlier run, before -> now; an unchanged
    program's, now alone."""
    against, runs = report.against, nowruns(report)
    levels = confidences(againsttests(report), report.settings.alpha)
    lines = ["", f"Against {against.path} (µs per line, before -> now, ratio ["
             + (f"{levels} CI" if " or " not in levels else f"CI at {levels}, as each look spent α") + "]):"]
    if any(row.interleaved for row in against.rows):
        lines.append("Before: its kept programs, run in this run's rounds as KEY (before); what it recorded "
                     "in brackets.")
    warning = driftwarning(against)
    lines += [warning] if warning else []
    rows = [["file", "store", "store pass", "lookup pass"]]
    for row in against.rows:
        rows.append([row.file, row.store] + [againstcell(row, figure, runs[(row.file, row.store)])
                                             for figure in TESTED])
    return lines + (table(rows) if against.rows else [])


def againstcell(row, figure, runs):
    tested = row.figures[figure]
    if row.unchanged:
        return f"{tested.now:.3f}{CARRIEDMARK if row.carried else ''} {againstverdict(row, figure, runs)}"
    return (f"{tested.before:.3f} -> {tested.now:.3f} {againstverdict(row, figure, runs)}"
            + (f" (recorded {tested.recorded:.3f})" if row.interleaved else ""))
