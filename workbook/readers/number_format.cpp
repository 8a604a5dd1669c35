#include "workbook/readers/number_format.h"

#include <QVarLengthArray>

#include <array>
#include <map>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace kalder {

namespace {

bool isRussian(const QLocale& locale) { return locale.language() == QLocale::Russian; }

bool isEnglishUs(const QLocale& locale)
{
    return locale.language() == QLocale::C ||
           (locale.language() == QLocale::English && locale.territory() == QLocale::UnitedStates);
}

// A date or time pattern of the locale (Qt's letters: d M y H h m s ap t) as a spreadsheet
// format code; the time zone is left out, other text kept as literals.
QString codeOfPattern(const QString& pattern)
{
    QString out;
    const auto literal = [&](QChar c) {
        if (!QStringView(u" .,-:").contains(c)) out += u'\\';
        out += c;
    };
    bool twelveHours = false, ampm = false;
    const qsizetype n = pattern.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = pattern[i];
        const char16_t u = c.unicode();
        if (u == u'\'') { // 'text', in which '' is a quote; '' alone is one too
            qsizetype k = i + 1;
            if (k < n && pattern[k] == u'\'') {
                literal(c);
                i = k + 1;
                continue;
            }
            for (; k < n; ++k) {
                if (pattern[k] != u'\'') literal(pattern[k]);
                else if (k + 1 < n && pattern[k + 1] == u'\'') literal(pattern[++k]);
                else break;
            }
            i = k + 1;
            continue;
        }
        qsizetype run = 1;
        while (i + run < n && pattern[i + run] == c) ++run;
        if (u == u'a' || u == u'A') {
            out += u"AM/PM"_s;
            ampm = true;
            run = i + 1 < n && (pattern[i + 1] == u'p' || pattern[i + 1] == u'P') ? 2 : 1;
        } else if (u == u'd' || u == u'y' || u == u'm' || u == u's') {
            out += QString(run, c);
        } else if (u == u'M') {
            out += QString(run, u'm');
        } else if (u == u'H' || u == u'h') {
            out += QString(std::min<qsizetype>(run, 2), u'h');
            twelveHours = twelveHours || u == u'h';
        } else if (u != u't' && u != u'z') { // no time zone or milliseconds in a spreadsheet's forms
            for (qsizetype k = 0; k < run; ++k) literal(c);
        }
        i += run;
    }
    if (twelveHours && !ampm) out += u" AM/PM"_s;
    return out.trimmed();
}

// The locale's short date as a spreadsheet format code ("dd.mm.yyyy", "m/d/yyyy").
QString shortDateCode(const QLocale& locale)
{
    if (isEnglishUs(locale)) return u"m/d/yyyy"_s;
    const QString code = codeOfPattern(locale.dateFormat(QLocale::ShortFormat));
    return code.isEmpty() ? u"m/d/yyyy"_s : code;
}

// The locale's long date and long time, as its system shows them ([$-F800], [$-F400]).
QString longDateCode(const QLocale& locale)
{
    if (isEnglishUs(locale)) return u"dddd, mmmm d, yyyy"_s;
    if (isRussian(locale)) return u"d mmmm yyyy \"г.\""_s;
    return codeOfPattern(locale.dateFormat(QLocale::LongFormat));
}

QString longTimeCode(const QLocale& locale)
{
    if (isEnglishUs(locale)) return u"h:mm:ss AM/PM"_s;
    if (isRussian(locale)) return u"h:mm:ss"_s;
    return codeOfPattern(locale.timeFormat(QLocale::LongFormat));
}

bool startsWithCi(const QString& s, qsizetype at, QLatin1StringView what)
{
    return s.mid(at, what.size()).compare(what, Qt::CaseInsensitive) == 0;
}

using Token = NumberFormat::Token;
using Section = NumberFormat::Section;

Section parseSection(const QString& code)
{
    Section sec;
    auto literal = [&](const QString& t) {
        if (!sec.tokens.empty() && sec.tokens.back().kind == Token::Literal) sec.tokens.back().text += t;
        else sec.tokens.push_back({Token::Literal, t});
    };
    const qsizetype n = code.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = code[i];
        const char16_t u = c.unicode();
        if (u == u'"') {
            qsizetype end = code.indexOf(u'"', i + 1);
            if (end < 0) end = n;
            literal(code.mid(i + 1, end - i - 1));
            i = end;
        } else if (u == u'\\') {
            if (i + 1 < n) literal(code.mid(++i, 1));
        } else if (u == u'_') {
            if (i + 1 < n) ++i;
            literal(u" "_s);
        } else if (u == u'*') {
            if (i + 1 < n) ++i; // fill character: dropped
        } else if (u == u'[') {
            qsizetype end = code.indexOf(u']', i + 1);
            if (end < 0) end = n;
            const QString inner = code.mid(i + 1, end - i - 1);
            i = end;
            if (inner.startsWith(u'$')) {
                // [$symbol-language]: the symbol is shown, the language names months and days
                const qsizetype dash = inner.indexOf(u'-');
                literal(inner.mid(1, dash < 0 ? -1 : dash - 1));
                const QString tag = dash < 0 ? QString() : inner.mid(dash + 1).trimmed();
                bool ok = false;
                const uint id = tag.toUInt(&ok, 16); // calendar and numerals above the language
                if (tag.compare(u"x-sysdate", Qt::CaseInsensitive) == 0 || (ok && (id & 0xFFFF) == 0xF800))
                    sec.system = Section::System::LongDate;
                else if (tag.compare(u"x-systime", Qt::CaseInsensitive) == 0 || (ok && (id & 0xFFFF) == 0xF400))
                    sec.system = Section::System::LongTime;
                else if (ok && (id & 0xFFFF) != 0)
                    sec.language = quint16(id & 0xFFFF);
            } else if (!inner.isEmpty() && (inner[0] == u'<' || inner[0] == u'>' || inner[0] == u'=')) {
                qsizetype k = 0;
                while (k < inner.size() && (inner[k] == u'<' || inner[k] == u'>' || inner[k] == u'=')) ++k;
                bool ok = false;
                const double v = inner.mid(k).trimmed().toDouble(&ok);
                if (ok) {
                    using C = NumberFormat::Condition;
                    const QStringView op = QStringView(inner).left(k);
                    sec.hasCondition = true;
                    sec.condition = op == u"<" ? C::Less : op == u"<=" ? C::LessEqual : op == u">" ? C::Greater
                                  : op == u">=" ? C::GreaterEqual : op == u"<>" ? C::NotEqual : C::Equal;
                    sec.conditionValue = v;
                }
            } else {
                const QString low = inner.toLower();
                if (!low.isEmpty() && (low.count(u'h') == low.size() || low.count(u'm') == low.size() || low.count(u's') == low.size()))
                    sec.tokens.push_back({Token::Elapsed, low});
                // anything else is a colour or a locale tag: ignored
            }
        } else if (u == u'0' || u == u'#' || u == u'?') {
            sec.tokens.push_back({Token::Digit, QString(c)});
        } else if (u == u'.') {
            sec.tokens.push_back({Token::Point, {}});
        } else if (u == u',') {
            sec.tokens.push_back({Token::Group, {}});
        } else if (u == u'%') {
            sec.tokens.push_back({Token::Percent, {}});
        } else if ((u == u'E' || u == u'e') && i + 1 < n && (code[i + 1] == u'+' || code[i + 1] == u'-')) {
            sec.tokens.push_back({Token::Exponent, code.mid(++i, 1)});
        } else if (u == u'/') {
            sec.tokens.push_back({Token::Slash, {}});
        } else if (u == u'@') {
            sec.tokens.push_back({Token::Text, {}});
        } else if (startsWithCi(code, i, QLatin1StringView("AM/PM"))) {
            sec.tokens.push_back({Token::AmPm, code.mid(i, 5)});
            i += 4;
        } else if (startsWithCi(code, i, QLatin1StringView("A/P"))) {
            sec.tokens.push_back({Token::AmPm, code.mid(i, 3)});
            i += 2;
        } else if (startsWithCi(code, i, QLatin1StringView("General"))) {
            sec.tokens.push_back({Token::GeneralNum, {}});
            sec.general = true;
            i += 6;
        } else if (QStringView(u"yYdDmMhHsS").contains(c)) {
            const QChar low = c.toLower();
            qsizetype k = i;
            while (k < n && code[k].toLower() == low) ++k;
            sec.tokens.push_back({Token::Date, QString(k - i, low)});
            i = k - 1;
        } else if (u == u'g' || u == u'G' || u == u'b' || u == u'B' || u == u'e') {
            // era forms: not shown
        } else {
            literal(QString(c));
        }
    }

    bool date = false;
    for (const Token& t : sec.tokens)
        if (t.kind == Token::Date || t.kind == Token::AmPm || t.kind == Token::Elapsed) date = true;
    if (!date) return sec;

    // In a date section, digits and separators are literals except ".0" after seconds,
    // and "m" next to hours or seconds is minutes.
    std::vector<Token> out;
    for (size_t i = 0; i < sec.tokens.size(); ++i) {
        Token t = sec.tokens[i];
        if (t.kind == Token::Point && i + 1 < sec.tokens.size() && sec.tokens[i + 1].kind == Token::Digit && sec.tokens[i + 1].text == u"0") {
            QString f = u"."_s;
            while (i + 1 < sec.tokens.size() && sec.tokens[i + 1].kind == Token::Digit && sec.tokens[i + 1].text == u"0" && f.size() < 4) {
                f += u'0';
                ++i;
            }
            out.push_back({Token::Date, f});
            continue;
        }
        if (t.kind == Token::Point) t = {Token::Literal, u"."_s};
        else if (t.kind == Token::Slash) t = {Token::DateSep, {}}; // an escaped or quoted "/" stays one
        else if (t.kind == Token::Group) t = {Token::Literal, u","_s};
        else if (t.kind == Token::Percent) t = {Token::Literal, u"%"_s};
        else if (t.kind == Token::Digit || t.kind == Token::Exponent) t = {Token::Literal, t.text};
        if (t.kind == Token::Literal && !out.empty() && out.back().kind == Token::Literal) out.back().text += t.text;
        else out.push_back(t);
    }
    for (size_t i = 0; i < out.size(); ++i) {
        Token& t = out[i];
        if (t.kind != Token::Date || t.text[0] != u'm' || t.text.size() > 2) continue;
        bool minute = false;
        for (size_t k = i; k-- > 0;) {
            if (out[k].kind == Token::Date || out[k].kind == Token::Elapsed) {
                minute = out[k].text[0] == u'h';
                break;
            }
        }
        for (size_t k = i + 1; !minute && k < out.size(); ++k) {
            if (out[k].kind == Token::Date || out[k].kind == Token::Elapsed) {
                minute = out[k].text[0] == u's';
                break;
            }
        }
        if (minute) t.text = QString(t.text.size(), u'n');
    }
    sec.tokens = std::move(out);
    return sec;
}

bool hasKind(const Section& s, Token::Kind k)
{
    for (const Token& t : s.tokens)
        if (t.kind == k) return true;
    return false;
}

bool isDateSection(const Section& s)
{
    return hasKind(s, Token::Date) || hasKind(s, Token::AmPm) || hasKind(s, Token::Elapsed);
}

bool isTextSection(const Section& s)
{
    return hasKind(s, Token::Text) && !hasKind(s, Token::Digit) && !isDateSection(s) && !s.general;
}

} // namespace


namespace {

using Builder = TextBuilder;

// The separators of the locale last asked for, so that rendering many cells does not look
// them up for each one.
struct LocaleTexts {
    QLocale locale;
    QString decimalPoint, groupSeparator, negativeSign;
    QString dateSeparator;   // what a "/" of a date shows: "." for Russian
    bool plainSigns = false; // a minus "-" and a decimal point of one character
};

// The separator of the locale's short date: its first sign that is no letter, space or quote.
QString dateSeparatorOf(const QLocale& locale)
{
    if (isEnglishUs(locale)) return u"/"_s;
    bool quoted = false;
    for (QChar c : locale.dateFormat(QLocale::ShortFormat)) {
        if (c == u'\'') quoted = !quoted;
        else if (!quoted && !c.isLetter() && !c.isSpace()) return QString(c);
    }
    return u"/"_s;
}

const LocaleTexts& localeTexts(const QLocale& locale)
{
    thread_local std::optional<LocaleTexts> last;
    if (!last || !(last->locale == locale)) {
        last = LocaleTexts{locale, locale.decimalPoint(), locale.groupSeparator(), locale.negativeSign(), dateSeparatorOf(locale)};
        last->plainSigns = last->negativeSign == u"-" && last->decimalPoint.size() == 1;
    }
    return *last;
}

// The names a date shows in one language: months (standing alone and after a day, in the
// genitive where the language has one), their abbreviations, weekdays from Monday, AM and PM.
struct DateNames {
    std::array<QString, 12> months, genitive, shortMonths;
    std::array<QString, 7> days, shortDays;
    QString am = u"AM"_s, pm = u"PM"_s;
};

// The language of a Windows language identifier, by its primary language (the low ten bits).
QLocale::Language languageOfId(quint16 id)
{
    static constexpr std::pair<quint16, QLocale::Language> languages[] = {
        {0x01, QLocale::Arabic},    {0x02, QLocale::Bulgarian},  {0x03, QLocale::Catalan},    {0x04, QLocale::Chinese},
        {0x05, QLocale::Czech},     {0x06, QLocale::Danish},     {0x07, QLocale::German},     {0x08, QLocale::Greek},
        {0x09, QLocale::English},   {0x0A, QLocale::Spanish},    {0x0B, QLocale::Finnish},    {0x0C, QLocale::French},
        {0x0D, QLocale::Hebrew},    {0x0E, QLocale::Hungarian},  {0x0F, QLocale::Icelandic},  {0x10, QLocale::Italian},
        {0x11, QLocale::Japanese},  {0x12, QLocale::Korean},     {0x13, QLocale::Dutch},      {0x14, QLocale::NorwegianBokmal},
        {0x15, QLocale::Polish},    {0x16, QLocale::Portuguese}, {0x18, QLocale::Romanian},   {0x19, QLocale::Russian},
        {0x1A, QLocale::Croatian},  {0x1B, QLocale::Slovak},     {0x1C, QLocale::Albanian},   {0x1D, QLocale::Swedish},
        {0x1E, QLocale::Thai},      {0x1F, QLocale::Turkish},    {0x22, QLocale::Ukrainian},  {0x23, QLocale::Belarusian},
        {0x24, QLocale::Slovenian}, {0x25, QLocale::Estonian},   {0x26, QLocale::Latvian},    {0x27, QLocale::Lithuanian},
        {0x2A, QLocale::Vietnamese}, {0x3F, QLocale::Kazakh},    {0x43, QLocale::Uzbek},
    };
    for (const auto& [primary, language] : languages)
        if (primary == (id & 0x3FF)) return language;
    return QLocale::AnyLanguage;
}

DateNames englishNames()
{
    DateNames n;
    const char* months[] = {"January", "February", "March",     "April",   "May",      "June",
                            "July",    "August",   "September", "October", "November", "December"};
    const char* days[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
    for (int i = 0; i < 12; ++i) {
        n.months[i] = n.genitive[i] = QString::fromLatin1(months[i]);
        n.shortMonths[i] = n.months[i].left(3);
    }
    for (int i = 0; i < 7; ++i) {
        n.days[i] = QString::fromLatin1(days[i]);
        n.shortDays[i] = n.days[i].left(3);
    }
    return n;
}

// The names of the Russian language as a spreadsheet under Windows shows them: months
// capitalised when they stand alone, in the genitive after a day, three letters abbreviated.
DateNames russianNames()
{
    DateNames n;
    n.months = {u"Январь"_s, u"Февраль"_s, u"Март"_s, u"Апрель"_s, u"Май"_s, u"Июнь"_s,
                u"Июль"_s, u"Август"_s, u"Сентябрь"_s, u"Октябрь"_s, u"Ноябрь"_s, u"Декабрь"_s};
    n.genitive = {u"января"_s, u"февраля"_s, u"марта"_s, u"апреля"_s, u"мая"_s, u"июня"_s,
                  u"июля"_s, u"августа"_s, u"сентября"_s, u"октября"_s, u"ноября"_s, u"декабря"_s};
    n.shortMonths = {u"янв"_s, u"фев"_s, u"мар"_s, u"апр"_s, u"май"_s, u"июн"_s,
                     u"июл"_s, u"авг"_s, u"сен"_s, u"окт"_s, u"ноя"_s, u"дек"_s};
    n.days = {u"понедельник"_s, u"вторник"_s, u"среда"_s, u"четверг"_s, u"пятница"_s, u"суббота"_s, u"воскресенье"_s};
    n.shortDays = {u"Пн"_s, u"Вт"_s, u"Ср"_s, u"Чт"_s, u"Пт"_s, u"Сб"_s, u"Вс"_s};
    return n;
}

// The names of a format's language: its tag's, else the locale's. A tag's language of another
// kind takes the names and AM/PM texts that language has in the locale data.
const DateNames& dateNames(quint16 languageId, const QLocale& locale)
{
    static const DateNames english = englishNames(), russian = russianNames();
    const QLocale::Language language = languageId ? languageOfId(languageId) : locale.language();
    if (language == QLocale::Russian) return russian;
    if (language == QLocale::English || language == QLocale::C || language == QLocale::AnyLanguage) return english;
    thread_local std::map<std::pair<int, bool>, DateNames> known;
    const bool tagged = languageId != 0;
    auto [it, added] = known.try_emplace({int(language), tagged});
    if (added) {
        const QLocale names(language);
        DateNames& n = it->second;
        for (int i = 0; i < 12; ++i) {
            n.months[i] = names.standaloneMonthName(i + 1, QLocale::LongFormat);
            n.genitive[i] = names.monthName(i + 1, QLocale::LongFormat);
            n.shortMonths[i] = names.monthName(i + 1, QLocale::ShortFormat);
        }
        for (int i = 0; i < 7; ++i) {
            n.days[i] = names.dayName(i + 1, QLocale::LongFormat);
            n.shortDays[i] = names.dayName(i + 1, QLocale::ShortFormat);
        }
        if (tagged && !names.amText().isEmpty()) {
            n.am = names.amText();
            n.pm = names.pmText();
        }
    }
    return it->second;
}

// Digits of a non-negative finite value with the given number of decimals, as a spreadsheet
// shows them: the value is first taken to its 15 significant digits (the decimal the program
// keeps of a double), and that decimal is rounded to the places shown, a half away from zero.
// So 2.675, whose double lies just below it, shows "2.68" with two decimals, and a whole
// number of 17 digits shows its first 15 and zeros.
using Digits = QVarLengthArray<char, 128>;

// The powers of ten a double holds exactly.
constexpr double powersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                  1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Most values with up to 22 decimals: the value scaled to an integer of the last place, when
// that cannot round otherwise than the 15-digit decimal does. Below 2^43 the scaled double lies
// within 2^-10 of the exact product and the 15-digit decimal within 0.005 of it (in units of the
// last place), so a fraction farther than 2^-4 from one half rounds the same way. False for the
// others (whole numbers among them), which take the decimal way.
bool scaledDigits(double a, int decimals, qint64& v)
{
    if (decimals > 22) return false;
    const double m = a * powersOfTen[decimals];
    if (!(m < 8796093022208.0)) return false; // 2^43
    const double whole = std::floor(m);
    const double rest = m - whole;
    if (std::fabs(rest - 0.5) <= 0.0625) return false;
    v = qint64(whole) + (rest > 0.5 ? 1 : 0);
    return true;
}

// The digits of an integer counted in units of the last of the given decimals, with the point
// before them: "12345" with 2 decimals is "123.45", "5" with 3 is "0.005".
void placePoint(const char* d, qsizetype n, int decimals, Digits& out)
{
    if (n <= decimals) {
        out.resize(2 + decimals);
        char* p = out.data();
        p[0] = '0';
        p[1] = '.';
        std::memset(p + 2, '0', size_t(decimals - n));
        std::memcpy(p + 2 + decimals - n, d, size_t(n));
        return;
    }
    out.resize(n + (decimals > 0 ? 1 : 0));
    char* p = out.data();
    std::memcpy(p, d, size_t(n - decimals));
    if (decimals > 0) {
        p[n - decimals] = '.';
        std::memcpy(p + n - decimals + 1, d + n - decimals, size_t(decimals));
    }
}

// The first 15 significant digits of a positive finite double, correctly rounded, and the power
// of ten of the first: 2.675 is "267500000000000" with exponent 0.
struct Significant {
    char digits[15];
    int exponent;
};

Significant significant15(double a)
{
    Significant s;
    // Most values: the value scaled to an integer of 15 digits. Below 2^50 the scaled double
    // lies within 2^-4 of the exact product, so a fraction farther than that from one half
    // rounds as the exact value does.
    int power = int(std::floor(std::log10(a))); // one off near a power of ten at most
    for (int tries = 0; tries < 3; ++tries) {
        const int decimals = 14 - power;
        if (decimals < 0 || decimals > 22) break;
        const double m = a * powersOfTen[decimals];
        if (m < 1e14 || m >= 1e15) {
            power += m < 1e14 ? -1 : 1;
            continue;
        }
        const double whole = std::floor(m);
        const double rest = m - whole;
        if (std::fabs(rest - 0.5) <= 0.0625) break;
        const qint64 v = qint64(whole) + (rest > 0.5 ? 1 : 0);
        char digits[24];
        const qsizetype n = std::to_chars(digits, digits + sizeof digits, v).ptr - digits;
        std::memcpy(s.digits, digits, 15); // 10^15 after rounding up: "1" and zeros, one place up
        s.exponent = n > 15 ? power + 1 : power;
        return s;
    }
    char text[48];
    // The shortest decimal that reads back as the value is the 15-digit one whenever it has no
    // more digits: no other decimal of 15 digits lies as near the double.
    auto r = std::to_chars(text, text + sizeof text, a, std::chars_format::scientific);
    const char* e = std::find(text, r.ptr, 'e');
    const qsizetype mantissa = (e - text) - (e - text > 1 ? 1 : 0); // digits without the point
    if (mantissa > 15) {
        r = std::to_chars(text, text + sizeof text, a, std::chars_format::scientific, 14);
        e = std::find(text, r.ptr, 'e');
    }
    qsizetype k = 0;
    for (const char* p = text; p < e; ++p)
        if (*p != '.') s.digits[k++] = *p;
    std::memset(s.digits + k, '0', size_t(15 - k));
    s.exponent = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), r.ptr, s.exponent);
    return s;
}

// The digits of the decimal times 10^shift with the given number of decimals, rounded a half
// away from zero.
void roundedDigits(const Significant& s, int shift, int decimals, Digits& out)
{
    // digits[k] stands for 10^(exponent + shift - k); those down to 10^-decimals are kept
    const qint64 keep = qint64(s.exponent) + shift + decimals + 1;
    if (keep > 100000) { // a format cannot ask for so many places; the digits would not fit
        out.clear();
        out.append(s.digits, 15);
        return;
    }
    Digits kept;
    if (keep <= 0) {
        // below the last place: at most half of it when the first digit is the place's next
        kept.append(keep == 0 && s.digits[0] >= '5' ? '1' : '0');
    } else if (keep >= 15) {
        kept.append(s.digits, 15);
        kept.resize(qsizetype(keep), '0');
    } else {
        kept.append(s.digits, qsizetype(keep));
        if (s.digits[keep] >= '5') { // a decimal half or more rounds up, the exact half too
            qsizetype i = kept.size();
            while (i-- > 0) {
                if (kept[i] != '9') {
                    ++kept[i];
                    break;
                }
                kept[i] = '0';
            }
            if (i < 0) kept.insert(kept.begin(), 1, '1');
        }
    }
    placePoint(kept.data(), kept.size(), decimals, out);
}

void fixedDigits(double a, int decimals, Digits& out)
{
    if (a < 1e15 && a == std::floor(a)) {
        // a whole number of up to 15 digits: its digits exactly, then the zeros
        char s[24];
        const qsizetype n = std::to_chars(s, s + sizeof s, qint64(a)).ptr - s;
        out.resize(n + (decimals > 0 ? 1 + decimals : 0));
        char* p = out.data();
        std::memcpy(p, s, size_t(n));
        if (decimals > 0) {
            p[n] = '.';
            std::memset(p + n + 1, '0', size_t(decimals));
        }
        return;
    }
    // Most others: the digits of the value scaled to an integer of the last place.
    if (qint64 v; scaledDigits(a, decimals, v)) {
        char d[24];
        const qsizetype n = std::to_chars(d, d + sizeof d, v).ptr - d;
        placePoint(d, n, decimals, out);
        return;
    }
    if (a == 0) { // the denormal zero's neighbours never get here; zero itself is whole
        placePoint("0", 1, decimals, out);
        return;
    }
    roundedDigits(significant15(a), 0, decimals, out);
}

// A digit placeholder's character, compared without a call.
bool placeIs(const Token& t, char16_t c) { return t.text.size() == 1 && t.text.front() == c; }

bool isLiteral(const Token& t) { return t.kind == Token::Literal || t.kind == Token::Point; }

void addLiteral(Builder& out, const Token& t, const LocaleTexts& lt)
{
    if (t.kind == Token::Point) out.add(lt.decimalPoint);
    else out.add(t.text);
}

// Fills the integer placeholders right to left with the digits; the leftmost takes the rest.
void fillInteger(Builder& out, const NumberFormat::NumberPlan& plan, const char* digits, qsizetype len, const LocaleTexts& lt)
{
    const auto& toks = plan.intT;
    if (len == 1 && digits[0] == '0' && !plan.anyZero) len = 0;
    const qsizetype places = plan.intPlaces;
    if (places == 0) {
        out.addAscii(digits, len);
        for (const Token& t : toks)
            if (isLiteral(t)) addLiteral(out, t, lt);
        return;
    }
    if (plan.grouping) {
        // the placeholders beyond the digits, then the digits, grouped by threes from the right
        QVarLengthArray<char16_t, 64> all;
        qsizetype k = 0;
        for (const Token& t : toks) {
            if (t.kind != Token::Digit) continue;
            if (k++ >= places - len) continue;
            if (placeIs(t, u'0')) all.append(u'0');
            else if (placeIs(t, u'?')) all.append(u' ');
        }
        for (qsizetype i = 0; i < len; ++i) all.append(char16_t(digits[i]));
        QVarLengthArray<qsizetype, 32> breaks; // positions before which a separator goes
        int count = 0;
        for (qsizetype i = all.size(); i-- > 0;) {
            if (count > 0 && count % 3 == 0 && all[i] != u' ') breaks.append(i + 1);
            ++count;
        }
        bool placed = false;
        qsizetype firstPlace = -1, lastPlace = -1;
        for (qsizetype i = 0; i < qsizetype(toks.size()); ++i)
            if (toks[size_t(i)].kind == Token::Digit) {
                if (firstPlace < 0) firstPlace = i;
                lastPlace = i;
            }
        for (qsizetype i = 0; i < qsizetype(toks.size()); ++i) {
            const Token& t = toks[size_t(i)];
            if (isLiteral(t) && (i < firstPlace || i > lastPlace)) {
                addLiteral(out, t, lt);
            } else if (t.kind == Token::Digit && !placed) {
                qsizetype b = breaks.size();
                for (qsizetype c = 0; c < all.size(); ++c) {
                    if (b > 0 && breaks[b - 1] == c) {
                        out.add(lt.groupSeparator);
                        --b;
                    }
                    out.add(all[c]);
                }
                placed = true;
            }
        }
        return;
    }
    qsizetype k = 0;
    for (const Token& t : toks) {
        if (t.kind != Token::Digit) {
            if (isLiteral(t)) addLiteral(out, t, lt);
            continue;
        }
        // placeholder k of the places: the leftmost takes every digit the others leave
        qsizetype from, to;
        if (k == 0) {
            from = 0;
            to = std::max<qsizetype>(0, len - (places - 1));
        } else {
            from = len - (places - k);
            to = from + 1;
        }
        ++k;
        if (from >= 0 && to > from) out.addAscii(digits + from, to - from);
        else if (placeIs(t, u'0')) out.add(u'0');
        else if (placeIs(t, u'?')) out.add(u' ');
    }
}

// Fills the decimal placeholders left to right; trailing zeros of "#" and "?" are not shown.
void fillFraction(Builder& out, const std::vector<Token>& toks, const char* digits, qsizetype len, const LocaleTexts& lt)
{
    // the last placeholder that shows its digit
    qsizetype places = 0;
    for (const Token& t : toks)
        if (t.kind == Token::Digit) ++places;
    qsizetype shown = places;
    {
        qsizetype k = places;
        for (auto it = toks.rbegin(); it != toks.rend(); ++it) {
            if (it->kind != Token::Digit) continue;
            --k;
            const char d = k < len ? digits[k] : '0';
            if (d != '0' || placeIs(*it, u'0')) break;
            shown = k;
        }
    }
    qsizetype k = 0;
    for (const Token& t : toks) {
        if (t.kind != Token::Digit) {
            if (isLiteral(t)) addLiteral(out, t, lt);
            continue;
        }
        if (k < shown) out.add(char16_t(k < len ? digits[k] : '0'));
        else if (placeIs(t, u'?')) out.add(u' ');
        ++k;
    }
}

// Splits a numeric section into the parts the renderer fills.
void makePlan(Section& sec)
{
    auto& p = sec.plan;
    std::vector<Token> intT, fracT, expT;
    int stage = 0;
    for (const Token& t : sec.tokens) {
        if (t.kind == Token::Percent) {
            ++p.percents;
            (stage == 0 ? intT : stage == 1 ? fracT : expT).push_back({Token::Literal, u"%"_s});
            continue;
        }
        if (t.kind == Token::Point && stage == 0) {
            p.point = true;
            stage = 1;
            continue;
        }
        if (t.kind == Token::Exponent && stage < 2) {
            p.expSign = t.text;
            stage = 2;
            continue;
        }
        Token c = t;
        if (c.kind == Token::Slash) c = {Token::Literal, u"/"_s};
        if (c.kind == Token::Text) c = {Token::Literal, QString()};
        (stage == 0 ? intT : stage == 1 ? fracT : expT).push_back(c);
    }
    // Commas: between integer digits they group; after the last digit each divides by 1000.
    int lastDigit = -1;
    for (size_t i = 0; i < intT.size(); ++i)
        if (intT[i].kind == Token::Digit) lastDigit = int(i);
    for (size_t i = 0; i < intT.size(); ++i) {
        if (intT[i].kind != Token::Group) {
            p.intT.push_back(intT[i]);
            continue;
        }
        if (int(i) > lastDigit) {
            // scaling only when nothing but commas follows the digits in this part
            bool onlyCommas = true;
            for (size_t k = i; k < intT.size(); ++k)
                if (intT[k].kind == Token::Digit) onlyCommas = false;
            if (onlyCommas && lastDigit >= 0) ++p.scale;
            else p.intT.push_back({Token::Literal, u","_s});
        } else if (lastDigit >= 0) {
            p.grouping = true;
        }
    }
    for (const Token& t : fracT) {
        if (t.kind == Token::Group) {
            if (p.point) ++p.scale; // "0.0,": a comma after the decimals also scales
            continue;
        }
        p.fracT.push_back(t);
    }
    for (const Token& t : expT) p.expT.push_back(t.kind == Token::Group ? Token{Token::Literal, u","_s} : t);

    for (const Token& t : p.fracT)
        if (t.kind == Token::Digit) ++p.fracDigits;
    for (const Token& t : p.intT)
        if (t.kind == Token::Digit) {
            ++p.intPlaces;
            if (t.text != u"0") p.intHash = true;
            else p.anyZero = true;
        }
    for (const Token& t : p.expT)
        if (t.kind == Token::Digit) ++p.expDigits;

    // Whether the section has the common shape the renderer fills without its placeholder walk.
    const auto suffixFrom = [&](const std::vector<Token>& toks, size_t from) {
        for (size_t i = from; i < toks.size(); ++i) {
            if (toks[i].kind != Token::Literal) return false;
            p.suffix += toks[i].text;
        }
        return true;
    };
    bool simple = p.expSign.isEmpty() && p.intPlaces > 0;
    size_t i = 0;
    for (bool zeros = false; simple && i < p.intT.size() && p.intT[i].kind == Token::Digit; ++i) {
        const QString& d = p.intT[i].text;
        if (d == u"0") zeros = true;
        else if (d != u"#" || zeros) simple = false;
        if (d == u"0") ++p.minInt;
    }
    if (simple && p.point) {
        simple = i == p.intT.size();
        size_t k = 0;
        while (simple && k < p.fracT.size() && p.fracT[k].kind == Token::Digit) simple = p.fracT[k++].text == u"0";
        simple = simple && suffixFrom(p.fracT, k);
    } else if (simple) {
        simple = p.fracT.empty() && suffixFrom(p.intT, i);
    }
    p.simple = simple;
    if (!simple) p.suffix.clear();
}

void classify(Section& sec)
{
    if (isDateSection(sec) || sec.system != Section::System::None) {
        sec.shape = NumberFormat::Shape::Date;
        for (const Token& t : sec.tokens) {
            if (t.kind == Token::Date && t.text[0] == u'.') sec.subSecondDigits = std::max(sec.subSecondDigits, int(t.text.size()) - 1);
            if (t.kind == Token::AmPm) sec.ampm = true;
            if (t.kind == Token::Date && t.text[0] == u'd' && t.text.size() <= 2) sec.hasDay = true;
        }
    } else if (sec.general) {
        sec.shape = NumberFormat::Shape::General;
    } else if (hasKind(sec, Token::Slash) && hasKind(sec, Token::Digit)) {
        sec.shape = NumberFormat::Shape::Fraction;
    } else if (isTextSection(sec)) {
        sec.shape = NumberFormat::Shape::Text;
    } else if (!hasKind(sec, Token::Digit)) {
        sec.shape = NumberFormat::Shape::LiteralsOnly;
    } else {
        sec.shape = NumberFormat::Shape::Number;
        makePlan(sec);
    }
}

struct DayParts {
    int year = 1900, month = 1, day = 0, dayOfWeek = 6; // dayOfWeek 1 = Monday
};

// The proleptic Gregorian date of a day counted from 1970-01-01.
DayParts civilDay(qint64 z)
{
    // years of 400 from 0000-03-01, so that the leap day ends a year
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 dayOfEra = z - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 mp = (5 * dayOfYear + 2) / 153; // month from March
    DayParts out;
    out.day = int(dayOfYear - (153 * mp + 2) / 5 + 1);
    out.month = int(mp < 10 ? mp + 3 : mp - 9);
    out.year = int(yearOfEra + era * 400 + (out.month <= 2 ? 1 : 0));
    out.dayOfWeek = int(((z - 719468) % 7 + 7 + 3) % 7) + 1; // 1970-01-01 was a Thursday
    return out;
}

bool dayParts(qint64 serialDay, bool date1904, DayParts& out)
{
    // day 1 is 1900-01-01 (1904-01-02 in the 1904 system); the 1900 system counts a
    // 29 February 1900 that never was, day 60
    constexpr qint64 from1899_12_31 = -25568, from1904_01_01 = -24107;
    qint64 z;
    if (date1904) {
        z = from1904_01_01 + serialDay;
    } else if (serialDay == 0) {
        out = {1900, 1, 0, 6};
        return true;
    } else if (serialDay == 60) {
        out = {1900, 2, 29, 3};
        return true;
    } else {
        z = from1899_12_31 + serialDay - (serialDay > 60 ? 1 : 0);
    }
    out = civilDay(z);
    return out.year >= 1 && out.year <= 9999;
}

} // namespace

QString builtinFormatCode(int index, const QLocale& locale)
{
    const QString sd = shortDateCode(locale);
    QString cur = locale.currencySymbol();
    const QString c = cur.isEmpty() ? QString() : u"\"%1\""_s.arg(cur);
    switch (index) {
    case 1: return u"0"_s;
    case 2: return u"0.00"_s;
    case 3: return u"#,##0"_s;
    case 4: return u"#,##0.00"_s;
    case 5: return c + u"#,##0_);("_s + c + u"#,##0)"_s;
    case 6: return c + u"#,##0_);[Red]("_s + c + u"#,##0)"_s;
    case 7: return c + u"#,##0.00_);("_s + c + u"#,##0.00)"_s;
    case 8: return c + u"#,##0.00_);[Red]("_s + c + u"#,##0.00)"_s;
    case 9: return u"0%"_s;
    case 10: return u"0.00%"_s;
    case 11: return u"0.00E+00"_s;
    case 12: return u"# ?/?"_s;
    case 13: return u"# ?\?/?\?"_s;
    // The date forms a spreadsheet localises: the short date of the locale (14, 22), and under
    // Russian the day, month and year of 15 to 17 joined by the date separator.
    case 14: return sd;
    case 15: return isRussian(locale) ? u"dd/mmm/yy"_s : u"d-mmm-yy"_s;
    case 16: return isRussian(locale) ? u"dd/mmm"_s : u"d-mmm"_s;
    case 17: return isRussian(locale) ? u"mmm/yy"_s : u"mmm-yy"_s;
    case 18: return u"h:mm AM/PM"_s;
    case 19: return u"h:mm:ss AM/PM"_s;
    case 20: return u"h:mm"_s;
    case 21: return u"h:mm:ss"_s;
    case 22: return sd + u" h:mm"_s;
    case 37: return u"#,##0_);(#,##0)"_s;
    case 38: return u"#,##0_);[Red](#,##0)"_s;
    case 39: return u"#,##0.00_);(#,##0.00)"_s;
    case 40: return u"#,##0.00_);[Red](#,##0.00)"_s;
    case 41: return u"_(* #,##0_);_(* (#,##0);_(* \"-\"_);_(@_)"_s;
    case 42: return u"_("_s + c + u"* #,##0_);_("_s + c + u"* (#,##0);_("_s + c + u"* \"-\"_);_(@_)"_s;
    case 43: return u"_(* #,##0.00_);_(* (#,##0.00);_(* \"-\"??_);_(@_)"_s;
    case 44: return u"_("_s + c + u"* #,##0.00_);_("_s + c + u"* (#,##0.00);_("_s + c + u"* \"-\"??_);_(@_)"_s;
    case 45: return u"mm:ss"_s;
    case 46: return u"[h]:mm:ss"_s;
    case 47: return u"mm:ss.0"_s;
    case 48: return u"##0.0E+0"_s;
    case 49: return u"@"_s;
    default: return u"General"_s;
    }
}

namespace {

// A number in the General format, appended to out.
void appendGeneral(Builder& out, double value, const QLocale& locale)
{
    if (std::isnan(value) || std::isinf(value)) {
        out.add(errorText(0x24, locale));
        return;
    }
    if (value == 0) {
        out.add(u'0');
        return;
    }
    const double a = std::fabs(value);
    if (value < 0) out.add(u'-');
    if (a < 1e15 && a == std::floor(a)) {
        out.addNumber(qint64(a));
        return;
    }
    // up to 15 significant digits, without the zeros after the last that is not one
    const Significant s = significant15(a);
    qsizetype n = 15;
    while (n > 1 && s.digits[n - 1] == '0') --n;
    const QString& point = localeTexts(locale).decimalPoint;
    if (s.exponent >= 15 || s.exponent < -9) {
        out.add(char16_t(s.digits[0]));
        if (n > 1) {
            out.add(point);
            out.addAscii(s.digits + 1, n - 1);
        }
        out.add(u'E');
        out.add(s.exponent < 0 ? u'-' : u'+');
        out.addNumber(std::abs(s.exponent), 2);
    } else if (s.exponent >= 0) {
        const qsizetype whole = s.exponent + 1;
        out.addAscii(s.digits, std::min(n, whole));
        out.addRepeated(u'0', whole - std::min(n, whole));
        if (n > whole) {
            out.add(point);
            out.addAscii(s.digits + whole, n - whole);
        }
    } else {
        out.add(u'0');
        out.add(point);
        out.addRepeated(u'0', -s.exponent - 1);
        out.addAscii(s.digits, n);
    }
}

} // namespace

QString generalText(double value, const QLocale& locale)
{
    Builder out;
    appendGeneral(out, value, locale);
    return out.take();
}

QString booleanText(bool value, const QLocale& locale)
{
    if (isRussian(locale)) return value ? u"ИСТИНА"_s : u"ЛОЖЬ"_s;
    return value ? u"TRUE"_s : u"FALSE"_s;
}

QString errorText(int code, const QLocale& locale)
{
    const bool ru = isRussian(locale);
    switch (code) {
    case 0x00: return ru ? u"#ПУСТО!"_s : u"#NULL!"_s;
    case 0x07: return ru ? u"#ДЕЛ/0!"_s : u"#DIV/0!"_s;
    case 0x0F: return ru ? u"#ЗНАЧ!"_s : u"#VALUE!"_s;
    case 0x17: return ru ? u"#ССЫЛКА!"_s : u"#REF!"_s;
    case 0x1D: return ru ? u"#ИМЯ?"_s : u"#NAME?"_s;
    case 0x24: return ru ? u"#ЧИСЛО!"_s : u"#NUM!"_s;
    case 0x2A: return ru ? u"#Н/Д"_s : u"#N/A"_s;
    default: return ru ? u"#ЗНАЧ!"_s : u"#VALUE!"_s;
    }
}

NumberFormat::NumberFormat(const QString& code)
{
    if (code.isEmpty() || code.compare(u"General", Qt::CaseInsensitive) == 0) return;
    m_general = false;
    QString part;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code[i];
        if (c == u'"') {
            qsizetype end = code.indexOf(u'"', i + 1);
            if (end < 0) end = code.size() - 1;
            part += code.mid(i, end - i + 1);
            i = end;
        } else if ((c == u'\\' || c == u'_' || c == u'*') && i + 1 < code.size()) {
            part += code.mid(i, 2);
            ++i;
        } else if (c == u'[') {
            qsizetype end = code.indexOf(u']', i + 1);
            if (end < 0) end = code.size() - 1;
            part += code.mid(i, end - i + 1);
            i = end;
        } else if (c == u';') {
            m_sections.push_back(parseSection(part));
            part.clear();
        } else {
            part += c;
        }
    }
    m_sections.push_back(parseSection(part));
    if (m_sections.size() > 4) m_sections.resize(4);
    for (Section& sec : m_sections) {
        if (!sec.language) sec.language = m_sections.front().language; // a tag is written once, in front
        classify(sec);
    }
    // The section for text: the fourth, or a last one that shows the text and no number.
    if (m_sections.size() == 4) m_textSection = 3;
    else if (m_sections.back().shape == Shape::Text) m_textSection = int(m_sections.size()) - 1;
    m_numeric = m_textSection < 0 ? m_sections.size() : size_t(m_textSection);
    for (size_t i = 0; i < m_numeric; ++i) m_conditional = m_conditional || m_sections[i].hasCondition;
    const auto alone = [](const Section& sec) {
        return sec.tokens.size() == 1 && (sec.tokens[0].kind == Token::Text || sec.tokens[0].kind == Token::GeneralNum);
    };
    m_textAsIs = m_textSection < 0 || alone(m_sections[size_t(m_textSection)]);
}

bool NumberFormat::isDate() const { return !m_sections.empty() && m_sections.front().shape == Shape::Date; }

bool NumberFormat::plainNumber(double value, const QLocale& locale, double& out) const
{
    // the section formatInto() takes, when it is a simple one with one "0" before the point
    if (m_general || m_sections.empty() || m_conditional || !std::isfinite(value)) return false;
    if (m_sections.size() > 1 && !(value > 0)) return false;
    const Section& sec = m_sections[0];
    const NumberPlan& p = sec.plan;
    if (sec.shape != Shape::Number || !p.simple || p.minInt != 1 || p.percents != 0 || p.scale != 0 ||
        !p.suffix.isEmpty() || p.point != (p.fracDigits > 0))
        return false;
    if (!localeTexts(locale).plainSigns) return false;

    // The shown digits as one integer, when it is exact in a double; then the quotient by the
    // power of ten, both exact, is the correctly rounded value of the decimal.
    const int decimals = p.fracDigits;
    const double a = std::fabs(value);
    quint64 shown = 0;
    if (qint64 scaled; scaledDigits(a, decimals, scaled)) {
        // its digits with the point before the last decimals: a separator from 10^(3 + decimals)
        if (p.grouping && decimals + 3 <= 22 && double(scaled) >= powersOfTen[decimals + 3]) return false;
        shown = quint64(scaled);
    } else {
        Digits s;
        fixedDigits(a, decimals, s);
        const qsizetype dot = decimals > 0 ? s.size() - decimals - 1 : s.size();
        if (dot < 1 || (p.grouping && dot > 3) || s.size() > 39) return false; // no separator; short enough to read
        bool zero = true; // the digits, not their integer, which may wrap around
        for (char c : s)
            if (c != '.') {
                shown = shown * 10 + quint64(c - '0');
                zero = zero && c == '0';
            }
        const bool exact = s.size() <= 19 && decimals <= 22 && shown < (quint64(1) << 53);
        if (!exact && !zero) {
            double v;
            if (std::from_chars(s.data(), s.data() + s.size(), v).ec != std::errc()) return false;
            out = value < 0 ? -v : v;
            return true;
        }
    }
    if (shown == 0) {
        out = 0; // shown without a sign
        return true;
    }
    const double v = double(shown) / powersOfTen[decimals];
    out = value < 0 ? -v : v;
    return true;
}

QString NumberFormat::format(double value, const QLocale& locale, bool date1904) const
{
    Builder out;
    formatInto(out, value, locale, date1904);
    return out.take();
}

void NumberFormat::format(double value, const QLocale& locale, bool date1904, QString& out) const
{
    Builder b;
    formatInto(b, value, locale, date1904);
    b.copyTo(out);
}

void NumberFormat::formatInto(Builder& out, double value, const QLocale& locale, bool date1904) const
{
    if (m_general || m_numeric == 0 || std::isnan(value) || std::isinf(value)) return appendGeneral(out, value, locale);

    const Section* sec = nullptr;
    // One section shows every number, a value that rounds to zero without a sign; of several,
    // a negative number's section stands for its sign.
    Sign sign = m_sections.size() == 1 ? Sign::ShownUnlessZero : Sign::Shown;
    if (m_conditional) {
        for (size_t i = 0; i < m_numeric && !sec; ++i) {
            const Section& s = m_sections[i];
            if (!s.hasCondition) {
                sec = &s;
                break;
            }
            const double c = s.conditionValue;
            bool hit = false;
            switch (s.condition) {
            case Condition::Less: hit = value < c; break;
            case Condition::LessEqual: hit = value <= c; break;
            case Condition::Greater: hit = value > c; break;
            case Condition::GreaterEqual: hit = value >= c; break;
            case Condition::NotEqual: hit = value != c; break;
            default: hit = value == c; break;
            }
            if (hit) {
                sec = &s;
                // a condition that no positive number meets ([<0], [<=-25], [=-1]) stands for
                // the sign, as the negative section does
                const bool onlyNegative = ((s.condition == Condition::Less || s.condition == Condition::LessEqual) && c <= 0) ||
                                          (s.condition == Condition::Equal && c < 0);
                if (onlyNegative) sign = Sign::None;
            }
        }
        if (!sec) return appendGeneral(out, value, locale);
    } else if (m_numeric == 1 || value > 0) {
        sec = &m_sections[0];
    } else if (value < 0) {
        sec = &m_sections[1];
        sign = Sign::None;
    } else {
        sec = &m_sections[m_numeric >= 3 ? 2 : 0];
    }
    if (sec->shape == Shape::Text) return appendGeneral(out, value, locale);
    formatSection(out, *sec, value, sign, locale, date1904);
}

void NumberFormat::formatSection(Builder& out, const Section& sec, double value, Sign sign, const QLocale& locale,
                                 bool date1904) const
{
    const bool withSign = sign != Sign::None && value < 0;
    switch (sec.shape) {
    case Shape::Date: return formatDate(out, sec, value, locale, date1904);
    case Shape::Fraction: return out.add(formatFraction(sec, value, sign != Sign::None));
    case Shape::General: {
        if (withSign) out.add(localeTexts(locale).negativeSign);
        for (const Token& t : sec.tokens) {
            if (t.kind == Token::Literal) out.add(t.text);
            else if (t.kind == Token::GeneralNum) appendGeneral(out, std::fabs(value), locale);
        }
        return;
    }
    case Shape::LiteralsOnly:
    case Shape::Text: {
        // a section of literals only ("zero", "-") shows them without the number
        for (const Token& t : sec.tokens)
            if (t.kind == Token::Literal) out.add(t.text);
        return;
    }
    case Shape::Number: break;
    }

    const NumberPlan& p = sec.plan;
    const LocaleTexts& lt = localeTexts(locale);
    double a = std::fabs(value);
    for (int i = 0; i < p.percents; ++i) a *= 100;
    for (int i = 0; i < p.scale; ++i) a /= 1000;

    if (p.simple) {
        Digits s;
        fixedDigits(a, p.fracDigits, s);
        const char* d = s.data();
        const qsizetype dot = p.fracDigits > 0 ? s.size() - p.fracDigits - 1 : s.size();
        bool allZero = true;
        for (char ch : s)
            if (ch >= '1' && ch <= '9') allZero = false;
        if (withSign && !(allZero && sign == Sign::ShownUnlessZero)) out.add(lt.negativeSign);
        const qsizetype len = dot == 1 && d[0] == '0' && p.minInt == 0 ? 0 : dot;
        const qsizetype zeros = std::max<qsizetype>(0, p.minInt - len);
        const qsizetype all = zeros + len;
        for (qsizetype i = 0; i < all; ++i) {
            if (p.grouping && i > 0 && (all - i) % 3 == 0) out.add(lt.groupSeparator);
            out.add(i < zeros ? u'0' : char16_t(d[i - zeros]));
        }
        if (p.point) out.add(lt.decimalPoint);
        if (p.fracDigits > 0) out.addAscii(d + dot + 1, p.fracDigits);
        out.add(p.suffix);
        return;
    }

    Digits s; // the digits shown, with their point
    Builder expText;
    if (!p.expSign.isEmpty()) {
        int e = 0;
        if (a != 0 && std::isfinite(a)) {
            // the mantissa from the 15-digit decimal, so that it rounds as a fixed number does
            const Significant d = significant15(a);
            const int n = std::max(1, p.intPlaces);
            const bool engineering = p.intHash && n > 1;
            e = engineering ? int(std::floor(double(d.exponent) / n)) * n : d.exponent - (n - 1);
            roundedDigits(d, -e, p.fracDigits, s);
            // a mantissa that rounds up to one more integer digit moves the exponent
            if (std::find(s.begin(), s.end(), '.') - s.begin() > n) {
                e += engineering ? n : 1;
                roundedDigits(d, -e, p.fracDigits, s);
            }
        }
        Builder mark;
        mark.add(u'E');
        if (e < 0) mark.add(u'-');
        else if (p.expSign == u"+") mark.add(u'+');
        mark.addNumber(std::abs(e), std::max(1, p.expDigits));
        bool placed = false;
        for (const Token& t : p.expT) {
            if (isLiteral(t)) {
                if (t.kind == Token::Point) expText.add(lt.decimalPoint);
                else expText.add(t.text);
            } else if (!placed) {
                expText.add(mark.take());
                placed = true;
            }
        }
        if (!placed) {
            const QString literals = expText.take();
            expText.clear();
            expText.add(mark.view());
            expText.add(literals);
        }
    }

    if (s.isEmpty()) fixedDigits(a, p.fracDigits, s);
    const qsizetype dot = std::find(s.begin(), s.end(), '.') - s.begin();
    bool allZero = true;
    for (char ch : s)
        if (ch >= '1' && ch <= '9') allZero = false;

    if (withSign && !(allZero && sign == Sign::ShownUnlessZero)) out.add(lt.negativeSign);
    fillInteger(out, p, s.data(), dot, lt);
    if (p.point) {
        out.add(lt.decimalPoint);
        if (dot < s.size()) fillFraction(out, p.fracT, s.data() + dot + 1, s.size() - dot - 1, lt);
        else fillFraction(out, p.fracT, nullptr, 0, lt);
    }
    out.add(expText.view());
}

QString NumberFormat::formatFraction(const Section& sec, double value, bool withSign) const
{
    const auto& t = sec.tokens;
    size_t slash = 0;
    while (slash < t.size() && t[slash].kind != Token::Slash) ++slash;
    // denominator: fixed digits or placeholders after the slash
    size_t k = slash + 1;
    QString denText;
    int denPlaces = 0;
    bool denQ = false;
    while (k < t.size() && (t[k].kind == Token::Digit || (t[k].kind == Token::Literal && !t[k].text.isEmpty() && t[k].text[0].isDigit()))) {
        if (t[k].kind == Token::Literal) {
            qsizetype j = 0;
            while (j < t[k].text.size() && t[k].text[j].isDigit()) ++j;
            denText += t[k].text.left(j);
            if (j < t[k].text.size()) break;
        } else {
            denText += t[k].text;
            ++denPlaces;
            if (t[k].text == u"?") denQ = true;
        }
        ++k;
    }
    const size_t denEnd = k;
    int fixedDen = 0;
    if (!denText.isEmpty() && denText[0] >= u'1' && denText[0] <= u'9') {
        bool ok = false;
        fixedDen = denText.toInt(&ok);
        if (!ok) fixedDen = 0;
    }
    // numerator: placeholders just before the slash; whole part: placeholders before those
    size_t numBegin = slash;
    while (numBegin > 0 && t[numBegin - 1].kind == Token::Digit) --numBegin;
    const int numPlaces = int(slash - numBegin);
    bool numQ = false;
    for (size_t i = numBegin; i < slash; ++i) numQ = numQ || t[i].text == u"?";
    bool hasWhole = false;
    size_t wholeEnd = 0;
    for (size_t i = 0; i < numBegin; ++i)
        if (t[i].kind == Token::Digit) {
            hasWhole = true;
            wholeEnd = i + 1;
        }

    double a = std::fabs(value);
    double whole = hasWhole ? std::floor(a) : 0;
    double frac = a - whole;
    qint64 num = 0, den = 1;
    if (fixedDen > 0) {
        den = fixedDen;
        num = qint64(std::llround(frac * den));
    } else {
        const int places = std::clamp(denPlaces, 1, 4);
        const int maxDen = int(std::pow(10, places)) - 1;
        double best = 2;
        for (int d = 1; d <= maxDen; ++d) {
            const double n = std::round(frac * d);
            const double err = std::fabs(frac - n / d);
            if (err < best - 1e-12) {
                best = err;
                num = qint64(n);
                den = d;
            }
        }
    }
    if (hasWhole && num == den) {
        whole += 1;
        num = 0;
    }
    QString out;
    if (withSign && value < 0 && (whole != 0 || num != 0)) out += u'-';
    for (size_t i = 0; i < numBegin; ++i) {
        if (t[i].kind == Token::Literal) {
            if (i < wholeEnd || whole != 0 || num == 0 || !hasWhole) out += t[i].text;
            else out += QString(t[i].text.size(), u' ');
        } else if (t[i].kind == Token::Digit && i + 1 == wholeEnd) {
            if (whole != 0 || num == 0) out += QString::number(qint64(whole));
        }
    }
    QString fracPart;
    if (num == 0 && hasWhole) {
        fracPart = QString(numPlaces + 1 + std::max(denPlaces, int(denText.size())), u' ');
        // the literal between the whole number and the fraction is blank too
        if (out.endsWith(u' ')) out.chop(1), fracPart += u' ';
        out = out.trimmed().isEmpty() ? u"0"_s : out;
        if (whole == 0 && !out.endsWith(u'0')) out += u'0';
    } else {
        QString ns = QString::number(num);
        if (numQ) ns = ns.rightJustified(numPlaces, u' ');
        QString ds = QString::number(den);
        if (denQ && fixedDen == 0) ds = ds.leftJustified(denPlaces, u' ');
        fracPart = ns + u'/' + ds;
    }
    out += fracPart;
    for (size_t i = denEnd; i < t.size(); ++i)
        if (t[i].kind == Token::Literal) out += t[i].text;
    return out;
}

namespace {

// The locale's long date or long time as a parsed format, for the system-form tags.
const NumberFormat& systemFormat(NumberFormat::Section::System form, const QLocale& locale)
{
    struct Forms {
        QLocale locale;
        NumberFormat longDate, longTime;
    };
    thread_local std::optional<Forms> last;
    if (!last || !(last->locale == locale))
        last.emplace(Forms{locale, NumberFormat(longDateCode(locale)), NumberFormat(longTimeCode(locale))});
    return form == NumberFormat::Section::System::LongDate ? last->longDate : last->longTime;
}

} // namespace

void NumberFormat::formatDate(Builder& out, const Section& sec, double value, const QLocale& locale, bool date1904) const
{
    if (sec.system != Section::System::None) {
        const NumberFormat& form = systemFormat(sec.system, locale);
        if (!form.m_sections.empty() && form.m_sections.front().shape == Shape::Date &&
            form.m_sections.front().system == Section::System::None)
            return formatDate(out, form.m_sections.front(), value, locale, date1904);
    }
    if (value < 0 || value > 2958466.0) return appendGeneral(out, value, locale);
    const int subDigits = sec.subSecondDigits;
    qint64 unitsPerSecond = 1;
    for (int i = 0; i < subDigits; ++i) unitsPerSecond *= 10;
    qint64 units, day, secs, sub = 0;
    if (subDigits == 0) { // the common case, by constants the compiler multiplies by
        units = std::llround(value * 86400.0);
        day = units / 86400;
        secs = units % 86400;
    } else {
        const qint64 unitsPerDay = 86400 * unitsPerSecond;
        units = std::llround(value * double(unitsPerDay));
        day = units / unitsPerDay;
        const qint64 rem = units % unitsPerDay;
        secs = rem / unitsPerSecond;
        sub = rem % unitsPerSecond;
    }
    const qint64 hour = secs / 3600, minute = (secs / 60) % 60, second = secs % 60;
    DayParts dp;
    if (!dayParts(day, date1904, dp)) return appendGeneral(out, value, locale);

    const DateNames* known = nullptr; // looked up when a name is shown
    const auto names = [&]() -> const DateNames& { return known ? *known : *(known = &dateNames(sec.language, locale)); };
    for (const Token& t : sec.tokens) {
        if (t.kind == Token::Literal) {
            out.add(t.text);
        } else if (t.kind == Token::DateSep) {
            out.add(localeTexts(locale).dateSeparator);
        } else if (t.kind == Token::AmPm) {
            const bool pm = hour >= 12;
            if (t.text.size() == 5) {
                const QString& text = pm ? names().pm : names().am;
                out.add(t.text[0].isLower() ? text.toLower() : text);
            } else {
                out.add((pm ? t.text[2] : t.text[0]).unicode());
            }
        } else if (t.kind == Token::Elapsed) {
            const qint64 totalSecs = units / unitsPerSecond;
            const qint64 v = t.text[0] == u'h' ? totalSecs / 3600 : t.text[0] == u'm' ? totalSecs / 60 : totalSecs;
            out.addNumber(v, int(t.text.size()));
        } else if (t.kind == Token::Date) {
            const QString& f = t.text;
            const qsizetype len = f.size();
            switch (f[0].unicode()) {
            case u'y':
                if (len <= 2) out.addNumber(dp.year % 100, 2);
                else out.addNumber(dp.year);
                break;
            case u'm':
                if (len <= 2) out.addNumber(dp.month, int(len));
                else if (len == 3) out.add(names().shortMonths[size_t(dp.month - 1)]);
                else if (len == 5) out.add(QStringView(names().months[size_t(dp.month - 1)]).left(1));
                else out.add((sec.hasDay ? names().genitive : names().months)[size_t(dp.month - 1)]);
                break;
            case u'd':
                if (len <= 2) out.addNumber(dp.day, int(len));
                else if (len == 3) out.add(names().shortDays[size_t(dp.dayOfWeek - 1)]);
                else out.add(names().days[size_t(dp.dayOfWeek - 1)]);
                break;
            case u'h': {
                qint64 h = hour;
                if (sec.ampm) {
                    h %= 12;
                    if (h == 0) h = 12;
                }
                out.addNumber(h, len >= 2 ? 2 : 1);
                break;
            }
            case u'n': out.addNumber(minute, len >= 2 ? 2 : 1); break;
            case u's': out.addNumber(second, len >= 2 ? 2 : 1); break;
            case u'.': {
                Builder digits;
                digits.addNumber(sub, subDigits);
                out.add(localeTexts(locale).decimalPoint);
                out.add(digits.view().left(len - 1));
                break;
            }
            default: break;
            }
        }
    }
}

QString NumberFormat::formatText(const QString& text) const
{
    if (m_textSection < 0) return text;
    // "@" and "General" both stand for the text there
    QString out;
    for (const Token& t : m_sections[size_t(m_textSection)].tokens) {
        if (t.kind == Token::Literal) out += t.text;
        else if (t.kind == Token::Text || t.kind == Token::GeneralNum) out += text;
    }
    return out;
}

QString displayText(double value, const QString& code, const QLocale& locale, bool date1904)
{
    return NumberFormat(code).format(value, locale, date1904);
}

} // namespace kalder
