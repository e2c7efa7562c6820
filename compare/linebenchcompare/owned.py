"""What a run of linebench-compare owns under its output folder, so that it
removes nothing else: a subfolder is the run's only when it was absent or
empty at the start, and of it the run removes only the files it wrote, and
the folder itself only when it made it; and the folders it made, which a run
that ends before its timed runs removes again.
"""

import os


class Owned:
    """A subfolder of the output folder that a run writes into."""

    def __init__(self, path):
        self.path = path
        self.made = False
        self.files = []

    def make(self):
        if not os.path.isdir(self.path):
            os.makedirs(self.path)
            self.made = True

    def file(self, name):
        """The path of a file that the run is about to write, now its own."""
        path = os.path.join(self.path, name)
        if path not in self.files:
            self.files.append(path)
        return path

    def release(self):
        """Removes the files written and, when the run made it and nothing
        else is left in it, the folder; returns the files that would not go."""
        left = []
        for path in self.files:
            try:
                os.remove(path)
            except FileNotFoundError:
                pass
            except OSError:
                left.append(path)
        self.files = []
        if self.made:
            try:
                os.rmdir(self.path)
            except OSError:  # something not of this run is in it
                pass
            self.made = False
        return left


def trouble(path):
    """Why a run may not write into the subfolder at path, or None: it is a
    symbolic link, or something other than a folder, or holds what no run of
    this one made."""
    if os.path.islink(path):
        return f"{path} is a symbolic link; a run writes only into a folder of its own"
    if not os.path.exists(path):
        return None
    if not os.path.isdir(path):
        return f"{path} is not a folder"
    try:
        held = sorted(os.listdir(path))
    except OSError as error:
        return f"{path} cannot be read: {error.strerror}"
    if held:
        shown = ", ".join(held[:3]) + (f" and {len(held) - 3} more" if len(held) > 3 else "")
        return (f"{path} holds files that this run did not make ({shown}); move them, or give another --out, "
                "as a run removes what it writes there")
    return None


def missingfolders(path):
    """The folders of path that do not exist, the deepest first."""
    missing = []
    while not os.path.lexists(path):
        missing.append(path)
        path = os.path.dirname(path)
    return missing


def makefolder(path):
    """Makes the folder at path, and any missing above it; returns those it
    made, the deepest first."""
    made = missingfolders(path)
    try:
        os.makedirs(path, exist_ok=True)
    except BaseException:
        unmake(made)
        raise
    return made


def unmake(folders):
    """Removes folders that makefolder made, the deepest first, each only
    while it is empty."""
    for folder in folders:
        try:
            os.rmdir(folder)
        except OSError:
            pass
