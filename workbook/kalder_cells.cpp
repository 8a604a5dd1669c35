// kalder-cells [--locale NAME] FILE: the displayed text of every cell of the workbook's active
// sheet as UTF-8 CSV, one line per row up to the last row that holds a cell.
#include "app/failure.h"
#include "workbook/workbook.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <string>

namespace {

// Appends UTF-16 text as UTF-8 without a temporary; a lone surrogate becomes U+FFFD.
void appendUtf8(std::string& out, QStringView text)
{
    const qsizetype n = text.size();
    const size_t start = out.size();
    out.resize(start + size_t(n) * 3); // the most a UTF-16 unit becomes
    char* d = out.data() + start;
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = text[i].unicode();
        if (c < 0x80) {
            *d++ = char(c);
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < n && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(char16_t(c), text[++i].unicode());
        } else if (QChar::isSurrogate(c)) {
            c = 0xFFFD;
        }
        if (c < 0x800) {
            *d++ = char(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            *d++ = char(0xE0 | (c >> 12));
            *d++ = char(0x80 | ((c >> 6) & 0x3F));
        } else { // two units became four bytes
            *d++ = char(0xF0 | (c >> 18));
            *d++ = char(0x80 | ((c >> 12) & 0x3F));
            *d++ = char(0x80 | ((c >> 6) & 0x3F));
        }
        *d++ = char(0x80 | (c & 0x3F));
    }
    out.resize(size_t(d - out.data()));
}

// Appends the text as one CSV field in UTF-8, quoted when it holds a comma, a quote or a
// line break.
void appendField(std::string& out, const QString& text)
{
    bool quote = false;
    for (QChar c : text)
        if (c == u',' || c == u'"' || c == u'\n' || c == u'\r') {
            quote = true;
            break;
        }
    if (!quote) {
        appendUtf8(out, text);
        return;
    }
    out += '"';
    qsizetype from = 0;
    for (qsizetype at; (at = text.indexOf(u'"', from)) >= 0; from = at + 1) {
        appendUtf8(out, QStringView(text).sliced(from, at + 1 - from));
        out += '"';
    }
    appendUtf8(out, QStringView(text).sliced(from));
    out += '"';
}

int usage()
{
    std::fputs("usage: kalder-cells [--locale NAME] FILE\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QLocale locale = QLocale::system();
    if (!args.isEmpty() && args.front() == QLatin1StringView("--locale")) {
        if (args.size() < 2) return usage();
        locale = QLocale(args[1]);
        args = args.mid(2);
    }
    if (args.size() != 1 || args.front().startsWith(QLatin1StringView("--"))) return usage();

    try {
        auto book = kalder::Workbook::open(args.front(), locale);
        std::string out;
        out.reserve(1 << 21);
        const int rows = book->lastRow();
        for (int row = 1; row <= rows; ++row) {
            const int columns = book->lastColumn(row);
            for (int col = 1; col <= columns; ++col) {
                if (col > 1) out += ',';
                appendField(out, book->cellText(row, col));
            }
            out += "\r\n";
            if (out.size() > (1 << 20)) {
                std::fwrite(out.data(), 1, size_t(out.size()), stdout);
                out.clear(); // keeps the buffer
            }
        }
        std::fwrite(out.data(), 1, size_t(out.size()), stdout);
        book->close();
    } catch (const kalder::Failure& failure) {
        std::fprintf(stderr, "%s\n", failure.text().toUtf8().constData());
        return 1;
    }
    return 0;
}
