// A zip archive (the container of .xlsx and .ods files) over libgsf: the names of its entries
// and each entry inflated as a stream, never unpacked whole. The archive's central directory
// is read here too, for what libgsf does not check: each entry's CRC-32 is verified once the
// entry has been read to its end, so a damaged part never passes for a good one. Before an
// entry is inflated its size is held against what its own compressed bytes can give and
// against a fixed total for all the parts of one workbook, so that neither a small archive
// nor padding stored beside an entry lets it unpack into gigabytes.
#pragma once

#include "workbook/readers/gsf_object.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

// libgsf's own names of its objects, declared as its headers do, which are not needed here.
typedef struct _GsfInput GsfInput;
typedef struct _GsfInfile GsfInfile;

namespace kalder {

class ZipArchive {
public:
    // The most bytes the parts of one archive inflate to, all reads together: several times
    // the largest sheet of cells that a workbook may hold.
    static constexpr qint64 MaxInflated = 2ll << 30;
    // The bound of a part that holds no cells (relationships, the list of sheets, styles,
    // settings): far above such a part of any real file.
    static constexpr qint64 MaxSidePart = 64ll << 20;

    // Over bytes kept alive by the caller; name serves the failure texts. maxInflated: the
    // total of the parts' bytes, MaxInflated unless a test sets a smaller one.
    ZipArchive(const QByteArray& bytes, const QString& name, qint64 maxInflated = MaxInflated);
    // Over a file on disk, read as the entries are.
    explicit ZipArchive(const QString& path);
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    const QString& name() const { return m_name; }
    // The entry's name as stored, found by a path compared without case and with "\" read as
    // "/"; empty when there is none.
    QString find(const QString& path) const;
    bool has(const QString& path) const { return !find(path).isEmpty(); }

    class Stream {
    public:
        ~Stream();
        // Up to max inflated bytes; 0 at the end. Fails on a damaged entry, past the bound, and
        // at the end when the bytes do not match the entry's checksum.
        qsizetype read(char* dst, qsizetype max);
        // Reads what is left, so that the checksum of an entry not read to its end is verified.
        void finish();

    private:
        friend class ZipArchive;
        Stream() = default;
        void verify() const; // at the end: the bytes read against the directory's checksum
        GsfPtr<GsfInput> m_input;
        QString m_archive;
        QString m_entry;
        qint64 m_left = 0;
        qint64 m_done = 0;
        qint64* m_inflated = nullptr; // the archive's count
        quint32 m_crc = 0; // of the bytes read so far
        quint32 m_expected = 0; // the directory's
    };
    // Opens an entry (by path, as find()); fails when there is none, when its size is beyond
    // what its compressed bytes give, what the archive's total has left, or maxSize (when
    // above 0): the bound of a part that is small in any real file.
    std::unique_ptr<Stream> open(const QString& path, qint64 maxSize = 0) const;
    // The whole of a small entry, at most max bytes; empty when there is none.
    QByteArray readSmall(const QString& path, qsizetype max) const;

    [[noreturn]] void damaged(const QString& what) const;

private:
    // An entry as the central directory records it.
    struct Entry {
        quint32 crc = 0;
        quint16 method = 0;
        qint64 compressed = 0;
        qint64 size = 0;
        qint64 offset = 0; // of its local header
    };
    // Reads count bytes at pos of the archive; fewer when it ends first.
    using ReadAt = std::function<QByteArray(qint64 pos, qint64 count)>;

    void start(GsfPtr<GsfInput> input);
    void list(GsfInfile* dir, const QString& prefix, int level);
    void readDirectory(const ReadAt& readAt);

    QString m_name;
    GsfPtr<GsfInfile> m_zip; // released by the members' destructors, a constructor that fails too
    qint64 m_size = 0;
    std::vector<QString> m_entries; // stored names, "/" between folders
    QHash<QString, Entry> m_directory; // by stored name
    qint64 m_maxInflated = MaxInflated;
    mutable qint64 m_inflated = 0; // bytes the streams have given
};

} // namespace kalder
