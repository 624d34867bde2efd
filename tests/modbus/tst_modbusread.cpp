#include "modalcatcher.h"
#include "myconfig.h"
#include "windowfixture.h"

#include <QAction>
#include <QLCDNumber>
#include <QScreen>
#include <QStandardPaths>
#include <QtTest>

using namespace modbusworkbook;
using namespace windowtext;

// One-shot reads through the main window against sensor-sim: what the table, the status bar
// and the status field show for normal, failed and mismatching replies, the change marking,
// and the distance display fed by real replies.
class TestModbusRead : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void holdingRegisters();
    void statusColourPainted();
    void bitAreas_data();
    void bitAreas();
    void readWindowShrunkBeforeReply();
    void pressWhileOutstanding();
    void failedReplies_data();
    void failedReplies();
    void fieldsTheDeviceRefuses_data();
    void fieldsTheDeviceRefuses();
    void refusedBeforeSending_data();
    void refusedBeforeSending();
    void areaSwitchedDuringRead();
    void changeMarking_data();
    void changeMarking();
    void distanceDisplay_data();
    void distanceDisplay();

private:
    std::unique_ptr<WindowFixture> m_f;
};

void TestModbusRead::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestModbusRead::init()
{
    m_f = std::make_unique<WindowFixture>(QStringLiteral("tst_modbusread"));
    QVERIFY(m_f->isValid());
    QVERIFY(!m_f->useModbusWorkbook().isEmpty());
}

void TestModbusRead::cleanup()
{
    m_f.reset();
}

void TestModbusRead::holdingRegisters()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static", "--set", "hr:0=125,0xFF38,1234,0x00AB" }),
             qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());
    h.setReadWindow(0, 4);

    h.messages.clear();
    h.readButton->setChecked(true);
    QCOMPARE(h.messages, QStringList({ sent }));
    QCOMPARE(h.style(), green);
    QVERIFY(!h.readButton->isChecked()); // one-shot: springs back at once
    QVERIFY(h.waitFor(normal));
    QCOMPARE(h.messages, QStringList({ sent, normal }));
    QCOMPARE(h.style(), white);

    const QStringList hex = { "0x007D", "0xFF38", "0x04D2", "0x00AB" };
    const QStringList dec = { "125", "65336", "1234", "171" };
    // Rules of the workbook: unit "us"; signed with "℃"; one decimal with "mm"; HEX.
    const QStringList shown = { "125us", "-200℃", "123.4mm", "AB" };
    for (int row = 0; row < 4; ++row) {
        QCOMPARE(h.cell(row, HexColumn), hex.at(row));
        QCOMPARE(h.cell(row, DecColumn), dec.at(row));
        QCOMPARE(h.cell(row, DisplayColumn), shown.at(row));
    }
    // Outside the read window and the other columns: as the workbook has them.
    QCOMPARE(h.cell(4, HexColumn), QString());
    QCOMPARE(h.cell(0, NameColumn), QStringLiteral("r0"));
    QCOMPARE(h.cell(0, AddrColumn), QStringLiteral("0"));
    QCOMPARE(h.cell(1, RuleColumn), QStringLiteral("{\"signed\":true,\"unit\":\"℃\"}"));

    QCOMPARE(h.sim().requestsWith({ "fc=3", "addr=0", "count=4" }).size(), 1);
}

// What the status field's style sheet says is what the screen shows, at every change.
void TestModbusRead::statusColourPainted()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static", "--delay-ms", "500" }), qPrintable(h.sim().errorString()));
    MainWindow *window = h.create(true);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(h.open());
    const auto painted = [&] {
        const QPoint inside = h.period->mapTo(window, QPoint(h.period->width() - 6, h.period->height() / 2));
        return window->screen()->grabWindow(window->winId()).toImage().pixelColor(inside);
    };
    h.readButton->setChecked(true);
    QTRY_COMPARE(painted(), QColor(QStringLiteral("green")));
    QVERIFY(h.waitFor(normal));
    QTRY_COMPARE(painted(), QColor(Qt::white));
}

void TestModbusRead::bitAreas_data()
{
    QTest::addColumn<QString>("area");
    QTest::addColumn<QString>("set");
    QTest::addColumn<QString>("function");

    QTest::newRow("coils") << "coil" << "coil:0=1,0,1,1,0" << "fc=1";
    QTest::newRow("discrete inputs") << "disc" << "di:0=1,0,1,1,0" << "fc=2";
}

void TestModbusRead::bitAreas()
{
    QFETCH(QString, area);
    QFETCH(QString, set);
    QFETCH(QString, function);
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static", "--set", set }), qPrintable(h.sim().errorString()));
    MyConfig::regsType = area;
    h.create();
    QVERIFY(h.open());
    h.setReadWindow(0, 5);
    h.readButton->setChecked(true);
    QVERIFY(h.waitFor(normal));

    // On is the device's 0xFF00, whatever form the client hands it over in.
    const QStringList hex = { "0xFF00", "0x0000", "0xFF00", "0xFF00", "0x0000" };
    const QStringList dec = { "65280", "0", "65280", "65280", "0" };
    const QStringList shown = { "on", "off", "on", "on", "off" };
    for (int row = 0; row < 5; ++row) {
        QCOMPARE(h.cell(row, HexColumn), hex.at(row));
        QCOMPARE(h.cell(row, DecColumn), dec.at(row));
        QCOMPARE(h.cell(row, DisplayColumn), shown.at(row));
    }
    QCOMPARE(h.sim().requestsWith({ function, "addr=0", "count=5" }).size(), 1);
}

void TestModbusRead::readWindowShrunkBeforeReply()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static", "--delay-ms", "300", "--set", "hr:0=1,2,3,4,5,6,7,8,9,10" }),
             qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());
    h.setReadWindow(0, 10);
    h.readButton->setChecked(true);
    QCOMPARE(h.count(sent), 1);

    h.setReadWindow(2, 2);
    QVERIFY(h.waitFor(normal));
    for (int row = 0; row < 10; ++row) {
        const bool inside = row == 2 || row == 3;
        QCOMPARE(h.cell(row, DecColumn), inside ? QString::number(row + 1) : QString());
    }
    QCOMPARE(h.sim().requestsWith({ "fc=3", "addr=0", "count=10" }).size(), 1);
}

void TestModbusRead::pressWhileOutstanding()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static", "--delay-ms", "300" }),
             qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());
    h.setReadWindow(0, 3);
    h.readButton->setChecked(true);
    QVERIFY(!h.readButton->isChecked());

    // The earlier request still waits for its reply: nothing is sent or queued, and without
    // the repeat box the button springs back at once.
    h.readButton->setChecked(true);
    QVERIFY(!h.readButton->isChecked());
    QCOMPARE(h.count(sent), 1);
    QVERIFY(h.waitFor(normal));
    QTest::qWait(100);
    QCOMPARE(h.sim().requests().size(), 1);

    // With the repeat box ticked the press starts the cycle: the first tick after the reply reads.
    h.readButton->setChecked(true);
    QCOMPARE(h.count(sent), 2);
    h.repeat->setChecked(true);
    h.period->setText(QStringLiteral("50"));
    h.readButton->setChecked(true);
    QVERIFY(h.readButton->isChecked());
    QCOMPARE(h.count(sent), 2);
    QVERIFY(h.waitFor(normal, 3, 4000));
    QVERIFY(h.readButton->isChecked());
    QVERIFY(h.sim().waitForRequests(3, 4000));
    h.readButton->setChecked(false);
}

void TestModbusRead::failedReplies_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QString>("expectedText"); // empty: any client text
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("served");

    // The client gives up after the first attempt and one retry.
    QTest::newRow("no answer") << QStringList({ "--drop-every", "1" })
                               << QStringLiteral("Request timeout.") << "outcome=drop" << 2;
    QTest::newRow("corrupted CRC") << QStringList({ "--corrupt-crc-every", "1" })
                                   << QStringLiteral("Request timeout.") << "outcome=corrupt" << 2;
    QTest::newRow("exception") << QStringList({ "--exception", "1:2" }) << QString()
                               << "outcome=exception" << 1;
}

void TestModbusRead::failedReplies()
{
    QFETCH(QStringList, faults);
    QFETCH(QString, expectedText);
    QFETCH(QString, outcome);
    QFETCH(int, served);
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator(QStringList({ "--static", "--set", "hr:0=7,8,9" }) + faults),
             qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());
    h.setReadWindow(0, 3);
    h.readButton->setChecked(true);

    QTRY_COMPARE_WITH_TIMEOUT(h.style(), red, 7000);
    const QString shown = h.status->currentMessage();
    if (!expectedText.isEmpty())
        QCOMPARE(shown, expectedText);
    QVERIFY(!shown.isEmpty());
    QVERIFY(!h.messages.contains(normal));
    for (int row = 0; row < 3; ++row)
        QCOMPARE(h.cell(row, HexColumn), QString());
    QCOMPARE(h.sim().requestsWith({ outcome }).size(), served);

    // The pending mark went with the failed reply: the next read is sent.
    h.readButton->setChecked(true);
    QCOMPARE(h.count(sent), 2);
}

void TestModbusRead::refusedBeforeSending_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("text");   // the warning, empty when the request goes out
    QTest::addColumn<QString>("logged"); // the request as the device saw it

    const QString badDevice = QStringLiteral("设备地址无效");
    const QString badRange = QStringLiteral("寄存器地址超出范围");
    // Only the low byte of an address reaches the wire: 256 would be a broadcast, -1 address 255.
    for (const bool write : { false, true }) {
        const char *op = write ? "write" : "read";
        // Which texts are refused is the read plan's to test; here, what the window does then.
        QTest::addRow("%s, device 248", op) << write << "248" << "10" << badDevice << "";
        QTest::addRow("%s, device 247", op)
            << write << "247" << "10" << "" << (write ? "slave=247 fc=6 addr=10" : "slave=247 fc=3 addr=10");
    }
    QTest::newRow("read, device 0") << false << "0" << "10" << "" << "slave=0 fc=3 addr=10";
    QTest::newRow("read start -5") << false << "247" << "-5" << badRange << "";
    QTest::newRow("read start 70000") << false << "247" << "70000" << badRange << "";
    QTest::newRow("read start 65534, two more") << false << "247" << "65534" << badRange << "";
    QTest::newRow("read to the last address") << false << "247" << "65533" << ""
                                              << "slave=247 fc=3 addr=65533";
}

// Device addresses outside 0..247 and read ranges outside the 16-bit address space are refused
// with a warning and nothing on the wire; a refused read ends the cycle.
void TestModbusRead::refusedBeforeSending()
{
    QFETCH(bool, write);
    QFETCH(QString, device);
    QFETCH(QString, start);
    QFETCH(QString, text);
    QFETCH(QString, logged);
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static", "--address", "247" }),
             qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());
    h.repeat->setChecked(true);
    h.deviceAddr->setText(device);
    h.addrRead->setText(start);
    h.lenRead->setText(QStringLiteral("3"));
    h.setCell(10, HexColumn, QStringLiteral("5"));
    h.setWriteRange(10, 1);
    h.messages.clear();

    ModalCatcher boxes;
    if (write)
        h.writeButton->click();
    else
        h.readButton->setChecked(true);
    if (text.isEmpty()) {
        QVERIFY(h.waitFor(sent));
        const QStringList parts = logged.split(QLatin1Char(' '));
        QVERIFY(QTest::qWaitFor([&] { return !h.sim().requestsWith(parts).isEmpty(); }, 3000));
        h.readButton->setChecked(false);
        QCOMPARE(boxes.count(), 0);
        return;
    }
    QTRY_COMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("故障"));
    QCOMPARE(boxes.last().text, text);
    QVERIFY(!h.repeat->isChecked());
    QVERIFY(!h.readButton->isChecked());
    QVERIFY(!h.messages.contains(sent));
    QTest::qWait(200);
    QCOMPARE(h.sim().requests().size(), 0);
}

void TestModbusRead::fieldsTheDeviceRefuses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("logged"); // the request as the device saw it

    // The read step takes the field texts as they stand; the device answers with exceptions.
    QTest::newRow("count 0") << "0" << "0" << "count=0";
    QTest::newRow("count not a number") << "0" << "abc" << "count=0";
    QTest::newRow("negative count") << "0" << "-5" << "count=0";
    QTest::newRow("count beyond 16 bits") << "0" << "70000" << "count=65535";
    QTest::newRow("start past the device") << "1020" << "10" << "addr=1020";
}

void TestModbusRead::fieldsTheDeviceRefuses()
{
    QFETCH(QString, address);
    QFETCH(QString, count);
    QFETCH(QString, logged);
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static" }), qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());
    // Typed without finishing the edit, so the field rules have not corrected them.
    h.addrRead->setText(address);
    h.lenRead->setText(count);
    h.readButton->setChecked(true);
    QCOMPARE(h.count(sent), 1);
    QTRY_COMPARE(h.style(), red);
    QVERIFY(h.sim().waitForRequests(1));
    QCOMPARE(h.sim().requestsWith({ "fc=3", logged, "outcome=exception" }).size(), 1);
}

void TestModbusRead::areaSwitchedDuringRead()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static", "--delay-ms", "300", "--set", "hr:0=7,8,9" }),
             qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());
    h.setReadWindow(0, 3);
    h.readButton->setChecked(true);
    h.area->setCurrentText(QStringLiteral("input"));
    QCOMPARE(h.table->rowCount(), 32);

    QVERIFY(h.waitFor(mismatch));
    QCOMPARE(h.style(), yellow);
    QVERIFY(!h.messages.contains(normal));
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(h.cell(row, HexColumn), QString());
        QCOMPARE(h.cell(row, DecColumn), QString());
    }
}

void TestModbusRead::changeMarking_data()
{
    QTest::addColumn<bool>("warn");
    QTest::newRow("change warning on") << true;
    QTest::newRow("change warning off") << false;
}

void TestModbusRead::changeMarking()
{
    QFETCH(bool, warn);
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static", "--set", "hr:0=1,2" }),
             qPrintable(h.sim().errorString()));
    MyConfig::changeWarnEnable = warn;
    h.create();
    QVERIFY(h.open());
    h.setReadWindow(0, 2);

    const QBrush greenBrush(Qt::green);
    const QBrush whiteBrush(Qt::white);
    h.readButton->setChecked(true);
    QVERIFY(h.waitFor(normal));
    // Both cells changed from empty.
    for (int row = 0; row < 2; ++row) {
        if (warn)
            QCOMPARE(h.background(row, HexColumn), greenBrush);
        else
            QCOMPARE(h.background(row, HexColumn).style(), Qt::NoBrush);
    }

    // Same values again: white.
    h.readButton->setChecked(true);
    QVERIFY(h.waitFor(normal, 2));
    QCOMPARE(h.background(0, HexColumn), whiteBrush);
    QCOMPARE(h.background(1, HexColumn), whiteBrush);

    // The user typed another value into row 0: the reply changes it back.
    h.setCell(0, HexColumn, QStringLiteral("0x0005"));
    h.readButton->setChecked(true);
    QVERIFY(h.waitFor(normal, 3));
    QCOMPARE(h.cell(0, HexColumn), QStringLiteral("0x0001"));
    QCOMPARE(h.background(0, HexColumn), warn ? greenBrush : whiteBrush);
    QCOMPARE(h.background(1, HexColumn), whiteBrush);
}

void TestModbusRead::distanceDisplay_data()
{
    QTest::addColumn<QString>("area");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("count");
    // The read window as the user changes it after the request went out; -1: unchanged.
    QTest::addColumn<int>("windowAddress");
    QTest::addColumn<int>("windowCount");
    // flight time, temperature, distance, blind zone, lower, upper and farthest distance
    QTest::addColumn<QList<double>>("expected");

    const QList<double> untouched = { 0, 0, 0, 0, 0, 0, 0 };
    QTest::newRow("holding 0..2") << "hold" << 0 << 3 << -1 << -1
                                  << QList<double>{ 125, -200, 123.4, 0, 0, 0, 0 };
    QTest::newRow("holding 0..22") << "hold" << 0 << 23 << -1 << -1
                                   << QList<double>{ 125, -200, 123.4, 260, 510, 1210, 2010 };
    QTest::newRow("input 0..22") << "input" << 0 << 23 << -1 << -1
                                 << QList<double>{ 7, -1, 0.9, 0, 0, 0, 0 };
    QTest::newRow("input 10..21 only") << "input" << 10 << 12 << -1 << -1 << untouched;
    QTest::newRow("coils") << "coil" << 0 << 16 << -1 << -1 << untouched;
    QTest::newRow("discrete inputs") << "disc" << 0 << 16 << -1 << -1 << untouched;
    QTest::newRow("window from 1 keeps the flight time")
        << "hold" << 0 << 3 << 1 << 2 << QList<double>{ 0, -200, 123.4, 0, 0, 0, 0 };
    QTest::newRow("window 10..11 of a 0..22 reply")
        << "hold" << 0 << 23 << 10 << 2 << QList<double>{ 0, 0, 0, 0, 510, 1210, 0 };
}

void TestModbusRead::distanceDisplay()
{
    QFETCH(QString, area);
    QFETCH(int, address);
    QFETCH(int, count);
    QFETCH(int, windowAddress);
    QFETCH(int, windowCount);
    QFETCH(QList<double>, expected);
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static", "--set", "hr:0=125,0xFF38,1234", "--set", "hr:10=510,1210",
                         "--set", "hr:20=260,2010", "--set", "ir:0=7,65535,9", "--set",
                         "ir:10=11,12", "--set", "ir:20=21,22", "--set", "coil:0=1,1,1,1",
                         "--set", "di:0=1,1,1,1" }), qPrintable(h.sim().errorString()));
    MyConfig::regsType = area;
    h.create();
    QVERIFY(h.open());

    QAction *action = h.child<QAction>("actiondistance");
    QVERIFY(action);
    action->trigger();
    QWidget *display = h.child<QWidget>("SonicDisplay");
    QVERIFY(display);
    const char *names[] = { "lcdNumber_flightTime", "lcdNumber_temperature",
                            "lcdNumber_distance",   "lcdNumber_minDistance",
                            "lcdNumber_botDistance", "lcdNumber_topDistance",
                            "lcdNumber_maxDistance" };

    h.setReadWindow(address, count);
    h.readButton->setChecked(true);
    if (windowAddress >= 0)
        h.setReadWindow(windowAddress, windowCount); // before the reply is handled
    QVERIFY(h.waitFor(normal));
    for (int i = 0; i < 7; ++i) {
        auto *lcd = display->findChild<QLCDNumber *>(QLatin1String(names[i]));
        QVERIFY2(lcd, names[i]);
        QVERIFY2(qAbs(lcd->value() - expected.at(i)) < 1e-9,
                 qPrintable(QStringLiteral("%1 shows %2, expected %3")
                                .arg(QLatin1String(names[i])).arg(lcd->value())
                                .arg(expected.at(i))));
    }
}

QTEST_MAIN(TestModbusRead)
#include "tst_modbusread.moc"
