// The reader: cell values, package shapes, damaged files, XML details.
#include <QtTest>

#include "xlsxdocument.h"
#include "xlsxsuite.h"

using Xlsx::CellRange;

namespace {

QString letters(int column)
{
    QString s;
    for (; column > 0; column = (column - 1) / 26)
        s.prepend(QChar('A' + (column - 1) % 26));
    return s;
}

QString rangeText(const CellRange &r)
{
    if (!r.isValid())
        return QStringLiteral("empty");
    return letters(r.firstColumn) + QString::number(r.firstRow) + QLatin1Char(':') + letters(r.lastColumn)
        + QString::number(r.lastRow);
}

} // namespace

class TestXlsxReader : public QObject
{
    Q_OBJECT

private slots:
    void cells_data();
    void cells();
    void packages_data();
    void packages();
    void damaged_data();
    void damaged();
    void xml_data();
    void xml();
    void characterReferences_data();
    void characterReferences();
    void attributeValues();

private:
    suite::WorkDir m_dir;
    QString store(const Parts &parts, const QString &lieAbout = QString()) { return m_dir.store(parts, lieAbout); }
};

void TestXlsxReader::cells_data()
{
    QTest::addColumn<QByteArray>("sheetData");
    QTest::addColumn<QByteArray>("sst");
    QTest::addColumn<QStringList>("expected");  // "B2=text"; every other cell of the range is empty
    QTest::addColumn<QString>("range");

    const QByteArray noSst;
    QTest::newRow("numbers as plain text")
        << QByteArray("<row r=\"1\"><c r=\"A1\"><v>12</v></c><c r=\"B1\" t=\"n\"><v>1.5</v></c>"
                      "<c r=\"C1\"><v>-3E2</v></c><c r=\"D1\"><v>0.1</v></c></row>")
        << noSst << QStringList{"A1=12", "B1=1.5", "C1=-300", "D1=0.1"} << "A1:D1";
    QTest::newRow("shared strings: runs joined, phonetics skipped, escapes, duplicates")
        << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
                      "<c r=\"C1\" t=\"s\"><v>2</v></c><c r=\"D1\" t=\"s\"><v>3</v></c></row>")
        << builder::sharedStrings("<si><t>plain</t></si>"
                                  "<si><r><rPr><b/></rPr><t>bo</t></r><r><t xml:space=\"preserve\">ld </t></r>"
                                  "<rPh sb=\"0\" eb=\"1\"><t>ボ</t></rPh><phoneticPr fontId=\"1\"/></si>"
                                  "<si><t>a_x000D_b_x005F_x0041_</t></si><si><t>plain</t></si>")
        << QStringList{"A1=plain", "B1=bold ", "C1=a\rb_x0041_", "D1=plain"} << "A1:D1";
    QTest::newRow("shared string index out of range or missing")
        << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>7</v></c><c r=\"B1\" t=\"s\"><v>x</v></c>"
                      "<c r=\"C1\" t=\"s\"/><c r=\"D1\" t=\"s\"><v>0</v></c></row>")
        << builder::sharedStrings("<si><t>only</t></si>") << QStringList{"D1=only"} << "D1:D1";
    QTest::newRow("inline strings: plain, runs, phonetics")
        << QByteArray("<row r=\"2\"><c r=\"B2\" t=\"inlineStr\"><is><t>inline</t></is></c>"
                      "<c r=\"C2\" t=\"inlineStr\"><is><r><t>in</t></r><r><rPr><i/></rPr><t>runs</t></r>"
                      "<rPh><t>x</t></rPh></is></c><c r=\"D2\" t=\"inlineStr\"><is><t>007</t></is></c>"
                      "<c r=\"E2\" t=\"inlineStr\"><is><t></t></is></c></row>")
        << noSst << QStringList{"B2=inline", "C2=inruns", "D2=007"} << "B2:D2";
    QTest::newRow("booleans, errors, dates")
        << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"b\"><v>1</v></c><c r=\"B1\" t=\"b\"><v>0</v></c>"
                      "<c r=\"C1\" t=\"e\"><v>#DIV/0!</v></c><c r=\"D1\" t=\"d\"><v>2024-05-01T00:00:00</v></c></row>")
        << noSst << QStringList{"A1=true", "B1=false", "C1=#DIV/0!", "D1=2024-05-01T00:00:00"} << "A1:D1";
    QTest::newRow("formulas by cached value")
        << QByteArray("<row r=\"1\"><c r=\"A1\"><f>1+1</f><v>2</v></c>"
                      "<c r=\"B1\" t=\"str\"><f>\"a\"&amp;\"b\"</f><v>ab</v></c><c r=\"C1\"><f>1+1</f></c></row>"
                      "<row r=\"2\"><c r=\"A2\"><f t=\"shared\" ref=\"A2:A3\" si=\"0\">A1*2</f><v>4</v></c></row>"
                      "<row r=\"3\"><c r=\"A3\"><f t=\"shared\" si=\"0\"/><v>8</v></c></row>")
        << noSst << QStringList{"A1=2", "B1=ab", "A2=4", "A3=8"} << "A1:B3";
    QTest::newRow("rows and cells without r, mixed with explicit ones")
        << QByteArray("<row><c><v>1</v></c><c><v>2</v></c></row>"
                      "<row r=\"4\"><c><v>3</v></c><c r=\"D4\"><v>4</v></c><c><v>5</v></c></row>"
                      "<row><c r=\"B5\"><v>6</v></c></row>")
        << noSst << QStringList{"A1=1", "B1=2", "A4=3", "D4=4", "E4=5", "B5=6"} << "A1:E5";
    QTest::newRow("styled empty cells do not count")
        << QByteArray("<row r=\"2\" s=\"2\" customFormat=\"1\"><c r=\"B2\" s=\"3\"/><c r=\"C2\" s=\"1\" t=\"s\"/>"
                      "<c r=\"D2\"><v>9</v></c></row><row r=\"40\"><c r=\"A40\" s=\"2\"/></row>")
        << noSst << QStringList{"D2=9"} << "D2:D2";
    QTest::newRow("empty sheet") << QByteArray() << noSst << QStringList() << "empty";
    QTest::newRow("rows out of order and duplicate cells: the last wins")
        << QByteArray("<row r=\"3\"><c r=\"A3\"><v>1</v></c></row>"
                      "<row><c r=\"B4\"><v>2</v></c><c r=\"B4\"><v>3</v></c></row>")
        << noSst << QStringList{"A3=1", "B4=3"} << "A3:B4";
    QTest::newRow("last cell of the grid")
        << QByteArray("<row r=\"1048576\"><c r=\"XFD1048576\" t=\"inlineStr\"><is><t>end</t></is></c></row>")
        << noSst << QStringList{"XFD1048576=end"} << "XFD1048576:XFD1048576";
}

void TestXlsxReader::cells()
{
    QFETCH(QByteArray, sheetData);
    QFETCH(QByteArray, sst);
    QFETCH(QStringList, expected);
    QFETCH(QString, range);

    XlsxDocument doc(store(builder::workbook({builder::worksheet(sheetData)}, sst)));
    QVERIFY2(doc.isLoaded(), qPrintable(doc.errorString()));
    QCOMPARE(doc.sheetNames(), QStringList{"Sheet1"});
    QVERIFY2(doc.selectSheet("Sheet1"), qPrintable(doc.errorString()));
    const CellRange used = doc.dimension();
    QCOMPARE(rangeText(used), range);

    QHash<QPair<int, int>, QString> wanted;
    for (const QString &item : expected) {
        const int eq = item.indexOf('=');
        wanted.insert(builder::position(item.left(eq)), item.mid(eq + 1));
    }
    for (auto it = wanted.cbegin(); it != wanted.cend(); ++it)
        QCOMPARE(doc.read(it.key().first, it.key().second).toString(), it.value());
    if (used.isValid() && qint64(used.rowCount()) * used.columnCount() < 10000) {
        for (int r = used.firstRow; r <= used.lastRow; ++r) {
            for (int c = used.firstColumn; c <= used.lastColumn; ++c) {
                if (!wanted.contains({r, c}))
                    QVERIFY2(doc.read(r, c).toString().isEmpty(), qPrintable(letters(c) + QString::number(r)));
            }
        }
    }
}

void TestXlsxReader::packages_data()
{
    QTest::addColumn<Parts>("parts");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("a1");  // texts of A1 and B1 in the first sheet
    QTest::addColumn<QString>("b1");

    const QByteArray one = builder::worksheet("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>");
    const QByteArray two = builder::worksheet("<row r=\"1\"><c r=\"A1\"><v>2</v></c></row>");

    QTest::newRow("relative targets") << builder::workbook({one, two}) << QStringList{"Sheet1", "Sheet2"} << "1" << "";

    Parts absolute = builder::workbook({one});
    QByteArray rels = builder::part(absolute, "xl/_rels/workbook.xml.rels");
    rels.replace("Target=\"worksheets/sheet1.xml\"", "Target=\"/xl/worksheets/sheet1.xml\"");
    builder::setPart(absolute, "xl/_rels/workbook.xml.rels", rels);
    QByteArray root = builder::part(absolute, "_rels/.rels");
    builder::setPart(absolute, "_rels/.rels", root.replace("Target=\"xl/workbook.xml\"", "Target=\"/xl/workbook.xml\""));
    QTest::newRow("absolute targets") << absolute << QStringList{"Sheet1"} << "1" << "";

    Parts lettercase = builder::workbook({one});
    builder::renamePart(lettercase, "xl/worksheets/sheet1.xml", "XL/Worksheets/Sheet1.XML");
    QTest::newRow("targets in another letter case") << lettercase << QStringList{"Sheet1"} << "1" << "";

    Parts encoded = builder::workbook({one});
    builder::renamePart(encoded, "xl/worksheets/sheet1.xml", "xl/worksheets/my sheet.xml");
    rels = builder::part(encoded, "xl/_rels/workbook.xml.rels");
    builder::setPart(encoded, "xl/_rels/workbook.xml.rels", rels.replace("sheet1.xml", "my%20sheet.xml"));
    QTest::newRow("%-encoded target") << encoded << QStringList{"Sheet1"} << "1" << "";

    // The workbook is wherever _rels/.rels says, with its own relationships beside it.
    Parts moved = builder::workbook({one});
    builder::renamePart(moved, "xl/workbook.xml", "book/main.xml");
    builder::renamePart(moved, "xl/_rels/workbook.xml.rels", "book/_rels/main.xml.rels");
    root = builder::part(moved, "_rels/.rels");
    builder::setPart(moved, "_rels/.rels", root.replace("xl/workbook.xml", "book/./main.xml"));
    rels = builder::part(moved, "book/_rels/main.xml.rels");
    builder::setPart(moved, "book/_rels/main.xml.rels", rels.replace("worksheets/", "../xl/worksheets/"));
    QTest::newRow("workbook found through _rels/.rels") << moved << QStringList{"Sheet1"} << "1" << "";

    Parts charts = builder::workbook({one, two});
    QByteArray book = builder::part(charts, "xl/workbook.xml");
    book.replace("<sheet name=\"Sheet2\"", "<sheet name=\"Chart\" sheetId=\"9\" r:id=\"rIdC\"/><sheet name=\"Sheet2\"");
    builder::setPart(charts, "xl/workbook.xml", book);
    rels = builder::part(charts, "xl/_rels/workbook.xml.rels");
    rels.replace("</Relationships>",
                 "<Relationship Id=\"rIdC\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                 "relationships/chartsheet\" Target=\"chartsheets/sheet1.xml\"/></Relationships>");
    builder::setPart(charts, "xl/_rels/workbook.xml.rels", rels);
    QTest::newRow("chartsheets skipped") << charts << QStringList{"Sheet1", "Sheet2"} << "1" << "";

    // Same namespaces under other prefixes; a look-alike element in a
    // foreign namespace is not a cell.
    Parts prefixed = builder::workbook({one});
    builder::setPart(prefixed, "xl/workbook.xml",
                     "<x:workbook xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                     "xmlns:rel=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
                     "<x:sheets><x:sheet name=\"Daten\" sheetId=\"1\" rel:id=\"rId1\"/></x:sheets></x:workbook>");
    builder::setPart(prefixed, "xl/worksheets/sheet1.xml",
                     "<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                     "xmlns=\"urn:other\"><x:sheetData><x:row r=\"1\"><x:c r=\"A1\" t=\"inlineStr\"><x:is>"
                     "<x:t>prefixed</x:t></x:is></x:c><c r=\"B1\"><v>9</v></c></x:row></x:sheetData></x:worksheet>");
    QTest::newRow("elements matched by namespace, not prefix") << prefixed << QStringList{"Daten"} << "prefixed" << "";

    Parts noSst = builder::workbook({builder::worksheet("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c>"
                                                        "<c r=\"B1\"><v>5</v></c></row>")},
                                    builder::sharedStrings("<si><t>x</t></si>"));
    builder::removePart(noSst, "xl/sharedStrings.xml");
    QTest::newRow("missing sharedStrings part") << noSst << QStringList{"Sheet1"} << "" << "5";

    Parts noRootRels = builder::workbook({one});
    builder::removePart(noRootRels, "_rels/.rels");
    QTest::newRow("no _rels/.rels: the usual workbook place") << noRootRels << QStringList{"Sheet1"} << "1" << "";

    Parts crlf = builder::workbook({builder::worksheet("\r\n<row r=\"1\">\r\n<c r=\"A1\" t=\"inlineStr\"><is><t>é😀</t></is></c>\r\n</row>\r\n")});
    QTest::newRow("CRLF and characters beyond the BMP") << crlf << QStringList{"Sheet1"} << "é😀" << "";
}

void TestXlsxReader::packages()
{
    QFETCH(Parts, parts);
    QFETCH(QStringList, names);
    QFETCH(QString, a1);
    QFETCH(QString, b1);

    XlsxDocument doc(store(parts));
    QVERIFY2(doc.isLoaded(), qPrintable(doc.errorString()));
    QCOMPARE(doc.sheetNames(), names);
    QVERIFY(!doc.selectSheet(names.first().toLower() + "x"));
    QVERIFY2(doc.selectSheet(names.first()), qPrintable(doc.errorString()));
    QCOMPARE(doc.read(1, 1).toString(), a1);
    QCOMPARE(doc.read(1, 2).toString(), b1);
}

void TestXlsxReader::damaged_data()
{
    QTest::addColumn<Parts>("parts");
    QTest::addColumn<QString>("lieAbout");
    QTest::addColumn<bool>("loads");     // the package and workbook are readable
    QTest::addColumn<QString>("because"); // part of the error text

    const QByteArray one = builder::worksheet("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>");

    Parts strict = builder::workbook({one});
    QByteArray root = builder::part(strict, "_rels/.rels");
    builder::setPart(strict, "_rels/.rels",
                     root.replace("http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument",
                                  "http://purl.oclc.org/ooxml/officeDocument/relationships/officeDocument"));
    QTest::newRow("Strict package") << strict << QString() << false << "Strict";
    Parts strictBook = builder::workbook({one});
    QByteArray book = builder::part(strictBook, "xl/workbook.xml");
    builder::setPart(strictBook, "xl/workbook.xml",
                     book.replace("http://schemas.openxmlformats.org/spreadsheetml/2006/main",
                                  "http://purl.oclc.org/ooxml/spreadsheetml/main"));
    QTest::newRow("Strict workbook") << strictBook << QString() << false << "Strict";

    Parts noBook = builder::workbook({one});
    builder::removePart(noBook, "xl/workbook.xml");
    QTest::newRow("missing workbook") << noBook << QString() << false << "missing";
    Parts badBook = builder::workbook({one});
    builder::setPart(badBook, "xl/workbook.xml", "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheets>");
    QTest::newRow("malformed workbook") << badBook << QString() << false << "XML error";

    Parts noSheet = builder::workbook({one});
    builder::removePart(noSheet, "xl/worksheets/sheet1.xml");
    QTest::newRow("missing sheet part") << noSheet << QString() << true << "missing";
    QTest::newRow("malformed sheet")
        << builder::workbook({"<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData><row>"})
        << QString() << true << "XML error";
    QTest::newRow("document type declaration")
        << builder::workbook({"<?xml version=\"1.0\"?><!DOCTYPE worksheet [<!ENTITY a \"aaaa\">]>"
                              "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"/>"})
        << QString() << true << "document type";
    QTest::newRow("column beyond XFD")
        << builder::workbook({builder::worksheet("<row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row>")}) << QString() << true
        << "XFE1";
    QTest::newRow("row beyond 1048576")
        << builder::workbook({builder::worksheet("<row r=\"1048577\"><c><v>1</v></c></row>")}) << QString() << true
        << "1048577";
    QTest::newRow("cell outside its row")
        << builder::workbook({builder::worksheet("<row r=\"2\"><c r=\"B4\"><v>1</v></c></row>")}) << QString() << true
        << "B4 stands in row 2";
    QTest::newRow("row twice")
        << builder::workbook({builder::worksheet("<row r=\"2\"><c><v>1</v></c></row><row r=\"2\"><c r=\"B2\"><v>2</v></c></row>")})
        << QString() << true << "row 2 appears twice";
    QTest::newRow("two sheetData elements")
        << builder::workbook({builder::worksheet("</sheetData><sheetData><row r=\"1\"><c><v>1</v></c></row>")})
        << QString() << true << "more than one sheetData";
    QTest::newRow("implicit column beyond XFD")
        << builder::workbook({builder::worksheet("<row r=\"1\"><c r=\"XFD1\"/><c><v>1</v></c></row>")}) << QString()
        << true << "more than 16384";

    // 65 MiB of zeros deflates to about 64 KiB.
    const QByteArray huge = builder::worksheet(QByteArray(65 * 1024 * 1024, ' '));
    QTest::newRow("part larger than the bound") << builder::workbook({huge}) << QString() << true << "too large";
    // Inflating stops at the declared size, so the part ends early.
    QTest::newRow("part larger than declared")
        << builder::workbook({builder::worksheet(QByteArray(1024 * 1024, ' '))}) << "xl/worksheets/sheet1.xml" << true
        << "XML error";
}

void TestXlsxReader::damaged()
{
    QFETCH(Parts, parts);
    QFETCH(QString, lieAbout);
    QFETCH(bool, loads);
    QFETCH(QString, because);

    XlsxDocument doc(store(parts, lieAbout));
    QCOMPARE(doc.isLoaded(), loads);
    if (loads) {
        QCOMPARE(doc.sheetNames(), QStringList{"Sheet1"});
        QVERIFY(!doc.selectSheet("Sheet1"));
        QVERIFY2(doc.errorString().contains(because), qPrintable(doc.errorString()));
        QVERIFY(!doc.dimension().isValid());
        QVERIFY(!doc.write(1, 1, "x"));
    } else {
        QVERIFY2(doc.errorString().contains(because), qPrintable(doc.errorString()));
        QCOMPARE(doc.sheetNames(), QStringList());
        QVERIFY(!doc.selectSheet("Sheet1"));
    }
}

void TestXlsxReader::xml_data()
{
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QString>("a1");     // text of A1 when the sheet reads
    QTest::addColumn<QString>("error");  // part of the error text otherwise

    const QByteArray open = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>"
                            "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>";
    const QByteArray close = "</t></is></c></row></sheetData></worksheet>";
    QTest::newRow("references") << open + "&lt;&#65;&#x42;&amp;&quot;&apos;&gt;" + close << "<AB&\"'>" << "";
    QTest::newRow("CDATA, comment and PI inside text")
        << open + "a<![CDATA[<b>]]><!-- c --><?pi x?>d" + close << "a<b>d" << "";
    QTest::newRow("CRLF in text") << open + "a\r\nb\rc" + close << "a\nb\nc" << "";
    QTest::newRow("UTF-8 BOM and declaration")
        << "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + open + "x" + close << "x" << "";
    QTest::newRow("single quotes and spaces around =")
        << QByteArray("<worksheet xmlns = 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'><sheetData>"
                      "<row r = '1'><c r='A1' ><v >7</v ></c></row></sheetData></worksheet >")
        << "7" << "";
    QTest::newRow("mismatched end tag") << open + "x</is>" + close << "" << "does not match";
    QTest::newRow("unknown entity") << open + "&nbsp;" + close << "" << "reference";
    QTest::newRow("control character") << open + "a\x01" + close << "" << "character";
    QTest::newRow("unquoted attribute") << QByteArray(open).replace("r=\"A1\"", "r=A1") + close << "" << "unquoted";
    QTest::newRow("undeclared prefix") << open + "x" + QByteArray(close).replace("</row>", "<p:x/></row>") << "" << "prefix";
    QTest::newRow("two roots") << open + "x" + close + "<worksheet/>" << "" << "after the root";
    QTest::newRow("text outside the root") << open + "x" + close + "junk" << "" << "outside";
    QTest::newRow("truncated") << open + "x</t></is>" << "" << "premature end";
    QTest::newRow("'<' in an attribute")
        << QByteArray("<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" a=\"<\"/>") << ""
        << "attribute";
}

void TestXlsxReader::xml()
{
    QFETCH(QByteArray, sheet);
    QFETCH(QString, a1);
    QFETCH(QString, error);

    XlsxDocument doc(store(builder::workbook({sheet})));
    QVERIFY(doc.isLoaded());
    QCOMPARE(doc.selectSheet("Sheet1"), error.isEmpty());
    if (error.isEmpty())
        QCOMPARE(doc.read(1, 1).toString(), a1);
    else
        QVERIFY2(doc.errorString().contains(error), qPrintable(doc.errorString()));
}

void TestXlsxReader::characterReferences_data()
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

void TestXlsxReader::characterReferences()
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
    QVERIFY(suite::entryData(path, "xl/worksheets/sheet1.xml").contains("<t>" + text + "</t>"));
}

void TestXlsxReader::attributeValues()
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

QTEST_GUILESS_MAIN(TestXlsxReader)
#include "tst_xlsxreader.moc"
