// Test support for loads run as their own process by kalder-load: the large workbook made by
// the committed generator, the database, the command line, and queries from outside.
#pragma once

#include "tests/support/database.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace kalder::test {

inline const QString LoadTool = QStringLiteral(KALDER_BINARY "/kalder-load");

// Writes a .csv of rows data rows below its header (Код, Мин, Макс, ...); false when the
// generator cannot run here.
inline bool makeBigCsv(const QString& out, int rows, int seed = 7)
{
    QProcess make;
    make.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(KALDER_SOURCE "/scripts/fixtures/make_load_big.py"),
                                                    out, QString::number(rows), QString::number(seed)});
    return make.waitForFinished(-1) && make.exitStatus() == QProcess::NormalExit && make.exitCode() == 0;
}

// An SQLite file with the tables the big workbook is loaded into, and the given statements run.
inline QString makeLoadDatabase(const QString& path, const QStringList& more = {})
{
    return makeDatabase(path, QStringList{BigLoadTable, SettingsTable} + more);
}

// The command line of a load of the big workbook's rows into tblData.
inline QStringList loadArguments(const QString& db, const QString& workbook, int rows)
{
    return {QStringLiteral("--locale"),   QStringLiteral("C"),
            QStringLiteral("--db"),       db,
            QStringLiteral("--workbook"), workbook,
            QStringLiteral("--header"),   QStringLiteral("1"),
            QStringLiteral("--last"),     QString::number(rows + 1),
            QStringLiteral("--link"),     QStringLiteral("1:1:Код"),
            QStringLiteral("--link"),     QStringLiteral("2:2:Мин"),
            QStringLiteral("--link"),     QStringLiteral("3:3:Макс")};
}

// The rows of a query from a connection of its own (waiting for locks), each as its first
// columns joined by "|"; one "error: ..." row when it fails.
inline QStringList queryFile(const QString& path, const QString& sql)
{
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("probe"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
        if (!db.open())
            qFatal("cannot open %s", qPrintable(path));
        QSqlQuery q(db);
        if (q.exec(sql))
            while (q.next()) {
                QStringList cols;
                for (int i = 0; i < 4 && q.value(i).isValid(); ++i)
                    cols.append(q.value(i).toString());
                out.append(cols.join(QLatin1Char('|')));
            }
        else
            out.append(QStringLiteral("error: ") + q.lastError().text());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("probe"));
    return out;
}

} // namespace kalder::test
