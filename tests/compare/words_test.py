"""linebench-compare's written words: what a user reads in results.md and the
terminal (the bold winner, the ≈ of stores level with the fastest, the
notes), Markdown escaping; and results.csv read back."""

import contextlib
import dataclasses
import io
import json
import os
import re
import sys
import tempfile
import unittest

from samples import SETTINGS, measuredfile, report, reportof, store  # (puts the package on the path)
from linebenchcompare import earlierrun, markdown, medians, terminal, verdicts
from linebenchcompare.errors import DamagedResults
from linebenchcompare.markdown import mdescape
from linebenchcompare.records import Figure


class words(unittest.TestCase):
    def test_markdownescapesbarsandmarks(self):
        self.assertEqual(mdescape("a|b*c_d`e\nf"), "a\\|b\\*c\\_d\\`e f")


def measured(file, store, storeus, lookupus, lines=10**6):
    """A file and store's figures: a time, the same in every run, or the list
    of its runs."""
    return {"file": file, "store": store, "lines": lines, "store_us": storeus, "lookup_us": lookupus}


def shown(measurements, runs=13):
    """results.md and the terminal's answer for runs of these figures, as
    linebench-compare writes them: getline 0.050 µs, 80 bytes a line, 1000
    distinct lines everywhere."""
    def runsof(figure):
        return figure if isinstance(figure, list) else [figure] * runs

    files = [measuredfile(name) for name in dict.fromkeys(m["file"] for m in measurements)]
    stores = [store(key) for key in dict.fromkeys(m["store"] for m in measurements)]
    reports = {}
    for m in measurements:
        reports[(m["file"], m["store"])] = [report(m["lines"], 1000, storeus, lookupus)
                                            for storeus, lookupus in zip(runsof(m["store_us"]), runsof(m["lookup_us"]))]
    summaries = medians.summarise(files, stores, reports)
    made = reportof(summaries, stores, verdicts.filewinners(summaries, verdicts.Rule()),
                    dataclasses.replace(SETTINGS, runs=runs))
    with tempfile.TemporaryDirectory() as folder:
        markdown.write(made, folder)
        with open(os.path.join(folder, "results.md")) as md:
            written = md.read()
    with contextlib.redirect_stdout(io.StringIO()) as said:
        terminal.write(made, "")
    return written, said.getvalue()


def tablecells(markdown):
    """The cells of results.md's table by (file, store): getline, store and
    lookup time, store and lookup vs fastest."""
    cells, file = {}, None
    for line in markdown.splitlines():
        row = [cell.strip() for cell in line[1:-1].split("|")] if line.startswith("|") else []
        if len(row) < 9 or row[3] in ("store", "---"):
            continue
        file = row[0] or file
        cells[(file, row[3])] = row[4:9]
    return cells


def terminalrow(terminal, file):
    """The columns of the terminal's first line for file: the fastest store and lookup."""
    line = next(line for line in terminal.splitlines() if line.startswith(file + " "))
    return re.split(r"\s{2,}", line.strip())


class whatauserreads(unittest.TestCase):
    def test_thefasteststorealoneisboldandthenextisnamed(self):
        markdown, terminal = shown([measured("f.txt", "A", 0.1, 0.2), measured("f.txt", "B", 0.2, 0.1),
                                    measured("f.txt", "C", 0.3, 0.3)])
        cells = tablecells(markdown)
        self.assertEqual(cells[("f.txt", "A")], ["0.050 ±0%", "**0.100 ±0%**", "0.200 ±0%", "fastest",
                                                 "x2.00 [2.00, 2.00] slower"])
        self.assertEqual(cells[("f.txt", "B")], ["0.050 ±0%", "0.200 ±0%", "**0.100 ±0%**",
                                                 "x2.00 [2.00, 2.00] slower", "fastest"])
        self.assertEqual(cells[("f.txt", "C")], ["0.050 ±0%", "0.300 ±0%", "0.300 ±0%", "x3.00 [3.00, 3.00] slower",
                                                 "x3.00 [3.00, 3.00] slower"])
        self.assertEqual(terminalrow(terminal, "f.txt"), ["f.txt", "1000", "A 0.100, next B x2.00 [2.00, 2.00]",
                                                          "B 0.100, next A x2.00 [2.00, 2.00]"])
        self.assertNotIn("≈", markdown.split("| file |")[1])

    def test_thestoreslevelwiththefastestaremarkedapproximatelyequal(self):
        # B is 1% off A: significant, but within the 3% threshold
        markdown, terminal = shown([measured("f.txt", "A", 0.100, 0.2), measured("f.txt", "B", 0.101, 0.2),
                                    measured("f.txt", "C", 0.2, 0.4)])
        cells = tablecells(markdown)
        self.assertEqual([cells[("f.txt", key)][1] for key in "ABC"], ["0.100 ±0% ≈", "0.101 ±0% ≈", "0.200 ±0%"])
        self.assertEqual([cells[("f.txt", key)][3] for key in "ABC"],
                         ["fastest", "x1.01 [1.01, 1.01] level", "x2.00 [2.00, 2.00] slower"])
        self.assertEqual([cells[("f.txt", key)][2] for key in "AB"], ["0.200 ±0% ≈", "0.200 ±0% ≈"])
        self.assertNotIn("**", markdown)
        self.assertEqual(terminalrow(terminal, "f.txt"), ["f.txt", "1000", "A ≈ B 0.100", "A ≈ B 0.200"])
        # E's runs, 0.097 to 0.113: the interval reaches from level across the
        # threshold, and differences past 3% and half its width would be told
        spread = [0.097 + 0.002 * step for step in range(9)] + [0.098, 0.100, 0.102, 0.104]
        markdown, terminal = shown([measured("f.txt", "A", 0.100, 0.2), measured("f.txt", "E", spread, 0.4)])
        said = "x1.03 [1.00, 1.07] open: its runs tell 7% or more"
        self.assertEqual(tablecells(markdown)[("f.txt", "E")][3], said)
        self.assertEqual(terminalrow(terminal, "f.txt")[2], f"A 0.100, next E {said}")
        self.assertIn("\nOpen: 1 of the figures is not decided", terminal)

    def test_nomarkwherethepassesaretooshortortherunstoofew(self):
        # 1,000 lines at 0.1 µs: a pass of 100 µs, half the floor
        markdown, terminal = shown([measured("short.txt", "A", 0.1, 0.1, lines=1000),
                                    measured("short.txt", "B", 0.2, 0.2, lines=1000),
                                    measured("long.txt", "A", 0.1, 0.1), measured("long.txt", "B", 0.2, 0.2)])
        cells = tablecells(markdown)
        # and no spread: below the floor the clock cannot tell one run from another
        self.assertEqual(cells[("short.txt", "A")][1:], ["0.100", "0.100", "fastest", "fastest"])
        self.assertEqual(cells[("short.txt", "B")][3], "x2.00 (not tested: too short)")
        self.assertEqual(cells[("long.txt", "A")][1], "**0.100 ±0%**")
        note = ("Too short to time: a pass of under 0.2 ms on the programs' microsecond clock carries no mark and no "
                "verdict. Files with such a pass, and about the lines each would need: short.txt (2,000 lines).")
        self.assertIn(f"\n> {note}\n", markdown)
        self.assertIn(f"\n{note}\n", terminal)
        self.assertEqual(terminalrow(terminal, "short.txt"), ["short.txt", "1000", "A 0.100 (not tested: too short)",
                                                              "A 0.100 (not tested: too short)"])

        markdown, terminal = shown([measured("f.txt", "A", 0.1, 0.1), measured("f.txt", "B", 0.2, 0.2)], runs=3)
        self.assertEqual(tablecells(markdown)[("f.txt", "B")][1:], ["0.200 ±0%", "0.200 ±0%",
                                                                    "x2.00 (not tested: too few runs)",
                                                                    "x2.00 (not tested: too few runs)"])
        note = ("Too few runs to tell: the rank test needs 6 rounds to ever reach α = 0.05; this run has 3, so "
                "no store is marked and no verdict given.")
        self.assertIn(f"\n> {note}\n", markdown)
        self.assertIn(f"\n{note}\n", terminal)
        self.assertNotIn("**", markdown)
        self.assertNotIn("Too short", markdown)

    def test_anoisymachineissaidwithitslargestspread(self):
        # B's lookup runs: 6 at 0.10 and 7 at 0.15, a median of 0.15 and
        # quartiles (the 4th and 10th of 13) of 0.10 and 0.15: a spread of a
        # third; A's store, 0.10 and 0.12: a sixth.  getline, store and
        # lookup of two stores are the six figures above the floor.
        noisy, noisier = [0.10] * 6 + [0.12] * 7, [0.10] * 6 + [0.15] * 7
        markdown, terminal = shown([measured("f.txt", "A", noisy, 0.1), measured("f.txt", "B", 0.2, noisier)])
        self.assertEqual(tablecells(markdown)[("f.txt", "A")][1], "**0.120 ±17%**")
        self.assertEqual(tablecells(markdown)[("f.txt", "B")][2], "0.150 ±33%")
        note = ("Noisy machine: 2 of the 6 time figures above the floor spread over 10% of their median (the "
                "largest: 33%, B lookup on f.txt). Close figures may be level; rerun on a quiet machine before "
                "acting on them.")
        self.assertIn(f"\n> **{note}**\n", markdown)
        self.assertIn(f"\n{note}\n", terminal)
        quiet, _ = shown([measured("f.txt", "A", 0.1, 0.1), measured("f.txt", "B", 0.2, 0.2)])
        self.assertNotIn("Noisy", quiet)


class earlier(unittest.TestCase):
    def test_arowwithmoreorfewerfieldsthantheheaderisnamed(self):
        header = ",".join(earlierrun.NEEDED)
        good = "a.txt," + "0" * 64 + ",X,10,5,0.2,0.1,0.2 0.2,0.1 0.1"
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "results.csv")
            for row, words in ((good, None), (good + ",extra", "row 2 has 10 fields, not the header's 9"),
                               (good.rsplit(",", 1)[0], "row 2 has 8 fields, not the header's 9"),
                               (good.replace(",0.2,", ",inf,", 1), "column store_us: 'inf' is not a number of 0"),
                               (good.replace("0.1 0.1", "nan 0.1"), "column lookup_us_runs: 'nan' is not a number"),
                               (good.replace("0.2 0.2", "1e308 1e308"), "'1e308' is larger than any run gives"),
                               (good.replace("0" * 64, "g" * 64), f"column sha256: '{'g' * 64}' is not a SHA-256")):
                with open(path, "w") as out:
                    out.write(f"{header}\n{row}\n")
                if words is None:
                    self.assertEqual(earlierrun.readearlier(path)[("0" * 64, "X")].figures[Figure.LOOKUP].runs,
                                     [0.1, 0.1])
                    continue
                with self.assertRaises(DamagedResults) as caught:
                    earlierrun.readearlier(path)
                self.assertIn(words, str(caught.exception))
            with open(path, "w") as out:  # a run column longer than csv's default field limit
                out.write(f"{header}\n" + good.replace("0.1 0.1", " ".join(["0.1"] * 40000)) + "\n")
            self.assertEqual(len(earlierrun.readearlier(path)[("0" * 64, "X")].figures[Figure.LOOKUP].runs), 40000)

    def test_fulltimesarereadbackfromeitherfile(self):
        """yes in results.csv, true in results.json; a file without the field
        holds the reports' rounded times."""
        header, good = ",".join(earlierrun.NEEDED), "a.txt," + "0" * 64 + ",X,10,5,0.2,0.1,0.2 0.2,0.1 0.1"
        summary = {"file": "a.txt", "sha256": "0" * 64, "store": "X", "lines": 10, "distinct": 5, "store_us": 0.2,
                   "lookup_us": 0.1, "store_us_runs": [0.2, 0.2], "lookup_us_runs": [0.1, 0.1]}
        with tempfile.TemporaryDirectory() as folder:
            for name, text, full in (("results.csv", f"{header},full_times\n{good},yes\n", True),
                                     ("results.csv", f"{header},full_times\n{good},no\n", False),
                                     ("results.json", dict(summary, full_times=True), True),
                                     ("results.json", dict(summary, full_times=False), False),
                                     ("results.json", summary, False)):
                with open(os.path.join(folder, name), "w") as out:
                    out.write(text if isinstance(text, str) else json.dumps({"summaries": [text]}))
                self.assertEqual(earlierrun.readearlier(os.path.join(folder, name))[("0" * 64, "X")].fulltimes, full)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
