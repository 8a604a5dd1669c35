#include "workbook/readers/xml_scanner.h"

#include <algorithm>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace kalder {

namespace {

constexpr qsizetype chunk = 256 * 1024;
// A tag, comment or CDATA section is held whole until it ends; one longer than this is part of
// no real workbook, and holding it would take memory without bound.
constexpr qsizetype maxToken = 16 * 1024 * 1024;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view localName(std::string_view qname)
{
    const size_t colon = qname.rfind(':');
    return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

// The code point of an entity or character reference (the text between & and ;), or -1.
char32_t entity(std::string_view e)
{
    if (e == "lt")
        return U'<';
    if (e == "gt")
        return U'>';
    if (e == "amp")
        return U'&';
    if (e == "quot")
        return U'"';
    if (e == "apos")
        return U'\'';
    if (e.size() < 2 || e[0] != '#')
        return char32_t(-1);
    char32_t v = 0;
    const bool hex = e[1] == 'x' || e[1] == 'X';
    const std::string_view digits = e.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 8)
        return char32_t(-1);
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return char32_t(-1);
        v = v * (hex ? 16 : 10) + char32_t(d);
    }
    if (v == 0 || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
        return U'\uFFFD';
    return v;
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// Calls plain(view) for runs of literal text and ref(code point) for each reference.
template <typename Plain, typename Ref>
void decodeWith(std::string_view raw, Plain plain, Ref ref)
{
    size_t from = 0;
    while (from < raw.size()) {
        const size_t amp = raw.find('&', from);
        if (amp == std::string_view::npos)
            break;
        const size_t semi = raw.find(';', amp + 1);
        if (semi == std::string_view::npos || semi - amp > 12) {
            plain(raw.substr(from, amp + 1 - from));
            from = amp + 1;
            continue;
        }
        const char32_t c = entity(raw.substr(amp + 1, semi - amp - 1));
        if (c == char32_t(-1)) {
            plain(raw.substr(from, semi + 1 - from));
        } else {
            if (amp > from)
                plain(raw.substr(from, amp - from));
            ref(c);
        }
        from = semi + 1;
    }
    if (from < raw.size())
        plain(raw.substr(from));
}

// XML's own reading of the characters written in a document (not those of references): a line
// end, CR LF or a lone CR, is a LF; in an attribute's value every line end and tab is a space.
// Calls add(view) with the text as the document means it; most texts need no change.
std::string normalizedCopy(std::string_view raw, bool attribute)
{
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '\r') {
            if (i + 1 < raw.size() && raw[i + 1] == '\n')
                ++i;
            c = '\n';
        }
        if (attribute && (c == '\n' || c == '\t'))
            c = ' ';
        out += c;
    }
    return out;
}

template <typename Add>
inline void normalized(std::string_view raw, bool attribute, Add add)
{
    if (std::memchr(raw.data(), '\r', raw.size()) == nullptr &&
        (!attribute || raw.find_first_of("\n\t") == std::string_view::npos)) {
        add(raw);
        return;
    }
    const std::string copy = normalizedCopy(raw, attribute);
    add(std::string_view(copy));
}

} // namespace

XmlScanner::XmlScanner(Fill fill, std::function<void(const QString&)> damaged)
    : m_fill(std::move(fill)), m_damaged(std::move(damaged))
{
    m_buf.resize(size_t(chunk));
}

void XmlScanner::decode(std::string_view raw, QString& out, bool attribute)
{
    decodeWith(
        raw,
        [&](std::string_view p) {
            normalized(p, attribute,
                       [&](std::string_view t) { out += QString::fromUtf8(t.data(), qsizetype(t.size())); });
        },
        [&](char32_t c) {
            if (c >= 0x10000) {
                out += QChar(QChar::highSurrogate(c));
                out += QChar(QChar::lowSurrogate(c));
            } else {
                out += QChar(char16_t(c));
            }
        });
}

void XmlScanner::decode(std::string_view raw, std::string& utf8)
{
    // the values of cells, short texts mostly: one look at each byte finds the common case
    bool plain = true;
    for (const char c : raw)
        if (c == '&' || c == '\r') {
            plain = false;
            break;
        }
    if (plain) {
        utf8.append(raw);
        return;
    }
    decodeWith(
        raw, [&](std::string_view p) { normalized(p, false, [&](std::string_view t) { utf8.append(t); }); },
        [&](char32_t c) { appendUtf8(utf8, c); });
}

void XmlScanner::appendText(QString& out) const
{
    if (m_cdata)
        normalized(m_text, false, [&](std::string_view t) { out += QString::fromUtf8(t.data(), qsizetype(t.size())); });
    else
        decode(m_text, out);
}

void XmlScanner::appendText(std::string& utf8) const
{
    if (m_cdata)
        normalized(m_text, false, [&](std::string_view t) { utf8.append(t); });
    else
        decode(m_text, utf8);
}

bool XmlScanner::attribute(std::string_view local, std::string_view& value) const
{
    for (const Attribute& a : m_attrs)
        if (a.name == local) {
            value = a.value;
            return true;
        }
    return false;
}

QString XmlScanner::attributeText(std::string_view local) const
{
    std::string_view raw;
    QString out;
    if (attribute(local, raw))
        decode(raw, out, true);
    return out;
}

// Keeps the unread bytes, makes room for at least as many again and reads; false when the
// input has ended and nothing was added.
bool XmlScanner::more()
{
    if (m_eof)
        return false;
    const qsizetype pending = m_end - m_pos;
    if (pending + chunk > maxToken)
        m_damaged(u"элемент XML длиннее 16 МБ"_s);
    if (m_pos > 0 && pending > 0)
        std::memmove(m_buf.data(), m_buf.data() + m_pos, size_t(pending));
    m_pos = 0;
    m_end = pending;
    const qsizetype want = pending + std::max(chunk, pending); // a long token doubles the room
    if (qsizetype(m_buf.size()) < want)
        m_buf.resize(size_t(want));
    bool added = false;
    while (m_end < qsizetype(m_buf.size())) {
        const qsizetype n = m_fill(m_buf.data() + m_end, qsizetype(m_buf.size()) - m_end);
        if (n <= 0) {
            m_eof = true;
            break;
        }
        m_end += n;
        added = true;
        if (m_end - pending >= chunk)
            break;
    }
    if (!m_started && m_end >= 3 && std::memcmp(m_buf.data(), "\xEF\xBB\xBF", 3) == 0)
        m_pos = 3; // a byte-order mark
    if (!m_started && m_end >= 2 &&
        ((uchar(m_buf[0]) == 0xFF && uchar(m_buf[1]) == 0xFE) || (uchar(m_buf[0]) == 0xFE && uchar(m_buf[1]) == 0xFF)))
        m_damaged(u"часть книги записана в кодировке UTF-16, она не читается"_s);
    m_started = true;
    return added;
}

qsizetype XmlScanner::find(qsizetype from, std::string_view what)
{
    const char* begin = m_buf.data() + from;
    const char* end = m_buf.data() + m_end;
    const char* hit = std::search(begin, end, what.begin(), what.end());
    return hit == end ? -1 : qsizetype(hit - m_buf.data());
}

// Parses the start tag whose '<' is at begin, in one pass; returns the position after its
// '>', or -1 when the buffer ends first.
qsizetype XmlScanner::parseStartTag(qsizetype begin)
{
    const char* base = m_buf.data();
    const char* p = base + begin + 1;
    const char* e = base + m_end;
    const char* n = p;
    while (p < e && !isSpace(*p) && *p != '/' && *p != '>')
        ++p;
    if (p >= e)
        return -1;
    m_name = localName(std::string_view(n, size_t(p - n)));
    m_attrs.clear();
    bool empty = false;
    for (;;) {
        while (p < e && isSpace(*p))
            ++p;
        if (p >= e)
            return -1;
        if (*p == '>') {
            ++p;
            break;
        }
        if (*p == '/') {
            if (++p >= e)
                return -1;
            if (*p == '>') {
                empty = true;
                ++p;
                break;
            }
            continue;
        }
        const char* an = p;
        while (p < e && !isSpace(*p) && *p != '=' && *p != '>' && *p != '/')
            ++p;
        if (p >= e)
            return -1;
        const std::string_view attrName(an, size_t(p - an));
        while (p < e && isSpace(*p))
            ++p;
        if (p >= e)
            return -1;
        std::string_view value;
        if (*p == '=') {
            ++p;
            while (p < e && isSpace(*p))
                ++p;
            if (p >= e)
                return -1;
            if (*p == '"' || *p == '\'') {
                const char q = *p++;
                const void* close = std::memchr(p, q, size_t(e - p));
                if (!close)
                    return -1;
                const char* v = p;
                p = static_cast<const char*>(close);
                value = std::string_view(v, size_t(p - v));
                ++p;
            } else {
                const char* v = p;
                while (p < e && !isSpace(*p) && *p != '>')
                    ++p;
                if (p >= e)
                    return -1;
                value = std::string_view(v, size_t(p - v));
            }
        }
        if (!attrName.empty() && m_attrs.size() < 256)
            m_attrs.push_back({localName(attrName), value});
    }
    m_pendingEnd = empty;
    return qsizetype(p - base);
}

XmlScanner::Token XmlScanner::next()
{
    if (m_pendingEnd) {
        m_pendingEnd = false;
        --m_depth;
        m_attrs.clear();
        return End;
    }
    for (;;) {
        if (m_pos >= m_end) {
            if (!more())
                return Eof;
            continue;
        }
        const char* base = m_buf.data();
        if (base[m_pos] != '<') {
            const void* lt = std::memchr(base + m_pos, '<', size_t(m_end - m_pos));
            if (!lt) {
                // A long text goes out in pieces, each ending before a reference and on a
                // character boundary, so that the buffer stays small.
                if (m_end - m_pos >= chunk) {
                    qsizetype cut = m_end - 1; // the last byte may begin a character cut off
                    for (qsizetype k = m_end - 1; k >= m_end - 64 && k > m_pos; --k)
                        if (base[k] == '&') {
                            cut = k;
                            break;
                        }
                    while (cut > m_pos && (uchar(base[cut]) & 0xC0) == 0x80)
                        --cut;
                    if (cut > m_pos + 1 && base[cut - 1] == '\r')
                        --cut; // a CR LF stays in one piece
                    if (cut <= m_pos)
                        cut = m_end; // not UTF-8: as it is
                    m_text = std::string_view(base + m_pos, size_t(cut - m_pos));
                    m_cdata = false;
                    m_pos = cut;
                    return Text;
                }
                if (more())
                    continue;
                m_text = std::string_view(base + m_pos, size_t(m_end - m_pos));
                m_cdata = false;
                m_pos = m_end;
                return Text;
            }
            const qsizetype at = qsizetype(static_cast<const char*>(lt) - base);
            m_text = std::string_view(base + m_pos, size_t(at - m_pos));
            m_cdata = false;
            m_pos = at;
            return Text;
        }
        if (m_end - m_pos < 2 && more())
            continue;
        const char second = m_end - m_pos >= 2 ? base[m_pos + 1] : '\0';
        if (second == '!' && m_end - m_pos < 9 && more())
            continue;
        const std::string_view head =
            second == '?' || second == '!'
                ? std::string_view(base + m_pos, size_t(std::min<qsizetype>(9, m_end - m_pos)))
                : std::string_view();
        auto skipTo = [&](std::string_view terminator, qsizetype from) -> qsizetype {
            const qsizetype hit = find(from, terminator);
            return hit < 0 ? -1 : hit + qsizetype(terminator.size());
        };
        if (head.starts_with("<?") || head.starts_with("<!--")) {
            const qsizetype after = head.starts_with("<?") ? skipTo("?>", m_pos + 2) : skipTo("-->", m_pos + 4);
            if (after < 0) {
                if (more())
                    continue;
                m_damaged(u"документ XML оборвался"_s);
                return Eof;
            }
            m_pos = after;
            continue;
        }
        if (head.starts_with("<![CDATA[")) {
            const qsizetype hit = find(m_pos + 9, "]]>");
            if (hit < 0) {
                if (more())
                    continue;
                m_damaged(u"документ XML оборвался"_s);
                return Eof;
            }
            m_text = std::string_view(base + m_pos + 9, size_t(hit - m_pos - 9));
            m_cdata = true;
            m_pos = hit + 3;
            return Text;
        }
        if (head.starts_with("<!")) {
            // a document type, perhaps with an internal subset in brackets: skipped unread
            qsizetype i = m_pos + 2;
            int brackets = 0;
            for (; i < m_end; ++i) {
                const char c = base[i];
                if (c == '[')
                    ++brackets;
                else if (c == ']')
                    --brackets;
                else if (c == '>' && brackets <= 0)
                    break;
            }
            if (i >= m_end) {
                if (more())
                    continue;
                m_damaged(u"документ XML оборвался"_s);
                return Eof;
            }
            m_pos = i + 1;
            continue;
        }
        if (second == '/') {
            const void* gt = std::memchr(base + m_pos + 2, '>', size_t(m_end - m_pos - 2));
            if (!gt) {
                if (more())
                    continue;
                m_damaged(u"документ XML оборвался"_s);
                return Eof;
            }
            const char* n = base + m_pos + 2;
            const char* e = static_cast<const char*>(gt);
            while (n < e && isSpace(*n))
                ++n;
            const char* ne = n;
            while (ne < e && !isSpace(*ne))
                ++ne;
            m_name = localName(std::string_view(n, size_t(ne - n)));
            m_attrs.clear();
            m_pos = qsizetype(e - base) + 1;
            if (m_depth > 0)
                --m_depth;
            return End;
        }
        const qsizetype after = parseStartTag(m_pos);
        if (after < 0) {
            if (more())
                continue;
            m_damaged(u"документ XML оборвался"_s);
            return Eof;
        }
        m_pos = after;
        ++m_depth;
        return Start;
    }
}

void XmlScanner::skipElement()
{
    const int depth = m_depth;
    for (;;) {
        const Token t = next();
        if (t == Eof)
            return;
        if (t == End && m_depth < depth)
            return;
    }
}

} // namespace kalder
