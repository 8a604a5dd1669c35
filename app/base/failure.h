// The one failure value of the system: a number and a description, shown as
// "description (number)". It travels as this exception type from where it is detected
// to the procedure that traps it; there is no second error mechanism.
#pragma once

#include <QByteArray>
#include <QString>
#include <exception>
#include <functional>
#include <optional>

namespace kalder {

class Failure : public std::exception {
public:
    Failure(int number, QString description);
    int number() const noexcept { return m_number; }
    const QString& description() const noexcept { return m_description; }
    QString text() const; // "description (number)"
    const char* what() const noexcept override; // UTF-8 copy, for logs

private:
    int m_number;
    QString m_description;
    QByteArray m_utf8;
};

// Runs fn and returns the failure it threw, or nothing when it ran through.
std::optional<Failure> failureOf(const std::function<void()>& fn);

// Every failure number of our own, once: its name, its number and what it means. The
// constants below and the catalogue (app/failure_catalogue.h) are both made from this list,
// so neither can hold a number the other lacks. The configuration file's messages are chosen
// by the numbers 53 to 68; the others are numbered as the same failures were on the platform
// the tool first ran on, so that an operator's notes of them still hold.
#define KALDER_FAILURES(X)                                                                                             \
    X(Overflow, 6, "Переполнение: число или размер вне допустимых пределов")                                           \
    X(Subscript, 9, "Индекс вне диапазона")                                                                            \
    X(TypeMismatch, 13, "Несоответствие типа: текст не является числом")                                               \
    X(FileNotFound, 53, "Файл не найден")                                                                              \
    X(FileAlreadyOpen, 55, "Файл уже открыт")                                                                          \
    X(InputPastEnd, 62, "Чтение за концом файла")                                                                      \
    X(DeviceUnavailable, 68, "Устройство недоступно")                                                                  \
    X(PathFileAccess, 75, "Нет доступа к файлу или папке")                                                             \
    X(PathNotFound, 76, "Путь не найден")                                                                              \
    X(ObjectNotSet, 91, "Объект не задан: в списке не выбрана строка")                                                 \
    X(InvalidProperty, 380, "Недопустимое значение свойства элемента окна")                                            \
    X(BookNotWorkbook, 1004, "Файл не является книгой, которую можно прочитать")                                       \
    X(LinksOutOfDate, 1101, "Связи полей не соответствуют строке заголовков книги")                                    \
    X(ServerUnreachable, 1201, "Сервер базы данных недоступен или отказал во входе")                                   \
    X(ServerRefused, 1202, "Сервер базы данных отказался выполнить запрос")                                            \
    X(ServerGone, 1203, "Соединение с сервером базы данных потеряно")                                                  \
    X(LockTimeout, 1204, "Блокировка таблицы не получена за отведённое время")                                         \
    X(NoCurrentRecord, 3021, "Нет текущей записи")                                                                     \
    X(ItemNotFound, 3265, "Нет поля с таким именем или номером")                                                       \
    X(BadFormat, 3343, "База данных непригодного формата")                                                             \
    X(NotOpen, 3704, "Соединение или набор записей не открыт")                                                         \
    X(AlreadyOpen, 3705, "Соединение или набор записей уже открыт")

namespace err {
#define KALDER_FAILURE_CONSTANT(name, number, meaning) inline constexpr int name = number;
KALDER_FAILURES(KALDER_FAILURE_CONSTANT)
#undef KALDER_FAILURE_CONSTANT

// The database engine's result codes keep a range of their own: SQLite's extended result
// code c reaches the operator as SqliteBase + c, so that the engine's 13 (a full disk) can
// never be read as our 13 (a type mismatch). Extended codes stay far below SqliteSpan.
inline constexpr int SqliteBase = 100000;
inline constexpr int SqliteSpan = 100000;
constexpr int fromSqlite(int code) noexcept { return SqliteBase + code; }
constexpr bool isSqlite(int number) noexcept { return number >= SqliteBase && number < SqliteBase + SqliteSpan; }
// The engine's own code of a number in its range, 0 for any other number.
constexpr int sqliteCode(int number) noexcept { return isSqlite(number) ? number - SqliteBase : 0; }
} // namespace err

} // namespace kalder
