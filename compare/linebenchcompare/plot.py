"""linebench-compare's plot: results.png through gnuplot, with the data inline in
results.gp.  A row of panels per shape: store time, lookup time and memory.
A shape of the generated ladder with two rungs or more draws a curve per
store over the distinct lines; the user's files, which are no scale, and a
shape of one rung, which makes no curve, draw bars grouped by file, one bar
per store.  The script chooses every range, tick and label position itself,
so that each number axis carries at least three labelled ticks, no label
leaves its panel and no band of the picture stays empty.
"""

import colorsys
import math
import os
import re
import shutil
import subprocess

YOURFILES = "your files"

# Colours by family: warm for the trees, blue for the chained hashes, green
# for open addressing, violet for the tries, grey for stores of no family.
# The project's two stores take their family's strong colour, drawn thick;
# the other stores take their family's shades in the order given, which
# alternate light and dark so that neighbours differ in greyscale too; past
# the list, shades are made from the family's hue.
SHADES = {
    "tree": ["#e8891c", "#8c4a1c", "#e27bb1", "#c9a21a", "#f2b48a", "#a8324f"],
    "chained hash": ["#4fb3e8", "#17879a", "#6f7fe0", "#0a3d78", "#9fd3f5"],
    "open addressing": ["#2ca02c", "#8fd16a", "#0e6b52", "#45c7a0", "#467d1a", "#b6e3c2"],
    "trie": ["#6a3fb5", "#d08be8", "#4a2c7a", "#9b4fc4"],
    "other": ["#555555", "#a0a0a0", "#262626", "#7a7a7a", "#c4c4c4"],
}
FAMILYHUE = {"tree": 30, "chained hash": 205, "open addressing": 140, "trie": 270, "other": None}
STRONG = {"REDBLACK": ("#c0392b", 7), "HASH": ("#1a5fb4", 5)}
# Point shapes other than the project's stores' filled circle (7) and
# square (5): gnuplot's own types, first those of outlines unlike the
# others', then the open triangles and diamond, which small look much like
# the filled ones, and the pentagons, much like the circles; cairo draws no
# other type.  Then characters of the font, which gnuplot draws as points,
# so that each of 42 stores has a shape of its own.
POINTS = [9, 11, 13, 4, 6, 1, 2, 3, 8, 10, 12, 15, 14] + list("★♥♣♠ABCDEFGHJKLMNPRSTUVWXYZ")
OWNDASH = 2  # the dash type of a store given as NAME=PATH

# The columns of panels: the figure and its words; the data blocks hold x
# and then the figures in this order.  The memory panels stop at MEMORYTOP,
# so that the stores' figures stay apart: HASH's fixed table alone puts it
# far above that on a few thousand distinct lines.  A figure above it is
# drawn at the edge and written there.
PANELS = [("store_us", "store µs per line"), ("lookup_us", "lookup µs per line"),
          ("bytes_per_line", "bytes per distinct line")]
MEMORYTOP = 1000

# The picture, in pixels.  CHARWIDTH is the widest that an average
# character of the sans font at each size comes to in pngcairo, rounded up.
WIDTH = 1500
CHARWIDTH = {10: 7.5, 8: 6.0}
LINEHEIGHT = 18
TITLEBAND, PANELTITLE, GRAPHHEIGHT = 44, 26, 250
CURVESBELOW = 58  # the tick labels and the axis label under a curve panel
LEFT, RIGHT = 56, 18  # beside each graph: its tick labels; the gap to the next
# Characters of a file's name under its bars: a name is shortened to its
# file's room if it keeps SHORTEST, and stands upright, of up to NAMELIMIT,
# where it would keep fewer.
SHORTEST, NAMELIMIT = 12, 32
# Every log axis spans at least NARROWEST times its lowest figure, with a
# margin of MARGIN of its width at each end, and takes the coarsest of these
# tick sets that puts four ticks on it, or the finest, which puts three on
# any axis NARROWEST wide: its widest step is 6 to 8, and (8/6)^3 < 2.5.
NARROWEST, MARGIN = 2.5, 0.06
MANTISSAS = [(1,), (1, 3), (1, 2, 5), (1, 2, 3, 5), (1, 1.5, 2, 3, 5, 7), (1, 1.2, 1.5, 2, 2.5, 3, 4, 5, 6, 8)]
BARSPAN = 0.8  # of the room of a file that its bars fill


def quote(text):
    """A gnuplot string in single quotes, where only '' stands for '."""
    return "'" + re.sub(r"[\x00-\x1f\x7f]", "?", str(text)).replace("'", "''") + "'"


def countlabel(count):
    """2000 -> 2k, 5000000 -> 5M: short tick labels."""
    for size, suffix in ((10**9, "G"), (10**6, "M"), (10**3, "k")):
        if count >= size:
            return f"{count / size:g}{suffix}"
    return f"{count:g}"


def drawingorder(stores):
    """The stores' keys, baselines first by family, the project's stores last,
    so that their curves lie on top."""
    families = list(SHADES)
    return [s["key"] for s in sorted(stores, key=lambda s: (s["key"] in STRONG, families.index(s["family"])))]


def shade(family, number):
    """The family's number-th shade: from its list, then made from its hue at
    lightnesses spread by the golden ratio."""
    listed = SHADES[family]
    if number < len(listed):
        return listed[number]
    lightness = 0.25 + 0.5 * ((number * 0.618034) % 1)
    hue = FAMILYHUE[family]
    red, green, blue = colorsys.hls_to_rgb((hue or 0) / 360, lightness, 0 if hue is None else 0.65)
    return "#" + "".join(f"{round(c * 255):02x}" for c in (red, green, blue))


def styles(stores):
    """Colour, line width, point type and dash of each store, all of them its
    own: REDBLACK and HASH of the build thick in the strong red and blue, the
    others their family's shades and the next point type in the order given,
    and a store given as NAME=PATH dashed."""
    chosen = {}
    taken = dict.fromkeys(SHADES, 0)
    points = iter(POINTS * (1 + len(stores) // len(POINTS)))
    for store in stores:
        key, family = store["key"], store["family"]
        if key in STRONG and store["checkadt"]:
            chosen[key] = (STRONG[key][0], 3.0, STRONG[key][1], 1)
            continue
        chosen[key] = (shade(family, taken[family]), 1.5, next(points), 1 if store["checkadt"] else OWNDASH)
        taken[family] += 1
    return chosen


def logaxis(values, top=None):
    """(lowest, highest, ticks) of a log axis over the positive values: at
    least NARROWEST wide, with a margin at each end but none above top, where
    the figures are cut."""
    values = [v for v in values if v > 0] or [0.1, 1.0]
    low, high = math.log10(min(values)), math.log10(max(values))
    widen = max(0.0, math.log10(NARROWEST) - (high - low)) / 2
    low, high = low - widen, high + widen
    margin = MARGIN * (high - low)
    if top is None:
        low, high = low - margin, high + margin
    else:
        high = math.log10(top)
        low = min(low, high - math.log10(NARROWEST)) - margin
    for mantissas in MANTISSAS:
        ticks = [float(f"{m}e{e}") for e in range(math.floor(low), math.ceil(high) + 1) for m in mantissas]
        ticks = [t for t in ticks if low - 1e-9 <= math.log10(t) <= high + 1e-9]
        if len(ticks) >= 4:
            break
    return 10**low, 10**high, ticks


def shortname(name, limit):
    """name in at most limit characters, the middle left out of a longer one."""
    if len(name) <= limit:
        return name
    return name[:(limit - 1) // 2] + "…" + name[-(limit // 2):]


def rowsof(results):
    """The picture's rows, one per shape: (shape, None) for curves over the
    distinct lines, else (shape, [(tick label, file)]) for bars grouped by
    file."""
    rows = []
    for shape in dict.fromkeys(r["shape"] for r in results):
        files = list(dict.fromkeys(r["file"] for r in results if r["shape"] == shape))
        if shape == YOURFILES:
            rows.append((shape, [(file, file) for file in files]))
        elif len(files) == 1:
            distinct = next(r["distinct"] for r in results if r["file"] == files[0])
            rows.append((shape, [(f"{countlabel(distinct)} distinct lines", files[0])]))
        else:
            rows.append((shape, None))
    return rows


def ticklabels(groups):
    """The names under the bars' files, shortened to their file's room if
    that leaves SHORTEST characters; else upright, of at most NAMELIMIT;
    and the pixels under the panel that they take.  Under curves: the
    pixels of the tick labels and the axis's label."""
    if groups is None:
        return None, False, CURVESBELOW
    room = int(0.95 * (WIDTH / len(PANELS) - LEFT - RIGHT) / len(groups) / CHARWIDTH[10])
    if room >= SHORTEST or all(len(label) <= room for label, _ in groups):
        return [shortname(label, room) for label, _ in groups], False, LINEHEIGHT + 10
    labels = [shortname(label, NAMELIMIT) for label, _ in groups]
    return labels, True, math.ceil(max(len(label) for label in labels) * CHARWIDTH[10]) + 14


def keycolumns(titles):
    """(columns, rows) of the key: as many columns as the width holds."""
    column = CHARWIDTH[10] * (max(len(t) for t in titles) + 6) + 12
    columns = max(1, min(len(titles), int((WIDTH - 40) // column)))
    return columns, -(-len(titles) // columns)


def pointtype(point):
    """gnuplot's words for a point shape: its number, or its character."""
    return quote(point) if isinstance(point, str) else str(point)


def figure(value):
    return "NaN" if value <= 0 else f"{value:g}"


def barx(groups, present, result):
    """The middle of a result's bar: its file's place, 1 for the first, and
    its store's share of BARSPAN in the order of the stores present."""
    files = [file for _, file in groups]
    width = BARSPAN / len(present)
    return files.index(result["file"]) + 1 - BARSPAN / 2 + (present.index(result["store"]) + 0.5) * width


def datablocks(results, rows, keys):
    """The data of each store in each row, as results.gp's data blocks: x,
    store µs, lookup µs, memory drawn and memory; for bars also the bar's
    left and right."""
    lines = []
    for row, (shape, groups) in enumerate(rows):
        present = [k for k in keys if any(r["shape"] == shape and r["store"] == k for r in results)]
        for key in present:
            found = [r for r in results if r["shape"] == shape and r["store"] == key]
            lines.append(f"$data{row}_{keys.index(key)} << EOD")
            if groups is None:
                points = sorted(((r["distinct"], r) for r in found), key=lambda point: point[0])
            else:
                points = [(barx(groups, present, r), r) for r in found]
            for x, r in points:
                fields = [f"{x:g}", figure(r["store_us"]), figure(r["lookup_us"]),
                          figure(min(r["bytes_per_line"], MEMORYTOP)), figure(r["bytes_per_line"])]
                if groups is not None:
                    half = 0.45 * BARSPAN / len(present)
                    fields += [f"{x - half:g}", f"{x + half:g}"]
                lines.append(" ".join(fields))
            lines.append("EOD")
    return lines


def cachemark(results, shape, cache):
    """The distinct lines at which the hungriest store's memory fills the
    cache: on the first rung where it holds more than the cache, the cache's
    bytes over its bytes per line.  None where no rung fills it."""
    for distinct in sorted({r["distinct"] for r in results if r["shape"] == shape}):
        perline = max(r["bytes_per_line"] for r in results if r["shape"] == shape and r["distinct"] == distinct)
        if perline * distinct >= cache:
            return cache / perline
    return None


def cachelabel(level):
    return f"L{level} cache full" if level else "last-level cache full"


def markcache(mark, label, xlow, xhigh):
    """The dotted line where the cache fills, its words at its foot, on the
    side with room, clear of the figures written at the top; where there is
    no axis of distinct lines (xlow None) or the cache fills before its
    first rung, words alone at the left that say where it fills."""
    if xlow is None or mark < xlow:
        words = f"{label} at {countlabel(float(f'{mark:.2g}'))} distinct lines"
        return [f"set label 1 {quote(words)} at graph 0.02, graph 0.04 left font ',8' tc rgb '#555555'"]
    where = "right offset -0.5,0" if math.log(mark / xlow) / math.log(xhigh / xlow) > 0.5 else "left offset 0.5,0"
    return [f"set arrow 1 from {mark:g}, graph 0 to {mark:g}, graph 1 nohead dt 3 lw 1.5 lc rgb '#555555'",
            f"set label 1 {quote(label)} at {mark:g}, graph 0.04 {where} font ',8' tc rgb '#555555'"]


def gnuplotscript(results, stores, png, cache=None):
    """A gnuplot script with the data inline: a row of panels per shape (store
    time, lookup time, memory), the project's stores drawn last, one key
    below, and a dotted mark where the last-level cache, (bytes, level),
    fills."""
    style = styles(stores)
    keys = [s["key"] for s in stores if any(r["store"] == s["key"] for r in results)]
    order = [key for key in drawingorder(stores) if key in keys]
    rows = rowsof(results)
    unders = [ticklabels(groups) for _, groups in rows]
    columns, keyrows = keycolumns(keys or [""])
    keyband = keyrows * LINEHEIGHT + 14
    height = TITLEBAND + sum(PANELTITLE + GRAPHHEIGHT + under for _, _, under in unders) + keyband
    panelwidth = WIDTH / len(PANELS)
    lines = datablocks(results, rows, keys)
    lines += [
        f"set terminal pngcairo noenhanced size {WIDTH},{height} font 'sans,10'",
        f"set output {quote(png)}",
        "unset key",
        "set logscale y",
        "set multiplot title 'linebench: the stores compared'",
    ]
    top = TITLEBAND
    for row, (shape, groups) in enumerate(rows):
        graphtop = top + PANELTITLE
        graphbottom = graphtop + GRAPHHEIGHT
        labels, upright, under = unders[row]
        top = graphbottom + under
        found = [r for r in results if r["shape"] == shape]
        lines += [f"set tmargin at screen {1 - graphtop / height:.5f}",
                  f"set bmargin at screen {1 - graphbottom / height:.5f}"]
        xlow, xhigh, axis = xaxis(found, labels, upright)
        lines += axis
        mark = cachemark(results, shape, cache[0]) if cache and shape != YOURFILES else None
        size = None
        if groups is not None:
            # a bar's point about as wide as the bar, if not too small to tell
            barwidth = BARSPAN * (panelwidth - LEFT - RIGHT) / len(groups) / len({r["store"] for r in found})
            size = min(1.2, max(0.5, barwidth / 8))
        for column, (figurekey, label) in enumerate(PANELS):
            memory = figurekey == "bytes_per_line"
            cut = memory and any(r["bytes_per_line"] > MEMORYTOP for r in found)
            drawn = [min(r[figurekey], MEMORYTOP) if memory else r[figurekey] for r in found]
            ylow, yhigh, yticks = logaxis(drawn, MEMORYTOP if cut else None)
            lines += [f"set lmargin at screen {(column * panelwidth + LEFT) / WIDTH:.5f}",
                      f"set rmargin at screen {((column + 1) * panelwidth - RIGHT) / WIDTH:.5f}",
                      f"set yrange [{ylow:g}:{yhigh:g}]",
                      "set ytics (" + ", ".join(f"{quote(f'{t:g}')} {t:g}" for t in yticks) + ")",
                      f"set title {quote(f'{shape}: {label}' + (f', cut at {MEMORYTOP}' if cut else ''))}",
                      "unset label", "unset arrow"]
            if mark is not None:
                lines += markcache(mark, cachelabel(cache[1]), *((xlow, xhigh) if groups is None else (None, None)))
            if cut:
                lines += cutlabels(found, groups, keys, style)
            plots = []
            for key in order:
                if any(r["store"] == key for r in found):
                    plots += plotitems(f"$data{row}_{keys.index(key)}", column + 2, style[key], groups, ylow, size)
            lines.append("plot " + ", \\\n     ".join(plots))
    lines += keypanel(keys, style, columns, keyband / height)
    lines.append("unset multiplot")
    return "\n".join(lines) + "\n"


def xaxis(found, labels, upright):
    """(lowest, highest, settings) of a row's x axis: the distinct lines on
    a log scale under curves; under bars, a file's room each, its tick at
    the middle with its name."""
    if labels is None:
        low, high, ticks = logaxis([r["distinct"] for r in found])
        return low, high, ["set logscale x", f"set xrange [{low:g}:{high:g}]",
                           "set xtics (" + ", ".join(f"{quote(countlabel(t))} {t:g}" for t in ticks)
                           + ") scale 1 norotate", "set xlabel 'distinct lines' offset 0,0.4", "set grid xtics ytics"]
    turn = "rotate by 90 right" if upright else "norotate"
    return 0.5, len(labels) + 0.5, [
        "unset logscale x", f"set xrange [0.5:{len(labels) + 0.5:g}]",
        "set xtics (" + ", ".join(f"{quote(label)} {n}" for n, label in enumerate(labels, 1)) + f") scale 0 {turn}",
        "set xlabel ''", "set grid noxtics ytics"]


def plotitems(data, column, style, groups, ylow, pointsize):
    """What draws one store's figure of a data column in a panel: its curve;
    or its bars, from the foot of the axis, with its point of pointsize on
    top.  The bars of the thick curves' stores are the strongest too."""
    colour, linewidth, point, dash = style
    if groups is None:
        return [f"{data} using 1:{column} with linespoints lw {linewidth} pt {pointtype(point)} ps 1.1 dt {dash} "
                f"lc rgb '{colour}' notitle"]
    return [f"{data} using 1:{column}:6:7:({ylow:g}):{column} with boxxyerror lc rgb '{colour}' "
            f"lw {linewidth / 1.5:g} dt {dash} fs solid {0.45 + 0.25 * (linewidth > 2):g} notitle",
            f"{data} using 1:{column} with points pt {pointtype(point)} ps {pointsize:.2g} lc rgb '{colour}' notitle"]


def keypanel(keys, style, columns, top):
    """The key, in a panel of its own across the foot of the picture, below
    top (a fraction of its height): gnuplot sets a key out in the width of
    the panel that draws it."""
    lines = [f"set lmargin at screen {10 / WIDTH:.5f}", f"set rmargin at screen {1 - 10 / WIDTH:.5f}",
             f"set tmargin at screen {top:.5f}", "set bmargin at screen 0", "unset border", "unset tics",
             "unset title", "unset xlabel", "unset grid", "unset label", "unset arrow", "unset logscale",
             "set xrange [0:1]", "set yrange [0:1]",
             f"set key center center horizontal reverse Left maxcols {columns} samplen 3 width 1"]
    entries = ["NaN notitle"]  # gnuplot 5.4 fails an assertion on a plot of key entries alone
    for key in keys:
        colour, linewidth, point, dash = style[key]
        entries.append(f"keyentry with linespoints lw {linewidth} pt {pointtype(point)} ps 1.1 dt {dash} "
                       f"lc rgb '{colour}' title {quote(key)}")
    return lines + ["plot " + ", \\\n     ".join(entries)]


def cutlabels(found, groups, keys, style):
    """The figures above MEMORYTOP, written where the panel cuts them: under
    a curve's point at the top, within the axis's margin at either end, one
    under another where several are cut at one rung; upright down the top
    of a bar."""
    labels = []
    stacked = {}
    for r in found:
        if r["bytes_per_line"] <= MEMORYTOP:
            continue
        colour = style[r["store"]][0]
        number = len(labels) + 2
        if groups is None:
            x = r["distinct"]
            below = stacked.setdefault(x, 0)
            stacked[x] += 1
            labels.append(f"set label {number} '{r['bytes_per_line']:.0f}' at {x:g}, {MEMORYTOP} center "
                          f"offset 0,{-1.2 - 1.1 * below:g} font ',8' tc rgb '{colour}' front")
        else:
            x = barx(groups, [k for k in keys if any(s["store"] == k for s in found)], r)
            labels.append(f"set label {number} '{r['bytes_per_line']:.0f}' at {x:g}, {MEMORYTOP} right "
                          "rotate by 90 offset 0.5,-1 font ',8' tc rgb '#000000' front")
    return labels


def writeplot(folder, results, stores, cache=None, draw=True):
    """Writes results.gp and, with draw, renders results.png with gnuplot;
    returns a note when there is no results.png.  An earlier run's
    results.png goes, as it would not show these results."""
    png = os.path.join(folder, "results.png")
    if os.path.exists(png):
        os.remove(png)
    script = os.path.join(folder, "results.gp")
    # gnuplot gets the names' own bytes, so results.png lands in the folder asked for.
    with open(script, "w", errors="surrogateescape") as gp:
        gp.write(gnuplotscript(results, stores, png, cache))
    if not draw:
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
