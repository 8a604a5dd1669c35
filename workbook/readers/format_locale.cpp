// What the locale gives the number formats: its signs and date separator, the names of months
// and days, its date and time patterns as format codes, the built-in formats in its forms,
// and the texts of booleans and errors.
#include "workbook/readers/number_format_parts.h"

#include <map>

using namespace Qt::Literals::StringLiterals;

namespace kalder {

namespace numfmt {

bool isRussian(const QLocale& locale) { return locale.language() == QLocale::Russian; }

bool isEnglishUs(const QLocale& locale)
{
    return locale.language() == QLocale::C ||
           (locale.language() == QLocale::English && locale.territory() == QLocale::UnitedStates);
}

namespace {

// A date or time pattern of the locale (Qt's letters: d M y H h m s ap t) as a spreadsheet
// format code; the time zone is left out, other text kept as literals.
QString codeOfPattern(const QString& pattern)
{
    QString out;
    const auto literal = [&](QChar c) {
        if (!QStringView(u" .,-:").contains(c))
            out += u'\\';
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
                if (pattern[k] != u'\'')
                    literal(pattern[k]);
                else if (k + 1 < n && pattern[k + 1] == u'\'')
                    literal(pattern[++k]);
                else
                    break;
            }
            i = k + 1;
            continue;
        }
        qsizetype run = 1;
        while (i + run < n && pattern[i + run] == c)
            ++run;
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
            for (qsizetype k = 0; k < run; ++k)
                literal(c);
        }
        i += run;
    }
    if (twelveHours && !ampm)
        out += u" AM/PM"_s;
    return out.trimmed();
}

} // namespace

// The locale's short date as a spreadsheet format code ("dd.mm.yyyy", "m/d/yyyy").
QString shortDateCode(const QLocale& locale)
{
    if (isEnglishUs(locale))
        return u"m/d/yyyy"_s;
    const QString code = codeOfPattern(locale.dateFormat(QLocale::ShortFormat));
    return code.isEmpty() ? u"m/d/yyyy"_s : code;
}

// The locale's long date and long time, as its system shows them ([$-F800], [$-F400]).
QString longDateCode(const QLocale& locale)
{
    if (isEnglishUs(locale))
        return u"dddd, mmmm d, yyyy"_s;
    if (isRussian(locale))
        return u"d mmmm yyyy \"г.\""_s;
    return codeOfPattern(locale.dateFormat(QLocale::LongFormat));
}

QString longTimeCode(const QLocale& locale)
{
    if (isEnglishUs(locale))
        return u"h:mm:ss AM/PM"_s;
    if (isRussian(locale))
        return u"h:mm:ss"_s;
    return codeOfPattern(locale.timeFormat(QLocale::LongFormat));
}

namespace {

// The separator of the locale's short date: its first sign that is no letter, space or quote.
QString dateSeparatorOf(const QLocale& locale)
{
    if (isEnglishUs(locale))
        return u"/"_s;
    bool quoted = false;
    for (QChar c : locale.dateFormat(QLocale::ShortFormat)) {
        if (c == u'\'')
            quoted = !quoted;
        else if (!quoted && !c.isLetter() && !c.isSpace())
            return QString(c);
    }
    return u"/"_s;
}

} // namespace

const LocaleTexts& localeTexts(const QLocale& locale)
{
    thread_local std::optional<LocaleTexts> last;
    if (!last || !(last->locale == locale)) {
        last = LocaleTexts{locale, locale.decimalPoint(), locale.groupSeparator(), locale.negativeSign(),
                           dateSeparatorOf(locale)};
        last->plainSigns = last->negativeSign == u"-" && last->decimalPoint.size() == 1;
    }
    return *last;
}

namespace {

// The language of a Windows language identifier, by its primary language (the low ten bits).
QLocale::Language languageOfId(quint16 id)
{
    static constexpr std::pair<quint16, QLocale::Language> languages[] = {
        {0x01, QLocale::Arabic},     {0x02, QLocale::Bulgarian},
        {0x03, QLocale::Catalan},    {0x04, QLocale::Chinese},
        {0x05, QLocale::Czech},      {0x06, QLocale::Danish},
        {0x07, QLocale::German},     {0x08, QLocale::Greek},
        {0x09, QLocale::English},    {0x0A, QLocale::Spanish},
        {0x0B, QLocale::Finnish},    {0x0C, QLocale::French},
        {0x0D, QLocale::Hebrew},     {0x0E, QLocale::Hungarian},
        {0x0F, QLocale::Icelandic},  {0x10, QLocale::Italian},
        {0x11, QLocale::Japanese},   {0x12, QLocale::Korean},
        {0x13, QLocale::Dutch},      {0x14, QLocale::NorwegianBokmal},
        {0x15, QLocale::Polish},     {0x16, QLocale::Portuguese},
        {0x18, QLocale::Romanian},   {0x19, QLocale::Russian},
        {0x1A, QLocale::Croatian},   {0x1B, QLocale::Slovak},
        {0x1C, QLocale::Albanian},   {0x1D, QLocale::Swedish},
        {0x1E, QLocale::Thai},       {0x1F, QLocale::Turkish},
        {0x22, QLocale::Ukrainian},  {0x23, QLocale::Belarusian},
        {0x24, QLocale::Slovenian},  {0x25, QLocale::Estonian},
        {0x26, QLocale::Latvian},    {0x27, QLocale::Lithuanian},
        {0x2A, QLocale::Vietnamese}, {0x3F, QLocale::Kazakh},
        {0x43, QLocale::Uzbek},
    };
    for (const auto& [primary, language] : languages)
        if (primary == (id & 0x3FF))
            return language;
    return QLocale::AnyLanguage;
}

DateNames englishNames()
{
    DateNames n;
    const char* months[] = {"January", "February", "March",     "April",   "May",      "June",
                            "July",    "August",   "September", "October", "November", "December"};
    const char* days[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
    for (size_t i = 0; i < n.months.size(); ++i) {
        n.months[i] = n.genitive[i] = QString::fromLatin1(months[i]);
        n.shortMonths[i] = n.months[i].left(3);
    }
    for (size_t i = 0; i < n.days.size(); ++i) {
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
    n.months = {u"Январь"_s, u"Февраль"_s, u"Март"_s,     u"Апрель"_s,  u"Май"_s,    u"Июнь"_s,
                u"Июль"_s,   u"Август"_s,  u"Сентябрь"_s, u"Октябрь"_s, u"Ноябрь"_s, u"Декабрь"_s};
    n.genitive = {u"января"_s, u"февраля"_s, u"марта"_s,    u"апреля"_s,  u"мая"_s,    u"июня"_s,
                  u"июля"_s,   u"августа"_s, u"сентября"_s, u"октября"_s, u"ноября"_s, u"декабря"_s};
    n.shortMonths = {u"янв"_s, u"фев"_s, u"мар"_s, u"апр"_s, u"май"_s, u"июн"_s,
                     u"июл"_s, u"авг"_s, u"сен"_s, u"окт"_s, u"ноя"_s, u"дек"_s};
    n.days = {u"понедельник"_s, u"вторник"_s, u"среда"_s, u"четверг"_s, u"пятница"_s, u"суббота"_s, u"воскресенье"_s};
    n.shortDays = {u"Пн"_s, u"Вт"_s, u"Ср"_s, u"Чт"_s, u"Пт"_s, u"Сб"_s, u"Вс"_s};
    return n;
}

} // namespace

// The names of a format's language: its tag's, else the locale's. A tag's language of another
// kind takes the names and AM/PM texts that language has in the locale data.
const DateNames& dateNames(quint16 languageId, const QLocale& locale)
{
    static const DateNames english = englishNames(), russian = russianNames();
    const QLocale::Language language = languageId ? languageOfId(languageId) : locale.language();
    if (language == QLocale::Russian)
        return russian;
    if (language == QLocale::English || language == QLocale::C || language == QLocale::AnyLanguage)
        return english;
    thread_local std::map<std::pair<int, bool>, DateNames> known;
    const bool tagged = languageId != 0;
    auto [it, added] = known.try_emplace({int(language), tagged});
    if (added) {
        const QLocale names(language);
        DateNames& n = it->second;
        // the locale numbers months and days from 1
        for (size_t i = 0; i < n.months.size(); ++i) {
            const int month = int(i) + 1;
            n.months[i] = names.standaloneMonthName(month, QLocale::LongFormat);
            n.genitive[i] = names.monthName(month, QLocale::LongFormat);
            n.shortMonths[i] = names.monthName(month, QLocale::ShortFormat);
        }
        for (size_t i = 0; i < n.days.size(); ++i) {
            const int day = int(i) + 1;
            n.days[i] = names.dayName(day, QLocale::LongFormat);
            n.shortDays[i] = names.dayName(day, QLocale::ShortFormat);
        }
        if (tagged && !names.amText().isEmpty()) {
            n.am = names.amText();
            n.pm = names.pmText();
        }
    }
    return it->second;
}

} // namespace numfmt

using numfmt::isRussian;
using numfmt::shortDateCode;

QString builtinFormatCode(int index, const QLocale& locale)
{
    const QString sd = shortDateCode(locale);
    QString cur = locale.currencySymbol();
    const QString c = cur.isEmpty() ? QString() : u"\"%1\""_s.arg(cur);
    switch (index) {
    case 1:
        return u"0"_s;
    case 2:
        return u"0.00"_s;
    case 3:
        return u"#,##0"_s;
    case 4:
        return u"#,##0.00"_s;
    case 5:
        return c + u"#,##0_);("_s + c + u"#,##0)"_s;
    case 6:
        return c + u"#,##0_);[Red]("_s + c + u"#,##0)"_s;
    case 7:
        return c + u"#,##0.00_);("_s + c + u"#,##0.00)"_s;
    case 8:
        return c + u"#,##0.00_);[Red]("_s + c + u"#,##0.00)"_s;
    case 9:
        return u"0%"_s;
    case 10:
        return u"0.00%"_s;
    case 11:
        return u"0.00E+00"_s;
    case 12:
        return u"# ?/?"_s;
    case 13:
        return u"# ?\?/?\?"_s;
    // The date forms a spreadsheet localises: the short date of the locale (14, 22), and under
    // Russian the day, month and year of 15 to 17 joined by the date separator.
    case 14:
        return sd;
    case 15:
        return isRussian(locale) ? u"dd/mmm/yy"_s : u"d-mmm-yy"_s;
    case 16:
        return isRussian(locale) ? u"dd/mmm"_s : u"d-mmm"_s;
    case 17:
        return isRussian(locale) ? u"mmm/yy"_s : u"mmm-yy"_s;
    case 18:
        return u"h:mm AM/PM"_s;
    case 19:
        return u"h:mm:ss AM/PM"_s;
    case 20:
        return u"h:mm"_s;
    case 21:
        return u"h:mm:ss"_s;
    case 22:
        return sd + u" h:mm"_s;
    case 37:
        return u"#,##0_);(#,##0)"_s;
    case 38:
        return u"#,##0_);[Red](#,##0)"_s;
    case 39:
        return u"#,##0.00_);(#,##0.00)"_s;
    case 40:
        return u"#,##0.00_);[Red](#,##0.00)"_s;
    case 41:
        return u"_(* #,##0_);_(* (#,##0);_(* \"-\"_);_(@_)"_s;
    case 42:
        return u"_("_s + c + u"* #,##0_);_("_s + c + u"* (#,##0);_("_s + c + u"* \"-\"_);_(@_)"_s;
    case 43:
        return u"_(* #,##0.00_);_(* (#,##0.00);_(* \"-\"??_);_(@_)"_s;
    case 44:
        return u"_("_s + c + u"* #,##0.00_);_("_s + c + u"* (#,##0.00);_("_s + c + u"* \"-\"??_);_(@_)"_s;
    case 45:
        return u"mm:ss"_s;
    case 46:
        return u"[h]:mm:ss"_s;
    case 47:
        return u"mm:ss.0"_s;
    case 48:
        return u"##0.0E+0"_s;
    case 49:
        return u"@"_s;
    default:
        return u"General"_s;
    }
}

QString booleanText(bool value, const QLocale& locale)
{
    if (isRussian(locale))
        return value ? u"ИСТИНА"_s : u"ЛОЖЬ"_s;
    return value ? u"TRUE"_s : u"FALSE"_s;
}

QString errorText(int code, const QLocale& locale)
{
    const bool ru = isRussian(locale);
    switch (code) {
    case 0x00:
        return ru ? u"#ПУСТО!"_s : u"#NULL!"_s;
    case 0x07:
        return ru ? u"#ДЕЛ/0!"_s : u"#DIV/0!"_s;
    case 0x0F:
        return ru ? u"#ЗНАЧ!"_s : u"#VALUE!"_s;
    case 0x17:
        return ru ? u"#ССЫЛКА!"_s : u"#REF!"_s;
    case 0x1D:
        return ru ? u"#ИМЯ?"_s : u"#NAME?"_s;
    case 0x24:
        return ru ? u"#ЧИСЛО!"_s : u"#NUM!"_s;
    case 0x2A:
        return ru ? u"#Н/Д"_s : u"#N/A"_s;
    default:
        return ru ? u"#ЗНАЧ!"_s : u"#VALUE!"_s;
    }
}

} // namespace kalder
