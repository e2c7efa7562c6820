"""linebench-compare's options: the parser, its help and the defaults that
the help names.
"""

import argparse
import os
import textwrap

from . import rounds
from .errors import CommandLineError
from .gate import COUNTTHRESHOLD, FAILED, FAILON
from .home import ROOT
from .ladder import SHAPENAMES
from .records import CountScope
from .storelist import NOTBYDEFAULT
from .verdicts import ALPHA, THRESHOLD, fewestruns

AUTO = "auto"  # --runs auto: rounds until every figure is decided

# Runs of every program on every file: rounds until every figure is decided,
# within TIMELIMIT.  On this project's machine that found a 5% gap and held
# equal programs level more often than the 13 runs a side that were the
# default before (docs/compare-method.md).
RUNS = AUTO
QUICK_RUNS = 3
# --large: its rungs past the default ladder take minutes a run, so a fixed
# few rounds, the fewest with which the paired test reaches α = 0.05
# (docs/compare-method.md).
LARGE_RUNS = 6
# --large grows the shapes whose every line is distinct, where memory grows
# with the lines.  Zipf and uniform, one line in ten distinct at their top
# rung, pass four times a 32 MiB cache only past 10^7 lines, rounds of
# minutes; --shapes names them.
LARGE_SHAPES = ["unique", "ascending"]
# The timed runs keep to one CPU, by default the last one this process may
# use: pinned, their spreads narrowed (docs/compare-method.md).
# Address-space randomisation stays on: turning it off narrowed the spreads
# too seldom to tell from chance (docs/compare-method.md).
ASLR = "on"
# What a run counts under valgrind without --counts or --no-counts.  A counted
# run takes a core for some 50 to 100 times a timed run's own time, so none
# without --against; with it, the programs whose figures are set against the
# earlier run, a changed store and its earlier program, whose counts tell a
# change of a percent that the times cannot; an unchanged program's are the
# earlier run's own.
AGAINSTCOUNTS = CountScope.CHANGED
# --runs auto: the most time its rounds may take, so that a default run of the
# ladder, corpora and all, takes at most five minutes.
TIMELIMIT = 240.0

DESCRIPTION = """Compare the stores on a ladder of generated corpora, or on your own files.

In a checkout it first builds the Release preset (only the programs and tools
it runs); installed, it runs the installed programs and builds nothing.  It
generates corpora of four shapes, four rungs each of 10^3 to 3·10^5 distinct
lines, with linebench-corpus (or takes the files given), runs the store
programs (see --programs) on every file in interleaved rounds until every
verdict is decided or the time limit is up, each run pinned to one CPU, and
writes OUT/results.md, OUT/results.csv, OUT/results.json and OUT/results.png
(the plot needs gnuplot), with a copy of each program it ran in OUT/programs, then
prints the fastest store and lookup and every store's memory per line for
each file.  A verdict sets two programs' runs against each other round by
round (the Wilcoxon signed-rank test) and is level, faster, slower or open as
the ratio's confidence interval lies within, beyond or across a practical
threshold; --runs auto runs until each is decided.

The store programs: linebench-redblack and linebench-hash, the stores of
one's own that the build was given (LINEBENCH_EXTRA_STORES), and the
baselines, each built where the build finds its library (in a checkout,
tools/deps installs them): linebench-stdset (std::set), linebench-stdhash
(std::unordered_set), linebench-abslflat and linebench-abslbtree (Abseil's
flat hash set and B-tree), linebench-boostflat (Boost's flat hash set; run
only when named, or with all), linebench-judysl (Judy's JudySL),
linebench-hattrie (the HAT-trie), linebench-densehash and
linebench-sparsehash (Google's dense and sparse hash sets)."""


class Formatter(argparse.RawDescriptionHelpFormatter):
    """Help whose lines break between words only, so that a program's name
    stays whole."""

    def _split_lines(self, text, width):
        return textwrap.wrap(" ".join(text.split()), width, break_on_hyphens=False)


class Parser(argparse.ArgumentParser):
    def format_help(self):
        """The help; only now does it count the runs the rank test needs, as
        that loads SciPy, which a command line's checks do without."""
        self.runsaction.help = RUNSHELP + runsneeded() + ")"
        return super().format_help()

    def error(self, message):
        """A bad command line: one line, status 2, as cli.py says it."""
        raise CommandLineError(message)


def parser():
    result = Parser(
        prog="linebench-compare", description=DESCRIPTION, formatter_class=Formatter,
        epilog="Without FILEs, the corpora are generated under OUT/corpora, which must be absent or empty; the run "
        "removes the files it generated when it ends, also when it stops or fails (keep them with --keep-corpora), "
        "and OUT/corpora if it made it.  It keeps its results and the copies of its programs, which replace those "
        "of the run before it in OUT, and removes nothing else.  Exit status: 0 for a complete run, 1 for a failure, 2 "
        f"for a command line that cannot work, {FAILED} for a run that --fail-on fails, 128+N when stopped by "
        "signal N.")
    result.add_argument("files", nargs="*", metavar="FILE", help="your own files instead of the generated ladder")
    result.add_argument("--out", default=os.path.join(ROOT or "", "out", "compare"), metavar="DIR",
                        help="the output folder (default: out/compare, in the checkout when run from one, else in "
                        "the current folder)")
    result.runsaction = result.add_argument("--runs", metavar="N|auto", help=RUNSHELP + ")")
    result.add_argument("--time-limit", metavar="TIME",
                        help="with --runs auto, the most time its rounds may take, e.g. 90s, 10m or 1h "
                        f"(default {rounds.clock(TIMELIMIT)})")
    result.add_argument("--quick", action="store_true",
                        help="small corpora only, 10^3 and 10^4 lines of each shape: a smoke test, too short and "
                        "too few runs for verdicts")
    result.add_argument("--programs", metavar="LIST",
                        help="the stores to run, comma-separated: a program of the build or the installation "
                        "(e.g. linebench-hash), whose rows go by its store's label; NAME=PATH, a program elsewhere, "
                        "whose rows go by NAME; and all, every store the build made that the list does not name "
                        f"itself (default: every store the build made but {', '.join(NOTBYDEFAULT)})")
    result.add_argument("--against", metavar="DIR",
                        help="set this run's figures beside those of DIR, an earlier run (or its results file, a "
                        ".csv or .json of any name), for the files of the same content: DIR's kept programs run "
                        "beside this run's as KEY (before), or where they cannot run here, its recorded runs")
    result.add_argument("--counts", action=argparse.BooleanOptionalAction,
                        help="count every program once on every file under valgrind, after the timed rounds: "
                        "instructions, data reads and writes, and the simulated L1d and last-level misses of each "
                        "pass, exact; or, --no-counts, none (default: with --against, "
                        f"{AGAINSTCOUNTS.value}, else none; counts kept in OUT/counts.json are not made again)")
    result.add_argument("--fail-on", choices=FAILON, metavar="slower",
                        help=f"with --against, exit with status {FAILED} when a figure is decided slower than the "
                        "earlier run's, by its time or by its counts; open figures do not fail the run, but the "
                        "closing line names them")
    result.add_argument("--count-threshold", type=float, default=COUNTTHRESHOLD * 100, metavar="PERCENT",
                        help="with --fail-on, the growth of a pass's instructions a line over the earlier program's "
                        f"that fails the run (default {COUNTTHRESHOLD * 100:g})")
    result.add_argument("--large", action="store_true",
                        help="extend each shape's ladder until the largest store's memory passes four times the "
                        f"last-level cache (default shapes {','.join(LARGE_SHAPES)}, runs {LARGE_RUNS})")
    result.add_argument("--llc", metavar="SIZE",
                        help="the last-level cache's size, as 32M, 512K or bytes, for --large and the plot's mark "
                        "(default: from sysfs)")
    result.add_argument("--shapes", metavar="LIST",
                        help=f"comma-separated shapes of the generated ladder (default: "
                        f"{','.join(SHAPENAMES)}; with --large "
                        f"{','.join(LARGE_SHAPES)})")
    result.add_argument("--build-dir", metavar="DIR",
                        help="use the programs already built in the build folder DIR, and build nothing")
    result.add_argument("--seed", type=int, metavar="N", help="seed of the generated corpora (default 1)")
    result.add_argument("--keep-corpora", action="store_true",
                        help="keep the generated corpora in OUT/corpora, which the run removes otherwise")
    addverdictoptions(result)
    return result


def addverdictoptions(result):
    """The options of how the runs are judged and pinned, last in --help."""
    result.add_argument("--alpha", type=float, default=ALPHA, metavar="A",
                        help="the verdicts' significance level: a verdict's confidence interval misses the true "
                        f"ratio at most this often; --runs auto spends it across its looks (default {ALPHA:g})")
    result.add_argument("--threshold", type=float, default=THRESHOLD * 100, metavar="PERCENT",
                        help="a verdict is level when the confidence interval of the ratio lies wholly within this "
                        "many percent of 1, faster or slower when wholly beyond it; where the times are the reports' "
                        "rounded ones, the interval must clear the edge by what the rounding may move the ratio "
                        f"(default {THRESHOLD * 100:g})")
    result.add_argument("--cpu", default=None, metavar="N|none",
                        help="the CPU every timed run is pinned to, or none (default: the last CPU this process "
                        "may use)")
    result.add_argument("--aslr", choices=["on", "off"], default=ASLR, metavar="on|off",
                        help=f"address-space randomisation of the timed runs, as setarch -R turns it off "
                        f"(default {ASLR})")


RUNSHELP = (f"runs of every program on every file, or auto: rounds until every tested figure is decided or the time "
            f"limit is up (default {RUNS}, with --quick {QUICK_RUNS}, with --large {LARGE_RUNS}")


def runsneeded():
    """The help's word on the fewest runs; SciPy counts them, and --help
    does without it."""
    try:
        return f"; the rank test needs {fewestruns(ALPHA)} rounds to reach α = {ALPHA:g}"
    except ImportError:
        return ""
