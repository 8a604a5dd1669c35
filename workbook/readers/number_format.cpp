// The rendering of a number in its format: the section a value takes (by sign or by
// condition), and the number filled into that section's placeholders, General's form, or a
// fraction; dates are serial_date.cpp's. The plain decimals that a reader of numbers takes
// without the text are found here too, by the same digits.
#include "workbook/readers/number_format_parts.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace kalder {

namespace numfmt {

void appendGeneral(TextBuilder& out, double value, const QLocale& locale)
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
    if (value < 0)
        out.add(u'-');
    if (a < 1e15 && a == std::floor(a)) {
        out.addNumber(qint64(a));
        return;
    }
    // up to 15 significant digits, without the zeros after the last that is not one
    const Significant s = significant15(a);
    qsizetype n = 15;
    while (n > 1 && s.digits[n - 1] == '0')
        --n;
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

namespace {

// A digit placeholder's character, compared without a call.
bool placeIs(const Token& t, char16_t c) { return t.text.size() == 1 && t.text.front() == c; }

bool isLiteral(const Token& t) { return t.kind == Token::Literal || t.kind == Token::Point; }

void addLiteral(TextBuilder& out, const Token& t, const LocaleTexts& lt)
{
    if (t.kind == Token::Point)
        out.add(lt.decimalPoint);
    else
        out.add(t.text);
}

// Fills the integer placeholders right to left with the digits; the leftmost takes the rest.
void fillInteger(TextBuilder& out, const NumberPlan& plan, const char* digits, qsizetype len, const LocaleTexts& lt)
{
    const auto& toks = plan.intT;
    if (len == 1 && digits[0] == '0' && !plan.anyZero)
        len = 0;
    const qsizetype places = plan.intPlaces;
    if (places == 0) {
        out.addAscii(digits, len);
        for (const Token& t : toks)
            if (isLiteral(t))
                addLiteral(out, t, lt);
        return;
    }
    if (plan.grouping) {
        // the placeholders beyond the digits, then the digits, grouped by threes from the right
        QVarLengthArray<char16_t, 64> all;
        qsizetype k = 0;
        for (const Token& t : toks) {
            if (t.kind != Token::Digit)
                continue;
            if (k++ >= places - len)
                continue;
            if (placeIs(t, u'0'))
                all.append(u'0');
            else if (placeIs(t, u'?'))
                all.append(u' ');
        }
        for (qsizetype i = 0; i < len; ++i)
            all.append(char16_t(digits[i]));
        QVarLengthArray<qsizetype, 32> breaks; // positions before which a separator goes
        int count = 0;
        for (qsizetype i = all.size(); i-- > 0;) {
            if (count > 0 && count % 3 == 0 && all[i] != u' ')
                breaks.append(i + 1);
            ++count;
        }
        bool placed = false;
        qsizetype firstPlace = -1, lastPlace = -1;
        for (qsizetype i = 0; i < qsizetype(toks.size()); ++i)
            if (toks[size_t(i)].kind == Token::Digit) {
                if (firstPlace < 0)
                    firstPlace = i;
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
            if (isLiteral(t))
                addLiteral(out, t, lt);
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
        if (from >= 0 && to > from)
            out.addAscii(digits + from, to - from);
        else if (placeIs(t, u'0'))
            out.add(u'0');
        else if (placeIs(t, u'?'))
            out.add(u' ');
    }
}

// Fills the decimal placeholders left to right; trailing zeros of "#" and "?" are not shown.
void fillFraction(TextBuilder& out, const std::vector<Token>& toks, const char* digits, qsizetype len,
                  const LocaleTexts& lt)
{
    // the last placeholder that shows its digit
    qsizetype places = 0;
    for (const Token& t : toks)
        if (t.kind == Token::Digit)
            ++places;
    qsizetype shown = places;
    {
        qsizetype k = places;
        for (auto it = toks.rbegin(); it != toks.rend(); ++it) {
            if (it->kind != Token::Digit)
                continue;
            --k;
            const char d = k < len ? digits[k] : '0';
            if (d != '0' || placeIs(*it, u'0'))
                break;
            shown = k;
        }
    }
    qsizetype k = 0;
    for (const Token& t : toks) {
        if (t.kind != Token::Digit) {
            if (isLiteral(t))
                addLiteral(out, t, lt);
            continue;
        }
        if (k < shown)
            out.add(char16_t(k < len ? digits[k] : '0'));
        else if (placeIs(t, u'?'))
            out.add(u' ');
        ++k;
    }
}

// The digits of a whole number however large, as a spreadsheet shows it (its first 15
// significant digits, then zeros).
QString wholeDigits(double v)
{
    Digits d;
    fixedDigits(v, 0, d);
    return QString::fromLatin1(d.data(), d.size());
}

// A fraction section: a whole part when it has one, the numerator over a fixed denominator
// or over the nearest of as many digits as its placeholders.
QString fractionText(const Section& sec, double value, bool withSign)
{
    const auto& t = sec.tokens;
    size_t slash = 0;
    while (slash < t.size() && t[slash].kind != Token::Slash)
        ++slash;
    // denominator: fixed digits or placeholders after the slash
    size_t k = slash + 1;
    QString denText;
    int denPlaces = 0;
    bool denQ = false;
    while (k < t.size() && (t[k].kind == Token::Digit ||
                            (t[k].kind == Token::Literal && !t[k].text.isEmpty() && t[k].text[0].isDigit()))) {
        if (t[k].kind == Token::Literal) {
            qsizetype j = 0;
            while (j < t[k].text.size() && t[k].text[j].isDigit())
                ++j;
            denText += t[k].text.left(j);
            if (j < t[k].text.size())
                break;
        } else {
            denText += t[k].text;
            ++denPlaces;
            if (t[k].text == u"?")
                denQ = true;
        }
        ++k;
    }
    const size_t denEnd = k;
    int fixedDen = 0;
    if (!denText.isEmpty() && denText[0] >= u'1' && denText[0] <= u'9') {
        bool ok = false;
        fixedDen = denText.toInt(&ok);
        if (!ok)
            fixedDen = 0;
    }
    // numerator: placeholders just before the slash; whole part: placeholders before those
    size_t numBegin = slash;
    while (numBegin > 0 && t[numBegin - 1].kind == Token::Digit)
        --numBegin;
    const int numPlaces = int(slash - numBegin);
    bool numQ = false;
    for (size_t i = numBegin; i < slash; ++i)
        numQ = numQ || t[i].text == u"?";
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
    // the numerator as a whole double: without a whole part it may be beyond any integer type
    double num = 0;
    qint64 den = 1;
    if (fixedDen > 0) {
        den = fixedDen;
        num = std::round(frac * double(den));
        if (!std::isfinite(num)) { // a numerator beyond every double: the number over 1
            num = frac;
            den = 1;
        }
    } else {
        const int places = std::clamp(denPlaces, 1, 4);
        const int maxDen = int(std::pow(10, places)) - 1;
        double best = 2;
        for (int d = 1; d <= maxDen; ++d) {
            const double n = std::round(frac * d);
            const double err = std::fabs(frac - n / d);
            if (err < best - 1e-12) {
                best = err;
                num = n;
                den = d;
            }
        }
    }
    if (hasWhole && num == double(den)) {
        whole += 1;
        num = 0;
    }
    QString out;
    if (withSign && value < 0 && (whole != 0 || num != 0))
        out += u'-';
    for (size_t i = 0; i < numBegin; ++i) {
        if (t[i].kind == Token::Literal) {
            if (i < wholeEnd || whole != 0 || num == 0 || !hasWhole)
                out += t[i].text;
            else
                out += QString(t[i].text.size(), u' ');
        } else if (t[i].kind == Token::Digit && i + 1 == wholeEnd) {
            if (whole != 0 || num == 0)
                out += wholeDigits(whole);
        }
    }
    QString fracPart;
    if (num == 0 && hasWhole) {
        fracPart = QString(numPlaces + 1 + std::max(denPlaces, int(denText.size())), u' ');
        // the literal between the whole number and the fraction is blank too
        if (out.endsWith(u' '))
            out.chop(1), fracPart += u' ';
        out = out.trimmed().isEmpty() ? u"0"_s : out;
        if (whole == 0 && !out.endsWith(u'0'))
            out += u'0';
    } else {
        QString ns = wholeDigits(num);
        if (numQ)
            ns = ns.rightJustified(numPlaces, u' ');
        QString ds = QString::number(den);
        if (denQ && fixedDen == 0)
            ds = ds.leftJustified(denPlaces, u' ');
        fracPart = ns + u'/' + ds;
    }
    out += fracPart;
    for (size_t i = denEnd; i < t.size(); ++i)
        if (t[i].kind == Token::Literal)
            out += t[i].text;
    return out;
}

// Whether every digit shown is a zero: a format of one section then shows no minus.
bool onlyZeros(const Digits& s)
{
    for (char ch : s)
        if (ch >= '1' && ch <= '9')
            return false;
    return true;
}

void addSign(TextBuilder& out, bool negative, Sign sign, const Digits& s, const LocaleTexts& lt)
{
    if (negative && !(sign == Sign::ShownUnlessZero && onlyZeros(s)))
        out.add(lt.negativeSign);
}

// The digits of a times 10^shift with the given decimals: the point of a's digits, taken
// with shift more decimals, moved right (a percent of a number near the largest double is
// beyond every double, not beyond its digits).
void shiftedDigits(double a, int shift, int decimals, Digits& s)
{
    if (shift == 0)
        return fixedDigits(a, decimals, s);
    fixedDigits(a, decimals + shift, s);
    const qsizetype dot = std::find(s.begin(), s.end(), '.') - s.begin();
    std::rotate(s.begin() + dot, s.begin() + dot + 1, s.begin() + dot + 1 + shift);
    if (decimals == 0)
        s.resize(s.size() - 1); // the point, now last
}

// A section of the common shape: the digits, zeros before them up to the "0" placeholders,
// grouped by threes when asked, the decimals and the literals after them.
void renderSimple(TextBuilder& out, const NumberPlan& p, double a, int shift, bool negative, Sign sign,
                  const LocaleTexts& lt)
{
    Digits s;
    shiftedDigits(a, shift, p.fracDigits, s);
    const char* d = s.data();
    const qsizetype dot = p.fracDigits > 0 ? s.size() - p.fracDigits - 1 : s.size();
    addSign(out, negative, sign, s, lt);
    const qsizetype len = dot == 1 && d[0] == '0' && p.minInt == 0 ? 0 : dot;
    const qsizetype zeros = std::max<qsizetype>(0, p.minInt - len);
    const qsizetype all = zeros + len;
    for (qsizetype i = 0; i < all; ++i) {
        if (p.grouping && i > 0 && (all - i) % 3 == 0)
            out.add(lt.groupSeparator);
        out.add(i < zeros ? u'0' : char16_t(d[i - zeros]));
    }
    if (p.point)
        out.add(lt.decimalPoint);
    if (p.fracDigits > 0)
        out.addAscii(d + dot + 1, p.fracDigits);
    out.add(p.suffix);
}

// A section with an exponent: the mantissa's digits with their point into s, and the exponent
// ("E+05") placed among the literals of its part into expText.
void scientific(const NumberPlan& p, double a, int shift, const LocaleTexts& lt, Digits& s, TextBuilder& expText)
{
    int e = 0;
    if (a != 0 && std::isfinite(a)) {
        // the mantissa from the 15-digit decimal, so that it rounds as a fixed number does
        Significant d = significant15(a);
        d.exponent += shift;
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
    TextBuilder mark;
    mark.add(u'E');
    if (e < 0)
        mark.add(u'-');
    else if (p.expSign == u"+")
        mark.add(u'+');
    mark.addNumber(std::abs(e), std::max(1, p.expDigits));
    bool placed = false;
    for (const Token& t : p.expT) {
        if (isLiteral(t)) {
            if (t.kind == Token::Point)
                expText.add(lt.decimalPoint);
            else
                expText.add(t.text);
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

// A numeric section: the value scaled by its percents and trailing commas, its digits filled
// into the placeholders.
void renderNumber(TextBuilder& out, const NumberPlan& p, double value, Sign sign, const LocaleTexts& lt)
{
    const bool negative = sign != Sign::None && value < 0;
    double a = std::fabs(value);
    int shift = 0; // the powers of ten of percents that no double holds, taken in the digits
    for (int i = 0; i < p.percents; ++i) {
        if (a > std::numeric_limits<double>::max() / 100)
            shift += 2;
        else
            a *= 100;
    }
    for (int i = 0; i < p.scale; ++i)
        a /= 1000;
    if (p.simple)
        return renderSimple(out, p, a, shift, negative, sign, lt);

    Digits s; // the digits shown, with their point
    TextBuilder expText;
    if (!p.expSign.isEmpty())
        scientific(p, a, shift, lt, s, expText);
    if (s.isEmpty())
        shiftedDigits(a, shift, p.fracDigits, s);
    const qsizetype dot = std::find(s.begin(), s.end(), '.') - s.begin();
    addSign(out, negative, sign, s, lt);
    fillInteger(out, p, s.data(), dot, lt);
    if (p.point) {
        out.add(lt.decimalPoint);
        if (dot < s.size())
            fillFraction(out, p.fracT, s.data() + dot + 1, s.size() - dot - 1, lt);
        else
            fillFraction(out, p.fracT, nullptr, 0, lt);
    }
    out.add(expText.view());
}

void renderSection(TextBuilder& out, const Section& sec, double value, Sign sign, const QLocale& locale, bool date1904)
{
    const bool withSign = sign != Sign::None && value < 0;
    switch (sec.shape) {
    case Shape::Date:
        return renderDate(out, sec, value, locale, date1904);
    case Shape::Fraction:
        return out.add(fractionText(sec, value, sign != Sign::None));
    case Shape::General: {
        if (withSign)
            out.add(localeTexts(locale).negativeSign);
        for (const Token& t : sec.tokens) {
            if (t.kind == Token::Literal)
                out.add(t.text);
            else if (t.kind == Token::GeneralNum)
                appendGeneral(out, std::fabs(value), locale);
        }
        return;
    }
    case Shape::LiteralsOnly:
    case Shape::Text: {
        // a section of literals only ("zero", "-") shows them without the number
        for (const Token& t : sec.tokens)
            if (t.kind == Token::Literal)
                out.add(t.text);
        return;
    }
    case Shape::Number:
        return renderNumber(out, sec.plan, value, sign, localeTexts(locale));
    }
}

} // namespace

} // namespace numfmt

using namespace numfmt;

QString generalText(double value, const QLocale& locale)
{
    TextBuilder out;
    appendGeneral(out, value, locale);
    return out.take();
}

bool NumberFormat::plainNumber(double value, const QLocale& locale, double& out) const
{
    // the section formatInto() takes, when it is a simple one with one "0" before the point
    if (m_general || m_sections.empty() || m_conditional || !std::isfinite(value))
        return false;
    if (m_sections.size() > 1 && !(value > 0))
        return false;
    const Section& sec = m_sections[0];
    const NumberPlan& p = sec.plan;
    if (sec.shape != Shape::Number || !p.simple || p.minInt != 1 || p.percents != 0 || p.scale != 0 ||
        !p.suffix.isEmpty() || p.point != (p.fracDigits > 0))
        return false;
    if (!localeTexts(locale).plainSigns)
        return false;

    // The shown digits as one integer, when it is exact in a double; then the quotient by the
    // power of ten, both exact, is the correctly rounded value of the decimal.
    const int decimals = p.fracDigits;
    const double a = std::fabs(value);
    quint64 shown = 0;
    if (qint64 scaled; scaledDigits(a, decimals, scaled)) {
        // its digits with the point before the last decimals: a separator from 10^(3 + decimals)
        if (p.grouping && decimals + 3 <= 22 && double(scaled) >= powersOfTen[decimals + 3])
            return false;
        shown = quint64(scaled);
    } else {
        Digits s;
        fixedDigits(a, decimals, s);
        const qsizetype dot = decimals > 0 ? s.size() - decimals - 1 : s.size();
        if (dot < 1 || (p.grouping && dot > 3) || s.size() > 39)
            return false; // no separator; short enough to read
        bool zero = true; // the digits, not their integer, which may wrap around
        for (char c : s)
            if (c != '.') {
                shown = shown * 10 + quint64(c - '0');
                zero = zero && c == '0';
            }
        const bool exact = s.size() <= 19 && decimals <= 22 && shown < (quint64(1) << 53);
        if (!exact && !zero) {
            double v;
            if (std::from_chars(s.data(), s.data() + s.size(), v).ec != std::errc())
                return false;
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
    TextBuilder out;
    formatInto(out, value, locale, date1904);
    return out.take();
}

void NumberFormat::format(double value, const QLocale& locale, bool date1904, QString& out) const
{
    TextBuilder b;
    formatInto(b, value, locale, date1904);
    b.copyTo(out);
}

void NumberFormat::formatInto(TextBuilder& out, double value, const QLocale& locale, bool date1904) const
{
    if (m_general || m_numeric == 0 || std::isnan(value) || std::isinf(value))
        return appendGeneral(out, value, locale);

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
            case Condition::Less:
                hit = value < c;
                break;
            case Condition::LessEqual:
                hit = value <= c;
                break;
            case Condition::Greater:
                hit = value > c;
                break;
            case Condition::GreaterEqual:
                hit = value >= c;
                break;
            case Condition::NotEqual:
                hit = value != c;
                break;
            default:
                hit = value == c;
                break;
            }
            if (hit) {
                sec = &s;
                // a condition that no positive number meets ([<0], [<=-25], [=-1]) stands for
                // the sign, as the negative section does
                const bool onlyNegative =
                    ((s.condition == Condition::Less || s.condition == Condition::LessEqual) && c <= 0) ||
                    (s.condition == Condition::Equal && c < 0);
                if (onlyNegative)
                    sign = Sign::None;
            }
        }
        if (!sec)
            return appendGeneral(out, value, locale);
    } else if (m_numeric == 1 || value > 0) {
        sec = &m_sections[0];
    } else if (value < 0) {
        sec = &m_sections[1];
        sign = Sign::None;
    } else {
        sec = &m_sections[m_numeric >= 3 ? 2 : 0];
    }
    if (sec->shape == Shape::Text)
        return appendGeneral(out, value, locale);
    renderSection(out, *sec, value, sign, locale, date1904);
}

QString NumberFormat::formatText(const QString& text) const
{
    if (m_textSection < 0)
        return text;
    // "@" and "General" both stand for the text there
    QString out;
    for (const Token& t : m_sections[size_t(m_textSection)].tokens) {
        if (t.kind == Token::Literal)
            out += t.text;
        else if (t.kind == Token::Text || t.kind == Token::GeneralNum)
            out += text;
    }
    return out;
}

QString displayText(double value, const QString& code, const QLocale& locale, bool date1904)
{
    return NumberFormat(code).format(value, locale, date1904);
}

} // namespace kalder
