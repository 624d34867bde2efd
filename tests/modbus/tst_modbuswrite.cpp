#include "modalcatcher.h"
#include "modbussession.h"
#include "myconfig.h"
#include "windowfixture.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QSpinBox>

#include <QStandardPaths>
#include <QtTest>

using namespace modbusworkbook;
using namespace windowtext;

// Writing table values to sensor-sim: the function codes the device receives, the values it
// keeps (read back), the write reply in the table, broadcast, and the refused writes.
class TestModbusWrite : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void writeAndReadBack_data();
    void writeAndReadBack();
    void writeReplyInReadWindow();
    void refusedWrites_data();
    void refusedWrites();
    void broadcast();
    void requestTooLongForOneFrame();
    void overTcp();

private:
    std::unique_ptr<WindowFixture> m_f;
};

void TestModbusWrite::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestModbusWrite::init()
{
    m_f = std::make_unique<WindowFixture>(QStringLiteral("tst_modbuswrite"));
    QVERIFY(m_f->isValid());
    QVERIFY(!m_f->useModbusWorkbook().isEmpty());
}

void TestModbusWrite::cleanup()
{
    m_f.reset();
}

void TestModbusWrite::writeAndReadBack_data()
{
    QTest::addColumn<QString>("area");
    QTest::addColumn<int>("address");
    QTest::addColumn<QStringList>("cells");
    QTest::addColumn<QStringList>("logged");   // tokens of the simulator's log line
    QTest::addColumn<QStringList>("readBack"); // hex cells after reading the range again

    QTest::newRow("holding range: 0x10")
        << "hold" << 10 << QStringList({ "0x0001", "20", "abc" })
        << QStringList({ "fc=16", "addr=10", "count=3", "values=1,20,0" })
        << QStringList({ "0x0001", "0x0014", "0x0000" });
    QTest::newRow("one holding register: 0x06")
        << "hold" << 4 << QStringList({ "1" }) << QStringList({ "fc=6", "addr=4", "values=1" })
        << QStringList({ "0x0001" });
    QTest::newRow("low 16 bits only")
        << "hold" << 7 << QStringList({ "0x12345" })
        << QStringList({ "fc=6", "addr=7", "values=9029" }) << QStringList({ "0x2345" });
    QTest::newRow("negative decimal")
        << "hold" << 8 << QStringList({ "-2" }) << QStringList({ "fc=6", "addr=8", "values=65534" })
        << QStringList({ "0xFFFE" });
    QTest::newRow("coil range: 0x0F")
        << "coil" << 2 << QStringList({ "0xFF00", "1", "0" })
        << QStringList({ "fc=15", "addr=2", "count=3", "values=1,1,0" })
        << QStringList({ "0xFF00", "0xFF00", "0x0000" });
    QTest::newRow("one coil on: 0x05")
        << "coil" << 3 << QStringList({ "0xFF00" }) << QStringList({ "fc=5", "addr=3", "values=1" })
        << QStringList({ "0xFF00" });
    QTest::newRow("one coil off: 0x05")
        << "coil" << 1 << QStringList({ "0" }) << QStringList({ "fc=5", "addr=1", "values=0" })
        << QStringList({ "0x0000" });
}

void TestModbusWrite::writeAndReadBack()
{
    QFETCH(QString, area);
    QFETCH(int, address);
    QFETCH(QStringList, cells);
    QFETCH(QStringList, logged);
    QFETCH(QStringList, readBack);
    WindowFixture &h = *m_f;
    // Coils 1..4 start 1, 0, 1, 0 so every coil row changes.
    QVERIFY2(h.startSimulator({ "--static", "--set", "coil:1=1,0,1,0", "--set", "hr:0=9,9,9,9,9,9,9,9,9,9,9,9,9" }),
             qPrintable(h.sim().errorString()));
    MyConfig::regsType = area;
    h.create();
    QVERIFY(h.open());
    h.setReadWindow(14, 1); // away from the written rows
    for (int i = 0; i < cells.size(); ++i)
        h.setCell(address + i, HexColumn, cells.at(i));
    h.setWriteRange(address, cells.size());

    h.writeButton->click();
    QCOMPARE(h.messages.last(), sent);
    QCOMPARE(h.style(), green);
    QVERIFY(h.waitFor(normal));
    QCOMPARE(h.style(), white);
    QCOMPARE(h.sim().requestsWith(logged).size(), 1);
    // Outside the read window the reply changes nothing.
    for (int i = 0; i < cells.size(); ++i)
        QCOMPARE(h.cell(address + i, HexColumn), cells.at(i));

    h.setReadWindow(address, cells.size());
    h.readButton->setChecked(true);
    QVERIFY(h.waitFor(normal, 2));
    for (int i = 0; i < readBack.size(); ++i)
        QCOMPARE(h.cell(address + i, HexColumn), readBack.at(i));
}

void TestModbusWrite::writeReplyInReadWindow()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static" }), qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());
    h.setReadWindow(10, 3);
    h.setCell(11, HexColumn, QStringLiteral("20"));
    h.setWriteRange(11, 1);

    h.writeButton->click();
    QVERIFY(h.waitFor(normal));
    QCOMPARE(h.cell(11, HexColumn), QStringLiteral("0x0014"));
    QCOMPARE(h.cell(11, DecColumn), QStringLiteral("20"));
    QCOMPARE(h.cell(11, DisplayColumn), QStringLiteral("20"));
    QCOMPARE(h.cell(10, HexColumn), QString());
    QCOMPARE(h.cell(12, HexColumn), QString());
    QCOMPARE(h.sim().requests().size(), 1);
}

void TestModbusWrite::refusedWrites_data()
{
    QTest::addColumn<QString>("area");
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("title"); // empty: no box at all
    QTest::addColumn<QString>("text");

    const QString fault = QStringLiteral("故障");
    const QString outside = QStringLiteral("写入范围超出协议表");
    QTest::newRow("line closed") << "hold" << false << 0 << 1 << QStringLiteral("错误：")
                                 << QStringLiteral("请先打开串口");
    QTest::newRow("input registers") << "input" << true << 0 << 1 << fault
                                     << QStringLiteral("寄存器不支持");
    QTest::newRow("discrete inputs") << "disc" << true << 0 << 1 << fault
                                     << QStringLiteral("寄存器不支持");
    QTest::newRow("range past the last row") << "hold" << true << 128 << 5 << fault << outside;
    QTest::newRow("start past the last row") << "hold" << true << 140 << 1 << fault << outside;
    QTest::newRow("negative start") << "hold" << true << -1 << 2 << fault << outside;
    QTest::newRow("huge count") << "hold" << true << 0 << 2000000000 << fault << outside;
    QTest::newRow("count 0") << "hold" << true << 0 << 0 << QString() << QString();
    QTest::newRow("negative count") << "hold" << true << 0 << -3 << QString() << QString();
}

void TestModbusWrite::refusedWrites()
{
    QFETCH(QString, area);
    QFETCH(bool, open);
    QFETCH(int, address);
    QFETCH(int, count);
    QFETCH(QString, title);
    QFETCH(QString, text);
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static" }), qPrintable(h.sim().errorString()));
    MyConfig::regsType = area;
    h.create();
    if (open)
        QVERIFY(h.open());
    h.repeat->setChecked(true); // every refusal unticks it first
    h.setWriteRange(address, count);
    h.messages.clear();

    ModalCatcher boxes;
    h.writeButton->click();
    if (title.isEmpty()) {
        QTest::qWait(100);
        QCOMPARE(boxes.count(), 0);
    } else {
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().title, title);
        QCOMPARE(boxes.last().text, text);
    }
    QVERIFY(!h.repeat->isChecked());
    QVERIFY(h.messages.isEmpty());
    QTest::qWait(100);
    QCOMPARE(h.sim().requests().size(), 0);
}

void TestModbusWrite::broadcast()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static" }), qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());
    QCOMPARE(h.deviceAddr->text(), QStringLiteral("1"));
    h.broadcastButton->click();
    QCOMPARE(h.deviceAddr->text(), QStringLiteral("0"));

    h.setReadWindow(10, 2);
    h.setCell(10, HexColumn, QStringLiteral("99"));
    h.setCell(11, HexColumn, QStringLiteral("0x0064"));
    h.setWriteRange(10, 2);
    h.writeButton->click();
    QVERIFY(h.waitFor(windowtext::broadcast));
    QCOMPARE(h.style(), white);
    QVERIFY(!h.messages.contains(mismatch));
    // No device answers: nothing comes back to show.
    QCOMPARE(h.cell(10, HexColumn), QStringLiteral("99"));
    QCOMPARE(h.cell(10, DecColumn), QString());
    QVERIFY(h.sim().waitForRequests(1));
    QCOMPARE(h.sim().requestsWith({ "slave=0", "fc=16", "addr=10", "outcome=broadcast",
                                 "values=99,100" }).size(), 1);

    // The device took the values; the pending mark is gone, so the read goes out.
    h.deviceAddr->setText(QStringLiteral("1"));
    h.readButton->setChecked(true);
    QVERIFY(h.waitFor(normal));
    QCOMPARE(h.cell(10, HexColumn), QStringLiteral("0x0063"));
    QCOMPARE(h.cell(11, HexColumn), QStringLiteral("0x0064"));
}

void TestModbusWrite::requestTooLongForOneFrame()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static" }), qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());
    // 124 registers need 248 data bytes; a Modbus frame holds at most 246 of them (123
    // registers), so the client refuses to build the request.
    h.setWriteRange(0, 124);
    h.messages.clear();
    h.writeButton->click();
    QCOMPARE(h.style(), red);
    QCOMPARE(h.messages.size(), 1);
    QVERIFY(h.messages.first() != sent);
    QVERIFY(!h.messages.first().isEmpty());

    // Nothing is pending: a write the client accepts goes out next.
    h.setWriteRange(0, 123);
    h.writeButton->click();
    QVERIFY(h.waitFor(normal));
    QCOMPARE(h.sim().requestsWith({ "fc=16", "addr=0", "count=123" }).size(), 1);
    QCOMPARE(h.sim().requests().size(), 1);
}

// The network dialog chooses Modbus TCP (Cancel keeps the settings, OK stores them); the same
// write and read then go over the connection, unit 0 answered like any unit.
void TestModbusWrite::overTcp()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.sim().startTcp({ "--static" }), qPrintable(h.sim().errorString()));
    h.create();
    for (const auto button : { QDialogButtonBox::Cancel, QDialogButtonBox::Ok }) {
        h.child<QAction>("actionnetwork")->trigger();
        QDialog *dialog = h.window()->findChild<QDialog *>(QStringLiteral("MyNetwork"));
        QVERIFY(dialog && dialog->isVisible());
        dialog->findChild<QComboBox *>(QStringLiteral("comboBox_link"))->setCurrentIndex(1);
        dialog->findChild<QLineEdit *>(QStringLiteral("lineEdit_host"))->setText("127.0.0.1");
        dialog->findChild<QSpinBox *>(QStringLiteral("spinBox_port"))->setValue(h.sim().tcpPort());
        dialog->findChild<QDialogButtonBox *>()->button(button)->click();
        QTRY_VERIFY(!h.window()->findChild<QDialog *>(QStringLiteral("MyNetwork")));
        QCOMPARE(MyConfig::linkType, button == QDialogButtonBox::Ok ? "tcp" : "serial");
    }
    QCOMPARE(MyConfig::tcpPort, h.sim().tcpPort());

    QVERIFY(h.open());
    QTRY_VERIFY(h.session()->isConnected());
    QVERIFY(h.window()->windowTitle().endsWith(
            QStringLiteral(" - Modbus TCP 127.0.0.1:%1").arg(h.sim().tcpPort())));
    h.broadcastButton->click();
    h.setReadWindow(10, 2);
    h.setCell(11, HexColumn, QStringLiteral("20"));
    h.setWriteRange(11, 1);
    h.writeButton->click();
    QVERIFY(h.waitFor(normal));
    QCOMPARE(h.cell(11, DecColumn), QStringLiteral("20"));
    h.deviceAddr->setText(QStringLiteral("255"));
    h.readButton->setChecked(true);
    QVERIFY(h.waitFor(normal, 2));
    QCOMPARE(h.sim().requestsWith({ "slave=0", "fc=6", "addr=11", "outcome=reply" }).size(), 1);
    QCOMPARE(h.sim().requestsWith({ "slave=255", "fc=3", "addr=10", "count=2" }).size(), 1);
}

QTEST_MAIN(TestModbusWrite)
#include "tst_modbuswrite.moc"
