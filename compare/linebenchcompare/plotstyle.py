"""How the plot draws each store: its colour by family, its line width, its
point shape and its dash, and the hollow, faint look of a time that carries
no verdict.
"""

import colorsys
import re

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
# square (5): gnuplot's own filled types and its plus, cross and star, the
# filled pentagon last, as small it looks much like the circles; never an open
# type, the outline of a filled one, which is how a time without a verdict is
# drawn; cairo draws no other type.  Then characters of the font, which
# gnuplot draws as points, so that each of 42 stores has a shape of its own.
POINTS = [9, 11, 13, 1, 2, 3, 15] + list("★♥♣♠ABCDEFGHJKLMNPRSTUVWXYZ#%&@$§")
OWNDASH = 2  # the dash type of a store given as NAME=PATH
# A time without a verdict: its shape's outline where it has one (gnuplot's
# filled types and their open twins), in its colour mixed with FAINT white.
HOLLOW = {5: 4, 7: 6, 9: 8, 11: 10, 13: 12, 15: 14, "★": "☆", "♥": "♡", "♣": "♧", "♠": "♤"}
FAINT = 0.6


def quote(text):
    """A gnuplot string in single quotes, where only '' stands for '."""
    return "'" + re.sub(r"[\x00-\x1f\x7f]", "?", str(text)).replace("'", "''") + "'"


def drawingorder(stores):
    """The stores' keys, baselines first by family, then the project's stores,
    so that their curves lie on top, and last the dashed ones given as
    NAME=PATH, whose thin dashes over a thick curve of the same figures leave
    both in sight."""
    families = list(SHADES)
    return [s.key for s in sorted(stores, key=lambda s: (not s.checkadt, s.key in STRONG, families.index(s.family)))]


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
        key, family = store.key, store.family
        if key in STRONG and store.checkadt:
            chosen[key] = (STRONG[key][0], 3.0, STRONG[key][1], 1)
            continue
        chosen[key] = (shade(family, taken[family]), 1.5, next(points), 1 if store.checkadt else OWNDASH)
        taken[family] += 1
    return chosen


def faint(style):
    """A store's style for its figures without a verdict: hollow and pale."""
    colour, linewidth, point, dash = style
    mixed = (round(int(colour[i:i + 2], 16) * (1 - FAINT) + 255 * FAINT) for i in (1, 3, 5))
    return "#" + "".join(f"{c:02x}" for c in mixed), linewidth, HOLLOW.get(point, point), dash


def pointtype(point):
    """gnuplot's words for a point shape: its number, or its character."""
    return quote(point) if isinstance(point, str) else str(point)
