// Everything that is particular to SQLite, in one place: the file check, how the file is
// named to the driver, the connect options, identifier quoting and the row id. A server
// engine would get a dialect of its own; the callers above never see these details.
#pragma once

#include <QSqlError>
#include <QString>

namespace kalder::sqlite {

inline constexpr const char* DriverName = "QSQLITE";
inline constexpr int BusyTimeoutMs = 5000;   // a database locked by another program is waited for

// Fails unless the file is an SQLite database: a missing file, a folder, an empty file,
// a Jet desktop-database file and any other file each fail with a description of its own.
void checkDatabaseFile(const QString& path);
// The name handed to the driver: a file URI opened read-write without creating anything.
QString driverDatabaseName(const QString& path);
QString connectOptions();
// A quoted identifier that can only ever name a column or table: SQLite reads a
// double-quoted name that matches no column as a string literal, a back-quoted one never.
QString quoteIdentifier(const QString& name);
// The hidden row id used to address the current record of a recordset.
inline constexpr const char* RowId = "rowid";
// A statement that makes the engine read the file's header and schema.
inline constexpr const char* ProbeStatement = "SELECT count(*) FROM sqlite_master";

// Turns a Qt SQL error into a Failure with the engine's number.
[[noreturn]] void fail(const QSqlError& error, const QString& what);

} // namespace kalder::sqlite
