#include "xmlscanner.h"

#include <cstring>

namespace vl::xlsx {

namespace {

constexpr int kMaxAttributes = 256;

// Character classes, looked up: 1 for white space, 2 for a character of a name.
struct CharClasses {
    unsigned char of[256];
    constexpr CharClasses() : of()
    {
        for (int c = 0; c < 256; ++c)
            of[c] = 2;
        for (const char c : {' ', '\t', '\r', '\n'})
            of[uchar(c)] = 1;
        for (const char c : {'/', '>', '=', '<', '"', '\'', '&', '\0'})
            of[uchar(c)] = 0;
    }
};
constexpr CharClasses kClasses;

inline bool isSpace(char c) { return kClasses.of[uchar(c)] == 1; }
inline bool isNameChar(char c) { return kClasses.of[uchar(c)] == 2; }

// Names are short: comparing them in place is faster than calling memcmp.
inline bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

bool isBlank(std::string_view text)
{
    for (const char c : text)
        if (!isSpace(c))
            return false;
    return true;
}

std::string_view localPart(std::string_view name)
{
    for (size_t i = name.size(); i > 0; --i)
        if (name[i - 1] == ':')
            return name.substr(i);
    return name;
}

void appendUtf8(char32_t c, std::string *out)
{
    if (c < 0x80) {
        out->push_back(char(c));
    } else if (c < 0x800) {
        out->push_back(char(0xC0 | (c >> 6)));
        out->push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(char(0xE0 | (c >> 12)));
        out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(char(0x80 | (c & 0x3F)));
    } else {
        out->push_back(char(0xF0 | (c >> 18)));
        out->push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(char(0x80 | (c & 0x3F)));
    }
}

// The character an entity or character reference (the part between '&' and ';') names.
bool resolveReference(std::string_view ref, char32_t *c)
{
    if (ref == "lt")
        *c = '<';
    else if (ref == "gt")
        *c = '>';
    else if (ref == "amp")
        *c = '&';
    else if (ref == "apos")
        *c = '\'';
    else if (ref == "quot")
        *c = '"';
    else if (ref.size() >= 2 && ref[0] == '#') {
        const bool hex = ref[1] == 'x';
        const std::string_view digits = ref.substr(hex ? 2 : 1);
        if (digits.empty())
            return false;
        char32_t value = 0;
        for (const char d : digits) {
            int v;
            if (d >= '0' && d <= '9')
                v = d - '0';
            else if (hex && d >= 'a' && d <= 'f')
                v = d - 'a' + 10;
            else if (hex && d >= 'A' && d <= 'F')
                v = d - 'A' + 10;
            else
                return false;
            value = value * (hex ? 16 : 10) + char32_t(v);
            if (value > 0x10FFFF)
                return false;
        }
        if (value == 0 || (value >= 0xD800 && value <= 0xDFFF))
            return false;
        *c = value;
    } else {
        return false;
    }
    return true;
}

}  // namespace

XmlScanner::XmlScanner(std::string_view xml, int maxDepth)
    : m_begin(xml.data()), m_pos(xml.data()), m_end(xml.data() + xml.size()), m_maxDepth(maxDepth)
{
    m_stack.reserve(size_t(qBound(1, maxDepth, 1024)));
}

XmlScanner::Token XmlScanner::fail(const QString &why)
{
    m_error = QStringLiteral("%1 (byte %2)").arg(why).arg(position());
    m_pendingEnd = false;
    return m_token = Invalid;
}

bool XmlScanner::attribute(std::string_view name, std::string_view *raw, bool anyPrefix) const
{
    for (const Attribute &a : m_attributes) {
        const bool match = anyPrefix ? a.name.size() > name.size() + 1
                                           && sameName(a.name.substr(a.name.size() - name.size()), name)
                                           && a.name[a.name.size() - name.size() - 1] == ':'
                                     : sameName(a.name, name);
        if (match) {
            *raw = a.value;
            return true;
        }
    }
    return false;
}

XmlScanner::Token XmlScanner::next()
{
    if (m_token == EndOfDocument || m_token == Invalid)
        return m_token;
    m_cdata = false;
    if (m_pendingEnd) {
        m_pendingEnd = false;
        m_stack.pop_back();
        return m_token = EndElement;
    }
    const std::string_view all(m_begin, size_t(m_end - m_begin));
    for (;;) {
        if (m_pos >= m_end) {
            if (!m_stack.empty())
                return fail(QStringLiteral("the document ends inside an element"));
            if (!m_rootSeen)
                return fail(QStringLiteral("the document holds no element"));
            return m_token = EndOfDocument;
        }
        if (*m_pos != '<') {
            const void *lt = std::memchr(m_pos, '<', size_t(m_end - m_pos));
            const char *stop = lt ? static_cast<const char *>(lt) : m_end;
            const std::string_view text(m_pos, size_t(stop - m_pos));
            if (m_stack.empty()) {
                if (!isBlank(text))
                    return fail(QStringLiteral("text outside the document's element"));
                m_pos = stop;
                continue;
            }
            m_pos = stop;
            m_text = text;
            return m_token = Text;
        }
        if (m_end - m_pos < 2)
            return fail(QStringLiteral("the document ends inside a tag"));
        const size_t at = size_t(m_pos - m_begin);
        const char second = m_pos[1];
        if (second == '/')
            return endTag();
        if (second == '?') {
            const size_t close = all.find("?>", at + 2);
            if (close == std::string_view::npos)
                return fail(QStringLiteral("a processing instruction without end"));
            m_pos = m_begin + close + 2;
            continue;
        }
        if (second == '!') {
            const std::string_view rest = all.substr(at);
            if (rest.substr(0, 4) == "<!--") {
                const size_t close = all.find("-->", at + 4);
                if (close == std::string_view::npos)
                    return fail(QStringLiteral("a comment without end"));
                m_pos = m_begin + close + 3;
                continue;
            }
            if (rest.substr(0, 9) == "<![CDATA[") {
                if (m_stack.empty())
                    return fail(QStringLiteral("a CDATA section outside the document's element"));
                const size_t close = all.find("]]>", at + 9);
                if (close == std::string_view::npos)
                    return fail(QStringLiteral("a CDATA section without end"));
                m_text = all.substr(at + 9, close - at - 9);
                m_cdata = true;
                m_pos = m_begin + close + 3;
                return m_token = Text;
            }
            if (rest.substr(0, 9) == "<!DOCTYPE")
                return fail(QStringLiteral("a document type declaration, which workbooks do not use"));
            return fail(QStringLiteral("unknown markup"));
        }
        return startTag();
    }
}

XmlScanner::Token XmlScanner::startTag()
{
    const char *p = m_pos + 1;
    const char *nameStart = p;
    while (p < m_end && isNameChar(*p))
        ++p;
    if (p == nameStart)
        return fail(QStringLiteral("a tag without a name"));
    const std::string_view name(nameStart, size_t(p - nameStart));
    m_attributes.clear();
    bool empty = false;
    for (;;) {
        const char *beforeSpace = p;
        while (p < m_end && isSpace(*p))
            ++p;
        if (p >= m_end)
            return fail(QStringLiteral("the document ends inside a tag"));
        if (*p == '>') {
            ++p;
            break;
        }
        if (*p == '/') {
            if (p + 1 < m_end && p[1] == '>') {
                p += 2;
                empty = true;
                break;
            }
            return fail(QStringLiteral("a stray '/' in a tag"));
        }
        if (p == beforeSpace)
            return fail(QStringLiteral("an attribute not separated by space"));
        const char *attrStart = p;
        while (p < m_end && isNameChar(*p))
            ++p;
        if (p == attrStart)
            return fail(QStringLiteral("an attribute without a name"));
        const std::string_view attrName(attrStart, size_t(p - attrStart));
        while (p < m_end && isSpace(*p))
            ++p;
        if (p >= m_end || *p != '=')
            return fail(QStringLiteral("an attribute without a value"));
        ++p;
        while (p < m_end && isSpace(*p))
            ++p;
        if (p >= m_end || (*p != '"' && *p != '\''))
            return fail(QStringLiteral("an attribute value without quotes"));
        const char quote = *p++;
        const void *close = std::memchr(p, quote, size_t(m_end - p));
        if (!close)
            return fail(QStringLiteral("the document ends inside an attribute value"));
        const std::string_view value(p, size_t(static_cast<const char *>(close) - p));
        if (value.find('<') != std::string_view::npos)
            return fail(QStringLiteral("'<' in an attribute value"));
        if (m_attributes.size() >= kMaxAttributes)
            return fail(QStringLiteral("an element with more than %1 attributes").arg(kMaxAttributes));
        if (m_keepAttributes)
            m_attributes.push_back({attrName, value});
        p = static_cast<const char *>(close) + 1;
    }
    if (m_stack.empty()) {
        if (m_rootSeen)
            return fail(QStringLiteral("a second document element"));
        m_rootSeen = true;
    }
    if (int(m_stack.size()) >= m_maxDepth)
        return fail(QStringLiteral("elements nested more than %1 deep").arg(m_maxDepth));
    m_stack.push_back(name);
    m_localName = localPart(name);
    m_pos = p;
    m_pendingEnd = empty;
    return m_token = StartElement;
}

bool XmlScanner::skipElement()
{
    if (m_token != StartElement)
        return false;
    const size_t outside = m_stack.size() - 1;
    m_keepAttributes = false;
    while (m_stack.size() > outside) {
        const Token t = next();
        if (t == Invalid || t == EndOfDocument)
            break;
    }
    m_keepAttributes = true;
    m_attributes.clear();
    return m_token == EndElement;
}

XmlScanner::Token XmlScanner::endTag()
{
    const char *p = m_pos + 2;
    const char *nameStart = p;
    while (p < m_end && isNameChar(*p))
        ++p;
    const std::string_view name(nameStart, size_t(p - nameStart));
    while (p < m_end && isSpace(*p))
        ++p;
    if (p >= m_end || *p != '>' || name.empty())
        return fail(QStringLiteral("a broken end tag"));
    if (m_stack.empty() || !sameName(m_stack.back(), name))
        return fail(QStringLiteral("an end tag that closes no open element"));
    m_stack.pop_back();
    m_localName = localPart(name);
    m_pos = p + 1;
    return m_token = EndElement;
}

bool appendXmlText(std::string_view raw, bool cdata, std::string *out)
{
    size_t i = 0;
    const size_t n = raw.size();
    while (i < n) {
        size_t j = i;
        while (j < n && raw[j] != '\r' && (cdata || raw[j] != '&'))
            ++j;
        out->append(raw.data() + i, j - i);
        i = j;
        if (i >= n)
            break;
        if (raw[i] == '\r') {
            out->push_back('\n');
            ++i;
            if (i < n && raw[i] == '\n')
                ++i;
            continue;
        }
        const size_t semi = raw.find(';', i + 1);
        char32_t c = 0;
        if (semi == std::string_view::npos || !resolveReference(raw.substr(i + 1, semi - i - 1), &c))
            return false;
        appendUtf8(c, out);
        i = semi + 1;
    }
    return true;
}

QString xmlAttributeText(std::string_view raw)
{
    std::string text;
    if (!appendXmlText(raw, false, &text))
        return QString();
    return QString::fromUtf8(text.data(), int(text.size()));
}

}  // namespace vl::xlsx
