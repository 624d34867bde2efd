// The simulated sensor seen from outside: mbpoll (an independent Modbus master) and Qt's
// RTU master talk to it over a socat pty pair.

#include "simfixture.h"
#include "simtools.h"

#include <QModbusDataUnit>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>
#include <QModbusTcpClient>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstring>

using namespace simtools;

class TestSensorSim : public QObject
{
    Q_OBJECT

private slots:
    void registerImage_data();
    void registerImage();
    void imageFile();
    void sensorValuesAreConsistent();
    void wideRegisters_data();
    void wideRegisters();
    void wideRegistersFollowTheModel_data();
    void wideRegistersFollowTheModel();

    void writes_data();
    void writes();

    void qtMasterReadsExactValues();
    void qtBroadcastWriteIsExecuted();
    void servesTcpClientsOneAfterAnother();

    void stopsCleanlyOnSigterm();
    void exitsWhenTheLineVanishes();

    void badOptions_data();
    void badOptions();
    void helpNamesEveryOption();
    void missingDevice();
};

static Values zeros(int n)
{
    Values list;
    for (int i = 0; i < n; ++i)
        list << 0;
    return list;
}

void TestSensorSim::registerImage_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("readArgs");
    QTest::addColumn<int>("start");
    QTest::addColumn<Values>("expected");

    const QString st = QStringLiteral("--static");
    // Time-zero reading: 25 degrees, 900.0 mm; 2 * 0.9 m / (331.3 + 0.606 * 25) m/s = 5195.6 us.
    QTest::newRow("static defaults, measurement")
        << QStringList{st} << QStringList{"-t", "4", "-r", "0", "-c", "3"} << 0
        << Values{5196, 25, 9000};
    QTest::newRow("static defaults, input registers mirror")
        << QStringList{st} << QStringList{"-t", "3", "-r", "0", "-c", "3"} << 0
        << Values{5196, 25, 9000};
    // 14..15: 0.9f = 0x3F666666, high word first; 16..17: 1.8e9 / 346.45 = 5195555 ns =
    // 0x004F4723, low word first.
    QTest::newRow("static defaults, firmware and limits")
        << QStringList{st} << QStringList{"-t", "4", "-r", "6", "-c", "16"} << 6
        << Values{0x0102, 0x0100, 0, 0, 500, 1200, 4, 100, 0x3F66, 0x6666, 0x4723, 0x004F, 0, 0,
                  250, 2000};
    QTest::newRow("static defaults, coils")
        << QStringList{st} << QStringList{"-t", "0", "-r", "0", "-c", "8"} << 0
        << Values{1, 1, 0, 0, 1, 0, 0, 0};
    // 900.0 mm lies between the limits (500, 1200) and inside 250..2000: only "echo valid".
    QTest::newRow("static defaults, status inputs")
        << QStringList{st} << QStringList{"-t", "1", "-r", "0", "-c", "8"} << 0
        << Values{1, 0, 0, 0, 0, 1, 1, 0};
    QTest::newRow("set, signed and hex")
        << QStringList{st, "--set", "hr:0=125", "--set", "hr:1=-200", "--set", "hr:2=0x4D2"}
        << QStringList{"-t", "4", "-r", "0", "-c", "3"} << 0 << Values{125, 65336, 1234};
    QTest::newRow("set, value list to consecutive input registers")
        << QStringList{st, "--set", "ir:100=1,2,0x10,65535"}
        << QStringList{"-t", "3", "-r", "99", "-c", "6"} << 99 << Values{0, 1, 2, 16, 65535, 0};
    QTest::newRow("set, coils")
        << QStringList{st, "--set", "coil:20=1,0,1,1"}
        << QStringList{"-t", "0", "-r", "20", "-c", "5"} << 20 << Values{1, 0, 1, 1, 0};
    QTest::newRow("set, last address of discrete inputs")
        << QStringList{st, "--set", "di:1000=1", "--set", "di:1023=1"}
        << QStringList{"-t", "1", "-r", "1000", "-c", "24"} << 1000
        << (Values{1} + zeros(22) + Values{1});
    QTest::newRow("set, later assignment wins")
        << QStringList{st, "--set", "hr:50=7,8", "--set", "hr:51=9"}
        << QStringList{"-t", "4", "-r", "50", "-c", "2"} << 50 << Values{7, 9};
    QTest::newRow("read at the end of the image")
        << QStringList{st, "--set", "hr:1023=0xBEEF", "--set", "hr:899=3"}
        << QStringList{"-t", "4", "-r", "899", "-c", "125"} << 899
        << (Values{3} + zeros(123) + Values{0xBEEF});
}

void TestSensorSim::registerImage()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, readArgs);
    QFETCH(int, start);
    QFETCH(Values, expected);

    SimFixture sim(kSimPath);
    QVERIFY2(sim.start(simArgs), qPrintable(sim.errorString()));
    const MbpollResult r = mbpoll(sim.clientPort(), readArgs);
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QCOMPARE(valuesFrom(r, start, expected.size()), expected);
    QVERIFY(sim.waitForRequests(1));
    QCOMPARE(outcomeOf(sim.requests().constFirst()), QStringLiteral("reply"));
}

void TestSensorSim::imageFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("image.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("# limits of a short-range sensor\n"
               "hr:10=100\n"
               "\n"
               "hr:11 = 400   # upper\n"
               "hr:20=0x32,0x7D0\n"
               "coil:0=0\n");
    file.close();

    SimFixture sim(kSimPath);
    // --set after --image overrides it.
    QVERIFY2(sim.start({"--static", "--image", path, "--set", "hr:21=1500"}),
             qPrintable(sim.errorString()));
    MbpollResult r = mbpoll(sim.clientPort(), {"-t", "4", "-r", "10", "-c", "12"});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QCOMPARE(valuesFrom(r, 10, 12),
             (Values{100, 400, 4, 100, 0x3F66, 0x6666, 0x4723, 0x004F, 0, 0, 50, 1500}));
    r = mbpoll(sim.clientPort(), {"-t", "0", "-r", "0", "-c", "2"});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QCOMPARE(valuesFrom(r, 0, 2), (Values{0, 1}));
}

void TestSensorSim::sensorValuesAreConsistent()
{
    SimFixture sim(kSimPath);
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));

    QSet<quint32> distances;
    for (int i = 0; i < 4; ++i) {
        for (const char *table : {"4", "3"}) {
            const MbpollResult r = mbpoll(sim.clientPort(), {"-t", table, "-r", "0", "-c", "3"});
            QVERIFY2(r.exitCode == 0, qPrintable(r.output));
            const quint32 flight = r.values.value(0);
            const int celsius = qint16(r.values.value(1));
            const quint32 distance = r.values.value(2);
            QVERIFY2(celsius >= 20 && celsius <= 30, qPrintable(QString::number(celsius)));
            QVERIFY2(distance >= 3000 && distance <= 15000, qPrintable(QString::number(distance)));
            // Round trip over distance/10 mm at c = 331.3 + 0.606 T m/s, in microseconds.
            const double expected = 2.0 * (distance / 10000.0) / (331.3 + 0.606 * celsius) * 1e6;
            QVERIFY2(std::abs(flight - expected) <= 0.5,
                     qPrintable(QStringLiteral("flight %1 us, expected %2 for %3 at %4 C")
                                    .arg(flight).arg(expected).arg(distance).arg(celsius)));
            distances.insert(distance);
        }
        QTest::qWait(250);
    }
    QVERIFY2(distances.size() > 1, "the distance never moved");
}

// The 32-bit registers as mbpoll decodes them: -B reads a float high word first (ABCD), the
// integer without -B is read low word first (CDAB). mbpoll prints floats to 6 digits.
void TestSensorSim::wideRegisters_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("table");
    QTest::addColumn<double>("metres");
    QTest::addColumn<quint32>("nanoseconds");

    const QString st = QStringLiteral("--static");
    QTest::newRow("static defaults, holding registers")
        << QStringList{st} << "4" << 0.9 << 5195555u;
    QTest::newRow("static defaults, input registers mirror")
        << QStringList{st} << "3" << 0.9 << 5195555u;
    // -123.456f = 0xC2F6E979, pi = 0x40490FDB.
    QTest::newRow("set, holding registers")
        << QStringList{st, "--set", "hr:14=0xC2F6,0xE979", "--set", "hr:16=0x5678,0x1234"} << "4"
        << -123.456 << 0x12345678u;
    QTest::newRow("set, input registers")
        << QStringList{st, "--set", "ir:14=0x4049,0x0FDB", "--set", "ir:16=0xFFFF,0x7FFF"} << "3"
        << 3.14159265 << 0x7FFFFFFFu;
}

void TestSensorSim::wideRegisters()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QString, table);
    QFETCH(double, metres);
    QFETCH(quint32, nanoseconds);

    SimFixture sim(kSimPath);
    QVERIFY2(sim.start(simArgs), qPrintable(sim.errorString()));
    MbpollResult r =
        mbpoll(sim.clientPort(), {"-t", table + ":float", "-B", "-r", "14", "-c", "1"});
    QVERIFY2(r.exitCode == 0 && r.numbers.contains(14), qPrintable(r.output));
    QVERIFY2(std::abs(r.numbers.value(14) - metres) <= 5e-6 * std::abs(metres),
             qPrintable(r.output));
    r = mbpoll(sim.clientPort(), {"-t", table + ":int", "-r", "16", "-c", "1"});
    QVERIFY2(r.exitCode == 0 && r.values.contains(16), qPrintable(r.output));
    QCOMPARE(r.values.value(16), nanoseconds);
}

void TestSensorSim::writes_data()
{
    QTest::addColumn<QStringList>("writeArgs");
    QTest::addColumn<QStringList>("readArgs");
    QTest::addColumn<int>("start");
    QTest::addColumn<Values>("expected");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("single holding register")
        << QStringList{"-t", "4", "-r", "10", "WRITE", "750"}
        << QStringList{"-t", "4", "-r", "10", "-c", "2"} << 10 << Values{750, 1200}
        << "seq=1 slave=1 fc=6 addr=10 count=1 outcome=reply values=750";
    QTest::newRow("several holding registers")
        << QStringList{"-t", "4", "-r", "20", "WRITE", "100", "2500"}
        << QStringList{"-t", "4", "-r", "20", "-c", "2"} << 20 << Values{100, 2500}
        << "seq=1 slave=1 fc=16 addr=20 count=2 outcome=reply values=100,2500";
    QTest::newRow("single coil")
        << QStringList{"-t", "0", "-r", "2", "WRITE", "1"}
        << QStringList{"-t", "0", "-r", "0", "-c", "4"} << 0 << Values{1, 1, 1, 0}
        << "seq=1 slave=1 fc=5 addr=2 count=1 outcome=reply values=1";
    QTest::newRow("several coils")
        << QStringList{"-t", "0", "-r", "8", "WRITE", "1", "0", "1"}
        << QStringList{"-t", "0", "-r", "8", "-c", "3"} << 8 << Values{1, 0, 1}
        << "seq=1 slave=1 fc=15 addr=8 count=3 outcome=reply values=1,0,1";
}

void TestSensorSim::writes()
{
    QFETCH(QStringList, writeArgs);
    QFETCH(QStringList, readArgs);
    QFETCH(int, start);
    QFETCH(Values, expected);
    QFETCH(QString, logLine);

    SimFixture sim(kSimPath);
    QVERIFY2(sim.start({"--static"}), qPrintable(sim.errorString()));
    MbpollResult r = mbpoll(sim.clientPort(), writeArgs);
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    r = mbpoll(sim.clientPort(), readArgs);
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QCOMPARE(valuesFrom(r, start, expected.size()), expected);
    QVERIFY(sim.waitForRequests(2));
    QCOMPARE(sim.requests().constFirst(), logLine);
}

namespace {

bool connectMaster(QModbusRtuSerialMaster *master, const QString &port)
{
    master->setConnectionParameter(QModbusDevice::SerialPortNameParameter, port);
    master->setConnectionParameter(QModbusDevice::SerialParityParameter, QSerialPort::NoParity);
    master->setConnectionParameter(QModbusDevice::SerialBaudRateParameter, QSerialPort::Baud115200);
    master->setConnectionParameter(QModbusDevice::SerialDataBitsParameter, QSerialPort::Data8);
    master->setConnectionParameter(QModbusDevice::SerialStopBitsParameter, QSerialPort::OneStop);
    master->setTimeout(1000);
    master->setNumberOfRetries(0);
    return master->connectDevice() && master->state() == QModbusDevice::ConnectedState;
}

// Waits (bounded) for the reply; a null reply or a timeout gives an invalid unit.
QModbusDataUnit finish(QModbusReply *reply, QModbusDevice::Error *error)
{
    *error = QModbusDevice::UnknownError;
    if (!reply)
        return {};
    if (!reply->isFinished()) {
        QSignalSpy finished(reply, &QModbusReply::finished);
        if (!finished.wait(5000)) {
            delete reply;
            return {};
        }
    }
    *error = reply->error();
    const QModbusDataUnit unit = reply->result();
    delete reply;
    return unit;
}

} // namespace

void TestSensorSim::wideRegistersFollowTheModel_data()
{
    QTest::addColumn<QModbusDataUnit::RegisterType>("table");
    QTest::newRow("holding registers") << QModbusDataUnit::HoldingRegisters;
    QTest::newRow("input registers") << QModbusDataUnit::InputRegisters;
}

// Registers 0..17 in one request, so the 32-bit values and the 16-bit measurement they
// follow come from the same measurement.
void TestSensorSim::wideRegistersFollowTheModel()
{
    QFETCH(QModbusDataUnit::RegisterType, table);
    SimFixture sim(kSimPath);
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    QModbusRtuSerialMaster master;
    QVERIFY2(connectMaster(&master, sim.clientPort()), qPrintable(master.errorString()));

    QSet<float> seen;
    for (int i = 0; i < 4; ++i) {
        QModbusDevice::Error error;
        const QModbusDataUnit unit =
            finish(master.sendReadRequest(QModbusDataUnit(table, 0, 18), 1), &error);
        QCOMPARE(error, QModbusDevice::NoError);
        const QVector<quint16> v = unit.values();
        QCOMPARE(v.size(), 18);
        const quint32 bits = (quint32(v[14]) << 16) | v[15];
        float metres;
        std::memcpy(&metres, &bits, sizeof metres);
        // Within half a unit in the last place of a float.
        const double distance = v[2] / 10000.0;
        QVERIFY2(std::abs(metres - distance) <= distance * std::ldexp(1.0, -24),
                 qPrintable(QStringLiteral("%1 m for %2")
                                .arg(double(metres), 0, 'g', 9)
                                .arg(v[2])));
        const qint64 ns = (qint64(v[17]) << 16) | v[16];
        const double exact = 2.0 * distance / (331.3 + 0.606 * qint16(v[1])) * 1e9;
        QVERIFY2(std::abs(ns - exact) <= 0.5 + 1e-6 && std::abs(ns - 1000 * qint64(v[0])) <= 500,
                 qPrintable(QStringLiteral("%1 ns for %2 us, %3 at %4 C")
                                .arg(ns).arg(v[0]).arg(v[2]).arg(qint16(v[1]))));
        seen.insert(metres);
        QTest::qWait(250);
    }
    QVERIFY2(seen.size() > 1, "the distance in metres never moved");
    master.disconnectDevice();
}

void TestSensorSim::qtMasterReadsExactValues()
{
    SimFixture sim(kSimPath);
    QVERIFY2(sim.start({"--static", "--set", "hr:0=125", "--set", "hr:1=-200", "--set",
                        "hr:2=1234"}),
             qPrintable(sim.errorString()));
    QModbusRtuSerialMaster master;
    QVERIFY2(connectMaster(&master, sim.clientPort()), qPrintable(master.errorString()));

    QModbusDevice::Error error;
    const QModbusDataUnit unit = finish(
        master.sendReadRequest(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, 3), 1),
        &error);
    QCOMPARE(error, QModbusDevice::NoError);
    QCOMPARE(unit.values(), (QVector<quint16>{125, 0xFF38, 1234}));

    // An injected exception reaches Qt as a protocol error.
    master.disconnectDevice();
    QVERIFY2(sim.start({"--exception", "2:2"}), qPrintable(sim.errorString()));
    QVERIFY2(connectMaster(&master, sim.clientPort()), qPrintable(master.errorString()));
    finish(master.sendReadRequest(QModbusDataUnit(QModbusDataUnit::InputRegisters, 0, 3), 1),
           &error);
    QCOMPARE(error, QModbusDevice::ProtocolError);
    master.disconnectDevice();
}

void TestSensorSim::qtBroadcastWriteIsExecuted()
{
    SimFixture sim(kSimPath);
    QVERIFY2(sim.start({"--static"}), qPrintable(sim.errorString()));
    QModbusRtuSerialMaster master;
    QVERIFY2(connectMaster(&master, sim.clientPort()), qPrintable(master.errorString()));

    QModbusDevice::Error error;
    QModbusDataUnit write(QModbusDataUnit::HoldingRegisters, 30, QVector<quint16>{77, 78});
    finish(master.sendWriteRequest(write, 0), &error);
    QCOMPARE(error, QModbusDevice::NoError);
    QVERIFY(sim.waitForRequests(1));
    QCOMPARE(sim.requests().constFirst(),
             QStringLiteral("seq=1 slave=0 fc=16 addr=30 count=2 outcome=broadcast values=77,78"));

    const QModbusDataUnit read = finish(
        master.sendReadRequest(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 30, 2), 1),
        &error);
    QCOMPARE(error, QModbusDevice::NoError);
    QCOMPARE(read.values(), (QVector<quint16>{77, 78}));
    master.disconnectDevice();
}

// Each connection reads or writes, then closes; the server goes on to the next. Over TCP the
// units 0 and 255 are answered like the server's own address.
void TestSensorSim::servesTcpClientsOneAfterAnother()
{
    SimFixture sim(kSimPath);
    QVERIFY2(sim.startTcp({"--static", "--address", "9"}), qPrintable(sim.errorString()));
    const QList<int> units = {9, 0, 255};
    for (int i = 0; i < units.size(); ++i) {
        QModbusTcpClient client;
        client.setConnectionParameter(QModbusDevice::NetworkAddressParameter, "127.0.0.1");
        client.setConnectionParameter(QModbusDevice::NetworkPortParameter, sim.tcpPort());
        QVERIFY(client.connectDevice());
        QTRY_COMPARE(client.state(), QModbusDevice::ConnectedState);
        const QModbusDataUnit hr30(QModbusDataUnit::HoldingRegisters, 30, QVector<quint16>{77});
        QModbusReply *reply = i == 1 ? client.sendWriteRequest(hr30, units[i])
                                     : client.sendReadRequest(hr30, units[i]);
        QVERIFY(reply);
        QTRY_VERIFY(reply->isFinished());
        QCOMPARE(reply->error(), QModbusDevice::NoError);
        if (i != 1)
            QCOMPARE(reply->result().value(0), i == 0 ? 0 : 77);
        delete reply;
        client.disconnectDevice();
    }
    QVERIFY(sim.waitForRequests(3));
    QCOMPARE(sim.requestsWith({"slave=0", "fc=6", "outcome=reply"}).size(), 1);
    QVERIFY(sim.isRunning());
}

void TestSensorSim::stopsCleanlyOnSigterm()
{
    SimFixture sim(kSimPath);
    QVERIFY2(sim.start({"--delay-ms", "3000"}), qPrintable(sim.errorString()));
    // A request is being held back when the signal arrives.
    QProcess client;
    client.start(QStringLiteral("mbpoll"), {"-m", "rtu", "-b", "115200", "-P", "none", "-0", "-1",
                                            "-o", "5", "-t", "4", "-r", "0", sim.clientPort()});
    QVERIFY(client.waitForStarted(5000));
    QVERIFY(sim.waitForRequests(1, 5000));
    sim.stop();
    QCOMPARE(sim.simExitCode(), 0);
    QCOMPARE(sim.requests().size(), 1);
    QVERIFY(client.waitForFinished(10000));
}

void TestSensorSim::exitsWhenTheLineVanishes()
{
    SimFixture sim(kSimPath);
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    sim.killLine();
    QVERIFY(sim.waitForSimExit(5000));
    QCOMPARE(sim.simExitCode(), 1);
    QVERIFY2(sim.simOutput().contains("gone"), qPrintable(sim.simOutput()));
}

void TestSensorSim::badOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");

    const QString dev = QStringLiteral("/dev/null");
    QTest::newRow("no device") << QStringList{"--static"} << "no serial device";
    QTest::newRow("two devices") << QStringList{dev, dev} << "unexpected argument";
    QTest::newRow("unknown option") << QStringList{"--frobnicate", dev} << "unknown option --frobnicate";
    QTest::newRow("option without value") << QStringList{dev, "--baud"} << "needs a value";
    QTest::newRow("unknown area") << QStringList{"--set", "xr:1=1", dev} << "area must be";
    QTest::newRow("no equals") << QStringList{"--set", "hr:1", dev} << "not AREA:ADDR=VALUE";
    QTest::newRow("address past the image") << QStringList{"--set", "hr:1024=1", dev} << "0..1023";
    QTest::newRow("values run past the image")
        << QStringList{"--set", "hr:1023=1,2", dev} << "run past address 1023";
    QTest::newRow("register value too large") << QStringList{"--set", "hr:0=65536", dev} << "65536";
    QTest::newRow("register value too small") << QStringList{"--set", "ir:0=-32769", dev} << "-32769";
    QTest::newRow("coil value 2") << QStringList{"--set", "coil:0=2", dev} << "0 or 1";
    QTest::newRow("value with trailing text") << QStringList{"--set", "hr:0=12ab", dev} << "12ab";
    QTest::newRow("empty value in list") << QStringList{"--set", "hr:0=1,,2", dev} << "must be";
    QTest::newRow("parity") << QStringList{"--parity", "X", dev} << "not N, E or O";
    QTest::newRow("non-standard baud") << QStringList{"--baud", "12345", dev} << "standard baud";
    QTest::newRow("data bits") << QStringList{"--data-bits", "9", dev} << "data-bits";
    QTest::newRow("server address 0") << QStringList{"--address", "0", dev} << "1 to 247";
    QTest::newRow("server address 248") << QStringList{"--address", "248", dev} << "1 to 247";
    QTest::newRow("exception code 0") << QStringList{"--exception", "5:0", dev} << "ADDR:CODE";
    QTest::newRow("exception without code") << QStringList{"--exception", "5", dev} << "ADDR:CODE";
    QTest::newRow("negative drop") << QStringList{"--drop-every", "-1", dev} << "drop-every";
    QTest::newRow("missing image") << QStringList{"--image", "/nonexistent/image.txt", dev}
                                   << "cannot read /nonexistent/image.txt";
    QTest::newRow("tcp and a device") << QStringList{"--tcp", "1502", dev} << "device";
    QTest::newRow("tcp port too large") << QStringList{"--tcp", "65536"} << "0 to 65535";
    QTest::newRow("tcp with a broken crc")
        << QStringList{"--tcp", "1502", "--corrupt-crc-every", "2"} << "no CRC";
    QTest::newRow("unwritable log") << QStringList{"--log", "/nonexistent/sim.log", dev}
                                    << "cannot write /nonexistent/sim.log";
}

void TestSensorSim::badOptions()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const SimRun run = runSim(args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.output.contains(message), qPrintable(run.output));
}

void TestSensorSim::helpNamesEveryOption()
{
    const SimRun run = runSim({"--help"});
    QCOMPARE(run.exitCode, 0);
    for (const char *option :
         {"--baud", "--parity", "--data-bits", "--stop-bits", "--address", "--device", "--static",
          "--set", "--image", "--delay-ms", "--drop-every", "--exception", "--corrupt-crc-every",
          "--emulate-line", "--log", "--ready-file", "--verbose", "--tcp", "--host"}) {
        QVERIFY2(run.output.contains(QLatin1String(option)), option);
    }

    // A bad line of an image file is reported with its line number.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("bad.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("hr:0=1\nhr:1=x\n");
    file.close();
    const SimRun bad = runSim({"--image", file.fileName(), "/dev/null"});
    QCOMPARE(bad.exitCode, 2);
    QVERIFY2(bad.output.contains(file.fileName() + ":2:"), qPrintable(bad.output));
}

void TestSensorSim::missingDevice()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const SimRun run = runSim({dir.filePath(QStringLiteral("no-such-tty"))});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.output.contains("cannot open"), qPrintable(run.output));
}

QTEST_GUILESS_MAIN(TestSensorSim)
#include "tst_sensorsim.moc"
