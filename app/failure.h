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
    QString text() const;                       // "description (number)"
    const char* what() const noexcept override; // UTF-8 copy, for logs

private:
    int m_number;
    QString m_description;
    QByteArray m_utf8;
};

// Runs fn and returns the failure it threw, or nothing when it ran through.
std::optional<Failure> failureOf(const std::function<void()>& fn);

namespace err {
inline constexpr int Overflow = 6;
inline constexpr int Subscript = 9;
inline constexpr int TypeMismatch = 13;
inline constexpr int FileNotFound = 53;
inline constexpr int FileAlreadyOpen = 55;
inline constexpr int InputPastEnd = 62;
inline constexpr int DeviceUnavailable = 68;
inline constexpr int PathFileAccess = 75;
inline constexpr int PathNotFound = 76;
inline constexpr int ObjectNotSet = 91;      // a list asked for its selected row, none selected
inline constexpr int InvalidProperty = 380;   // a control refused a value
inline constexpr int ItemNotFound = 3265;     // no field of that name in the record
inline constexpr int NotOpen = 3704;          // operation on a closed connection or recordset
inline constexpr int NoCurrentRecord = 3021;  // the recordset is at its end
inline constexpr int BadFormat = 3343;        // a file that is not a database of a readable format
// The workbook reader's own failures.
inline constexpr int BookNotWorkbook = 1004;
// The load's own: links that do not match the header row of the workbook given.
inline constexpr int LinksOutOfDate = 1101;
// A database server's: it cannot be reached or refuses the login; it refused a statement
// (its SQLSTATE is in the description); the connection to it was lost; a lock another
// connection holds was waited for longer than the bound.
inline constexpr int ServerUnreachable = 1201;
inline constexpr int ServerRefused = 1202;
inline constexpr int ServerGone = 1203;
inline constexpr int LockTimeout = 1204;
} // namespace err

} // namespace kalder
