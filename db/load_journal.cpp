// The journal of loads over SQLite. A batch is journaled in a few rows, whatever its size: the
// records it adds as ranges of row ids (a batch's new records follow one another), each with
// the keys and values the load left them with or a digest of them, and the records it widens
// in one row, each with the values it found exactly as the table held them (type and all) and
// those it left, so that taking the load back gives the table back byte for byte.
#include "db/load_journal.h"

#include "app/base/failure.h"
#include "db/engine.h"
#include "db/sqlite_dialect.h"
#include "db/sqlite_session.h"

#include <QSet>
#include <QtEndian>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace kalder {

namespace {

using sqlite::quoteIdentifier;
using sqlite::Statement;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

const char* const Schema = "CREATE TABLE IF NOT EXISTS kalder_load ("
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
                           " records INTEGER NOT NULL,"
                           " data BLOB NOT NULL);"
                           "CREATE INDEX IF NOT EXISTS kalder_load_change_load ON kalder_load_change (load_id);";

QString now()
{
    const QDateTime t = QDateTime::currentDateTime();
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate);
}

// The data of a journal row, little-endian.
//   added:   for each record of the range: the key (u32 length, bytes), then the minimum and
//            the maximum the load left it with (f64, NaN: not loaded);
//            or, in the digest form, the u32 DigestMark and the u8 DigestVersion, then for each
//            record the u64 digest of what the load left it with (see recordDigest);
//   widened: for each record: its row id (i64), its key, the fields widened (u8: 1 the minimum,
//            2 the maximum), then for each of them the value found (u8 type: 1 integer, 2 real,
//            3 text; an i64, an f64 or a text) and the value left (f64); or, in the digest form,
//            the mark, then for each record its row id, the fields, the values found, and the
//            u64 digest of its key and the values left in place of them.
class Writer {
public:
    // A journal row holds at most a chunk and one record more, and a record is written in a
    // few small copies, many thousands of times a load: each copy only moves the end, the
    // room having been made once.
    void u8(quint8 v) { put(v); }
    void u32(quint32 v) { put(v); }
    void i64(qint64 v) { put(v); }
    void f64(double v)
    {
        quint64 bits;
        std::memcpy(&bits, &v, 8);
        put(bits);
    }
    void bytes(std::string_view b)
    {
        u32(quint32(b.size()));
        if (b.empty())
            return;
        std::memcpy(room(b.size()), b.data(), b.size());
        m_size += b.size();
    }
    void clear() { m_size = 0; }
    qsizetype size() const { return qsizetype(m_size); }
    std::string_view data() const { return {m_data.get(), m_size}; }

private:
    char* room(size_t n)
    {
        if (m_capacity - m_size < n) {
            const size_t capacity = std::max({m_capacity * 2, m_size + n, size_t(80 * 1024)});
            auto grown = std::make_unique_for_overwrite<char[]>(capacity);
            if (m_size)
                std::memcpy(grown.get(), m_data.get(), m_size);
            m_data = std::move(grown);
            m_capacity = capacity;
        }
        return m_data.get() + m_size;
    }
    template <typename T>
    void put(T v)
    {
        qToLittleEndian<T>(v, room(sizeof(T)));
        m_size += sizeof(T);
    }
    std::unique_ptr<char[]> m_data;
    size_t m_size = 0, m_capacity = 0;
};

// A key is at most 32,767 characters, so no key's length is this: the mark of the digest form.
constexpr quint32 DigestMark = 0xFFFFFFFFu;
constexpr quint8 DigestVersion = 1;

// The digest of a new record as the load left it: its key, and each of the minimum and the
// maximum that the load wrote (a number; -0 as 0, which the table holds equal). The low two
// bits tell which of the two are in it (1 the minimum, 2 the maximum). The mixing is fixed
// here, never a library's, so that a journal written by one build is read by any other.
class RecordDigest {
public:
    void word(quint64 w)
    {
        m_h ^= w;
        m_h *= 0x9E3779B97F4A7C15ull;
        m_h ^= m_h >> 29;
    }
    void bytes(std::string_view b)
    {
        word(b.size());
        size_t i = 0;
        for (; i + 8 <= b.size(); i += 8)
            word(qFromLittleEndian<quint64>(b.data() + i));
        if (i < b.size()) {
            char tail[8] = {};
            std::memcpy(tail, b.data() + i, b.size() - i);
            word(qFromLittleEndian<quint64>(tail));
        }
    }
    void number(double v)
    {
        v += 0.0;
        quint64 bits;
        std::memcpy(&bits, &v, 8);
        word(bits);
    }
    quint64 finish(quint8 fields)
    {
        word(fields);
        quint64 h = m_h; // a final avalanche, so that every bit of the input moves the low ones
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 33;
        h *= 0xC4CEB9FE1A85EC53ull;
        h ^= h >> 33;
        return (h & ~quint64(3)) | fields;
    }

private:
    quint64 m_h = 0x6A09E667F3BCC908ull;
};

// Nothing (NaN) left in a field is no value to compare, as in the form with keys and values.
quint64 recordDigest(std::string_view key, std::optional<double> min, std::optional<double> max)
{
    if (min && std::isnan(*min))
        min.reset();
    if (max && std::isnan(*max))
        max.reset();
    RecordDigest d;
    d.bytes(key);
    if (min)
        d.number(*min);
    if (max)
        d.number(*max);
    return d.finish(quint8((min ? 1 : 0) | (max ? 2 : 0)));
}

class Reader {
public:
    explicit Reader(const QByteArray& d) : m_data(d) { }
    // Whether the next u32 is the given one; taken only when it is.
    bool takeMark(quint32 mark)
    {
        if (m_data.size() - m_at < 4 || qFromLittleEndian<quint32>(m_data.constData() + m_at) != mark)
            return false;
        m_at += 4;
        return true;
    }
    quint8 u8() { return quint8(*take(1)); }
    quint32 u32() { return qFromLittleEndian<quint32>(take(4)); }
    qint64 i64() { return qFromLittleEndian<qint64>(take(8)); }
    double f64()
    {
        const quint64 bits = qFromLittleEndian<quint64>(take(8));
        double v;
        std::memcpy(&v, &bits, 8);
        return v;
    }
    QByteArray bytes()
    {
        const quint32 n = u32();
        return QByteArray(take(qsizetype(n)), qsizetype(n));
    }

private:
    const char* take(qsizetype n)
    {
        if (n < 0 || m_data.size() - m_at < n)
            throw Failure(err::BadFormat, QStringLiteral("Журнал загрузок повреждён: запись изменений обрывается"));
        const char* p = m_data.constData() + m_at;
        m_at += n;
        return p;
    }
    const QByteArray& m_data;
    qsizetype m_at = 0;
};

// A widened record as its journal row holds it.
struct WidenedRecord {
    qint64 rid = 0;
    QByteArray key;
    quint8 fields = 0;
    StoredValue found[2];
    double left[2] = {0, 0};
    std::optional<quint64> digest; // in the digest form, in place of the key and the values left
};

// Whether a journal row's data is in the digest form; the mark taken.
bool takeDigestMark(Reader& r)
{
    if (!r.takeMark(DigestMark))
        return false;
    if (r.u8() != DigestVersion)
        throw Failure(err::BadFormat, QStringLiteral("Журнал загрузок записан более новой версией программы"));
    return true;
}

WidenedRecord readWidened(Reader& r, bool digests)
{
    WidenedRecord w;
    w.rid = r.i64();
    if (!digests)
        w.key = r.bytes();
    w.fields = r.u8();
    for (int f = 0; f < 2; ++f) {
        if (!(w.fields & (1 << f)))
            continue;
        StoredValue& v = w.found[f];
        switch (r.u8()) {
        case 1:
            v.type = StoredValue::Type::Integer;
            v.integer = r.i64();
            break;
        case 2:
            v.type = StoredValue::Type::Real;
            v.number = r.f64();
            break;
        case 3:
            v.type = StoredValue::Type::Text;
            v.text = r.bytes();
            break;
        default:
            throw Failure(err::BadFormat, QStringLiteral("Журнал загрузок повреждён: неизвестный тип значения"));
        }
        if (!digests)
            w.left[f] = r.f64();
    }
    if (digests)
        w.digest = quint64(r.i64());
    return w;
}

QString text(sqlite3_stmt* s, int col)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, col)), sqlite3_column_bytes(s, col));
}

// Whether the table keeps a new record exactly as the load writes it: a key column that leaves
// a text a text (text affinity, or none), and minimum and maximum columns that leave a number
// a number (any affinity but text).
bool storesAsWritten(sqlite::Session& session, const MergeFields& fields)
{
    const QByteArray table = fields.table.toUtf8();
    const auto affinity = [&](const QString& field, QString* out) {
        const char* type = nullptr;
        if (sqlite3_table_column_metadata(session.handle(), nullptr, table.constData(), field.toUtf8().constData(),
                                          &type, nullptr, nullptr, nullptr, nullptr) != SQLITE_OK)
            return false;
        *out = sqlite::affinityType(type);
        return true;
    };
    QString key, min, max;
    if (!affinity(fields.key, &key) || !(key.isEmpty() || key == QLatin1String("TEXT")))
        return false;
    if (fields.min && (!affinity(*fields.min, &min) || min == QLatin1String("TEXT")))
        return false;
    if (fields.max && (!affinity(*fields.max, &max) || max == QLatin1String("TEXT")))
        return false;
    return true;
}

// The number a minimum or maximum holds as a number: an integer the number type holds exactly,
// or a real. Nothing for any other value, which no load writes.
std::optional<double> storedNumber(sqlite3_stmt* s, int col)
{
    switch (sqlite3_column_type(s, col)) {
    case SQLITE_INTEGER: {
        const qint64 i = sqlite3_column_int64(s, col);
        const double v = double(i);
        if (v >= 9223372036854775808.0 || v < -9223372036854775808.0 || qint64(v) != i)
            return std::nullopt;
        return v;
    }
    case SQLITE_FLOAT:
        return sqlite3_column_double(s, col);
    default:
        return std::nullopt;
    }
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
    explicit Impl(Connection& conn) : session(conn) { }
    sqlite::Session session; // the merge's connection: its statements run in the merge's batches
    Statement insertLoad, insertChange, updateLoad;
    Writer widened; // the records the batch in hand widened, not yet written
    qint64 widenedCount = 0, firstWidened = 0, lastWidened = 0;
    // the records it added since the last write, their row ids one after another
    struct Range {
        qint64 first, last;
    };
    std::optional<Range> range;
    Writer addedData; // what the range's records hold
    // New records are journaled by their digest where the table stores a record exactly as the
    // load writes it (a key as its text, numbers as numbers), so that the digest of a record
    // read back is that of the record written; else by their keys and values.
    bool digests = false;
    // The tables are made with the first batch's rows, in its transaction, when neither is there.
    bool create = false, createdInBatch = false;

    void prepare(const QString& what)
    {
        insertLoad = session.prepare(
            QStringLiteral(
                "INSERT INTO main.kalder_load (table_name, started, workbook, workbook_size, workbook_sha256, "
                "header_row, last_row, links, key_field, min_field, max_field) "
                "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)"),
            what);
        insertChange = session.prepare(
            QStringLiteral("INSERT INTO main.kalder_load_change (load_id, kind, first_rid, last_rid, records, data) "
                           "VALUES (?1, ?2, ?3, ?4, ?5, ?6)"),
            what);
        updateLoad = session.prepare(
            QStringLiteral("UPDATE main.kalder_load SET rows_merged = ?2, records_added = ?3, records_widened = ?4, "
                           "finished = ?5 WHERE id = ?1"),
            what);
    }
};

namespace {
// The journal is kept in database files only; on a server a load runs without it, and the
// undo refuses.
bool onServer(const Connection& conn) { return conn.isOpen() && conn.engine().kind() != Engine::Kind::Sqlite; }
const QString NoJournalOnServer = QStringLiteral("на сервере PostgreSQL журнал загрузок не ведётся");
} // namespace

std::optional<QString> journalUnavailable(const Connection& conn)
{
    return onServer(conn) ? std::optional(NoJournalOnServer) : std::nullopt;
}

std::unique_ptr<LoadJournal> LoadJournal::start(Connection& conn, JournaledLoad load, QString* unavailable)
{
    if (onServer(conn)) {
        if (unavailable)
            *unavailable = NoJournalOnServer;
        return nullptr;
    }
    auto impl = std::make_unique<Impl>(conn);
    sqlite::Session& session = impl->session;
    const QString what = QStringLiteral("Журнал загрузок в базе данных %1").arg(session.path());
    try {
        session.begin(false);
        const bool loads = tableExists(session, "kalder_load"), changes = tableExists(session, "kalder_load_change");
        session.rollback();
        impl->digests = storesAsWritten(session, load.fields);
        if (!loads && !changes) {
            // made on first use with the first batch's rows: no transaction and sync of its own
            impl->create = true;
        } else {
            // one of them made by someone else may not take the other, nor the journal's rows
            if (!loads || !changes) {
                session.begin(true);
                session.exec(QString::fromLatin1(Schema), what);
                session.commit(what);
            }
            impl->prepare(what);
        }
    } catch (const Failure& f) {
        // a lock not released, a file that cannot be written: the load could not write either
        if (sqlite::Session::outsideTheRow(err::sqliteCode(f.number())))
            throw;
        if (unavailable)
            *unavailable = f.description();
        return nullptr;
    }
    return std::unique_ptr<LoadJournal>(new LoadJournal(std::move(impl), std::move(load)));
}

LoadJournal::LoadJournal(std::unique_ptr<Impl> impl, JournaledLoad load)
    : m_impl(std::move(impl)), m_load(std::move(load))
{
}

LoadJournal::~LoadJournal() = default;

// A journal row holds at most this many bytes of data: the batch in hand is journaled as it is
// written, in the order it is written, without being held whole in memory.
constexpr qsizetype ChunkBytes = 64 * 1024;

void LoadJournal::added(qint64 rid, std::string_view key, std::optional<double> min, std::optional<double> max)
{
    Impl& d = *m_impl;
    if (d.widenedCount)
        writeWidened(); // what came before is written before
    if (d.range && (d.range->last + 1 != rid || d.addedData.size() >= ChunkBytes))
        writeAdded();
    if (!d.range) {
        d.range = Impl::Range{rid, rid - 1};
        if (d.digests) {
            d.addedData.u32(DigestMark);
            d.addedData.u8(DigestVersion);
        }
    }
    d.range->last = rid;
    if (d.digests) {
        d.addedData.i64(qint64(recordDigest(key, min, max)));
        ++m_batchAdded;
        return;
    }
    d.addedData.bytes(key);
    d.addedData.f64(min.value_or(NaN));
    d.addedData.f64(max.value_or(NaN));
    ++m_batchAdded;
}

void LoadJournal::widened(qint64 rid, std::string_view key, const StoredValue& oldMin, const StoredValue& oldMax,
                          std::optional<double> newMin, std::optional<double> newMax)
{
    Impl& d = *m_impl;
    if (d.range)
        writeAdded(); // a record added before and widened now is taken back in the other order
    if (d.widened.size() >= ChunkBytes)
        writeWidened();
    Writer& w = d.widened;
    if (d.digests && !w.size()) {
        w.u32(DigestMark);
        w.u8(DigestVersion);
    }
    w.i64(rid);
    if (!d.digests)
        w.bytes(key);
    w.u8(quint8((newMin ? 1 : 0) | (newMax ? 2 : 0)));
    for (const auto& [found, left] : {std::pair{&oldMin, newMin}, std::pair{&oldMax, newMax}}) {
        if (!left)
            continue;
        switch (found->type) {
        case StoredValue::Type::Integer:
            w.u8(1);
            w.i64(found->integer);
            break;
        case StoredValue::Type::Text:
            w.u8(3);
            w.bytes(view(found->text));
            break;
        default:
            w.u8(2);
            w.f64(found->number);
            break;
        }
        if (!d.digests)
            w.f64(*left);
    }
    if (d.digests)
        w.i64(qint64(recordDigest(key, newMin, newMax)));
    d.firstWidened = d.widenedCount ? std::min(d.firstWidened, rid) : rid;
    d.lastWidened = d.widenedCount ? std::max(d.lastWidened, rid) : rid;
    ++d.widenedCount;
    m_batchWidened.push_back(rid);
}

QString LoadJournal::writing() const
{
    return QStringLiteral("Запись журнала загрузок в базу данных %1").arg(m_impl->session.path());
}

void LoadJournal::ensureHeader()
{
    if (m_load.id)
        return;
    Impl& d = *m_impl;
    if (d.create) {
        d.session.exec(QString::fromLatin1(Schema), writing());
        d.prepare(writing());
        d.create = false;
        d.createdInBatch = true;
    }
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
        d.session.fail(writing());
    m_load.id = sqlite3_last_insert_rowid(d.session.handle());
}

void LoadJournal::writeChange(const char* kind, qint64 first, qint64 last, qint64 records, std::string_view data)
{
    ensureHeader();
    Statement& c = m_impl->insertChange;
    c.bind(1, m_load.id);
    c.bind(2, std::string_view(kind));
    c.bind(3, first);
    c.bind(4, last);
    c.bind(5, records);
    sqlite3_bind_blob(c.get(), 6, data.data(), int(data.size()), SQLITE_STATIC);
    if (!c.run())
        m_impl->session.fail(writing());
}

void LoadJournal::writeAdded()
{
    Impl& d = *m_impl;
    if (!d.range)
        return;
    writeChange("added", d.range->first, d.range->last, d.range->last - d.range->first + 1, d.addedData.data());
    d.range.reset();
    d.addedData.clear();
}

void LoadJournal::writeWidened()
{
    Impl& d = *m_impl;
    if (!d.widenedCount)
        return;
    writeChange("widened", d.firstWidened, d.lastWidened, d.widenedCount, d.widened.data());
    d.widened.clear();
    d.widenedCount = 0;
}

void LoadJournal::beforeCommit()
{
    writeAdded();
    writeWidened();
    ensureHeader();
    // the records this load widened, each counted once however many batches widened it
    std::sort(m_batchWidened.begin(), m_batchWidened.end());
    m_batchWidened.erase(std::unique(m_batchWidened.begin(), m_batchWidened.end()), m_batchWidened.end());
    qint64 widened = qint64(m_widenedRids.size());
    for (qint64 rid : m_batchWidened)
        if (!std::binary_search(m_widenedRids.begin(), m_widenedRids.end(), rid))
            ++widened;
    Statement& u = m_impl->updateLoad;
    u.bind(1, m_load.id);
    u.bind(2, m_load.rowsMerged);
    u.bind(3, m_addedCount + m_batchAdded);
    u.bind(4, widened);
    u.bind(5, qint64(m_load.finished ? 1 : 0));
    if (!u.run())
        m_impl->session.fail(writing());
}

void LoadJournal::committed()
{
    m_headerCommitted = true;
    m_impl->createdInBatch = false;
    m_addedCount += m_batchAdded;
    const size_t before = m_widenedRids.size();
    m_widenedRids.insert(m_widenedRids.end(), m_batchWidened.begin(), m_batchWidened.end());
    std::inplace_merge(m_widenedRids.begin(), m_widenedRids.begin() + qsizetype(before), m_widenedRids.end());
    m_widenedRids.erase(std::unique(m_widenedRids.begin(), m_widenedRids.end()), m_widenedRids.end());
    forgetBatch();
}

void LoadJournal::forgetBatch()
{
    Impl& d = *m_impl;
    d.range.reset();
    d.addedData.clear();
    d.widened.clear();
    d.widenedCount = 0;
    m_batchAdded = 0;
    m_batchWidened.clear();
}

void LoadJournal::rolledBack()
{
    Impl& d = *m_impl;
    if (!m_headerCommitted)
        m_load.id = 0;
    if (d.createdInBatch) { // the tables went with the batch: the next one makes them again
        d.insertLoad = Statement();
        d.insertChange = Statement();
        d.updateLoad = Statement();
        d.create = true;
        d.createdInBatch = false;
    }
    forgetBatch();
}

std::optional<JournaledLoad> lastLoad(Connection& conn, const QString& table)
{
    // skipped on failure: a journal that cannot be read (tables of that name made by another
    // program, say) is as none
    if (onServer(conn))
        return std::nullopt;
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
    if (onServer(conn))
        throw Failure(err::NoCurrentRecord,
                      QStringLiteral("Отмена загрузки в таблицу %1 невозможна: %2").arg(table, NoJournalOnServer));
    sqlite::Session session(conn);
    const QString what = QStringLiteral("Отмена загрузки в таблицу %1").arg(table);
    session.begin(true);
    const std::optional<JournaledLoad> last = readLast(session, table);
    if (!last)
        throw Failure(err::NoCurrentRecord,
                      QStringLiteral("В журнале нет загрузки в таблицу %1, которую можно отменить").arg(table));
    UndoResult result;
    result.load = *last;
    const MergeFields& f = last->fields;
    const QString t = quoteIdentifier(table), key = quoteIdentifier(f.key);
    const QString names[2] = {f.min ? quoteIdentifier(*f.min) : QString(), f.max ? quoteIdentifier(*f.max) : QString()};

    // A record as the load left it: its key, and each field it wrote; compared as the table
    // compares a value with a number or a text.
    QString same = QStringLiteral("%1 = ?2 COLLATE BINARY").arg(key);
    for (int i = 0; i < 2; ++i)
        if (!names[i].isEmpty())
            same += QStringLiteral(" AND (?%2 IS NULL OR %1 = ?%2)").arg(names[i]).arg(i + 3);
    Statement check = session.prepare(QStringLiteral("SELECT %1 FROM main.%2 WHERE rowid = ?1").arg(same, t), what);
    Statement keyOf = session.prepare(QStringLiteral("SELECT %1 FROM main.%2 WHERE rowid = ?1").arg(key, t), what);
    Statement rowOf = session.prepare(QStringLiteral("SELECT %1, %2, %3 FROM main.%4 WHERE rowid = ?1")
                                          .arg(key, names[0].isEmpty() ? QStringLiteral("NULL") : names[0],
                                               names[1].isEmpty() ? QStringLiteral("NULL") : names[1], t),
                                      what);
    Statement restore[2];
    for (int i = 0; i < 2; ++i)
        if (!names[i].isEmpty())
            restore[i] =
                session.prepare(QStringLiteral("UPDATE main.%1 SET %2 = ?2 WHERE rowid = ?1").arg(t, names[i]), what);
    Statement remove = session.prepare(QStringLiteral("DELETE FROM main.%1 WHERE rowid = ?1").arg(t), what);

    QSet<qint64> changedRids;
    const auto changed = [&](qint64 rid, const QByteArray& k) {
        if (!changedRids.contains(rid)) {
            changedRids.insert(rid);
            result.changedKeys.append(QString::fromUtf8(k));
        }
    };
    // Whether the record is as the load left it; key, then the values of the fields given (NaN:
    // not compared). A record changed since is named by the key it holds now.
    const auto unchanged = [&](qint64 rid, const QByteArray& k, double min, double max) {
        check.bind(1, rid);
        check.bind(2, std::string_view(k.constData(), size_t(k.size())));
        if (!names[0].isEmpty() && !std::isnan(min))
            check.bind(3, min);
        if (!names[1].isEmpty() && !std::isnan(max))
            check.bind(4, max);
        const int rc = check.step();
        const bool asLeft = rc == SQLITE_ROW && sqlite3_column_int(check.get(), 0) != 0;
        check.reset();
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            session.fail(what);
        if (asLeft && !changedRids.contains(rid))
            return true;
        QByteArray now = k;
        if (rc == SQLITE_ROW) {
            keyOf.bind(1, rid);
            if (keyOf.step() == SQLITE_ROW)
                now = QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(keyOf.get(), 0)),
                                 sqlite3_column_bytes(keyOf.get(), 0));
            keyOf.reset();
        }
        changed(rid, now);
        return false;
    };
    // The same for a record journaled by its digest; one deleted since is named by its row id.
    const auto asDigested = [&](qint64 rid, quint64 left) {
        rowOf.bind(1, rid);
        const int rc = rowOf.step();
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            session.fail(what);
        bool asLeft = false;
        QByteArray now = QStringLiteral("(запись %1 удалена)").arg(rid).toUtf8();
        if (rc == SQLITE_ROW) {
            sqlite3_stmt* r = rowOf.get();
            const quint8 fields = quint8(left & 3);
            const bool text = sqlite3_column_type(r, 0) == SQLITE_TEXT; // asked before the text converts it
            now = QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(r, 0)), sqlite3_column_bytes(r, 0));
            const std::optional<double> min = (fields & 1) ? storedNumber(r, 1) : std::nullopt;
            const std::optional<double> max = (fields & 2) ? storedNumber(r, 2) : std::nullopt;
            asLeft = text && bool(min) == bool(fields & 1) && bool(max) == bool(fields & 2) &&
                     recordDigest(view(now), min, max) == left;
        }
        rowOf.reset();
        if (asLeft && !changedRids.contains(rid))
            return true;
        changed(rid, now);
        return false;
    };

    Statement changes = session.prepare(
        QStringLiteral(
            "SELECT kind, first_rid, last_rid, records, data FROM main.kalder_load_change WHERE load_id = ?1 "
            "ORDER BY id DESC"),
        what);
    changes.bind(1, last->id);
    int rc;
    while ((rc = changes.step()) == SQLITE_ROW) {
        sqlite3_stmt* c = changes.get();
        const QByteArray kind(reinterpret_cast<const char*>(sqlite3_column_text(c, 0)));
        const qint64 first = sqlite3_column_int64(c, 1), records = sqlite3_column_int64(c, 3);
        const QByteArray data(reinterpret_cast<const char*>(sqlite3_column_blob(c, 4)), sqlite3_column_bytes(c, 4));
        Reader reader(data);
        if (kind == "widened") {
            // taken back in the opposite order they were written
            std::vector<WidenedRecord> widened;
            widened.reserve(size_t(std::max<qint64>(records, 0)));
            const bool digests = takeDigestMark(reader);
            for (qint64 i = 0; i < records; ++i)
                widened.push_back(readWidened(reader, digests));
            for (auto w = widened.rbegin(); w != widened.rend(); ++w) {
                if (w->digest ? !asDigested(w->rid, *w->digest)
                              : !unchanged(w->rid, w->key, (w->fields & 1) ? w->left[0] : NaN,
                                           (w->fields & 2) ? w->left[1] : NaN))
                    continue;
                for (int i = 0; i < 2; ++i) {
                    if (!(w->fields & (1 << i)) || !restore[i])
                        continue;
                    Statement& r = restore[i];
                    r.bind(1, w->rid);
                    const StoredValue& v = w->found[i];
                    if (v.type == StoredValue::Type::Integer)
                        r.bind(2, v.integer);
                    else if (v.type == StoredValue::Type::Text)
                        sqlite3_bind_text(r.get(), 2, v.text.constData(), int(v.text.size()), SQLITE_STATIC);
                    else
                        r.bind(2, v.number);
                    if (!r.run())
                        session.fail(what);
                }
                ++result.restored;
            }
            continue;
        }
        const bool digests = takeDigestMark(reader);
        for (qint64 i = 0; i < records; ++i) {
            const qint64 rid = first + i;
            if (digests) {
                if (!asDigested(rid, quint64(reader.i64())))
                    continue;
            } else {
                const QByteArray k = reader.bytes();
                const double min = reader.f64(), max = reader.f64();
                if (!unchanged(rid, k, min, max))
                    continue;
            }
            remove.bind(1, rid);
            if (!remove.run())
                session.fail(what);
            ++result.removed;
        }
    }
    if (rc != SQLITE_DONE)
        session.fail(what);
    changes = Statement();
    if (!result.changedKeys.isEmpty()) {
        session.rollback(); // nothing is taken back
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
    check = Statement();
    keyOf = Statement();
    rowOf = Statement();
    restore[0] = Statement();
    restore[1] = Statement();
    remove = Statement();
    session.commit(what);
    return result;
}

} // namespace kalder
