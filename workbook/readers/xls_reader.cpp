// The .xls reader: the OLE2 container through libgsf, the BIFF5/7/8 records of the workbook
// stream by hand. At open the globals (code page, date system, formats, cell formats, shared
// strings, sheets, active tab) and the active sheet's cells are decoded into the cell store
// the readers share. BIFF2-BIFF4 files, plain streams of records, are read the same way.
#include "workbook/readers/big_buffer.h"
#include "workbook/readers/cell_sheet.h"
#include "workbook/readers/gsf_library.h"
#include "workbook/readers/readers.h"

#include "app/base/failure_catalogue.h"
#include "workbook/readers/cell_values.h"
#include "workbook/readers/number_format.h"

#include <QFile>
#include <QStringDecoder>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace kalder {

namespace {

// The record ids read here, by the names the file format gives them. A record of the older
// versions that changed its id carries the version: Label2 is the LABEL of BIFF2, Bof3 the
// BOF of BIFF3; the others are those of BIFF5-BIFF8 (and of BIFF3-BIFF4 where they match).
namespace rec {
enum : quint16 {
    Integer2 = 0x0002,
    Number2 = 0x0003,
    Label2 = 0x0004,
    BoolErr2 = 0x0005,
    Formula = 0x0006, // BIFF2 and BIFF5-BIFF8 alike
    String2 = 0x0007,
    Bof2 = 0x0009,
    Eof = 0x000A,
    Format2 = 0x001E, // FORMAT of BIFF2-BIFF3: the code alone, numbered by its order
    Datemode = 0x0022,
    Filepass = 0x002F,
    Font = 0x0031,
    Continue = 0x003C,
    Window1 = 0x003D,
    Codepage = 0x0042,
    Boundsheet = 0x0085,
    Mulrk = 0x00BD,
    Mulblank = 0x00BE,
    Rstring = 0x00D6,
    Xf = 0x00E0,
    MergedCells = 0x00E5,
    Sst = 0x00FC,
    LabelSst = 0x00FD,
    Blank = 0x0201,
    Number = 0x0203,
    Label = 0x0204,
    BoolErr = 0x0205,
    Formula3 = 0x0206,
    String = 0x0207,
    Bof3 = 0x0209,
    Array = 0x0221,
    Table = 0x0236,
    Window2 = 0x023E,
    Xf3 = 0x0243,
    Rk = 0x027E,
    Formula4 = 0x0406,
    Bof4 = 0x0409,
    Format = 0x041E,
    Xf4 = 0x0443,
    SharedFormula = 0x04BC,
    Bof = 0x0809,
};
} // namespace rec

// The BOF of any version: it opens the globals or a sheet.
constexpr bool isBof(quint16 type)
{
    return type == rec::Bof2 || type == rec::Bof3 || type == rec::Bof4 || type == rec::Bof;
}

// What a BOF record says: the version of BIFF5-BIFF8, the kind of substream that follows.
namespace bof {
constexpr quint16 Biff5 = 0x0500, Biff8 = 0x0600;
constexpr quint16 Worksheet = 0x0010, Chart = 0x0020, MacroSheet = 0x0040,
                  Workspace = 0x0100; // a BIFF4 workbook's globals
} // namespace bof

// WINDOW2 flags of BIFF3-BIFF4: the sheet is one of those selected, the one shown.
constexpr quint16 window2Selected = 0x0200, window2Shown = 0x0400;

quint16 u16(const uchar* p) { return qFromLittleEndian<quint16>(p); }
quint32 u32(const uchar* p) { return qFromLittleEndian<quint32>(p); }
double f64(const uchar* p)
{
    const quint64 bits = qFromLittleEndian<quint64>(p);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

double rkValue(quint32 rk)
{
    double v;
    if (rk & 0x02) {
        v = double(qint32(rk) >> 2);
    } else {
        const quint64 bits = quint64(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&v, &bits, sizeof v);
    }
    return (rk & 0x01) ? v / 100.0 : v;
}

// The characters, 16-bit little-endian (high) or 8-bit, into out, whose buffer is kept when
// it is large enough.
void assignChars(QString& out, const uchar* p, qsizetype chars, bool high)
{
    out.resize(chars);
    char16_t* d = reinterpret_cast<char16_t*>(out.data());
    if (high)
        for (qsizetype i = 0; i < chars; ++i)
            d[i] = char16_t(p[2 * i] | (p[2 * i + 1] << 8));
    else
        for (qsizetype i = 0; i < chars; ++i)
            d[i] = char16_t(p[i]);
}

QString fromUtf16Le(const uchar* p, qsizetype chars)
{
    QString s;
    assignChars(s, p, chars, true);
    return s;
}

// 8-bit texts of BIFF2-BIFF7 in one code page; without a codec for it, Latin-1. The codec is
// made by the first text (while the file is read, in one thread): a BIFF8 file needs none.
class CodePage {
public:
    explicit CodePage(int cp = 1252) : m_cp(cp) { }
    int number() const { return m_cp; }
    QString decode(const uchar* p, qsizetype n) const
    {
        if (!m_tried) {
            m_tried = true;
            if (const char* name = codePageName(m_cp)) {
                // stateless: a lead byte a text ends with does not reach into the next one
                m_decoder = std::make_unique<QStringDecoder>(name, QStringConverter::Flag::Stateless);
                if (!m_decoder->isValid())
                    m_decoder.reset();
            }
        }
        if (m_decoder)
            return m_decoder->decode(QByteArrayView(p, n));
        return QString::fromLatin1(reinterpret_cast<const char*>(p), n);
    }

private:
    int m_cp;
    mutable bool m_tried = false;
    mutable std::unique_ptr<QStringDecoder> m_decoder;
};

// The code page a font's character set stands for; 0 for the sets that name none (ANSI,
// default, symbol, OEM), whose texts take the workbook's or the locale's.
int codePageOfCharset(uchar charset)
{
    switch (charset) {
    case 128:
        return 932;
    case 129:
        return 949;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    default:
        return 0;
    }
}

// Bytes of a record and the CONTINUE records after it, read across their boundaries. A
// string's characters that run into the next piece are preceded there by a new flags byte.
using Piece = std::pair<const uchar*, qsizetype>;

class Pieces {
public:
    Pieces() = default;
    // A view of pieces kept elsewhere, from a position within them.
    Pieces(std::span<const Piece> pieces, size_t index, qsizetype offset)
        : m_pieces(pieces), m_index(index), m_offset(offset)
    {
    }
    Pieces(const Pieces&) = delete;
    Pieces& operator=(const Pieces&) = delete;

    void add(const uchar* p, qsizetype n)
    {
        if (n <= 0)
            return;
        m_own.push_back({p, n});
        m_pieces = m_own;
    }
    // The position of the next byte: a piece and an offset in it.
    std::pair<size_t, qsizetype> position()
    {
        skipEmpty();
        return {m_index, m_offset};
    }
    bool atEnd()
    {
        skipEmpty();
        return m_index >= m_pieces.size();
    }
    // The bytes left in the current piece, and a step over some of them.
    std::span<const uchar> rest()
    {
        skipEmpty();
        if (m_index >= m_pieces.size())
            return {};
        return {m_pieces[m_index].first + m_offset, size_t(m_pieces[m_index].second - m_offset)};
    }
    void advance(qsizetype n) { m_offset += n; }
    bool byte(uchar& b)
    {
        if (atEnd())
            return false;
        b = m_pieces[m_index].first[m_offset++];
        return true;
    }
    bool word(quint16& w)
    {
        uchar a, b;
        if (!byte(a) || !byte(b))
            return false;
        w = quint16(a | (b << 8));
        return true;
    }
    bool dword(quint32& d)
    {
        quint16 a, b;
        if (!word(a) || !word(b))
            return false;
        d = quint32(a) | (quint32(b) << 16);
        return true;
    }
    void skip(quint64 n)
    {
        while (n > 0 && !atEnd()) {
            const qsizetype avail = m_pieces[m_index].second - m_offset;
            const qsizetype take = qsizetype(std::min<quint64>(n, quint64(avail)));
            m_offset += take;
            n -= quint64(take);
        }
    }
    // An XLUnicodeString whose character count was already read.
    // Without out the characters are only skipped; taken counts those there were.
    bool chars(quint32 count, uchar flags, QString* out, quint32* taken = nullptr)
    {
        bool high = flags & 0x01;
        if (m_index < m_pieces.size()) {
            // the common case: the whole string in the current piece
            const auto& piece = m_pieces[m_index];
            const qsizetype bytes = qsizetype(count) * (high ? 2 : 1);
            if (m_offset + bytes <= piece.second) {
                const uchar* p = piece.first + m_offset;
                if (out)
                    assignChars(*out, p, count, high);
                if (taken)
                    *taken = count;
                m_offset += bytes;
                return true;
            }
        }
        if (out)
            out->resize(0); // keeps the buffer
        if (taken)
            *taken = 0;
        while (count > 0) {
            if (m_index < m_pieces.size() && m_offset >= m_pieces[m_index].second) {
                ++m_index;
                m_offset = 0;
                if (m_index >= m_pieces.size())
                    return false;
                uchar f;
                if (!byte(f))
                    return false;
                high = f & 0x01;
            } else if (m_index >= m_pieces.size()) {
                return false;
            }
            const auto& piece = m_pieces[m_index];
            const qsizetype avail = piece.second - m_offset;
            const qsizetype fit = high ? avail / 2 : avail;
            const qsizetype take = std::min<qsizetype>(fit, qsizetype(count));
            if (take <= 0) {
                m_offset = piece.second; // an odd byte left: the next piece carries on
                continue;
            }
            const uchar* p = piece.first + m_offset;
            if (out)
                *out += high ? fromUtf16Le(p, take) : QString::fromLatin1(reinterpret_cast<const char*>(p), take);
            if (taken)
                *taken += quint32(take);
            m_offset += high ? take * 2 : take;
            count -= quint32(take);
        }
        return true;
    }

private:
    void skipEmpty()
    {
        while (m_index < m_pieces.size() && m_offset >= m_pieces[m_index].second) {
            ++m_index;
            m_offset = 0;
        }
    }
    std::vector<Piece> m_own;
    std::span<const Piece> m_pieces;
    size_t m_index = 0;
    qsizetype m_offset = 0;
};

// A string of the shared table that lies whole in the bytes at p: its character count, whether
// they are 16-bit, where they start, and the size of all of it with its rich-text runs and
// extension. False when the bytes hold less: the string goes on in a CONTINUE record.
struct WholeString {
    quint32 count;
    bool high;
    qsizetype head;
    quint64 size;
};
bool wholeString(const uchar* p, qsizetype avail, WholeString& s)
{
    if (avail < 3)
        return false;
    const uchar flags = p[2];
    s.count = u16(p);
    s.high = flags & 0x01;
    s.head = 3 + ((flags & 0x08) ? 2 : 0) + ((flags & 0x04) ? 4 : 0);
    if (avail < s.head)
        return false;
    const quint64 runs = (flags & 0x08) ? u16(p + 3) : 0;
    const quint64 ext = (flags & 0x04) ? u32(p + s.head - 4) : 0;
    s.size = quint64(s.head) + quint64(s.count) * (s.high ? 2 : 1) + runs * 4 + ext;
    return s.size <= quint64(avail);
}

// One unicode string of the shared string table or a STRING record (BIFF8).
// Reads (out given) or skips (out null) one string; taken counts its characters there were.
bool sharedString(Pieces& in, QString* out, bool wideCount, quint32* taken)
{
    if (taken)
        *taken = 0;
    quint32 count = 0;
    if (wideCount) {
        quint16 c;
        if (!in.word(c))
            return false;
        count = c;
    } else {
        uchar c;
        if (!in.byte(c))
            return false;
        count = c;
    }
    uchar flags;
    if (!in.byte(flags))
        return false;
    quint16 runs = 0;
    quint32 ext = 0;
    if ((flags & 0x08) && !in.word(runs))
        return false;
    if ((flags & 0x04) && !in.dword(ext))
        return false;
    quint32 got = 0;
    const bool complete = in.chars(count, flags, out, &got);
    in.skip(quint64(runs) * 4 + ext);
    if (taken)
        *taken = got;
    return complete || got > 0;
}

bool readSharedString(Pieces& in, QString& out, bool wideCount = true)
{
    return sharedString(in, &out, wideCount, nullptr);
}

struct Record {
    quint16 type = 0; // none, until a record is read into it
    const uchar* data = nullptr;
    qsizetype size = 0;
};

// Records of the workbook stream, read through a window of it so that the stream is never
// held whole; a length that runs past the end is cut. A record's data stays valid until the
// next call of next(), peekType() or seek().
class RecordStream {
public:
    RecordStream(GsfInput* input, qsizetype size)
        : m_input(input), m_size(size), m_capacity(std::min(window, size) + 16), m_buf(new uchar[size_t(m_capacity)])
    {
    }

    void seek(qsizetype pos)
    {
        m_start = pos;
        m_pos = m_end = 0;
        m_step = window;
        m_eof = pos < 0 || pos > m_size || gsf_input_seek(m_input, gsf_off_t(pos), G_SEEK_SET) != 0;
    }
    qsizetype position() const { return m_start + m_pos; }
    qsizetype remaining() const { return m_size - position(); }

    bool next(Record& r)
    {
        if (!fill(4))
            return false;
        const uchar* h = m_buf.get() + m_pos;
        r.type = u16(h);
        const qsizetype len = u16(h + 2);
        fill(4 + len);
        r.size = std::min(len, m_end - m_pos - 4);
        r.data = m_buf.get() + m_pos + 4;
        m_pos += 4 + r.size;
        return true;
    }
    bool peekType(quint16& type)
    {
        if (!fill(4))
            return false;
        type = u16(m_buf.get() + m_pos);
        return true;
    }

private:
    static constexpr qsizetype window = 128 * 1024; // more than the longest record

    // At least need bytes from the current position in the window, or what the stream has.
    bool fill(qsizetype need)
    {
        if (m_end - m_pos >= need)
            return true;
        if (m_pos > 0) {
            std::memmove(m_buf.get(), m_buf.get() + m_pos, size_t(m_end - m_pos));
            m_start += m_pos;
            m_end -= m_pos;
            m_pos = 0;
        }
        while (!m_eof && m_end < need) {
            const qsizetype left = m_size - (m_start + m_end);
            const qsizetype chunk = std::min({m_step, m_capacity - m_end, left});
            if (chunk <= 0) {
                m_eof = true;
            } else if (gsf_input_read(m_input, size_t(chunk), m_buf.get() + m_end)) {
                m_end += chunk;
            } else if (m_step > 512) {
                m_step = 512; // a short last sector: read up to it sector by sector
            } else {
                m_eof = true;
            }
        }
        return m_end - m_pos >= need;
    }

    GsfInput* m_input;
    qsizetype m_size;
    qsizetype m_capacity;
    std::unique_ptr<uchar[]> m_buf;
    qsizetype m_start = 0; // the stream position of m_buf[0]
    qsizetype m_pos = 0;
    qsizetype m_end = 0;
    qsizetype m_step = window;
    bool m_eof = false;
};

struct Sheet {
    quint32 offset;
    quint8 type;
    QString name;
};

class XlsWorkbook final : public CellSheet {
public:
    XlsWorkbook(QString name, const QLocale& locale, const Part& part)
        : CellSheet(std::move(name), locale, Workbook::MaxRows, Workbook::MaxColumns, part)
    {
    }

    void load(RecordStream& stream, qsizetype streamSize, bool biff8);
    // A BIFF2-BIFF4 file: one worksheet, or a BIFF4 workbook whose sheets lie in its stream.
    void loadOld(RecordStream& stream, qsizetype streamSize);
    void close() override
    {
        CellSheet::close();
        m_sst = {};
        m_sstPieces = {};
        m_sstEnds = {};
        m_sstBytes = {};
    }

private:
    QString text8(const uchar* p, qsizetype avail, bool wideCount, const CodePage& page,
                  qsizetype* used = nullptr) const;
    QString unicodeText(const uchar* p, qsizetype avail, bool wideCount, qsizetype* used = nullptr) const;
    void readGlobals(RecordStream& records, std::vector<Sheet>& sheets, int& activeTab, qsizetype& globalsEnd);
    void readSharedStrings(RecordStream& records, const Record& sst);
    void readSheet(RecordStream& records, qsizetype offset, qsizetype streamSize);
    void readOldSheet(RecordStream& records, qsizetype offset, qsizetype streamSize);
    void addCell(const Record& r);
    [[noreturn]] void passwordProtected() const { throw fail::bookPasswordProtected(name()); }
    struct PendingText {
        quint32 row, col, xf;
    };
    std::optional<PendingText> addFormulaResult(quint32 row, quint32 col, quint32 xf, const uchar* v);
    void addPending(std::optional<PendingText>& pending, QStringView text);
    void setCodePage(quint16 value);
    void choosePages();
    // The code page of the 8-bit texts of cells in a cell format.
    const CodePage& pageOf(quint32 xf) const { return *m_pages[xf < m_xfPage.size() ? m_xfPage[xf] : 0]; }
    void setFormats();

    bool hasShared(quint32 index) const override { return index < m_sst.size() && m_sst[index] != noText; }
    void sharedText(quint32 index, QString& out) const override
    {
        // the record that holds the string's start, and the offset in it
        const quint32 at = m_sst[index];
        const size_t piece = size_t(std::upper_bound(m_sstEnds.begin(), m_sstEnds.end(), at) - m_sstEnds.begin());
        const qsizetype offset = qsizetype(at) - (piece > 0 ? m_sstEnds[piece - 1] : 0);
        // the common case: the whole string within one record
        WholeString whole;
        if (piece < m_sstPieces.size() &&
            wholeString(m_sstPieces[piece].first + offset, m_sstPieces[piece].second - offset, whole)) {
            assignChars(out, m_sstPieces[piece].first + offset + whole.head, whole.count, whole.high);
            return;
        }
        Pieces in(m_sstPieces, piece, offset);
        readSharedString(in, out);
    }
    // Where a string of the shared table starts in m_sstBytes; noText for an empty one.
    static constexpr quint32 noText = 0xFFFFFFFFu;

    bool m_biff8 = true;
    bool m_builtins = true; // format indexes below 164 without a FORMAT record are built-in ones (BIFF5-BIFF8)
    // 8-bit texts (BIFF2-BIFF7): the workbook's CODEPAGE (0 without one), the character set of
    // each font, the font of each cell format; the code pages chosen from them, the first the
    // workbook's own, and the one of each cell format.
    int m_bookCodePage = 0;
    std::vector<uchar> m_fontCharsets;
    std::vector<quint16> m_xfFont;
    std::vector<std::unique_ptr<CodePage>> m_pages;
    std::vector<quint8> m_xfPage;
    std::vector<char, BigAllocator<char>> m_sstBytes;
    std::vector<Piece> m_sstPieces; // the table's records within m_sstBytes
    std::vector<quint32> m_sstEnds; // where each of them ends there
    std::vector<quint32> m_sst;
    std::map<int, QString> m_formatCodes;
    std::vector<quint16> m_xfFormat;
};

QString XlsWorkbook::text8(const uchar* p, qsizetype avail, bool wideCount, const CodePage& page, qsizetype* used) const
{
    const qsizetype head = wideCount ? 2 : 1;
    if (avail < head) {
        if (used)
            *used = avail;
        return {};
    }
    qsizetype n = wideCount ? u16(p) : p[0];
    n = std::min(n, avail - head);
    if (used)
        *used = head + n;
    return page.decode(p + head, n);
}

QString XlsWorkbook::unicodeText(const uchar* p, qsizetype avail, bool wideCount, qsizetype* used) const
{
    if (!m_biff8)
        return text8(p, avail, wideCount, *m_pages.front(), used);
    Pieces in;
    in.add(p, avail);
    QString s;
    readSharedString(in, s, wideCount);
    if (used) {
        // only the callers of short strings (sheet names) need the length: count it again
        const qsizetype head = wideCount ? 3 : 2;
        const bool high = avail >= head && (p[head - 1] & 0x01);
        *used = std::min(avail, head + s.size() * (high ? 2 : 1));
    }
    return s;
}

void XlsWorkbook::load(RecordStream& stream, qsizetype streamSize, bool biff8)
{
    m_biff8 = biff8;
    std::vector<Sheet> sheets;
    int activeTab = 0;
    qsizetype globalsEnd = -1;
    stream.seek(0);
    readGlobals(stream, sheets, activeTab, globalsEnd);
    choosePages();

    // The active tab, or the first sheet when the window record names none that exists.
    qsizetype offset = -1;
    if (activeTab >= 0 && size_t(activeTab) < sheets.size())
        offset = sheets[size_t(activeTab)].offset;
    else if (!sheets.empty())
        offset = sheets.front().offset;
    auto bofAt = [&](qsizetype at) {
        quint16 type = 0;
        stream.seek(at);
        return at >= 0 && stream.peekType(type) && type == rec::Bof;
    };
    if (!bofAt(offset)) {
        // a sheet position that misses: try the sheet that follows the globals
        if (globalsEnd >= 0 && bofAt(globalsEnd))
            offset = globalsEnd;
        else if (sheets.empty())
            damaged(u"в книге нет листов"_s);
        else
            damaged(u"лист «%1» не найден"_s.arg(activeTab >= 0 && size_t(activeTab) < sheets.size()
                                                     ? sheets[size_t(activeTab)].name
                                                     : sheets.front().name));
    }
    readSheet(stream, offset, streamSize);
}

void XlsWorkbook::readGlobals(RecordStream& records, std::vector<Sheet>& sheets, int& activeTab, qsizetype& globalsEnd)
{
    Record r;
    if (!records.next(r))
        damaged(u"поток книги пуст"_s);
    if (r.type != rec::Bof)
        damaged(u"нет записи начала книги"_s);
    if (r.size >= 2) {
        const quint16 version = u16(r.data);
        if (version == bof::Biff8)
            m_biff8 = true;
        else if (version == bof::Biff5)
            m_biff8 = false;
    }
    setCodePage(0);

    while (records.next(r)) {
        switch (r.type) {
        case rec::Eof:
            globalsEnd = records.position();
            return;
        case rec::Filepass:
            passwordProtected();
        case rec::Codepage:
            if (r.size >= 2)
                setCodePage(u16(r.data));
            break;
        case rec::Datemode:
            if (r.size >= 2)
                setDate1904(u16(r.data) == 1);
            break;
        case rec::Font:
            if (r.size >= 13 && m_fontCharsets.size() < 65536)
                m_fontCharsets.push_back(r.data[12]);
            break;
        case rec::Window1:
            if (r.size >= 12)
                activeTab = u16(r.data + 10);
            break;
        case rec::Boundsheet:
            if (r.size >= 6) {
                Sheet s{u32(r.data), r.data[5], {}};
                s.name = unicodeText(r.data + 6, r.size - 6, false);
                sheets.push_back(s);
            }
            break;
        case rec::Format:
            if (r.size >= 3)
                m_formatCodes[u16(r.data)] = unicodeText(r.data + 2, r.size - 2, m_biff8);
            break;
        case rec::Format2: // the FORMAT of an older version, kept by some writers: no index, skipped
            break;
        case rec::Xf:
            if (r.size >= 4) {
                m_xfFont.push_back(u16(r.data));
                m_xfFormat.push_back(u16(r.data + 2));
            }
            break;
        case rec::Sst:
            readSharedStrings(records, r);
            break;
        default:
            break;
        }
    }
    globalsEnd = records.position();
}

// The shared string table: the SST record and the CONTINUE records after it, kept as they are
// written. A string is decoded when a cell shows it; here only where each one starts is found.
void XlsWorkbook::readSharedStrings(RecordStream& records, const Record& sst)
{
    std::vector<qsizetype> ends; // where each record's bytes end in the table
    m_sstBytes.clear();
    // The table lies within the rest of the stream: room for that much is reserved at once
    // (memory is taken only as it is written), so that its bytes are copied once, not again at
    // each growth, and a large table sits in a few large pages.
    m_sstBytes.reserve(size_t(std::max<qsizetype>(0, records.remaining())) + size_t(sst.size));
    const auto keep = [&](const uchar* p, qsizetype n) {
        if (n <= 0)
            return;
        m_sstBytes.insert(m_sstBytes.end(), reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(p) + n);
        ends.push_back(qsizetype(m_sstBytes.size()));
    };
    const quint32 unique = sst.size >= 8 ? u32(sst.data + 4) : 0;
    if (sst.size > 8)
        keep(sst.data + 8, sst.size - 8);
    quint16 type;
    while (records.peekType(type) && type == rec::Continue) {
        Record c;
        records.next(c);
        keep(c.data, c.size);
    }
    m_sstPieces.clear();
    m_sstEnds.clear();
    m_sst.clear();
    if (m_sstBytes.size() >= size_t(noText))
        damaged(u"таблица строк слишком велика"_s);
    qsizetype at = 0;
    for (const qsizetype end : ends) {
        m_sstPieces.push_back({reinterpret_cast<const uchar*>(m_sstBytes.data()) + at, end - at});
        m_sstEnds.push_back(quint32(end));
        at = end;
    }
    const qsizetype total = at;
    // The counts are often wrong: find every string the records hold.
    m_sst.reserve(std::min<size_t>(unique, size_t(total / 3)));
    Pieces in(m_sstPieces, 0, 0);
    while (!in.atEnd()) {
        const auto [piece, offset] = in.position();
        const quint32 start = quint32((piece > 0 ? m_sstEnds[piece - 1] : 0) + offset);
        // the common case: the whole string, runs and extension within one record
        const std::span<const uchar> p = in.rest();
        // a string longer than a cell holds is not shown: a cell that shows it fails
        const auto note = [&](quint32 count) {
            if (count > quint32(MaxCellText))
                markSharedTooLong(quint32(m_sst.size()));
            m_sst.push_back(count > 0 && count <= quint32(MaxCellText) ? start : noText);
        };
        if (WholeString whole; wholeString(p.data(), qsizetype(p.size()), whole)) {
            note(whole.count);
            in.advance(qsizetype(whole.size));
            continue;
        }
        quint32 taken = 0;
        const bool read = sharedString(in, nullptr, true, &taken);
        note(taken);
        if (!read)
            break;
    }
}

void XlsWorkbook::setCodePage(quint16 value)
{
    // 1200 (UTF-16) says nothing of 8-bit texts, and 8001H is the system's ANSI code page:
    // both leave the choice to the fonts and the locale, as having no CODEPAGE does
    m_bookCodePage = value == 0 || value == 1200 || value == 0x8001 ? 0 : value;
    m_pages.clear();
    m_pages.push_back(std::make_unique<CodePage>(m_bookCodePage ? m_bookCodePage : windowsCodePage(locale())));
}

void XlsWorkbook::choosePages()
{
    // Without a CODEPAGE record a BIFF5/7 text is in the code page of its font's character set
    // (204: Cyrillic, 1251), and in the locale's when the set names none.
    m_xfPage.assign(m_xfFont.size(), 0);
    if (m_bookCodePage || m_biff8)
        return;
    for (size_t x = 0; x < m_xfFont.size(); ++x) {
        const size_t font = m_xfFont[x] < 4 ? m_xfFont[x] : m_xfFont[x] - 1u; // font index 4 is never written
        if (font >= m_fontCharsets.size())
            continue;
        const int cp = codePageOfCharset(m_fontCharsets[font]);
        if (cp == 0 || cp == m_pages.front()->number())
            continue;
        size_t k = 1;
        while (k < m_pages.size() && m_pages[k]->number() != cp)
            ++k;
        if (k == m_pages.size())
            m_pages.push_back(std::make_unique<CodePage>(cp)); // a few at most: one a character set
        m_xfPage[x] = quint8(k);
    }
}

void XlsWorkbook::readSheet(RecordStream& records, qsizetype offset, qsizetype streamSize)
{
    Record r;
    // Room for as many cells as the rest of the stream could hold (six bytes a cell in a
    // MULRK): the array is allocated once, and what is never filled is never touched.
    reserveCells(size_t(std::max<qsizetype>(0, streamSize - offset)) / 6 + 16);
    records.seek(offset);
    records.next(r); // the sheet's BOF
    int depth = 1;
    std::optional<PendingText> pending; // a formula's, whose text a STRING record holds

    while (depth > 0 && records.next(r)) {
        if (r.type == rec::Bof) {
            ++depth;
            continue;
        }
        if (r.type == rec::Eof) {
            --depth;
            continue;
        }
        if (depth > 1)
            continue; // an embedded chart's records
        const uchar* d = r.data;
        const qsizetype n = r.size;
        if (pending && r.type != rec::String && r.type != rec::Continue && r.type != rec::SharedFormula &&
            r.type != rec::Array && r.type != rec::Table)
            addPending(pending, QStringView());
        switch (r.type) {
        case rec::Number:
        case rec::Rk:
        case rec::Label:
        case rec::Rstring:
        case rec::BoolErr:
            addCell(r);
            break;
        case rec::Mulrk:
            if (n >= 6) {
                const quint16 row = u16(d);
                const quint32 first = u16(d + 2);
                const qsizetype count = (n - 6) / 6;
                for (qsizetype i = 0; i < count && first + i < quint32(Workbook::MaxColumns); ++i) {
                    const uchar* p = d + 4 + 6 * i;
                    addNumber(row, quint32(first + i), u16(p), rkValue(u32(p + 2)));
                }
            }
            break;
        case rec::LabelSst:
            if (n >= 10)
                addShared(u16(d), u16(d + 2), u16(d + 4), u32(d + 6));
            break;
        case rec::Formula:
            if (n >= 14)
                pending = addFormulaResult(u16(d), u16(d + 2), u16(d + 4), d + 6);
            break;
        case rec::String:
            if (pending) {
                QString s;
                if (m_biff8) {
                    // the record and its CONTINUE records, kept before the next is read
                    std::vector<std::vector<uchar>> parts{std::vector<uchar>(d, d + n)};
                    quint16 type;
                    while (records.peekType(type) && type == rec::Continue) {
                        Record c;
                        records.next(c);
                        parts.emplace_back(c.data, c.data + c.size);
                    }
                    Pieces in;
                    for (const auto& part : parts)
                        in.add(part.data(), qsizetype(part.size()));
                    readSharedString(in, s);
                } else {
                    s = text8(d, n, true, pageOf(pending->xf));
                }
                addPending(pending, s);
            }
            break;
        case rec::MergedCells:
            for (qsizetype i = 0; i < (n - 2) / 8; ++i) {
                const uchar* p = d + 2 + 8 * i;
                addMerged(u16(p), u16(p + 2), u16(p + 4), u16(p + 6));
            }
            break;
        case rec::Filepass:
            passwordProtected();
        default:
            break;
        }
    }
    addPending(pending, QStringView());
    finish();
    setFormats();
}

// The cell records BIFF3 to BIFF8 share: row, column, cell format, then the value.
void XlsWorkbook::addCell(const Record& r)
{
    const uchar* d = r.data;
    const qsizetype n = r.size;
    switch (r.type) {
    case rec::Number:
        if (n >= 14)
            addNumber(u16(d), u16(d + 2), u16(d + 4), f64(d + 6));
        break;
    case rec::Rk:
        if (n >= 10)
            addNumber(u16(d), u16(d + 2), u16(d + 4), rkValue(u32(d + 6)));
        break;
    case rec::Label:
    case rec::Rstring:
        if (n >= 8) {
            QString s = m_biff8 ? unicodeText(d + 6, n - 6, true) : text8(d + 6, n - 6, true, pageOf(u16(d + 4)));
            if (!s.isEmpty())
                addText(u16(d), u16(d + 2), u16(d + 4), s);
        }
        break;
    case rec::BoolErr:
        if (n >= 8) {
            if (d[7])
                addError(u16(d), u16(d + 2), u16(d + 4), d[6]);
            else
                addBoolean(u16(d), u16(d + 2), u16(d + 4), d[6] != 0);
        }
        break;
    default:
        break;
    }
}

// A formula's cached result, eight bytes at v: a double, or a string, a boolean or an error
// marked by FFFFH in the last two. A string is in the STRING record after the formula: its
// cell is returned, to be added by addPending() when that record comes.
std::optional<XlsWorkbook::PendingText> XlsWorkbook::addFormulaResult(quint32 row, quint32 col, quint32 xf,
                                                                      const uchar* v)
{
    enum : uchar { resultString = 0, resultBoolean = 1, resultError = 2 }; // the first byte, under the mark
    if (u16(v + 6) != 0xFFFF)
        addNumber(row, col, xf, f64(v));
    else if (v[0] == resultString)
        return PendingText{row, col, xf};
    else if (v[0] == resultBoolean)
        addBoolean(row, col, xf, v[2] != 0);
    else if (v[0] == resultError)
        addError(row, col, xf, v[2]);
    return std::nullopt;
}

// The formula cell with its text; an empty one, when another record comes first, shows
// nothing and hides what the position held, as the formula's cell does.
void XlsWorkbook::addPending(std::optional<PendingText>& pending, QStringView text)
{
    if (!pending)
        return;
    addText(pending->row, pending->col, pending->xf, text);
    pending.reset();
}

void XlsWorkbook::loadOld(RecordStream& stream, qsizetype streamSize)
{
    m_biff8 = false;
    m_builtins = false; // the FORMAT records list every format, the built-in ones too
    setCodePage(0);
    stream.seek(0);
    Record r;
    if (!stream.next(r))
        damaged(u"поток книги пуст"_s);
    const quint16 type = r.size >= 4 ? u16(r.data + 2) : bof::Worksheet;
    if (type == bof::Chart) { // a chart holds no cells
        finish();
        return;
    }
    if (type != bof::Workspace) {
        readOldSheet(stream, 0, streamSize);
        return;
    }
    // A BIFF4 workbook: its sheets follow the globals in the same stream, each from its own BOF
    // to its EOF. The one its window shows (WINDOW2 with the flag of the active sheet, else of
    // a selected one) is read, else the first worksheet.
    qsizetype first = -1, active = -1, selected = -1, sheetStart = -1;
    quint16 sheetType = 0;
    int depth = 1;
    for (qsizetype at = stream.position(); depth > 0 && stream.next(r); at = stream.position()) {
        if (isBof(r.type)) {
            if (depth++ == 1) {
                sheetStart = at;
                sheetType = r.size >= 4 ? u16(r.data + 2) : bof::Worksheet;
            }
        } else if (r.type == rec::Eof) {
            --depth;
        } else if (depth == 1 && r.type == rec::Codepage && r.size >= 2) {
            setCodePage(u16(r.data));
        } else if (depth == 1 && r.type == rec::Datemode && r.size >= 2) {
            setDate1904(u16(r.data) == 1);
        } else if (depth == 2 && (sheetType == bof::Worksheet || sheetType == bof::MacroSheet)) {
            if (first < 0)
                first = sheetStart;
            if (r.type == rec::Window2 && r.size >= 2) {
                if ((u16(r.data) & window2Shown) && active < 0)
                    active = sheetStart;
                if ((u16(r.data) & window2Selected) && selected < 0)
                    selected = sheetStart;
            }
        }
    }
    const qsizetype sheet = active >= 0 ? active : selected >= 0 ? selected : first;
    if (sheet < 0)
        damaged(u"в книге нет листов"_s);
    readOldSheet(stream, sheet, streamSize);
}

void XlsWorkbook::readOldSheet(RecordStream& records, qsizetype offset, qsizetype streamSize)
{
    // The records of BIFF2 (cells with three bytes of attributes, whose second holds the index
    // of the cell's FORMAT), of BIFF3 and of BIFF4 (cells with the index of an XF record, as in
    // BIFF5). Formats are numbered by the order of their FORMAT records.
    reserveCells(size_t(std::max<qsizetype>(0, streamSize - offset)) / 12 + 16);
    records.seek(offset);
    Record r;
    records.next(r); // the sheet's BOF
    const bool biff2 = r.type == rec::Bof2;
    std::vector<QByteArray> formats; // decoded at the end, in the code page the sheet names
    std::optional<PendingText> pending; // a formula's, whose text a STRING record holds
    int depth = 1;
    while (depth > 0 && records.next(r)) {
        if (isBof(r.type)) {
            ++depth;
            continue;
        }
        if (r.type == rec::Eof) {
            --depth;
            continue;
        }
        if (depth > 1)
            continue;
        const uchar* d = r.data;
        const qsizetype n = r.size;
        if (pending && r.type != rec::String2 && r.type != rec::String)
            addPending(pending, QStringView());
        // BIFF2 cells: row, column, three bytes of attributes, the value; their "cell format"
        // here is the index of the FORMAT
        const quint32 format2Of = n >= 7 ? d[5] & 0x3F : 0;
        switch (r.type) {
        case rec::Codepage:
            if (n >= 2)
                setCodePage(u16(d));
            break;
        case rec::Datemode:
            if (n >= 2)
                setDate1904(u16(d) == 1);
            break;
        case rec::Format2:
        case rec::Format: {
            const qsizetype skip = r.type == rec::Format ? 2 : 0; // BIFF4: a field no reader needs
            if (n > skip) {
                const qsizetype length = std::min<qsizetype>(d[skip], n - skip - 1);
                if (formats.size() < 65536)
                    formats.emplace_back(reinterpret_cast<const char*>(d + skip + 1), length);
            }
            break;
        }
        case rec::Xf3:
        case rec::Xf4:
            if (n >= 2)
                m_xfFormat.push_back(d[1]);
            break;
        case rec::Integer2:
            if (biff2 && n >= 9)
                addNumber(u16(d), u16(d + 2), format2Of, u16(d + 7));
            break;
        case rec::Number2:
            if (biff2 && n >= 15)
                addNumber(u16(d), u16(d + 2), format2Of, f64(d + 7));
            break;
        case rec::Label2:
            if (biff2 && n >= 8) {
                QString s = text8(d + 7, n - 7, false, pageOf(0));
                if (!s.isEmpty())
                    addText(u16(d), u16(d + 2), format2Of, s);
            }
            break;
        case rec::BoolErr2:
            if (biff2 && n >= 9) {
                if (d[8])
                    addError(u16(d), u16(d + 2), format2Of, d[7]);
                else
                    addBoolean(u16(d), u16(d + 2), format2Of, d[7] != 0);
            }
            break;
        case rec::Number:
        case rec::Rk:
        case rec::Label:
        case rec::BoolErr:
            addCell(r);
            break;
        case rec::Formula:
        case rec::Formula3:
        case rec::Formula4: {
            const qsizetype at = r.type == rec::Formula ? 7 : 6;
            if ((r.type == rec::Formula) != biff2 || n < at + 8)
                break;
            pending = addFormulaResult(u16(d), u16(d + 2), r.type == rec::Formula ? format2Of : u16(d + 4), d + at);
            break;
        }
        case rec::String2:
        case rec::String:
            if (pending)
                addPending(pending, text8(d, n, r.type == rec::String, pageOf(pending->xf)));
            break;
        case rec::Filepass:
            passwordProtected();
        default:
            break;
        }
    }
    addPending(pending, QStringView());
    finish();
    for (size_t i = 0; i < formats.size(); ++i)
        m_formatCodes[int(i)] =
            m_pages.front()->decode(reinterpret_cast<const uchar*>(formats[i].constData()), formats[i].size());
    if (biff2) { // a cell's format is its FORMAT
        m_xfFormat.resize(formats.size());
        for (size_t i = 0; i < formats.size(); ++i)
            m_xfFormat[i] = quint16(i);
    }
    setFormats();
}

void XlsWorkbook::setFormats()
{
    // One parsed format per format index, shared by the cell formats that use it.
    std::map<int, std::shared_ptr<NumberFormat>> parsed;
    std::vector<std::shared_ptr<NumberFormat>> formats(m_xfFormat.size());
    for (size_t x = 0; x < m_xfFormat.size(); ++x) {
        const int index = m_xfFormat[x];
        auto& p = parsed[index];
        if (!p) {
            // The date forms 14 to 22 are the locale's, whatever code a writer stored for them.
            const auto code = m_formatCodes.find(index);
            if (m_builtins && (code == m_formatCodes.end() || localeBuiltinFormat(index)))
                p = std::make_shared<NumberFormat>(builtinFormatCode(index, locale()));
            else
                p = std::make_shared<NumberFormat>(code != m_formatCodes.end() ? code->second : QString());
        }
        formats[x] = p;
    }
    setCellFormats(std::move(formats));
}

} // namespace

namespace {

// The workbook in an OLE2 container read through input; head is the file's first bytes.
std::unique_ptr<Workbook> openContainer(GsfInput* input, qsizetype fileSize, const QByteArray& head,
                                        const QString& name, const QLocale& locale, const Workbook::Part& part)
{
    GError* error = nullptr;
    GsfPtr<GsfInfile> ole(gsf_infile_msole_new(input, &error));
    if (error)
        g_error_free(error);
    if (!ole) {
        if (fileSize < 512 || !head.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
            throw fail::notAnXlsBook(name);
        throw fail::bookDamaged(name, u"контейнер не читается"_s);
    }

    GsfPtr<GsfInput> stream;
    bool biff8 = true;
    bool encrypted = false;
    const int children = gsf_infile_num_children(ole.get());
    for (int i = 0; i < children && i < 4096; ++i) {
        const char* childName = gsf_infile_name_by_index(ole.get(), i);
        if (!childName)
            continue;
        const QString n = QString::fromUtf8(childName);
        if (n.compare(u"EncryptedPackage", Qt::CaseInsensitive) == 0 ||
            n.compare(u"EncryptionInfo", Qt::CaseInsensitive) == 0)
            encrypted = true;
        const bool book8 = n.compare(u"Workbook", Qt::CaseInsensitive) == 0;
        const bool book5 = n.compare(u"Book", Qt::CaseInsensitive) == 0;
        if ((book8 && (!stream || !biff8)) || (book5 && !stream)) {
            stream.reset(gsf_infile_child_by_index(ole.get(), i));
            biff8 = book8;
        }
    }
    if (encrypted)
        throw fail::bookPasswordProtected(name);
    if (!stream)
        throw Failure(err::BookNotWorkbook, u"В файле %1 нет листов книги .xls"_s.arg(name));

    // The stream cannot honestly be longer than the file that holds it.
    const qsizetype size = qsizetype(std::clamp<gsf_off_t>(gsf_input_size(stream.get()), 0, fileSize));
    RecordStream records(stream.get(), size);
    auto book = std::make_unique<XlsWorkbook>(name, locale, part);
    book->load(records, size, biff8);
    return book;
}

} // namespace

std::unique_ptr<Workbook> openXls(const QByteArray& bytes, const QString& name, const QLocale& locale,
                                  const Workbook::Part& part)
{
    startGsf();
    const auto* raw = reinterpret_cast<const guint8*>(bytes.constData());
    GsfPtr<GsfInput> input(gsf_input_memory_new(raw, bytes.size(), FALSE));
    if (!input)
        throw fail::notAnXlsBook(name);
    // A plain stream of records, not in an OLE2 container: a BIFF2-BIFF4 file, or a workbook
    // stream of BIFF5-BIFF8 saved on its own.
    const quint16 first = bytes.size() >= 4 ? u16(raw) : 0;
    if (isBof(first) && u16(raw + 2) <= 32) {
        RecordStream records(input.get(), bytes.size());
        auto book = std::make_unique<XlsWorkbook>(name, locale, part);
        if (first == rec::Bof)
            book->load(records, bytes.size(), bytes.size() >= 6 && u16(raw + 4) == bof::Biff8);
        else
            book->loadOld(records, bytes.size());
        return book;
    }
    return openContainer(input.get(), bytes.size(), bytes.left(8), name, locale, part);
}

std::unique_ptr<Workbook> openXlsFile(const QString& path, const QByteArray& head, qsizetype fileSize,
                                      const QLocale& locale, const Workbook::Part& part)
{
    startGsf();
    GError* error = nullptr;
#ifdef Q_OS_WIN
    const QByteArray fileName = path.toUtf8(); // GLib's file names are UTF-8 there
#else
    const QByteArray fileName = QFile::encodeName(path);
#endif
    GsfPtr<GsfInput> input(gsf_input_stdio_new(fileName.constData(), &error));
    if (error)
        g_error_free(error);
    if (!input)
        throw fail::bookNoAccess(path);
    return openContainer(input.get(), fileSize, head, path, locale, part);
}

} // namespace kalder
