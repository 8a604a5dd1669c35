// Serial dates: a value counts days from the workbook's epoch (1900, with the day that never
// was, or 1904), the time of day as their fraction; shown in a date section's tokens, with the
// names of the section's language and the locale's separators.
#include "workbook/readers/number_format_parts.h"

using namespace Qt::Literals::StringLiterals;

namespace kalder::numfmt {

namespace {

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

// A serial value split at the precision a section shows: whole days, the seconds of the day,
// and the fraction of the second in units of its last digit shown. The value is rounded once,
// to that unit, so that 23:59:59.6 shown without fractions is the next day's midnight.
struct SerialTime {
    qint64 units; // the whole value in units of the last digit shown
    qint64 unitsPerSecond;
    qint64 day, seconds, sub;
};

SerialTime splitSerial(double value, int subDigits)
{
    SerialTime t{0, 1, 0, 0, 0};
    for (int i = 0; i < subDigits; ++i)
        t.unitsPerSecond *= 10;
    if (subDigits == 0) { // the common case, by constants the compiler multiplies by
        t.units = std::llround(value * 86400.0);
        t.day = t.units / 86400;
        t.seconds = t.units % 86400;
    } else {
        const qint64 unitsPerDay = 86400 * t.unitsPerSecond;
        t.units = std::llround(value * double(unitsPerDay));
        t.day = t.units / unitsPerDay;
        const qint64 rem = t.units % unitsPerDay;
        t.seconds = rem / t.unitsPerSecond;
        t.sub = rem % t.unitsPerSecond;
    }
    return t;
}

// The locale's long date or long time as parsed sections, for the system-form tags.
const std::vector<Section>& systemForm(Section::System form, const QLocale& locale)
{
    struct Forms {
        QLocale locale;
        std::vector<Section> longDate, longTime;
    };
    thread_local std::optional<Forms> last;
    if (!last || !(last->locale == locale))
        last.emplace(Forms{locale, parseSections(longDateCode(locale)), parseSections(longTimeCode(locale))});
    return form == Section::System::LongDate ? last->longDate : last->longTime;
}

} // namespace

void renderDate(TextBuilder& out, const Section& sec, double value, const QLocale& locale, bool date1904)
{
    if (sec.system != Section::System::None) {
        const std::vector<Section>& form = systemForm(sec.system, locale);
        if (!form.empty() && form.front().shape == Shape::Date && form.front().system == Section::System::None)
            return renderDate(out, form.front(), value, locale, date1904);
    }
    if (value < 0 || value > 2958466.0)
        return appendGeneral(out, value, locale);
    const int subDigits = sec.subSecondDigits;
    const SerialTime time = splitSerial(value, subDigits);
    const qint64 hour = time.seconds / 3600, minute = (time.seconds / 60) % 60, second = time.seconds % 60;
    DayParts dp;
    if (!dayParts(time.day, date1904, dp))
        return appendGeneral(out, value, locale);

    const DateNames* known = nullptr; // looked up when a name is shown
    const auto names = [&]() -> const DateNames& {
        return known ? *known : *(known = &dateNames(sec.language, locale));
    };
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
            const qint64 totalSecs = time.units / time.unitsPerSecond;
            const qint64 v = t.text[0] == u'h' ? totalSecs / 3600 : t.text[0] == u'm' ? totalSecs / 60 : totalSecs;
            out.addNumber(v, int(t.text.size()));
        } else if (t.kind == Token::Date) {
            const QString& f = t.text;
            const qsizetype len = f.size();
            switch (f[0].unicode()) {
            case u'y':
                if (len <= 2)
                    out.addNumber(dp.year % 100, 2);
                else
                    out.addNumber(dp.year);
                break;
            case u'm':
                if (len <= 2)
                    out.addNumber(dp.month, int(len));
                else if (len == 3)
                    out.add(names().shortMonths[size_t(dp.month - 1)]);
                else if (len == 5)
                    out.add(QStringView(names().months[size_t(dp.month - 1)]).left(1));
                else
                    out.add((sec.hasDay ? names().genitive : names().months)[size_t(dp.month - 1)]);
                break;
            case u'd':
                if (len <= 2)
                    out.addNumber(dp.day, int(len));
                else if (len == 3)
                    out.add(names().shortDays[size_t(dp.dayOfWeek - 1)]);
                else
                    out.add(names().days[size_t(dp.dayOfWeek - 1)]);
                break;
            case u'h': {
                qint64 h = hour;
                if (sec.ampm) {
                    h %= 12;
                    if (h == 0)
                        h = 12;
                }
                out.addNumber(h, len >= 2 ? 2 : 1);
                break;
            }
            case u'n':
                out.addNumber(minute, len >= 2 ? 2 : 1);
                break;
            case u's':
                out.addNumber(second, len >= 2 ? 2 : 1);
                break;
            case u'.': {
                TextBuilder digits;
                digits.addNumber(time.sub, subDigits);
                out.add(localeTexts(locale).decimalPoint);
                out.add(digits.view().left(len - 1));
                break;
            }
            default:
                break;
            }
        }
    }
}

} // namespace kalder::numfmt
