// The keyed merge over SQLite's own interface, on the handle of the Qt SQL connection: the
// per-row work is a handful of prepared statements, with no scan of the table, whether or
// not the key field has an index of its own.
#include "db/keyed_merge.h"

#include "app/failure.h"
#include "db/sqlite_dialect.h"

#include <QLocale>
#include <QScopeGuard>
#include <QSqlDriver>
#include <QStringEncoder>
#include <sqlite3.h>

#include <cmath>
#include <cstring>

namespace kalder {

namespace {

const QString KeysTable = QStringLiteral("kalder_keys");

// A column type with the same affinity as a declared type, by SQLite's rules; the declared
// text itself never enters a statement.
QString affinityType(const char* declared)
{
    const QByteArray t = QByteArray(declared ? declared : "").toUpper();
    if (t.contains("INT"))
        return QStringLiteral("INTEGER");
    if (t.contains("CHAR") || t.contains("CLOB") || t.contains("TEXT"))
        return QStringLiteral("TEXT");
    if (t.isEmpty() || t.contains("BLOB"))
        return QString();
    if (t.contains("REAL") || t.contains("FLOA") || t.contains("DOUB"))
        return QStringLiteral("REAL");
    return QStringLiteral("NUMERIC");
}

// The current value of a minimum or maximum field as a number, when it has one: a number,
// or a text that reads as one. Null, a blob and any other text have none.
std::optional<double> storedNumber(sqlite3_stmt* stmt, int col)
{
    switch (sqlite3_column_type(stmt, col)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        return sqlite3_column_double(stmt, col);
    case SQLITE_TEXT: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, col));
        const QString text = QString::fromUtf8(p, sqlite3_column_bytes(stmt, col)).trimmed();
        bool ok = false;
        const double v = QLocale::c().toDouble(text, &ok);
        if (ok && std::isfinite(v))
            return v;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

std::string_view view(const QByteArray& bytes)
{
    return {bytes.constData(), size_t(bytes.size())};
}

// The text is not copied: every statement is stepped and reset while the text lives.
void bindText(sqlite3_stmt* stmt, int i, const QByteArray& utf8)
{
    sqlite3_bind_text(stmt, i, utf8.constData(), int(utf8.size()), SQLITE_STATIC);
}

// Steps a statement that returns no row and makes it ready for the next; true when it ran.
bool stepOnce(sqlite3_stmt* stmt)
{
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    return rc == SQLITE_DONE;
}

void bindNumber(sqlite3_stmt* stmt, int i, std::optional<double> v)
{
    if (v)
        sqlite3_bind_double(stmt, i, *v);
    else
        sqlite3_bind_null(stmt, i);
}

} // namespace

KeyedMerge::KeyedMerge(Connection& conn, const QString& table, const QString& keyField,
                       const std::optional<QString>& minField, const std::optional<QString>& maxField,
                       int batchRows)
    : m_table(table), m_hasMin(minField.has_value()), m_hasMax(maxField.has_value()),
      m_batchRows(batchRows > 0 ? batchRows : 1)
{
    const QSqlDatabase db = conn.database();
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || std::strcmp(handle.typeName(), "sqlite3*") != 0 ||
        !*static_cast<sqlite3* const*>(handle.constData()))
        throw Failure(err::NotOpen, QStringLiteral("Соединение с базой данных не открыто"));
    m_db = *static_cast<sqlite3* const*>(handle.constData());

    const QByteArray tableUtf8 = table.toUtf8();
    const auto column = [&](const QString& field, const char** type, const char** collation) {
        const int rc = sqlite3_table_column_metadata(m_db, nullptr, tableUtf8.constData(), field.toUtf8().constData(),
                                                     type, collation, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            throw Failure(err::ItemNotFound, QStringLiteral("Поле «%1» не найдено в таблице %2").arg(field, table));
    };
    const char* keyType = nullptr;
    const char* keyCollation = nullptr;
    column(keyField, &keyType, &keyCollation);
    const QString keyAffinity = affinityType(keyType);
    const QString collation = QString::fromUtf8(keyCollation ? keyCollation : "BINARY");
    if (m_hasMin)
        column(*minField, nullptr, nullptr);
    if (m_hasMax)
        column(*maxField, nullptr, nullptr);

    const QString t = sqlite::quoteIdentifier(table);
    const QString key = sqlite::quoteIdentifier(keyField);
    const QString minName = m_hasMin ? sqlite::quoteIdentifier(*minField) : QString();
    const QString maxName = m_hasMax ? sqlite::quoteIdentifier(*maxField) : QString();
    const QString what = QStringLiteral("Подготовка загрузки в таблицу %1").arg(table);

    const QString fold = collation.toUpper();
    m_inMemory = keyAffinity == QLatin1String("TEXT") &&
                 (fold == QLatin1String("BINARY") || fold == QLatin1String("NOCASE") || fold == QLatin1String("RTRIM"));
    m_fold = fold == QLatin1String("NOCASE")  ? Fold::Case
             : fold == QLatin1String("RTRIM") ? Fold::TrailingSpaces
                                              : Fold::None;

    // The keys are gathered inside the first batch, so they match the table they were read from.
    // A failure from here on leaves no transaction, statement or table behind.
    try {
        prepareAll(t, key, minName, maxName, keyAffinity, collation, what);
    } catch (const Failure&) {
        release();
        throw;
    }
}

void KeyedMerge::prepareAll(const QString& t, const QString& key, const QString& minName, const QString& maxName,
                            const QString& keyAffinity, const QString& collation, const QString& what)
{
    if (m_inMemory) {
        m_gatherSql = QStringLiteral("SELECT rowid, ") + key;
        if (m_hasMin)
            m_gatherSql += QStringLiteral(", ") + minName;
        if (m_hasMax)
            m_gatherSql += QStringLiteral(", ") + maxName;
        m_gatherSql += QStringLiteral(" FROM main.%1 ORDER BY rowid").arg(t);
        // A trigger of the table would see the rows written in another order and fewer
        // updates; under one the rows are written as they come.
        sqlite3_stmt* triggers =
            prepare(QStringLiteral("SELECT 1 FROM main.sqlite_master WHERE type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE "
                                   "UNION ALL SELECT 1 FROM temp.sqlite_master WHERE type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE"),
                    what);
        const QByteArray name = m_table.toUtf8();
        sqlite3_bind_text(triggers, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        const int rc = sqlite3_step(triggers);
        sqlite3_finalize(triggers);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            fail(what);
        m_deferred = rc == SQLITE_DONE;
        begin();
        gatherInMemory();
    } else {
        exec("PRAGMA temp_store = MEMORY", what);
        exec("DROP TABLE IF EXISTS temp.kalder_keys", what);
        begin();
        exec(QStringLiteral("CREATE TEMP TABLE %1 (k %2 COLLATE %3, rid INTEGER)")
                 .arg(KeysTable, keyAffinity, sqlite::quoteIdentifier(collation))
                 .toUtf8()
                 .constData(),
             what);
        m_tempMade = true;
        exec(QStringLiteral("INSERT INTO temp.%1 (k, rid) SELECT %2, rowid FROM main.%3 WHERE %2 IS NOT NULL")
                 .arg(KeysTable, key, t)
                 .toUtf8()
                 .constData(),
             what);
        exec(QStringLiteral("CREATE INDEX temp.%1_k ON %1 (k, rid)").arg(KeysTable).toUtf8().constData(), what);

        QString find = QStringLiteral("SELECT x.rid");
        if (m_hasMin)
            find += QStringLiteral(", d.") + minName;
        if (m_hasMax)
            find += QStringLiteral(", d.") + maxName;
        find += QStringLiteral(" FROM temp.%1 AS x").arg(KeysTable);
        if (m_hasMin || m_hasMax)
            find += QStringLiteral(" JOIN main.%1 AS d ON d.rowid = x.rid").arg(t);
        find += QStringLiteral(" WHERE x.k = ?1 ORDER BY x.rid LIMIT 1");
        m_find = prepare(find, what);
        m_remember = prepare(QStringLiteral("INSERT INTO temp.%1 (k, rid) VALUES (?1, ?2)").arg(KeysTable), what);
    }

    // The values of a new record, and of a widening, are bound in the order bindRecord() and
    // bindWidening() give them; a statement of many takes InsertRows of them in a row.
    const auto group = [](qsizetype n) {
        return QLatin1Char('(') + QStringList(n, QStringLiteral("?")).join(QLatin1Char(',')) + QLatin1Char(')');
    };
    QStringList names{key};
    if (m_hasMin)
        names.append(minName);
    if (m_hasMax)
        names.append(maxName);
    const QString insert = QStringLiteral("INSERT INTO main.%1 (%2) VALUES ").arg(t, names.join(QLatin1Char(',')));
    m_insert = prepare(insert + group(names.size()), what);
    if (m_deferred) {
        // a batch's new records go in InsertRows at a time: one statement costs far less
        // than as many
        m_insertMany = prepare(insert + QStringList(InsertRows, group(names.size())).join(QLatin1Char(',')), what);
        m_maxRowid = prepare(QStringLiteral("SELECT max(rowid) FROM main.%1").arg(t), what);
    }
    if (m_hasMin || m_hasMax) {
        // the row id first, then the new minimum and maximum; Null leaves a field as it is
        QStringList sets, many;
        int mark = 2;
        for (const QString* name : {m_hasMin ? &minName : nullptr, m_hasMax ? &maxName : nullptr}) {
            if (!name)
                continue;
            sets.append(QStringLiteral("%1 = coalesce(?%2, %1)").arg(*name).arg(mark));
            many.append(QStringLiteral("%1 = coalesce(w.column%2, d.%1)").arg(*name).arg(mark));
            ++mark;
        }
        m_widen = prepare(QStringLiteral("UPDATE main.%1 SET %2 WHERE rowid = ?1").arg(t, sets.join(QLatin1Char(','))), what);
        if (m_deferred) {
            // the widened records of a batch InsertRows at a time, where the engine can join an
            // update with a list of values (SQLite 3.33 on); else one by one
            const QString values = QStringList(InsertRows, group(mark - 1)).join(QLatin1Char(','));
            const QByteArray sql = QStringLiteral("UPDATE main.%1 AS d SET %2 FROM (VALUES %3) AS w WHERE d.rowid = w.column1")
                                       .arg(t, many.join(QLatin1Char(',')), values)
                                       .toUtf8();
            if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &m_widenMany, nullptr) != SQLITE_OK)
                m_widenMany = nullptr;
        }
    }
}

// Binds a new record's values from mark on: the key, then the minimum and the maximum that
// are loaded. Returns the next mark.
int KeyedMerge::bindRecord(sqlite3_stmt* stmt, int mark, std::string_view key, double min, double max) const
{
    sqlite3_bind_text(stmt, mark++, key.data(), int(key.size()), SQLITE_STATIC);   // stepped while the key lives
    if (m_hasMin)
        sqlite3_bind_double(stmt, mark++, min);
    if (m_hasMax)
        sqlite3_bind_double(stmt, mark++, max);
    return mark;
}

// The widening a record of the batch in hand has to write.
int KeyedMerge::bindWidened(sqlite3_stmt* stmt, int mark, const Known& k) const
{
    return bindWidening(stmt, mark, k.rid, (k.batch & Known::MinWidened) ? std::optional(k.min) : std::nullopt,
                        (k.batch & Known::MaxWidened) ? std::optional(k.max) : std::nullopt);
}

// Binds a widening from mark on: the record's row id, then its new minimum and maximum of
// those loaded (nothing: the field stays). Returns the next mark.
int KeyedMerge::bindWidening(sqlite3_stmt* stmt, int mark, qint64 rid, std::optional<double> min,
                             std::optional<double> max) const
{
    sqlite3_bind_int64(stmt, mark++, rid);
    if (m_hasMin)
        bindNumber(stmt, mark++, min);
    if (m_hasMax)
        bindNumber(stmt, mark++, max);
    return mark;
}

void KeyedMerge::gatherInMemory()
{
    const QString& sql = m_gatherSql;
    sqlite3_stmt* stmt = prepare(sql, QStringLiteral("Чтение ключей таблицы %1").arg(m_table));
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        // Under text affinity a stored key is text, Null or a blob; only a text can equal a text.
        if (sqlite3_column_type(stmt, 1) != SQLITE_TEXT)
            continue;
        const std::string_view f = folded({reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)),
                                           size_t(sqlite3_column_bytes(stmt, 1))});
        const quint32 hash = KnownRecords::hashOf(f);
        if (m_known.find(f, hash))
            continue;   // the first record, in row id order, is the one a query updates
        Known known;
        known.key = m_keys.keep(f);
        known.rid = sqlite3_column_int64(stmt, 0);
        int col = 2;
        if (m_hasMin)
            known.min = storedNumber(stmt, col++).value_or(NaN);
        if (m_hasMax)
            known.max = storedNumber(stmt, col++).value_or(NaN);
        m_known.add(known, hash);
    }
    m_firstUnwritten = m_known.size();
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        fail(QStringLiteral("Чтение ключей таблицы %1").arg(m_table));
}

// The key as the collation compares it: NOCASE folds ASCII letters only, RTRIM ignores
// trailing spaces, BINARY compares the bytes. A folded text lives until the next call.
std::string_view KeyedMerge::folded(std::string_view key)
{
    switch (m_fold) {
    case Fold::Case:
        m_folded.resize(qsizetype(key.size()));
        for (size_t i = 0; i < key.size(); ++i) {
            const char c = key[i];
            m_folded[qsizetype(i)] = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
        }
        return view(m_folded);
    case Fold::TrailingSpaces: {
        size_t n = key.size();
        while (n > 0 && key[n - 1] == ' ')
            --n;
        return key.substr(0, n);
    }
    case Fold::None:
        break;
    }
    return key;
}

quint32 KeyedMerge::KnownRecords::hashOf(std::string_view key)
{
    // Eight bytes at a time, each step mixed by a multiplication: keys are short texts, and
    // the hash is only ever asked of keys from the operator's own files.
    quint64 h = 0x9E3779B97F4A7C15ull ^ key.size();
    const char* p = key.data();
    size_t n = key.size();
    for (; n >= 8; p += 8, n -= 8) {
        quint64 w;
        std::memcpy(&w, p, 8);
        h = (h ^ w) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    }
    quint64 w = 0;
    std::memcpy(&w, p, n);
    h = (h ^ w) * 0x94D049BB133111EBull;
    h ^= h >> 29;
    return quint32(h) ^ quint32(h >> 32);
}

KeyedMerge::Known* KeyedMerge::KnownRecords::find(std::string_view key, quint32 hash)
{
    if (m_slots.empty())
        return nullptr;
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& s = m_slots[i];
        if (s.record == 0)
            return nullptr;
        if (s.hash == hash && m_records[s.record - 1].key == key)
            return &m_records[s.record - 1];
    }
}

KeyedMerge::Known& KeyedMerge::KnownRecords::add(const Known& record, quint32 hash)
{
    if ((m_records.size() + 1) * 4 > m_slots.size() * 3) {
        std::vector<Slot> old(std::max<size_t>(1024, m_slots.size() * 2));
        old.swap(m_slots);
        for (const Slot& s : old)
            if (s.record != 0)
                place(s.hash, s.record);
    }
    m_records.push_back(record);
    place(hash, quint32(m_records.size()));
    return m_records.back();
}

void KeyedMerge::KnownRecords::place(quint32 hash, quint32 record)
{
    const size_t mask = m_slots.size() - 1;
    size_t i = hash & mask;
    while (m_slots[i].record != 0)
        i = (i + 1) & mask;
    m_slots[i] = {hash, record};
}

void KeyedMerge::KnownRecords::clear()
{
    m_records = {};
    m_slots = {};
}

std::string_view KeyedMerge::KeyStore::keep(std::string_view key)
{
    const size_t n = key.size();
    if (n > m_left) {
        const size_t block = std::max<size_t>(n, 256 * 1024);
        m_blocks.push_back(std::make_unique<char[]>(block));
        m_next = m_blocks.back().get();
        m_left = block;
    }
    std::memcpy(m_next, key.data(), n);
    const std::string_view kept(m_next, n);
    m_next += n;
    m_left -= n;
    return kept;
}

KeyedMerge::~KeyedMerge()
{
    release();
}

void KeyedMerge::release() noexcept
{
    for (sqlite3_stmt** s : {&m_find, &m_insert, &m_insertMany, &m_maxRowid, &m_remember, &m_widen, &m_widenMany}) {
        sqlite3_finalize(*s);
        *s = nullptr;
    }
    rollback();
    if (m_tempMade)
        sqlite3_exec(m_db, "DROP TABLE IF EXISTS temp.kalder_keys", nullptr, nullptr, nullptr);
    m_tempMade = false;
}

void KeyedMerge::fail(const QString& what) const
{
    throw Failure(sqlite3_errcode(m_db), what + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(m_db)));
}

void KeyedMerge::exec(const char* sql, const QString& what)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(what);
}

sqlite3_stmt* KeyedMerge::prepare(const QString& sql, const QString& what)
{
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, utf8.constData(), int(utf8.size()), &stmt, nullptr) != SQLITE_OK)
        fail(what);
    return stmt;
}

void KeyedMerge::begin()
{
    exec("BEGIN", QStringLiteral("Не удалось начать транзакцию"));
    m_inTransaction = true;
    m_inBatch = 0;
}

void KeyedMerge::rollback() noexcept
{
    if (m_inTransaction && !sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    m_inTransaction = false;
    m_pendingAdded = 0;
}

void KeyedMerge::commit()
{
    m_failedRow.reset();
    if (!m_inTransaction)
        return;
    if (m_deferred && !m_replaying)
        flush();   // after a failure of one of its rows, the batch holds the rows before it
    if (sqlite3_get_autocommit(m_db)) {   // the engine already rolled the batch back
        m_inTransaction = false;
        m_pendingAdded = 0;
        return;
    }
    if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        const Failure f(sqlite3_errcode(m_db), QStringLiteral("Не удалось сохранить изменения в таблице %1: %2")
                                                   .arg(m_table, QString::fromUtf8(sqlite3_errmsg(m_db))));
        rollback();
        throw f;
    }
    m_inTransaction = false;
    m_committedAdded += m_pendingAdded;
    m_pendingAdded = 0;
    m_inBatch = 0;
    m_log.clear();         // keeps its room for the next batch
    m_logKeys.clear();
}

bool KeyedMerge::merge(QStringView key, std::optional<double> min, std::optional<double> max, qint64 row)
{
    if (!m_inTransaction)
        begin();
    m_keyUtf8.resize(key.size() * 3);   // the most UTF-8 a UTF-16 unit becomes
    QStringEncoder utf8(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    m_keyUtf8.resize(utf8.appendToBuffer(m_keyUtf8.data(), key) - m_keyUtf8.constData());
    m_row = row;
    if (m_deferred) {
        m_logKeys.insert(m_logKeys.end(), m_keyUtf8.cbegin(), m_keyUtf8.cend());
        m_log.push_back({min.value_or(NaN), max.value_or(NaN), row, size_t(m_logKeys.size())});
    }
    const bool added = mergeKey(min, max);
    if (++m_inBatch >= m_batchRows && !m_replaying)
        commit();
    return added;
}

void KeyedMerge::expect(qint64 rows)
{
    if (rows <= 0 || !m_inMemory)
        return;
    const size_t n = size_t(std::min<qint64>(rows, m_batchRows));
    m_known.reserve(m_known.size() + size_t(rows));
    if (m_deferred)
        m_log.reserve(n);
}

void KeyedMerge::failRow(const QString& what)
{
    m_failedRow = m_row;
    if (sqlite3_get_autocommit(m_db)) {   // an error that ended the transaction
        m_inTransaction = false;
        m_pendingAdded = 0;
    }
    fail(what);
}

// The record of a key in the batch in hand, kept in memory until the batch is written.
bool KeyedMerge::mergeDeferred(std::string_view f, std::optional<double> min, std::optional<double> max)
{
    const quint32 hash = KnownRecords::hashOf(f);
    if (Known* found = m_known.find(f, hash)) {
        Known& k = *found;
        const bool lower = m_hasMin && min && *min < k.min;   // a NaN compares false: never widened
        const bool higher = m_hasMax && max && *max > k.max;
        if (lower)
            k.min = *min;
        if (higher)
            k.max = *max;
        if (k.batch & Known::Unwritten)
            return false;   // written with its final values
        if ((lower || higher) && !k.batch)
            m_widened.push_back(quint32(found - &m_known[0]));
        k.batch |= (lower ? Known::MinWidened : 0) | (higher ? Known::MaxWidened : 0);
        return false;
    }
    Known known;
    known.key = m_keys.keep(f);
    known.written = m_fold == Fold::None ? known.key : m_keys.keep(view(m_keyUtf8));
    if (m_hasMin)
        known.min = min.value_or(0.0);
    if (m_hasMax)
        known.max = max.value_or(0.0);
    known.batch = Known::Unwritten;
    m_known.add(known, hash);
    ++m_pendingAdded;
    return true;
}

// Writes the batch in hand: the new records in the order of their first rows, then the
// widened ones. A failure takes the batch back and merges its rows again one by one.
void KeyedMerge::flush()
{
    bool written = true;
    size_t i = m_firstUnwritten;
    if (m_insertMany && m_known.size() - i >= size_t(InsertRows) && roomForRowids())
        for (; i + InsertRows <= m_known.size(); i += InsertRows)
            if (!(written = insertMany(i)))
                break;
    for (; written && i < m_known.size(); ++i) {
        Known& k = m_known[i];
        bindRecord(m_insert, 1, k.written, k.min, k.max);
        if (!(written = stepOnce(m_insert)))
            break;
        k.rid = sqlite3_last_insert_rowid(m_db);
        k.batch = 0;
    }
    size_t w = 0;
    if (written && m_widenMany)
        for (; w + InsertRows <= m_widened.size(); w += InsertRows)
            if (!(written = widenMany(w)))
                break;
    for (; written && w < m_widened.size(); ++w) {
        Known& k = m_known[m_widened[w]];
        bindWidened(m_widen, 1, k);
        if (!(written = stepOnce(m_widen)))
            break;
        k.batch = 0;
    }
    m_firstUnwritten = m_known.size();
    m_widened.clear();
    if (!written)
        replay();
}

// Whether the new records' row ids follow one another: the engine gives a record without one
// the next after the largest in the table, unless the largest is the very largest there is.
bool KeyedMerge::roomForRowids()
{
    const int rc = sqlite3_step(m_maxRowid);
    const qint64 largest = rc == SQLITE_ROW ? sqlite3_column_int64(m_maxRowid, 0) : 0;
    sqlite3_reset(m_maxRowid);
    return (rc == SQLITE_ROW || rc == SQLITE_DONE) && largest < std::numeric_limits<qint64>::max() / 2;
}

// InsertRows new records from the one at first, in one statement; their row ids are the
// last one's and those before it. False when the table refused one, or did not add them all
// (a conflict clause of its own): the batch is then merged again row by row.
bool KeyedMerge::insertMany(size_t first)
{
    int mark = 1;
    for (size_t i = first; i < first + InsertRows; ++i)
        mark = bindRecord(m_insertMany, mark, m_known[i].written, m_known[i].min, m_known[i].max);
    if (!stepOnce(m_insertMany) || sqlite3_changes(m_db) != InsertRows)
        return false;
    const qint64 last = sqlite3_last_insert_rowid(m_db);
    for (size_t i = first; i < first + InsertRows; ++i) {
        m_known[i].rid = last - qint64(first + InsertRows - 1 - i);
        m_known[i].batch = 0;
    }
    return true;
}

// InsertRows widened records from the one at first in m_widened, in one statement. False when
// the table refused one or did not change them all: the batch is then merged again row by row.
bool KeyedMerge::widenMany(size_t first)
{
    int mark = 1;
    for (size_t i = first; i < first + InsertRows; ++i)
        mark = bindWidened(m_widenMany, mark, m_known[m_widened[i]]);
    if (!stepOnce(m_widenMany) || sqlite3_changes(m_db) != InsertRows)
        return false;
    for (size_t i = first; i < first + InsertRows; ++i)
        m_known[m_widened[i]].batch = 0;
    return true;
}

// After a failure in writing a batch: the table back as it was before the batch, and the
// batch's rows merged again as they come, so that the one the table refuses fails alone.
void KeyedMerge::replay()
{
    rollback();
    m_known.clear();
    m_keys = KeyStore();
    m_deferred = false;
    m_replaying = true;
    const auto done = qScopeGuard([&] { m_replaying = false; });
    begin();
    gatherInMemory();
    size_t from = 0;
    for (const Logged& row : m_log) {
        m_keyUtf8 = QByteArray(m_logKeys.data() + from, qsizetype(row.keyEnd - from));
        from = row.keyEnd;
        m_row = row.row;
        const auto number = [](double v) { return std::isnan(v) ? std::nullopt : std::optional(v); };
        mergeKey(number(row.min), number(row.max));
        ++m_inBatch;
    }
    // every row went in this time (the failure was not a row's): the batch stands as merged
}

bool KeyedMerge::mergeKey(std::optional<double> min, std::optional<double> max)
{
    const QByteArray& keyUtf8 = m_keyUtf8;
    const auto what = [&] {
        return QStringLiteral("Запись с ключом «%1» в таблице %2").arg(QString::fromUtf8(keyUtf8), m_table);
    };
    const auto stepDone = [&](sqlite3_stmt* stmt) {
        if (!stepOnce(stmt))
            failRow(what());
    };

    bool added = false;
    if (m_inMemory) {
        const std::string_view f = folded(view(keyUtf8));
        if (m_deferred)
            return mergeDeferred(f, min, max);
        const quint32 hash = KnownRecords::hashOf(f);
        if (Known* found = m_known.find(f, hash)) {
            Known& k = *found;
            // a NaN (no number stored) compares false: never widened
            const std::optional<double> newMin = min && *min < k.min ? min : std::nullopt;
            const std::optional<double> newMax = max && *max > k.max ? max : std::nullopt;
            if ((m_hasMin && newMin) || (m_hasMax && newMax)) {
                bindWidening(m_widen, 1, k.rid, newMin, newMax);
                stepDone(m_widen);
                if (m_hasMin && newMin)
                    k.min = *newMin;
                if (m_hasMax && newMax)
                    k.max = *newMax;
            }
        } else {
            bindRecord(m_insert, 1, view(keyUtf8), min.value_or(0.0), max.value_or(0.0));
            stepDone(m_insert);
            ++m_pendingAdded;
            Known known;
            known.key = m_keys.keep(f);
            known.rid = sqlite3_last_insert_rowid(m_db);
            if (m_hasMin)
                known.min = min.value_or(0.0);
            if (m_hasMax)
                known.max = max.value_or(0.0);
            m_known.add(known, hash);
            m_firstUnwritten = m_known.size();
            added = true;
        }
        return added;
    }

    bindText(m_find, 1, keyUtf8);
    const int rc = sqlite3_step(m_find);
    if (rc == SQLITE_ROW) {
        const sqlite3_int64 rid = sqlite3_column_int64(m_find, 0);
        std::optional<double> newMin, newMax;
        int col = 1;
        if (m_hasMin) {
            const auto cur = storedNumber(m_find, col++);
            if (min && cur && *min < *cur)
                newMin = min;
        }
        if (m_hasMax) {
            const auto cur = storedNumber(m_find, col++);
            if (max && cur && *max > *cur)
                newMax = max;
        }
        sqlite3_reset(m_find);
        sqlite3_clear_bindings(m_find);
        if (newMin || newMax) {
            bindWidening(m_widen, 1, rid, newMin, newMax);
            stepDone(m_widen);
        }
    } else {
        sqlite3_reset(m_find);
        sqlite3_clear_bindings(m_find);
        if (rc != SQLITE_DONE)
            failRow(what());
        bindRecord(m_insert, 1, view(keyUtf8), min.value_or(0.0), max.value_or(0.0));
        stepDone(m_insert);
        ++m_pendingAdded;
        bindText(m_remember, 1, keyUtf8);
        sqlite3_bind_int64(m_remember, 2, sqlite3_last_insert_rowid(m_db));
        stepDone(m_remember);
        added = true;
    }
    return added;
}

} // namespace kalder
