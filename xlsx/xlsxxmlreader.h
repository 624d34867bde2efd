#ifndef XLSXXMLREADER_H
#define XLSXXMLREADER_H

#include <cstring>

#include <string_view>
#include <unordered_map>
#include <vector>

#include <QByteArray>
#include <QString>

namespace Xlsx {

// Namespaces the workbook code tells apart; every other URI is NsOther.
enum NsId : quint8 {
    NsNone,
    NsOther,
    NsMain,
    NsStrictMain,
    NsDocRels,
    NsStrictDocRels,
    NsPackageRels,
    NsContentTypes,
    NsXml
};

// A pull reader over UTF-8 XML that reports start and end tags with byte
// offsets, so a part can be patched without touching the bytes around the
// change. Namespaces are resolved by URI. It checks what the workbook code
// relies on: tags nest and match, attributes are quoted, entity and
// character references are known, prefixes are declared, one root element,
// no DTD. QXmlStreamReader was three times slower on large sheets.
class XmlReader
{
public:
    enum Token { NoToken, StartElement, EndElement, EndDocument, Invalid };

    struct Span
    {
        int start = 0;
        int length = -1;
        bool isNull() const { return length < 0; }
    };

    struct Attribute
    {
        int start;  // the white space before the name
        int end;    // after the closing quote
        Span prefix;
        Span name;
        Span value;
        NsId ns;
    };

    explicit XmlReader(const QByteArray &data);

    // The next start or end tag; text, comments and processing instructions
    // in between are passed over. An empty element gives both.
    Token next();
    Token token() const { return m_token; }
    bool atEnd() const { return m_token == EndDocument || m_token == Invalid; }
    bool hasError() const { return m_token == Invalid; }
    QString errorString() const { return m_error; }
    void raiseError(const QString &message);

    NsId ns() const { return m_ns; }
    // Inline so that the length of a literal name folds to a constant.
    bool is(NsId ns, const char *local) const { return m_ns == ns && equals(m_local, local); }
    bool localNameIs(const char *local) const { return equals(m_local, local); }
    QString localName() const { return text(m_local); }
    QString namespaceName() const;  // for messages

    // The current start tag: [tagStart, tagEnd) in bytes; qualified name
    // ends at tagStart + 1 + qualifiedNameLength.
    int tagStart() const { return m_tagStart; }
    int tagEnd() const { return m_tagEnd; }
    int qualifiedNameLength() const { return m_qname.length; }
    QByteArray qualifiedName() const { return raw(m_qname); }
    bool isEmptyElement() const { return m_empty; }
    const std::vector<Attribute> &attributes() const { return m_attributes; }
    const Attribute *attribute(const char *local) const  // without prefix
    {
        const size_t n = std::strlen(local);
        for (const Attribute &a : m_attributes) {
            if (a.prefix.isNull() && a.name.length == int(n) && std::memcmp(m_p + a.name.start, local, n) == 0)
                return &a;
        }
        return nullptr;
    }
    const Attribute *attribute(NsId ns, const char *local) const;
    QString attributeText(const char *local) const;

    // Offset just after the current token.
    int offset() const { return m_pos; }

    // From a start tag: the element's text (no child elements allowed),
    // leaving the reader on its end tag. With plain given, text that needs no
    // decoding is not copied: *plain gets its span and the result is empty.
    QString readText(Span *plain = nullptr);
    // From a start tag: to its end tag.
    void skipElement();

    // Decoded text of a span (entity and character references resolved).
    QString text(Span span) const;
    QByteArray raw(Span span) const { return span.isNull() ? QByteArray() : m_data.mid(span.start, span.length); }
    bool equals(Span span, const char *s) const
    {
        const size_t n = std::strlen(s);
        return span.length == int(n) && std::memcmp(m_p + span.start, s, n) == 0;
    }
    // The bytes of the part, for spans read in place.
    const char *data() const { return m_p; }

    // Number of the line that holds byte offset pos.
    int lineAt(int pos) const;

private:
    // A namespace declaration in scope; previous is the binding of the same
    // prefix that it hides, or -1.
    struct Binding
    {
        Span prefix;  // empty for the default namespace
        NsId ns;
        int previous;
    };
    struct Open
    {
        Span qname;
        int bindings;
    };

    Token fail(const QString &message);
    bool skipMarkup();  // comment, PI, CDATA (as text) at m_pos; false on error
    Token readStartTag();
    Token readEndTag();
    void bind(Span prefix, NsId ns);
    void unbindTo(size_t count);
    NsId resolve(Span prefix, bool isElement);
    std::string_view view(Span span) const { return std::string_view(m_p + span.start, size_t(span.length)); }
    NsId classify(Span uri) const;
    bool decode(const char *p, int length, bool attribute, QByteArray *out) const;

    QByteArray m_data;
    const char *m_p;
    int m_size;
    int m_pos = 0;
    Token m_token = NoToken;
    bool m_started = false;
    bool m_rootDone = false;
    bool m_pendingEnd = false;
    mutable QString m_error;

    NsId m_ns = NsNone;
    Span m_qname;
    Span m_local;
    int m_tagStart = 0;
    int m_tagEnd = 0;
    bool m_empty = false;
    // std::vector keeps its capacity on clear(); QVector would free it per tag.
    std::vector<Attribute> m_attributes;
    // Every binding in scope, innermost last; each prefix's innermost one is
    // found by hash, so a prefix resolves in constant time however many are
    // declared.
    std::vector<Binding> m_bindings;
    std::unordered_map<std::string_view, int> m_prefixes;
    int m_defaultBinding = -1;
    std::vector<Open> m_open;
};

} // namespace Xlsx

#endif // XLSXXMLREADER_H
