#include "db/sqlite_session.h"

#include "app/base/failure_catalogue.h"
#include "db/connection.h"
#include "db/sqlite_dialect.h"

#include <sqlite3.h>

#include <algorithm>

namespace kalder::sqlite {

Statement::~Statement() { sqlite3_finalize(m_stmt); }

Statement& Statement::operator=(Statement&& other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_stmt = other.m_stmt;
        other.m_stmt = nullptr;
    }
    return *this;
}

void Statement::bind(int i, std::string_view text)
{
    sqlite3_bind_text(m_stmt, i, text.data(), int(text.size()), SQLITE_STATIC);
}

void Statement::bind(int i, double v) { sqlite3_bind_double(m_stmt, i, v); }

void Statement::bind(int i, qint64 v) { sqlite3_bind_int64(m_stmt, i, v); }

void Statement::bind(int i, std::optional<double> v)
{
    if (v)
        sqlite3_bind_double(m_stmt, i, *v);
    else
        sqlite3_bind_null(m_stmt, i);
}

int Statement::step() { return sqlite3_step(m_stmt); }

void Statement::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

bool Statement::run()
{
    const int rc = sqlite3_step(m_stmt);
    reset();
    return rc == SQLITE_DONE;
}

Session::Session(Connection& conn)
    : m_db(handleOf(conn.database())), m_path(conn.path()), m_busyMs(conn.busyTimeoutMs())
{
    if (!m_db)
        throw fail::connectionNotOpen();
}

Session::~Session()
{
    rollback();
    if (m_outer && !sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    // the connection outlives the load: its cache goes back to its size, and its pages with it
    if (m_cacheBefore)
        sqlite3_exec(m_db, QByteArray("PRAGMA cache_size = " + QByteArray::number(*m_cacheBefore)).constData(), nullptr,
                     nullptr, nullptr);
}

qint64 Session::pragma(const char* sql) const
{
    sqlite3_stmt* stmt = nullptr;
    qint64 value = -1;
    if (sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
        value = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    return value;
}

// A batch reads and writes the pages of the indexes of the table all over: with a cache
// smaller than they are, each page is written out and read back many times in one batch,
// through the kernel. The table's own new pages are written once, at its end, and need no
// room. The cache is sized, when a batch that writes begins, for a share of the database as it
// is (its indexes) and what the batch adds to an index on the key, within a bound; it only
// ever grows during a session.
void Session::sizeCache()
{
    const qint64 pages = pragma("PRAGMA page_count");
    const qint64 pageSize = pragma("PRAGMA page_size");
    const qint64 current = pragma("PRAGMA cache_size");
    if (pages < 0 || pageSize <= 0 || current == -1)
        return;
    // cache_size counts pages, or KiB when negative
    const qint64 currentPages = current >= 0 ? current : -current * 1024 / pageSize;
    // an index entry of a short key takes some twenty bytes, and rows repeat keys
    constexpr qint64 rowBytes = 8;
    const qint64 wanted =
        std::min(pages / 4 + ((8ll << 20) + m_expectedRows * rowBytes) / pageSize, MaxCacheBytes / pageSize);
    if (wanted <= currentPages)
        return;
    if (!m_cacheBefore)
        m_cacheBefore = current;
    sqlite3_exec(m_db, QByteArray("PRAGMA cache_size = " + QByteArray::number(wanted)).constData(), nullptr, nullptr,
                 nullptr);
}

Statement Session::prepare(const QString& sql, const QString& what) const
{
    Statement s = tryPrepare(sql);
    if (!s)
        fail(what);
    return s;
}

Statement Session::tryPrepare(const QString& sql) const
{
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, utf8.constData(), int(utf8.size()), &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return Statement();
    }
    return Statement(stmt);
}

void Session::exec(const QString& sql, const QString& what) const
{
    if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(what);
}

bool Session::begin(bool write)
{
    rollback();
    const QString what = QStringLiteral("Не удалось начать запись в базу данных %1").arg(m_path);
    if (m_rehearsal && write && m_outer) {
        if (sqlite3_get_autocommit(m_db))
            fail(what); // the engine ended the rehearsal's transaction on an error of its own
        if (sqlite3_exec(m_db, "SAVEPOINT kalder_batch", nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(what);
        m_open = true;
        m_writing = true;
        sizeCache();
        const bool changed = m_forgotten;
        m_forgotten = false;
        return changed;
    }
    if (sqlite3_exec(m_db, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(what);
    m_open = true;
    m_writing = write;
    // The data version changes exactly when another connection has committed; reading it also
    // starts the read of a batch that only reads, so what it reads next is of this version.
    sqlite3_stmt* stmt = nullptr;
    qint64 version = 0;
    int rc = sqlite3_prepare_v2(m_db, "PRAGMA data_version", -1, &stmt, nullptr);
    if (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW)
        version = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW) {
        const int code = sqlite3_extended_errcode(m_db);
        const QString message = QString::fromUtf8(sqlite3_errmsg(m_db));
        rollback();
        throw describedFailure(code, message, what);
    }
    const bool changed = !m_version || *m_version != version;
    m_version = version;
    if (write)
        sizeCache();
    if (m_rehearsal && write) {
        // the transaction of the whole rehearsal; its first batch a savepoint in it
        m_outer = true;
        m_open = false;
        begin(true);
        m_forgotten = false;
    }
    return changed;
}

void Session::commit(const QString& what)
{
    if (!inBatch()) {
        rollback();
        return;
    }
    if (m_rehearsal && m_writing) {
        if (sqlite3_exec(m_db, "RELEASE kalder_batch", nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(what);
        m_open = false;
        return;
    }
    if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        // a commit the engine could not make (a reader that keeps its lock, a full disk)
        // leaves the batch open: it is taken back, and the failure names the cause
        const int code = sqlite3_extended_errcode(m_db);
        const QString message = QString::fromUtf8(sqlite3_errmsg(m_db));
        rollback();
        throw describedFailure(code, message, what);
    }
    m_open = false;
}

void Session::rollback() noexcept
{
    if (!m_open)
        return;
    if (m_rehearsal && m_writing) {
        if (!sqlite3_get_autocommit(m_db)) {
            sqlite3_exec(m_db, "ROLLBACK TO kalder_batch", nullptr, nullptr, nullptr);
            sqlite3_exec(m_db, "RELEASE kalder_batch", nullptr, nullptr, nullptr);
        }
        m_forgotten = true;
        m_open = false;
        return;
    }
    if (!sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    // what the caller kept of a batch that wrote is no longer the table
    if (m_writing)
        m_version.reset();
    m_open = false;
}

bool Session::inBatch() const { return m_open && !sqlite3_get_autocommit(m_db); }

bool Session::failedOutsideTheRow() const { return outsideTheRow(sqlite3_extended_errcode(m_db)); }

void Session::fail(const QString& what) const { throw failure(what); }

Failure Session::failure(const QString& what) const
{
    return describedFailure(sqlite3_extended_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db)), what);
}

bool Session::outsideTheRow(int code)
{
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_NOMEM:
    case SQLITE_READONLY:
    case SQLITE_INTERRUPT:
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN:
    case SQLITE_PROTOCOL:
    case SQLITE_NOLFS:
    case SQLITE_AUTH:
    case SQLITE_NOTADB:
        return true;
    default:
        return false;
    }
}

Failure Session::describedFailure(int code, const QString& message, const QString& what) const
{
    // The number is the engine's code in its own range; the words say what failed in ours and
    // end with the engine's own, so that the code can be looked up by what the engine said.
    const auto engine = [&](const QString& description) {
        return Failure(err::fromSqlite(code), description + QStringLiteral(" — SQLite: ") + message);
    };
    const QString file = m_path;
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return engine(QStringLiteral("База данных %1 занята другой программой: она не освободила её за %2 с. "
                                     "Повторите загрузку, когда та закончит работу")
                          .arg(file)
                          .arg(m_busyMs / 1000.0, 0, 'g', 3));
    case SQLITE_READONLY:
        if (code == SQLITE_READONLY_DIRECTORY)
            return engine(QStringLiteral("Нет права записи в папку базы данных %1: в ней нельзя создать "
                                         "журнал изменений")
                              .arg(file));
        return engine(QStringLiteral("База данных %1 доступна только для чтения: нет права записи в файл "
                                     "или в его папку")
                          .arg(file));
    case SQLITE_FULL:
        return engine(QStringLiteral("Нет места для записи в базу данных %1: диск заполнен или база достигла "
                                     "предельного размера")
                          .arg(file));
    case SQLITE_NOMEM:
        return engine(QStringLiteral("Недостаточно памяти для работы с базой данных %1").arg(file));
    case SQLITE_IOERR:
        return Failure(err::fromSqlite(code),
                       QStringLiteral("Ошибка чтения или записи файла базы данных %1: %2").arg(file, message));
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return Failure(err::fromSqlite(code), QStringLiteral("База данных %1 повреждена: %2").arg(file, message));
    case SQLITE_CANTOPEN:
        return Failure(err::fromSqlite(code),
                       QStringLiteral("Не удалось открыть файл базы данных %1 или её журнал: %2").arg(file, message));
    default:
        return Failure(err::fromSqlite(code), what + QStringLiteral(": ") + message);
    }
}

} // namespace kalder::sqlite
