"""linebench-compare --against end to end, on stub programs of known figures:
the ratio of now over before, a file known by its bytes, a damaged
results.csv, the earlier run's kept programs run again beside this run's,
or its recorded runs where they cannot run here, and the copies a later run
in the same folder removes.

Usage: commandagainst_test.py [BUILD], the folder that holds the programs (build/release).
"""

import csv
import dataclasses
import json
import os
import shutil
import sys
import tempfile
import unittest

from stubs import Folder, compare, readjson, reportrow, stub, write  # (puts the package on the path)
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
            done = compare("--programs", f"X={fast}", "--runs", "6", "--out", now,
                           "--against", os.path.join(before, f"earlier.{suffix}"), self.text)
            self.assertEqual(done.returncode, 0, done.stderr)
            row, = readjson(now)["against"]["rows"]
            self.assertAlmostEqual(row["store_us"]["ratio"], 0.5)
            self.assertAlmostEqual(row["lookup_us"]["ratio"], 0.75)
            self.assertEqual((row["store_us"]["verdict"], row["lookup_us"]["verdict"]), ("faster", "faster"))
            self.assertIn("0.300 -> 0.150 x0.50 [0.50, 0.50] faster", done.stdout)
            self.assertIn("0.200 -> 0.150 x0.75 [0.75, 0.75] faster", done.stdout)
            with open(os.path.join(now, "results.md")) as md:
                self.assertIn("| 0.300 | 0.150 | x0.50 [0.50, 0.50] faster |", md.read())

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
            line, = [line for line in done.stdout.splitlines() if line.startswith("words.txt") and " -> " in line]
            self.assertTrue(line.endswith("0.300 -> 0.300* unchanged (same program)  "
                                          "0.200 -> 0.200* unchanged (same program)"), line)

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


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
