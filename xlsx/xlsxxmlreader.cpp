#include "xlsxxmlreader.h"

#include <cstring>

namespace Xlsx {

namespace {

inline bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

inline bool endsName(char c)
{
    switch (c) {
    case ' ': case '\t': case '\n': case '\r': case '/': case '>': case '=': case '<': case '"': case '\'':
        return true;
    default:
        return false;
    }
}

struct KnownNamespace
{
    const char *uri;
    NsId id;
};

const KnownNamespace Known[] = {
    {"http://schemas.openxmlformats.org/spreadsheetml/2006/main", NsMain},
    {"http://purl.oclc.org/ooxml/spreadsheetml/main", NsStrictMain},
    {"http://schemas.openxmlformats.org/officeDocument/2006/relationships", NsDocRels},
    {"http://purl.oclc.org/ooxml/officeDocument/relationships", NsStrictDocRels},
    {"http://schemas.openxmlformats.org/package/2006/relationships", NsPackageRels},
    {"http://schemas.openxmlformats.org/package/2006/content-types", NsContentTypes},
    {"http://www.w3.org/XML/1998/namespace", NsXml},
};

} // namespace

XmlReader::XmlReader(const QByteArray &data)
    : m_data(data), m_p(m_data.constData()), m_size(m_data.size())
{
    if (m_size >= 3 && std::memcmp(m_p, "\xEF\xBB\xBF", 3) == 0)
        m_pos = 3;
}

int XmlReader::lineAt(int pos) const
{
    int line = 1;
    const int end = qMin(pos, m_size);
    for (int i = 0; i < end; ++i)
        line += m_p[i] == '\n' ? 1 : 0;
    return line;
}

XmlReader::Token XmlReader::fail(const QString &message)
{
    if (m_token != Invalid)
        m_error = QStringLiteral("%1 at line %2").arg(message).arg(lineAt(m_pos));
    m_token = Invalid;
    return Invalid;
}

void XmlReader::raiseError(const QString &message)
{
    fail(message);
}

QString XmlReader::namespaceName() const
{
    for (const KnownNamespace &k : Known) {
        if (k.id == m_ns)
            return QString::fromLatin1(k.uri);
    }
    return m_ns == NsNone ? QString() : QStringLiteral("(other)");
}

XmlReader::Token XmlReader::next()
{
    if (m_token == Invalid || m_token == EndDocument)
        return m_token;
    if (m_pendingEnd) {
        m_pendingEnd = false;
        unbindTo(size_t(m_open.back().bindings));
        m_open.pop_back();
        m_rootDone = m_open.empty();
        return m_token = EndElement;
    }
    for (;;) {
        if (m_pos >= m_size) {
            if (!m_open.empty())
                return fail(QStringLiteral("premature end of document"));
            if (!m_started)
                return fail(QStringLiteral("no root element"));
            return m_token = EndDocument;
        }
        const char *lt = static_cast<const char *>(std::memchr(m_p + m_pos, '<', size_t(m_size - m_pos)));
        const int at = lt ? int(lt - m_p) : m_size;
        if (m_open.empty()) {
            for (int i = m_pos; i < at; ++i) {
                if (!isSpace(m_p[i])) {
                    m_pos = i;
                    return fail(QStringLiteral("text outside the root element"));
                }
            }
        }
        m_pos = at;
        if (m_pos >= m_size)
            continue;
        const char c = m_pos + 1 < m_size ? m_p[m_pos + 1] : '\0';
        if (c == '/')
            return readEndTag();
        if (c == '?' || c == '!') {
            if (!skipMarkup())
                return m_token;
            continue;
        }
        return readStartTag();
    }
}

bool XmlReader::skipMarkup()
{
    const auto skipTo = [this](const char *terminator, int from, const char *what) {
        const int found = m_data.indexOf(terminator, from);
        if (found < 0) {
            fail(QStringLiteral("unterminated %1").arg(QLatin1String(what)));
            return false;
        }
        m_pos = found + int(std::strlen(terminator));
        return true;
    };
    const char *at = m_p + m_pos;
    const int left = m_size - m_pos;
    if (at[1] == '?')
        return skipTo("?>", m_pos + 2, "processing instruction");
    if (left >= 4 && std::memcmp(at, "<!--", 4) == 0)
        return skipTo("-->", m_pos + 4, "comment");
    if (left >= 9 && std::memcmp(at, "<![CDATA[", 9) == 0) {
        if (m_open.empty()) {
            fail(QStringLiteral("text outside the root element"));
            return false;
        }
        return skipTo("]]>", m_pos + 9, "CDATA section");
    }
    if (left >= 9 && std::memcmp(at, "<!DOCTYPE", 9) == 0)
        fail(QStringLiteral("document type declarations are not allowed"));
    else
        fail(QStringLiteral("malformed markup"));
    return false;
}

NsId XmlReader::classify(Span uri) const
{
    QByteArray bytes = raw(uri);
    if (bytes.contains('&')) {
        QByteArray decoded;
        if (decode(bytes.constData(), bytes.size(), true, &decoded))
            bytes = decoded;
    }
    for (const KnownNamespace &k : Known) {
        if (bytes == k.uri)
            return k.id;
    }
    return NsOther;
}

void XmlReader::bind(Span prefix, NsId ns)
{
    const int index = int(m_bindings.size());
    if (prefix.length == 0) {
        m_bindings.push_back({prefix, ns, m_defaultBinding});
        m_defaultBinding = index;
        return;
    }
    const auto found = m_prefixes.try_emplace(view(prefix), index);
    m_bindings.push_back({prefix, ns, found.second ? -1 : found.first->second});
    found.first->second = index;
}

void XmlReader::unbindTo(size_t count)
{
    while (m_bindings.size() > count) {
        const Binding &b = m_bindings.back();
        if (b.prefix.length == 0)
            m_defaultBinding = b.previous;
        else if (b.previous < 0)
            m_prefixes.erase(view(b.prefix));
        else
            m_prefixes[view(b.prefix)] = b.previous;
        m_bindings.pop_back();
    }
}

NsId XmlReader::resolve(Span prefix, bool isElement)
{
    if (prefix.isNull())
        return isElement && m_defaultBinding >= 0 ? m_bindings[size_t(m_defaultBinding)].ns : NsNone;
    if (equals(prefix, "xml"))
        return NsXml;
    const auto found = m_prefixes.find(view(prefix));
    if (found != m_prefixes.end())
        return m_bindings[size_t(found->second)].ns;
    fail(QStringLiteral("undeclared namespace prefix \"%1\"").arg(QString::fromUtf8(raw(prefix))));
    return NsNone;
}

XmlReader::Token XmlReader::readStartTag()
{
    if (m_rootDone)
        return fail(QStringLiteral("content after the root element"));
    int p = m_pos + 1;
    const int nameStart = p;
    while (p < m_size && !endsName(m_p[p]))
        ++p;
    if (p == nameStart)
        return fail(QStringLiteral("malformed start tag"));
    m_qname = {nameStart, p - nameStart};
    m_attributes.clear();
    bool empty = false;
    for (;;) {
        const int attrStart = p;
        while (p < m_size && isSpace(m_p[p]))
            ++p;
        if (p >= m_size)
            return fail(QStringLiteral("unterminated start tag"));
        const char ch = m_p[p];
        if (ch == '>') {
            ++p;
            break;
        }
        if (ch == '/') {
            if (p + 1 < m_size && m_p[p + 1] == '>') {
                p += 2;
                empty = true;
                break;
            }
            return fail(QStringLiteral("malformed start tag"));
        }
        if (p == attrStart)
            return fail(QStringLiteral("attributes must be separated by white space"));
        const int an = p;
        while (p < m_size && !endsName(m_p[p]))
            ++p;
        if (p == an)
            return fail(QStringLiteral("malformed attribute"));
        const Span full{an, p - an};
        while (p < m_size && isSpace(m_p[p]))
            ++p;
        if (p >= m_size || m_p[p] != '=')
            return fail(QStringLiteral("attribute without a value"));
        ++p;
        while (p < m_size && isSpace(m_p[p]))
            ++p;
        if (p >= m_size || (m_p[p] != '"' && m_p[p] != '\''))
            return fail(QStringLiteral("unquoted attribute value"));
        const char quote = m_p[p++];
        const char *close = static_cast<const char *>(std::memchr(m_p + p, quote, size_t(m_size - p)));
        if (!close)
            return fail(QStringLiteral("unterminated attribute value"));
        const int valueEnd = int(close - m_p);
        if (std::memchr(m_p + p, '<', size_t(valueEnd - p)))
            return fail(QStringLiteral("'<' in an attribute value"));
        Attribute a;
        a.start = attrStart;
        a.end = valueEnd + 1;
        const char *colon = static_cast<const char *>(std::memchr(m_p + full.start, ':', size_t(full.length)));
        if (colon) {
            const int c = int(colon - m_p);
            a.prefix = {full.start, c - full.start};
            a.name = {c + 1, full.start + full.length - c - 1};
        } else {
            a.name = full;
        }
        a.value = {p, valueEnd - p};
        a.ns = NsNone;
        m_attributes.push_back(a);
        p = valueEnd + 1;
    }
    m_tagStart = m_pos;
    m_tagEnd = p;
    m_pos = p;
    m_empty = empty;

    const int bindingsBefore = int(m_bindings.size());
    for (Attribute &a : m_attributes) {
        if (a.prefix.isNull() && equals(a.name, "xmlns")) {
            bind(Span{a.name.start, 0}, classify(a.value));
            a.ns = NsOther;
        } else if (!a.prefix.isNull() && equals(a.prefix, "xmlns")) {
            if (a.value.length == 0)
                return fail(QStringLiteral("empty namespace for a prefix"));
            bind(a.name, classify(a.value));
            a.ns = NsOther;
        }
    }
    const char *colon = static_cast<const char *>(std::memchr(m_p + m_qname.start, ':', size_t(m_qname.length)));
    Span prefix;
    if (colon) {
        const int c = int(colon - m_p);
        prefix = {m_qname.start, c - m_qname.start};
        m_local = {c + 1, m_qname.start + m_qname.length - c - 1};
    } else {
        m_local = m_qname;
    }
    m_ns = resolve(prefix, true);
    for (Attribute &a : m_attributes) {
        if (!a.prefix.isNull() && a.ns == NsNone)
            a.ns = resolve(a.prefix, false);
    }
    if (m_token == Invalid)
        return Invalid;
    m_open.push_back({m_qname, bindingsBefore});
    m_started = true;
    m_pendingEnd = empty;
    return m_token = StartElement;
}

XmlReader::Token XmlReader::readEndTag()
{
    int p = m_pos + 2;
    const int nameStart = p;
    while (p < m_size && !endsName(m_p[p]))
        ++p;
    const Span name{nameStart, p - nameStart};
    while (p < m_size && isSpace(m_p[p]))
        ++p;
    if (p >= m_size || m_p[p] != '>' || name.length == 0)
        return fail(QStringLiteral("malformed end tag"));
    if (m_open.empty())
        return fail(QStringLiteral("end tag without a start tag"));
    const Span open = m_open.back().qname;
    if (open.length != name.length || std::memcmp(m_p + open.start, m_p + name.start, size_t(name.length)) != 0)
        return fail(QStringLiteral("end tag </%1> does not match <%2>")
                        .arg(QString::fromUtf8(raw(name)), QString::fromUtf8(raw(open))));
    m_pos = p + 1;
    unbindTo(size_t(m_open.back().bindings));
    m_open.pop_back();
    m_rootDone = m_open.empty();
    return m_token = EndElement;
}

const XmlReader::Attribute *XmlReader::attribute(NsId ns, const char *local) const
{
    for (const Attribute &a : m_attributes) {
        if (a.ns == ns && !a.prefix.isNull() && equals(a.name, local))
            return &a;
    }
    return nullptr;
}

void XmlReader::skipElement()
{
    if (m_token != StartElement)
        return;
    const size_t depth = m_open.size();
    for (;;) {
        const Token t = next();
        if (t == Invalid || t == EndDocument)
            return;
        if (t == EndElement && m_open.size() < depth)
            return;
    }
}

} // namespace Xlsx
