# The baseline of the load benchmark: the same merge with Debian's python3-xlrd and sqlite3.
# The rows are read with xlrd, merged in memory (first row of a key adds it, later rows only
# widen its minimum and maximum; stored keys are matched, never rewritten), then written in
# one transaction with executemany.
#   baseline.py WORKBOOK DATABASE LAST_ROW
import sqlite3
import sys

import xlrd

workbook, database, last = sys.argv[1], sys.argv[2], int(sys.argv[3])
sheet = xlrd.open_workbook(workbook).sheet_by_index(0)
db = sqlite3.connect(database)
known = {}
for rid, key, lo, hi in db.execute("SELECT rowid, Код, Мин, Макс FROM tblData ORDER BY rowid"):
    known.setdefault(key, [rid, lo, hi, False])
new = {}
for r in range(1, min(last, sheet.nrows)):
    key = str(sheet.cell_value(r, 0)).strip(" ")
    if not key:
        continue
    # The minimum and maximum as the sheet shows them ("0.00"), read back as numbers.
    lo = float("%.2f" % sheet.cell_value(r, 1))
    hi = float("%.2f" % sheet.cell_value(r, 2))
    rec = known.get(key) or new.get(key)
    if rec is None:
        new[key] = [None, lo, hi, False]
        continue
    if rec[1] is not None and lo < rec[1]:
        rec[1], rec[3] = lo, True
    if rec[2] is not None and hi > rec[2]:
        rec[2], rec[3] = hi, True
with db:
    db.executemany("UPDATE tblData SET Мин = ?, Макс = ? WHERE rowid = ?",
                   [(r[1], r[2], r[0]) for r in known.values() if r[3]])
    db.executemany("INSERT INTO tblData (Код, Мин, Макс) VALUES (?, ?, ?)",
                   [(k, r[1], r[2]) for k, r in new.items()])
db.close()
