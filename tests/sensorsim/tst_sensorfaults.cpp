// Injected faults and reply timing of the simulated sensor, seen by mbpoll (an independent
// Modbus master) over a socat pty pair.

#include "simfixture.h"
#include "simtools.h"

#include <QTest>

using namespace simtools;

class TestSensorFaults : public QObject
{
    Q_OBJECT

private slots:
    void faults_data();
    void faults();
    void corruptedWriteStillWrites();
    void otherServerAddressGetsNoAnswer();
    void replyTiming_data();
    void replyTiming();
};

void TestSensorFaults::faults_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("readArgs");
    QTest::addColumn<int>("polls");
    QTest::addColumn<QStringList>("outcomes"); // log outcome of each poll
    QTest::addColumn<QString>("clientError");   // what mbpoll reports for the failing polls

    const QStringList read3 = {"-t", "4", "-r", "4", "-c", "3"};
    QTest::newRow("exception on a covered address")
        << QStringList{"--exception", "5:4"} << read3 << 1 << QStringList{"exception"}
        << "Slave device or server failure";
    QTest::newRow("exception on the first address")
        << QStringList{"--exception", "4:1"} << read3 << 1 << QStringList{"exception"}
        << "Illegal function";
    QTest::newRow("exception on the last address")
        << QStringList{"--exception", "6:3"} << read3 << 1 << QStringList{"exception"}
        << "Illegal data value";
    QTest::newRow("exception elsewhere leaves the read alone")
        << QStringList{"--exception", "7:4", "--exception", "3:4"} << read3 << 1
        << QStringList{"reply"} << QString();
    QTest::newRow("exception also for coils")
        << QStringList{"--exception", "9:2"} << QStringList{"-t", "0", "-r", "0", "-c", "16"}
        << 1 << QStringList{"exception"} << "Illegal data address";
    QTest::newRow("beyond the image")
        << QStringList{} << QStringList{"-t", "4", "-r", "1020", "-c", "10"} << 1
        << QStringList{"exception"} << "Illegal data address";
    QTest::newRow("drop every second request")
        << QStringList{"--drop-every", "2"} << read3 << 4
        << QStringList{"reply", "drop", "reply", "drop"} << "Connection timed out";
    QTest::newRow("corrupt every third reply")
        << QStringList{"--corrupt-crc-every", "3"} << read3 << 4
        << QStringList{"reply", "reply", "corrupt", "reply"} << "Invalid CRC";
    QTest::newRow("drops do not count as replies")
        << QStringList{"--drop-every", "2", "--corrupt-crc-every", "2"} << read3 << 4
        << QStringList{"reply", "drop", "corrupt", "drop"} << QString();
}

void TestSensorFaults::faults()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, readArgs);
    QFETCH(int, polls);
    QFETCH(QStringList, outcomes);
    QFETCH(QString, clientError);

    SimFixture sim(kSimPath);
    QVERIFY2(sim.start(simArgs), qPrintable(sim.errorString()));
    for (int i = 0; i < polls; ++i) {
        const MbpollResult r = mbpoll(sim.clientPort(), readArgs, 1, QStringLiteral("0.3"));
        if (outcomes.at(i) == QLatin1String("reply")) {
            QVERIFY2(r.exitCode == 0, qPrintable(r.output));
        } else {
            QVERIFY2(r.exitCode != 0, qPrintable(r.output));
            if (!clientError.isEmpty())
                QVERIFY2(r.output.contains(clientError), qPrintable(r.output));
        }
    }
    QVERIFY(sim.waitForRequests(polls));
    const QStringList log = sim.requests();
    QCOMPARE(log.size(), polls);
    QStringList seen;
    for (int i = 0; i < log.size(); ++i) {
        QVERIFY2(log.at(i).startsWith(QStringLiteral("seq=%1 slave=1 ").arg(i + 1)),
                 qPrintable(log.at(i)));
        seen << outcomeOf(log.at(i));
    }
    QCOMPARE(seen, outcomes);
}

void TestSensorFaults::corruptedWriteStillWrites()
{
    SimFixture sim(kSimPath);
    QVERIFY2(sim.start({"--static", "--corrupt-crc-every", "2"}), qPrintable(sim.errorString()));
    MbpollResult r = mbpoll(sim.clientPort(), {"-t", "4", "-r", "10", "-c", "1"});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QCOMPARE(r.values.value(10), 500u);
    r = mbpoll(sim.clientPort(), {"-t", "4", "-r", "10", "WRITE", "42", "43"});
    QVERIFY2(r.exitCode != 0 && r.output.contains("Invalid CRC"), qPrintable(r.output));
    r = mbpoll(sim.clientPort(), {"-t", "4", "-r", "10", "-c", "2"});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QCOMPARE(valuesFrom(r, 10, 2), (Values{42, 43}));
    QVERIFY(sim.waitForRequests(3));
    QCOMPARE(sim.requests().at(1),
             QStringLiteral("seq=2 slave=1 fc=16 addr=10 count=2 outcome=corrupt values=42,43"));
}

void TestSensorFaults::otherServerAddressGetsNoAnswer()
{
    SimFixture sim(kSimPath);
    QVERIFY2(sim.start({"--address", "7"}), qPrintable(sim.errorString()));
    MbpollResult r = mbpoll(sim.clientPort(), {"-t", "4", "-r", "0", "-c", "3"}, 1, "0.3");
    QVERIFY2(r.exitCode != 0 && r.output.contains("timed out"), qPrintable(r.output));
    // The request right after one for another address is served.
    r = mbpoll(sim.clientPort(), {"-t", "4", "-r", "4", "-c", "1"}, 7);
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QCOMPARE(r.values.value(4), 7u);
    QVERIFY(sim.waitForRequests(1));
    QCOMPARE(sim.requests(), QStringList{"seq=1 slave=7 fc=3 addr=4 count=1 outcome=reply"});
}

void TestSensorFaults::replyTiming_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("readArgs");
    QTest::addColumn<QString>("clientTimeout");
    QTest::addColumn<bool>("answered");

    const QStringList read1 = {"-t", "4", "-r", "0", "-c", "1"};
    QTest::newRow("delay longer than the client waits")
        << QStringList{"--delay-ms", "2000"} << read1 << "0.2" << false;
    QTest::newRow("delay shorter than the client waits")
        << QStringList{"--delay-ms", "100"} << read1 << "5" << true;
    // 1200 baud 8N1: 125 registers need 8 + 255 characters plus two gaps, about 2.2 s.
    QTest::newRow("emulated slow line, long frame")
        << QStringList{"--emulate-line", "--baud", "1200"}
        << QStringList{"-t", "4", "-r", "0", "-c", "125"} << "0.3" << false;
    // One register needs 8 + 7 characters plus two gaps, about 0.2 s.
    QTest::newRow("emulated slow line, short frame")
        << QStringList{"--emulate-line", "--baud", "1200"} << read1 << "5" << true;
    QTest::newRow("emulated fast line")
        << QStringList{"--emulate-line", "--baud", "115200", "--parity", "E", "--stop-bits", "2"}
        << QStringList{"-t", "4", "-r", "0", "-c", "125"} << "5" << true;
}

void TestSensorFaults::replyTiming()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, readArgs);
    QFETCH(QString, clientTimeout);
    QFETCH(bool, answered);

    SimFixture sim(kSimPath);
    QVERIFY2(sim.start(simArgs), qPrintable(sim.errorString()));
    // Parity and stop bits do not travel over a pty; mbpoll keeps 8N1.
    const MbpollResult r = mbpoll(sim.clientPort(), readArgs, 1, clientTimeout);
    if (answered) {
        QVERIFY2(r.exitCode == 0, qPrintable(r.output));
        QCOMPARE(r.values.size(), readArgs.last().toInt());
    } else {
        QVERIFY2(r.exitCode != 0 && r.output.contains("timed out"), qPrintable(r.output));
    }
    QVERIFY(sim.waitForRequests(1));
    QCOMPARE(outcomeOf(sim.requests().constFirst()), QStringLiteral("reply"));
}

QTEST_GUILESS_MAIN(TestSensorFaults)
#include "tst_sensorfaults.moc"
