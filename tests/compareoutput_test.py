"""bench/compare's written words and plot: Markdown escaping, gnuplot quoting,
your own files drawn as points, a figure above the memory cut marked at the
edge; and results.csv read back."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "bench"))
import compareoutput  # noqa: E402
import compareplot  # noqa: E402
import compareresults  # noqa: E402


def result(file, store, shape, memory=80.0, distinct=1000):
    return {"file": file, "store": store, "shape": shape, "distinct": distinct, "store_us": 0.2, "lookup_us": 0.1,
            "bytes_per_line": memory}


def store(key, family="other", checkadt=True):
    return {"key": key, "family": family, "checkadt": checkadt}


class words(unittest.TestCase):
    def test_markdownescapesbarsandmarks(self):
        self.assertEqual(compareoutput.mdescape("a|b*c_d`e\nf"), "a\\|b\\*c\\_d\\`e f")

    def test_gnuplotstringsdoubletheirquotes(self):
        self.assertEqual(compareplot.quote("it's\n"), "'it''s?'")


class plot(unittest.TestCase):
    def test_yourfilesarepointsandamemoryabovethecutismarked(self):
        stores = [store("HASH", "chained hash"), store("it's")]
        results = [result("a.txt", "HASH", "your files", memory=8461.3), result("a.txt", "it's", "your files"),
                   result("b.txt", "HASH", "your files", distinct=10), result("b.txt", "it's", "your files")]
        script = compareplot.gnuplotscript(results, stores, "/tmp/it's.png")
        self.assertNotIn("linespoints", script)
        self.assertIn("set xtics ('a.txt' 1, 'b.txt' 2)", script)
        self.assertIn("set output '/tmp/it''s.png'", script)
        self.assertIn("title 'it''s'", script)
        self.assertIn(f"1:($5 > {compareplot.MEMORYTOP} ? $4 : NaN):(sprintf('%.0f', $5)) with labels", script)
        # the point above the cut is drawn at the cut, its value kept beside it
        self.assertRegex(script, rf"\n1\.125 0\.2 0\.1 {compareplot.MEMORYTOP} 8461\.3\n")

    def test_theladderiscurvesoverthedistinctlines(self):
        results = [result("u-1e3.txt", "HASH", "unique"), result("u-1e4.txt", "HASH", "unique", distinct=10000)]
        script = compareplot.gnuplotscript(results, [store("HASH", "chained hash")], "out.png")
        self.assertIn("with linespoints", script)
        self.assertIn("set logscale xy", script)

    def test_thecachemarkstandswherethehungrieststorefillsit(self):
        results = [result("u-1e3.txt", "HASH", "unique", memory=100, distinct=1000),
                   result("u-1e3.txt", "LEAN", "unique", memory=10, distinct=1000),
                   result("u-1e4.txt", "HASH", "unique", memory=200, distinct=10000),
                   result("u-1e4.txt", "LEAN", "unique", memory=20, distinct=10000)]
        self.assertEqual(compareplot.cachemark(results, "unique", 1_000_000), 5000)
        self.assertIsNone(compareplot.cachemark(results, "unique", 10_000_000))
        script = compareplot.gnuplotscript(results, [store("HASH", "chained hash"), store("LEAN", "trie")], "o.png",
                                           (1_000_000, 3))
        self.assertIn("set arrow 1 from 5000, graph 0 to 5000, graph 1", script)
        self.assertIn("'L3 cache full'", script)

    def test_familiessharecolourstheprojectsstoresstandout(self):
        chosen = compareplot.styles([store("REDBLACK", "tree"), store("STDSET", "tree"), store("ABSLBTREE", "tree"),
                                     store("MINE", checkadt=False)])
        self.assertEqual(chosen["REDBLACK"][:2], (compareplot.STRONG["REDBLACK"], 3.0))
        self.assertEqual([chosen[key][0] for key in ("STDSET", "ABSLBTREE")], compareplot.FAMILYCOLOURS["tree"][:2])
        self.assertEqual(chosen["MINE"][3], 2)
        self.assertEqual(compareplot.drawingorder([store("HASH", "chained hash"), store("JUDYSL", "trie"),
                                                   store("STDSET", "tree")]), ["STDSET", "JUDYSL", "HASH"])


class earlier(unittest.TestCase):
    def test_arowwithmoreorfewerfieldsthantheheaderisnamed(self):
        header = ",".join(compareresults.NEEDED)
        good = "a.txt," + "0" * 64 + ",X,10,5,0.2,0.1,0.2 0.2,0.1 0.1"
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "results.csv")
            for row, words in ((good, None), (good + ",extra", "row 2 has 10 fields, not the header's 9"),
                               (good.rsplit(",", 1)[0], "row 2 has 8 fields, not the header's 9"),
                               (good.replace(",0.2,", ",inf,", 1), "column store_us: 'inf' is not a number of 0"),
                               (good.replace("0.1 0.1", "nan 0.1"), "column lookup_us_runs: 'nan' is not a number"),
                               (good.replace("0.2 0.2", "1e308 1e308"), "'1e308' is larger than any run gives")):
                with open(path, "w") as out:
                    out.write(f"{header}\n{row}\n")
                if words is None:
                    self.assertEqual(compareresults.readearlier(path)[("0" * 64, "X")]["lookup_us_runs"], [0.1, 0.1])
                    continue
                with self.assertRaises(compareresults.DamagedResults) as caught:
                    compareresults.readearlier(path)
                self.assertIn(words, str(caught.exception))
            with open(path, "w") as out:  # a run column longer than csv's default field limit
                out.write(f"{header}\n" + good.replace("0.1 0.1", " ".join(["0.1"] * 40000)) + "\n")
            self.assertEqual(len(compareresults.readearlier(path)[("0" * 64, "X")]["lookup_us_runs"]), 40000)


if __name__ == "__main__":
    unittest.main()
