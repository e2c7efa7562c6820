"""bench/compare's plot: results.png through gnuplot, with the data inline in
results.gp.  The generated ladder gives a curve per store over the distinct
lines of each shape; files of the user's are unrelated, so each is a point
of its own along the axis.
"""

import os
import re
import shutil
import subprocess

YOURFILES = "your files"

# Colours by family: warm for the trees, blue for the chained hashes, green
# for open addressing, violet for the tries, grey for stores of no family.
# The project's two stores are the family's strong colour, drawn thick; the
# baselines take the family's lighter shades in the build's order; stores
# given as NAME=PATH are dashed.
FAMILYCOLOURS = {
    "tree": ["#f0a35e", "#c9a26b", "#e07b91", "#d4b483"],
    "chained hash": ["#7fb3e0", "#9bbbd4", "#5d8aa8"],
    "open addressing": ["#8fd19e", "#5fb8a6", "#b5d86a", "#3e9b6b", "#a3c4a8"],
    "trie": ["#a98bd6", "#d08bd6", "#7d6bb0"],
    "other": ["#444444", "#9a7d0a", "#6c3483", "#117864"],
}
STRONG = {"REDBLACK": "#c0392b", "HASH": "#1a5fb4"}
POINTS = [5, 9, 11, 13, 4, 6]

# The columns of panels: the figure and its axis label.  The memory panels
# stop at MEMORYTOP, so that the stores' figures stay apart: HASH's fixed
# table alone puts it far above that on a few thousand distinct lines.  A
# figure above it is drawn at the edge with its value.
PANELS = [("store_us", "store µs per line"), ("lookup_us", "lookup µs per line"),
          ("bytes_per_line", "bytes per distinct line")]
MEMORYTOP = 1000
CUTMARK = 9  # gnuplot's filled triangle pointing up


def quote(text):
    """A gnuplot string in single quotes, where only '' stands for '."""
    return "'" + re.sub(r"[\x00-\x1f\x7f]", "?", str(text)).replace("'", "''") + "'"


def countlabel(count):
    """2000 -> 2k, 5000000 -> 5M: short tick labels."""
    for size, suffix in ((10**9, "G"), (10**6, "M"), (10**3, "k")):
        if count >= size:
            return f"{count / size:g}{suffix}"
    return str(count)


def drawingorder(stores):
    """The stores' keys, baselines first by family, the project's stores last,
    so that their curves lie on top."""
    families = list(FAMILYCOLOURS)
    return [s["key"] for s in sorted(stores, key=lambda s: (s["key"] in STRONG, families.index(s["family"])))]


def styles(stores):
    """Colour, line width, point type and dash of each store's curves."""
    chosen = {}
    taken = dict.fromkeys(FAMILYCOLOURS, 0)
    for store in stores:
        if store["key"] in STRONG and store["checkadt"]:
            chosen[store["key"]] = (STRONG[store["key"]], 3.0, 7, 1)
            continue
        shades = FAMILYCOLOURS[store["family"]]
        number = taken[store["family"]]
        taken[store["family"]] += 1
        chosen[store["key"]] = (shades[number % len(shades)], 1.5, POINTS[number % len(POINTS)],
                                1 if store["checkadt"] else 2)
    return chosen


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


def points(results, shape, key, order, files):
    """(x, store µs, lookup µs, memory drawn, memory) of one store in one row:
    over the distinct lines on the ladder, at the file's place, a little
    apart from the other stores', for files of the user's."""
    rows = [r for r in results if r["shape"] == shape and r["store"] == key]
    if shape != YOURFILES:
        return sorted((r["distinct"], r["store_us"], r["lookup_us"], min(r["bytes_per_line"], MEMORYTOP),
                       r["bytes_per_line"]) for r in rows)
    shift = (order.index(key) - (len(order) - 1) / 2) * 0.5 / max(len(order), 1)
    return [(files.index(r["file"]) + 1 + shift, r["store_us"], r["lookup_us"],
             min(r["bytes_per_line"], MEMORYTOP), r["bytes_per_line"]) for r in rows]


def gnuplotscript(results, stores, png, cache=None):
    """A gnuplot script with the data inline: a row of panels per shape (store
    time, lookup time, memory), the project's stores drawn last, one key below,
    and a dotted mark where the last-level cache, (bytes, level), fills."""
    shapes = list(dict.fromkeys(r["shape"] for r in results))
    files = list(dict.fromkeys(r["file"] for r in results))
    order = drawingorder(stores)
    style = styles(stores)
    width, height = 1500, 400 * len(shapes) + 150 + (100 if YOURFILES in shapes else 0)
    lines = []
    cut = set()  # (row, number) of the stores with a figure above the memory cut
    for row, shape in enumerate(shapes):
        for number, key in enumerate(order):
            data = points(results, shape, key, order, files)
            if any(point[4] > MEMORYTOP for point in data):
                cut.add((row, number))
            lines.append(f"$data{row}_{number} << EOD")
            lines += [" ".join(f"{value:g}" for value in point) for point in data]
            lines.append("EOD")
    yticks = ", ".join(f"'{t:g}' {t:g}" for t in (m * 10**e for e in range(-2, 4) for m in (1, 2, 3, 5)))
    xticks = ", ".join(f"'{countlabel(t)}' {t}" for t in (m * 10**e for e in range(10) for m in (1, 2, 5)))
    filetics = ", ".join(f"{quote(name)} {number}" for number, name in enumerate(files, 1))
    lines += [
        f"set terminal pngcairo noenhanced size {width},{height} font 'sans,10'",
        f"set output {quote(png)}",
        "set grid",
        f"set ytics ({yticks})",
        "unset key",
        f"set multiplot layout {len(shapes)},{len(PANELS)} title 'linebench: the stores compared' "
        f"margins {70 / width:.3f},{1 - 20 / width:.3f},{(210 if YOURFILES in shapes else 110) / height:.3f},"
        f"{1 - 70 / height:.3f} spacing {70 / width:.3f},{95 / height:.3f}",
    ]
    for row, shape in enumerate(shapes):
        if shape == YOURFILES:
            lines += ["unset logscale x", "set logscale y", f"set xrange [0.5:{len(files) + 0.5}]",
                      f"set xtics ({filetics}) rotate by 30 right", "set xlabel ''", "set autoscale yfix",
                      "set offsets 0, 0, graph 0.08, graph 0.08"]
        else:
            lines += ["set logscale xy", "set autoscale fix", "set offsets graph 0.04, graph 0.04, graph 0.08, "
                      "graph 0.08", f"set xtics ({xticks}) norotate", "set xlabel 'distinct lines' offset 0,0.3"]
        mark = cachemark(results, shape, cache[0]) if cache and shape != YOURFILES else None
        if mark is not None:
            lines += [f"set arrow 1 from {mark:g}, graph 0 to {mark:g}, graph 1 nohead dt 3 lw 1.5 lc rgb '#555555'",
                      f"set label 1 {quote(cachelabel(cache[1]))} at {mark:g}, graph 0.97 right offset -0.5,0 "
                      "font ',8' tc rgb '#555555'"]
        for column, (figurekey, label) in enumerate(PANELS, 1):
            memory = figurekey == "bytes_per_line"
            plots = []
            for number, key in enumerate(order):
                colour, linewidth, point, dash = style[key]
                drawn = "points" if shape == YOURFILES else "linespoints"
                plots.append(f"$data{row}_{number} using 1:{column + 1} with {drawn} lw {linewidth} "
                             f"pt {point} ps 0.8 dt {dash} lc rgb '{colour}' title {quote(key)}")
                # gnuplot 5.4 crashes on labels that are all undefined, so
                # only the stores with a figure above the cut get them.
                if memory and (row, number) in cut:
                    plots.append(f"$data{row}_{number} using 1:($5 > {MEMORYTOP} ? $4 : NaN) with points "
                                 f"pt {CUTMARK} ps 1.4 lc rgb '{colour}' notitle")
                    plots.append(f"$data{row}_{number} using 1:($5 > {MEMORYTOP} ? $4 : NaN):"
                                 f"(sprintf('%.0f', $5)) with labels offset 0,-1.1 font ',8' tc rgb '{colour}' "
                                 "notitle")
            if row == len(shapes) - 1 and column == len(PANELS):
                lines.append("set key at screen 0.5, screen 0.01 center bottom vertical maxrows 2 width 1 samplen 3")
            note = f" (cut at {MEMORYTOP}, ▲ above)" if memory else ""
            lines.append(f"set title {quote(f'{shape}: {label}{note}')}")
            lines.append(f"set ylabel {quote(label)}")
            lines.append(f"set yrange [*:{MEMORYTOP}]" if memory else "set yrange [*:*]")
            lines.append("plot " + ", \\\n     ".join(plots))
        if mark is not None:
            lines += ["unset arrow 1", "unset label 1"]
    lines.append("unset multiplot")
    return "\n".join(lines) + "\n"


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
