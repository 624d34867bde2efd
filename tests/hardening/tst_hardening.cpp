// Hostile input into everything the user touches, through the real main window: texts typed
// into each field followed by every button, hand-typed protocol paths, settings files and
// workbooks that are damaged or built to hurt, and rule cells edited into nonsense. Each case
// must end without a crash or hang, with a clear result, and with the workbook's bytes as they
// were unless the user pressed save.

#include "modalcatcher.h"
#include "myconfig.h"
#include "mytool.h"
#include "myxlsx.h"
#include "testfiles.h"
#include "windowfixture.h"
#include "../xlsx/workbookbuilder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QtTest>

#include <memory>

namespace {

const int holdRows = 130; // data rows of the "hold" sheet of tests/data/modbus/registers.xlsx

void addHostileTexts()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("20 nines (overflows)") << QStringLiteral("99999999999999999999");
    QTest::newRow("INT_MAX") << QStringLiteral("2147483647");
    QTest::newRow("INT_MIN") << QStringLiteral("-2147483648");
    QTest::newRow("minus one") << QStringLiteral("-1");
    QTest::newRow("bare 0x") << QStringLiteral("0x");
    QTest::newRow("0xFFFFFFFF") << QStringLiteral("0xFFFFFFFF");
    QTest::newRow("negative hex") << QStringLiteral("-0x10");
    QTest::newRow("arabic-indic digits") << QStringLiteral("١٢٣");
    QTest::newRow("fullwidth digits") << QStringLiteral("１２");
    QTest::newRow("emoji") << QStringLiteral("😀");
    QTest::newRow("10k characters") << QString(10000, QLatin1Char('9'));
    QTest::newRow("embedded NUL") << (QStringLiteral("1") + QChar(0) + QStringLiteral("2"));
    QTest::newRow("exponent") << QStringLiteral("1e3");
    QTest::newRow("padded") << QStringLiteral(" 12 ");
}

} // namespace

class TestHardening : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void hostileFieldTexts_data();
    void hostileFieldTexts();
    void hostileDeviceAddress_data();
    void hostileDeviceAddress();
    void hostileProtocolPath_data();
    void hostileProtocolPath();
    void hostileSettingsFiles_data();
    void hostileSettingsFiles();
    void hostileWorkbooks_data();
    void hostileWorkbooks();
    void hostileRuleCellsSavedAsTyped_data();
    void hostileRuleCellsSavedAsTyped();
    void replyKeepsColumnSizing();

private:
    std::unique_ptr<WindowFixture> m_f;
    QString m_workbook;
};

void TestHardening::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

// The Modbus suites' workbook, on a line to nowhere unless a test starts the simulator.
void TestHardening::init()
{
    m_f = std::make_unique<WindowFixture>(QStringLiteral("tst_hardening"));
    QVERIFY(m_f->isValid());
    m_workbook = m_f->useModbusWorkbook();
    QVERIFY(!m_workbook.isEmpty());
    m_f->useLine(QStringLiteral("/nonexistent/ttyNONE"));
}

void TestHardening::cleanup()
{
    m_f.reset();
}

void TestHardening::hostileFieldTexts_data()
{
    addHostileTexts();
}

// The text goes into each address, count and period field in turn, the edit is finished as
// Enter would, and then every button is pressed. The fields end inside the table, the requests
// the simulator sees stay inside the protocol's limits, and the workbook is not touched.
void TestHardening::hostileFieldTexts()
{
    QFETCH(QString, text);
    WindowFixture &s = *m_f;
    QVERIFY2(s.startSimulator({ "--static" }), qPrintable(s.sim().errorString()));
    const QByteArray before = fileDigest(m_workbook);
    ModalCatcher boxes;
    s.create(true);
    QCOMPARE(s.table->rowCount(), holdRows);
    auto *connect = s.child<QPushButton>("pushButton_connect");
    connect->setChecked(true);
    QVERIFY(connect->isChecked());

    for (const char *name : { "lineEdit_regsAddrRead", "lineEdit_regsLenRead", "lineEdit_regsAddrWrite",
                              "lineEdit_regsLenWrite", "lineEdit_period" })
        s.finishEdit(QLatin1String(name), text);

    const int addrRead = MyTool::textToInt(s.field("lineEdit_regsAddrRead")->text());
    const int lenRead = MyTool::textToInt(s.field("lineEdit_regsLenRead")->text());
    const int addrWrite = MyTool::textToInt(s.field("lineEdit_regsAddrWrite")->text());
    const int lenWrite = MyTool::textToInt(s.field("lineEdit_regsLenWrite")->text());
    QVERIFY2(addrRead >= 0 && addrRead < holdRows, qPrintable(QString::number(addrRead)));
    QVERIFY2(lenRead >= 0 && lenRead <= 127 && addrRead + lenRead <= holdRows, qPrintable(QString::number(lenRead)));
    QVERIFY2(addrWrite >= 0 && addrWrite < holdRows, qPrintable(QString::number(addrWrite)));
    QVERIFY2(lenWrite >= 0 && lenWrite <= 127 && addrWrite + lenWrite <= holdRows, qPrintable(QString::number(lenWrite)));

    // One-shot read, a cycle with whatever period the text gives, a write, a resolve.
    s.child<QPushButton>("pushButton_read")->setChecked(true);
    QVERIFY(s.settle());
    auto *repeat = s.child<QCheckBox>("checkBox_repeat");
    repeat->setChecked(true);
    s.child<QPushButton>("pushButton_read")->setChecked(true);
    QTest::qWait(100);
    repeat->setChecked(false);
    QVERIFY(!s.child<QPushButton>("pushButton_read")->isChecked());
    QVERIFY(s.settle());
    s.child<QPushButton>("pushButton_write")->click();
    QVERIFY(s.settle());
    s.child<QPushButton>("pushButton_resolve")->click();
    QCOMPARE(s.table->rowCount(), holdRows);
    QCOMPARE(boxes.count(), 0);

    // Whatever reached the line asked for at most 127 registers inside the table.
    QVERIFY(s.sim().waitForRequests(1));
    const QStringList log = s.sim().requests();
    for (const QString &line : log) {
        const QStringList fields = line.split(QLatin1Char(' '));
        int addr = -1, count = -1;
        for (const QString &f : fields) {
            if (f.startsWith(QLatin1String("addr=")))
                addr = f.mid(5).toInt();
            if (f.startsWith(QLatin1String("count=")))
                count = f.mid(6).toInt();
        }
        QVERIFY2(addr >= 0 && count >= 1 && count <= 127 && addr + count <= holdRows, qPrintable(line));
    }
    connect->setChecked(false);
    s.destroy();
    QCOMPARE(fileDigest(m_workbook), before);
}

void TestHardening::hostileDeviceAddress_data()
{
    addHostileTexts();
}

// A device address the line cannot carry is refused with a warning before anything is sent
// (a padded number is still that number, and times out); the next read is sent.
void TestHardening::hostileDeviceAddress()
{
    QFETCH(QString, text);
    WindowFixture &s = *m_f;
    QVERIFY2(s.startSimulator({ "--static" }), qPrintable(s.sim().errorString()));
    ModalCatcher boxes;
    s.create(true);
    auto *connect = s.child<QPushButton>("pushButton_connect");
    connect->setChecked(true);
    QVERIFY(connect->isChecked());
    s.finishEdit(QStringLiteral("lineEdit_regsLenRead"), QStringLiteral("3"));

    s.field(QStringLiteral("lineEdit_deviceAddr"))->setText(text);
    s.child<QPushButton>("pushButton_read")->setChecked(true);
    QVERIFY(s.settle());
    s.child<QPushButton>("pushButton_write")->click();
    QVERIFY(s.settle());
    const bool refused = qstrcmp(QTest::currentDataTag(), "padded") != 0;
    QTRY_COMPARE(boxes.count(), refused ? 2 : 0);
    for (const ModalCatcher::Box &box : boxes.boxes())
        QCOMPARE(box.text, QStringLiteral("设备地址无效"));
    if (refused)
        QCOMPARE(s.sim().requests().size(), 0);
    boxes.clear();

    // Back to the device: reads work again.
    s.field(QStringLiteral("lineEdit_deviceAddr"))->setText(QStringLiteral("1"));
    s.messages.clear();
    s.child<QPushButton>("pushButton_read")->setChecked(true);
    QVERIFY(s.waitFor(windowtext::normal, 1, 6000));
    QCOMPARE(boxes.count(), 0);
}

void TestHardening::hostileProtocolPath_data()
{
    addHostileTexts();
    QTest::newRow("directory named .xlsx") << QStringLiteral("dir.xlsx");
    QTest::newRow("missing file") << QStringLiteral("/nonexistent/modbus.xlsx");
    QTest::newRow("upper-case suffix") << QStringLiteral("registers.XLSX");
}

// A path typed by hand: resolve leaves the table as it was, and save refuses to write the
// table anywhere but where it came from.
void TestHardening::hostileProtocolPath()
{
    QFETCH(QString, text);
    WindowFixture &s = *m_f;
    QDir(s.directory()).mkdir(QStringLiteral("dir.xlsx"));
    const QByteArray before = fileDigest(m_workbook);
    ModalCatcher boxes;
    s.create(true);
    const QString firstRule = s.cell(0, 5);

    s.field(QStringLiteral("lineEdit_protocolFile"))->setText(text);
    s.child<QPushButton>("pushButton_resolve")->click();
    QCOMPARE(s.table->rowCount(), holdRows);
    QCOMPARE(s.cell(0, 5), firstRule);

    s.child<QPushButton>("pushButton_protocolSave")->click();
    QTRY_COMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("协议保存失败"));
    QCOMPARE(fileDigest(m_workbook), before);
    QVERIFY(!QFileInfo(s.path(QStringLiteral("dir.xlsx"))).isFile());
}

void TestHardening::hostileSettingsFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("null") << QByteArray("null");
    QTest::newRow("array") << QByteArray("[1,2,3]");
    QTest::newRow("truncated") << QByteArray("{\"modbusDisplay\": {\"regsLenRead\": 12");
    QTest::newRow("wrong types") << QByteArray(
        "{\"destDir\": 5, \"serialport\": [], \"modbusDisplay\": {\"period\": \"fast\", \"regsType\": 7,"
        " \"isRepeat\": \"yes\", \"protocolFile\": {}}}");
    QTest::newRow("huge and negative numbers") << QByteArray(
        "{\"serialport\": {\"baudrate\": 1e300}, \"modbusDisplay\": {\"regsAddrRead\": -5,"
        " \"regsLenRead\": 99999999999, \"regsAddrWrite\": 2147483647, \"regsLenWrite\": -2147483648,"
        " \"period\": -1, \"deviceAddr\": 1e20, \"isRepeat\": true}}");
    QTest::newRow("deep nesting") << QByteArray(100000, '[') + QByteArray(100000, ']');
    QTest::newRow("raw NUL byte") << (QByteArray("{\"modbusDisplay\": {\"regsType\": \"ho") + '\0'
                                      + QByteArray("ld\"}}"));
    QTest::newRow("escaped NULs") << QByteArray(
        "{\"serialport\": {\"name\": \"tty\\u0000S0\"}, \"modbusDisplay\": {\"regsType\": \"ho\\u0000ld\","
        " \"protocolFile\": \"registers.xlsx\\u0000.txt\"}}");
    QTest::newRow("invalid UTF-8") << QByteArray("{\"serialport\": {\"name\": \"\xff\xfe\xc0\"}}");
    QTest::newRow("10k-char strings") << QByteArray("{\"serialport\": {\"name\": \"") + QByteArray(10000, 'x')
            + QByteArray("\", \"parity\": \"") + QByteArray(10000, 'y') + QByteArray("\"}}");
    QTest::newRow("protocol file is a directory") << QByteArray(
        "{\"modbusDisplay\": {\"protocolFile\": \".\", \"regsType\": \"hold\"}}");
    QTest::newRow("unsupported stored area") << QByteArray(
        "{\"modbusDisplay\": {\"protocolFile\": \"registers.xlsx\", \"regsType\": \"notes\"}}");
}

// The program starts from any settings file, shows defaults or the file's sane values, and
// writes a well-formed file back at exit; the workbook is left alone.
void TestHardening::hostileSettingsFiles()
{
    QFETCH(QByteArray, content);
    WindowFixture &s = *m_f;
    const QByteArray before = fileDigest(m_workbook);
    const QString settings = s.path(MyConfig::fileName());
    {
        QFile file(settings);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    MyConfig::restoreDefaults();
    MyConfig::load();
    ModalCatcher boxes;
    s.create(true);
    s.child<QPushButton>("pushButton_read")->setChecked(true);
    QTRY_VERIFY(boxes.count() >= 1);
    QCOMPARE(boxes.last().text, QStringLiteral("请先打开串口"));
    QVERIFY(!s.child<QPushButton>("pushButton_read")->isChecked());
    s.child<QCheckBox>("checkBox_repeat")->setChecked(false);
    s.destroy();

    QFile file(settings);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QJsonParseError error;
    const QJsonDocument written = QJsonDocument::fromJson(file.readAll(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QVERIFY(written.object().value(QStringLiteral("modbusDisplay")).isObject());
    QVERIFY(written.object().value(QStringLiteral("serialport")).isObject());
    QCOMPARE(fileDigest(m_workbook), before);
}

void TestHardening::hostileWorkbooks_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("rows");
    QTest::newRow("truncated zip") << "truncated" << 0;
    QTest::newRow("random bytes") << "random" << 0;
    QTest::newRow("empty file") << "empty" << 0;
    QTest::newRow("zip bomb entry") << "bomb" << 0;
    QTest::newRow("huge dimension, far cell") << "far" << 0;
    QTest::newRow("rule cell of 100 KB") << "bigrule" << 2;
    QTest::newRow("deeply nested rule") << "nested" << 2;
    QTest::newRow("no rule column") << "norule" << 2;
}

// The window starts on the workbook, resolves it, reads and resolves again: no crash, a table
// of the expected size (0 when the file is refused) and the file unchanged.
void TestHardening::hostileWorkbooks()
{
    QFETCH(QString, kind);
    QFETCH(int, rows);
    WindowFixture &s = *m_f;
    const QString path = s.path(QStringLiteral("hostile.xlsx"));
    const QByteArray header = "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>地址</t></is></c>"
                              "<c r=\"B1\" t=\"inlineStr\"><is><t>16进制</t></is></c>"
                              "<c r=\"C1\" t=\"inlineStr\"><is><t>显示</t></is></c>"
                              "<c r=\"D1\" t=\"inlineStr\"><is><t>JSON解析</t></is></c></row>";
    auto ruleRows = [](const QByteArray &rule) {
        QByteArray escaped = rule;
        escaped.replace('&', "&amp;").replace('<', "&lt;").replace('"', "&quot;");
        return "<row r=\"2\"><c r=\"A2\"><v>0</v></c><c r=\"D2\" t=\"inlineStr\"><is><t>" + escaped
            + "</t></is></c></row><row r=\"3\"><c r=\"A3\"><v>1</v></c></row>";
    };
    Parts parts;
    if (kind == QLatin1String("bigrule"))
        parts = builder::workbook({ builder::worksheet(header + ruleRows("{\"unit\":\"" + QByteArray(100 * 1024, 'u') + "\"}")) });
    else if (kind == QLatin1String("nested"))
        parts = builder::workbook({ builder::worksheet(header + ruleRows(QByteArray(20000, '[') + QByteArray(20000, ']'))) });
    else if (kind == QLatin1String("norule"))
        parts = builder::workbook({ builder::worksheet(
            "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>地址</t></is></c></row>"
            "<row r=\"2\"><c r=\"A2\"><v>0</v></c></row><row r=\"3\"><c r=\"A3\"><v>1</v></c></row>") });
    else if (kind == QLatin1String("far"))
        parts = builder::workbook({ builder::worksheet(header + "<row r=\"1048576\"><c r=\"XFD1048576\"><v>1</v></c></row>") });
    else
        parts = builder::workbook({ builder::worksheet(header + ruleRows("{}")) });
    // The area selector takes the sheet name; name it after an area.
    builder::setPart(parts, QStringLiteral("xl/workbook.xml"),
                     builder::part(parts, QStringLiteral("xl/workbook.xml")).replace("name=\"Sheet1\"", "name=\"hold\""));
    if (kind == QLatin1String("bomb")) {
        builder::setPart(parts, QStringLiteral("xl/worksheets/sheet1.xml"),
                         builder::worksheet(header + QByteArray(64 * 1024 * 1024, ' ')));
        QVERIFY(builder::writeZip(path, parts, QStringLiteral("xl/worksheets/sheet1.xml")));
    } else {
        QVERIFY(builder::writeZip(path, parts));
    }
    if (kind == QLatin1String("truncated")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.resize(file.size() / 2));
    } else if (kind == QLatin1String("random") || kind == QLatin1String("empty")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QByteArray noise;
        for (int i = 0; kind == QLatin1String("random") && i < 4096; ++i)
            noise.append(char((i * 7919 + 13) % 251));
        file.write(noise);
    }
    const QByteArray before = fileDigest(path);

    MyConfig::protocolFile = path;
    ModalCatcher boxes;
    s.create(true);
    QCOMPARE(s.table->rowCount(), rows);
    s.child<QPushButton>("pushButton_read")->setChecked(true); // line closed: a warning
    s.child<QPushButton>("pushButton_resolve")->click();
    QCOMPARE(s.table->rowCount(), rows);
    if (kind == QLatin1String("bigrule")) {
        QCOMPARE(s.cell(0, 3).size(), 100 * 1024 + 11);
    }
    QTRY_VERIFY(boxes.count() >= 1);
    for (const ModalCatcher::Box &box : boxes.boxes())
        QVERIFY2(box.text == QStringLiteral("请先打开串口"), qPrintable(box.text));
    s.destroy();
    QCOMPARE(fileDigest(path), before);
}

void TestHardening::hostileRuleCellsSavedAsTyped_data()
{
    QTest::addColumn<QString>("rule");
    QTest::addColumn<QString>("shown");
    QTest::newRow("not JSON") << QStringLiteral("{{{") << QStringLiteral("{{{");
    // Saved as typed; the resolve after the save shows it in braces.
    QTest::newRow("key without braces") << QStringLiteral("\"dot\":1") << QStringLiteral("{\"dot\":1}");
    QTest::newRow("absurd dot") << QStringLiteral("{\"dot\":2147483647}") << QStringLiteral("{\"dot\":2147483647}");
    QTest::newRow("bits out of range") << QStringLiteral("{\"bits\":\"99:-5\"}") << QStringLiteral("{\"bits\":\"99:-5\"}");
    QTest::newRow("maps of a number") << QStringLiteral("{\"maps\":5}") << QStringLiteral("{\"maps\":5}");
    QTest::newRow("emoji unit") << QStringLiteral("{\"unit\":\"😀\"}") << QStringLiteral("{\"unit\":\"😀\"}");
    QTest::newRow("10k characters") << (QStringLiteral("{\"unit\":\"") + QString(10000, QLatin1Char('z')) + QStringLiteral("\"}"))
                                    << (QStringLiteral("{\"unit\":\"") + QString(10000, QLatin1Char('z')) + QStringLiteral("\"}"));
}

// A rule cell edited into nonsense and saved: the workbook holds exactly what was typed,
// every other cell of the sheet and the other sheets are unchanged,
// and a reply decodes against it without harm.
void TestHardening::hostileRuleCellsSavedAsTyped()
{
    QFETCH(QString, rule);
    QFETCH(QString, shown);
    WindowFixture &s = *m_f;
    QVERIFY2(s.startSimulator({ "--static" }), qPrintable(s.sim().errorString()));
    QStringList headerBefore;
    QList<QStringList> rowsBefore, inputBefore;
    QCOMPARE(MyXlsx::readSheet(m_workbook, QStringLiteral("hold"), headerBefore, rowsBefore), 0);
    QCOMPARE(MyXlsx::readSheet(m_workbook, QStringLiteral("input"), headerBefore, inputBefore), 0);
    QCOMPARE(MyXlsx::readSheet(m_workbook, QStringLiteral("hold"), headerBefore, rowsBefore), 0);
    const int ruleColumn = headerBefore.indexOf(QStringLiteral("JSON解析"));
    QVERIFY(ruleColumn > 0);
    ModalCatcher boxes;
    s.create(true);

    s.table->item(2, ruleColumn)->setText(rule);
    s.child<QPushButton>("pushButton_protocolSave")->click();
    QCOMPARE(boxes.count(), 0);

    QStringList header;
    QList<QStringList> rows, input;
    QCOMPARE(MyXlsx::readSheet(m_workbook, QStringLiteral("hold"), header, rows), 0);
    QCOMPARE(header, headerBefore);
    QCOMPARE(rows.size(), rowsBefore.size());
    QCOMPARE(rows.at(2).at(ruleColumn), rule);
    QCOMPARE(s.table->item(2, ruleColumn)->text(), shown);
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < header.size(); ++c) {
            if (c == ruleColumn)
                continue; // rule cells are stored in their braced form
            QCOMPARE(rows.at(r).at(c), rowsBefore.at(r).at(c));
        }
    }
    QCOMPARE(MyXlsx::readSheet(m_workbook, QStringLiteral("input"), header, input), 0);
    QCOMPARE(input, inputBefore);

    // A reply through the edited rule.
    auto *connect = s.child<QPushButton>("pushButton_connect");
    connect->setChecked(true);
    s.finishEdit(QStringLiteral("lineEdit_regsAddrRead"), QStringLiteral("0"));
    s.finishEdit(QStringLiteral("lineEdit_regsLenRead"), QStringLiteral("5"));
    s.child<QPushButton>("pushButton_read")->setChecked(true);
    QVERIFY(s.waitFor(windowtext::normal, 1, 6000));
    QCOMPARE(s.table->item(2, ruleColumn)->text(), shown);
}

// Replies write their cells with the value columns held at their width; afterwards the columns
// size to their contents again, as the table lays them out on resolve.
void TestHardening::replyKeepsColumnSizing()
{
    WindowFixture &s = *m_f;
    QVERIFY2(s.startSimulator({ "--static", "--set", "hr:0=65535,65535,65535" }),
             qPrintable(s.sim().errorString()));
    s.create(true);
    QHeaderView *header = s.table->horizontalHeader();
    QList<QHeaderView::ResizeMode> modes;
    for (int c = 0; c < s.table->columnCount(); ++c)
        modes.append(header->sectionResizeMode(c));
    // Address, hex, decimal and display size to contents; name and rule are the user's.
    QCOMPARE(modes, (QList<QHeaderView::ResizeMode>{ QHeaderView::ResizeToContents, QHeaderView::Interactive,
                                                     QHeaderView::ResizeToContents, QHeaderView::ResizeToContents,
                                                     QHeaderView::ResizeToContents, QHeaderView::Interactive }));
    const int displayColumn = 4;
    const int widthBefore = header->sectionSize(displayColumn);

    s.child<QPushButton>("pushButton_connect")->setChecked(true);
    s.finishEdit(QStringLiteral("lineEdit_regsAddrRead"), QStringLiteral("0"));
    s.finishEdit(QStringLiteral("lineEdit_regsLenRead"), QStringLiteral("3"));
    s.child<QPushButton>("pushButton_read")->setChecked(true);
    QVERIFY(s.waitFor(windowtext::normal, 1, 6000));
    QCOMPARE(s.cell(0, 3), QStringLiteral("65535"));

    QList<QHeaderView::ResizeMode> after;
    for (int c = 0; c < s.table->columnCount(); ++c)
        after.append(header->sectionResizeMode(c));
    QCOMPARE(after, modes);
    // The decoded texts are wider than the empty cells were: the column grew to show them.
    const QFontMetrics metrics(s.table->font());
    QTRY_VERIFY(header->sectionSize(displayColumn) >= metrics.horizontalAdvance(s.cell(0, displayColumn)));
    QVERIFY(header->sectionSize(displayColumn) >= widthBefore);
}

QTEST_MAIN(TestHardening)
#include "tst_hardening.moc"
