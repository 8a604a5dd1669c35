// kalder-cells [--locale NAME] FILE: the displayed text of every cell of the workbook's active
// sheet as UTF-8 CSV, one line per row up to the last row that holds a cell.
#include "app/failure.h"
#include "workbook/workbook.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Standard output through a large buffer, written as UTF-8 straight from UTF-16 text.
class Output {
public:
    Output() : m_buf(1 << 20) {}
    ~Output() { flush(); }

    void add(char c)
    {
        room(1);
        m_buf[m_used++] = c;
    }
    void add(const char* text)
    {
        while (*text) add(*text++);
    }
    // A lone surrogate becomes U+FFFD.
    void addUtf8(QStringView text)
    {
        const qsizetype n = text.size();
        room(size_t(n) * 3); // the most a UTF-16 unit becomes
        char* d = m_buf.data() + m_used;
        const char16_t* u = text.utf16();
        for (qsizetype i = 0; i < n; ++i) {
            // a run of ASCII four units at a time
            while (i + 4 <= n) {
                quint64 four;
                std::memcpy(&four, u + i, sizeof four);
                if (four & 0xFF80FF80FF80FF80u) break;
                d[0] = char(u[i]);
                d[1] = char(u[i + 1]);
                d[2] = char(u[i + 2]);
                d[3] = char(u[i + 3]);
                d += 4;
                i += 4;
            }
            if (i >= n) break;
            char32_t c = u[i];
            if (c < 0x80) {
                *d++ = char(c);
                continue;
            }
            if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(u[i + 1])) {
                c = QChar::surrogateToUcs4(char16_t(c), u[++i]);
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
        m_used = size_t(d - m_buf.data());
    }
    // The text as one CSV field, quoted when it holds a comma, a quote or a line break.
    void addField(QStringView text)
    {
        bool quote = false;
        for (QChar c : text)
            if (c == u',' || c == u'"' || c == u'\n' || c == u'\r') {
                quote = true;
                break;
            }
        if (!quote) {
            addUtf8(text);
            return;
        }
        add('"');
        qsizetype from = 0;
        for (qsizetype at; (at = text.indexOf(u'"', from)) >= 0; from = at + 1) {
            addUtf8(text.sliced(from, at + 1 - from));
            add('"');
        }
        addUtf8(text.sliced(from));
        add('"');
    }
    void flush()
    {
        std::fwrite(m_buf.data(), 1, m_used, stdout);
        m_used = 0;
    }

private:
    void room(size_t n)
    {
        if (m_buf.size() - m_used >= n) return;
        flush();
        if (m_buf.size() < n) m_buf.resize(n);
    }

    std::vector<char> m_buf;
    size_t m_used = 0;
};

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
        Output out;
        QString text;
        const int rows = book->lastRow();
        for (int row = 1; row <= rows; ++row) {
            const int columns = book->lastColumn(row);
            for (int col = 1; col <= columns; ++col) {
                if (col > 1) out.add(',');
                book->cellText(row, col, text);
                out.addField(text);
            }
            out.add("\r\n");
        }
        book->close();
    } catch (const kalder::Failure& failure) {
        std::fprintf(stderr, "%s\n", failure.text().toUtf8().constData());
        return 1;
    }
    return 0;
}
