// Files for the start-up tests: settings.cfg written byte for byte, and small real databases.
#pragma once

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

namespace kalder::test {

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    f.write(bytes);
}

// tblData with `records` rows, so that a test can tell which database was opened, and an
// empty tblSettings.
inline void makeDb(const QString& path, int records = 1)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "maker");
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        q.exec("CREATE TABLE tblData (Code TEXT, MinValue REAL, MaxValue REAL)");
        for (int i = 0; i < records; ++i)
            q.exec(QStringLiteral("INSERT INTO tblData VALUES ('k%1', 1, 2)").arg(i));
        q.exec("CREATE TABLE tblSettings (LastFileName TEXT, StrNumWithCapt INTEGER, StrNumMAX INTEGER)");
        db.close();
    }
    QSqlDatabase::removeDatabase("maker");
}

} // namespace kalder::test
