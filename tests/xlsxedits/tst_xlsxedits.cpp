// Edits in any order and either way of selecting a sheet give the same file;
// character references in every spelling the reader takes; packages whose
// parts or zip directory lie far from the end of the file.
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include "../xlsx/workbookbuilder.h"
#include "xlsxdocument.h"

namespace {

QByteArray entryData(const QString &path, const QString &name)
{
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdUnzip) || !zip.setCurrentFile(name))
        return QByteArray();
    QuaZipFile file(&zip);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

int entryCount(const QString &path)
{
    QuaZip zip(path);
    return zip.open(QuaZip::mdUnzip) ? zip.getEntriesCount() : -1;
}

QByteArray sheetDataOf(const QByteArray &xml)
{
    const int start = xml.indexOf("<sheetData>");
    const int end = xml.indexOf("</sheetData>");
    return start < 0 || end < 0 ? QByteArray() : xml.mid(start + 11, end - start - 11);
}

} // namespace

class TestXlsxEdits : public QObject
{
    Q_OBJECT

private slots:
    void editOrder_data();
    void editOrder();
    void characterReferences_data();
    void characterReferences();
    void attributeValues();
    void partsFarFromTheEnd_data();
    void partsFarFromTheEnd();

private:
    QString store(const Parts &parts)
    {
        const QString path = m_dir.filePath(QStringLiteral("w%1.xlsx").arg(++m_count));
        return builder::writeZip(path, parts) ? path : QString();
    }

    QTemporaryDir m_dir;
    int m_count = 0;
};

void TestXlsxEdits::editOrder_data()
{
    QTest::addColumn<QStringList>("writes");

    // Every order ends with A1=x, B1=b, A2=n and A3 emptied.
    QTest::newRow("ascending") << QStringList{"1,1=x", "1,2=b", "2,1=n", "3,1="};
    QTest::newRow("descending") << QStringList{"3,1=", "2,1=n", "1,2=b", "1,1=x"};
    QTest::newRow("rewrites, the last one counts") << QStringList{"1,2=zz", "3,1=y", "1,1=q", "2,1=n", "1,2=b",
                                                                 "3,1=", "1,1=x"};
    QTest::newRow("a rewrite before any other write")
        << QStringList{"1,1=q", "1,1=x", "3,1=", "1,2=b", "2,1=n"};
}

void TestXlsxEdits::editOrder()
{
    QFETCH(QStringList, writes);

    // A1 was a number and becomes text; B1 keeps its text and so its element;
    // row 2 is new and goes before row 3; A3 loses its value, keeps its style.
    const QByteArray sheetData = "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\" t=\"inlineStr\"><is><t>b</t></is></c>"
                                 "</row><row r=\"3\"><c r=\"A3\" s=\"2\"><v>3</v></c></row>";
    const QByteArray expected = "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>x</t></is></c>"
                                "<c r=\"B1\" t=\"inlineStr\"><is><t>b</t></is></c></row>"
                                "<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>n</t></is></c></row>"
                                "<row r=\"3\"><c r=\"A3\" s=\"2\"/></row>";

    for (const auto mode : {XlsxDocument::ForReading, XlsxDocument::ForEditing}) {
        const QString path = store(builder::workbook({builder::worksheet(sheetData)}));
        QVERIFY(!path.isEmpty());
        XlsxDocument doc(path);
        QVERIFY2(doc.selectSheet("Sheet1", mode), qPrintable(doc.errorString()));
        for (const QString &w : writes) {
            const int comma = w.indexOf(','), eq = w.indexOf('=');
            QVERIFY(doc.write(w.left(comma).toInt(), w.mid(comma + 1, eq - comma - 1).toInt(), w.mid(eq + 1)));
        }
        QCOMPARE(doc.read(1, 1).toString(), QStringLiteral("x"));
        QCOMPARE(doc.read(1, 2).toString(), QStringLiteral("b"));
        QCOMPARE(doc.read(2, 1).toString(), QStringLiteral("n"));
        QVERIFY(!doc.read(3, 1).isValid());
        QCOMPARE(doc.dimension().toString(), QStringLiteral("A1:B2"));
        QVERIFY2(doc.save(), qPrintable(doc.errorString()));

        const QByteArray xml = entryData(path, "xl/worksheets/sheet1.xml");
        QCOMPARE(sheetDataOf(xml), expected);
        QVERIFY(xml.contains("<dimension ref=\"A1:B2\"/>"));
        // Saving twice writes the same edits again, not edits on edits.
        QVERIFY(doc.save());
        QCOMPARE(entryData(path, "xl/worksheets/sheet1.xml"), xml);
    }
}

void TestXlsxEdits::characterReferences_data()
{
    QTest::addColumn<QByteArray>("text");  // as written inside <t>
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QString>("value");

    QTest::newRow("decimal") << QByteArray("&#65;&#66;") << true << "AB";
    QTest::newRow("hexadecimal") << QByteArray("&#x41;&#x6a;&#x6A;") << true << "Ajj";
    QTest::newRow("CJK") << QByteArray("&#22320;&#x5740;") << true << QString::fromUtf8("地址");
    QTest::newRow("beyond the BMP") << QByteArray("&#x1F600;") << true << QString::fromUtf8("😀");
    QTest::newRow("nine digits, leading zeros") << QByteArray("&#000000065;") << true << "A";
    QTest::newRow("ten digits") << QByteArray("&#0000000065;") << false << QString();
    QTest::newRow("predefined entities") << QByteArray("a&amp;b&lt;&gt;&quot;&apos;") << true << "a&b<>\"'";
    QTest::newRow("line ends") << QByteArray("a\r\nb\rc") << true << "a\nb\nc";
    QTest::newRow("upper-case X") << QByteArray("&#X41;") << false << QString();
    QTest::newRow("no digits") << QByteArray("&#;") << false << QString();
    QTest::newRow("no hex digits") << QByteArray("&#x;") << false << QString();
    QTest::newRow("NUL") << QByteArray("&#0;") << false << QString();
    QTest::newRow("surrogate") << QByteArray("&#xD800;") << false << QString();
    QTest::newRow("beyond Unicode") << QByteArray("&#x110000;") << false << QString();
    QTest::newRow("unknown entity") << QByteArray("&nbsp;") << false << QString();
    QTest::newRow("unterminated") << QByteArray("&#65") << false << QString();
}

void TestXlsxEdits::characterReferences()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, readable);
    QFETCH(QString, value);

    const QString path = store(builder::workbook(
        {builder::worksheet("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>" + text + "</t></is></c></row>")}));
    XlsxDocument doc(path);
    QCOMPARE(doc.selectSheet("Sheet1", XlsxDocument::ForEditing), readable);
    if (!readable) {
        QVERIFY(!doc.errorString().isEmpty());
        QVERIFY(!doc.write(1, 1, "x"));
        return;
    }
    QCOMPARE(doc.read(1, 1).toString(), value);
    // The same text written back leaves the cell as it was.
    QVERIFY(doc.write(1, 1, value));
    QVERIFY(doc.save());
    QVERIFY(entryData(path, "xl/worksheets/sheet1.xml").contains("<t>" + text + "</t>"));
}

void TestXlsxEdits::attributeValues()
{
    // In attributes a literal tab or line end reads as a space; a reference
    // to one stays what it names.
    Parts parts = builder::workbook({builder::worksheet("")});
    QByteArray book = builder::part(parts, "xl/workbook.xml");
    book.replace("name=\"Sheet1\"", "name=\"X&amp;&#x41;&#9;\tY\r\nZ\"");
    builder::setPart(parts, "xl/workbook.xml", book);
    XlsxDocument doc(store(parts));
    QVERIFY2(doc.isLoaded(), qPrintable(doc.errorString()));
    QCOMPARE(doc.sheetNames(), QStringList{QStringLiteral("X&A\t Y Z")});
}

void TestXlsxEdits::partsFarFromTheEnd_data()
{
    QTest::addColumn<int>("blobBytes");  // incompressible, stored after the sheet
    QTest::addColumn<int>("padding");    // extra small entries

    QTest::newRow("sheet 600 KiB before the end") << 600 * 1024 << 0;
    QTest::newRow("zip directory of 4000 entries") << 0 << 4000;
    QTest::newRow("both") << 300 * 1024 << 4000;
}

void TestXlsxEdits::partsFarFromTheEnd()
{
    QFETCH(int, blobBytes);
    QFETCH(int, padding);

    Parts parts = builder::workbook({builder::worksheet("<row r=\"1\"><c r=\"A1\"><v>7</v></c>"
                                                        "<c r=\"B1\" t=\"inlineStr\"><is><t>keep</t></is></c></row>")});
    QByteArray blob(blobBytes, '\0');
    QRandomGenerator random(42);
    for (int i = 0; i < blob.size(); ++i)
        blob[i] = char(random.bounded(256));
    if (blobBytes > 0)
        parts.append({QStringLiteral("xl/media/blob.bin"), blob});
    for (int i = 0; i < padding; ++i)
        parts.append({QStringLiteral("xl/media/padding-entry-with-a-long-name-%1.bin").arg(i, 5, 10, QLatin1Char('0')),
                      QByteArray::number(i)});
    const QString path = store(parts);
    QVERIFY(!path.isEmpty());
    const int entries = entryCount(path);
    QCOMPARE(entries, 5 + (blobBytes > 0 ? 1 : 0) + padding);

    {
        XlsxDocument doc(path);
        QVERIFY2(doc.isLoaded(), qPrintable(doc.errorString()));
        QVERIFY2(doc.selectSheet("Sheet1", XlsxDocument::ForEditing), qPrintable(doc.errorString()));
        QCOMPARE(doc.read(1, 1).toDouble(), 7.0);
        QCOMPARE(doc.read(1, 2).toString(), QStringLiteral("keep"));
        QVERIFY(doc.write(1, 1, "seven"));
        QVERIFY2(doc.save(), qPrintable(doc.errorString()));
    }

    XlsxDocument again(path);
    QVERIFY2(again.selectSheet("Sheet1"), qPrintable(again.errorString()));
    QCOMPARE(again.read(1, 1).toString(), QStringLiteral("seven"));
    QCOMPARE(again.read(1, 2).toString(), QStringLiteral("keep"));
    QCOMPARE(entryCount(path), entries);
    if (blobBytes > 0)
        QCOMPARE(entryData(path, "xl/media/blob.bin"), blob);
    if (padding > 0)
        QCOMPARE(entryData(path, QStringLiteral("xl/media/padding-entry-with-a-long-name-%1.bin")
                                     .arg(padding - 1, 5, 10, QLatin1Char('0'))),
                 QByteArray::number(padding - 1));
}

QTEST_GUILESS_MAIN(TestXlsxEdits)
#include "tst_xlsxedits.moc"
