// Spreadsheet number formats: a format code parsed once into sections, and the text a
// spreadsheet shows for a number, a text, a boolean or an error in that format. Decimal and
// group separators, month and day names come from the QLocale, so that the displayed text and
// the number conversion of the load agree.
#pragma once

#include <QLocale>
#include <QString>
#include <QStringView>

#include <algorithm>
#include <charconv>
#include <memory>
#include <vector>

namespace kalder {

// The output of one rendering, built in place and copied out once: a short text stays in
// the object itself.
class TextBuilder {
public:
    TextBuilder() = default;
    TextBuilder(const TextBuilder&) = delete;
    TextBuilder& operator=(const TextBuilder&) = delete;

    void add(char16_t c)
    {
        if (m_size == m_capacity) grow(1);
        m_data[m_size++] = c;
    }
    void add(QStringView s) { addUnits(s.utf16(), s.size()); }
    void addAscii(const char* p, qsizetype n)
    {
        if (m_capacity - m_size < n) grow(n);
        for (qsizetype i = 0; i < n; ++i) m_data[m_size + i] = char16_t(uchar(p[i]));
        m_size += n;
    }
    void addNumber(qint64 v, int width = 1)
    {
        if (v >= 0 && v < 100 && width <= 2) { // the day, month, hour, minute of a date
            if (v >= 10 || width == 2) add(char16_t(u'0' + v / 10));
            add(char16_t(u'0' + v % 10));
            return;
        }
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, v);
        for (qsizetype n = r.ptr - digits; n < width; ++n) add(u'0');
        addAscii(digits, r.ptr - digits);
    }
    void addRepeated(char16_t c, qsizetype n)
    {
        for (qsizetype i = 0; i < n; ++i) add(c);
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
        if (m_capacity - m_size < n) grow(n);
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

// The code of a built-in format by its index (0 to 49); the date forms (14 to 17, 22) and the
// currency ones follow the locale. An unknown index gives "General".
// Indexes 14 to 22 are the ones a spreadsheet always shows in its own locale's form.
inline bool localeBuiltinFormat(int index) { return index >= 14 && index <= 22; }
QString builtinFormatCode(int index, const QLocale& locale);

// A number shown in the General format of a column wide enough: up to 15 significant
// digits, scientific notation for very large or very small magnitudes.
QString generalText(double value, const QLocale& locale);

QString booleanText(bool value, const QLocale& locale);
// The text of a cell error code (0x07 "#DIV/0!" and so on).
QString errorText(int code, const QLocale& locale);

class NumberFormat {
public:
    explicit NumberFormat(const QString& code = QString());

    // date1904: the workbook counts dates from 1904-01-01 rather than 1900.
    QString format(double value, const QLocale& locale, bool date1904 = false) const;
    // The same into out, whose buffer is reused: rendering many cells allocates nothing.
    void format(double value, const QLocale& locale, bool date1904, QString& out) const;
    // The same into a builder, cleared first: its view() is the text, copied nowhere.
    void format(double value, const QLocale& locale, bool date1904, TextBuilder& out) const
    {
        out.clear();
        formatInto(out, value, locale, date1904);
    }
    QString formatText(const QString& text) const;
    // The number that the text format() gives reads as, when that text is a plain decimal
    // ([-]digits[<point>digits], no leading zero but a lone one before the point, in the
    // locale's signs): a reader of numbers then need not render the text. False for any
    // other text, which has to be rendered and read.
    bool plainNumber(double value, const QLocale& locale, double& out) const;
    // A text is shown as it is (no text section with literals around "@").
    bool showsTextAsIs() const { return m_textAsIs; }
    bool isDate() const;
    bool isGeneral() const { return m_general; }

    struct Token {
        // DateSep: a "/" of a date, shown as the locale's date separator
        enum Kind { Literal, Digit, Point, Group, Percent, Exponent, Slash, Text, Date, AmPm, Elapsed, GeneralNum, DateSep } kind;
        QString text; // literal text, date/time form ("yyyy", "mm", "s.00"), digit char, exponent sign
    };
    // What a section shows, found once when the code is parsed.
    enum class Shape : quint8 { Number, Date, Fraction, General, LiteralsOnly, Text };
    enum class Condition : quint8 { None, Less, LessEqual, Greater, GreaterEqual, NotEqual, Equal };
    // A numeric section split into its integer, fraction and exponent parts, with the number
    // of placeholders and the scaling of each.
    struct NumberPlan {
        std::vector<Token> intT, fracT, expT;
        bool point = false;
        bool grouping = false;
        bool intHash = false;  // an integer placeholder other than "0"
        bool anyZero = false;  // an integer placeholder "0"
        QString expSign;       // "+" or "-" after E; empty without an exponent
        int scale = 0;         // thousands divided away by trailing commas
        int percents = 0;
        int fracDigits = 0;
        int intPlaces = 0;
        int expDigits = 0;
        // The common shape: "#" then "0" placeholders with no literal among them, "0" decimals,
        // no exponent, literals only at the end; minInt is the number of "0" before the point.
        bool simple = false;
        int minInt = 0;
        QString suffix;
    };
    struct Section {
        std::vector<Token> tokens;
        bool hasCondition = false;
        double conditionValue = 0;
        bool general = false;
        Shape shape = Shape::Number;
        Condition condition = Condition::None;
        NumberPlan plan;
        int subSecondDigits = 0; // dates: ".00" after seconds
        bool ampm = false;
        bool hasDay = false;     // a day of the month: a month's name takes its genitive form
        // A locale tag ([$-409], [$€-407]): the language of month and day names and AM/PM, as
        // a Windows language identifier; 0 for the locale's own. System forms ([$-F800],
        // [$-F400]) show the locale's long date or long time instead of the section's code.
        quint16 language = 0;
        enum class System : quint8 { None, LongDate, LongTime } system = System::None;
    };

private:
    void formatInto(TextBuilder& out, double value, const QLocale& locale, bool date1904) const;
    // sign: Shown, or None when the section itself stands for the sign (a negative section,
    // a condition that only negative numbers meet); ShownUnlessZero when a value that rounds to
    // zero has no sign (a format of one section).
    enum class Sign : quint8 { None, Shown, ShownUnlessZero };
    void formatSection(TextBuilder& out, const Section& section, double value, Sign sign, const QLocale& locale,
                       bool date1904) const;
    void formatDate(TextBuilder& out, const Section& section, double value, const QLocale& locale, bool date1904) const;
    QString formatFraction(const Section& section, double value, bool withSign) const;

    std::vector<Section> m_sections;
    size_t m_numeric = 0;      // the sections for numbers, before a section for text
    int m_textSection = -1;    // the section for text: the fourth, or a last one with "@"
    bool m_general = true;
    bool m_conditional = false;
    bool m_textAsIs = true;
};

// One-off convenience: parses the code and formats the value.
QString displayText(double value, const QString& code, const QLocale& locale, bool date1904 = false);

} // namespace kalder
