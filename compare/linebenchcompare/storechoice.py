"""Which store programs a run of linebench-compare takes: the build's, known by
name from its list of stores, all of them, and NAME=PATH for a program
elsewhere.
"""

import os

from .errors import CommandLineError
from .home import ROOT
from .records import Store
from .storelist import defaultprograms
from .text import shown


def expandall(items, known):
    """The items with all standing for every store of the build that the
    list does not name itself."""
    given = [item for item in items if item != "all"]
    expanded = []
    for item in items:
        if item == "all":
            expanded += [name for name in known if name not in given and name not in expanded]
        else:
            expanded.append(item)
    return expanded


def chooseprograms(items, known, built=True):
    """The stores to run, in order: items, those of --programs, or None for
    the build's default stores.  Programs are known by name from the build's
    list of stores; with known None, before there is one, only what needs no
    list is checked.  built: the build's programs must be there already."""
    if items is None:
        items = defaultprograms(known.values()) if known is not None else []
    if known is not None:
        items = expandall(items, known)
    stores = []
    for item in items:
        name, equals, path = item.partition("=")
        if not item:
            raise CommandLineError("--programs: an empty item in the list")
        if known is None and not equals:
            if item != "all" and items.count(item) > 1:
                raise CommandLineError(f"--programs: {item} is named twice")
            continue
        store = givenstore(item, name, path) if equals else builtstore(name, known)
        if equals or built:
            checkprogram(item, store.path, given=bool(equals))
        if any(other.key == store.key for other in stores):
            raise CommandLineError(f"--programs: {store.key} is named twice")
        stores.append(store)
    return stores


def givenstore(item, name, path):
    """The store of NAME=PATH, shown as NAME."""
    if not name:
        raise CommandLineError(f"--programs: {item}: the NAME before '=' is empty")
    if any(c in name for c in "\n\r\t") or not path:
        raise CommandLineError(f"--programs: {item}: "
                               + ("no PATH after '='" if not path else "a control character in NAME"))
    return Store(shown(name), os.path.abspath(path), "other", checkadt=False)


def builtstore(name, known):
    """The store of a program of the build, its key its ADT label."""
    if name not in known:
        raise CommandLineError(f"--programs: unknown program {name!r}; the build made {', '.join(known)}; or all "
                               "for every one of them, or NAME=PATH for another" + leftout(name))
    listed = known[name]
    return Store(listed.label or name.removeprefix("linebench-").upper(), listed.path, listed.family,
                 checkadt=bool(listed.label), program=name)


def checkprogram(item, path, given):
    """A store's program must be there and executable."""
    if not os.path.exists(path):
        raise CommandLineError(f"--programs: {item}: no such program {path}" + ("" if given else " (not built there?)"))
    if os.path.isdir(path):
        raise CommandLineError(f"--programs: {item}: {path} is a folder")
    if not os.access(path, os.X_OK):
        raise CommandLineError(f"--programs: {item}: {path} is not executable")


def leftout(name):
    """What to say of a baseline that the build left out: its library was
    not found."""
    if ROOT is None:
        return ""
    folder = os.path.join(ROOT, "baselines", name.removeprefix("linebench-"))
    if name.startswith("linebench-") and os.path.isdir(folder):
        return " (a baseline is left out when the build does not find its library: tools/deps installs them)"
    return ""
