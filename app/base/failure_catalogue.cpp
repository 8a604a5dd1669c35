#include "app/base/failure_catalogue.h"

#include <algorithm>
#include <array>

namespace kalder {

namespace {

#define KALDER_FAILURE_ENTRY(name, number, meaning) FailureEntry{number, #name, meaning},
constexpr std::array Catalogue{KALDER_FAILURES(KALDER_FAILURE_ENTRY)};
#undef KALDER_FAILURE_ENTRY

static_assert(std::ranges::is_sorted(Catalogue, {}, &FailureEntry::number), "the list is kept in order of number");
static_assert(std::ranges::adjacent_find(Catalogue, {}, &FailureEntry::number) == Catalogue.end(),
              "no number is given twice");
static_assert(std::ranges::none_of(Catalogue, [](const FailureEntry& e) { return err::isSqlite(e.number); }),
              "our numbers stay out of the engine's range");

} // namespace

std::span<const FailureEntry> failureCatalogue() { return Catalogue; }

const FailureEntry* catalogueEntry(int number)
{
    const auto it = std::ranges::lower_bound(Catalogue, number, {}, &FailureEntry::number);
    return it != Catalogue.end() && it->number == number ? &*it : nullptr;
}

namespace fail {

Failure bookNoAccess(const QString& path)
{
    return Failure(err::PathFileAccess, QStringLiteral("Нет доступа к файлу книги %1").arg(path));
}

Failure bookDamaged(const QString& name, const QString& what)
{
    return Failure(err::BookNotWorkbook, QStringLiteral("Книга %1 повреждена: %2").arg(name, what));
}

Failure bookPasswordProtected(const QString& name)
{
    return Failure(err::BookNotWorkbook,
                   QStringLiteral("Книга %1 защищена паролем и не может быть прочитана").arg(name));
}

Failure notAnXlsBook(const QString& name)
{
    return Failure(err::BookNotWorkbook, QStringLiteral("Файл %1 не является книгой .xls").arg(name));
}

Failure connectionNotOpen() { return Failure(err::NotOpen, QStringLiteral("Соединение с базой данных не открыто")); }

Failure noCurrentRecord(const QString& table)
{
    return Failure(err::NoCurrentRecord, QStringLiteral("Нет текущей записи в таблице %1").arg(table));
}

Failure fieldNotFound(const QString& field, const QString& table)
{
    return Failure(err::ItemNotFound, QStringLiteral("Поле «%1» не найдено в таблице %2").arg(field, table));
}

Failure listRowOutside(int index, int count)
{
    return Failure(err::InvalidProperty, QStringLiteral("Строка %1 вне списка из %2 строк").arg(index).arg(count));
}

Failure listColumnInvalid(int column)
{
    return Failure(err::InvalidProperty, QStringLiteral("Неверный номер колонки %1").arg(column));
}

Failure barMinimumAboveMaximum(float minimum, float maximum)
{
    return Failure(err::InvalidProperty, QStringLiteral("Минимум %1 больше максимума %2").arg(minimum).arg(maximum));
}

Failure barMaximumBelowMinimum(float maximum, float minimum)
{
    return Failure(err::InvalidProperty, QStringLiteral("Максимум %1 меньше минимума %2").arg(maximum).arg(minimum));
}

Failure barValueOutside(float value, float minimum, float maximum)
{
    return Failure(err::InvalidProperty,
                   QStringLiteral("Значение %1 вне пределов индикатора (%2..%3)").arg(value).arg(minimum).arg(maximum));
}

} // namespace fail

} // namespace kalder
