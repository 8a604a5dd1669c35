// The choice of engine, and the SQLite engine over the dialect and the merge of its layer.
#include "db/engine.h"

#include "app/base/failure.h"
#include "db/pg_dialect.h"
#include "db/sqlite_dialect.h"
#include "db/sqlite_merge.h"

#include <QSqlQuery>

namespace kalder {

namespace {

class SqliteEngine final : public Engine {
public:
    Kind kind() const override { return Kind::Sqlite; }

    void open(const QString& name, const QString& path, int busyTimeoutMs) const override
    {
        if (!QSqlDatabase::isDriverAvailable(QString::fromLatin1(sqlite::DriverName)))
            throw Failure(err::BadFormat, QStringLiteral("Драйвер базы данных SQLite для Qt не установлен"));
        sqlite::checkDatabaseFile(path);
        QSqlDatabase db = QSqlDatabase::addDatabase(QString::fromLatin1(sqlite::DriverName), name);
        db.setDatabaseName(sqlite::driverDatabaseName(path));
        db.setConnectOptions(sqlite::connectOptions(busyTimeoutMs));
        if (!db.open()) {
            const QSqlError e = db.lastError();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            sqlite::fail(e, QStringLiteral("Не удалось открыть базу данных %1").arg(path));
        }
        // The driver opens lazily; reading the schema makes a damaged file fail here. The
        // temporary tables of a load live in memory; the setting is made once, since making it
        // later would drop every temporary table and trigger the connection has.
        QSqlQuery probe(db);
        if (!probe.exec(QString::fromLatin1(sqlite::ProbeStatement)) ||
            !probe.exec(QStringLiteral("PRAGMA temp_store = MEMORY"))) {
            const QSqlError e = probe.lastError();
            probe = QSqlQuery();
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            sqlite::fail(e, QStringLiteral("Не удалось прочитать базу данных %1").arg(path));
        }
    }
    void setBusyTimeout(const QSqlDatabase& db, int ms) const override { sqlite::setBusyTimeout(db, ms); }
    QString quoteIdentifier(const QString& name) const override { return sqlite::quoteIdentifier(name); }
    QString rowIdColumn() const override { return QString::fromLatin1(sqlite::RowId); }
    QString returningRowId() const override { return QString(); }
    [[noreturn]] void fail(const QSqlError& error, const QString& what) const override { sqlite::fail(error, what); }
    std::unique_ptr<KeyedMerge> openMerge(Connection& conn, const MergeFields& fields,
                                          const MergeOptions& options) const override
    {
        return sqlite::openMerge(conn, fields, options);
    }
};

} // namespace

bool isServerLocation(const QString& location)
{
    return location.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           location.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

const Engine& engineFor(const QString& location)
{
    static const SqliteEngine sqliteEngine;
    return isServerLocation(location) ? pg::engine() : static_cast<const Engine&>(sqliteEngine);
}

} // namespace kalder
