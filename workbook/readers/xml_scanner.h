// A small pull scanner of XML for the parts of .xlsx and .ods files. It reads its input in
// chunks and never holds more than the token in hand, so a sheet of any size streams through a
// buffer of a few hundred kilobytes; a tag, comment or CDATA section longer than 16 MB is
// refused as damage. Elements and attributes are matched by their local name:
// a prefix, whatever the writer chose, is dropped. No DTD is read and no entity but the five
// predefined and character references is expanded, so a document cannot grow while it is read.
#pragma once

#include <QString>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kalder {

class XmlScanner {
public:
    // Fills up to max bytes at dst and returns how many; 0 at the end of the input. A damaged
    // input is reported by the filler throwing its Failure.
    using Fill = std::function<qsizetype(char* dst, qsizetype max)>;
    // damaged: called (and must throw) when the document ends inside a tag.
    XmlScanner(Fill fill, std::function<void(const QString&)> damaged);

    enum Token { Start, End, Text, Eof };
    // The next token. An empty element <a/> gives Start and then End. Whitespace and text
    // between elements are Text tokens; comments, processing instructions and the document
    // type are skipped. The views below stay valid until the next call.
    Token next();

    std::string_view name() const { return m_name; } // local name of Start / End
    bool is(std::string_view local) const { return m_name == local; }
    int depth() const { return m_depth; } // open elements, the current one counted

    struct Attribute {
        std::string_view name; // local name
        std::string_view value; // raw: entities not yet replaced
    };
    const std::vector<Attribute>& attributes() const { return m_attrs; }
    // The raw value of the first attribute of that local name; false when there is none.
    bool attribute(std::string_view local, std::string_view& value) const;
    QString attributeText(std::string_view local) const;

    // The raw text of a Text token; rawIsLiteral() tells that it came from a CDATA section.
    std::string_view rawText() const { return m_text; }
    bool rawIsLiteral() const { return m_cdata; }
    // The text of a Text token, entities replaced and line ends read as XML does, appended to out.
    void appendText(QString& out) const;
    void appendText(std::string& utf8) const;

    // After Start: skips the element's content up to and including its End.
    void skipElement();

    // Replaces the predefined entities and character references of raw XML text, and reads its
    // line ends as XML does: CR LF and a lone CR are a LF (a reference &#13; stays a CR); in the
    // value of an attribute, line ends and tabs are spaces.
    static void decode(std::string_view raw, QString& out, bool attribute = false);
    static void decode(std::string_view raw, std::string& utf8);

private:
    bool more();
    qsizetype find(qsizetype from, std::string_view what);
    qsizetype parseStartTag(qsizetype begin);

    Fill m_fill;
    std::function<void(const QString&)> m_damaged;
    std::vector<char> m_buf;
    qsizetype m_pos = 0;
    qsizetype m_end = 0;
    bool m_eof = false;
    bool m_pendingEnd = false;
    bool m_cdata = false;
    bool m_started = false;
    int m_depth = 0;
    std::string_view m_name;
    std::string_view m_text;
    std::vector<Attribute> m_attrs;
};

} // namespace kalder
