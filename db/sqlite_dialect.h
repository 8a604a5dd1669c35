// Everything that is particular to SQLite, in one place: the file check, how the file is
// named to the driver, the connect options, identifier quoting and the row id. A server
// engine would get a dialect of its own; the callers above never see these details.
#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

struct sqlite3;

namespace kalder::sqlite {

inline constexpr const char* DriverName = "QSQLITE";
// A database locked by another program is waited for this long before a statement fails as busy.
inline constexpr int BusyTimeoutMs = 30000;

// Fails unless the file is an SQLite database: a missing file, a folder, an empty file,
// a Jet desktop-database file and any other file each fail with a description of its own.
void checkDatabaseFile(const QString& path);
// The name handed to the driver: a file URI opened read-write without creating anything.
QString driverDatabaseName(const QString& path);
QString connectOptions(int busyTimeoutMs);
// The engine's handle of an open Qt SQL connection over SQLite, or null.
sqlite3* handleOf(const QSqlDatabase& db);
void setBusyTimeout(const QSqlDatabase& db, int ms);
// A quoted identifier that can only ever name a column or table: SQLite reads a
// double-quoted name that matches no column as a string literal, a back-quoted one never.
QString quoteIdentifier(const QString& name);
// A column type with the same affinity as a declared type (null: none declared), by SQLite's
// rules: INTEGER, TEXT, REAL, NUMERIC, or empty for none (a blob's); the declared text itself
// never enters a statement.
QString affinityType(const char* declared);
// The hidden row id used to address the current record of a recordset.
inline constexpr const char* RowId = "rowid";
// A statement that makes the engine read the file's header and schema.
inline constexpr const char* ProbeStatement = "SELECT count(*) FROM sqlite_master";

// Turns a Qt SQL error into a Failure with the engine's code in the engine's range of numbers.
[[noreturn]] void fail(const QSqlError& error, const QString& what);

} // namespace kalder::sqlite
