"""linebench-compare's rule: the rank test and the threshold on runs drawn from a
noise model fitted to this machine's runs, and the marks of a file's winners."""

import os
import sys
import unittest

import numpy
import scipy.stats

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "compare"))
from linebenchcompare import cli, stats  # noqa: E402

# The noise of one run around its figure's median: the log of a run's time
# over the median of its runs, fitted (scipy.stats.t.fit, centred) to the 320
# store and lookup runs above the floor of bench/verdicts/spreadcheck's pinned,
# randomised runs on AMD EPYC (Zen 3): a Student t, heavy-tailed.
NOISEDF = 2.0
NOISESCALE = 0.0558
PAIRS = 400


def draw(generator, median, runs):
    return list(median * numpy.exp(NOISESCALE * scipy.stats.t.rvs(NOISEDF, size=runs, random_state=generator)))


class equalandunequal(unittest.TestCase):
    def verdicts(self, ratio, seed):
        generator = numpy.random.default_rng(seed)
        runs = cli.RUNS
        return [stats.decide(draw(generator, ratio, runs), draw(generator, 1.0, runs))["verdict"]
                for _ in range(PAIRS)]

    def test_equalprogramsgetaverdictatmostonetimeintwenty(self):
        verdicts = self.verdicts(1.0, 1)
        self.assertLessEqual(sum(v != stats.LEVEL for v in verdicts), PAIRS * 0.05)

    def test_programstenpercentapartaretoldapartfourtimesinfive(self):
        self.assertGreaterEqual(self.verdicts(0.9, 2).count(stats.FASTER), PAIRS * 0.8)
        self.assertGreaterEqual(self.verdicts(1 / 0.9, 3).count(stats.SLOWER), PAIRS * 0.8)


class rule(unittest.TestCase):
    def test_asignificantdifferencewithinthethresholdislevel(self):
        now, before = [1.00, 1.001, 0.999, 1.002, 1.0], [1.02, 1.021, 1.019, 1.022, 1.02]
        self.assertLess(stats.decide(now, before)["p"], 0.05)
        self.assertEqual(stats.decide(now, before)["verdict"], stats.LEVEL)
        self.assertEqual(stats.decide(now, before, threshold=0.01)["verdict"], stats.FASTER)
        # 0.0205 against 0.0200, rounded by the reports to 0.021 and 0.020
        self.assertEqual(stats.decide([0.021] * 5, [0.020] * 5)["verdict"], stats.LEVEL)
        self.assertEqual(stats.decide([0.022] * 5, [0.020] * 5)["verdict"], stats.SLOWER)

    def test_theratioisnowoverbeforewithaninterval(self):
        decided = stats.decide([0.9, 0.91, 0.89, 0.92, 0.9], [1.0, 1.01, 0.99, 1.02, 1.0])
        self.assertAlmostEqual(decided["ratio"], 0.9)
        self.assertLess(decided["low"], 0.9)
        self.assertGreater(decided["high"], 0.9)
        self.assertLess(decided["high"], 1.0)
        self.assertEqual(decided["verdict"], stats.FASTER)

    def test_runstoofewtoreachalphagivenoverdict(self):
        self.assertEqual(stats.fewestruns(0.05), 4)
        decided = stats.decide([1, 1.01, 1.02], [2, 2.01, 2.02])
        self.assertIsNone(decided["verdict"])
        self.assertEqual(decided["why"], stats.TOOFEW)
        self.assertIsNotNone(stats.decide([1, 1.01, 1.02, 1.03], [2, 2.01, 2.02, 2.03])["verdict"])

    def test_arunof0isapassthattheclockdidnotsee(self):
        for now, before in (([0, 2, 2, 2, 2], [2] * 5), ([2] * 5, [2, 2, 0, 2, 2])):
            self.assertEqual(stats.decide(now, before)["why"], stats.TOOSHORT)

    def test_theintervalexcludesoneexactlywhenthetestrejects(self):
        generator = numpy.random.default_rng(4)
        for _ in range(300):
            runs = 6 + generator.integers(0, 2) * 7  # the exact test, and the default 13 runs beyond it
            # times of 0.05 µs as the reports round them: ties in and across the runs
            scale = generator.choice([1.0, 0.05])
            now, before = draw(generator, 1.03 * scale, runs), draw(generator, scale, runs)
            if scale < 1:
                now, before = list(numpy.round(now, 3)), list(numpy.round(before, 3))
            decided = stats.decide(now, before)
            self.assertEqual(decided["p"] < 0.05, not decided["low"] <= 1 <= decided["high"], (now, before))


def row(store, times, lines=10**6):
    result = {"file": "f", "store": store, "lines": lines, "store_us": sorted(times)[len(times) // 2],
              "store_us_runs": times}
    result["lookup_us"], result["lookup_us_runs"] = result["store_us"], times
    return result


class winners(unittest.TestCase):
    def test_everystorelevelwiththefastestismarked(self):
        rows = [row("A", [1.00, 1.01, 0.99, 1.00, 1.01]), row("B", [1.01, 1.00, 1.02, 0.99, 1.01]),
                row("C", [1.00, 1.02, 1.01, 0.99, 1.00]), row("D", [1.5, 1.51, 1.49, 1.5, 1.52])]
        decided = stats.winners(rows, "store_us", 0.05, 0.03, False)
        self.assertEqual(sorted(decided["marked"]), ["A", "B", "C"])
        self.assertFalse(decided["clear"])
        self.assertEqual(decided["versus"]["D"]["verdict"], stats.SLOWER)

    def test_aclearwinnerisaloneandashortpassmarksnothing(self):
        rows = [row("A", [1.00, 1.01, 0.99, 1.00, 1.01]), row("B", [1.5, 1.51, 1.49, 1.5, 1.52])]
        decided = stats.winners(rows, "store_us", 0.05, 0.03, False)
        self.assertEqual((decided["marked"], decided["clear"]), (["A"], True))
        short = [row("A", [1.00, 1.01, 0.99, 1.00, 1.01], 5000), row("B", [1.5, 1.51, 1.49, 1.5, 1.52], 5000)]
        self.assertEqual(stats.shortfigures(short, ["store_us"]), {("f", "store_us")})
        decided = stats.filewinners(short, 0.05, 0.03)[("f", "store_us")]
        self.assertEqual((decided["marked"], decided["why"]), ([], stats.TOOSHORT))
        self.assertEqual(stats.linesneeded(short, "f"), 10000)


if __name__ == "__main__":
    unittest.main()
