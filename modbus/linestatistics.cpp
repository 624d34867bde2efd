#include "linestatistics.h"

#include "framecapture.h"
#include "modbussession.h"

LineStatistics::LineStatistics(QObject *parent)
    : QObject(parent)
{
    m_clock.start();
}

void LineStatistics::attach(ModbusSession *session, FrameCapture *capture)
{
    connect(session, &ModbusSession::requestSent, this, [this]() { countRequest(); });
    connect(session, &ModbusSession::replyHandled, this, &LineStatistics::countOutcome);
    if (capture)
        connect(capture, &FrameCapture::frameCaptured, this, &LineStatistics::countFrame);
}

void LineStatistics::countRequest()
{
    const qint64 now = m_clock.elapsed();
    if (m_firstRequestMs < 0)
        m_firstRequestMs = now;
    ++m_counts.requests;
    Bucket &bucket = m_buckets[(now / bucketMs) % bucketCount];
    if (bucket.slot != now / bucketMs) {
        bucket.slot = now / bucketMs;
        bucket.count = 0;
    }
    ++bucket.count;
}

void LineStatistics::countOutcome(const ReplyOutcome &outcome)
{
    bool timed = false;
    switch (outcome.result) {
    case ReplyOutcome::Result::Broadcast:
        return; // nobody answers a broadcast
    case ReplyOutcome::Result::Normal:
        ++m_counts.replies;
        timed = true;
        break;
    case ReplyOutcome::Result::Error:
        if (outcome.exceptionCode > 0) {
            ++m_counts.exceptions;
            ++m_counts.exceptionsByCode[outcome.exceptionCode];
            timed = true;
        } else if (outcome.error == QModbusDevice::TimeoutError) {
            ++m_counts.timeouts;
        } else {
            ++m_counts.failures;
        }
        break;
    }
    if (!timed)
        return;
    const qint64 us = outcome.responseUs;
    m_counts.lastUs = us;
    m_counts.minUs = m_counts.minUs < 0 ? us : qMin(m_counts.minUs, us);
    m_counts.maxUs = qMax(m_counts.maxUs, us);
    m_counts.totalUs += us;
    ++m_counts.timedReplies;
}

void LineStatistics::countFrame(const CapturedFrame &frame)
{
    if (frame.isDamaged())
        ++m_counts.damaged;
    else if (frame.isSent() && frame.retry > 0)
        ++m_counts.retries;
}

void LineStatistics::reset()
{
    m_counts = Counts();
    m_firstRequestMs = -1;
    for (Bucket &bucket : m_buckets)
        bucket = Bucket();
    m_clock.restart();
}

double LineStatistics::recentRate() const
{
    if (m_firstRequestMs < 0)
        return 0;
    const qint64 now = m_clock.elapsed();
    const qint64 currentSlot = now / bucketMs;
    qint64 requests = 0;
    for (const Bucket &bucket : m_buckets) {
        if (bucket.slot > currentSlot - bucketCount && bucket.slot <= currentSlot)
            requests += bucket.count;
    }
    // From the start of the oldest bucket still counted, or from the first request.
    const qint64 from = qMax((currentSlot - bucketCount + 1) * bucketMs, m_firstRequestMs);
    const qint64 span = now - from;
    return span > 0 ? requests * 1000.0 / span : 0;
}

double LineStatistics::averageRate() const
{
    const qint64 span = elapsedMs();
    return span > 0 ? m_counts.requests * 1000.0 / span : 0;
}

qint64 LineStatistics::elapsedMs() const
{
    return m_firstRequestMs < 0 ? 0 : m_clock.elapsed() - m_firstRequestMs;
}

QString LineStatistics::shortText() const
{
    const Counts &c = m_counts;
    return tr("请求 %1  正常 %2  异常 %3  超时 %4  损坏 %5  重发 %6  %7 次/秒")
            .arg(c.requests)
            .arg(c.replies)
            .arg(c.exceptions)
            .arg(c.timeouts)
            .arg(c.damaged)
            .arg(c.retries)
            .arg(recentRate(), 0, 'f', 1);
}
