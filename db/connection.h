// The database engine: one connection to a database, and recordsets over it for the
// statements the system sends. A database file through Qt SQL's SQLite driver, or a
// PostgreSQL server database through its driver (see db/engine.h); every failure is a Failure
// carrying the engine's number and a description that names what failed.
#pragma once

#include "app/base/state.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace kalder {

class Engine;

// The connection string as the system builds it: its Data Source names the database file,
// or the server database by its connection URI.
QString connectionStringFor(const QString& path);
// The path named by Data Source in a connection string ("" when there is none).
QString dataSourceOf(const QString& connectionString);

class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens the database named by the connection string's Data Source: a file, or a server
    // database when it is a PostgreSQL connection URI. Never creates a database: a missing
    // file, a folder, a file that is not an SQLite database (a Jet file among them), a server
    // that cannot be reached or refuses the login fail. user, password and options are
    // accepted as callers pass them.
    void Open(const QString& connectionString, const QString& user = {}, const QString& password = {},
              int options = -1);
    void Close(); // harmless when never opened
    bool isOpen() const;
    QString path() const { return m_path; } // the file, or the server's URI
    // The engine of the open connection (fails with err::NotOpen when closed).
    const Engine& engine() const;

    QSqlDatabase database() const; // fails with err::NotOpen when closed

    // How long a statement waits for a lock another connection holds before it fails as busy.
    int busyTimeoutMs() const { return m_busyTimeoutMs; }
    void setBusyTimeout(int ms);

    // Grouped commits for long loads; the engine's own transaction.
    void beginTransaction();
    void commit();
    void rollback();

private:
    QString m_name; // the Qt SQL connection name, unique per object
    QString m_path;
    const Engine* m_engine = nullptr;
    bool m_open = false;
    int m_busyTimeoutMs;
};

enum CursorType { adOpenKeyset = 1, adOpenStatic = 3 };
enum LockType { adLockUnspecified = -1, adLockOptimistic = 3 };

// A recordset over one table: all its records, or those whose field equals a value.
// It is positioned on the first record; nothing the system does needs another.
class Recordset {
public:
    Recordset() = default;
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    // "select * from <table>"
    void Open(const QString& table, Connection& conn, int cursorType, int lockType, int options = -1);
    // "select * from <table> where <field> = <value>": the value is bound, the name quoted.
    // A field that names no column fails with the database's error.
    void OpenWhere(const QString& table, const QString& field, const QVariant& value, Connection& conn, int cursorType,
                   int lockType, int options = -1);

    int State() const { return m_open ? 1 : 0; }
    bool Eof() const;
    int RecordCount() const; // exact; counted by the engine
    int fieldCount() const;
    QString fieldName(int i) const; // 0-based, in the table's order
    QStringList fieldNames() const { return m_fields; }
    QVariant value(const QString& field) const; // null QVariant for NULL
    void setValue(const QString& field, const QVariant& value);
    void AddNew();
    void Update();
    void Close();

private:
    int indexOf(const QString& field) const;
    void requireOpen() const;
    void openSelect(const QString& table, const QString& where, const QVariant& bound, Connection& conn);

    Connection* m_conn = nullptr;
    QString m_table;
    QString m_where;
    QVariant m_bound;
    QStringList m_fields;
    QVariantList m_values; // the current record
    QList<bool> m_dirty;
    QVariant m_rowid; // the current record's row id; null while adding
    bool m_open = false;
    bool m_eof = true;
    bool m_adding = false;
};

// The session's open connection, or nullptr.
inline Connection* AppState::connection() const
{
    return DBConnection && DBConnection->isOpen() ? DBConnection.get() : nullptr;
}

} // namespace kalder
