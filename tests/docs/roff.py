"""Lines of a manual page as text: the runs of a line in their fonts, with
the escapes that the pages use resolved."""

import re

# The named characters first: the general escape of two letters stands for
# a character that no option contains.
ROFFESCAPES = [(r"\\-", "-"), (r"\\\(dq", '"'), (r"\\\(\*a", "α"), (r"\\\(md", "·"), (r"\\~", " "), (r"\\ ", " "),
               (r"\\[&%]", ""), (r"\\e", "\\"), (r"\\\([a-z]{2}", " "), (r"\\\[[^]]*\]", " ")]
ALTERNATING = {"BR": "BR", "RB": "RB", "IR": "IR", "RI": "RI", "BI": "BI", "IB": "IB", "B": "B", "I": "I"}


def roffruns(line):
    """(is_bold, text) runs of a line of a manual page, its escapes resolved."""
    macro = re.match(r"^\.(\w+)\s*(.*)", line)
    if macro:
        name, rest = macro.groups()
        if name not in ALTERNATING:
            return []
        args = [a[1:-1] if a.startswith('"') else a for a in re.findall(r'"[^"]*"|\S+', rest)]
        if len(name) == 1:  # .B and .I set their words apart; the others alternate fonts between them
            args = [" ".join(args)]
        fonts = ALTERNATING[name]
        line = "".join(f"\\f{fonts[i % len(fonts)]}{arg}" for i, arg in enumerate(args)) + "\\fR"
    runs, font = [], "R"
    for i, part in enumerate(re.split(r"\\f(\[[^]]*\]|\(..|.)", line)):
        if i % 2 == 1:
            font = "R" if part == "P" else part
            continue
        for pattern, replacement in ROFFESCAPES:
            part = re.sub(pattern, lambda match: replacement, part)
        if part:
            runs.append((font == "B", part))
    return runs


def plain(line):
    """A line of a manual page as the reader sees its words, fonts gone."""
    return "".join(text for _, text in roffruns(line))
