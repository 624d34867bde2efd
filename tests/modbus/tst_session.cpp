#include "modbussession.h"
#include "simfixture.h"

#include <QModbusReply>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

// The Modbus session without a window, against sensor-sim: opening and closing the line, what
// each request gives (signals, outcome, what the device logged), the pending mark and the
// write that waits for it, requests refused before anything is sent, the cycle timer and
// replies made in-process.
class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void openAndClose();
    void failedOpen_data();
    void failedOpen();
    void lineVanishes();

    void outcomes_data();
    void outcomes();
    void busyWhilePending();
    void writeWaitsForReply();
    void closeDropsWaitingWrite();
    void refusedBeforeSending_data();
    void refusedBeforeSending();
    void notConnected_data();
    void notConnected();
    void writeTooLongRefused();

    void cycleTicks_data();
    void cycleTicks();
    void closeStopsCycle();

    void adoptFinishedReply_data();
    void adoptFinishedReply();
    void adoptReplyStillRunning();

private:
    struct Sent
    {
        RequestKind kind;
        QModbusDataUnit unit;
        int server;
    };

    // Starts the simulator and opens `session` on its line: 115200 8N1, no retry, and a
    // timeout short enough for requests the device leaves unanswered.
    bool openOnSimulator(ModbusSession &session, const QStringList &simArgs, int timeoutMs = 500);
    LineSettings line(int timeoutMs) const;
    // Records requestSent() and requestRefused(), whose kind type is not a registered metatype.
    void record(ModbusSession &session);
    static ReplyOutcome outcomeAt(const QSignalSpy &spy, int index);

    std::unique_ptr<SimFixture> m_sim;
    QList<Sent> m_sent;
    QList<QPair<RequestKind, QString>> m_refused;
};

// A data unit as a test row holds it (QModbusDataUnit is no metatype): a range to read, or
// the values to write.
struct Request
{
    Request() = default;
    Request(QModbusDataUnit::RegisterType type, int start, const QVector<quint16> &values)
        : type(type), start(start), count(values.size()), values(values) {}
    static Request range(QModbusDataUnit::RegisterType type, int start, int count)
    {
        Request request;
        request.type = type;
        request.start = start;
        request.count = count;
        return request;
    }
    QModbusDataUnit unit() const
    {
        if (type == QModbusDataUnit::Invalid)
            return QModbusDataUnit();
        return values.isEmpty() ? QModbusDataUnit(type, start, quint16(count))
                                : QModbusDataUnit(type, start, values);
    }

    QModbusDataUnit::RegisterType type = QModbusDataUnit::Invalid;
    int start = 0;
    int count = 0;
    QVector<quint16> values;
};
Q_DECLARE_METATYPE(Request)

namespace {

QString resultName(ModbusSession::SendResult result)
{
    switch (result) {
    case ModbusSession::SendResult::Sent: return QStringLiteral("Sent");
    case ModbusSession::SendResult::Queued: return QStringLiteral("Queued");
    case ModbusSession::SendResult::Busy: return QStringLiteral("Busy");
    case ModbusSession::SendResult::NotConnected: return QStringLiteral("NotConnected");
    case ModbusSession::SendResult::InvalidServer: return QStringLiteral("InvalidServer");
    case ModbusSession::SendResult::OutOfRange: return QStringLiteral("OutOfRange");
    case ModbusSession::SendResult::Refused: return QStringLiteral("Refused");
    }
    return QStringLiteral("?");
}

QString resultName(ReplyOutcome::Result result)
{
    switch (result) {
    case ReplyOutcome::Result::Normal: return QStringLiteral("Normal");
    case ReplyOutcome::Result::Broadcast: return QStringLiteral("Broadcast");
    case ReplyOutcome::Result::Error: return QStringLiteral("Error");
    }
    return QStringLiteral("?");
}

QModbusDataUnit holding(int start, const QVector<quint16> &values)
{
    return QModbusDataUnit(QModbusDataUnit::HoldingRegisters, start, values);
}

QModbusDataUnit holdingRange(int start, int count)
{
    return QModbusDataUnit(QModbusDataUnit::HoldingRegisters, start, quint16(count));
}

QVector<quint16> counting(int count)
{
    QVector<quint16> values;
    for (int i = 0; i < count; ++i)
        values << quint16(i + 1);
    return values;
}

} // namespace

void TestSession::initTestCase()
{
    qRegisterMetaType<QModbusDevice::State>();
    qRegisterMetaType<QModbusDevice::Error>();
}

void TestSession::init()
{
    m_sim = std::make_unique<SimFixture>();
    m_sent.clear();
    m_refused.clear();
}

void TestSession::cleanup()
{
    m_sim.reset();
}

LineSettings TestSession::line(int timeoutMs) const
{
    LineSettings settings = LineSettings::fromTexts(m_sim->clientPort(), 115200, QStringLiteral("None"),
                                                    QStringLiteral("1"));
    settings.timeoutMs = timeoutMs;
    settings.retries = 0;
    return settings;
}

bool TestSession::openOnSimulator(ModbusSession &session, const QStringList &simArgs, int timeoutMs)
{
    if (!m_sim->start(simArgs)) {
        qWarning("%s", qPrintable(m_sim->errorString()));
        return false;
    }
    record(session);
    return session.open(line(timeoutMs)) && session.isConnected();
}

void TestSession::record(ModbusSession &session)
{
    connect(&session, &ModbusSession::requestSent, this,
            [this](RequestKind kind, const QModbusDataUnit &unit, int server) {
                m_sent.append({ kind, unit, server });
            });
    connect(&session, &ModbusSession::requestRefused, this,
            [this](RequestKind kind, const QString &reason) { m_refused.append({ kind, reason }); });
}

ReplyOutcome TestSession::outcomeAt(const QSignalSpy &spy, int index)
{
    return spy.at(index).at(0).value<ReplyOutcome>();
}

void TestSession::openAndClose()
{
    QVERIFY2(m_sim->start({ "--static" }), qPrintable(m_sim->errorString()));
    ModbusSession session;
    QSignalSpy states(&session, &ModbusSession::stateChanged);
    QCOMPARE(session.state(), QModbusDevice::UnconnectedState);
    QVERIFY(!session.isConnected());

    QVERIFY(session.open(line(500)));
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
    QVERIFY(session.open(line(500)));
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

    LineSettings settings = line(500);
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
    QVERIFY(session.open(line(500)));
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
            << V{ 0xFF00, 0xFF00, 0 } << ok << 0 << L{ "fc=15", "addr=2", "count=3", "values=1,1,0", "outcome=reply" };
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

// A read while a reply is outstanding sends nothing; once the reply is in, reads go out again.
void TestSession::busyWhilePending()
{
    ModbusSession session;
    QVERIFY(openOnSimulator(session, { "--static", "--delay-ms", "300" }, 2000));
    QSignalSpy handled(&session, &ModbusSession::replyHandled);

    QCOMPARE(resultName(session.read(holdingRange(0, 3), 1)), QStringLiteral("Sent"));
    QVERIFY(session.isPending());
    QCOMPARE(resultName(session.read(holdingRange(5, 1), 1)), QStringLiteral("Busy"));
    QCOMPARE(m_sent.size(), 1);
    QVERIFY(!session.hasWaitingWrite());

    QTRY_COMPARE_WITH_TIMEOUT(handled.size(), 1, 5000);
    QVERIFY(!session.isPending());
    QCOMPARE(m_sim->requests().size(), 1);
    QCOMPARE(resultName(session.read(holdingRange(5, 1), 1)), QStringLiteral("Sent"));
    QTRY_COMPARE_WITH_TIMEOUT(handled.size(), 2, 5000);
    QCOMPARE(m_sim->requestsWith({ "addr=5", "count=1" }).size(), 1);
    QCOMPARE(m_sim->requests().size(), 2);
}

// A write while a reply is outstanding waits and goes out right after it; a second write
// replaces the first, with the values of the later call.
void TestSession::writeWaitsForReply()
{
    ModbusSession session;
    QVERIFY(openOnSimulator(session, { "--static", "--delay-ms", "200" }, 2000));
    QSignalSpy handled(&session, &ModbusSession::replyHandled);

    QCOMPARE(resultName(session.read(holdingRange(0, 3), 1)), QStringLiteral("Sent"));
    QCOMPARE(resultName(session.write(holding(5, { 65 }), 1)), QStringLiteral("Queued"));
    QVERIFY(session.hasWaitingWrite());
    QCOMPARE(resultName(session.write(holding(5, { 66 }), 1)), QStringLiteral("Queued"));
    QCOMPARE(m_sent.size(), 1);

    QTRY_COMPARE_WITH_TIMEOUT(handled.size(), 2, 5000);
    QCOMPARE(outcomeAt(handled, 0).kind, RequestKind::Read);
    QCOMPARE(outcomeAt(handled, 1).kind, RequestKind::Write);
    QCOMPARE(resultName(outcomeAt(handled, 1).result), QStringLiteral("Normal"));
    QVERIFY(!session.hasWaitingWrite());
    QVERIFY(!session.isPending());
    QCOMPARE(m_sent.size(), 2);
    QCOMPARE(m_sent.at(1).kind, RequestKind::Write);
    QCOMPARE(m_sent.at(1).unit.values(), QVector<quint16>{ 66 });

    const QStringList served = m_sim->requests();
    QCOMPARE(served.size(), 2);
    QVERIFY2(served.at(0).split(' ').contains(QStringLiteral("fc=3")), qPrintable(served.at(0)));
    QCOMPARE(m_sim->requestsWith({ "fc=6", "addr=5", "values=66" }).size(), 1);
    QVERIFY2(served.at(1).split(' ').contains(QStringLiteral("values=66")), qPrintable(served.at(1)));
}

void TestSession::closeDropsWaitingWrite()
{
    ModbusSession session;
    QVERIFY(openOnSimulator(session, { "--static", "--delay-ms", "300" }, 2000));
    QSignalSpy handled(&session, &ModbusSession::replyHandled);

    QCOMPARE(resultName(session.read(holdingRange(0, 3), 1)), QStringLiteral("Sent"));
    QCOMPARE(resultName(session.write(holding(5, { 7 }), 1)), QStringLiteral("Queued"));
    session.close();
    QVERIFY(!session.hasWaitingWrite());
    QVERIFY(!session.isPending());

    // The line opens again and a read goes out at once; had the write survived, it would
    // follow the read's reply.
    QVERIFY(session.open(line(2000)));
    handled.clear();
    QCOMPARE(resultName(session.read(holdingRange(0, 3), 1)), QStringLiteral("Sent"));
    QTRY_VERIFY_WITH_TIMEOUT(!handled.isEmpty() && !session.isPending(), 5000);
    QVERIFY(m_sim->waitForRequests(2));
    for (const Sent &sent : qAsConst(m_sent))
        QCOMPARE(sent.kind, RequestKind::Read);
    QCOMPARE(m_sim->requestsWith({ "fc=6" }).size(), 0);
}

void TestSession::refusedBeforeSending_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("server");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QStringList>("logged"); // for a request that goes out

    for (const bool write : { false, true }) {
        const char *op = write ? "write" : "read";
        const QString fc = write ? QStringLiteral("fc=16") : QStringLiteral("fc=3");
        // Only the low byte of a server address reaches the wire: 256 would be a broadcast.
        QTest::addRow("%s, server 248 (reserved)", op) << write << 248 << 0 << 2 << "InvalidServer" << QStringList();
        QTest::addRow("%s, server -1", op) << write << -1 << 0 << 2 << "InvalidServer" << QStringList();
        QTest::addRow("%s, server 256", op) << write << 256 << 0 << 2 << "InvalidServer" << QStringList();
        QTest::addRow("%s, start -1", op) << write << 247 << -1 << 2 << "OutOfRange" << QStringList();
        QTest::addRow("%s, start 65535, two registers", op)
                << write << 247 << 65535 << 2 << "OutOfRange" << QStringList();
        QTest::addRow("%s, server 247", op) << write << 247 << 10 << 2 << "Sent"
                                            << QStringList{ "slave=247", fc, "addr=10", "count=2" };
        QTest::addRow("%s, up to the last address", op)
                << write << 247 << 65534 << 2 << "Sent" << QStringList{ fc, "addr=65534", "count=2" };
    }
}

// Nothing reaches the line for a refused request: the next request that does go out is the
// first the device sees.
void TestSession::refusedBeforeSending()
{
    QFETCH(bool, write);
    QFETCH(int, server);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(QString, result);
    QFETCH(QStringList, logged);

    ModbusSession session;
    QVERIFY(openOnSimulator(session, { "--static", "--address", "247" }));
    QSignalSpy handled(&session, &ModbusSession::replyHandled);

    const QModbusDataUnit unit = write ? holding(start, counting(count)) : holdingRange(start, count);
    QCOMPARE(resultName(write ? session.write(unit, server) : session.read(unit, server)), result);
    if (result == QLatin1String("Sent")) {
        QTRY_COMPARE_WITH_TIMEOUT(handled.size(), 1, 5000);
        QCOMPARE(m_sim->requests().size(), 1);
        QCOMPARE(m_sim->requestsWith(logged).size(), 1);
        return;
    }
    QVERIFY(m_sent.isEmpty());
    QVERIFY(!session.isPending());
    QVERIFY(!session.hasWaitingWrite());

    QCOMPARE(resultName(session.read(holdingRange(4, 1), 247)), QStringLiteral("Sent"));
    QTRY_COMPARE_WITH_TIMEOUT(handled.size(), 1, 5000);
    QCOMPARE(outcomeAt(handled, 0).unit.values(), QVector<quint16>{ 247 }); // register 4: the address
    const QStringList served = m_sim->requests();
    QCOMPARE(served.size(), 1);
    QVERIFY2(served.first().startsWith(QStringLiteral("seq=1 slave=247 fc=3 addr=4 count=1")),
             qPrintable(served.first()));
}

void TestSession::notConnected_data()
{
    QTest::addColumn<bool>("opened"); // opened and closed again before the request
    QTest::addColumn<bool>("write");
    QTest::newRow("read, never opened") << false << false;
    QTest::newRow("write, never opened") << false << true;
    QTest::newRow("read after closing") << true << false;
    QTest::newRow("write after closing") << true << true;
}

void TestSession::notConnected()
{
    QFETCH(bool, opened);
    QFETCH(bool, write);
    QVERIFY2(m_sim->start({ "--static" }), qPrintable(m_sim->errorString()));
    ModbusSession session;
    record(session);
    if (opened) {
        QVERIFY(session.open(line(500)));
        session.close();
    }
    QSignalSpy handled(&session, &ModbusSession::replyHandled);
    const QModbusDataUnit unit = holding(0, { 1 });
    QCOMPARE(resultName(write ? session.write(unit, 1) : session.read(unit, 1)), QStringLiteral("NotConnected"));
    QVERIFY(m_sent.isEmpty());
    QVERIFY(!session.isPending());
    QVERIFY(!session.hasWaitingWrite());
    QCOMPARE(handled.size(), 0);
}

// 124 registers need 248 data bytes, two more than a Modbus frame holds: the client will not
// build the request, and the session says so.
void TestSession::writeTooLongRefused()
{
    ModbusSession session;
    QVERIFY(openOnSimulator(session, { "--static" }));
    QSignalSpy handled(&session, &ModbusSession::replyHandled);

    QCOMPARE(resultName(session.write(holding(0, counting(124)), 1)), QStringLiteral("Refused"));
    QCOMPARE(m_refused.size(), 1);
    QCOMPARE(m_refused.first().first, RequestKind::Write);
    QVERIFY(!m_refused.first().second.isEmpty());
    QVERIFY(m_sent.isEmpty());
    QVERIFY(!session.isPending());

    QCOMPARE(resultName(session.write(holding(0, counting(123)), 1)), QStringLiteral("Sent"));
    QTRY_COMPARE_WITH_TIMEOUT(handled.size(), 1, 5000);
    QCOMPARE(resultName(outcomeAt(handled, 0).result), QStringLiteral("Normal"));
    QCOMPARE(m_sim->requests().size(), 1);
    QCOMPARE(m_sim->requestsWith({ "fc=16", "addr=0", "count=123" }).size(), 1);
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
            << int(QModbusReply::Common) << Request(QModbusDataUnit::HoldingRegisters, 0, QVector<quint16>{ 1, 2, 3 })
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
            << int(QModbusReply::Broadcast) << Request(QModbusDataUnit::HoldingRegisters, 5, QVector<quint16>{ 9 })
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
