// The readers behind Workbook::fromBytes, one per file format; each fails (Failure) on a file
// it cannot read. fromBytes chooses among them by the file's content.
#pragma once

#include "workbook/readers/workbook.h"

namespace kalder {

class ZipArchive;

// .xls: an OLE2 container holding a BIFF5/7/8 workbook stream, or a plain stream of records
// (a BIFF2-BIFF4 worksheet or BIFF4 workbook, a BIFF5-BIFF8 stream on its own).
std::unique_ptr<Workbook> openXls(const QByteArray& bytes, const QString& name, const QLocale& locale,
                                  const Workbook::Part& part);
// The same, read from the file as it is decoded rather than held in memory; head holds the
// file's first bytes.
std::unique_ptr<Workbook> openXlsFile(const QString& path, const QByteArray& head, qsizetype fileSize,
                                      const QLocale& locale, const Workbook::Part& part);
// .xlsx / .xlsm: a zip package with xl/workbook.xml; the archive is only read while it opens.
std::unique_ptr<Workbook> openXlsx(const ZipArchive& zip, const QLocale& locale, const Workbook::Part& part);
// The same file's rows as they are decoded (of a part with its columns named; every column:
// the sheet opened whole). Merged areas, which a sheet lists after its cells, come too late
// for the rows given: finish() tells whether they hide any.
std::unique_ptr<RowCursor> openXlsxRows(const QString& path, const QLocale& locale, const Workbook::Part& part);
// .ods: a zip package whose mimetype is that of an OpenDocument spreadsheet.
std::unique_ptr<Workbook> openOds(const ZipArchive& zip, const QLocale& locale, const Workbook::Part& part);
// .csv: delimited text.
std::unique_ptr<Workbook> openCsv(const QByteArray& bytes, const QString& name, const QLocale& locale,
                                  const Workbook::Part& part);
// The rows of a .csv file as they are decoded.
std::unique_ptr<RowCursor> openCsvRows(const QString& path, const QLocale& locale, const Workbook::Part& part);
// The rows of a workbook opened whole.
std::unique_ptr<RowCursor> rowsOf(std::unique_ptr<Workbook> book);
// Text rather than binary data: no control characters but tab, line breaks and form feed in
// the first 64 KB, or a UTF-16 byte-order mark.
bool looksLikeText(const QByteArray& bytes);

} // namespace kalder
