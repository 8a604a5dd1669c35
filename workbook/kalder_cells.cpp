// kalder-cells [--locale NAME] FILE: the displayed text of every cell of the workbook's active
// sheet as UTF-8 CSV, one line per row up to the last row that holds a cell. The rows are
// rendered in blocks by as many threads as there are cores (up to four) and written in order.
#include "app/base/failure.h"
#include "workbook/readers/workbook.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// CSV text in a buffer, written as UTF-8 straight from UTF-16 text; with a file, flushed to it
// whenever the buffer fills, else kept until taken.
class Output {
public:
    explicit Output(std::FILE* file = nullptr) : m_file(file), m_buf(file ? 1 << 20 : 1 << 16) { }
    Output(Output&&) = default;
    ~Output() { flush(); }

    void add(char c)
    {
        room(1);
        m_buf[m_used++] = c;
    }
    void add(const char* text)
    {
        while (*text)
            add(*text++);
    }
    // The text as one CSV field, quoted when it holds a comma, a quote or a line break.
    void addField(QStringView text)
    {
        room(size_t(text.size()) * 3 + 2); // the most a field becomes: 3 bytes a unit, 2 quotes
        const size_t start = m_used;
        if (addUtf8(text, true))
            return;
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
        if (m_file)
            write(m_file);
    }
    void write(std::FILE* file)
    {
        std::fwrite(m_buf.data(), 1, m_used, file);
        m_used = 0;
    }
    // Every field of the rows from first to last, one line each.
    void addRows(const kalder::Workbook& book, int first, int last, QString& text)
    {
        struct Fields final : kalder::Workbook::RowReader {
            explicit Fields(Output& o) : out(o) { }
            void cell(int column, QStringView t) override
            {
                if (column > 1)
                    out.add(',');
                out.addField(t);
            }
            Output& out;
        } fields(*this);
        for (int row = first; row <= last; ++row) {
            book.readRow(row, fields, text);
            add("\r\n");
        }
    }

private:
    void room(size_t n)
    {
        if (m_buf.size() - m_used >= n)
            return;
        if (m_file)
            flush();
        if (m_buf.size() - m_used < n)
            m_buf.resize(std::max(m_used + n, m_buf.size() * 2));
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
                const __m128i ascii =
                    _mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(short(0xFF80))), _mm_setzero_si128());
                __m128i stop = _mm_xor_si128(ascii, _mm_set1_epi16(-1));
                if (stopAtSpecial) {
                    stop = _mm_or_si128(stop, _mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(',')),
                                                           _mm_cmpeq_epi16(v, _mm_set1_epi16('"'))));
                    stop = _mm_or_si128(stop, _mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16('\n')),
                                                           _mm_cmpeq_epi16(v, _mm_set1_epi16('\r'))));
                }
                if (_mm_movemask_epi8(stop) != 0)
                    break;
                _mm_storel_epi64(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(v, v));
                d += 8;
                i += 8;
            }
            if (i >= n)
                break;
#endif
            char32_t c = u[i];
            if (c < 0x80) {
                if (stopAtSpecial && special(char16_t(c)))
                    return false;
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

    std::FILE* m_file;
    std::vector<char> m_buf;
    size_t m_used = 0;
};

// The rows in blocks: each thread takes the next block and renders it into its own buffer;
// the main thread writes the finished blocks in order, and no thread runs more than a few
// blocks ahead of the writing, so that the text in memory stays small.
void writeInParallel(const kalder::Workbook& book, int rows, unsigned threads)
{
    constexpr int blockRows = 1024;
    const int blocks = (rows + blockRows - 1) / blockRows;
    const int ahead = int(threads) * 4;
    std::vector<std::optional<Output>> done(static_cast<size_t>(blocks)); // a block's text, until it is written
    std::mutex mutex;
    std::condition_variable changed;
    int next = 0, written = 0;
    std::exception_ptr failure;

    // Only the main thread writes; while it waits it writes what is finished.
    const auto writeFinished = [&](std::unique_lock<std::mutex>&) {
        bool any = false;
        for (; written < blocks && done[size_t(written)]; ++written, any = true) {
            done[size_t(written)]->write(stdout);
            done[size_t(written)].reset();
        }
        return any;
    };
    const auto work = [&](bool writer) {
        QString text;
        for (;;) {
            int block;
            {
                std::unique_lock lock(mutex);
                for (;;) {
                    if (failure || next >= blocks)
                        return;
                    if (next < written + ahead)
                        break;
                    if (writer && writeFinished(lock)) {
                        changed.notify_all();
                        continue;
                    }
                    changed.wait(lock);
                }
                block = next++;
            }
            Output out;
            try {
                out.addRows(book, block * blockRows + 1, std::min(rows, (block + 1) * blockRows), text);
            } catch (...) {
                std::lock_guard lock(mutex);
                failure = std::current_exception();
                changed.notify_all();
                return;
            }
            std::unique_lock lock(mutex);
            done[size_t(block)].emplace(std::move(out));
            if (writer)
                writeFinished(lock);
            changed.notify_all();
        }
    };
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < threads; ++i)
        helpers.emplace_back(work, false);
    work(true);
    {
        std::unique_lock lock(mutex);
        while (!failure && written < blocks) {
            if (!writeFinished(lock))
                changed.wait(lock);
        }
    }
    for (auto& t : helpers)
        t.join();
    if (failure)
        std::rethrow_exception(failure);
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
        if (args.size() < 2)
            return usage();
        locale = QLocale(args[1]);
        args = args.mid(2);
    }
    if (args.size() != 1 || args.front().startsWith(QLatin1StringView("--")))
        return usage();

    try {
        auto book = kalder::Workbook::open(args.front(), locale);
        const int rows = book->lastRow();
        const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
        if (threads > 1 && rows >= 8192) {
            writeInParallel(*book, rows, threads);
        } else {
            Output out(stdout);
            QString text;
            out.addRows(*book, 1, rows, text);
        }
        book->close();
    } catch (const kalder::Failure& failure) {
        std::fprintf(stderr, "%s\n", failure.text().toUtf8().constData());
        return 1;
    }
    return 0;
}
