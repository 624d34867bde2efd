#ifndef TREND_H
#define TREND_H

#include <QModbusDataUnit>
#include <QString>
#include <QVector>

#include <limits>
#include <optional>

struct DecodedReply;

// The recorded values of the trend chart, without widgets: one series of (time, number) points
// per traced register, bounded in memory by thinning older points to what a chart can show.

// One recorded value; a NaN value is a gap (the row's text was not a number).
struct TrendPoint
{
    qint64 timeMs = 0;
    double value = 0;
    bool isGap() const { return value != value; }
};

constexpr double trendGap = std::numeric_limits<double>::quiet_NaN();

// Thins time-ordered points to what a chart with columns `columnMs` wide can show. Columns are
// aligned at time 0, so thinning again with the same width changes nothing. Each column keeps
// its lowest and its highest point and its first gap (so a line never bridges it), in time
// order; a column of one value keeps one point. A width below 1 returns the points as they are.
QVector<TrendPoint> thinTrendPoints(const QVector<TrendPoint> &points, qint64 columnMs);

// A value axis for values from `low` to `high`, with about `ticks` marks at round numbers: the
// step between marks is 1, 2, 2.5 or 5 times a power of ten, the ends are multiples of it, and
// a twentieth of the span is left above and below (but values all above 0 keep the axis above
// 0, and all below 0 below it). A flat line (low == high) gets a band of a tenth of its size
// around it, or of 1 around 0.
struct TrendAxisRange
{
    double low = 0;
    double high = 1;
    int ticks = 2; // marks from low to high, both ends included
};
TrendAxisRange niceTrendRange(double low, double high, int ticks);

// The points of one register. Points newer than the shown span (behind the newest point) are
// thinned to that span's columns, older ones to the columns of the whole kept time; points
// older than the kept time are dropped.
class TrendSeries
{
public:
    // The thinning happens in batches, when the series has grown to twice what the last one
    // left (and at least this many points).
    static constexpr int minCompactSize = 4096;

    void setResolution(qint64 shownSpanMs, int columns, qint64 keptMs);
    // Times must not go backwards; a point older than the newest is taken as at the newest.
    void append(qint64 timeMs, double value);

    const QVector<TrendPoint> &points() const { return m_points; }
    // The points from `fromMs` to `toMs`, with the last one before and the first one after, so
    // a line reaches the edges of the span.
    QVector<TrendPoint> pointsBetween(qint64 fromMs, qint64 toMs) const;

private:
    void compact();

    QVector<TrendPoint> m_points;
    qint64 m_shownSpanMs = 60 * 1000;
    qint64 m_keptMs = 3600 * 1000;
    int m_columns = 1000;
    int m_compactAt = minCompactSize;
};

// The traced registers of the chart and their series.
class TrendRecorder
{
public:
    struct Trace
    {
        QModbusDataUnit::RegisterType area = QModbusDataUnit::Invalid;
        int address = 0;
        QString name;
        TrendSeries series;
    };

    // False when the register is traced already.
    bool addTrace(QModbusDataUnit::RegisterType area, int address, const QString &name);
    void removeTrace(QModbusDataUnit::RegisterType area, int address);
    int indexOf(QModbusDataUnit::RegisterType area, int address) const;
    const QVector<Trace> &traces() const { return m_traces; }

    // Records the number each traced register of the reply's area shows; a register the reply
    // holds without a number is a gap.
    void feed(const DecodedReply &reply, qint64 timeMs);

    void setResolution(qint64 shownSpanMs, int columns, qint64 keptMs);
    // Points held by all series together.
    int pointCount() const;

private:
    QVector<Trace> m_traces;
    qint64 m_shownSpanMs = 60 * 1000;
    qint64 m_keptMs = 3600 * 1000;
    int m_columns = 1000;
};

#endif // TREND_H
