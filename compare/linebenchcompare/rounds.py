"""The timed rounds of a run of linebench-compare, and when they stop.

Each round runs every program of the plan once on each of its files, the
order turned round each round, so that programs set against each other share
the machine's state of that round.

A fixed number of rounds (--runs N) ends in one look at the figures, each
tested at alpha.  With --runs auto the figures are looked at after each
number of rounds of LOOKS, and each figure's alpha is spent across the
looks: the first spends FIRSTSHARE of it, each later one before the last
SHARE, and the last, whether
the time limit, the last of LOOKS or nothing left open ends the rounds,
spends what is left.  Whatever look a figure's verdict is taken at, the
chance that any of its intervals missed its ratio stays within alpha, by the
union bound, so that looking until the runs look decided calls no more
differences than one look would.  A figure decided at a look keeps that
look's runs and verdict, and the rounds after it run only what an open
figure still needs on each file.  When the time limit would pass within the
next round, the last look is taken at once.
"""

import dataclasses
import os
import time
from typing import Optional

from .progress import progress
from .runner import runqueue

# The rounds after which auto looks, each half as many again as the one
# before; the last is as far as a long time limit reaches on short files.
LOOKS = [8, 12, 18, 27, 40, 60, 90, 135, 200, 300]
# The share of alpha that the first look spends, enough for its 8 rounds to
# leave an interval (the signed-rank test's smallest p on 8 rounds is
# 2 / 2^8) and to settle what differs twice over, which on a ladder is most
# of it; and the share of each later look before the last.  The last, where
# the close figures are decided, spends what is left: at least 3/5 of alpha.
FIRSTSHARE = 1 / 5
SHARE = 1 / 40


def clock(seconds):
    """2 min 5 s; 40 s."""
    seconds = round(seconds)
    if seconds < 60:
        return f"{seconds} s"
    return f"{seconds // 60} min" + (f" {seconds % 60} s" if seconds % 60 else "")


@dataclasses.dataclass(frozen=True)
class Schedule:
    """What the rounds run: the plan, a list of (file, its programs); with
    auto, up to each of LOOKS, else a fixed number of runs; the alpha that
    each figure's looks spend in all, and the time limit in seconds (None:
    none); later, by file's path, the keys of its programs that run only
    once a look needs them."""

    plan: list
    auto: bool
    runs: Optional[int]
    alpha: float
    limit: Optional[float]
    later: dict = dataclasses.field(default_factory=dict)


@dataclasses.dataclass(frozen=True)
class Opened:
    """What a look leaves open: the keys of the programs each file still
    needs, by path, and how many figures are open of how many tested."""

    needed: dict
    opened: int
    figures: int


def measure(runner, schedule, evaluate, finished):
    """Runs the rounds of schedule, where evaluate(rounds, alpha) decides the
    figures at each look's alpha and returns what it leaves Opened;
    finished(rounds) hears of each round done.  Stops when no file needs a
    program, after the last look, or when the time limit would pass within
    the next round.  Returns the rounds run: none where no program runs
    before a look needs it."""
    started = time.monotonic()
    plan, alpha, limit = schedule.plan, schedule.alpha, schedule.limit
    looks = LOOKS if schedule.auto else [schedule.runs]
    active = [(file, [store for store in stores if store.key not in schedule.later.get(file.path, ())])
              for file, stores in plan]
    active = [(file, stores) for file, stores in active if stores]
    if not active:
        return 0
    lap, looked, spent, status = 0, 0, 0.0, None
    for number, look in enumerate(looks):
        timeup = False
        while lap < look:
            queue = runqueue(active, lap)
            elapsed = time.monotonic() - started
            if limit is not None and lap > 0 and elapsed + (runner.estimate(queue) or 0) > limit:
                timeup = True
                break
            for index, (file, store) in enumerate(queue):
                elapsed = time.monotonic() - started
                left = (f", at most {clock(max(limit - elapsed, 0))} left" if limit is not None else
                        timeleft(runner, queue[index:], active, lap, looks[-1]))
                progress(f"compare: round {lap + 1}{'' if limit is not None else f'/{looks[-1]}'}{status or ''}, "
                         f"{clock(elapsed)}{left}: {store.key} {os.path.basename(file.path)}", transient=True)
                runner.run(lap, file, store)
            lap += 1
            finished(lap)
        if lap == looked:
            break
        last = timeup or number == len(looks) - 1
        lookalpha = alpha - spent if last else alpha * (FIRSTSHARE if number == 0 else SHARE)
        spent += lookalpha
        opened = evaluate(lap, lookalpha)
        looked = lap
        status = f", {opened.opened} of {opened.figures} figures open"
        active = [(file, [store for store in stores if store.key in opened.needed.get(file.path, ())])
                  for file, stores in plan]
        active = [(file, stores) for file, stores in active if stores]
        if not active or last:
            break
    return lap


def timeleft(runner, rest, active, lap, rounds):
    """The progress line's word on the time left without a limit: the rest of
    this round and the rounds after it, once each run has been timed."""
    now, later = runner.estimate(rest), runner.estimate(runqueue(active, lap))
    if now is None or later is None:
        return ""
    return f", about {clock(now + later * (rounds - lap - 1))} left"
