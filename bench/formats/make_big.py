#!/usr/bin/python3
"""Writes the .xlsx benchmark workbook: 200,000 rows x 10 columns (2 million cells) of texts,
decimals in formats ("0.00", "#,##0.00", "00000", "0%"), dates ("dd.mm.yyyy",
"yyyy-mm-dd hh:mm") and plain numbers. The parts are laid out as the common spreadsheet
programs write them: texts in a shared-string table, UTF-8, every cell with its reference.
With --inline the texts are inline strings in the sheet and there is no shared-string part,
as programs that write a sheet in one pass lay them out.
Usage: /usr/bin/python3 make_big.py [--inline] OUT.xlsx [ROWS]"""
import datetime
import sys
import zipfile

NS = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
CODES = ("0.00", "#,##0.00", "00000", "0%", "dd.mm.yyyy", "yyyy-mm-dd hh:mm")
COLUMNS = "ABCDEFGHIJ"

CONTENT_TYPES = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>
<Default Extension="xml" ContentType="application/xml"/>
<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>
<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>
<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>
<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>
</Types>"""

ROOT_RELS = f"""<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="{REL}/officeDocument" Target="xl/workbook.xml"/></Relationships>"""

WORKBOOK = f"""<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<workbook xmlns="{NS}" xmlns:r="{REL}"><bookViews><workbookView activeTab="0"/></bookViews>
<sheets><sheet name="data" sheetId="1" r:id="rId1"/></sheets></workbook>"""

WORKBOOK_RELS_INLINE = f"""<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="{REL}/worksheet" Target="worksheets/sheet1.xml"/>
<Relationship Id="rId2" Type="{REL}/styles" Target="styles.xml"/></Relationships>"""

WORKBOOK_RELS = f"""<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="{REL}/worksheet" Target="worksheets/sheet1.xml"/>
<Relationship Id="rId2" Type="{REL}/styles" Target="styles.xml"/>
<Relationship Id="rId3" Type="{REL}/sharedStrings" Target="sharedStrings.xml"/></Relationships>"""


def styles():
    fmts = "".join(f'<numFmt numFmtId="{164 + i}" formatCode="{c}"/>' for i, c in enumerate(CODES))
    xfs = '<xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>' + "".join(
        f'<xf numFmtId="{164 + i}" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>'
        for i in range(len(CODES)))
    return (f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<styleSheet xmlns="{NS}">'
            f'<numFmts count="{len(CODES)}">{fmts}</numFmts>'
            '<fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>'
            '<fills count="1"><fill><patternFill patternType="none"/></fill></fills>'
            '<borders count="1"><border/></borders>'
            '<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>'
            f'<cellXfs count="{len(CODES) + 1}">{xfs}</cellXfs></styleSheet>')


def serial(d):
    delta = d - datetime.datetime(1899, 12, 30)
    return delta.days + delta.seconds / 86400.0


def main(out, rows, inline):
    strings = {}
    order = []

    def sst(text):
        if inline:
            return text
        i = strings.get(text)
        if i is None:
            i = strings[text] = len(order)
            order.append(text)
        return i

    base = datetime.datetime(2020, 1, 1)
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", CONTENT_TYPES)
        z.writestr("_rels/.rels", ROOT_RELS)
        z.writestr("xl/workbook.xml", WORKBOOK)
        z.writestr("xl/_rels/workbook.xml.rels", WORKBOOK_RELS_INLINE if inline else WORKBOOK_RELS)
        z.writestr("xl/styles.xml", styles())
        with z.open("xl/worksheets/sheet1.xml", "w", force_zip64=True) as f:
            f.write(f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<worksheet xmlns="{NS}" xmlns:r="{REL}">'
                    f'<dimension ref="A1:J{rows}"/><sheetData>'.encode())
            chunk = []
            for r in range(rows):
                n = r + 1
                values = [
                    ("s", sst("ключ %d" % r), 0),
                    ("s", sst("text %d" % (r % 5000)), 0),
                    ("n", repr(r * 1.25), 1),
                    ("n", repr(r * 1000.5), 2),
                    ("n", str(r % 100000), 3),
                    ("n", repr((r % 100) / 100.0), 4),
                    ("n", repr(serial(base + datetime.timedelta(days=r % 3000))), 5),
                    ("n", repr(serial(base + datetime.timedelta(minutes=r * 7))), 6),
                    ("n", repr(r / 7.0), 0),
                    ("s", sst("x%06d" % r), 0),
                ]
                cells = []
                for col, (t, v, s) in zip(COLUMNS, values):
                    style = f' s="{s}"' if s else ""
                    if t == "s" and inline:
                        cells.append(f'<c r="{col}{n}"{style} t="inlineStr"><is><t>{v}</t></is></c>')
                        continue
                    kind = ' t="s"' if t == "s" else ""
                    cells.append(f'<c r="{col}{n}"{style}{kind}><v>{v}</v></c>')
                chunk.append(f'<row r="{n}">' + "".join(cells) + "</row>")
                if len(chunk) >= 1000:
                    f.write("".join(chunk).encode())
                    chunk = []
            f.write(("".join(chunk) + "</sheetData></worksheet>").encode())
        if inline:
            return
        items = "".join("<si><t>%s</t></si>" % s for s in order)
        z.writestr("xl/sharedStrings.xml",
                   f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<sst xmlns="{NS}" count="{3 * rows}" '
                   f'uniqueCount="{len(order)}">{items}</sst>')


if __name__ == "__main__":
    args = sys.argv[1:]
    inline = args[:1] == ["--inline"]
    if inline:
        args = args[1:]
    main(args[0], int(args[1]) if len(args) > 1 else 200000, inline)
