// Spreadsheet number formats: a format code parsed once into sections, and the text a
// spreadsheet shows for a number, a text, a boolean or an error in that format. Decimal and
// group separators, month and day names come from the QLocale, so that the displayed text and
// the number conversion of the load agree.
#pragma once

#include <QLocale>
#include <QString>
#include <vector>

namespace kalder {

class TextBuilder;

// The code of a built-in format by its index (0 to 49); the short-date and currency ones
// follow the locale. An unknown index gives "General".
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
        enum Kind { Literal, Digit, Point, Group, Percent, Exponent, Slash, Text, Date, AmPm, Elapsed, GeneralNum } kind;
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
        bool hasDay = false;
    };

private:
    void formatInto(TextBuilder& out, double value, const QLocale& locale, bool date1904) const;
    void formatSection(TextBuilder& out, const Section& section, double value, bool withSign, const QLocale& locale,
                       bool date1904) const;
    void formatDate(TextBuilder& out, const Section& section, double value, const QLocale& locale, bool date1904) const;
    QString formatFraction(const Section& section, double value, bool withSign) const;

    std::vector<Section> m_sections;
    bool m_general = true;
    bool m_conditional = false;
    bool m_textAsIs = true;
};

// One-off convenience: parses the code and formats the value.
QString displayText(double value, const QString& code, const QLocale& locale, bool date1904 = false);

} // namespace kalder
