#include "app/base/failure.h"

namespace kalder {

Failure::Failure(int number, QString description)
    : m_number(number), m_description(std::move(description)), m_utf8(text().toUtf8())
{
}

QString Failure::text() const
{
    return m_description + QStringLiteral(" (") + QString::number(m_number) + QStringLiteral(")");
}

const char* Failure::what() const noexcept { return m_utf8.constData(); }

std::optional<Failure> failureOf(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const Failure& f) {
        return f;
    }
    return std::nullopt;
}

} // namespace kalder
