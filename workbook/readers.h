// The readers behind Workbook::fromBytes, one per file format; each fails (Failure) on a file
// it cannot read. fromBytes chooses among them by the file's content.
#pragma once

#include "workbook/workbook.h"

namespace kalder {

// .xls: an OLE2 container holding a BIFF5/7/8 workbook stream.
std::unique_ptr<Workbook> openXls(const QByteArray& bytes, const QString& name, const QLocale& locale);
// The same, read from the file as it is decoded rather than held in memory; head holds the
// file's first bytes.
std::unique_ptr<Workbook> openXlsFile(const QString& path, const QByteArray& head, qsizetype fileSize, const QLocale& locale);

} // namespace kalder
