#include "workbook/zip_archive.h"

#include "app/failure.h"
#include "workbook/gsf_library.h"

#include <QFile>
#include <QStringList>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace kalder {

namespace {

// An entry may inflate to this much, plus this many times the archive's size: far above what
// XML compresses to in real files, far below what a crafted archive can claim.
constexpr qint64 inflateFloor = 64ll * 1024 * 1024;
constexpr qint64 inflateRatio = 200;
constexpr size_t maxEntries = 65536;

QString normalized(const QString& path)
{
    QString p = path;
    p.replace(u'\\', u'/');
    while (p.startsWith(u'/')) p.remove(0, 1);
    return p.toLower();
}

} // namespace

ZipArchive::ZipArchive(const QByteArray& bytes, const QString& name) : m_name(name), m_size(bytes.size())
{
    startGsf();
    start(gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.constData()), bytes.size(), FALSE));
}

ZipArchive::ZipArchive(const QString& path) : m_name(path)
{
    startGsf();
    m_size = QFile(path).size();
    GError* error = nullptr;
    GsfInput* input = gsf_input_stdio_new(QFile::encodeName(path).constData(), &error);
    if (error) g_error_free(error);
    if (!input) throw Failure(err::PathFileAccess, u"Нет доступа к файлу книги %1"_s.arg(path));
    start(input);
}

void ZipArchive::start(void* input)
{
    if (!input) damaged(u"архив не читается"_s);
    GError* error = nullptr;
    GsfInfile* zip = gsf_infile_zip_new(GSF_INPUT(input), &error);
    if (error) g_error_free(error);
    g_object_unref(input); // the archive holds its own reference
    if (!zip) throw Failure(err::BookNotWorkbook, u"Книга %1 повреждена: архив .xlsx или .ods не читается"_s.arg(m_name));
    m_zip = zip;
    list(zip, QString(), 0);
}

ZipArchive::~ZipArchive()
{
    if (m_zip) g_object_unref(m_zip);
}

void ZipArchive::list(void* dir, const QString& prefix, int level)
{
    GsfInfile* infile = GSF_INFILE(dir);
    const int n = gsf_infile_num_children(infile);
    for (int i = 0; i < n && m_entries.size() < maxEntries; ++i) {
        const char* childName = gsf_infile_name_by_index(infile, i);
        if (!childName) continue;
        const QString path = prefix + QString::fromUtf8(childName);
        GsfInput* child = gsf_infile_child_by_index(infile, i);
        if (!child) continue;
        if (GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0) {
            if (level < 16) list(child, path + u'/', level + 1);
        } else {
            m_entries.push_back(path);
        }
        g_object_unref(child);
    }
}

QString ZipArchive::find(const QString& path) const
{
    const QString want = normalized(path);
    for (const QString& e : m_entries)
        if (e == path) return e;
    for (const QString& e : m_entries)
        if (normalized(e) == want) return e;
    return {};
}

void ZipArchive::damaged(const QString& what) const
{
    throw Failure(err::BookNotWorkbook, u"Книга %1 повреждена: %2"_s.arg(m_name, what));
}

std::unique_ptr<ZipArchive::Stream> ZipArchive::open(const QString& path) const
{
    const QString stored = find(path);
    if (stored.isEmpty()) damaged(u"нет части %1"_s.arg(path));
    const QStringList parts = stored.split(u'/');
    std::vector<QByteArray> utf8;
    std::vector<const char*> names;
    for (const QString& p : parts) utf8.push_back(p.toUtf8());
    for (const QByteArray& p : utf8) names.push_back(p.constData());
    names.push_back(nullptr);
    GsfInput* input = gsf_infile_child_by_aname(GSF_INFILE(m_zip), names.data());
    if (!input) damaged(u"часть %1 не читается"_s.arg(path));
    std::unique_ptr<Stream> s(new Stream);
    s->m_input = input;
    s->m_archive = m_name;
    s->m_entry = stored;
    s->m_left = gsf_input_size(input);
    s->m_limit = inflateFloor + inflateRatio * m_size;
    return s;
}

ZipArchive::Stream::~Stream()
{
    if (m_input) g_object_unref(m_input);
}

qsizetype ZipArchive::Stream::read(char* dst, qsizetype max)
{
    if (m_left <= 0 || max <= 0) return 0;
    if (m_done >= m_limit)
        throw Failure(err::BookNotWorkbook,
                      u"Книга %1 слишком велика или повреждена: часть %2 распаковывается в слишком большой объём"_s.arg(m_archive, m_entry));
    const qsizetype n = qsizetype(std::min<qint64>({qint64(max), m_left, m_limit - m_done}));
    if (!gsf_input_read(GSF_INPUT(m_input), size_t(n), reinterpret_cast<guint8*>(dst)))
        throw Failure(err::BookNotWorkbook, u"Книга %1 повреждена: часть %2 не распаковывается"_s.arg(m_archive, m_entry));
    m_left -= n;
    m_done += n;
    return n;
}

QByteArray ZipArchive::readSmall(const QString& path, qsizetype max) const
{
    if (!has(path)) return {};
    auto s = open(path);
    QByteArray out(max, Qt::Uninitialized);
    qsizetype got = 0;
    while (got < max) {
        const qsizetype n = s->read(out.data() + got, max - got);
        if (n <= 0) break;
        got += n;
    }
    out.truncate(got);
    return out;
}

} // namespace kalder
