# Another program writing tblData while a load runs, as a merge of its own: it adds the record
# of a key the table does not hold and widens the minimum and maximum of the records it names.
#
#   concurrent_writer.py DATABASE WORKBOOK.csv [--now]
#
# It takes from the workbook a key first seen in its last tenth (in the load's last batch) and
# 200 keys first seen in its first rows that come again in the last third. Without --now it
# waits until the load has committed rows, takes the write lock, writes, keeps the lock half a
# second and commits; it prints how many records the table held when it committed.
import csv
import sqlite3
import sys
import time

database, workbook = sys.argv[1], sys.argv[2]
now = "--now" in sys.argv[3:]
first, last = {}, {}
with open(workbook, encoding="utf-8", newline="") as f:
    for i, row in enumerate(csv.reader(f)):
        if i:
            first.setdefault(row[0], i)
            last[row[0]] = i
rows = i
late = next(k for k, r in first.items() if r > rows * 0.9)
early = [k for k, r in first.items() if r < rows * 0.3 and last[k] > rows * 0.7][:200]

db = sqlite3.connect(database, timeout=60, isolation_level=None)
if not now:
    deadline = time.time() + 120
    while db.execute("SELECT count(*) FROM tblData").fetchone()[0] == 0:
        if time.time() > deadline:
            sys.exit("the load committed nothing")
        time.sleep(0.002)
db.execute("BEGIN IMMEDIATE")
for key, lo, hi in [(late, -5.0, 5000.0)] + [(k, -1.0, 1e6) for k in early]:
    db.execute("INSERT INTO tblData (Код, Мин, Макс) SELECT ?, ?, ? WHERE NOT EXISTS "
               "(SELECT 1 FROM tblData WHERE Код = ?)", (key, lo, hi, key))
    db.execute("UPDATE tblData SET Мин = min(Мин, ?), Макс = max(Макс, ?) WHERE Код = ?", (lo, hi, key))
if not now:
    time.sleep(0.5)
count = db.execute("SELECT count(*) FROM tblData").fetchone()[0]
db.execute("COMMIT")
print(count)
