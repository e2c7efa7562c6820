"""The options that the guides and manual pages name against the tools'
parsers: every option written for a tool exists in its parser, and every
option of a parser is documented.

A tool's options are those its --help lists, in lines indented by two spaces
that begin with a dash; linebench-redblack, linebench-hash, linebench-shape
and every other store program take none (their usage line names none).  An
option written in a guide (README.md, docs/*.md) or a manual page (docs/*.1)
belongs to, first match wins:

1. the program of the command it is written in: a line of a code block, an
   inline code span or a bold run of a manual page whose first word (past
   time, env or NAME=VALUE) is a program followed by more words, up to &&,
   ||, |, ; or #.  Other programs' options (cmake --preset) are not checked;
2. else, written on its own (`--out DIR`), the program of the last such
   command before it in the same paragraph, list item or table row;
3. else the tool of its section: the nearest heading above it that names a
   tool in a code span, or the guide's title; in a manual page, the page's.

An option that belongs to no tool must be some tool's.  CMake's definitions
(-DNAME=VALUE) are not options of a tool; instead every LINEBENCH_ name in
the documentation is a build option of the CMake files, and every build
option is named.  -h and --help need not be documented.

A tool's help is the one description of its options: where a guide keeps an
options table and a manual page an OPTIONS section for it, each row and entry
is its help's text, read as plain text with the whitespace folded, under the
same head (descriptions.py).  A paragraph that begins with **To come** holds
the place of words to come, and may name only options that do not exist yet.

Usage: options_test.py SOURCE BUILD, the checkout and its build folder.
"""

import glob
import os
import re
import subprocess
import sys
import tempfile
import unittest

from descriptions import disagreements, helpentries, pageentries, tablerows
from roff import roffruns

SOURCE = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.dirname(
    os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else os.path.join(SOURCE, "build", "release")


# How each tool shows its options, the files that must document every one of
# them (all the documentation where none is named), the guide and the manual
# page whose descriptions must be its help's words, and the tool that takes
# the options it passes on.
TOOLS = {
    "linebench-compare": {"help": [os.path.join(SOURCE, "compare", "linebench-compare")],
                          "own": ["docs/compare.md", "docs/linebench-compare.1"],
                          "described": ["docs/compare.md", "docs/linebench-compare.1"]},
    "linebench-corpus": {"help": [os.path.join(BUILD, "linebench-corpus")], "own": ["docs/linebench-corpus.1"],
                         "probe": True},
    "linebench-redblack": {"usage": os.path.join(BUILD, "linebench-redblack")},
    "linebench-hash": {"usage": os.path.join(BUILD, "linebench-hash")},
    "linebench-shape": {"usage": os.path.join(BUILD, "linebench-shape")},
    "aacheck": {"help": [os.path.join(SOURCE, "bench", "verdicts", "aacheck")], "passes": "linebench-compare"},
    "spreadcheck": {"help": [os.path.join(SOURCE, "bench", "verdicts", "spreadcheck")],
                    "passes": "linebench-compare"},
    "descent": {"help": [os.path.join(SOURCE, "bench", "tree", "descent")]},
    "scanfloor": {"help": [os.path.join(SOURCE, "bench", "scanner", "scanfloor")]},
    "follow": {"help": [os.path.join(SOURCE, "bench", "counts", "follow")]},
}
# Programs built from the driver for other stores take the driver's options.
STOREPROGRAM = "linebench-hash"
HELPONLY = {"-h", "--help"}
ANY = "*"  # an option that belongs to no tool
# A paragraph of a guide that holds the place of words to come names options
# to come: none of them may exist yet, so that its words replace it.
PLANNED = "**To come**"

OPTION = re.compile(r"^--?[A-Za-z][\w-]*")
PROSEOPTION = re.compile(r"(?<![\w/.\-])--?[A-Za-z][\w-]*")
BUILDNAME = re.compile(r"(?:(?<=-D)|(?<!\w))LINEBENCH_[A-Z0-9_]+")
WRAPPERS = {"time", "env", "sudo", "exec"}
ASSIGNMENT = re.compile(r"^[A-Za-z_]\w*=")
CMAKEDEFINITION = re.compile(r"^-D[A-Z]")
COMMANDBREAK = re.compile(r"\s(?:&&|\|\||\||;)\s|[();]")


def helpoptions(text):
    """The option names of a --help text: each line indented by two spaces
    that begins with a dash, its names separated by commas."""
    found = set()
    for line in text.splitlines():
        if not re.match(r"^  -", line):
            continue
        names = re.split(r"\s{2,}", line.strip())[0]
        for part in names.split(","):
            match = OPTION.match(part.strip())
            if match:
                found.add(match.group())
    return found


def toolof(word):
    """The tool that a command's first word runs, None for another program."""
    name = os.path.basename(word)
    if name in TOOLS:
        return name
    if name.startswith("linebench-"):
        return STOREPROGRAM
    return None


class Reader:
    """Collects (tool, option, place) from the units of documentation: code
    and prose in paragraphs, within sections that may name a tool; those of a
    paragraph that stands for words to come, apart."""

    def __init__(self):
        self.found = []
        self.planned = []
        self.into = self.found

    def paragraph(self, units, section, place, planned=False):
        """units: (is_code, text) in order.  Applies the three rules."""
        self.into = self.planned if planned else self.found
        last = None
        for index, (code, text) in enumerate(units):
            if not code:
                # A dash right after a code span joins its word (a `;`-list).
                for option in PROSEOPTION.findall(text if index == 0 else "x" + text):
                    self.add(last, section, option, place)
                continue
            for command in COMMANDBREAK.split(text.split(" #")[0] if not text.startswith("#") else ""):
                words = command.split()
                while words and (words[0] in WRAPPERS or ASSIGNMENT.match(words[0])):
                    words = words[1:]
                if not words:
                    continue
                if OPTION.match(words[0]):
                    for word in words:
                        if OPTION.match(word):
                            self.add(last, section, OPTION.match(word).group(), place)
                elif len(words) > 1:
                    last = ("command", toolof(words[0]))
                    for word in words[1:]:
                        if OPTION.match(word) and last[1] is not None:
                            self.into.append((last[1], OPTION.match(word).group(), place))

    def add(self, last, section, option, place):
        if CMAKEDEFINITION.match(option):
            return
        if last is not None:
            if last[1] is not None:
                self.into.append((last[1], option, place))
            return
        self.into.append((section or ANY, option, place))


def headingtool(text):
    """The tool that a heading names in a code span, or None."""
    for span in re.findall(r"`([^`]+)`", text):
        words = span.split()
        if words and not OPTION.match(words[0]) and toolof(words[0]):
            return toolof(words[0])
    return None


def readmarkdown(path, reader):
    name = os.path.relpath(path, SOURCE)
    sections = []  # (level, tool) of the headings above
    paragraph, start = [], 0
    fenced = False

    def section():
        return next((tool for _, tool in reversed(sections) if tool), None)

    def flush():
        if paragraph:
            text = " ".join(paragraph).replace("\\|", "|")
            units = [(i % 2 == 1, part) for i, part in enumerate(re.split(r"`([^`]*)`", text))]
            reader.paragraph(units, section(), f"{name}:{start}", text.startswith(PLANNED))
            paragraph.clear()

    with open(path, encoding="utf-8") as source:
        lines = source.read().splitlines()
    continued = ""
    for number, line in enumerate(lines, 1):
        if line.startswith("```"):
            flush()
            fenced = not fenced
            continue
        if fenced:
            if line.endswith("\\"):
                continued += line[:-1] + " "
                continue
            reader.paragraph([(True, continued + line)], section(), f"{name}:{number}")
            continued = ""
            continue
        heading = re.match(r"^(#+)\s+(.*)", line)
        if heading or not line.strip() or re.match(r"^\s*([-*]|\d+\.)\s|^\|", line):
            flush()
        if heading:
            level = len(heading.group(1))
            while sections and sections[-1][0] >= level:
                sections.pop()
            sections.append((level, headingtool(heading.group(2))))
            continue
        if line.strip():
            if not paragraph:
                start = number
            paragraph.append(line.strip())
    flush()


def readroff(path, reader):
    name = os.path.relpath(path, SOURCE)
    page = None
    units, start, fill = [], 0, True

    def flush():
        if units:
            reader.paragraph(units[:], page, f"{name}:{start}")
            units.clear()

    with open(path, encoding="utf-8") as source:
        lines = source.read().splitlines()
    for number, line in enumerate(lines, 1):
        title = re.match(r"^\.TH\s+(\S+)", line)
        if title:
            page = toolof(title.group(1).lower()) or STOREPROGRAM
            continue
        if re.match(r"^\.(nf)\b", line):
            flush()
            fill = False
            continue
        if re.match(r"^\.(fi)\b", line):
            fill = True
            continue
        if re.match(r'^\.(\\"|ft)', line) or line.startswith("'"):
            continue
        if not fill:
            text = "".join(text for _, text in roffruns(line))
            reader.paragraph([(True, text)], page, f"{name}:{number}")
            continue
        if re.match(r"^\.(PP|LP|P|TP|IP|SH|SS|HP)\b", line):
            flush()
            if not re.match(r"^\.(IP|TP)", line):
                continue
        if not units:
            start = number
        for bold, text in roffruns(line):
            if bold and units and units[-1][0]:
                units[-1] = (True, units[-1][1] + text)
            else:
                units.append((bold, text))
        units.append((False, " "))
    flush()


def documentation():
    files = [os.path.join(SOURCE, "README.md")] + sorted(glob.glob(os.path.join(SOURCE, "docs", "*.md")))
    pages = sorted(glob.glob(os.path.join(SOURCE, "docs", "*.1")))
    return files, pages


def readall():
    reader = Reader()
    files, pages = documentation()
    for path in files:
        readmarkdown(path, reader)
    for path in pages:
        readroff(path, reader)
    return reader


def run(command):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60)


def parseroptions():
    """Every tool's options, from its --help or its usage line, and the help
    texts."""
    options, helps = {}, {}
    for tool, how in TOOLS.items():
        if "help" in how:
            done = run(how["help"] + ["--help"])
            if done.returncode != 0:
                raise AssertionError(f"{tool} --help failed with status {done.returncode}: {done.stderr.strip()}")
            options[tool], helps[tool] = helpoptions(done.stdout), done.stdout
        else:
            done = run([how["usage"]])
            usage = done.stdout.strip()
            if not usage.startswith("Usage:"):
                raise AssertionError(f"{tool} without an argument printed {usage!r}, not its usage line")
            options[tool] = set(OPTION.match(w).group() for w in usage.split()[1:] if OPTION.match(w))
    return options, helps


def cmakeoptions():
    """The build options that the CMake files declare."""
    names = set()
    for folder, subfolders, files in os.walk(SOURCE):
        subfolders[:] = [s for s in subfolders if s not in (".git", ".deps", "build", "out")]
        for file in files:
            if file == "CMakeLists.txt" or file.endswith(".cmake"):
                with open(os.path.join(folder, file), encoding="utf-8") as source:
                    text = source.read()
                names.update(re.findall(r"\boption\(\s*(LINEBENCH_\w+)", text))
                names.update(re.findall(r"\bset\(\s*(LINEBENCH_\w+)\s[^)]*\bCACHE\b", text))
                names.update(re.findall(r"\bfind_program\(\s*(LINEBENCH_\w+)", text))
    return names


def describedwrong(how, helped):
    """Where a tool's guide, in its options table, and its manual page, in
    its OPTIONS, say other than the help's entries."""
    guide, page = (os.path.join(SOURCE, name) for name in how["described"])
    with open(guide, encoding="utf-8") as source:
        rows = tablerows(source.read())
    with open(page, encoding="utf-8") as source:
        entries = pageentries(source.read())
    guidename, pagename = how["described"]
    return disagreements(helped, rows, guidename) + disagreements(helped, entries, pagename)


def wrongoptions(found, options):
    """What the documentation names that the tools do not have."""
    known = set().union(*options.values())
    wrong = []
    for tool, option, place in found:
        if tool == ANY:
            allowed = known
        else:
            allowed = options[tool] | options.get(TOOLS.get(tool, {}).get("passes"), set())
        if option not in allowed:
            wrong.append(f"{place}: {option}: " + ("no tool has it" if tool == ANY else f"{tool} has no such option"))
    return wrong


def undocumented(found, options, existing):
    """The options of each tool that its documentation does not name."""
    missing = []
    for tool, how in TOOLS.items():
        own = [f for f in how.get("own", []) if f in existing] or [None]
        for where in own:
            named = {option for t, option, place in found
                     if t == tool and (where is None or place.startswith(where + ":"))}
            for option in sorted(options[tool] - HELPONLY - named):
                missing.append(f"{tool} {option}: not in {where or 'the guides or manual pages'}")
    return missing


class Rules(unittest.TestCase):
    """The rules above on small pieces of documentation of known reading."""

    def read(self, suffix, text):
        reader = Reader()
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "doc" + suffix)
            with open(path, "w", encoding="utf-8") as out:
                out.write(text)
            (readmarkdown if suffix == ".md" else readroff)(path, reader)
        return sorted((tool, option) for tool, option, _ in reader.found)

    def markdown(self, text):
        return self.read(".md", text)

    def test_commands_own_their_options_and_other_programs_are_not_checked(self):
        found = self.markdown("Run `linebench-compare --quick --out x` after `cmake --preset release`.\n\n"
                              "```sh\n(cd /tmp && cmake --build .) && time bench/tree/descent --runs 3  # --no\n"
                              "build/release/linebench-corpus --lines 5 \\\n  -o f.txt | git log --follow\n```\n")
        self.assertEqual(found, [("descent", "--runs"), ("linebench-compare", "--out"),
                                 ("linebench-compare", "--quick"), ("linebench-corpus", "--lines"),
                                 ("linebench-corpus", "-o")])

    def test_a_bare_option_takes_the_last_command_of_its_paragraph_else_its_section(self):
        found = self.markdown("# Guide: `linebench-compare`\n\n"
                              "With `bench/verdicts/aacheck OUT --load`, `--step first`; `linebench-hash` alone\n"
                              "names a program and runs none.\n\n"
                              "| `--cpu N\\|none` | the CPU |\n"
                              "- a list item with --prose-option and `make -j2`, then `-k`\n\n"
                              "## Making files: `linebench-corpus`\n\n`-o FILE`\n\n## Back\n\n`--shapes`\n")
        self.assertEqual(found, [("aacheck", "--load"), ("aacheck", "--step"), ("linebench-compare", "--cpu"),
                                 ("linebench-compare", "--prose-option"), ("linebench-compare", "--shapes"),
                                 ("linebench-corpus", "-o")])

    def test_outside_any_tool_a_bare_option_belongs_to_none(self):
        self.assertEqual(self.markdown("Give `--runs 3`; x86-64, a non-UTF-8 name and -- a dash.\n"),
                         [(ANY, "--runs")])

    def test_manual_pages_read_bold_runs_as_commands(self):
        found = self.read(".1", '.TH LINEBENCH-CORPUS 1\n.SH OPTIONS\n.TP\n.BI \\-\\-lines " " N\nlines, as '
                          "\\fB\\-\\-seed\\fR\nis, and as \\fBsetarch \\-R\\fP does.\n.PP\nSee\n"
                          ".BR linebench-compare (1)\nand \\-o.\n.nf\n\\%linebench-shape \\-\\-x file\n.fi\n")
        self.assertEqual(found,
                         [("linebench-corpus", "--lines"), ("linebench-corpus", "--seed"), ("linebench-corpus", "-o"),
                          ("linebench-shape", "--x")])

    def test_build_names_are_found_also_in_cmake_definitions(self):
        self.assertEqual(BUILDNAME.findall("`-DLINEBENCH_A=1`, LINEBENCH_B; OTHER_LINEBENCH_C"),
                         ["LINEBENCH_A", "LINEBENCH_B"])

    def test_options_to_come_are_read_apart(self):
        reader = Reader()
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "doc.md")
            with open(path, "w", encoding="utf-8") as out:
                out.write("# `linebench-compare`\n\n**To come**: `--counts`, and\n`--fail-on slower`.\n\n"
                          "Then `--quick`.\n")
            readmarkdown(path, reader)
        self.assertEqual([(tool, option) for tool, option, _ in reader.found], [("linebench-compare", "--quick")])
        self.assertEqual([(tool, option) for tool, option, _ in reader.planned],
                         [("linebench-compare", "--counts"), ("linebench-compare", "--fail-on")])

    def test_descriptions_are_read_as_the_reader_sees_them(self):
        helped = helpentries("usage: tool [-h] [--runs N|auto]\n       [--quick]\n\npositional arguments:\n"
                             "  FILE           your files\n\noptions:\n  -h, --help     show this help\n"
                             "  --runs N|auto  runs, or auto:\n                 rounds at α = 0.05\n"
                             "  --a-very-long-option LIST\n                 on the next line\n\nAn epilog.\n")
        self.assertEqual(helped, {"FILE": ("FILE", "your files"), "-h": ("-h, --help", "show this help"),
                                  "--runs": ("--runs N|auto", "runs, or auto: rounds at α = 0.05"),
                                  "--a-very-long-option": ("--a-very-long-option LIST", "on the next line")})
        rows = tablerows("| `--runs N` | not under the heading |\n\n## Options\n\n| option | what |\n"
                         "|---|---|\n| `FILE…` | your files |\n"
                         "| `--runs N\\|auto` | runs, or **`auto`**: rounds at α = 0\\.05 |\n\n## After\n\n"
                         "| `--quick` | no |\n")
        self.assertEqual(rows, {"FILE": ("FILE…", "your files"),
                                "--runs": ("--runs N|auto", "runs, or auto: rounds at α = 0.05")})
        entries = pageentries('.SH OPTIONS\n.TP\n.BI \\-\\-runs " N\\fR|\\fPauto"\nruns, or\n.BR auto :\n'
                              "rounds at \\(*a = 0.05, as\n.B setarch \\-R\ndoes.\n.PP\nnot an entry's\n"
                              ".SH FILES\n.TP\n.I x\ny\n")
        ownwords = ("--runs N|auto", "runs, or auto: rounds at α = 0.05, as setarch -R does")
        self.assertEqual(entries, {"--runs": (ownwords[0], ownwords[1] + ".")})
        self.assertEqual(disagreements({"--runs": ownwords}, entries, "p"), [])
        self.assertEqual(disagreements(helped, rows, "g"), ["g: --a-very-long-option LIST: no entry"])

    def test_help_lists_options_in_its_indented_lines_only(self):
        text = ("usage: tool [-h] [--out OUT]\n                [--cpu N|none]\n\noptions:\n"
                "  -h, --help            show this help message and exit\n"
                "  --cpu N|none          the CPU, as with --quick\n"
                "  --a-very-long-option-name LIST\n                        help on the next line\n"
                "  -o, --output FILE  where to write\n     --not-an-entry\n")
        self.assertEqual(helpoptions(text), {"-h", "--help", "--cpu", "--a-very-long-option-name", "-o", "--output"})


class Documentation(unittest.TestCase):
    """The guides and manual pages of this checkout against the tools."""

    @classmethod
    def setUpClass(cls):
        cls.options, cls.helps = parseroptions()
        reader = readall()
        cls.found, cls.planned = reader.found, reader.planned
        files, pages = documentation()
        cls.existing = {os.path.relpath(path, SOURCE) for path in files + pages}

    def test_every_option_named_exists(self):
        self.assertEqual(wrongoptions(self.found, self.options), [])

    def test_every_option_is_documented(self):
        self.assertEqual(undocumented(self.found, self.options, self.existing), [])

    def test_the_guide_and_the_page_give_the_help_s_words(self):
        for tool, how in TOOLS.items():
            if "described" in how:
                self.assertEqual(describedwrong(how, helpentries(self.helps[tool])), [], tool)

    def test_a_description_changed_in_the_help_alone_is_caught(self):
        """The faults the check is for, planted in a copy of the help's
        entries: a default changed, and a value named otherwise."""
        how = TOOLS["linebench-compare"]
        helped = helpentries(self.helps["linebench-compare"])
        head, text = helped["--threshold"]
        changed = dict(helped, **{"--threshold": (head, text + " (default 5)"), "--runs": ("--runs N", "x")})
        wrong = describedwrong(how, changed)
        for where in how["described"]:
            self.assertTrue(any(line.startswith(f"{where}: --threshold PERCENT: ") for line in wrong), wrong)
            self.assertTrue(any(line.startswith(f"{where}: '--runs ") for line in wrong), wrong)

    def test_options_to_come_are_not_there_yet(self):
        known = set().union(*self.options.values())
        there = [f"{place}: {option}: it exists now; its words replace the place held for them"
                 for tool, option, place in self.planned if option in self.options.get(tool, known)]
        self.assertEqual(there, [])

    def test_the_help_of_a_handwritten_parser_lists_what_it_takes(self):
        for tool, how in TOOLS.items():
            for option in sorted(self.options[tool] - HELPONLY) if how.get("probe") else []:
                done = run(how["help"] + [option])
                self.assertNotIn("unknown option", done.stderr, f"{tool} {option}")
                self.assertEqual(done.returncode, 2, f"{tool} {option} without its value")

    def test_the_store_programs_take_no_option(self):
        for tool in ("linebench-redblack", "linebench-hash", "linebench-shape"):
            done = run([TOOLS[tool]["usage"], "--help"])
            self.assertEqual(done.returncode, 1, tool)
            self.assertIn('Cannot open file "--help"', done.stdout, tool)

    def test_build_options_named_are_the_build_options(self):
        named = {}
        files, pages = documentation()
        for path in files + pages:
            with open(path, encoding="utf-8") as source:
                for name in BUILDNAME.findall(source.read()):
                    named.setdefault(name, os.path.relpath(path, SOURCE))
        declared = cmakeoptions()
        self.assertEqual({name: where for name, where in named.items() if name not in declared}, {})
        self.assertEqual(sorted(declared - set(named)), [])

    def test_a_renamed_or_added_option_is_caught(self):
        """The faults the check is for, planted in copies of the parsers'
        options: one renamed in the code alone, and one added without docs."""
        renamed = {tool: set(options) for tool, options in self.options.items()}
        renamed["linebench-compare"] = renamed["linebench-compare"] - {"--keep-corpora"} | {"--keep-generated"}
        self.assertTrue(any("--keep-corpora" in line for line in wrongoptions(self.found, renamed)))
        self.assertTrue(any("--keep-generated" in line for line in undocumented(self.found, renamed, self.existing)))
        added = {tool: set(options) for tool, options in self.options.items()}
        added["linebench-corpus"] = added["linebench-corpus"] | {"--width"}
        missing = undocumented(self.found, added, self.existing)
        self.assertTrue(any(line.startswith("linebench-corpus --width: not in ") for line in missing), missing)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
