// The displayed text of numbers in format codes, for the "C" and Russian locales.
#include "workbook/readers/number_format.h"
#include "workbook/readers/number_format_parts.h"

#include <QRandomGenerator>
#include <QTest>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace Qt::Literals::StringLiterals;
using kalder::NumberFormat;

class TstNumberFormat : public QObject {
    Q_OBJECT
private slots:
    void display_data();
    void display();
    void builtin_data();
    void builtin();
    void text_data();
    void text();
    void booleansAndErrors();
    void plainNumbers();
    void roundingAgainstDecimal();
    void halfUp_data();
    void halfUp();
    void digitsByPath_data();
    void digitsByPath();
};

void TstNumberFormat::display_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");
    auto row = [](const char* name, const QString& code, double v, const char* loc, const QString& exp) {
        QTest::newRow(name) << code << v << QString::fromLatin1(loc) << exp;
    };
    // General as a wide column shows it
    row("general int", u"General"_s, 123456789, "C", u"123456789"_s);
    row("general sum", u"General"_s, 0.1 + 0.2, "C", u"0.3"_s);
    row("general ru", u"General"_s, -2.5, "ru_RU", u"-2,5"_s);
    row("general big", u"General"_s, 1.5e20, "C", u"1.5E+20"_s);
    row("general tiny", u"General"_s, 1.25e-12, "C", u"1.25E-12"_s);
    row("general 15 digits", u"General"_s, 123456789012345.0, "C", u"123456789012345"_s);
    // digits, leading and trailing zeros
    row("leading zeros", u"00000"_s, 42, "C", u"00042"_s);
    row("trailing zeros", u"0.00"_s, 3.5, "C", u"3.50"_s);
    row("trailing zeros ru", u"0.00"_s, 3.5, "ru_RU", u"3,50"_s);
    // rounding from the 15-significant-digit decimal, a half away from zero
    row("rounding from 15 digits", u"0.00"_s, 2.675, "C", u"2.68"_s);
    row("rounding four places", u"0.0000"_s, 1.26805, "C", u"1.2681"_s);
    row("rounding one place", u"0.0"_s, 0.156, "C", u"0.2"_s);
    row("rounding negative half", u"0.00"_s, -1.005, "C", u"-1.01"_s);
    row("grouping C", u"#,##0"_s, 123456, "C", u"123,456"_s);
    row("grouping ru", u"#,##0"_s, 123456, "ru_RU", u"123\u00A0456"_s);
    row("17 digits show 15", u"0"_s, 12345678901234567.0, "C", u"12345678901234600"_s);
    row("general 17 digits", u"General"_s, 0.1 + 0.7, "C", u"0.8"_s);
    row("exponent from 15 digits", u"0.00E+00"_s, 2.675e-7, "C", u"2.68E-07"_s);
    row("half up", u"0"_s, 2.5, "C", u"3"_s);
    row("hash drops", u"#.##"_s, 0.5, "C", u".5"_s);
    row("question pads", u"0.0??"_s, 1.5, "C", u"1.5  "_s);
    row("literal digits", u"000-00-0000"_s, 123456789, "C", u"123-45-6789"_s);
    row("negative", u"0.0"_s, -1.25, "C", u"-1.3"_s);
    row("negative zero", u"0"_s, -0.2, "C", u"0"_s);
    // separators, scaling, percent
    row("thousands", u"#,##0.00"_s, 1234567.891, "C", u"1,234,567.89"_s);
    row("thousands ru", u"#,##0.00"_s, 1234567.891, "ru_RU", u"1\u00A0234\u00A0567,89"_s);
    row("thousands small", u"#,##0"_s, 12, "C", u"12"_s);
    row("scaling", u"0.0,,"_s, 12345678, "C", u"12.3"_s);
    row("scaling thousand", u"#,##0,"_s, 12345678, "C", u"12,346"_s);
    row("percent", u"0%"_s, 0.25, "C", u"25%"_s);
    row("percent dec ru", u"0.00%"_s, 0.12345, "ru_RU", u"12,35%"_s);
    // exponents
    row("exponent", u"0.00E+00"_s, 12345, "C", u"1.23E+04"_s);
    row("exponent negative", u"0.00E+00"_s, 0.000123, "C", u"1.23E-04"_s);
    row("exponent mantissa rounding up", u"0E+0"_s, 987.77, "C", u"1E+3"_s);
    row("ties away from zero", u"0.00"_s, 0.125, "C", u"0.13"_s);
    // the smallest numbers, whose shortest decimal form runs to hundreds of digits
    row("denormal", u"0.00"_s, 4.9406564584124654e-324, "C", u"0.00"_s);
    row("negative denormal grouped", u"#,##0.00"_s, -4.9406564584124654e-324, "C", u"0.00"_s);
    row("denormal many decimals", u"0.000000000000000000000000"_s, 1e-310, "C", u"0.000000000000000000000000"_s);
    row("beyond 15 digits zeros", u"0.0000000000000000000000000"_s, 1.00000000000000005e-5, "C",
        u"0.0000100000000000000000000"_s);
    row("exponent minus form", u"0.0E-0"_s, 12345, "C", u"1.2E4"_s);
    row("engineering", u"##0.0E+0"_s, 12345, "C", u"12.3E+3"_s);
    // sections, conditions, colours, literals
    row("second section", u"0;(0)"_s, -5, "C", u"(5)"_s);
    row("zero section", u"0;-0;\"zero\""_s, 0, "C", u"zero"_s);
    row("empty zero section", u"0;-0;"_s, 0, "C", u""_s);
    row("colour ignored", u"[Red]0.0"_s, 2, "C", u"2.0"_s);
    row("condition", u"[>=100]\"big\";[<0]\"neg\";0"_s, 150, "C", u"big"_s);
    row("condition else", u"[>=100]\"big\";[<0]\"neg\";0"_s, 7, "C", u"7"_s);
    row("quoted and escaped", u"\"№ \"0\\ \\к\\г"_s, 5, "ru_RU", u"№ 5 кг"_s);
    row("spacing and fill", u"_(0_);*x0"_s, 5, "C", u" 5 "_s);
    row("currency tag", u"[$€-407] #,##0.00"_s, 1000, "C", u"€ 1,000.00"_s);
    row("general with text", u"General\" шт\""_s, 3, "ru_RU", u"3 шт"_s);
    // fractions
    row("fraction", u"# ?/?"_s, 1.5, "C", u"1 1/2"_s);
    row("fraction two digits", u"# ?\?/?\?"_s, 0.3125, "C", u"  5/16"_s);
    row("fraction fixed", u"# ?/8"_s, 2.25, "C", u"2 2/8"_s);
    row("fraction improper", u"?/?"_s, 1.75, "C", u"7/4"_s);
    // a whole part or numerator beyond every integer type: its 15 digits and zeros
    row("fraction of a huge number", u"# ?/?"_s, 1e20, "C", u"100000000000000000000    "_s);
    row("fraction of a huge number, no whole part", u"?/?"_s, 2.5e20, "C", u"250000000000000000000/1"_s);
    row("fraction of a vast number", u"# ?/8"_s, -8.04046e165, "C", u"-804046"_s + QString(160, u'0') + u"    "_s);
    // a percent beyond the largest double: its digits, the point moved
    row("percent of a huge number", u"0%"_s, 1e307, "C", u"1"_s + QString(309, u'0') + u"%"_s);
    row("percent of a huge number, decimals", u"0.0%"_s, 1.5e307, "C", u"15"_s + QString(308, u'0') + u".0%"_s);
    row("percent of a huge number, exponent", u"0.00E+00%"_s, 1.5e307, "C", u"1.50E+309%"_s);
    row("fraction over 8 of the largest number", u"?/8"_s, 1.7e308, "C", u"17"_s + QString(307, u'0') + u"/1"_s);
    // dates and times, 1900 system
    row("date ru", u"dd.mm.yyyy"_s, 45360, "ru_RU", u"09.03.2024"_s);
    row("date short year", u"d/m/yy"_s, 45360, "C", u"9/3/24"_s);
    row("month names", u"d mmm yyyy"_s, 45360, "C", u"9 Mar 2024"_s);
    row("month full", u"mmmm"_s, 45360, "C", u"March"_s);
    row("month letter", u"mmmmm"_s, 45360, "C", u"M"_s);
    row("day names", u"ddd, dddd"_s, 45360, "C", u"Sat, Saturday"_s);
    row("leap bug day", u"yyyy-mm-dd"_s, 60, "C", u"1900-02-29"_s);
    row("after leap bug", u"yyyy-mm-dd"_s, 61, "C", u"1900-03-01"_s);
    row("before leap bug", u"yyyy-mm-dd"_s, 59, "C", u"1900-02-28"_s);
    row("day one", u"yyyy-mm-dd"_s, 1, "C", u"1900-01-01"_s);
    row("minutes not months", u"hh:mm:ss"_s, 0.5 + 61.0 / 86400, "C", u"12:01:01"_s);
    row("minutes before seconds", u"mm:ss"_s, 125.0 / 86400, "C", u"02:05"_s);
    row("am pm", u"h:mm AM/PM"_s, 13.5 / 24, "C", u"1:30 PM"_s);
    row("am midnight", u"h AM/PM"_s, 0.0, "C", u"12 AM"_s);
    row("a p", u"h A/P"_s, 0.25, "C", u"6 A"_s);
    row("seconds round", u"h:mm:ss"_s, 59.6 / 86400, "C", u"0:01:00"_s);
    row("seconds round into the next day", u"dd.mm.yyyy hh:mm:ss"_s, 45000 + 86399.6 / 86400, "C",
        u"16.03.2023 00:00:00"_s);
    row("tenths kept before midnight", u"dd.mm.yyyy hh:mm:ss.0"_s, 45000 + 86399.6 / 86400, "C",
        u"15.03.2023 23:59:59.6"_s);
    row("fraction of seconds", u"mm:ss.00"_s, 1.234 / 86400, "ru_RU", u"00:01,23"_s);
    row("elapsed hours", u"[h]:mm"_s, 1.5, "C", u"36:00"_s);
    row("elapsed minutes", u"[mm]:ss"_s, 1.0 / 24, "C", u"60:00"_s);
    row("date time", u"yyyy-mm-dd hh:mm"_s, 45360.75, "C", u"2024-03-09 18:00"_s);
    row("negative date", u"yyyy-mm-dd"_s, -1, "C", u"-1"_s);
    // "/" in a date is the locale's date separator; escaped or quoted it is a slash
    row("date separator ru", u"yyyy/mm/dd hh:mm"_s, 41655 + 2.0 / 3, "ru_RU", u"2014.01.16 16:00"_s);
    row("date separator en", u"yyyy/mm/dd hh:mm"_s, 41655 + 2.0 / 3, "en_US", u"2014/01/16 16:00"_s);
    row("date separator day first ru", u"d/m/yyyy"_s, 40107, "ru_RU", u"21.10.2009"_s);
    row("escaped slash ru", u"dd\\/mm"_s, 40107, "ru_RU", u"21/10"_s);
    row("quoted slash ru", u"dd\"/\"mm"_s, 40107, "ru_RU", u"21/10"_s);
    row("fraction slash is no date", u"# ?/?"_s, 1.5, "ru_RU", u"1 1/2"_s);
    // the names of the locale, and of a locale tag's language
    row("month abbreviation ru", u"d mmm yyyy"_s, 45360, "ru_RU", u"9 мар 2024"_s);
    row("month after a day ru", u"d mmmm yyyy"_s, 45360, "ru_RU", u"9 марта 2024"_s);
    row("month alone ru", u"mmmm yyyy"_s, 45360, "ru_RU", u"Март 2024"_s);
    row("weekdays ru", u"dddd, ddd"_s, 45360, "ru_RU", u"суббота, Сб"_s);
    row("tag 409 under ru", u"[$-409]mmmm d, yyyy"_s, 42592, "ru_RU", u"August 10, 2016"_s);
    row("tag 409 under en", u"[$-409]mmmm d, yyyy"_s, 42592, "en_US", u"August 10, 2016"_s);
    row("tag with calendar digits", u"[$-010409]dddd"_s, 42592, "ru_RU", u"Wednesday"_s);
    row("tag 419 under en", u"[$-419]d mmmm yyyy"_s, 42592, "en_US", u"10 августа 2016"_s);
    row("tag 419 month alone", u"[$-419]mmmm"_s, 42592, "en_US", u"Август"_s);
    // a third language takes its names from the locale data, August and Wednesday among them
    row("tag 422 month after a day", u"[$-422]d mmmm yyyy"_s, 42592, "en_US", u"10 серпня 2016"_s);
    row("tag 422 month alone", u"[$-422]mmmm"_s, 42592, "en_US", u"серпень"_s);
    row("tag 422 month abbreviation", u"[$-422]mmm"_s, 42592, "en_US", u"серп."_s);
    row("tag 422 weekdays", u"[$-422]dddd, ddd"_s, 42592, "ru_RU", u"середа, ср"_s);
    row("tag 409 am pm under ru", u"[$-409]h:mm AM/PM"_s, 0.75, "ru_RU", u"6:00 PM"_s);
    row("tag in front serves every section", u"[$-409]mmm;@"_s, 42592, "ru_RU", u"Aug"_s);
    row("system long date ru", u"[$-F800]dddd\\,\\ mmmm\\ dd\\,\\ yyyy"_s, 42592, "ru_RU", u"10 августа 2016 г."_s);
    row("system long date en", u"[$-F800]dddd\\,\\ mmmm\\ dd\\,\\ yyyy"_s, 42592, "en_US",
        u"Wednesday, August 10, 2016"_s);
    row("system long date other form", u"[$-x-sysdate]dddd, mmmm dd, yyyy"_s, 42592, "ru_RU", u"10 августа 2016 г."_s);
    row("system long time ru", u"[$-F400]h:mm:ss\\ AM/PM"_s, 42592 + 2.0 / 3, "ru_RU", u"16:00:00"_s);
    row("system long time en", u"[$-F400]h:mm:ss\\ AM/PM"_s, 42592 + 2.0 / 3, "en_US", u"4:00:00 PM"_s);
    // a currency tag shows its symbol; the separators stay the locale's
    row("euro tag under ru", u"[$€-407] #,##0.00"_s, 1000, "ru_RU", u"€ 1\u00A0000,00"_s);
    row("rouble tag under en", u"#,##0.00 [$р.-419]"_s, 1234.5, "en_US", u"1,234.50 р."_s);
    // a section chosen by a condition that only negative numbers meet stands for the sign
    row("condition below -25", u"[<-25]0;[>=25]0;0"_s, -30, "C", u"30"_s);
    row("condition at least 25", u"[<-25]0;[>=25]0;0"_s, 30, "C", u"30"_s);
    row("condition else negative", u"[<-25]0;[>=25]0;0"_s, -10, "C", u"-10"_s);
    row("condition else zero", u"[<-25]0;[>=25]0;0"_s, 0, "C", u"0"_s);
    row("condition at most -25 general", u"[<=-25]General;[>=25]General;General"_s, -25, "C", u"25"_s);
    row("condition a positive may meet", u"[>-10]0"_s, -5, "C", u"-5"_s);
    row("condition equal to a negative", u"[=-1]0;0"_s, -1, "C", u"1"_s);
    row("second section after a condition", u"[=0]?;#,##0.00"_s, -12.3, "C", u"-12.30"_s);
    // a text section after one for numbers: the numbers keep their sign
    row("number before a text section", u"0.0;@"_s, -0.01, "C", u"-0.0"_s);
    row("negative section literal", u"0.0;-0.0"_s, -0.01, "C", u"-0.0"_s);
}

void TstNumberFormat::display()
{
    QFETCH(QString, code);
    QFETCH(double, value);
    QFETCH(QString, locale);
    QFETCH(QString, expected);
    QCOMPARE(NumberFormat(code).format(value, QLocale(locale)), expected);
}

void TstNumberFormat::builtin_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0 general") << 0 << 1.5 << u"C"_s << u"1.5"_s;
    QTest::newRow("1") << 1 << 2.4 << u"C"_s << u"2"_s;
    QTest::newRow("4 ru") << 4 << 1234.5 << u"ru_RU"_s << u"1\u00A0234,50"_s;
    QTest::newRow("10") << 10 << 0.5 << u"C"_s << u"50.00%"_s;
    QTest::newRow("14 C") << 14 << 45360.0 << u"C"_s << u"3/9/2024"_s;
    // the date and time forms a spreadsheet shows under each locale
    const double at = 45360 + 13.5 / 24; // 2024-03-09 13:30
    QTest::newRow("14 en") << 14 << at << u"en_US"_s << u"3/9/2024"_s;
    QTest::newRow("14 ru") << 14 << at << u"ru_RU"_s << u"09.03.2024"_s;
    QTest::newRow("15 en") << 15 << at << u"en_US"_s << u"9-Mar-24"_s;
    QTest::newRow("15 ru") << 15 << at << u"ru_RU"_s << u"09.мар.24"_s;
    QTest::newRow("16 en") << 16 << at << u"en_US"_s << u"9-Mar"_s;
    QTest::newRow("16 ru") << 16 << at << u"ru_RU"_s << u"09.мар"_s;
    QTest::newRow("17 en") << 17 << at << u"en_US"_s << u"Mar-24"_s;
    QTest::newRow("17 ru") << 17 << at << u"ru_RU"_s << u"мар.24"_s;
    QTest::newRow("18 en") << 18 << at << u"en_US"_s << u"1:30 PM"_s;
    QTest::newRow("18 ru") << 18 << at << u"ru_RU"_s << u"1:30 PM"_s;
    QTest::newRow("19 ru") << 19 << at << u"ru_RU"_s << u"1:30:00 PM"_s;
    QTest::newRow("20 ru") << 20 << at << u"ru_RU"_s << u"13:30"_s;
    QTest::newRow("21 en") << 21 << at << u"en_US"_s << u"13:30:00"_s;
    QTest::newRow("22 en") << 22 << at << u"en_US"_s << u"3/9/2024 13:30"_s;
    QTest::newRow("22 ru") << 22 << at << u"ru_RU"_s << u"09.03.2024 13:30"_s;
    QTest::newRow("46") << 46 << 1.25 << u"C"_s << u"30:00:00"_s;
    QTest::newRow("49 text") << 49 << 7.0 << u"C"_s << u"7"_s;
    QTest::newRow("unknown") << 200 << 7.25 << u"C"_s << u"7.25"_s;
}

void TstNumberFormat::builtin()
{
    QFETCH(int, index);
    QFETCH(double, value);
    QFETCH(QString, locale);
    QFETCH(QString, expected);
    const QLocale loc(locale);
    QCOMPARE(NumberFormat(kalder::builtinFormatCode(index, loc)).format(value, loc), expected);
}

void TstNumberFormat::text_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("expected");
    QTest::newRow("general") << u"General"_s << u"abc"_s;
    QTest::newRow("number only") << u"0.00"_s << u"abc"_s;
    QTest::newRow("at") << u"@"_s << u"abc"_s;
    QTest::newRow("at literals") << u"\"<\"@\">\""_s << u"<abc>"_s;
    QTest::newRow("fourth section") << u"0;-0;0;\"t:\"@"_s << u"t:abc"_s;
    QTest::newRow("General in the text section") << u"0;-0;0;General\\ "_s << u"abc "_s;
    QTest::newRow("last section with at") << u"0.0;\"[\"@\"]\""_s << u"[abc]"_s;
}

void TstNumberFormat::text()
{
    QFETCH(QString, code);
    QFETCH(QString, expected);
    QCOMPARE(NumberFormat(code).formatText(u"abc"_s), expected);
}

void TstNumberFormat::booleansAndErrors()
{
    QCOMPARE(kalder::booleanText(true, QLocale::c()), u"TRUE"_s);
    QCOMPARE(kalder::booleanText(false, QLocale(u"ru_RU"_s)), u"ЛОЖЬ"_s);
    QCOMPARE(kalder::errorText(0x07, QLocale::c()), u"#DIV/0!"_s);
    QCOMPARE(kalder::errorText(0x2A, QLocale(u"ru_RU"_s)), u"#Н/Д"_s);
    QCOMPARE(NumberFormat(u"yyyy"_s).format(0, QLocale::c(), true), u"1904"_s);
}

void TstNumberFormat::plainNumbers()
{
    // Whenever the renderer says a value shows as a plain decimal, its text is one, and reading
    // that text gives the very number it reported; the common decimal formats do say so.
    const QStringList codes{u"0"_s,       u"0.00"_s,        u"0.000000"_s,      u"#,##0.00"_s,
                            u"#,##0"_s,   u"00000"_s,       u"#.00"_s,          u"0."_s,
                            u"0%"_s,      u"0.00;(0.00)"_s, u"0.00\\ \"kg\""_s, u"[<0]0.0;0.00"_s,
                            u"General"_s, u"0.00E+00"_s,    u"dd.mm.yyyy"_s,    u"0.0000000000000000000000000"_s};
    QList<double> values{0,     -0.0,  0.004,   -0.004,   0.005,       0.125, 2.675,
                         1.005, -1.5,  999.995, 1000,     -123456.789, 1e15,  9007199254740993.0,
                         1e22,  1e300, -1e-300, 4.9e-324, 65535.99};
    QRandomGenerator rng(17);
    for (int i = 0; i < 4000; ++i) {
        const double v = (rng.generateDouble() - 0.5) * std::pow(10.0, rng.bounded(-6, 20));
        values.append(i % 3 == 0 ? std::round(v * 100) / 100 : v);
    }
    for (const char* name : {"C", "ru_RU"}) {
        const QLocale locale{QString::fromLatin1(name)};
        for (const QString& code : codes) {
            const NumberFormat format(code);
            int plain = 0;
            for (const double v : values) {
                double shown = 0;
                if (!format.plainNumber(v, locale, shown))
                    continue;
                ++plain;
                QByteArray text = format.format(v, locale).toUtf8();
                text.replace(locale.decimalPoint().toUtf8(), ".");
                const qsizetype digits = text.startsWith('-') ? 1 : 0;
                QVERIFY2(text.size() > digits &&
                             (text[digits] != '0' || text.size() == digits + 1 || text[digits + 1] == '.'),
                         text.constData());
                for (qsizetype k = digits; k < text.size(); ++k)
                    QVERIFY2((text[k] >= '0' && text[k] <= '9') ||
                                 (text[k] == '.' && k > digits && k + 1 < text.size()),
                             text.constData());
                double read = 0;
                QVERIFY(std::from_chars(text.constData(), text.constData() + text.size(), read).ec == std::errc());
                QVERIFY2(std::memcmp(&read, &shown, sizeof read) == 0,
                         qPrintable(u"%1 in %2: %3 against %4"_s.arg(v, 0, 'g', 17)
                                        .arg(code, QString::fromLatin1(text))
                                        .arg(shown, 0, 'g', 17)));
            }
            const bool common = code == u"0" || code == u"0.00" || code == u"0.000000" || code == u"#,##0.00";
            QVERIFY2(!common || plain > int(values.size()) / 4, qPrintable(code));
        }
    }
}

namespace {
// The text a value shows with the given decimals, worked out on its printed 15-digit decimal
// with string arithmetic: the reference the renderer's fast paths must agree with.
QByteArray decimalReference(double v, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.14e", std::fabs(v));
    QByteArray digits;
    for (const char* p = text; *p != 'e'; ++p)
        if (*p != '.')
            digits.append(*p);
    const int exponent = std::atoi(std::strchr(text, 'e') + 1);
    // the digits as a whole number of units of 10^-decimals, before rounding: pad or cut
    const int keep = exponent + decimals + 1;
    QByteArray kept = keep <= 0 ? QByteArray("0") : digits.left(keep);
    if (keep > digits.size())
        kept.append(QByteArray(keep - digits.size(), '0'));
    const char next = keep < 0 ? '0' : keep < digits.size() ? digits[keep] : '0';
    if (next >= '5') {
        int i = int(kept.size());
        while (i-- > 0 && kept[i] == '9')
            kept[i] = '0';
        if (i < 0)
            kept.prepend('1');
        else
            ++kept[i];
    }
    while (kept.size() > 1 && kept[0] == '0')
        kept.remove(0, 1);
    if (kept.size() <= decimals)
        kept.prepend(QByteArray(decimals + 1 - kept.size(), '0'));
    if (decimals > 0)
        kept.insert(kept.size() - decimals, '.');
    const bool zero = kept.count('0') + kept.count('.') == kept.size();
    return (v < 0 && !zero ? "-" : "") + kept;
}
// General's text of the same decimal: its digits without trailing zeros, in fixed notation
// from 10^-9 to below 10^15, else as d.dddE+xx.
QByteArray generalReference(double v)
{
    if (v == 0)
        return "0";
    char text[64];
    std::snprintf(text, sizeof text, "%.14e", std::fabs(v));
    QByteArray digits;
    for (const char* p = text; *p != 'e'; ++p)
        if (*p != '.')
            digits.append(*p);
    const int exponent = std::atoi(std::strchr(text, 'e') + 1);
    while (digits.size() > 1 && digits.endsWith('0'))
        digits.chop(1);
    QByteArray out = v < 0 ? "-" : "";
    if (exponent >= 15 || exponent < -9) {
        out += digits.left(1);
        if (digits.size() > 1)
            out += "." + digits.mid(1);
        return out + QByteArray(exponent < 0 ? "E-" : "E+") +
               QByteArray::number(std::abs(exponent)).rightJustified(2, '0');
    }
    if (exponent < 0)
        return out + "0." + QByteArray(-exponent - 1, '0') + digits;
    if (digits.size() <= exponent + 1)
        return out + digits + QByteArray(exponent + 1 - digits.size(), '0');
    return out + digits.left(exponent + 1) + "." + digits.mid(exponent + 1);
}
} // namespace

void TstNumberFormat::roundingAgainstDecimal()
{
    // Every way the renderer takes to a number's digits (whole numbers, the scaled integer, the
    // 15-digit decimal) gives the text the decimal arithmetic gives, ties and near ties included.
    QRandomGenerator rng(29);
    QList<double> values{
        2.675, 1.26805, 0.156, 1.005, 0.125, 999.995, 1e15 + 0.5, 123456789012.345, 4503599627370497.0};
    for (int i = 0; i < 20000; ++i) {
        const double scale = std::pow(10.0, rng.bounded(-8, 18));
        double v = (rng.generateDouble() - 0.5) * scale;
        if (i % 4 == 1)
            v = std::round(v * 1000) / 1000 + 0.0005; // a written half of the last place
        if (i % 4 == 2)
            v = std::nextafter(std::round(v * 100) / 100 + 0.005, i % 8 < 4 ? 0.0 : 1e300);
        values.append(v);
    }
    for (double p = 1e-10; p < 1e17; p *= 10) // around the powers of ten
        values << p << std::nextafter(p, 0.0) << std::nextafter(p, 1e300) << p * 0.99999999999999994 << -p;
    const NumberFormat general(u"General"_s);
    for (const double v : values)
        QVERIFY2(general.format(v, QLocale::c()).toLatin1() == generalReference(v),
                 qPrintable(u"%1 in General: %2 against %3"_s.arg(v, 0, 'g', 17)
                                .arg(general.format(v, QLocale::c()), QString::fromLatin1(generalReference(v)))));
    for (int decimals : {0, 1, 2, 3, 4, 6, 9, 12}) {
        const NumberFormat format(decimals == 0 ? u"0"_s : u"0."_s + QString(decimals, u'0'));
        for (const double v : values) {
            const QByteArray shown = format.format(v, QLocale::c()).toLatin1();
            QVERIFY2(
                shown == decimalReference(v, decimals),
                qPrintable(u"%1 with %2 decimals: %3 against %4"_s.arg(v, 0, 'g', 17)
                               .arg(decimals)
                               .arg(QString::fromLatin1(shown), QString::fromLatin1(decimalReference(v, decimals)))));
        }
    }
}

void TstNumberFormat::halfUp_data()
{
    QTest::addColumn<qint64>("whole");
    QTest::addColumn<double>("rest");
    QTest::addColumn<double>("doubt");
    QTest::addColumn<qint64>("expected"); // -1: too near a half to tell
    QTest::newRow("below a half") << qint64(2) << 0.49 << 0.0 << qint64(2);
    QTest::newRow("a half goes up") << qint64(2) << 0.5 << 0.0 << qint64(3);
    QTest::newRow("above a half") << qint64(2) << 0.51 << 0.0 << qint64(3);
    QTest::newRow("a half, in doubt") << qint64(2) << 0.5 << 0.0625 << qint64(-1);
    QTest::newRow("near a half, in doubt") << qint64(2) << 0.45 << 0.0625 << qint64(-1);
    QTest::newRow("clear of the doubt, down") << qint64(7) << 0.4 << 0.0625 << qint64(7);
    QTest::newRow("clear of the doubt, up") << qint64(7) << 0.6 << 0.0625 << qint64(8);
}

// The one rounding of the renderer: a half up, nothing when the fraction is too near a half.
void TstNumberFormat::halfUp()
{
    QFETCH(qint64, whole);
    QFETCH(double, rest);
    QFETCH(double, doubt);
    QFETCH(qint64, expected);
    const auto rounded = kalder::numfmt::roundHalfUp(whole, rest, doubt);
    QCOMPARE(rounded.value_or(-1), expected);
}

void TstNumberFormat::digitsByPath_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("whole number, exact") << 42.0 << 2 << QByteArray("42.00");
    QTest::newRow("scaled integer") << 3.14159 << 3 << QByteArray("3.142");
    QTest::newRow("double below the half, decimal at it") << 2.675 << 2 << QByteArray("2.68");
    QTest::newRow("nines carry into a new digit") << 9.9995 << 3 << QByteArray("10.000");
    QTest::newRow("nines carry, no decimals") << 99999.5 << 0 << QByteArray("100000");
    QTest::newRow("below the last place, up") << 0.0006 << 3 << QByteArray("0.001");
    QTest::newRow("below the last place, down") << 0.0004 << 3 << QByteArray("0.000");
    QTest::newRow("a written half of the last place") << 0.0005 << 3 << QByteArray("0.001");
    QTest::newRow("17 digits show 15") << 12345678901234567.0 << 0 << QByteArray("12345678901234600");
    QTest::newRow("more places than 15 digits") << 0.1 << 20 << QByteArray("0.10000000000000000000");
    QTest::newRow("zero") << 0.0 << 2 << QByteArray("0.00");
}

// Each way to a value's digits (the exact whole number, the scaled integer, the 15-digit decimal
// rounded to the places) gives the decimal's digits, carries included.
void TstNumberFormat::digitsByPath()
{
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QByteArray, expected);
    kalder::numfmt::Digits digits;
    kalder::numfmt::fixedDigits(value, decimals, digits);
    QCOMPARE(QByteArray(digits.data(), digits.size()), expected);
}

QTEST_GUILESS_MAIN(TstNumberFormat)
#include "tst_number_format.moc"
