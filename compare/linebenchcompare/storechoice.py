"""Which store programs a run of linebench-compare takes: the build's, known by
name from its list of stores, all of them, and NAME=PATH for a program
elsewhere.
"""

import os

from .home import ROOT
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


def chooseprograms(text, known, error, built=True):
    """The stores to run, in order: for each its key (the name its rows go
    by), its path, its family, whether its ADT label must be that key, and
    the build's program name (None for NAME=PATH).  Programs are known by
    name from the build's list of stores; with known None, before there is
    one, only what needs no list is checked.  built: the build's programs
    must be there already."""
    if text is None:
        items = defaultprograms(known.values()) if known is not None else []
    else:
        items = [item.strip() for item in text.split(",")]
    if known is not None:
        items = expandall(items, known)
    stores = []
    for item in items:
        name, equals, path = item.partition("=")
        if not item:
            error("--programs: an empty item in the list")
        if known is None and not equals:
            if item != "all" and items.count(item) > 1:
                error(f"--programs: {item} is named twice")
            continue
        if equals:
            if not name:
                error(f"--programs: {item}: the NAME before '=' is empty")
            if any(c in name for c in "\n\r\t") or not path:
                error(f"--programs: {item}: " + ("no PATH after '='" if not path else "a control character in NAME"))
            store = {"key": shown(name), "path": os.path.abspath(path), "family": "other", "checkadt": False,
                     "program": None}
        else:
            if name not in known:
                error(f"--programs: unknown program {name!r}; the build made {', '.join(known)}; or all for every "
                      "one of them, or NAME=PATH for another" + leftout(name))
            label = known[name]["label"]
            store = {"key": label or name.removeprefix("linebench-").upper(), "path": known[name]["path"],
                     "family": known[name]["family"], "checkadt": bool(label), "program": name}
        if equals or built:
            if not os.path.exists(store["path"]):
                error(f"--programs: {item}: no such program {store['path']}"
                      + ("" if equals else " (not built there?)"))
            if os.path.isdir(store["path"]):
                error(f"--programs: {item}: {store['path']} is a folder")
            if not os.access(store["path"], os.X_OK):
                error(f"--programs: {item}: {store['path']} is not executable")
        if any(s["key"] == store["key"] for s in stores):
            error(f"--programs: {store['key']} is named twice")
        stores.append(store)
    return stores


def leftout(name):
    """What to say of a baseline that the build left out: its library was
    not found."""
    if ROOT is None:
        return ""
    folder = os.path.join(ROOT, "baselines", name.removeprefix("linebench-"))
    if name.startswith("linebench-") and os.path.isdir(folder):
        return " (a baseline is left out when the build does not find its library: tools/deps installs them)"
    return ""
