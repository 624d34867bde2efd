// The writer: patched sheet XML, texts and formulas, edits in any order, the
// rest of the package kept, and packages whose parts lie far from the end.
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include "xlsxdocument.h"
#include "xlsxsuite.h"

using suite::entries;
using suite::entryCount;
using suite::entryData;

namespace {

QByteArray sheetDataOf(const QByteArray &xml)
{
    const int start = xml.indexOf("<sheetData>");
    const int end = xml.indexOf("</sheetData>");
    return start < 0 || end < 0 ? QByteArray() : xml.mid(start + 11, end - start - 11);
}

} // namespace

class TestXlsxWriter : public QObject
{
    Q_OBJECT

private slots:
    void patch_data();
    void patch();
    void texts_data();
    void texts();
    void formulas_data();
    void formulas();
    void editOrder_data();
    void editOrder();
    void keepsTheRestOfTheSheet();
    void prefixedNamespace();
    void keepsOtherPartsByteForByte();
    void reportsSaveFailure();
    void partsFarFromTheEnd_data();
    void partsFarFromTheEnd();

private:
    suite::WorkDir m_dir;
    QString store(const Parts &parts) { return m_dir.store(parts); }
    // Writes "B2=text" items into Sheet1 and saves.
    bool writeAndSave(const QString &path, const QStringList &writes)
    {
        XlsxDocument doc(path);
        if (!doc.selectSheet("Sheet1"))
            return false;
        for (const QString &w : writes) {
            const int eq = w.indexOf('=');
            const auto p = builder::position(w.left(eq));
            if (!doc.write(p.first, p.second, w.mid(eq + 1)))
                return false;
        }
        return doc.save();
    }
};

void TestXlsxWriter::patch_data()
{
    QTest::addColumn<QByteArray>("sheetData");
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QStringList>("cells");      // every cell that holds a value afterwards
    QTest::addColumn<QStringList>("order");      // r attributes of the cells, in file order
    QTest::addColumn<QStringList>("fragments");  // must appear in the new sheet XML

    QTest::newRow("text into a styled number keeps the style")
        << QByteArray("<row r=\"1\"><c r=\"A1\" s=\"3\"><v>12</v></c></row>") << QStringList{"A1=abc"}
        << QStringList{"A1=abc"} << QStringList{"A1"}
        << QStringList{"<c r=\"A1\" s=\"3\" t=\"inlineStr\"><is><t>abc</t></is></c>", "<dimension ref=\"A1\"/>"};
    QTest::newRow("a number written back keeps its form")
        << QByteArray("<row r=\"1\"><c r=\"A1\" s=\"3\"><v>12.0</v></c><c r=\"B1\" t=\"b\"><v>1</v></c>"
                      "<c r=\"C1\"><f>A1*2</f><v>24</v></c></row>")
        << QStringList{"A1=12", "B1=true", "C1=24"} << QStringList{"A1=12", "B1=true", "C1=24"}
        << QStringList{"A1", "B1", "C1"}
        << QStringList{"<c r=\"A1\" s=\"3\"><v>12.0</v></c><c r=\"B1\" t=\"b\"><v>1</v></c>"
                       "<c r=\"C1\"><f>A1*2</f><v>24</v></c>"};
    QTest::newRow("a changed number stays a number")
        << QByteArray("<row r=\"1\"><c r=\"A1\" s=\"3\"><v>12</v></c><c r=\"B1\" t=\"n\"><v>1</v></c>"
                      "<c r=\"C1\"><f>A1*2</f><v>24</v></c><c r=\"D1\"><v>5</v></c></row>")
        << QStringList{"A1=-40.5", "B1=123456789012", "C1=7", "D1=0.25"}
        << QStringList{"A1=-40.5", "B1=123456789012", "C1=7", "D1=0.25"} << QStringList{"A1", "B1", "C1", "D1"}
        << QStringList{"<c r=\"A1\" s=\"3\"><v>-40.5</v></c><c r=\"B1\"><v>123456789012</v></c>"
                       "<c r=\"C1\"><v>7</v></c><c r=\"D1\"><v>0.25</v></c>"};
    // Plain decimals in a number cell are stored as numbers, in their shortest form; other texts,
    // text cells and new cells stay text.
    QTest::newRow("texts that are not plain numbers, and cells that held none")
        << QByteArray("<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><v>2</v></c><c r=\"C1\"><v>3</v></c>"
                      "<c r=\"D1\"><v>4</v></c><c r=\"E1\" t=\"inlineStr\"><is><t>x</t></is></c>"
                      "<c r=\"F1\" t=\"b\"><v>0</v></c></row>")
        << QStringList{"A1=007", "B1=+5", "C1=1.50", "D1=1e3", "E1=12", "F1=1", "G1=8"}
        << QStringList{"A1=7", "B1=5", "C1=1.5", "D1=1e3", "E1=12", "F1=1", "G1=8"}
        << QStringList{"A1", "B1", "C1", "D1", "E1", "F1", "G1"}
        << QStringList{"<c r=\"A1\"><v>7</v></c>",
                       "<c r=\"B1\"><v>5</v></c>",
                       "<c r=\"C1\"><v>1.5</v></c>",
                       "<c r=\"D1\" t=\"inlineStr\"><is><t>1e3</t></is></c>",
                       "<c r=\"E1\" t=\"inlineStr\"><is><t>12</t></is></c>",
                       "<c r=\"F1\" t=\"inlineStr\"><is><t>1</t></is></c>",
                       "<c r=\"G1\" t=\"inlineStr\"><is><t>8</t></is></c>"};
    QTest::newRow("new cells and rows in ascending order")
        << QByteArray("<row r=\"2\" spans=\"1:4\"><c r=\"A2\"><v>1</v></c><c r=\"D2\"><v>4</v></c></row>"
                      "<row r=\"5\"><c r=\"A5\"><v>5</v></c></row>")
        << QStringList{"F2=f", "C2=c", "B2=b", "A1=top", "A3=mid", "A7=end", "B7="}
        << QStringList{"A1=top", "A2=1", "B2=b", "C2=c", "D2=4", "F2=f", "A3=mid", "A5=5", "A7=end"}
        << QStringList{"A1", "A2", "B2", "C2", "D2", "F2", "A3", "A5", "A7"}
        << QStringList{"<dimension ref=\"A1:F7\"/>", "<row r=\"2\">"};
    QTest::newRow("empty text clears the value and keeps the style")
        << QByteArray("<row r=\"1\"><c r=\"A1\" s=\"3\"><v>12</v></c><c r=\"B1\"><v>5</v></c><c r=\"C1\"><v>6</v></c></row>")
        << QStringList{"A1=", "C1="} << QStringList{"B1=5"} << QStringList{"A1", "B1"}
        << QStringList{"<c r=\"A1\" s=\"3\"/>", "<dimension ref=\"B1\"/>"};
    QTest::newRow("rows and cells without r")
        << QByteArray("<row><c><v>1</v></c><c><v>2</v></c><c><v>3</v></c></row>"
                      "<row r=\"3\"><c><v>5</v></c></row><row><c><v>6</v></c></row>")
        << QStringList{"B1=x", "A2=new"} << QStringList{"A1=1", "B1=x", "C1=3", "A2=new", "A3=5", "A4=6"}
        << QStringList{"A1", "B1", "C1", "A2"} << QStringList{"<row r=\"4\">"};
    QTest::newRow("cells outside the writes untouched")
        << QByteArray("<row r=\"1\"><c r=\"A1\" s=\"1\" t=\"s\"><v>0</v></c><c r=\"B1\" s=\"2\"><v>7</v></c></row>"
                      "<row r=\"9\"><c r=\"H9\" s=\"4\" t=\"b\"><v>1</v></c></row>")
        << QStringList{"B1=8"} << QStringList{"A1=shared", "B1=8", "H9=true"} << QStringList{"A1", "B1", "H9"}
        << QStringList{"<c r=\"A1\" s=\"1\" t=\"s\"><v>0</v></c>", "<c r=\"B1\" s=\"2\"><v>8</v></c>",
                       "<c r=\"H9\" s=\"4\" t=\"b\"><v>1</v></c>"};
}

void TestXlsxWriter::patch()
{
    QFETCH(QByteArray, sheetData);
    QFETCH(QStringList, writes);
    QFETCH(QStringList, cells);
    QFETCH(QStringList, order);
    QFETCH(QStringList, fragments);

    const QString path = store(builder::workbook({builder::worksheet(sheetData)},
                                                 builder::sharedStrings("<si><t>shared</t></si>")));
    QVERIFY(writeAndSave(path, writes));

    const QString xml = QString::fromUtf8(entryData(path, "xl/worksheets/sheet1.xml"));
    for (const QString &f : fragments)
        QVERIFY2(xml.contains(f), qPrintable(f + " not in " + xml));
    QStringList refs;
    QRegularExpressionMatchIterator it = QRegularExpression("<c r=\"([A-Z]+[0-9]+)\"").globalMatch(xml);
    while (it.hasNext())
        refs.append(it.next().captured(1));
    QCOMPARE(refs, order);

    XlsxDocument doc(path);
    QVERIFY(doc.selectSheet("Sheet1"));
    int found = 0;
    for (const QString &c : cells) {
        const int eq = c.indexOf('=');
        const auto p = builder::position(c.left(eq));
        QCOMPARE(doc.read(p.first, p.second).toString(), c.mid(eq + 1));
    }
    const Xlsx::CellRange range = doc.dimension();
    for (int r = range.firstRow; r <= range.lastRow; ++r) {
        for (int c = range.firstColumn; c <= range.lastColumn; ++c)
            found += doc.read(r, c).isValid() ? 1 : 0;
    }
    QCOMPARE(found, cells.size());
}

void TestXlsxWriter::texts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("fragment");

    QTest::newRow("surrounding spaces") << " padded " << "<t xml:space=\"preserve\"> padded </t>";
    QTest::newRow("newline") << "line1\nline2" << "<t xml:space=\"preserve\">line1\nline2</t>";
    QTest::newRow("control characters") << "a\x01" "b\rc" << "<t>a_x0001_b_x000D_c</t>";
    QTest::newRow("literal escape") << "_x0041_" << "<t>_x005F_x0041_</t>";
    QTest::newRow("non-ASCII") << QString::fromUtf8("中文 ü 😀") << QString::fromUtf8("<t>中文 ü 😀</t>");
    QTest::newRow("numeric-looking") << "007" << "<t>007</t>";
    QTest::newRow("formula-looking") << "=SUM(A1)" << "<t>=SUM(A1)</t>";
    QTest::newRow("markup") << "<a&b>\"" << "<t>&lt;a&amp;b&gt;\"</t>";
}

void TestXlsxWriter::texts()
{
    QFETCH(QString, text);
    QFETCH(QString, fragment);

    const QString path = store(builder::workbook({builder::worksheet("")}));
    XlsxDocument doc(path);
    QVERIFY(doc.selectSheet("Sheet1"));
    QVERIFY(doc.write(2, 3, text));
    QVERIFY2(doc.save(), qPrintable(doc.errorString()));

    const QString xml = QString::fromUtf8(entryData(path, "xl/worksheets/sheet1.xml"));
    QVERIFY2(xml.contains(fragment), qPrintable(xml));
    XlsxDocument again(path);
    QVERIFY(again.selectSheet("Sheet1"));
    QCOMPARE(again.read(2, 3).toString(), text);
}

void TestXlsxWriter::formulas_data()
{
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");
    QTest::addColumn<bool>("calcChainKept");
    QTest::addColumn<QString>("a3");

    QTest::newRow("same text keeps the formulas")
        << QStringList{"B1=2", "A2=2"} << QStringList{"<f>A1+1</f>", "<f t=\"shared\" ref=\"A2:A3\" si=\"0\">"}
        << QStringList{} << true << "2";
    QTest::newRow("new text replaces the formula and drops the chain")
        << QStringList{"B1=x"} << QStringList{"<c r=\"B1\" t=\"inlineStr\"><is><t>x</t>", "si=\"0\""}
        << QStringList{"A1+1"} << false << "2";
    QTest::newRow("overwritten anchor of a shared formula")
        << QStringList{"A2=y"} << QStringList{"<c r=\"A3\"><v>2</v></c>"} << QStringList{"si=\"0\"", "A1*2"}
        << false << "2";
}

void TestXlsxWriter::formulas()
{
    QFETCH(QStringList, writes);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    QFETCH(bool, calcChainKept);
    QFETCH(QString, a3);

    Parts parts = builder::workbook({builder::worksheet(
        "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f>A1+1</f><v>2</v></c></row>"
        "<row r=\"2\"><c r=\"A2\"><f t=\"shared\" ref=\"A2:A3\" si=\"0\">A1*2</f><v>2</v></c></row>"
        "<row r=\"3\"><c r=\"A3\"><f t=\"shared\" si=\"0\"/><v>2</v></c></row>")});
    builder::setPart(parts, "xl/calcChain.xml",
                     "<calcChain xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                     "<c r=\"B1\" i=\"1\"/><c r=\"A2\"/><c r=\"A3\"/></calcChain>");
    QByteArray rels = builder::part(parts, "xl/_rels/workbook.xml.rels");
    rels.replace("</Relationships>", "<Relationship Id=\"rId9\" Type=\"http://schemas.openxmlformats.org/"
                                     "officeDocument/2006/relationships/calcChain\" Target=\"calcChain.xml\"/></Relationships>");
    builder::setPart(parts, "xl/_rels/workbook.xml.rels", rels);
    QByteArray types = builder::part(parts, "[Content_Types].xml");
    types.replace("</Types>", "<Override PartName=\"/xl/calcChain.xml\" ContentType=\"application/"
                              "vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml\"/></Types>");
    builder::setPart(parts, "[Content_Types].xml", types);
    const QString path = store(parts);
    QVERIFY(writeAndSave(path, writes));

    const QString xml = QString::fromUtf8(entryData(path, "xl/worksheets/sheet1.xml"));
    for (const QString &p : present)
        QVERIFY2(xml.contains(p), qPrintable(p + " not in " + xml));
    for (const QString &a : absent)
        QVERIFY2(!xml.contains(a), qPrintable(a + " in " + xml));
    QCOMPARE(!entryData(path, "xl/calcChain.xml").isEmpty(), calcChainKept);
    QCOMPARE(entryData(path, "xl/_rels/workbook.xml.rels").contains("calcChain"), calcChainKept);
    QCOMPARE(entryData(path, "[Content_Types].xml").contains("calcChain"), calcChainKept);
    QVERIFY(entryData(path, "[Content_Types].xml").contains("/xl/worksheets/sheet1.xml"));

    XlsxDocument doc(path);
    QVERIFY(doc.selectSheet("Sheet1"));
    QCOMPARE(doc.read(3, 1).toString(), a3);
    QCOMPARE(doc.read(1, 1).toString(), QString("1"));
}

void TestXlsxWriter::editOrder_data()
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

void TestXlsxWriter::editOrder()
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

void TestXlsxWriter::keepsTheRestOfTheSheet()
{
    const QByteArray head =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
        "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" mc:Ignorable=\"x14ac\" "
        "xmlns:x14ac=\"http://schemas.microsoft.com/office/spreadsheetml/2009/9/ac\">";
    const QByteArray tail =
        "</sheetData><!-- kept --><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" "
        "header=\"0.3\" footer=\"0.3\"/></worksheet>";
    const QByteArray sheet = head + "<dimension ref=\"A1\"/><sheetData><row r=\"1\" spans=\"1:1\" "
                                    "x14ac:dyDescent=\"0.25\"><c r=\"A1\"><v>1</v></c></row>" + tail;
    const QString path = store(builder::workbook({sheet}));
    QVERIFY(writeAndSave(path, {"B1=x"}));

    const QByteArray xml = entryData(path, "xl/worksheets/sheet1.xml");
    QVERIFY2(xml.startsWith(head + "<dimension ref=\"A1:B1\"/><sheetData>"), xml.constData());
    QVERIFY2(xml.endsWith(tail), xml.constData());
    QVERIFY(xml.contains("<row r=\"1\" x14ac:dyDescent=\"0.25\"><c r=\"A1\"><v>1</v></c><c r=\"B1\" t=\"inlineStr\">"));
}

void TestXlsxWriter::prefixedNamespace()
{
    const QByteArray sheet =
        "<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
        "<x:sheetData><x:row r=\"1\"><x:c r=\"A1\"><x:v>1</x:v></x:c></x:row></x:sheetData></x:worksheet>";
    const QByteArray empty =
        "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData/></worksheet>";
    const QString path = store(builder::workbook({sheet, empty}));
    QVERIFY(writeAndSave(path, {"B1=x", "A2=y"}));
    const QByteArray xml = entryData(path, "xl/worksheets/sheet1.xml");
    QVERIFY2(xml.contains("<x:c r=\"B1\" t=\"inlineStr\"><x:is><x:t>x</x:t></x:is></x:c></x:row><x:row r=\"2\">"),
             xml.constData());

    XlsxDocument doc(path);
    QVERIFY(doc.selectSheet("Sheet2"));
    QVERIFY(doc.write(1, 1, "first"));
    QVERIFY(doc.save());
    QVERIFY(entryData(path, "xl/worksheets/sheet2.xml").contains("<sheetData><row r=\"1\"><c r=\"A1\""));
    XlsxDocument again(path);
    QVERIFY(again.selectSheet("Sheet1"));
    QCOMPARE(again.read(2, 1).toString(), QString("y"));
    QVERIFY(again.selectSheet("Sheet2"));
    QCOMPARE(again.read(1, 1).toString(), QString("first"));
}

void TestXlsxWriter::keepsOtherPartsByteForByte()
{
    const QString path = m_dir.copy("libreoffice_protocol.xlsx");
    const QList<suite::Entry> before = entries(path);
    XlsxDocument doc(path);
    QVERIFY(doc.selectSheet("holding"));
    QVERIFY(doc.write(2, 5, "changed"));
    QVERIFY(doc.save());

    const QList<suite::Entry> after = entries(path);
    QCOMPARE(after.size(), before.size());
    int changed = 0;
    for (int i = 0; i < before.size(); ++i) {
        QCOMPARE(after.at(i).name, before.at(i).name);
        if (after.at(i).name == "xl/worksheets/sheet1.xml") {
            ++changed;
            QVERIFY(after.at(i).data != before.at(i).data);
            continue;
        }
        QCOMPARE(after.at(i).crc, before.at(i).crc);
        QVERIFY2(after.at(i).raw == before.at(i).raw, qPrintable(after.at(i).name));
    }
    QCOMPARE(changed, 1);
}

void TestXlsxWriter::reportsSaveFailure()
{
    // The folder disappears between reading and saving: no place for the
    // temporary file, whatever the user's rights.
    QTemporaryDir sub(m_dir.path("goneXXXXXX"));
    const QString path = sub.filePath("a.xlsx");
    QVERIFY(builder::writeZip(path, builder::workbook({builder::worksheet("")})));
    XlsxDocument doc(path);
    QVERIFY(doc.selectSheet("Sheet1"));
    QVERIFY(doc.write(1, 1, "x"));
    QVERIFY(sub.remove());
    QVERIFY(!doc.save());
    QVERIFY(doc.errorString().contains(path));
    QVERIFY(!QFileInfo::exists(sub.path()));
}

void TestXlsxWriter::partsFarFromTheEnd_data()
{
    QTest::addColumn<int>("blobBytes");  // incompressible, stored after the sheet
    QTest::addColumn<int>("padding");    // extra small entries

    QTest::newRow("sheet 600 KiB before the end") << 600 * 1024 << 0;
    QTest::newRow("zip directory of 4000 entries") << 0 << 4000;
    QTest::newRow("both") << 300 * 1024 << 4000;
}

void TestXlsxWriter::partsFarFromTheEnd()
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

QTEST_GUILESS_MAIN(TestXlsxWriter)
#include "tst_xlsxwriter.moc"
