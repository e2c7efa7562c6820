"""linebench-compare's plot, read back from the results.gp it writes: every store
of a panel its own colour and point shape, the families by hue, no label
outside its panel or on a point, three labelled ticks on every number axis,
the user's files as points grouped by file and no bar on a log axis, the
memory cut, the cache mark, figures without a verdict drawn hollow and faint,
and a store over an equal one in sight.  The labels' widths and the colours
are those of the picture that gnuplot draws, read back from its PNG."""

import colorsys
import dataclasses
import math
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

from samples import store, summary  # (puts the package on the path)
from linebenchcompare import plot, plotstyle
from linebenchcompare.records import Cache, Fastest, Figure, Untested

BASELINES = [("REDBLACK", "tree"), ("HASH", "chained hash"), ("STDSET", "tree"), ("STDHASH", "chained hash"),
             ("ABSLFLAT", "open addressing"), ("BOOSTFLAT", "open addressing"), ("ABSLBTREE", "tree"),
             ("JUDYSL", "trie"), ("HATTRIE", "trie"), ("DENSEHASH", "open addressing"),
             ("SPARSEHASH", "open addressing")]


def result(file, key, shape, memory=80.0, distinct=1000, storeus=0.2, lookupus=0.1):
    return summary(file, key, shape, distinct, storeus, lookupus, memory)


def l3(size):
    """An L3 cache of size bytes."""
    return Cache(size, 3, "sysfs")


def untested(why):
    """A file's fastest on a figure, untested for why (None: tested)."""
    return Fastest("HASH", [], False, {}, why)


def readpng(path):
    """(width, rows of (red, green, blue)) of an 8-bit RGB or RGBA PNG, as
    pngcairo writes them."""
    with open(path, "rb") as source:
        data = source.read()
    at, chunks = 8, []
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", data[at + 8:at + 18])
        elif kind == b"IDAT":
            chunks.append(data[at + 8:at + 8 + length])
        at += 12 + length
    size = {2: 3, 6: 4}[colour]
    raw, stride, rows, previous = zlib.decompress(b"".join(chunks)), width * size, [], bytes(width * size)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            left, up = (line[x - size] if x >= size else 0), previous[x]
            corner = previous[x - size] if x >= size else 0
            guess = left + up - corner
            paeth = min((abs(guess - left), 0, left), (abs(guess - up), 1, up), (abs(guess - corner), 2, corner))[2]
            line[x] = (line[x] + (0, left, up, (left + up) // 2, paeth)[kind]) & 255
        previous = bytes(line)
        rows.append([tuple(line[x:x + 3]) for x in range(0, stride, size)])
    return width, rows


def measure(texts):
    """How pngcairo draws text, as the plot is drawn: the ink width in pixels
    of each (text, font size), and per font size the pixels of a character
    of offset across and up, measured on the rendered picture: a row of 50
    pixels a text, then per size an x, one offset 10 across, one 1 up."""
    texts = list(dict.fromkeys(texts))
    sizes = sorted({size for _, size in texts})
    shifted = [(size, across, up) for size in sizes for across, up in ((0, 0), (10, 0), (0, 1))]
    rows = texts + [("x", size) for size, _, _ in shifted]
    height = 50 * len(rows) + 50
    lines = [f"set terminal pngcairo noenhanced size 600,{height} font 'sans,10'", "set output 'm.png'",
             "unset border", "unset tics", "set xrange [0:1]", "set yrange [0:1]"]
    for number, (text, size) in enumerate(rows):
        across, up = shifted[number - len(texts)][1:] if number >= len(texts) else (0, 0)
        lines.append(f"set label {number + 1} '{text.replace(chr(39), chr(39) * 2)}' at screen 0.05, screen "
                     f"{1 - (50 * number + 50) / height:.6f} left font ',{size}' offset {across},{up}")
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run(["gnuplot"], input="\n".join(lines + ["plot 2 notitle"]), text=True, cwd=folder, check=True)
        width, pixels = readpng(os.path.join(folder, "m.png"))
    boxes = []  # left, right and top of each row's ink, the top from the row's own height
    for number in range(len(rows)):
        ink = [(x, y) for y in range(50 * number + 25, 50 * number + 60) for x in range(width)
               if pixels[y][x] != (255, 255, 255)]
        boxes.append((min(x for x, _ in ink), max(x for x, _ in ink) + 1, min(y for _, y in ink) - 50 * number))
    widths = {text: right - left for text, (left, right, _) in zip(texts, boxes)}
    units = {}
    for number, size in enumerate(sizes):
        still, across, up = boxes[len(texts) + 3 * number:len(texts) + 3 * number + 3]
        units[size] = ((across[0] - still[0]) / 10, still[2] - up[2])
    return widths, units


def tolerant(text):
    return float("nan") if text == "NaN" else float(text)


def readscript(script):
    """The plots of a results.gp with the settings each is drawn with: the
    canvas, the graph's edges in pixels from the left and the top, each
    axis's range, log scale and ticks (label, place), the labels, and the
    plot's items, each with the rows of its data block."""
    blocks, plots = {}, []
    state = {"log": set(), "labels": {}, "ticks": {}, "range": {}, "margin": {}, "rotate": {}, "xlabel": ""}
    lines = iter(script.replace("\\\n", "").splitlines())
    for line in lines:
        if line.endswith("<< EOD"):
            name = line.split()[0]
            blocks[name] = []
            for row in lines:
                if row == "EOD":
                    break
                blocks[name].append([tolerant(value) for value in row.split()])
            continue
        words = line.split()
        if line.startswith("set terminal"):
            state["size"] = tuple(int(n) for n in re.search(r"size (\d+),(\d+)", line).groups())
        elif re.match(r"set [lrtb]margin at screen", line):
            state["margin"][words[1][0]] = float(words[-1])
        elif line.startswith("set logscale"):
            state["log"] |= set(words[2])
        elif line.startswith("unset logscale"):
            state["log"] -= set(words[2] if len(words) > 2 else "xy")
        elif re.match(r"set [xy]range \[", line):
            state["range"][line[4]] = tuple(float(n) for n in re.search(r"\[(.*):(.*)\]", line).groups())
        elif re.match(r"set [xy]tics \(", line):
            listed = line[line.index("(") + 1:line.rindex(")")]
            state["ticks"][line[4]] = [(label.replace("''", "'"), float(place))
                                       for label, place in re.findall(r"'((?:[^']|'')*)' ([-+.e\d]+)", listed)]
            state["rotate"][line[4]] = "rotate by 90" in line
        elif line.startswith("set xlabel '"):
            state["xlabel"] = re.match(r"set xlabel '((?:[^']|'')*)'", line).group(1)
        elif line == "unset tics":
            state["ticks"] = {}
        elif line == "unset label":
            state["labels"] = {}
        elif line.startswith("set label"):
            found = re.match(r"set label (\d+) '((?:[^']|'')*)' at ((?:graph |screen )?\S+), ((?:graph |screen )?\S+) "
                             r"(left|right|center)(.*)", line)
            number, text, x, y, justified, rest = found.groups()
            offset = re.search(r"offset ([-.\d]+),([-.\d]+)", rest)
            size = re.search(r"font ',(\d+)'", rest)
            state["labels"][number] = {"text": text.replace("''", "'"), "x": x, "y": y, "justified": justified,
                                       "rotated": "rotate by 90" in rest,
                                       "offset": tuple(float(n) for n in offset.groups()) if offset else (0, 0),
                                       "size": int(size.group(1)) if size else 10}
        elif line.startswith("plot "):
            items = []
            for item in re.split(r",\s*(?=\$|keyentry|NaN)", line[5:]):
                data = re.match(r"(\$\w+)", item)
                colour = re.search(r"lc rgb '(#[0-9a-f]{6})'", item)
                point = re.search(r" pt (\d+|'[^']+')", item)
                dash = re.search(r" dt (\d+)", item)
                title = re.search(r"title '((?:[^']|'')*)'", item)
                items.append({"data": blocks[data.group(1)] if data else None, "text": item,
                              "colour": colour and colour.group(1), "point": point and point.group(1),
                              "dash": dash and int(dash.group(1)), "title": title and title.group(1),
                              "using": re.search(r"using (\S+)", item) and re.search(r"using (\S+)", item).group(1)})
            plots.append({"items": items, "size": state["size"], "log": set(state["log"]),
                          "labels": list(state["labels"].values()), "ticks": dict(state["ticks"]),
                          "range": dict(state["range"]), "rotate": dict(state["rotate"]),
                          "margin": dict(state["margin"]), "xlabel": state["xlabel"]})
    return plots


def panels(script):
    """The plots that draw figures: all but the key's."""
    return [p for p in readscript(script) if any(item["data"] for item in p["items"])]


def key(script):
    """(title, colour, point, dash) of every entry of the key."""
    return [(item["title"].replace("''", "'"), item["colour"], item["point"], item["dash"])
            for p in readscript(script) for item in p["items"] if item["text"].startswith("keyentry")]


def column(item, axis=1):
    """The data column an item draws as y (as x with axis 0)."""
    return int(item["using"].split(":")[axis])


def drawnpoints(panel):
    """Every point a panel draws: (pixels from the left, from the top, item)."""
    return [(pixels(panel, "x", row[column(item, 0) - 1]), pixels(panel, "y", row[column(item) - 1]), item)
            for item in panel["items"] if item["data"] for row in item["data"] if not math.isnan(row[column(item) - 1])]


def stores(panel):
    """Per data block (a store) of a panel: its items."""
    drawn = {}
    for item in panel["items"]:
        if item["data"]:
            drawn.setdefault(id(item["data"]), []).append(item)
    return list(drawn.values())


def fraction(panel, axis, value):
    low, high = panel["range"][axis]
    if axis in panel["log"]:
        return math.log(value / low) / math.log(high / low)
    return (value - low) / (high - low)


def pixels(panel, axis, value):
    """Where value lies on the canvas, in pixels from its left or its top."""
    width, height = panel["size"]
    margin = panel["margin"]
    if axis == "x":
        return width * (margin["l"] + (margin["r"] - margin["l"]) * fraction(panel, "x", value))
    return height * (1 - margin["b"] - (margin["t"] - margin["b"]) * fraction(panel, "y", value))


def edges(panel):
    """The graph's left, right, top and bottom, in pixels."""
    width, height = panel["size"]
    margin = panel["margin"]
    return width * margin["l"], width * margin["r"], height * (1 - margin["t"]), height * (1 - margin["b"])


def ladder(shape, keys, rungs, memory=lambda key, distinct: 80.0):
    """Results of keys on a shape's rungs, each store's times its own."""
    return [result(f"{shape}-{n}.txt", k, shape, memory=memory(k, n), distinct=n, storeus=0.1 * (i + 1) * n ** 0.1,
                   lookupus=0.05 * (i + 1)) for n in rungs for i, k in enumerate(keys)]


class styles(unittest.TestCase):
    def test_gnuplotstringsdoubletheirquotes(self):
        self.assertEqual(plotstyle.quote("it's\n"), "'it''s?'")

    def test_everystoreofapanelhasitsowncolourandpointshape(self):
        """Every baseline, stores of the user's own and three given as
        NAME=PATH, 16 in all, past gnuplot's 15 point types: in every panel,
        on curves and on bars, no two stores share a colour or a point
        shape, and the key shows each as its panel draws it."""
        given = ([store(k, f) for k, f in BASELINES] + [store("MINE", "open addressing"), store("TRIE2", "trie")]
                 + [store(f"LOCAL{n}", checkadt=False) for n in range(3)])
        keys = [s.key for s in given]
        results = (ladder("unique", keys, [10**5, 3 * 10**5, 10**6]) + ladder("ascending", keys, [3 * 10**5])
                   + [result(f"f{n}.txt", k, "your files", storeus=0.1 * (i + 1), distinct=n)
                      for n in (100, 2000) for i, k in enumerate(keys)])
        script = plot.gnuplotscript(results, given, "o.png")
        drawn = panels(script)
        self.assertEqual(len(drawn), 9)
        entries = {title: (colour, point, dash) for title, colour, point, dash in key(script)}
        self.assertEqual(sorted(entries), sorted(keys))
        for panel in drawn:
            seen = stores(panel)
            self.assertEqual(len(seen), len(keys))
            colours = [{item["colour"] for item in items} for items in seen]
            points = [{item["point"] for item in items if item["point"]} for items in seen]
            self.assertTrue(all(len(c) == 1 and len(p) == 1 for c, p in zip(colours, points)))
            self.assertEqual(len({c.pop() for c in colours}), len(keys), "two stores share a colour")
            self.assertEqual(len({p.pop() for p in points}), len(keys), "two stores share a point shape")
            for items in seen:
                # whose a block is: the store time of its first row, each store's own
                storeus = items[0]["data"][0][1]
                owner = next(r.store for r in results if math.isclose(r.median(Figure.STORE), storeus, rel_tol=1e-5))
                point = next(item["point"] for item in items if item["point"])
                self.assertEqual(entries[owner][:2], (items[0]["colour"], point), owner)
        # gnuplot's open types, the outlines of its filled ones, are the times without a verdict
        self.assertFalse({point for _, point, _ in entries.values()} & {"4", "6", "8", "10", "12", "14"})
        self.assertEqual(entries["HASH"][0], "#1a5fb4")
        self.assertEqual(entries["REDBLACK"][0], "#c0392b")
        self.assertEqual([entries[k][2] for k in ("STDSET", "LOCAL0")], [1, 2])

    def test_familiessharehuestheprojectsstoresstandout(self):
        """Warm for the trees, blue for the chained hashes, green for open
        addressing, violet for the tries, grey for no family, however many
        stores a family has; the project's two stores thick."""
        given = [store(k, f) for k, f in BASELINES] + [store(f"OA{n}", "open addressing") for n in range(9)]
        given += [store(f"X{n}") for n in range(7)]
        chosen = plotstyle.styles(given)
        hues = {"tree": (300, 60), "chained hash": (180, 240), "open addressing": (90, 180), "trie": (240, 300)}
        for s in given:
            red, green, blue = (int(chosen[s.key][0][i:i + 2], 16) / 255 for i in (1, 3, 5))
            hue, _, saturation = colorsys.rgb_to_hls(red, green, blue)
            if s.family == "other":
                self.assertLess(saturation, 0.1, s.key)
                continue
            low, high = hues[s.family]
            self.assertTrue(low <= hue * 360 <= high if low < high else hue * 360 >= low or hue * 360 <= high,
                            (s.key, hue * 360))
        self.assertEqual(len({chosen[s.key][0] for s in given}), len(given))
        for strong, baseline in (("REDBLACK", "STDSET"), ("HASH", "STDHASH")):
            self.assertGreater(chosen[strong][1], chosen[baseline][1])
        self.assertEqual(plotstyle.drawingorder([store("HASH", "chained hash"), store("JUDYSL", "trie"),
                                                 store("STDSET", "tree")]), ["STDSET", "JUDYSL", "HASH"])


class layout(unittest.TestCase):
    def assertinside(self, panel, label, widths, units):
        """The label's text lies within the graph: its width from its
        justification, its height along it when it stands upright, each as
        measured on pngcairo's picture.  Returns the box it takes: left,
        right, top, bottom."""
        left, right, top, bottom = edges(panel)
        size = label["size"]
        across, up = units[size]
        if label["x"].startswith("graph"):
            x = left + (right - left) * float(label["x"].split()[1])
        else:
            x = pixels(panel, "x", float(label["x"]))
        x += label["offset"][0] * across
        if label["y"].startswith("graph"):
            y = bottom - (bottom - top) * float(label["y"].split()[1])
        else:
            y = pixels(panel, "y", float(label["y"])) - label["offset"][1] * up
        length = widths[(label["text"], size)]
        along = {"left": (0, length), "right": (-length, 0), "center": (-length / 2, length / 2)}[label["justified"]]
        if label["rotated"]:
            span, rise = (x - size, x + size / 2), (y - along[1], y - along[0])
        else:
            span, rise = (x + along[0], x + along[1]), (y - size / 2, y + size / 2)
        self.assertTrue(top <= rise[0] and rise[1] <= bottom, label)
        self.assertTrue(left <= span[0] and span[1] <= right, (label, left, right))
        return span + rise

    def test_nolabelleavesitspanelorliesonapoint(self):
        """The figures above the memory cut at the first and the last rung,
        two at one rung, and on a file's point; the cache's mark near either
        end, before the first rung and on a shape of one rung; the names of
        one, three and eight files."""
        keys = ["REDBLACK", "HASH", "WIDE", "STDSET"]
        given = [store("REDBLACK", "tree"), store("HASH", "chained hash"), store("WIDE"), store("STDSET", "tree")]
        long = "-of-the-web-server-of-the-shop.txt"
        scripts = []
        for cache, rungs, files in ((8_000_000, [1000, 3000, 10000, 30000], ["a-very-long-name-of-a-file.txt"]),
                                    (300_000_000, [1000, 3000, 10000, 30000], [f"log{n}{long}" for n in range(3)]),
                                    (50_000_000, [1000, 10000], [f"part{n}{long}" for n in range(8)]),
                                    (1024, [1000, 10000], ["x.txt"])):
            def memory(key, distinct):
                # HASH's fixed table over few lines; WIDE's growing per line
                return {"HASH": 8.4613e6 / distinct, "WIDE": 12345.6 * distinct / rungs[-1]}.get(key, 80.0)

            results = ladder("zipf", keys, rungs, memory) + ladder("ascending", keys, rungs[-1:], memory) + [
                result(file, k, "your files", memory=memory(k, 500), distinct=500) for file in files for k in keys]
            scripts.append((cache, plot.gnuplotscript(results, given, "o.png", l3(cache))))
        widths, units = measure([(label["text"], label["size"]) for _, script in scripts for panel in panels(script)
                                 for label in panel["labels"]]
                                + [(text, 10) for _, script in scripts for panel in panels(script)
                                   for ticks in panel["ticks"].values() for text, _ in ticks])
        for cache, script in scripts:
            written = [label["text"] for panel in panels(script) for label in panel["labels"]]
            cachewords = [panel["xlabel"] for panel in panels(script) if "L3 cache full at" in panel["xlabel"]]
            self.assertEqual(len(cachewords), 6, cache)
            self.assertIn("12346", written)
            self.assertIn("16923", written)
            for panel in panels(script):
                boxes = [self.assertinside(panel, label, widths, units) for label in panel["labels"]]
                for n, (left, right, top, bottom) in enumerate(boxes):
                    for other in boxes[n + 1:]:
                        self.assertTrue(right <= other[0] or other[1] <= left or bottom <= other[2]
                                        or other[3] <= top, "two labels overlap")
                    for x, y, _ in drawnpoints(panel):
                        self.assertFalse(left < x + 4 and x - 4 < right and top < y + 4 and y - 4 < bottom,
                                         ("a label on a point", panel["labels"][n]))
                for axis in "xy":
                    self.assertticklabelsapart(panel, axis, widths)

    def assertticklabelsapart(self, panel, axis, widths):
        """Tick labels on the canvas, and apart from each other: those of y
        between the graph and the column's edge, those of x side by side
        unless they stand upright."""
        width, height = panel["size"]
        ticks = panel["ticks"].get(axis, [])
        if axis == "y":
            for text, place in ticks:
                self.assertLessEqual(widths[(text, 10)] + 8, width * panel["margin"]["l"] % (width / 3), text)
        elif not panel["rotate"]["x"]:
            spans = sorted((pixels(panel, "x", place) - widths[(text, 10)] / 2,
                            pixels(panel, "x", place) + widths[(text, 10)] / 2) for text, place in ticks)
            self.assertTrue(0 <= spans[0][0] and spans[-1][1] <= width, ticks)
            self.assertTrue(all(a[1] <= b[0] for a, b in zip(spans, spans[1:])), ticks)

    def test_everynumberaxishasthreelabelledticks(self):
        """Figures all within 2% of each other, spanning five decades, one
        store alone, a ladder of two close rungs and one of many, the
        user's files with close lookup times."""
        given = [store("A"), store("B"), store("HASH", "chained hash")]
        cases = [
            [result(f"u{n}.txt", k, "unique", distinct=n, storeus=0.2 + 0.001 * i, lookupus=0.1)
             for n in (10**5, 3 * 10**5) for i, k in enumerate("AB")],
            [result(f"z{n}.txt", k, "zipf", distinct=n, storeus=10.0 ** -(i * 2), lookupus=10.0 ** (i * 3 - 2),
                    memory=5 * 10.0 ** (i * 2)) for n in (3000, 10000) for i, k in enumerate("AB")],
            [result(f"u{n}.txt", "A", "uniform", distinct=n) for n in (10**3, 10**4, 10**5, 10**6, 10**7, 10**8)],
            [result(f"{name}.txt", k, "your files", distinct=n, storeus=0.3, lookupus=0.101 + 0.002 * i,
                    memory=90 + i) for name, n in (("a", 20), ("b", 200000), ("c", 9000)) for i, k in enumerate("AB")],
            [result("h.txt", "HASH", "your files", memory=8000.0)],
            # two rungs of one count, as a program of fixed figures gives
            [result(f"s{n}.txt", k, "zipf", distinct=500) for n in range(2) for k in "AB"],
        ]
        for results in cases:
            for panel in panels(plot.gnuplotscript(results, given, "o.png")):
                for axis in "xy":
                    ticks = panel["ticks"][axis]
                    low, high = panel["range"][axis]
                    inside = [label for label, place in ticks if label and low <= place <= high]
                    if axis == "x" and "x" not in panel["log"]:
                        self.assertEqual(len(inside), len({r.file.name for r in results}))
                    else:
                        self.assertGreaterEqual(len(inside), 3, (axis, ticks, low, high, results[0]))

    def test_theusersfilesandaoneRungshapearepointsgroupedbyfile(self):
        """One point per store and file, in its file's room, apart from the
        others, at its figure, and no bar on a log axis; the memory above
        the cut is drawn at the cut and written beside it.  A shape of two
        rungs draws curves."""
        given = [store("HASH", "chained hash"), store("it's"), store("C", "tree")]
        files = ["a.txt", "b.txt", "c.txt"]
        results = [result(f, k, "your files", storeus=0.1 * (i + 1) + 0.01 * n, lookupus=0.02 * (n + 1),
                          memory=8461.3 if (k, f) == ("HASH", "a.txt") else 60.0 + i)
                   for n, f in enumerate(files) for i, k in enumerate(s.key for s in given)]
        results += [result("asc.txt", k, "ascending", distinct=300000) for k in ("HASH", "C")]
        results += [result(f"u{n}.txt", k, "unique", distinct=n) for n in (10**5, 3 * 10**5) for k in ("HASH", "C")]
        script = plot.gnuplotscript(results, given, "/tmp/it's.png")
        self.assertIn("set output '/tmp/it''s.png'", script)
        self.assertNotIn("boxxyerror", script)
        self.assertNotIn("boxes", script)
        drawn = panels(script)
        self.assertEqual(len(drawn), 9)
        for panel in drawn[:3]:
            self.assertEqual(panel["ticks"]["x"], [(f, n) for n, f in enumerate(files, 1)])
            self.assertFalse(any("lines" in item["text"] for item in panel["items"]))
            places = []
            for item in panel["items"]:
                self.assertEqual(len(item["data"]), 3)
                for row in item["data"]:
                    x, figure = row[column(item, 0) - 1], row[column(item) - 1]
                    number = round(x)
                    self.assertTrue(number - 0.5 < x < number + 0.5)
                    places.append(x)
                    self.assertTrue(any(math.isclose(figure, min(r.median(k), plot.MEMORYTOP))
                                        for r in results if r.file.name == files[number - 1]
                                        for k in (Figure.STORE, Figure.LOOKUP, Figure.MEMORY)), figure)
            self.assertEqual(len(set(places)), 9, "two points share a place")
        memory = drawn[2]
        self.assertEqual([label["text"] for label in memory["labels"]], ["8461"])
        self.assertIn(plot.MEMORYTOP, [row[3] for item in memory["items"] for row in item["data"]])
        for panel in drawn[3:6]:
            self.assertEqual(len(panel["ticks"]["x"]), 1)
        for panel in drawn[6:]:
            self.assertTrue(all("linespoints" in item["text"] for item in panel["items"]))
            self.assertIn("x", panel["log"])

    def test_afigurewithoutaverdictishollowandfaint(self):
        """Figures too short to time or of too few runs: hollow and faint
        points and lines, and the key says what that means; the others, and
        memory, which carries no verdict of its kind, drawn in full.  Faint
        is the colour 60% of the way to white: HASH's #1a5fb4 (26, 95, 180)
        goes to (26 + 0.6 × 229, 95 + 0.6 × 160, 180 + 0.6 × 75) = #a3bfe1,
        the first tree's #e8891c (232, 137, 28) to #f6d0a4; hollow, HASH's
        filled square (5) its outline (4), the tree's circle (9) its (8)."""
        given = [store("HASH", "chained hash"), store("C", "tree")]
        results = ladder("unique", ["HASH", "C"], [1000, 10000]) + [
            result("f.txt", k, "your files", storeus=0.1 * (i + 1)) for i, k in enumerate(("HASH", "C"))]
        winners = {("unique-1000.txt", Figure.STORE): untested(Untested.TOOSHORT),
                   ("unique-1000.txt", Figure.LOOKUP): untested(None),
                   ("f.txt", Figure.STORE): untested(Untested.TOOFEW)}
        drawn = {"#1a5fb4": ("#a3bfe1", "4"), "#e8891c": ("#f6d0a4", "8")}
        expected = [({10000}, True), ({1000, 10000}, False), ({1000, 10000}, False), (set(), True), ({1000}, False),
                    ({1000}, False)]
        with tempfile.TemporaryDirectory() as folder:
            png = os.path.join(folder, "o.png")
            script = plot.gnuplotscript(results, given, png, winners=winners)
            subprocess.run(["gnuplot"], input=script, text=True, check=True)
            _, picture = readpng(png)
        for panel, (full, pale) in zip(panels(script), expected):
            for items in stores(panel):
                colours = {item["colour"] for item in items}
                strong = next(colour for colour, (faint, _) in drawn.items() if {colour, faint} & colours)
                faint, hollow = drawn[strong]
                solid = [item for item in items if item["colour"] == strong]
                self.assertEqual({row[0] for item in solid for row in item["data"]
                                  if not math.isnan(row[column(item) - 1])}, full)
                self.assertEqual([item["point"] for item in items if item["colour"] == faint], [hollow] * pale)
        # and the picture holds each store's colour and its faint one
        painted = {f"#{red:02x}{green:02x}{blue:02x}" for row in picture for red, green, blue in row}
        self.assertLessEqual({"#1a5fb4", "#a3bfe1", "#e8891c", "#f6d0a4"}, painted)
        self.assertIn("'hollow, faint: a time without a verdict, too short or too few runs'", script)
        self.assertNotIn("hollow", plot.gnuplotscript(results, given, "o.png"))

    def test_astoreoveranequalonestaysinsight(self):
        """HASH and an earlier build of it with the same figures: at every
        rung their points lie a point's width apart, and the dashed one is
        drawn over the thick one."""
        given = [store("HASH-before", checkadt=False), store("HASH", "chained hash")]
        results = [dataclasses.replace(r, store=key) for r in ladder("unique", ["HASH"], [1000, 3000, 10000])
                   for key in ("HASH", "HASH-before")]
        for panel in panels(plot.gnuplotscript(results, given, "o.png")):
            points = drawnpoints(panel)
            self.assertEqual(len(points), 6)
            self.assertEqual([item["dash"] for _, _, item in points[::3]], [1, 2])  # solid, then dashed
            for x, y, _ in points[:3]:
                self.assertGreaterEqual(min(math.hypot(x - x2, y - y2) for x2, y2, _ in points[3:]), 8)

    def test_thecachemarkstandswherethehungrieststorefillsit(self):
        """On a curve's axis a line where the cache fills; before the first
        rung or where a shape has one rung, words under the axis that say
        where."""
        results = [result("u-1e3.txt", "HASH", "unique", memory=100, distinct=1000),
                   result("u-1e3.txt", "LEAN", "unique", memory=10, distinct=1000),
                   result("u-1e4.txt", "HASH", "unique", memory=200, distinct=10000),
                   result("u-1e4.txt", "LEAN", "unique", memory=20, distinct=10000)]
        self.assertEqual(plot.cachemark(results, "unique", 1_000_000), 5000)
        self.assertIsNone(plot.cachemark(results, "unique", 10_000_000))
        given = [store("HASH", "chained hash"), store("LEAN", "trie")]
        script = plot.gnuplotscript(results, given, "o.png", l3(1_000_000))
        self.assertIn("set arrow 1 from 5000, graph 0 to 5000, graph 1", script)
        self.assertIn("set xlabel 'distinct lines; dotted: L3 cache full at 5k'", script)
        self.assertIn("set xlabel 'distinct lines; L3 cache full at 500'", plot.gnuplotscript(
            results, given, "o.png", l3(50_000)))
        # 300,000 lines of 100 bytes fill 1 MB at 10,000
        script = plot.gnuplotscript([result("a.txt", "HASH", "ascending", memory=100, distinct=300000)],
                                    given, "o.png", l3(1_000_000))
        self.assertIn("set xlabel 'L3 cache full at 10k distinct lines'", script)
        self.assertNotIn("set arrow 1", script)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
