// Reading the package parts: relationships, the workbook, shared strings.
#include "xlsxparts.h"

#include "xlsxutil.h"

namespace Xlsx {

bool finish(XmlReader &r, QString *error)
{
    // Whatever follows the root must be white space, comments or PIs.
    while (!r.atEnd())
        r.next();
    if (r.hasError()) {
        *error = QStringLiteral("XML error: %1").arg(r.errorString());
        return false;
    }
    return true;
}

// Moves to the root element and checks it.
bool readRoot(XmlReader &r, NsId ns, const char *local, QString *error)
{
    if (r.next() != XmlReader::StartElement)
        return finish(r, error);
    if (r.ns() == NsStrictMain || r.ns() == NsStrictDocRels) {
        *error = QStringLiteral("Strict Open XML workbooks are not supported");
        return false;
    }
    if (!r.is(ns, local)) {
        *error = QStringLiteral("unexpected root element %1").arg(r.localName());
        return false;
    }
    return true;
}

// Text of a <si> or <is>: plain <t>, or the <t> of each rich-text run; the
// phonetic runs (<rPh>) are a reading aid and not part of the text.
QString readRichText(XmlReader &r)
{
    QString text;
    while (r.next() == XmlReader::StartElement) {
        if (r.is(NsMain, "t")) {
            text += r.readText();
        } else if (r.is(NsMain, "r")) {
            while (r.next() == XmlReader::StartElement) {
                if (r.is(NsMain, "t"))
                    text += r.readText();
                else
                    r.skipElement();
            }
        } else {
            r.skipElement();
        }
    }
    return decodeEscapes(text);
}

bool parseRelationships(const QByteArray &xml, QVector<Relationship> *relationships, QString *error)
{
    relationships->clear();
    XmlReader r(xml);
    if (!readRoot(r, NsPackageRels, "Relationships", error))
        return false;
    while (r.next() == XmlReader::StartElement) {
        if (r.is(NsPackageRels, "Relationship")) {
            Relationship rel;
            rel.id = r.attributeText("Id");
            rel.type = r.attributeText("Type");
            rel.target = r.attributeText("Target");
            rel.external = r.attributeText("TargetMode") == QLatin1String("External");
            relationships->append(rel);
        }
        r.skipElement();
    }
    return finish(r, error);
}

bool parseWorkbook(const QByteArray &xml, int maxSheets, QVector<WorkbookSheet> *sheets, QString *error)
{
    sheets->clear();
    XmlReader r(xml);
    if (!readRoot(r, NsMain, "workbook", error))
        return false;
    while (r.next() == XmlReader::StartElement) {
        if (!r.is(NsMain, "sheets")) {
            r.skipElement();
            continue;
        }
        while (r.next() == XmlReader::StartElement) {
            if (r.is(NsMain, "sheet")) {
                if (sheets->size() == maxSheets) {
                    *error = QStringLiteral("more than %1 sheets").arg(maxSheets);
                    return false;
                }
                WorkbookSheet sheet;
                sheet.name = r.attributeText("name");
                if (const XmlReader::Attribute *id = r.attribute(NsDocRels, "id"))
                    sheet.relationshipId = r.text(id->value);
                sheets->append(sheet);
            }
            r.skipElement();
        }
    }
    return finish(r, error);
}

bool parseSharedStrings(const QByteArray &xml, QStringList *strings, QString *error)
{
    strings->clear();
    XmlReader r(xml);
    if (!readRoot(r, NsMain, "sst", error))
        return false;
    // The count attributes are often wrong; the <si> elements are what counts.
    while (r.next() == XmlReader::StartElement) {
        if (r.is(NsMain, "si"))
            strings->append(readRichText(r));
        else
            r.skipElement();
    }
    if (!finish(r, error)) {
        strings->clear();
        return false;
    }
    return true;
}

} // namespace Xlsx
