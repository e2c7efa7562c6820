"""linebench-compare's rule: the rank test and the threshold on runs drawn from a
noise model fitted to this machine's runs, the rounds and their looks, and
the marks of a file's winners."""

import dataclasses
import itertools
import math
import sys
import unittest
import unittest.mock

import numpy
import scipy.stats

from samples import SETTINGS, measuredfile, report, store, summary  # (puts the package on the path)
from linebenchcompare import medians, openfigures, options, ranktests, rounds, runner, session, verdicts
from linebenchcompare.records import Fastest, Figure, Inputs, Test, Untested, Verdict
from linebenchcompare.verdicts import Look, Rule

# The noise of one run around its figure's median: the log of a run's time
# over the median of its runs, fitted (scipy.stats.t.fit, centred) to the 320
# store and lookup runs above the floor of bench/verdicts/spreadcheck's pinned,
# randomised runs on AMD EPYC (Zen 3): a Student t, heavy-tailed.
NOISEDF = 2.0
NOISESCALE = 0.0558


def draw(generator, median, runs):
    return list(median * numpy.exp(NOISESCALE * scipy.stats.t.rvs(NOISEDF, size=runs, random_state=generator)))


class Runner:
    """Stands in for the runs of two programs, A and B: each run's store and
    lookup time one draw from the noise model, A's ratio times B's, handed
    to the run as the comparison's runner hands it; a run takes a second of
    a clock that the rounds read."""

    def __init__(self, generator, ratio, clock, run):
        self.generator, self.ratio, self.clock, self.session = generator, ratio, clock, run

    def run(self, lap, file, store):
        self.clock[0] += 1.0
        time = draw(self.generator, self.ratio if store.key == "A" else 1.0, 1)[0]
        self.session.done(lap, file, store, report(10**6, 1000, time, time, full=True))

    def estimate(self, queue):
        return float(len(queue))


OPPOSITE = {Verdict.FASTER: Verdict.SLOWER, Verdict.SLOWER: Verdict.FASTER}


def sequential(ratio, seed, runs, pairs=200, limit=None):
    """The store verdicts of A against B on pairs of programs ratio apart,
    each pair's rounds run by a comparison's rounds and looks (--runs runs,
    None for auto) and concluded as it concludes them; and the (round,
    alpha) of each pair's looks."""
    generator = numpy.random.default_rng(seed)
    clock = [0.0]
    said, looks = [], []
    file, stores = measuredfile("f"), [store("A"), store("B")]
    settings = dataclasses.replace(SETTINGS, auto=runs is None, runs=runs, timelimit=limit)
    with unittest.mock.patch.object(rounds.time, "monotonic", lambda: clock[0]), \
            unittest.mock.patch.object(rounds, "progress", lambda *words, **how: None):
        for _ in range(pairs):
            run, seen = session.Run(settings, Inputs(None, stores, None), []), []
            run.stores = stores

            def evaluate(lap, alpha):
                seen.append((lap, alpha))
                return openfigures.lookat(run, [file], lap, alpha)
            schedule = rounds.Schedule([(file, stores)], runs is None, runs, 0.05, limit)
            rounds.measure(Runner(generator, ratio, clock, run), schedule, evaluate, lambda lap: None)
            decided = verdicts.filewinners(medians.summarise([file], stores, run.reports, run.laps), run.rule(),
                                           openfigures.looksof(run, openfigures.Kind.FASTEST, run.looks))
            fastest = decided[("f", Figure.STORE)]
            verdict = fastest.versus[{"A": "B", "B": "A"}[fastest.fastest]].verdict
            said.append(verdict if fastest.fastest == "B" else OPPOSITE.get(verdict, verdict))
            looks.append(seen)
    return said, looks


class equalandunequal(unittest.TestCase):
    def test_equalprogramsaresaidtodifferatmostonetimeintwenty(self):
        for runs in (options.LARGE_RUNS, None):
            said, _ = sequential(1.0, 1, runs)
            self.assertLessEqual(sum(v in (Verdict.FASTER, Verdict.SLOWER) for v in said), len(said) * 0.05)

    def test_autotellsprogramstenpercentapartfourtimesinfive(self):
        self.assertGreaterEqual(sequential(0.9, 2, None)[0].count(Verdict.FASTER), 200 * 0.8)
        self.assertGreaterEqual(sequential(1 / 0.9, 3, None)[0].count(Verdict.SLOWER), 200 * 0.8)

    def test_autospendsnomorethanalphaandstopsatthetimelimit(self):
        """At α = 0.05 the first look, after 8 rounds, spends a fifth of it,
        0.01; the next ones, after 12, 18 and 27 rounds, a fortieth each,
        0.00125; the last, here the one the time limit forces after 30
        rounds, what is left: 0.05 - 0.01 - 3 × 0.00125 = 0.03625."""
        _, looks = sequential(1.0, 4, None, pairs=20, limit=60.0)
        spent = [(8, 0.01), (12, 0.00125), (18, 0.00125), (27, 0.00125)]
        for seen in looks:
            self.assertTrue(all(math.isclose(alpha, each) for (_, alpha), (_, each) in zip(seen[:-1], spent)), seen)
            self.assertEqual([lap for lap, _ in seen[:-1]], [lap for lap, _ in spent[:len(seen) - 1]])
            # a run is a second of the clock, two a round: the rounds stop within the minute
            self.assertLessEqual(seen[-1][0] * 2, 60)
        self.assertTrue(any(seen[-1][0] == 30 and math.isclose(seen[-1][1], 0.03625) for seen in looks))


def exactu(n1, n2):
    """P(U <= u) for u = 0 .. n1 n2 without ties, by counting every way of
    placing the first sample's n1 runs among all n1 + n2."""
    counts = [0] * (n1 * n2 + 1)
    for places in itertools.combinations(range(n1 + n2), n1):
        counts[sum(places) - n1 * (n1 - 1) // 2] += 1
    return list(itertools.accumulate(count / math.comb(n1 + n2, n1) for count in counts))


def exactsignedrank(pairs):
    """P(T <= t) for t = 0 .. pairs (pairs + 1) / 2, by counting every choice
    of signs."""
    counts = [0] * (pairs * (pairs + 1) // 2 + 1)
    for signs in itertools.product((0, 1), repeat=pairs):
        counts[sum(rank for rank, sign in zip(range(1, pairs + 1), signs) if sign)] += 1
    return list(itertools.accumulate(count / 2**pairs for count in counts))


def cutoff(cdf, alpha):
    """How many of the smallest (and of the largest) sums the test rejects at
    alpha, two-sided."""
    return sum(chance <= alpha / 2 for chance in cdf)


class rule(unittest.TestCase):
    def test_anintervalsverdictcomesfromthethreshold(self):
        for low, high, verdict in ((0.98, 1.02, Verdict.LEVEL), (0.90, 0.96, Verdict.FASTER),
                                   (1.04, 1.2, Verdict.SLOWER), (0.96, 1.05, Verdict.OPEN),
                                   (0.95, 0.98, Verdict.OPEN), (0.5, 1.5, Verdict.OPEN)):
            self.assertEqual(verdicts.classify(low, high, 0.03), verdict, (low, high))
        # 0.0205 against 0.0200, rounded by the reports to 0.021 and 0.020:
        # the ratio may have been 1.0, so it is not slower; 0.022 is
        self.assertEqual(verdicts.decide([0.021] * 5, [0.020] * 5, rounded=(0.021, 0.020)).verdict, Verdict.OPEN)
        self.assertEqual(verdicts.decide([0.022] * 5, [0.020] * 5, rounded=(0.022, 0.020)).verdict, Verdict.SLOWER)
        self.assertEqual(verdicts.decide([0.021] * 5, [0.020] * 5).verdict, Verdict.SLOWER)
        # 0.052 against 0.050, 4% apart as printed, may have been 0.0515 and
        # 0.0505, 2% apart: the rounding is half of 0.001 on the smaller median
        for now, before in ((0.052, 0.050), (0.050, 0.052)):
            self.assertEqual(verdicts.decide([now] * 5, [before] * 5, rounded=(now, before)).verdict, Verdict.OPEN)
        # an interval of 1.00 to 1.21 is a factor of 1.1 either side of its
        # middle, 1.1: past the threshold's 1.03 that makes 1.1 × 1.03 = 1.133
        self.assertAlmostEqual(verdicts.tells(1.00, 1.21, 0.03), 0.133)

    def test_theexactutestwhereitsdistributionisexact(self):
        # 8 runs a side and U = 13: exactly 0.0499, where the normal
        # approximation gives 0.052 and would call it level
        u = 13
        self.assertAlmostEqual(ranktests.pvalueofu(8, 8, u), 2 * exactu(8, 8)[u], places=12)
        self.assertLess(ranktests.pvalueofu(8, 8, u), 0.05)

    def test_theintervalsarethehodgeslehmannintervalscountedapart(self):
        generator = numpy.random.default_rng(4)
        distribution = exactu(6, 6)
        for _ in range(20):
            now, before = draw(generator, 1.05, 6), draw(generator, 1.0, 6)
            logs = sorted(math.log(a) - math.log(b) for a in now for b in before)
            cut = cutoff(distribution, 0.05)
            low, high = ranktests.ratiointerval(now, before, 0.05)
            self.assertAlmostEqual(math.log(low), logs[cut - 1], places=12)
            self.assertAlmostEqual(math.log(high), logs[len(logs) - cut], places=12)
        for pairs in (7, 12):
            distribution = exactsignedrank(pairs)
            for _ in range(10):
                now, before = draw(generator, 1.05, pairs), draw(generator, 1.0, pairs)
                differences = [math.log(a) - math.log(b) for a, b in zip(now, before)]
                walsh = sorted((a + b) / 2 for a, b in itertools.combinations_with_replacement(differences, 2))
                cut = cutoff(distribution, 0.05)
                self.assertEqual(ranktests.pairedshift(differences, 0.05),
                                 (numpy.median(walsh), (walsh[cut - 1], walsh[len(walsh) - cut])))
                self.assertAlmostEqual(ranktests.signedrankp(differences),
                                       scipy.stats.wilcoxon(differences, method="exact").pvalue, places=12)

    def test_runstoofewtoreachalphagivenoverdict(self):
        # paired, the smallest p is 2 / 2^rounds: six rounds reach 0.05
        self.assertEqual((verdicts.fewestruns(0.05), verdicts.fewestruns(0.05, paired=False)), (6, 4))
        decided = verdicts.decide([1, 1.01, 1.02, 1.03, 1.04], [2, 2.01, 2.02, 2.03, 2.04], paired=True)
        self.assertEqual((decided.verdict, decided.why), (None, Untested.TOOFEW))
        self.assertEqual(verdicts.decide([1, 1.01, 1.02, 1.03], [2, 2.01, 2.02, 2.03]).verdict, Verdict.FASTER)

    def test_arunof0isapassthattheclockdidnotsee(self):
        for now, before in (([0, 2, 2, 2, 2], [2] * 5), ([2] * 5, [2, 2, 0, 2, 2])):
            self.assertEqual(verdicts.decide(now, before).why, Untested.TOOSHORT)


def row(key, times, lines=10**6, rounds=None):
    """A store's summary on file f whose store and lookup runs are times."""
    return summary("f", key, lines=lines, runs={Figure.STORE: times, Figure.LOOKUP: times}, rounds=rounds)


class winners(unittest.TestCase):
    def test_everystorelevelwiththefastestismarked(self):
        rows = [row("A", [1.00, 1.01, 0.99, 1.00, 1.01]), row("B", [1.01, 1.00, 1.02, 0.99, 1.01]),
                row("C", [1.00, 1.02, 1.01, 0.99, 1.00]), row("D", [1.5, 1.51, 1.49, 1.5, 1.52])]
        decided = verdicts.winners(rows, Figure.STORE, Rule(), False)
        self.assertEqual(sorted(decided.marked), ["A", "B", "C"])
        self.assertFalse(decided.clear)
        self.assertEqual(decided.versus["D"].verdict, Verdict.SLOWER)

    def test_aclearwinnerisaloneandashortpassmarksnothing(self):
        rows = [row("A", [1.00, 1.01, 0.99, 1.00, 1.01]), row("B", [1.5, 1.51, 1.49, 1.5, 1.52])]
        decided = verdicts.winners(rows, Figure.STORE, Rule(), False)
        self.assertEqual((decided.marked, decided.clear), (["A"], True))
        # 100 lines at 1 µs: a pass of 100 µs, half the floor
        short = [row("A", [1.00, 1.01, 0.99, 1.00, 1.01], 100), row("B", [1.5, 1.51, 1.49, 1.5, 1.52], 100)]
        self.assertEqual(medians.shortfigures(short, [Figure.STORE]), {("f", Figure.STORE)})
        decided = verdicts.filewinners(short, Rule())[("f", Figure.STORE)]
        self.assertEqual((decided.marked, decided.why), ([], Untested.TOOSHORT))
        self.assertEqual(medians.linesneeded(short, "f"), 200)
        # 200 µs at 0.0855 µs a line: 2,339 lines, up to two digits 2,400
        self.assertEqual(medians.linesneeded([row("A", [0.0855] * 5, 1000)], "f"), 2400)

    def test_astorethatitstestfindsfasterthanthelowestmedianisthefastest(self):
        # B, decided after 8 rounds, ran no more; A's later rounds ran on a
        # faster machine, so A's median is the lower, but round by round B
        # took 0.8 of A's time
        a = row("A", [1.0] * 8 + [0.5] * 12, rounds=list(range(1, 21)))
        b = row("B", [0.8] * 8, rounds=list(range(1, 9)))
        decided = verdicts.winners([a, b], Figure.STORE, Rule(), False, {"B": Look(0.01, 8)})
        self.assertEqual((decided.fastest, decided.marked, decided.versus["A"].verdict), ("B", ["B"], Verdict.SLOWER))
        self.assertAlmostEqual(decided.versus["A"].ratio, 1.25)

    def test_astorefoundfasterthanthefasteststaysopenwithit(self):
        """A store that its test finds faster than the fastest, as where the
        fastest was handed over as often as there are stores: the fastest is
        not decided, so the figure stays open and both run on."""
        run = session.Run(SETTINGS, Inputs(None, [store("A"), store("B")], None), [])
        faster = Fastest("A", [], False, {"B": Test(0.8, 0.7, 0.9, verdict=Verdict.FASTER)}, None)
        with unittest.mock.patch.object(openfigures, "filewinners", lambda *given: {("f", Figure.STORE): faster}):
            opened = openfigures.lookat(run, [measuredfile("f")], 8, 0.01)
        self.assertEqual((opened.needed, opened.opened, run.closed), ({"f": {"A", "B"}}, 1, set()))


class queue(unittest.TestCase):
    def test_everyfilerunsitsownprogramsturnedroundeachround(self):
        a, b, c = (store(key) for key in "abc")
        f, g = measuredfile("f"), measuredfile("g")
        order = [(lap, file.name, each.key) for lap in range(2) for file, each in
                 runner.runqueue([(f, [a, b, c]), (g, [a, b])], lap)]
        self.assertEqual(order, [(0, "f", "a"), (0, "f", "b"), (0, "f", "c"), (0, "g", "a"), (0, "g", "b"),
                                 (1, "f", "b"), (1, "f", "c"), (1, "f", "a"), (1, "g", "b"), (1, "g", "a")])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
