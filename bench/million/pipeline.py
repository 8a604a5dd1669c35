#!/usr/bin/python3
"""The reference of the million-row benchmark: a plain Python pipeline doing the same load.
The rows are read with the standard library (the csv module, or the sheet's XML through
zipfile and ElementTree.iterparse), merged in a dict (the first row of a key adds it, later
rows only widen its minimum and maximum; stored keys are matched, never rewritten), then
written in one transaction with executemany.
Usage: pipeline.py WORKBOOK DATABASE LAST_ROW"""
import csv
import sqlite3
import sys
import xml.etree.ElementTree as ET
import zipfile

NS = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"


def csv_rows(path):
    with open(path, newline="", encoding="utf-8") as f:
        for r in csv.reader(f):
            yield r[:3]


def column_of(ref):
    n = 0
    for ch in ref:
        if not ch.isalpha():
            break
        n = n * 26 + ord(ch.upper()) - 64
    return n - 1


def xlsx_rows(path):
    with zipfile.ZipFile(path) as z:
        strings = []
        if "xl/sharedStrings.xml" in z.namelist():
            for _, el in ET.iterparse(z.open("xl/sharedStrings.xml")):
                if el.tag == NS + "si":
                    strings.append("".join(t.text or "" for t in el.iter(NS + "t")))
                    el.clear()
        for _, el in ET.iterparse(z.open("xl/worksheets/sheet1.xml")):
            if el.tag != NS + "row":
                continue
            out = ["", "", ""]
            for c in el.iter(NS + "c"):
                col = column_of(c.get("r"))
                if col > 2:
                    continue
                kind = c.get("t")
                if kind == "s":
                    out[col] = strings[int(c.find(NS + "v").text)]
                elif kind == "inlineStr":
                    out[col] = "".join(t.text or "" for t in c.iter(NS + "t"))
                else:
                    v = c.find(NS + "v")
                    out[col] = v.text if v is not None else ""
            el.clear()
            yield out


workbook, database, last = sys.argv[1], sys.argv[2], int(sys.argv[3])
rows = xlsx_rows(workbook) if workbook.endswith(".xlsx") else csv_rows(workbook)
db = sqlite3.connect(database)
known = {}
for rid, key, lo, hi in db.execute("SELECT rowid, Код, Мин, Макс FROM tblData ORDER BY rowid"):
    known.setdefault(key, [rid, lo, hi, False])
new = {}
for n, r in enumerate(rows, start=1):
    if n == 1:
        continue  # the header row
    if n > last:
        break
    key = r[0].strip(" ")
    if not key:
        continue
    lo = float(r[1]) if r[1].strip() else None
    hi = float(r[2]) if r[2].strip() else None
    rec = known.get(key) or new.get(key)
    if rec is None:
        new[key] = [None, 0.0 if lo is None else lo, 0.0 if hi is None else hi, False]
        continue
    if lo is not None and rec[1] is not None and lo < rec[1]:
        rec[1], rec[3] = lo, True
    if hi is not None and rec[2] is not None and hi > rec[2]:
        rec[2], rec[3] = hi, True
with db:
    db.executemany("UPDATE tblData SET Мин = ?, Макс = ? WHERE rowid = ?",
                   [(r[1], r[2], r[0]) for r in known.values() if r[3]])
    db.executemany("INSERT INTO tblData (Код, Мин, Макс) VALUES (?, ?, ?)",
                   [(k, r[1], r[2]) for k, r in new.items()])
db.close()
