"""linebench-compare's options: the parser, its help and the defaults that
the help names.
"""

import argparse
import os
import textwrap

from . import rounds
from .errors import CommandLineError
from .home import ROOT
from .ladder import SHAPENAMES
from .storelist import NOTBYDEFAULT
from .verdicts import ALPHA, THRESHOLD, fewestruns

AUTO = "auto"  # --runs auto: rounds until every figure is decided

# Runs of every program on every file: rounds until every figure is decided,
# within TIMELIMIT.  On this project's machine that found a 5% gap and held
# equal programs level more often than the 13 runs a side that were the
# default before (docs/compare.md).
RUNS = AUTO
QUICK_RUNS = 3
# --large: its rungs past the default ladder take minutes a run, so a fixed
# few rounds, the fewest with which the paired test reaches α = 0.05
# (docs/compare.md).
LARGE_RUNS = 6
# --large grows the shapes whose every line is distinct, where memory grows
# with the lines.  Zipf and uniform, one line in ten distinct at their top
# rung, pass four times a 32 MiB cache only past 10^7 lines, rounds of
# minutes; --shapes names them.
LARGE_SHAPES = ["unique", "ascending"]
# The timed runs keep to one CPU, by default the last one this process may
# use: pinned, their spreads narrowed (docs/compare.md).
# Address-space randomisation stays on: turning it off narrowed the spreads
# too seldom to tell from chance (docs/compare.md).
ASLR = "on"
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
        "of the run before it in OUT, and removes nothing else.")
    result.add_argument("files", nargs="*", metavar="FILE", help="your own files instead of the generated ladder")
    result.add_argument("--out", default=os.path.join(ROOT or "", "out", "compare"),
                        help="output folder (default: out/compare, in the checkout where run from one)")
    result.runsaction = result.add_argument("--runs", metavar="N|auto", help=RUNSHELP + ")")
    result.add_argument("--time-limit", metavar="TIME",
                        help="with --runs auto, the most time its rounds may take, e.g. 90s, 10m or 1h "
                        f"(default {rounds.clock(TIMELIMIT)})")
    result.add_argument("--quick", action="store_true",
                        help="small corpora only, 10^3 and 10^4 lines of each shape: a smoke test, too short and "
                        "too few runs for verdicts")
    result.add_argument("--programs", metavar="LIST",
                        help="comma-separated: programs of the build folder (e.g. linebench-hash) and "
                        "NAME=PATH for a program elsewhere, shown as NAME, and all: every store the build made "
                        f"(default: every store the build made but {', '.join(NOTBYDEFAULT)})")
    result.add_argument("--against", metavar="DIR",
                        help="set this run's figures beside those of DIR, an earlier run (or its results file, a "
                        ".csv or .json of any name), for the files of the same content: DIR's kept programs run "
                        "beside this run's as KEY (before), or where they cannot run here, its recorded runs")
    result.add_argument("--large", action="store_true",
                        help="extend each shape's ladder until the largest store's memory passes four times the "
                        f"last-level cache (default shapes {','.join(LARGE_SHAPES)}, runs {LARGE_RUNS})")
    result.add_argument("--llc", metavar="SIZE",
                        help="the last-level cache's size, e.g. 32M, for --large and the plot's mark (default: "
                        "from sysfs)")
    result.add_argument("--shapes", metavar="LIST",
                        help=f"comma-separated shapes of the generated ladder (default: "
                        f"{','.join(SHAPENAMES)}; with --large "
                        f"{','.join(LARGE_SHAPES)})")
    result.add_argument("--build-dir", help="use the programs already built there; skip the build")
    result.add_argument("--seed", type=int, help="seed of the generated corpora (default 1)")
    result.add_argument("--keep-corpora", action="store_true", help="keep the generated corpora")
    result.add_argument("--alpha", type=float, default=ALPHA,
                        help=f"significance level of the rank test (default {ALPHA:g})")
    result.add_argument("--threshold", type=float, default=THRESHOLD * 100, metavar="PERCENT",
                        help="a verdict is level when the confidence interval of the ratio lies wholly within this "
                        "many percent of 1, faster or slower when wholly beyond it; where the times are the reports' "
                        "rounded ones, the interval must clear the edge by what the rounding may move the ratio "
                        f"(default {THRESHOLD * 100:g})")
    result.add_argument("--cpu", default=None, metavar="N|none",
                        help="the CPU every timed run is pinned to, or none (default: the last one allowed)")
    result.add_argument("--aslr", choices=["on", "off"], default=ASLR,
                        help=f"address-space randomisation of the timed runs, as setarch -R turns it off "
                        f"(default {ASLR})")
    return result


RUNSHELP = (f"runs of every program on every file, or auto: rounds until every tested figure is decided or the time "
            f"limit is up (default {RUNS}, with --quick {QUICK_RUNS}, with --large {LARGE_RUNS}")


def runsneeded():
    """The help's word on the fewest runs; SciPy counts them, and --help
    does without it."""
    try:
        return f"; the rank test needs {fewestruns(ALPHA)} to reach α = " \
            f"{ALPHA:g}"
    except ImportError:
        return ""
