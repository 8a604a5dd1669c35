#include "workbook/readers/zip_archive.h"

#include "app/base/failure_catalogue.h"
#include "workbook/readers/gsf_library.h"

#include <QFile>
#include <QStringList>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace kalder {

namespace {

// Deflate gives at most 258 bytes for a length code of a bit or two: no entry inflates to
// more than this many times its compressed size, whatever else the archive holds.
constexpr qint64 deflateRatio = 1032;
constexpr size_t maxEntries = 65536;
// The most a central directory of that many entries takes with names of normal length.
constexpr qint64 maxDirectory = 64ll * 1024 * 1024;

quint16 u16(const char* p) { return qFromLittleEndian<quint16>(p); }
quint32 u32(const char* p) { return qFromLittleEndian<quint32>(p); }
quint64 u64(const char* p) { return qFromLittleEndian<quint64>(p); }

QString normalized(const QString& path)
{
    QString p = path;
    p.replace(u'\\', u'/');
    while (p.startsWith(u'/'))
        p.remove(0, 1);
    return p.toLower();
}

} // namespace

ZipArchive::ZipArchive(const QByteArray& bytes, const QString& name, qint64 maxInflated)
    : m_name(name), m_size(bytes.size()), m_maxInflated(maxInflated)
{
    startGsf();
    start(GsfPtr<GsfInput>(
        gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.constData()), bytes.size(), FALSE)));
    readDirectory([&bytes](qint64 pos, qint64 count) { return bytes.mid(pos, count); });
}

ZipArchive::ZipArchive(const QString& path) : m_name(path)
{
    startGsf();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw fail::bookNoAccess(path);
    m_size = file.size();
    GError* error = nullptr;
    GsfPtr<GsfInput> input(gsf_input_stdio_new(QFile::encodeName(path).constData(), &error));
    if (error)
        g_error_free(error);
    if (!input)
        throw fail::bookNoAccess(path);
    start(std::move(input));
    readDirectory([&file](qint64 pos, qint64 count) { return file.seek(pos) ? file.read(count) : QByteArray(); });
}

// The central directory: its end record (or the zip64 one it points to) in the last 64 KB,
// then one record per entry with the entry's checksum and sizes.
void ZipArchive::readDirectory(const ReadAt& readAt)
{
    const qint64 tailFrom = std::max<qint64>(0, m_size - (65535 + 22));
    const QByteArray tail = readAt(tailFrom, m_size - tailFrom);
    qsizetype end = tail.size() - 22;
    while (end >= 0 && !(tail[end] == 'P' && tail[end + 1] == 'K' && tail[end + 2] == 5 && tail[end + 3] == 6))
        --end;
    if (end < 0)
        damaged(u"нет каталога архива"_s);
    const char* e = tail.constData() + end;
    quint64 count = u16(e + 10), dirSize = u32(e + 12), dirOffset = u32(e + 16);
    if (count == 0xFFFF || dirSize == 0xFFFFFFFFu || dirOffset == 0xFFFFFFFFu) {
        // the zip64 end record, named by the locator just before this one
        if (end < 20 || u32(e - 20) != 0x07064b50u)
            damaged(u"нет каталога архива zip64"_s);
        const QByteArray z = readAt(qint64(u64(e - 20 + 8)), 56);
        if (z.size() < 56 || u32(z.constData()) != 0x06064b50u)
            damaged(u"нет каталога архива zip64"_s);
        count = u64(z.constData() + 32);
        dirSize = u64(z.constData() + 40);
        dirOffset = u64(z.constData() + 48);
    }
    if (dirSize > quint64(maxDirectory) || dirOffset + dirSize > quint64(m_size))
        damaged(u"каталог архива выходит за его конец"_s);
    const QByteArray dir = readAt(qint64(dirOffset), qint64(dirSize));
    if (dir.size() < qsizetype(dirSize))
        damaged(u"каталог архива не читается"_s);
    const char* p = dir.constData();
    const char* const stop = p + dir.size();
    for (quint64 i = 0; i < count && i < maxEntries; ++i) {
        if (stop - p < 46 || u32(p) != 0x02014b50u)
            damaged(u"каталог архива оборван"_s);
        const qsizetype nameLength = u16(p + 28), extraLength = u16(p + 30), commentLength = u16(p + 32);
        if (stop - p < 46 + nameLength + extraLength + commentLength)
            damaged(u"каталог архива оборван"_s);
        Entry entry;
        entry.method = u16(p + 10);
        entry.crc = u32(p + 16);
        quint64 compressed = u32(p + 20), size = u32(p + 24), offset = u32(p + 42);
        // zip64: the sizes and the offset that do not fit 32 bits follow in an extra field
        for (const char* x = p + 46 + nameLength; x + 4 <= p + 46 + nameLength + extraLength;) {
            const quint16 id = u16(x), length = u16(x + 2);
            const char* v = x + 4;
            const char* vEnd = std::min(v + length, p + 46 + nameLength + extraLength);
            if (id == 0x0001) {
                for (quint64* field : {&size, &compressed, &offset}) {
                    if (*field != 0xFFFFFFFFu)
                        continue;
                    if (vEnd - v < 8)
                        break;
                    *field = u64(v);
                    v += 8;
                }
            }
            x += 4 + length;
        }
        if (compressed > quint64(m_size) || offset > quint64(m_size) ||
            size > quint64(std::numeric_limits<qint64>::max()))
            damaged(u"каталог архива указывает за его конец"_s);
        entry.compressed = qint64(compressed);
        entry.size = qint64(size);
        entry.offset = qint64(offset);
        // named as libgsf names the entry: its bytes read as UTF-8
        const QString name = QString::fromUtf8(p + 46, nameLength);
        if (m_directory.contains(name))
            damaged(u"две части с именем %1"_s.arg(name));
        m_directory.insert(name, entry);
        p += 46 + nameLength + extraLength + commentLength;
    }
}

void ZipArchive::start(GsfPtr<GsfInput> input)
{
    if (!input)
        damaged(u"архив не читается"_s);
    GError* error = nullptr;
    GsfPtr<GsfInfile> zip(gsf_infile_zip_new(input.get(), &error)); // holds its own reference to the input
    if (error)
        g_error_free(error);
    if (!zip)
        damaged(u"архив .xlsx или .ods не читается"_s);
    m_zip = std::move(zip);
    list(m_zip.get(), QString(), 0);
}

ZipArchive::~ZipArchive() = default;

void ZipArchive::list(GsfInfile* dir, const QString& prefix, int level)
{
    const int n = gsf_infile_num_children(dir);
    for (int i = 0; i < n && m_entries.size() < maxEntries; ++i) {
        const char* childName = gsf_infile_name_by_index(dir, i);
        if (!childName)
            continue;
        const QString path = prefix + QString::fromUtf8(childName);
        const GsfPtr<GsfInput> child(gsf_infile_child_by_index(dir, i));
        if (!child)
            continue;
        if (GSF_IS_INFILE(child.get()) && gsf_infile_num_children(GSF_INFILE(child.get())) >= 0) {
            if (level < 16)
                list(GSF_INFILE(child.get()), path + u'/', level + 1);
        } else {
            m_entries.push_back(path);
        }
    }
}

QString ZipArchive::find(const QString& path) const
{
    const QString want = normalized(path);
    for (const QString& e : m_entries)
        if (e == path)
            return e;
    for (const QString& e : m_entries)
        if (normalized(e) == want)
            return e;
    return {};
}

void ZipArchive::damaged(const QString& what) const { throw fail::bookDamaged(m_name, what); }

std::unique_ptr<ZipArchive::Stream> ZipArchive::open(const QString& path, qint64 maxSize) const
{
    const QString stored = find(path);
    if (stored.isEmpty())
        damaged(u"нет части %1"_s.arg(path));
    const QStringList parts = stored.split(u'/');
    std::vector<QByteArray> utf8;
    std::vector<const char*> names;
    for (const QString& p : parts)
        utf8.push_back(p.toUtf8());
    for (const QByteArray& p : utf8)
        names.push_back(p.constData());
    names.push_back(nullptr);
    GsfPtr<GsfInput> input(gsf_infile_child_by_aname(m_zip.get(), names.data()));
    if (!input)
        damaged(u"часть %1 не читается"_s.arg(path));
    std::unique_ptr<Stream> s(new Stream);
    s->m_input = std::move(input);
    s->m_archive = m_name;
    s->m_entry = stored;
    s->m_left = gsf_input_size(s->m_input.get());
    s->m_crc = quint32(crc32(0, nullptr, 0));
    s->m_inflated = &m_inflated;
    const auto entry = m_directory.constFind(stored);
    if (entry == m_directory.constEnd())
        damaged(u"часть %1 не записана в каталоге архива"_s.arg(stored));
    if (entry->size != s->m_left)
        damaged(u"размер части %1 в каталоге архива не тот, что у неё"_s.arg(stored));
    s->m_expected = entry->crc;
    // What the entry claims is checked before a byte is inflated: its compressed bytes lie
    // within the archive and can give its size; the size fits what is left of the workbook's
    // total, and of the bound the caller sets for this part.
    if (entry->method != 0 && entry->method != 8)
        damaged(u"часть %1 сжата неизвестным способом %2"_s.arg(stored).arg(entry->method));
    if (entry->offset + 30 + entry->compressed > m_size)
        damaged(u"часть %1 выходит за конец архива"_s.arg(stored));
    if (entry->method == 0 ? entry->size != entry->compressed : entry->size / deflateRatio > entry->compressed)
        damaged(u"часть %1 заявляет %2 байт, больше, чем дают её %3 сжатых байт"_s.arg(stored)
                    .arg(entry->size)
                    .arg(entry->compressed));
    if (entry->size > m_maxInflated - m_inflated)
        throw Failure(err::BookNotWorkbook,
                      u"Книга %1 слишком велика: её части распаковываются более чем в %2 МБ"_s.arg(m_name).arg(
                          double(m_maxInflated) / (1 << 20), 0, 'f', 0));
    if (maxSize > 0 && entry->size > maxSize)
        throw Failure(
            err::BookNotWorkbook,
            u"Книга %1 слишком велика или повреждена: часть %2 больше %3 МБ"_s.arg(m_name, stored).arg(maxSize >> 20));
    return s;
}

ZipArchive::Stream::~Stream() = default;

qsizetype ZipArchive::Stream::read(char* dst, qsizetype max)
{
    if (max <= 0)
        return 0;
    if (m_left <= 0) {
        if (m_done == 0)
            verify(); // an empty entry has its checksum too
        return 0;
    }
    const qsizetype n = qsizetype(std::min<qint64>(qint64(max), m_left));
    if (!gsf_input_read(m_input.get(), size_t(n), reinterpret_cast<guint8*>(dst)))
        throw fail::bookDamaged(m_archive, u"часть %1 не распаковывается"_s.arg(m_entry));
    m_crc = quint32(crc32_z(m_crc, reinterpret_cast<const Bytef*>(dst), size_t(n)));
    m_left -= n;
    m_done += n;
    *m_inflated += n;
    if (m_left == 0)
        verify();
    return n;
}

void ZipArchive::Stream::verify() const
{
#if !defined(FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION) // a fuzzer's changes reach the XML only past the checksums
    if (m_crc != m_expected)
        throw Failure(err::BookNotWorkbook,
                      u"Файл %1: книга повреждена, контрольная сумма части %2 не сходится"_s.arg(m_archive, m_entry));
#endif
}

void ZipArchive::Stream::finish()
{
    char rest[64 * 1024];
    while (read(rest, sizeof rest) > 0) { }
}

QByteArray ZipArchive::readSmall(const QString& path, qsizetype max) const
{
    if (!has(path))
        return {};
    auto s = open(path);
    QByteArray out(max, Qt::Uninitialized);
    qsizetype got = 0;
    while (got < max) {
        const qsizetype n = s->read(out.data() + got, max - got);
        if (n <= 0)
            break;
        got += n;
    }
    out.truncate(got);
    return out;
}

} // namespace kalder
