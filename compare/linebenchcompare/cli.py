"""linebench-compare's command line: every option checked before anything runs,
then the run (session.py), which a stop or a failure ends in one line.
"""

import math
import os
import re
import signal
import sys

from . import earlierrun, endings, keptprograms, owned, session, stops
from .errors import CommandLineError, DamagedResults, Disagreement, Interrupted, RunError
from .filechecks import filetrouble, outtrouble
from .home import CORPUS, HOME, INSTALLED, PROBE
from .ladder import SHAPENAMES
from .machinefacts import lastlevelcache
from .options import AGAINSTCOUNTS, AUTO, LARGE_RUNS, LARGE_SHAPES, QUICK_RUNS, RUNS, TIMELIMIT, parser
from .progress import progress
from .records import Cache, CountScope, EarlierRun, Inputs, Settings
from .storechoice import chooseprograms
from .storelist import knownstores
from .text import SHOWBYTES, shown
from .verdicts import scipytrouble

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
    not one."""
    parts = re.findall(r"(\d+(?:\.\d+)?)\s*(min|[smh]?)", text.strip())
    if not parts or re.sub(r"(\d+(?:\.\d+)?)\s*(min|[smh]?)", "", text).strip():
        return None
    seconds = sum(float(number) * DURATIONUNITS[unit] for number, unit in parts)
    return seconds if seconds < math.inf else None


def parsecommandline(argv):
    """The settings and inputs of a command line, each option checked in
    turn, the first wrong one refused."""
    args = parser().parse_args(joinnegative(argv))
    auto, runs = checkruns(args)
    timelimit = checktimelimit(args.time_limit, auto)
    if not 0 < args.alpha < 1:
        raise CommandLineError("--alpha must lie between 0 and 1")
    if not 0 <= args.threshold < math.inf:
        raise CommandLineError("--threshold must be 0 or more, and finite")
    cpu = checkcpu(args.cpu)
    if args.files:
        checkfiles(args)
    seed, shapes = checkladder(args)
    cache = checkcache(args.llc, args.large)
    bindir = checkbuilddir(args.build_dir, args.files)
    out = os.path.abspath(args.out)
    earlier = checkagainst(args.against, out)
    scope = checkcounts(args)
    checkout(out, args.files)
    programs = None if args.programs is None else [item.strip() for item in args.programs.split(",")]
    # The build's programs are known by name once its list of stores is at
    # hand: here with --build-dir or installed, else after the configure step.
    stores = chooseprograms(programs, knownstores(bindir) if bindir is not None else None)
    trouble = scipytrouble()
    if trouble:
        raise RunError(trouble)
    settings = Settings(args.files, out, auto, runs, timelimit, args.alpha, args.threshold / 100, cpu,
                        args.aslr == "on", args.quick, args.large, shapes, seed, args.keep_corpora, cache, programs,
                        scope, args.fail_on, args.count_threshold / 100)
    return settings, Inputs(bindir, stores, earlier)


def checkruns(args):
    """(auto, runs) of --runs: a number of rounds, or auto; by default auto,
    with --quick or --large a few."""
    given = args.runs
    if given is None:
        given = QUICK_RUNS if args.quick else LARGE_RUNS if args.large else RUNS
    if given == AUTO:
        return True, None
    if isinstance(given, str) and (not given.isdigit() or int(given) < 1):
        raise CommandLineError(f"--runs {given}: neither a number of runs, at least 1, nor auto")
    return False, int(given)


def checktimelimit(given, auto):
    """The seconds of --time-limit, which --runs auto takes, by default
    TIMELIMIT."""
    if given is None:
        return TIMELIMIT if auto else None
    if not auto:
        raise CommandLineError("--time-limit applies to --runs auto only")
    seconds = parseduration(given)
    if seconds is None and parseduration(given.strip().removeprefix("-")) is not None:
        raise CommandLineError(f"--time-limit {given}: a time limit cannot be negative; give one such as 90s")
    if seconds is None:
        raise CommandLineError(f"--time-limit {given}: not a time, such as 90s, 10m or 1h")
    if seconds == 0:
        raise CommandLineError(f"--time-limit {given}: no time leaves no rounds; give a limit above 0, such as 90s")
    return seconds


def checkcounts(args):
    """What the run counts, and the gate's options, which need --against."""
    if args.fail_on and args.against is None:
        raise CommandLineError(f"--fail-on {args.fail_on} sets this run against an earlier one: give --against DIR")
    if not 0 <= args.count_threshold < math.inf:
        raise CommandLineError("--count-threshold must be 0 or more, and finite")
    if args.counts is not None:
        return CountScope.ALL if args.counts else CountScope.NONE
    return AGAINSTCOUNTS if args.against else CountScope.NONE


def checkcpu(given):
    """The CPU of the timed runs: by default the last one this process may
    use; None for none."""
    allowed = sorted(os.sched_getaffinity(0))
    if given is None:
        return allowed[-1]
    if given == "none":
        return None
    if not given.isdigit() or int(given) not in allowed:
        raise CommandLineError(f"--cpu {given}: not a CPU this process may use ({', '.join(map(str, allowed))}) "
                               "nor 'none'")
    return int(given)


def checkfiles(args):
    """FILEs: no option of the generated ladder beside them, each one a file
    the programs can map, and no two of one name."""
    for option, given in (("--quick", args.quick), ("--seed", args.seed is not None),
                          ("--keep-corpora", args.keep_corpora), ("--large", args.large),
                          ("--shapes", args.shapes is not None)):
        if given:
            raise CommandLineError(f"{option} applies to the generated corpora only, and FILEs are given")
    for path in args.files:
        trouble = filetrouble(path)
        if trouble:
            raise CommandLineError(f"{path}: {trouble}")
    byname = {}
    for path in args.files:
        byname.setdefault(os.path.basename(os.path.normpath(path)), []).append(path)
    for name, paths in byname.items():
        if len(paths) > 1:
            raise CommandLineError(f"the FILEs {' and '.join(paths)} have the same name, {name}: the results know a "
                                   "file by its name; give one a name of its own (a link will do)")


def checkladder(args):
    """The seed and the shapes of the generated ladder."""
    seed = 1 if args.seed is None else args.seed
    if not 0 <= seed < 2**64:
        raise CommandLineError("--seed must lie between 0 and 2^64 - 1, the corpus generator's seeds")
    if args.large and args.quick:
        raise CommandLineError("--large and --quick ask for opposite ladders; give one")
    if args.shapes is None:
        return seed, LARGE_SHAPES if args.large else None
    shapes = [shape.strip() for shape in args.shapes.split(",")]
    unknown = [shape for shape in shapes if shape not in SHAPENAMES]
    if unknown or not shapes:
        raise CommandLineError(f"--shapes: unknown shape {unknown[0] if unknown else ''!r}; the shapes are "
                               f"{', '.join(SHAPENAMES)}")
    return seed, shapes


def checkcache(given, large):
    """The last-level cache: --llc, else sysfs's; --large needs one."""
    if given is None:
        cache = lastlevelcache()
    else:
        size = parsesize(given)
        if size is None and given.strip().startswith("-"):
            raise CommandLineError(f"--llc {given}: a size cannot be negative; give the cache's size, such as 32M")
        if size is None:
            raise CommandLineError(f"--llc {given}: not a size, such as 32M, 512K or 33554432")
        cache = Cache(size, None, "--llc")
    if large and cache is None:
        raise CommandLineError("--large: sysfs (/sys/devices/system/cpu/cpu0/cache) does not tell the last-level "
                               "cache's size; give it with --llc SIZE, e.g. --llc 32M")
    return cache


def checkbuilddir(folder, files):
    """The folder of the programs that run: --build-dir, or where they are
    installed beside the command; None in a checkout, whose build makes
    them."""
    if folder is not None:
        if not folder or not os.path.isdir(folder):
            raise CommandLineError(f"--build-dir {folder!r}: no such folder")
        missing = toolsmissing(folder, files)
        if missing:
            raise CommandLineError(f"--build-dir {folder}: no {' nor '.join(missing)} there; is it a built "
                                   f"linebench build folder? (cmake --build {folder})")
        return os.path.abspath(folder)
    if INSTALLED:
        missing = toolsmissing(HOME, files)
        if missing:
            raise RunError(f"{HOME}: no {' nor '.join(missing)} there; the installation is incomplete")
        return HOME
    return None


def toolsmissing(folder, files):
    """What a run needs beside the store programs and folder lacks: the heap
    probe, and the corpus generator unless FILEs are given."""
    needed = [PROBE] + ([] if files else [CORPUS])
    return [tool for tool in needed if not os.path.isfile(os.path.join(folder, tool))]


def checkagainst(given, out):
    """--against: the earlier run's folder and its results file, which must
    not be this run's own output folder, where this run would replace them;
    the file is read here, before the build."""
    if given is None:
        return None
    if os.path.isfile(given) and not earlierrun.isresultsfile(given):
        raise CommandLineError(f"--against {given}: a file, but no results file (.csv or .json) nor a run's folder")
    folder = os.path.abspath(earlierrun.resultsfolder(given))
    path = os.path.abspath(earlierrun.resultspath(given))
    if not os.path.isfile(path):
        if earlierrun.isresultsfile(given):
            raise CommandLineError(f"--against {given}: no such file")
        raise CommandLineError(f"--against {given}: no such folder" if not os.path.isdir(given) else
                               f"--against: no results.csv at {path}")
    if os.path.realpath(folder) == os.path.realpath(out):
        raise CommandLineError(f"--against {folder} is this run's --out: the run would replace what it is set "
                               "against; give it another --out")
    record = os.path.abspath(earlierrun.recordpath(given))
    return EarlierRun(path, folder, record, earlierrun.readearlier(path, record))


def checkout(out, files):
    """The output folder: one this run can write, whose programs/ and
    corpora/ it may write into."""
    trouble = outtrouble(out)
    if trouble:
        raise CommandLineError(f"--out {out} {trouble}")
    trouble = keptprograms.outtrouble(out)
    if trouble:
        raise CommandLineError(f"--out: {trouble}")
    if not files:
        trouble = owned.trouble(os.path.join(out, "corpora"))
        if trouble:
            raise CommandLineError(f"--out: {trouble}")


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
        settings, inputs = parsecommandline(argv)
        run = session.Run(settings, inputs, argv)
        return session.execute(run)
    except CommandLineError as error:
        print(f"compare: {shown(str(error))}", file=sys.stderr)
        return 2
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
