// Text in the XML parts: entity and character references, line ends.
#include "xlsxxmlreader.h"

#include <cstring>

namespace Xlsx {

namespace {

inline bool isXmlChar(uint u)
{
    return u == 0x9 || u == 0xA || u == 0xD || (u >= 0x20 && u <= 0xD7FF) || (u >= 0xE000 && u <= 0xFFFD)
        || (u >= 0x10000 && u <= 0x10FFFF);
}

void appendUtf8(QByteArray *out, uint u)
{
    if (u < 0x80) {
        out->append(char(u));
    } else if (u < 0x800) {
        out->append(char(0xC0 | (u >> 6)));
        out->append(char(0x80 | (u & 0x3F)));
    } else if (u < 0x10000) {
        out->append(char(0xE0 | (u >> 12)));
        out->append(char(0x80 | ((u >> 6) & 0x3F)));
        out->append(char(0x80 | (u & 0x3F)));
    } else {
        out->append(char(0xF0 | (u >> 18)));
        out->append(char(0x80 | ((u >> 12) & 0x3F)));
        out->append(char(0x80 | ((u >> 6) & 0x3F)));
        out->append(char(0x80 | (u & 0x3F)));
    }
}

// The code point of a character reference's name ("#65", "#x41"). Plain
// digits are read here; any other spelling takes QByteArray's conversion,
// which is what every reference went through before.
bool characterReference(const char *name, int n, uint *u)
{
    const bool hex = n >= 2 && name[1] == 'x';
    const int first = hex ? 2 : 1;
    quint64 value = 0;
    bool digits = n > first;
    for (int k = first; k < n && digits; ++k) {
        const uchar c = uchar(name[k]);
        if (c >= '0' && c <= '9')
            value = value * (hex ? 16 : 10) + (c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            value = value * 16 + (c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            value = value * 16 + (c - 'A' + 10);
        else
            digits = false;
    }
    // At most 9 digits fit between '&' and ';', so value cannot overflow.
    if (digits) {
        *u = uint(value);
        return value <= 0xFFFFFFFFu;
    }
    bool ok = false;
    const QByteArray text(name + first, n - first);
    *u = text.toUInt(&ok, hex ? 16 : 10);
    return ok;
}

} // namespace

QString XmlReader::attributeText(const char *local) const
{
    const Attribute *a = attribute(local);
    if (!a)
        return QString();
    const char *p = m_p + a->value.start;
    for (int i = 0; i < a->value.length; ++i) {
        const uchar c = uchar(p[i]);
        if (c == '&' || c < 0x20) {
            QByteArray decoded;
            if (!decode(p, a->value.length, true, &decoded))
                return QString::fromUtf8(p, a->value.length);
            return QString::fromUtf8(decoded);
        }
    }
    return QString::fromUtf8(p, a->value.length);
}

bool XmlReader::decode(const char *p, int length, bool attribute, QByteArray *out) const
{
    out->reserve(out->size() + length);
    int run = 0;  // start of the plain bytes not yet copied
    for (int i = 0; i < length; ++i) {
        const char c = p[i];
        if (uchar(c) >= 0x20 ? c != '&' : (c == '\n' || c == '\t') && !attribute)
            continue;
        out->append(p + run, i - run);
        if (c == '&') {
            int semi = i + 1;
            while (semi < length && semi - i <= 10 && p[semi] != ';')
                ++semi;
            if (semi >= length || p[semi] != ';')
                return false;
            const char *name = p + i + 1;
            const int n = semi - i - 1;
            const auto is = [name, n](const char *known) {
                return int(std::strlen(known)) == n && std::memcmp(name, known, size_t(n)) == 0;
            };
            if (is("lt")) {
                out->append('<');
            } else if (is("gt")) {
                out->append('>');
            } else if (is("amp")) {
                out->append('&');
            } else if (is("quot")) {
                out->append('"');
            } else if (is("apos")) {
                out->append('\'');
            } else if (n >= 1 && name[0] == '#') {
                uint u = 0;
                if (!characterReference(name, n, &u) || !isXmlChar(u))
                    return false;
                appendUtf8(out, u);
            } else {
                return false;
            }
            i = semi;
        } else if (c == '\r') {
            // Line ends read as a single line feed, as any XML reader sees them.
            out->append(attribute ? ' ' : '\n');
            if (i + 1 < length && p[i + 1] == '\n')
                ++i;
        } else if (c != '\t' && c != '\n') {
            return false;
        } else {
            out->append(' ');  // tab or line feed in an attribute
        }
        run = i + 1;
    }
    out->append(p + run, length - run);
    return true;
}

QString XmlReader::text(Span span) const
{
    if (span.isNull())
        return QString();
    QByteArray decoded;
    if (!decode(m_p + span.start, span.length, false, &decoded))
        return QString::fromUtf8(m_p + span.start, span.length);
    return QString::fromUtf8(decoded);
}

QString XmlReader::readText(Span *plain)
{
    if (plain)
        *plain = Span();
    if (m_token != StartElement)
        return QString();
    if (m_pendingEnd) {
        next();
        if (plain)
            *plain = Span{m_pos, 0};
        return QString();
    }
    QByteArray buffer;
    bool first = true;
    for (;;) {
        const char *lt = static_cast<const char *>(std::memchr(m_p + m_pos, '<', size_t(m_size - m_pos)));
        if (!lt) {
            fail(QStringLiteral("premature end of document"));
            return QString();
        }
        const int at = int(lt - m_p);
        const char *seg = m_p + m_pos;
        const int segLength = at - m_pos;
        // The common case: one run of text with nothing to decode.
        if (first && at + 1 < m_size && m_p[at + 1] == '/') {
            bool simple = true;
            for (int i = 0; i < segLength && simple; ++i) {
                const uchar c = uchar(seg[i]);
                simple = c != '&' && (c >= 0x20 || c == '\t' || c == '\n');
            }
            if (simple) {
                const Span span{m_pos, segLength};
                m_pos = at;
                if (next() != EndElement)
                    return QString();
                if (plain) {
                    *plain = span;
                    return QString();
                }
                return QString::fromUtf8(seg, segLength);
            }
        }
        first = false;
        if (!decode(seg, segLength, false, &buffer)) {
            fail(QStringLiteral("bad character or reference in text"));
            return QString();
        }
        m_pos = at;
        if (at + 1 < m_size && m_p[at + 1] == '/') {
            if (next() != EndElement)
                return QString();
            return QString::fromUtf8(buffer);
        }
        if (m_size - at >= 9 && std::memcmp(m_p + at, "<![CDATA[", 9) == 0) {
            const int end = m_data.indexOf("]]>", at + 9);
            if (end < 0) {
                fail(QStringLiteral("unterminated CDATA section"));
                return QString();
            }
            buffer.append(m_p + at + 9, end - at - 9);
            m_pos = end + 3;
            continue;
        }
        if (m_p[at + 1] == '!' || m_p[at + 1] == '?') {
            if (!skipMarkup())
                return QString();
            continue;
        }
        fail(QStringLiteral("unexpected child element in text"));
        return QString();
    }
}

} // namespace Xlsx
