"""linebench-compare --counts and --fail-on end to end: two HASH builds whose
insert and lookup run 56 and 28 instructions more in one than in the other
(tests/compare/nops), read back from results.csv and results.json; counts
kept and never made twice; a run without valgrind; and the gate, by time on
stub programs of known figures and by counts on the two builds.

Usage: commandcounts_test.py BUILD MANYNOPS FEWNOPS
"""

import csv
import os
import shutil
import sys
import types
import unittest

from stubs import Folder, compare, laststderr, readjson, reportrow, stub, write  # (puts the package on the path)
from linebenchcompare.countfigures import CountChange, Counting, Event, Part, StoreCounts
from linebenchcompare.gate import gatefigures
from linebenchcompare.passcounts import Events, Pass, PassCounts
from linebenchcompare.records import TESTED, AgainstRow, Test, Verdict

MANYNOPS, FEWNOPS = sys.argv[2:4]
INSERTGAP, LOOKUPGAP = 56, 28  # the builds' instructions a line apart, as they are written
LINES, DISTINCT = 3000, 700  # passes far below the timer's floor: no time verdicts


def csvrows(folder):
    with open(os.path.join(folder, "results.csv"), newline="") as table:
        return {row["store"]: row for row in csv.DictReader(table)}


def counted(done):
    """The programs counted, from the progress lines."""
    return [line.split(" on ")[0].removeprefix("compare: counting ") for line in done.stderr.splitlines()
            if line.startswith("compare: counting ")]


class counts(Folder):
    def setUp(self):
        super().setUp()
        self.words = write(os.path.join(self.dir, "words.txt"), "".join(f"w{n % DISTINCT}\n" for n in range(LINES)))

    def run_(self, out, *options):
        done = compare("--runs", "1", "--out", os.path.join(self.dir, out), *options, self.words)
        self.assertIn(done.returncode, (0, 3), done.stderr)
        return done

    def test_eachpassdiffersbyitsnopsalineandasecondruncountsnothing(self):
        programs = f"MANY={MANYNOPS},FEW={FEWNOPS}"
        done = self.run_("out", "--counts", "--programs", programs)
        self.assertEqual(sorted(counted(done)), ["FEW", "MANY"])
        rows = csvrows(os.path.join(self.dir, "out"))
        perline = {entry["store"]: entry["per_line"] for entry in readjson(os.path.join(self.dir, "out"))["counts"]}
        for part, gap in (("count", 0), ("store", INSERTGAP), ("lookup", LOOKUPGAP), ("store_own", INSERTGAP),
                          ("lookup_own", LOOKUPGAP)):
            apart = float(rows["MANY"][f"{part}_instructions"]) - float(rows["FEW"][f"{part}_instructions"])
            self.assertAlmostEqual(apart, gap, places=6, msg=part)
            self.assertAlmostEqual(perline["MANY"][part]["instructions"] - perline["FEW"][part]["instructions"], gap,
                                   places=6, msg=part)
            for event in ("data_reads", "data_writes"):
                self.assertEqual(rows["MANY"][f"{part}_{event}"], rows["FEW"][f"{part}_{event}"], (part, event))
        done = self.run_("out", "--counts", "--programs", programs)
        self.assertEqual(counted(done), [])
        self.assertEqual([entry["counted"] for entry in readjson(os.path.join(self.dir, "out"))["counts"]],
                         [False, False])
        self.assertEqual(csvrows(os.path.join(self.dir, "out"))["MANY"]["store_instructions"],
                         rows["MANY"]["store_instructions"])
        # a damaged counts file stops the run before its first timed run
        write(os.path.join(self.dir, "out", "counts.json"), "{")
        done = compare("--runs", "1", "--out", os.path.join(self.dir, "out"), "--counts", "--programs", programs,
                       self.words)
        self.oneline(done, 1, "counts.json is damaged, not counts that linebench-compare kept; remove it")
        self.assertNotIn("round 1", done.stderr)

    def test_withoutvalgrindtherunsayssoinonelineandgoesonwithoutcounts(self):
        tools = os.path.join(self.dir, "bin")
        os.mkdir(tools)
        for tool in ("sh", "ldd", "git", "gnuplot"):
            if shutil.which(tool):
                os.symlink(shutil.which(tool), os.path.join(tools, tool))
        done = compare("--runs", "1", "--counts", "--programs", f"FEW={FEWNOPS}", "--out",
                       os.path.join(self.dir, "out"), self.words, env=dict(os.environ, PATH=tools))
        self.assertEqual(done.returncode, 0, done.stderr)
        said = [line for line in done.stderr.splitlines() + done.stdout.splitlines() if "valgrind" in line]
        self.assertEqual(said, ["compare: no counts: counting needs valgrind, which is not installed (tools/deps "
                                "installs it)"])
        self.assertNotIn("store_instructions", next(iter(csvrows(os.path.join(self.dir, "out")).values())))

    def test_thegatefailsonmoreinstructionsandpassesonfewer(self):
        # counted in the first run; the second counts MANY alone, the earlier
        # program's counts being the first run's; the third counts nothing
        self.assertEqual(counted(self.run_("few", "--counts", "--programs", f"X={FEWNOPS}")), ["X"])
        done = self.run_("many", "--programs", f"X={MANYNOPS}", "--against", os.path.join(self.dir, "few"),
                         "--fail-on", "slower")
        self.assertEqual((done.returncode, counted(done)), (3, ["X"]), done.stderr)
        few = csvrows(os.path.join(self.dir, "few"))["X"]
        self.assertEqual(laststderr(done), f"compare: --fail-on slower: failed: X store on words.txt +{INSERTGAP} "
                         f"instructions a line (+{INSERTGAP / float(few['store_instructions']):.0%}); X lookup on "
                         f"words.txt +{LOOKUPGAP} instructions a line "
                         f"(+{LOOKUPGAP / float(few['lookup_instructions']):.0%})")
        done = self.run_("again", "--programs", f"X={FEWNOPS}", "--against", os.path.join(self.dir, "many"),
                         "--fail-on", "slower")
        self.assertEqual((done.returncode, counted(done), laststderr(done)),
                         (0, [], "compare: --fail-on slower: passed"), done.stderr)
        with open(os.path.join(self.dir, "again", "results.md")) as md:
            self.assertIn(f"store -{INSERTGAP} instructions a line", md.read())

    def test_thegateontimesfailsaslowdownandnamestheopen(self):
        before = os.path.join(self.dir, "before")
        program = stub(self.dir, "same", 0.150, 0.150)
        done = compare("--programs", f"X={program}", "--runs", "6", "--out", before, self.text)
        self.assertEqual(done.returncode, 0, done.stderr)
        row = os.path.join(self.dir, "row")
        # store times of 0.100 and 0.200 in turn against 0.150: an interval across the threshold
        wavering = stub(self.dir, "wavering", 0, 0, rowfile=row,
                        before=f'if [ $((n % 2)) = 0 ]; then echo "{reportrow(0.100, 0.150)}" > {row}; '
                        f'else echo "{reportrow(0.200, 0.150)}" > {row}; fi')
        for name, program, status, said in (
                ("aa", program, 0, "passed"),
                ("slower", stub(self.dir, "slower", 0.300, 0.150), 3, "failed: X store on words.txt slower "
                 "x2.00 [2.00, 2.00]"),
                ("open", wavering, 0, "passed; 1 figure open: X store on words.txt x")):
            done = compare("--programs", f"X={program}", "--runs", "6", "--out", os.path.join(self.dir, f"{name}.out"),
                           "--against", before, "--fail-on", "slower", self.text)
            self.assertEqual(done.returncode, status, done.stderr)
            self.assertTrue(laststderr(done).startswith(f"compare: --fail-on slower: {said}"), laststderr(done))
        self.oneline(compare("--fail-on", "slower", "--out", os.path.join(self.dir, "x"), self.text), 2,
                     "--fail-on slower sets this run against an earlier one: give --against DIR")


def handmade(store, store_ir, lookup_ir, d1miss, lines=1000):
    """StoreCounts of hand-made parts: a count pass of 20 instructions and
    10 misses a line, the store and lookup passes' totals as given."""
    parts = [Events(0, 0, 0, 0, 0)] * 7
    parts[Pass.COUNT.value] = Events(20 * lines, 0, 0, 10, 0)
    parts[Pass.STORE.value] = Events(store_ir, 0, 0, d1miss, 0)
    parts[Pass.LOOKUP.value] = Events(lookup_ir, 0, 0, 10, 0)
    return StoreCounts("f", store, PassCounts(lines, 1, "X", tuple(parts), 0.0), True)


class changes(unittest.TestCase):
    def test_whatisrealandwhatfailsthegate(self):
        before = handmade("X (before)", 100_000, 80_000, 10)
        cases = [  # now's store instructions and misses: text, L1d real in the pass and in the store's own
            (100_000, 13, "store the same instructions (exact)", False, False),
            (100_000, 14, "store the same instructions, L1d misses +0.004 a line (exact)", True, False),
            (101_000, 17, "store +1 instructions a line (+1%), L1d misses +0.007 a line (exact)", True, True),
            (38_000, 10, "store -62 instructions a line (-62%) (exact)", False, False),
        ]
        for store_ir, d1miss, text, real, ownreal in cases:
            now = handmade("X", store_ir, 80_000, d1miss)
            self.assertEqual(CountChange(Part.STORE, before, now).text(), text)
            self.assertEqual(CountChange(Part.STORE, before, now).real(Event.L1DMISSES), real)
            self.assertEqual(CountChange(Part.STOREOWN, before, now).real(Event.L1DMISSES), ownreal)
        # 1% more instructions a line passes the gate's 1%; 1.1% fails it
        report = types.SimpleNamespace(settings=types.SimpleNamespace(countthreshold=0.01, failon="slower"))
        test = Test(1.0, 0.99, 1.01, verdict=Verdict.LEVEL)
        for store_ir, fails in ((101_000, False), (101_100, True)):
            row = AgainstRow("f", "X", True, False, {figure: types.SimpleNamespace(test=test) for figure in TESTED})
            report.against = types.SimpleNamespace(rows=[row])
            report.counts = Counting(None, None, None, [handmade("X", store_ir, 80_000, 10), before], 0, [], None)
            self.assertEqual([figure.fails() for figure in gatefigures(report)], [fails, False])


if __name__ == "__main__":
    if shutil.which("valgrind") is None:
        print("commandcounts_test: valgrind is not installed (tools/deps installs it): skipped")
        sys.exit(77)
    unittest.main(argv=sys.argv[:1])
