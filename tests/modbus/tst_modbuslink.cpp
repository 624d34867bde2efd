#include "modalcatcher.h"
#include "myconfig.h"
#include "windowfixture.h"

#include <QAction>
#include <QDialog>
#include <QJsonDocument>
#include <QJsonObject>

#include <QStandardPaths>
#include <QtTest>

using namespace modbusworkbook;
using namespace windowtext;

// Opening and closing the serial Modbus line from the main window, against sensor-sim.
class TestModbusLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void openAndClose();
    void closeClearsPendingRequest();
    void failedOpening_data();
    void failedOpening();
    void lineVanishes();
    void windowClosedWithReplyOutstanding();
    void serialDialogClosesLineAndIsStoredAtExit();
    void readRefusedWhileClosed();
    void readRefusedForUnknownArea();

private:
    std::unique_ptr<WindowFixture> m_f;
};

void TestModbusLink::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestModbusLink::init()
{
    m_f = std::make_unique<WindowFixture>(QStringLiteral("tst_modbuslink"));
    QVERIFY(m_f->isValid());
    QVERIFY(!m_f->useModbusWorkbook().isEmpty());
}

void TestModbusLink::cleanup()
{
    m_f.reset();
}

void TestModbusLink::openAndClose()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static" }), qPrintable(h.sim().errorString()));
    h.create();
    QCOMPARE(h.status->currentMessage(), QStringLiteral("modbus status:UnconnectedState"));
    QCOMPARE(h.connectButton->text(), QStringLiteral("打开串口"));

    QVERIFY(h.open());
    QCOMPARE(h.messages, QStringList({ "modbus status:ConnectingState",
                                       "modbus status:ConnectedState" }));
    QCOMPARE(h.connectButton->text(), QStringLiteral("关闭串口"));

    // Reading works on the open line.
    h.setReadWindow(0, 3);
    h.readButton->setChecked(true);
    QVERIFY(h.waitFor(normal));

    // Closing from a running cycle stops it.
    h.repeat->setChecked(true);
    h.period->setText(QStringLiteral("50"));
    h.readButton->setChecked(true);
    QVERIFY(h.readButton->isChecked());
    h.messages.clear();
    h.connectButton->setChecked(false);
    QVERIFY(h.messages.contains(QStringLiteral("modbus status:ClosingState")));
    QCOMPARE(h.messages.last(), QStringLiteral("modbus status:UnconnectedState"));
    QCOMPARE(h.connectButton->text(), QStringLiteral("打开串口"));
    QVERIFY(!h.readButton->isChecked());
    const int served = h.sim().requests().size();
    QTest::qWait(200);
    QCOMPARE(h.sim().requests().size(), served);

    // Reopening works with the same client object.
    h.messages.clear();
    QVERIFY(h.open());
    QCOMPARE(h.messages, QStringList({ "modbus status:ConnectingState",
                                       "modbus status:ConnectedState" }));
    h.repeat->setChecked(false);
    h.readButton->setChecked(true);
    QVERIFY(h.waitFor(normal));
    QCOMPARE(h.cell(1, HexColumn), QStringLiteral("0x0019")); // 25 ℃ of the factory image
}

void TestModbusLink::closeClearsPendingRequest()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static", "--delay-ms", "400" }),
             qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());
    h.setReadWindow(0, 3);
    h.readButton->setChecked(true);
    QCOMPARE(h.count(sent), 1);
    QVERIFY(h.sim().waitForRequests(1));

    // Closed while the reply is on its way: the client aborts it and the mark goes.
    h.connectButton->setChecked(false);
    QCOMPARE(h.style(), red);
    QVERIFY(h.open());
    h.readButton->setChecked(true);
    QCOMPARE(h.count(sent), 2);
    QVERIFY(h.waitFor(normal));
    QVERIFY(h.sim().waitForRequests(2));
}

void TestModbusLink::failedOpening_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("watchExpiry");
    // Which ports fail is the session's to test; here, what the window shows of a failure.
    QTest::newRow("empty port name") << QString() << true;
}

void TestModbusLink::failedOpening()
{
    QFETCH(QString, port);
    QFETCH(bool, watchExpiry);
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static" }), qPrintable(h.sim().errorString()));
    h.useLine(port);
    h.create();

    QVERIFY(!h.open());
    QVERIFY2(h.status->currentMessage().startsWith(QStringLiteral("Connect failed: ")),
             qPrintable(h.status->currentMessage()));
    QVERIFY(h.status->currentMessage().size() > QStringLiteral("Connect failed: ").size());
    QVERIFY(!h.connectButton->isChecked());
    QCOMPARE(h.connectButton->text(), QStringLiteral("打开串口"));

    // The message is shown for a limited time only.
    if (watchExpiry)
        QTRY_VERIFY_WITH_TIMEOUT(h.status->currentMessage().isEmpty(), 7000);

    // Once the port exists, the next attempt opens it.
    h.useLine(h.sim().clientPort());
    QVERIFY(h.open());
    QCOMPARE(h.connectButton->text(), QStringLiteral("关闭串口"));
    h.setReadWindow(0, 1);
    h.readButton->setChecked(true);
    QVERIFY(h.waitFor(normal));
}

void TestModbusLink::lineVanishes()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static" }), qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());
    h.setReadWindow(0, 3);
    h.repeat->setChecked(true);
    h.period->setText(QStringLiteral("50"));
    h.readButton->setChecked(true);
    QVERIFY(h.waitFor(normal));

    h.sim().killLine();
    QTRY_VERIFY_WITH_TIMEOUT(!h.connectButton->isChecked(), 5000);
    QCOMPARE(h.connectButton->text(), QStringLiteral("打开串口"));
    QVERIFY(!h.readButton->isChecked());
    QCOMPARE(h.messages.last(), QStringLiteral("modbus status:UnconnectedState"));

    // The window stays usable: a new line opens and reads.
    QVERIFY2(h.startSimulator({ "--static" }), qPrintable(h.sim().errorString()));
    QVERIFY(h.open());
    h.repeat->setChecked(false);
    const int normals = h.count(normal);
    h.readButton->setChecked(true);
    QVERIFY(h.waitFor(normal, normals + 1));
}

void TestModbusLink::windowClosedWithReplyOutstanding()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static", "--delay-ms", "300" }),
             qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());
    h.setReadWindow(0, 3);
    h.repeat->setChecked(true);
    h.period->setText(QStringLiteral("20"));
    h.readButton->setChecked(true);
    QVERIFY(h.sim().waitForRequests(1));

    // The client goes with the window and aborts the outstanding reply on its way out.
    h.destroy();
    QTest::qWait(400);
    QCOMPARE(h.sim().requests().size(), 1);
}

void TestModbusLink::serialDialogClosesLineAndIsStoredAtExit()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static" }), qPrintable(h.sim().errorString()));
    h.create();
    QAction *com = h.child<QAction>("actionCOM");
    QVERIFY(com);

    // Opening the dialog closes the open line: new settings apply at the next opening.
    QVERIFY(h.open());
    com->trigger();
    QVERIFY(!h.connectButton->isChecked());
    QCOMPARE(h.connectButton->text(), QStringLiteral("打开串口"));
    QCOMPARE(h.messages.last(), QStringLiteral("modbus status:UnconnectedState"));
    QDialog *dialog = h.window()->findChild<QDialog *>(QStringLiteral("MySerialPort"));
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());

    // A second trigger with the line open again: the same dialog, and the line closed again.
    QVERIFY(h.open());
    com->trigger();
    QVERIFY(!h.connectButton->isChecked());
    QCOMPARE(h.window()->findChildren<QDialog *>(QStringLiteral("MySerialPort")).size(), 1);
    QCOMPARE(h.window()->findChild<QDialog *>(QStringLiteral("MySerialPort")), dialog);

    // Selections made in the still-open dialog are not confirmed: closing the window writes
    // the settings file with the stored line settings, not with what the dialog shows.
    dialog->findChild<QComboBox *>(QStringLiteral("comboBox_com"))->setEditText(QStringLiteral("/dev/ttyTEST9"));
    dialog->findChild<QComboBox *>(QStringLiteral("comboBox_baudrate"))->setCurrentText(QStringLiteral("9600"));
    dialog->findChild<QComboBox *>(QStringLiteral("comboBox_parity"))->setCurrentText(QStringLiteral("Even"));
    dialog->findChild<QComboBox *>(QStringLiteral("comboBox_stopbits"))->setCurrentText(QStringLiteral("2"));
    h.destroy();

    QFile file(h.path(MyConfig::programName + QStringLiteral(".json")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject serial = QJsonDocument::fromJson(file.readAll()).object().value("serialport").toObject();
    QCOMPARE(serial.value("name"), QJsonValue(h.sim().clientPort()));
    QCOMPARE(serial.value("baudrate"), QJsonValue(115200));
    QCOMPARE(serial.value("parity"), QJsonValue("None"));
    QCOMPARE(serial.value("stopbits"), QJsonValue("1"));
}

void TestModbusLink::readRefusedWhileClosed()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static" }), qPrintable(h.sim().errorString()));
    h.create();
    ModalCatcher boxes;
    h.repeat->setChecked(true);
    h.period->setText(QStringLiteral("20"));
    h.readButton->setChecked(true);
    QTRY_COMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("错误："));
    QCOMPARE(boxes.last().text, QStringLiteral("请先打开串口"));
    QVERIFY(!h.readButton->isChecked());
    // No cycle was started: no further boxes.
    QTest::qWait(150);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(h.sim().requests().size(), 0);
}

void TestModbusLink::readRefusedForUnknownArea()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static" }), qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());
    ModalCatcher boxes;
    h.area->setCurrentText(QStringLiteral("notes")); // the area handler warns once
    QTRY_COMPARE(boxes.count(), 1);
    boxes.clear();

    // Cycling: the box ends the cycle, and only one box appears however short the period.
    h.repeat->setChecked(true);
    h.period->setText(QStringLiteral("0"));
    h.readButton->setChecked(true);
    QTRY_COMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("故障"));
    QCOMPARE(boxes.last().text, QStringLiteral("寄存器不支持"));
    QVERIFY(!h.repeat->isChecked());
    QVERIFY(!h.readButton->isChecked());
    QTest::qWait(150);
    QCOMPARE(boxes.count(), 1);

    // One-shot: the box, and the button stays pressed.
    h.readButton->setChecked(true);
    QTRY_COMPARE(boxes.count(), 2);
    QVERIFY(h.readButton->isChecked());
    QCOMPARE(h.sim().requests().size(), 0);
}

QTEST_MAIN(TestModbusLink)
#include "tst_modbuslink.moc"
