#ifndef LINESTATISTICS_H
#define LINESTATISTICS_H

#include <QElapsedTimer>
#include <QMap>
#include <QObject>

class FrameCapture;
class ModbusSession;
struct CapturedFrame;
struct ReplyOutcome;

// How the line is doing: counts of requests and of what became of them, response times and
// the achieved request rate, fed by the session's requests and outcomes and by the frames the
// capture sees (damaged replies and retries exist only on the line).
class LineStatistics : public QObject
{
    Q_OBJECT
public:
    struct Counts
    {
        qint64 requests = 0;   // requests handed to the client (retries not included)
        qint64 replies = 0;    // normal replies
        qint64 exceptions = 0; // exception replies, of every code
        QMap<int, qint64> exceptionsByCode;
        qint64 timeouts = 0;   // requests given up without a valid reply
        qint64 failures = 0;   // requests that ended with any other error
        qint64 damaged = 0;    // received frames with a bad CRC, and fragments
        qint64 retries = 0;    // requests sent again
        // Response times of normal and exception replies, from handing the request to the
        // client to its outcome (retries included); -1 while there is none.
        qint64 timedReplies = 0;
        qint64 lastUs = -1;
        qint64 minUs = -1;
        qint64 maxUs = -1;
        qint64 totalUs = 0;

        qint64 meanUs() const { return timedReplies ? totalUs / timedReplies : -1; }
    };

    // The rate is taken over this many of the latest milliseconds.
    static constexpr int rateWindowMs = 2000;

    explicit LineStatistics(QObject *parent = nullptr);

    // Counts what `session` and `capture` (may be null) report from now on.
    void attach(ModbusSession *session, FrameCapture *capture);

    void countRequest();
    void countOutcome(const ReplyOutcome &outcome);
    void countFrame(const CapturedFrame &frame);
    void reset();

    const Counts &counts() const { return m_counts; }
    // Requests per second over the last rateWindowMs (or since the first request, if later).
    double recentRate() const;
    // The counts and the rate in one short line, as the status bar shows them.
    QString shortText() const;
    // Requests per second from the first request since the reset until now.
    double averageRate() const;
    // Milliseconds from the first request since the reset until now; 0 before it.
    qint64 elapsedMs() const;

private:
    struct Bucket
    {
        qint64 slot = -1;
        int count = 0;
    };
    static constexpr int bucketMs = 200;
    static constexpr int bucketCount = rateWindowMs / bucketMs;

    Counts m_counts;
    QElapsedTimer m_clock;
    qint64 m_firstRequestMs = -1;
    Bucket m_buckets[bucketCount];
};

#endif // LINESTATISTICS_H
