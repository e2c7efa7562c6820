"""linebench-compare's command line: every option checked before anything runs,
then the run (session.py), which a stop or a failure ends in one line.
"""

import math
import os
import re
import signal
import sys

from . import earlierrun, endings, keptprograms, owned, session, stops, storechoice
from .errors import DamagedResults, Disagreement, Interrupted, RunError
from .filechecks import filetrouble, outtrouble
from .home import CORPUS, HOME, INSTALLED, PROBE
from .ladder import SHAPES
from .machinefacts import lastlevelcache
from .options import LARGE_RUNS, LARGE_SHAPES, QUICK_RUNS, RUNS, TIMELIMIT, parser
from .progress import progress
from .storelist import knownstores
from .text import SHOWBYTES
from .verdicts import AUTO, scipytrouble

SIZEUNITS = {"": 1, "K": 1 << 10, "M": 1 << 20, "G": 1 << 30}


def parsesize(text):
    """Bytes of a size such as 32M, 512K, 1.5G or 33554432 (K, M and G are
    binary, with or without a trailing iB or B); None if it is not one."""
    match = re.fullmatch(r"\s*(\d+(?:\.\d+)?)\s*([KMG]?)(?:i?B)?\s*", text, re.IGNORECASE)
    if match is None:
        return None
    size = float(match[1]) * SIZEUNITS[match[2].upper()]
    return int(size) if 1 <= size < 2**50 else None


def joinnegative(argv):
    """argv with a value such as -5M after --llc or --time-limit joined to it,
    as argparse takes a word that starts with - for an option, and would
    refuse it as a missing value rather than as a size or a time."""
    joined = list(argv)
    at = 0
    while at < len(joined) - 1:
        if joined[at] in ("--llc", "--time-limit") and re.match(r"-[\d.]", joined[at + 1]):
            joined[at:at + 2] = [f"{joined[at]}={joined[at + 1]}"]
        at += 1
    return joined


DURATIONUNITS = {"": 1, "s": 1, "m": 60, "min": 60, "h": 3600}


def parseduration(text):
    """Seconds of a time such as 300, 90s, 10m, 1.5h or 1h30m; None if it is
    not one, or not above 0."""
    parts = re.findall(r"(\d+(?:\.\d+)?)\s*(min|[smh]?)", text.strip())
    if not parts or re.sub(r"(\d+(?:\.\d+)?)\s*(min|[smh]?)", "", text).strip():
        return None
    seconds = sum(float(number) * DURATIONUNITS[unit] for number, unit in parts)
    return seconds if 0 < seconds < math.inf else None


def parsearguments(argv):
    command = parser()
    args = command.parse_args(joinnegative(argv))
    error = command.error
    if args.runs is None:
        args.runs = QUICK_RUNS if args.quick else LARGE_RUNS if args.large else RUNS
    elif args.runs != AUTO:
        if not args.runs.isdigit() or int(args.runs) < 1:
            error(f"--runs {args.runs}: neither a number of runs, at least 1, nor auto")
        args.runs = int(args.runs)
    if args.time_limit is not None:
        if args.runs != AUTO:
            error("--time-limit applies to --runs auto only")
        args.time_limit = parseduration(args.time_limit)
        if args.time_limit is None:
            error("--time-limit: not a time such as 90s, 10m or 1h")
    elif args.runs == AUTO:
        args.time_limit = TIMELIMIT
    if not 0 < args.alpha < 1:
        error("--alpha must lie between 0 and 1")
    if not 0 <= args.threshold < math.inf:
        error("--threshold must be 0 or more, and finite")
    allowed = sorted(os.sched_getaffinity(0))
    if args.cpu is None:
        args.cpu = allowed[-1]
    elif args.cpu == "none":
        args.cpu = None
    elif not args.cpu.isdigit() or int(args.cpu) not in allowed:
        error(f"--cpu {args.cpu}: not a CPU this process may use ({', '.join(map(str, allowed))}) nor 'none'")
    else:
        args.cpu = int(args.cpu)
    if args.files:
        for option, given in (("--quick", args.quick), ("--seed", args.seed is not None),
                              ("--keep-corpora", args.keep_corpora), ("--large", args.large),
                              ("--shapes", args.shapes is not None)):
            if given:
                error(f"{option} applies to the generated corpora only, and FILEs are given")
        for path in args.files:
            trouble = filetrouble(path)
            if trouble:
                error(f"{path}: {trouble}")
        byname = {}
        for path in args.files:
            byname.setdefault(os.path.basename(os.path.normpath(path)), []).append(path)
        for name, paths in byname.items():
            if len(paths) > 1:
                error(f"the FILEs {' and '.join(paths)} have the same name, {name}: the results know a file by its "
                      "name; give one a name of its own (a link will do)")
    if args.seed is None:
        args.seed = 1
    if not 0 <= args.seed < 2**64:
        error("--seed must lie between 0 and 2^64 - 1, the corpus generator's seeds")
    if args.large and args.quick:
        error("--large and --quick ask for opposite ladders; give one")
    known = [name for name, _, _ in SHAPES]
    if args.shapes is not None:
        args.shapes = [shape.strip() for shape in args.shapes.split(",")]
        unknown = [shape for shape in args.shapes if shape not in known]
        if unknown or not args.shapes:
            error(f"--shapes: unknown shape {unknown[0] if unknown else ''!r}; the shapes are {', '.join(known)}")
    if args.large and args.shapes is None:
        args.shapes = LARGE_SHAPES
    if args.llc is not None:
        size = parsesize(args.llc)
        if size is None and args.llc.strip().startswith("-"):
            error(f"--llc {args.llc}: a size cannot be negative; give the cache's size, such as 32M")
        if size is None:
            error(f"--llc {args.llc}: not a size, such as 32M, 512K or 33554432")
        args.cache = (size, None)
    else:
        args.cache = lastlevelcache()
    if args.large and args.cache is None:
        error("--large: sysfs (/sys/devices/system/cpu/cpu0/cache) does not tell the last-level cache's size; "
              "give it with --llc SIZE, e.g. --llc 32M")
    # The programs that run: those built in --build-dir, or those installed
    # beside the command; else, in a checkout, those that its build makes.
    args.bindir = None
    if args.build_dir is not None:
        folder = args.build_dir
        if not folder or not os.path.isdir(folder):
            error(f"--build-dir {folder!r}: no such folder")
        missing = toolsmissing(folder, args.files)
        if missing:
            error(f"--build-dir {folder}: no {' nor '.join(missing)} there; is it a built linebench build folder? "
                  f"(cmake --build {folder})")
        args.bindir = os.path.abspath(folder)
    elif INSTALLED:
        missing = toolsmissing(HOME, args.files)
        if missing:
            raise RunError(f"{HOME}: no {' nor '.join(missing)} there; the installation is incomplete")
        args.bindir = HOME
    args.out = os.path.abspath(args.out)
    checkagainst(args, error)
    trouble = outtrouble(args.out)
    if trouble:
        error(f"--out {args.out} {trouble}")
    trouble = keptprograms.outtrouble(args.out)
    if trouble:
        error(f"--out: {trouble}")
    if not args.files:
        trouble = owned.trouble(os.path.join(args.out, "corpora"))
        if trouble:
            error(f"--out: {trouble}")
    # The build's programs are known by name once its list of stores is at
    # hand: here with --build-dir or installed, else after the configure step.
    known = knownstores(args.bindir) if args.bindir is not None else None
    args.stores = storechoice.chooseprograms(args.programs, known, error)
    trouble = scipytrouble()
    if trouble:
        raise RunError(trouble)
    return args, error


def toolsmissing(folder, files):
    """What a run needs beside the store programs and folder lacks: the heap
    probe, and the corpus generator unless FILEs are given."""
    needed = [PROBE] + ([] if files else [CORPUS])
    return [tool for tool in needed if not os.path.isfile(os.path.join(folder, tool))]


def checkagainst(args, error):
    """--against: the earlier run's folder and its results file, which must
    not be this run's own output folder, where this run would replace them;
    the file is read here, before the build."""
    if args.against is None:
        args.againstdir = args.againstrecord = args.earlier = None
        return
    given = args.against
    if os.path.isfile(given) and not earlierrun.isresultsfile(given):
        error(f"--against {given}: a file, but no results file (.csv or .json) nor a run's folder")
    args.againstdir = os.path.abspath(earlierrun.resultsfolder(given))
    args.againstrecord = os.path.abspath(earlierrun.recordpath(given))
    args.against = os.path.abspath(earlierrun.resultspath(given))
    if not os.path.isfile(args.against):
        error(f"--against {given}: no such file" if earlierrun.isresultsfile(given) else
              f"--against: no results.csv at {args.against}")
    if os.path.realpath(args.againstdir) == os.path.realpath(args.out):
        error(f"--against {args.againstdir} is this run's --out: the run would replace what it is set against; "
              "give it another --out")
    args.earlier = earlierrun.readearlier(args.against)


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    sys.unraisablehook = stops.quietstops
    for stream in (sys.stdout, sys.stderr):
        if stream is not None:  # None: started with that descriptor closed
            stream.reconfigure(errors=SHOWBYTES)
    signal.signal(signal.SIGINT, stops.stopon)
    signal.signal(signal.SIGTERM, stops.stopon)
    run = None
    try:
        args, error = parsearguments(argv)
        run = session.Run(args, argv)
        run.error = error
        return session.execute(run)
    except Interrupted as stop:
        if run is None:
            progress(f"compare: stopped by {signal.Signals(stop.signum).name}")
            return 128 + stop.signum
        return endings.stopped(run, stop.signum)
    except (RunError, DamagedResults, Disagreement) as failure:
        return endings.failed(run, str(failure))
    except OSError as failure:
        return endings.failed(run, f"{failure.filename}: {failure.strerror}" if failure.filename else
                              f"{failure.strerror or failure}")
