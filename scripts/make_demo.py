#!/usr/bin/python3
"""Makes the demo files in a folder (the executable's), each only when it is absent:
demo.db     an SQLite database: tblData keyed by a text code compared without regard to
            letter case and backed by a unique index, a name, a minimum, a maximum and a
            note; tblSettings with one record pointing at demo.xls, header row 1, last row 301
demo.xls    a workbook whose row 1 holds the headers and rows 2 to 301 the data: repeated
            codes, decimals shown with two places, dates shown as DD.MM.YYYY
settings.cfg  PathToDB=demo.db (relative: resolved against the executable's folder)
Usage: make_demo.py FOLDER [--installed-in DIR]
With --installed-in (the package's demo files) only demo.db and demo.xls are made, and
tblSettings points at DIR/demo.xls, where the package puts the workbook."""
import argparse
import datetime
import os
import random
import sqlite3

import xlwt

parser = argparse.ArgumentParser()
parser.add_argument("folder")
parser.add_argument("--installed-in")
args = parser.parse_args()
folder = os.path.abspath(args.folder)
os.makedirs(folder, exist_ok=True)
db_path = os.path.join(folder, "demo.db")
xls_path = os.path.join(folder, "demo.xls")
cfg_path = os.path.join(folder, "settings.cfg")
last_file = os.path.join(args.installed_in, "demo.xls") if args.installed_in else xls_path

if not os.path.exists(xls_path):
    rng = random.Random(7)
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("Данные")
    head = xlwt.easyxf("font: bold on")
    dec = xlwt.easyxf(num_format_str="0.00")
    date = xlwt.easyxf(num_format_str="DD.MM.YYYY")
    for col, text in enumerate(["Код", "Наименование", "Минимум", "Максимум", "Дата"]):
        sheet.write(0, col, text, head)
    names = ["Болт", "Гайка", "Шайба", "Винт", "Шпилька", "Заклёпка", "Штифт", "Шуруп"]
    for row in range(1, 301):
        n = rng.randrange(1, 181)            # about 180 distinct codes in 300 rows
        low = round(rng.uniform(1, 50), 2)
        sheet.write(row, 0, "A-%03d" % n)
        sheet.write(row, 1, "%s М%d" % (names[n % len(names)], 4 + n % 9))
        sheet.write(row, 2, low, dec)
        sheet.write(row, 3, round(low + rng.uniform(0, 50), 2), dec)
        sheet.write(row, 4, datetime.date(2026, 1, 1) + datetime.timedelta(days=rng.randrange(330)), date)
    book.save(xls_path)

if not os.path.exists(db_path):
    con = sqlite3.connect(db_path)
    con.executescript("""
        CREATE TABLE tblData (
            Code     TEXT NOT NULL COLLATE NOCASE,
            Name     TEXT,
            MinValue REAL,
            MaxValue REAL,
            Note     TEXT
        );
        CREATE UNIQUE INDEX tblData_Code ON tblData (Code);
        CREATE TABLE tblSettings (LastFileName TEXT, StrNumWithCapt INTEGER, StrNumMAX INTEGER);
    """)
    con.execute("INSERT INTO tblData (Code, Name, MinValue, MaxValue) VALUES ('A-001', 'Болт М5', 10, 20)")
    con.execute("INSERT INTO tblSettings VALUES (?, 1, 301)", (last_file,))
    con.commit()
    con.close()

if not args.installed_in and not os.path.exists(cfg_path):
    with open(cfg_path, "wb") as f:
        f.write(b"PathToDB=demo.db")
