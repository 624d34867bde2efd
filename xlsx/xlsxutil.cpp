#include "xlsxutil.h"

#include <QStringList>
#include <QTextCodec>
#include <QUrl>

#include "xlsxcellrange.h"

namespace Xlsx {

bool parseCellReference(const char *ref, int length, int *row, int *column)
{
    int i = 0;
    const int n = length;
    qint64 c = 0;
    while (i < n && i < 4) {
        const uchar ch = uchar(ref[i]);
        if (ch >= 'A' && ch <= 'Z')
            c = c * 26 + (ch - 'A' + 1);
        else if (ch >= 'a' && ch <= 'z')
            c = c * 26 + (ch - 'a' + 1);
        else
            break;
        ++i;
    }
    if (i == 0 || c > MaxColumn || i == n)
        return false;
    qint64 r = 0;
    for (int j = i; j < n; ++j) {
        const uchar ch = uchar(ref[j]);
        if (ch < '0' || ch > '9' || j - i >= 8)
            return false;
        r = r * 10 + (ch - '0');
    }
    if (r < 1 || r > MaxRow)
        return false;
    *row = int(r);
    *column = int(c);
    return true;
}

QString columnName(int column)
{
    QString name;
    while (column > 0) {
        const int digit = (column - 1) % 26;
        name.prepend(QChar('A' + digit));
        column = (column - 1) / 26;
    }
    return name;
}

QString cellReference(int row, int column)
{
    return columnName(column) + QString::number(row);
}

QString CellRange::toString() const
{
    if (!isValid())
        return QStringLiteral("A1");
    const QString first = cellReference(firstRow, firstColumn);
    if (firstRow == lastRow && firstColumn == lastColumn)
        return first;
    return first + QLatin1Char(':') + cellReference(lastRow, lastColumn);
}

static int hexValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Returns the escaped code unit when text[i..i+6] is "_xHHHH_", else -1.
static int escapeAt(const QString &text, int i)
{
    if (i + 6 >= text.size() || text.at(i) != QLatin1Char('_') || text.at(i + 1) != QLatin1Char('x')
        || text.at(i + 6) != QLatin1Char('_'))
        return -1;
    int value = 0;
    for (int k = 2; k < 6; ++k) {
        const int h = hexValue(text.at(i + k));
        if (h < 0)
            return -1;
        value = value * 16 + h;
    }
    return value;
}

QString decodeEscapes(const QString &text)
{
    if (!text.contains(QLatin1String("_x")))
        return text;
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const int value = escapeAt(text, i);
        if (value >= 0) {
            out.append(QChar(ushort(value)));
            i += 6;
        } else {
            out.append(text.at(i));
        }
    }
    return out;
}

static bool needsEscape(const QString &text, int i)
{
    const QChar c = text.at(i);
    const ushort u = c.unicode();
    if (u < 0x20)
        return u != '\t' && u != '\n';
    if (u == 0xFFFE || u == 0xFFFF)
        return true;
    if (c.isHighSurrogate())
        return i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate();
    if (c.isLowSurrogate())
        return i == 0 || !text.at(i - 1).isHighSurrogate();
    return false;
}

QString encodeEscapes(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        if (needsEscape(text, i) || escapeAt(text, i) >= 0)
            out += QLatin1String("_x")
                + QString::number(text.at(i).unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'))
                + QLatin1Char('_');
        else
            out.append(text.at(i));
    }
    return out;
}

QString escapeText(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        default: out += c;
        }
    }
    return out;
}

QByteArray toUtf8Xml(const QByteArray &data, QTextCodec **codec)
{
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    QTextCodec *found = QTextCodec::codecForUtfText(data, utf8);
    if (codec)
        *codec = found;
    if (found == utf8)
        return data;
    return found->toUnicode(data).toUtf8();
}

QByteArray fromUtf8Xml(const QByteArray &utf8, QTextCodec *codec)
{
    if (!codec || codec->mibEnum() == 106)  // UTF-8
        return utf8;
    return codec->fromUnicode(QString::fromUtf8(utf8));  // UTF-16 codecs write their BOM
}

QString resolveTarget(const QString &sourcePart, const QString &target)
{
    QString t = QUrl::fromPercentEncoding(target.toUtf8());
    t.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const int hash = t.indexOf(QLatin1Char('#'));
    if (hash >= 0)
        t.truncate(hash);
    QString path;
    if (t.startsWith(QLatin1Char('/'))) {
        path = t;
    } else {
        const int slash = sourcePart.lastIndexOf(QLatin1Char('/'));
        path = (slash >= 0 ? sourcePart.left(slash + 1) : QString()) + t;
    }
    QStringList segments;
    const QStringList raw = path.split(QLatin1Char('/'));
    for (const QString &s : raw) {
        if (s.isEmpty() || s == QLatin1String("."))
            continue;
        if (s == QLatin1String("..")) {
            if (segments.isEmpty())
                return QString();
            segments.removeLast();
            continue;
        }
        segments.append(s);
    }
    return segments.join(QLatin1Char('/'));
}

QString relationshipsPart(const QString &part)
{
    const int slash = part.lastIndexOf(QLatin1Char('/'));
    return part.left(slash + 1) + QLatin1String("_rels/") + part.mid(slash + 1) + QLatin1String(".rels");
}

QString relationshipsSource(const QString &relsPart)
{
    const int folder = relsPart.lastIndexOf(QLatin1String("_rels/"), -1, Qt::CaseInsensitive);
    QString name = relsPart.mid(folder + 6);
    name.chop(5);  // ".rels"
    return relsPart.left(folder) + name;
}

} // namespace Xlsx
