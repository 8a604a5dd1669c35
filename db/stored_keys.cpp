#include "db/stored_keys.h"

#include <algorithm>
#include <cstring>

namespace kalder::sqlite {

std::string_view StoredKeys::fold(std::string_view key)
{
    switch (m_fold) {
    case Fold::Case:
        // SQLite's NOCASE folds the 26 ASCII letters and nothing else
        m_folded.resize(qsizetype(key.size()));
        for (size_t i = 0; i < key.size(); ++i) {
            const char c = key[i];
            m_folded[qsizetype(i)] = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
        }
        return {m_folded.constData(), size_t(m_folded.size())};
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

quint32 StoredKeys::hashOf(std::string_view key)
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

Known* StoredKeys::find(std::string_view key, quint32 hash, quint32* index)
{
    if (m_slots.empty())
        return nullptr;
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& s = m_slots[i];
        if (s.record == 0)
            return nullptr;
        if (s.hash == hash) {
            Known& k = (*this)[s.record - 1];
            if (k.key() == key) {
                if (index)
                    *index = s.record - 1;
                return &k;
            }
        }
    }
}

Known& StoredKeys::add(const Known& record, quint32 hash)
{
    if ((m_size + 1) * 4 > m_slots.size() * 3) {
        std::vector<Slot> old(std::max<size_t>(1024, m_slots.size() * 2));
        old.swap(m_slots);
        for (const Slot& s : old)
            if (s.record != 0)
                place(s.hash, s.record);
    }
    if (m_size == m_pages.size() * PageRecords)
        m_pages.push_back(std::make_unique<Known[]>(PageRecords));
    Known& k = (*this)[m_size++];
    k = record;
    place(hash, quint32(m_size));
    return k;
}

void StoredKeys::place(quint32 hash, quint32 record)
{
    const size_t mask = m_slots.size() - 1;
    size_t i = hash & mask;
    while (m_slots[i].record != 0)
        i = (i + 1) & mask;
    m_slots[i] = {hash, record};
}

char* StoredKeys::room(size_t n)
{
    if (n > m_left) {
        const size_t block = std::max<size_t>(n, 256 * 1024);
        m_blocks.push_back(std::make_unique<char[]>(block));
        m_next = m_blocks.back().get();
        m_left = block;
    }
    char* p = m_next;
    m_next += n;
    m_left -= n;
    return p;
}

void StoredKeys::keep(Known& record, std::string_view folded, std::string_view written)
{
    const bool same = written == folded;
    char* p = room(folded.size() + (same ? 0 : written.size()));
    std::memcpy(p, folded.data(), folded.size());
    if (!same)
        std::memcpy(p + folded.size(), written.data(), written.size());
    record.m_key = p;
    record.m_keyLength = quint32(folded.size());
    record.m_writtenLength = same ? Known::Same : quint32(written.size());
}

void StoredKeys::clear()
{
    m_pages.clear();
    m_size = 0;
    m_slots = {};
    m_blocks.clear();
    m_next = nullptr;
    m_left = 0;
}

} // namespace kalder::sqlite
