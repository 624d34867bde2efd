#ifndef XLSXUTIL_H
#define XLSXUTIL_H

#include <QByteArray>
#include <QLatin1String>
#include <QString>

class QTextCodec;

namespace Xlsx {

constexpr int MaxRow = 1048576;
constexpr int MaxColumn = 16384;

namespace Ns {
const QLatin1String DocRels("http://schemas.openxmlformats.org/officeDocument/2006/relationships");
const QLatin1String StrictDocRels("http://purl.oclc.org/ooxml/officeDocument/relationships");
} // namespace Ns

// "B7" -> row 7, column 2. False for anything outside A1:XFD1048576.
bool parseCellReference(const char *ref, int length, int *row, int *column);
QString columnName(int column);
QString cellReference(int row, int column);

// ST_Xstring escapes: "_x000D_" stands for a carriage return and "_x005F_"
// for an underscore that would otherwise start such an escape.
QString decodeEscapes(const QString &text);
QString encodeEscapes(const QString &text);

QString escapeText(const QString &text);

// XML parts are UTF-8 or UTF-16 (with BOM). The reader works on UTF-8, so a
// UTF-16 part is converted; codec receives the encoding in use so a patched
// part is written back the same way.
QByteArray toUtf8Xml(const QByteArray &data, QTextCodec **codec);
QByteArray fromUtf8Xml(const QByteArray &utf8, QTextCodec *codec);

// Part names are zip entry names without a leading slash. A relationship
// target is relative to the source part's folder unless it starts with '/';
// %-escapes are decoded. Empty when the target leaves the package.
QString resolveTarget(const QString &sourcePart, const QString &target);
// "xl/workbook.xml" -> "xl/_rels/workbook.xml.rels"; "" -> "_rels/.rels".
QString relationshipsPart(const QString &part);
// The other way: the part whose relationships a .rels part holds.
QString relationshipsSource(const QString &relsPart);

} // namespace Xlsx

#endif // XLSXUTIL_H
