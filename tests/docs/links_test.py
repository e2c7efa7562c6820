"""The links of the guides (README.md, docs/*.md): every link to a file of the
tree names one that exists, and every #anchor one of the headings of the page
it points to, as the anchors of a rendered page are made from its headings;
and every docs/ file that the sources name (a comment citing a guide, a
manual page naming another) exists.

Usage: links_test.py SOURCE, the checkout.
"""

import collections
import glob
import os
import re
import sys
import tempfile
import unittest
import unicodedata

SOURCE = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.dirname(
    os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

LINK = re.compile(r"\]\(([^)\s]+)\)")
ELSEWHERE = re.compile(r"^[a-z]+:")  # http:, https:, mailto:
DOCSPATH = re.compile(r"(?<![\w/.-])docs/[\w-]+\.(?:md|1|png)\b")
SKIPPED = {".git", ".deps", "build", "out"}


def prose(text):
    """The lines of a Markdown text outside its fenced code blocks, with
    their numbers."""
    fenced = False
    for number, line in enumerate(text.splitlines(), 1):
        if line.startswith("```"):
            fenced = not fenced
        elif not fenced:
            yield number, line


def slug(heading):
    """A heading's anchor: lower case, every character but letters, digits,
    marks, _, - and spaces left out, the spaces made dashes."""
    kept = "".join(c for c in heading.lower() if c in "_- " or unicodedata.category(c)[0] in "LNM")
    return kept.replace(" ", "-")


def anchors(text):
    """The anchors of a page's headings, a repeated one numbered as -1, -2."""
    seen = collections.Counter()
    found = set()
    for _, line in prose(text):
        heading = re.match(r"^#{1,6}\s+(.*?)\s*#*\s*$", line)
        if heading:
            name = slug(heading.group(1))
            found.add(name if not seen[name] else f"{name}-{seen[name]}")
            seen[name] += 1
    return found


def read(path):
    with open(path, encoding="utf-8") as source:
        return source.read()


def brokenlinks(pages, root):
    """Each link of pages that names no file of the tree, or no heading of
    the page it names, a line each."""
    broken = []
    for page in pages:
        for number, line in prose(read(page)):
            for target in LINK.findall(re.sub(r"`[^`]*`", "", line)):
                if ELSEWHERE.match(target):
                    continue
                path, _, anchor = target.partition("#")
                where = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
                place = f"{os.path.relpath(page, root)}:{number}: {target}"
                if not os.path.exists(where):
                    broken.append(f"{place}: no such file")
                elif anchor and where.endswith(".md") and anchor not in anchors(read(where)):
                    broken.append(f"{place}: no such heading in {os.path.relpath(where, root)}")
    return broken


def sources(root):
    """The text files of the tree, but for its build and output folders and
    this test, whose examples name files that are not there."""
    for folder, subfolders, files in os.walk(root):
        subfolders[:] = [name for name in subfolders if name not in SKIPPED]
        for name in files:
            path = os.path.join(folder, name)
            if os.path.realpath(path) == os.path.realpath(__file__):
                continue
            try:
                yield path, read(path)
            except (UnicodeDecodeError, OSError):
                continue


def missingdocs(root):
    """Each docs/ file named in the tree that does not exist, where it is named."""
    return sorted({f"{os.path.relpath(path, root)}: {name}" for path, text in sources(root)
                   for name in DOCSPATH.findall(text) if not os.path.exists(os.path.join(root, name))})


def guides(root):
    return [os.path.join(root, "README.md")] + sorted(glob.glob(os.path.join(root, "docs", "*.md")))


class Rules(unittest.TestCase):
    """The rules above on small trees of known links."""

    def test_anchors_are_made_as_a_rendered_page_makes_them(self):
        text = ("# Runs until decided: `--runs auto`\n## The tree's compares, 3·10^5\n```\n# not a heading\n```\n"
                "## Résumé\n## Résumé\n")
        self.assertEqual(anchors(text), {"runs-until-decided---runs-auto", "the-trees-compares-3105", "résumé",
                                         "résumé-1"})

    def test_a_link_to_a_missing_file_or_heading_is_caught(self):
        with tempfile.TemporaryDirectory() as root:
            os.mkdir(os.path.join(root, "docs"))
            with open(os.path.join(root, "README.md"), "w", encoding="utf-8") as out:
                out.write("[a](docs/a.md#the-rule) [b](docs/a.md#gone), [c](docs/b.md)\n`[d](docs/d.md)`, "
                          "[e](https://example.org/x) [f](#top)\n```\n[g](docs/g.md)\n```\n# Top\n")
            with open(os.path.join(root, "docs", "a.md"), "w", encoding="utf-8") as out:
                out.write("# The rule\n[back](../README.md#top), [self](#the-rule), [png](a.png)\n"
                          "named: docs/a.md, docs/missing.1 and tests/docs/x.py\n")
            self.assertEqual(brokenlinks(guides(root), root),
                             ["README.md:1: docs/a.md#gone: no such heading in docs/a.md",
                              "README.md:1: docs/b.md: no such file", "docs/a.md:2: a.png: no such file"])
            self.assertEqual(missingdocs(root), ["README.md: docs/b.md", "README.md: docs/d.md", "README.md: docs/g.md",
                                                 "docs/a.md: docs/missing.1"])


class Documentation(unittest.TestCase):
    """This checkout's guides and sources."""

    def test_every_link_leads_somewhere(self):
        self.assertEqual(brokenlinks(guides(SOURCE), SOURCE), [])

    def test_every_docs_file_named_exists(self):
        self.assertEqual(missingdocs(SOURCE), [])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
