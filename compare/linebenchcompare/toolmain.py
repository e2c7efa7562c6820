"""How a tool ends on what a user can cause, a stop by Ctrl-C or a file
or program that cannot be used: one line, never a traceback."""

import subprocess
import sys


def runmain(main, name):
    try:
        main()
    except KeyboardInterrupt:
        print(f"{name}: stopped", file=sys.stderr)
        sys.exit(130)
    except OSError as failure:
        sys.exit(f"{name}: {failure.filename}: {failure.strerror}" if failure.filename else f"{name}: {failure}")
    except subprocess.CalledProcessError as failure:
        sys.exit(f"{name}: {failure}")
