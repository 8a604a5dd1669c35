// The number rule for row numbers and rule numbers, and the file dialog's request.
#include "config/checks.h"

#include "app/base/version.h"

#include <QDir>
#include <cmath>

namespace kalder {

namespace {
const QString BadNumber = QStringLiteral("Введенное значение может содержать только цифры и быть не отрицательным");
} // namespace

std::optional<qint32> roundToInt32(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    // Half to even explicitly: the rounding mode of the floating-point unit is not ours to trust.
    double r = std::floor(value);
    const double rest = value - r;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(r, 2.0) != 0.0))
        r += 1.0;
    if (r < -2147483648.0 || r > 2147483647.0)
        return std::nullopt;
    return qint32(r);
}

std::optional<qint32> toInt32(const QString& text, const QLocale& locale)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    bool ok = false;
    const double value = locale.toDouble(t, &ok);
    if (!ok)
        return std::nullopt;
    return roundToInt32(value);
}

std::optional<qint32> leadingInt32(const QString& text)
{
    // Blanks, tabs and line feeds are dropped wherever they stand ("1 2" reads 12); the
    // number is what follows up to the first character that cannot continue it.
    QByteArray s;
    for (const QChar c : text)
        if (c != u' ' && c != u'\t' && c != u'\n')
            s.append(c.unicode() < 128 ? char(c.unicode()) : '\x7f');
    qsizetype i = 0;
    QByteArray number;
    const auto digits = [&] {
        const qsizetype from = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            number.append(s[i++]);
        return i - from;
    };
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        number.append(s[i++]);
    qsizetype mantissa = digits();
    if (i < s.size() && s[i] == '.') {
        number.append(s[i++]);
        mantissa += digits();
    }
    if (mantissa == 0)
        return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        const qsizetype mark = i;
        const qsizetype kept = number.size();
        number.append('e');
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            number.append(s[i++]);
        if (digits() == 0) { // "12e" is 12: the mark was not an exponent
            i = mark;
            number.truncate(kept);
        }
    }
    if (number.startsWith('.') || number.startsWith("-.") || number.startsWith("+."))
        number.insert(number.indexOf('.'), '0');
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok) {
        // Out of the double's range: too small is zero, too large is beyond 32 bits.
        const qsizetype e = number.indexOf('e');
        return e >= 0 && e + 1 < number.size() && number[e + 1] == '-' ? std::optional<qint32>(0) : std::nullopt;
    }
    return roundToInt32(value);
}

bool chk_TextNum(TextBox& box, Dialogs& dialogs, const QLocale& locale)
{
    const QString text = box.text();
    if (text.isEmpty())
        return true;
    if (const auto n = toInt32(text, locale); n && *n >= 0) {
        box.setText(QString::number(*n));
        return false;
    }
    dialogs.message(BadNumber, QStringLiteral(KALDER_APP_TITLE), Dialogs::Icon::Exclamation);
    box.setFocus();
    box.select(0, int(text.size()));
    return true;
}

bool chk_StrNum(const QString& text, Dialogs& dialogs, const QLocale& locale)
{
    if (const auto n = toInt32(text, locale); n && *n >= 0)
        return false;
    dialogs.message(BadNumber, QStringLiteral(KALDER_APP_TITLE), Dialogs::Icon::Exclamation);
    return true;
}

} // namespace kalder
