// The tests' one way to a database: a real SQLite file made from SQL text by a connection of
// its own, the table shapes most tests load into, and a session opened on the file as the
// window opens it. A statement that fails stops the test program: a fixture that is not what
// the test says would make every assertion after it meaningless.
#pragma once

#include "app/base/state.h"
#include "db/connection.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace kalder::test {

// tblSettings as the window reads and writes it.
inline const QString SettingsTable =
    QStringLiteral("CREATE TABLE tblSettings (LastFileName TEXT, StrNumWithCapt INTEGER, StrNumMAX INTEGER)");
// tblData with the given column definitions.
inline QString dataTable(const QString& columns) { return QStringLiteral("CREATE TABLE tblData (%1)").arg(columns); }
// The shape of most loads: a text key, a real minimum and a real maximum.
inline const QString KeyMinMaxTable = dataTable(QStringLiteral("Key TEXT, MinV REAL, MaxV REAL"));
// The shape the large generated workbooks load into, with an id that orders the records.
inline const QString BigLoadTable =
    dataTable(QStringLiteral("id INTEGER PRIMARY KEY, Код TEXT, Мин REAL, Макс REAL, Дата TEXT"));

// Runs the statements of a script separated by ";\n" on db; a trigger's "; END" stays whole.
inline void runScript(const QSqlDatabase& db, const QString& script)
{
    for (const QString& statement : script.split(QStringLiteral(";\n"), Qt::SkipEmptyParts)) {
        if (statement.trimmed().isEmpty())
            continue;
        QSqlQuery q(db);
        if (!q.exec(statement))
            qFatal("%s: %s", qPrintable(statement), qPrintable(q.lastError().text()));
    }
}

// Makes (or adds to) the SQLite file at path: each item a statement or a script as above.
inline QString makeDatabase(const QString& path, const QStringList& sql)
{
    const QString name = QStringLiteral("kalder-test-maker");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open())
            qFatal("cannot create %s: %s", qPrintable(path), qPrintable(db.lastError().text()));
        for (const QString& script : sql)
            runScript(db, script);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return path;
}

// The rows of a query on db, each as its columns joined by "|".
inline QStringList queryRows(const QSqlDatabase& db, const QString& select)
{
    QSqlQuery q(db);
    if (!q.exec(select))
        qFatal("%s: %s", qPrintable(select), qPrintable(q.lastError().text()));
    QStringList out;
    while (q.next()) {
        QStringList cols;
        for (int i = 0; i < q.record().count(); ++i)
            cols.append(q.value(i).toString());
        out.append(cols.join(QLatin1Char('|')));
    }
    return out;
}

// The session as start-up leaves it after opening the database at path.
inline void openSession(AppState& state, const QString& path)
{
    auto connection = std::make_unique<Connection>();
    connection->Open(connectionStringFor(path), QString(), QString(), -1);
    state.PathToDB = path;
    state.DBConnection = std::move(connection);
    state.DBIsOpen = true;
}

// A database of its own in a temporary folder, made from SQL as makeDatabase takes it, and
// opened as the window opens it.
struct Database {
    QTemporaryDir dir;
    QString path;
    AppState state;

    explicit Database(const QStringList& sql) : path(dir.filePath(QStringLiteral("data.db")))
    {
        makeDatabase(path, sql);
        openSession(state, path);
    }
    explicit Database(const QString& sql) : Database(QStringList{sql}) { }

    // Rows of a query on the session's own connection, each as its columns joined by "|".
    QStringList rows(const QString& select) const { return queryRows(state.DBConnection->database(), select); }
};

} // namespace kalder::test
