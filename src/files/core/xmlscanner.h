#pragma once

// A small pull scanner for the XML parts of a workbook: UTF-8 bytes in, tokens out. It
// matches every end tag with its start tag, bounds the nesting of every element and never
// recurses, so no input can exhaust the stack. It knows what workbook parts hold:
// elements with attributes, character data, CDATA sections, comments and processing
// instructions. A document type declaration is refused (no workbook writer uses one, and
// it could declare entities). Names are compared as they are written; a prefix is not
// resolved to its namespace.

#include <QString>

#include <string>
#include <string_view>
#include <vector>

namespace vl::xlsx {

class XmlScanner {
public:
    enum Token { StartElement, EndElement, Text, EndOfDocument, Invalid };

    XmlScanner(std::string_view xml, int maxDepth);

    // Reads the next token. After EndOfDocument or Invalid it keeps returning that token.
    Token next();
    // Right after a StartElement: reads on to that element's end, checking what it holds
    // as next() would but handing out nothing. False (with the token Invalid or
    // EndOfDocument) when the element does not end properly.
    bool skipElement();
    Token token() const { return m_token; }

    // Bytes read so far: where the next token starts.
    qint64 position() const { return m_pos - m_begin; }
    // Elements open at the current position (a start element counts itself, an end
    // element no longer counts).
    int depth() const { return int(m_stack.size()); }
    // False right after an empty element's start (<a/>), whose end is still to come.
    bool atTokenBoundary() const { return !m_pendingEnd; }

    // The name of the current start or end element without its prefix.
    std::string_view name() const { return m_localName; }
    // The raw value of an attribute of the current start element written without prefix,
    // or, with `anyPrefix`, with some prefix ("r:id"). False when it has no such attribute.
    bool attribute(std::string_view name, std::string_view *raw, bool anyPrefix = false) const;
    // The raw characters of a Text token; CDATA sections come as their own Text tokens.
    std::string_view text() const { return m_text; }
    bool isCData() const { return m_cdata; }

    QString errorString() const { return m_error; }

private:
    Token fail(const QString &why);
    Token startTag();
    Token endTag();

    struct Attribute {
        std::string_view name;
        std::string_view value;
    };

    const char *m_begin;
    const char *m_pos;
    const char *m_end;
    int m_maxDepth;
    std::vector<std::string_view> m_stack;  // names of the open elements, as written
    std::vector<Attribute> m_attributes;
    Token m_token = Text;
    std::string_view m_localName;
    std::string_view m_text;
    bool m_cdata = false;
    bool m_pendingEnd = false;  // an empty element's end comes as a token of its own
    bool m_rootSeen = false;
    bool m_keepAttributes = true;
    QString m_error;
};

// Appends character data to `out` as UTF-8: the five predefined entities and character
// references resolved (unless `cdata`), CR LF and a lone CR turned into LF, as XML
// readers do. False for a reference that names no character.
bool appendXmlText(std::string_view raw, bool cdata, std::string *out);

// The text of an attribute's raw value, resolved like character data; an empty string
// when the value holds a reference that names no character.
QString xmlAttributeText(std::string_view raw);

}  // namespace vl::xlsx
