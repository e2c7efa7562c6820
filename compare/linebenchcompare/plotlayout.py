"""The plot's geometry: the picture's size in pixels, its log axes and their
ticks, the x axis of a row, under curves or under the files' points, and the
room that names and the key take.
"""

import math

from .plotstyle import quote

# The picture, in pixels.  CHARWIDTH is the widest that an average
# character of the sans font at each size comes to in pngcairo, rounded up.
WIDTH = 1500
CHARWIDTH = {10: 7.5, 8: 6.0}
LINEHEIGHT = 18
TITLEBAND, PANELTITLE, GRAPHHEIGHT = 44, 26, 250
CURVESBELOW = 58  # the tick labels and the axis label under a curve panel
LEFT, RIGHT = 56, 18  # beside each graph: its tick labels; the gap to the next
PANELWIDTH = WIDTH / 3  # a column of panels: store time, lookup time, memory
GRAPHWIDTH = PANELWIDTH - LEFT - RIGHT
# Characters of a file's name under its points: a name is shortened to its
# file's room if it keeps SHORTEST, and stands upright, of up to NAMELIMIT,
# where it would keep fewer.
SHORTEST, NAMELIMIT = 12, 32
# Every log axis spans at least NARROWEST times its lowest figure, with a
# margin of MARGIN of its width at each end, and takes the coarsest of these
# tick sets that puts four ticks on it, or the finest, which puts three on
# any axis NARROWEST wide: its widest step is 6 to 8, and (8/6)^3 < 2.5.
NARROWEST, MARGIN = 2.5, 0.06
MANTISSAS = [(1,), (1, 3), (1, 2, 5), (1, 2, 3, 5), (1, 1.5, 2, 3, 5, 7), (1, 1.2, 1.5, 2, 2.5, 3, 4, 5, 6, 8)]


def countlabel(count):
    """2000 -> 2k, 5000000 -> 5M: short tick labels."""
    for size, suffix in ((10**9, "G"), (10**6, "M"), (10**3, "k")):
        if count >= size:
            return f"{count / size:g}{suffix}"
    return f"{count:g}"


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


def ticklabels(groups, worded):
    """The names under the files' points, shortened to their file's room if
    that leaves SHORTEST characters; else upright, of at most NAMELIMIT;
    and the pixels under the panel that they take, with a line more for the
    axis's label where worded.  Under curves: the pixels of the tick labels
    and the axis's label."""
    if groups is None:
        return None, False, CURVESBELOW
    below = CURVESBELOW - LINEHEIGHT - 10 if worded else 0
    room = int(0.95 * GRAPHWIDTH / len(groups) / CHARWIDTH[10])
    if room >= SHORTEST or all(len(label) <= room for label, _ in groups):
        return [shortname(label, room) for label, _ in groups], False, LINEHEIGHT + 10 + below
    labels = [shortname(label, NAMELIMIT) for label, _ in groups]
    return labels, True, math.ceil(max(len(label) for label in labels) * CHARWIDTH[10]) + 14 + below


def keycolumns(titles):
    """(columns, rows) of the key: as many columns as the width holds."""
    column = CHARWIDTH[10] * (max(len(t) for t in titles) + 6) + 12
    columns = max(1, min(len(titles), int((WIDTH - 40) // column)))
    return columns, -(-len(titles) // columns)


def xaxis(found, labels, upright):
    """(lowest, highest, settings) of a row's x axis: the distinct lines on
    a log scale under curves; under the files' points, a file's room each,
    its tick at the middle with its name, and a line between the rooms."""
    if labels is None:
        low, high, ticks = logaxis([r.distinct for r in found])
        return low, high, ["set logscale x", f"set xrange [{low:g}:{high:g}]",
                           "set xtics (" + ", ".join(f"{quote(countlabel(t))} {t:g}" for t in ticks)
                           + ") scale 1 norotate", "set grid xtics ytics", "unset arrow"]
    turn = "rotate by 90 right" if upright else "norotate"
    return 0.5, len(labels) + 0.5, [
        "unset logscale x", f"set xrange [0.5:{len(labels) + 0.5:g}]",
        "set xtics (" + ", ".join(f"{quote(label)} {n}" for n, label in enumerate(labels, 1)) + f") scale 0 {turn}",
        "set grid noxtics ytics", "unset arrow"] + [
        f"set arrow {n + 10} from {n + 0.5:g}, graph 0 to {n + 0.5:g}, graph 1 nohead dt 3 lc rgb '#c0c0c0' back"
        for n in range(1, len(labels))]
