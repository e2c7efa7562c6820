"""linebench-compare's plot: results.png through gnuplot, with the data inline in
results.gp.  A row of panels per shape: store time, lookup time and memory,
every axis of figures logarithmic.  A shape of the generated ladder with two
rungs or more draws a curve per store over the distinct lines; the user's
files, which are no scale, and a shape of one rung, which makes no curve,
draw a point per store, side by side in each file's room: bars on a log
axis would start at an arbitrary floor, and their lengths would mean
nothing.  A store or lookup time that carries no verdict, too short to time
or of too few runs, is drawn hollow and faint, and the key says so; memory,
which no verdict is about, is drawn in full.  Points that would
hide one another at a rung, as a store and an earlier build of it with the
same memory, are set apart across the rung.  The script chooses every range,
tick and label position itself, so that each number axis carries at least
three labelled ticks, no label leaves its panel or lies under what is drawn,
and no band of the picture stays empty.
"""

import dataclasses
import math
import os
import shutil
import subprocess
from typing import Optional

from .ladder import YOURFILES
from .records import Figure, Untested
from .plotlayout import (CHARWIDTH, GRAPHHEIGHT, GRAPHWIDTH, LEFT, LINEHEIGHT, PANELTITLE, PANELWIDTH, RIGHT,
                         TITLEBAND, WIDTH, countlabel, keycolumns, logaxis, ticklabels, xaxis)
from .plotstyle import drawingorder, faint, pointtype, quote, styles

# The columns of panels: the figure and its words.  The memory panels stop
# at MEMORYTOP, so that the stores' figures stay apart: HASH's fixed table
# alone puts it far above that on a few thousand distinct lines.  A figure
# above it is drawn at the edge and written there.
PANELS = [(Figure.STORE, "store µs per line"), (Figure.LOOKUP, "lookup µs per line"),
          (Figure.MEMORY, "bytes per distinct line")]
MEMORYTOP = 1000
# A data block holds a row of each store's points: x, store µs, lookup µs,
# memory drawn, memory; then each panel's x of the point, as set apart from
# others; then the store and lookup times that carry a verdict, NaN where
# they carry none.  Per panel, gnuplot's column numbers of its x, of every
# figure, and of the figures with a verdict.
XCOLUMN, FIGURECOLUMN, DECIDEDCOLUMN = (6, 7, 8), (2, 3, 4), (9, 10, 4)
SPAN = 0.8  # of the room of a file that its stores' points fill
# A point is about POINTPX across; points of one rung closer than NEAR
# pixels up the axis would hide each other, and are set POINTPX apart, or
# closer where so many are that they would spread past SPREAD pixels.
POINTPX, NEAR, SPREAD = 9, 3, 36
NOVERDICT = (Untested.TOOSHORT, Untested.TOOFEW)  # why a figure carries no verdict, drawn faint


def rowsof(results):
    """The picture's rows, one per shape: (shape, None) for curves over the
    distinct lines, else (shape, [(tick label, file)]) for points grouped
    by file."""
    rows = []
    for shape in dict.fromkeys(r.file.shape for r in results):
        files = list(dict.fromkeys(r.file.name for r in results if r.file.shape == shape))
        if shape == YOURFILES:
            rows.append((shape, [(file, file) for file in files]))
        elif len(files) == 1:
            distinct = next(r.distinct for r in results if r.file.name == files[0])
            rows.append((shape, [(f"{countlabel(distinct)} distinct lines", files[0])]))
        else:
            rows.append((shape, None))
    return rows


def figure(value):
    return "NaN" if value <= 0 else f"{value:g}"


def slotx(groups, present, result):
    """The middle of a result's place in its file's room: the file's place,
    1 for the first, and its store's share of SPAN in the order of the
    stores present."""
    files = [file for _, file in groups]
    width = SPAN / len(present)
    return files.index(result.file.name) + 1 - SPAN / 2 + (present.index(result.store) + 0.5) * width


def noverdict(winners, result, figure):
    """Why a figure of result carries no verdict, where it is one of
    NOVERDICT; else None."""
    decided = (winners or {}).get((result.file.name, figure))
    return decided.why if decided and decided.why in NOVERDICT else None


def yaxis(found, figure):
    """(lowest, highest, ticks, cut) of a panel's axis of figures: the memory
    cut at MEMORYTOP where a figure passes it."""
    cut = figure == Figure.MEMORY and any(r.median(figure) > MEMORYTOP for r in found)
    drawn = [min(r.median(figure), MEMORYTOP) if figure == Figure.MEMORY else r.median(figure) for r in found]
    return logaxis(drawn, MEMORYTOP if cut else None) + (cut,)


def places(found, groups, order, xlow, xhigh, axes):
    """Each result's x in each panel, by (file, store): on curves its
    distinct lines, moved across the rung where it would hide another point
    or be hidden; else its place in its file's room."""
    present = [key for key in order if any(r.store == key for r in found)]
    if groups is not None:
        return {(r.file.name, r.store): [slotx(groups, present, r)] * len(PANELS) for r in found}
    chosen = {(r.file.name, r.store): [float(r.distinct)] * len(PANELS) for r in found}
    perpixel = (xhigh / xlow) ** (1 / GRAPHWIDTH)
    for column, (figure, _) in enumerate(PANELS):
        low, high = axes[column][:2]
        for distinct in {r.distinct for r in found}:
            points = sorted(((GRAPHHEIGHT * math.log(min(r.median(figure), high) / low) / math.log(high / low),
                              present.index(r.store), r) for r in found
                             if r.distinct == distinct and r.median(figure) > 0), key=lambda point: point[:2])
            clusters = []
            for point in points:
                if clusters and point[0] - clusters[-1][-1][0] < NEAR:
                    clusters[-1].append(point)
                else:
                    clusters.append([point])
            for cluster in clusters:
                step = min(POINTPX, SPREAD / max(len(cluster) - 1, 1))
                for number, (_, _, r) in enumerate(sorted(cluster, key=lambda point: point[1])):
                    chosen[(r.file.name, r.store)][column] *= perpixel ** ((number - (len(cluster) - 1) / 2) * step)
    return chosen


def datablocks(row, found, keys, where, winners):
    """The data of each store in a row, as results.gp's data blocks (see
    XCOLUMN)."""
    lines = []
    for key in [k for k in keys if any(r.store == k for r in found)]:
        lines.append(f"$data{row}_{keys.index(key)} << EOD")
        for r in sorted((r for r in found if r.store == key), key=lambda r: where[(r.file.name, key)][0]):
            memory = r.median(Figure.MEMORY)
            fields = [r.distinct, r.median(Figure.STORE), r.median(Figure.LOOKUP), min(memory, MEMORYTOP), memory]
            decided = [0 if noverdict(winners, r, panel) else r.median(panel) for panel, _ in PANELS[:2]]
            lines.append(" ".join(figure(value) for value in fields + where[(r.file.name, key)] + decided))
        lines.append("EOD")
    return lines


def cachemark(results, shape, cache):
    """The distinct lines at which the hungriest store's memory fills the
    cache: on the first rung where it holds more than the cache, the cache's
    bytes over its bytes per line.  None where no rung fills it."""
    for distinct in sorted({r.distinct for r in results if r.file.shape == shape}):
        perline = max(r.median(Figure.MEMORY) for r in results if r.file.shape == shape and r.distinct == distinct)
        if perline * distinct >= cache:
            return cache / perline
    return None


def cachelabel(level):
    return f"L{level} cache full" if level else "last-level cache full"


def markcache(mark, label, xlow, curves):
    """Where the cache fills, said in the row's axis label, under the panel,
    where nothing drawn can cover it: (the dotted line on curves, when the
    cache fills within the axis; the label)."""
    where = f"{label} at {countlabel(float(f'{mark:.2g}'))}"
    if not curves:
        return [], where + " distinct lines"
    if mark < xlow:
        return [], "distinct lines; " + where
    return ([f"set arrow 1 from {mark:g}, graph 0 to {mark:g}, graph 1 nohead dt 3 lw 1.5 lc rgb '#555555' back"],
            "distinct lines; dotted: " + where)


@dataclasses.dataclass(frozen=True)
class Drawing:
    """What every panel draws by: each store's style, the order they are
    drawn in, the keys in the order of the data blocks, and the verdicts."""

    style: dict
    order: list
    keys: list
    winners: Optional[dict]


@dataclasses.dataclass(frozen=True)
class Row:
    """A row of panels: its number, shape, the files' groups (None: curves),
    its results, each one's x, the x axis's range and the points' size."""

    number: int
    shape: str
    groups: Optional[list]
    found: list
    where: dict
    xlow: float
    xhigh: float
    pointsize: float


def gnuplotscript(results, stores, png, cache=None, winners=None):
    """A gnuplot script with the data inline: a row of panels per shape (store
    time, lookup time, memory), the project's stores drawn last, one key
    below, and a dotted mark where the last-level cache fills.  winners, the
    fastest of each file and figure, says which figures carry no verdict."""
    keys = [s.key for s in stores if any(r.store == s.key for r in results)]
    drawing = Drawing(styles(stores), [key for key in drawingorder(stores) if key in keys], keys, winners)
    rows = rowsof(results)
    marks = [cachemark(results, shape, cache.size) if cache and shape != YOURFILES else None for shape, _ in rows]
    unders = [ticklabels(groups, mark is not None) for (_, groups), mark in zip(rows, marks)]
    reasons = [why.value for why in NOVERDICT if any(noverdict(winners, r, figure) == why for r in results
                                                     for figure, _ in PANELS[:2])]
    hollow = f"hollow, faint: a time without a verdict, {' or '.join(reasons)}" if reasons else None
    columns, keyrows = keycolumns(keys or [""])
    keyband = (keyrows + bool(hollow)) * LINEHEIGHT + 14
    height = TITLEBAND + sum(PANELTITLE + GRAPHHEIGHT + under for _, _, under in unders) + keyband
    blocks, lines = [], [
        f"set terminal pngcairo noenhanced size {WIDTH},{height} font 'sans,10'",
        f"set output {quote(png)}",
        "unset key",
        "set logscale y",
        "set multiplot title 'linebench: the stores compared'",
    ]
    top = TITLEBAND
    for number, (shape, groups) in enumerate(rows):
        graphtop = top + PANELTITLE
        graphbottom = graphtop + GRAPHHEIGHT
        labels, upright, under = unders[number]
        top = graphbottom + under
        found = [r for r in results if r.file.shape == shape]
        lines += [f"set tmargin at screen {1 - graphtop / height:.5f}",
                  f"set bmargin at screen {1 - graphbottom / height:.5f}"]
        xlow, xhigh, axis = xaxis(found, labels, upright)
        arrow, words = [], "distinct lines" if groups is None else ""
        if marks[number] is not None:
            arrow, words = markcache(marks[number], cachelabel(cache.level), xlow, groups is None)
        lines += axis + arrow + [f"set xlabel {quote(words)} offset 0,0.4"]
        axes = [yaxis(found, figure) for figure, _ in PANELS]
        row = Row(number, shape, groups, found, places(found, groups, drawing.order, xlow, xhigh, axes), xlow, xhigh,
                  pointsize(groups, found))
        blocks += datablocks(number, found, keys, row.where, winners)
        for column in range(len(PANELS)):
            lines += panellines(drawing, row, column, axes[column])
    lines += keypanel(keys, drawing.style, columns, keyband / height, hollow and (hollow, LINEHEIGHT / height))
    lines.append("unset multiplot")
    return "\n".join(blocks + lines) + "\n"


def pointsize(groups, found):
    """On curves, 1.1; among the files' points, a point about as wide as its
    place, if not too small to tell."""
    if groups is None:
        return 1.1
    room = SPAN * GRAPHWIDTH / len(groups) / len({r.store for r in found})
    return min(1.2, max(0.5, room / 8))


def panellines(drawing, row, column, axis):
    """The lines that draw one panel of a row: its margins, its axis of
    figures, its title, the figures cut at its top, and every store's
    items."""
    figure, label = PANELS[column]
    ylow, yhigh, yticks, cut = axis
    lines = [f"set lmargin at screen {(column * PANELWIDTH + LEFT) / WIDTH:.5f}",
             f"set rmargin at screen {((column + 1) * PANELWIDTH - RIGHT) / WIDTH:.5f}",
             f"set yrange [{ylow:g}:{yhigh:g}]",
             "set ytics (" + ", ".join(f"{quote(f'{t:g}')} {t:g}" for t in yticks) + ")",
             f"set title {quote(f'{row.shape}: {label}' + (f', cut at {MEMORYTOP}' if cut else ''))}",
             "unset label"]
    if cut:
        lines += cutlabels(row.found, row.groups, row.where, drawing.style, row.xlow, row.xhigh)
    plots = []
    for key in drawing.order:
        mine = [r for r in row.found if r.store == key]
        if mine:
            pale = any(noverdict(drawing.winners, r, figure) for r in mine)
            plain = not all(noverdict(drawing.winners, r, figure) for r in mine)
            plots += plotitems(f"$data{row.number}_{drawing.keys.index(key)}", column, drawing.style[key],
                               row.groups is None, row.pointsize, pale, plain)
    return lines + ["plot " + ", \\\n     ".join(plots)]


def plotitems(data, column, style, curve, pointsize, pale, plain):
    """What draws one store's figures in a panel: its curve and points, or
    its points alone, of pointsize; with pale, every figure hollow and
    faint, and with plain, those that carry a verdict drawn in full over
    them."""
    items = []
    for drawn, ycolumn, (colour, linewidth, point, dash) in ((pale, FIGURECOLUMN[column], faint(style)),
                                                             (plain, DECIDEDCOLUMN[column], style)):
        if drawn:
            how = f"linespoints lw {linewidth} dt {dash}" if curve else "points"
            items.append(f"{data} using {XCOLUMN[column]}:{ycolumn} with {how} pt {pointtype(point)} "
                         f"ps {pointsize:.2g} lc rgb '{colour}' notitle")
    return items


def keypanel(keys, style, columns, top, hollow):
    """The key, in a panel of its own across the foot of the picture, below
    top (a fraction of its height): gnuplot sets a key out in the width of
    the panel that draws it.  hollow: what a hollow, faint figure means,
    where one is drawn, and the height of its line under the key."""
    words, below = hollow or ("", 0)
    lines = [f"set lmargin at screen {10 / WIDTH:.5f}", f"set rmargin at screen {1 - 10 / WIDTH:.5f}",
             f"set tmargin at screen {top:.5f}", f"set bmargin at screen {below:.5f}", "unset border", "unset tics",
             "unset title", "unset xlabel", "unset grid", "unset label", "unset arrow", "unset logscale",
             "set xrange [0:1]", "set yrange [0:1]",
             f"set key center center horizontal reverse Left maxcols {columns} samplen 3 width 1"]
    entries = ["NaN notitle"]  # gnuplot 5.4 fails an assertion on a plot of key entries alone
    for key in keys:
        colour, linewidth, point, dash = style[key]
        entries.append(f"keyentry with linespoints lw {linewidth} pt {pointtype(point)} ps 1.1 dt {dash} "
                       f"lc rgb '{colour}' title {quote(key)}")
    if words:
        # the point, then the words, the two in the middle of the picture
        colour, _, point, _ = faint(("#000000", 1.5, 7, 1))
        left = (WIDTH - (len(words) + 3) * CHARWIDTH[10]) / 2 / WIDTH
        lines.append(f"set label 1 {quote(words)} at screen {left:.5f}, screen {below / 2:.5f} left "
                     f"point pt {point} ps 1.1 lc rgb '{colour}' offset 1.5,0")
    return lines + ["plot " + ", \\\n     ".join(entries)]


def cutlabels(found, groups, where, style, xlow, xhigh):
    """The figures above MEMORYTOP, written where the panel cuts them: beside
    a curve's point at the top, on the side with room and clear of the
    rung's other points, one under another where several are cut at one
    rung; upright down from the top beside a file's point."""
    labels = []
    cut = [r for r in found if r.median(Figure.MEMORY) > MEMORYTOP]
    for number, r in enumerate(cut, 2):
        colour = style[r.store][0]
        words = f"set label {number} '{r.median(Figure.MEMORY):.0f}' at"
        if groups is None:
            rung = [c for c in cut if c.distinct == r.distinct]
            aside = 1.2 + 0.8 * (len(rung) - 1)
            side = "right" if math.log(r.distinct / xlow) / math.log(xhigh / xlow) > 0.5 else "left"
            shift = -aside if side == "right" else aside
            labels.append(f"{words} {r.distinct:g}, {MEMORYTOP} {side} offset {shift:g},"
                          f"{-0.6 - 1.1 * rung.index(r):g} font ',8' tc rgb '{colour}' front")
        else:
            labels.append(f"{words} {where[(r.file.name, r.store)][2]:g}, {MEMORYTOP} right rotate by 90 "
                          f"offset 0.5,-1 font ',8' tc rgb '{colour}' front")
    return labels


def write(report, folder):
    """Writes folder/results.gp and, for a run that finished, renders
    results.png with gnuplot; returns a note when there is no results.png.
    An earlier run's results.png goes, as it would not show these results."""
    png = os.path.join(folder, "results.png")
    if os.path.exists(png):
        os.remove(png)
    script = os.path.join(folder, "results.gp")
    # gnuplot gets the names' own bytes, so results.png lands in the folder asked for.
    with open(script, "w", errors="surrogateescape") as gp:
        gp.write(gnuplotscript(report.summaries, report.stores, png, report.settings.cache, report.winners))
    if report.incomplete is not None:
        return f"no results.png: gnuplot {script} draws it"
    gnuplot = shutil.which("gnuplot")
    if gnuplot is None:
        return "no results.png: gnuplot is not installed (Debian: gnuplot-nox, which tools/deps installs)"
    done = subprocess.run([gnuplot, script], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          errors="replace")
    if done.returncode != 0 or not os.path.exists(png):
        said = [line for line in done.stdout.splitlines() if line.strip() and not line.startswith("Warning")]
        status = f"signal {-done.returncode}" if done.returncode < 0 else f"status {done.returncode}"
        return f"no results.png: gnuplot failed on {script} with {status}" + (f": {said[-1].strip()}" if said else "")
    return None
