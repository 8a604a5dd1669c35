#!/usr/bin/python3
"""Writes the workbooks of the million-row load benchmark into FOLDER:
  rows.csv        Code,Min,Max with ROWS data rows ("." decimals); about 43 % of the rows
                  bring a new key (432,456 distinct keys in 1,000,000 rows), the others repeat
                  an earlier one;
  shared.xlsx     the same rows as 10 columns (Code, Min, Max and seven filler columns of
                  texts and numbers), texts in a shared-string table;
  inline.xlsx     the same cells with every text written in its cell (inlineStr), no
                  shared-string part.
and the same three for the first ROWS/10 rows (rows-small.csv, ...), for the linearity check.
Usage: /usr/bin/python3 make_books.py FOLDER [ROWS]"""
import os
import random
import sys
import zipfile

NS = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
COLUMNS = "ABCDEFGHIJ"
HEADER = ["Code", "Min", "Max", "Name", "Store", "Qty", "Note", "Batch", "Price", "Weight"]


def rows(count, seed=11):
    rng = random.Random(seed)
    keys = []
    for _ in range(count):
        if keys and rng.random() >= 0.432456:
            key = keys[rng.randrange(len(keys))]
        else:
            key = "K%07d" % (len(keys) * 3 + 1)
            keys.append(key)
        lo = round(rng.uniform(1, 1000), 2)
        hi = round(lo + rng.uniform(0, 500), 2)
        yield [key, lo, hi, "Item %d" % rng.randrange(50000), "Store %d" % rng.randrange(20), rng.randrange(1000),
               "lot %d" % rng.randrange(1000), "B%04d" % rng.randrange(10000), round(rng.uniform(1, 99), 2),
               rng.randrange(1, 500)]


def write_csv(path, count):
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write("Code,Min,Max\n")
        for r in rows(count):
            f.write("%s,%s,%s\n" % (r[0], r[1], r[2]))


def write_xlsx(path, count, shared):
    strings, index = [], {}

    def cell(ref, value):
        if isinstance(value, str):
            if shared:
                i = index.get(value)
                if i is None:
                    i = index[value] = len(strings)
                    strings.append(value)
                return '<c r="%s" t="s"><v>%d</v></c>' % (ref, i)
            return '<c r="%s" t="inlineStr"><is><t>%s</t></is></c>' % (ref, value)
        return '<c r="%s"><v>%s</v></c>' % (ref, value)

    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        z.writestr("[Content_Types].xml",
                   '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                   '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                   '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                   '<Default Extension="xml" ContentType="application/xml"/>'
                   '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
                   '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
                   + ('<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>'
                      if shared else '') + '</Types>')
        z.writestr("_rels/.rels",
                   '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                   '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   '<Relationship Id="rId1" Type="%s/officeDocument" Target="xl/workbook.xml"/></Relationships>' % REL)
        z.writestr("xl/workbook.xml",
                   '<?xml version="1.0" encoding="UTF-8" standalone="yes"?><workbook xmlns="%s" xmlns:r="%s">'
                   '<sheets><sheet name="data" sheetId="1" r:id="rId1"/></sheets></workbook>' % (NS, REL))
        z.writestr("xl/_rels/workbook.xml.rels",
                   '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                   '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   '<Relationship Id="rId1" Type="%s/worksheet" Target="worksheets/sheet1.xml"/>' % REL
                   + ('<Relationship Id="rId2" Type="%s/sharedStrings" Target="sharedStrings.xml"/>' % REL if shared else '')
                   + '</Relationships>')
        with z.open("xl/worksheets/sheet1.xml", "w", force_zip64=True) as sheet:
            sheet.write(('<?xml version="1.0" encoding="UTF-8" standalone="yes"?><worksheet xmlns="%s"><sheetData>'
                         % NS).encode())
            buf = ['<row r="1">' + "".join(cell("%s1" % c, h) for c, h in zip(COLUMNS, HEADER)) + '</row>']
            for n, r in enumerate(rows(count), start=2):
                buf.append('<row r="%d">' % n + "".join(cell("%s%d" % (c, n), v) for c, v in zip(COLUMNS, r)) + '</row>')
                if len(buf) >= 5000:
                    sheet.write("".join(buf).encode())
                    buf = []
            sheet.write(("".join(buf) + "</sheetData></worksheet>").encode())
        if shared:
            z.writestr("xl/sharedStrings.xml",
                       '<?xml version="1.0" encoding="UTF-8" standalone="yes"?><sst xmlns="%s" count="%d" uniqueCount="%d">'
                       % (NS, len(strings), len(strings)) + "".join("<si><t>%s</t></si>" % s for s in strings) + "</sst>")


folder = sys.argv[1]
count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
os.makedirs(folder, exist_ok=True)
for suffix, n in (("", count), ("-small", count // 10)):
    write_csv(os.path.join(folder, "rows%s.csv" % suffix), n)
    write_xlsx(os.path.join(folder, "shared%s.xlsx" % suffix), n, True)
    write_xlsx(os.path.join(folder, "inline%s.xlsx" % suffix), n, False)
