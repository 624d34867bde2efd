#include "sessionsuite.h"

#include <QFileInfo>
#include <QModbusReply>
#include <QProcess>
#include <QTcpServer>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

// The Modbus session without a window, against sensor-sim: opening and closing the line, what
// each request gives (signals, outcome, what the device logged), the cycle timer, and replies
// made in-process.
class TestSession : public SessionSuite
{
    Q_OBJECT

private slots:
    void openAndClose();
    void failedOpen_data();
    void failedOpen();
    void lineVanishes();
    void tcpReadAndWrite_data();
    void tcpReadAndWrite();
    void tcpLinkEnds_data();
    void tcpLinkEnds();
    void rtuOverTcpBridge();
    void outcomes_data();
    void outcomes();
    void cycleTicks_data();
    void cycleTicks();
    void closeStopsCycle();
    void adoptFinishedReply_data();
    void adoptFinishedReply();
    void adoptReplyStillRunning();
};

void TestSession::openAndClose()
{
    QVERIFY2(m_sim->start({ "--static" }), qPrintable(m_sim->errorString()));
    ModbusSession session;
    QSignalSpy states(&session, &ModbusSession::stateChanged);
    QCOMPARE(session.state(), QModbusDevice::UnconnectedState);
    QVERIFY(!session.isConnected());

    QVERIFY(session.open(line()));
    QVERIFY(session.isConnected());
    QCOMPARE(session.state(), QModbusDevice::ConnectedState);
    QCOMPARE(states.size(), 2);
    QCOMPARE(states.at(0).at(0).value<QModbusDevice::State>(), QModbusDevice::ConnectingState);
    QCOMPARE(states.at(1).at(0).value<QModbusDevice::State>(), QModbusDevice::ConnectedState);

    states.clear();
    session.close();
    QVERIFY(!session.isConnected());
    QCOMPARE(session.state(), QModbusDevice::UnconnectedState);
    QCOMPARE(states.size(), 2);
    QCOMPARE(states.at(0).at(0).value<QModbusDevice::State>(), QModbusDevice::ClosingState);
    QCOMPARE(states.at(1).at(0).value<QModbusDevice::State>(), QModbusDevice::UnconnectedState);

    // The same client opens again and reads: 25 ℃ in register 1 of the factory image.
    QVERIFY(session.open(line()));
    QSignalSpy handled(&session, &ModbusSession::replyHandled);
    QCOMPARE(resultName(session.read(holdingRange(1, 1), 1)), QStringLiteral("Sent"));
    QTRY_COMPARE(handled.size(), 1);
    QCOMPARE(outcomeAt(handled, 0).unit.values(), QVector<quint16>{ 25 });
}

void TestSession::failedOpen_data()
{
    QTest::addColumn<QString>("port");
    QTest::newRow("empty port name") << QString();
    QTest::newRow("missing device") << QStringLiteral("/nonexistent/ttyNONE");
    QTest::newRow("directory, not a device") << QStringLiteral("/");
}

void TestSession::failedOpen()
{
    QFETCH(QString, port);
    QVERIFY2(m_sim->start({ "--static" }), qPrintable(m_sim->errorString()));
    ModbusSession session;
    QSignalSpy states(&session, &ModbusSession::stateChanged);
    QSignalSpy errors(&session, &ModbusSession::errorOccurred);

    LineSettings settings = line();
    settings.portName = port;
    QVERIFY(!session.open(settings));
    QVERIFY(!session.isConnected());
    QCOMPARE(session.state(), QModbusDevice::UnconnectedState);
    QVERIFY(!session.errorString().isEmpty());
    QVERIFY(!errors.isEmpty());
    QCOMPARE(errors.last().at(0).value<QModbusDevice::Error>(), QModbusDevice::ConnectionError);
    if (!states.isEmpty())
        QCOMPARE(states.last().at(0).value<QModbusDevice::State>(), QModbusDevice::UnconnectedState);
    QCOMPARE(resultName(session.read(holdingRange(0, 1), 1)), QStringLiteral("NotConnected"));

    // The same session opens once the port is right.
    QVERIFY(session.open(line()));
    QVERIFY(session.isConnected());
}

// A port that vanishes under an open line (adapter unplugged) closes the line.
void TestSession::lineVanishes()
{
    ModbusSession session;
    QVERIFY(openOnSimulator(session, { "--static" }));
    QSignalSpy states(&session, &ModbusSession::stateChanged);
    QSignalSpy handled(&session, &ModbusSession::replyHandled);
    QCOMPARE(resultName(session.read(holdingRange(0, 3), 1)), QStringLiteral("Sent"));
    QTRY_COMPARE(handled.size(), 1);

    m_sim->killLine();
    QTRY_COMPARE_WITH_TIMEOUT(session.state(), QModbusDevice::UnconnectedState, 5000);
    QVERIFY(!states.isEmpty());
    QCOMPARE(states.last().at(0).value<QModbusDevice::State>(), QModbusDevice::UnconnectedState);
    QVERIFY(!session.isPending());
    QCOMPARE(resultName(session.read(holdingRange(0, 3), 1)), QStringLiteral("NotConnected"));
}

void TestSession::tcpReadAndWrite_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("IPv4") << QStringLiteral("127.0.0.1");
    QTest::newRow("IPv6") << QStringLiteral("::1");
}

// Over TCP unit 0 is an ordinary address whose write waits for its reply, and 255 is valid.
void TestSession::tcpReadAndWrite()
{
    QFETCH(QString, host);
    QVERIFY2(m_sim->startTcp({ "--static" }, host), qPrintable(m_sim->errorString()));
    ModbusSession session;
    QVERIFY(session.open(LineSettings::tcp(host, m_sim->tcpPort())));
    QTRY_VERIFY(session.isConnected());
    QSignalSpy handled(&session, &ModbusSession::replyHandled);
    QCOMPARE(resultName(session.read(holdingRange(1, 1), 1)), QStringLiteral("Sent"));
    QTRY_COMPARE(handled.size(), 1);
    QCOMPARE(outcomeAt(handled, 0).unit.values(), QVector<quint16>{ 25 });

    QCOMPARE(resultName(session.write(holding(30, { 7 }), 0)), QStringLiteral("Sent"));
    QVERIFY(session.isPending());
    QTRY_COMPARE(handled.size(), 2);
    QCOMPARE(resultName(outcomeAt(handled, 1).result), QStringLiteral("Normal"));
    QCOMPARE(resultName(session.read(holdingRange(30, 1), 255)), QStringLiteral("Sent"));
    QTRY_COMPARE(handled.size(), 3);
    QCOMPARE(outcomeAt(handled, 2).unit.values(), QVector<quint16>{ 7 });
    QCOMPARE(resultName(session.read(holdingRange(30, 1), 256)), QStringLiteral("InvalidServer"));
}

void TestSession::tcpLinkEnds_data()
{
    QTest::addColumn<bool>("connected");
    QTest::newRow("peer closes the connection") << true;
    QTest::newRow("nothing listens on the port") << false;
}

void TestSession::tcpLinkEnds()
{
    QFETCH(bool, connected);
    QVERIFY2(m_sim->startTcp({ "--static" }), qPrintable(m_sim->errorString()));
    ModbusSession session;
    QSignalSpy lost(&session, &ModbusSession::linkLost);
    if (!connected)
        m_sim->stop();
    QVERIFY(session.open(LineSettings::tcp(QStringLiteral("127.0.0.1"), m_sim->tcpPort())));
    if (connected) {
        QTRY_VERIFY(session.isConnected());
        session.startCycle(50);
        m_sim->stop();
    }
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 5000);
    QCOMPARE(lost.at(0).at(1).toBool(), connected);
    QVERIFY(!lost.at(0).at(0).toString().isEmpty());
    QCOMPARE(session.state(), QModbusDevice::UnconnectedState);
    QVERIFY(!session.isCycling());
    QCOMPARE(resultName(session.read(holdingRange(0, 1), 1)), QStringLiteral("NotConnected"));
}

// A serial device server in transparent mode, played by socat in front of the simulator's line,
// and the socat bridge that turns it into a local serial port again: RTU frames over TCP.
void TestSession::rtuOverTcpBridge()
{
    QVERIFY2(m_sim->start({ "--static" }), qPrintable(m_sim->errorString()));
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const QString port = QString::number(probe.serverPort());
    probe.close();
    QProcess deviceServer;
    deviceServer.start("socat", { "tcp-listen:" + port + ",bind=127.0.0.1,reuseaddr",
                                  "file:" + m_sim->clientPort() + ",raw,echo=0" });
    const QString local = m_sim->directory() + "/ttyNet";
    QProcess bridge;
    bridge.start("socat", { "pty,link=" + local + ",raw,echo=0",
                            "tcp:127.0.0.1:" + port + ",retry=50,interval=0.1" });
    QTRY_VERIFY(QFileInfo::exists(local));

    ModbusSession session;
    LineSettings settings = line();
    settings.portName = local;
    QVERIFY(session.open(settings));
    QSignalSpy handled(&session, &ModbusSession::replyHandled);
    QCOMPARE(resultName(session.read(holdingRange(0, 3), 1)), QStringLiteral("Sent"));
    QTRY_COMPARE(handled.size(), 1);
    QCOMPARE(outcomeAt(handled, 0).unit.values(), (QVector<quint16>{ 5196, 25, 9000 }));
    session.close();
    bridge.terminate();
    deviceServer.terminate();
    QVERIFY(bridge.waitForFinished(3000) && deviceServer.waitForFinished(3000));
}

void TestSession::outcomes_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<bool>("write");
    QTest::addColumn<Request>("request");
    QTest::addColumn<int>("server");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QVector<quint16>>("values");
    QTest::addColumn<int>("error"); // QModbusDevice::Error
    QTest::addColumn<int>("exceptionCode");
    QTest::addColumn<QStringList>("logged"); // tokens of the simulator's one log line

    using V = QVector<quint16>;
    using L = QStringList;
    const L still = { "--static" };
    const int ok = int(QModbusDevice::NoError);
    const int protocol = int(QModbusDevice::ProtocolError);
    const int timeout = int(QModbusDevice::TimeoutError);
    const auto read = [](QModbusDataUnit::RegisterType type, int start, int count) {
        return Request::range(type, start, count);
    };
    const auto hr = QModbusDataUnit::HoldingRegisters;

    QTest::newRow("holding registers")
            << still + L{ "--set", "hr:0=125,0xFF38,1234" } << false << read(hr, 0, 3) << 1 << "Normal"
            << V{ 125, 65336, 1234 } << ok << 0 << L{ "slave=1", "fc=3", "addr=0", "count=3", "outcome=reply" };
    QTest::newRow("input registers")
            << still + L{ "--set", "ir:5=7,65535" } << false << read(QModbusDataUnit::InputRegisters, 5, 2) << 1
            << "Normal" << V{ 7, 65535 } << ok << 0 << L{ "fc=4", "addr=5", "count=2", "outcome=reply" };
    QTest::newRow("coils as 0 and 0xFF00")
            << still + L{ "--set", "coil:0=1,0,1,1,0" } << false << read(QModbusDataUnit::Coils, 0, 5) << 1
            << "Normal" << V{ 0xFF00, 0, 0xFF00, 0xFF00, 0 } << ok << 0
            << L{ "fc=1", "addr=0", "count=5", "outcome=reply" };
    QTest::newRow("nine coils over two bytes")
            << still + L{ "--set", "coil:0=1,0,0,0,0,0,0,0,1" } << false << read(QModbusDataUnit::Coils, 0, 9) << 1
            << "Normal" << V{ 0xFF00, 0, 0, 0, 0, 0, 0, 0, 0xFF00 } << ok << 0 << L{ "fc=1", "count=9" };
    QTest::newRow("discrete inputs as 0 and 0xFF00")
            << still + L{ "--set", "di:3=0,1" } << false << read(QModbusDataUnit::DiscreteInputs, 3, 2) << 1
            << "Normal" << V{ 0, 0xFF00 } << ok << 0 << L{ "fc=2", "addr=3", "count=2", "outcome=reply" };
    QTest::newRow("exception 2 for a read")
            << still + L{ "--exception", "1:2" } << false << read(hr, 0, 3) << 1 << "Error" << V() << protocol << 2
            << L{ "fc=3", "outcome=exception", "code=2" };
    QTest::newRow("read past the device's 1024 registers")
            << still << false << read(hr, 1020, 10) << 1 << "Error" << V() << protocol << 2
            << L{ "addr=1020", "outcome=exception", "code=2" };
    QTest::newRow("exception 4 for a write")
            << still + L{ "--exception", "10:4" } << true << Request(hr, 10, V{ 5 }) << 1 << "Error" << V()
            << protocol << 4 << L{ "fc=6", "outcome=exception", "code=4" };
    // No retry (the session is opened with none): one request on the wire, then the timeout.
    QTest::newRow("dropped request times out")
            << still + L{ "--drop-every", "1" } << false << read(hr, 0, 3) << 1 << "Error" << V() << timeout << 0
            << L{ "outcome=drop" };
    QTest::newRow("broken CRC times out")
            << still + L{ "--corrupt-crc-every", "1" } << false << read(hr, 0, 3) << 1 << "Error" << V() << timeout
            << 0 << L{ "outcome=corrupt" };
    QTest::newRow("one holding register written")
            << still << true << Request(hr, 4, V{ 1 }) << 1 << "Normal" << V{ 1 } << ok << 0
            << L{ "fc=6", "addr=4", "values=1", "outcome=reply" };
    QTest::newRow("holding registers written")
            << still << true << Request(hr, 10, V{ 700, 800 }) << 1 << "Normal" << V{ 700, 800 } << ok << 0
            << L{ "fc=16", "addr=10", "count=2", "values=700,800", "outcome=reply" };
    QTest::newRow("coils written")
            << still << true << Request(QModbusDataUnit::Coils, 2, V{ 0xFF00, 0xFF00, 0 }) << 1 << "Normal"
            << V{ 0xFF00, 0xFF00, 0 } << ok << 0
            << L{ "fc=15", "addr=2", "count=3", "values=1,1,0", "outcome=reply" };
    // Nobody answers a broadcast, and the client hands no data unit over for one.
    QTest::newRow("broadcast write")
            << still << true << Request(hr, 30, V{ 77 }) << 0 << "Broadcast" << V() << ok << 0
            << L{ "slave=0", "fc=6", "addr=30", "values=77", "outcome=broadcast" };
}

void TestSession::outcomes()
{
    QFETCH(QStringList, simArgs);
    QFETCH(bool, write);
    QFETCH(Request, request);
    const QModbusDataUnit unit = request.unit();
    QFETCH(int, server);
    QFETCH(QString, result);
    QFETCH(QVector<quint16>, values);
    QFETCH(int, error);
    QFETCH(int, exceptionCode);
    QFETCH(QStringList, logged);

    ModbusSession session;
    QVERIFY(openOnSimulator(session, simArgs));
    QSignalSpy handled(&session, &ModbusSession::replyHandled);

    const ModbusSession::SendResult sent = write ? session.write(unit, server) : session.read(unit, server);
    QCOMPARE(resultName(sent), QStringLiteral("Sent"));
    QCOMPARE(m_sent.size(), 1);
    QCOMPARE(m_sent.first().kind, write ? RequestKind::Write : RequestKind::Read);
    QCOMPARE(m_sent.first().unit.startAddress(), unit.startAddress());
    QCOMPARE(m_sent.first().unit.valueCount(), unit.valueCount());
    QCOMPARE(m_sent.first().server, server);

    QTRY_COMPARE_WITH_TIMEOUT(handled.size(), 1, 5000);
    const ReplyOutcome outcome = outcomeAt(handled, 0);

    QCOMPARE(resultName(outcome.result), result);
    QCOMPARE(outcome.kind, write ? RequestKind::Write : RequestKind::Read);
    QCOMPARE(outcome.serverAddress, server);
    QCOMPARE(int(outcome.error), error);
    QCOMPARE(outcome.exceptionCode, exceptionCode);
    QCOMPARE(outcome.errorString.isEmpty(), error == int(QModbusDevice::NoError));
    if (outcome.result == ReplyOutcome::Result::Normal) {
        QCOMPARE(outcome.unit.registerType(), unit.registerType());
        QCOMPARE(outcome.unit.startAddress(), unit.startAddress());
    }
    QCOMPARE(outcome.unit.values(), values);
    QVERIFY(outcome.responseUs >= 0);
    QCOMPARE(resultName(session.lastOutcome().result), result);
    QCOMPARE(session.lastOutcome().unit.values(), outcome.unit.values());
    QVERIFY(!session.isPending());

    // One request on the wire: no retry, and nothing else.
    QVERIFY(m_sim->waitForRequests(1));
    QCOMPARE(m_sim->requests().size(), 1);
    QCOMPARE(m_sim->requestsWith(logged).size(), 1);
}

void TestSession::cycleTicks_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("applied");
    QTest::newRow("20 ms") << 20 << 20;
    QTest::newRow("0: as fast as the event loop allows") << 0 << 0;
    QTest::newRow("negative taken as 0") << -5 << 0;
}

// The cycle needs no line: it only ticks, and the caller reads at each tick.
void TestSession::cycleTicks()
{
    QFETCH(int, interval);
    QFETCH(int, applied);
    ModbusSession session;
    QSignalSpy ticks(&session, &ModbusSession::cycleTick);
    QVERIFY(!session.isCycling());

    session.startCycle(interval);
    QVERIFY(session.isCycling());
    QCOMPARE(session.cycleInterval(), applied);
    QTRY_VERIFY(ticks.size() >= 3);

    session.setCycleInterval(-1);
    QCOMPARE(session.cycleInterval(), 0);
    session.setCycleInterval(40);
    QCOMPARE(session.cycleInterval(), 40);
    QVERIFY(session.isCycling());

    session.stopCycle();
    QVERIFY(!session.isCycling());
    const int seen = ticks.size();
    QTest::qWait(100);
    QCOMPARE(ticks.size(), seen);
}

void TestSession::closeStopsCycle()
{
    ModbusSession session;
    QVERIFY(openOnSimulator(session, { "--static" }));
    QSignalSpy ticks(&session, &ModbusSession::cycleTick);
    session.startCycle(10);
    QTRY_VERIFY(!ticks.isEmpty());
    session.close();
    QVERIFY(!session.isCycling());
    const int seen = ticks.size();
    QTest::qWait(100);
    QCOMPARE(ticks.size(), seen);
}

void TestSession::adoptFinishedReply_data()
{
    QTest::addColumn<int>("type"); // QModbusReply::ReplyType
    QTest::addColumn<Request>("data");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("exception"); // the raw reply is an exception with this code; 0: none
    QTest::addColumn<QString>("result");
    QTest::addColumn<QVector<quint16>>("values");

    QTest::newRow("holding registers")
            << int(QModbusReply::Common)
            << Request(QModbusDataUnit::HoldingRegisters, 0, QVector<quint16>{ 1, 2, 3 })
                                       << int(QModbusDevice::NoError) << 0 << "Normal"
                                       << QVector<quint16>{ 1, 2, 3 };
    QTest::newRow("coils given as 1 and 0")
            << int(QModbusReply::Common) << Request(QModbusDataUnit::Coils, 0, QVector<quint16>{ 1, 0, 1 })
            << int(QModbusDevice::NoError) << 0 << "Normal" << QVector<quint16>{ 0xFF00, 0, 0xFF00 };
    QTest::newRow("exception 3") << int(QModbusReply::Common) << Request()
                                 << int(QModbusDevice::ProtocolError) << 3 << "Error" << QVector<quint16>();
    QTest::newRow("timeout") << int(QModbusReply::Common) << Request() << int(QModbusDevice::TimeoutError)
                             << 0 << "Error" << QVector<quint16>();
    // A broadcast reply's result is always invalid (QModbusReply::result()).
    QTest::newRow("broadcast")
            << int(QModbusReply::Broadcast)
            << Request(QModbusDataUnit::HoldingRegisters, 5, QVector<quint16>{ 9 })
            << int(QModbusDevice::NoError) << 0 << "Broadcast" << QVector<quint16>();
}

// A reply made in-process and already finished when it is handed over still reports its
// outcome, and its handling clears the pending mark; the session deletes it.
void TestSession::adoptFinishedReply()
{
    QFETCH(int, type);
    QFETCH(Request, data);
    QFETCH(int, error);
    QFETCH(int, exception);
    QFETCH(QString, result);
    QFETCH(QVector<quint16>, values);

    ModbusSession session;
    QSignalSpy handled(&session, &ModbusSession::replyHandled);
    QPointer<QModbusReply> reply = new QModbusReply(QModbusReply::ReplyType(type), 7);
    reply->setResult(data.unit());
    if (exception != 0) {
        reply->setRawResult(QModbusExceptionResponse(QModbusPdu::ReadHoldingRegisters,
                                                     QModbusPdu::ExceptionCode(exception)));
    }
    if (error != int(QModbusDevice::NoError))
        reply->setError(QModbusDevice::Error(error), QStringLiteral("failed in-process"));
    reply->setFinished(true);

    session.adoptReply(reply, RequestKind::Read, 7);
    QCOMPARE(handled.size(), 1);
    QVERIFY(!session.isPending());
    const ReplyOutcome outcome = outcomeAt(handled, 0);
    QCOMPARE(resultName(outcome.result), result);
    QCOMPARE(outcome.kind, RequestKind::Read);
    QCOMPARE(outcome.serverAddress, 7);
    QCOMPARE(int(outcome.error), error);
    QCOMPARE(outcome.exceptionCode, exception);
    QCOMPARE(outcome.errorString, error != int(QModbusDevice::NoError) ? QStringLiteral("failed in-process")
                                                                        : QString());
    QCOMPARE(outcome.unit.values(), values);
    QTRY_VERIFY(reply.isNull());
}

void TestSession::adoptReplyStillRunning()
{
    ModbusSession session;
    QSignalSpy handled(&session, &ModbusSession::replyHandled);
    auto *reply = new QModbusReply(QModbusReply::Common, 1);
    session.adoptReply(reply, RequestKind::Write, 1);
    QVERIFY(session.isPending());
    QCOMPARE(handled.size(), 0);

    reply->setResult(holding(3, { 42 }));
    reply->setFinished(true);
    QCOMPARE(handled.size(), 1);
    QVERIFY(!session.isPending());
    QCOMPARE(outcomeAt(handled, 0).kind, RequestKind::Write);
    QCOMPARE(outcomeAt(handled, 0).unit.values(), QVector<quint16>{ 42 });
}

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
