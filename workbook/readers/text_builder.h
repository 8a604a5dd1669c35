// The output of a rendering: a text built in place, kept in the object itself while it is short.
// The renderer of number formats writes into it, and a reader of many cells reuses one.
#pragma once

#include <QString>
#include <QStringView>

#include <algorithm>
#include <charconv>
#include <memory>

namespace kalder {

class TextBuilder {
public:
    TextBuilder() = default;
    TextBuilder(const TextBuilder&) = delete;
    TextBuilder& operator=(const TextBuilder&) = delete;

    void add(char16_t c)
    {
        if (m_size == m_capacity)
            grow(1);
        m_data[m_size++] = c;
    }
    void add(QStringView s) { addUnits(s.utf16(), s.size()); }
    void addAscii(const char* p, qsizetype n)
    {
        if (m_capacity - m_size < n)
            grow(n);
        for (qsizetype i = 0; i < n; ++i)
            m_data[m_size + i] = char16_t(uchar(p[i]));
        m_size += n;
    }
    void addNumber(qint64 v, int width = 1)
    {
        if (v >= 0 && v < 100 && width <= 2) { // the day, month, hour, minute of a date
            if (v >= 10 || width == 2)
                add(char16_t(u'0' + v / 10));
            add(char16_t(u'0' + v % 10));
            return;
        }
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, v);
        for (qsizetype n = r.ptr - digits; n < width; ++n)
            add(u'0');
        addAscii(digits, r.ptr - digits);
    }
    void addRepeated(char16_t c, qsizetype n)
    {
        for (qsizetype i = 0; i < n; ++i)
            add(c);
    }
    void clear() { m_size = 0; }
    QStringView view() const { return QStringView(m_data, m_size); }
    QString take() const { return view().toString(); }
    // Copies the text into out; out's buffer is kept when it is large enough.
    void copyTo(QString& out) const
    {
        out.resize(m_size);
        std::copy_n(m_data, m_size, reinterpret_cast<char16_t*>(out.data()));
    }

private:
    void addUnits(const char16_t* p, qsizetype n)
    {
        if (m_capacity - m_size < n)
            grow(n);
        std::copy_n(p, n, m_data + m_size);
        m_size += n;
    }
    Q_NEVER_INLINE void grow(qsizetype more)
    {
        const qsizetype capacity = std::max(m_capacity * 2, m_size + more);
        auto bigger = std::make_unique<char16_t[]>(size_t(capacity));
        std::copy_n(m_data, m_size, bigger.get());
        m_heap = std::move(bigger);
        m_data = m_heap.get();
        m_capacity = capacity;
    }

    char16_t m_local[96];
    char16_t* m_data = m_local;
    qsizetype m_size = 0;
    qsizetype m_capacity = 96;
    std::unique_ptr<char16_t[]> m_heap;
};

} // namespace kalder
