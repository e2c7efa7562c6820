"""How a run stops on SIGINT or SIGTERM: the handler raises Interrupted, and
the signal is kept, so that a stop that Python drops still ends the run
after its next run.
"""

import contextlib
import signal
import sys

from .errors import Interrupted

# The signal that stopped the run.  Python drops the exception that stopon
# raises where the signal lands in a finaliser or a fork hook, as when a run's
# child is started, so the run also looks here after every run and before it
# calls itself complete.
caught = None


passunraisable = sys.unraisablehook


def stopon(signum, frame):
    global caught
    caught = signum
    ignorestops()
    raise Interrupted(signum)


def ignorestops():
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, signal.SIG_IGN)


def quietstops(unraisable):
    """Python prints a dropped exception with its traceback; a dropped stop is
    no fault, as checkstop raises it again, so it goes unprinted."""
    if not isinstance(unraisable.exc_value, Interrupted):
        passunraisable(unraisable)


def checkstop():
    if caught is not None:
        raise Interrupted(caught)


def remember(signum, frame):
    global caught
    caught = signum
    ignorestops()


@contextlib.contextmanager
def held():
    """Holds a stop off until the block has run, for a step that must not be
    cut half way; the run stops after it."""
    handlers = {signum: signal.signal(signum, remember) for signum in (signal.SIGINT, signal.SIGTERM)}
    try:
        yield
    finally:
        if caught is None:
            for signum, handler in handlers.items():
                signal.signal(signum, handler)
    checkstop()
