"""What the end-to-end tests of linebench-compare share: the command run on
the programs of a build, stub programs of known figures in their place,
and a scratch folder a test.  Importing it puts the package on the path;
the build folder is the first argument of the test.
"""

import json
import os
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "compare"))
COMPARE = os.path.join(ROOT, "compare", "linebench-compare")
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release")
LINES = 200000  # the stubs' passes last 30 ms or more, above the timer's floor


def compare(*args, env=None):
    return subprocess.run([COMPARE, "--build-dir", BUILD] + list(args), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, env=env, timeout=300)


def reportrow(store, lookup, getline="0.050"):
    return f"{LINES:8d}   10.0 byts {getline} uS   {LINES // 2:6d}    88.0 byts {store:6.3f} uS {lookup:6.3f} uS STUB"


def stub(folder, name, store, lookup, sleep=0.0, report=True, rowfile=None, then="", before="", getline="0.050",
         mark=None, clock=()):
    """A program that prints a report of fixed figures, or the row in
    rowfile, and the heap probe's two lines, as linebench's programs do, and
    the probe's lines of the clock's readings (seconds, microseconds) of
    clock; then runs the shell lines then.  before: shell run first, with $n the number
    of this run of the program (1, 2, ...); getline may be a shell
    expression.  With mark, it first adds a line to that file, so that a test
    can count its runs."""
    path = os.path.join(folder, name)
    with open(path, "w") as script:
        script.write("#!/bin/sh\n" + (f"echo >> '{mark}'\n" if mark else "") + (f"sleep {sleep}\n" if sleep else ""))
        if before:
            script.write('n=$(($(cat "$0.count" 2>/dev/null || echo 0) + 1)); echo $n > "$0.count"\n' + before + "\n")
        if report:
            script.write("printf '# %s %s \\n' \"$0\" \"$1\"\n"
                         "echo '#  lines avg_linelen  getline   stored RAMused/line  store/ln lookup/ln ADT'\n"
                         + (f"cat '{rowfile}'\n" if rowfile else f'echo "{reportrow(store, lookup, getline)}"\n'))
        lines = ["0 0", "0 0"] + ([f"clock {len(clock)}"] + [f"t {seconds} {micros}" for seconds, micros in clock]
                                  if clock else [])
        script.write(f'[ -z "$HEAPPROBE_FILE" ] || printf "%s\\n" {" ".join(repr(line) for line in lines)} '
                     '> "$HEAPPROBE_FILE"\n' + then)
    os.chmod(path, 0o755)
    return path


def runsstarted(mark):
    """How many runs of a stub given mark have started."""
    try:
        with open(mark) as marks:
            return len(marks.readlines())
    except FileNotFoundError:
        return 0


def write(path, text):
    with open(path, "w") as out:
        out.write(text)
    return path


def readjson(folder):
    with open(os.path.join(folder, "results.json")) as source:
        return json.load(source)


def statfile(ticks):
    """/proc/stat's CPU lines: ticks per CPU number, each user, nice,
    system, idle, iowait, irq, softirq, steal."""
    return "cpu  0 0 0 0 0 0 0 0 0 0\n" + "".join(
        f"cpu{cpu} {' '.join(map(str, fields))} 0 0\n" for cpu, fields in sorted(ticks.items())) + "intr 1 2 3\n"


class Folder(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.dir = self.scratch.name
        self.text = write(os.path.join(self.dir, "words.txt"), "to\nbe\nor\nnot\n")

    def tearDown(self):
        self.scratch.cleanup()

    def oneline(self, done, status, words):
        """A failure said in one line that names the problem, no traceback."""
        self.assertEqual(done.returncode, status, done.stderr)
        self.assertNotIn("Traceback", done.stderr)
        lines = done.stderr.strip().splitlines()
        self.assertIn(words, lines[-1])
        if status == 2:
            self.assertEqual(len(lines), 1, done.stderr)


def laststderr(done):
    return done.stderr.strip().splitlines()[-1]


def waitfor(path, process):
    """Waits until path exists, or fails when the process ends first."""
    while not os.path.exists(path):
        if process.poll() is not None:
            raise AssertionError(f"ended with status {process.returncode} before {path} was made: "
                                 f"{process.stderr.read()}")
        time.sleep(0.05)


def fakebuild(folder, tool=None, script=None):
    """A build folder of the heap probe and an empty list of stores, and
    tool as a program that runs script."""
    os.mkdir(folder)
    os.symlink(os.path.abspath(os.path.join(BUILD, "heapprobe.so")), os.path.join(folder, "heapprobe.so"))
    write(os.path.join(folder, "linebench-stores.tsv"), "program\tpath\tlabel\tfamily\n")
    if tool:
        os.chmod(write(os.path.join(folder, tool), script), 0o755)
    return folder
