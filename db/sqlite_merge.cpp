// The keyed merge over SQLite's own interface, on the handle of the Qt SQL connection: the
// per-row work is a handful of prepared statements, with no scan of the table, whether or
// not the key field has an index of its own. Three paths, chosen once per merge:
// - MemoryMerge: a text key field under one of SQLite's built-in collations (BINARY, NOCASE,
//   RTRIM) whose table has triggers: the stored keys in memory, keyed by the text folded as
//   the collation compares it, and every row written as it comes, so the triggers see each;
// - BatchedMerge: the same keys in memory, each batch written when it commits (the records of
//   new keys with the values of all their rows, each widened record once), replayed row by
//   row through MemoryMerge's writes when the table refuses one;
// - IndexMerge: any other key field: the stored keys in a temporary index of (key, row id)
//   whose key column has the field's type affinity and collation, so SQLite itself applies
//   both to every lookup.
#include "db/sqlite_merge.h"

#include "app/base/failure_catalogue.h"
#include "db/sqlite_dialect.h"
#include "db/sqlite_session.h"
#include "db/stored_keys.h"

#include <QHash>
#include <QLocale>
#include <QStringEncoder>
#include <QStringList>
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace kalder::sqlite {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr int InsertRows = 64;

std::optional<double> number(double v)
{
    return std::isnan(v) ? std::nullopt : std::optional(v);
} // the records one statement of many writes
const QString KeysTable = QStringLiteral("kalder_keys");

// The current value of a minimum or maximum field, and its number when it has one: a number,
// or a text that reads as one. Null, a blob and any other text have none.
StoredValue storedValue(sqlite3_stmt* stmt, int col)
{
    StoredValue v;
    switch (sqlite3_column_type(stmt, col)) {
    case SQLITE_INTEGER:
        v.type = StoredValue::Type::Integer;
        v.integer = sqlite3_column_int64(stmt, col);
        v.number = double(v.integer);
        break;
    case SQLITE_FLOAT:
        v.type = StoredValue::Type::Real;
        v.number = sqlite3_column_double(stmt, col);
        break;
    case SQLITE_TEXT: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, col));
        const int n = sqlite3_column_bytes(stmt, col);
        bool ok = false;
        const double d = QLocale::c().toDouble(QString::fromUtf8(p, n).trimmed(), &ok);
        if (ok && std::isfinite(d)) {
            v.type = StoredValue::Type::Text;
            v.number = d;
            v.text = QByteArray(p, n);
        }
        break;
    }
    default:
        break;
    }
    return v;
}

// Whether the memory path must keep a stored value beside its number to give it back exactly:
// a text, or a whole number a double does not hold.
bool keptApart(const StoredValue& v)
{
    constexpr qint64 exact = qint64(1) << 53;
    return v.type == StoredValue::Type::Text ||
           (v.type == StoredValue::Type::Integer && (v.integer > exact || v.integer < -exact));
}

// The rows of a batch, kept to merge them again (when another connection wrote the table
// before the batch took the write lock, or the table refused one of its records): in memory up
// to a bound, beyond it in a temporary file that only such a second merge reads back, so that
// a batch of a million rows takes the memory of a few thousand. Where no temporary file can be
// made or written, the rows stay in memory.
class RowLog {
public:
    RowLog() = default;
    RowLog(const RowLog&) = delete;
    RowLog& operator=(const RowLog&) = delete;
    ~RowLog()
    {
        if (m_file)
            std::fclose(m_file);
    }

    void append(std::string_view key, double min, double max, qint64 row)
    {
        const quint32 n = quint32(key.size());
        const size_t at = m_buffer.size();
        m_buffer.resize(at + Head + n);
        char* p = m_buffer.data() + at;
        std::memcpy(p, &row, 8);
        std::memcpy(p + 8, &min, 8);
        std::memcpy(p + 16, &max, 8);
        std::memcpy(p + 24, &n, 4);
        std::memcpy(p + Head, key.data(), n);
        ++m_count;
        if (m_buffer.size() >= InMemory && !m_inMemoryOnly)
            spill();
    }

    // fn(key, min, max, row) for each row in the order they came.
    template <typename Fn>
    void forEach(Fn fn)
    {
        if (m_file && m_spilled > 0) {
            std::vector<char> chunk;
            qint64 left = m_spilled;
            if (std::fflush(m_file) != 0 || std::fseek(m_file, 0, SEEK_SET) != 0)
                unreadable();
            while (left > 0) {
                const size_t kept = chunk.size();
                const size_t n = size_t(std::min<qint64>(left, InMemory));
                chunk.resize(kept + n);
                if (std::fread(chunk.data() + kept, 1, n, m_file) != n)
                    unreadable();
                left -= qint64(n);
                const size_t used = entries(chunk.data(), chunk.size(), fn);
                chunk.erase(chunk.begin(), chunk.begin() + qsizetype(used));
            }
            if (std::fseek(m_file, long(m_spilled), SEEK_SET) != 0)
                unreadable();
        }
        entries(m_buffer.data(), m_buffer.size(), fn);
    }

    bool empty() const { return m_count == 0; }
    // Empty, for the next batch; the file stays to be written again.
    void clear()
    {
        m_buffer.clear();
        m_count = 0;
        m_spilled = 0;
        if (m_file && std::fseek(m_file, 0, SEEK_SET) != 0) {
            std::fclose(m_file);
            m_file = nullptr;
        }
    }

private:
    static constexpr size_t Head = 28; // row, min, max, the key's length
    static constexpr size_t InMemory = 1 << 20; // bytes of rows kept before they go to the file

    // The whole entries at the start of bytes, given to fn; returns the bytes they take.
    template <typename Fn>
    static size_t entries(const char* bytes, size_t size, Fn& fn)
    {
        size_t at = 0;
        while (size - at >= Head) {
            qint64 row;
            double min, max;
            quint32 n;
            std::memcpy(&row, bytes + at, 8);
            std::memcpy(&min, bytes + at + 8, 8);
            std::memcpy(&max, bytes + at + 16, 8);
            std::memcpy(&n, bytes + at + 24, 4);
            if (size - at - Head < n)
                break;
            fn(std::string_view(bytes + at + Head, n), min, max, row);
            at += Head + n;
        }
        return at;
    }

    void spill()
    {
        if (!m_file && !(m_file = std::tmpfile())) {
            m_inMemoryOnly = true;
            return;
        }
        if (std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_file) == m_buffer.size()) {
            m_spilled += qint64(m_buffer.size());
            m_buffer.clear();
            return;
        }
        // the temporary file is full: what it holds comes back, and the rows stay in memory
        std::vector<char> rest = std::move(m_buffer);
        m_buffer.assign(size_t(m_spilled), 0);
        if (m_spilled > 0 && (std::fflush(m_file) != 0 || std::fseek(m_file, 0, SEEK_SET) != 0 ||
                              std::fread(m_buffer.data(), 1, m_buffer.size(), m_file) != m_buffer.size()))
            unreadable();
        m_buffer.insert(m_buffer.end(), rest.begin(), rest.end());
        std::fclose(m_file);
        m_file = nullptr;
        m_spilled = 0;
        m_inMemoryOnly = true;
    }

    [[noreturn]] static void unreadable()
    {
        throw Failure(err::DeviceUnavailable, QStringLiteral("Не удалось прочитать временный файл загрузки"));
    }

    std::vector<char> m_buffer; // the rows not in the file
    std::FILE* m_file = nullptr;
    qint64 m_spilled = 0; // bytes of rows in the file
    qint64 m_count = 0;
    bool m_inMemoryOnly = false;
};

// What the merge learns of the table before it chooses its path.
struct Shape {
    QString keyAffinity;
    QString collation;
    bool triggers = false;
};

Shape inspect(Session& session, const MergeFields& fields)
{
    const QByteArray table = fields.table.toUtf8();
    const auto column = [&](const QString& field, const char** type, const char** collation) {
        const int rc =
            sqlite3_table_column_metadata(session.handle(), nullptr, table.constData(), field.toUtf8().constData(),
                                          type, collation, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            throw fail::fieldNotFound(field, fields.table);
    };
    const char* keyType = nullptr;
    const char* keyCollation = nullptr;
    column(fields.key, &keyType, &keyCollation);
    Shape shape;
    shape.keyAffinity = affinityType(keyType);
    shape.collation = QString::fromUtf8(keyCollation ? keyCollation : "BINARY");
    if (fields.min)
        column(*fields.min, nullptr, nullptr);
    if (fields.max)
        column(*fields.max, nullptr, nullptr);

    Statement triggers = session.prepare(
        QStringLiteral(
            "SELECT 1 FROM main.sqlite_master WHERE type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE "
            "UNION ALL SELECT 1 FROM temp.sqlite_master WHERE type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE "
            "AND name <> 'kalder_journal'"),
        QStringLiteral("Подготовка загрузки в таблицу %1").arg(fields.table));
    triggers.bind(1, view(table));
    const int rc = triggers.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        session.fail(QStringLiteral("Подготовка загрузки в таблицу %1").arg(fields.table));
    shape.triggers = rc == SQLITE_ROW;
    return shape;
}

// What every path shares: the session, the quoted names, the row in hand and the batches.
class SqliteMerge : public KeyedMerge {
protected:
    SqliteMerge(Connection& conn, const MergeFields& fields, const MergeOptions& options)
        : m_session(conn), m_table(fields.table), m_hasMin(fields.min.has_value()), m_hasMax(fields.max.has_value()),
          m_t(quoteIdentifier(fields.table)), m_key(quoteIdentifier(fields.key)),
          m_minName(m_hasMin ? quoteIdentifier(*fields.min) : QString()),
          m_maxName(m_hasMax ? quoteIdentifier(*fields.max) : QString()),
          m_batchRows(options.batchRows > 0 ? options.batchRows : 1), m_observer(options.observer),
          m_rehearsal(options.rehearsal)
    {
        if (m_rehearsal)
            m_session.rehearse();
    }

    // The loaded fields' values as the observer is told them.
    std::optional<double> loadedMin(double v) const { return m_hasMin ? number(v) : std::nullopt; }
    std::optional<double> loadedMax(double v) const { return m_hasMax ? number(v) : std::nullopt; }

    QString preparing() const { return QStringLiteral("Подготовка загрузки в таблицу %1").arg(m_table); }

    // The names a new record is written with: the key, then the minimum and the maximum loaded.
    QStringList recordNames() const
    {
        QStringList names{m_key};
        if (m_hasMin)
            names.append(m_minName);
        if (m_hasMax)
            names.append(m_maxName);
        return names;
    }
    static QString marks(qsizetype n)
    {
        return QLatin1Char('(') + QStringList(n, QStringLiteral("?")).join(QLatin1Char(',')) + QLatin1Char(')');
    }
    QString insertSql(int records) const
    {
        const QStringList names = recordNames();
        return QStringLiteral("INSERT INTO main.%1 (%2) VALUES ").arg(m_t, names.join(QLatin1Char(','))) +
               QStringList(records, marks(names.size())).join(QLatin1Char(','));
    }
    // A widening sets a field to the smaller (larger) of its stored value and the new one, so
    // that widenings by other connections compose with it; a Null new value, a Null field and
    // a text that no number was read from are left as they are. stored names the field as the
    // statement reads it.
    static QString widened(const QString& field, const QString& stored, const QString& value, bool lower)
    {
        return QStringLiteral(
                   "%1 = CASE WHEN %3 IS NULL OR %2 IS NULL OR (typeof(%2) IN ('integer', 'real') AND %2 %4 %3) "
                   "THEN %2 ELSE %3 END")
            .arg(field, stored, value, lower ? QStringLiteral("<=") : QStringLiteral(">="));
    }
    // The row id first, then the new minimum and maximum.
    QString widenSql() const
    {
        QStringList sets;
        int mark = 2;
        if (m_hasMin)
            sets.append(widened(m_minName, m_minName, QStringLiteral("?%1").arg(mark++), true));
        if (m_hasMax)
            sets.append(widened(m_maxName, m_maxName, QStringLiteral("?%1").arg(mark++), false));
        return QStringLiteral("UPDATE main.%1 SET %2 WHERE rowid = ?1").arg(m_t, sets.join(QLatin1Char(',')));
    }
    // The same for InsertRows records in one statement, where the engine can join an update with
    // a list of values (SQLite 3.33 on).
    QString widenManySql() const
    {
        QStringList sets;
        int column = 2;
        if (m_hasMin)
            sets.append(
                widened(m_minName, QStringLiteral("d.") + m_minName, QStringLiteral("w.column%1").arg(column++), true));
        if (m_hasMax)
            sets.append(widened(m_maxName, QStringLiteral("d.") + m_maxName, QStringLiteral("w.column%1").arg(column++),
                                false));
        return QStringLiteral("UPDATE main.%1 AS d SET %2 FROM (VALUES %3) AS w WHERE d.rowid = w.column1")
            .arg(m_t, sets.join(QLatin1Char(',')), QStringList(InsertRows, marks(column - 1)).join(QLatin1Char(',')));
    }

    // Binds a new record's values from mark on: the key, then the minimum and the maximum that
    // are loaded. Returns the next mark.
    int bindRecord(Statement& stmt, int mark, std::string_view key, double min, double max) const
    {
        stmt.bind(mark++, key);
        if (m_hasMin)
            stmt.bind(mark++, min);
        if (m_hasMax)
            stmt.bind(mark++, max);
        return mark;
    }
    // Binds a widening from mark on: the record's row id, then its new minimum and maximum of
    // those loaded (nothing: the field stays). Returns the next mark.
    int bindWidening(Statement& stmt, int mark, qint64 rid, std::optional<double> min, std::optional<double> max) const
    {
        stmt.bind(mark++, rid);
        if (m_hasMin)
            stmt.bind(mark++, min);
        if (m_hasMax)
            stmt.bind(mark++, max);
        return mark;
    }

    // The key of the row in hand as UTF-8, its buffer reused.
    void take(QStringView key, qint64 row)
    {
        m_keyUtf8.resize(key.size() * 3); // the most UTF-8 a UTF-16 unit becomes
        QStringEncoder utf8(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
        m_keyUtf8.resize(utf8.appendToBuffer(m_keyUtf8.data(), key) - m_keyUtf8.constData());
        m_row = row;
    }

    // The engine refused the record of the row in hand. A rehearsal passes over the row and
    // tells the observer; otherwise, and for a failure that lies with the file or the machine
    // (which names neither the row nor its key), the merge fails.
    void refuse()
    {
        const bool rows = !m_session.failedOutsideTheRow();
        const bool ended = !m_session.inBatch(); // an error that ended the batch
        const Failure f = m_session.failure(
            QStringLiteral("Запись с ключом «%1» в таблице %2").arg(QString::fromUtf8(m_keyUtf8), m_table));
        if (m_rehearsal && rows && !ended) {
            if (m_observer)
                m_observer->refused(m_row, view(m_keyUtf8), f);
            return;
        }
        if (rows)
            m_failedRow = m_row;
        if (ended)
            m_pendingAdded = 0;
        throw f;
    }
    // Runs a write of the row in hand; false when a rehearsal passed over the row.
    bool run(Statement& stmt)
    {
        if (stmt.run())
            return true;
        refuse();
        return false;
    }

    // Takes back the batch in hand.
    void rollbackBatch()
    {
        m_session.rollback();
        m_pendingAdded = 0;
        if (m_observer)
            m_observer->rolledBack();
    }

    // Commits the batch in hand, if any.
    void commitBatch()
    {
        m_failedRow.reset();
        m_inBatch = 0;
        if (!m_session.inBatch()) { // none, or the engine already took it back
            rollbackBatch();
            return;
        }
        try {
            if (m_observer)
                m_observer->beforeCommit();
            m_session.commit(QStringLiteral("Не удалось сохранить изменения в таблице %1").arg(m_table));
        } catch (const Failure&) {
            rollbackBatch();
            throw;
        }
        m_committedAdded += m_pendingAdded;
        m_pendingAdded = 0;
        if (m_observer)
            m_observer->committed();
    }

    Session m_session;
    QString m_table;
    bool m_hasMin, m_hasMax;
    QString m_t, m_key, m_minName, m_maxName; // quoted
    int m_batchRows;
    MergeObserver* m_observer;
    bool m_rehearsal;
    int m_inBatch = 0;
    QByteArray m_keyUtf8; // the key of the row in hand
    qint64 m_row = 0;
};

// Keys in memory, each row written as it comes.
class MemoryMerge : public SqliteMerge {
public:
    MemoryMerge(Connection& conn, const MergeFields& fields, const MergeOptions& options, Fold fold)
        : SqliteMerge(conn, fields, options), m_known(fold)
    {
        m_gatherSql = QStringLiteral("SELECT rowid, ") + m_key;
        if (m_hasMin)
            m_gatherSql += QStringLiteral(", ") + m_minName;
        if (m_hasMax)
            m_gatherSql += QStringLiteral(", ") + m_maxName;
        m_gatherSql += QStringLiteral(" FROM main.%1 ORDER BY rowid").arg(m_t);
        m_insert = m_session.prepare(insertSql(1), preparing());
        if (m_hasMin || m_hasMax)
            m_widen = m_session.prepare(widenSql(), preparing());
    }

    bool merge(QStringView key, std::optional<double> min, std::optional<double> max, qint64 row) override
    {
        if (!m_session.inBatch()) {
            if (m_session.begin())
                gather();
            m_inBatch = 0;
        }
        take(key, row);
        const bool added = mergeRow(min, max);
        if (++m_inBatch >= m_batchRows)
            commitBatch();
        return added;
    }

    void commit() override { commitBatch(); }

protected:
    // Reads every stored key anew: what was read before is no longer the table.
    void gather()
    {
        m_known.clear();
        m_apart[0].clear();
        m_apart[1].clear();
        const QString what = QStringLiteral("Чтение ключей таблицы %1").arg(m_table);
        Statement stmt = m_session.prepare(m_gatherSql, what);
        int rc;
        while ((rc = stmt.step()) == SQLITE_ROW) {
            sqlite3_stmt* s = stmt.get();
            // Under text affinity a stored key is text, Null or a blob; only a text can equal a text.
            if (sqlite3_column_type(s, 1) != SQLITE_TEXT)
                continue;
            const std::string_view f = m_known.fold(
                {reinterpret_cast<const char*>(sqlite3_column_text(s, 1)), size_t(sqlite3_column_bytes(s, 1))});
            const quint32 hash = StoredKeys::hashOf(f);
            if (m_known.find(f, hash))
                continue; // the first record, in row id order, is the one a query updates
            Known known;
            const std::string_view stored{reinterpret_cast<const char*>(sqlite3_column_text(s, 1)),
                                          size_t(sqlite3_column_bytes(s, 1))};
            m_known.keep(known, f, stored);
            known.rid = sqlite3_column_int64(s, 0);
            int col = 2;
            for (int field = 0; field < 2; ++field) {
                if (!(field == 0 ? m_hasMin : m_hasMax))
                    continue;
                StoredValue v = storedValue(s, col++);
                (field == 0 ? known.min : known.max) = v.number;
                known.types |= quint8(quint8(v.type) << (4 * field));
                if (keptApart(v))
                    m_apart[field].insert(known.rid, std::move(v));
            }
            m_known.add(known, hash);
        }
        if (rc != SQLITE_DONE)
            m_session.fail(what);
        m_firstUnwritten = m_known.size();
    }

    // Merges the row in hand and writes it at once.
    bool mergeRow(std::optional<double> min, std::optional<double> max)
    {
        const std::string_view f = m_known.fold(view(m_keyUtf8));
        const quint32 hash = StoredKeys::hashOf(f);
        if (Known* found = m_known.find(f, hash)) {
            Known& k = *found;
            // a NaN (no number stored) compares false: never widened
            const std::optional<double> newMin = m_hasMin && min && *min < k.min ? min : std::nullopt;
            const std::optional<double> newMax = m_hasMax && max && *max > k.max ? max : std::nullopt;
            if (!newMin && !newMax) {
                if (m_observer)
                    m_observer->matched(k.rid, k.written());
                return false;
            }
            bindWidening(m_widen, 1, k.rid, newMin, newMax);
            if (!run(m_widen))
                return false;
            if (m_observer)
                m_observer->widened(k.rid, k.written(), stored(k, 0, k.min), stored(k, 1, k.max), newMin, newMax);
            if (newMin)
                ownNumber(k, 0);
            if (newMax)
                ownNumber(k, 1);
            k.min = newMin.value_or(k.min);
            k.max = newMax.value_or(k.max);
            return false;
        }
        bindRecord(m_insert, 1, view(m_keyUtf8), min.value_or(0.0), max.value_or(0.0));
        if (!run(m_insert))
            return false;
        ++m_pendingAdded;
        Known known;
        m_known.keep(known, f, view(m_keyUtf8));
        known.rid = sqlite3_last_insert_rowid(m_session.handle());
        known.types = quint8(StoredValue::Type::Real) | quint8(quint8(StoredValue::Type::Real) << 4);
        if (m_observer)
            m_observer->added(known.rid, known.written(), m_hasMin ? std::optional(min.value_or(0.0)) : std::nullopt,
                              m_hasMax ? std::optional(max.value_or(0.0)) : std::nullopt);
        if (m_hasMin)
            known.min = min.value_or(0.0);
        if (m_hasMax)
            known.max = max.value_or(0.0);
        m_known.add(known, hash);
        m_firstUnwritten = m_known.size();
        return true;
    }

    // A stored minimum (field 0) or maximum (1) of a record as the table held it, with the
    // number the record holds for it now or held before the batch in hand widened it.
    StoredValue stored(const Known& k, int field, double number) const
    {
        StoredValue v;
        v.type = StoredValue::Type((k.types >> (4 * field)) & 0xF);
        v.number = number;
        if (v.type == StoredValue::Type::None)
            return v;
        if (const auto it = m_apart[field].constFind(k.rid); it != m_apart[field].cend())
            return *it;
        if (v.type == StoredValue::Type::Integer)
            v.integer = qint64(number);
        return v;
    }
    // A field the widening of a record changed: it holds a number of its own from now on.
    void ownNumber(Known& k, int field)
    {
        k.types = quint8((k.types & ~(0xF << (4 * field))) | (quint8(StoredValue::Type::Real) << (4 * field)));
        if (!m_apart[field].isEmpty())
            m_apart[field].remove(k.rid);
    }

    StoredKeys m_known;
    QHash<qint64, StoredValue> m_apart[2]; // stored values a number does not give back exactly
    QString m_gatherSql;
    Statement m_insert; // a new record
    Statement m_widen; // new min / max of a record
    size_t m_firstUnwritten = 0; // the records from here on are new in the batch in hand
};

// Keys in memory, each batch written when it commits.
class BatchedMerge final : public MemoryMerge {
public:
    BatchedMerge(Connection& conn, const MergeFields& fields, const MergeOptions& options, Fold fold)
        : MemoryMerge(conn, fields, options, fold)
    {
        m_insertMany = m_session.prepare(insertSql(InsertRows), preparing());
        m_maxRowid = m_session.prepare(QStringLiteral("SELECT max(rowid) FROM main.%1").arg(m_t), preparing());
        if (m_hasMin || m_hasMax)
            m_widenMany = m_session.tryPrepare(widenManySql()); // else one by one
        // The keys are read in a batch of their own, which tells the first write whether
        // another connection has committed since.
        m_session.begin(false);
        gather();
        m_session.rollback();
    }

    bool merge(QStringView key, std::optional<double> min, std::optional<double> max, qint64 row) override
    {
        take(key, row);
        m_log.append(view(m_keyUtf8), min.value_or(NaN), max.value_or(NaN), row);
        const bool added = mergeDeferred(min, max);
        if (++m_inBatch >= m_batchRows)
            commit();
        return added;
    }

    void expect(qint64 rows) override
    {
        // the records grow with the keys, which rows repeat; the page cache with the table
        if (rows > 0)
            m_session.expectRows(std::min<qint64>(rows, m_batchRows));
    }

    void commit() override
    {
        m_failedRow.reset();
        if (!m_written && !m_log.empty())
            flush(); // after a failure of one of its rows, the batch holds the rows before it
        commitBatch();
        m_written = false;
        m_log.clear();
    }

private:
    // The record of the row in hand, kept in memory until the batch is written.
    bool mergeDeferred(std::optional<double> min, std::optional<double> max)
    {
        const std::string_view f = m_known.fold(view(m_keyUtf8));
        const quint32 hash = StoredKeys::hashOf(f);
        quint32 index = 0;
        if (Known* found = m_known.find(f, hash, &index)) {
            Known& k = *found;
            const bool lower = m_hasMin && min && *min < k.min; // a NaN compares false: never widened
            const bool higher = m_hasMax && max && *max > k.max;
            if (!(k.batch & (Known::Unwritten | Known::MinWidened | Known::MaxWidened))) {
                if (lower || higher) {
                    m_widened.push_back({index, k.min, k.max});
                } else if (m_observer && !(k.batch & Known::Matched)) {
                    m_matched.push_back(index);
                    k.batch |= Known::Matched;
                }
            }
            if (lower)
                k.min = *min;
            if (higher)
                k.max = *max;
            if (k.batch & Known::Unwritten)
                return false; // written with its final values
            k.batch |= (lower ? Known::MinWidened : 0) | (higher ? Known::MaxWidened : 0);
            return false;
        }
        Known known;
        m_known.keep(known, f, view(m_keyUtf8));
        if (m_hasMin)
            known.min = min.value_or(0.0);
        if (m_hasMax)
            known.max = max.value_or(0.0);
        known.batch = Known::Unwritten;
        known.types = quint8(StoredValue::Type::Real) | quint8(quint8(StoredValue::Type::Real) << 4);
        m_known.add(known, hash);
        ++m_pendingAdded;
        return true;
    }

    // Calls fn for each row of the batch in hand, with its key taken as the row in hand.
    template <typename Fn>
    void forLogged(Fn fn)
    {
        m_log.forEach([&](std::string_view key, double min, double max, qint64 row) {
            m_keyUtf8 = QByteArray(key.data(), qsizetype(key.size()));
            m_row = row;
            fn(number(min), number(max));
        });
    }

    // Writes the batch in hand under the write lock: the new records in the order of their
    // first rows, then the widened ones. When another connection has committed since the keys
    // were read, they are read again and the batch merged anew first. A failure takes the
    // batch back and merges its rows again one by one.
    void flush()
    {
        try {
            write();
        } catch (const Failure&) {
            // A failure that is no row's (a lock not released, the disk) drops the batch: a
            // second commit must not wait or write again; a refused row keeps the rows before it.
            if (!m_failedRow)
                drop();
            throw;
        }
    }

    void drop()
    {
        rollbackBatch();
        m_written = true;
    }

    void write()
    {
        if (m_session.begin()) {
            gather();
            m_pendingAdded = 0;
            m_widened.clear();
            m_matched.clear();
            forLogged([&](std::optional<double> min, std::optional<double> max) { mergeDeferred(min, max); });
        }
        bool written = true;
        size_t i = m_firstUnwritten;
        if (m_known.size() - i >= size_t(InsertRows) && roomForRowids())
            for (; i + InsertRows <= m_known.size(); i += InsertRows)
                if (!(written = insertMany(i)))
                    break;
        for (; written && i < m_known.size(); ++i) {
            Known& k = m_known[i];
            bindRecord(m_insert, 1, k.written(), k.min, k.max);
            if (!(written = m_insert.run()))
                break;
            k.rid = sqlite3_last_insert_rowid(m_session.handle());
            k.batch = 0;
        }
        size_t w = 0;
        if (written && m_widenMany)
            for (; w + InsertRows <= m_widened.size(); w += InsertRows)
                if (!(written = widenMany(w)))
                    break;
        for (; written && w < m_widened.size(); ++w) {
            Known& k = m_known[m_widened[w].record];
            bindWidened(m_widen, 1, k);
            if (!(written = m_widen.run()))
                break;
            k.batch = 0;
        }
        if (written && m_observer)
            tell();
        if (written)
            for (const Widened& r : m_widened) {
                Known& k = m_known[r.record];
                if (k.min != r.min)
                    ownNumber(k, 0);
                if (k.max != r.max)
                    ownNumber(k, 1);
            }
        m_firstUnwritten = m_known.size();
        m_widened.clear();
        for (quint32 r : m_matched)
            m_known[r].batch = 0;
        m_matched.clear();
        if (!written) {
            if (m_session.failedOutsideTheRow())
                m_session.fail(QStringLiteral("Запись в таблицу %1").arg(m_table)); // no row to blame
            replay();
        }
        m_written = true;
    }

    // Tells the observer what the batch wrote.
    void tell()
    {
        for (size_t i = m_firstUnwritten; i < m_known.size(); ++i) {
            const Known& k = m_known[i];
            m_observer->added(k.rid, k.written(), loadedMin(k.min), loadedMax(k.max));
        }
        for (const Widened& r : m_widened) {
            Known& k = m_known[r.record];
            // a field the batch left is no widening, Null (NaN) as much as a number
            const auto widenedTo = [](double now, double before) {
                return now == before || (std::isnan(now) && std::isnan(before)) ? std::nullopt : number(now);
            };
            m_observer->widened(k.rid, k.written(), stored(k, 0, r.min), stored(k, 1, r.max), widenedTo(k.min, r.min),
                                widenedTo(k.max, r.max));
        }
        for (quint32 r : m_matched) {
            const Known& k = m_known[r];
            m_observer->matched(k.rid, k.written());
        }
    }

    // The widening a record of the batch in hand has to write.
    int bindWidened(Statement& stmt, int mark, const Known& k) const
    {
        return bindWidening(stmt, mark, k.rid, (k.batch & Known::MinWidened) ? std::optional(k.min) : std::nullopt,
                            (k.batch & Known::MaxWidened) ? std::optional(k.max) : std::nullopt);
    }

    // Whether the new records' row ids follow one another: the engine gives a record without one
    // the next after the largest in the table, unless the largest is the very largest there is.
    bool roomForRowids()
    {
        const int rc = m_maxRowid.step();
        const qint64 largest = rc == SQLITE_ROW ? sqlite3_column_int64(m_maxRowid.get(), 0) : 0;
        m_maxRowid.reset();
        return (rc == SQLITE_ROW || rc == SQLITE_DONE) && largest < std::numeric_limits<qint64>::max() / 2;
    }

    // InsertRows new records from the one at first, in one statement; their row ids are the
    // last one's and those before it. False when the table refused one, or did not add them all
    // (a conflict clause of its own): the batch is then merged again row by row.
    bool insertMany(size_t first)
    {
        int mark = 1;
        for (size_t i = first; i < first + InsertRows; ++i)
            mark = bindRecord(m_insertMany, mark, m_known[i].written(), m_known[i].min, m_known[i].max);
        if (!m_insertMany.run() || sqlite3_changes(m_session.handle()) != InsertRows)
            return false;
        const qint64 last = sqlite3_last_insert_rowid(m_session.handle());
        for (size_t i = first; i < first + InsertRows; ++i) {
            m_known[i].rid = last - qint64(first + InsertRows - 1 - i);
            m_known[i].batch = 0;
        }
        return true;
    }

    // InsertRows widened records from the one at first in m_widened, in one statement. False when
    // the table refused one or did not change them all: the batch is then merged again row by row.
    bool widenMany(size_t first)
    {
        int mark = 1;
        for (size_t i = first; i < first + InsertRows; ++i)
            mark = bindWidened(m_widenMany, mark, m_known[m_widened[i].record]);
        if (!m_widenMany.run() || sqlite3_changes(m_session.handle()) != InsertRows)
            return false;
        for (size_t i = first; i < first + InsertRows; ++i)
            m_known[m_widened[i].record].batch = 0;
        return true;
    }

    // After a failure in writing a batch: the table back as it was before the batch, and the
    // batch's rows merged again as they come, so that the one the table refuses fails alone
    // and the rows before it stay in the batch.
    void replay()
    {
        rollbackBatch();
        m_written = true;
        m_session.begin();
        gather();
        m_pendingAdded = 0;
        forLogged([&](std::optional<double> min, std::optional<double> max) { mergeRow(min, max); });
        // every row went in this time (the failure was not a row's): the batch stands as merged
    }

    Statement m_insertMany; // InsertRows new records
    Statement m_maxRowid; // the largest row id of the table
    Statement m_widenMany; // InsertRows records widened
    // A record written before and widened in this batch, with its values as the batch found them.
    struct Widened {
        quint32 record;
        double min, max;
    };
    std::vector<Widened> m_widened;
    std::vector<quint32> m_matched; // records written before that rows of this batch found, told to the observer
    RowLog m_log;
    bool m_written = false; // the batch in hand is written (merged again row by row)
};

// Keys in a temporary index; each row looked up there and written as it comes.
class IndexMerge final : public SqliteMerge {
public:
    IndexMerge(Connection& conn, const MergeFields& fields, const MergeOptions& options, const Shape& shape)
        : SqliteMerge(conn, fields, options)
    {
        m_session.exec(QStringLiteral("DROP TABLE IF EXISTS temp.%1").arg(KeysTable), preparing());
        m_session.exec(QStringLiteral("CREATE TEMP TABLE %1 (k %2 COLLATE %3, rid INTEGER)")
                           .arg(KeysTable, shape.keyAffinity, quoteIdentifier(shape.collation)),
                       preparing());
        m_made = true;
        m_session.exec(QStringLiteral("CREATE INDEX temp.%1_k ON %1 (k, rid)").arg(KeysTable), preparing());

        QString find = QStringLiteral("SELECT x.rid");
        if (m_hasMin)
            find += QStringLiteral(", d.") + m_minName;
        if (m_hasMax)
            find += QStringLiteral(", d.") + m_maxName;
        find += QStringLiteral(", x.k FROM temp.%1 AS x").arg(KeysTable);
        if (m_hasMin || m_hasMax)
            find += QStringLiteral(" JOIN main.%1 AS d ON d.rowid = x.rid").arg(m_t);
        find += QStringLiteral(" WHERE x.k = ?1 ORDER BY x.rid LIMIT 1");
        m_find = m_session.prepare(find, preparing());
        m_remember = m_session.prepare(QStringLiteral("INSERT INTO temp.%1 (k, rid) VALUES (?1, ?2)").arg(KeysTable),
                                       preparing());
        m_insert = m_session.prepare(insertSql(1), preparing());
        if (m_hasMin || m_hasMax)
            m_widen = m_session.prepare(widenSql(), preparing());
    }

    ~IndexMerge() override
    {
        m_find = Statement();
        m_remember = Statement();
        m_session.rollback();
        if (m_made)
            sqlite3_exec(m_session.handle(), "DROP TABLE IF EXISTS temp.kalder_keys", nullptr, nullptr, nullptr);
    }

    bool merge(QStringView key, std::optional<double> min, std::optional<double> max, qint64 row) override
    {
        if (!m_session.inBatch()) {
            if (m_session.begin())
                index();
            m_inBatch = 0;
        }
        take(key, row);
        const bool added = mergeRow(min, max);
        if (++m_inBatch >= m_batchRows)
            commitBatch();
        return added;
    }

    void commit() override { commitBatch(); }

private:
    // The stored keys into the index, anew: what was read before is no longer the table.
    void index()
    {
        const QString what = QStringLiteral("Чтение ключей таблицы %1").arg(m_table);
        m_session.exec(QStringLiteral("DELETE FROM temp.%1").arg(KeysTable), what);
        m_session.exec(QStringLiteral("INSERT INTO temp.%1 (k, rid) SELECT %2, rowid FROM main.%3 WHERE %2 IS NOT NULL")
                           .arg(KeysTable, m_key, m_t),
                       what);
    }

    bool mergeRow(std::optional<double> min, std::optional<double> max)
    {
        m_find.bind(1, view(m_keyUtf8));
        const int rc = m_find.step();
        if (rc == SQLITE_ROW) {
            const qint64 rid = sqlite3_column_int64(m_find.get(), 0);
            std::optional<double> newMin, newMax;
            StoredValue curMin, curMax;
            int col = 1;
            if (m_hasMin) {
                curMin = storedValue(m_find.get(), col++);
                if (min && curMin.value() && *min < curMin.number)
                    newMin = min;
            }
            if (m_hasMax) {
                curMax = storedValue(m_find.get(), col++);
                if (max && curMax.value() && *max > curMax.number)
                    newMax = max;
            }
            // the key as the table holds it, which the row's may match without being ("abc" and
            // "ABC" under NOCASE)
            if (m_observer)
                m_storedKey.assign(reinterpret_cast<const char*>(sqlite3_column_text(m_find.get(), col)),
                                   size_t(sqlite3_column_bytes(m_find.get(), col)));
            m_find.reset();
            if (!newMin && !newMax) {
                if (m_observer)
                    m_observer->matched(rid, m_storedKey);
                return false;
            }
            bindWidening(m_widen, 1, rid, newMin, newMax);
            if (run(m_widen) && m_observer)
                m_observer->widened(rid, m_storedKey, curMin, curMax, newMin, newMax);
            return false;
        }
        m_find.reset();
        if (rc != SQLITE_DONE) {
            refuse();
            return false;
        }
        bindRecord(m_insert, 1, view(m_keyUtf8), min.value_or(0.0), max.value_or(0.0));
        if (!run(m_insert))
            return false;
        ++m_pendingAdded;
        const qint64 rid = sqlite3_last_insert_rowid(m_session.handle());
        m_remember.bind(1, view(m_keyUtf8));
        m_remember.bind(2, rid);
        if (!run(m_remember))
            return false;
        if (m_observer)
            m_observer->added(rid, view(m_keyUtf8), m_hasMin ? std::optional(min.value_or(0.0)) : std::nullopt,
                              m_hasMax ? std::optional(max.value_or(0.0)) : std::nullopt);
        return true;
    }

    bool m_made = false;
    Statement m_find; // row id, min, max and stored key of the first record with a key
    std::string m_storedKey;
    Statement m_remember; // a new key into the index
    Statement m_insert;
    Statement m_widen;
};

} // namespace

std::unique_ptr<KeyedMerge> openMerge(Connection& conn, const MergeFields& fields, const MergeOptions& options)
{
    Session probe(conn);
    const Shape shape = inspect(probe, fields);
    const QString collation = shape.collation.toUpper();
    if (shape.keyAffinity == QLatin1String("TEXT") &&
        (collation == QLatin1String("BINARY") || collation == QLatin1String("NOCASE") ||
         collation == QLatin1String("RTRIM"))) {
        const Fold fold = collation == QLatin1String("NOCASE")  ? Fold::Case
                          : collation == QLatin1String("RTRIM") ? Fold::TrailingSpaces
                                                                : Fold::None;
        // A trigger of the table would see the rows written in another order and fewer
        // updates; under one the rows are written as they come.
        if (shape.triggers)
            return std::make_unique<MemoryMerge>(conn, fields, options, fold);
        return std::make_unique<BatchedMerge>(conn, fields, options, fold);
    }
    return std::make_unique<IndexMerge>(conn, fields, options, shape);
}

} // namespace kalder::sqlite
