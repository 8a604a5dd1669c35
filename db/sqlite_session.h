// SQLite's own interface on the handle of the Qt SQL connection, for the work that Qt SQL makes
// slow: prepared statements owned by a small holder, and the transactions of a writer that
// shares its database with other connections.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace kalder {
class Connection;
class Failure;
} // namespace kalder

namespace kalder::sqlite {

// A prepared statement, finalized when its holder goes. Texts are bound without a copy: the
// statement is stepped and reset while they live.
class Statement {
public:
    Statement() = default;
    explicit Statement(sqlite3_stmt* stmt) : m_stmt(stmt) { }
    ~Statement();
    Statement(Statement&& other) noexcept : m_stmt(other.m_stmt) { other.m_stmt = nullptr; }
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    explicit operator bool() const { return m_stmt != nullptr; }
    sqlite3_stmt* get() const { return m_stmt; }

    void bind(int i, std::string_view text);
    void bind(int i, double v);
    void bind(int i, qint64 v);
    void bind(int i, std::optional<double> v); // nothing: Null
    int step(); // the engine's result code
    void reset(); // ready for the next bindings
    // Steps a statement that returns no row and makes it ready for the next; true when it ran.
    bool run();

private:
    sqlite3_stmt* m_stmt = nullptr;
};

// A connection's writer: statements, and batches that each hold the write lock while they run.
// Failures name the file when they are the database's or the machine's (a lock not released,
// a file or folder that cannot be written, a full disk), and what failed otherwise.
class Session {
public:
    // Fails with err::NotOpen unless the connection is an open SQLite connection.
    explicit Session(Connection& conn);
    ~Session(); // rolls back a batch still open
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    sqlite3* handle() const { return m_db; }
    const QString& path() const { return m_path; }

    Statement prepare(const QString& sql, const QString& what) const;
    Statement tryPrepare(const QString& sql) const; // empty when the engine cannot take it
    void exec(const QString& sql, const QString& what) const;

    // Starts a batch that holds the write lock (waiting for it as long as the busy timeout),
    // or, with write false, a batch that only reads. True when another connection has
    // committed to the database since the previous batch began, or when none did before:
    // what was read before is then no longer the table.
    bool begin(bool write = true);
    // From now on the batches that write are savepoints in one transaction that is never
    // committed: it is taken back when the session goes.
    void rehearse() { m_rehearsal = true; }
    void commit(const QString& what); // the batch in hand; a failure rolls it back
    // Ends the batch in hand, taking back what it wrote; after a batch that wrote, the next
    // begin() reports the table changed.
    void rollback() noexcept;
    // Whether a batch is open; false also after the engine ended it on an error of its own.
    bool inBatch() const;

    // The failure of the engine's last error, described by what was being done: for the
    // database's or the machine's errors, what failed with the file named instead.
    [[noreturn]] void fail(const QString& what) const;
    Failure failure(const QString& what) const;
    // Whether the last error lies with the database file or the machine rather than with
    // the row being written.
    bool failedOutsideTheRow() const;
    // The same for an engine code (err::sqliteCode of a failure's number; 0 for none).
    static bool outsideTheRow(int code);

    // The rows the batches about to be written hold, which their pages take room for in the
    // cache beside the database's own.
    void expectRows(qint64 rows) { m_expectedRows = rows; }
    // The most memory the page cache of a writer takes.
    static constexpr qint64 MaxCacheBytes = 512ll << 20;

private:
    Failure describedFailure(int code, const QString& message, const QString& what) const;
    qint64 pragma(const char* sql) const; // the number a pragma gives; -1 when it gives none
    void sizeCache();

    sqlite3* m_db = nullptr;
    QString m_path;
    int m_busyMs = 0;
    bool m_open = false; // a batch begun and not yet ended
    bool m_writing = false; // the batch holds the write lock
    std::optional<qint64> m_version; // the database's data version when the last batch began
    bool m_rehearsal = false;
    bool m_outer = false; // the transaction of a rehearsal is open
    bool m_forgotten = false; // a rehearsed batch was taken back
    qint64 m_expectedRows = 0;
    std::optional<qint64> m_cacheBefore; // the connection's cache_size before a batch widened it
};

} // namespace kalder::sqlite
