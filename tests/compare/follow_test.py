"""bench/counts/follow's arithmetic on hand-made cases: the pairs of stores in
the times' order, the rank correlations over all pairs and within each file,
and the combination's fit on times made from known costs."""

import dataclasses
import importlib.machinery
import importlib.util
import math
import os
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LOADER = importlib.machinery.SourceFileLoader("follow", os.path.join(ROOT, "bench", "counts", "follow"))
follow = importlib.util.module_from_spec(importlib.util.spec_from_loader("follow", LOADER))
LOADER.exec_module(follow)
Events = follow.passcounts.Events


class arithmetic(unittest.TestCase):
    def test_concordantpairsandranksoverallandwithinfiles(self):
        self.assertEqual(follow.concordance([1, 2, 3, 4], [10, 30, 20, 40]), (5, 6))
        self.assertEqual(follow.concordance([1, 2, 3], [5, 5, 6]), (2.5, 3))  # the tie counts half
        points = [follow.Point("a", "", t, v) for t, v in zip([1, 2, 3, 4], [10, 30, 20, 40])] + \
            [follow.Point("b", "", t, v) for t, v in zip([1, 2, 3], [3, 2, 1])]
        # Within a: 1 - 6 * 2 / (4 * 15) = 0.8, within b: -1.  Over all seven,
        # by hand from the ranks with ties shared: 8.5 / sqrt(26.5 * 28).
        got = dataclasses.astuple(follow.follow(points))
        self.assertEqual([round(figure, 9) for figure in got],
                         [round(figure, 9) for figure in (8.5 / math.sqrt(26.5 * 28), 7, -0.1, 2, 5 / 9, 9)])

    def test_thecombinationfindsthecostsitsdataweremadewith(self):
        pairs = []
        for ir, d1, ll in [(100, 1, 0.1), (150, 4, 0.5), (300, 2, 2), (120, 8, 1), (500, 1, 0.2), (200, 3, 3)]:
            # One line: a pass's total is its count a line.
            parts = (Events(0, 0, 0, 0, 0),) * 3 + (Events(ir, 0, 0, d1, ll),) + (Events(0, 0, 0, 0, 0),) * 3
            time = 0.002 * (ir + 5 * d1 + 40 * ll)
            pairs.append(follow.Pair("f", "S", 1, 0, time, 0, 0, follow.passcounts.PassCounts(1, 1, "S", parts, 0), 0))
        fitted = follow.fitcombination(pairs, follow.SIDES[0])
        for got, wanted in zip((fitted.usperir, fitted.d1cost, fitted.llcost), (0.002, 5, 40)):
            self.assertAlmostEqual(got, wanted, delta=wanted * 1e-4)


if __name__ == "__main__":
    unittest.main()
