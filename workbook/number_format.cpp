#include "workbook/number_format.h"

#include <QDate>
#include <cmath>
#include <cstdint>

using namespace Qt::Literals::StringLiterals;

namespace kalder {

namespace {

bool isRussian(const QLocale& locale) { return locale.language() == QLocale::Russian; }

// The locale's short date as a spreadsheet format code ("dd.mm.yyyy", "m/d/yyyy").
QString shortDateCode(const QLocale& locale)
{
    if (locale.language() == QLocale::C || (locale.language() == QLocale::English && locale.territory() == QLocale::UnitedStates))
        return u"m/d/yyyy"_s;
    QString code = locale.dateFormat(QLocale::ShortFormat);
    QString out;
    for (QChar c : code) {
        if (c == u'M') out += u'm';
        else if (c == u'd' || c == u'y' || c == u'm') out += c;
        else if (c.isLetter()) continue;
        else out += c;
    }
    return out.isEmpty() ? u"m/d/yyyy"_s : out;
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
                const qsizetype dash = inner.indexOf(u'-');
                literal(inner.mid(1, dash < 0 ? -1 : dash - 1));
            } else if (!inner.isEmpty() && (inner[0] == u'<' || inner[0] == u'>' || inner[0] == u'=')) {
                qsizetype k = 0;
                while (k < inner.size() && (inner[k] == u'<' || inner[k] == u'>' || inner[k] == u'=')) ++k;
                bool ok = false;
                const double v = inner.mid(k).trimmed().toDouble(&ok);
                if (ok) {
                    sec.hasCondition = true;
                    sec.conditionOp = inner.left(k);
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
        else if (t.kind == Token::Slash) t = {Token::Literal, u"/"_s};
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

QString pad2(qint64 v) { return QString::number(v).rightJustified(2, u'0'); }

// Fills the integer placeholders right to left with the digits; the leftmost takes the rest.
QString fillInteger(const std::vector<Token>& toks, QString digits, bool grouping, const QLocale& locale)
{
    std::vector<size_t> ph;
    bool anyZero = false;
    for (size_t i = 0; i < toks.size(); ++i)
        if (toks[i].kind == Token::Digit) {
            ph.push_back(i);
            if (toks[i].text == u"0") anyZero = true;
        }
    if (digits == u"0" && !anyZero) digits.clear();
    if (ph.empty()) {
        QString out;
        for (const Token& t : toks)
            if (t.kind == Token::Literal) out += t.text;
        return digits + out;
    }
    if (grouping) {
        QString body;
        const qsizetype len = digits.size();
        for (size_t k = 0; k < ph.size(); ++k) {
            const size_t pos = ph.size() - 1 - k; // k-th from the right
            const QString& p = toks[ph[pos]].text;
            if (qsizetype(k) < len) continue;
            if (p == u"0") body.prepend(u'0');
            else if (p == u"?") body.prepend(u' ');
        }
        QString all = body + digits;
        QString grouped;
        int count = 0;
        for (qsizetype i = all.size(); i-- > 0;) {
            if (count > 0 && count % 3 == 0 && all[i] != u' ') grouped.prepend(locale.groupSeparator());
            grouped.prepend(all[i]);
            ++count;
        }
        QString out;
        bool placed = false;
        for (size_t i = 0; i < toks.size(); ++i) {
            if (toks[i].kind == Token::Literal && (i < ph.front() || i > ph.back())) out += toks[i].text;
            else if (toks[i].kind == Token::Digit && !placed) {
                out += grouped;
                placed = true;
            }
        }
        return out;
    }
    std::vector<QString> fill(toks.size());
    qsizetype di = digits.size();
    for (size_t k = ph.size(); k-- > 0;) {
        const QString& p = toks[ph[k]].text;
        if (k == 0) fill[ph[k]] = digits.left(di);
        else if (di > 0) fill[ph[k]] = digits.mid(--di, 1);
        if (fill[ph[k]].isEmpty()) fill[ph[k]] = p == u"0" ? u"0"_s : p == u"?" ? u" "_s : QString();
        if (k == 0) di = 0;
    }
    QString out;
    for (size_t i = 0; i < toks.size(); ++i)
        out += toks[i].kind == Token::Literal ? toks[i].text : fill[i];
    return out;
}

QString fillFraction(const std::vector<Token>& toks, const QString& digits)
{
    std::vector<size_t> ph;
    for (size_t i = 0; i < toks.size(); ++i)
        if (toks[i].kind == Token::Digit) ph.push_back(i);
    std::vector<QString> fill(toks.size());
    for (size_t k = 0; k < ph.size(); ++k) fill[ph[k]] = k < size_t(digits.size()) ? digits.mid(qsizetype(k), 1) : u"0"_s;
    for (size_t k = ph.size(); k-- > 0;) {
        const QString& p = toks[ph[k]].text;
        if (fill[ph[k]] != u"0" || p == u"0") break;
        fill[ph[k]] = p == u"?" ? u" "_s : QString();
    }
    QString out;
    for (size_t i = 0; i < toks.size(); ++i)
        out += toks[i].kind == Token::Literal ? toks[i].text : fill[i];
    return out;
}

struct DayParts {
    int year = 1900, month = 1, day = 0, dayOfWeek = 6; // dayOfWeek 1 = Monday
};

bool dayParts(qint64 serialDay, bool date1904, DayParts& out)
{
    QDate d;
    if (date1904) {
        d = QDate(1904, 1, 1).addDays(serialDay);
    } else if (serialDay == 0) {
        out = {1900, 1, 0, 6};
        return true;
    } else if (serialDay == 60) {
        out = {1900, 2, 29, 3};
        return true;
    } else {
        d = QDate(1899, 12, serialDay < 60 ? 31 : 30).addDays(serialDay);
    }
    if (!d.isValid() || d.year() > 9999) return false;
    out = {d.year(), d.month(), d.day(), d.dayOfWeek()};
    return true;
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
    case 14: return sd;
    case 15: return u"d-mmm-yy"_s;
    case 16: return u"d-mmm"_s;
    case 17: return u"mmm-yy"_s;
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

QString generalText(double value, const QLocale& locale)
{
    if (std::isnan(value) || std::isinf(value)) return errorText(0x24, locale);
    if (value == 0) return u"0"_s;
    const double a = std::fabs(value);
    QString s;
    if (a >= 1e15 || a < 1e-9) {
        s = QString::number(value, 'E', 14); // d.ddddddddddddddE+xx
        qsizetype e = s.indexOf(u'E');
        QString mant = s.left(e);
        QString exp = s.mid(e + 1);
        if (mant.contains(u'.')) {
            while (mant.endsWith(u'0')) mant.chop(1);
            if (mant.endsWith(u'.')) mant.chop(1);
        }
        QChar sign = exp[0];
        QString digits = exp.mid(1);
        while (digits.size() > 2 && digits.startsWith(u'0')) digits.remove(0, 1);
        s = mant + u'E' + sign + digits.rightJustified(2, u'0');
    } else {
        const int intDigits = a >= 1 ? int(std::floor(std::log10(a))) + 1 : 0;
        int decimals = std::max(0, 15 - std::max(intDigits, 1));
        if (a < 1) decimals = std::min(30, 15 - int(std::floor(std::log10(a))) - 1);
        s = QString::number(value, 'f', decimals);
        if (s.contains(u'.')) {
            while (s.endsWith(u'0')) s.chop(1);
            if (s.endsWith(u'.')) s.chop(1);
        }
        if (s == u"-0") s = u"0"_s;
    }
    s.replace(u'.', locale.decimalPoint());
    return s;
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
}

bool NumberFormat::isDate() const { return !m_sections.empty() && isDateSection(m_sections.front()); }

QString NumberFormat::format(double value, const QLocale& locale, bool date1904) const
{
    if (m_general || m_sections.empty()) return generalText(value, locale);
    if (std::isnan(value) || std::isinf(value)) return errorText(0x24, locale);

    // Numeric sections: a fourth one (or a text-only one) is for text.
    size_t numeric = m_sections.size();
    if (numeric == 4) numeric = 3;
    bool conditional = false;
    for (size_t i = 0; i < numeric; ++i) conditional = conditional || m_sections[i].hasCondition;

    const Section* sec = nullptr;
    bool withSign = true;
    if (conditional) {
        for (size_t i = 0; i < numeric && !sec; ++i) {
            const Section& s = m_sections[i];
            if (!s.hasCondition) {
                sec = &s;
                break;
            }
            const QString& op = s.conditionOp;
            const double c = s.conditionValue;
            bool hit = op == u"<" ? value < c : op == u"<=" ? value <= c : op == u">" ? value > c : op == u">=" ? value >= c
                     : op == u"<>" ? value != c : value == c;
            if (hit) {
                sec = &s;
                withSign = !((op == u"<" || op == u"<=") && c <= 0);
            }
        }
        if (!sec) return generalText(value, locale);
    } else if (numeric == 1 || value > 0) {
        sec = &m_sections[0];
    } else if (value < 0) {
        sec = &m_sections[1];
        withSign = false;
    } else {
        sec = &m_sections[numeric >= 3 ? 2 : 0];
    }
    if (isTextSection(*sec)) return generalText(value, locale);
    return formatSection(*sec, value, withSign, locale, date1904);
}

QString NumberFormat::formatSection(const Section& sec, double value, bool withSign, const QLocale& locale,
                                    bool date1904) const
{
    if (isDateSection(sec)) return formatDate(sec, value, locale, date1904);
    const bool negative = value < 0;
    const QString sign = withSign && negative ? QString(locale.negativeSign()) : QString();
    double a = std::fabs(value);

    if (sec.general) {
        QString out;
        for (const Token& t : sec.tokens) {
            if (t.kind == Token::Literal) out += t.text;
            else if (t.kind == Token::GeneralNum) out += generalText(a, locale);
        }
        return sign + out;
    }
    if (hasKind(sec, Token::Slash) && hasKind(sec, Token::Digit)) return formatFraction(sec, value, withSign);
    if (!hasKind(sec, Token::Digit)) {
        // a section of literals only ("zero", "-") shows them without the number
        QString out;
        for (const Token& t : sec.tokens)
            if (t.kind == Token::Literal) out += t.text;
        return out;
    }

    // Split into integer, fraction and exponent parts.
    std::vector<Token> intT, fracT, expT;
    bool point = false;
    QString expSign;
    int percents = 0;
    int stage = 0;
    for (const Token& t : sec.tokens) {
        if (t.kind == Token::Percent) {
            ++percents;
            (stage == 0 ? intT : stage == 1 ? fracT : expT).push_back({Token::Literal, u"%"_s});
            continue;
        }
        if (t.kind == Token::Point && stage == 0) {
            point = true;
            stage = 1;
            continue;
        }
        if (t.kind == Token::Exponent && stage < 2) {
            expSign = t.text;
            stage = 2;
            continue;
        }
        Token c = t;
        if (c.kind == Token::Point) c = {Token::Literal, QString(locale.decimalPoint())};
        if (c.kind == Token::Slash) c = {Token::Literal, u"/"_s};
        if (c.kind == Token::Text) c = {Token::Literal, QString()};
        (stage == 0 ? intT : stage == 1 ? fracT : expT).push_back(c);
    }
    // Commas: between integer digits they group; after the last digit each divides by 1000.
    bool grouping = false;
    int scale = 0;
    {
        int lastDigit = -1;
        for (size_t i = 0; i < intT.size(); ++i)
            if (intT[i].kind == Token::Digit) lastDigit = int(i);
        std::vector<Token> kept;
        for (size_t i = 0; i < intT.size(); ++i) {
            if (intT[i].kind != Token::Group) {
                kept.push_back(intT[i]);
                continue;
            }
            if (int(i) > lastDigit) {
                // scaling only when nothing but commas follows the digits in this part
                bool onlyCommas = true;
                for (size_t k = i; k < intT.size(); ++k)
                    if (intT[k].kind == Token::Digit) onlyCommas = false;
                if (onlyCommas && lastDigit >= 0) ++scale;
                else kept.push_back({Token::Literal, u","_s});
            } else if (lastDigit >= 0) {
                grouping = true;
            }
        }
        intT = std::move(kept);
        std::vector<Token> f;
        for (const Token& t : fracT) {
            if (t.kind == Token::Group) {
                if (!point) continue;
                ++scale; // "0.0,": a comma after the decimals also scales
                continue;
            }
            f.push_back(t);
        }
        fracT = std::move(f);
        std::vector<Token> e;
        for (const Token& t : expT) e.push_back(t.kind == Token::Group ? Token{Token::Literal, u","_s} : t);
        expT = std::move(e);
    }
    for (int i = 0; i < percents; ++i) a *= 100;
    for (int i = 0; i < scale; ++i) a /= 1000;

    int fracDigits = 0;
    for (const Token& t : fracT)
        if (t.kind == Token::Digit) ++fracDigits;
    int intDigitsCount = 0;
    bool intHash = false;
    for (const Token& t : intT)
        if (t.kind == Token::Digit) {
            ++intDigitsCount;
            if (t.text != u"0") intHash = true;
        }

    QString expText;
    if (!expSign.isEmpty()) {
        int e = 0;
        if (a != 0) {
            e = int(std::floor(std::log10(a)));
            const int n = std::max(1, intDigitsCount);
            if (intHash && n > 1) e = int(std::floor(double(e) / n)) * n;
            else e -= n - 1;
            double m = a / std::pow(10.0, e);
            QString ms = QString::number(m, 'f', fracDigits);
            if (!(intHash && n > 1) && ms.indexOf(u'.') > n) {
                ++e;
                m = a / std::pow(10.0, e);
            }
            a = m;
        }
        int expDigits = 0;
        for (const Token& t : expT)
            if (t.kind == Token::Digit) ++expDigits;
        QString digits = QString::number(std::abs(e)).rightJustified(std::max(1, expDigits), u'0');
        QString es = e < 0 ? u"-"_s : expSign == u"+" ? u"+"_s : QString();
        expText = u"E"_s + es + digits;
        QString tail;
        bool digitsPlaced = false;
        for (const Token& t : expT) {
            if (t.kind == Token::Literal) tail += t.text;
            else if (!digitsPlaced) {
                tail += expText;
                digitsPlaced = true;
            }
        }
        expText = digitsPlaced ? tail : expText + tail;
    }

    QString s = QString::number(a, 'f', fracDigits);
    const qsizetype dot = s.indexOf(u'.');
    const QString intDigits = dot < 0 ? s : s.left(dot);
    const QString fracDigitsText = dot < 0 ? QString() : s.mid(dot + 1);

    QString out = fillInteger(intT, intDigits, grouping, locale);
    if (point) out += locale.decimalPoint() + fillFraction(fracT, fracDigitsText);
    out += expText;
    // "-0" is not shown: a value that rounds to zero has no sign
    bool allZero = true;
    for (QChar ch : s)
        if (ch.isDigit() && ch != u'0') allZero = false;
    return (allZero ? QString() : sign) + out;
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

QString NumberFormat::formatDate(const Section& sec, double value, const QLocale& locale, bool date1904) const
{
    if (value < 0 || value > 2958466.0) return generalText(value, locale);
    int subDigits = 0;
    bool ampm = false, hasDay = false;
    for (const Token& t : sec.tokens) {
        if (t.kind == Token::Date && t.text[0] == u'.') subDigits = std::max(subDigits, int(t.text.size()) - 1);
        if (t.kind == Token::AmPm) ampm = true;
        if (t.kind == Token::Date && t.text[0] == u'd') hasDay = true;
    }
    qint64 unitsPerSecond = 1;
    for (int i = 0; i < subDigits; ++i) unitsPerSecond *= 10;
    const qint64 unitsPerDay = 86400 * unitsPerSecond;
    const qint64 units = std::llround(value * double(unitsPerDay));
    const qint64 day = units / unitsPerDay;
    const qint64 rem = units % unitsPerDay;
    const qint64 secs = rem / unitsPerSecond;
    const qint64 sub = rem % unitsPerSecond;
    const qint64 hour = secs / 3600, minute = (secs / 60) % 60, second = secs % 60;
    DayParts dp;
    if (!dayParts(day, date1904, dp)) return generalText(value, locale);

    QString out;
    for (const Token& t : sec.tokens) {
        if (t.kind == Token::Literal) {
            out += t.text;
        } else if (t.kind == Token::AmPm) {
            const bool pm = hour >= 12;
            if (t.text.size() == 5) {
                const bool lower = t.text[0].isLower();
                QString s = pm ? u"PM"_s : u"AM"_s;
                out += lower ? s.toLower() : s;
            } else {
                const QChar c = pm ? t.text[2] : t.text[0];
                out += c;
            }
        } else if (t.kind == Token::Elapsed) {
            const qint64 totalSecs = units / unitsPerSecond;
            const qint64 v = t.text[0] == u'h' ? totalSecs / 3600 : t.text[0] == u'm' ? totalSecs / 60 : totalSecs;
            out += QString::number(v).rightJustified(t.text.size(), u'0');
        } else if (t.kind == Token::Date) {
            const QString& f = t.text;
            const qsizetype len = f.size();
            switch (f[0].unicode()) {
            case u'y': out += len <= 2 ? pad2(dp.year % 100) : QString::number(dp.year); break;
            case u'm':
                if (len == 1) out += QString::number(dp.month);
                else if (len == 2) out += pad2(dp.month);
                else if (len == 3) out += locale.monthName(dp.month, QLocale::ShortFormat);
                else if (len == 5) out += locale.standaloneMonthName(dp.month, QLocale::LongFormat).left(1);
                else out += hasDay ? locale.monthName(dp.month, QLocale::LongFormat) : locale.standaloneMonthName(dp.month, QLocale::LongFormat);
                break;
            case u'd':
                if (len == 1) out += QString::number(dp.day);
                else if (len == 2) out += pad2(dp.day);
                else if (len == 3) out += locale.dayName(dp.dayOfWeek, QLocale::ShortFormat);
                else out += locale.dayName(dp.dayOfWeek, QLocale::LongFormat);
                break;
            case u'h': {
                qint64 h = hour;
                if (ampm) {
                    h %= 12;
                    if (h == 0) h = 12;
                }
                out += len >= 2 ? pad2(h) : QString::number(h);
                break;
            }
            case u'n': out += len >= 2 ? pad2(minute) : QString::number(minute); break;
            case u's': out += len >= 2 ? pad2(second) : QString::number(second); break;
            case u'.': {
                QString s = QString::number(sub).rightJustified(subDigits, u'0').left(len - 1);
                out += locale.decimalPoint() + s;
                break;
            }
            default: break;
            }
        }
    }
    return out;
}

QString NumberFormat::formatText(const QString& text) const
{
    const Section* sec = nullptr;
    if (m_sections.size() == 4) sec = &m_sections[3];
    else if (!m_sections.empty() && hasKind(m_sections[0], Token::Text)) sec = &m_sections[0];
    if (!sec) return text;
    QString out;
    for (const Token& t : sec->tokens) {
        if (t.kind == Token::Literal) out += t.text;
        else if (t.kind == Token::Text) out += text;
    }
    return out;
}

QString displayText(double value, const QString& code, const QLocale& locale, bool date1904)
{
    return NumberFormat(code).format(value, locale, date1904);
}

} // namespace kalder
