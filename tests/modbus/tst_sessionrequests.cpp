#include "sessionsuite.h"

#include <QSignalSpy>
#include <QtTest>

// When the Modbus session sends a request, and when not: one reply outstanding at a time, the
// write that waits for it, and requests refused before anything reaches the line. Against
// sensor-sim, whose log shows what reached the line and in which order.
class TestSessionRequests : public SessionSuite
{
    Q_OBJECT

private slots:
    void busyWhilePending();
    void writeWaitsForReply();
    void closeDropsWaitingWrite();
    void refusedBeforeSending_data();
    void refusedBeforeSending();
    void notConnected_data();
    void notConnected();
    void writeTooLongRefused();
};

// A read while a reply is outstanding sends nothing; once the reply is in, reads go out again.
void TestSessionRequests::busyWhilePending()
{
    ModbusSession session;
    QVERIFY(openOnSimulator(session, { "--static", "--delay-ms", "300" }));
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
void TestSessionRequests::writeWaitsForReply()
{
    ModbusSession session;
    QVERIFY(openOnSimulator(session, { "--static", "--delay-ms", "200" }));
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

void TestSessionRequests::closeDropsWaitingWrite()
{
    ModbusSession session;
    QVERIFY(openOnSimulator(session, { "--static" }));
    QSignalSpy handled(&session, &ModbusSession::replyHandled);

    // Server 5 is not on the line: the read stays outstanding, and no late reply can reach the
    // line opened again below.
    QCOMPARE(resultName(session.read(holdingRange(0, 3), 5)), QStringLiteral("Sent"));
    QCOMPARE(resultName(session.write(holding(5, { 7 }), 1)), QStringLiteral("Queued"));
    session.close();
    QVERIFY(!session.hasWaitingWrite());
    QVERIFY(!session.isPending());

    // The line opens again and a read goes out at once; had the write survived, it would
    // follow the read's reply.
    QVERIFY(session.open(line()));
    handled.clear();
    QCOMPARE(resultName(session.read(holdingRange(0, 3), 1)), QStringLiteral("Sent"));
    QTRY_VERIFY_WITH_TIMEOUT(!handled.isEmpty(), 5000);
    QCOMPARE(resultName(outcomeAt(handled, 0).result), QStringLiteral("Normal"));
    QVERIFY(!session.isPending());
    QCOMPARE(m_sent.size(), 2);
    for (const Sent &sent : qAsConst(m_sent))
        QCOMPARE(sent.kind, RequestKind::Read);
    const QStringList served = m_sim->requests();
    QCOMPARE(served.size(), 1);
    QVERIFY2(served.first().startsWith(QStringLiteral("seq=1 slave=1 fc=3 addr=0 count=3")),
             qPrintable(served.first()));
}

void TestSessionRequests::refusedBeforeSending_data()
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
        QTest::addRow("%s, server 248 (reserved)", op)
                << write << 248 << 0 << 2 << "InvalidServer" << QStringList();
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
void TestSessionRequests::refusedBeforeSending()
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

void TestSessionRequests::notConnected_data()
{
    QTest::addColumn<bool>("opened"); // opened and closed again before the request
    QTest::addColumn<bool>("write");
    QTest::newRow("read, never opened") << false << false;
    QTest::newRow("write, never opened") << false << true;
    QTest::newRow("read after closing") << true << false;
    QTest::newRow("write after closing") << true << true;
}

void TestSessionRequests::notConnected()
{
    QFETCH(bool, opened);
    QFETCH(bool, write);
    QVERIFY2(m_sim->start({ "--static" }), qPrintable(m_sim->errorString()));
    ModbusSession session;
    record(session);
    if (opened) {
        QVERIFY(session.open(line()));
        session.close();
    }
    QSignalSpy handled(&session, &ModbusSession::replyHandled);
    const QModbusDataUnit unit = holding(0, { 1 });
    QCOMPARE(resultName(write ? session.write(unit, 1) : session.read(unit, 1)),
             QStringLiteral("NotConnected"));
    QVERIFY(m_sent.isEmpty());
    QVERIFY(!session.isPending());
    QVERIFY(!session.hasWaitingWrite());
    QCOMPARE(handled.size(), 0);
}

// 124 registers need 248 data bytes, two more than a Modbus frame holds: the client will not
// build the request, and the session says so.
void TestSessionRequests::writeTooLongRefused()
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

QTEST_GUILESS_MAIN(TestSessionRequests)
#include "tst_sessionrequests.moc"
