// The decimal digits of a value as a spreadsheet shows them: its 15 significant digits, then
// those rounded to the places a format shows, a half away from zero. Every rounding here goes
// through roundHalfUp(); only the way to the digits differs, by what is exact.
#include "workbook/readers/number_format_parts.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace kalder::numfmt {

namespace {

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

} // namespace

Significant significant15(double a)
{
    Significant s;
    // Most values: the value scaled to an integer of 15 digits. Below 2^50 the scaled double
    // lies within 2^-4 of the exact product, so a fraction farther than that from one half
    // rounds as the exact value does.
    int power = int(std::floor(std::log10(a))); // one off near a power of ten at most
    for (int tries = 0; tries < 3; ++tries) {
        const int decimals = 14 - power;
        if (decimals < 0 || decimals > 22)
            break;
        const double m = a * powersOfTen[decimals];
        if (m < 1e14 || m >= 1e15) {
            power += m < 1e14 ? -1 : 1;
            continue;
        }
        const double whole = std::floor(m);
        const auto rounded = roundHalfUp(qint64(whole), m - whole, 0.0625);
        if (!rounded)
            break;
        const qint64 v = *rounded;
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
        if (*p != '.')
            s.digits[k++] = *p;
    std::memset(s.digits + k, '0', size_t(15 - k));
    s.exponent = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), r.ptr, s.exponent);
    return s;
}

void roundedDigits(const Significant& s, int shift, int decimals, Digits& out)
{
    // digits[k] stands for 10^(exponent + shift - k); those down to 10^-decimals are kept
    const qint64 keep = qint64(s.exponent) + shift + decimals + 1;
    if (keep > 100000) { // a format cannot ask for so many places; the digits would not fit
        out.clear();
        out.append(s.digits, 15);
        return;
    }
    if (keep <= 0) {
        // below the last place: at most half of it when the first digit is the place's next
        const char kept = keep == 0 && s.digits[0] >= '5' ? '1' : '0';
        placePoint(&kept, 1, decimals, out);
    } else if (keep >= 15) {
        Digits kept;
        kept.append(s.digits, 15);
        kept.resize(qsizetype(keep), '0');
        placePoint(kept.data(), kept.size(), decimals, out);
    } else {
        // the first keep digits as an integer, and the digits after them as its fraction: the
        // 15 digits are exact in an integer, the fraction against one half too
        qint64 all = 0;
        for (const char d : s.digits)
            all = all * 10 + (d - '0');
        qint64 unit = 1;
        for (qint64 k = keep; k < 15; ++k)
            unit *= 10;
        const qint64 kept = *roundHalfUp(all / unit, double(all % unit) / double(unit));
        char digits[24];
        const qsizetype n = std::to_chars(digits, digits + sizeof digits, kept).ptr - digits; // one more when 9s carry
        placePoint(digits, n, decimals, out);
    }
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

} // namespace kalder::numfmt
