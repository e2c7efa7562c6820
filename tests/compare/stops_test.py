"""How linebench-compare stops: a signal whose exception Python drops, in a
finaliser or a fork hook, still ends the run after its next run; one during
a step held off, after the step."""

import contextlib
import io
import os
import signal
import sys
import unittest

from samples import measuredfile, store  # (puts the package on the path)
from linebenchcompare import session, stops
from linebenchcompare.errors import Interrupted


class interruption(unittest.TestCase):
    def test_astopthatpythondropsstillendstherunafterthenextrun(self):
        """A signal that lands in a finaliser or a fork hook: Python drops the
        exception the handler raises there, and the run must stop anyway."""
        handlers = {signum: signal.getsignal(signum) for signum in (signal.SIGINT, signal.SIGTERM)}
        self.addCleanup(lambda: [signal.signal(s, h) for s, h in handlers.items()])
        self.addCleanup(setattr, stops, "caught", None)
        self.addCleanup(setattr, sys, "unraisablehook", sys.unraisablehook)
        sys.unraisablehook = stops.quietstops

        class landsinafinaliser:
            def __del__(self):
                stops.stopon(signal.SIGINT, None)

        with contextlib.redirect_stderr(io.StringIO()) as stderr:
            landsinafinaliser()
        self.assertEqual(stderr.getvalue(), "")
        run = session.Run.__new__(session.Run)
        run.reports, run.laps, run.runs = {}, {}, []
        with self.assertRaises(Interrupted) as stop:
            run.done(0, measuredfile("words.txt"), store("X"), None)
        self.assertEqual(stop.exception.signum, signal.SIGINT)
        self.assertEqual(len(run.runs), 1)

    def test_astopduringaheldstependstherunafterit(self):
        handlers = {signum: signal.getsignal(signum) for signum in (signal.SIGINT, signal.SIGTERM)}
        self.addCleanup(lambda: [signal.signal(s, h) for s, h in handlers.items()])
        self.addCleanup(setattr, stops, "caught", None)
        signal.signal(signal.SIGTERM, stops.stopon)
        steps = []
        with self.assertRaises(Interrupted) as stop:
            with stops.held():
                os.kill(os.getpid(), signal.SIGTERM)
                steps.append("after the signal")
        self.assertEqual((steps, stop.exception.signum), (["after the signal"], signal.SIGTERM))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
