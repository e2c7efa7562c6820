"""The check's list of tests against the test sources and the labels: every
test source under tests/ (each *_test.py and *_test.cpp, and each shell script,
all of which are tests' commands) is run by a test of the build, the release
test preset runs every test but those labelled huge, and no test is a fixture
that only sets up or cleans up for others.

Usage: testlist_test.py SOURCE BUILD CTEST, the checkout, its build folder and
the ctest that runs its tests.
"""

import dataclasses
import glob
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

SOURCE, BUILD, CTEST = (os.path.realpath(argument) for argument in sys.argv[1:4])


@dataclasses.dataclass
class listedtest:
    name: str
    words: list[str]  # the command, paths made real
    labels: list[str]
    fixture: bool  # sets up or cleans up for other tests


def listed(folder, *options):
    """The tests that ctest lists in folder."""
    done = subprocess.run([CTEST, "--show-only=json-v1", *options], cwd=folder, stdout=subprocess.PIPE, text=True,
                          check=True)
    tests = []
    for test in json.loads(done.stdout)["tests"]:
        properties = {entry["name"]: entry["value"] for entry in test.get("properties", [])}
        words = [os.path.realpath(word) if os.path.isabs(word) else word for word in test.get("command", [])]
        tests.append(listedtest(test["name"], words, properties.get("LABELS", []),
                                "FIXTURES_SETUP" in properties or "FIXTURES_CLEANUP" in properties))
    return tests


def presetnames(preset):
    """The names of the tests that the test preset runs in this build: its
    filters applied by ctest to the presets with their build folder made this
    one."""
    with open(os.path.join(SOURCE, "CMakePresets.json")) as file:
        presets = json.load(file)
    configure, = [test["configurePreset"] for test in presets["testPresets"] if test["name"] == preset]
    for entry in presets["configurePresets"]:
        if entry["name"] == configure:
            entry["binaryDir"] = BUILD
    with tempfile.TemporaryDirectory() as scratch:
        with open(os.path.join(scratch, "CMakePresets.json"), "w") as file:
            json.dump(presets, file)
        return {test.name for test in listed(scratch, "--preset", preset)}


def programs():
    """The programs that the build compiles each source into, by name."""
    with open(os.path.join(BUILD, "compile_commands.json")) as file:
        entries = json.load(file)
    built = {}
    for entry in entries:
        target = re.search(r"CMakeFiles/([^/ ]+)\.dir/", entry["command"]).group(1)
        built.setdefault(os.path.realpath(entry["file"]), set()).add(target)
    return built


class testlist(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tests = listed(BUILD)

    def test_everytestsourceisrunbyatest(self):
        words = {word for test in self.tests for word in test.words}
        names = {os.path.basename(word) for word in words}
        built = programs()
        unrun = []
        for pattern in ("*_test.py", "*.sh", "*_test.cpp"):
            for source in sorted(glob.glob(os.path.join(SOURCE, "tests", "**", pattern), recursive=True)):
                source = os.path.realpath(source)
                shown = os.path.relpath(source, SOURCE)
                if not source.endswith(".cpp"):
                    if source not in words:
                        unrun.append(shown)
                elif source not in built:
                    unrun.append(f"{shown}, which the build compiles into no program")
                else:
                    unrun += [f"{shown}, built into {program}" for program in sorted(built[source] - names)]
        self.assertEqual(unrun, [], "test sources that no test runs")

    def test_thereleasepresetrunseverytestbutthehugeones(self):
        expected = {test.name for test in self.tests if "huge" not in test.labels}
        runs = presetnames("release")
        self.assertEqual(sorted(expected - runs), [], "tests that the release preset leaves out")
        self.assertEqual(sorted(runs - expected), [], "tests labelled huge that the release preset runs")

    def test_nofixturecountsasatest(self):
        self.assertEqual([test.name for test in self.tests if test.fixture], [])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
