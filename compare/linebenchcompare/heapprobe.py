"""The heap probe that every timed run preloads: its environment, and what it
saw, the heap's growth over the store pass and the clock's readings, which
give each pass's time unrounded.
"""

import dataclasses
import os
from typing import Optional

from .errors import RunError
from .records import TIMES


@dataclasses.dataclass(frozen=True)
class ProbeReading:
    """What the probe saw over the store pass: the break's growth and the
    heap's, the bytes that malloc handed out, mapped blocks included; and the
    clock's readings, (seconds, microseconds) before and after each pass, or
    None where the program did not read it exactly as the driver does."""

    breakgrowth: int
    heapgrowth: int
    clock: Optional[list]


def probeenvironment(probe, probefile):
    """The environment of a run under the heap probe."""
    env = dict(os.environ)
    env["LD_PRELOAD"] = " ".join(filter(None, [probe, env.get("LD_PRELOAD")]))
    env["HEAPPROBE_FILE"] = probefile
    # A sanitizer build wants its runtime loaded first; the probe needs no
    # sanitizer and may come before it.
    env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "verify_asan_link_order=0"]))
    return env


def readprobe(probefile, program):
    """What the probe saw, from its two lines of the break and the bytes in
    use at each of the driver's sbrk calls, and its lines of the clock."""
    try:
        with open(probefile) as lines:
            fields = [line.split() for line in lines]
        calls = [[int(field) for field in line] for line in fields if line and line[0] not in ("clock", "t")]
        count = [int(line[1]) for line in fields if line[:1] == ["clock"] and len(line) == 2]
        readings = [(int(line[1]), int(line[2])) for line in fields if line[:1] == ["t"] and len(line) == 3]
    except (OSError, ValueError) as error:
        raise RunError(f"the heap probe in {program} left no figures: {error}") from None
    if len(calls) != 2 or any(len(call) != 2 for call in calls):
        raise RunError(f"the heap probe in {program} saw {len(calls)} calls of sbrk, not the driver's two")
    (breakbefore, heapbefore), (breakafter, heapafter) = calls
    clock = readings if count == [len(TIMES) * 2] and len(readings) == len(TIMES) * 2 else None
    return ProbeReading(breakafter - breakbefore, heapafter - heapbefore, clock)


# How the report prints each time: getline " %5.3f uS", the others " %6.3f uS";
# both keep three decimals.
PRINTED = "{:.3f}"


def fulltimes(lines, printed, clock):
    """Each pass's microseconds per line from the clock's readings, computed
    as the driver computes them but not rounded, by figure; None where they
    are not the times printed, which the report rounded (a program that
    reads the clock otherwise)."""
    if clock is None:
        return None
    figures = {}
    for number, figure in enumerate(TIMES):
        (startseconds, startmicros), (endseconds, endmicros) = clock[2 * number:2 * number + 2]
        elapsed = float(endseconds - startseconds) * 1000000.0 + float(endmicros - startmicros)
        figures[figure] = elapsed / lines
        if PRINTED.format(figures[figure]) != PRINTED.format(printed[figure]):
            return None
    return figures
