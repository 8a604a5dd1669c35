#!/usr/bin/python3
"""Writes the repeated-rows .ods of the benchmark: a header row Код | Мин | Макс | ... and 2,000
rows each repeated 1,000 times (table:number-rows-repeated), so the table runs past the last
row a sheet holds. Every row holds its key "key N", the numbers N and 2N + 0.5 and COLUMNS - 3
texts of its own, so the sheet as a whole is more cells than a workbook may hold, its first
three columns are not. Usage: /usr/bin/python3 make_repeated.py OUT.ods [COLUMNS]"""
import sys
import zipfile

NS = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
      'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
      'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"')


def cell(v):
    if isinstance(v, str):
        return f'<table:table-cell office:value-type="string"><text:p>{v}</text:p></table:table-cell>'
    return f'<table:table-cell office:value-type="float" office:value="{v}"><text:p>{v}</text:p></table:table-cell>'


def main(out, columns):
    head = ["Код", "Мин", "Макс"] + [f"h{c}" for c in range(4, columns + 1)]
    rows = ["<table:table-row>" + "".join(cell(v) for v in head) + "</table:table-row>"]
    for n in range(2000):
        values = [f"key {n}", n, 2 * n + 0.5] + [f"t{n}-{c}" for c in range(4, columns + 1)]
        rows.append('<table:table-row table:number-rows-repeated="1000">' + "".join(cell(v) for v in values)
                    + "</table:table-row>")
    content = (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document-content {NS}><office:body>'
               '<office:spreadsheet><table:table table:name="t">' + "".join(rows)
               + "</table:table></office:spreadsheet></office:body></office:document-content>")
    with zipfile.ZipFile(out, "w") as z:
        z.writestr(zipfile.ZipInfo("mimetype"), "application/vnd.oasis.opendocument.spreadsheet")
        z.writestr("content.xml", content, compress_type=zipfile.ZIP_DEFLATED)


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 100)
