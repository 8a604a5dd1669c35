// The .ods reader: settings.xml names the active table, styles.xml and the automatic styles of
// content.xml give the data styles, which are translated to number-format codes so that one
// renderer shows every format's cells; the active table of content.xml is streamed into the
// cell store. Where a data style has no equivalent code, the cell's paragraph text (what the
// writing spreadsheet showed) is its displayed text.
#include "workbook/readers/cell_sheet.h"
#include "workbook/readers/readers.h"

#include "app/base/failure.h"
#include "workbook/readers/cell_values.h"
#include "workbook/readers/number_format.h"
#include "workbook/readers/xml_scanner.h"
#include "workbook/readers/zip_archive.h"

#include <QHash>

#include <map>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace kalder {

namespace {

// The longest name of a style kept: far beyond what writers give, it bounds what many styles take.
constexpr qsizetype maxStyleName = 1024;

quint64 count(const XmlScanner& x, std::string_view attr, quint64 fallback = 1)
{
    std::string_view v;
    if (!x.attribute(attr, v))
        return fallback;
    quint64 n = 0;
    size_t digits = 0;
    for (char c : v) {
        if (c < '0' || c > '9')
            return fallback;
        if (++digits > 10)
            return quint64(LargeSheetRows) * LargeSheetColumns; // clipped by the caller
        n = n * 10 + quint64(c - '0');
    }
    return digits == 0 ? fallback : n;
}

int attrInt(const XmlScanner& x, std::string_view attr, int fallback)
{
    const quint64 n = count(x, attr, quint64(fallback));
    return n > 64 ? 64 : int(n);
}

bool attrIs(const XmlScanner& x, std::string_view attr, std::string_view value)
{
    std::string_view v;
    return x.attribute(attr, v) && v == value;
}

// A literal of a format code: quoted, with a quote itself escaped.
QString literal(const QString& text)
{
    QString out;
    QString run;
    auto flush = [&] {
        if (!run.isEmpty())
            out += u'"' + run + u'"';
        run.clear();
    };
    for (QChar c : text) {
        if (c == u'"') {
            flush();
            out += u"\\\""_s;
        } else {
            run += c;
        }
    }
    flush();
    return out;
}

struct DataStyle {
    enum Kind { Number, Date, Boolean, Text } kind = Number;
    QString code;
    bool translatable = true;
    std::vector<std::pair<QString, QString>> maps; // condition, style applied
};

struct CellStyle {
    QString dataStyle;
    QString parent;
};

class OdsWorkbook final : public CellSheet {
public:
    OdsWorkbook(const ZipArchive& zip, const QLocale& locale, const Part& part)
        : CellSheet(zip.name(), locale, LargeSheetRows, LargeSheetColumns, part), m_zip(zip)
    {
    }
    void load();

private:
    struct Value {
        enum Kind { None, Number, Text, Boolean, Error } kind = None;
        double number = 0;
        QString text;
        quint32 xf = 0;
    };
    struct Entry {
        quint32 col;
        quint32 count;
        Value value;
        TextPlace text = NoText; // the kept text, once a copy shows it
    };

    // maxSize: as ZipArchive::open
    XmlScanner scanner(const QString& part, std::unique_ptr<ZipArchive::Stream>& stream, qint64 maxSize = 0) const;
    QString activeTable();
    // Reads the styles of a part; in content.xml it goes on into the body.
    void readPart(const QString& part, bool content, const QString& active);
    void readDataStyle(XmlScanner& x);
    std::optional<QString> codeOf(const QString& dataStyle, int level = 0) const;
    // The cell format index of a cell style; -1 when its data style has no equivalent code.
    int xfOf(const QString& cellStyle);
    void readTable(XmlScanner& x);
    // row and col: the first kept cell it shows, named when its text is too long
    Value readCell(XmlScanner& x, const QString& defaultStyle, quint32 row, quint32 col);
    [[noreturn]] void tooLarge() const;
    [[noreturn]] void rowsBeyond() const;

    const ZipArchive& m_zip; // only read while load() runs
    std::map<QString, DataStyle> m_dataStyles;
    std::map<QString, CellStyle> m_cellStyles;
    QString m_defaultDataStyle;
    QHash<QString, int> m_xf;
    std::vector<std::shared_ptr<NumberFormat>> m_formats{nullptr}; // 0: General
    bool m_tableRead = false;
    bool m_firstTableSeen = false;
};

XmlScanner OdsWorkbook::scanner(const QString& part, std::unique_ptr<ZipArchive::Stream>& stream, qint64 maxSize) const
{
    stream = m_zip.open(part, maxSize);
    ZipArchive::Stream* s = stream.get();
    return XmlScanner([s](char* dst, qsizetype max) { return s->read(dst, max); },
                      [this, part](const QString& what) { damaged(u"%1 (часть %2)"_s.arg(what, part)); });
}

void OdsWorkbook::rowsBeyond() const
{
    throw Failure(
        err::BookNotWorkbook,
        u"Лист книги %1 больше допустимого: в нём заполнены строки после %2-й"_s.arg(name()).arg(LargeSheetRows));
}

void OdsWorkbook::tooLarge() const
{
    throw Failure(err::BookNotWorkbook,
                  u"Лист книги %1 больше допустимого: не более %2 заполненных ячеек"_s.arg(name()).arg(MaxSheetCells));
}

QString OdsWorkbook::activeTable()
{
    if (!m_zip.has(u"settings.xml"_s))
        return {};
    std::unique_ptr<ZipArchive::Stream> stream;
    XmlScanner x = scanner(u"settings.xml"_s, stream, ZipArchive::MaxSidePart);
    for (XmlScanner::Token t; (t = x.next()) != XmlScanner::Eof;) {
        if (t == XmlScanner::Start && x.is("config-item") && attrIs(x, "name", "ActiveTable")) {
            QString name;
            const int depth = x.depth();
            for (XmlScanner::Token u; (u = x.next()) != XmlScanner::Eof;) {
                if (u == XmlScanner::Text)
                    x.appendText(name);
                else if (u == XmlScanner::End && x.depth() < depth)
                    break;
            }
            stream->finish(); // the rest is not needed, but its checksum is
            return name;
        }
    }
    return {};
}

void OdsWorkbook::readDataStyle(XmlScanner& x)
{
    DataStyle style;
    const std::string_view kind = x.name();
    if (kind == "date-style" || kind == "time-style")
        style.kind = DataStyle::Date;
    else if (kind == "boolean-style")
        style.kind = DataStyle::Boolean;
    else if (kind == "text-style")
        style.kind = DataStyle::Text;
    const bool percent = kind == "percentage-style";
    const bool elapsed = kind == "time-style" && attrIs(x, "truncate-on-overflow", "false");
    bool hoursSeen = false;
    const QString name = x.attributeText("name");
    const int depth = x.depth();
    QString& code = style.code;
    for (XmlScanner::Token t; (t = x.next()) != XmlScanner::Eof;) {
        if (t == XmlScanner::End && x.depth() < depth)
            break;
        if (t != XmlScanner::Start || x.depth() != depth + 1)
            continue;
        const bool isLong = attrIs(x, "style", "long");
        if (x.is("number")) {
            // Without decimal-places the writer's own General form is meant, whose digits depend
            // on the column: the text it showed is the cell's.
            std::string_view given;
            if (!x.attribute("decimal-places", given))
                style.translatable = false;
            const int minInt = attrInt(x, "min-integer-digits", 1);
            const int places = attrInt(x, "decimal-places", 0);
            const int minPlaces = std::min(places, attrInt(x, "min-decimal-places", places));
            QString integer = QString(std::max(minInt, 1), u'0');
            if (minInt == 0)
                integer = u"#"_s;
            if (attrIs(x, "grouping", "true"))
                integer = (integer.size() < 4 ? u"#,##"_s.left(5 - integer.size()) : u"#,"_s) + integer;
            code += integer;
            if (places > 0)
                code += u'.' + QString(minPlaces, u'0') + QString(places - minPlaces, u'#');
            std::string_view factor;
            if (x.attribute("display-factor", factor)) {
                if (factor == "1000")
                    code += u',';
                else if (factor == "1000000")
                    code += u",,"_s;
                else if (factor != "1")
                    style.translatable = false;
            }
            // texts embedded among the digits have no equivalent in a format code
            const int d = x.depth();
            for (XmlScanner::Token u; (u = x.next()) != XmlScanner::Eof;) {
                if (u == XmlScanner::End && x.depth() < d)
                    break;
                if (u == XmlScanner::Start && x.is("embedded-text"))
                    style.translatable = false;
            }
        } else if (x.is("scientific-number")) {
            const int places = attrInt(x, "decimal-places", 0);
            code += QString(std::max(attrInt(x, "min-integer-digits", 1), 1), u'0');
            if (places > 0)
                code += u'.' + QString(places, u'0');
            code += u"E+"_s + QString(std::max(attrInt(x, "min-exponent-digits", 2), 1), u'0');
        } else if (x.is("fraction")) {
            if (attrInt(x, "min-integer-digits", 0) > 0)
                code += u"# "_s;
            code += QString(std::max(attrInt(x, "min-numerator-digits", 1), 1), u'?') + u'/';
            const int denominator = x.attributeText("denominator-value").toInt();
            if (denominator > 0)
                code += QString::number(denominator);
            else
                code += QString(std::max(attrInt(x, "min-denominator-digits", 1), 1), u'?');
        } else if (x.is("text") || x.is("currency-symbol")) {
            const bool symbol = x.is("currency-symbol");
            QString text;
            const int d = x.depth();
            for (XmlScanner::Token u; (u = x.next()) != XmlScanner::Eof;) {
                if (u == XmlScanner::Text)
                    x.appendText(text);
                else if (u == XmlScanner::End && x.depth() < d)
                    break;
            }
            if (percent && !symbol && text.contains(u'%')) {
                const QStringList parts = text.split(u'%');
                for (qsizetype i = 0; i < parts.size(); ++i) {
                    if (i > 0)
                        code += u'%';
                    code += literal(parts[i]);
                }
            } else {
                code += literal(text);
            }
        } else if (x.is("text-content")) {
            code += u'@';
        } else if (x.is("day")) {
            code += isLong ? u"dd"_s : u"d"_s;
        } else if (x.is("month")) {
            if (attrIs(x, "textual", "true"))
                code += isLong ? u"mmmm"_s : u"mmm"_s;
            else
                code += isLong ? u"mm"_s : u"m"_s;
        } else if (x.is("year")) {
            code += isLong ? u"yyyy"_s : u"yy"_s;
        } else if (x.is("day-of-week")) {
            code += isLong ? u"dddd"_s : u"ddd"_s;
        } else if (x.is("hours")) {
            const QString h = isLong ? u"hh"_s : u"h"_s;
            code += elapsed && !hoursSeen ? u'[' + h + u']' : h;
            hoursSeen = true;
        } else if (x.is("minutes")) {
            code += isLong ? u"mm"_s : u"m"_s;
        } else if (x.is("seconds")) {
            code += isLong ? u"ss"_s : u"s"_s;
            const int places = attrInt(x, "decimal-places", 0);
            if (places > 0)
                code += u'.' + QString(places, u'0');
        } else if (x.is("am-pm")) {
            code += u"AM/PM"_s;
        } else if (x.is("boolean")) {
            style.kind = DataStyle::Boolean;
        } else if (x.is("map")) {
            if (style.maps.size() < 3)
                style.maps.emplace_back(x.attributeText("condition"), x.attributeText("apply-style-name"));
        } else if (x.is("text-properties") || x.is("fill-character")) {
            x.skipElement();
        } else {
            // eras, quarters, weeks of the year and the like
            style.translatable = false;
            x.skipElement();
        }
    }
    if (!name.isEmpty() && m_dataStyles.size() < 65536)
        m_dataStyles[name] = std::move(style);
}

std::optional<QString> OdsWorkbook::codeOf(const QString& dataStyle, int level) const
{
    const auto it = m_dataStyles.find(dataStyle);
    if (it == m_dataStyles.end() || !it->second.translatable || level > 1)
        return std::nullopt;
    const DataStyle& s = it->second;
    if (s.kind == DataStyle::Boolean)
        return u"General"_s;
    QString main = s.code.isEmpty() ? u"General"_s : s.code;
    if (s.maps.empty())
        return main;
    // The maps a spreadsheet writes for signed formats: the applied style shows those values,
    // this style the others, with its own sign text.
    QString positive, negative, zero;
    for (const auto& [condition, applied] : s.maps) {
        QString c = condition;
        c.remove(u' ');
        const auto code = codeOf(applied, level + 1);
        if (!code)
            return std::nullopt;
        if (c == u"value()>=0" || c == u"value()>0")
            positive = *code;
        else if (c == u"value()<0")
            negative = *code;
        else
            return std::nullopt;
        if (c == u"value()>0")
            zero = main;
    }
    if (!positive.isEmpty() && !negative.isEmpty())
        return positive + u';' + negative + u';' + (zero.isEmpty() ? main : zero);
    if (!positive.isEmpty() && zero.isEmpty())
        return positive + u';' + main;
    if (!negative.isEmpty())
        return main + u';' + negative;
    return std::nullopt;
}

int OdsWorkbook::xfOf(const QString& cellStyle)
{
    if (cellStyle.isEmpty() && m_defaultDataStyle.isEmpty())
        return 0;
    if (const auto it = m_xf.constFind(cellStyle); it != m_xf.constEnd())
        return *it;
    QString data;
    QString s = cellStyle;
    for (int level = 0; level < 8 && data.isEmpty(); ++level) {
        const auto it = m_cellStyles.find(s);
        if (it == m_cellStyles.end())
            break;
        data = it->second.dataStyle;
        s = it->second.parent;
        if (s.isEmpty())
            break;
    }
    if (data.isEmpty())
        data = m_defaultDataStyle;
    int xf = 0;
    if (!data.isEmpty()) {
        const auto code = codeOf(data);
        if (!code) {
            xf = -1;
        } else if (*code != u"General" && m_formats.size() < 0xFFFF) {
            xf = int(m_formats.size());
            m_formats.push_back(std::make_shared<NumberFormat>(*code));
        }
    }
    if (m_xf.size() < 65536)
        m_xf.insert(cellStyle, xf);
    return xf;
}

void OdsWorkbook::load()
{
    const QString active = activeTable();
    if (m_zip.has(u"styles.xml"_s))
        readPart(u"styles.xml"_s, false, active);
    if (!m_zip.has(u"content.xml"_s))
        damaged(u"нет части content.xml"_s);
    readPart(u"content.xml"_s, true, active);
    if (!m_tableRead && !m_firstTableSeen)
        damaged(u"в книге нет листов"_s);
    if (!m_tableRead) {
        // the named active table is not there: the first table is read
        m_firstTableSeen = false;
        readPart(u"content.xml"_s, true, QString());
    }
    finish();
    setCellFormats(std::move(m_formats));
}

void OdsWorkbook::readPart(const QString& part, bool content, const QString& active)
{
    std::unique_ptr<ZipArchive::Stream> stream;
    XmlScanner x = scanner(part, stream, content ? 0 : ZipArchive::MaxSidePart);
    for (XmlScanner::Token t; (t = x.next()) != XmlScanner::Eof;) {
        if (t != XmlScanner::Start)
            continue;
        const std::string_view n = x.name();
        if (n == "number-style" || n == "currency-style" || n == "percentage-style" || n == "date-style" ||
            n == "time-style" || n == "boolean-style" || n == "text-style") {
            readDataStyle(x);
        } else if (n == "style" || n == "default-style") {
            if (!attrIs(x, "family", "table-cell"))
                continue;
            if (n == "default-style") {
                m_defaultDataStyle = x.attributeText("data-style-name");
            } else if (m_cellStyles.size() < 65536 && x.attributeText("name").size() <= maxStyleName) {
                m_cellStyles[x.attributeText("name")] = {x.attributeText("data-style-name").left(maxStyleName),
                                                         x.attributeText("parent-style-name").left(maxStyleName)};
            }
        } else if (n == "null-date") {
            std::string_view v;
            if (x.attribute("date-value", v))
                setDate1904(v.starts_with("1904-01-01"));
        } else if (content && n == "table") {
            const bool first = !m_firstTableSeen;
            m_firstTableSeen = true;
            const QString tableName = x.attributeText("name");
            if (!m_tableRead && ((active.isEmpty() && first) || (!active.isEmpty() && tableName == active))) {
                readTable(x);
                m_tableRead = true;
                stream->finish(); // the tables after it are not needed, but the part's checksum is
                return;
            }
            x.skipElement();
        }
    }
}

OdsWorkbook::Value OdsWorkbook::readCell(XmlScanner& x, const QString& defaultStyle, quint32 row, quint32 col)
{
    Value v;
    const bool covered = x.is("covered-table-cell");
    QString type;
    bool error = false;
    for (const auto& a : x.attributes())
        if (a.name == "value-type") {
            if (a.value == "error")
                error = true;
            else if (type.isEmpty())
                type = QString::fromLatin1(a.value.data(), qsizetype(a.value.size()));
        }
    std::string_view raw;
    QString styleName = x.attributeText("style-name");
    if (styleName.isEmpty())
        styleName = defaultStyle;
    std::string number;
    bool hasNumber = false;
    if ((type == u"float" || type == u"percentage" || type == u"currency") && x.attribute("value", raw)) {
        hasNumber = parseNumber(raw, v.number);
    } else if (type == u"date" && x.attribute("date-value", raw)) {
        hasNumber = isoDateSerial(raw, date1904(), v.number);
    } else if (type == u"time" && x.attribute("time-value", raw)) {
        hasNumber = isoDurationDays(raw, v.number);
    }
    bool boolean = false;
    if (type == u"boolean" && x.attribute("boolean-value", raw))
        boolean = raw == "true" || raw == "1";
    QString stringValue;
    const bool hasString = x.attribute("string-value", raw);
    if (hasString)
        XmlScanner::decode(raw, stringValue, true);

    // The paragraphs shown in the cell; notes and drawings inside it are not.
    QString shown;
    int paragraphs = 0;
    const int depth = x.depth();
    int inParagraph = 0, skip = 0;
    for (XmlScanner::Token t; (t = x.next()) != XmlScanner::Eof;) {
        if (t == XmlScanner::End) {
            if (x.depth() < depth)
                break;
            if (skip && x.depth() < skip)
                skip = 0;
            if (inParagraph && x.depth() < inParagraph)
                inParagraph = 0;
            continue;
        }
        if (t == XmlScanner::Start) {
            if (skip)
                continue;
            // a text grown beyond a cell's fails at once, or, in a cell not kept, is not grown
            const bool room = shown.size() <= MaxCellText;
            if (!room)
                checkText(row, col, shown.size());
            if (x.depth() == depth + 1 && (x.is("p") || x.is("h"))) {
                if (paragraphs++ > 0 && room)
                    shown += u'\n';
                inParagraph = x.depth();
            } else if (!inParagraph || x.is("annotation") || x.is("note") || x.is("frame") || x.is("ruby-text")) {
                skip = x.depth();
            } else if (!room) {
                // nothing more is added
            } else if (x.is("s")) {
                shown += QString(int(std::min<quint64>(count(x, "c"), 1024)), u' ');
            } else if (x.is("tab")) {
                shown += u'\t';
            } else if (x.is("line-break")) {
                shown += u'\n';
            }
            continue;
        }
        if (t == XmlScanner::Text && inParagraph && !skip) {
            if (shown.size() > MaxCellText)
                checkText(row, col, shown.size());
            else
                x.appendText(shown);
        }
    }
    if (covered)
        return v; // hidden by the merged area that covers it

    const int xf = xfOf(styleName);
    if (error) {
        const int code = errorCode(shown);
        v.kind = code >= 0 ? Value::Error : Value::Text;
        v.number = code;
        v.text = shown;
        return v;
    }
    if (hasNumber) {
        // a style without an equivalent code, or a date, time, percentage or currency without a
        // style, shows the text the writer showed; without one the number shows in General
        if (!shown.isEmpty() && (xf < 0 || (xf == 0 && type != u"float"))) {
            v.kind = Value::Text;
            v.text = shown;
        } else {
            v.kind = Value::Number;
            v.xf = quint32(std::max(xf, 0));
        }
        return v;
    }
    if (type == u"boolean") {
        v.kind = Value::Boolean;
        v.number = boolean ? 1 : 0;
        return v;
    }
    v.text = hasString ? stringValue : shown;
    if (!v.text.isEmpty()) {
        v.kind = Value::Text;
        v.xf = xf > 0 ? quint32(xf) : 0;
    }
    return v;
}

void OdsWorkbook::readTable(XmlScanner& x)
{
    const int depth = x.depth();
    std::vector<std::pair<quint32, QString>> columnStyles; // first column of a run, its default style
    quint32 columns = 0;
    quint64 row = 0;
    std::vector<Entry> entries;
    auto columnStyle = [&](quint64 col) -> QString {
        auto it = std::upper_bound(columnStyles.begin(), columnStyles.end(), col,
                                   [](quint64 c, const std::pair<quint32, QString>& r) { return c < r.first; });
        return it == columnStyles.begin() ? QString() : std::prev(it)->second;
    };
    for (XmlScanner::Token t; (t = x.next()) != XmlScanner::Eof;) {
        if (t == XmlScanner::End && x.depth() < depth)
            break;
        if (t != XmlScanner::Start)
            continue;
        if (x.is("table-column")) {
            const quint64 n = count(x, "number-columns-repeated");
            if (columns < quint32(LargeSheetColumns))
                columnStyles.emplace_back(columns, x.attributeText("default-cell-style-name"));
            columns = quint32(std::min<quint64>(quint64(columns) + n, quint64(LargeSheetColumns)));
        } else if (x.is("table-row")) {
            if (row >= keptRows() && keptRows() < quint32(LargeSheetRows)) { // the rows after those kept are not read
                x.skipElement();
                continue;
            }
            const quint64 repeat = count(x, "number-rows-repeated");
            const QString rowStyle = x.attributeText("default-cell-style-name");
            const int rowDepth = x.depth();
            entries.clear();
            quint64 col = 0;
            for (XmlScanner::Token u; (u = x.next()) != XmlScanner::Eof;) {
                if (u == XmlScanner::End && x.depth() < rowDepth)
                    break;
                if (u != XmlScanner::Start)
                    continue;
                if (!x.is("table-cell") && !x.is("covered-table-cell")) {
                    x.skipElement();
                    continue;
                }
                const quint64 n = std::max<quint64>(count(x, "number-columns-repeated"), 1);
                const quint64 spanCols = count(x, "number-columns-spanned"), spanRows = count(x, "number-rows-spanned");
                if ((spanCols > 1 || spanRows > 1) && row < quint64(LargeSheetRows) && col < quint64(LargeSheetColumns))
                    addMerged(quint32(row), quint32(std::min<quint64>(row + spanRows - 1, LargeSheetRows - 1)),
                              quint32(col), quint32(std::min<quint64>(col + spanCols - 1, LargeSheetColumns - 1)));
                const quint64 end = std::min<quint64>(col + n, LargeSheetColumns);
                if (col >= end || nextKeptColumn(quint32(col)) >= end) { // no column of it is kept
                    x.skipElement();
                    col += n;
                    continue;
                }
                Value v = readCell(x, rowStyle.isEmpty() ? columnStyle(col) : rowStyle, quint32(row),
                                   nextKeptColumn(quint32(col)));
                if (v.kind != Value::None)
                    entries.push_back({quint32(col), quint32(end - col), std::move(v)});
                col += n;
            }
            // Filled rows past the sheet's last row are more than a workbook holds, as cells
            // past it are in an .xlsx; empty ones, which writers repeat up to it, are not.
            if (!entries.empty() && row + repeat > quint64(LargeSheetRows))
                rowsBeyond();
            // The copies of a repeated row are made only in the rows and columns kept, each
            // text kept once for all of them; they are refused before they are made when they
            // would be too many.
            const quint64 first = row;
            const quint64 copies = row < keptRows() ? std::min<quint64>(repeat, keptRows() - row) : 0;
            row = std::min<quint64>(row + repeat, quint64(LargeSheetRows));
            quint64 perRow = 0;
            for (const Entry& e : entries)
                for (quint32 c = nextKeptColumn(e.col); c < e.col + e.count; c = nextKeptColumn(c + 1))
                    ++perRow;
            if (quint64(cellCount()) + perRow * copies > quint64(MaxSheetCells))
                tooLarge();
            for (quint64 r = first; r < first + copies && perRow > 0; ++r) {
                for (Entry& e : entries) {
                    const Value& v = e.value;
                    for (quint32 c = nextKeptColumn(e.col); c < e.col + e.count; c = nextKeptColumn(c + 1)) {
                        switch (v.kind) {
                        case Value::Number:
                            addNumber(quint32(r), c, v.xf, v.number);
                            break;
                        case Value::Text:
                            if (e.text == NoText)
                                e.text = addText(quint32(r), c, v.xf, v.text);
                            else
                                addTextAgain(quint32(r), c, v.xf, e.text);
                            break;
                        case Value::Boolean:
                            addBoolean(quint32(r), c, 0, v.number != 0);
                            break;
                        case Value::Error:
                            addError(quint32(r), c, 0, quint8(v.number));
                            break;
                        default:
                            break;
                        }
                    }
                }
            }
        }
    }
}

} // namespace

std::unique_ptr<Workbook> openOds(const ZipArchive& zip, const QLocale& locale, const Workbook::Part& part)
{
    auto book = std::make_unique<OdsWorkbook>(zip, locale, part);
    book->load();
    return book;
}

} // namespace kalder
