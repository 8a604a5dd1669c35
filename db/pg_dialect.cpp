#include "db/pg_dialect.h"

#include "db/engine.h"
#include "db/pg_api.h"
#include "db/pg_merge.h"

#include <QSqlDriver>
#include <QSqlQuery>

#include <cstring>

namespace kalder::pg {

namespace {

QString locationText(const QString& uri) { return QStringLiteral("«%1»").arg(uri); }

class PgEngine final : public Engine {
public:
    Kind kind() const override { return Kind::Postgres; }

    void open(const QString& name, const QString& uri, int busyTimeoutMs) const override
    {
        if (!QSqlDatabase::isDriverAvailable(QString::fromLatin1(DriverName)))
            throw Failure(
                err::BadFormat,
                QStringLiteral("Драйвер PostgreSQL для Qt не установлен (пакет libqt6sql6-psql); база данных %1 "
                               "не открывается")
                    .arg(locationText(uri)));
        // Qt's driver reads its options as the client library's connection string, with ';'
        // between them; every value is given quoted.
        QStringList options;
        for (const auto& [key, value] : connectionOptions(uri)) {
            QByteArray quoted = value;
            quoted.replace('\\', "\\\\").replace('\'', "\\'");
            options.append(QString::fromUtf8(key + "='" + quoted + "'"));
        }
        QSqlDatabase db = QSqlDatabase::addDatabase(QString::fromLatin1(DriverName), name);
        db.setConnectOptions(options.join(QLatin1Char(';')));
        const auto drop = [&] {
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
        };
        if (!db.open()) {
            const QString text = db.lastError().databaseText().trimmed();
            drop();
            throw Failure(err::ServerUnreachable,
                          QStringLiteral("Не удалось подключиться к базе данных %1: %2").arg(locationText(uri), text));
        }
        // Notices (a temporary table that already exists, say) are not the operator's concern.
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SET client_min_messages = warning")) ||
            !q.exec(QStringLiteral("SET lock_timeout = %1").arg(busyTimeoutMs))) {
            const QSqlError e = q.lastError();
            q = QSqlQuery();
            drop();
            fail(e, QStringLiteral("Не удалось подготовить соединение с базой данных %1").arg(locationText(uri)));
        }
    }
    void setBusyTimeout(const QSqlDatabase& db, int ms) const override
    {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SET lock_timeout = %1").arg(ms)))
            fail(q.lastError(), QStringLiteral("Не удалось задать время ожидания блокировки"));
    }
    QString quoteIdentifier(const QString& name) const override { return pg::quoteIdentifier(name); }
    // A record's place in the table: valid until the record is written, which returns the new one.
    QString rowIdColumn() const override { return QStringLiteral("ctid"); }
    QString returningRowId() const override { return QStringLiteral(" RETURNING ctid"); }
    [[noreturn]] void fail(const QSqlError& error, const QString& what) const override
    {
        // The driver gives no SQLSTATE when no result came back: the connection is gone.
        const QByteArray state = error.nativeErrorCode().toLatin1();
        QString text = error.databaseText().trimmed();
        if (text.isEmpty())
            text = error.driverText();
        throw describe(state, text, state.isEmpty(), what);
    }
    std::unique_ptr<KeyedMerge> openMerge(Connection& conn, const MergeFields& fields,
                                          const MergeOptions& options) const override
    {
        return pg::openMerge(conn, fields, options);
    }
};

} // namespace

const Engine& engine()
{
    static const PgEngine instance;
    return instance;
}

QList<std::pair<QByteArray, QByteArray>> connectionOptions(const QString& uri)
{
    char* error = nullptr;
    PQconninfoOption* parsed = libpq().PQconninfoParse(uri.toUtf8().constData(), &error);
    if (!parsed) {
        const QString why = error ? QString::fromUtf8(error).trimmed() : QStringLiteral("нет памяти");
        libpq().PQfreemem(error);
        throw Failure(err::ServerUnreachable,
                      QStringLiteral("Адрес базы данных %1 не читается: %2").arg(locationText(uri), why));
    }
    QList<std::pair<QByteArray, QByteArray>> out;
    bool password = false, timeout = false, name = false;
    for (const PQconninfoOption* o = parsed; o->keyword; ++o) {
        if (!o->val)
            continue;
        const QByteArray key(o->keyword);
        if (key == "password")
            password = true;
        timeout = timeout || key == "connect_timeout";
        name = name || key == "application_name";
        out.append(std::pair(key, QByteArray(o->val)));
    }
    libpq().PQconninfoFree(parsed);
    // The address is not repeated: the password would be shown with it.
    if (password)
        throw Failure(
            err::ServerUnreachable,
            QStringLiteral("Адрес базы данных содержит пароль. Пароль не записывается в settings.cfg: укажите "
                           "его в файле паролей сервера (~/.pgpass, PGPASSFILE) или в переменной PGPASSWORD"));
    if (!timeout)
        out.append(std::pair(QByteArray("connect_timeout"), QByteArray("10")));
    if (!name)
        out.append(std::pair(QByteArray("application_name"), QByteArray("kalder")));
    return out;
}

PGconn* handleOf(const QSqlDatabase& db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    // The driver declares the type by its typedef; the type system may name the struct.
    if (!handle.isValid() ||
        (std::strcmp(handle.typeName(), "PGconn*") != 0 && std::strcmp(handle.typeName(), "pg_conn*") != 0))
        return nullptr;
    return *static_cast<PGconn* const*>(handle.constData());
}

QString quoteIdentifier(const QString& name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

Failure describe(const QByteArray& sqlstate, const QString& message, bool connectionLost, const QString& what)
{
    // Class 08 is the connection's; 57P01-57P03 a server shut down or starting.
    if (connectionLost || sqlstate.startsWith("08") || sqlstate.startsWith("57P"))
        return Failure(err::ServerGone, QStringLiteral("%1: соединение с сервером базы данных потеряно (%2); записи, "
                                                       "сохранённые до этого, остаются в таблице")
                                            .arg(what, message));
    if (sqlstate == "55P03")
        return Failure(err::LockTimeout, QStringLiteral("%1: таблица или запись занята другим соединением дольше "
                                                        "допустимого времени ожидания (%2)")
                                             .arg(what, message));
    return Failure(err::ServerRefused,
                   QStringLiteral("%1: %2 [SQLSTATE %3]").arg(what, message, QString::fromLatin1(sqlstate)));
}

Failure failureOf(PGconn* conn, const PGresult* result, const QString& what)
{
    const char* state = result ? libpq().PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    QString text = QString::fromUtf8(result ? libpq().PQresultErrorMessage(result) : "").trimmed();
    if (text.isEmpty())
        text = QString::fromUtf8(conn ? libpq().PQerrorMessage(conn) : "").trimmed();
    const bool lost = !conn || libpq().PQstatus(conn) == CONNECTION_BAD || !state;
    // The first line is the message; the lines after it repeat the statement.
    text = text.section(QLatin1Char('\n'), 0, 0);
    return describe(QByteArray(state ? state : ""), text, lost, what);
}

bool refusesTheRow(const QByteArray& sqlstate) { return sqlstate.startsWith("22") || sqlstate.startsWith("23"); }

} // namespace kalder::pg
