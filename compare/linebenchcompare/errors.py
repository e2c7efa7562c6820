"""The failures of linebench-compare that end a run in one line: its own
exceptions, each caught where the run ends (cli.py, endings.py).
"""


class RunError(Exception):
    """A failure of a run, a build or a tool: one line for the user."""


class Interrupted(Exception):
    """SIGINT or SIGTERM arrived."""

    def __init__(self, signum):
        super().__init__(signum)
        self.signum = signum


class DamagedResults(Exception):
    """An earlier results.csv that cannot be read: one line naming the place."""


class Disagreement(Exception):
    """The runs of a file counted its lines differently."""


class CommandLineError(Exception):
    """A command line that cannot work: one line, status 2."""
