// Line statistics: what each outcome and frame counts for, and the counters after a known mix
// of faults from sensor-sim.
#include "capturefixture.h"
#include "linestatistics.h"
#include "simfixture.h"

#include <QtTest>

namespace {

ReplyOutcome outcome(ReplyOutcome::Result result, QModbusDevice::Error error = QModbusDevice::NoError,
                     int exceptionCode = 0, qint64 responseUs = 1000)
{
    ReplyOutcome o;
    o.result = result;
    o.error = error;
    o.exceptionCode = exceptionCode;
    o.responseUs = responseUs;
    return o;
}

CapturedFrame frame(CapturedFrame::Kind kind, int retry = 0)
{
    CapturedFrame f;
    f.kind = kind;
    f.retry = quint8(retry);
    return f;
}

using Counts = LineStatistics::Counts;

// requests, replies, exceptions, timeouts, failures, damaged, retries
QList<qint64> totals(const Counts &c)
{
    return { c.requests, c.replies, c.exceptions, c.timeouts, c.failures, c.damaged, c.retries };
}

} // namespace

class tst_LineStatistics : public QObject
{
    Q_OBJECT

private slots:
    void outcomes_data();
    void outcomes();
    void frames_data();
    void frames();
    void responseTimes();
    void resetStartsAfresh();
    void knownMixAgainstSensor();
};

void tst_LineStatistics::outcomes_data()
{
    using R = ReplyOutcome::Result;
    QTest::addColumn<ReplyOutcome>("outcome");
    QTest::addColumn<QList<qint64>>("expected");
    QTest::addColumn<bool>("timed");
    QTest::newRow("normal reply") << outcome(R::Normal) << QList<qint64>{ 0, 1, 0, 0, 0, 0, 0 } << true;
    QTest::newRow("exception reply") << outcome(R::Error, QModbusDevice::ProtocolError, 2)
                                     << QList<qint64>{ 0, 0, 1, 0, 0, 0, 0 } << true;
    QTest::newRow("timeout") << outcome(R::Error, QModbusDevice::TimeoutError)
                             << QList<qint64>{ 0, 0, 0, 1, 0, 0, 0 } << false;
    QTest::newRow("invalid reply is another error") << outcome(R::Error, QModbusDevice::UnknownError)
                                                    << QList<qint64>{ 0, 0, 0, 0, 1, 0, 0 } << false;
    QTest::newRow("aborted by closing is another error") << outcome(R::Error, QModbusDevice::ReplyAbortedError)
                                                         << QList<qint64>{ 0, 0, 0, 0, 1, 0, 0 } << false;
    QTest::newRow("broadcast counts for nothing") << outcome(R::Broadcast)
                                                  << QList<qint64>{ 0, 0, 0, 0, 0, 0, 0 } << false;
}

void tst_LineStatistics::outcomes()
{
    QFETCH(ReplyOutcome, outcome);
    QFETCH(QList<qint64>, expected);
    QFETCH(bool, timed);
    LineStatistics statistics;
    statistics.countOutcome(outcome);
    QCOMPARE(totals(statistics.counts()), expected);
    QCOMPARE(statistics.counts().timedReplies, timed ? 1 : 0);
    QCOMPARE(statistics.counts().lastUs, timed ? 1000 : -1);
}

void tst_LineStatistics::frames_data()
{
    using K = CapturedFrame::Kind;
    QTest::addColumn<CapturedFrame>("captured");
    QTest::addColumn<QList<qint64>>("expected");
    QTest::newRow("first sending is no retry") << frame(K::Request) << QList<qint64>{ 0, 0, 0, 0, 0, 0, 0 };
    QTest::newRow("sent again is a retry") << frame(K::Request, 1) << QList<qint64>{ 0, 0, 0, 0, 0, 0, 1 };
    QTest::newRow("bad CRC is damaged") << frame(K::BadCrc) << QList<qint64>{ 0, 0, 0, 0, 0, 1, 0 };
    QTest::newRow("fragment is damaged") << frame(K::Fragment) << QList<qint64>{ 0, 0, 0, 0, 0, 1, 0 };
    QTest::newRow("whole frame of another server is not") << frame(K::Unexpected)
                                                           << QList<qint64>{ 0, 0, 0, 0, 0, 0, 0 };
    QTest::newRow("reply frame counts with its outcome") << frame(K::Reply) << QList<qint64>{ 0, 0, 0, 0, 0, 0, 0 };
    QTest::newRow("timeout counts with its outcome") << frame(K::Timeout, 1)
                                                     << QList<qint64>{ 0, 0, 0, 0, 0, 0, 0 };
}

void tst_LineStatistics::frames()
{
    QFETCH(CapturedFrame, captured);
    QFETCH(QList<qint64>, expected);
    LineStatistics statistics;
    statistics.countFrame(captured);
    QCOMPARE(totals(statistics.counts()), expected);
}

void tst_LineStatistics::responseTimes()
{
    using R = ReplyOutcome::Result;
    LineStatistics statistics;
    QCOMPARE(statistics.counts().meanUs(), -1);
    statistics.countOutcome(outcome(R::Normal, QModbusDevice::NoError, 0, 1000));
    statistics.countOutcome(outcome(R::Error, QModbusDevice::ProtocolError, 4, 3000));
    statistics.countOutcome(outcome(R::Error, QModbusDevice::TimeoutError, 0, 4000000)); // not timed
    statistics.countOutcome(outcome(R::Normal, QModbusDevice::NoError, 0, 2600));
    const Counts &c = statistics.counts();
    QCOMPARE(c.timedReplies, 3);
    QCOMPARE(c.lastUs, 2600);
    QCOMPARE(c.minUs, 1000);
    QCOMPARE(c.maxUs, 3000);
    QCOMPARE(c.meanUs(), 2200);
    QCOMPARE(c.exceptionsByCode, (QMap<int, qint64>{ { 4, 1 } }));
}

void tst_LineStatistics::resetStartsAfresh()
{
    LineStatistics statistics;
    statistics.countRequest();
    statistics.countOutcome(outcome(ReplyOutcome::Result::Error, QModbusDevice::ProtocolError, 2));
    statistics.countFrame(frame(CapturedFrame::Kind::BadCrc));
    QVERIFY(statistics.recentRate() >= 0);
    statistics.reset();
    QCOMPARE(totals(statistics.counts()), (QList<qint64>{ 0, 0, 0, 0, 0, 0, 0 }));
    QVERIFY(statistics.counts().exceptionsByCode.isEmpty());
    QCOMPARE(statistics.counts().lastUs, -1);
    QCOMPARE(statistics.recentRate(), 0.0);
    QCOMPARE(statistics.averageRate(), 0.0);
    QCOMPARE(statistics.elapsedMs(), 0);
}

void tst_LineStatistics::knownMixAgainstSensor()
{
    // Requests for this server are numbered by sensor-sim (retries included); every 5th is
    // dropped. Replies sent are numbered too; every 3rd goes out with a broken CRC. Register 30
    // answers exception 2. With one retry per request:
    //   read 0:  req 1, reply 1                          normal
    //   read 0:  req 2, reply 2                          normal
    //   read 30: req 3, reply 3 corrupt; req 4, reply 4  exception 2 (1 damaged, 1 retry)
    //   read 0:  req 5 dropped; req 6, reply 5           normal (1 retry)
    //   read 0:  req 7, reply 6 corrupt; req 8, reply 7  normal (1 damaged, 1 retry)
    //   read 0:  req 9, reply 8                          normal
    //   read 0:  req 10 dropped; req 11, reply 9 corrupt timeout (1 damaged, 1 retry)
    SimFixture sim(QStringLiteral(SENSOR_SIM_PATH));
    QVERIFY2(sim.start({ "--static", "--exception", "30:2", "--corrupt-crc-every", "3", "--drop-every", "5" }),
             qPrintable(sim.errorString()));
    CaptureFixture fx;
    QVERIFY(fx.open(sim.clientPort()));
    for (const int start : { 0, 0, 30, 0, 0, 0, 0 })
        fx.read(QModbusDataUnit::HoldingRegisters, start, 1);

    const Counts &c = fx.statistics.counts();
    // requests, replies, exceptions, timeouts, failures, damaged, retries
    QCOMPARE(totals(c), (QList<qint64>{ 7, 5, 1, 1, 0, 3, 4 }));
    QCOMPARE(c.exceptionsByCode, (QMap<int, qint64>{ { 2, 1 } }));
    QCOMPARE(c.timedReplies, 6);
    QVERIFY(c.minUs > 0);
    QVERIFY(c.minUs <= c.meanUs() && c.meanUs() <= c.maxUs);
    QVERIFY(sim.waitForRequests(11));
    QCOMPARE(sim.requests().size(), 11);
}

QTEST_GUILESS_MAIN(tst_LineStatistics)
#include "tst_linestatistics.moc"
