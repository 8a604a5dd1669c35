#include "workbook/readers/workbook.h"

#include "app/base/failure_catalogue.h"
#include "workbook/readers/readers.h"
#include "workbook/readers/zip_archive.h"

#include <QFile>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace kalder {

namespace {

bool isZip(const QByteArray& head) { return head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06"); }

// A zip package: an OpenDocument spreadsheet by its mimetype, an Office Open XML workbook by
// its workbook part; anything else is named as well as it can be.
std::unique_ptr<Workbook> openPackage(const ZipArchive& zip, const QLocale& locale, const Workbook::Part& part)
{
    const QByteArray mimetype = zip.readSmall(u"mimetype"_s, 256).trimmed();
    if (mimetype == "application/vnd.oasis.opendocument.spreadsheet" ||
        mimetype == "application/vnd.oasis.opendocument.spreadsheet-template")
        return openOds(zip, locale, part);
    if (mimetype.startsWith("application/vnd.oasis.opendocument."))
        throw Failure(err::BookNotWorkbook,
                      u"Файл %1 — документ OpenDocument, но не электронная таблица"_s.arg(zip.name()));
    if (zip.has(u"xl/workbook.bin"_s))
        throw Failure(err::BookNotWorkbook,
                      u"Книга %1 записана в двоичном формате .xlsb, он не читается"_s.arg(zip.name()));
    if (zip.has(u"xl/workbook.xml"_s) || zip.has(u"[Content_Types].xml"_s) || zip.has(u"_rels/.rels"_s)) {
        if (!zip.has(u"xl/workbook.xml"_s) && (zip.has(u"word/document.xml"_s) || zip.has(u"ppt/presentation.xml"_s)))
            throw Failure(err::BookNotWorkbook, u"Файл %1 — документ Office, но не книга .xlsx"_s.arg(zip.name()));
        return openXlsx(zip, locale, part);
    }
    if (zip.has(u"content.xml"_s))
        return openOds(zip, locale, part);
    throw Failure(err::BookNotWorkbook, u"Файл %1 — архив zip, но не книга .xlsx или .ods"_s.arg(zip.name()));
}

// Markup (an HTML table or an XML document saved under a workbook's name) rather than
// delimited text: the first thing after blanks is a tag.
bool isMarkup(const QByteArray& bytes)
{
    qsizetype i = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (i < bytes.size() && i < 4096 &&
           (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n'))
        ++i;
    if (i + 1 >= bytes.size() || bytes[i] != '<')
        return false;
    const char c = bytes[i + 1];
    return c == '?' || c == '!' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isOle(const QByteArray& head) { return head.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"); }

// The first record (BOF) of a plain stream of BIFF records: a BIFF2-BIFF4 file, or a BIFF5-BIFF8
// workbook stream saved without its OLE2 container.
bool isPlainBiff(const QByteArray& head)
{
    if (head.size() < 4)
        return false;
    const uchar* p = reinterpret_cast<const uchar*>(head.constData());
    const int type = p[0] | (p[1] << 8), length = p[2] | (p[3] << 8);
    return (type == 0x0009 || type == 0x0209 || type == 0x0409 || type == 0x0809) && length >= 4 && length <= 32;
}

// The rows of a workbook opened whole.
class WholeRows final : public RowCursor {
public:
    explicit WholeRows(std::unique_ptr<Workbook> book) : m_book(std::move(book)) { }
    ~WholeRows() override { m_book->close(); }
    void cellText(int row, int column, QString& out) override { m_book->cellText(row, column, out); }
    bool plainNumber(int row, int column, double& value) override { return m_book->plainNumber(row, column, value); }
    int maxRows() const override { return m_book->maxRows(); }
    int maxColumns() const override { return m_book->maxColumns(); }
    bool finish() override
    {
        m_book->close();
        return true;
    }

private:
    std::unique_ptr<Workbook> m_book;
};

// A workbook's path names a file that exists: the failures before the file is opened.
void requireBookFile(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        throw Failure(err::FileNotFound, u"Файл книги не найден: %1"_s.arg(path));
    if (info.isDir())
        throw Failure(err::PathFileAccess, u"Вместо файла книги указана папка: %1"_s.arg(path));
}

} // namespace

std::unique_ptr<RowCursor> rowsOf(std::unique_ptr<Workbook> book)
{
    return std::make_unique<WholeRows>(std::move(book));
}

void Workbook::readRow(int row, RowReader& reader, QString& buffer) const
{
    const int columns = lastColumn(row);
    for (int col = 1; col <= columns; ++col) {
        cellText(row, col, buffer);
        reader.cell(col, buffer);
    }
}

std::unique_ptr<Workbook> Workbook::open(const QString& path, const QLocale& locale, const Part& part)
{
    requireBookFile(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw fail::bookNoAccess(path);
    // A zip package is read from the file as it is unpacked, an OLE2 container record by
    // record; other formats are read whole.
    const QByteArray head = file.peek(8);
    if (isZip(head)) {
        file.close();
        const ZipArchive zip(path);
        return openPackage(zip, locale, part);
    }
    if (isOle(head))
        return openXlsFile(path, head, file.size(), locale, part);
    const QByteArray bytes = file.readAll();
    return fromBytes(bytes, path, locale, part);
}

std::unique_ptr<RowCursor> Workbook::openRows(const QString& path, const QLocale& locale, const Part& part)
{
    requireBookFile(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw fail::bookNoAccess(path);
    // An .xlsx package and a .csv text are decoded as their rows are read; the first 64 KB
    // tell a text from other files as fromBytes tells them.
    const QByteArray head = file.peek(1 << 16);
    if (isZip(head)) {
        file.close();
        {
            const ZipArchive zip(path);
            const QByteArray mimetype = zip.readSmall(u"mimetype"_s, 256).trimmed();
            if (!mimetype.startsWith("application/vnd.oasis.opendocument.") && !zip.has(u"xl/workbook.bin"_s) &&
                zip.has(u"xl/workbook.xml"_s))
                return openXlsxRows(path, locale, part);
        }
        return rowsOf(open(path, locale, part));
    }
    if (!head.isEmpty() && !isOle(head) && !isPlainBiff(head) && looksLikeText(head) && !isMarkup(head)) {
        file.close();
        return openCsvRows(path, locale, part);
    }
    file.close();
    return rowsOf(open(path, locale, part));
}

std::unique_ptr<Workbook> Workbook::fromBytes(const QByteArray& bytes, const QString& name, const QLocale& locale,
                                              const Part& part)
{
    if (isZip(bytes)) {
        const ZipArchive zip(bytes, name);
        return openPackage(zip, locale, part);
    }
    if (isOle(bytes) || isPlainBiff(bytes))
        return openXls(bytes, name, locale, part);
    if (bytes.isEmpty())
        throw Failure(err::BookNotWorkbook, u"Файл %1 пуст"_s.arg(name));
    if (looksLikeText(bytes)) {
        if (isMarkup(bytes))
            throw Failure(err::BookNotWorkbook,
                          u"Файл %1 — документ HTML или XML, а не книга .xls, .xlsx, .ods или текст .csv"_s.arg(name));
        return openCsv(bytes, name, locale, part);
    }
    throw Failure(err::BookNotWorkbook, u"Файл %1 не является книгой .xls, .xlsx, .ods или текстом .csv"_s.arg(name));
}

} // namespace kalder
