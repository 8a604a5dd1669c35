// Merging rows into a table by one key field, fast and in one pass, with keys equal exactly when
// a query on the key field would find them equal. One interface; the engine's layer chooses,
// once per merge, the implementation that fits the table (see KeyedMerge::open).
//
// Other connections may write the same table at any time. A merge takes the engine's write
// lock for each batch it writes, waiting for it as long as the connection's busy timeout,
// never trusts what it read before another connection committed, and writes a widening as
// "the smaller (larger) of the stored and the new value": overlapping loads end as one of
// their serial orders.
#pragma once

#include "db/connection.h"

#include <QByteArray>
#include <QString>

#include <limits>
#include <memory>
#include <optional>
#include <string_view>

namespace kalder {

// A byte array's bytes as a view, for the statements and observers that take keys so.
inline std::string_view view(const QByteArray& b) { return {b.constData(), size_t(b.size())}; }

class Failure;

// What a merge writes: the table, its key field, and the minimum and maximum fields that are
// loaded (nothing: that value is not loaded).
struct MergeFields {
    QString table;
    QString key;
    std::optional<QString> min;
    std::optional<QString> max;
};

// A minimum or maximum as the table held it before a merge widened it, exactly: a widened
// field held a number, or a text that reads as one.
struct StoredValue {
    enum class Type : quint8 { None, Integer, Real, Text }; // None: no number (never widened)
    Type type = Type::None;
    double number = std::numeric_limits<double>::quiet_NaN();
    qint64 integer = 0; // Integer
    QByteArray text; // Text, as stored
    std::optional<double> value() const { return type == Type::None ? std::nullopt : std::optional(number); }
};

// What a merge tells of the records it writes, batch by batch. What it tells between the
// start of a batch and committed() or rolledBack() belongs to that batch: a batch taken back
// (to be written again row by row, say) is told again as it is written again.
class MergeObserver {
public:
    virtual ~MergeObserver() = default;
    // A new record as written: its row id, its key as the row gave it, its minimum and
    // maximum (nothing: the field is not loaded).
    virtual void added(qint64 /*rid*/, std::string_view /*key*/, std::optional<double> /*min*/,
                       std::optional<double> /*max*/)
    {
    }
    // A record widened: its minimum and maximum before (None where a field is not loaded or
    // holds no number), and the new value of each field the widening changed (nothing for a
    // field it left). key is the stored key where it is known.
    virtual void widened(qint64 /*rid*/, std::string_view /*key*/, const StoredValue& /*oldMin*/,
                         const StoredValue& /*oldMax*/, std::optional<double> /*newMin*/,
                         std::optional<double> /*newMax*/)
    {
    }
    // A row that found a record stored before its batch and widened nothing.
    virtual void matched(qint64 /*rid*/, std::string_view /*key*/) { }
    // A row the table refused, with its key, when the merge passes over refusals.
    virtual void refused(qint64 /*row*/, std::string_view /*key*/, const Failure& /*why*/) { }
    // The batch is written and its transaction still open: what the observer writes now is
    // committed with it.
    virtual void beforeCommit() { }
    virtual void committed() { }
    virtual void rolledBack() { }
};

struct MergeOptions {
    // One commit costs a sync of the file, so batches are large: an .xls sheet, at most 65,536
    // rows, goes in one; a load cut off loses at most the batch in hand, which a second run redoes.
    static constexpr int DefaultBatchRows = 1 << 17;

    int batchRows = DefaultBatchRows;
    MergeObserver* observer = nullptr;
    // A rehearsal writes as a load would, inside one transaction that is never committed (the
    // merge takes it back when it goes), and passes over the rows the table refuses, telling
    // the observer of each.
    bool rehearsal = false;
};

class KeyedMerge {
public:
    static constexpr int DefaultBatchRows = MergeOptions::DefaultBatchRows;

    // The merge for the table of the open connection. A named field that the table does not
    // have fails with err::ItemNotFound. Rows are committed in batches of batchRows merges.
    static std::unique_ptr<KeyedMerge> open(Connection& conn, const MergeFields& fields,
                                            const MergeOptions& options = {});
    static std::unique_ptr<KeyedMerge> open(Connection& conn, const MergeFields& fields, int batchRows)
    {
        MergeOptions options;
        options.batchRows = batchRows;
        return open(conn, fields, options);
    }

    virtual ~KeyedMerge() = default; // rolls back rows not yet committed
    KeyedMerge(const KeyedMerge&) = delete;
    KeyedMerge& operator=(const KeyedMerge&) = delete;

    // Adds a record for a key the table does not hold (the key as text, the minimum and the
    // maximum as numbers, 0 for an empty cell), or widens the first record holding it (lowest
    // row id): the minimum only goes down, the maximum only up; an empty cell, a Null field or
    // a text field that does not read as a number is left as it is. True: a record was added,
    // where the merge knows it at once; one that writes a batch only when it commits (on a
    // server) answers false and counts the records added as it writes them.
    // row is the caller's number of the row, for failedRow().
    //
    // A record the table refuses fails, in merge() or in the commit() that writes its batch,
    // with the engine's number; every row before it is then merged and none after it, as if
    // each row had been written at once.
    virtual bool merge(QStringView key, std::optional<double> min, std::optional<double> max, qint64 row = 0) = 0;
    // The number of rows about to be merged, when the caller knows it: the memory they take
    // is then set aside once rather than grown and copied.
    virtual void expect(qint64 /*rows*/) { }

    // Commits what was merged. After a failure, the only call that makes sense: the rows
    // before it stay. Added records are counted by committedAdded() from then on.
    virtual void commit() = 0;
    qint64 committedAdded() const { return m_committedAdded; }
    qint64 pendingAdded() const { return m_pendingAdded; }
    // After a failure: the row whose record the table refused; nothing when the failure was
    // not one row's (the commit itself, a lock, the disk).
    std::optional<qint64> failedRow() const { return m_failedRow; }

protected:
    KeyedMerge() = default;

    qint64 m_committedAdded = 0;
    qint64 m_pendingAdded = 0;
    std::optional<qint64> m_failedRow;
};

} // namespace kalder
