// Merging rows into a table by one key field, fast and in one pass, with keys equal exactly when
// a query on the key field would find them equal. The keys already stored are gathered once:
// - for a text key field under one of SQLite's built-in collations (BINARY, NOCASE, RTRIM),
//   into a hash in memory, keyed by the text folded as that collation compares it;
// - for any other key field, into a temporary index of (key, row id) whose key column has the
//   field's type affinity and collation, so SQLite itself applies both to every lookup.
// SQLite-specific; statements are prepared once.
#pragma once

#include "db/connection.h"

#include <QByteArray>
#include <QString>

#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace kalder {

class KeyedMerge {
public:
    // minField / maxField: nothing when that value is not loaded. A named field that the
    // table does not have fails with err::ItemNotFound. Rows are committed in batches of
    // batchRows merges (one commit costs a sync of the file, so batches are large: an .xls
    // sheet, at most 65,536 rows, goes in one; a load cut off loses at most the batch in hand,
    // which a second run redoes); commit() commits the rows merged so far.
    KeyedMerge(Connection& conn, const QString& table, const QString& keyField,
               const std::optional<QString>& minField, const std::optional<QString>& maxField,
               int batchRows = 1 << 17);
    ~KeyedMerge();   // rolls back rows not yet committed, drops the temporary index
    KeyedMerge(const KeyedMerge&) = delete;
    KeyedMerge& operator=(const KeyedMerge&) = delete;

    // Adds a record for a key the table does not hold (the key as text, the minimum and the
    // maximum as numbers, 0 for an empty cell), or widens the first record holding it (lowest
    // row id): the minimum only goes down, the maximum only up; an empty cell, a Null field or
    // a text field that does not read as a number is left as it is. True: a record was added.
    // row is the caller's number of the row, for failedRow().
    //
    // Where it can, the merge writes a batch only when it commits it: the records of new keys
    // with the values of all their rows, each widened record once. A record the table refuses
    // fails, in merge() or in the commit() that writes its batch, with the engine's number;
    // the batch is then merged again row by row up to the refused row, so that every row
    // before it is merged and none after it, as if each row had been written at once.
    bool merge(QStringView key, std::optional<double> min, std::optional<double> max, qint64 row = 0);
    // The number of rows about to be merged, when the caller knows it: the memory they take
    // is then set aside once rather than grown and copied.
    void expect(qint64 rows);

    // After a failure, the only call that makes sense is commit(): the rows before it stay.
    // Commits what was merged. Added records counted by committedAdded() from then on.
    void commit();
    qint64 committedAdded() const { return m_committedAdded; }
    qint64 pendingAdded() const { return m_pendingAdded; }
    // After a failure: the row whose record the table refused; nothing when the failure was
    // not one row's (the commit itself, say).
    std::optional<qint64> failedRow() const { return m_failedRow; }

private:
    void exec(const char* sql, const QString& what);
    sqlite3_stmt* prepare(const QString& sql, const QString& what);
    [[noreturn]] void fail(const QString& what) const;
    void begin();
    void rollback() noexcept;
    void release() noexcept;
    void prepareAll(const QString& table, const QString& key, const QString& minName, const QString& maxName,
                    const QString& keyAffinity, const QString& collation, const QString& what);
    void gatherInMemory();
    std::string_view folded(std::string_view key);
    bool mergeKey(std::optional<double> min, std::optional<double> max);
    bool mergeDeferred(std::string_view folded, std::optional<double> min, std::optional<double> max);
    void flush();
    bool roomForRowids();
    bool insertMany(size_t first);
    int bindRecord(sqlite3_stmt* stmt, int mark, std::string_view key, double min, double max) const;
    int bindWidening(sqlite3_stmt* stmt, int mark, qint64 rid, std::optional<double> min, std::optional<double> max) const;
    bool widenMany(size_t first);
    void replay();
    [[noreturn]] void failRow(const QString& what);

    // A stored record as the memory path knows it: its row id and the numbers of its minimum
    // and maximum (NaN for Null or a text that is no number: such a field is never widened;
    // the engine never stores a NaN).
    struct Known {
        enum : quint8 { Unwritten = 1, MinWidened = 2, MaxWidened = 4 };
        std::string_view key;     // folded: the text as the collation compares it
        std::string_view written; // the key as its first row gave it, for a new record
        qint64 rid = 0;           // 0 while Unwritten
        double min = std::numeric_limits<double>::quiet_NaN();
        double max = std::numeric_limits<double>::quiet_NaN();
        quint8 batch = 0;         // what the batch in hand has to write of it
    };
    int bindWidened(sqlite3_stmt* stmt, int mark, const Known& k) const;
    // The records the memory path knows, in the order they became known (the stored ones,
    // then the new ones), found by their folded keys through an open-addressing table.
    class KnownRecords {
    public:
        static quint32 hashOf(std::string_view key);
        // The record of a folded key with its hash, or null.
        Known* find(std::string_view key, quint32 hash);
        // Adds the record of a key that find() did not find; its views must outlive it.
        Known& add(const Known& record, quint32 hash);
        size_t size() const { return m_records.size(); }
        void reserve(size_t records) { m_records.reserve(records); }
        Known& operator[](size_t i) { return m_records[i]; }
        void clear();

    private:
        struct Slot {
            quint32 hash;
            quint32 record;   // index + 1; 0: empty
        };
        void place(quint32 hash, quint32 record);

        std::vector<Known> m_records;
        std::vector<Slot> m_slots;   // a power of two, at most three quarters full
    };
    // A row of the batch in hand, kept to merge it again after a failure.
    struct Logged {
        double min, max;   // NaN: none
        qint64 row;
        size_t keyEnd;     // in m_logKeys
    };
    // The folded keys, kept together in large blocks rather than one allocation each.
    class KeyStore {
    public:
        std::string_view keep(std::string_view key);

    private:
        std::vector<std::unique_ptr<char[]>> m_blocks;
        char* m_next = nullptr;
        size_t m_left = 0;
    };
    enum class Fold { None, Case, TrailingSpaces };

    sqlite3* m_db = nullptr;
    QString m_table;
    bool m_hasMin = false, m_hasMax = false;
    sqlite3_stmt* m_find = nullptr;        // row id, min, max of the first record with a key
    sqlite3_stmt* m_insert = nullptr;      // a new record
    sqlite3_stmt* m_insertMany = nullptr;  // InsertRows new records
    sqlite3_stmt* m_maxRowid = nullptr;    // the largest row id of the table
    sqlite3_stmt* m_widenMany = nullptr;   // InsertRows records widened
    static constexpr int InsertRows = 64;
    sqlite3_stmt* m_remember = nullptr;    // a new key into the index
    sqlite3_stmt* m_widen = nullptr;       // new min / max of a record
    bool m_tempMade = false;
    bool m_inMemory = false;
    Fold m_fold = Fold::None;
    KeyStore m_keys;
    QByteArray m_keyUtf8;   // the key of the row in hand, its buffer reused
    QByteArray m_folded;    // the folded key of the row in hand, when folding changes it
    KnownRecords m_known;
    QString m_gatherSql;      // the stored keys, for the memory path
    bool m_deferred = false;  // the memory path writes each batch when it commits it
    bool m_replaying = false;
    size_t m_firstUnwritten = 0;       // the records from here on are new in the batch in hand
    std::vector<quint32> m_widened;    // records written before and widened in this batch
    std::vector<Logged> m_log;
    std::vector<char> m_logKeys;
    qint64 m_row = 0;
    std::optional<qint64> m_failedRow;
    bool m_inTransaction = false;
    int m_batchRows;
    int m_inBatch = 0;
    qint64 m_committedAdded = 0;
    qint64 m_pendingAdded = 0;
};

} // namespace kalder
