// The .xlsx / .xlsm reader: the package's relationships lead from the workbook part to the
// sheets, the shared strings and the styles; the active sheet's XML is streamed once through
// the scanner into the cell store. Parts that a writer left out (relationships, styles, shared
// strings) are looked for at their usual places, or done without.
#include "workbook/readers/big_buffer.h"
#include "workbook/readers/cell_sheet.h"
#include "workbook/readers/readers.h"

#include "app/base/failure.h"
#include "workbook/readers/cell_values.h"
#include "workbook/readers/number_format.h"
#include "workbook/readers/xml_scanner.h"
#include "workbook/readers/zip_archive.h"

#include <QStringDecoder>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

using namespace Qt::Literals::StringLiterals;

namespace kalder {

namespace {

bool isTrue(std::string_view v) { return v == "1" || v == "true" || v == "on"; }

bool parseUInt(std::string_view v, quint64& out)
{
    while (!v.empty() && v.front() == ' ')
        v.remove_prefix(1);
    while (!v.empty() && v.back() == ' ')
        v.remove_suffix(1);
    if (v.empty() || v.size() > 12)
        return false;
    quint64 n = 0;
    for (char c : v) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + quint64(c - '0');
    }
    out = n;
    return true;
}

// "B12" or "$B$12": column and row from 0; false for another text.
bool cellRef(std::string_view v, quint64& row, quint64& col, bool needRow = true)
{
    size_t i = 0;
    if (i < v.size() && v[i] == '$')
        ++i;
    quint64 c = 0;
    size_t letters = 0;
    for (; i < v.size(); ++i) {
        char ch = v[i];
        if (ch >= 'a' && ch <= 'z')
            ch = char(ch - 32);
        if (ch < 'A' || ch > 'Z')
            break;
        if (++letters > 4)
            return false;
        c = c * 26 + quint64(ch - 'A' + 1);
    }
    if (letters == 0)
        return false;
    if (i < v.size() && v[i] == '$')
        ++i;
    quint64 r = 0;
    if (!parseUInt(v.substr(i), r) || r == 0) {
        if (needRow || i < v.size())
            return false;
        r = 1;
    }
    row = r - 1;
    col = c - 1;
    return true;
}

// The most characters of a text gathered before its _xHHHH_ escapes are read: seven to a
// character at most. A text beyond is not gathered further, for it is too long for a cell.
constexpr qsizetype maxRawText = 7 * MaxCellText + 7;
// The most bytes of a cell's value gathered: more than its longest text takes in UTF-8.
constexpr size_t maxValueBytes = 4 * MaxCellText + 8;

// The text of _xHHHH_ escapes, with which the format writes characters XML cannot hold.
void unescapeX(QString& s)
{
    if (!s.contains(u"_x"))
        return;
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == u'_' && i + 6 < s.size() && s[i + 1] == u'x' && s[i + 6] == u'_') {
            bool ok = false;
            const uint code = QStringView(s).mid(i + 2, 4).toUInt(&ok, 16);
            if (ok) {
                out += QChar(char16_t(code));
                i += 6;
                continue;
            }
        }
        out += s[i];
    }
    s = out;
}

// A part's path relative to the folder of the part that names it.
QString resolve(const QString& base, const QString& target)
{
    QString t = target;
    t.replace(u'\\', u'/');
    QStringList parts;
    if (!t.startsWith(u'/')) {
        parts = base.split(u'/');
        parts.removeLast(); // the file name of the base part
    }
    for (const QString& p : t.split(u'/', Qt::SkipEmptyParts)) {
        if (p == u".")
            continue;
        if (p == u"..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(p);
    }
    return parts.join(u'/');
}

// The relationships part of a part: "xl/workbook.xml" -> "xl/_rels/workbook.xml.rels".
QString relsOf(const QString& part)
{
    const qsizetype slash = part.lastIndexOf(u'/');
    return part.left(slash + 1) + u"_rels/"_s + part.mid(slash + 1) + u".rels"_s;
}

// A part inflated ahead in a thread of its own, a few chunks at a time, while its reader
// scans what came before: inflating and checking the bytes is a third of reading a sheet.
class ReadAhead {
public:
    explicit ReadAhead(ZipArchive::Stream& stream) : m_thread([this, &stream] { run(stream); }) { }
    ~ReadAhead()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // As ZipArchive::Stream::read, and fails as it does, where it did.
    qsizetype read(char* dst, qsizetype max)
    {
        if (m_at == m_chunk.size()) {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return !m_ready.empty() || m_done; });
            if (m_ready.empty()) {
                if (m_failure)
                    throw *m_failure;
                return 0;
            }
            m_free.push_back(std::move(m_chunk));
            m_chunk = std::move(m_ready.front());
            m_ready.pop_front();
            m_at = 0;
            lock.unlock();
            m_changed.notify_all();
        }
        const qsizetype n = std::min(max, m_chunk.size() - m_at);
        std::copy_n(m_chunk.constData() + m_at, n, dst);
        m_at += n;
        return n;
    }

private:
    static constexpr qsizetype ChunkBytes = 256 * 1024;
    static constexpr size_t Ahead = 4;

    void run(ZipArchive::Stream& stream)
    {
        try {
            for (;;) {
                QByteArray chunk;
                {
                    std::unique_lock lock(m_mutex);
                    m_changed.wait(lock, [&] { return m_stop || m_ready.size() < Ahead; });
                    if (m_stop)
                        return;
                    if (!m_free.empty()) {
                        chunk = std::move(m_free.back());
                        m_free.pop_back();
                    }
                }
                chunk.resize(ChunkBytes);
                const qsizetype n = stream.read(chunk.data(), chunk.size());
                if (n == 0)
                    break;
                chunk.resize(n);
                {
                    const std::lock_guard lock(m_mutex);
                    m_ready.push_back(std::move(chunk));
                }
                m_changed.notify_all();
            }
        } catch (const Failure& f) {
            const std::lock_guard lock(m_mutex);
            m_failure = f;
        } catch (const std::exception& e) {
            const std::lock_guard lock(m_mutex);
            m_failure = Failure(err::BookNotWorkbook, QString::fromUtf8(e.what()));
        }
        {
            const std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_changed.notify_all();
    }

    QByteArray m_chunk; // in hand
    qsizetype m_at = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_ready;
    std::vector<QByteArray> m_free;
    bool m_stop = false, m_done = false;
    std::optional<Failure> m_failure;
    std::thread m_thread;
};

struct Relationship {
    QString type; // the last word of the type URI: "worksheet", "sharedStrings" ...
    QString target;
};

class XlsxWorkbook final : public CellSheet {
public:
    XlsxWorkbook(const ZipArchive& zip, const QString& name, const QLocale& locale, const Part& part)
        : CellSheet(name, locale, LargeSheetRows, LargeSheetColumns, part), m_zip(zip)
    {
    }

    void load() { read(locate()); }

    // Where the parts of the active sheet are, found from the package's small parts.
    struct Place {
        QString sheet, shared, styles, name;
        bool chart = false;
    };
    Place locate();
    // Reads the shared strings, the styles and the sheet.
    void read(const Place& place);

private:
    // maxSize: as ZipArchive::open
    XmlScanner scanner(const QString& part, std::unique_ptr<ZipArchive::Stream>& stream, qint64 maxSize = 0) const;
    std::map<QString, Relationship> relationships(const QString& part) const;
    void readSharedStrings(const QString& part);
    // The shared strings, kept as UTF-8 one after another and decoded when a cell shows one.
    bool hasShared(quint32 index) const override
    {
        return index + 1 < m_sharedEnds.size() && m_sharedEnds[index + 1] > m_sharedEnds[index];
    }
    void sharedText(quint32 index, QString& out) const override
    {
        const quint32 from = m_sharedEnds[index];
        const QByteArrayView bytes(m_sharedBytes.data() + from, qsizetype(m_sharedEnds[index + 1] - from));
        out.resize(bytes.size()); // UTF-16 takes at most as many units as UTF-8 has bytes
        QStringDecoder utf8(QStringDecoder::Utf8,
                            QStringDecoder::Flag::Stateless); // one per read: reads may run at once
        QChar* end = utf8.appendToBuffer(out.data(), bytes);
        out.resize(end - out.constData());
    }
    void close() override
    {
        CellSheet::close();
        m_sharedBytes = {};
        m_sharedEnds = {};
    }
    void readStyles(const QString& part);
    void readSheet(const QString& part);
    void cellsBeyond() const;

    const ZipArchive& m_zip; // only read while load() runs
    std::vector<char, BigAllocator<char>> m_sharedBytes;
    std::vector<quint32> m_sharedEnds{0}; // string i is m_sharedBytes[m_sharedEnds[i] .. m_sharedEnds[i + 1])
};

XmlScanner XlsxWorkbook::scanner(const QString& part, std::unique_ptr<ZipArchive::Stream>& stream, qint64 maxSize) const
{
    stream = m_zip.open(part, maxSize);
    ZipArchive::Stream* s = stream.get();
    const QString partName = part;
    return XmlScanner([s](char* dst, qsizetype max) { return s->read(dst, max); },
                      [this, partName](const QString& what) { damaged(u"%1 (часть %2)"_s.arg(what, partName)); });
}

std::map<QString, Relationship> XlsxWorkbook::relationships(const QString& part) const
{
    std::map<QString, Relationship> out;
    const QString rels = relsOf(part);
    if (!m_zip.has(rels))
        return out;
    std::unique_ptr<ZipArchive::Stream> stream;
    XmlScanner x = scanner(rels, stream, ZipArchive::MaxSidePart);
    for (XmlScanner::Token t; (t = x.next()) != XmlScanner::Eof;) {
        if (t != XmlScanner::Start || !x.is("Relationship"))
            continue;
        if (x.attributeText("TargetMode").compare(u"External", Qt::CaseInsensitive) == 0)
            continue;
        QString type = x.attributeText("Type");
        type = type.mid(type.lastIndexOf(u'/') + 1);
        out[x.attributeText("Id")] = {type, resolve(part, x.attributeText("Target"))};
        if (out.size() > 100000)
            break;
    }
    stream->finish();
    return out;
}

XlsxWorkbook::Place XlsxWorkbook::locate()
{
    // The workbook part: named by the package's relationships, or at its usual place.
    QString book = u"xl/workbook.xml"_s;
    for (const auto& [id, rel] : relationships(QString())) // the package's own: _rels/.rels
        if (rel.type == u"officeDocument" && m_zip.has(rel.target))
            book = rel.target;
    if (!m_zip.has(book))
        damaged(u"нет части книги xl/workbook.xml"_s);

    struct SheetEntry {
        QString name;
        QString rid;
    };
    std::vector<SheetEntry> sheets;
    int activeTab = 0;
    bool viewSeen = false;
    {
        std::unique_ptr<ZipArchive::Stream> stream;
        XmlScanner x = scanner(book, stream, ZipArchive::MaxSidePart);
        for (XmlScanner::Token t; (t = x.next()) != XmlScanner::Eof;) {
            if (t != XmlScanner::Start)
                continue;
            std::string_view v;
            if (x.is("workbookPr")) {
                if (x.attribute("date1904", v))
                    setDate1904(isTrue(v));
            } else if (x.is("workbookView") && !viewSeen) {
                viewSeen = true;
                quint64 n = 0;
                if (x.attribute("activeTab", v) && parseUInt(v, n) && n < 65536)
                    activeTab = int(n);
            } else if (x.is("sheet") && sheets.size() < 65536) {
                sheets.push_back({x.attributeText("name"), x.attributeText("id")});
            }
        }
    }
    if (sheets.empty())
        damaged(u"в книге нет листов"_s);
    if (size_t(activeTab) >= sheets.size())
        activeTab = 0;

    const auto rels = relationships(book);
    QString sharedPart, stylesPart;
    for (const auto& [id, rel] : rels) {
        if (rel.type == u"sharedStrings")
            sharedPart = rel.target;
        else if (rel.type == u"styles")
            stylesPart = rel.target;
    }
    const QString folder = book.left(book.lastIndexOf(u'/') + 1);
    if (sharedPart.isEmpty() || !m_zip.has(sharedPart))
        sharedPart = folder + u"sharedStrings.xml"_s;
    if (stylesPart.isEmpty() || !m_zip.has(stylesPart))
        stylesPart = folder + u"styles.xml"_s;

    const SheetEntry& active = sheets[size_t(activeTab)];
    QString sheetPart;
    bool chart = false;
    if (auto it = rels.find(active.rid); it != rels.end()) {
        sheetPart = it->second.target;
        chart = it->second.type != u"worksheet";
    }
    if (sheetPart.isEmpty() || !m_zip.has(sheetPart)) {
        sheetPart = folder + u"worksheets/sheet%1.xml"_s.arg(activeTab + 1);
        chart = false;
    }

    return {sheetPart, sharedPart, stylesPart, active.name, chart};
}

void XlsxWorkbook::read(const Place& place)
{
    if (m_zip.has(place.shared))
        readSharedStrings(place.shared);
    if (m_zip.has(place.styles))
        readStyles(place.styles);
    if (place.chart) { // a chart sheet holds no cells
        finish();
        return;
    }
    if (!m_zip.has(place.sheet))
        damaged(u"лист «%1» не найден"_s.arg(place.name));
    readSheet(place.sheet);
}

void XlsxWorkbook::readSharedStrings(const QString& part)
{
    std::unique_ptr<ZipArchive::Stream> stream;
    XmlScanner x = scanner(part, stream);
    m_sharedBytes.clear();
    m_sharedEnds.assign(1, 0);
    QString text;
    int siDepth = 0, tDepth = 0, skipDepth = 0;
    for (XmlScanner::Token t; (t = x.next()) != XmlScanner::Eof;) {
        if (t == XmlScanner::Start) {
            if (x.is("sst")) {
                // room for the strings the table counts, as far as the part can hold them
                std::string_view v;
                quint64 n = 0;
                if (x.attribute("uniqueCount", v) && parseUInt(v, n))
                    m_sharedEnds.reserve(size_t(std::min<quint64>(n, 1u << 22)) + 1);
            } else if (x.is("si")) {
                siDepth = x.depth();
                text.clear();
            } else if (siDepth && !skipDepth && (x.is("rPh") || x.is("phoneticPr"))) {
                skipDepth = x.depth(); // the phonetic reading is not part of the text
            } else if (siDepth && !skipDepth && x.is("t")) {
                tDepth = x.depth();
            }
        } else if (t == XmlScanner::End) {
            if (skipDepth && x.depth() < skipDepth)
                skipDepth = 0;
            if (tDepth && x.depth() < tDepth)
                tDepth = 0;
            if (siDepth && x.depth() < siDepth) {
                siDepth = 0;
                unescapeX(text);
                if (text.size() > MaxCellText) {
                    // not kept: a cell that shows it fails
                    markSharedTooLong(quint32(m_sharedEnds.size() - 1));
                    text.clear();
                }
                const QByteArray utf8 = text.toUtf8();
                countTextBytes(utf8.size() + 4);
                m_sharedBytes.insert(m_sharedBytes.end(), utf8.constBegin(), utf8.constEnd());
                m_sharedEnds.push_back(quint32(m_sharedBytes.size()));
            }
        } else if (t == XmlScanner::Text && tDepth && !skipDepth && text.size() <= maxRawText) {
            x.appendText(text);
        }
    }
}

void XlsxWorkbook::readStyles(const QString& part)
{
    std::unique_ptr<ZipArchive::Stream> stream;
    XmlScanner x = scanner(part, stream, ZipArchive::MaxSidePart);
    std::map<quint64, QString> codes;
    std::vector<quint64> xfFormat;
    bool inCellXfs = false;
    for (XmlScanner::Token t; (t = x.next()) != XmlScanner::Eof;) {
        std::string_view v;
        if (t == XmlScanner::Start) {
            if (x.is("numFmt")) {
                quint64 id;
                if (x.attribute("numFmtId", v) && parseUInt(v, id) && codes.size() < 65536)
                    codes[id] = x.attributeText("formatCode");
            } else if (x.is("cellXfs")) {
                inCellXfs = true;
            } else if (inCellXfs && x.is("xf") && xfFormat.size() < 65536) {
                quint64 id = 0;
                if (!x.attribute("numFmtId", v) || !parseUInt(v, id))
                    id = 0;
                xfFormat.push_back(id);
            }
        } else if (t == XmlScanner::End && x.is("cellXfs")) {
            inCellXfs = false;
        }
    }
    std::map<quint64, std::shared_ptr<NumberFormat>> parsed;
    std::vector<std::shared_ptr<NumberFormat>> formats(xfFormat.size());
    for (size_t i = 0; i < xfFormat.size(); ++i) {
        const quint64 id = xfFormat[i];
        auto& p = parsed[id];
        if (!p) {
            // the date forms 14 to 22 are the locale's, whatever code a writer stored for them
            const auto code = codes.find(id);
            p = std::make_shared<NumberFormat>(code != codes.end() &&
                                                       !localeBuiltinFormat(int(std::min<quint64>(id, 50)))
                                                   ? code->second
                                                   : builtinFormatCode(id < 50 ? int(id) : 0, locale()));
        }
        formats[i] = p;
    }
    setCellFormats(std::move(formats));
}

void XlsxWorkbook::cellsBeyond() const
{
    throw Failure(
        err::BookNotWorkbook,
        u"Лист книги %1 больше допустимого: %2 строк, %3 столбцов, не более %4 заполненных ячеек"_s.arg(name())
            .arg(LargeSheetRows)
            .arg(LargeSheetColumns)
            .arg(MaxSheetCells));
}

void XlsxWorkbook::readSheet(const QString& part)
{
    const std::unique_ptr<ZipArchive::Stream> stream = m_zip.open(part);
    ReadAhead ahead(*stream);
    XmlScanner x([&ahead](char* dst, qsizetype max) { return ahead.read(dst, max); },
                 [this, part](const QString& what) { damaged(u"%1 (часть %2)"_s.arg(what, part)); });
    qint64 row = -1; // the current row, from 0
    qint64 col = -1; // the last column seen in the row
    bool inData = false;
    std::string value; // the text of <v>, UTF-8
    QString inline_; // the text of <is>
    for (XmlScanner::Token t; (t = x.next()) != XmlScanner::Eof;) {
        if (t != XmlScanner::Start) {
            if (t == XmlScanner::End && x.is("sheetData"))
                inData = false;
            continue;
        }
        std::string_view v;
        if (x.is("dimension") && x.attribute("ref", v)) {
            // The used range, when the writer states it, sizes the cell array at once; room
            // that is never filled is never touched.
            const size_t colon = v.find(':');
            quint64 r1, c1, r2, c2;
            if (colon != std::string_view::npos && cellRef(v.substr(0, colon), r1, c1) &&
                cellRef(v.substr(colon + 1), r2, c2) && r2 >= r1 && c2 >= c1 && r2 < quint64(LargeSheetRows) &&
                c2 < quint64(LargeSheetColumns))
                reserveCells(size_t(std::min<quint64>((r2 - r1 + 1) * (c2 - c1 + 1), quint64(MaxSheetCells))));
        } else if (x.is("sheetData")) {
            inData = true;
        } else if (inData && x.is("row")) {
            quint64 r;
            if (x.attribute("r", v) && parseUInt(v, r) && r > 0)
                row = qint64(r) - 1;
            else
                ++row;
            col = -1;
            if (row >= LargeSheetRows)
                cellsBeyond();
        } else if (inData && x.is("c")) {
            quint64 r = 0, c = 0;
            if (x.attribute("r", v) && cellRef(v, r, c)) {
                row = qint64(r);
                col = qint64(c);
            } else {
                if (row < 0)
                    row = 0;
                ++col;
            }
            if (row >= LargeSheetRows || col >= LargeSheetColumns)
                cellsBeyond();
            if (passes(quint32(row), quint32(col))) {
                // a cell the part does not keep: its content is passed over unread
                const int depth = x.depth();
                for (XmlScanner::Token u; (u = x.next()) != XmlScanner::Eof;)
                    if (u == XmlScanner::End && x.depth() < depth)
                        break;
                continue;
            }
            quint64 xf = 0;
            if (!x.attribute("s", v) || !parseUInt(v, xf) || xf > 0xFFFF)
                xf = 0;
            enum { Number, Shared, Inline, Str, Boolean, Error, Date } type = Number;
            if (x.attribute("t", v)) {
                if (v == "s")
                    type = Shared;
                else if (v == "inlineStr")
                    type = Inline;
                else if (v == "str")
                    type = Str;
                else if (v == "b")
                    type = Boolean;
                else if (v == "e")
                    type = Error;
                else if (v == "d")
                    type = Date;
            }
            // the cell's content: <v>, <is> of an inline string, <f> (skipped)
            value.clear();
            inline_.clear();
            bool hasValue = false, hasInline = false;
            const int depth = x.depth();
            int vDepth = 0, tDepth = 0, skipDepth = 0;
            for (XmlScanner::Token u; (u = x.next()) != XmlScanner::Eof;) {
                if (u == XmlScanner::End) {
                    if (x.depth() < depth)
                        break;
                    if (vDepth && x.depth() < vDepth)
                        vDepth = 0;
                    if (tDepth && x.depth() < tDepth)
                        tDepth = 0;
                    if (skipDepth && x.depth() < skipDepth)
                        skipDepth = 0;
                } else if (u == XmlScanner::Start) {
                    if (x.depth() == depth + 1 && x.is("v")) {
                        vDepth = x.depth();
                        hasValue = true;
                    } else if (x.depth() == depth + 1 && x.is("is")) {
                        hasInline = true;
                    } else if (hasInline && !skipDepth && (x.is("rPh") || x.is("phoneticPr"))) {
                        skipDepth = x.depth();
                    } else if (hasInline && !skipDepth && x.is("t")) {
                        tDepth = x.depth();
                    }
                } else if (u == XmlScanner::Text) {
                    // a text grown beyond any a cell holds fails at once, not at the cell's end
                    if (vDepth) {
                        if (value.size() > maxValueBytes)
                            checkText(quint32(row), quint32(col), MaxCellText + 1);
                        else
                            x.appendText(value);
                    } else if (tDepth && !skipDepth) {
                        if (inline_.size() > maxRawText)
                            checkText(quint32(row), quint32(col), MaxCellText + 1);
                        else
                            x.appendText(inline_);
                    }
                }
            }
            const auto r32 = quint32(row), c32 = quint32(col), xf32 = quint32(xf);
            if (type == Inline || (hasInline && !hasValue)) {
                unescapeX(inline_);
                addText(r32, c32, xf32, inline_);
            } else if (!hasValue) {
                // a cell with a style and no value shows nothing
            } else if (type == Shared) {
                quint64 index;
                if (parseUInt(value, index) && index < 0xFFFFFFFFull)
                    addShared(r32, c32, xf32, quint32(index));
            } else if (type == Str) {
                QString s = QString::fromUtf8(value.data(), qsizetype(value.size()));
                unescapeX(s);
                addText(r32, c32, xf32, s);
            } else if (type == Boolean) {
                double d = 0;
                addBoolean(r32, c32, xf32, parseNumber(value, d) ? d != 0 : isTrue(value));
            } else if (type == Error) {
                const QString s = QString::fromUtf8(value.data(), qsizetype(value.size()));
                const int code = errorCode(s);
                if (code >= 0)
                    addError(r32, c32, xf32, quint8(code));
                else
                    addText(r32, c32, xf32, s);
            } else if (type == Date) {
                double serial;
                if (isoDateSerial(value, date1904(), serial))
                    addNumber(r32, c32, xf32, serial);
                else
                    addText(r32, c32, xf32, QString::fromUtf8(value.data(), qsizetype(value.size())));
            } else {
                double d;
                if (parseNumber(value, d))
                    addNumber(r32, c32, xf32, d);
                else if (!value.empty())
                    addText(r32, c32, xf32, QString::fromUtf8(value.data(), qsizetype(value.size())));
            }
            if (cellCount() > MaxSheetCells)
                cellsBeyond();
        } else if (x.is("mergeCell")) {
            const QString ref = x.attributeText("ref");
            const qsizetype colon = ref.indexOf(u':');
            quint64 r1, c1, r2, c2;
            const QByteArray a = ref.left(colon < 0 ? ref.size() : colon).toLatin1();
            const QByteArray b = colon < 0 ? a : ref.mid(colon + 1).toLatin1();
            if (cellRef(std::string_view(a.constData(), size_t(a.size())), r1, c1) &&
                cellRef(std::string_view(b.constData(), size_t(b.size())), r2, c2) && r1 < quint64(LargeSheetRows) &&
                r2 < quint64(LargeSheetRows) && c1 < quint64(LargeSheetColumns) && c2 < quint64(LargeSheetColumns))
                addMerged(quint32(std::min(r1, r2)), quint32(std::max(r1, r2)), quint32(std::min(c1, c2)),
                          quint32(std::max(c1, c2)));
        }
    }
    finish();
}

} // namespace

std::unique_ptr<Workbook> openXlsx(const ZipArchive& zip, const QLocale& locale, const Workbook::Part& part)
{
    auto book = std::make_unique<XlsxWorkbook>(zip, zip.name(), locale, part);
    book->load();
    return book;
}

std::unique_ptr<RowCursor> openXlsxRows(const QString& path, const QLocale& locale, const Workbook::Part& part)
{
    auto zip = std::make_shared<ZipArchive>(path);
    if (part.columns.empty())
        return rowsOf(openXlsx(*zip, locale, part)); // every column: the sheet whole
    auto book = std::make_unique<XlsxWorkbook>(*zip, zip->name(), locale, part);
    const XlsxWorkbook::Place place = book->locate();
    return CellSheet::streamRows(
        std::move(book), [place](CellSheet& sheet) { static_cast<XlsxWorkbook&>(sheet).read(place); }, zip, true);
}

} // namespace kalder
