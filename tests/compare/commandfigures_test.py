"""linebench-compare's figures end to end: those of each program's own row,
the clock's unrounded times, a memory column that sees a table malloc maps
with mmap, no spread below the timer's floor, --programs all, and a help
that names every baseline as the guides do.

Usage: commandfigures_test.py [BUILD], the folder that holds the programs (build/release).
"""

import csv
import os
import subprocess
import sys
import unittest

from stubs import BUILD, COMPARE, LINES, ROOT, Folder, compare, readjson, stub, write


class parsing(Folder):
    def test_theparsedfiguresarethoseoftheprogramsownrow(self):
        done = compare("--programs", "linebench-redblack,linebench-hash", "--runs", "1", "--out", self.dir,
                       self.text)
        self.assertEqual(done.returncode, 0, done.stderr)
        runs = readjson(self.dir)["runs"]
        self.assertEqual(len(runs), 2)
        for run in runs:
            report = run["report"]
            fields = report["row"].split()
            self.assertEqual(report["lines"], int(fields[0]))
            self.assertEqual(report["avg_linelen"], float(fields[1]))
            self.assertEqual(report["getline_us"], float(fields[3]))
            self.assertEqual(report["distinct"], int(fields[5]))
            self.assertEqual(report["report_bytes_per_line"], float(fields[6]))
            self.assertEqual(report["store_us"], float(fields[8]))
            self.assertEqual(report["lookup_us"], float(fields[10]))
            self.assertEqual(report["adt"], fields[12])

    def test_thetimesaretheclocksunroundedwherethereportroundsthem(self):
        linebench = readjson(self.dir)["runs"] if compare(
            "--programs", "linebench-hash", "--runs", "1", "--out", self.dir, self.text).returncode == 0 else []
        self.assertEqual([run["report"]["full_times"] for run in linebench], [True])
        # passes of 10,003, 60,017 and 40,031 µs over 200,000 lines print as
        # 0.050, 0.300 and 0.200 µs
        passes = [(100, 0), (100, 10003), (100, 10003), (100, 70020), (101, 5000), (101, 45031)]
        fine = stub(self.dir, "fine", 0.300, 0.200, clock=passes)
        # readings that do not round to the row: a program that reads the clock otherwise
        other = stub(self.dir, "other", 0.300, 0.200, clock=passes[:3] + [(100, 90020)] + passes[4:])
        done = compare("--programs", f"F={fine},O={other}", "--runs", "6", "--out", self.dir, self.text)
        self.assertEqual(done.returncode, 0, done.stderr)
        figures = {s["store"]: s for s in readjson(self.dir)["summaries"]}
        self.assertEqual((figures["F"]["full_times"], figures["O"]["full_times"]), (True, False))
        self.assertEqual([figures["F"][key] for key in ("getline_us", "store_us", "lookup_us")],
                         [10003 / LINES, 60017 / LINES, 40031 / LINES])
        self.assertEqual([figures["O"][key] for key in ("getline_us", "store_us", "lookup_us")], [0.05, 0.3, 0.2])
        with open(os.path.join(self.dir, "results.csv"), newline="") as table:
            runs = {row["store"]: row["store_us_runs"] for row in csv.DictReader(table)}
        self.assertEqual(runs["F"], " ".join([repr(60017 / LINES)] * 6))


class memory(Folder):
    def test_atablefrommmapisinthecolumn(self):
        """100,000 distinct lines: ABSLFLAT's slot array (32 bytes a line, the
        size of a std::string) and STDHASH's bucket array (8 bytes a line at
        least) are single blocks far past malloc's mmap threshold, which the
        programs' own figure, the break's growth, does not see."""
        with open(os.path.join(BUILD, "linebench-stores.tsv")) as listing:
            if "\nlinebench-abslflat\t" not in listing.read():
                self.skipTest("this build left out linebench-abslflat, for want of Abseil")
        text = os.path.join(self.dir, "unique.txt")
        subprocess.run([os.path.join(BUILD, "linebench-corpus"), "--lines", "100000", "--distinct", "1.0",
                        "-o", text], check=True)
        done = compare("--programs", "linebench-abslflat,linebench-stdhash", "--runs", "1", "--out", self.dir, text)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(os.path.join(self.dir, "results.csv"), newline="") as results:
            rows = {row["store"]: row for row in csv.DictReader(results)}
        for store, table in (("ABSLFLAT", 32), ("STDHASH", 8)):
            row = rows[store]
            self.assertEqual(row["distinct"], "100000")
            self.assertGreaterEqual(float(row["bytes_per_line"]), float(row["report_bytes_per_line"]) + table,
                                    store)


class figures(Folder):
    def test_atimebelowthefloorshowsnospread(self):
        """getline's pass, 200,000 lines at 0.0001 to 0.0009 µs, lasts under
        0.2 ms; the store pass lasts longer, and its spread shows."""
        x = stub(self.dir, "x", 0.3, 0.2, before='case $n in 1) g=0.0001;; 2) g=0.0009;; *) g=0.0002;; esac',
                 getline="$g")
        with open(x) as source:
            script = source.read()
        write(x, script.replace(" 0.300 uS", " 0.$((n + 3))00 uS"))
        done = compare("--programs", f"X={x}", "--runs", "3", "--out", self.dir, self.text)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(os.path.join(self.dir, "results.md")) as md:
            row = next(line for line in md.read().splitlines() if line.startswith("| words.txt"))
        # runs 0.4, 0.5, 0.6: quartiles 0.45 and 0.55, a spread of 20% of 0.5
        self.assertIn("| X | 0.000 | 0.500 ±20% | 0.200 ±0% |", row)


class programs(Folder):
    def test_allmixeswithnamesandpaths(self):
        with open(os.path.join(BUILD, "linebench-stores.tsv")) as listing:
            labels = [line.split("\t")[2] for line in listing.read().splitlines()[1:]]
        x = os.path.abspath(os.path.join(BUILD, "linebench-hash"))
        for programs, keys in (("all,X=" + x, labels + ["X"]),
                               ("linebench-hash,all", ["HASH"] + [label for label in labels if label != "HASH"])):
            with self.subTest(programs=programs):
                done = compare("--programs", programs, "--runs", "1", "--out", self.dir, self.text)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual([store["key"] for store in readjson(self.dir)["stores"]], keys)

    def test_helpnameseverybaselineasthestoresguidedoes(self):
        """The help's words on each option, its default among them, are the
        guide's and the manual page's by docs_options."""
        done = subprocess.run([COMPARE, "--help"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        helptext = " ".join(done.stdout.split())
        with open(os.path.join(ROOT, "docs", "stores.md")) as source:
            stores = source.read()
        for folder in os.listdir(os.path.join(ROOT, "baselines")):
            if os.path.isdir(os.path.join(ROOT, "baselines", folder)):
                self.assertIn(f"linebench-{folder} ", helptext)
                self.assertIn(f"`linebench-{folder}`", stores)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
