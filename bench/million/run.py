# The million-row load benchmark: kalder-load on a .csv of 1,000,000 rows (Code,Min,Max) and on
# two .xlsx of 1,000,000 x 10 (texts in a shared-string table, and written in their cells),
# each into tblData with a unique index on the key and without one; against, in the same run,
# the floor (the sqlite3 shell's .import of the final rows into an empty copy of the table, one
# transaction) and a plain Python pipeline (pipeline.py), whose table must be the same as ours.
# Whole-process wall times, best of three (the pipeline: one run of the .xlsx); peak memory
# from one run more under /usr/bin/time -v; the same loads of the first tenth of each workbook
# tell whether the time grows linearly. See the README's benchmark lines.
#   run.py BUILD_DIR [BOOKS_DIR]
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
build = os.path.abspath(sys.argv[1])
tool = os.path.join(build, "kalder-load")
work = tempfile.mkdtemp(prefix="kalder-million-")
books = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else os.path.join(work, "books")
ROWS = 1000000
REPEAT = 3

SCHEMA = ("CREATE TABLE tblData (id INTEGER PRIMARY KEY, Код TEXT, Мин REAL, Макс REAL, Дата TEXT);"
          "CREATE TABLE tblSettings (LastFileName TEXT, StrNumWithCapt INTEGER, StrNumMAX INTEGER);")
DUMP = "SELECT id, Код, quote(Мин), quote(Макс) FROM tblData ORDER BY id"


def make_db(path, index):
    if os.path.exists(path):
        os.remove(path)
    db = sqlite3.connect(path)
    db.executescript(SCHEMA + ("CREATE UNIQUE INDEX ik ON tblData (Код);" if index else ""))
    db.close()


def dump(path):
    db = sqlite3.connect(path)
    out = list(db.execute(DUMP))
    db.close()
    return out


def run(cmd):
    start = time.perf_counter()
    p = subprocess.run(cmd, capture_output=True, text=True)
    took = time.perf_counter() - start
    if p.returncode != 0:
        sys.exit("failed: %s\n%s%s" % (" ".join(cmd), p.stdout, p.stderr))
    return took, p.stdout


def timed(cmd, setup, repeat=REPEAT):
    """The fastest of repeat runs of cmd, each after setup(), and their spread (slowest/fastest)."""
    times = []
    for _ in range(repeat):
        setup()
        took, _ = run(cmd)
        times.append(took)
    return min(times), max(times) / min(times)


def peak(cmd, setup):
    setup()
    p = subprocess.run(["/usr/bin/time", "-v"] + cmd, capture_output=True, text=True)
    m = re.search(r"Maximum resident set size \(kbytes\): (\d+)", p.stderr)
    return int(m.group(1)) / 1024 if m else 0.0


if not os.path.exists(os.path.join(books, "inline-small.xlsx")):
    print("making the workbooks in %s ..." % books, flush=True)
    subprocess.run(["/usr/bin/python3", os.path.join(here, "make_books.py"), books, str(ROWS)], check=True)

ours_db, base_db, floor_db = (os.path.join(work, n) for n in ("ours.db", "base.db", "floor.db"))
print("rows %d; best of %d runs, whole process; spread = slowest / fastest" % (ROWS, REPEAT))
print("goals: ours/floor <= 1.5, pipeline/ours >= 3, peak/limit < 1 (limit 2 x workbook + 30 MB), "
      "1M/100k <= 12")
held = True
for name in ("rows.csv", "shared.xlsx", "inline.xlsx"):
    for index in (True, False):
        times = {}
        for suffix, rows in (("", ROWS), ("-small", ROWS // 10)):
            book = os.path.join(books, name.replace(".", suffix + ".", 1))
            args = [tool, "--db", ours_db, "--locale", "C", "--workbook", book, "--header", "1", "--last",
                    str(rows + 1), "--link", "1:1:Код", "--link", "2:2:Мин", "--link", "3:3:Макс"]
            times[suffix] = timed(args, lambda: make_db(ours_db, index))
        ours, spread = times[""]
        book = os.path.join(books, name)
        args = [tool, "--db", ours_db, "--locale", "C", "--workbook", book, "--header", "1", "--last",
                str(ROWS + 1), "--link", "1:1:Код", "--link", "2:2:Мин", "--link", "3:3:Макс"]
        memory = peak(args, lambda: make_db(ours_db, index))
        ours_table = dump(ours_db)

        # the floor: the final rows of this case as CSV, imported into an empty copy of tblData
        final = os.path.join(work, "final.csv")
        with open(final, "w", newline="", encoding="utf-8") as f:
            db = sqlite3.connect(ours_db)
            csv.writer(f).writerows(db.execute("SELECT id, Код, Мин, Макс, Дата FROM tblData ORDER BY id"))
            db.close()
        floor, floor_spread = timed(["sqlite3", floor_db, "-cmd", ".mode csv", "BEGIN", ".import %s tblData" % final,
                                     "COMMIT"], lambda: make_db(floor_db, index))

        pipeline_cmd = ["/usr/bin/python3", os.path.join(here, "pipeline.py"), book, base_db, str(ROWS + 1)]
        base, _ = timed(pipeline_cmd, lambda: make_db(base_db, index), 1 if name.endswith(".xlsx") else REPEAT)
        same = dump(base_db) == ours_table

        limit = 2 * os.path.getsize(book) / 2 ** 20 + 30
        ratios = (ours / floor, base / ours, memory / limit, ours / times["-small"][0])
        ok = ratios[0] <= 1.5 and ratios[1] >= 3 and ratios[2] < 1 and ratios[3] <= 12 and same
        held = held and ok
        print("%-11s %-8s ours %.2f s (spread %.2f)  floor %.2f s (spread %.2f)  pipeline %.2f s  100k %.3f s  "
              "peak %.1f MB (limit %.1f)  |  ours/floor %.2f  pipeline/ours %.2f  peak/limit %.2f  1M/100k %.2f  "
              "same table: %s  %s"
              % (name, "index" if index else "no index", ours, spread, floor, floor_spread, base, times["-small"][0],
                 memory, limit, *ratios, "yes" if same else "NO", "held" if ok else "MISSED"), flush=True)
print("every goal held" if held else "some goal missed")
shutil.rmtree(work)
