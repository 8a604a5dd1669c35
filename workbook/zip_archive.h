// A zip archive (the container of .xlsx and .ods files) over libgsf: the names of its entries
// and each entry inflated as a stream, never unpacked whole. An entry is cut off with a
// failure once it inflates beyond a bound proportional to the archive's size, so a small
// archive cannot unpack into gigabytes.
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

namespace kalder {

class ZipArchive {
public:
    // Over bytes kept alive by the caller; name serves the failure texts.
    ZipArchive(const QByteArray& bytes, const QString& name);
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
        // Up to max inflated bytes; 0 at the end. Fails on a damaged entry or past the bound.
        qsizetype read(char* dst, qsizetype max);

    private:
        friend class ZipArchive;
        Stream() = default;
        void* m_input = nullptr;
        QString m_archive;
        QString m_entry;
        qint64 m_left = 0;
        qint64 m_limit = 0;
        qint64 m_done = 0;
    };
    // Opens an entry (by path, as find()); fails when there is none.
    std::unique_ptr<Stream> open(const QString& path) const;
    // The whole of a small entry, at most max bytes; empty when there is none.
    QByteArray readSmall(const QString& path, qsizetype max) const;

    [[noreturn]] void damaged(const QString& what) const;

private:
    void start(void* input);
    void list(void* dir, const QString& prefix, int level);

    QString m_name;
    void* m_zip = nullptr;
    qint64 m_size = 0;
    std::vector<QString> m_entries; // stored names, "/" between folders
};

} // namespace kalder
