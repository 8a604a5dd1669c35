#include "workbook/readers/cell_values.h"

#include <QDate>

#include <charconv>
#include <cmath>

namespace kalder {

namespace {

std::string_view trimmed(std::string_view t)
{
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t' || t.front() == '\n' || t.front() == '\r'))
        t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\n' || t.back() == '\r'))
        t.remove_suffix(1);
    return t;
}

// Digits at p: exactly n of them, or as many as there are when n is 0 (at most 9).
bool digits(std::string_view& t, int n, int& out)
{
    int v = 0, count = 0;
    while (!t.empty() && t.front() >= '0' && t.front() <= '9' && (n == 0 ? count < 9 : count < n)) {
        v = v * 10 + (t.front() - '0');
        t.remove_prefix(1);
        ++count;
    }
    out = v;
    return count > 0 && (n == 0 || count == n);
}

bool eat(std::string_view& t, char c)
{
    if (t.empty() || t.front() != c)
        return false;
    t.remove_prefix(1);
    return true;
}

// "hh:mm[:ss[.fff]]" as a fraction of a day.
bool timeOfDay(std::string_view& t, double& fraction)
{
    int h, m, s = 0;
    if (!digits(t, 2, h) || !eat(t, ':') || !digits(t, 2, m))
        return false;
    double frac = 0;
    if (eat(t, ':')) {
        if (!digits(t, 2, s))
            return false;
        if (!t.empty() && (t.front() == '.' || t.front() == ',')) {
            t.remove_prefix(1);
            double scale = 0.1;
            while (!t.empty() && t.front() >= '0' && t.front() <= '9') {
                frac += (t.front() - '0') * scale;
                scale /= 10;
                t.remove_prefix(1);
            }
        }
    }
    if (h > 24 || m > 59 || s > 60)
        return false;
    fraction = (h * 3600.0 + m * 60.0 + s + frac) / 86400.0;
    // a zone is accepted and not applied: the spreadsheet shows the written wall time
    if (eat(t, 'Z'))
        return true;
    if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
        t.remove_prefix(1);
        int zh, zm = 0;
        if (!digits(t, 2, zh))
            return false;
        if (eat(t, ':')) {
            if (!digits(t, 2, zm))
                return false;
        } else {
            digits(t, 2, zm);
        }
    }
    return true;
}

} // namespace

bool parseNumber(std::string_view text, double& value)
{
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        // INF, NaN and out-of-range texts are not cell values
        return false;
    }
    return std::isfinite(value);
}

bool isoDateSerial(std::string_view text, bool date1904, double& serial)
{
    std::string_view t = trimmed(text);
    double fraction = 0;
    if (t.size() >= 5 && t[2] == ':') {
        if (!timeOfDay(t, fraction) || !t.empty())
            return false;
        serial = fraction;
        return true;
    }
    int y, m, d;
    const bool negative = eat(t, '-');
    if (negative || !digits(t, 4, y) || !eat(t, '-') || !digits(t, 2, m) || !eat(t, '-') || !digits(t, 2, d))
        return false;
    const QDate date(y, m, d);
    if (!date.isValid())
        return false;
    if (eat(t, 'T') || eat(t, ' ')) {
        if (!timeOfDay(t, fraction))
            return false;
    }
    if (!t.empty())
        return false;
    double days;
    if (date1904) {
        days = double(QDate(1904, 1, 1).daysTo(date));
    } else {
        // serial 60 is the 29th of February 1900 that the 1900 system counts
        days = double(QDate(1899, 12, 30).daysTo(date));
        if (date < QDate(1900, 3, 1))
            days -= 1;
    }
    if (days < 0)
        return false;
    serial = days + fraction;
    return true;
}

bool isoDurationDays(std::string_view text, double& days)
{
    std::string_view t = trimmed(text);
    const bool negative = eat(t, '-');
    if (!eat(t, 'P'))
        return false;
    double total = 0;
    bool inTime = false, any = false;
    while (!t.empty()) {
        if (eat(t, 'T')) {
            inTime = true;
            continue;
        }
        double v = 0;
        const char* begin = t.data();
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
        if (ec != std::errc() || end == begin || end == t.data() + t.size())
            return false;
        t.remove_prefix(size_t(end - begin));
        const char unit = t.front();
        t.remove_prefix(1);
        if (!inTime && unit == 'D')
            total += v;
        else if (!inTime && unit == 'W')
            total += 7 * v;
        else if (inTime && unit == 'H')
            total += v / 24;
        else if (inTime && unit == 'M')
            total += v / 1440;
        else if (inTime && unit == 'S')
            total += v / 86400;
        else
            return false; // years and months have no fixed length
        any = true;
    }
    if (!any || !std::isfinite(total))
        return false;
    days = negative ? -total : total;
    return true;
}

int windowsCodePage(const QLocale& locale)
{
    switch (locale.language()) {
    case QLocale::Russian:
    case QLocale::Ukrainian:
    case QLocale::Belarusian:
    case QLocale::Bulgarian:
    case QLocale::Macedonian:
    case QLocale::Kazakh:
    case QLocale::Kyrgyz:
    case QLocale::Tatar:
    case QLocale::Mongolian:
        return 1251;
    case QLocale::Serbian:
        return locale.script() == QLocale::LatinScript ? 1250 : 1251;
    case QLocale::Polish:
    case QLocale::Czech:
    case QLocale::Slovak:
    case QLocale::Hungarian:
    case QLocale::Slovenian:
    case QLocale::Croatian:
    case QLocale::Romanian:
    case QLocale::Albanian:
    case QLocale::Bosnian:
        return 1250;
    case QLocale::Greek:
        return 1253;
    case QLocale::Turkish:
    case QLocale::Azerbaijani:
        return 1254;
    case QLocale::Hebrew:
        return 1255;
    case QLocale::Arabic:
    case QLocale::Persian:
    case QLocale::Urdu:
        return 1256;
    case QLocale::Estonian:
    case QLocale::Latvian:
    case QLocale::Lithuanian:
        return 1257;
    case QLocale::Vietnamese:
        return 1258;
    case QLocale::Thai:
        return 874;
    case QLocale::Japanese:
        return 932;
    case QLocale::Korean:
        return 949;
    case QLocale::Chinese:
        return locale.script() == QLocale::TraditionalChineseScript ? 950 : 936;
    default:
        return 1252;
    }
}

const char* codePageName(int codePage)
{
    switch (codePage) {
    case 437:
        return "IBM437";
    case 866:
        return "IBM866";
    case 874:
        return "windows-874";
    case 932:
        return "Shift_JIS";
    case 936:
        return "GBK";
    case 949:
        return "windows-949";
    case 950:
        return "Big5";
    case 1250:
        return "windows-1250";
    case 1251:
        return "windows-1251";
    case 1252:
        return "windows-1252";
    case 1253:
        return "windows-1253";
    case 1254:
        return "windows-1254";
    case 1255:
        return "windows-1255";
    case 1256:
        return "windows-1256";
    case 1257:
        return "windows-1257";
    case 1258:
        return "windows-1258";
    case 10000:
    case 32768:
        return "macintosh";
    case 65001:
        return "UTF-8";
    default:
        return nullptr;
    }
}

int errorCode(const QString& text)
{
    static const std::pair<const char16_t*, int> codes[] = {
        {u"#NULL!", 0x00}, {u"#DIV/0!", 0x07}, {u"#VALUE!", 0x0F}, {u"#REF!", 0x17},
        {u"#NAME?", 0x1D}, {u"#NUM!", 0x24},   {u"#N/A", 0x2A},    {u"#GETTING_DATA", 0x2B},
    };
    const QString t = text.trimmed();
    for (const auto& [name, code] : codes)
        if (t.compare(QStringView(name), Qt::CaseInsensitive) == 0)
            return code;
    return -1;
}

} // namespace kalder
