#ifndef WORKBOOKBUILDER_H
#define WORKBOOKBUILDER_H

// Hand-written workbook packages for the suites: every part is literal XML,
// so each case shows exactly what the reader or writer is given.

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QPair>
#include <QString>
#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>
#include <zlib.h>

using Parts = QList<QPair<QString, QByteArray>>;
Q_DECLARE_METATYPE(Parts)

namespace builder {

// A cell reference as (row, column): "B12" -> (12, 2).
inline QPair<int, int> position(const QString &ref)
{
    int i = 0;
    int column = 0;
    while (ref.at(i).isLetter())
        column = column * 26 + (ref.at(i++).unicode() - 'A' + 1);
    return {ref.mid(i).toInt(), column};
}

inline QByteArray worksheet(const QByteArray &sheetData)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
           "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
           "<dimension ref=\"A1\"/><sheetData>"
        + sheetData + "</sheetData></worksheet>";
}

inline QByteArray sharedStrings(const QByteArray &items)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"99\" uniqueCount=\"1\">"
        + items + "</sst>";
}

// A package in the shape Excel writes: sheets named Sheet1, Sheet2, ...
inline Parts workbook(const QList<QByteArray> &sheets, const QByteArray &sst = QByteArray())
{
    QByteArray types = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                       "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                       "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                       "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>";
    QByteArray book = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>";
    QByteArray rels = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    Parts sheetParts;
    for (int i = 1; i <= sheets.size(); ++i) {
        const QByteArray n = QByteArray::number(i);
        types += "<Override PartName=\"/xl/worksheets/sheet" + n
            + ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
        book += "<sheet name=\"Sheet" + n + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        rels += "<Relationship Id=\"rId" + n
            + "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
              "Target=\"worksheets/sheet" + n + ".xml\"/>";
        sheetParts.append({QStringLiteral("xl/worksheets/sheet%1.xml").arg(i), sheets.at(i - 1)});
    }
    if (!sst.isNull()) {
        types += "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>";
        rels += "<Relationship Id=\"rIdS\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" Target=\"sharedStrings.xml\"/>";
    }
    Parts parts;
    parts.append({QStringLiteral("[Content_Types].xml"), types + "</Types>"});
    parts.append({QStringLiteral("_rels/.rels"),
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                  "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
                  "Target=\"xl/workbook.xml\"/></Relationships>"});
    parts.append({QStringLiteral("xl/workbook.xml"), book + "</sheets></workbook>"});
    parts.append({QStringLiteral("xl/_rels/workbook.xml.rels"), rels + "</Relationships>"});
    parts += sheetParts;
    if (!sst.isNull())
        parts.append({QStringLiteral("xl/sharedStrings.xml"), sst});
    return parts;
}

inline void setPart(Parts &parts, const QString &name, const QByteArray &data)
{
    for (auto &p : parts) {
        if (p.first == name) {
            p.second = data;
            return;
        }
    }
    parts.append({name, data});
}

inline void removePart(Parts &parts, const QString &name)
{
    for (int i = 0; i < parts.size(); ++i) {
        if (parts.at(i).first == name)
            parts.removeAt(i--);
    }
}

inline void renamePart(Parts &parts, const QString &from, const QString &to)
{
    for (auto &p : parts) {
        if (p.first == from)
            p.first = to;
    }
}

inline QByteArray part(const Parts &parts, const QString &name)
{
    for (const auto &p : parts) {
        if (p.first == name)
            return p.second;
    }
    return QByteArray();
}

// lieAbout names an entry whose declared size is claimed to be 16 bytes,
// whatever it holds (the shape of a zip bomb).
inline bool writeZip(const QString &path, const Parts &parts, const QString &lieAbout = QString())
{
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdCreate))
        return false;
    for (const auto &p : parts) {
        QuaZipFile file(&zip);
        QuaZipNewInfo info(p.first);
        if (p.first == lieAbout) {
            // Compress by hand, then store the deflated bytes raw under a false size.
            QByteArray deflated = qCompress(p.second, 9);
            deflated = deflated.mid(6, deflated.size() - 10);  // strip Qt's size prefix and zlib wrapper
            info.uncompressedSize = 16;
            const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(p.second.constData()), 16));
            if (!file.open(QIODevice::WriteOnly, info, nullptr, crc, Z_DEFLATED, 9, true))
                return false;
            file.write(deflated);
        } else {
            if (!file.open(QIODevice::WriteOnly, info))
                return false;
            file.write(p.second);
        }
        file.close();
        if (file.getZipError() != ZIP_OK)
            return false;
    }
    zip.close();
    return zip.getZipError() == ZIP_OK;
}

} // namespace builder

#endif // WORKBOOKBUILDER_H
