#include "devicescanner.h"
#include "simfixture.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QtTest>

// The device scan against the simulated sensor on a pty pair. A pty carries bytes whatever the
// line settings, so each scan here tries one baud rate and parity.
class TestDeviceScanner : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void plans_data();
    void plans();
    void probeTimeout();

    void findsTheOneDevice_data();
    void findsTheOneDevice();
    void oneEntryPerAddress();
    void cancelStopsTheScan();
    void missingPortFails();

private:
    ScanPlan planFor(int first, int last) const;
    // Runs the scanner until it finishes (bounded); the finish it reported.
    static QList<DeviceScanner::Finish> finishes(const QSignalSpy &spy);

    std::unique_ptr<SimFixture> m_sim;
};

void TestDeviceScanner::init()
{
    qRegisterMetaType<DeviceScanner::Finish>();
    qRegisterMetaType<ScanHit>();
    m_sim = std::make_unique<SimFixture>(QStringLiteral(SENSOR_SIM_PATH));
}

void TestDeviceScanner::cleanup()
{
    m_sim.reset();
}

ScanPlan TestDeviceScanner::planFor(int first, int last) const
{
    ScanPlan plan;
    plan.portName = m_sim->clientPort();
    plan.firstAddress = first;
    plan.lastAddress = last;
    plan.baudRates = { 115200 };
    plan.parities = { QSerialPort::NoParity };
    plan.stopBits = QSerialPort::OneStop;
    plan.timeoutMs = 50;
    return plan;
}

QList<DeviceScanner::Finish> TestDeviceScanner::finishes(const QSignalSpy &spy)
{
    QList<DeviceScanner::Finish> list;
    for (const QList<QVariant> &arguments : spy)
        list << arguments.at(0).value<DeviceScanner::Finish>();
    return list;
}

void TestDeviceScanner::plans_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("bauds");
    QTest::addColumn<int>("parities");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("probes"); // -1: the plan is refused

    QTest::newRow("whole range, one setting") << 1 << 247 << 1 << 1 << 100 << 247;
    QTest::newRow("three rates, two parities") << 1 << 247 << 3 << 2 << 100 << 1482;
    QTest::newRow("broadcast address refused") << 0 << 10 << 1 << 1 << 100 << -1;
    QTest::newRow("address 248 refused") << 1 << 248 << 1 << 1 << 100 << -1;
    QTest::newRow("range backwards refused") << 20 << 10 << 1 << 1 << 100 << -1;
    QTest::newRow("no baud rate refused") << 1 << 247 << 0 << 1 << 100 << -1;
    QTest::newRow("timeout too short refused") << 1 << 247 << 1 << 1 << 5 << -1;
}

void TestDeviceScanner::plans()
{
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(int, bauds);
    QFETCH(int, parities);
    QFETCH(int, timeoutMs);
    QFETCH(int, probes);

    ScanPlan plan;
    plan.portName = QStringLiteral("/dev/null-port");
    plan.firstAddress = first;
    plan.lastAddress = last;
    plan.baudRates = QVector<int>({ 9600, 19200, 115200 }).mid(0, bauds);
    plan.parities = QVector<int>({ QSerialPort::NoParity, QSerialPort::EvenParity }).mid(0, parities);
    plan.timeoutMs = timeoutMs;
    QString reason;
    QCOMPARE(plan.isValid(&reason), probes >= 0);
    QCOMPARE(reason.isEmpty(), probes >= 0);
    if (probes >= 0)
        QCOMPARE(plan.probeCount(), probes);

    // A refused plan starts nothing and says why.
    DeviceScanner scanner;
    QSignalSpy finished(&scanner, &DeviceScanner::finished);
    if (probes < 0) {
        QVERIFY(!scanner.start(plan));
        QVERIFY(!scanner.errorString().isEmpty());
        QVERIFY(!scanner.isRunning());
        QCOMPARE(finished.count(), 0);
    }
}

void TestDeviceScanner::probeTimeout()
{
    // 100 ms, and the probe's and its reply's 15 characters of 11 bits, rounded up.
    QCOMPARE(ScanPlan().probeTimeoutMs(1200), 238);
    QCOMPARE(ScanPlan().probeTimeoutMs(9600), 118);
    QCOMPARE(ScanPlan().probeTimeoutMs(115200), 102);
}

void TestDeviceScanner::findsTheOneDevice_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<int>("exceptionCode");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("tcp");

    // Holding register 0 is the flight time: 5196 us at the frozen time 0.
    QTest::newRow("normal reply") << QStringList{ "--static", "--address", "17" } << 0 << 5196 << false;
    QTest::newRow("exception reply proves a device")
            << QStringList{ "--static", "--address", "17", "--exception", "0:2" } << 2 << 0 << false;
    // What a gateway answers for a device that did not: no device (nor is 0x0A).
    QTest::newRow("gateway exception 0x0B is none")
            << QStringList{ "--static", "--address", "17", "--exception", "0:11" } << -1 << 0 << false;
    QTest::newRow("unit ids over Modbus TCP")
            << QStringList{ "--static", "--address", "17" } << 0 << 5196 << true;
}

void TestDeviceScanner::findsTheOneDevice()
{
    QFETCH(QStringList, simArgs);
    QFETCH(int, exceptionCode);
    QFETCH(int, value);
    QFETCH(bool, tcp);

    QVERIFY2(tcp ? m_sim->startTcp(simArgs) : m_sim->start(simArgs), qPrintable(m_sim->errorString()));
    DeviceScanner scanner;
    QSignalSpy found(&scanner, &DeviceScanner::found);
    QSignalSpy progressed(&scanner, &DeviceScanner::progressed);
    QSignalSpy finished(&scanner, &DeviceScanner::finished);
    ScanPlan plan = planFor(1, 30);
    if (tcp) {
        plan.link = LinkType::Tcp;
        plan.host = QStringLiteral("127.0.0.1");
        plan.port = m_sim->tcpPort();
    }
    QVERIFY2(scanner.start(plan), qPrintable(scanner.errorString()));
    QVERIFY(scanner.isRunning());
    QVERIFY(finished.wait(30000));

    QCOMPARE(finishes(finished), QList<DeviceScanner::Finish>{ DeviceScanner::Finish::Completed });
    QVERIFY(!scanner.isRunning());
    QCOMPARE(scanner.position(), 30);
    QCOMPARE(progressed.count(), 30);
    QCOMPARE(progressed.last().at(0).toInt(), 30);
    QCOMPARE(progressed.last().at(1).toInt(), 30);

    QCOMPARE(found.count(), exceptionCode < 0 ? 0 : 1);
    QCOMPARE(scanner.devices().size(), found.count());
    if (exceptionCode < 0)
        return;
    QCOMPARE(scanner.hits().size(), 1);
    const ScanHit hit = scanner.hits().first();
    QCOMPARE(hit.address, 17);
    QCOMPARE(hit.baudRate, tcp ? 0 : 115200);
    QCOMPARE(hit.parity, int(QSerialPort::NoParity));
    QCOMPARE(hit.stopBits, int(QSerialPort::OneStop));
    QCOMPARE(hit.exceptionCode, exceptionCode);
    QCOMPARE(int(hit.value), value);

    // The sensor saw one read of one holding register, for its own address.
    QVERIFY(m_sim->waitForRequests(1));
    const QStringList requests = m_sim->requests();
    QCOMPARE(requests.size(), 1);
    QVERIFY2(requests.first().contains(QStringLiteral("slave=17 fc=3 addr=0 count=1")),
             qPrintable(requests.first()));

    // The scan left the port free.
    if (tcp)
        return;
    QSerialPort port(m_sim->clientPort());
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
}

void TestDeviceScanner::oneEntryPerAddress()
{
    // A pty passes bytes at any setting: the sensor answers at both rates.
    QVERIFY2(m_sim->start({ "--static", "--address", "17" }), qPrintable(m_sim->errorString()));
    DeviceScanner scanner;
    QSignalSpy finished(&scanner, &DeviceScanner::finished);
    ScanPlan plan = planFor(16, 18);
    plan.baudRates = { 9600, 115200 };
    QVERIFY(scanner.start(plan));
    QVERIFY(finished.wait(30000));
    QCOMPARE(scanner.devices().keys(), QList<int>{ 17 });
    const FoundDevice device = scanner.devices().value(17);
    // The settings in use when they answered, else the first that did.
    QCOMPARE(device.answerToUse(115200, QSerialPort::NoParity).baudRate, 115200);
    QCOMPARE(device.answerToUse(115200, QSerialPort::EvenParity).baudRate, 9600);
}

void TestDeviceScanner::cancelStopsTheScan()
{
    QVERIFY2(m_sim->start({ "--static", "--address", "200" }), qPrintable(m_sim->errorString()));
    DeviceScanner scanner;
    QSignalSpy finished(&scanner, &DeviceScanner::finished);
    QSignalSpy progressed(&scanner, &DeviceScanner::progressed);
    // Cancelled from a receiver of its own progress signal, with a probe about to go out.
    connect(&scanner, &DeviceScanner::progressed, &scanner, [&scanner](int position) {
        if (position == 3)
            scanner.cancel();
    });
    ScanPlan plan = planFor(1, 247);
    plan.timeoutMs = 100;
    QVERIFY(scanner.start(plan));
    QVERIFY(finished.wait(30000));

    QCOMPARE(finishes(finished), QList<DeviceScanner::Finish>{ DeviceScanner::Finish::Cancelled });
    QVERIFY(!scanner.isRunning());
    QCOMPARE(scanner.position(), 3);
    // Nothing more goes out after the cancel.
    QTest::qWait(3 * plan.timeoutMs);
    QCOMPARE(progressed.count(), 3);
    QCOMPARE(finished.count(), 1);
    QVERIFY(scanner.hits().isEmpty());
    {
        QSerialPort port(m_sim->clientPort());
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    }

    scanner.cancel(); // again: nothing more to report
    QCOMPARE(finished.count(), 1);

    // A cancel while the probe is on the line: the scan ends then and there, not at the
    // probe's timeout.
    QSignalSpy again(&scanner, &DeviceScanner::finished);
    plan.firstAddress = 1;
    plan.lastAddress = 1;
    plan.timeoutMs = 10000;
    QVERIFY(scanner.start(plan));
    QTest::qWait(50);
    QVERIFY2(scanner.isRunning(), qPrintable(scanner.errorString()));
    scanner.cancel();
    QCOMPARE(finishes(again), QList<DeviceScanner::Finish>{ DeviceScanner::Finish::Cancelled });
    QCOMPARE(scanner.position(), 0);
}

void TestDeviceScanner::missingPortFails()
{
    DeviceScanner scanner;
    QSignalSpy finished(&scanner, &DeviceScanner::finished);
    ScanPlan plan;
    plan.portName = QStringLiteral("/nonexistent/ttyScan");
    plan.baudRates = { 9600 };
    plan.parities = { QSerialPort::NoParity };
    QVERIFY(scanner.start(plan));
    QCOMPARE(finishes(finished), QList<DeviceScanner::Finish>{ DeviceScanner::Finish::Failed });
    QVERIFY(!scanner.isRunning());
    QVERIFY2(scanner.errorString().contains(plan.portName), qPrintable(scanner.errorString()));
}

QTEST_GUILESS_MAIN(TestDeviceScanner)
#include "tst_devicescanner.moc"
