#include "myconfig.h"
#include "protocoltable.h"
#include "tablefixture.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace tablefixture;

namespace {

QString ruleOfLength(int length)
{
    // {"unit":"uuu…"}: 11 characters around the unit.
    return QStringLiteral("{\"unit\":\"") + QString(length - 11, QLatin1Char('u')) + QStringLiteral("\"}");
}

} // namespace

// The protocol table model without a window: sheets given as texts and what the model makes
// of them (roles, rows, rules), loading and saving workbooks. Expected values are worked out
// by hand from the sheet texts.
class tst_TableModel : public QObject
{
    Q_OBJECT
private slots:
    void roles_data();
    void roles();
    void rowCap_data();
    void rowCap();
    void shortAndLongRows_data();
    void shortAndLongRows();
    void rulesNormalised_data();
    void rulesNormalised();
    void noRuleColumnShowsDecimal();
    void ruleColumnFirst();
    void emptySheet_data();
    void emptySheet();
    void newSheetReplacesOld();
    void longRuleRefused_data();
    void longRuleRefused();
    void editsAndEditableColumns();
    void loadWorkbook();
    void failedLoadChangesNothing_data();
    void failedLoadChangesNothing();
    void saveKeepsRowsBeyondCap();
};

void tst_TableModel::roles_data()
{
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<QList<int>>("expected"); // rule, display, hex, decimal, address

    QTest::newRow("the usual titles") << usualTitles << QList<int>{ 5, 4, 2, 3, 0 };
    QTest::newRow("role words inside longer titles")
            << QStringList({ "Address (地址)", "Name", "Value (16进制)", "Value (10进制)", "Text (显示)",
                             "Rule (JSON解析)" })
            << QList<int>{ 5, 4, 2, 3, 0 };
    QTest::newRow("rule word wins over display word")
            << QStringList({ "地址", "JSON解析 显示", "显示" }) << QList<int>{ 1, 2, -1, -1, 0 };
    QTest::newRow("role order, not word order, decides")
            << QStringList({ "显示 JSON解析", "10进制 16进制" }) << QList<int>{ 0, -1, 1, -1, -1 };
    QTest::newRow("first of two identical titles")
            << QStringList({ "显示", "名称", "显示" }) << QList<int>{ -1, 0, -1, -1, -1 };
    QTest::newRow("later title overrides an earlier one")
            << QStringList({ "A 10进制", "名称", "B 10进制" }) << QList<int>{ -1, -1, -1, 2, -1 };
    QTest::newRow("corner cases together")
            << QStringList({ "地址", "JSON解析 显示", "名称", "A 10进制", "显示", "备注", "显示",
                             "B 10进制" })
            << QList<int>{ 1, 4, -1, 7, 0 };
    QTest::newRow("no role titles") << QStringList({ "名称", "备注" }) << QList<int>{ -1, -1, -1, -1, -1 };
}

void tst_TableModel::roles()
{
    QFETCH(QStringList, titles);
    QFETCH(QList<int>, expected);

    ProtocolTable table;
    QSignalSpy resolved(&table, &ProtocolTable::resolved);
    table.setSheet(titles, grid(2, titles.size()));

    const ProtocolTable::Roles &roles = table.roles();
    QCOMPARE((QList<int>{ roles.rule, roles.display, roles.hex, roles.dec, roles.address }), expected);
    QCOMPARE(resolved.count(), 1);
    QCOMPARE(table.rowCount(), 2);
    QCOMPARE(table.columnCount(), titles.size());
    QCOMPARE(table.header(), titles);
}

void tst_TableModel::rowCap_data()
{
    QTest::addColumn<int>("sheetRows");
    QTest::addColumn<int>("shownRows");

    QTest::newRow("one row") << 1 << 1;
    QTest::newRow("one below the cap") << 1023 << 1023;
    QTest::newRow("exactly the cap") << 1024 << 1024;
    QTest::newRow("one above the cap") << 1025 << 1024;
    QTest::newRow("1500 rows") << 1500 << 1024;
}

// Rows beyond the cap are not shown but kept as they came, for the save.
void tst_TableModel::rowCap()
{
    QFETCH(int, sheetRows);
    QFETCH(int, shownRows);
    QCOMPARE(MyConfig::maxTableRows, 1024);

    QList<QStringList> rows = grid(sheetRows, 3);
    rows.last() = QStringList({ "last" }); // a short row: padded only when shown
    ProtocolTable table;
    table.setSheet({ "地址", "名称", "JSON解析" }, rows);

    QCOMPARE(table.rowCount(), shownRows);
    QCOMPARE(table.rows().size(), sheetRows);
    QCOMPARE(table.text(shownRows - 1, 0), sheetRows == shownRows ? QStringLiteral("last")
                                                                    : QStringLiteral("%1,0").arg(shownRows - 1));
    QCOMPARE(table.text(shownRows, 0), QString());
    QCOMPARE(table.rows().last().size(), sheetRows == shownRows ? 3 : 1);
    // A register past the shown rows has no rule: it shows its unsigned decimal in a reply.
    QCOMPARE(table.decodeAt(registers(shownRows, { 65535 }), 0),
             QStringLiteral("65535"));
}

void tst_TableModel::shortAndLongRows_data()
{
    QTest::addColumn<QStringList>("row");
    QTest::addColumn<QStringList>("kept"); // the row as the model holds it

    QTest::newRow("empty row padded") << QStringList() << QStringList({ "", "", "", "" });
    QTest::newRow("two cells padded") << QStringList({ "a", "b" }) << QStringList({ "a", "b", "", "" });
    QTest::newRow("full row unchanged") << QStringList({ "a", "b", "c", "d" })
                                        << QStringList({ "a", "b", "c", "d" });
    QTest::newRow("cells past the titles kept") << QStringList({ "a", "b", "c", "d", "e", "f" })
                                                << QStringList({ "a", "b", "c", "d", "e", "f" });
}

void tst_TableModel::shortAndLongRows()
{
    QFETCH(QStringList, row);
    QFETCH(QStringList, kept);

    ProtocolTable table;
    table.setSheet({ "地址", "名称", "16进制", "备注" }, { row });
    QCOMPARE(table.columnCount(), 4);
    QCOMPARE(table.rows().first(), kept);
    for (int c = 0; c < 4; ++c)
        QCOMPARE(table.text(0, c), kept.at(c));
    // Only the titled columns are cells of the table.
    QCOMPARE(table.text(0, 4), QString());
}

void tst_TableModel::rulesNormalised_data()
{
    QTest::addColumn<QString>("rule");
    QTest::addColumn<QString>("shown"); // the rule cell after the resolve
    QTest::addColumn<int>("raw");
    QTest::addColumn<QString>("decoded");

    QTest::newRow("key and value gain braces") << R"("type":"HEX")" << R"({"type":"HEX"})" << 0x00AB << "AB";
    QTest::newRow("unit gains braces") << R"("unit":"mm")" << R"({"unit":"mm"})" << 1234 << "1234mm";
    QTest::newRow("object unchanged") << R"({"signed":true})" << R"({"signed":true})" << 65336 << "-200";
    QTest::newRow("empty becomes the empty object") << "" << "{}" << 65535 << "65535";
    QTest::newRow("array unchanged") << R"([{},{"type":"HEX"}])" << R"([{},{"type":"HEX"}])" << 0x00AB
                                     << "[171] [AB] ";
    QTest::newRow("word gains braces and shows nothing") << "not json" << "{not json}" << 5 << "";
    QTest::newRow("brace inside a string: unchanged, shows nothing") << R"("unit":"{")" << R"("unit":"{")" << 5
                                                                     << "";
}

void tst_TableModel::rulesNormalised()
{
    QFETCH(QString, rule);
    QFETCH(QString, shown);
    QFETCH(int, raw);
    QFETCH(QString, decoded);

    ProtocolTable table;
    setRules(table, { R"({"unit":"x"})", rule });
    QCOMPARE(table.text(1, 5), shown);
    QCOMPARE(table.rows().at(1).at(5), shown); // what a save writes
    QCOMPARE(table.decode(1, quint16(raw)), decoded);
    QCOMPARE(table.decode(0, 3), QStringLiteral("3x"));
}

void tst_TableModel::noRuleColumnShowsDecimal()
{
    ProtocolTable table;
    table.setSheet({ "地址", "名称", "16进制" },
                   { { "0", R"({"unit":"mm"})", "" }, { "1", "\"type\":\"HEX\"", "" }, { "2", "", "" } });
    QCOMPARE(table.roles().rule, -1);
    for (int r = 0; r < 3; ++r) {
        QCOMPARE(table.decode(r, 65535), QStringLiteral("65535"));
        QCOMPARE(table.decode(r, 0), QStringLiteral("0"));
    }
    // Without a rule column no cell is taken for a rule: texts stay as they are.
    QCOMPARE(table.text(1, 1), QStringLiteral("\"type\":\"HEX\""));
}

void tst_TableModel::ruleColumnFirst()
{
    ProtocolTable table;
    table.setSheet({ "JSON解析", "名称", "显示" },
                   { { R"({"unit":"x"})", "zero0", "" }, { "", "zero1", "" } });
    QCOMPARE(table.roles().rule, 0);
    QCOMPARE(table.roles().display, 2);
    QCOMPARE(table.decode(0, 5), QStringLiteral("5x"));
    QCOMPARE(table.text(1, 0), QStringLiteral("{}"));
}

void tst_TableModel::emptySheet_data()
{
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<int>("rows");

    QTest::newRow("titles only") << QStringList({ "地址", "名称", "JSON解析" }) << 0;
    QTest::newRow("rows without titles") << QStringList() << 2;
    QTest::newRow("nothing at all") << QStringList() << 0;
}

void tst_TableModel::emptySheet()
{
    QFETCH(QStringList, titles);
    QFETCH(int, rows);

    ProtocolTable table;
    setRules(table, { "{}", "{}" });
    QSignalSpy resolved(&table, &ProtocolTable::resolved);
    table.setSheet(titles, grid(rows, 2));

    QCOMPARE(resolved.count(), 1);
    QCOMPARE(table.rowCount(), 0);
    QCOMPARE(table.columnCount(), 0);
    QCOMPARE(table.text(0, 0), QString());
    QCOMPARE(table.decodeAt(registers(0, { 7 }), 0),
             QStringLiteral("7"));
    QVector<quint16> values;
    QVERIFY(!table.writeValues(0, 1, &values));
    QVERIFY(!table.applyReply(registers(0, { 7 }), 0, 1).registers.constFirst().inTable);
}

void tst_TableModel::newSheetReplacesOld()
{
    ProtocolTable table;
    table.setSheet(usualTitles, grid(5, 6));
    table.setSheet({ "名称", "JSON解析" }, { { "a", R"("unit":"V")" } });

    QCOMPARE(table.rowCount(), 1);
    QCOMPARE(table.columnCount(), 2);
    QCOMPARE(table.roles().hex, -1);
    QCOMPARE(table.roles().rule, 1);
    QCOMPARE(table.rows().size(), 1);
    QCOMPARE(table.text(1, 0), QString());
    QCOMPARE(table.decode(0, 3), QStringLiteral("3V"));
    QCOMPARE(table.decode(1, 3), QString()); // no row 1 any more: no rule
}

void tst_TableModel::longRuleRefused_data()
{
    QTest::addColumn<QString>("rule");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("shown"); // the cell after the resolve
    QTest::addColumn<QString>("decoded");

    const QString atLimit = ruleOfLength(64 * 1024);
    QTest::newRow("64 KiB exactly: decoded") << atLimit << false << atLimit
                                             << QStringLiteral("7") + QString(64 * 1024 - 11, QLatin1Char('u'));
    const QString overLimit = ruleOfLength(64 * 1024 + 1);
    QTest::newRow("one character over: refused") << overLimit << true << overLimit << "";
    const QString large = ruleOfLength(100 * 1024);
    QTest::newRow("100 KiB: refused") << large << true << large << "";
    // Refused before it is read: not even wrapped in braces.
    const QString bare = QString(70000, QLatin1Char('['));
    QTest::newRow("70000 brackets: refused as typed") << bare << true << bare << "";
    // Short enough, but every object is a decoding of its own on every reply.
    QStringList objects;
    for (int i = 0; i < 64; ++i)
        objects.append(QStringLiteral("{}"));
    const QString sixtyFour = QLatin1Char('[') + objects.join(QLatin1Char(',')) + QLatin1Char(']');
    QTest::newRow("64 objects: decoded") << sixtyFour << false << sixtyFour << QString("[7] ").repeated(64);
    const QString sixtyFive = QStringLiteral("[{},") + sixtyFour.mid(1);
    QTest::newRow("65 objects: refused") << sixtyFive << true << sixtyFive << "";
}

void tst_TableModel::longRuleRefused()
{
    QFETCH(QString, rule);
    QFETCH(bool, refused);
    QFETCH(QString, shown);
    QFETCH(QString, decoded);

    ProtocolTable table;
    setRules(table, { R"({"unit":"mm"})", rule, "" });
    QCOMPARE(table.refusedRules(), refused ? QList<int>{ 1 } : QList<int>());
    QCOMPARE(table.text(1, 5), shown);
    QCOMPARE(table.decode(1, 7), decoded);
    QCOMPARE(table.decodeAt(registers(0, { 1, 7, 9 }), 1), decoded);
    // The other rows decode as usual.
    QCOMPARE(table.decode(0, 7), QStringLiteral("7mm"));
    QCOMPARE(table.decode(2, 7), QStringLiteral("7"));
}

void tst_TableModel::editsAndEditableColumns()
{
    ProtocolTable table;
    table.setSheet(usualTitles, grid(3, 6));
    table.setText(1, 1, QStringLiteral("renamed"));
    table.setText(3, 1, QStringLiteral("outside"));
    table.setText(1, 6, QStringLiteral("outside"));
    table.setText(-1, 0, QStringLiteral("outside"));

    QCOMPARE(table.text(1, 1), QStringLiteral("renamed"));
    QCOMPARE(table.rows().at(1).at(1), QStringLiteral("renamed"));
    QCOMPARE(table.rows().size(), 3);
    QCOMPARE(table.rows().at(1).size(), 6);
    // The user edits every column but those the replies fill: decimal and display.
    QList<bool> editable;
    for (int c = 0; c < 6; ++c)
        editable << table.isEditable(c);
    QCOMPARE(editable, (QList<bool>{ true, true, true, false, false, true }));
}

// The Modbus suites' workbook (tests/data/modbus/make_workbook.py): 130 rows on "hold".
void tst_TableModel::loadWorkbook()
{
    const QString path = QStringLiteral(RURODUR_TEST_DATA "/modbus/registers.xlsx");
    ProtocolTable table;
    QSignalSpy resolved(&table, &ProtocolTable::resolved);
    QString error;
    QCOMPARE(table.load(path, QStringLiteral("hold"), &error), 0);

    QCOMPARE(resolved.count(), 1);
    QCOMPARE(table.loadedFile(), path);
    QCOMPARE(table.loadedSheet(), QStringLiteral("hold"));
    QCOMPARE(table.rowCount(), 130);
    QCOMPARE(table.header(), usualTitles);
    QCOMPARE(table.text(129, 1), QStringLiteral("r129"));
    QCOMPARE(table.decode(2, 1234), QStringLiteral("123.4mm"));
    QCOMPARE(table.decode(5, 1234), QStringLiteral("1234"));
}

void tst_TableModel::failedLoadChangesNothing_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("sheet");

    QTest::newRow("missing file") << "/nonexistent/registers.xlsx" << "hold";
    QTest::newRow("directory") << RURODUR_TEST_DATA << "hold";
    QTest::newRow("sheet not in the workbook") << RURODUR_TEST_DATA "/modbus/registers.xlsx" << "HOLD";
    QTest::newRow("empty path") << "" << "hold";
}

void tst_TableModel::failedLoadChangesNothing()
{
    QFETCH(QString, path);
    QFETCH(QString, sheet);

    ProtocolTable table;
    const QString good = QStringLiteral(RURODUR_TEST_DATA "/modbus/registers.xlsx");
    QCOMPARE(table.load(good, QStringLiteral("input")), 0);
    table.setText(3, 1, QStringLiteral("typed"));
    QSignalSpy resolved(&table, &ProtocolTable::resolved);

    QVERIFY(table.load(path, sheet) < 0);
    QCOMPARE(resolved.count(), 0);
    QCOMPARE(table.rowCount(), 32);
    QCOMPARE(table.text(3, 1), QStringLiteral("typed"));
    QCOMPARE(table.loadedFile(), good);
    QCOMPARE(table.loadedSheet(), QStringLiteral("input"));
}

// A save writes every row the sheet had, also those beyond the cap; read back by openpyxl.
void tst_TableModel::saveKeepsRowsBeyondCap()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("registers.xlsx"));
    QVERIFY(QFile::copy(QStringLiteral(RURODUR_TEST_DATA "/modbus/registers.xlsx"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);

    ProtocolTable table;
    const QList<QStringList> rows = grid(1100, 6);
    table.setSheet(usualTitles, rows);
    table.setText(10, 1, QStringLiteral("edited"));
    QCOMPARE(table.save(path, QStringLiteral("hold")), 0);

    const QList<QStringList> read = readWithOpenpyxl(path, QStringLiteral("hold"));
    QCOMPARE(read.size(), 1101);
    QCOMPARE(read.at(0), usualTitles);
    QCOMPARE(read.at(11).at(1), QStringLiteral("edited"));
    // Shown rows are saved with their rules in braces; rows beyond the cap exactly as they came.
    QCOMPARE(read.at(1024).at(5), QStringLiteral("{1023,5}"));
    QCOMPARE(read.at(1025), rows.at(1024));
    QCOMPARE(read.at(1100), rows.at(1099));
}

QTEST_GUILESS_MAIN(tst_TableModel)
#include "tst_tablemodel.moc"
