"""The words that results.md and the terminal share: a verdict's, the notes
said once below the figures, and the warnings of drift and of a busy
machine.
"""

from . import ranktests
from .keptprograms import DRIFT
from .medians import FLOOR_US, NOISY, linesneeded, noisyspreads
from .records import TESTED, Untested, Verdict
from .rounds import LOOKS
from .verdicts import fewestruns

# The mark of a figure that a run --against an earlier one carried from it.
CARRIEDMARK = "*"


def carriedmark(summary):
    return CARRIEDMARK if summary.carried else ""


def ratiotext(test, shown=None, slower=True):
    """x0.89 [0.86, 0.92] faster; x1.02 [0.97, 1.08] open: its runs tell 9%
    or more; x1.20 (not tested: too short); unchanged (same program).
    shown: the runs of the two medians beside it, this one's and the one it
    is set against; a test taken at a look on fewer of them says on how
    many, x2.23 [1.60, 2.82] slower (8 rounds).  slower=False leaves that
    word out where the cell says it."""
    if test.why == Untested.UNCHANGED:
        return test.why.value
    if test.verdict is None:
        return f"x{test.ratio:.2f} (not tested: {test.why.value})"
    words = [f"x{test.ratio:.2f} [{test.low:.2f}, {test.high:.2f}]"]
    if slower or test.verdict != Verdict.SLOWER:
        words.append(test.verdict.value)
    # paired, the rounds of both sides; else this side's runs, set against every run of the other
    if shown and test.runs is not None and test.runs < (max(shown) if test.paired else shown[0]):
        words.append(f"({test.runs} {'rounds' if test.paired else 'runs'})")
    text = " ".join(words)
    if test.verdict == Verdict.OPEN:
        text += f": its runs tell {test.tells:.0%} or more"
    return text


def againstverdict(row, figure, runs):
    """The ratio and verdict of one figure against the earlier run, beside
    this run's runs of it, marked where it rests on that run's recorded
    runs; an unchanged program's says so alone."""
    tested = row.figures[figure]
    return (ratiotext(tested.test, (runs, len(tested.beforeruns)))
            + ("" if row.interleaved or row.unchanged else " (recorded runs)"))


def confidences(tests, alpha):
    """The confidence of the intervals of tests, 1 - alpha of the look that
    took each: 95%, or where they differ, 99%, 99.875% or 96.375%, the
    highest first; of no interval, 1 - alpha."""
    levels = sorted({1 - test.alpha for test in tests if test.low is not None and test.alpha}, reverse=True)
    shown = [f"{level * 100:g}%" for level in levels or [1 - alpha]]
    return shown[0] if len(shown) == 1 else ", ".join(shown[:-1]) + " or " + shown[-1]


def fastesttests(report):
    return [test for decided in report.winners.values() for test in decided.versus.values()]


def againsttests(report):
    return [row.figures[figure].test for row in againstrows(report) for figure in TESTED]


def nowruns(report):
    """This run's runs of each file and store."""
    return {(summary.file.name, summary.store): summary.runs for summary in report.summaries}


def filesof(summaries):
    """The names of the files that summaries are of, in order."""
    return list(dict.fromkeys(summary.file.name for summary in summaries))


def busynote(busy):
    """The warning of a machine that other processes kept busy during the
    timed runs, or None."""
    if not busy or not busy.busy:
        return None
    cpus, shares = busy.cpus, busy.shares
    if busy.pinned is None:
        where = "of the machine, beyond the runs' own time"
    elif len(cpus) == 1:
        where = f"of CPU {cpus[0]}, beside the runs' CPU {busy.pinned}"
    else:
        where = f"of the {len(cpus)} CPUs beside the runs' CPU {busy.pinned}"
    # The runs' own CPU comes first where others took more of it than the
    # threshold allows: a load there takes its time from the runs.
    threshold = busy.busythreshold
    used = []
    if (shares.pinnedpct or 0) > threshold:
        used.append(f"{shares.pinnedpct:g}% of CPU {busy.pinned}, the runs' own CPU,")
    if shares.otherpct is not None and (not used or shares.otherpct > threshold):
        used.append(f"{shares.otherpct:g}% {where}")
    said = [f"other processes used {' and '.join(used)} while the runs were timed"] if used else []
    if shares.stealpct:
        said.append(f"the hypervisor gave {shares.stealpct:g}% of the time to other guests (steal)")
    return (f"Busy machine: {', and '.join(said)} (warned above {threshold:g}% busy or "
            f"{busy.stealthreshold:g}% steal). The times are slower than a quiet machine gives; "
            "verdicts among the programs of this run share the load, verdicts against an earlier run's recorded "
            "runs do not.")


def sharednote(busy):
    """Where the runs' CPU was the only one this process could use: it waited
    there, where elsewhere it keeps off it."""
    if not busy or not busy.shared:
        return None
    return (f"One CPU: CPU {busy.pinned}, the runs' own, was the only one this run could use, so linebench-compare "
            "waited on it while they were timed, where with another CPU it keeps off theirs; their times may be a "
            "little slower for it.")


def driftwarning(against):
    """What --against says when some of the earlier run's programs could not
    run here, so that their verdicts set this run's runs against that run's
    recorded ones; None when all ran."""
    recorded = against.recorded
    if not recorded:
        return None
    if against.recordedwhy:
        head = f"the programs kept in {against.folder} cannot run here: {against.recordedwhy}. The verdicts"
    else:
        head = "; ".join(f"the program of {key} kept in {against.folder} cannot run here: {why}"
                         for key, why in recorded.items())
        head += f". {'Their' if len(recorded) > 1 else 'Its'} verdicts (marked \"recorded runs\")"
    return (f"Drift not controlled: {head} set this run's runs against the runs recorded then, so the "
            f"machine's drift between the two runs is in them: two runs minutes apart have differed by up to "
            f"{DRIFT:.0%}, and a change of that size cannot be told from drift.")


def notes(report):
    """The sentences said once: an incomplete run, too few runs, figures
    left open, passes too short, figures carried from an earlier run, a
    noisy, busy or shared machine, files left out of --against."""
    said = [incompletenote(report), toofewnote(report), opennote(report), shortnote(report), carriednote(report),
            noisynote([summary for summary in report.summaries if not summary.carried]), busynote(report.busy),
            sharednote(report.busy), differingnote(report)]
    return [sentence for sentence in said if sentence]


def incompletenote(report):
    if report.incomplete:
        return (f"Incomplete: {report.incomplete}. These are the figures of the runs that finished; a store that "
                "had none on a file has no row there.")
    return None


def againstrows(report):
    return (report.against.rows or []) if report.against else []


def toofewnote(report):
    settings, against = report.settings, report.against
    if settings.auto or ranktests.pairedcanreach(settings.runs, settings.alpha):
        if not any(row.figures[figure].test.why == Untested.TOOFEW for row in againstrows(report)
                   for figure in TESTED):
            return None
    return (f"Too few runs to tell: the rank test needs {fewestruns(settings.alpha)} rounds to ever reach "
            f"α = {settings.alpha:g}; this run has {'auto' if settings.auto else settings.runs}"
            + (f" and the earlier one {against.runs}" if against else "") + ", so no store is marked and no "
            "verdict given.")


def opennote(report):
    """The open figures, and what may decide them: rounds that reached the
    last look end there, however long the time limit."""
    opened = [test for test in fastesttests(report) + againsttests(report) if test.verdict == Verdict.OPEN]
    if not opened:
        return None
    return (f"Open: {len(opened)} of the figures {'are' if len(opened) > 1 else 'is'} not decided: the interval "
            f"reaches across the threshold of {report.settings.threshold * 100:g}%; "
            + maydecide(report.settings, opened, "them") + ".")


def maydecide(settings, tests, them):
    """What may decide open tests: more runs, more time, or nothing, once
    the rounds have reached the last look."""
    if not settings.auto:
        return f"more runs may decide {them} (--runs auto)"
    if all(test.runs >= LOOKS[-1] for test in tests):
        return f"the last look, after {LOOKS[-1]} rounds, left {them} open"
    return f"more time may decide {them} (a longer --time-limit)"


def tooshortfiles(report):
    return [file for file in filesof(report.summaries)
            if any(report.winners[(file, figure)].why == Untested.TOOSHORT for figure in TESTED)]


def shortnote(report):
    short = tooshortfiles(report)
    if not short:
        return None
    needs = ", ".join(f"{file} ({linesneeded(report.summaries, file):,} lines)" for file in short)
    return (f"Too short to time: a pass of under {FLOOR_US / 1000:g} ms on the programs' microsecond clock carries "
            f"no mark and no verdict. Files with such a pass, and about the lines each would need: {needs}.")


def carriednote(report):
    if not any(summary.carried for summary in report.summaries):
        return None
    return (f"Carried ({CARRIEDMARK}): unchanged since {report.against.path} (the same program, by its SHA-256 and "
            "libraries, on the same machine), so not run again: the figures marked are that run's, on the same "
            "file. A verdict between a carried store and one that ran beside its earlier program is chained through "
            "that program: the ratio to it in this run's rounds times its ratio to the carried store in that run's "
            "rounds, each at half the α; between two carried stores, on that run's runs; against a store with no "
            "earlier program beside it, on the runs that the carried store then makes in this run.")


def noisynote(summaries):
    noisy, counted = noisyspreads(summaries)
    if not noisy:
        return None
    largest = noisy[0]
    return (f"Noisy machine: {len(noisy)} of the {counted} time figures above the floor spread over {NOISY:.0f}% of "
            f"their median (the largest: {largest.pct:.0f}%, {largest.store} {largest.word} on {largest.file}). "
            "Close figures may be level; rerun on a quiet machine before acting on them.")


def differingnote(report):
    if report.against and report.against.differing:
        return (f"Left out of the comparison with the earlier run, as their contents differ from its files of the "
                f"same name: {', '.join(report.against.differing)}.")
    return None
