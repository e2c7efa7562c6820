"""linebench-compare's generated ladder end to end: the corpora folder that it
refuses and the corpora it removes, and --large with --llc.

Usage: commandladder_test.py [BUILD], the folder that holds the programs (build/release).
"""

import os
import sys
import unittest

from stubs import Folder, compare, readjson, stub, write


class ownfiles(Folder):
    def test_acorporafolderthatholdsfilesorisalinkisrefusedbeforeanything(self):
        out = os.path.join(self.dir, "out")
        os.makedirs(os.path.join(out, "corpora"))
        mine = write(os.path.join(out, "corpora", "mine.txt"), "keep me\n")
        elsewhere = os.path.join(self.dir, "elsewhere")
        os.mkdir(elsewhere)
        theirs = write(os.path.join(elsewhere, "theirs.txt"), "keep me too\n")
        linked = os.path.join(self.dir, "linked")
        os.mkdir(linked)
        os.symlink(elsewhere, os.path.join(linked, "corpora"))
        for folder, words in ((out, "corpora holds files that this run did not make (mine.txt)"),
                              (linked, "corpora is a symbolic link")):
            with self.subTest(folder=folder):
                self.oneline(compare("--quick", "--out", folder), 2, words)
        for path, text in ((mine, "keep me\n"), (theirs, "keep me too\n")):
            with open(path) as kept:
                self.assertEqual(kept.read(), text)

    def test_aladderrunremovesonlythecorporaitwrote(self):
        """A file that appears among the corpora during the run is not the
        run's: it stays, and so does the folder that holds it."""
        out = os.path.join(self.dir, "out")
        x = stub(self.dir, "x", 0.3, 0.2, before='[ $n -ne 1 ] || echo theirs > "$(dirname "$1")/theirs.txt"')
        done = compare("--quick", "--runs", "1", "--programs", f"X={x}", "--out", out)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(os.listdir(os.path.join(out, "corpora")), ["theirs.txt"])
        self.assertEqual(len(readjson(out)["files"]), 8)  # two rungs of four shapes, all removed


class large(Folder):
    def test_llcgivesthecachewherethelargeladderandtheplotneedit(self):
        x = stub(self.dir, "x", 0.3, 0.2)
        done = compare("--large", "--llc", "1K", "--shapes", "ascending", "--runs", "1", "--programs", f"X={x}",
                       "--out", self.dir)
        self.assertEqual(done.returncode, 0, done.stderr)
        record = readjson(self.dir)
        self.assertEqual(record["settings"]["llc"], {"bytes": 1024, "level": None, "from": "--llc"})
        self.assertEqual(record["large"]["target_bytes"], 4096)
        with open(os.path.join(self.dir, "results.gp")) as script:
            # the stub's 88 bytes a line fill 1 KiB at 11.6 lines
            self.assertIn("last-level cache full at 12'", script.read())
        self.oneline(compare("--llc", "lots", self.text), 2, "--llc lots: not a size")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
