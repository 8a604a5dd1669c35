// The database engine behind a connection, chosen once when it opens from where the database
// is: a file is SQLite's, a PostgreSQL connection URI names a server database. What the two
// engines do differently (the driver and how it opens, identifier quoting, the column that
// addresses a stored record, turning the driver's errors into failures, the keyed merge)
// lives behind this interface; the recordsets and procedures above it are the same for both.
#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <memory>

namespace kalder {

class Connection;
class KeyedMerge;
struct MergeFields;
struct MergeOptions;

// Whether a database location is a PostgreSQL connection URI ("postgresql://" or
// "postgres://") rather than a file path.
bool isServerLocation(const QString& location);

class Engine {
public:
    enum class Kind { Sqlite, Postgres };
    virtual ~Engine() = default;
    virtual Kind kind() const = 0;

    // Adds and opens the Qt SQL connection of that name on the location, or fails with a
    // description naming the location. Never creates a database.
    virtual void open(const QString& connectionName, const QString& location, int busyTimeoutMs) const = 0;
    // How long a statement waits for a lock another connection holds.
    virtual void setBusyTimeout(const QSqlDatabase& db, int ms) const = 0;

    virtual QString quoteIdentifier(const QString& name) const = 0;
    // The column a recordset reads first to address its current record, and what an INSERT
    // appends to return it (nothing: the driver's last insert id is the row id).
    virtual QString rowIdColumn() const = 0;
    virtual QString returningRowId() const = 0;

    // Turns a driver's error into a Failure: the engine's number, or one of our own.
    [[noreturn]] virtual void fail(const QSqlError& error, const QString& what) const = 0;

    virtual std::unique_ptr<KeyedMerge> openMerge(Connection& conn, const MergeFields& fields,
                                                  const MergeOptions& options) const = 0;
};

// The engine of a location; the same object for every connection to it.
const Engine& engineFor(const QString& location);

} // namespace kalder
