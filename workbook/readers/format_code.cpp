// A format code parsed once: split into its sections (";" outside quotes, escapes and
// brackets), each section into tokens, and each classified by what it shows, with a numeric
// section's plan of placeholders worked out here so that rendering a cell only fills it in.
#include "workbook/readers/number_format_parts.h"

using namespace Qt::Literals::StringLiterals;

namespace kalder {

namespace numfmt {

namespace {

bool startsWithCi(const QString& s, qsizetype at, QLatin1StringView what)
{
    return s.mid(at, what.size()).compare(what, Qt::CaseInsensitive) == 0;
}

Section parseSection(const QString& code)
{
    Section sec;
    auto literal = [&](const QString& t) {
        if (!sec.tokens.empty() && sec.tokens.back().kind == Token::Literal)
            sec.tokens.back().text += t;
        else
            sec.tokens.push_back({Token::Literal, t});
    };
    const qsizetype n = code.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = code[i];
        const char16_t u = c.unicode();
        if (u == u'"') {
            qsizetype end = code.indexOf(u'"', i + 1);
            if (end < 0)
                end = n;
            literal(code.mid(i + 1, end - i - 1));
            i = end;
        } else if (u == u'\\') {
            if (i + 1 < n)
                literal(code.mid(++i, 1));
        } else if (u == u'_') {
            if (i + 1 < n)
                ++i;
            literal(u" "_s);
        } else if (u == u'*') {
            if (i + 1 < n)
                ++i; // fill character: dropped
        } else if (u == u'[') {
            qsizetype end = code.indexOf(u']', i + 1);
            if (end < 0)
                end = n;
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
                while (k < inner.size() && (inner[k] == u'<' || inner[k] == u'>' || inner[k] == u'='))
                    ++k;
                bool ok = false;
                const double v = inner.mid(k).trimmed().toDouble(&ok);
                if (ok) {
                    using C = Condition;
                    const QStringView op = QStringView(inner).left(k);
                    sec.hasCondition = true;
                    sec.condition = op == u"<"    ? C::Less
                                    : op == u"<=" ? C::LessEqual
                                    : op == u">"  ? C::Greater
                                    : op == u">=" ? C::GreaterEqual
                                    : op == u"<>" ? C::NotEqual
                                                  : C::Equal;
                    sec.conditionValue = v;
                }
            } else {
                const QString low = inner.toLower();
                if (!low.isEmpty() &&
                    (low.count(u'h') == low.size() || low.count(u'm') == low.size() || low.count(u's') == low.size()))
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
            while (k < n && code[k].toLower() == low)
                ++k;
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
        if (t.kind == Token::Date || t.kind == Token::AmPm || t.kind == Token::Elapsed)
            date = true;
    if (!date)
        return sec;

    // In a date section, digits and separators are literals except ".0" after seconds,
    // and "m" next to hours or seconds is minutes.
    std::vector<Token> out;
    for (size_t i = 0; i < sec.tokens.size(); ++i) {
        Token t = sec.tokens[i];
        if (t.kind == Token::Point && i + 1 < sec.tokens.size() && sec.tokens[i + 1].kind == Token::Digit &&
            sec.tokens[i + 1].text == u"0") {
            QString f = u"."_s;
            while (i + 1 < sec.tokens.size() && sec.tokens[i + 1].kind == Token::Digit &&
                   sec.tokens[i + 1].text == u"0" && f.size() < 4) {
                f += u'0';
                ++i;
            }
            out.push_back({Token::Date, f});
            continue;
        }
        if (t.kind == Token::Point)
            t = {Token::Literal, u"."_s};
        else if (t.kind == Token::Slash)
            t = {Token::DateSep, {}}; // an escaped or quoted "/" stays one
        else if (t.kind == Token::Group)
            t = {Token::Literal, u","_s};
        else if (t.kind == Token::Percent)
            t = {Token::Literal, u"%"_s};
        else if (t.kind == Token::Digit || t.kind == Token::Exponent)
            t = {Token::Literal, t.text};
        if (t.kind == Token::Literal && !out.empty() && out.back().kind == Token::Literal)
            out.back().text += t.text;
        else
            out.push_back(t);
    }
    for (size_t i = 0; i < out.size(); ++i) {
        Token& t = out[i];
        if (t.kind != Token::Date || t.text[0] != u'm' || t.text.size() > 2)
            continue;
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
        if (minute)
            t.text = QString(t.text.size(), u'n');
    }
    sec.tokens = std::move(out);
    return sec;
}

bool hasKind(const Section& s, Token::Kind k)
{
    for (const Token& t : s.tokens)
        if (t.kind == k)
            return true;
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
        if (c.kind == Token::Slash)
            c = {Token::Literal, u"/"_s};
        if (c.kind == Token::Text)
            c = {Token::Literal, QString()};
        (stage == 0 ? intT : stage == 1 ? fracT : expT).push_back(c);
    }
    // Commas: between integer digits they group; after the last digit each divides by 1000.
    int lastDigit = -1;
    for (size_t i = 0; i < intT.size(); ++i)
        if (intT[i].kind == Token::Digit)
            lastDigit = int(i);
    for (size_t i = 0; i < intT.size(); ++i) {
        if (intT[i].kind != Token::Group) {
            p.intT.push_back(intT[i]);
            continue;
        }
        if (int(i) > lastDigit) {
            // scaling only when nothing but commas follows the digits in this part
            bool onlyCommas = true;
            for (size_t k = i; k < intT.size(); ++k)
                if (intT[k].kind == Token::Digit)
                    onlyCommas = false;
            if (onlyCommas && lastDigit >= 0)
                ++p.scale;
            else
                p.intT.push_back({Token::Literal, u","_s});
        } else if (lastDigit >= 0) {
            p.grouping = true;
        }
    }
    for (const Token& t : fracT) {
        if (t.kind == Token::Group) {
            if (p.point)
                ++p.scale; // "0.0,": a comma after the decimals also scales
            continue;
        }
        p.fracT.push_back(t);
    }
    for (const Token& t : expT)
        p.expT.push_back(t.kind == Token::Group ? Token{Token::Literal, u","_s} : t);

    for (const Token& t : p.fracT)
        if (t.kind == Token::Digit)
            ++p.fracDigits;
    for (const Token& t : p.intT)
        if (t.kind == Token::Digit) {
            ++p.intPlaces;
            if (t.text != u"0")
                p.intHash = true;
            else
                p.anyZero = true;
        }
    for (const Token& t : p.expT)
        if (t.kind == Token::Digit)
            ++p.expDigits;

    // Whether the section has the common shape the renderer fills without its placeholder walk.
    const auto suffixFrom = [&](const std::vector<Token>& toks, size_t from) {
        for (size_t i = from; i < toks.size(); ++i) {
            if (toks[i].kind != Token::Literal)
                return false;
            p.suffix += toks[i].text;
        }
        return true;
    };
    bool simple = p.expSign.isEmpty() && p.intPlaces > 0;
    size_t i = 0;
    for (bool zeros = false; simple && i < p.intT.size() && p.intT[i].kind == Token::Digit; ++i) {
        const QString& d = p.intT[i].text;
        if (d == u"0")
            zeros = true;
        else if (d != u"#" || zeros)
            simple = false;
        if (d == u"0")
            ++p.minInt;
    }
    if (simple && p.point) {
        simple = i == p.intT.size();
        size_t k = 0;
        while (simple && k < p.fracT.size() && p.fracT[k].kind == Token::Digit)
            simple = p.fracT[k++].text == u"0";
        simple = simple && suffixFrom(p.fracT, k);
    } else if (simple) {
        simple = p.fracT.empty() && suffixFrom(p.intT, i);
    }
    p.simple = simple;
    if (!simple)
        p.suffix.clear();
}

void classify(Section& sec)
{
    if (isDateSection(sec) || sec.system != Section::System::None) {
        sec.shape = Shape::Date;
        for (const Token& t : sec.tokens) {
            if (t.kind == Token::Date && t.text[0] == u'.')
                sec.subSecondDigits = std::max(sec.subSecondDigits, int(t.text.size()) - 1);
            if (t.kind == Token::AmPm)
                sec.ampm = true;
            if (t.kind == Token::Date && t.text[0] == u'd' && t.text.size() <= 2)
                sec.hasDay = true;
        }
    } else if (sec.general) {
        sec.shape = Shape::General;
    } else if (hasKind(sec, Token::Slash) && hasKind(sec, Token::Digit)) {
        sec.shape = Shape::Fraction;
    } else if (isTextSection(sec)) {
        sec.shape = Shape::Text;
    } else if (!hasKind(sec, Token::Digit)) {
        sec.shape = Shape::LiteralsOnly;
    } else {
        sec.shape = Shape::Number;
        makePlan(sec);
    }
}

} // namespace

std::vector<Section> parseSections(const QString& code)
{
    std::vector<Section> sections;
    if (code.isEmpty() || code.compare(u"General", Qt::CaseInsensitive) == 0)
        return sections;
    QString part;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code[i];
        if (c == u'"') {
            qsizetype end = code.indexOf(u'"', i + 1);
            if (end < 0)
                end = code.size() - 1;
            part += code.mid(i, end - i + 1);
            i = end;
        } else if ((c == u'\\' || c == u'_' || c == u'*') && i + 1 < code.size()) {
            part += code.mid(i, 2);
            ++i;
        } else if (c == u'[') {
            qsizetype end = code.indexOf(u']', i + 1);
            if (end < 0)
                end = code.size() - 1;
            part += code.mid(i, end - i + 1);
            i = end;
        } else if (c == u';') {
            sections.push_back(parseSection(part));
            part.clear();
        } else {
            part += c;
        }
    }
    sections.push_back(parseSection(part));
    if (sections.size() > 4)
        sections.resize(4);
    for (Section& sec : sections) {
        if (!sec.language)
            sec.language = sections.front().language; // a tag is written once, in front
        classify(sec);
    }
    return sections;
}

} // namespace numfmt

using numfmt::Section;
using numfmt::Shape;
using numfmt::Token;

NumberFormat::~NumberFormat() = default;
NumberFormat::NumberFormat(const NumberFormat&) = default;
NumberFormat::NumberFormat(NumberFormat&&) noexcept = default;
NumberFormat& NumberFormat::operator=(const NumberFormat&) = default;
NumberFormat& NumberFormat::operator=(NumberFormat&&) noexcept = default;

NumberFormat::NumberFormat(const QString& code)
{
    m_sections = numfmt::parseSections(code);
    if (m_sections.empty())
        return; // General
    m_general = false;
    // The section for text: the fourth, or a last one that shows the text and no number.
    if (m_sections.size() == 4)
        m_textSection = 3;
    else if (m_sections.back().shape == Shape::Text)
        m_textSection = int(m_sections.size()) - 1;
    m_numeric = m_textSection < 0 ? m_sections.size() : size_t(m_textSection);
    for (size_t i = 0; i < m_numeric; ++i)
        m_conditional = m_conditional || m_sections[i].hasCondition;
    const auto alone = [](const Section& sec) {
        return sec.tokens.size() == 1 && (sec.tokens[0].kind == Token::Text || sec.tokens[0].kind == Token::GeneralNum);
    };
    m_textAsIs = m_textSection < 0 || alone(m_sections[size_t(m_textSection)]);
}

bool NumberFormat::isDate() const { return !m_sections.empty() && m_sections.front().shape == Shape::Date; }

} // namespace kalder
