"""linebench-compare --against end to end, on stub programs of known figures:
the ratio of now over before, a file known by its bytes, a damaged
results.csv, the earlier run's kept programs run again beside this run's,
or its recorded runs where they cannot run here, the copies a later run
in the same folder removes, and the unchanged stores carried, not run.

Usage: commandagainst_test.py [BUILD], the folder that holds the programs (build/release).
"""

import collections
import csv
import dataclasses
import itertools
import json
import math
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import unittest

from stubs import ROOT, Folder, compare, readjson, reportrow, stub, write  # (puts the package on the path)
from linebenchcompare.keptprograms import DRIFT, earlierprograms
from linebenchcompare.records import Machine


class against(Folder):
    def firstrun(self):
        slow = stub(self.dir, "slow", 0.300, 0.200)
        done = compare("--programs", f"X={slow}", "--runs", "6", "--out", os.path.join(self.dir, "before"),
                       self.text)
        self.assertEqual(done.returncode, 0, done.stderr)
        return os.path.join(self.dir, "before")

    def test_afasterprogramreadsfasterwiththeratioofnowoverbefore(self):
        before = self.firstrun()
        fast = stub(self.dir, "fast", 0.150, 0.150)
        # a results file of any name names the earlier run as well as its folder
        for suffix in ("csv", "json"):
            shutil.copyfile(os.path.join(before, f"results.{suffix}"), os.path.join(before, f"earlier.{suffix}"))
            now = os.path.join(self.dir, f"now-{suffix}")
            done = compare("--programs", f"X={fast}", "--runs", "6", "--alpha", "0.1", "--out", now,
                           "--against", os.path.join(before, f"earlier.{suffix}"), self.text)
            self.assertEqual(done.returncode, 0, done.stderr)
            row, = readjson(now)["against"]["rows"]
            self.assertAlmostEqual(row["store_us"]["ratio"], 0.5)
            self.assertAlmostEqual(row["lookup_us"]["ratio"], 0.75)
            self.assertEqual((row["store_us"]["verdict"], row["lookup_us"]["verdict"]), ("faster", "faster"))
            self.assertIn("ratio [90% CI]", done.stdout)  # 1 - α
            self.assertIn("0.300 -> 0.150 x0.50 [0.50, 0.50] faster", done.stdout)
            self.assertIn("0.200 -> 0.150 x0.75 [0.75, 0.75] faster", done.stdout)
            with open(os.path.join(now, "results.md")) as md:
                said = md.read()
            self.assertIn("| 0.300 | 0.150 | x0.50 [0.50, 0.50] faster |", said)
            self.assertIn("with its 90% confidence interval", said)

    def test_afileisknownbyitsbytesnotitsname(self):
        before = self.firstrun()
        write(self.text, "ot\neb\nro\ntno\n")
        done = compare("--programs", f"X={stub(self.dir, 'fast', 0.150, 0.150)}", "--runs", "6", "--out",
                       os.path.join(self.dir, "now"), "--against", before, self.text)
        # before any run, and leaving no results
        self.oneline(done, 1, "Nothing in common with the earlier run")
        self.assertIn("words.txt differs from its file of that name", done.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "now", "results.json")))

    def test_adamagedresultscsvnamesitsrowandcolumn(self):
        before = self.firstrun()
        path = os.path.join(before, "results.csv")
        with open(path) as source:
            good = source.read()
        header, row = good.splitlines()[:2]
        columns = header.split(",")
        fields = next(csv.reader([row]))
        fast = stub(self.dir, "fast", 0.150, 0.150)
        for text, words in (
                (good[:len(header) + 1 + len(row) // 2], "row 2 is cut short"),
                (good[:-1], "row 2 is cut short"),
                (good.replace(fields[columns.index("store_us")], "0.3x", 1), "row 2, column store_us: '0.3x'"),
                (good.replace(fields[columns.index("lines")], "", 1), "row 2, column lines: ''"),
                ("file,store\nwords.txt,X\n", "has no column sha256")):
            write(path, text)
            self.oneline(compare("--programs", f"X={fast}", "--runs", "6", "--out", os.path.join(self.dir, "now"),
                                 "--against", before, self.text), 1, words)


class interleaved(unittest.TestCase):
    """--against runs the earlier run's kept programs in this run's rounds.
    The earlier program reads its row from a file, so that, unchanged, it
    reports other figures now than it recorded then: 0.300 and 0.200 µs
    then, 0.500 and 0.250 now; this run's program reports 0.150 and 0.150."""

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        folder = cls.scratch.name
        cls.text = write(os.path.join(folder, "words.txt"), "to\nbe\nor\nnot\n")
        cls.other = write(os.path.join(folder, "other.txt"), "not\nin\nthe\nfirst\n")
        cls.log = os.path.join(folder, "ran.log")
        row = write(os.path.join(folder, "row"), reportrow(0.300, 0.200) + "\n")
        logged = f'echo "$0 $(basename "$1")" >> {cls.log}\n'
        cls.fast = stub(folder, "fast", 0.150, 0.150, then=logged)
        cls.first = os.path.join(folder, "first")
        cls.slow = stub(folder, "slow", 0, 0, rowfile=row, then=logged)
        done = compare("--programs", f"X={cls.slow}", "--runs", "6", "--out", cls.first, cls.text)
        assert done.returncode == 0, done.stderr
        write(row, reportrow(0.500, 0.250) + "\n")

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def setUp(self):
        self.dir = tempfile.mkdtemp(dir=self.scratch.name)
        self.before = os.path.join(self.dir, "before")
        shutil.copytree(self.first, self.before, symlinks=True)
        self.kept = os.path.join(self.before, "programs", "X")
        self.now = os.path.join(self.dir, "now")
        if os.path.exists(self.log):
            os.remove(self.log)

    def secondrun(self, against=None):
        return compare("--programs", f"X={self.fast}", "--runs", "6", "--out", self.now, "--against",
                       against or self.before, self.text, self.other)

    def ran(self):
        with open(self.log) as log:
            return [tuple(line.split()) for line in log]

    def damage(self, *field, value):
        record = readjson(self.before)
        where = record
        for step in field[:-1]:
            where = where[step]
        where[field[-1]] = value
        write(os.path.join(self.before, "results.json"), json.dumps(record))

    def test_theearlierprogramrunsbesidethisonesinthesamerounds(self):
        done = self.secondrun(os.path.join(self.before, "results.json"))
        self.assertEqual(done.returncode, 0, done.stderr)
        ran = self.ran()
        # the earlier program only on the file both runs know, each round
        # beside this run's, the order turned round each round
        self.assertEqual(sorted(ran), sorted([(self.kept, "words.txt")] * 6 + [(self.fast, "words.txt")] * 6
                                             + [(self.fast, "other.txt")] * 6))
        words = [program for program, file in ran if file == "words.txt"]
        self.assertEqual(words, [self.fast, self.kept, self.kept, self.fast] * 3)
        record = readjson(self.now)
        self.assertEqual([run["store"] for run in record["runs"][:3]], ["X", "X (before)", "X"])
        row, = record["against"]["rows"]
        self.assertTrue(row["interleaved"])
        self.assertEqual(record["against"]["recorded"], {})
        # before is the kept program's figure in this run, not the one recorded
        self.assertEqual([row["store_us"][k] for k in ("recorded", "before", "now")], [0.300, 0.500, 0.150])
        self.assertAlmostEqual(row["store_us"]["ratio"], 0.3)
        self.assertAlmostEqual(row["lookup_us"]["ratio"], 0.6)
        self.assertEqual(row["lookup_us"]["before_runs"], [0.250] * 6)
        self.assertIn("0.500 -> 0.150 x0.30 [0.30, 0.30] faster (recorded 0.300)", done.stdout)
        self.assertNotIn("Drift not controlled", done.stdout + done.stderr)
        with open(os.path.join(self.now, "results.md")) as md:
            self.assertIn("| words.txt | X | 0.300 | 0.500 | 0.150 | x0.30 [0.30, 0.30] faster | 0.200 | 0.250 | "
                          "0.150 | x0.60 [0.60, 0.60] faster |", md.read())

    def test_theearlierprogramunchangedrunsnotatallanditsfiguresarecarried(self):
        # unchanged by the record alone too: a copy of results.json away from the programs it kept
        elsewhere = os.path.join(self.dir, "elsewhere", "before.json")
        os.makedirs(os.path.dirname(elsewhere))
        shutil.copy(os.path.join(self.before, "results.json"), elsewhere)
        for against in (self.before, elsewhere):
            done = compare("--programs", f"X={self.slow}", "--runs", "6", "--out", self.now, "--against", against,
                           self.text)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertFalse(os.path.exists(self.log))
            self.assertIn("unchanged since that run, so not run again: X", done.stdout + done.stderr)
            record = readjson(self.now)
            self.assertEqual((record["runs"], record["against"]["recorded"]), ([], {}))
            row, = record["against"]["rows"]
            self.assertTrue(row["unchanged"] and row["carried"])
            self.assertEqual(row["store_us"]["verdict"], None)
            # the carried figures alone, marked: the recorded ones are the same, with no verdict to stand beside
            line, = [line for line in done.stdout.splitlines() if line.startswith("words.txt") and "unchanged" in line]
            self.assertTrue(line.endswith(" X  0.300* unchanged (same program)  0.200* unchanged (same program)"), line)
            with open(os.path.join(self.now, "results.md")) as md:
                self.assertIn("| words.txt | X | | | 0.300\\* | unchanged (same program) | | | 0.200\\* | unchanged "
                              "(same program) |", md.read())

    def test_achangedlibraryoranothercpugivestherecordedrunsandsaysso(self):
        libc = next(n for n, lib in enumerate(readjson(self.before)["stores"][0]["libraries"])
                    if lib["name"] == "libc.so.6")
        for field, value, words in ((("stores", 0, "libraries", libc, "sha256"), "0" * 64, "it loads libc.so.6 from"),
                                    (("machine", "cpu"), "Intel 8086", "that run was on another CPU (Intel 8086")):
            with self.subTest(words=words):
                shutil.copy(os.path.join(self.first, "results.json"), self.before)
                self.damage(*field, value=value)
                done = self.secondrun()
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertNotIn(self.kept, [program for program, _ in self.ran()])
                row, = readjson(self.now)["against"]["rows"]
                self.assertFalse(row["interleaved"])
                self.assertEqual(row["store_us"]["before_runs"], [0.300] * 6)
                self.assertAlmostEqual(row["store_us"]["ratio"], 0.5)
                self.assertFalse(row["store_us"]["paired"])  # their rounds are not this run's
                with open(os.path.join(self.now, "results.md")) as md:
                    section = md.read().split("## Against an earlier run\n\n")[1]
                for said in (done.stderr, done.stdout, section.splitlines()[0]):
                    self.assertIn("Drift not controlled", said)
                    self.assertIn(words, said)
                    self.assertIn(f"differed by up to {DRIFT:.0%}", said)
                self.assertIn("x0.50 [0.50, 0.50] faster (recorded runs)", section)

    def test_whattellsthatakeptprogramcannotrunhere(self):
        machine = Machine(**readjson(self.before)["machine"])

        def why():
            kept = earlierprograms(self.before, machine, ["X"])
            self.assertEqual(kept.stores, [])
            return kept.why or kept.trouble["X"]

        self.assertEqual(earlierprograms(self.before, machine, ["X"]).stores[0].path, self.kept)
        self.assertEqual(earlierprograms(self.before, dataclasses.replace(machine, kernel="2.6.11"), ["X"]).why,
                         f"that run was on another kernel (Linux {machine.kernel}; here 2.6.11)")
        os.chmod(self.kept, 0o755)
        write(self.kept, "#!/bin/sh\nexit 1\n")
        self.assertEqual(why(), "programs/X has changed since that run")
        os.remove(self.kept)
        self.assertEqual(why(), "programs/X is gone")
        os.rmdir(os.path.dirname(self.kept))
        self.assertEqual(why(), f"{os.path.dirname(self.kept)} is gone")
        os.mkdir(os.path.dirname(self.kept))
        self.damage("stores", 0, "libraries", value=[])
        self.damage("stores", 0, "sha256", value=None)
        self.assertIn("no copy of its program was kept", why())
        record = readjson(self.before)
        del record["stores"][0]["saved"]
        write(os.path.join(self.before, "results.json"), json.dumps(record))
        self.assertIn("records no kept programs (an older linebench-compare made that run)", why())
        os.remove(os.path.join(self.before, "results.json"))
        self.assertEqual(why(), f"{self.before} has no results.json")

    def test_alaterruninthesamefolderremovesonlythecopiesitsrecordnames(self):
        mine = write(os.path.join(self.before, "programs", "mine"), "a file of the user's")
        done = compare("--programs", f"X={self.fast}", "--runs", "1", "--out", self.before, self.text)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(self.kept, "rb") as copy, open(self.fast, "rb") as fast:
            self.assertEqual(copy.read(), fast.read())
        self.assertTrue(os.path.exists(mine))
        os.chmod(self.kept, 0o644)
        write(self.kept, "changed since")
        done = compare("--programs", f"X={self.fast}", "--runs", "1", "--out", self.before, self.text)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(sorted(os.listdir(os.path.dirname(self.kept))), ["X", "X.2", "mine"])
        self.assertEqual(readjson(self.before)["stores"][0]["saved"], "programs/X.2")
        with open(self.kept) as kept:
            self.assertEqual(kept.read(), "changed since")

    def test_theoutputfolderitselfisrefusedasearlierrun(self):
        done = compare("--programs", f"X={self.fast}", "--out", self.before, "--against", self.before, self.text)
        self.assertEqual(done.returncode, 2, done.stderr)
        self.assertIn("is this run's --out", done.stderr)


def hodgeslehmann(differences, alpha):
    """The signed-rank estimate and 1 - alpha interval of a shift, by hand:
    the law of the sum of positive ranks under no shift from all 2^n sign
    patterns, and the Walsh averages cut where it leaves alpha/2 below."""
    n = len(differences)
    sums = [sum(rank for rank, positive in zip(range(1, n + 1), signs) if positive)
            for signs in itertools.product((False, True), repeat=n)]
    cut = sum(sum(total <= t for total in sums) <= alpha / 2 * len(sums) for t in range(n * (n + 1) // 2 + 1))
    walsh = sorted((a + b) / 2 for i, a in enumerate(differences) for b in differences[i:])
    return statistics.median(walsh), walsh[cut - 1], walsh[-cut]


class carried(unittest.TestCase):
    """One store changed since the earlier run, two not: U (0.100 µs) and V
    (0.300), and H, whose store time of each round comes from a table:
    THEN in the earlier run; in this run, BEFORE for its kept program and
    NOW for the changed one.  Lookups take 0.200 then and before, 0.150 now."""

    THEN = [0.200, 0.210, 0.190, 0.220, 0.205, 0.195, 0.230, 0.215]
    BEFORE = [0.250, 0.240, 0.260, 0.255, 0.245, 0.265, 0.235, 0.250]
    NOW = [0.150, 0.152, 0.149, 0.160, 0.146, 0.155, 0.151, 0.158]

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        folder = cls.scratch.name
        cls.text = write(os.path.join(folder, "words.txt"), "to\nbe\nor\nnot\n")
        cls.table = os.path.join(folder, "table")
        cls.h = cls.tabled(folder, "h", cls.table, cls.THEN, 0.200)
        cls.stores = f"U={stub(folder, 'u', 0.100, 0.100)},V={stub(folder, 'v', 0.300, 0.300)}"
        cls.first = os.path.join(folder, "first")
        done = compare("--programs", f"{cls.stores},H={cls.h}", "--runs", "8", "--out", cls.first, cls.text)
        assert done.returncode == 0, done.stderr
        cls.tabled(folder, "h", cls.table, cls.BEFORE, 0.200)
        cls.hnow = cls.tabled(folder, "hnow", os.path.join(folder, "nowtable"), cls.NOW, 0.150)
        cls.new = stub(folder, "new", 0.250, 0.250)

    @staticmethod
    def tabled(folder, name, table, stores, lookup):
        """A stub whose nth run reports the nth store time of the table, round
        and round."""
        write(table, "".join(reportrow(store, lookup) + "\n" for store in stores))
        row = table + ".row"
        return stub(folder, name, 0, 0, rowfile=row,
                    before=f'sed -n "$(( (n - 1) % {len(stores)} + 1 ))p" {table} > {row}')

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def second(self, *args):
        if os.path.exists(self.hnow + ".count"):
            os.remove(self.hnow + ".count")  # its runs count from 1 again
        out = tempfile.mkdtemp(dir=self.scratch.name)
        before = os.path.join(out, "before")
        shutil.copytree(self.first, before)
        done = compare("--out", os.path.join(out, "now"), "--against", before, self.text, *args)
        self.assertEqual(done.returncode, 0, done.stderr)
        return done, os.path.join(out, "now")

    def test_theunchangedstoresrunnotatallandthechangedoneischainedthroughitsearlierprogram(self):
        done, out = self.second("--programs", f"{self.stores},H={self.hnow}", "--runs", "8")
        record = readjson(out)
        self.assertEqual(collections.Counter(run["store"] for run in record["runs"]), {"H": 8, "H (before)": 8})
        self.assertEqual([row["store"] for row in record["carried"]], ["U", "V"])
        with open(os.path.join(out, "results.csv")) as source:
            self.assertEqual([row["store"] for row in csv.DictReader(source)], ["H"])
        self.assertIn("U* 0.100, next H x", done.stdout)
        with open(os.path.join(out, "results.md")) as md:
            self.assertIn("| | | | V\\* |", md.read())
        store, lookup = ({test["figure"]: test for test in record["winners"]}[figure]
                         for figure in ("store_us", "lookup_us"))
        self.assertEqual(store["fastest"], "U")
        self.assertAlmostEqual(store["versus"]["V"]["ratio"], 3.0)
        self.assertTrue(store["versus"]["V"]["paired"])  # by the earlier run's rounds, from its results.json
        # H / U = (H / H before) in this run's rounds (H before / U) in the earlier run's, each at alpha/2
        now = hodgeslehmann([math.log(a / b) for a, b in zip(self.NOW, self.BEFORE)], 0.025)
        then = hodgeslehmann([math.log(a / 0.100) for a in self.THEN], 0.025)
        chained = store["versus"]["H"]
        for field, expected in zip(("ratio", "low", "high"), (now[0] + then[0], now[1] + then[1], now[2] + then[2])):
            self.assertAlmostEqual(chained[field], math.exp(expected), places=9)
        self.assertEqual((chained["verdict"], chained["chained"]["through"]), ("slower", "H (before)"))
        self.assertAlmostEqual(lookup["versus"]["H"]["ratio"], 0.150 / 0.200 * 0.200 / 0.100)

    def test_anewstoremakesitscarriedreferencerunfromthelookthatneedsit(self):
        done, out = self.second("--programs", f"{self.stores},H={self.hnow},N={self.new}")
        runs = readjson(out)["runs"]
        # N against U waits for their rounds from the 9th, to the first look
        # whose alpha/40 19 rounds reach (2 / 2^19); H's chain is decided at
        # 12 rounds, the first whose alpha/80 they reach
        counts = collections.Counter(run["store"] for run in runs)
        self.assertEqual(counts, {"N": 27, "U": 19, "H": 12, "H (before)": 12})
        self.assertEqual(min(run["round"] for run in runs if run["store"] == "U"), 9)
        self.assertTrue(all(run["seconds"] > 0 for run in runs))
        split = subprocess.run([os.path.join(ROOT, "bench", "verdicts", "timesplit"), out], stdout=subprocess.PIPE,
                               text=True, check=True).stdout.splitlines()
        self.assertEqual({line[:10].strip(): tuple(map(int, line[10:].split()[:2])) for line in split[1:-1]},
                         {store: (runs, runs) for store, runs in counts.items()})


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
