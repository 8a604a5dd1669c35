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
    None, // BINARY: the bytes
    Case, // NOCASE: ASCII letters without their case
    TrailingSpaces, // RTRIM: trailing spaces ignored
};

// A stored record as the memory path knows it: its row id and the numbers of its minimum and
// maximum (NaN for Null or a text that is no number: such a field is never widened; the
// engine never stores a NaN).
struct Known {
    enum : quint8 { Unwritten = 1, MinWidened = 2, MaxWidened = 4, Matched = 8 };
    // folded: the text as the collation compares it
    std::string_view key() const { return {m_key, m_keyLength}; }
    // the key as its first row gave it, for a new record
    std::string_view written() const
    {
        return m_writtenLength == Same ? key() : std::string_view(m_key + m_keyLength, m_writtenLength);
    }
    qint64 rid = 0; // 0 while Unwritten
    double min = std::numeric_limits<double>::quiet_NaN();
    double max = std::numeric_limits<double>::quiet_NaN();
    quint8 batch = 0; // what the batch in hand has to write of it
    quint8 types = 0; // how the table holds min (low four bits) and max: a StoredValue::Type

private:
    friend class StoredKeys;
    static constexpr quint32 Same = ~quint32(0);
    // kept by StoredKeys, the key as written right after the folded one where the two differ:
    // a record takes 48 bytes
    const char* m_key = nullptr;
    quint32 m_keyLength = 0;
    quint32 m_writtenLength = Same;
};

class StoredKeys {
public:
    explicit StoredKeys(Fold fold) : m_fold(fold) { }

    // The key as the collation compares it; a folded text lives until the next call.
    std::string_view fold(std::string_view key);
    static quint32 hashOf(std::string_view key);

    // The record of a folded key with its hash, or null; index: where it is, when found.
    Known* find(std::string_view key, quint32 hash, quint32* index = nullptr);
    // Adds the record of a key that find() did not find; record.key must be one kept here.
    Known& add(const Known& record, quint32 hash);
    // Copies of a record's folded key and of the key as written, which live as long as the
    // records, into record.
    void keep(Known& record, std::string_view folded, std::string_view written);

    size_t size() const { return m_size; }
    Known& operator[](size_t i) { return m_pages[i / PageRecords][i % PageRecords]; }
    Fold folding() const { return m_fold; }
    void clear();

private:
    struct Slot {
        quint32 hash;
        quint32 record; // index + 1; 0: empty
    };
    void place(quint32 hash, quint32 record);
    char* room(size_t n);

    // The records in pages that never move: growing copies nothing, and takes no more than
    // the records and one page.
    static constexpr size_t PageRecords = 4096;

    Fold m_fold;
    QByteArray m_folded; // the last folded key, when folding changed it
    std::vector<std::unique_ptr<Known[]>> m_pages; // the records in the order they became known
    size_t m_size = 0;
    std::vector<Slot> m_slots; // a power of two, at most three quarters full
    // the keys, kept together in large blocks rather than one allocation each
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char* m_next = nullptr;
    size_t m_left = 0;
};

} // namespace kalder::sqlite
