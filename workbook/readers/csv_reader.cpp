// The .csv reader: text in UTF-8 (with or without a byte-order mark), UTF-16 with a mark, or
// else the Windows code page of the locale; the separator (comma, semicolon or tab) found from
// the first records; quoted fields with doubled quotes and line breaks inside (a quote still
// open at the end of the file is refused, naming the line it opened on). Every field is
// a text cell shown as written, so "007" stays "007".
#include "workbook/readers/cell_sheet.h"
#include "workbook/readers/cell_values.h"
#include "workbook/readers/readers.h"

#include "app/base/failure.h"

#include <QStringDecoder>

#include <array>

using namespace Qt::Literals::StringLiterals;

namespace kalder {

namespace {

QString decodeText(const QByteArray& bytes, const QLocale& locale)
{
    if (bytes.startsWith("\xEF\xBB\xBF")) return QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder utf16(bytes.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        return utf16.decode(QByteArrayView(bytes).sliced(2));
    }
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError()) return text;
    QStringDecoder local(codePageName(windowsCodePage(locale)));
    if (local.isValid()) return local.decode(bytes);
    return QString::fromLatin1(bytes);
}

// The separator that splits the first records into the same number of fields; tab, then
// semicolon, then comma when more than one does (a comma is also the decimal point of many
// locales, a semicolon seldom stands in data).
QChar findSeparator(QStringView text)
{
    constexpr std::array<char16_t, 3> candidates{u'\t', u';', u','};
    constexpr int sampleRecords = 50;
    std::array<std::vector<int>, 3> counts;
    std::array<int, 3> current{};
    bool quoted = false;
    int records = 0;
    qsizetype i = 0;
    for (; i < text.size() && records < sampleRecords && i < (4 << 20); ++i) {
        const QChar c = text[i];
        if (c == u'"') {
            quoted = !quoted;
        } else if (!quoted && (c == u'\n' || c == u'\r')) {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            for (size_t k = 0; k < 3; ++k) {
                counts[k].push_back(current[k]);
                current[k] = 0;
            }
            ++records;
        } else if (!quoted) {
            for (size_t k = 0; k < 3; ++k)
                if (c == candidates[k]) ++current[k];
        }
    }
    if (records < sampleRecords && (current[0] || current[1] || current[2] || i < text.size()))
        for (size_t k = 0; k < 3; ++k) counts[k].push_back(current[k]);
    for (size_t k = 0; k < 3; ++k) {
        const auto& n = counts[k];
        if (n.empty() || n.front() == 0) continue;
        bool same = true;
        for (int v : n) same = same && v == n.front();
        if (same) return candidates[k];
    }
    // No separator splits every record alike: the one most frequent in the first record.
    size_t best = 2;
    for (size_t k = 0; k < 3; ++k)
        if (!counts[k].empty() && counts[k].front() > (counts[best].empty() ? 0 : counts[best].front())) best = k;
    return candidates[best];
}

class CsvWorkbook final : public CellSheet {
public:
    CsvWorkbook(const QString& name, const QLocale& locale, const Part& part)
        : CellSheet(name, locale, LargeSheetRows, LargeSheetColumns, part)
    {
    }
    void load(const QByteArray& bytes);

private:
    [[noreturn]] void tooLarge() const
    {
        throw Failure(err::BookNotWorkbook,
                      u"Файл %1 больше допустимого листа: не более %2 строк, %3 столбцов и %4 заполненных ячеек"_s.arg(name())
                          .arg(LargeSheetRows)
                          .arg(LargeSheetColumns)
                          .arg(MaxSheetCells));
    }
};

void CsvWorkbook::load(const QByteArray& bytes)
{
    QString text = decodeText(bytes, locale());
    QStringView rest(text);
    QChar sep;
    qint64 line = 1; // the line of the file at i, counted from 1, for the failure texts
    // A first line "sep=;" names the separator, as spreadsheets write it.
    if (rest.size() >= 5 && rest.left(4).compare(u"sep=", Qt::CaseInsensitive) == 0 &&
        (rest.size() == 5 || rest[5] == u'\n' || rest[5] == u'\r')) {
        sep = rest[4];
        line = 2;
        rest = rest.mid(5);
        if (rest.startsWith(u'\r')) rest = rest.mid(1);
        if (rest.startsWith(u'\n')) rest = rest.mid(1);
    } else {
        sep = findSeparator(rest);
    }

    quint32 row = 0, col = 0;
    QString field;
    const qsizetype n = rest.size();
    qsizetype i = 0;
    auto endField = [&] {
        if (!field.isEmpty()) addText(row, col, 0, field); // fails for a field too long for a cell
        field.clear();
        if (cellCount() > MaxSheetCells) tooLarge();
    };
    while (i < n) {
        // one field
        if (rest[i] == u'"') {
            const qint64 opened = line;
            ++i;
            for (;;) {
                // A quote still open at the end would make the rest of the file one field.
                if (i >= n)
                    throw Failure(err::BookNotWorkbook,
                                  u"Файл %1 повреждён: кавычка, открытая в строке %2, не закрыта до конца файла"_s.arg(name())
                                      .arg(opened));
                const QChar c = rest[i];
                if (c == u'"') {
                    if (i + 1 < n && rest[i + 1] == u'"') {
                        field += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                const qsizetype from = i;
                for (; i < n && rest[i] != u'"'; ++i)
                    if (rest[i] == u'\n' || (rest[i] == u'\r' && (i + 1 >= n || rest[i + 1] != u'\n'))) ++line;
                field += rest.mid(from, i - from);
            }
        }
        // unquoted text, or what follows a closing quote, up to the separator or the line end
        const qsizetype from = i;
        while (i < n && rest[i] != sep && rest[i] != u'\n' && rest[i] != u'\r') ++i;
        if (i > from) field += rest.mid(from, i - from);
        endField();
        if (i >= n) break;
        if (rest[i] == sep) {
            ++i;
            if (++col >= quint32(LargeSheetColumns)) tooLarge();
            if (i >= n) break;
            continue;
        }
        // a line break: \r\n, \n or \r
        if (rest[i] == u'\r' && i + 1 < n && rest[i + 1] == u'\n') ++i;
        ++i;
        ++line;
        col = 0;
        if (i < n && ++row >= quint32(LargeSheetRows)) tooLarge();
    }
    text.clear();
    finish();
}

} // namespace

bool looksLikeText(const QByteArray& bytes)
{
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) return true;
    const qsizetype n = std::min<qsizetype>(bytes.size(), 1 << 16);
    for (qsizetype i = 0; i < n; ++i) {
        const uchar c = uchar(bytes[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1A) return false;
    }
    return true;
}

std::unique_ptr<Workbook> openCsv(const QByteArray& bytes, const QString& name, const QLocale& locale,
                                  const Workbook::Part& part)
{
    auto book = std::make_unique<CsvWorkbook>(name, locale, part);
    book->load(bytes);
    return book;
}

} // namespace kalder
