"""The descriptions of a tool's options: the entries of its --help, the rows
of a guide's options table and the entries of a manual page's OPTIONS, each
read as plain text with its whitespace folded, by the option's first name;
and where a guide or a page says other than the help.

An entry is (head, text): the names with the value as written (--runs N|auto),
and the description.  The help's is the one description; the others must be
its words, but for a closing full stop, under its heads.
"""

import re

from roff import plain

HELPONLY = {"-h", "--help"}


def fold(text):
    return " ".join(text.split())


def firstname(head):
    """--out of "--out DIR", -h of "-h, --help", FILE of "FILE…"."""
    return head.split(",")[0].split()[0].rstrip("…").removesuffix("...")


def samehead(one, other):
    """Whether two heads name the same options and value, FILE… as FILE."""
    one, other = (fold(head.rstrip("…").removesuffix("...")) for head in (one, other))
    return one == other


def helpentries(text):
    """A --help text's entries: lines indented by two spaces, the head parted
    from the text by two spaces or more, the text going on in lines indented
    further."""
    entries, current = {}, None
    for line in text.splitlines():
        if re.match(r"^  \S", line):
            parts = re.split(r"\s{2,}", line.strip(), maxsplit=1)
            current = (parts[0], parts[1:])
            entries[firstname(parts[0])] = current
        elif current and re.match(r"^ {3,}\S", line):
            current[1].append(line.strip())
        else:
            current = None
    return {name: (head, fold(" ".join(words))) for name, (head, words) in entries.items()}


def tablerows(text, heading="Options"):
    """The rows of a guide's table under a heading of that name whose first
    cell is a code span: the span, and the second cell as the reader sees
    it (code marks, bold and escapes gone)."""
    rows, under = {}, False
    for line in text.splitlines():
        title = re.match(r"^#+\s+(.*)", line)
        if title:
            under = title.group(1).strip() == heading
            continue
        cells = [cell.strip().replace("\x00", "|") for cell in line.replace("\\|", "\x00").split("|")[1:-1]]
        if not under or len(cells) < 2 or not re.fullmatch(r"`[^`]+`", cells[0]):
            continue
        shown = re.sub(r"\\(.)", r"\1", cells[1].replace("`", "").replace("**", ""))
        rows[firstname(cells[0][1:-1])] = (cells[0][1:-1], fold(shown))
    return rows


def pageentries(text, section="OPTIONS"):
    """A manual page's entries in a section: each .TP's tag line and the
    lines below it, up to the next .TP, paragraph or section."""
    entries, current, tagnext, within = {}, None, False, False
    for line in text.splitlines():
        heading = re.match(r'^\.SH\s+"?([^"]*)', line)
        if heading:
            within, current = heading.group(1).strip() == section, None
            continue
        if not within:
            continue
        if line.startswith(".TP"):
            current, tagnext = None, True
        elif re.match(r"^\.(PP|LP|P|IP|SS)\b", line):
            current = None
        elif tagnext:
            current, tagnext = (fold(plain(line)), []), False
            entries[firstname(current[0])] = current
        elif current:
            current[1].append(plain(line))
    return {name: (head, fold(" ".join(words))) for name, (head, words) in entries.items()}


def disagreements(helped, described, where):
    """Where the entries described in where leave out or differ from the
    help's, a line each."""
    wrong = []
    for name, (head, text) in helped.items():
        if name in HELPONLY:
            continue
        if name not in described:
            wrong.append(f"{where}: {head}: no entry")
            continue
        theirhead, theirtext = described[name]
        if not samehead(theirhead, head):
            wrong.append(f"{where}: {theirhead!r} where the help has {head!r}")
        if theirtext.removesuffix(".") != text.removesuffix("."):
            wrong.append(f"{where}: {head}: {theirtext!r} where the help says {text!r}")
    return wrong
