#include "workbook/workbook.h"

#include "app/failure.h"
#include "workbook/readers.h"

#include <QFile>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace kalder {

std::unique_ptr<Workbook> Workbook::open(const QString& path, const QLocale& locale)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) throw Failure(err::FileNotFound, u"Файл книги не найден: %1"_s.arg(path));
    if (info.isDir()) throw Failure(err::PathFileAccess, u"Вместо файла книги указана папка: %1"_s.arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) throw Failure(err::PathFileAccess, u"Нет доступа к файлу книги %1"_s.arg(path));
    const QByteArray head = file.peek(8);
    if (head.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) return openXlsFile(path, head, file.size(), locale);
    const QByteArray bytes = file.readAll();
    return fromBytes(bytes, path, locale);
}

std::unique_ptr<Workbook> Workbook::fromBytes(const QByteArray& bytes, const QString& name, const QLocale& locale)
{
    if (bytes.startsWith("PK\x03\x04"))
        throw Failure(err::BookNotWorkbook, u"Файл %1 — книга формата .xlsx, читаются только книги .xls"_s.arg(name));
    return openXls(bytes, name, locale);
}

} // namespace kalder
