// Files for the start-up tests: settings.cfg written byte for byte, and small real databases.
#pragma once

#include "tests/support/database.h"

#include <QFile>
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
    QStringList sql{dataTable(QStringLiteral("Code TEXT, MinValue REAL, MaxValue REAL"))};
    for (int i = 0; i < records; ++i)
        sql.append(QStringLiteral("INSERT INTO tblData VALUES ('k%1', 1, 2)").arg(i));
    sql.append(SettingsTable);
    makeDatabase(path, sql);
}

} // namespace kalder::test
