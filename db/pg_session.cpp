#include "db/pg_session.h"

#include "app/base/failure.h"
#include "db/connection.h"
#include "db/engine.h"
#include "db/pg_api.h"
#include "db/pg_dialect.h"

namespace kalder::pg {

Result::~Result()
{
    if (m_r)
        libpq().PQclear(m_r);
}

Result& Result::operator=(Result&& other) noexcept
{
    if (this != &other) {
        if (m_r)
            libpq().PQclear(m_r);
        m_r = other.m_r;
        other.m_r = nullptr;
    }
    return *this;
}

int Result::rows() const { return m_r ? libpq().PQntuples(m_r) : 0; }

bool Result::isNull(int row, int col) const { return libpq().PQgetisnull(m_r, row, col) != 0; }

QByteArray Result::text(int row, int col) const
{
    return QByteArray(libpq().PQgetvalue(m_r, row, col), libpq().PQgetlength(m_r, row, col));
}

double Result::number(int row, int col) const
{
    return QByteArray::fromRawData(libpq().PQgetvalue(m_r, row, col), libpq().PQgetlength(m_r, row, col)).toDouble();
}

qint64 Result::integer(int row, int col) const
{
    return QByteArray::fromRawData(libpq().PQgetvalue(m_r, row, col), libpq().PQgetlength(m_r, row, col)).toLongLong();
}

qint64 Result::affected() const { return m_r ? QByteArray(libpq().PQcmdTuples(m_r)).toLongLong() : 0; }

QByteArray textOf(double v) { return QByteArray::number(v, 'g', 17); }

Session::Session(Connection& conn)
{
    if (!conn.isOpen() || conn.engine().kind() != Engine::Kind::Postgres || !(m_conn = handleOf(conn.database())))
        throw Failure(err::NotOpen, QStringLiteral("Соединение с сервером базы данных не открыто"));
    m_location = conn.path();
}

std::optional<Failure> Session::tryExec(const QByteArray& sql, const QString& what, const std::vector<Param>& params,
                                        Result* out)
{
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const Param& p : params)
        values.push_back(p ? p->constData() : nullptr);
    Result r(params.empty() ? libpq().PQexec(m_conn, sql.constData())
                            : libpq().PQexecParams(m_conn, sql.constData(), int(values.size()), nullptr, values.data(),
                                                   nullptr, nullptr, 0));
    const ExecStatusType status = r.get() ? libpq().PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
        m_state.clear();
        if (out)
            *out = std::move(r);
        return std::nullopt;
    }
    const char* state = r.get() ? libpq().PQresultErrorField(r.get(), PG_DIAG_SQLSTATE) : nullptr;
    m_state = QByteArray(state ? state : "");
    return failureOf(m_conn, r.get(), what);
}

Result Session::exec(const QByteArray& sql, const QString& what, const std::vector<Param>& params)
{
    Result r;
    if (auto f = tryExec(sql, what, params, &r))
        throw *f;
    return r;
}

void Session::copyIn(const QByteArray& sql, const QByteArray& data, const QString& what)
{
    Result start(libpq().PQexec(m_conn, sql.constData()));
    if (!start.get() || libpq().PQresultStatus(start.get()) != PGRES_COPY_IN) {
        const char* state = start.get() ? libpq().PQresultErrorField(start.get(), PG_DIAG_SQLSTATE) : nullptr;
        m_state = QByteArray(state ? state : "");
        throw failureOf(m_conn, start.get(), what);
    }
    // Sent in pieces: the library copies what it is given into its own buffer.
    constexpr qsizetype Piece = 1 << 20;
    bool sent = true;
    for (qsizetype at = 0; sent && at < data.size(); at += Piece)
        sent = libpq().PQputCopyData(m_conn, data.constData() + at, int(std::min(Piece, data.size() - at))) == 1;
    if (libpq().PQputCopyEnd(m_conn, sent ? nullptr : "kalder: copy cut off") != 1)
        sent = false;
    std::optional<Failure> failure;
    // Every result of the COPY is read, so that the connection is ready for the next statement.
    while (PGresult* r = libpq().PQgetResult(m_conn)) {
        Result held(r);
        if (!failure && libpq().PQresultStatus(r) != PGRES_COMMAND_OK) {
            const char* state = libpq().PQresultErrorField(r, PG_DIAG_SQLSTATE);
            m_state = QByteArray(state ? state : "");
            failure = failureOf(m_conn, r, what);
        }
        if (libpq().PQstatus(m_conn) == CONNECTION_BAD)
            break;
    }
    if (!failure && (!sent || libpq().PQstatus(m_conn) == CONNECTION_BAD)) {
        m_state.clear();
        failure = failureOf(m_conn, nullptr, what);
    }
    if (failure)
        throw *failure;
}

void Session::quietly(const char* sql) noexcept
{
    if (libpq().PQstatus(m_conn) != CONNECTION_OK)
        return;
    if (PGresult* r = libpq().PQexec(m_conn, sql))
        libpq().PQclear(r);
}

bool Session::connectionLost() const { return libpq().PQstatus(m_conn) == CONNECTION_BAD; }

} // namespace kalder::pg
