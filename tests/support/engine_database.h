// Test support for cases run on both engines from one table: the tests' database fixture
// (tests/support/database.h) made from SQL text that both engines read (double-quoted names,
// standard types), as an SQLite file or as a database of the test's PostgreSQL server, opened
// as the window opens it, and its rows read back in one form whatever the engine.
#pragma once

#include "app/base/state.h"
#include "db/connection.h"
#include "tests/support/database.h"
#include "tests/support/pg_server.h"

#include <QAtomicInt>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

namespace kalder::test {

inline const QStringList Engines{QStringLiteral("sqlite"), QStringLiteral("postgres")};

struct EngineDatabase {
    QTemporaryDir dir;
    QString location; // the file, or the server database's URI
    QString name; // the server database's name
    AppState state;

    // The engine's database with the statements (separated by ";\n") run; engine is one of
    // Engines. A server database needs pgServer().running().
    EngineDatabase(const QString& engine, const QString& sql)
    {
        static QAtomicInt serial;
        if (engine == QLatin1String("postgres")) {
            name = QStringLiteral("case%1").arg(serial.fetchAndAddRelaxed(1));
            location = pgServer().createDatabase(name);
            pgServer().exec(name, sql);
        } else {
            location = makeDatabase(dir.filePath(QStringLiteral("data.db")), {sql});
        }
        openSession(state, location);
    }

    // The rows of a query from a connection of its own, each as its columns joined by "|":
    // NULL for a Null, a number in its shortest form ("5", "2.25"), a text as it is.
    QStringList rows(const QString& select) const
    {
        Connection probe;
        probe.Open(connectionStringFor(location));
        QSqlQuery q(probe.database());
        if (!q.exec(select))
            qFatal("%s: %s", qPrintable(select), qPrintable(q.lastError().text()));
        QStringList out;
        while (q.next()) {
            QStringList cols;
            for (int i = 0; i < q.record().count(); ++i) {
                const QVariant v = q.value(i);
                if (v.isNull())
                    cols.append(QStringLiteral("NULL"));
                else if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Int ||
                         v.typeId() == QMetaType::LongLong)
                    cols.append(QString::number(v.toDouble(), 'g', 15));
                else
                    cols.append(v.toString());
            }
            out.append(cols.join(QLatin1Char('|')));
        }
        return out;
    }
};

} // namespace kalder::test
