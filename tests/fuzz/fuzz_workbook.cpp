// Feeds arbitrary bytes to the workbook reader. Input that starts like a zip
// is the .xlsx file itself; anything else becomes the XML of the first sheet
// of a small stored (uncompressed) workbook, so the XML reader is reached
// without the zip checksums in the way. Every sheet is listed and read; a
// sheet that reads is written back with new texts and must read back with
// them. Results are codes, never a crash, a hang or runaway memory, and
// every error comes with a reason.
#include <cstddef>
#include <cstdint>

#include <QFile>
#include <QTemporaryDir>

#include "myxlsx.h"

namespace {

quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put16(QByteArray &out, quint32 v)
{
    out.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}

void put32(QByteArray &out, quint32 v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

QByteArray storedZip(const QList<QPair<QByteArray, QByteArray>> &entries)
{
    QByteArray zip;
    QByteArray directory;
    for (const auto &e : entries) {
        const quint32 offset = quint32(zip.size());
        const quint32 crc = crc32(e.second);
        for (QByteArray *header : {&zip, &directory}) {
            const bool central = header == &directory;
            put32(*header, central ? 0x02014b50 : 0x04034b50);
            if (central)
                put16(*header, 20);
            put16(*header, 20);
            put16(*header, 0);
            put16(*header, 0);  // stored
            put32(*header, 0);  // time and date
            put32(*header, crc);
            put32(*header, quint32(e.second.size()));
            put32(*header, quint32(e.second.size()));
            put16(*header, quint32(e.first.size()));
            put16(*header, 0);
            if (central) {
                put16(*header, 0);
                put16(*header, 0);
                put16(*header, 0);
                put32(*header, 0);
                put32(*header, offset);
            }
            header->append(e.first);
        }
        zip.append(e.second);
    }
    const quint32 start = quint32(zip.size());
    zip.append(directory);
    put32(zip, 0x06054b50);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, quint32(entries.size()));
    put16(zip, quint32(entries.size()));
    put32(zip, quint32(directory.size()));
    put32(zip, start);
    put16(zip, 0);
    return zip;
}

QByteArray workbookAround(const QByteArray &sheet)
{
    const QByteArray rels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    return storedZip({
        {"_rels/.rels", "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                        "<Relationship Id=\"rId1\" Type=\"" + rels + "/officeDocument\" Target=\"xl/workbook.xml\"/>"
                        "</Relationships>"},
        {"xl/workbook.xml", "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                            "xmlns:r=\"" + rels + "\"><sheets><sheet name=\"s\" sheetId=\"1\" r:id=\"rId1\"/>"
                            "</sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" Type=\"" + rels + "/worksheet\" Target=\"sheet.xml\"/>"
         "<Relationship Id=\"rId2\" Type=\"" + rels + "/sharedStrings\" Target=\"/xl/sst.xml\"/></Relationships>"},
        {"xl/sst.xml", "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>a</t></si>"
                       "<si><r><t>b</t></r><rPh><t>c</t></rPh></si></sst>"},
        {"xl/sheet.xml", sheet},
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("input.xlsx"));
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(input.startsWith("PK") ? input : workbookAround(input));
    }
    QString error;
    const QStringList sheets = MyXlsx::listSheets(path, &error);
    for (const QString &sheet : sheets) {
        QStringList header;
        QList<QStringList> rows;
        const int result = MyXlsx::readSheet(path, sheet, header, rows, &error);
        if ((result != 0 && result != -4) || (result != 0) == error.isEmpty())
            __builtin_trap();
        if (result != 0)
            continue;
        for (QStringList &row : rows) {
            if (row.size() != header.size())
                __builtin_trap();
            for (QString &text : row)
                text.prepend(QLatin1Char('x'));
        }
        for (QString &text : header)
            text.prepend(QLatin1Char('x'));
        const int written = MyXlsx::writeSheet(path, sheet, header, rows, &error);
        if ((written != 0) == error.isEmpty())
            __builtin_trap();
        if (written != 0)
            continue;  // a sheet the writer refuses stays as it was
        QStringList header2;
        QList<QStringList> rows2;
        if (MyXlsx::readSheet(path, sheet, header2, rows2) != 0)
            __builtin_trap();
        // Every written text reads back in its place.
        for (int k = 0; k < header.size(); ++k) {
            if (header2.value(k) != header.at(k))
                __builtin_trap();
        }
        for (int j = 0; j < rows.size(); ++j) {
            for (int k = 0; k < rows.at(j).size(); ++k) {
                if (rows2.value(j).value(k) != rows.at(j).at(k))
                    __builtin_trap();
            }
        }
    }
    return 0;
}
