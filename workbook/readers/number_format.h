// Spreadsheet number formats: a format code parsed once into sections, and the text a
// spreadsheet shows for a number, a text, a boolean or an error in that format. Decimal and
// group separators, month and day names come from the QLocale, so that the displayed text and
// the number conversion of the load agree.
#pragma once

#include "workbook/readers/text_builder.h"

#include <QLocale>
#include <QString>

#include <vector>

namespace kalder {

namespace numfmt {
struct Section; // a parsed section of a code: the renderer's own, in number_format_parts.h
}

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
    // Out of line: the sections are complete only where the renderer is.
    ~NumberFormat();
    NumberFormat(const NumberFormat&);
    NumberFormat(NumberFormat&&) noexcept;
    NumberFormat& operator=(const NumberFormat&);
    NumberFormat& operator=(NumberFormat&&) noexcept;

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

private:
    void formatInto(TextBuilder& out, double value, const QLocale& locale, bool date1904) const;
    std::vector<numfmt::Section> m_sections;
    size_t m_numeric = 0; // the sections for numbers, before a section for text
    int m_textSection = -1; // the section for text: the fourth, or a last one with "@"
    bool m_general = true;
    bool m_conditional = false;
    bool m_textAsIs = true;
};

// One-off convenience: parses the code and formats the value.
QString displayText(double value, const QString& code, const QLocale& locale, bool date1904 = false);

} // namespace kalder
