// The parts of the number-format renderer, shared by its own files and by nothing else: a
// format code parsed into sections (format_code.cpp), what the locale gives them
// (format_locale.cpp), the decimal digits of a value rounded as a spreadsheet rounds them
// (decimal_rounding.cpp), serial dates (serial_date.cpp), and the rendering of a section
// (number_format.cpp). The public face is number_format.h.
#pragma once

#include "workbook/readers/number_format.h"

#include <QVarLengthArray>

#include <array>
#include <cmath>
#include <optional>
#include <vector>

namespace kalder::numfmt {

// ---------------------------------------------------------------- a parsed code

struct Token {
    // DateSep: a "/" of a date, shown as the locale's date separator
    enum Kind {
        Literal,
        Digit,
        Point,
        Group,
        Percent,
        Exponent,
        Slash,
        Text,
        Date,
        AmPm,
        Elapsed,
        GeneralNum,
        DateSep
    } kind;
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
    bool intHash = false; // an integer placeholder other than "0"
    bool anyZero = false; // an integer placeholder "0"
    QString expSign; // "+" or "-" after E; empty without an exponent
    int scale = 0; // thousands divided away by trailing commas
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
    bool hasDay = false; // a day of the month: a month's name takes its genitive form
    // A locale tag ([$-409], [$€-407]): the language of month and day names and AM/PM, as
    // a Windows language identifier; 0 for the locale's own. System forms ([$-F800],
    // [$-F400]) show the locale's long date or long time instead of the section's code.
    quint16 language = 0;
    enum class System : quint8 { None, LongDate, LongTime } system = System::None;
};

// The sections of a code, at most four, each classified and with the language tag of the
// first where it has none of its own; none for "General" or an empty code.
std::vector<Section> parseSections(const QString& code);

// ---------------------------------------------------------------- the locale's texts

bool isRussian(const QLocale& locale);
bool isEnglishUs(const QLocale& locale);

// The locale's short date, long date and long time as format codes.
QString shortDateCode(const QLocale& locale);
QString longDateCode(const QLocale& locale);
QString longTimeCode(const QLocale& locale);

// The separators of the locale last asked for, so that rendering many cells does not look
// them up for each one.
struct LocaleTexts {
    QLocale locale;
    QString decimalPoint, groupSeparator, negativeSign;
    QString dateSeparator; // what a "/" of a date shows: "." for Russian
    bool plainSigns = false; // a minus "-" and a decimal point of one character
};
const LocaleTexts& localeTexts(const QLocale& locale);

// The names a date shows in one language: months (standing alone and after a day, in the
// genitive where the language has one), their abbreviations, weekdays from Monday, AM and PM.
struct DateNames {
    std::array<QString, 12> months, genitive, shortMonths;
    std::array<QString, 7> days, shortDays;
    QString am = QStringLiteral("AM"), pm = QStringLiteral("PM");
};
// The names of a format's language (a Windows language identifier), else the locale's.
const DateNames& dateNames(quint16 languageId, const QLocale& locale);

// ---------------------------------------------------------------- decimal digits

// Digits of a non-negative finite value with the given number of decimals, as a spreadsheet
// shows them: the value is first taken to its 15 significant digits (the decimal the program
// keeps of a double), and that decimal is rounded to the places shown, a half away from zero.
// So 2.675, whose double lies just below it, shows "2.68" with two decimals, and a whole
// number of 17 digits shows its first 15 and zeros.
using Digits = QVarLengthArray<char, 128>;

// The powers of ten a double holds exactly.
inline constexpr double powersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The one rounding of the renderer: an integer part and the fraction beyond it (0 <= rest < 1)
// to the nearest integer, a half up (the values rounded here are never negative, so a half
// goes away from zero). A fraction computed in doubles may lie a little off the exact one:
// within doubt of one half it cannot tell which way the exact value goes, and nothing is
// returned, for the caller to take the exact decimal way. A doubt of 0 trusts the fraction.
inline std::optional<qint64> roundHalfUp(qint64 whole, double rest, double doubt = 0)
{
    if (doubt > 0 && std::fabs(rest - 0.5) <= doubt)
        return std::nullopt;
    return whole + (rest >= 0.5 ? 1 : 0);
}

// Most values with up to 22 decimals: the value scaled to an integer of the last place, when
// that cannot round otherwise than the 15-digit decimal does. Below 2^43 the scaled double lies
// within 2^-10 of the exact product and the 15-digit decimal within 0.005 of it (in units of the
// last place), so a fraction farther than 2^-4 from one half rounds the same way. False for the
// others (whole numbers among them), which take the decimal way.
inline bool scaledDigits(double a, int decimals, qint64& v)
{
    if (decimals > 22)
        return false;
    const double m = a * powersOfTen[decimals];
    if (!(m < 8796093022208.0))
        return false; // 2^43
    const double whole = std::floor(m);
    const auto rounded = roundHalfUp(qint64(whole), m - whole, 0.0625);
    if (!rounded)
        return false;
    v = *rounded;
    return true;
}

// The first 15 significant digits of a positive finite double, correctly rounded, and the power
// of ten of the first: 2.675 is "267500000000000" with exponent 0.
struct Significant {
    char digits[15];
    int exponent;
};
Significant significant15(double a);

// The digits of the decimal times 10^shift with the given number of decimals, rounded a half
// away from zero.
void roundedDigits(const Significant& s, int shift, int decimals, Digits& out);

// The digits of a non-negative finite value with the given number of decimals and the point
// before them, as described at Digits.
void fixedDigits(double a, int decimals, Digits& out);

// ---------------------------------------------------------------- rendering

// A negative number's sign: Shown, or None when the section itself stands for the sign (a
// negative section, a condition that only negative numbers meet); ShownUnlessZero when a value
// that rounds to zero has no sign (a format of one section).
enum class Sign : quint8 { None, Shown, ShownUnlessZero };

// A number in the General format, appended to out.
void appendGeneral(TextBuilder& out, double value, const QLocale& locale);

// A value in a date section (serial_date.cpp): days since the workbook's epoch, the time of
// day as their fraction.
void renderDate(TextBuilder& out, const Section& section, double value, const QLocale& locale, bool date1904);

} // namespace kalder::numfmt
