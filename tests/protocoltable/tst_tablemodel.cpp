#include "fieldrules.h"
#include "myconfig.h"
#include "protocoltable.h"
#include "tablefixture.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>

using namespace tablefixture;

// The protocol table model and the field rules without a window: sheets given as texts, and
// what the model makes of them (roles, rows, rules), the values a write takes, what a reply
// leaves in the rows. Expected values are worked out by hand from the sheet texts.
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

    void writeValues_data();
    void writeValues();
    void applyReply_data();
    void applyReply();
    void applyReplyMarksChanges();
    void applyReplyWithoutValueColumns();
    void decodeAt_data();
    void decodeAt();

    void loadWorkbook();
    void failedLoadChangesNothing_data();
    void failedLoadChangesNothing();
    void saveKeepsRowsBeyondCap();

    void addressRule_data();
    void addressRule();
    void countRule_data();
    void countRule();
};

namespace {

const QStringList usualTitles = { "地址", "名称", "16进制", "10进制", "显示", "JSON解析" };

// `count` rows of `columns` cells; cell (r, c) is "r,c".
QList<QStringList> grid(int count, int columns)
{
    QList<QStringList> rows;
    for (int r = 0; r < count; ++r) {
        QStringList row;
        for (int c = 0; c < columns; ++c)
            row << QStringLiteral("%1,%2").arg(r).arg(c);
        rows << row;
    }
    return rows;
}

// A table of the usual titles whose rule column holds `rules`, one row each.
void setRules(ProtocolTable &table, const QStringList &rules)
{
    QList<QStringList> rows;
    for (int r = 0; r < rules.size(); ++r)
        rows << QStringList({ QString::number(r), QStringLiteral("r%1").arg(r), "", "", "", rules.at(r) });
    table.setSheet(usualTitles, rows);
}

QString ruleOfLength(int length)
{
    // {"unit":"uuu…"}: 11 characters around the unit.
    return QStringLiteral("{\"unit\":\"") + QString(length - 11, QLatin1Char('u')) + QStringLiteral("\"}");
}

} // namespace

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
            << QStringList({ "地址", "JSON解析 显示", "名称", "A 10进制", "显示", "备注", "显示", "B 10进制" })
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
    QCOMPARE(table.decodeAt(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, shownRows, QVector<quint16>{ 65535 }), 0),
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
    table.setSheet({ "JSON解析", "名称", "显示" }, { { R"({"unit":"x"})", "zero0", "" }, { "", "zero1", "" } });
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
    QCOMPARE(table.decodeAt(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, QVector<quint16>{ 7 }), 0),
             QStringLiteral("7"));
    QVector<quint16> values;
    QVERIFY(!table.writeValues(0, 1, &values));
    QVERIFY(table.applyReply(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, QVector<quint16>{ 7 }), 0, 1).isEmpty());
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
    QCOMPARE(table.decodeAt(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, QVector<quint16>{ 1, 7, 9 }), 1), decoded);
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

void tst_TableModel::writeValues_data()
{
    QTest::addColumn<bool>("hexColumn");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QVector<quint16>>("values");

    // Hex cells of rows 0..5: "0x0001", "20", "abc", "0x12345", "-2", "".
    QTest::newRow("hex, decimal and junk cells") << true << 0 << 3 << true << QVector<quint16>{ 1, 20, 0 };
    QTest::newRow("low 16 bits of 0x12345") << true << 3 << 1 << true << QVector<quint16>{ 0x2345 };
    QTest::newRow("negative decimal") << true << 4 << 1 << true << QVector<quint16>{ 65534 };
    QTest::newRow("empty cell is 0") << true << 5 << 1 << true << QVector<quint16>{ 0 };
    QTest::newRow("the whole table") << true << 0 << 6 << true
                                     << QVector<quint16>{ 1, 20, 0, 0x2345, 65534, 0 };
    QTest::newRow("count 0: nothing to send") << true << 0 << 0 << true << QVector<quint16>();
    QTest::newRow("negative count: nothing to send") << true << 0 << -3 << true << QVector<quint16>();
    QTest::newRow("negative address") << true << -1 << 2 << false << QVector<quint16>();
    QTest::newRow("one row past the last") << true << 5 << 2 << false << QVector<quint16>();
    QTest::newRow("start at the row count") << true << 6 << 1 << false << QVector<quint16>();
    QTest::newRow("huge count") << true << 0 << 2000000000 << false << QVector<quint16>();
    QTest::newRow("address near INT_MAX") << true << INT_MAX << 1 << false << QVector<quint16>();
    QTest::newRow("no hex column") << false << 0 << 1 << false << QVector<quint16>();
    QTest::newRow("no hex column, count 0") << false << 0 << 0 << true << QVector<quint16>();
}

void tst_TableModel::writeValues()
{
    QFETCH(bool, hexColumn);
    QFETCH(int, address);
    QFETCH(int, count);
    QFETCH(bool, accepted);
    QFETCH(QVector<quint16>, values);

    ProtocolTable table;
    const QStringList cells = { "0x0001", "20", "abc", "0x12345", "-2", "" };
    QList<QStringList> rows;
    for (const QString &cell : cells)
        rows << QStringList({ QStringLiteral("0"), cell });
    table.setSheet({ "地址", hexColumn ? "16进制" : "备注" }, rows);

    QVector<quint16> taken = { 99 }; // cleared by every call
    QCOMPARE(table.writeValues(address, count, &taken), accepted);
    if (accepted)
        QCOMPARE(taken, values);
    else
        QVERIFY(taken.isEmpty());

    // An edited cell counts from the edit on.
    if (hexColumn && accepted && count > 0) {
        table.setText(address, 1, QStringLiteral("0x0041"));
        QVERIFY(table.writeValues(address, 1, &taken));
        QCOMPARE(taken, QVector<quint16>{ 0x41 });
    }
}

void tst_TableModel::applyReply_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QVector<quint16>>("values");
    QTest::addColumn<int>("windowStart");
    QTest::addColumn<int>("windowCount");
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<QStringList>("hex");
    QTest::addColumn<QStringList>("dec");
    QTest::addColumn<QStringList>("display");
    QTest::addColumn<QList<bool>>("changed");

    // Ten rows; rules: row 0 {"unit":"us"}, row 1 {"signed":true}, the rest {}; row 2 holds 0x0007.
    QTest::newRow("reply equals the window")
            << 0 << QVector<quint16>{ 125, 65336, 7 } << 0 << 3 << QList<int>{ 0, 1, 2 }
            << QStringList({ "0x007D", "0xFF38", "0x0007" }) << QStringList({ "125", "65336", "7" })
            << QStringList({ "125us", "-200", "7" }) << QList<bool>{ true, true, false };
    QTest::newRow("window inside the reply")
            << 0 << QVector<quint16>{ 1, 2, 3, 4, 5, 6 } << 2 << 2 << QList<int>{ 2, 3 }
            << QStringList({ "0x0003", "0x0004" }) << QStringList({ "3", "4" }) << QStringList({ "3", "4" })
            << QList<bool>{ true, true };
    QTest::newRow("reply inside the window")
            << 4 << QVector<quint16>{ 40, 41 } << 0 << 10 << QList<int>{ 4, 5 }
            << QStringList({ "0x0028", "0x0029" }) << QStringList({ "40", "41" }) << QStringList({ "40", "41" })
            << QList<bool>{ true, true };
    QTest::newRow("window begins before the reply")
            << 3 << QVector<quint16>{ 30, 31, 32 } << 1 << 4 << QList<int>{ 3, 4 }
            << QStringList({ "0x001E", "0x001F" }) << QStringList({ "30", "31" }) << QStringList({ "30", "31" })
            << QList<bool>{ true, true };
    QTest::newRow("rows beyond the table skipped")
            << 8 << QVector<quint16>{ 80, 81, 82, 83, 84 } << 8 << 5 << QList<int>{ 8, 9 }
            << QStringList({ "0x0050", "0x0051" }) << QStringList({ "80", "81" }) << QStringList({ "80", "81" })
            << QList<bool>{ true, true };
    QTest::newRow("negative window start")
            << 0 << QVector<quint16>{ 5, 6, 7 } << -2 << 4 << QList<int>{ 0, 1 }
            << QStringList({ "0x0005", "0x0006" }) << QStringList({ "5", "6" }) << QStringList({ "5us", "6" })
            << QList<bool>{ true, true };
    QTest::newRow("reply starting before address 0")
            << -1 << QVector<quint16>{ 9, 10, 65535 } << 0 << 5 << QList<int>{ 0, 1 }
            << QStringList({ "0x000A", "0xFFFF" }) << QStringList({ "10", "65535" })
            << QStringList({ "10us", "-1" }) << QList<bool>{ true, true };
    QTest::newRow("reply wholly beyond the table") << 10 << QVector<quint16>{ 1, 2 } << 10 << 2 << QList<int>()
                                                   << QStringList() << QStringList() << QStringList()
                                                   << QList<bool>();
    QTest::newRow("reply and window apart") << 0 << QVector<quint16>{ 1, 2 } << 5 << 3 << QList<int>()
                                            << QStringList() << QStringList() << QStringList() << QList<bool>();
    QTest::newRow("empty window") << 0 << QVector<quint16>{ 1, 2 } << 0 << 0 << QList<int>() << QStringList()
                                  << QStringList() << QStringList() << QList<bool>();
    QTest::newRow("empty reply") << 0 << QVector<quint16>() << 0 << 5 << QList<int>() << QStringList()
                                 << QStringList() << QStringList() << QList<bool>();
}

void tst_TableModel::applyReply()
{
    QFETCH(int, start);
    QFETCH(QVector<quint16>, values);
    QFETCH(int, windowStart);
    QFETCH(int, windowCount);
    QFETCH(QList<int>, rows);
    QFETCH(QStringList, hex);
    QFETCH(QStringList, dec);
    QFETCH(QStringList, display);
    QFETCH(QList<bool>, changed);

    ProtocolTable table;
    QStringList rules = { R"({"unit":"us"})", R"({"signed":true})" };
    while (rules.size() < 10)
        rules << QString();
    setRules(table, rules);
    table.setText(2, 2, QStringLiteral("0x0007"));
    const QList<QStringList> before = table.rows();

    const QVector<ProtocolTable::RowUpdate> updates =
            table.applyReply(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, start, values), windowStart,
                             windowCount);
    QCOMPARE(updates.size(), rows.size());
    for (int i = 0; i < updates.size(); ++i) {
        const ProtocolTable::RowUpdate &update = updates.at(i);
        QCOMPARE(update.row, rows.at(i));
        QCOMPARE(update.hex, hex.at(i));
        QCOMPARE(update.dec, dec.at(i));
        QCOMPARE(update.display, display.at(i));
        QCOMPARE(update.hexChanged, changed.at(i));
        // The model holds what the row shows now.
        QCOMPARE(table.text(update.row, 2), hex.at(i));
        QCOMPARE(table.text(update.row, 3), dec.at(i));
        QCOMPARE(table.text(update.row, 4), display.at(i));
    }
    for (int r = 0; r < 10; ++r) {
        if (!rows.contains(r))
            QCOMPARE(table.rows().at(r), before.at(r));
    }
}

void tst_TableModel::applyReplyMarksChanges()
{
    ProtocolTable table;
    setRules(table, { "", "" });
    const QModbusDataUnit unit(QModbusDataUnit::HoldingRegisters, 0, QVector<quint16>{ 1, 2 });
    const auto changes = [&] {
        QList<bool> marks;
        const QVector<ProtocolTable::RowUpdate> updates = table.applyReply(unit, 0, 2);
        for (const ProtocolTable::RowUpdate &update : updates)
            marks << update.hexChanged;
        return marks;
    };

    QCOMPARE(changes(), (QList<bool>{ true, true }));   // from empty cells
    QCOMPARE(changes(), (QList<bool>{ false, false })); // the same values again
    // The user typed another value into row 0: the reply puts the device's value back.
    table.setText(0, 2, QStringLiteral("0x0005"));
    QCOMPARE(changes(), (QList<bool>{ true, false }));
    QCOMPARE(table.text(0, 2), QStringLiteral("0x0001"));
}

void tst_TableModel::applyReplyWithoutValueColumns()
{
    ProtocolTable table;
    table.setSheet({ "地址", "JSON解析" }, { { "0", R"({"unit":"mm"})" }, { "1", "" } });
    const QList<QStringList> before = table.rows();

    const QVector<ProtocolTable::RowUpdate> updates =
            table.applyReply(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, QVector<quint16>{ 7, 8 }), 0, 2);
    QCOMPARE(updates.size(), 2);
    for (const ProtocolTable::RowUpdate &update : updates) {
        QCOMPARE(update.hex, QString());
        QVERIFY(!update.hexChanged);
        QCOMPARE(update.dec, QString());
        QCOMPARE(update.display, QString());
    }
    QCOMPARE(table.rows(), before);
}

void tst_TableModel::decodeAt_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QVector<quint16>>("values");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("shown");

    // Four rows: {"unit":"us"}, {"signed":true}, {"type":"HEX"}, {}.
    const QVector<quint16> all = { 125, 65336, 171, 9 };
    QTest::newRow("row 0 with its unit") << 0 << all << 0 << "125us";
    QTest::newRow("row 1 signed") << 0 << all << 1 << "-200";
    QTest::newRow("row 2 in hex") << 0 << all << 2 << "AB";
    QTest::newRow("row 3 plain") << 0 << all << 3 << "9";
    QTest::newRow("reply from address 2") << 2 << QVector<quint16>{ 171, 9 } << 0 << "AB";
    QTest::newRow("past the rows: unsigned decimal") << 3 << QVector<quint16>{ 9, 65535 } << 1 << "65535";
    QTest::newRow("far past the rows") << 1000 << QVector<quint16>{ 65336 } << 0 << "65336";
    QTest::newRow("address -1: unsigned decimal") << -1 << QVector<quint16>{ 65336, 125 } << 0 << "65336";
    QTest::newRow("address 0 of a reply from -1") << -1 << QVector<quint16>{ 65336, 125 } << 1 << "125us";
    QTest::newRow("index past the values reads 0") << 0 << QVector<quint16>{ 1 } << 3 << "0";
}

void tst_TableModel::decodeAt()
{
    QFETCH(int, start);
    QFETCH(QVector<quint16>, values);
    QFETCH(int, index);
    QFETCH(QString, shown);

    ProtocolTable table;
    setRules(table, { R"({"unit":"us"})", R"({"signed":true})", R"({"type":"HEX"})", "" });
    QCOMPARE(table.decodeAt(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, start, values), index), shown);
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

void tst_TableModel::addressRule_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("newAddress");
    QTest::addColumn<int>("newCount");
    QTest::addColumn<bool>("addressChanged");
    QTest::addColumn<bool>("countChanged");

    QTest::newRow("fitting window unchanged") << 90 << 10 << 100 << 90 << 10 << false << false;
    QTest::newRow("window to the last row unchanged") << 95 << 5 << 100 << 95 << 5 << false << false;
    QTest::newRow("address equal to the rows becomes 0") << 100 << 10 << 100 << 0 << 10 << true << false;
    QTest::newRow("address far beyond becomes 0") << 5000 << 10 << 100 << 0 << 10 << true << false;
    QTest::newRow("count cut to the rows left") << 98 << 10 << 100 << 98 << 2 << false << true;
    QTest::newRow("last row leaves one") << 99 << 10 << 100 << 99 << 1 << false << true;
    QTest::newRow("negative address becomes 0") << -5 << 20 << 100 << 0 << 20 << true << false;
    QTest::newRow("INT_MIN address becomes 0") << INT_MIN << 20 << 100 << 0 << 20 << true << false;
    QTest::newRow("count near INT_MAX cut") << 1 << INT_MAX << 100 << 1 << 99 << false << true;
    QTest::newRow("negative count left to the count rule") << 0 << -5 << 100 << 0 << -5 << false << false;
    QTest::newRow("no rows: address 0") << 0 << 10 << 0 << 0 << 0 << true << true;
    QTest::newRow("no rows: address 7") << 7 << 10 << 0 << 0 << 0 << true << true;
    QTest::newRow("no rows, count 0") << 0 << 0 << 0 << 0 << 0 << true << false;
}

void tst_TableModel::addressRule()
{
    QFETCH(int, address);
    QFETCH(int, count);
    QFETCH(int, rows);
    QFETCH(int, newAddress);
    QFETCH(int, newCount);
    QFETCH(bool, addressChanged);
    QFETCH(bool, countChanged);

    const FieldWindow w = applyAddressRule(address, count, rows);
    QCOMPARE(w.address, newAddress);
    QCOMPARE(w.count, newCount);
    QCOMPARE(w.addressChanged, addressChanged);
    QCOMPARE(w.countChanged, countChanged);
}

void tst_TableModel::countRule_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("newCount");
    QTest::addColumn<bool>("countChanged");

    QTest::newRow("fitting count unchanged") << 0 << 10 << 100 << 10 << false;
    QTest::newRow("127 fits 200 rows") << 0 << 127 << 200 << 127 << false;
    QTest::newRow("128 above the maximum becomes 1") << 0 << 128 << 100 << 1 << true;
    QTest::newRow("127 at 0 cut to the 100 rows") << 0 << 127 << 100 << 100 << true;
    QTest::newRow("0 becomes 1") << 0 << 0 << 100 << 1 << true;
    QTest::newRow("negative becomes 1") << 0 << -3 << 100 << 1 << true;
    QTest::newRow("INT_MAX becomes 1") << 0 << INT_MAX << 100 << 1 << true;
    QTest::newRow("cut after the start address") << 95 << 50 << 100 << 5 << true;
    QTest::newRow("128 at the last row becomes 1") << 99 << 128 << 100 << 1 << true;
    QTest::newRow("address at the row count leaves none") << 100 << 1 << 100 << 0 << true;
    QTest::newRow("address past the rows leaves none") << 150 << 5 << 100 << 0 << true;
    QTest::newRow("negative address leaves none") << -1 << 5 << 100 << 0 << true;
    QTest::newRow("no rows: count becomes 0") << 0 << 10 << 0 << 0 << true;
    QTest::newRow("no rows: negative count becomes 0") << 0 << -1 << 0 << 0 << true;
    QTest::newRow("no rows: count above the maximum becomes 0") << 0 << 200 << 0 << 0 << true;
    QTest::newRow("no rows: stored address 7 gives 0") << 7 << 5 << 0 << 0 << true;
}

void tst_TableModel::countRule()
{
    QFETCH(int, address);
    QFETCH(int, count);
    QFETCH(int, rows);
    QFETCH(int, newCount);
    QFETCH(bool, countChanged);

    const FieldWindow w = applyCountRule(address, count, rows);
    QCOMPARE(w.address, address); // the count rule never moves the address
    QVERIFY(!w.addressChanged);
    QCOMPARE(w.count, newCount);
    QCOMPARE(w.countChanged, countChanged);
}

QTEST_GUILESS_MAIN(tst_TableModel)
#include "tst_tablemodel.moc"
