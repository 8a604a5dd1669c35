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

#include <QString>

#include <memory>
#include <optional>

namespace kalder {

// What a merge writes: the table, its key field, and the minimum and maximum fields that are
// loaded (nothing: that value is not loaded).
struct MergeFields {
    QString table;
    QString key;
    std::optional<QString> min;
    std::optional<QString> max;
};

class KeyedMerge {
public:
    // One commit costs a sync of the file, so batches are large: an .xls sheet, at most 65,536
    // rows, goes in one; a load cut off loses at most the batch in hand, which a second run redoes.
    static constexpr int DefaultBatchRows = 1 << 17;

    // The merge for the table of the open connection. A named field that the table does not
    // have fails with err::ItemNotFound. Rows are committed in batches of batchRows merges.
    static std::unique_ptr<KeyedMerge> open(Connection& conn, const MergeFields& fields,
                                            int batchRows = DefaultBatchRows);

    virtual ~KeyedMerge() = default;   // rolls back rows not yet committed
    KeyedMerge(const KeyedMerge&) = delete;
    KeyedMerge& operator=(const KeyedMerge&) = delete;

    // Adds a record for a key the table does not hold (the key as text, the minimum and the
    // maximum as numbers, 0 for an empty cell), or widens the first record holding it (lowest
    // row id): the minimum only goes down, the maximum only up; an empty cell, a Null field or
    // a text field that does not read as a number is left as it is. True: a record was added.
    // row is the caller's number of the row, for failedRow().
    //
    // A record the table refuses fails, in merge() or in the commit() that writes its batch,
    // with the engine's number; every row before it is then merged and none after it, as if
    // each row had been written at once.
    virtual bool merge(QStringView key, std::optional<double> min, std::optional<double> max, qint64 row = 0) = 0;
    // The number of rows about to be merged, when the caller knows it: the memory they take
    // is then set aside once rather than grown and copied.
    virtual void expect(qint64 /*rows*/) {}

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
