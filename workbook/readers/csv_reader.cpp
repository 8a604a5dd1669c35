// The .csv reader: text in UTF-8 (with or without a byte-order mark), UTF-16 with a mark, or
// else the Windows code page of the locale; the separator (comma, semicolon or tab) found from
// the first records; quoted fields with doubled quotes and line breaks inside (a quote still
// open at the end of the file is refused, naming the line it opened on). Every field is
// a text cell shown as written, so "007" stays "007".
#include "workbook/readers/cell_sheet.h"
#include "workbook/readers/cell_values.h"
#include "workbook/readers/readers.h"

#include "app/base/failure_catalogue.h"

#include <QFile>
#include <QStringDecoder>

#include <array>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace kalder {

namespace {

// The bytes of a .csv, read from the start as often as asked: once to learn the encoding,
// once to decode them.
class CsvBytes {
public:
    virtual ~CsvBytes() = default;
    virtual void rewind() = 0;
    virtual qsizetype read(char* dst, qsizetype max) = 0; // 0 at the end
};

class MemoryBytes final : public CsvBytes {
public:
    explicit MemoryBytes(const QByteArray& bytes) : m_bytes(bytes) { }
    void rewind() override { m_at = 0; }
    qsizetype read(char* dst, qsizetype max) override
    {
        const qsizetype n = std::min(max, m_bytes.size() - m_at);
        std::copy_n(m_bytes.constData() + m_at, n, dst);
        m_at += n;
        return n;
    }

private:
    const QByteArray& m_bytes;
    qsizetype m_at = 0;
};

class FileBytes final : public CsvBytes {
public:
    explicit FileBytes(const QString& path) : m_file(path)
    {
        if (!m_file.open(QIODevice::ReadOnly))
            throw fail::bookNoAccess(path);
    }
    void rewind() override
    {
        if (!m_file.seek(0))
            failed();
    }
    qsizetype read(char* dst, qsizetype max) override
    {
        const qint64 n = m_file.read(dst, max);
        if (n < 0)
            failed();
        return qsizetype(n);
    }

private:
    [[noreturn]] void failed() const
    {
        throw Failure(err::DeviceUnavailable,
                      u"Ошибка чтения файла книги %1: %2"_s.arg(m_file.fileName(), m_file.errorString()));
    }
    QFile m_file;
};

constexpr qsizetype ChunkBytes = 64 * 1024;

// Whether the bytes from the current place on are UTF-8 throughout, with no sequence cut
// short at the end.
bool isUtf8(CsvBytes& bytes)
{
    QStringDecoder utf8(QStringConverter::Utf8);
    QByteArray chunk(ChunkBytes, Qt::Uninitialized);
    QString scratch(ChunkBytes, Qt::Uninitialized);
    char tail[4];
    qsizetype tailSize = 0; // the last bytes read, up to four
    for (qsizetype n; (n = bytes.read(chunk.data(), chunk.size())) > 0;) {
        utf8.appendToBuffer(scratch.data(), QByteArrayView(chunk.constData(), n));
        if (utf8.hasError())
            return false;
        for (qsizetype i = std::max<qsizetype>(0, n - 4); i < n; ++i) {
            if (tailSize == 4)
                std::copy(tail + 1, tail + 4, tail), --tailSize;
            tail[tailSize++] = chunk[i];
        }
    }
    // a lead byte among the last ones whose sequence is longer than the bytes after it
    for (qsizetype i = tailSize - 1; i >= 0; --i) {
        const uchar c = uchar(tail[i]);
        if ((c & 0xC0) == 0x80)
            continue;
        const qsizetype length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
        return tailSize - i >= length;
    }
    return true;
}

// The text of a .csv, decoded chunk by chunk: UTF-8 (with or without a byte-order mark),
// UTF-16 with a mark, or else the Windows code page of the locale.
class CsvText {
public:
    CsvText(CsvBytes& bytes, const QLocale& locale) : m_bytes(bytes), m_chunk(ChunkBytes, Qt::Uninitialized)
    {
        char head[3] = {};
        const qsizetype n = bytes.read(head, 3);
        const QByteArrayView start(head, n);
        qsizetype skip = 0;
        if (start.startsWith("\xEF\xBB\xBF")) {
            m_decoder = QStringDecoder(QStringConverter::Utf8);
            skip = 3;
        } else if (start.startsWith("\xFF\xFE") || start.startsWith("\xFE\xFF")) {
            m_decoder =
                QStringDecoder(start.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
            skip = 2;
        } else {
            bytes.rewind();
            if (isUtf8(bytes)) {
                m_decoder = QStringDecoder(QStringConverter::Utf8);
            } else {
                m_decoder = QStringDecoder(codePageName(windowsCodePage(locale)));
                if (!m_decoder.isValid())
                    m_decoder = QStringDecoder(QStringConverter::Latin1);
            }
        }
        bytes.rewind();
        if (skip > 0)
            bytes.read(head, skip);
    }

    // The text from the current place on, as far as it is decoded: at least two characters
    // unless the text ends sooner.
    QStringView rest()
    {
        if (m_text.size() - m_at < 2 && !m_ended) {
            m_text.remove(0, m_at);
            m_at = 0;
            while (m_text.size() < 2 && fill()) { }
        }
        return QStringView(m_text).sliced(m_at);
    }
    void skip(qsizetype n) { m_at += n; }
    bool ended() const { return m_ended; }
    // Decodes another chunk, keeping all before it; false at the end of the text.
    bool more() { return fill(); }

private:
    bool fill()
    {
        if (m_ended)
            return false;
        const qsizetype n = m_bytes.read(m_chunk.data(), m_chunk.size());
        if (n <= 0) {
            m_ended = true;
            return false;
        }
        const qsizetype old = m_text.size();
        m_text.resize(old + m_decoder.requiredSpace(n));
        const QChar* end = m_decoder.appendToBuffer(m_text.data() + old, QByteArrayView(m_chunk.constData(), n));
        m_text.resize(end - m_text.constData());
        return true;
    }

    CsvBytes& m_bytes;
    QStringDecoder m_decoder;
    QByteArray m_chunk;
    QString m_text;
    qsizetype m_at = 0;
    bool m_ended = false;
};

// The separator that splits the first records into the same number of fields; tab, then
// semicolon, then comma when more than one does (a comma is also the decimal point of many
// locales, a semicolon seldom stands in data). Nothing when the text decoded so far is too
// short to tell and more of it follows (complete: the whole text is there).
std::optional<QChar> findSeparator(QStringView text, bool complete)
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
            if (c == u'\r' && i + 1 >= text.size() && !complete)
                return std::nullopt;
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            for (size_t k = 0; k < 3; ++k) {
                counts[k].push_back(current[k]);
                current[k] = 0;
            }
            ++records;
        } else if (!quoted) {
            for (size_t k = 0; k < 3; ++k)
                if (c == candidates[k])
                    ++current[k];
        }
    }
    if (records < sampleRecords && i >= text.size() && !complete)
        return std::nullopt;
    if (records < sampleRecords && (current[0] || current[1] || current[2] || i < text.size()))
        for (size_t k = 0; k < 3; ++k)
            counts[k].push_back(current[k]);
    for (size_t k = 0; k < 3; ++k) {
        const auto& n = counts[k];
        if (n.empty() || n.front() == 0)
            continue;
        bool same = true;
        for (int v : n)
            same = same && v == n.front();
        if (same)
            return QChar(candidates[k]);
    }
    // No separator splits every record alike: the one most frequent in the first record.
    size_t best = 2;
    for (size_t k = 0; k < 3; ++k)
        if (!counts[k].empty() && counts[k].front() > (counts[best].empty() ? 0 : counts[best].front()))
            best = k;
    return QChar(candidates[best]);
}

class CsvWorkbook final : public CellSheet {
public:
    CsvWorkbook(const QString& name, const QLocale& locale, const Part& part)
        : CellSheet(name, locale, LargeSheetRows, LargeSheetColumns, part)
    {
    }
    void load(CsvBytes& bytes);

private:
    [[noreturn]] void tooLarge() const
    {
        throw Failure(
            err::BookNotWorkbook,
            u"Файл %1 больше допустимого листа: не более %2 строк, %3 столбцов и %4 заполненных ячеек"_s.arg(name())
                .arg(LargeSheetRows)
                .arg(LargeSheetColumns)
                .arg(MaxSheetCells));
    }
};

void CsvWorkbook::load(CsvBytes& bytes)
{
    CsvText text(bytes, locale());
    QChar sep;
    qint64 line = 1; // the line of the file at the current place, counted from 1, for the failure texts
    // A first line "sep=;" names the separator, as spreadsheets write it.
    while (text.rest().size() < 6 && text.more()) { }
    QStringView r = text.rest();
    if (r.size() >= 5 && r.left(4).compare(u"sep=", Qt::CaseInsensitive) == 0 &&
        (r.size() == 5 || r[5] == u'\n' || r[5] == u'\r')) {
        sep = r[4];
        line = 2;
        text.skip(5);
        if (text.rest().startsWith(u'\r'))
            text.skip(1);
        if (text.rest().startsWith(u'\n'))
            text.skip(1);
    } else {
        std::optional<QChar> found;
        while (!(found = findSeparator(text.rest(), text.ended())))
            text.more();
        sep = *found;
    }

    quint32 row = 0, col = 0;
    QString field;
    auto endField = [&] {
        if (!field.isEmpty())
            addText(row, col, 0, field); // fails for a field too long for a cell
        field.clear();
        if (cellCount() > MaxSheetCells)
            tooLarge();
    };
    for (;;) {
        r = text.rest();
        if (r.isEmpty())
            break;
        // one field
        if (r[0] == u'"') {
            const qint64 opened = line;
            text.skip(1);
            for (;;) {
                r = text.rest();
                // A quote still open at the end would make the rest of the file one field.
                if (r.isEmpty())
                    throw Failure(
                        err::BookNotWorkbook,
                        u"Файл %1 повреждён: кавычка, открытая в строке %2, не закрыта до конца файла"_s.arg(name())
                            .arg(opened));
                if (r[0] == u'"') {
                    if (r.size() > 1 && r[1] == u'"') {
                        field += u'"';
                        text.skip(2);
                        continue;
                    }
                    text.skip(1);
                    break;
                }
                // up to the next quote, or to the last character decoded, whose next one is not yet known
                const qsizetype limit = text.ended() ? r.size() : r.size() - 1;
                qsizetype j = 0;
                for (; j < limit && r[j] != u'"'; ++j)
                    if (r[j] == u'\n' || (r[j] == u'\r' && (j + 1 >= r.size() || r[j + 1] != u'\n')))
                        ++line;
                field += r.first(j);
                text.skip(j);
            }
        }
        // unquoted text, or what follows a closing quote, up to the separator or the line end
        for (;;) {
            r = text.rest();
            qsizetype j = 0;
            while (j < r.size() && r[j] != sep && r[j] != u'\n' && r[j] != u'\r')
                ++j;
            if (j > 0)
                field += r.first(j);
            text.skip(j);
            if (j < r.size() || text.ended())
                break;
        }
        endField();
        r = text.rest();
        if (r.isEmpty())
            break;
        if (r[0] == sep) {
            text.skip(1);
            if (++col >= quint32(LargeSheetColumns))
                tooLarge();
            if (text.rest().isEmpty())
                break;
            continue;
        }
        // a line break: \r\n, \n or \r
        text.skip(r[0] == u'\r' && r.size() > 1 && r[1] == u'\n' ? 2 : 1);
        ++line;
        col = 0;
        if (!text.rest().isEmpty() && ++row >= quint32(LargeSheetRows))
            tooLarge();
    }
    finish();
}

} // namespace

bool looksLikeText(const QByteArray& bytes)
{
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
        return true;
    const qsizetype n = std::min<qsizetype>(bytes.size(), 1 << 16);
    for (qsizetype i = 0; i < n; ++i) {
        const uchar c = uchar(bytes[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1A)
            return false;
    }
    return true;
}

std::unique_ptr<Workbook> openCsv(const QByteArray& bytes, const QString& name, const QLocale& locale,
                                  const Workbook::Part& part)
{
    auto book = std::make_unique<CsvWorkbook>(name, locale, part);
    MemoryBytes source(bytes);
    book->load(source);
    return book;
}

std::unique_ptr<RowCursor> openCsvRows(const QString& path, const QLocale& locale, const Workbook::Part& part)
{
    return CellSheet::streamRows(std::make_unique<CsvWorkbook>(path, locale, part), [path](CellSheet& sheet) {
        FileBytes source(path);
        static_cast<CsvWorkbook&>(sheet).load(source);
    });
}

} // namespace kalder
