"""linebench-compare's counts per pass: two programs whose insert and lookup
differ by a known number of instructions (tests/compare/nops), the seven
parts of a run against callgrind's own total of it, the caches simulated,
and the counts kept by what they follow from.

Usage: passcounts_test.py MANYNOPS FEWNOPS HEAPPROBE"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import unittest.mock

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "compare"))
from linebenchcompare import passcounts  # noqa: E402
from linebenchcompare.passcounts import Cache, Events, Pass, Source  # noqa: E402
from linebenchcompare.errors import RunError  # noqa: E402

MANYNOPS, FEWNOPS, PROBE = sys.argv[1:4]
# Bytes of no-ops in the two builds' insert and lookup, one-byte ones less
# eight-byte ones: 64 - 64 / 8 and 32 - 32 / 8 instructions.
INSERTGAP, LOOKUPGAP = 56, 28
LINES, DISTINCT = 3000, 700


class nops(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="passcounts_test.")
        cls.file = os.path.join(cls.folder, "words.txt")
        cls.twice = os.path.join(cls.folder, "twice.txt")
        words = "".join(f"w{number % DISTINCT}\n" for number in range(LINES))
        for path, text in ((cls.file, " \t\n" + words), (cls.twice, words * 2)):  # " \t" is no line
            with open(path, "w") as out:
                out.write(text)
        cls.geometry = passcounts.cachegeometry(llc=4 << 20)
        cls.many = passcounts.runcounts(MANYNOPS, cls.file, cls.geometry, PROBE)
        cls.few = passcounts.runcounts(FEWNOPS, cls.file, cls.geometry, PROBE)
        cls.again = passcounts.runcounts(FEWNOPS, cls.file, cls.geometry, PROBE)
        cls.longer = passcounts.runcounts(FEWNOPS, cls.twice, cls.geometry, PROBE)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def test_eachpassdiffersbyitsnopsalineandrepeats(self):
        self.assertEqual((self.many.lines, self.many.distinct), (LINES, DISTINCT))
        # The count pass scans twice the lines in twice the instructions; the start-up does not.
        self.assertEqual(self.longer.lines, 2 * LINES)
        self.assertAlmostEqual(self.longer.total(Pass.COUNT).ir / self.few.total(Pass.COUNT).ir, 2, delta=0.05)
        for which, gap in ((Pass.COUNT, 0), (Pass.STORE, INSERTGAP), (Pass.LOOKUP, LOOKUPGAP)):
            # The simulated misses may move by a few: the work between the
            # passes prints the times, whose digits vary, and leaves the cache
            # a little otherwise.
            apart = self.again.total(which) - self.few.total(which)
            self.assertEqual((apart.ir, apart.dr, apart.dw), (0, 0, 0), which)
            self.assertLessEqual(max(abs(apart.d1miss), abs(apart.llmiss)), 3, which)
            apart = self.many.total(which) - self.few.total(which)
            self.assertEqual((apart.ir, apart.dr, apart.dw), (gap * LINES, 0, 0), which)
            self.assertAlmostEqual(self.many.perline(which).ir - self.few.perline(which).ir, gap, places=9)
            if which != Pass.COUNT:
                self.assertAlmostEqual(self.many.own(which).ir - self.few.own(which).ir, gap, places=9)

    def test_thesevenpartsaddtocallgrindstotal(self):
        # callgrind's own total of a run, in valgrind's summary, against the
        # parts read from the same run's dumps.
        with tempfile.TemporaryDirectory() as scratch:
            for target, name in ((MANYNOPS, "program"), (self.file, "file"), (PROBE, "heapprobe.so")):
                os.symlink(os.path.abspath(target), os.path.join(scratch, name))
            subprocess.run(["valgrind", "--tool=callgrind", "--cache-sim=yes", *self.geometry.options(),
                            "--combine-dumps=yes", "--callgrind-out-file=out", "--log-file=log", "./program", "file"],
                           cwd=scratch, env=passcounts.FIXEDENVIRONMENT, stdout=subprocess.DEVNULL, check=True)
            with open(os.path.join(scratch, "log")) as log:
                collected = [int(figure) for figure in re.search(r"Collected : ([\d ]+)", log.read())[1].split()]
            parts = passcounts.readparts(os.path.join(scratch, "out"), MANYNOPS)
        whole = Events(collected[0], collected[1], collected[2], collected[4] + collected[5],
                       collected[7] + collected[8])
        self.assertEqual(sum(parts[1:], parts[0]), whole)
        store = parts[Pass.STORE.value] - self.many.total(Pass.STORE)
        self.assertEqual((store.ir, store.dr, store.dw), (0, 0, 0))

    def test_aprogramthatreadstheclockotherwiseisrefused(self):
        script = os.path.join(self.folder, "noclock")
        with open(script, "w") as out:  # printf prints a report, reads no clock and ends by exit
            out.write("#!/usr/bin/printf # a b \\n#  lines avg_linelen  getline   stored RAMused/line  store/ln "
                      "lookup/ln ADT\\n       1    2.0 byts 0.000 uS        1    48.0 byts  0.000 uS  0.000 uS X\\n\n")
        os.chmod(script, 0o755)
        with self.assertRaisesRegex(RunError, r"noclock read the clock 0 times, not the driver's six"):
            passcounts.runcounts(script, self.file, self.geometry, PROBE)

    def test_countsarekeptbyprogramandfileandcountedagainwhereeitherchanged(self):
        kept, changed = {}, os.path.join(self.folder, "changed")
        shutil.copyfile(FEWNOPS, changed)
        with open(changed, "ab") as out:
            out.write(b"\0")
        os.chmod(changed, 0o755)
        with unittest.mock.patch.object(passcounts, "runcounts", return_value=self.few) as run:
            for program in (FEWNOPS, FEWNOPS, changed, changed):
                self.assertEqual(passcounts.counted(program, self.file, self.geometry, PROBE, kept), self.few)
            self.assertEqual(run.call_count, 2)
        passcounts.savecounts(self.folder, kept)
        self.assertEqual(passcounts.loadcounts(self.folder), kept)
        with open(os.path.join(self.folder, passcounts.COUNTSFILE), "r+") as store:
            store.write(store.read().replace("[", "{", 1))
        with self.assertRaisesRegex(RunError, "counts.json is damaged"):
            passcounts.loadcounts(self.folder)


class caches(unittest.TestCase):
    def geometry(self, llc, listed):
        with tempfile.TemporaryDirectory() as folder:
            for number, (level, kind, size, ways) in enumerate(listed):
                os.makedirs(os.path.join(folder, f"index{number}"))
                for name, value in (("level", level), ("type", kind), ("size", size),
                                    ("ways_of_associativity", ways), ("coherency_line_size", 64)):
                    with open(os.path.join(folder, f"index{number}", name), "w") as out:
                        out.write(f"{value}\n")
            return passcounts.cachegeometry(llc, folder)

    def test_thelastlevelandthewaysvalgrindcansimulate(self):
        l1 = [(1, "Data", "48K", 12), (1, "Instruction", "32K", 8), (2, "Unified", "1024K", 16)]
        cases = [  # ways by hand: the nearest that gives a power-of-two number of 64-byte sets
            (None, [(3, "Unified", "32768K", 16)], Cache(32 << 20, 16, 64, Source.SYSFS, 16)),
            (None, [(3, "Unified", "36M", 12)], Cache(36 << 20, 9, 64, Source.SYSFS, 12)),  # 9 * 2^16 lines
            (30 << 20, [(3, "Unified", "32M", 16)], Cache(30 << 20, 15, 64, Source.BYHAND, 16)),  # 15 * 2^15
            (3 << 20, [], Cache(3 << 20, 12, 64, Source.BYHAND, 16)),  # 3 * 2^14, in place of the L2
        ]
        for llc, l3, ll in cases:
            geometry = self.geometry(llc, l1 + l3)
            self.assertEqual((geometry.ll, geometry.d1), (ll, Cache(48 << 10, 12, 64, Source.SYSFS, 12)))
        with self.assertRaisesRegex(RunError, "cannot simulate 1000000 bytes in about 16 ways"):
            self.geometry(1000000, l1 + [(3, "Unified", "32M", 16)])


if __name__ == "__main__":
    if shutil.which("valgrind") is None:
        print("passcounts_test: valgrind is not installed (tools/deps installs it): skipped")
        sys.exit(77)
    unittest.main(argv=sys.argv[:1])
