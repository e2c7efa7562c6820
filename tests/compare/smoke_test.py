"""linebench-compare --quick on every store program of the build, as a user runs
it: it ends with status 0, its answer in the terminal gives every file of the
quick ladder with its distinct lines and every store's memory on it, and
results.md has a row for every file and store with the lines and distinct
lines that the ladder asks for.

Usage: smoke_test.py BUILD OUT, the folder that holds the programs and an
output folder, absent or empty.
"""

import csv
import os
import subprocess
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD, OUT = sys.argv[1:3]
# The quick ladder: every shape at 10^3 and 10^4 lines, all distinct or 1%.
FILES = {f"{shape}-1e{power}.txt": (10**power, 10**power // share)
         for shape, share in (("unique", 1), ("zipf", 100), ("uniform", 100), ("ascending", 1))
         for power in (3, 4)}


class quick(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.done = subprocess.run([os.path.join(ROOT, "compare", "linebench-compare"), "--quick", "--build-dir",
                                   BUILD, "--out", OUT], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                  timeout=280)
        with open(os.path.join(BUILD, "linebench-stores.tsv"), newline="") as listing:
            # every store the build made but BOOSTFLAT, which runs only when named
            cls.stores = [row["label"] for row in csv.DictReader(listing, delimiter="\t")
                          if row["program"] != "linebench-boostflat"]

    def test_itendswellandanswersforeveryfileandstore(self):
        self.assertEqual(self.done.returncode, 0, self.done.stderr)
        lines = self.done.stdout.splitlines()
        memory = lines.index("Bytes per distinct line:")
        self.assertEqual(lines[memory + 1].split(), ["file"] + self.stores)
        for file, (_, distinct) in FILES.items():
            fastest = [line.split() for line in lines[:memory] if line.startswith(file + " ")]
            self.assertEqual([words[:2] for words in fastest], [[file, str(distinct)]], self.done.stdout)
            perstore, = [line.split() for line in lines[memory:] if line.startswith(file + " ")]
            self.assertEqual(len(perstore), 1 + len(self.stores), self.done.stdout)
            self.assertTrue(all(float(figure) > 0 for figure in perstore[1:]), perstore)

    def test_resultsmdhasarowforeveryfileandstore(self):
        with open(os.path.join(OUT, "results.md")) as md:
            rows = [[cell.strip() for cell in line.split("|")[1:5]] for line in md if line.startswith("| ")]
        found, file = [], None
        for cells in rows[1:]:  # past the heading
            file = cells[0] or file
            if file in FILES:
                found.append((file, FILES[file], cells[3]) if not cells[0] else
                             (file, (int(cells[1]), int(cells[2])), cells[3]))
        self.assertEqual(sorted(found), sorted((file, counts, store) for file, counts in FILES.items()
                                               for store in self.stores))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
