# The load benchmark: kalder-load against the floor (the sqlite3 shell's .import of the final
# rows into an empty copy of tblData, one transaction) and the baseline (baseline.py), on a
# generated workbook of 65,000 rows, in three cases. Whole-process wall times: ours and the
# floor the fastest of five runs taken in turn, the baseline the fastest of three; peak memory of
# kalder-load from one run more under /usr/bin/time -v. See README.md.
#   run.py BUILD_DIR [ROWS]
import csv
import os
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(os.path.dirname(here))
build = os.path.abspath(sys.argv[1])
rows = int(sys.argv[2]) if len(sys.argv) > 2 else 65000
tool = os.path.join(build, "kalder-load")
work = tempfile.mkdtemp(prefix="kalder-bench-")
book = os.path.join(work, "book.xls")
REPEAT = 3
# Ours and the floor, run in turn so that a busier moment of the machine falls on both alike.
IN_TURN_RUNS = 5
# The journal's cost is a few per cent of a load, less than the machine's moments move one run:
# it is measured over more runs, taken in turn with and without it.
JOURNAL_RUNS = 9

SCHEMA = ("CREATE TABLE tblData (id INTEGER PRIMARY KEY, Код TEXT, Мин REAL, Макс REAL, Дата TEXT);"
          "CREATE TABLE tblSettings (LastFileName TEXT, StrNumWithCapt INTEGER, StrNumMAX INTEGER);")
DUMP = "SELECT id, Код, quote(Мин), quote(Макс) FROM tblData ORDER BY id"


# Tables of the journal's names made by "another program": the load then keeps no journal,
# which is how its cost is measured.
NO_JOURNAL = "CREATE TABLE kalder_load (other); CREATE TABLE kalder_load_change (other);"


def make_db(path, index, stored=(), journal=True):
    if os.path.exists(path):
        os.remove(path)
    db = sqlite3.connect(path)
    db.executescript(SCHEMA + ("CREATE UNIQUE INDEX ik ON tblData (Код);" if index else "") +
                     ("" if journal else NO_JOURNAL))
    db.executemany("INSERT INTO tblData (Код, Мин, Макс) VALUES (?, ?, ?)", stored)
    db.commit()
    db.close()


def dump(path):
    db = sqlite3.connect(path)
    out = list(db.execute(DUMP))
    db.close()
    return out


def timed(cmd):
    """The fastest of REPEAT runs of cmd, each timed on its own."""
    best = None
    for _ in range(REPEAT):
        yield_setup()
        start = time.perf_counter()
        p = subprocess.run(cmd, capture_output=True, text=True)
        took = time.perf_counter() - start
        if p.returncode != 0:
            sys.exit("failed: %s\n%s%s" % (" ".join(cmd), p.stdout, p.stderr))
        best = took if best is None else min(best, took)
    return best, 0


def peak_of(cmd):
    """The peak memory (KB) of one run of cmd under /usr/bin/time -v, which is not timed."""
    yield_setup()
    p = subprocess.run(["/usr/bin/time", "-v"] + cmd, capture_output=True, text=True)
    m = re.search(r"Maximum resident set size \(kbytes\): (\d+)", p.stderr)
    return int(m.group(1)) if m else 0


def in_turn(runs, *commands):
    """The fastest of runs runs of each (cmd, setup), the commands run one after the other."""
    times = [[] for _ in commands]
    for _ in range(runs):
        for out, (cmd, make) in zip(times, commands):
            make()
            start = time.perf_counter()
            subprocess.run(cmd, check=True, capture_output=True)
            out.append(time.perf_counter() - start)
    return [min(t) for t in times]


setup = [lambda: None]


def yield_setup():
    setup[0]()


subprocess.run(["/usr/bin/python3", os.path.join(root, "scripts/fixtures/make_load_big.py"), book, str(rows)],
               check=True)
size_mb = os.path.getsize(book) / 1e6
args = ["--locale", "C", "--workbook", book, "--header", "1", "--last", str(rows + 1),
        "--link", "1:1:Код", "--link", "2:2:Мин", "--link", "3:3:Макс"]

# The final rows of a load into an empty table, for the half-stored case and the floor.
probe = os.path.join(work, "probe.db")
make_db(probe, True)
subprocess.run([tool, "--db", probe] + args, check=True, capture_output=True)
final = dump(probe)
half = [(k, float(lo) + 1, float(hi) - 1) for i, (_, k, lo, hi) in enumerate(final) if i % 2 == 0]

cases = [("unique index", True, ()), ("no index", False, ()), ("half stored", True, half)]
journaled, unjournaled = {}, {}
results = {}
print("workbook: %d rows, %.1f MB; whole process: ours and the floor the fastest of %d runs in turn, "
      "the baseline of %d" % (rows, size_mb, IN_TURN_RUNS, REPEAT))
for name, index, stored in cases:
    ours_db = os.path.join(work, "ours.db")
    base_db = os.path.join(work, "base.db")
    ours_cmd = [tool, "--db", ours_db] + args
    make_db(ours_db, index, stored)
    counts = subprocess.run(ours_cmd, check=True, capture_output=True, text=True).stdout.strip().splitlines()[-1]

    # The floor: the final rows of this case as CSV, imported into an empty copy of tblData.
    csv_path = os.path.join(work, "final.csv")
    with open(csv_path, "w", newline="", encoding="utf-8") as f:
        db = sqlite3.connect(ours_db)
        csv.writer(f).writerows(db.execute("SELECT id, Код, Мин, Макс, Дата FROM tblData ORDER BY id"))
        db.close()
    floor_db = os.path.join(work, "floor.db")
    ours, floor = in_turn(IN_TURN_RUNS, (ours_cmd, lambda: make_db(ours_db, index, stored)),
                          (["sqlite3", floor_db, "-cmd", ".mode csv", "BEGIN", ".import %s tblData" % csv_path,
                            "COMMIT"], lambda: make_db(floor_db, index)))
    setup[0] = lambda: make_db(ours_db, index, stored)
    peak = peak_of(ours_cmd)
    setup[0] = lambda: make_db(base_db, index, stored)
    base, _ = timed(["/usr/bin/python3", os.path.join(here, "baseline.py"), book, base_db, str(rows + 1)])
    same = dump(ours_db) == dump(base_db)
    results[name] = ours
    # the same load with and without its journal, run in turn; the fastest of each
    plain_db = os.path.join(work, "plain.db")
    journaled[name], unjournaled[name] = in_turn(
        JOURNAL_RUNS, ([tool, "--db", ours_db] + args, lambda: make_db(ours_db, index, stored)),
        ([tool, "--db", plain_db] + args, lambda: make_db(plain_db, index, stored, journal=False)))
    budget = 2 * size_mb + 30
    print("%-13s ours %.3f s  floor %.3f s  baseline %.3f s  ours/floor %.2f (goal <= 1.5)  "
          "baseline/floor %.2f  peak %.1f MB (goal < %.1f)  same table as baseline: %s  [%s]"
          % (name, ours, floor, base, ours / floor, base / floor, peak / 1024, budget,
             "yes" if same else "NO", counts.replace("\t", " ")))
print("no index / unique index: %.2f (goal <= 1.2)" % (results["no index"] / results["unique index"]))
print("journal: with / without  " + "  ".join("%s %.2f" % (name, journaled[name] / unjournaled[name]) for name, _, _ in cases)
      + "  (goal <= 1.10)")
shutil.rmtree(work)
