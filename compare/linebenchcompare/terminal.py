"""The answer in the terminal: per file the fastest store and lookup, every
store's memory per line, the verdicts against an earlier run and the notes.
"""

from .medians import TESTED
from .verdicts import SLOWER
from .words import againstverdict, driftwarning, notes, ratiotext


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
                    [fastestcell(group, key, winners[(file, key)]) for key in TESTED])
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
                for key in TESTED])
        lines += table(rows) if against["rows"] else []
    said = notes(results, winners, settings, against)
    if said:
        lines += [""] + said
    print("\n".join(lines), flush=True)
