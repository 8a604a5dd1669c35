// Cell values as .xlsx, .ods and .csv files write them in text: numbers in the C locale, dates
// and times in ISO 8601, error values by their names; and the Windows code pages in which
// 8-bit texts (.csv, older .xls) are written.
#pragma once

#include <QLocale>
#include <QString>

#include <string_view>

namespace kalder {

// A number written with "." as the decimal point, spaces around it allowed; false when the
// text is not one whole number.
bool parseNumber(std::string_view text, double& value);

// The serial day number of an ISO 8601 date, date and time or time ("2024-03-09",
// "2024-03-09T13:05:09.5Z", "13:05:09") in the 1900 or the 1904 date system; false when the
// text is not such a date.
bool isoDateSerial(std::string_view text, bool date1904, double& serial);

// An ISO 8601 duration ("PT13H05M09S", "P1DT2H") in days; false when the text is not one.
bool isoDurationDays(std::string_view text, double& days);

// The Windows code page of the locale's language (1251 for Russian, 1252 for English).
int windowsCodePage(const QLocale& locale);
// The codec name of a Windows code page ("windows-1251"), or null for one without a codec.
const char* codePageName(int codePage);

// The code of an error value by its text ("#DIV/0!" is 0x07), or -1 for another text.
int errorCode(const QString& text);

} // namespace kalder
