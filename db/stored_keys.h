// The records of a table as a keyed merge holds them in memory: each found by its key folded
// as the key field's collation compares it, with its row id and its minimum and maximum.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <limits>
#include <memory>
#include <string_view>
#include <vector>

namespace kalder::sqlite {

// How one of SQLite's built-in collations compares texts.
enum class Fold {
    None,            // BINARY: the bytes
    Case,            // NOCASE: ASCII letters without their case
    TrailingSpaces,  // RTRIM: trailing spaces ignored
};

// A stored record as the memory path knows it: its row id and the numbers of its minimum and
// maximum (NaN for Null or a text that is no number: such a field is never widened; the
// engine never stores a NaN).
struct Known {
    enum : quint8 { Unwritten = 1, MinWidened = 2, MaxWidened = 4, Matched = 8 };
    std::string_view key;      // folded: the text as the collation compares it
    std::string_view written;  // the key as its first row gave it, for a new record
    qint64 rid = 0;            // 0 while Unwritten
    double min = std::numeric_limits<double>::quiet_NaN();
    double max = std::numeric_limits<double>::quiet_NaN();
    quint8 batch = 0;          // what the batch in hand has to write of it
    quint8 types = 0;          // how the table holds min (low four bits) and max: a StoredValue::Type
};

class StoredKeys {
public:
    explicit StoredKeys(Fold fold) : m_fold(fold) {}

    // The key as the collation compares it; a folded text lives until the next call.
    std::string_view fold(std::string_view key);
    static quint32 hashOf(std::string_view key);

    // The record of a folded key with its hash, or null.
    Known* find(std::string_view key, quint32 hash);
    // Adds the record of a key that find() did not find; record.key must be one kept here.
    Known& add(const Known& record, quint32 hash);
    // A copy of a key that lives as long as the records.
    std::string_view keep(std::string_view key);

    size_t size() const { return m_records.size(); }
    void reserve(size_t records) { m_records.reserve(records); }
    Known& operator[](size_t i) { return m_records[i]; }
    Fold folding() const { return m_fold; }
    void clear();

private:
    struct Slot {
        quint32 hash;
        quint32 record;   // index + 1; 0: empty
    };
    void place(quint32 hash, quint32 record);

    Fold m_fold;
    QByteArray m_folded;         // the last folded key, when folding changed it
    std::vector<Known> m_records;  // in the order they became known
    std::vector<Slot> m_slots;     // a power of two, at most three quarters full
    // the keys, kept together in large blocks rather than one allocation each
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char* m_next = nullptr;
    size_t m_left = 0;
};

} // namespace kalder::sqlite
