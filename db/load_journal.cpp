// The journal of loads over SQLite. The records a batch adds are kept as ranges of row ids
// (a batch's new records follow one another), each with the keys and values the load left
// them with; the records it widens are caught by a temporary trigger of the connection, which
// keeps their values before and after exactly as the table holds them, so that taking the
// load back gives the table back byte for byte.
#include "db/load_journal.h"

#include "app/failure.h"
#include "db/sqlite_dialect.h"
#include "db/sqlite_session.h"

#include <QtEndian>
#include <sqlite3.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace kalder {

namespace {

using sqlite::quoteIdentifier;
using sqlite::Statement;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

const char* const Schema =
    "CREATE TABLE IF NOT EXISTS kalder_load ("
    " id INTEGER PRIMARY KEY,"
    " table_name TEXT NOT NULL,"
    " started TEXT NOT NULL,"
    " workbook TEXT NOT NULL,"
    " workbook_size INTEGER NOT NULL,"
    " workbook_sha256 TEXT,"
    " header_row INTEGER NOT NULL,"
    " last_row INTEGER NOT NULL,"
    " links TEXT NOT NULL,"
    " key_field TEXT NOT NULL,"
    " min_field TEXT,"
    " max_field TEXT,"
    " rows_merged INTEGER NOT NULL DEFAULT 0,"
    " records_added INTEGER NOT NULL DEFAULT 0,"
    " records_widened INTEGER NOT NULL DEFAULT 0,"
    " finished INTEGER NOT NULL DEFAULT 0,"
    " undone TEXT);"
    "CREATE TABLE IF NOT EXISTS kalder_load_change ("
    " id INTEGER PRIMARY KEY,"
    " load_id INTEGER NOT NULL REFERENCES kalder_load (id),"
    " kind TEXT NOT NULL CHECK (kind IN ('added', 'widened')),"
    " first_rid INTEGER NOT NULL,"
    " last_rid INTEGER NOT NULL,"
    " old_min, old_max, left_min, left_max,"
    " records BLOB);"
    "CREATE INDEX IF NOT EXISTS kalder_load_change_load ON kalder_load_change (load_id);";

QString now()
{
    const QDateTime t = QDateTime::currentDateTime();
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate);
}

// The records of a range added: for each, the key's length and bytes, then the minimum and
// the maximum the load left it with (NaN: not loaded), little-endian.
void append(QByteArray& out, const QByteArray& key, double min, double max)
{
    char word[8];
    qToLittleEndian<quint32>(quint32(key.size()), word);
    out.append(word, 4);
    out.append(key);
    for (double v : {min, max}) {
        quint64 bits;
        std::memcpy(&bits, &v, 8);
        qToLittleEndian<quint64>(bits, word);
        out.append(word, 8);
    }
}

struct Unpacked {
    QByteArray key;
    double min, max;
};

std::vector<Unpacked> unpack(const QByteArray& blob, qint64 count)
{
    std::vector<Unpacked> out;
    qsizetype at = 0;
    const auto need = [&](qsizetype n) {
        if (blob.size() - at < n)
            throw Failure(err::BadFormat, QStringLiteral("Журнал загрузок повреждён: запись изменений обрывается"));
    };
    for (qint64 i = 0; i < count; ++i) {
        need(4);
        const quint32 n = qFromLittleEndian<quint32>(blob.constData() + at);
        at += 4;
        need(qsizetype(n) + 16);
        Unpacked u{blob.mid(at, qsizetype(n)), 0, 0};
        at += qsizetype(n);
        for (double* v : {&u.min, &u.max}) {
            const quint64 bits = qFromLittleEndian<quint64>(blob.constData() + at);
            std::memcpy(v, &bits, 8);
            at += 8;
        }
        out.push_back(std::move(u));
    }
    return out;
}

std::string_view view(const QByteArray& b)
{
    return {b.constData(), size_t(b.size())};
}

QString text(sqlite3_stmt* s, int col)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, col)), sqlite3_column_bytes(s, col));
}

bool tableExists(sqlite::Session& session, const char* name)
{
    Statement s = session.prepare(QStringLiteral("SELECT 1 FROM main.sqlite_master WHERE type = 'table' AND name = ?1"),
                                  QStringLiteral("Чтение журнала загрузок"));
    s.bind(1, std::string_view(name));
    return s.step() == SQLITE_ROW;
}

// The last load into the table not taken back, read inside the session's batch.
std::optional<JournaledLoad> readLast(sqlite::Session& session, const QString& table)
{
    if (!tableExists(session, "kalder_load") || !tableExists(session, "kalder_load_change"))
        return std::nullopt;
    Statement s = session.prepare(
        QStringLiteral("SELECT id, started, workbook, workbook_size, workbook_sha256, header_row, last_row, links, "
                       "key_field, min_field, max_field, rows_merged, records_added, records_widened, finished "
                       "FROM main.kalder_load WHERE table_name = ?1 AND undone IS NULL ORDER BY id DESC LIMIT 1"),
        QStringLiteral("Чтение журнала загрузок"));
    const QByteArray name = table.toUtf8();
    s.bind(1, view(name));
    const int rc = s.step();
    if (rc == SQLITE_DONE)
        return std::nullopt;
    if (rc != SQLITE_ROW)
        session.fail(QStringLiteral("Чтение журнала загрузок"));
    sqlite3_stmt* r = s.get();
    JournaledLoad load;
    load.id = sqlite3_column_int64(r, 0);
    load.table = table;
    load.started = QDateTime::fromString(text(r, 1), Qt::ISODate);
    load.workbook = text(r, 2);
    load.workbookSize = sqlite3_column_int64(r, 3);
    load.sha256 = text(r, 4).toLatin1();
    load.headerRow = sqlite3_column_int(r, 5);
    load.lastRow = sqlite3_column_int(r, 6);
    load.links = text(r, 7);
    load.fields.table = table;
    load.fields.key = text(r, 8);
    if (sqlite3_column_type(r, 9) != SQLITE_NULL)
        load.fields.min = text(r, 9);
    if (sqlite3_column_type(r, 10) != SQLITE_NULL)
        load.fields.max = text(r, 10);
    load.rowsMerged = sqlite3_column_int64(r, 11);
    load.added = sqlite3_column_int64(r, 12);
    load.widened = sqlite3_column_int64(r, 13);
    load.finished = sqlite3_column_int(r, 14) != 0;
    return load;
}

} // namespace

struct LoadJournal::Impl {
    explicit Impl(Connection& conn) : session(conn) {}
    sqlite::Session session;   // the merge's connection: its statements run in the merge's batches
    Statement insertLoad, moveWidened, clearWidened, insertAdded, updateLoad;
    bool trigger = false;
};

std::unique_ptr<LoadJournal> LoadJournal::start(Connection& conn, JournaledLoad load, QString* unavailable)
{
    auto impl = std::make_unique<Impl>(conn);
    sqlite::Session& session = impl->session;
    const QString what = QStringLiteral("Журнал загрузок в базе данных %1").arg(session.path());
    try {
        session.begin(false);
        const bool made = tableExists(session, "kalder_load") && tableExists(session, "kalder_load_change");
        session.rollback();
        if (!made) {
            session.begin(true);
            session.exec(QString::fromLatin1(Schema), what);
            session.commit(what);
        }
        const QString t = quoteIdentifier(load.fields.table);
        const QString oldMin = load.fields.min ? QStringLiteral("old.") + quoteIdentifier(*load.fields.min) : QStringLiteral("NULL");
        const QString oldMax = load.fields.max ? QStringLiteral("old.") + quoteIdentifier(*load.fields.max) : QStringLiteral("NULL");
        const QString newMin = load.fields.min ? QStringLiteral("new.") + quoteIdentifier(*load.fields.min) : QStringLiteral("NULL");
        const QString newMax = load.fields.max ? QStringLiteral("new.") + quoteIdentifier(*load.fields.max) : QStringLiteral("NULL");
        session.exec(QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS kalder_widened (rid INTEGER, old_min, old_max, new_min, new_max)"),
                     what);
        session.exec(QStringLiteral("DELETE FROM temp.kalder_widened"), what);
        session.exec(QStringLiteral("DROP TRIGGER IF EXISTS temp.kalder_journal"), what);
        session.exec(QStringLiteral("CREATE TEMP TRIGGER kalder_journal AFTER UPDATE ON main.%1 BEGIN "
                                    "INSERT INTO kalder_widened VALUES (old.rowid, %2, %3, %4, %5); END")
                         .arg(t, oldMin, oldMax, newMin, newMax),
                     what);
        impl->trigger = true;
        impl->insertLoad = session.prepare(
            QStringLiteral("INSERT INTO main.kalder_load (table_name, started, workbook, workbook_size, workbook_sha256, "
                           "header_row, last_row, links, key_field, min_field, max_field) "
                           "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)"),
            what);
        impl->moveWidened = session.prepare(
            QStringLiteral("INSERT INTO main.kalder_load_change (load_id, kind, first_rid, last_rid, old_min, old_max, "
                           "left_min, left_max) SELECT ?1, 'widened', rid, rid, old_min, old_max, new_min, new_max "
                           "FROM temp.kalder_widened ORDER BY rowid"),
            what);
        impl->clearWidened = session.prepare(QStringLiteral("DELETE FROM temp.kalder_widened"), what);
        impl->insertAdded = session.prepare(
            QStringLiteral("INSERT INTO main.kalder_load_change (load_id, kind, first_rid, last_rid, records) "
                           "VALUES (?1, 'added', ?2, ?3, ?4)"),
            what);
        impl->updateLoad = session.prepare(
            QStringLiteral("UPDATE main.kalder_load SET rows_merged = ?2, records_added = ?3, records_widened = ?4, "
                           "finished = ?5 WHERE id = ?1"),
            what);
    } catch (const Failure& f) {
        if (impl->trigger)
            sqlite3_exec(session.handle(), "DROP TRIGGER IF EXISTS temp.kalder_journal", nullptr, nullptr, nullptr);
        // a lock not released, a file that cannot be written: the load could not write either
        if (sqlite::Session::outsideTheRow(f.number()))
            throw;
        if (unavailable)
            *unavailable = f.description();
        return nullptr;
    }
    return std::unique_ptr<LoadJournal>(new LoadJournal(std::move(impl), std::move(load)));
}

LoadJournal::LoadJournal(std::unique_ptr<Impl> impl, JournaledLoad load) : m_impl(std::move(impl)), m_load(std::move(load))
{
}

LoadJournal::~LoadJournal()
{
    m_impl->insertLoad = Statement();
    m_impl->moveWidened = Statement();
    m_impl->clearWidened = Statement();
    m_impl->insertAdded = Statement();
    m_impl->updateLoad = Statement();
    sqlite3* db = m_impl->session.handle();
    sqlite3_exec(db, "DROP TRIGGER IF EXISTS temp.kalder_journal", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "DROP TABLE IF EXISTS temp.kalder_widened", nullptr, nullptr, nullptr);
}

void LoadJournal::added(qint64 rid, std::string_view key, std::optional<double> min, std::optional<double> max)
{
    m_added.push_back({rid, QByteArray(key.data(), qsizetype(key.size())), min.value_or(NaN), max.value_or(NaN)});
    ++m_batchAdded;
}

void LoadJournal::widened(qint64 rid, std::string_view, std::optional<double>, std::optional<double>,
                          std::optional<double>, std::optional<double>)
{
    // the values themselves are caught by the trigger, exactly as stored
    if (!m_widenedRids.contains(rid))
        m_batchWidened.insert(rid);
}

void LoadJournal::beforeCommit()
{
    Impl& d = *m_impl;
    const QString what = QStringLiteral("Запись журнала загрузок в базу данных %1").arg(d.session.path());
    if (!m_headerCommitted) {
        const QByteArray table = m_load.fields.table.toUtf8(), started = now().toUtf8(),
                         workbook = m_load.workbook.toUtf8(), links = m_load.links.toUtf8(),
                         key = m_load.fields.key.toUtf8(), min = m_load.fields.min.value_or(QString()).toUtf8(),
                         max = m_load.fields.max.value_or(QString()).toUtf8();
        m_load.sha256 = m_sha256 ? m_sha256() : QByteArray();
        Statement& s = d.insertLoad;
        s.bind(1, view(table));
        s.bind(2, view(started));
        s.bind(3, view(workbook));
        s.bind(4, qint64(m_load.workbookSize));
        if (!m_load.sha256.isEmpty())
            s.bind(5, view(m_load.sha256));
        s.bind(6, qint64(m_load.headerRow));
        s.bind(7, qint64(m_load.lastRow));
        s.bind(8, view(links));
        s.bind(9, view(key));
        if (m_load.fields.min)
            s.bind(10, view(min));
        if (m_load.fields.max)
            s.bind(11, view(max));
        if (!s.run())
            d.session.fail(what);
        m_load.id = sqlite3_last_insert_rowid(d.session.handle());
    }
    d.moveWidened.bind(1, m_load.id);
    if (!d.moveWidened.run() || !d.clearWidened.run())
        d.session.fail(what);
    // the new records in ranges of row ids that follow one another
    for (size_t i = 0; i < m_added.size();) {
        size_t j = i + 1;
        while (j < m_added.size() && m_added[j].rid == m_added[j - 1].rid + 1)
            ++j;
        QByteArray records;
        for (size_t k = i; k < j; ++k)
            append(records, m_added[k].key, m_added[k].min, m_added[k].max);
        Statement& s = d.insertAdded;
        s.bind(1, m_load.id);
        s.bind(2, m_added[i].rid);
        s.bind(3, m_added[j - 1].rid);
        sqlite3_bind_blob(s.get(), 4, records.constData(), int(records.size()), SQLITE_STATIC);
        if (!s.run())
            d.session.fail(what);
        i = j;
    }
    Statement& u = d.updateLoad;
    u.bind(1, m_load.id);
    u.bind(2, m_load.rowsMerged);
    u.bind(3, m_addedCount + m_batchAdded);
    u.bind(4, qint64(m_widenedRids.size() + m_batchWidened.size()));
    u.bind(5, qint64(m_load.finished ? 1 : 0));
    if (!u.run())
        d.session.fail(what);
}

void LoadJournal::committed()
{
    m_headerCommitted = true;
    m_added.clear();
    m_addedCount += m_batchAdded;
    m_batchAdded = 0;
    m_widenedRids.unite(m_batchWidened);
    m_batchWidened.clear();
}

void LoadJournal::rolledBack()
{
    if (!m_headerCommitted)
        m_load.id = 0;
    m_added.clear();
    m_batchAdded = 0;
    m_batchWidened.clear();
}

std::optional<JournaledLoad> lastLoad(Connection& conn, const QString& table)
{
    // skipped on failure: a journal that cannot be read (tables of that name made by another
    // program, say) is as none
    try {
        sqlite::Session session(conn);
        session.begin(false);
        return readLast(session, table);
    } catch (const Failure&) {
        return std::nullopt;
    }
}

UndoResult undoLastLoad(Connection& conn, const QString& table)
{
    sqlite::Session session(conn);
    const QString what = QStringLiteral("Отмена загрузки в таблицу %1").arg(table);
    session.begin(true);
    const std::optional<JournaledLoad> last = readLast(session, table);
    if (!last)
        throw Failure(err::NoCurrentRecord, QStringLiteral("В журнале нет загрузки в таблицу %1, которую можно отменить").arg(table));
    UndoResult result;
    result.load = *last;
    const MergeFields& f = last->fields;
    const QString t = quoteIdentifier(table), key = quoteIdentifier(f.key);
    const QString min = f.min ? quoteIdentifier(*f.min) : QString(), max = f.max ? quoteIdentifier(*f.max) : QString();

    // A widened record: as the load left it, exactly; then given back its values before.
    QString sameAsLeft = QStringLiteral("1");
    QString restore;
    if (f.min) {
        sameAsLeft += QStringLiteral(" AND d.%1 IS c.left_min").arg(min);
        restore += QStringLiteral("%1 = (SELECT old_min FROM main.kalder_load_change WHERE id = ?1)").arg(min);
    }
    if (f.max) {
        sameAsLeft += QStringLiteral(" AND d.%1 IS c.left_max").arg(max);
        restore += (restore.isEmpty() ? QString() : QStringLiteral(", ")) +
                   QStringLiteral("%1 = (SELECT old_max FROM main.kalder_load_change WHERE id = ?1)").arg(max);
    }
    Statement checkWidened = session.prepare(
        QStringLiteral("SELECT d.%1, %2 FROM main.kalder_load_change AS c JOIN main.%3 AS d ON d.rowid = c.first_rid "
                       "WHERE c.id = ?1")
            .arg(key, sameAsLeft, t),
        what);
    Statement restoreWidened;
    if (!restore.isEmpty())
        restoreWidened = session.prepare(
            QStringLiteral("UPDATE main.%1 SET %2 WHERE rowid = (SELECT first_rid FROM main.kalder_load_change WHERE id = ?1)")
                .arg(t, restore),
            what);
    // An added record: its key and values as the load left them; then removed.
    QString sameAdded = QStringLiteral("%1 = ?2 COLLATE BINARY").arg(key);
    if (f.min)
        sameAdded += QStringLiteral(" AND %1 = ?3").arg(min);
    if (f.max)
        sameAdded += QStringLiteral(" AND %1 = ?4").arg(max);
    Statement checkAdded =
        session.prepare(QStringLiteral("SELECT %1 FROM main.%2 WHERE rowid = ?1").arg(sameAdded, t), what);
    Statement removeAdded = session.prepare(QStringLiteral("DELETE FROM main.%1 WHERE rowid = ?1").arg(t), what);

    Statement changes = session.prepare(
        QStringLiteral("SELECT id, kind, first_rid, last_rid, records FROM main.kalder_load_change WHERE load_id = ?1 "
                       "ORDER BY id DESC"),
        what);
    changes.bind(1, last->id);
    QSet<qint64> changedRids;
    const auto changed = [&](qint64 rid, const QString& k) {
        if (!changedRids.contains(rid)) {
            changedRids.insert(rid);
            result.changedKeys.append(k.isNull() ? QStringLiteral("(запись %1 удалена)").arg(rid) : k);
        }
    };
    int rc;
    while ((rc = changes.step()) == SQLITE_ROW) {
        sqlite3_stmt* c = changes.get();
        const qint64 id = sqlite3_column_int64(c, 0);
        const QByteArray kind(reinterpret_cast<const char*>(sqlite3_column_text(c, 1)));
        const qint64 first = sqlite3_column_int64(c, 2), final = sqlite3_column_int64(c, 3);
        if (kind == "widened") {
            checkWidened.bind(1, id);
            const int r = checkWidened.step();
            const bool same = r == SQLITE_ROW && sqlite3_column_int(checkWidened.get(), 1) != 0;
            const QString k = r == SQLITE_ROW ? text(checkWidened.get(), 0) : QString();
            checkWidened.reset();
            if (r != SQLITE_ROW && r != SQLITE_DONE)
                session.fail(what);
            if (!same || changedRids.contains(first)) {
                changed(first, k);
                continue;
            }
            if (restoreWidened) {
                restoreWidened.bind(1, id);
                if (!restoreWidened.run())
                    session.fail(what);
            }
            ++result.restored;
            continue;
        }
        const QByteArray blob(reinterpret_cast<const char*>(sqlite3_column_blob(c, 4)), sqlite3_column_bytes(c, 4));
        const std::vector<Unpacked> records = unpack(blob, final - first + 1);
        for (qint64 rid = first; rid <= final; ++rid) {
            const Unpacked& u = records[size_t(rid - first)];
            checkAdded.bind(1, rid);
            checkAdded.bind(2, view(u.key));
            if (f.min)
                checkAdded.bind(3, u.min);
            if (f.max)
                checkAdded.bind(4, u.max);
            const int r = checkAdded.step();
            const bool same = r == SQLITE_ROW && sqlite3_column_int(checkAdded.get(), 0) != 0;
            checkAdded.reset();
            if (r != SQLITE_ROW && r != SQLITE_DONE)
                session.fail(what);
            if (!same || changedRids.contains(rid)) {
                changed(rid, QString::fromUtf8(u.key));
                continue;
            }
            removeAdded.bind(1, rid);
            if (!removeAdded.run())
                session.fail(what);
            ++result.removed;
        }
    }
    if (rc != SQLITE_DONE)
        session.fail(what);
    changes = Statement();
    if (!result.changedKeys.isEmpty()) {
        session.rollback();   // nothing is taken back
        result.removed = result.restored = 0;
        return result;
    }
    Statement mark = session.prepare(QStringLiteral("UPDATE main.kalder_load SET undone = ?2 WHERE id = ?1"), what);
    const QByteArray when = now().toUtf8();
    mark.bind(1, last->id);
    mark.bind(2, view(when));
    if (!mark.run())
        session.fail(what);
    mark = Statement();
    checkWidened = Statement();
    restoreWidened = Statement();
    checkAdded = Statement();
    removeAdded = Statement();
    session.commit(what);
    return result;
}

} // namespace kalder
