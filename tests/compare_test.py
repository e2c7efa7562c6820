"""bench/compare: its verdict on two figures and their spreads, and a memory
column that sees a table that malloc maps with mmap.

Usage: compare_test.py BUILD, the folder that holds the programs.
"""

import csv
import importlib.machinery
import importlib.util
import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COMPARE = os.path.join(ROOT, "bench", "compare")


def loadcompare():
    loader = importlib.machinery.SourceFileLoader("compare", COMPARE)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader("compare", loader))
    loader.exec_module(module)
    return module


compare = loadcompare()


class verdicts(unittest.TestCase):
    def test_aleadbeyondbothspreadstogetherisfasterorslower(self):
        self.assertEqual(compare.verdict((1.00, 0.02), (1.05, 0.02)), -1)
        self.assertEqual(compare.verdict((1.05, 0.02), (1.00, 0.02)), 1)

    def test_aleadwithinthespreadstogetherislevel(self):
        self.assertEqual(compare.verdict((1.00, 0.06), (1.05, 0.01)), 0)
        self.assertEqual(compare.verdict((1.00, 0.01), (1.05, 0.06)), 0)
        # beyond each spread alone, but not beyond both together
        self.assertEqual(compare.verdict((1.00, 0.04), (1.05, 0.03)), 0)
        self.assertEqual(compare.verdict((1.05, 0.03), (1.00, 0.04)), 0)

    def test_onestrayrundoesnotwidenthespread(self):
        runs = [1.00, 1.02, 0.98, 1.01, 9.00]
        self.assertAlmostEqual(compare.spread(runs), 0.02)
        self.assertEqual(compare.spread([1.0]), 0.0)


class memory(unittest.TestCase):
    def test_atablefrommmapisinthecolumn(self):
        """100,000 distinct lines: ABSLFLAT's slot array (32 bytes a line, the
        size of a std::string) and STDHASH's bucket array (8 bytes a line at
        least) are single blocks far past malloc's mmap threshold, which the
        programs' own figure, the break's growth, does not see."""
        build = sys.argv[1]
        with tempfile.TemporaryDirectory() as folder:
            text = os.path.join(folder, "unique.txt")
            subprocess.run([os.path.join(build, "linebench-corpus"), "--lines", "100000", "--distinct", "1.0",
                            "-o", text], check=True)
            subprocess.run([COMPARE, "--build-dir", build, "--programs", "linebench-abslflat,linebench-stdhash",
                            "--runs", "1", "--out", folder, text], check=True, stdout=subprocess.DEVNULL)
            with open(os.path.join(folder, "results.csv"), newline="") as results:
                rows = {row["store"]: row for row in csv.DictReader(results)}
        for store, table in (("ABSLFLAT", 32), ("STDHASH", 8)):
            row = rows[store]
            self.assertEqual(row["distinct"], "100000")
            self.assertGreaterEqual(float(row["bytes_per_line"]), float(row["report_bytes_per_line"]) + table,
                                    store)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
