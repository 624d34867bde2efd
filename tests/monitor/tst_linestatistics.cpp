// Line statistics: the counters after a known mix of faults from sensor-sim, and response times,
// exception codes and the reset worked out by hand.
#include "capturefixture.h"
#include "linestatistics.h"
#include "simfixture.h"

#include <QtTest>

namespace {

// requests, replies, exceptions, timeouts, other errors, damaged, retries
QList<qint64> totals(const LineStatistics::Counts &c)
{
    return { c.requests, c.replies, c.exceptions, c.timeouts, c.failures, c.damaged, c.retries };
}

ReplyOutcome outcome(QModbusDevice::Error error, int exceptionCode, qint64 responseUs)
{
    ReplyOutcome o;
    o.result = error == QModbusDevice::NoError ? ReplyOutcome::Result::Normal : ReplyOutcome::Result::Error;
    o.error = error;
    o.exceptionCode = exceptionCode;
    o.responseUs = responseUs;
    return o;
}

} // namespace

class tst_LineStatistics : public QObject
{
    Q_OBJECT

private slots:
    void knownMixAgainstSensor();
    void responseTimesAndReset();
};

void tst_LineStatistics::knownMixAgainstSensor()
{
    // sensor-sim numbers the requests for its address (retries included) and drops every 5th;
    // it numbers the replies it sends and breaks the CRC of every 3rd; register 30 answers
    // exception 2. With one retry per request:
    //   read 0:  req 1, reply 1                           normal
    //   read 0:  req 2, reply 2                           normal
    //   read 30: req 3, reply 3 broken; req 4, reply 4    exception 2, 1 damaged, 1 retry
    //   read 0:  req 5 dropped; req 6, reply 5            normal, 1 retry
    //   read 0:  req 7, reply 6 broken; req 8, reply 7    normal, 1 damaged, 1 retry
    //   read 0:  req 9, reply 8                           normal
    //   read 0:  req 10 dropped; req 11, reply 9 broken   timeout, 1 damaged, 1 retry
    SimFixture sim(QStringLiteral(SENSOR_SIM_PATH));
    QVERIFY2(sim.start({ "--static", "--exception", "30:2", "--corrupt-crc-every", "3", "--drop-every", "5" }),
             qPrintable(sim.errorString()));
    CaptureFixture fx;
    QVERIFY(fx.open(sim.clientPort()));
    for (const int start : { 0, 0, 30, 0, 0, 0, 0 })
        fx.read(start, 1);

    const LineStatistics::Counts &c = fx.statistics.counts();
    QCOMPARE(totals(c), (QList<qint64>{ 7, 5, 1, 1, 0, 3, 4 }));
    QCOMPARE(c.exceptionsByCode, (QMap<int, qint64>{ { 2, 1 } }));
    QCOMPARE(c.timedReplies, qint64(6)); // normal and exception replies
    QVERIFY(c.minUs > 0 && c.minUs <= c.meanUs() && c.meanUs() <= c.maxUs);
    QVERIFY(sim.waitForRequests(11));
}

void tst_LineStatistics::responseTimesAndReset()
{
    LineStatistics statistics;
    statistics.countRequest();
    statistics.countOutcome(outcome(QModbusDevice::NoError, 0, 1000));
    statistics.countOutcome(outcome(QModbusDevice::ProtocolError, 4, 3000));
    statistics.countOutcome(outcome(QModbusDevice::TimeoutError, 0, 4000000)); // no response
    statistics.countOutcome(outcome(QModbusDevice::ReplyAbortedError, 0, 10));  // no response
    statistics.countOutcome(outcome(QModbusDevice::NoError, 0, 2600));
    ReplyOutcome broadcast = outcome(QModbusDevice::NoError, 0, 50);
    broadcast.result = ReplyOutcome::Result::Broadcast; // nobody answers: not counted
    statistics.countOutcome(broadcast);

    const LineStatistics::Counts &c = statistics.counts();
    QCOMPARE(totals(c), (QList<qint64>{ 1, 2, 1, 1, 1, 0, 0 }));
    QCOMPARE(c.exceptionsByCode, (QMap<int, qint64>{ { 4, 1 } }));
    QCOMPARE(c.lastUs, qint64(2600));
    QCOMPARE(c.minUs, qint64(1000));
    QCOMPARE(c.maxUs, qint64(3000));
    QCOMPARE(c.meanUs(), qint64(2200));

    statistics.reset();
    QCOMPARE(totals(statistics.counts()), (QList<qint64>{ 0, 0, 0, 0, 0, 0, 0 }));
    QVERIFY(statistics.counts().exceptionsByCode.isEmpty());
    QCOMPARE(statistics.counts().meanUs(), qint64(-1));
    QCOMPARE(statistics.recentRate(), 0.0);
}

QTEST_GUILESS_MAIN(tst_LineStatistics)
#include "tst_linestatistics.moc"
