// kalder-cells [--locale NAME] FILE: the displayed text of every cell of the workbook's active
// sheet as UTF-8 CSV, one line per row up to the last row that holds a cell.
#include "app/failure.h"
#include "workbook/workbook.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    // The text as one CSV field, quoted when it holds a comma, a quote or a line break.
    void addField(QStringView text)
    {
        room(size_t(text.size()) * 3 + 2); // the most a field becomes: 3 bytes a unit, 2 quotes
        const size_t start = m_used;
        if (addUtf8(text, true)) return;
        m_used = start;
        m_buf[m_used++] = '"';
        qsizetype from = 0;
        for (qsizetype at; (at = text.indexOf(u'"', from)) >= 0; from = at + 1) {
            addUtf8(text.sliced(from, at + 1 - from), false);
            m_buf[m_used++] = '"';
        }
        addUtf8(text.sliced(from), false);
        m_buf[m_used++] = '"';
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

    static bool special(char16_t c) { return c == u',' || c == u'"' || c == u'\n' || c == u'\r'; }

    // The text as UTF-8 into the room made for it; a lone surrogate becomes U+FFFD. With
    // stopAtSpecial, false as soon as a character that needs quoting comes.
    bool addUtf8(QStringView text, bool stopAtSpecial)
    {
        const qsizetype n = text.size();
        char* d = m_buf.data() + m_used;
        const char16_t* u = text.utf16();
        for (qsizetype i = 0; i < n; ++i) {
#if defined(__SSE2__)
            // a run of plain ASCII eight units at a time
            while (i + 8 <= n) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + i));
                const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(short(0xFF80))), _mm_setzero_si128());
                __m128i stop = _mm_xor_si128(ascii, _mm_set1_epi16(-1));
                if (stopAtSpecial) {
                    stop = _mm_or_si128(stop, _mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(',')), _mm_cmpeq_epi16(v, _mm_set1_epi16('"'))));
                    stop = _mm_or_si128(stop, _mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16('\n')), _mm_cmpeq_epi16(v, _mm_set1_epi16('\r'))));
                }
                if (_mm_movemask_epi8(stop) != 0) break;
                _mm_storel_epi64(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(v, v));
                d += 8;
                i += 8;
            }
            if (i >= n) break;
#endif
            char32_t c = u[i];
            if (c < 0x80) {
                if (stopAtSpecial && special(char16_t(c))) return false;
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
        return true;
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
