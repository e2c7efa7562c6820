"""The installed linebench: cmake --install into a scratch prefix, which is
then moved elsewhere, and linebench-compare run from there in a folder of its
own, with neither the checkout nor the build folder in PATH or PYTHONPATH and
every build tool replaced by one that fails: it must compare the installed
stores, on its generated ladder and on the user's files, with the installed
corpus generator and linebench-shape.  Every installed program has a manual
page, and every page opens with man -l from any folder.

Usage: install_test.py BUILD [CMAKE], BUILD the build folder to install.
"""

import csv
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release"))
CMAKE = sys.argv[2] if len(sys.argv) > 2 else "cmake"
# What a build would call; the installed tool calls none of them.
BUILDTOOLS = ["cmake", "ninja", "make", "c++", "g++", "gcc", "cc", "clang", "clang++", "git"]
# What bin/ of an installation holds.
PROGRAMS = ["linebench-compare", "linebench-corpus", "linebench-hash", "linebench-redblack", "linebench-shape"]


def buildstores():
    """(program, label) of every store that the build made, in its order."""
    with open(os.path.join(BUILD, "linebench-stores.tsv"), newline="") as listing:
        return [(row["program"], row["label"]) for row in csv.DictReader(listing, delimiter="\t")]


def write(path, text):
    with open(path, "w") as out:
        out.write(text)
    return path


class installed(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="linebench-install-")
        top = cls.scratch.name
        staged = os.path.join(top, "staged")
        done = subprocess.run([CMAKE, "--install", BUILD, "--prefix", staged], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True)
        if done.returncode != 0:
            raise AssertionError(f"cmake --install failed:\n{done.stdout}")
        # Moved once installed, so that nothing may lead back to where it went first.
        cls.prefix = os.path.join(top, "prefix")
        os.rename(staged, cls.prefix)
        cls.staged = staged
        cls.work = os.path.join(top, "work")
        os.mkdir(cls.work)
        fakes = os.path.join(top, "fakes")
        os.mkdir(fakes)
        cls.calls = os.path.join(top, "calls")
        for tool in BUILDTOOLS:
            os.chmod(write(os.path.join(fakes, tool), f'#!/bin/sh\necho "$0 $*" >> "{cls.calls}"\nexit 1\n'), 0o755)
        cls.env = {name: value for name, value in os.environ.items() if name not in ("PATH", "PYTHONPATH")}
        cls.env["PATH"] = os.pathsep.join([os.path.join(cls.prefix, "bin"), fakes, "/usr/bin", "/bin"])

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def compare(self, out, *args):
        """linebench-compare as found on the PATH, run in the work folder with
        the output folder out: its results.json as text and as a record."""
        command = shutil.which("linebench-compare", path=self.env["PATH"])
        self.assertEqual(command, os.path.join(self.prefix, "bin", "linebench-compare"))
        out = os.path.join(self.work, out)
        done = subprocess.run([command, "--out", out] + list(args), cwd=self.work, env=self.env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=600)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertNotIn("Traceback", done.stderr)
        with open(os.path.join(out, "results.json")) as source:
            text = source.read()
        return text, json.loads(text)

    def assertinstalled(self, text, record, programs):
        """The run ran these programs of the build, each from the
        installation, and nothing of the checkout, the build folder, the
        folder it was installed into first, or a build tool."""
        labels = dict(buildstores())
        self.assertEqual([store["key"] for store in record["stores"]], [labels[p] for p in programs])
        self.assertEqual([store["program"] for store in record["stores"]], programs)
        for store in record["stores"]:
            path = os.path.realpath(store["path"])
            self.assertTrue(path.startswith(self.prefix + os.sep), path)
            self.assertEqual(os.path.basename(path), store["program"])
        for where in (ROOT, BUILD, self.staged):
            self.assertNotIn(where + os.sep, text)
        self.assertFalse(os.path.exists(self.calls), "a build tool was called")
        self.assertTrue(record["complete"])

    def test_thequickladdercomparestheinstalledstores(self):
        text, record = self.compare("ladder", "--quick")
        # the default run leaves out linebench-boostflat
        self.assertinstalled(text, record, [p for p, _ in buildstores() if p != "linebench-boostflat"])
        # each file named after its distinct lines: all of them, or one in a hundred
        ladder = {f"{shape}-1e{power - 2 * (shape in ('zipf', 'uniform'))}.txt": 10**power
                  for shape in ("unique", "zipf", "uniform", "ascending") for power in (3, 4)}
        self.assertEqual({facts["file"]: facts["shape_figures"]["lines"] for facts in record["files"]},
                         {name: str(count) for name, count in ladder.items()})
        for facts in record["files"]:
            self.assertIn("`linebench-corpus --lines", facts["source"])

    def test_theusersfilesarecomparedbyeveryinstalledstore(self):
        # 600 lines, 400 distinct; blanks and a CR, which no store keeps
        words = write(os.path.join(self.work, "words.txt"),
                      "".join(f"word {i % 400}\r\n" if i % 3 else f"\tword{i % 400}\n" for i in range(600)))
        single = write(os.path.join(self.work, "one.txt"), "only\n" * 50)
        text, record = self.compare("own", "--programs", "all", "--runs", "1", words, single)
        self.assertinstalled(text, record, [p for p, _ in buildstores()])
        for summary in record["summaries"]:
            expected = (600, 400) if summary["file"] == "words.txt" else (50, 1)
            self.assertEqual((summary["lines"], summary["distinct"]), expected, summary["store"])
        self.assertEqual(len(record["summaries"]), 2 * len(buildstores()))

    def test_everyprogramhasapageandeverypageopensfromanyfolder(self):
        self.assertEqual(sorted(os.listdir(os.path.join(self.prefix, "bin"))), PROGRAMS)
        pages = {}
        for folder, _, names in os.walk(os.path.join(self.prefix, "share", "man")):
            pages.update((name, os.path.join(folder, name)) for name in names)
        self.assertEqual(sorted(pages), sorted([program + ".1" for program in PROGRAMS] + ["linebench.1"]))
        # Nor may man find the page's folder from the installed programs on
        # the PATH, as man-db would: only the page's own path leads to it.
        env = {name: value for name, value in self.env.items() if name != "MANPATH"}
        env.update(PATH=os.pathsep.join(["/usr/bin", "/bin"]), MANPAGER="cat", PAGER="cat", MANWIDTH="120")
        for name, page in sorted(pages.items()):
            with self.subTest(page=name):
                if shutil.which("man", path=env["PATH"]):
                    command = ["man", "-l", page]
                elif shutil.which("groff", path=env["PATH"]):
                    command = ["groff", "-man", "-Tutf8", page]
                elif shutil.which("mandoc", path=env["PATH"]):
                    command = ["mandoc", page]
                else:
                    self.skipTest("no man, groff nor mandoc here; tools/deps installs man-db")
                done = subprocess.run(command, cwd=self.work, env=env, stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, text=True)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertIn("NAME\n", done.stdout, done.stderr)
                section = done.stdout.split("NAME\n", 1)[1].split("\n\n", 1)[0]
                self.assertIn(name.removesuffix(".1"), " ".join(section.split()), done.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
