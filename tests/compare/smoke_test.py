"""linebench-compare --quick on every store program of the build, as a user runs
it: status 0, an answer in the terminal with every file of the quick ladder
and every store's memory on it, and results.md with a row for every file and
store, of the lines and distinct lines that the ladder asks for.

Usage: smoke_test.py BUILD OUT, the folder of the programs and an output
folder, emptied first: a check killed outright leaves corpora there, which
linebench-compare would rightly refuse to remove.
"""

import csv
import os
import shutil
import subprocess
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD, OUT = sys.argv[1:3]
# The quick ladder: every shape at 10^3 and 10^4 lines, all distinct or 1%,
# each file named after its distinct lines.
FILES = {f"{shape}-1e{power - (share > 1) * 2}.txt": (10**power, 10**power // share)
         for shape, share in (("unique", 1), ("zipf", 100), ("uniform", 100), ("ascending", 1)) for power in (3, 4)}


class quick(unittest.TestCase):
    def test_theanswerandresultsmdholdeveryfileandstore(self):
        shutil.rmtree(OUT, ignore_errors=True)
        done = subprocess.run([os.path.join(ROOT, "compare", "linebench-compare"), "--quick", "--build-dir", BUILD,
                               "--out", OUT], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=280)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(os.path.join(BUILD, "linebench-stores.tsv"), newline="") as listing:
            # every store the build made but BOOSTFLAT, which runs only when named
            stores = [row["label"] for row in csv.DictReader(listing, delimiter="\t")
                      if row["program"] != "linebench-boostflat"]
        lines = done.stdout.splitlines()
        memory = lines.index("Bytes per distinct line:")
        self.assertEqual(lines[memory + 1].split(), ["file"] + stores)
        for file, (_, distinct) in FILES.items():
            fastest = [line.split()[:2] for line in lines[:memory] if line.startswith(file + " ")]
            self.assertEqual(fastest, [[file, str(distinct)]], done.stdout)
            figures, = [line.split()[1:] for line in lines[memory:] if line.startswith(file + " ")]
            self.assertEqual(len(figures), len(stores), done.stdout)
            self.assertTrue(all(float(figure) > 0 for figure in figures), figures)
        with open(os.path.join(OUT, "results.md")) as md:
            rows = [[cell.strip() for cell in line.split("|")[1:5]] for line in md if line.startswith("| ")][1:]
        found, file = [], None
        for cells in rows:  # a file's name and counts on its first row only
            file = cells[0] or file
            found.append((file, (int(cells[1]), int(cells[2])) if cells[0] else FILES.get(file), cells[3]))
        self.assertEqual(sorted(found), sorted((file, counts, store) for file, counts in FILES.items()
                                               for store in stores))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
