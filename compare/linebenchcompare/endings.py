"""How a run that stops or fails ends: what it keeps of the rounds already
finished, and the one line that says so; before its programs are kept, it
leaves the output folder as it was.
"""

import os
import signal

from . import owned, plot
from .errors import Disagreement
from .progress import progress
from .session import conclude
from .stops import ignorestops


def keep(run, why):
    """Writes what a run that stopped or failed did: results.json with every
    run that finished, and results.md, results.csv and results.gp of the
    figures that have runs.  Returns where they are, in words."""
    folder = run.settings.out
    json = os.path.join(folder, "results.json")
    try:
        run.save()
    except OSError as error:
        return f"results.json could not be written: {error.strerror}"
    try:
        plot.write(conclude(run, "No compares or nodes per lookup: the run did not finish", why), folder)
        run.save()
    except (OSError, Disagreement):
        return f"what it did is in {json}"
    return f"what it did is in {json}, with the figures of the runs that finished in results.md and results.csv"


def saved(run):
    """Saves the record of a run that has kept its programs but finished no
    run; says where it is."""
    try:
        run.save()
    except OSError as error:
        return f"results.json could not be written: {error.strerror}"
    return f"what it did is in {os.path.join(run.settings.out, 'results.json')}"


def stopped(run, signum):
    """What a stop says, and the rounds it keeps."""
    name = signal.Signals(signum).name
    run.stoppedby = name
    finished = len(run.runs)
    if run.measuring:
        where = f"after {finished} run{'s' if finished != 1 else ''}, {run.roundsfinished} rounds finished"
    else:
        where = "before the first run"
    left = run.corpora.release() if run.corpora and not run.settings.keepcorpora else []
    if finished:
        kept = keep(run, f"stopped by {name}")
    elif run.saved:
        kept = saved(run)
    else:
        owned.unmake(run.made)
        kept = f"nothing to keep, {run.settings.out} left as it was"
    progress(f"compare: stopped by {name} {where}; {kept}")
    for path in left:
        progress(f"compare: could not remove {path}")
    return 128 + signum


def failed(run, reason):
    """What a failure says; a run with runs that finished keeps them."""
    ignorestops()
    left = []
    if run is not None and run.runs:
        run.complete, run.failure = False, reason
        reason += "; " + keep(run, reason)
    elif run is not None and run.saved:
        run.complete, run.failure = False, reason
        reason += "; " + saved(run)
    if run is not None and run.corpora and not run.settings.keepcorpora:
        left = run.corpora.release()
    if run is not None and not run.saved:
        owned.unmake(run.made)
    progress(f"compare: {reason}")
    for path in left:
        progress(f"compare: could not remove {path}")
    return 1
