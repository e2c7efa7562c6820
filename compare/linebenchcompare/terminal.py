"""The answer in the terminal: per file the fastest store and lookup, every
store's memory per line, the verdicts against an earlier run and the notes.
"""

from .records import TESTED, Figure, Verdict
from .words import CARRIEDMARK, againstverdict, carriedmark, driftwarning, filesof, notes, ratiotext


def table(rows):
    """Text columns: the first left-aligned, the others right-aligned."""
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    return ["  ".join(cell.ljust(w) if i == 0 else cell.rjust(w) for i, (cell, w) in enumerate(zip(row, widths)))
            .rstrip() for row in rows]


def fastestcell(rows, figure, decided):
    """HASH 0.109, next ABSLFLAT x1.15 [1.10, 1.20]; or the stores level with
    the fastest; or the fastest and why it is not tested.  A store whose
    figures were carried from an earlier run is marked."""
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
    return (f"{named[fastest.store]} {text}, next {named[store]} "
            f"{ratiotext(test).removesuffix(' ' + Verdict.SLOWER.value)}")


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
        lines += againstlines(report.against)
    said = notes(report)
    if said:
        lines += [""] + said
    print("\n".join(lines), flush=True)


def againstlines(against):
    """The verdicts against the earlier run, before -> now."""
    lines = ["", f"Against {against.path} (µs per line, before -> now, ratio [95% CI]):"]
    if any(row.interleaved for row in against.rows):
        lines.append("Before: its kept programs, run in this run's rounds as KEY (before); what it recorded "
                     "in brackets.")
    warning = driftwarning(against)
    lines += [warning] if warning else []
    rows = [["file", "store", "store pass", "lookup pass"]]
    for row in against.rows:
        rows.append([row.file, row.store] + [
            f"{row.figures[figure].before:.3f} -> {row.figures[figure].now:.3f}{CARRIEDMARK if row.carried else ''} "
            f"{againstverdict(row, figure)}"
            + (f" (recorded {row.figures[figure].recorded:.3f})" if row.interleaved else "")
            for figure in TESTED])
    return lines + (table(rows) if against.rows else [])
