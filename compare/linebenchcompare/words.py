"""The words that results.md and the terminal share: a verdict's, the notes
said once below the figures, and the warnings of drift and of a busy
machine.
"""

from . import ranktests
from .keptprograms import DRIFT
from .medians import FLOOR_US, NOISY, TESTED, linesneeded, noisyspreads
from .verdicts import AUTO, OPEN, TOOFEW, TOOSHORT, UNCHANGED, fewestruns


def ratiotext(verdict):
    """x0.89 [0.86, 0.92] faster; x1.02 [0.97, 1.08] open: its runs tell 9%
    or more; x1.20 (not tested: too short); unchanged (same program)."""
    if verdict["why"] == UNCHANGED:
        return UNCHANGED
    if verdict["verdict"] is None:
        return f"x{verdict['ratio']:.2f} (not tested: {verdict['why']})"
    text = f"x{verdict['ratio']:.2f} [{verdict['low']:.2f}, {verdict['high']:.2f}] {verdict['verdict']}"
    if verdict["verdict"] == OPEN:
        text += f": its runs tell {verdict['tells']:.0%} or more"
    return text


def tooshortfiles(results, winners):
    return [file for file in dict.fromkeys(r["file"] for r in results)
            if any(winners[(file, key)]["why"] == TOOSHORT for key in TESTED)]


def busynote(busy):
    """The warning of a machine that other processes kept busy during the
    timed runs, or None."""
    if not busy or not busy["busy"]:
        return None
    cpus = busy["cpus"]
    if busy["pinned"] is None:
        where = "of the machine, beyond the runs' own time"
    elif len(cpus) == 1:
        where = f"of CPU {cpus[0]}, beside the runs' CPU {busy['pinned']}"
    else:
        where = f"of the {len(cpus)} CPUs beside the runs' CPU {busy['pinned']}"
    # The runs' own CPU comes first where others took more of it than the
    # threshold allows: a load there takes its time from the runs.
    threshold = busy["busy_threshold_pct"]
    used = []
    if (busy["pinned_busy_pct"] or 0) > threshold:
        used.append(f"{busy['pinned_busy_pct']:g}% of CPU {busy['pinned']}, the runs' own CPU,")
    if busy["other_busy_pct"] is not None and (not used or busy["other_busy_pct"] > threshold):
        used.append(f"{busy['other_busy_pct']:g}% {where}")
    said = [f"other processes used {' and '.join(used)} while the runs were timed"] if used else []
    if busy["steal_pct"]:
        said.append(f"the hypervisor gave {busy['steal_pct']:g}% of the time to other guests (steal)")
    return (f"Busy machine: {', and '.join(said)} (warned above {threshold:g}% busy or "
            f"{busy['steal_threshold_pct']:g}% steal). The times are slower than a quiet machine gives; "
            "verdicts among the programs of this run share the load, verdicts against an earlier run's recorded "
            "runs do not.")


def driftwarning(against):
    """What --against says when some of the earlier run's programs could not
    run here, so that their verdicts set this run's runs against that run's
    recorded ones; None when all ran."""
    recorded = against["recorded"]
    if not recorded:
        return None
    if against["recorded_why"]:
        head = f"the programs kept in {against['folder']} cannot run here: {against['recorded_why']}. The verdicts"
    else:
        head = "; ".join(f"the program of {key} kept in {against['folder']} cannot run here: {why}"
                         for key, why in recorded.items())
        head += f". {'Their' if len(recorded) > 1 else 'Its'} verdicts (marked \"recorded runs\")"
    return (f"Drift not controlled: {head} set this run's runs against the runs recorded then, so the "
            f"machine's drift between the two runs is in them: two runs minutes apart have differed by up to "
            f"{DRIFT:.0%}, and a change of that size cannot be told from drift.")


def notes(results, winners, settings, against):
    """The sentences said once: too few runs, passes too short, a noisy or
    busy machine, files left out of --against."""
    said = []
    if settings.get("incomplete"):
        said.append(f"Incomplete: {settings['incomplete']}. These are the figures of the runs that finished; a "
                    "store that had none on a file has no row there.")
    fixed = settings["runs"] != AUTO
    if fixed and not ranktests.pairedcanreach(settings["runs"], settings["alpha"]) or \
            against and any(row[key]["why"] == TOOFEW for row in against["rows"] for key in TESTED):
        said.append(f"Too few runs to tell: the rank test needs {fewestruns(settings['alpha'])} "
                    f"rounds to ever reach α = {settings['alpha']:g}; this run has {settings['runs']}"
                    + (f" and the earlier one {against['runs']}" if against else "")
                    + ", so no store is marked and no verdict given.")
    opened = openfigures(winners, against)
    if opened:
        said.append(f"Open: {opened} of the figures {'are' if opened > 1 else 'is'} not decided: the interval "
                    f"reaches across the threshold of {settings['threshold'] * 100:g}%; "
                    + ("more runs would decide them (--runs auto)." if fixed else
                       "more time would decide them (a longer --time-limit)."))
    short = tooshortfiles(results, winners)
    if short:
        needs = ", ".join(f"{file} ({linesneeded(results, file):,} lines)" for file in short)
        said.append(f"Too short to time: a pass of under {FLOOR_US / 1000:g} ms on the programs' "
                    f"microsecond clock carries no mark and no verdict. Files with such a pass, and about the "
                    f"lines each would need: {needs}.")
    noisy, counted = noisyspreads(results)
    if noisy:
        share, store, key, file = noisy[0]
        said.append(f"Noisy machine: {len(noisy)} of the {counted} time figures above the floor spread over "
                    f"{NOISY:.0f}% of their median (the largest: {share:.0f}%, {store} "
                    f"{key.removesuffix('_us')} on {file}). Close figures may be level; rerun on a quiet machine "
                    "before acting on them.")
    busy = busynote(settings.get("busy"))
    if busy:
        said.append(busy)
    if against and against["differing"]:
        said.append(f"Left out of the comparison with the earlier run, as their contents differ from its files "
                    f"of the same name: {', '.join(against['differing'])}.")
    return said


def openfigures(winners, against):
    """How many figures are open, vs the fastest and against the earlier run."""
    verdicts = [v for decided in winners.values() for v in decided["versus"].values()]
    verdicts += [row[key] for row in (against or {}).get("rows", []) for key in TESTED]
    return sum(v["verdict"] == OPEN for v in verdicts)


def againstverdict(row, key):
    """The ratio and verdict of one figure against the earlier run, marked
    where it rests on that run's recorded runs; an unchanged program's says
    so alone."""
    return ratiotext(row[key]) + ("" if row["interleaved"] or row["unchanged"] else " (recorded runs)")
