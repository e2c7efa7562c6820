"""linebench-compare's written words: what a user reads in results.md and the
terminal (the bold winner, the ≈ of stores level with the fastest, the
notes), Markdown escaping; and results.csv read back."""

import contextlib
import dataclasses
import io
import json
import math
import os
import re
import sys
import tempfile
import unittest

from samples import SETTINGS, measuredfile, report, reportof, store  # (puts the package on the path)
from linebenchcompare import earlierrun, markdown, medians, terminal, verdicts
from linebenchcompare.errors import DamagedResults
from linebenchcompare.markdown import mdescape
from linebenchcompare.records import Against, Fastest, Figure, Test, Untested, Verdict
from linebenchcompare.words import confidences, opennote


class words(unittest.TestCase):
    def test_markdownescapesbarsandmarks(self):
        self.assertEqual(mdescape("a|b*c_d`e\nf"), "a\\|b\\*c\\_d\\`e f")

    def test_anintervalsconfidenceis1lessthealphaofitslook(self):
        tests = [Test(1.0, 0.9, 1.1, alpha=alpha) for alpha in (0.01, 0.00125, 0.03625, 0.01)]
        self.assertEqual(confidences(tests + [Test(1.2, why=Untested.TOOSHORT)], 0.05), "99.875%, 99% or 96.375%")
        self.assertEqual((confidences(tests[:1], 0.05), confidences([], 0.2)), ("99%", "80%"))


def measured(file, store, storeus, lookupus, lines=10**6):
    """A file and store's figures: a time, the same in every run, or the list
    of its runs."""
    return {"file": file, "store": store, "lines": lines, "store_us": storeus, "lookup_us": lookupus}


def shown(measurements, runs=13, paired=False):
    """results.md and the terminal's answer for runs of these figures, as
    linebench-compare writes them: getline 0.050 µs, 80 bytes a line, 1000
    distinct lines everywhere; paired, each store's runs those of rounds 1, 2
    and on."""
    def runsof(figure):
        return figure if isinstance(figure, list) else [figure] * runs

    files = [measuredfile(name) for name in dict.fromkeys(m["file"] for m in measurements)]
    stores = [store(key) for key in dict.fromkeys(m["store"] for m in measurements)]
    reports = {}
    for m in measurements:
        reports[(m["file"], m["store"])] = [report(m["lines"], 1000, storeus, lookupus)
                                            for storeus, lookupus in zip(runsof(m["store_us"]), runsof(m["lookup_us"]))]
    laps = {key: list(range(1, len(made) + 1)) for key, made in reports.items()} if paired else None
    summaries = medians.summarise(files, stores, reports, laps)
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

    def test_averdictonfewerroundsthanthemedianssayssoandonebelow1leavesthefastestnotdecided(self):
        # B, decided on the first 8 rounds, ran no more; A's later rounds ran
        # on a faster machine: A's median is 0.5, but on the rounds both ran
        # it took 1.25 times B's time
        markdown, terminal = shown([measured("f.txt", "A", [1.0] * 8 + [0.5] * 12, [0.1] * 20),
                                    measured("f.txt", "B", [0.8] * 8, [0.2] * 8)], paired=True)
        self.assertEqual([tablecells(markdown)[("f.txt", key)][3] for key in "AB"],
                         ["x1.25 [1.25, 1.25] slower (8 rounds)", "fastest"])
        self.assertEqual(terminalrow(terminal, "f.txt")[2], "B 0.800, next A x1.25 [1.25, 1.25] (8 rounds)")
        # B's rounds: 7 at 1.01 times A's time, 6 at e^-0.5 = 0.61 times: B's
        # median is the higher, but of the 91 Walsh averages of the rounds' log
        # ratios, 21 of -0.5, 42 of -0.245 and 28 of 0.01, the median is -0.245,
        # x0.78; the signed-rank test on 13 rounds rejects a sum up to 17 at
        # 0.05, so the interval leaves out 18 at each end: [e^-0.5, e^0.01],
        # whose half width on logs, 0.255, and the threshold's log 1.03 tell
        # e^0.285 = 1.33
        markdown, terminal = shown([measured("f.txt", "A", 1.0, 0.1),
                                    measured("f.txt", "B", [1.01] * 7 + [math.exp(-0.5)] * 6, 0.2)], paired=True)
        said = "x0.78 [0.61, 1.01] open: its runs tell 33% or more"
        self.assertEqual([tablecells(markdown)[("f.txt", key)][3] for key in "AB"], ["fastest not decided", said])
        self.assertEqual(terminalrow(terminal, "f.txt")[2], f"not decided: A 1.000 or B {said}")

    def test_theopennotesayswhatmaydecidethefigures(self):
        """Fixed runs, auto stopped by the time limit, auto at its last look,
        and --against, whose rounds go on for the table of the fastest too."""
        opened = Test(1.02, 0.97, 1.08, verdict=Verdict.OPEN, tells=0.09, paired=True, runs=8)
        auto = dataclasses.replace(SETTINGS, auto=True, runs=None)
        against = Against("before/results.csv", "before", [], {}, None, [], rows=[])
        for settings, runs, earlier, said in (
                (SETTINGS, 8, None, "more runs may decide them (--runs auto)."),
                (auto, 8, None, "more time may decide them (a longer --time-limit)."),
                (auto, 300, None, "the last look, after 300 rounds, left them open."),
                (auto, 8, against, "more time may decide them (a longer --time-limit).")):
            winners = {("f.txt", Figure.STORE): Fastest("A", [], False, {"B": dataclasses.replace(opened, runs=runs)},
                                                        None)}
            note = opennote(reportof([], [], winners, settings, against=earlier))
            self.assertEqual(note, "Open: 1 of the figures is not decided: the interval reaches across the threshold "
                             f"of 3%; {said}")


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
