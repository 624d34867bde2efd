#include "decoding.h"
#include "myconfig.h"
#include "mytool.h"
#include "protocoltable.h"
#include "tablewindowsuite.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

// Resolving workbook sheets into the register table of a real main window driven through its
// widgets: what the table shows and lets the user edit, and the read window it bounds.
class tst_ProtocolTable : public TableWindowSuite
{
    Q_OBJECT
public:
    tst_ProtocolTable()
        : TableWindowSuite(QStringLiteral("tst_protocoltable"))
    {
    }

private slots:
    void resolveShowsSheet();
    void resolveBoundsReadWindow();
    void columnRoles_data();
    void columnRoles();
    void readOnlyFlagFollowsNewSheet();
    void rulesNormalisedInCells_data();
    void rulesNormalisedInCells();
    void unusableRuleColumnKeepsCells_data();
    void unusableRuleColumnKeepsCells();
    void sheetWithoutRowsKeepsTable();
    void failedResolveChangesNothing_data();
    void failedResolveChangesNothing();
    void sampleWorkbookAreas();
    void sampleWorkbookRules_data();
    void sampleWorkbookRules();
};

void tst_ProtocolTable::resolveShowsSheet()
{
    openWindow(m_workbook);

    QCOMPARE(table()->rowCount(), 100);
    QCOMPARE(table()->columnCount(), 6);
    QCOMPARE(headerLabels(),
             QStringList({ "Address (地址)", "Name", "Value (16进制)", "Value (10进制)", "Text (显示)",
                           "Rule (JSON解析)" }));
    // A number cell reads as its plain text; row r is the sheet's data row r.
    QCOMPARE(cell(7, 0), QStringLiteral("7"));
    QCOMPARE(cell(7, 1), QStringLiteral("reg7"));
    QCOMPARE(cell(7, 2), QStringLiteral("0x0015"));
    QCOMPARE(cell(99, 1), QStringLiteral("reg99"));
    QCOMPARE(cell(99, 3), QString());
    QCOMPARE(m_f->resolves, 1);
}

void tst_ProtocolTable::resolveBoundsReadWindow()
{
    MyConfig::regsAddrRead = 95;
    MyConfig::regsLenRead = 10;
    openWindow(m_workbook);
    QCOMPARE(fieldText("lineEdit_regsAddrRead"), QStringLiteral("95"));
    QCOMPARE(fieldText("lineEdit_regsLenRead"), QStringLiteral("5"));

    // A sheet with 3 rows: address 95 is beyond it, the count is cut to the 3 rows.
    selectSheet(QStringLiteral("input regs"));
    QCOMPARE(fieldText("lineEdit_regsAddrRead"), QStringLiteral("0"));
    QCOMPARE(fieldText("lineEdit_regsLenRead"), QStringLiteral("3"));
    // The write pair is not bounded by a resolve.
    QCOMPARE(fieldText("lineEdit_regsLenWrite"), QStringLiteral("10"));
}

void tst_ProtocolTable::columnRoles_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("editable");

    QTest::newRow("hold: address") << "hold" << 0 << true;
    QTest::newRow("hold: free column") << "hold" << 1 << true;
    QTest::newRow("hold: hex") << "hold" << 2 << true;
    QTest::newRow("hold: decimal") << "hold" << 3 << false;
    QTest::newRow("hold: display") << "hold" << 4 << false;
    QTest::newRow("hold: rule") << "hold" << 5 << true;
    QTest::newRow("roles: rule word before display word") << "hold_roles" << 1 << true;
    QTest::newRow("roles: earlier decimal title overridden") << "hold_roles" << 3 << true;
    QTest::newRow("roles: first of two equal display titles") << "hold_roles" << 4 << false;
    QTest::newRow("roles: second of two equal display titles") << "hold_roles" << 6 << true;
    QTest::newRow("roles: later decimal title") << "hold_roles" << 7 << false;
    // The sheet before ("hold") had its decimal column at 3; this sheet has none.
    QTest::newRow("input: rule where the decimal column was") << "input regs" << 3 << true;
    QTest::newRow("input: display") << "input regs" << 2 << false;
}

void tst_ProtocolTable::columnRoles()
{
    QFETCH(QString, sheet);
    QFETCH(int, column);
    QFETCH(bool, editable);

    openWindow(m_workbook, sheet);
    QCOMPARE(m_f->area->currentText(), sheet);
    for (int row = 0; row < table()->rowCount(); ++row) {
        const QTableWidgetItem *item = table()->item(row, column);
        QVERIFY(item);
        QCOMPARE(bool(item->flags() & Qt::ItemIsEditable), editable);
    }
}

void tst_ProtocolTable::readOnlyFlagFollowsNewSheet()
{
    openWindow(m_workbook);
    QCOMPARE(table()->rowCount(), 100);
    QVERIFY(!(table()->item(2, 3)->flags() & Qt::ItemIsEditable));

    // Rows 0..3 keep their items; column 3 is no longer the decimal column.
    selectSheet(QStringLiteral("hold_roles"));
    QCOMPARE(table()->rowCount(), 4);
    QVERIFY(table()->item(2, 3)->flags() & Qt::ItemIsEditable);

    selectSheet(QStringLiteral("hold"));
    QVERIFY(!(table()->item(2, 3)->flags() & Qt::ItemIsEditable));
    QVERIFY(!(table()->item(50, 3)->flags() & Qt::ItemIsEditable));
}

void tst_ProtocolTable::rulesNormalisedInCells_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("shown");

    QTest::newRow("key and value without braces") << 0 << R"({"type":"HEX"})";
    QTest::newRow("object unchanged") << 1 << R"({"signed":true})";
    QTest::newRow("empty becomes empty object") << 2 << "{}";
    QTest::newRow("array unchanged") << 3 << R"([{},{"type":"HEX"}])";
    QTest::newRow("word gets braces too") << 4 << "{not json}";
    QTest::newRow("last row") << 99 << R"({"unit":"mm"})";
}

void tst_ProtocolTable::rulesNormalisedInCells()
{
    QFETCH(int, row);
    QFETCH(QString, shown);

    openWindow(m_workbook);
    QCOMPARE(cell(row, 5), shown);
}

void tst_ProtocolTable::unusableRuleColumnKeepsCells_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("firstCell");
    QTest::addColumn<QString>("secondName");

    QTest::newRow("rule column first") << "hold_rule0" << QStringList({ "JSON解析", "名称", "显示" }) << 5
                                       << "{\"unit\":\"x\"}" << "zero1";
    QTest::newRow("no rule column") << "hold_norule" << QStringList({ "地址", "名称" }) << 3 << "0"
                                    << "nr1";
}

// A sheet whose rule column is missing or first is filled like any other: its own texts, and
// the read window cut to its rows. Nothing of the sheet shown before survives.
void tst_ProtocolTable::unusableRuleColumnKeepsCells()
{
    QFETCH(QString, sheet);
    QFETCH(QStringList, titles);
    QFETCH(int, rows);
    QFETCH(QString, firstCell);
    QFETCH(QString, secondName);

    openWindow(m_workbook);
    // Typed but not finished: the resolve runs the field handlers, which cut it to the rows.
    m_f->lenRead->setText(QStringLiteral("50"));

    selectSheet(sheet);
    QCOMPARE(table()->rowCount(), rows);
    QCOMPARE(table()->columnCount(), titles.size());
    QCOMPARE(headerLabels(), titles);
    QCOMPARE(cell(0, 0), firstCell);
    QCOMPARE(cell(1, 1), secondName);
    QCOMPARE(fieldText("lineEdit_regsLenRead"), QString::number(rows));
}

void tst_ProtocolTable::sheetWithoutRowsKeepsTable()
{
    openWindow(m_workbook);
    selectSheet(QStringLiteral("hold_empty"));

    // An empty table, not the rows of the sheet shown before.
    QCOMPARE(table()->rowCount(), 0);
    QCOMPARE(table()->columnCount(), 0);
    QCOMPARE(fieldText("lineEdit_regsLenRead"), QStringLiteral("0"));
    // No rows: every finished read window collapses.
    finish("lineEdit_regsAddrRead", QStringLiteral("5"));
    QCOMPARE(fieldText("lineEdit_regsAddrRead"), QStringLiteral("0"));
    QCOMPARE(fieldText("lineEdit_regsLenRead"), QStringLiteral("0"));
}

void tst_ProtocolTable::failedResolveChangesNothing_data()
{
    QTest::addColumn<QString>("path");

    QTest::newRow("missing file") << "missing.xlsx";
    QTest::newRow("upper-case suffix") << "upper.XLSX";
    QTest::newRow("directory named .xlsx") << "folder.xlsx";
    QTest::newRow("workbook without the sheet") << "other.xlsx";
}

void tst_ProtocolTable::failedResolveChangesNothing()
{
    QFETCH(QString, path);

    QVERIFY(!m_f->copyIn(m_workbook, QStringLiteral("upper.XLSX")).isEmpty());
    QVERIFY(QDir(m_f->directory()).mkpath(QStringLiteral("folder.xlsx")));
    QVERIFY(!m_f->copyIn(fixture(QStringLiteral("other.xlsx")), QStringLiteral("other.xlsx")).isEmpty());
    openWindow(m_workbook);
    QCOMPARE(table()->rowCount(), 100);
    table()->item(3, 1)->setText(QStringLiteral("typed"));
    QSignalSpy resolved(m_f->model(), &ProtocolTable::resolved);

    m_f->child<QLineEdit>("lineEdit_protocolFile")->setText(m_f->path(path));
    click("pushButton_resolve");

    // The failure is said on the status bar; the model keeps the sheet it had.
    QVERIFY2(m_f->status->currentMessage().startsWith(resolveFailed),
             qPrintable(m_f->status->currentMessage()));
    QCOMPARE(resolved.count(), 0);
    QCOMPARE(m_f->model()->loadedFile(), m_workbook);
    QCOMPARE(m_f->model()->text(3, 1), QStringLiteral("typed"));
    QCOMPARE(m_catcher->count(), 0);
    QCOMPARE(table()->rowCount(), 100);
    QCOMPARE(table()->columnCount(), 6);
    QCOMPARE(cell(3, 1), QStringLiteral("typed"));
    QCOMPARE(cell(4, 5), QStringLiteral("{not json}"));
    QCOMPARE(fieldText("lineEdit_regsLenRead"), QStringLiteral("10"));
    // Still bounded by the 100 rows of the last good resolve.
    finish("lineEdit_regsAddrRead", QStringLiteral("98"));
    QCOMPARE(fieldText("lineEdit_regsLenRead"), QStringLiteral("2"));
}

// The workbook shipped beside the program, for the simulated sensor.
void tst_ProtocolTable::sampleWorkbookAreas()
{
    const QString sample = m_f->copyIn(QStringLiteral(RURODUR_SOURCE_DIR "/ProtocolFile/modbus.xlsx"),
                                QStringLiteral("modbus.xlsx"));
    QVERIFY(!sample.isEmpty());
    openWindow(sample, QString());

    const QComboBox *areas = m_f->area;
    QCOMPARE(areas->count(), 4);
    QCOMPARE(registerTypeOf(areas->itemText(0)), QModbusDataUnit::HoldingRegisters);
    QCOMPARE(registerTypeOf(areas->itemText(1)), QModbusDataUnit::InputRegisters);
    QCOMPARE(registerTypeOf(areas->itemText(2)), QModbusDataUnit::Coils);
    QCOMPARE(registerTypeOf(areas->itemText(3)), QModbusDataUnit::DiscreteInputs);
    QCOMPARE(areas->currentIndex(), 0);
    QCOMPARE(m_catcher->count(), 0);

    QCOMPARE(table()->rowCount(), 22);
    const QStringList titles = headerLabels();
    QVERIFY(titles.indexOf(QStringLiteral("JSON解析")) >= 1);
    for (const char *title : { "地址", "16进制", "10进制", "显示" })
        QVERIFY2(titles.contains(QString::fromUtf8(title)), title);
    const int name = titles.indexOf(QStringLiteral("名称"));
    QVERIFY(name >= 0);
    QCOMPARE(cell(10, name), QStringLiteral("下限设置距离"));
    QCOMPARE(cell(11, name), QStringLiteral("上限设置距离"));
    QCOMPARE(cell(20, name), QStringLiteral("盲区距离"));
    QCOMPARE(cell(21, name), QStringLiteral("最远距离"));

    const int rows[] = { 18, 8, 8 };
    for (int i = 1; i < 4; ++i) {
        m_f->area->setCurrentIndex(i);
        QCOMPARE(table()->rowCount(), rows[i - 1]);
    }
    QCOMPARE(m_catcher->count(), 0);
}

void tst_ProtocolTable::sampleWorkbookRules_data()
{
    QTest::addColumn<int>("area");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("raw");
    QTest::addColumn<QString>("shown");

    QTest::newRow("flight time") << 0 << 0 << 5830 << "5830us";
    QTest::newRow("temperature below zero") << 0 << 1 << 65526 << "-10℃";
    QTest::newRow("distance in tenths") << 0 << 2 << 9000 << "900.0mm";
    QTest::newRow("status: echo valid") << 0 << 3 << 0x0001 << "[回波有效] [限内] [量程内] [测量中] ";
    QTest::newRow("status: below lower, blind, stopped")
            << 0 << 3 << 0x002A << "[无回波] [低于下限] [盲区内] [已停止] ";
    QTest::newRow("firmware 0x0102") << 0 << 6 << 0x0102 << "1.02";
    QTest::newRow("lower limit") << 0 << 10 << 500 << "500mm";
    QTest::newRow("farthest") << 0 << 21 << 2000 << "2000mm";
    QTest::newRow("input: distance") << 1 << 2 << 12345 << "1234.5mm";
    QTest::newRow("coil on") << 2 << 0 << 0xFF00 << "开";
    QTest::newRow("coil off") << 2 << 0 << 0 << "关";
    QTest::newRow("discrete input on") << 3 << 0 << 0xFF00 << "是";
}

void tst_ProtocolTable::sampleWorkbookRules()
{
    QFETCH(int, area);
    QFETCH(int, row);
    QFETCH(int, raw);
    QFETCH(QString, shown);

    const QString sample = m_f->copyIn(QStringLiteral(RURODUR_SOURCE_DIR "/ProtocolFile/modbus.xlsx"),
                                QStringLiteral("modbus.xlsx"));
    openWindow(sample, QString());
    m_f->area->setCurrentIndex(area);
    QVERIFY(table()->rowCount() > row);

    QString text = cell(row, headerLabels().indexOf(QStringLiteral("JSON解析")));
    QJsonDocument rule;
    parseRule(text, rule);
    QVERIFY2(!rule.isNull(), qPrintable(text));
    QCOMPARE(decodeValue(quint16(raw), rule), shown);
}

QTEST_MAIN(tst_ProtocolTable)
#include "tst_protocoltable.moc"
