// The keyed merge on a PostgreSQL server. The server compares the keys (by the key field's
// type and collation), so no stored key is read into memory. A batch is written when it
// commits: its rows sent with COPY into a temporary table, grouped by key, then
// an UPDATE that widens the first record of each stored key (the first in the table's physical
// order, the server having no row id) and an INSERT of the new keys. Other loads may write the
// table at the same time:
// - without a unique index on the key field alone, the batch holds an advisory lock of the
//   table until it commits, so that no other load reads a key this one is about to insert;
// - with one, no lock: a key another load stored meanwhile makes the INSERT fail on the index,
//   and the batch is written again as one INSERT ... ON CONFLICT DO UPDATE that widens with
//   LEAST / GREATEST where it meets a stored record, the server settling the loads record by
//   record. (The upsert is the slower statement, so it waits for the loads that need it.)
// A batch the table refuses is written again row by row, each row under a savepoint, to end at
// the row refused with every row before it written (a rehearsal passes over such a row and
// goes on). An observer is told of each record the batch writes, as the table held it just
// before.
#include "db/pg_merge.h"

#include "app/base/failure_catalogue.h"
#include "db/pg_dialect.h"
#include "db/pg_session.h"

#include <QHash>
#include <QStringEncoder>

#include <cmath>
#include <functional>
#include <string_view>

namespace kalder::pg {

namespace {

constexpr int DeadlockRetries = 5;

// How a field holds numbers: a number type, a text that may read as one, or neither.
enum class Holds { Number, Text, Other };

struct Column {
    QByteArray name; // quoted
    QByteArray type; // as the server writes it, to cast a value to
    Holds holds = Holds::Other;
    qint64 attnum = 0;
    qint64 collation = 0;
    bool bytewise = false; // a text whose values are equal exactly when their bytes are
};

QByteArray sqlOf(const QString& s) { return s.toUtf8(); }

// The number an expression holds, as double precision: Null where it holds none (Null, a text
// that does not read as a number), so that it is never widened.
QByteArray numberOf(const Column& c, const QByteArray& e)
{
    switch (c.holds) {
    case Holds::Number:
        return "(" + e + ")::float8";
    case Holds::Text:
        return "(CASE WHEN btrim(" + e + ") ~ '^[-+]?([0-9]+[.]?[0-9]*|[.][0-9]+)([eE][-+]?[0-9]{1,3})?$' THEN btrim(" +
               e + ")::float8 END)";
    case Holds::Other:
        break;
    }
    return "NULL::float8";
}

// The widening of a stored record d's field by a bound: the test that its number lies beyond
// the bound, into changed, and the assignment that writes the bound where it does, into sets.
void addWidening(const Column& c, const QByteArray& bound, bool lower, QByteArrayList& sets, QByteArrayList& changed)
{
    const QByteArray test = numberOf(c, "d." + c.name) + (lower ? " > " : " < ") + bound;
    sets.append(c.name + " = CASE WHEN " + test + " THEN (" + bound + ")::" + c.type + " ELSE d." + c.name + " END");
    changed.append(test);
}

StoredValue storedValue(const Column& c, const Result& r, int row, int numberCol)
{
    StoredValue v;
    if (r.isNull(row, numberCol))
        return v;
    v.number = r.number(row, numberCol);
    if (c.holds == Holds::Text) {
        v.type = StoredValue::Type::Text;
        v.text = r.text(row, numberCol + 1);
    } else if (c.type == "integer" || c.type == "bigint" || c.type == "smallint") {
        v.type = StoredValue::Type::Integer;
        v.integer = r.integer(row, numberCol + 1);
    } else {
        v.type = StoredValue::Type::Real;
    }
    return v;
}

class PgMerge final : public KeyedMerge {
public:
    PgMerge(Connection& conn, const MergeFields& fields, const MergeOptions& options)
        : m_s(conn), m_table(fields.table), m_hasMin(fields.min.has_value()), m_hasMax(fields.max.has_value()),
          m_batchRows(options.batchRows > 0 ? options.batchRows : 1), m_observer(options.observer),
          m_rehearsal(options.rehearsal)
    {
        inspect(fields);
        prepareSql();
    }

    ~PgMerge() override
    {
        if (m_inTx || m_outer) {
            m_s.quietly("ROLLBACK");
            if (m_observer && m_inTx)
                m_observer->rolledBack();
        }
    }

    bool merge(QStringView key, std::optional<double> min, std::optional<double> max, qint64 row) override
    {
        Row r;
        r.key.resize(key.size() * 3);
        QStringEncoder utf8(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
        r.key.resize(utf8.appendToBuffer(r.key.data(), key) - r.key.constData());
        r.min = m_hasMin ? min : std::nullopt;
        r.max = m_hasMax ? max : std::nullopt;
        r.row = row;
        if (r.key.contains('\0')) {
            // The server's texts cannot hold the character; the rows before it are written first.
            writeBatch();
            const Failure f(err::ServerRefused,
                            QStringLiteral("Запись с ключом «%1» в таблице %2: сервер не хранит в "
                                           "тексте символ с кодом 0")
                                .arg(key.toString().replace(QChar(0), QStringLiteral("\\0")), m_table));
            if (m_rehearsal) {
                if (m_observer)
                    m_observer->refused(row, std::string_view(r.key.constData(), size_t(r.key.size())), f);
                return false;
            }
            m_failedRow = row;
            throw f;
        }
        m_rows.push_back(std::move(r));
        if (qsizetype(m_rows.size()) >= m_batchRows) {
            writeBatch();
            commitTx();
        }
        return false; // the records a batch adds are counted when it is written
    }

    void expect(qint64 rows) override
    {
        if (rows > 0)
            m_rows.reserve(size_t(std::min<qint64>(rows, m_batchRows)));
    }

    void commit() override
    {
        if (m_failedRow)
            m_failedRow.reset(); // the rows before the refused one are written; those after it dropped
        else
            writeBatch();
        commitTx();
    }

private:
    struct Row {
        QByteArray key;
        std::optional<double> min, max;
        qint64 row = 0;
    };

    QString what() const { return QStringLiteral("Загрузка в таблицу %1").arg(m_table); }

    void inspect(const MergeFields& fields)
    {
        const QString preparing = QStringLiteral("Подготовка загрузки в таблицу %1").arg(m_table);
        Result t = m_s.exec("SELECT to_regclass($1)::oid", preparing, {sqlOf(quoteIdentifier(m_table))});
        if (t.isNull(0, 0))
            throw Failure(err::ItemNotFound,
                          QStringLiteral("Таблица %1 не найдена в базе данных %2").arg(m_table, m_s.location()));
        m_oid = t.text(0, 0);
        Result cols = m_s.exec("SELECT a.attname, format_type(a.atttypid, a.atttypmod), "
                               "coalesce(bt.typcategory, ty.typcategory), a.attnum, a.attcollation, "
                               "coalesce(bt.typname, ty.typname) IN ('text', 'varchar') "
                               "AND coalesce(co.collisdeterministic, false) "
                               "FROM pg_attribute a JOIN pg_type ty ON ty.oid = a.atttypid "
                               "LEFT JOIN pg_type bt ON ty.typtype = 'd' AND bt.oid = ty.typbasetype "
                               "LEFT JOIN pg_collation co ON co.oid = a.attcollation "
                               "WHERE a.attrelid = $1::oid AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum",
                               preparing, {m_oid});
        // A field named as the table spells it, or else the one that differs from it only in case.
        const auto column = [&](const QString& field) {
            int found = -1;
            for (int i = 0; i < cols.rows(); ++i) {
                const QString name = QString::fromUtf8(cols.text(i, 0));
                if (name == field) {
                    found = i;
                    break;
                }
                if (found < 0 && name.compare(field, Qt::CaseInsensitive) == 0)
                    found = i;
            }
            if (found < 0)
                throw fail::fieldNotFound(field, m_table);
            Column c;
            c.name = sqlOf(quoteIdentifier(QString::fromUtf8(cols.text(found, 0))));
            c.type = cols.text(found, 1);
            const QByteArray category = cols.text(found, 2);
            c.holds = category == "N" ? Holds::Number : category == "S" ? Holds::Text : Holds::Other;
            c.attnum = cols.integer(found, 3);
            c.collation = cols.integer(found, 4);
            c.bytewise = cols.text(found, 5) == "t";
            return c;
        };
        m_key = column(fields.key);
        if (m_hasMin)
            m_min = column(*fields.min);
        if (m_hasMax)
            m_max = column(*fields.max);
        Result unique =
            m_s.exec("SELECT 1 FROM pg_index i WHERE i.indrelid = $1::oid AND i.indisunique AND i.indisvalid "
                     "AND i.indnkeyatts = 1 AND i.indkey[0] = $2::int AND i.indexprs IS NULL "
                     "AND i.indpred IS NULL AND i.indcollation[0] = $3::oid LIMIT 1",
                     preparing, {m_oid, QByteArray::number(m_key.attnum), QByteArray::number(m_key.collation)});
        m_unique = unique.rows() > 0;
        // COPY reads a number as the INSERT's cast writes it only into double precision.
        m_copyDirect = m_key.bytewise && !m_observer && (!m_hasMin || m_min.type == "double precision") &&
                       (!m_hasMax || m_max.type == "double precision");
    }

    void prepareSql()
    {
        m_t = sqlOf(quoteIdentifier(m_table));
        const QByteArray& k = m_key.name;
        QByteArrayList names{k};
        if (m_hasMin)
            names.append(m_min.name);
        if (m_hasMax)
            names.append(m_max.name);
        m_names = names.join(", ");

        // The stage: the rows of a batch, then a record per key (by the key field's own
        // type and collation) with its first row and the extremes of all its rows.
        m_stageSql = "CREATE TEMP TABLE IF NOT EXISTS kalder_stage AS SELECT 0::bigint AS n, " + k +
                     " AS k, 0::float8 AS mn, 0::float8 AS mx FROM " + m_t + " WITH NO DATA";
        m_groupSql =
            "CREATE TEMP TABLE IF NOT EXISTS kalder_group AS SELECT k, n, mn AS lo, mx AS hi, mn AS fmn, mx AS fmx "
            "FROM kalder_stage WITH NO DATA";

        // A new record has its first row's values (0 for an empty cell), widened by the others.
        QByteArray firstValues = "g.k";
        if (m_hasMin)
            firstValues += ", LEAST(coalesce(g.fmn, 0), g.lo)::" + m_min.type;
        if (m_hasMax)
            firstValues += ", GREATEST(coalesce(g.fmx, 0), g.hi)::" + m_max.type;

        if (m_unique) {
            QByteArrayList sets, changed;
            const auto widen = [&](const Column& c, const char* bound, bool lower) {
                addWidening(c,
                            QByteArray("(SELECT w.") + bound + " FROM kalder_group w WHERE w.k = EXCLUDED." +
                                m_key.name + ")",
                            lower, sets, changed);
            };
            if (m_hasMin)
                widen(m_min, "lo", true);
            if (m_hasMax)
                widen(m_max, "hi", false);
            const QByteArray conflict = sets.isEmpty()
                                            ? QByteArray("DO NOTHING")
                                            : "DO UPDATE SET " + sets.join(", ") + " WHERE " + changed.join(" OR ");
            // Every load writes its records in the same order of the keys, so that two loads
            // meeting at several records wait for one another rather than deadlock.
            m_upsertSql = "WITH u AS (INSERT INTO " + m_t + " AS d (" + m_names + ") SELECT " + firstValues +
                          " FROM kalder_group g ORDER BY g.k ON CONFLICT (" + k + ") " + conflict +
                          " RETURNING (xmax = 0) AS added) SELECT count(*) FILTER (WHERE added) FROM u";
        }
        {
            QByteArrayList sets, changed;
            const auto widen = [&](const Column& c, const char* bound, bool lower) {
                addWidening(c, QByteArray("f.") + bound, lower, sets, changed);
            };
            if (m_hasMin)
                widen(m_min, "lo", true);
            if (m_hasMax)
                widen(m_max, "hi", false);
            // Under a unique index a key has one record at most; otherwise the first one is widened.
            QByteArray widenSql;
            if (!sets.isEmpty() && m_unique)
                widenSql = "UPDATE " + m_t + " AS d SET " + sets.join(", ") + " FROM kalder_group f WHERE d." + k +
                           " = f.k AND (" + changed.join(" OR ") + ")";
            else if (!sets.isEmpty())
                widenSql = "UPDATE " + m_t + " AS d SET " + sets.join(", ") + " FROM (SELECT DISTINCT ON (s." + k +
                           ") s.ctid AS tid, g.lo, g.hi FROM " + m_t + " s JOIN kalder_group g ON s." + k +
                           " = g.k ORDER BY s." + k + ", s.ctid) f WHERE d.ctid = f.tid AND (" + changed.join(" OR ") +
                           ")";
            // One statement, so that the widening and the insertion see the table at one moment: a
            // key another connection stores in between is then inserted again (and refused by a
            // unique index), never passed over by both.
            m_writeSql = (widenSql.isEmpty() ? QByteArray() : "WITH w AS (" + widenSql + ") ") + "INSERT INTO " + m_t +
                         " (" + m_names + ") SELECT " + firstValues +
                         " FROM kalder_group g WHERE NOT EXISTS (SELECT 1 FROM " + m_t + " s WHERE s." + k +
                         " = g.k) ORDER BY g.n";
        }

        // Row by row: the first record of the key, its numbers and their stored texts.
        QByteArray found = "SELECT ctid";
        for (const Column* c : {m_hasMin ? &m_min : nullptr, m_hasMax ? &m_max : nullptr})
            if (c)
                found += ", " + numberOf(*c, c->name) + ", " + c->name + "::text";
        m_findSql =
            found + " FROM " + m_t + " WHERE " + k + " = $1::" + m_key.type + " ORDER BY ctid LIMIT 1 FOR UPDATE";
        QByteArrayList marks{"$1::" + m_key.type};
        int mark = 2;
        for (const Column* c : {m_hasMin ? &m_min : nullptr, m_hasMax ? &m_max : nullptr})
            if (c)
                marks.append("$" + QByteArray::number(mark++) + "::float8::" + c->type);
        m_insertRowSql = "INSERT INTO " + m_t + " (" + m_names + ") VALUES (" + marks.join(", ") + ")" +
                         (m_unique ? " ON CONFLICT (" + k + ") DO NOTHING" : QByteArray()) + " RETURNING ctid";
        QByteArrayList sets;
        mark = 2;
        for (const Column* c : {m_hasMin ? &m_min : nullptr, m_hasMax ? &m_max : nullptr})
            if (c) {
                const QByteArray m = "$" + QByteArray::number(mark++);
                sets.append(c->name + " = coalesce(" + m + "::float8::" + c->type + ", " + c->name + ")");
            }
        if (!sets.isEmpty())
            m_widenRowSql = "UPDATE " + m_t + " SET " + sets.join(", ") + " WHERE ctid = $1::tid RETURNING ctid";
    }

    // Opens the batch's transaction (a savepoint in the one of a rehearsal) and, without a
    // unique index, takes the table's lock.
    void beginTx()
    {
        if (m_inTx)
            return;
        if (m_rehearsal) {
            if (!m_outer) {
                m_s.exec("BEGIN", what());
                m_outer = true;
            }
            m_s.exec("SAVEPOINT kalder_batch", what());
        } else {
            m_s.exec("BEGIN", what());
        }
        m_inTx = true;
        // A batch's sorts and hashes fit in memory rather than going to disk.
        m_s.exec("SET LOCAL work_mem = '64MB'", what());
        if (m_unique)
            return;
        if (auto f = m_s.tryExec("SELECT pg_advisory_xact_lock(hashtextextended('kalder.load:' || $1, 0))", what(),
                                 {m_oid})) {
            if (f->number() == err::LockTimeout)
                throw Failure(err::LockTimeout,
                              QStringLiteral("Таблица %1 занята загрузкой другого оператора дольше допустимого времени "
                                             "ожидания; повторите загрузку позже")
                                  .arg(m_table));
            throw *f;
        }
    }

    void rollbackTx() noexcept
    {
        if (!m_inTx)
            return;
        m_s.quietly(m_rehearsal ? "ROLLBACK TO SAVEPOINT kalder_batch" : "ROLLBACK");
        m_inTx = false;
        m_pendingAdded = 0;
        if (m_observer)
            m_observer->rolledBack();
    }

    void commitTx()
    {
        if (!m_inTx)
            return;
        try {
            if (m_observer)
                m_observer->beforeCommit();
            m_s.exec(m_rehearsal ? "RELEASE SAVEPOINT kalder_batch" : "COMMIT",
                     QStringLiteral("Не удалось сохранить изменения в таблице %1").arg(m_table));
        } catch (const Failure&) {
            m_inTx = false; // the server took the transaction back
            m_s.quietly("ROLLBACK");
            m_pendingAdded = 0;
            if (m_observer)
                m_observer->rolledBack();
            throw;
        }
        m_inTx = false;
        m_committedAdded += m_pendingAdded;
        m_pendingAdded = 0;
        if (m_observer)
            m_observer->committed();
    }

    // Writes the rows in hand into the open (or a new) transaction; on a failure that is not
    // one row's, takes the batch back and fails.
    void writeBatch()
    {
        if (m_rows.empty())
            return;
        std::vector<Row> rows;
        rows.swap(m_rows);
        m_upsert = false;
        for (int attempt = 0;; ++attempt) {
            try {
                beginTx();
                writeSet(rows);
                return;
            } catch (const Failure&) {
                const QByteArray state = m_s.lastState();
                if (m_failedRow || m_s.connectionLost())
                    throw; // the rows before the refused one stay in the open transaction
                rollbackTx();
                // Two loads that widen the same records in another order: the server ends one
                // of them; it is written again.
                if ((state == "40P01" || state == "40001") && attempt < DeadlockRetries)
                    continue;
                // Another load stored a key of the batch since it was read: the batch is written
                // again by the upsert, which widens such a record where it meets it.
                if (state == "23505" && m_unique && !m_upsert) {
                    m_upsert = true;
                    continue;
                }
                if (refusesTheRow(state)) {
                    try {
                        beginTx();
                        writeInParts(rows);
                    } catch (const Failure&) {
                        if (!m_failedRow)
                            rollbackTx();
                        throw;
                    }
                    return;
                }
                throw;
            }
        }
    }

    // The batch's records, a record per key with its first row and the extremes of all its
    // rows, into kalder_group. Where the key field's values are equal exactly when their bytes
    // are, they are grouped here; otherwise the server groups the rows by the field's own
    // comparison.
    // True: the records are written already.
    bool group(const std::vector<Row>& rows, const QString& w)
    {
        if (m_key.bytewise) {
            struct Group {
                size_t first, hash;
                std::optional<double> lo, hi;
            };
            // The groups by key in a table of open addressing: no allocation per key, and each
            // group's hash beside it, so that a probe compares keys only when the hashes agree.
            std::vector<Group> groups;
            groups.reserve(rows.size());
            size_t mask = 15;
            while (mask < rows.size() * 2)
                mask = mask * 2 + 1;
            std::vector<quint32> places(mask + 1, 0); // a group's index + 1; 0: free
            const std::hash<std::string_view> hashOf;
            for (size_t i = 0; i < rows.size(); ++i) {
                const Row& r = rows[i];
                const std::string_view key = view(r.key);
                const size_t hash = hashOf(key);
                size_t at = hash & mask;
                while (places[at] &&
                       !(groups[places[at] - 1].hash == hash && view(rows[groups[places[at] - 1].first].key) == key))
                    at = (at + 1) & mask;
                if (!places[at]) {
                    places[at] = quint32(groups.size() + 1);
                    groups.push_back({i, hash, r.min, r.max});
                    continue;
                }
                Group& g = groups[places[at] - 1];
                if (r.min && (!g.lo || *r.min < *g.lo))
                    g.lo = r.min;
                if (r.max && (!g.hi || *r.max > *g.hi))
                    g.hi = r.max;
            }
            // A table that holds no record takes the new records by COPY itself: no key of the
            // batch is stored, so none is widened. (Under the lock no other load adds one; a
            // key another load stores under a unique index makes the COPY fail on it.)
            if (m_copyDirect && m_s.exec("SELECT NOT EXISTS (SELECT FROM " + m_t + ")", w).text(0, 0) == "t") {
                // in the binary form: the key is a text and both numbers are double precision
                CopyIn copy(m_s, "COPY " + m_t + " (" + m_names + ") FROM STDIN (FORMAT binary)", CopyIn::Form::Binary,
                            w);
                const int fields = 1 + (m_hasMin ? 1 : 0) + (m_hasMax ? 1 : 0);
                for (const Group& g : groups) {
                    const Row& r = rows[g.first];
                    CopyBinary line(copy, fields);
                    line.text(view(r.key));
                    if (m_hasMin)
                        line.number(r.min ? std::min(*r.min, g.lo.value_or(*r.min))
                                          : std::min(0.0, g.lo.value_or(0.0)));
                    if (m_hasMax)
                        line.number(r.max ? std::max(*r.max, g.hi.value_or(*r.max))
                                          : std::max(0.0, g.hi.value_or(0.0)));
                }
                copy.finish();
                m_pendingAdded += qint64(groups.size());
                return true;
            }
            stage(w);
            // in the binary form: the key is a text, n a bigint, the numbers double precision
            CopyIn copy(m_s, "COPY kalder_group (k, n, lo, hi, fmn, fmx) FROM STDIN (FORMAT binary)",
                        CopyIn::Form::Binary, w);
            for (const Group& g : groups) {
                const Row& r = rows[g.first];
                CopyBinary(copy, 6)
                    .text(view(r.key))
                    .whole(r.row)
                    .number(g.lo)
                    .number(g.hi)
                    .number(r.min)
                    .number(r.max);
            }
            copy.finish();
            return false;
        }
        stage(w);
        // in the text form, which the server reads into a key of any type
        CopyIn copy(m_s, "COPY kalder_stage (n, k, mn, mx) FROM STDIN", CopyIn::Form::Text, w);
        for (const Row& r : rows)
            CopyText(copy).whole(r.row).text(view(r.key)).number(r.min).number(r.max).end();
        copy.finish();
        m_s.exec("INSERT INTO kalder_group (k, n, lo, hi, fmn, fmx) SELECT DISTINCT ON (k) k, n, min(mn) OVER w, "
                 "max(mx) OVER w, mn, mx FROM kalder_stage WINDOW w AS (PARTITION BY k) ORDER BY k, n",
                 w);
        return false;
    }

    // The temporary tables of a batch, made (once a session) and emptied; a batch that goes
    // into an empty table by COPY needs none.
    void stage(const QString& w)
    {
        m_s.exec(m_stageSql, w);
        if (m_unique)
            m_s.exec("DROP TABLE IF EXISTS kalder_group", w);
        m_s.exec(m_groupSql, w);
        m_s.exec("TRUNCATE kalder_stage, kalder_group", w);
    }

    void writeSet(const std::vector<Row>& rows)
    {
        const QString w = what();
        if (group(rows, w))
            return;
        if (m_observer)
            tell(w);
        if (m_upsert) {
            // The upsert looks up the batch's record of each key it finds stored. The index is
            // built once the records are in, which is faster than keeping it as they come.
            m_s.exec("CREATE INDEX kalder_group_k ON kalder_group USING hash (k)", w);
            const Result added = m_s.exec(m_upsertSql, w);
            m_pendingAdded += added.integer(0, 0);
        } else {
            m_pendingAdded += m_s.exec(m_writeSql, w).affected();
        }
    }

    // Tells the observer what the batch in kalder_group is about to do to each record: the
    // record of each key as the table holds it now, before the batch's statements write.
    void tell(const QString& w)
    {
        const QByteArray& k = m_key.name;
        QByteArray stored = "SELECT DISTINCT ON (s." + k + ") s." + k + "::text AS sk, s.ctid AS tid";
        QByteArray sql = "SELECT g.k::text, g.lo, g.hi, g.fmn, g.fmx, f.sk, f.tid";
        if (m_hasMin) {
            stored += ", " + numberOf(m_min, "s." + m_min.name) + " AS mnum, s." + m_min.name + "::text AS mtext";
            sql += ", f.mnum, f.mtext";
        }
        if (m_hasMax) {
            stored += ", " + numberOf(m_max, "s." + m_max.name) + " AS xnum, s." + m_max.name + "::text AS xtext";
            sql += ", f.xnum, f.xtext";
        }
        sql += " FROM kalder_group g LEFT JOIN (" + stored + " FROM " + m_t + " s JOIN kalder_group g2 ON s." + k +
               " = g2.k ORDER BY s." + k + ", s.ctid) f ON f.sk = g.k::text ORDER BY g.n";
        const Result r = m_s.exec(sql, w);
        const auto value = [&](int row, int col) {
            return r.isNull(row, col) ? std::optional<double>() : std::optional(r.number(row, col));
        };
        for (int i = 0; i < r.rows(); ++i) {
            const QByteArray key = r.text(i, 0);
            const std::string_view keyView(key.constData(), size_t(key.size()));
            const std::optional<double> lo = value(i, 1), hi = value(i, 2), fmn = value(i, 3), fmx = value(i, 4);
            if (r.isNull(i, 6)) {
                const double base[2] = {fmn.value_or(0.0), fmx.value_or(0.0)};
                m_observer->added(idOfKey(key), keyView,
                                  m_hasMin ? std::optional(lo ? std::min(base[0], *lo) : base[0]) : std::nullopt,
                                  m_hasMax ? std::optional(hi ? std::max(base[1], *hi) : base[1]) : std::nullopt);
                continue;
            }
            const QByteArray storedKey = r.text(i, 5);
            const std::string_view storedView(storedKey.constData(), size_t(storedKey.size()));
            int col = 7;
            StoredValue oldMin, oldMax;
            if (m_hasMin) {
                oldMin = storedValue(m_min, r, i, col);
                col += 2;
            }
            if (m_hasMax)
                oldMax = storedValue(m_max, r, i, col);
            const std::optional<double> newMin = lo && oldMin.value() && *lo < *oldMin.value() ? lo : std::nullopt;
            const std::optional<double> newMax = hi && oldMax.value() && *hi > *oldMax.value() ? hi : std::nullopt;
            const qint64 id = idOfKey(storedKey);
            if (newMin || newMax)
                m_observer->widened(id, storedView, oldMin, oldMax, newMin, newMax);
            else
                m_observer->matched(id, storedView);
        }
    }
    qint64 idOfKey(const QByteArray& key)
    {
        auto it = m_keyIds.find(key);
        if (it == m_keyIds.end())
            it = m_keyIds.insert(key, m_nextId++);
        return *it;
    }

    // A batch the table refused, written again in parts of PartRows rows, each part at once
    // under a savepoint and a part the table refuses row by row: the row refused is found
    // without writing the whole batch row by row. A part is as good as the batch at once, each
    // on top of the rows before it. An observer outside a rehearsal is told row by row.
    void writeInParts(const std::vector<Row>& rows)
    {
        constexpr size_t PartRows = 1000;
        if (m_observer && !m_rehearsal) {
            writeRows(rows);
            return;
        }
        const QString w = what();
        for (size_t at = 0; at < rows.size(); at += PartRows) {
            const std::vector<Row> part(rows.begin() + qsizetype(at),
                                        rows.begin() + qsizetype(std::min(at + PartRows, rows.size())));
            const qint64 added = m_pendingAdded;
            m_s.exec("SAVEPOINT kalder_part", w);
            try {
                writeSet(part);
                m_s.exec("RELEASE SAVEPOINT kalder_part", w);
            } catch (const Failure&) {
                if (m_s.connectionLost() || !refusesTheRow(m_s.lastState()))
                    throw;
                m_s.exec("ROLLBACK TO SAVEPOINT kalder_part", w);
                m_pendingAdded = added;
                if (m_observer)
                    m_observer->rolledBack(); // the part is told again, row by row
                writeRows(part);
            }
            // A rehearsal's parts are told as batches of their own: the part that follows may
            // be taken back without them.
            if (m_observer)
                m_observer->committed();
        }
    }

    // The id the observer knows a stored record by, from its place in the table now.
    qint64 idOf(const QByteArray& ctid)
    {
        auto it = m_ids.find(ctid);
        if (it == m_ids.end())
            it = m_ids.insert(ctid, m_nextId++);
        return *it;
    }
    void moved(const QByteArray& from, const QByteArray& to)
    {
        const qint64 id = idOf(from);
        m_ids.remove(from);
        m_ids.insert(to, id);
    }

    void writeRows(const std::vector<Row>& rows)
    {
        for (size_t i = 0; i < rows.size(); ++i) {
            const Row& r = rows[i];
            const std::string_view key(r.key.constData(), size_t(r.key.size()));
            const QString w =
                QStringLiteral("Запись с ключом «%1» в таблице %2").arg(QString::fromUtf8(r.key), m_table);
            m_s.exec("SAVEPOINT kalder_row", w);
            try {
                writeRow(r, key, w);
                m_s.exec("RELEASE SAVEPOINT kalder_row", w);
            } catch (const Failure& f) {
                if (m_s.connectionLost() || !refusesTheRow(m_s.lastState()))
                    throw;
                m_s.exec("ROLLBACK TO SAVEPOINT kalder_row", w);
                if (m_rehearsal) {
                    if (m_observer)
                        m_observer->refused(r.row, key, f);
                    continue;
                }
                m_failedRow = r.row;
                throw;
            }
        }
    }

    void writeRow(const Row& r, std::string_view key, const QString& w)
    {
        std::vector<Param> values{r.key};
        if (m_hasMin)
            values.push_back(textOf(r.min.value_or(0.0)));
        if (m_hasMax)
            values.push_back(textOf(r.max.value_or(0.0)));
        for (int attempt = 0; attempt < 2; ++attempt) {
            const Result found = m_s.exec(m_findSql, w, {r.key});
            if (found.rows() == 0) {
                const Result inserted = m_s.exec(m_insertRowSql, w, values);
                if (inserted.rows() == 0)
                    continue; // another connection stored the key since: widen its record
                ++m_pendingAdded;
                if (m_observer)
                    m_observer->added(idOf(inserted.text(0, 0)), key,
                                      m_hasMin ? std::optional(r.min.value_or(0.0)) : std::nullopt,
                                      m_hasMax ? std::optional(r.max.value_or(0.0)) : std::nullopt);
                return;
            }
            const QByteArray ctid = found.text(0, 0);
            int col = 1;
            StoredValue oldMin, oldMax;
            if (m_hasMin) {
                oldMin = storedValue(m_min, found, 0, col);
                col += 2;
            }
            if (m_hasMax)
                oldMax = storedValue(m_max, found, 0, col);
            // No number stored (Null, a text that is none) is never widened.
            const std::optional<double> newMin =
                r.min && oldMin.value() && *r.min < *oldMin.value() ? r.min : std::nullopt;
            const std::optional<double> newMax =
                r.max && oldMax.value() && *r.max > *oldMax.value() ? r.max : std::nullopt;
            if (!newMin && !newMax) {
                if (m_observer)
                    m_observer->matched(idOf(ctid), key);
                return;
            }
            std::vector<Param> widened{ctid};
            if (m_hasMin)
                widened.push_back(newMin ? Param(textOf(*newMin)) : std::nullopt);
            if (m_hasMax)
                widened.push_back(newMax ? Param(textOf(*newMax)) : std::nullopt);
            const Result written = m_s.exec(m_widenRowSql, w, widened);
            const qint64 id = idOf(ctid);
            if (written.rows() > 0)
                moved(ctid, written.text(0, 0));
            if (m_observer)
                m_observer->widened(id, key, oldMin, oldMax, newMin, newMax);
            return;
        }
        throw Failure(err::ServerRefused, QStringLiteral("%1: запись не найдена и не добавлена").arg(w));
    }

    Session m_s;
    QString m_table;
    bool m_hasMin, m_hasMax;
    qsizetype m_batchRows;
    MergeObserver* m_observer;
    bool m_rehearsal;
    Column m_key, m_min, m_max;
    QByteArray m_oid;
    bool m_unique = false;
    bool m_upsert = false; // the batch in hand is written by the upsert
    bool m_copyDirect = false; // new records may be sent by COPY into the table itself
    QByteArray m_t, m_names;
    QByteArray m_stageSql, m_groupSql, m_upsertSql, m_writeSql;
    QByteArray m_findSql, m_insertRowSql, m_widenRowSql;
    std::vector<Row> m_rows; // the batch in hand, not yet written
    bool m_inTx = false; // the batch's transaction (or savepoint) is open
    bool m_outer = false; // the rehearsal's transaction is open
    QHash<QByteArray, qint64> m_ids; // row by row: by the record's place in the table
    QHash<QByteArray, qint64> m_keyIds; // a batch at once: by the stored key
    qint64 m_nextId = 1;
};

} // namespace

std::unique_ptr<KeyedMerge> openMerge(Connection& conn, const MergeFields& fields, const MergeOptions& options)
{
    return std::make_unique<PgMerge>(conn, fields, options);
}

} // namespace kalder::pg
