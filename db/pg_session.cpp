#include "db/pg_session.h"

#include "app/base/failure.h"
#include "db/connection.h"
#include "db/engine.h"
#include "db/pg_api.h"
#include "db/pg_dialect.h"

#include <QtEndian>

#include <charconv>
#include <cstring>

namespace kalder::pg {

namespace {
// What goes to the server at a time: enough that a piece costs little, small enough that the
// server starts on the first lines soon.
constexpr qsizetype Piece = 64 * 1024;
} // namespace

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

QByteArray textOf(double v)
{
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, v);
    return ec == std::errc() ? QByteArray(text, qsizetype(end - text)) : QByteArray::number(v, 'g', 17);
}

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

namespace {
// The opening and the end of COPY's binary form: its signature, no flags, no extension; a
// row of -1 fields.
constexpr char BinaryHeader[] = "PGCOPY\n\377\r\n\0\0\0\0\0\0\0\0\0";
constexpr char BinaryTrailer[] = "\377\377";

template <typename T>
void putBigEndian(QByteArray& data, T v)
{
    char bytes[sizeof(T)];
    qToBigEndian<T>(v, bytes);
    data.append(bytes, qsizetype(sizeof(T)));
}
} // namespace

CopyIn::CopyIn(Session& session, const QByteArray& sql, Form form, const QString& what)
    : m_s(session), m_form(form), m_what(what)
{
    Result start(libpq().PQexec(m_s.m_conn, sql.constData()));
    if (!start.get() || libpq().PQresultStatus(start.get()) != PGRES_COPY_IN) {
        m_open = false;
        const char* state = start.get() ? libpq().PQresultErrorField(start.get(), PG_DIAG_SQLSTATE) : nullptr;
        m_s.m_state = QByteArray(state ? state : "");
        throw failureOf(m_s.m_conn, start.get(), what);
    }
    m_data.reserve(Piece + 4096);
    if (m_form == Form::Binary)
        m_data.append(BinaryHeader, qsizetype(sizeof BinaryHeader - 1));
}

CopyIn::~CopyIn()
{
    if (!m_open)
        return;
    // ended with an error, every result read, so that the connection is ready for what follows
    libpq().PQputCopyEnd(m_s.m_conn, "kalder: copy cut off");
    while (PGresult* r = libpq().PQgetResult(m_s.m_conn)) {
        libpq().PQclear(r);
        if (libpq().PQstatus(m_s.m_conn) == CONNECTION_BAD)
            break;
    }
}

QByteArray& CopyIn::row()
{
    if (m_data.size() >= Piece)
        send();
    return m_data;
}

bool CopyIn::send()
{
    // the library copies what it is given into its own buffer, and sends it as it fills
    if (m_sent && !m_data.isEmpty())
        m_sent = libpq().PQputCopyData(m_s.m_conn, m_data.constData(), int(m_data.size())) == 1;
    m_data.clear();
    return m_sent;
}

void CopyIn::finish()
{
    PGconn* conn = m_s.m_conn;
    if (m_form == Form::Binary)
        m_data.append(BinaryTrailer, qsizetype(sizeof BinaryTrailer - 1));
    bool sent = send();
    m_open = false;
    if (libpq().PQputCopyEnd(conn, sent ? nullptr : "kalder: copy cut off") != 1)
        sent = false;
    std::optional<Failure> failure;
    // Every result of the COPY is read, so that the connection is ready for the next statement.
    while (PGresult* r = libpq().PQgetResult(conn)) {
        Result held(r);
        if (!failure && libpq().PQresultStatus(r) != PGRES_COMMAND_OK) {
            const char* state = libpq().PQresultErrorField(r, PG_DIAG_SQLSTATE);
            m_s.m_state = QByteArray(state ? state : "");
            failure = failureOf(conn, r, m_what);
        }
        if (libpq().PQstatus(conn) == CONNECTION_BAD)
            break;
    }
    if (!failure && (!sent || libpq().PQstatus(conn) == CONNECTION_BAD)) {
        m_s.m_state.clear();
        failure = failureOf(conn, nullptr, m_what);
    }
    if (failure)
        throw *failure;
    m_s.m_state.clear();
}

CopyText& CopyText::text(std::string_view text)
{
    next();
    // most texts hold nothing to escape, and go in whole
    size_t from = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char* escaped;
        switch (text[i]) {
        case '\\':
            escaped = "\\\\";
            break;
        case '\t':
            escaped = "\\t";
            break;
        case '\n':
            escaped = "\\n";
            break;
        case '\r':
            escaped = "\\r";
            break;
        default:
            continue;
        }
        m_data.append(text.data() + from, qsizetype(i - from));
        m_data.append(escaped, 2);
        from = i + 1;
    }
    m_data.append(text.data() + from, qsizetype(text.size() - from));
    return *this;
}

CopyText& CopyText::number(std::optional<double> v)
{
    next();
    if (!v) {
        m_data.append("\\N", 2);
        return *this;
    }
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, *v);
    m_data.append(text, ec == std::errc() ? qsizetype(end - text) : 0);
    return *this;
}

CopyText& CopyText::whole(qint64 n)
{
    next();
    char text[24];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, n);
    m_data.append(text, ec == std::errc() ? qsizetype(end - text) : 0);
    return *this;
}

CopyBinary::CopyBinary(CopyIn& copy, int fields) : m_data(copy.row()) { putBigEndian(m_data, qint16(fields)); }

CopyBinary& CopyBinary::text(std::string_view text)
{
    putBigEndian(m_data, qint32(text.size()));
    m_data.append(text.data(), qsizetype(text.size()));
    return *this;
}

CopyBinary& CopyBinary::number(std::optional<double> v)
{
    if (!v) {
        putBigEndian(m_data, qint32(-1));
        return *this;
    }
    quint64 bits;
    std::memcpy(&bits, &*v, sizeof bits);
    putBigEndian(m_data, qint32(8));
    putBigEndian(m_data, bits);
    return *this;
}

CopyBinary& CopyBinary::whole(qint64 n)
{
    putBigEndian(m_data, qint32(8));
    putBigEndian(m_data, n);
    return *this;
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
