#!/usr/bin/python3
"""Writes the benchmark workbook: 65,536 rows x 10 columns of texts, decimals in formats
("0.00", "#,##0.00", "00000", "0%") and dates ("dd.mm.yyyy", "yyyy-mm-dd hh:mm").
Usage: /usr/bin/python3 make_big.py OUT.xls"""
import datetime
import sys
import xlwt


def style(code):
    s = xlwt.XFStyle()
    s.num_format_str = code
    return s


def main(out):
    styles = [style(c) for c in ("0.00", "#,##0.00", "00000", "0%", "dd.mm.yyyy", "yyyy-mm-dd hh:mm")]
    book = xlwt.Workbook(encoding="utf-8")
    sh = book.add_sheet("data")
    base = datetime.datetime(2020, 1, 1)
    for r in range(65536):
        sh.write(r, 0, "ключ %d" % r)
        sh.write(r, 1, "text %d" % (r % 5000))
        sh.write(r, 2, r * 1.25, styles[0])
        sh.write(r, 3, r * 1000.5, styles[1])
        sh.write(r, 4, r % 100000, styles[2])
        sh.write(r, 5, (r % 100) / 100.0, styles[3])
        sh.write(r, 6, base + datetime.timedelta(days=r % 3000), styles[4])
        sh.write(r, 7, base + datetime.timedelta(minutes=r * 7), styles[5])
        sh.write(r, 8, r / 7.0)
        sh.write(r, 9, "x%06d" % r)
    book.save(out)


if __name__ == "__main__":
    main(sys.argv[1])
