#!/usr/bin/python3
"""Seeds a fuzz corpus with the fixtures of one format: each file as it is and, for the zip
formats, a copy whose entries are stored uncompressed, so that mutations reach the XML.
Usage: /usr/bin/python3 fuzz/make_seeds.py xlsx|ods|csv|xls CORPUS_DIR"""
import glob
import io
import os
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.join(HERE, "..", "tests", "fixtures")
LARGE = 200 * 1024  # inflating or repeating fixtures of the bounds are left out


def stored(data):
    out = io.BytesIO()
    with zipfile.ZipFile(io.BytesIO(data)) as src, zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as dst:
        for info in src.infolist():
            dst.writestr(info.filename, src.read(info.filename))
    return out.getvalue()


def main(kind, corpus):
    os.makedirs(corpus, exist_ok=True)
    for f in sorted(glob.glob(os.path.join(FIXTURES, "**", "*." + kind), recursive=True)):
        name = os.path.basename(f)
        if name in ("bomb.xlsx", "repeated.ods"):
            continue
        data = open(f, "rb").read()
        if len(data) > LARGE:
            continue
        open(os.path.join(corpus, name), "wb").write(data)
        if kind in ("xlsx", "ods"):
            try:   # the damaged fixtures are seeds as they are, and have no stored copy
                copy = stored(data)
            except (zipfile.BadZipFile, EOFError, ValueError):
                continue
            open(os.path.join(corpus, "stored-" + name), "wb").write(copy)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
