"""A look at the figures during the rounds: which figures it tests, which it
decides and closes, and what the open ones still need on each file.
"""

from . import keptprograms
from .medians import TESTED, summarise
from .verdicts import FASTER, OPEN, filewinners, measuredbefore, setagainst


def lookat(run, files, lap, alpha):
    """A look at the figures of files after lap rounds, each tested at alpha
    unless an earlier look closed it: records the look of every figure it
    tests and closes those it decides.  Returns the programs that the open
    figures still need on each file, by path, and how many figures are open
    of how many.  With --against, the figures set against the earlier run
    are the ones that rounds go on for."""
    args = run.args
    summaries = summarise(files, run.record["stores"], run.reports, run.laps)
    threshold = args.threshold / 100
    paths = {facts["file"]: path for path, facts in files}
    tested = {}  # (kind, file, key, store) -> (verdict, the programs it needs)
    if args.earlier is None:
        looks = looksof(run, "fastest", run.closed)
        for (file, key), decided in filewinners(summaries, alpha, threshold, looks).items():
            for store, verdict in decided["versus"].items():
                tested[("fastest", file, key, store)] = (verdict, {store, decided["fastest"]})
    else:
        measured = measuredbefore(files, run.befores, run.reports, run.laps)
        rows, _ = setagainst(summaries, args.earlier, alpha, threshold, measured, run.unchanged,
                             looksof(run, "against", run.closed))
        for row in rows:
            for key in TESTED:
                before = {keptprograms.BEFORE.format(row["store"])} if row["interleaved"] else set()
                tested[("against", row["file"], key, row["store"])] = (row[key], {row["store"]} | before)
    needed, opened, figures = {}, 0, 0
    for figure, (verdict, wanted) in tested.items():
        if verdict["verdict"] is None:
            continue  # too short or unchanged: no look decides it
        figures += 1
        # faster than the fastest: the fastest is not, and the figure waits
        # for rounds that tell which is
        undecided = verdict["verdict"] == OPEN or figure[0] == "fastest" and verdict["verdict"] == FASTER
        if figure in run.closed and not undecided:
            continue
        run.looks[figure] = (alpha, lap)
        if undecided:
            run.closed.discard(figure)
            opened += 1
            needed.setdefault(paths[figure[1]], set()).update(wanted)
        else:
            run.closed.add(figure)
    return needed, opened, figures


def looksof(run, kind, figures):
    """The looks of those of figures of one kind, by (file, key) and store
    for the fastest, by (file, store, key) against the earlier run: the
    alpha and the last round of each one's look."""
    looks = {}
    for figure in figures:
        if figure[0] == kind:
            _, file, key, store = figure
            if kind == "fastest":
                looks.setdefault((file, key), {})[store] = run.looks[figure]
            else:
                looks[(file, store, key)] = run.looks[figure]
    return looks
